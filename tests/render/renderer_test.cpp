// The renderer on trees the golden cases cannot reach through the parser:
// the cases of tree_cases.txt (rules the parser never triggers, the cases no
// rule settles, each of which must keep its text, links as the link check
// leaves them, deployed sites), then deep documents, pages with regions
// missing, and the calls the page assembly makes for footnotes and table
// cells.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "markup/tables.h"
#include "render/icons.h"
#include "render_page.h"
#include "../golden_cases.h"

namespace {

struct RenderTest : ::testing::Test {
    Arena *arena = arena_alloc(MiB(256), KiB(64));
    ~RenderTest() override { arena_release(arena); }

    MarkupNode *document()
    {
        return node_new(arena, NodeClass_Document, 0, str_lit("src"), str_lit("src"), 0);
    }
    MarkupNode *add(MarkupNode *parent, Str name, u64 offset, u8 number = 0, u64 flags = 0)
    {
        MarkupNode *n = node_new(arena, NodeClass_Element, flags, name, name, offset);
        n->number = number;
        node_append_child(parent, n);
        return n;
    }
    MarkupNode *text(MarkupNode *parent, const char *t, u64 offset, u64 flags = 0)
    {
        Str s = str_from_cstring(t);
        MarkupNode *n = node_new(arena, NodeClass_Text, flags, s, s, offset);
        node_append_child(parent, n);
        return n;
    }
    std::string render(MarkupNode *root, HtmlElement **b_w = nullptr, const RenderOptions *options = &test_render_options)
    {
        TestPage page = test_page_make(arena);
        PageVariant variant = {};
        variant.kind = PageVariant_Desktop;
        render_document(arena, root, page.document, &variant, options);
        if (b_w) *b_w = page.b_w;
        return test_serialize(arena, page.b_w);
    }
    // A tree in the form markup_tree_dump writes: two blanks per level, the
    // class, the name (or the quoted text), "#number 0xflags @offset", then
    // optionally "before=" and "after=".
    MarkupNode *tree_from_dump(const std::vector<std::string> &lines)
    {
        std::vector<MarkupNode *> open;
        for (const std::string &line : lines) {
            size_t depth = line.find_first_not_of(' ') / 2;
            std::istringstream in(line);
            std::string klass, name, rest;
            in >> klass;
            if (klass == "text") {
                size_t at = line.find('"') + 1;
                for (; line[at] != '"'; at += 1) name += line[at] == '\\' ? line[++at] : line[at];
                in.str(line.substr(at + 1));
            } else if (klass != "document") {
                in >> name;
            }
            unsigned number = 0;
            unsigned long long flags = 0, offset = 0;
            std::getline(in, rest);
            sscanf(rest.c_str(), " #%u 0x%llx @%llu", &number, &flags, &offset);
            Str s = str_copy(arena, str(name.data(), name.size()));
            u32 node_class = klass == "document" ? NodeClass_Document : klass == "text" ? NodeClass_Text : NodeClass_Element;
            MarkupNode *n = klass == "message" ? node_new_message(arena, offset, flags, s)
                                               : node_new(arena, node_class, flags, s, s, offset);
            n->number = (u8)number;
            if (rest.find(" before=") != std::string::npos) n->space_before = 1;
            size_t after = rest.find(" after=");
            if (after != std::string::npos) n->space_after = (u8)std::stoi(rest.substr(after + 7));
            open.resize(depth);
            if (depth) node_append_child(open[depth - 1], n);
            open.push_back(n);
        }
        return open.empty() ? &markup_nil : open[0];
    }
};

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

size_t count_of(const std::string &text, const std::string &part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) count += 1;
    return count;
}

const char *marker_style = "<span style=\"margin-right:0.2rem; color:#343232; font-size:0.9em; font-family:'IBM Plex Mono';\">";

