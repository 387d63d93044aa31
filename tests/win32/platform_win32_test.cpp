// test-label: concurrency
// What the Windows backend does beyond the calls every backend shares (those
// are tested by tests/os, which the Windows build runs too): paths in wyn's
// forward-slash form with drive letters, backslash paths, names outside
// ASCII, paths past 260 characters, a page another program holds open, and
// memory protection.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <string>

#include <windows.h>

#include "os/file_replace.h"
#include "os/platform.h"
#include "shell/page_writer.h"

static std::string s(Str x) { return std::string(x.str, x.size); }

static std::wstring wide_of(const std::string &utf8)
{
    return std::filesystem::path((const char8_t *)utf8.c_str()).make_preferred().wstring();
}

// Removes a folder and everything in it. With the long-path prefix it
// reaches what lies past 260 characters, where mingw's
// std::filesystem::remove_all fails.
static void remove_tree(const std::wstring &folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring child = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) remove_tree(child);
            else DeleteFileW(child.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

// A fresh folder under the system's temporary folder, in wyn's form
// ("C:/users/.../wyn-test-1234-1"), removed with everything in it.
struct TempFolder {
    std::filesystem::path folder;
    std::string path;
    TempFolder()
    {
        static std::atomic<int> counter{0};
        folder = std::filesystem::temp_directory_path() /
                 ("wyn-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter.fetch_add(1)));
        std::filesystem::create_directory(folder);
        std::u8string text = folder.generic_u8string();
        path.assign(text.begin(), text.end());
    }
    ~TempFolder() { remove_tree(L"\\\\?\\" + folder.wstring()); }
    Str at(Arena *arena, const std::string &rest) const { return str_pushf(arena, "%s/%s", path.c_str(), rest.c_str()); }
};

struct Win32Test : ::testing::Test {
    Arena *arena = arena_alloc(MiB(64), KiB(4));
    TempFolder dir;
    ~Win32Test() override { arena_release(arena); }
};

//- paths

TEST_F(Win32Test, TheCurrentFolderIsADrivePathWithForwardSlashes)
{
    Str cwd = current_directory(arena);
    ASSERT_GE(cwd.size, 2u);
    EXPECT_EQ(cwd.str[1], ':') << s(cwd);
    EXPECT_EQ(s(cwd).find('\\'), std::string::npos) << s(cwd);
    EXPECT_NE(cwd.str[cwd.size - 1], '/') << s(cwd);
}

TEST_F(Win32Test, BackslashAndForwardSlashPathsNameTheSameFile)
{
    Str forward = dir.at(arena, "a/b/page.html");
    ASSERT_TRUE(file_write_all(forward, str_lit("slashes"), FileWrite_CreateFolders));
    std::string back = s(forward);
    for (char &c : back)
        if (c == '/') c = '\\';
    Str backslashed = str_copy(arena, Str{back.data(), back.size()});
    EXPECT_EQ(s(file_read_all(arena, backslashed)), "slashes");
    FileProperties a = file_properties(forward), b = file_properties(backslashed);
    EXPECT_TRUE(a.exists);
    EXPECT_EQ(a.file_id, b.file_id);
    EXPECT_EQ(a.last_write_time, b.last_write_time);
    // "." and ".." fold away before the system sees the path.
    EXPECT_EQ(s(file_read_all(arena, dir.at(arena, "a/./x/../b/page.html"))), "slashes");
}

TEST_F(Win32Test, NamesOutsideAsciiSurviveTheRoundTrip)
{
    const char *names[] = {"caf\xc3\xa9.wyn", "\xe6\x97\xa5\xe6\x9c\xac.wyn", "emoji \xf0\x9f\x8c\xb1.wyn",
                           "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82"};
    std::set<std::string> wanted;
    for (const char *name : names) {
        Str path = dir.at(arena, std::string("docs/") + name);
        ASSERT_TRUE(file_write_all(path, Str{name, strlen(name)}, FileWrite_CreateFolders)) << name;
        EXPECT_EQ(s(file_read_all(arena, path)), name);
        wanted.insert(name);
    }
    FolderListing listing = folder_list(arena, dir.at(arena, "docs"));
    EXPECT_TRUE(listing.opened);
    std::set<std::string> listed;
    for (FolderEntry *e = listing.first; e; e = e->next) {
        listed.insert(s(e->name));
        EXPECT_FALSE(e->is_folder);
    }
    EXPECT_EQ(listed, wanted);
}

TEST_F(Win32Test, PathsPastTwoHundredSixtyCharactersWork)
{
    std::string deep;
    while (deep.size() < 300) deep += "a-rather-long-folder-name/";
    Str path = dir.at(arena, deep + "page.html");
    ASSERT_GT(path.size, 300u);
    ASSERT_TRUE(file_write_all(path, str_lit("deep"), FileWrite_CreateFolders));
    EXPECT_TRUE(file_exists(path));
    EXPECT_EQ(s(file_read_all(arena, path)), "deep");
    FileReplaceResult same = file_replace(arena, path, str_lit("deep"));
    EXPECT_EQ(same.status, (u32)FileReplace_Unchanged);
    FileReplaceResult changed = file_replace(arena, path, str_lit("deeper"));
    EXPECT_EQ(changed.status, (u32)FileReplace_Written);
    EXPECT_EQ(s(file_read_all(arena, path)), "deeper");
    FolderListing listing = folder_list(arena, path_folder(path));
    ASSERT_EQ(listing.count, 1u);
    EXPECT_EQ(s(listing.first->name), "page.html");
    EXPECT_TRUE(file_delete(path));
    EXPECT_FALSE(file_properties(path).exists);
}

//- writing pages

static bool running_under_wine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

TEST_F(Win32Test, APageHeldOpenWithoutSharingKeepsItsOldBytesAndTheWarningNamesIt)
{
    Str path = dir.at(arena, "html/held.html");
    ASSERT_TRUE(file_write_all(path, str_lit("old page"), FileWrite_CreateFolders));
    std::wstring wide = wide_of(s(path));
    HANDLE held = CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    DiagnosticList warnings = {};
    u32 status = page_write(arena, path, str_lit("new page"), &warnings);
    EXPECT_EQ(status, (u32)FileReplace_Failed);
    ASSERT_EQ(warnings.count, 1u);
    std::string text = s(warnings.first->text);
    EXPECT_NE(text.find("could not write " + s(path) + ": "), std::string::npos) << text;
    EXPECT_NE(text.find("another program holds the file open"), std::string::npos) << text;
    CloseHandle(held);
    EXPECT_EQ(s(file_read_all(arena, path)), "old page");
    // No temporary file is left beside it.
    FolderListing listing = folder_list(arena, dir.at(arena, "html"));
    EXPECT_EQ(listing.count, 1u);
    // Released, the page is written.
    EXPECT_EQ(page_write(arena, path, str_lit("new page"), &warnings), (u32)FileReplace_Written);
    EXPECT_EQ(s(file_read_all(arena, path)), "new page");
}

// Folders are made once per run: a file standing where one should be ends
// the write with the reason, and once it is gone the next write makes the
// folder after all.
TEST_F(Win32Test, AFileWhereAFolderShouldBeIsNamedAndThenWrittenPast)
{
    Str blocker = dir.at(arena, "blocked");
    ASSERT_TRUE(file_write_all(blocker, str_lit("a file"), FileWrite_CreateFolders));
    Str path = dir.at(arena, "blocked/page.html");
    FileReplaceResult failed = file_replace(arena, path, str_lit("page"));
    EXPECT_EQ(failed.status, (u32)FileReplace_Failed);
    EXPECT_EQ(s(failed.reason), "a file stands where its folder should be");
    ASSERT_TRUE(file_delete(blocker));
    EXPECT_EQ(file_replace(arena, path, str_lit("page")).status, (u32)FileReplace_Written);
    EXPECT_EQ(s(file_read_all(arena, path)), "page");
}

TEST_F(Win32Test, AReaderThatSharesDeleteKeepsTheOldPageWholeWhileItIsReplaced)
{
    Str path = dir.at(arena, "shared.html");
    ASSERT_TRUE(file_write_all(path, str_lit("first"), FileWrite_Replace));
    std::wstring wide = wide_of(s(path));
    HANDLE reader = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    FileReplaceResult replaced = file_replace(arena, path, str_lit("second"));
    // The reader keeps the old file whole either way.
    char buffer[16] = {};
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(reader, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(std::string(buffer, got), "first");
    if (running_under_wine()) {
        // Wine 8 has no rename with POSIX semantics (FileRenameInfoEx is an
        // invalid parameter, FileRenameInformationEx not implemented), so
        // the classic replace runs, which no system lets past an open
        // target: the old page stays whole, the write says so and leaves
        // nothing beside it, and the next write after the reader is done
        // replaces it.
        EXPECT_EQ(replaced.status, (u32)FileReplace_Failed);
        EXPECT_GT(replaced.reason.size, 0u);
        EXPECT_EQ(s(file_read_all(arena, path)), "first");
        EXPECT_EQ(folder_list(arena, path_folder(path)).count, 1u);
        CloseHandle(reader);
        EXPECT_EQ(file_replace(arena, path, str_lit("second")).status, (u32)FileReplace_Written);
    } else {
        EXPECT_EQ(replaced.status, (u32)FileReplace_Written);
        CloseHandle(reader);
    }
    EXPECT_EQ(s(file_read_all(arena, path)), "second");
}

TEST_F(Win32Test, AFolderAtThePathIsNamedAsTheReason)
{
    Str path = dir.at(arena, "taken");
    ASSERT_TRUE(folder_create(path));
    FileReplaceResult result = file_replace(arena, path, str_lit("x"));
    EXPECT_EQ(result.status, (u32)FileReplace_Failed);
    EXPECT_EQ(s(result.reason), "a folder stands at this path");
    EXPECT_TRUE(file_properties(path).is_folder);
}

//- memory

TEST_F(Win32Test, ReservedMemoryIsCommittedAsArenasGrowAndProtectedOnRequest)
{
    Arena *big = arena_alloc(MiB(256), KiB(4));
    ASSERT_NE(big, nullptr);
    u8 *bytes = (u8 *)arena_push(big, MiB(8), 16);
    ASSERT_NE(bytes, nullptr);
    bytes[0] = 1;
    bytes[MiB(8) - 1] = 2;   // committed to the end
    u64 pos = arena_pos(big);
    arena_trim(big, pos - MiB(8), 0);
    u8 *again = (u8 *)arena_push(big, MiB(1), 16);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again[KiB(512)], 0);   // handed back, then zero pages
    u8 *page = (u8 *)arena_push(big, KiB(64), 4096);
    page[0] = 7;
    EXPECT_TRUE(memory_protect_read_only(page, KiB(4)));
    MEMORY_BASIC_INFORMATION info;
    ASSERT_NE(VirtualQuery(page, &info, sizeof info), 0u);
    EXPECT_EQ(info.Protect, (DWORD)PAGE_READONLY);
    EXPECT_EQ(page[0], 7);
    DWORD old = 0;
    VirtualProtect(page, KiB(4), PAGE_READWRITE, &old);
    arena_release(big);
}
