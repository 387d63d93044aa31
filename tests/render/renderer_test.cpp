// The renderer on trees the golden cases cannot reach through the parser:
// rules the parser never triggers, the cases no rule settles (each
// must keep its text), deep documents, pages with regions missing, and the
// calls the page assembly makes for footnotes and table cells.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "markup/tables.h"
#include "render/icons.h"
#include "render_page.h"

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
    std::string render(MarkupNode *root, u32 kind = PageVariant_Desktop, HtmlElement **b_w = nullptr)
    {
        TestPage page = test_page_make(arena);
        PageVariant variant = {};
        variant.kind = kind;
        render_document(arena, root, page.document, &variant, &test_render_options);
        if (b_w) *b_w = page.b_w;
        return test_serialize(arena, page.b_w);
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

//- rules the parser does not reach

TEST_F(RenderTest, HeadingBelowAContextTakesTheContextRow)
{
    MarkupNode *root = document();
    MarkupNode *p = add(add(root, kind_heading, 0), kind_paragraph, 2, 1);
    MarkupNode *context = add(p, kind_context, 4);
    text(add(context, kind_heading, 7, 2), "x", 7);
    std::string html = render(root);
    // An h3 may stand neither in the context's span nor in the p: it goes
    // to b_w, the nearest element above that may hold it.
    EXPECT_TRUE(contains(html, "</p><h3 class=\"qa _7\" id=\"qa_7\">x</h3></div>")) << html;
}

TEST_F(RenderTest, QuoteBelowAParagraphIsIndentedPastTheParagraph)
{
    MarkupNode *root = document();
    MarkupNode *p = add(add(root, kind_heading, 0), kind_paragraph, 2, 1);
    text(p, "p", 2);
    MarkupNode *quote = add(p, kind_quote, 4, 1);
    text(add(quote, kind_quote_paragraph, 6, 1), "q", 6);
    std::string html = render(root);
    EXPECT_TRUE(contains(html, "<p class=\"Ba _2\">p</p><div class=\"Ta _4\" style=\"margin-left:1.8rem;\">")) << html;
}

TEST_F(RenderTest, ListMarkersPastZAndPastNine)
{
    MarkupNode *root = document();
    MarkupNode *p = add(add(root, kind_heading, 0), kind_paragraph, 2, 1);
    MarkupNode *alpha = add(p, kind_list_alpha, 4);
    u8 numbers[] = {0, 25, 26, 27, 51, 52, 255};
    for (u8 n : numbers) add(alpha, kind_list_item, 10 + n, n);
    MarkupNode *numeric = add(p, kind_list_numeric, 300);
    add(numeric, kind_list_item, 301, 255);
    std::string html = render(root);
    for (const char *marker : {"a.", "z.", "aa.", "ab.", "az.", "ba.", "iv.", "256."})
        EXPECT_TRUE(contains(html, std::string(marker_style) + marker + "</span>")) << marker << "\n" << html;
}

//- cases no rule settles: the text always stays

// The parser glues pieces that touch in the source into one run; the page
// must read as it did with one run per piece.
TEST_F(RenderTest, OneRunShowsAsItsPiecesDid)
{
    auto page_of = [&](std::initializer_list<const char *> pieces) {
        MarkupNode *root = document();
        MarkupNode *heading = add(root, kind_heading, 0);
        text(heading, "T", 0);
        MarkupNode *paragraph = add(heading, kind_paragraph, 2);
        u64 offset = 3;
        for (const char *piece : pieces) {
            text(paragraph, piece, offset, piece[0] == '!' || piece[0] == '<' ? (u64)NodeFlag_Symbol : (u64)0);
            offset += strlen(piece);
        }
        paragraph->last_child->space_after = 2;
        return render(root);
    };
    std::string separate = page_of({"x", "!", "x", "<", "[", "y"});
    std::string glued = page_of({"x!x<[y"});
    EXPECT_EQ(glued, separate);
    // The blanks after the line's last run stand before its end: not shown.
    EXPECT_TRUE(contains(glued, "x!x&lt;[y</")) << glued;
}

TEST_F(RenderTest, MessageNodeInTheTreeKeepsItsText)
{
    MarkupNode *root = document();
    MarkupNode *p = add(add(root, kind_heading, 0), kind_paragraph, 2, 1);
    MarkupNode *message = node_new_message(arena, 3, 0, str_lit("a message"));
    node_append_child(p, message);
    text(message, "kept", 4);
    std::string html = render(root);
    EXPECT_TRUE(contains(html, "<p class=\"Ba _2\">kept</p>")) << html;
}

TEST_F(RenderTest, NodeWithoutARuleLeavesItsTextInTheContainer)
{
    MarkupNode *root = document();
    text(add(root, kind_heading, 0, 8), "deep", 0);   // no heading row for level 8
    MarkupNode *p = add(add(root, kind_heading, 10), kind_paragraph, 12, 1);
    text(add(p, str_lit("mystery"), 14), "odd", 14);
    std::string html = render(root);
    EXPECT_TRUE(contains(html, "<div id=\"b_w\" class=\"_0\">deep<h2")) << html;
    EXPECT_TRUE(contains(html, "<p class=\"Ba _12\">odd</p>")) << html;
}

TEST_F(RenderTest, RuleWithoutTagForAnotherKindPassesItsContentOn)
{
    // A table row makes no element, and a cell's td has no tr to stand in:
    // the cell's text stays in the paragraph.
    MarkupNode *root = document();
    MarkupNode *p = add(add(root, kind_heading, 0), kind_paragraph, 2, 1);
    MarkupNode *row = add(p, kind_table_row, 4);
    text(add(row, kind_table_cell, 5), "cell", 6);
    std::string html = render(root);
    EXPECT_TRUE(contains(html, "<p class=\"Ba _2\">cell</p>")) << html;
    EXPECT_FALSE(contains(html, "<td")) << html;
}

TEST_F(RenderTest, ElementWithNoAllowedParentAboveKeepsItsText)
{
    MarkupNode *root = document();
    MarkupNode *p = add(add(root, kind_heading, 0), kind_paragraph, 2, 1);
    text(add(p, kind_list_item, 4), "stray", 5);   // an li needs a list
    std::string html = render(root);
    EXPECT_TRUE(contains(html, "<p class=\"Ba _2\">stray</p>")) << html;
    EXPECT_FALSE(contains(html, "<li")) << html;
}

TEST_F(RenderTest, ElementThatMayNotStandInItsContainerGoesUp)
{
    // An anchor definition inside a context line: a sup may not stand in a
    // span, so it goes to the paragraph that holds the context.
    MarkupNode *root = document();
    MarkupNode *p = add(add(root, kind_heading, 0), kind_paragraph, 2, 1);
    MarkupNode *context = add(p, kind_context, 4);
    MarkupNode *line = add(context, kind_context_paragraph, 6, 1);
    text(line, "a", 6);
    add(line, kind_internal_link, 8, 3);
    std::string html = render(root);
    EXPECT_TRUE(contains(html, "<span class=\"ga _6\">a</span></span><sup class=\"eb _8\" id=\"eb_8\"></sup></p>")) << html;
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

//- the walk

TEST_F(RenderTest, HundredThousandNestedListsRenderWithoutRecursion)
{
    const u64 depth = 100000;
    MarkupNode *root = document();
    MarkupNode *at = add(add(root, kind_heading, 0), kind_paragraph, 1, 1);
    for (u64 i = 0; i < depth; i += 1) at = add(add(at, kind_list_unordered, 2 + 2 * i), kind_list_item, 3 + 2 * i);
    text(at, "bottom", 2 + 2 * depth);
    HtmlElement *b_w = nullptr;
    std::string html = render(root, PageVariant_Desktop, &b_w);
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

//- what the page assembly asks for

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

//- title, links, toc, categories

TEST_F(RenderTest, SecondTitleLineIsAnOrdinaryField)
{
    TestPage page = test_render(arena, "``\ntitle: One\ntitle: Two\n``\n", PageVariant_Desktop);
    std::string html = test_serialize(arena, page.b_w);
    EXPECT_EQ(count_of(html, "<h1"), 1u) << html;
    EXPECT_TRUE(contains(html, "margin-top:2rem;\">One</h1>")) << html;
    EXPECT_TRUE(contains(html, "<span class=\"la _14\" title=\"title\">Two</span>")) << html;
}

TEST_F(RenderTest, ReferenceInsideAFileLinkPointsAtTheAnchor)
{
    // The link check puts a "reference" first into a file link that names
    // an anchor of another document; the reference makes no element.
    MarkupNode *root = document();
    MarkupNode *p = add(add(root, kind_heading, 0), kind_paragraph, 2, 1);
    MarkupNode *link = add(p, kind_link_file, 4);
    add(link, kind_reference, 40, 2);
    text(link, "/site/local/wyn_files/other.wyn", 4);
    std::string html = render(root);
    EXPECT_TRUE(contains(html, "<p class=\"Ba _2\"><a class=\"Oa _4\" href=\"/site/local/wyn_files/other.wyn#eb_40\">"
                               "/site/local/wyn_files/other.wyn</a></p>")) << html;
}

TEST_F(RenderTest, BrokenFileLinkShowsWhereTheFileWasLookedFor)
{
    // The anchor was found but the file is gone: the link check has put the
    // reference in and marked the link.
    MarkupNode *root = document();
    MarkupNode *p = add(add(root, kind_heading, 0), kind_paragraph, 2, 1);
    MarkupNode *link = add(p, kind_link_file, 4, 0, NodeFlag_Unresolved);
    add(link, kind_reference, 40, 2);
    text(link, "wyn_files/other.wyn", 4);
    std::string html = render(root);
    EXPECT_TRUE(contains(html, "<p class=\"Ba _2\"><span class=\"Ma _4\" title=\"file:///site/local/wyn_files/other.wyn\">"
                               "wyn_files/other.wyn</span></p>")) << html;
}

TEST_F(RenderTest, DocumentTextCannotBreakOutOfAnAttributeOrAnElement)
{
    MarkupNode *root = document();
    MarkupNode *p = add(add(root, kind_heading, 0), kind_paragraph, 2, 1);
    text(add(p, kind_link_http, 4), "https://x.org/\"onclick=\"alert(1)<b>", 4);
    std::string html = render(root);
    EXPECT_TRUE(contains(html, "href=\"https://x.org/&quot;onclick=&quot;alert(1)<b>\">https://x.org/\"onclick=\"alert(1)&lt;b></a>"))
        << html;
}

TEST_F(RenderTest, TocEntryWithASubListGetsTheDownArrow)
{
    MarkupNode *root = document();
    MarkupNode *item = add(add(add(root, kind_toc, 1), kind_list_unordered, 2), kind_list_item, 5);
    text(add(item, kind_toc_item, 4), "Entry", 4);
    add(item, kind_list_unordered, 9);
    std::string html = render(root);
    EXPECT_TRUE(contains(html, "<a class=\"lb _4\" href=\"#ta_4\">Entry<span style=\"vertical-align:baseline; color:grey;\" "
                               "class=\"icon-DownDir icon\"></span></a>")) << html;
}

TEST_F(RenderTest, CategoryWrittenWithoutQuotesShowsOneTagPerPiece)
{
    TestPage page = test_render(arena, "``\ncategory: red;blue\n``\n", PageVariant_Desktop);
    std::string html = test_serialize(arena, page.b_w);
    EXPECT_EQ(count_of(html, "border:1px solid #cfcfcf;\">"), 2u) << html;
    EXPECT_TRUE(contains(html, ">red</span>")) << html;
    EXPECT_TRUE(contains(html, ">blue</span>")) << html;
    EXPECT_FALSE(contains(html, ";</span>")) << html;   // the separator is not shown as text
}

TEST_F(RenderTest, EmphasisMarksOfABrokenOrHeaderRunCarryTheirIcons)
{
    MarkupNode *root = document();
    MarkupNode *context = add(root, kind_context_document, 1);
    text(context, "_", 3, NodeFlag_StrongOpen | NodeFlag_StrongInside | NodeFlag_Unresolved);
    text(context, "x", 4, NodeFlag_StrongInside);
    std::string html = render(root);
    EXPECT_TRUE(contains(html, "<strong style=\"font-family:'Source Sans 3 Bold';\" class=\"_3\">"
                               "<span style=\"vertical-align:baseline;\" class=\"icon-Info icon\"></span>"
                               "<span style=\"vertical-align:baseline; color:#440202; font-size:0.9em;\" class=\"icon-Unlink icon\"></span> x</strong>"))
        << html;
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

TEST(PageVariantKind, OnlyTheSmartphoneKindIsTheSmartphone)
{
    PageVariant variant = {};
    EXPECT_FALSE(page_variant_is_smartphone(&variant));
    variant.kind = PageVariant_Desktop;
    EXPECT_FALSE(page_variant_is_smartphone(&variant));
    variant.kind = PageVariant_Smartphone;
    EXPECT_TRUE(page_variant_is_smartphone(&variant));
    EXPECT_FALSE(page_variant_is_smartphone(nullptr));
}

TEST(RenderFileAddress, BothKindsOfAbsolutePath)
{
    Arena *arena = arena_alloc(MiB(1), KiB(64));
    Str posix = render_file_address(arena, str_lit("/home/me/site/local/a.html"));
    EXPECT_EQ(std::string(posix.str, posix.size), "file:///home/me/site/local/a.html");
    Str drive = render_file_address(arena, str_lit("C:/site/local/a.html"));
    EXPECT_EQ(std::string(drive.str, drive.size), "file:///C:/site/local/a.html");
    arena_release(arena);
}

} // namespace
