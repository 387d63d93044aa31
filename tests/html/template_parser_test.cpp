// The template tokenizer and tree builder: the cases of template_cases.txt,
// then what a one-line case cannot show (flags and offsets, the result
// record, hostile sizes, writing a parsed tree back).
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "site/diagnostics.h"
#include "tree_dump.h"

struct TemplateParserTest : ::testing::Test {
    Arena *arena = arena_alloc(MiB(64), KiB(64));
    ~TemplateParserTest() override { arena_release(arena); }

    HtmlParseResult parse(const std::string &source, u32 options = 0)
    {
        Str src = str_copy(arena, str(source.data(), source.size()));
        return html_parse_template(arena, src, str_lit("t.html"), options | HtmlParse_Quiet);
    }
    std::string serialize(HtmlElement *root)
    {
        StrList out = {};
        html_serialize(arena, root, &out, nullptr);
        return s(str_list_join_plain(arena, &out));
    }
};

TEST_F(TemplateParserTest, EveryCaseOfTheCaseFileAndTreesWrittenBackWhole)
{
    std::vector<GoldenLine> cases = golden_read_lines(std::string(WYN_SOURCE_DIR) + "/tests/html/template_cases.txt");
    ASSERT_GT(cases.size(), 60u);
    for (const GoldenLine &c : cases)
        EXPECT_EQ(template_case(arena, c), c.expected) << "line " << c.line << ", which would read:\n"
                                                        << golden_escape(c.input) << " => " << golden_escape(template_case(arena, c));

    // Style values are cut into declarations, not at blanks.
    EXPECT_EQ(serialize(parse("<p style=\"color: red; margin:0;\">x</p>").root), "<p style=\"color: red; margin:0;\">x</p>");
    // A quote inside a single-quoted value is escaped: the page keeps its
    // attributes apart.
    EXPECT_EQ(serialize(parse("<div id='a\"b' title=\"x\">t</div>").root), "<div id=\"a&quot;b\" title=\"x\">t</div>");
    // Boolean attributes are written bare, whatever value a template gave.
    std::string booleans = "<input async autoplay checked controls defer disabled hidden ismap loop multiple muted "
                           "novalidate readonly required seamless todo dontFetch>";
    EXPECT_EQ(serialize(parse(booleans).root), booleans);
    EXPECT_EQ(serialize(parse("<input hidden=\"x\" value=\"\">").root), "<input hidden value=\"\">");
}

TEST_F(TemplateParserTest, AttributesTheTableDoesNotKnowAreWrittenAsTheTemplateNamesThem)
{
    // Written under the row they share, they all came out as `data-* ="..."`.
    const std::string menu = "<nav id=\"menu\" aria-label=\"Main\" role=\"navigation\"><a data-theme=\"dark\" "
                             "hre=\"/typo.html\" href=\"/a.html\">A</a></nav>";
    HtmlParseResult r = parse(menu);
    EXPECT_EQ(serialize(r.root), menu);
    // Whatever name the writer gives the row itself: that is for the
    // attributes wyn makes, not for the template's.
    StrList out = {};
    HtmlWriteOptions flag = {str_lit("data-flag")};
    html_serialize(arena, r.root, &out, &flag);
    EXPECT_EQ(s(str_list_join_plain(arena, &out)), menu);
    // Lookups by id still find them as the row they share.
    HtmlElement *nav = r.root->first_child;
    ASSERT_FALSE(html_is_none(nav));
    EXPECT_EQ(s(html_get_attribute(nav, HtmlAttr_Data)->values.first->string), "Main");
}

TEST_F(TemplateParserTest, TokensCoverEveryByteOfAnyInputAndUnclosedTagsNest)
{
    std::mt19937 random(7);
    const char alphabet[] = "<>/=\"'&;!-.1aZ \n\t\x80\xC3\xFF";
    for (int round = 0; round < 300; round += 1) {
        std::string source;
        int size = (int)(random() % 64);
        for (int i = 0; i < size; i += 1) source += alphabet[random() % (sizeof(alphabet) - 1)];
        HtmlTokenArray array = html_tokenize(arena, str(source.data(), source.size()));
        u64 at = 0;
        for (u64 i = 0; i < array.count; i += 1) {
            ASSERT_EQ(array.tokens[i].start, at) << source;
            ASSERT_GT(array.tokens[i].end, array.tokens[i].start) << source;
            at = array.tokens[i].end;
        }
        EXPECT_EQ(at, source.size()) << source;
    }
    // More tokens than one chunk holds stay in order.
    std::string many;
    for (int i = 0; i < 5000; i += 1) many += "a ";
    HtmlTokenArray array = html_tokenize(arena, str(many.data(), many.size()));
    ASSERT_EQ(array.count, 10000u);
    EXPECT_EQ(array.tokens[9999].start, 9999u);
    EXPECT_EQ(array.tokens[4096].flags, (u32)HtmlToken_Identifier);

    // A hundred thousand unclosed tags.
    std::string unclosed;
    for (int i = 0; i < 100000; i += 1) unclosed += "<div>";
    HtmlParseResult deep = parse(unclosed, 0x1F);
    // Only the top div's parent and the innermost div's empty content.
    EXPECT_EQ(dump_messages(deep, str(unclosed.data(), unclosed.size())),
              "1:2 Structure: div does not have an allowed parent, it should be one of theses: "
              "body;section;article;aside;footer;header;nav;a;div;\n"
              "1:499998 div must not have empty content\n");
    HtmlElement *deepest = html_find_by_tag(deep.root, HtmlTag_Div, HtmlFind_Last);
    u64 depth = 0;
    for (HtmlElement *n = deepest; !html_is_none(n); n = n->parent) depth += 1;
    EXPECT_EQ(depth, 200000u);   // each div under the content node of the one before, then the document
    StrList out = {};
    html_serialize(arena, deep.root, &out, nullptr);
    EXPECT_EQ(out.total_size, 100000u * 11);
}

