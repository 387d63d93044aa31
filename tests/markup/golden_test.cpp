// Golden cases: every tests/markup/cases/<name>.wyn parses to the tree
// written by hand in <name>.tree (the tree= output, with the document
// path <name>.wyn and the local folder /site/local/).
//
// With WYN_GOLDEN_DRAFTS=<folder> set, the actual output of each case is
// also written to <folder>/<name>.tree, as a draft to review by hand, never
// to copy over the expected files unread.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "markup/parser.h"
#include "markup/tree_dump.h"
#include "../golden_cases.h"

namespace {

const std::string cases_folder = std::string(WYN_SOURCE_DIR) + "/tests/markup/cases";

std::vector<std::string> case_names() { return golden_case_names(cases_folder); }

std::string read_file(const std::string &path) { return golden_read_file(path); }

struct Golden : ::testing::TestWithParam<std::string> {
    Arena *arena = arena_alloc(MiB(64), KiB(64));
    ParseOptions options = {str_lit("/site/local/"), 0, nullptr, nullptr};
    ~Golden() override { arena_release(arena); }
};

TEST_P(Golden, TreeMatchesTheHandWrittenOne)
{
    const std::string name = GetParam();
    std::string source = read_file(cases_folder + "/" + name + ".wyn");
    std::string wanted = read_file(cases_folder + "/" + name + ".tree");
    Str text = str_copy(arena, Str{source.data(), source.size()});
    ParsedDocument doc = markup_parse(arena, text, &options);
    std::string path = name + ".wyn";
    Str path_str = Str{path.data(), path.size()};
    Str dump = markup_tree_dump(arena, &doc, path_str, text);
    std::string got(dump.str, dump.size);
    if (const char *drafts = std::getenv("WYN_GOLDEN_DRAFTS")) {
        std::ofstream out(std::string(drafts) + "/" + name + ".tree", std::ios::binary);
        out << got;
    }
    EXPECT_EQ(got, wanted) << "case " << name;
}

INSTANTIATE_TEST_SUITE_P(Cases, Golden, ::testing::ValuesIn(case_names()),
                         [](const ::testing::TestParamInfo<std::string> &info) { return info.param; });

} // namespace