TEST_F(RenderTest, EveryCaseOfTheTreeFile)
{
    std::istringstream in(golden_read_file(std::string(WYN_SOURCE_DIR) + "/tests/render/tree_cases.txt"));
    struct Case {
        std::string name;
        std::vector<std::string> tree, has, lacks;
    };
    std::vector<Case> cases;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("== ", 0) == 0) cases.push_back({line.substr(3), {}, {}, {}});
        else if (cases.empty() || line.empty() || line[0] == '#') continue;
        else if (line.rfind("+ ", 0) == 0) cases.back().has.push_back(golden_unescape(line.substr(2)));
        else if (line.rfind("- ", 0) == 0) cases.back().lacks.push_back(golden_unescape(line.substr(2)));
        else cases.back().tree.push_back(line);
    }
    ASSERT_GT(cases.size(), 15u);
    RenderOptions deployed = test_render_options;
    deployed.deploy = 1;
    std::string glued[2];
    for (const Case &c : cases) {
        bool deploy = c.name.size() > 7 && c.name.compare(c.name.size() - 7, 7, " deploy") == 0;
        std::string html = render(tree_from_dump(c.tree), nullptr, deploy ? &deployed : &test_render_options);
        for (const std::string &part : c.has) EXPECT_TRUE(contains(html, part)) << c.name << " lacks " << part << "\n" << html;
        for (const std::string &part : c.lacks) EXPECT_FALSE(contains(html, part)) << c.name << " holds " << part << "\n" << html;
        if (c.name == "pieces_in_runs_of_their_own") glued[0] = html;
        if (c.name == "pieces_glued_into_one_run") glued[1] = html;
    }
    EXPECT_EQ(glued[0], glued[1]);
    // The blanks after the line's last run stand before its end: not shown.
    EXPECT_TRUE(contains(glued[1], "x!x&lt;[y</")) << glued[1];
}

TEST_F(RenderTest, TextRunWhoseContainerCannotBeFoundGoesWhereTheCallerPointed)
{
    MarkupNode *root = document();
    MarkupNode *p = add(add(root, kind_heading, 0), kind_paragraph, 50, 1);
    MarkupNode *run = text(p, "orphan", 51);
    // Into an element that was not made for the paragraph.
    HtmlElement *div = html_element_from_tag(arena, HtmlTag_Div);
    EXPECT_EQ(render_document(arena, run, div, nullptr, &test_render_options), 1u);
    EXPECT_EQ(test_serialize(arena, div), "<div>orphan</div>");
    // Into a page: the document region.
    TestPage page = test_page_make(arena);
    EXPECT_EQ(render_document(arena, run, page.document, nullptr, &test_render_options), 1u);
    EXPECT_EQ(test_serialize(arena, page.b_w), "<div id=\"b_w\">orphan</div>");
}

TEST_F(RenderTest, ALineShowsTheBlanksItsRunsShowWhateverTheSourceHoldsBetweenThem)
{
    // The words of a line and the blanks between them mostly go to the page
    // as one stretch of the source. Where the source holds a tab, more
    // blanks than a run shows, or text the page escapes, the page shows
    // what the runs show.
    std::string source = "Heading\n  one  two\tthree" + std::string(40, ' ') + "four <five> `six <b>` seven\n";
    ParsedDocument doc = markup_parse(arena, str(source.data(), source.size()), nullptr);
    std::string html = render(doc.root);
    std::string shown = "one  two three" + std::string(36, ' ') + "four &lt;five> <code";
    EXPECT_TRUE(contains(html, shown)) << html;
    EXPECT_TRUE(contains(html, "&lt;b></code> seven")) << html;
    EXPECT_FALSE(contains(html, "\t")) << html;
}