TEST_F(TemplateParserTest, DoctypeTitleParserFlagsAndMessagesInTemplateLayout)
{
    HtmlParseResult r = parse("<!DOCTYPE html>\n<html><head><title>A</title><title>B</title></head></html>");
    HtmlElement *doctype = r.root->first_child;
    EXPECT_EQ(doctype->tag->id, (u32)HtmlTag_DocType);
    EXPECT_EQ(doctype->offset, 2u);   // the word after "!"
    EXPECT_EQ(r.title, html_find_by_tag(r.root, HtmlTag_Title, 0));
    EXPECT_EQ(s(r.root->text), "<!DOCTYPE html>\n<html><head><title>A</title><title>B</title></head></html>");
    EXPECT_EQ(doctype->parser_flags, (u64)HtmlParserFlag_Identifier);

    HtmlParseResult f = parse("<p>a 1.5</p><script>x</script>");
    HtmlElement *p = f.root->first_child;
    EXPECT_EQ(p->first_child->first_child->parser_flags, (u64)HtmlParserFlag_Number);   // the run's last token
    EXPECT_EQ(p->first_child->first_child->offset, 5u);
    EXPECT_EQ(p->next->parser_flags, (u64)(HtmlParserFlag_Identifier | HtmlParserFlag_RawText));
    HtmlParseResult q = parse("<p>'a' \"b\"</p>");
    EXPECT_EQ(q.root->first_child->first_child->first_child->parser_flags,
              (u64)(HtmlParserFlag_String | HtmlParserFlag_DoubleQuoted));

    std::string source = "<div>\n  <p>x</q>\n</div>";
    HtmlParseResult mismatched = parse(source);
    Str text = diag_format_template(arena, &mismatched.diagnostics, str_lit("/site/menu.html"), str(source.data(), source.size()));
    EXPECT_EQ(s(text), "error: \ntoken: The tag name \"p\" has no matching closing tag name. You may have an "
                              "opening tag without matching closing one.\n/site/menu.html:2:9\n"
                              // The mismatch closed the div too, so its closing tag is stray.
                              "error: \ntoken: Unexpected \"</\" token.\n/site/menu.html:3:1\n"
                              "error: \ntoken: Unexpected \"div\" token.\n/site/menu.html:3:3\n"
                              "error: \ntoken: Unexpected \">\" token.\n/site/menu.html:3:6\n");
    Diagnostic *d = mismatched.diagnostics.first;
    const HtmlElement *marker = (const HtmlElement *)d->node;
    EXPECT_EQ(marker->type, (u32)HtmlNode_Marker);
    EXPECT_EQ(s(marker->text), "q");
    EXPECT_EQ(marker->parent, &html_none);
    EXPECT_EQ(d->level, (u32)DiagLevel_Error);
}

TEST_F(TemplateParserTest, RawTextKeepsEveryTokenUntilItsOwnClosingTag)
{
    std::string code = "if (a < b) { x = \"</b>\"; } </scriptx>";
    HtmlParseResult r = parse("<script>" + code + "</script><p>after</p>");
    EXPECT_EQ(r.diagnostics.count, 0u);
    HtmlElement *content = r.root->first_child->first_child;
    std::string joined;
    for (HtmlElement *t = content->first_child; !html_is_none(t); t = t->next) {
        EXPECT_EQ(t->type, (u32)HtmlNode_Text);
        joined += s(t->text);
    }
    EXPECT_EQ(joined, code);
    EXPECT_GT(content->child_count, 20u);   // one node per token
    EXPECT_EQ(dump_node(r.root->first_child->next), "p{\"after\"}");

    // The tree outlives the caller's buffer.
    std::string buffer = "<p class=\"k\">text</p>";
    HtmlTokenArray tokens = html_tokenize(arena, str(buffer.data(), buffer.size()));
    HtmlParseResult kept = html_build_tree(arena, str_lit("t"), str(buffer.data(), buffer.size()), tokens, 0);
    for (char &c : buffer) c = '#';
    EXPECT_EQ(dump_tree(kept), "p[class=k]{\"text\"}");
}

