// Where a page may be written: inside the local folder, and never into a
// folder wyn reads (a page there would be read back as an input and
// rebuild for ever).
#include <gtest/gtest.h>

#include <string>

#include "site/output_paths.h"

TEST(OutputPaths, PagesStayInsideTheSiteAndOutOfEveryFolderWynReads)
{
    Arena *arena = arena_alloc(MiB(1), KiB(64));
    Str local = str_lit("/s/local/");
    struct Case {
        const char *path;
        const char *reason;   // a piece of the refusal; empty: accepted
    };
    const Case cases[] = {
        {"/s/local/html/a.html", ""}, {"/s/local/html/../pages/a.html", ""},
        {"/s/local/assetsfile.html", ""},   // a name that only begins like a folder wyn reads
        {"/s/local/shared/html/menu.html", "into shared"}, {"/s/local/wyn_files/a.html", "into wyn_files"},
        {"/s/local/assets/files/a.html", "into assets"}, {"/s/local/html/../assets/a.html", "into assets"},
        {"/s/local/../outside.html", "outside the local folder"}, {"/s/local/", "outside the local folder"},
        {"relative/a.html", "outside the local folder"}, {"C:/x.html", "drive path"},
    };
    for (const Case &c : cases) {
        std::string reason(site_output_path_refusal(arena, local, str_from_cstring(c.path)).str,
                           site_output_path_refusal(arena, local, str_from_cstring(c.path)).size);
        if (!*c.reason) EXPECT_EQ(reason, "") << c.path;
        else EXPECT_NE(reason.find(c.reason), std::string::npos) << c.path << " gave \"" << reason << "\"";
    }
    arena_release(arena);
}