TEST_F(RenderTest, HundredThousandNestedListsRenderWithoutRecursion)
{
    const u64 depth = 100000;
    MarkupNode *root = document();
    MarkupNode *at = add(add(root, kind_heading, 0), kind_paragraph, 1, 1);
    for (u64 i = 0; i < depth; i += 1) at = add(add(at, kind_list_unordered, 2 + 2 * i), kind_list_item, 3 + 2 * i);
    text(at, "bottom", 2 + 2 * depth);
    HtmlElement *b_w = nullptr;
    std::string html = render(root, &b_w);
    HtmlElementList lists = {};
    html_collect_by_tag(arena, b_w, HtmlTag_Ul, &lists);
    EXPECT_EQ(lists.count, depth);
    EXPECT_EQ(count_of(html, "<li class=\"wb"), depth);
    EXPECT_EQ(count_of(html, "</ul>"), depth);
    EXPECT_TRUE(contains(html, std::string(marker_style) + ".</span>bottom</li></ul></li></ul>")) << html.substr(html.size() - 300);
    // Only the outer list is lifted out of the paragraph.
    EXPECT_TRUE(contains(html, "<p class=\"Ba _1\"></p><ul class=\"sb _2\" style=\"margin-left:1.8rem;\">"));
}

TEST_F(RenderTest, SiblingsOfTheStartNodeAreNotVisited)
{
    MarkupNode *root = document();
    MarkupNode *heading = add(root, kind_heading, 0);
    MarkupNode *first = add(heading, kind_paragraph, 2, 1);
    text(first, "one", 2);
    text(add(heading, kind_paragraph, 8, 1), "two", 8);
    TestPage page = test_page_make(arena);
    render_document(arena, first, page.document, nullptr, &test_render_options);
    EXPECT_EQ(test_serialize(arena, page.b_w), "<div id=\"b_w\"><p class=\"Ba _2\">one</p></div>");
}

TEST_F(RenderTest, PageWithoutAnyElementRendersNothing)
{
    MarkupNode *root = document();
    text(add(root, kind_heading, 0), "lost?", 0);
    HtmlElement *bare = html_node_create(arena, HtmlNode_Document, 0, str_empty(), str_empty(), 0);
    EXPECT_EQ(render_document(arena, root, bare, nullptr, &test_render_options), 0u);
    EXPECT_TRUE(html_is_none(bare->first_child));
    EXPECT_EQ(render_document(arena, &markup_nil, bare, nullptr, &test_render_options), 0u);
}

TEST_F(RenderTest, MissingRegionsFallBackToTheDocumentRegion)
{
    std::string source = "``\ntitle: T\n``\nH\n  note [*1]\n  [*1] foot\n";
    Str text = str_copy(arena, str(source.data(), source.size()));
    ParsedDocument doc = test_parse(arena, text);
    // A page with only b_w: the smartphone title and the footnotes go there.
    HtmlElement *document = html_node_create(arena, HtmlNode_Document, 0, str_empty(), str_empty(), 0);
    HtmlElement *html = html_element_from_tag(arena, HtmlTag_Html);
    html_append_child(document, html);
    HtmlElement *body = html_element_from_tag(arena, HtmlTag_Body);
    html_append_content(html, body);
    HtmlElement *b_w = test_page_region(arena, body, str_lit("b_w"));
    PageVariant smartphone = {};
    smartphone.kind = PageVariant_Smartphone;
    render_document(arena, doc.root, document, &smartphone, &test_render_options);
    render_document(arena, doc.footnotes, b_w, &smartphone, &test_render_options);
    std::string out = test_serialize(arena, b_w);
    EXPECT_EQ(out.rfind("<div id=\"b_w\" class=\"_0\"><h1 style=\"font-family:'Noto Serif Bold'; margin:0;", 0), 0u) << out;
    EXPECT_TRUE(contains(out, "<div class=\"Ya _1\">")) << out;
    EXPECT_TRUE(contains(out, " foot</sup>")) << out;
    // A page without any region: the document goes into the body.
    TestPage page = test_page_make(arena);
    html_detach(page.top_middle);
    html_detach(page.b_w);
    html_detach(page.bottom);
    render_document(arena, doc.root, page.document, nullptr, &test_render_options);
    EXPECT_TRUE(contains(test_serialize(arena, page.body), "<body class=\"_0\"><h1")) << test_serialize(arena, page.body);
}

