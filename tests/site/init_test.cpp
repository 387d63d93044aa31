// site_init against real temporary folders: a site is written whole or not
// at all. The starter table itself is checked through the real binary
// (tests/tools/init_site_test.py): here the tables are small and made to
// fail where a test wants them to.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "../test_support.h"
#include "site/init.h"

namespace fs = std::filesystem;

namespace {

struct InitTest : ::testing::Test {
    Arena *arena = arena_alloc(MiB(64), KiB(64));
    TempFolder folder{"wyn-init"};
    fs::path root = folder.path;
    ~InitTest() override { arena_release(arena); }
    InitResult init(const fs::path &folder, const StarterFile *files, u64 count)
    {
        std::string path = folder.generic_string();
        return site_init(arena, str_copy(arena, as_str(path)), files, count, str_lit("2031-07-09"));
    }
};

// Every entry below `folder`, folders too: a tree that did not change
// gives the same map.
std::map<std::string, std::string> tree_of(const fs::path &folder) { return tree_bytes(folder, true); }

const StarterFile two_documents[] = {
    {str_lit("local/shared/css/wyn/css_wyn.css"), str_lit("/* @TODAY@ stays: only documents are dated */\n")},
    {str_lit("local/wyn_files/a.wyn"), str_lit("``\ncreation_date: @TODAY@\n``\nA @TODAY@ and @TODAY@\n")},
    {str_lit("local/wyn_files/notes/b.wyn"), str_lit("")},
};

} // namespace

TEST_F(InitTest, WritesEveryFileAndDatesOnlyTheDocumentsOrNoneOfThem)
{
    InitResult result = init(root / "site", two_documents, 3);
    ASSERT_TRUE(result.ok) << s(result.problem);
    EXPECT_EQ(result.files_written, 3u);
    EXPECT_EQ(s(result.local_folder), (root / "site").generic_string() + "/local/");
    std::map<std::string, std::string> expected = {
        {"local", "/"},
        {"local/shared", "/"},
        {"local/shared/css", "/"},
        {"local/shared/css/wyn", "/"},
        {"local/shared/css/wyn/css_wyn.css", "/* @TODAY@ stays: only documents are dated */\n"},
        {"local/wyn_files", "/"},
        {"local/wyn_files/a.wyn", "``\ncreation_date: 2031-07-09\n``\nA 2031-07-09 and 2031-07-09\n"},
        {"local/wyn_files/notes", "/"},
        {"local/wyn_files/notes/b.wyn", ""},
    };
    // Nothing else: the temporary folder the site was put together in is gone.
    EXPECT_EQ(tree_of(root / "site"), expected);

    // A failure midway leaves no half site.
    // The second file needs a folder where the first one is a file: the
    // write fails after one file went to disk.
    const StarterFile clash[] = {
        {str_lit("local/a.txt"), str_lit("first")},
        {str_lit("local/a.txt/b.txt"), str_lit("second")},
        {str_lit("local/c.txt"), str_lit("third")},
    };
    // Into a folder that was there: it is left as it was.
    fs::create_directories(root / "there");
    std::ofstream(root / "there/keep.txt") << "kept\n";
    std::map<std::string, std::string> before = tree_of(root);
    InitResult failed = init(root / "there", clash, 3);
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.files_written, 0u);
    EXPECT_NE(s(failed.problem).find("local/a.txt/b.txt could not be written"), std::string::npos) << s(failed.problem);
    EXPECT_EQ(tree_of(root), before);

    // Into folders init had to make: they go again, the ones above stay.
    failed = init(root / "new/deeper/site", clash, 3);
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(tree_of(root), before);

    // A file that would lie outside local/ would be lost by the move.
    const StarterFile outside[] = {{str_lit("local/a.txt"), str_lit("a")}, {str_lit("README"), str_lit("b")}};
    failed = init(root / "there", outside, 2);
    EXPECT_FALSE(failed.ok);
    EXPECT_NE(s(failed.problem).find("README lies outside local/"), std::string::npos) << s(failed.problem);
    EXPECT_EQ(tree_of(root), before);
}

