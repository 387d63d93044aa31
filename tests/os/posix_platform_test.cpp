// test-label: concurrency
// What the POSIX backend does beyond the calls every backend shares:
// files that are longer than stat says, file modes kept across a replace,
// the root as the current folder, and the short names the kernel shows.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/file_replace.h"
#include "os/platform.h"
#include "os/posix/posix_files.h"
#include "os_support.h"

struct PosixTest : ::testing::Test {
    Arena *arena = arena_alloc(MiB(64), KiB(4));
    TempFolder dir;
    ~PosixTest() override { arena_release(arena); }
};

TEST_F(PosixTest, ReadingAFileTakesItsSizeFromTheArenaAndNoMore)
{
    // Loads of every source go through here: a read must not touch twice
    // the file's size of arena memory to find the end.
    Str path = dir.at(arena, "sized.wyn");
    std::string text(KiB(300) + 5, 'q');
    ASSERT_TRUE(file_write_all(path, as_str(text), FileWrite_Replace));
    u64 before = arena_pos(arena);
    Str bytes = file_read_all(arena, path);
    ASSERT_EQ(bytes.size, text.size());
    EXPECT_LE(arena_pos(arena) - before, text.size() + 8 + 1);
    // Files under /proc report a size of 0 and are longer: the read must go
    // past the size it was told, through more than one probe.
    Str maps = file_read_all(arena, str_lit("/proc/self/smaps"));
    std::string all = s(maps);
    ASSERT_GT(all.size(), 3 * 4096u);
    EXPECT_EQ(maps.str[maps.size], 0);
    EXPECT_EQ(all.back(), '\n');
    EXPECT_NE(all.find("[stack]"), std::string::npos);   // the stack's mapping is among the last
}