TEST_F(RenderTest, TableCellRendersIntoTheCellTheAssemblyMade)
{
    MarkupNode *root = document();
    MarkupNode *row = add(add(add(add(root, kind_table_root, 0), kind_table, 0), kind_table_root_entry, 5), kind_table_row, 5);
    MarkupNode *cell = add(row, kind_table_cell, 6, 0, NodeFlag_Ticked);
    text(cell, "1", 7);
    HtmlElement *tr = html_element_from_tag(arena, HtmlTag_Tr);
    tr->offset = row->offset;
    HtmlElement *td = html_element_from_tag(arena, HtmlTag_Td);
    td->offset = cell->offset;
    html_set_attribute(arena, td, HtmlAttr_Class, str_lit("Cb"));
    html_append_content(tr, td);
    EXPECT_EQ(render_document(arena, cell, td, nullptr, &test_render_options), 1u);
    EXPECT_EQ(test_serialize(arena, tr), "<tr><td class=\"Cb _6\">1</td></tr>");

    // A heading cell: its content from the first child, into the th whose
    // class is the heading cell's.
    MarkupNode *col = add(root, kind_table_cell_col, 20);
    MarkupNode *heading_text = text(col, "Name", 21);
    HtmlElement *th = html_element_from_tag(arena, HtmlTag_Th);
    html_set_attribute(arena, th, HtmlAttr_Class, str_lit("Fb"));
    render_document(arena, heading_text, th, nullptr, &test_render_options);
    EXPECT_EQ(test_serialize(arena, th), "<th class=\"Fb\">Name</th>");
}

TEST_F(RenderTest, TablesRenderTheSameBeforeAndAfterTheSiteBuildIndexesThem)
{
    std::string source = "Data\n  | a | b |\n  |---|---|\n  | 1 | 2 |\n  after\n";
    Str text = str_copy(arena, str(source.data(), source.size()));
    ParsedDocument doc = test_parse(arena, text);
    TestPage before = test_page_make(arena);
    render_document(arena, doc.root, before.document, nullptr, &test_render_options);
    document_index_tables(arena, &doc);
    ASSERT_EQ(doc.extra_list.count, 1u);
    TestPage after = test_page_make(arena);
    render_document(arena, doc.root, after.document, nullptr, &test_render_options);
    std::string html = test_serialize(arena, after.b_w);
    EXPECT_EQ(test_serialize(arena, before.b_w), html);
    EXPECT_TRUE(contains(html, "<table class=\"Ab _7\"></table></div><p class=\"Ba _")) << html;
}

TEST(RenderIcon, SerializesAsTheSharedIconBuilder)
{
    Arena *arena = arena_alloc(MiB(1), KiB(64));
    for (u32 id = 0; id <= Icon_Count; id += 1) {
        HtmlElement *fast = render_icon(arena, id);
        HtmlElement *shared = icon_element(arena, id);
        EXPECT_EQ(html_is_none(fast), html_is_none(shared)) << id;
        if (html_is_none(fast)) continue;
        // Attributes set later must land as they would on the shared one.
        html_set_attribute(arena, fast, HtmlAttr_Style, str_lit("color:grey;"));
        html_set_attribute(arena, shared, HtmlAttr_Style, str_lit("color:grey;"));
        html_set_attribute(arena, fast, HtmlAttr_Class, str_lit("x"));
        html_set_attribute(arena, shared, HtmlAttr_Class, str_lit("x"));
        EXPECT_EQ(test_serialize(arena, fast), test_serialize(arena, shared)) << id;
    }
    EXPECT_TRUE(html_is_none(render_icon(arena, Icon_Nil)));
    arena_release(arena);
}

// The golden cases' paths are POSIX ones; a drive path needs the third slash.
TEST(RenderFileAddress, DrivePathsGetAThirdSlash)
{
    Arena *arena = arena_alloc(MiB(1), KiB(64));
    Str drive = render_file_address(arena, str_lit("C:/site/local/a.html"));
    EXPECT_EQ(std::string(drive.str, drive.size), "file:///C:/site/local/a.html");
    arena_release(arena);
}

} // namespace
