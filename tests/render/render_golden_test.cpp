// Golden cases: every tests/render/cases/<name>.wyn renders to the HTML
// written by hand in <name>.html, section by section. A section
// "== desktop b_w" holds the serialized `b_w` region of the desktop page;
// the variants are desktop and smartphone, the regions top_middle, b_w and
// bottom. Section lines lose their leading blanks and are joined without
// separator; "\n" stands for a line break, "\\" for a backslash, and @LOCAL@
// for the site's local folder (tests/render/cases/site/ of the sources, so
// JPEG files there are read for their size). Lines starting with "#" before
// the first section say what the case pins down.
//
// Links are marked broken the way the link check would: a web link to a
// host under the reserved ".invalid" domain and a file link whose path
// holds "missing" get flag 0x10000.
//
// Every golden file must also read as balanced HTML to Python's standard
// html.parser (html_balanced.py).
//
// With WYN_GOLDEN_DRAFTS=<folder> set, the actual output of each case is
// written to <folder>/<name>.html, one tag per line, to compare by eye with
// what the rules give; never to copy over the expected files unread.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "render_page.h"
#include "../golden_cases.h"

namespace {

const std::string cases_folder = std::string(WYN_SOURCE_DIR) + "/tests/render/cases";
const std::string local_folder = cases_folder + "/site/";

std::vector<std::string> case_names() { return golden_case_names(cases_folder); }

std::string read_file(const std::string &path) { return golden_read_file(path); }

std::string replace_all(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// Stands in for the link check, which marks failed links (not their text).
void mark_broken_links(ParsedDocument *doc)
{
    for (NodeListCell *c = doc->web_links.first; c; c = c->next) {
        Str address = c->node->first_child->name;
        u64 scheme = str_find(address, str_lit("://"), 0, 0);
        Str host = str_skip(address, min_of(address.size, scheme + 3));
        host = str_prefix(host, str_find_byte(host, '/', 0));
        if (str_match(str_lit(".invalid"), str_postfix(host, 8), 0)) c->node->flags |= NodeFlag_Unresolved;
    }
    for (NodeListCell *c = doc->file_links.first; c; c = c->next)
        if (str_contains(c->node->first_child->name, str_lit("missing"))) c->node->flags |= NodeFlag_Unresolved;
}

struct Section {
    std::string variant;
    std::string region;
    std::string html;
};

std::string decode_lines(const std::vector<std::string> &lines)
{
    std::string joined;
    for (const std::string &line : lines) joined += line.substr(std::min(line.find_first_not_of(' '), line.size()));
    return golden_unescape(joined);
}

std::vector<Section> read_sections(const std::string &text)
{
    std::vector<Section> sections;
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    auto close = [&] {
        if (!sections.empty()) sections.back().html = decode_lines(lines);
        lines.clear();
    };
    while (std::getline(in, line)) {
        if (line.rfind("== ", 0) == 0) {
            close();
            std::istringstream words(line.substr(3));
            Section s;
            words >> s.variant >> s.region;
            sections.push_back(s);
        } else if (!sections.empty()) {
            lines.push_back(line);
        }
    }
    close();
    return sections;
}

// One tag per line, for drafts read by eye.
std::string draft_lines(const std::string &html)
{
    std::string out;
    for (size_t i = 0; i < html.size(); i += 1) {
        out += html[i];
        if (html[i] == '>' && i + 1 < html.size() && html[i + 1] == '<') out += '\n';
    }
    return out;
}

struct RenderGolden : ::testing::TestWithParam<std::string> {
    Arena *arena = arena_alloc(MiB(64), KiB(64));
    // Images are measured from disk here; a build asks the file service.
    static JpegInfo image_from_disk(void *, Arena *arena, Str path) { return jpeg_info(arena, path); }
    RenderOptions options = {str(local_folder.data(), local_folder.size()), 0, image_from_disk, nullptr, 0, 0, nullptr};
    ~RenderGolden() override { arena_release(arena); }
};

HtmlElement *region_of(const TestPage &page, const std::string &region)
{
    if (region == "top_middle") return page.top_middle;
    if (region == "bottom") return page.bottom;
    return page.b_w;
}

TEST_P(RenderGolden, RegionsMatchTheHandWrittenHtml)
{
    const std::string name = GetParam();
    std::string source = read_file(cases_folder + "/" + name + ".wyn");
    std::vector<Section> sections = read_sections(read_file(cases_folder + "/" + name + ".html"));
    ASSERT_FALSE(sections.empty()) << "case " << name << " has no section";

    TestPage desktop = test_render(arena, source, PageVariant_Desktop, mark_broken_links, nullptr, &options);
    TestPage smartphone = test_render(arena, source, PageVariant_Smartphone, mark_broken_links, nullptr, &options);
    if (const char *drafts = std::getenv("WYN_GOLDEN_DRAFTS")) {
        std::ofstream out(std::string(drafts) + "/" + name + ".html", std::ios::binary);
        for (const char *variant : {"desktop", "smartphone"})
            for (const char *region : {"top_middle", "b_w", "bottom"}) {
                const TestPage &page = std::string(variant) == "desktop" ? desktop : smartphone;
                out << "== " << variant << " " << region << "\n"
                    << draft_lines(test_serialize(arena, region_of(page, region))) << "\n";
            }
    }
    for (const Section &section : sections) {
        ASSERT_TRUE(section.variant == "desktop" || section.variant == "smartphone") << section.variant;
        ASSERT_TRUE(section.region == "top_middle" || section.region == "b_w" || section.region == "bottom")
            << section.region;
        const TestPage &page = section.variant == "desktop" ? desktop : smartphone;
        std::string got = test_serialize(arena, region_of(page, section.region));
        std::string wanted = replace_all(section.html, "@LOCAL@", local_folder);
        EXPECT_EQ(got, wanted) << "case " << name << ", " << section.variant << " " << section.region;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RenderGolden, ::testing::ValuesIn(case_names()),
                         [](const ::testing::TestParamInfo<std::string> &info) { return info.param; });

// One run of the script over every golden file: starting Python per case
// would cost more than all the cases together.
TEST(RenderGoldenFiles, ExpectedHtmlIsBalancedForPythonsParser)
{
    std::string command = "python3 '" + std::string(WYN_SOURCE_DIR) + "/tests/render/html_balanced.py'";
    std::vector<std::string> names = case_names();
    ASSERT_FALSE(names.empty());
    for (const std::string &name : names) command += " '" + cases_folder + "/" + name + ".html'";
    command += " 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[512];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    int status = pclose(pipe);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, "");
}

} // namespace
