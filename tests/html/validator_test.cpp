// The structure validator: the cases of validator_cases.txt (a template and
// its options in, the messages out), then trees no parser makes, deep
// nesting, and who prints a template's messages.
#include <gtest/gtest.h>

#include <string>

#include "tree_dump.h"

struct ValidatorTest : ::testing::Test {
    Arena *arena = arena_alloc(MiB(64), KiB(64));
    ~ValidatorTest() override { arena_release(arena); }

    HtmlParseResult parse(const std::string &source, u32 options)
    {
        Str src = str_copy(arena, str(source.data(), source.size()));
        return html_parse_template(arena, src, str_lit("t.html"), options | HtmlParse_Quiet);
    }
};

TEST_F(ValidatorTest, EveryCaseOfTheCaseFileOddNodesAndMessagesLeftToTheCaller)
{
    std::vector<GoldenLine> cases = golden_read_lines(std::string(WYN_SOURCE_DIR) + "/tests/html/validator_cases.txt");
    ASSERT_GT(cases.size(), 25u);
    for (const GoldenLine &c : cases)
        EXPECT_EQ(template_case(arena, c), c.expected) << "line " << c.line << ", which would read:\n"
                                                        << golden_escape(c.input) << " => " << golden_escape(template_case(arena, c));
    EXPECT_FALSE(html_tag_allows_parent(HtmlTag_Div, 0));   // an unknown tag is no parent
    EXPECT_FALSE(html_tag_allows_parent(0, HtmlTag_Div));

    // Unknown-attribute nodes and elements placed after them can only come
    // from a caller's own tree.
    HtmlParseResult r = parse("<div><p>x</p></div>", HtmlParse_Quiet);
    HtmlElement *content = r.root->first_child->first_child;
    HtmlElement *odd = html_node_create(arena, HtmlNode_UnknownAttribute, 0, str_lit("onclick"), str_lit("onclick"), 40);
    html_prepend_child(content, odd);
    r.flags = 0x01;
    html_validate(arena, &r, str_empty(), str_empty());
    ASSERT_EQ(r.diagnostics.count, 1u);
    EXPECT_EQ(s(r.diagnostics.first->text), "parsing failed, tag was encountered inside attribute node");
    EXPECT_EQ(r.diagnostics.first->offset, 7u);   // the p's name, plus one
    r.diagnostics = DiagnosticList{};
    r.flags = 0x09;
    html_validate(arena, &r, str_empty(), str_empty());
    ASSERT_EQ(r.diagnostics.count, 2u);
    EXPECT_EQ(s(r.diagnostics.first->text), "onclick unknown attribute");
    EXPECT_EQ(r.diagnostics.first->offset, 41u);
    EXPECT_EQ(((const HtmlElement *)r.diagnostics.first->node)->type, (u32)HtmlNode_Marker);

    Str source = str_lit("<div>\n<p>x</q>\n</div>");
    testing::internal::CaptureStdout();
    HtmlParseResult loaded = html_parse_template(arena, source, str_lit("/s/menu.html"), 0x01);
    HtmlParseResult empty = html_parse_template(arena, str_empty(), str_lit("e.html"), 0x01);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");   // a template used by every page must not print once per page
    ASSERT_EQ(loaded.diagnostics.count, 5u);   // four from the parse, the p without content
    EXPECT_EQ(s(loaded.diagnostics.first->text),
              "The tag name \"p\" has no matching closing tag name. You may have an opening tag "
              "without matching closing one.");
    EXPECT_EQ(dump_tree(loaded), "div{\"\n\" p!}");
    EXPECT_EQ(loaded.flags, 0x01u);

    EXPECT_EQ(empty.root, &html_none);
    EXPECT_EQ(empty.title, &html_none);
    EXPECT_EQ(empty.diagnostics.count, 0u);
    EXPECT_EQ(empty.flags, 0x01u);

    // Fifty thousand nested heads share the title in the innermost.
    std::string deep;
    for (int i = 0; i < 50000; i += 1) deep += "<head>";
    EXPECT_EQ(parse(deep + "<title>t</title>", 0x01).diagnostics.count, 0u);
    HtmlParseResult heads = parse(deep, 0x01);
    EXPECT_EQ(heads.diagnostics.count, 50001u);   // a missing title each, and the innermost is empty
}