TEST_F(PosixTest, ARewriteKeepsTheModeAndTheCurrentFolderHasNoTrailingSlash)
{
    // A replace goes through a new file: without care a script would lose
    // its executable bit at every write.
    // The mode is one the process's umask would not give a new file.
    mode_t old_mask = umask(022);
    Str script = dir.at(arena, "run.sh");
    ASSERT_TRUE(file_write_all(script, str_lit("#!/bin/sh\n"), FileWrite_Replace));
    ASSERT_EQ(chmod(script.str, 0775), 0);
    ASSERT_TRUE(file_write_all(script, str_lit("#!/bin/sh\necho\n"), 0));
    struct stat st;
    ASSERT_EQ(stat(script.str, &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0775u);
    Str fresh = dir.at(arena, "fresh.txt");
    ASSERT_TRUE(file_write_all(fresh, str_lit("x"), FileWrite_Replace));
    umask(old_mask);
    ASSERT_EQ(stat(fresh.str, &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);

    // The current folder has no trailing slash, but the root is a slash.
    Str cwd = current_directory(arena);
    ASSERT_GT(cwd.size, 1u);
    EXPECT_EQ(cwd.str[0], '/');
    EXPECT_NE(cwd.str[cwd.size - 1], '/');
    ASSERT_EQ(chdir("/"), 0);
    Str root = current_directory(arena);
    ASSERT_EQ(chdir(cwd.str), 0);
    EXPECT_EQ(s(root), "/");
}

// A new file is written unnamed and linked whole under its name: a reader
// finds it absent or complete, never begun, and no temporary name is left.
// One whose name was taken after the writer looked is replaced all the same.
TEST_F(PosixTest, ANewFileAppearsWholeUnderItsNameAndLeavesNothingElse)
{
    std::string bytes(KiB(256), 'w');
    Str folder = dir.at(arena, "pages");
    std::atomic<bool> done{false};
    std::atomic<int> partial{0}, seen{0};
    std::thread reader([&] {
        std::string got;
        while (!done.load()) {
            for (int i = 0; i < 20; i += 1) {
                std::ifstream in(std::string(folder.str, folder.size) + "/p" + std::to_string(i) + ".html", std::ios::binary);
                if (!in) continue;
                got.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
                seen += 1;
                if (got.size() != bytes.size()) partial += 1;
            }
        }
    });
    for (int i = 0; i < 20; i += 1)
        ASSERT_TRUE(file_write_all(str_pushf(arena, "%S/p%d.html", folder, i), as_str(bytes), FileWrite_CreateFolders));
    done = true;
    reader.join();
    EXPECT_EQ(partial.load(), 0) << "of " << seen.load() << " reads";
    std::set<std::string> names;
    DIR *d = opendir(folder.str);
    ASSERT_NE(d, nullptr);
    while (dirent *e = readdir(d))
        if (e->d_name[0] != '.') names.insert(e->d_name);
    closedir(d);
    EXPECT_EQ(names.size(), 20u);
    EXPECT_EQ(names.count("p0.html"), 1u);

    Str taken = str_pushf(arena, "%S/p3.html", folder);
    ASSERT_TRUE(posix_file_write(taken, str_lit("newer"), FileWrite_CreateFolders, false, 0666));
    EXPECT_EQ(s(file_read_all(arena, taken)), "newer");
}

// A folder the writer made itself held nothing then, so the first pages in
// it go down without a look for an old file. A name found taken there (an
// earlier page of this run, or a file someone else put in) is compared and
// replaced as anywhere else: same bytes leave the file alone, other bytes
// replace it whole, and nothing is left beside it.
TEST_F(PosixTest, PagesInAFolderMadeThisRunAreComparedOnceTheirNamesAreTaken)
{
    auto put = [&](Str path, const char *text) { std::ofstream(std::string(path.str, path.size), std::ios::binary) << text; };
    Str folder = dir.at(arena, "made");
    Str page = dir.at(arena, "made/a.html");
    ASSERT_EQ(file_replace(arena, page, str_lit("first")).status, (u32)FileReplace_Written);
    EXPECT_EQ(s(file_read_all(arena, page)), "first");
    EXPECT_TRUE(folder_is_made(folder));
    u64 written_at = file_last_write_time(page);
    sleep_ms(20);
    EXPECT_EQ(file_replace(arena, page, str_lit("first")).status, (u32)FileReplace_Unchanged);
    EXPECT_EQ(file_last_write_time(page), written_at);
    // Found taken once: the writes that follow look first.
    EXPECT_FALSE(folder_is_made(folder));
    EXPECT_TRUE(folder_is_known(folder));
    EXPECT_EQ(file_replace(arena, page, str_lit("second")).status, (u32)FileReplace_Written);
    EXPECT_EQ(s(file_read_all(arena, page)), "second");

    // Someone else's file, put in after the folder was made.
    Str theirs = dir.at(arena, "also/b.html");
    ASSERT_EQ(file_replace(arena, dir.at(arena, "also/a.html"), str_lit("x")).status, (u32)FileReplace_Written);
    put(theirs, "theirs, and longer");
    ASSERT_TRUE(folder_is_made(dir.at(arena, "also")));
    EXPECT_EQ(file_replace(arena, theirs, str_lit("mine")).status, (u32)FileReplace_Written);
    EXPECT_EQ(s(file_read_all(arena, theirs)), "mine");
    EXPECT_EQ(folder_list(arena, dir.at(arena, "also")).count, 2u);
    // The same bytes as theirs: left alone, time and all.
    Str equal = dir.at(arena, "more/b.html");
    ASSERT_EQ(file_replace(arena, dir.at(arena, "more/a.html"), str_lit("x")).status, (u32)FileReplace_Written);
    put(equal, "equal");
    u64 theirs_at = file_last_write_time(equal);
    sleep_ms(20);
    EXPECT_EQ(file_replace(arena, equal, str_lit("equal")).status, (u32)FileReplace_Unchanged);
    EXPECT_EQ(file_last_write_time(equal), theirs_at);
    EXPECT_EQ(folder_list(arena, dir.at(arena, "more")).count, 2u);

    // A folder that was there before is never taken as empty.
    std::filesystem::create_directories(dir.path + "/found");
    put(dir.at(arena, "found/old.html"), "old");
    EXPECT_EQ(file_replace(arena, dir.at(arena, "found/old.html"), str_lit("old")).status, (u32)FileReplace_Unchanged);
    EXPECT_EQ(file_replace(arena, dir.at(arena, "found/new.html"), str_lit("new")).status, (u32)FileReplace_Written);
    EXPECT_FALSE(folder_is_made(dir.at(arena, "found")));

    // A made folder deleted behind the writer's back is made again.
    std::filesystem::remove_all(dir.path + "/more");
    EXPECT_EQ(file_replace(arena, dir.at(arena, "more/c.html"), str_lit("back")).status, (u32)FileReplace_Written);
    EXPECT_EQ(s(file_read_all(arena, dir.at(arena, "more/c.html"))), "back");
}

static std::atomic<int> g_named{0};
static std::atomic<int> g_release{0};

// What the kernel shows for each thread of this process.
static std::set<std::string> kernel_thread_names()
{
    std::set<std::string> names;
    DIR *tasks = opendir("/proc/self/task");
    while (struct dirent *task = tasks ? readdir(tasks) : nullptr) {
        std::string name;
        std::getline(std::ifstream(std::string("/proc/self/task/") + task->d_name + "/comm"), name);
        names.insert(name);
    }
    if (tasks) closedir(tasks);
    return names;
}

TEST(PosixThreads, TheKernelGetsAShortNameThatKeepsTheIndex)
{
    auto entry = [](u64 index) {
        thread_set_name("[FS] Streamer #%I64u", index);
        g_named.fetch_add(1);
        u64 deadline = test_deadline();
        while (!g_release.load() && now_us() < deadline) sleep_ms(1);
    };
    TestThread *threads[2] = {test_thread_start(1, entry), test_thread_start(12, entry)};
    u64 deadline = test_deadline();
    while (g_named.load() < 2 && now_us() < deadline) sleep_ms(1);
    std::set<std::string> names = kernel_thread_names();
    g_release = 1;
    for (TestThread *t : threads) ASSERT_TRUE(test_thread_join(t)) << "a named thread never finished";
    EXPECT_EQ(names.count("FS Streamer 1"), 1u);
    EXPECT_EQ(names.count("FS Streamer 12"), 1u);
}
