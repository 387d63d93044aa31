// The page writer: whole files or nothing, folders made, failures reported,
// and no write at all when the bytes on disk are already the same.
#include "shell_support.h"

#include <fcntl.h>
#include <sys/stat.h>

static struct timespec mtime_of(const std::string &path)
{
    struct stat st = {};
    stat(path.c_str(), &st);
    return st.st_mtim;
}

static ino_t inode_of(const std::string &path)
{
    struct stat st = {};
    stat(path.c_str(), &st);
    return st.st_ino;
}

TEST(PageWriter, CreatesFoldersAndReplacesTheFileWhole)
{
    TempSite site;
    Arena *arena = arena_alloc(MiB(8), KiB(64));
    std::string path = site.path("html/a/b/page.html");
    DiagnosticList warnings = {};
    EXPECT_EQ(page_write(arena, shell_str(path), str_lit("<p>one</p>"), &warnings), (u32)FileReplace_Written);
    EXPECT_EQ(read_bytes(path), "<p>one</p>");
    ino_t before = inode_of(path);
    EXPECT_EQ(page_write(arena, shell_str(path), str_lit("<p>two, longer</p>"), &warnings), (u32)FileReplace_Written);
    EXPECT_EQ(read_bytes(path), "<p>two, longer</p>");
    // A new inode: the bytes arrived in a new file renamed over the old one,
    // so a reader holding the old file never saw it change under it.
    EXPECT_NE(inode_of(path), before);
    // Same size, other bytes: still written.
    EXPECT_EQ(page_write(arena, shell_str(path), str_lit("<p>two, LONGER</p>"), &warnings), (u32)FileReplace_Written);
    EXPECT_EQ(read_bytes(path), "<p>two, LONGER</p>");
    // No temporary file is left beside it.
    size_t entries = 0;
    for (auto it = std::filesystem::directory_iterator(site.path("html/a/b")); it != std::filesystem::directory_iterator(); ++it) entries += 1;
    EXPECT_EQ(entries, 1u);
    EXPECT_EQ(warnings.count, 0u);
    arena_release(arena);
}

TEST(PageWriter, IdenticalBytesLeaveTheFileAndItsTimeAlone)
{
    TempSite site;
    Arena *arena = arena_alloc(MiB(8), KiB(64));
    std::string path = site.path("html/same.html");
    std::string big(300000, 'x');   // larger than one comparison piece
    big[299999] = 'y';
    EXPECT_EQ(page_write(arena, shell_str(path), shell_str(big), nullptr), (u32)FileReplace_Written);
    struct timespec old_time = {1000000000, 0};
    struct timespec times[2] = {old_time, old_time};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    ino_t inode = inode_of(path);
    EXPECT_EQ(page_write(arena, shell_str(path), shell_str(big), nullptr), (u32)FileReplace_Unchanged);
    EXPECT_EQ(mtime_of(path).tv_sec, old_time.tv_sec);
    EXPECT_EQ(inode_of(path), inode);
    // One byte different at the very end is a change.
    std::string changed = big;
    changed[299999] = 'z';
    EXPECT_EQ(page_write(arena, shell_str(path), shell_str(changed), nullptr), (u32)FileReplace_Written);
    EXPECT_NE(mtime_of(path).tv_sec, old_time.tv_sec);
    arena_release(arena);
}

TEST(PageWriter, AFailedWriteWarnsWithThePathAndReasonAndChangesNothing)
{
    TempSite site;
    Arena *arena = arena_alloc(MiB(8), KiB(64));
    std::string folder = site.path("html/taken.html");
    write_bytes(folder + "/index.html", "old");
    DiagnosticList warnings = {};
    EXPECT_EQ(page_write(arena, shell_str(folder), str_lit("<p>new</p>"), &warnings), (u32)FileReplace_Failed);
    ASSERT_EQ(warnings.count, 1u);
    EXPECT_EQ(shell_s(warnings.first->text), "could not write " + folder + ": a folder stands at this path");
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(read_bytes(folder + "/index.html"), "old");

    // A file where a parent folder should be.
    write_bytes(site.path("html/plain"), "a file");
    std::string below = site.path("html/plain/page.html");
    EXPECT_EQ(page_write(arena, shell_str(below), str_lit("x"), &warnings), (u32)FileReplace_Failed);
    ASSERT_EQ(warnings.count, 2u);
    EXPECT_EQ(shell_s(warnings.last->text), "could not write " + below + ": a file stands where its folder should be");
    EXPECT_EQ(read_bytes(site.path("html/plain")), "a file");
    // An empty page is never written.
    EXPECT_EQ(page_write(arena, shell_str(site.path("html/empty.html")), str_empty(), &warnings), (u32)FileReplace_Unchanged);
    EXPECT_FALSE(std::filesystem::exists(site.path("html/empty.html")));
    arena_release(arena);
}