TEST_F(InitTest, ASiteGetsOnlyThePageAssetsItLacksAndAFileOrFileFolderIsRefused)
{
    const StarterFile starter[] = {
        {str_lit("local/shared/css/fonts.css"), str_lit("starter fonts")},
        {str_lit("local/shared/css/icons.css"), str_lit("starter icons")},
        {str_lit("local/shared/css/wyn/css_wyn.css"), str_lit("starter rules")},
        {str_lit("local/shared/fonts/A.woff2"), str_lit("font a")},
        {str_lit("local/shared/fonts/B.woff2"), str_lit("font b")},
        {str_lit("local/shared/html/default_menu_desktop.html"), str_lit("starter menu")},
        {str_lit("local/shared/images/favicon-32x32.png"), str_lit("icon")},
        {str_lit("local/wyn_files/welcome.wyn"), str_lit("``\ncreation_date: @TODAY@\n``\n")},
    };
    fs::create_directories(root / "site/local/wyn_files");
    fs::create_directories(root / "site/local/shared/css");
    std::ofstream(root / "site/local/wyn_files/mine.wyn") << "my own\n";
    std::ofstream(root / "site/local/shared/css/fonts.css") << "my fonts\n";
    std::ofstream(root / "site/notes.txt") << "beside it\n";
    std::map<std::string, std::string> before = tree_of(root / "site");

    InitResult result = init(root / "site", starter, array_count(starter));
    ASSERT_TRUE(result.ok) << s(result.problem);
    EXPECT_TRUE(result.completed);
    EXPECT_EQ(result.files_written, 4u);
    std::vector<std::string> added;
    for (StrNode *n = result.added.first; n; n = n->next) added.push_back(s(n->string));
    EXPECT_EQ(added, (std::vector<std::string>{"local/shared/css/icons.css", "local/shared/fonts/A.woff2",
                                               "local/shared/fonts/B.woff2", "local/shared/images/favicon-32x32.png"}));
    std::map<std::string, std::string> expected = before;
    expected["local/shared/css/icons.css"] = "starter icons";
    expected["local/shared/fonts"] = "/";
    expected["local/shared/fonts/A.woff2"] = "font a";
    expected["local/shared/fonts/B.woff2"] = "font b";
    expected["local/shared/images"] = "/";
    expected["local/shared/images/favicon-32x32.png"] = "icon";
    EXPECT_EQ(tree_of(root / "site"), expected);

    // Nothing is missing now: nothing is written.
    result = init(root / "site", starter, array_count(starter));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.files_written, 0u);
    EXPECT_EQ(tree_of(root / "site"), expected);

    // A write that fails stops the rest and says which; what went before
    // is whole and stays. A file where the fonts folder would go stops it.
    fs::create_directories(root / "half/local");
    std::ofstream(root / "half/local/shared") << "a file\n";
    result = init(root / "half", starter, array_count(starter));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.files_written, 0u);
    EXPECT_NE(s(result.problem).find("local/shared/css/fonts.css could not be written"), std::string::npos)
        << s(result.problem);

    // A file named local is someone's too.
    fs::create_directories(root / "other");
    std::ofstream(root / "other/local") << "a file\n";
    before = tree_of(root);
    result = init(root / "other", starter, array_count(starter));
    EXPECT_FALSE(result.ok);
    EXPECT_NE(s(result.problem).find("is a file, not a site's folder"), std::string::npos) << s(result.problem);
    EXPECT_EQ(tree_of(root), before);

    // A folder that is a file is refused, and nothing is made below it.
    std::ofstream(root / "plain") << "not a folder\n";
    std::map<std::string, std::string> plain_before = tree_of(root);
    InitResult plain_result = init(root / "plain", two_documents, 3);
    EXPECT_FALSE(plain_result.ok);
    EXPECT_EQ(tree_of(root), plain_before);
    // Nor can a folder be made below a file.
    EXPECT_FALSE(init(root / "plain/site", two_documents, 3).ok);
    EXPECT_EQ(tree_of(root), plain_before);
}
