// The text rules for link strings, and site paths on POSIX.
#include <gtest/gtest.h>

#include <string>

#include "../test_support.h"
#include "markup/paths.h"

namespace {

struct SitePaths : ::testing::Test {
    Arena *arena = arena_alloc(MiB(1), KiB(4));
    Str local = str_empty();
    void use_local_folder(Str folder) { local = folder; }
    ~SitePaths() override { arena_release(arena); }
};

TEST_F(SitePaths, RelativeAndRootedPathsGoBelowTheLocalFolderAbsoluteOnesStay)
{
    use_local_folder(str_lit("/home/me/site/local/"));
    EXPECT_EQ(s(to_site_path(arena, local, str_lit("notes/a.wyn"), 1)), "/home/me/site/local/notes/a.wyn");
    EXPECT_EQ(s(to_site_path(arena, local, str_lit("/html/a.html"), 1)), "/home/me/site/local/html/a.html");
    EXPECT_EQ(s(to_site_path(arena, local, str_lit("\"./x/../y.png\""), 1)), "/home/me/site/local/y.png");
    EXPECT_EQ(s(to_site_path(arena, local, str_lit("a\\b.txt"), 1)), "/home/me/site/local/a/b.txt");
    Str made = to_site_path(arena, local, str_lit("q.wyn"), 1);
    EXPECT_EQ(made.str[made.size], 0);   // NUL-terminated for system calls

    // On POSIX an absolute path is one that already starts at the local folder.
    Str posix = str_lit("/home/me/site/local/wyn_files/a.wyn");
    EXPECT_EQ(to_site_path(arena, local, posix, 1).str, posix.str);
    Str drive = str_lit("C:/site/a.wyn");
    EXPECT_EQ(to_site_path(arena, local, drive, 1).str, drive.str);
    EXPECT_EQ(s(to_site_path(arena, local, str_lit("\"D:/x.wyn\""), 1)), "D:/x.wyn");
    EXPECT_EQ(s(to_site_path(arena, local, str_empty(), 1)), "");
    // Asked for a root-relative path, a rooted one is already right.
    Str rooted = str_lit("/html/a.html");
    EXPECT_EQ(to_site_path(arena, local, rooted, 2).str, rooted.str);

    // Without a layout, paths stay rooted at the site.
    use_local_folder(str_empty());
    EXPECT_EQ(s(to_site_path(arena, local, str_lit("notes/a.wyn"), 1)), "/notes/a.wyn");
    EXPECT_EQ(s(to_site_path(arena, local, str_lit("/../../a.wyn"), 1)), "/a.wyn");

    // Link text: only empty text and blanks are refused; the extension.
    EXPECT_FALSE(is_file_link_text(str_empty()));
    EXPECT_FALSE(is_file_link_text(str_lit("a b.wyn")));
    EXPECT_TRUE(is_file_link_text(str_lit("a.wyn")));
    EXPECT_TRUE(is_file_link_text(str_lit("C:/x?*:y")));

    EXPECT_EQ(s(extension(str_lit("a/b.tar.gz"))), "gz");
    EXPECT_EQ(s(extension(str_lit("name."))), "");
    EXPECT_EQ(s(extension(str_lit("name"))), "name");
}

// A link's type folder goes by its extension (pictures and tables only
// when embedded), and is added once below the local folder.
TEST(LinkTarget, PathsResolveBelowTheLocalFolderWithTheirTypeFolderOnce)
{
    Arena *arena = arena_alloc(MiB(1), KiB(16));
    struct Case { const char *link; bool embedded; const char *folder, *resolved; } cases[] = {
        {"pages/intro.WYN", false, "/wyn_files", "/site/local/wyn_files/pages/intro.WYN"},
        {"/wyn_files/pages/intro.wyn", false, "/wyn_files", "/site/local/wyn_files/pages/intro.wyn"},
        {"/pics/a.Png", true, "/assets/images", "/site/local/assets/images/pics/a.Png"},
        {"a/b.jpeg", false, "", "/site/local/a/b.jpeg"},
        {"a/b.csv", true, "/assets/files", "/site/local/assets/files/a/b.csv"},
        {"a/b.csv", false, "", "/site/local/a/b.csv"},
        {"a/b.txt", true, "", "/site/local/a/b.txt"},
        {"./notes/../x.txt", false, "", "/site/local/x.txt"},
        {"/site/local/wyn_files/a.wyn", false, "/wyn_files", "/site/local/wyn_files/a.wyn"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(s(link_type_folder(str_from_cstring(c.link), c.embedded)), c.folder) << c.link;
        EXPECT_EQ(s(link_resolve_path(arena, str_lit("/site/local/"), str_from_cstring(c.link), c.embedded)), c.resolved)
            << c.link;
    }
    arena_release(arena);
}

} // namespace
