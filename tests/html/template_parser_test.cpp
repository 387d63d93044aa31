#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "site/diagnostics.h"
#include "tree_dump.h"

typedef std::vector<std::pair<std::string, u32>> TokenDump;

static const char *tag_label_message = ". If inside a text, escape it with &lt;";

struct TemplateParserTest : ::testing::Test {
    Arena *arena = arena_alloc(MiB(64), KiB(64));
    ~TemplateParserTest() override { arena_release(arena); }

    TokenDump tokens(const std::string &source)
    {
        TokenDump out;
        Str src = str(source.data(), source.size());
        HtmlTokenArray array = html_tokenize(arena, src);
        for (u64 i = 0; i < array.count; i += 1)
            out.push_back({source.substr(array.tokens[i].start, array.tokens[i].end - array.tokens[i].start),
                           array.tokens[i].flags});
        return out;
    }
    HtmlParseResult parse(const std::string &source, u32 options = 0)
    {
        Str src = str_copy(arena, str(source.data(), source.size()));
        return html_parse_template(arena, src, str_lit("t.html"), options | HtmlParse_Quiet);
    }
    std::string tree(const std::string &source, u32 options = 0) { return dump_tree(parse(source, options)); }
    std::string messages(const std::string &source, u32 options = 0)
    {
        return dump_messages(parse(source, options), str(source.data(), source.size()));
    }
};

//- tokenizer

TEST_F(TemplateParserTest, TokenizerBlanksNewlinesAndSymbols)
{
    EXPECT_EQ(tokens(" \t\r\v\n\f"), (TokenDump{{" \t\r\v", 0x40}, {"\n", 0x80}, {"\f", 0x800}}));
    EXPECT_EQ(tokens("</a/><=>"),
              (TokenDump{{"</", 0x10}, {"a", 0x2}, {"/>", 0x10}, {"<", 0x10}, {"=", 0x10}, {">", 0x10}}));
    EXPECT_EQ(tokens("x<"), (TokenDump{{"x", 0x2}, {"<", 0x10}}));
    EXPECT_EQ(tokens("/"), (TokenDump{{"/", 0x8}}));
    EXPECT_TRUE(tokens("").empty());
}

TEST_F(TemplateParserTest, TokenizerIdentifiersAndNumbers)
{
    EXPECT_EQ(tokens("data-x(1)?[a]!"), (TokenDump{{"data-x(1)?[a]!", 0x2}}));
    // A UTF-8 lead byte continues a name, a continuation byte ends it.
    EXPECT_EQ(tokens("caf\xC3\xA9 \xE2\x82\xAC"),
              (TokenDump{{"caf\xC3", 0x2}, {"\xA9", 0x800}, {" ", 0x40}, {"\xE2", 0x2}, {"\x82", 0x800}, {"\xAC", 0x800}}));
    EXPECT_EQ(tokens("1.5em 100vh -2px .5 3.14.15"),
              (TokenDump{{"1.5em", 0x1}, {" ", 0x40}, {"100vh", 0x1}, {" ", 0x40}, {"-2px", 0x1}, {" ", 0x40},
                         {".5", 0x1}, {" ", 0x40}, {"3.14.15", 0x1}}));
    EXPECT_EQ(tokens("-a"), (TokenDump{{"-", 0x8}, {"a", 0x2}}));
    EXPECT_EQ(tokens("h1"), (TokenDump{{"h1", 0x2}}));
}

TEST_F(TemplateParserTest, TokenizerEntitiesAndPunctuation)
{
    EXPECT_EQ(tokens("&lt;&gt;&amp;&quot;&apos;&#47;&#45;"),
              (TokenDump{{"&lt;", 0x4008}, {"&gt;", 0x4008}, {"&amp;", 0x4008}, {"&quot;", 0x4008},
                         {"&apos;", 0x4008}, {"&#47;", 0x4008}, {"&#45;", 0x4008}}));
    // Without its semicolon lt is no entity.
    EXPECT_EQ(tokens("&lt"), (TokenDump{{"&", 0x8}, {"lt", 0x2}}));
    EXPECT_EQ(tokens("&&lt;"), (TokenDump{{"&&", 0x8}, {"lt", 0x2}, {";", 0x8}}));
    EXPECT_EQ(tokens("&nbsp;"), (TokenDump{{"&", 0x8}, {"nbsp", 0x2}, {";", 0x8}}));
    EXPECT_EQ(tokens("!#$%&*{|}~,@"),
              (TokenDump{{"!", 0x8}, {"#$%&*{|}~", 0x8}, {",", 0x8}, {"@", 0x8}}));
    EXPECT_EQ(tokens("!--"), (TokenDump{{"!--", 0x8}}));
    EXPECT_EQ(tokens(std::string("\x00\x7F\x80", 3)), (TokenDump{{std::string(1, '\0'), 0x800}, {"\x7F", 0x800}, {"\x80", 0x800}}));
}

TEST_F(TemplateParserTest, TokenizerStringsWholeBrokenAndUnclosed)
{
    EXPECT_EQ(tokens("\"a b\"'c'"), (TokenDump{{"\"a b\"", 0x404}, {"'c'", 0x104}}));
    EXPECT_EQ(tokens("\"a'b\""), (TokenDump{{"\"a'b\"", 0x404}}));
    // Cut short by "<": only the quote, and scanning goes on after it.
    EXPECT_EQ(tokens("\"a<b"), (TokenDump{{"\"", 0x1404}, {"a", 0x2}, {"<", 0x10}, {"b", 0x2}}));
    EXPECT_EQ(tokens("'a<b"), (TokenDump{{"'", 0x304}, {"a", 0x2}, {"<", 0x10}, {"b", 0x2}}));
    // Cut short by the end: up to the end, broken for both quotes.
    EXPECT_EQ(tokens("\"abc"), (TokenDump{{"\"abc", 0x1404}}));
    EXPECT_EQ(tokens("'abc"), (TokenDump{{"'abc", 0x1104}}));
    EXPECT_EQ(tokens("\""), (TokenDump{{"\"", 0x1404}}));
}

TEST_F(TemplateParserTest, TokensCoverEveryByteOfAnyInput)
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
}

TEST_F(TemplateParserTest, TokensLargerThanOneChunkStayInOrder)
{
    std::string source;
    for (int i = 0; i < 5000; i += 1) source += "a ";
    HtmlTokenArray array = html_tokenize(arena, str(source.data(), source.size()));
    ASSERT_EQ(array.count, 10000u);
    EXPECT_EQ(array.tokens[9999].start, 9999u);
    EXPECT_EQ(array.tokens[4096].flags, (u32)HtmlToken_Identifier);
}

//- tree builder: elements, attributes, text

TEST_F(TemplateParserTest, ElementsAttributesAndText)
{
    EXPECT_EQ(tree("<p class=\"a b\">x</p>"), "p[class=a|b]{\"x\"}");
    EXPECT_EQ(tree("<p class=a class='b'>x y\n z</p>"), "p[class=a,class=b]{\"x y\n z\"}");
    EXPECT_EQ(tree("<input disabled value = \"1\" width=1.5em>"), "input[disabled,value=1,width=1.5em]{}");
    EXPECT_EQ(tree("<a href=\"a b\" id='x'>t</a>"), "a[href=a b,id=x]{\"t\"}");   // single-valued: one value
    EXPECT_EQ(tree("<DIV Class=\"k\"></DIV>"), "DIV[data-* =k]{}");   // attribute names are case-sensitive
    EXPECT_EQ(tree("<div onclick=\"go()\"></div>"), "div[data-* =go()]{}");
    EXPECT_EQ(tree("<x-widget></x-widget>"), "x-widget{}");
    EXPECT_EQ(tree("<p>\xC3\xA9t\xC3\xA9 &lt;b&gt; &amp</p>"), "p{\"\xC3\xA9t\xC3\xA9 &lt;b&gt; &amp\"}");
    EXPECT_EQ(tree(std::string("<p>\0\xFF\x80</p>", 10)), std::string("p{\"\0\xFF\x80\"}", 8));
    EXPECT_EQ(messages("<p class=\"a b\">x</p>"), "");
}

TEST_F(TemplateParserTest, StyleValuesAreCutIntoDeclarationsNotAtBlanks)
{
    HtmlParseResult r = parse("<p style=\"color: red; margin:0;\">x</p>");
    EXPECT_EQ(dump_tree(r), "p[style=color: red|margin:0]{\"x\"}");
    StrList out = {};
    html_serialize(arena, r.root, &out, nullptr);
    EXPECT_EQ(dump_str(str_list_join_plain(arena, &out)), "<p style=\"color: red; margin:0;\">x</p>");
}

TEST_F(TemplateParserTest, VoidAndSelfClosingStartTags)
{
    // "/>" closes a void element and leaves any other open.
    EXPECT_EQ(tree("<div/>text</div>"), "div{\"text\"}");
    EXPECT_EQ(tree("<div><br/>x<br>y<img src=\"a.png\"/></div>"), "div{br{} \"x\" br{} \"y\" img[src=a.png]{}}");
    EXPECT_EQ(messages("<div><br/>x<br>y</div>"), "");
    // An unquoted value is one token: "a.png" is three.
    EXPECT_EQ(tree("<img src=a.png>"), "img[src=a,data-* ]{}");
    EXPECT_EQ(messages("<img src=a.png>"), "1:11 Unexpected \".\" token.\n");
}

TEST_F(TemplateParserTest, DoctypeTitleAndParserFlags)
{
    HtmlParseResult r = parse("<!DOCTYPE html>\n<html><head><title>A</title><title>B</title></head></html>");
    EXPECT_EQ(dump_tree(r), "!DOCTYPE[html]{} html{head{title{\"A\"} title{\"B\"}}}");
    HtmlElement *doctype = r.root->first_child;
    EXPECT_EQ(doctype->tag->id, (u32)HtmlTag_DocType);
    EXPECT_EQ(doctype->offset, 2u);   // the word after "!"
    EXPECT_EQ(r.title, html_find_by_tag(r.root, HtmlTag_Title, 0));
    EXPECT_EQ(dump_str(r.root->text), "<!DOCTYPE html>\n<html><head><title>A</title><title>B</title></head></html>");
    EXPECT_EQ(doctype->parser_flags, (u64)HtmlParserFlag_Identifier);

    HtmlParseResult f = parse("<p>a 1.5</p><script>x</script>");
    HtmlElement *p = f.root->first_child;
    EXPECT_EQ(p->first_child->first_child->parser_flags, (u64)HtmlParserFlag_Number);   // the run's last token
    EXPECT_EQ(p->first_child->first_child->offset, 5u);
    EXPECT_EQ(p->next->parser_flags, (u64)(HtmlParserFlag_Identifier | HtmlParserFlag_RawText));
    HtmlParseResult q = parse("<p>'a' \"b\"</p>");
    EXPECT_EQ(q.root->first_child->first_child->first_child->parser_flags,
              (u64)(HtmlParserFlag_String | HtmlParserFlag_DoubleQuoted));
}

TEST_F(TemplateParserTest, RawTextKeepsEveryTokenUntilItsOwnClosingTag)
{
    std::string code = "if (a < b) { x = \"</b>\"; } </scriptx>";
    HtmlParseResult r = parse("<script>" + code + "</script><p>after</p>");
    EXPECT_EQ(messages("<script>" + code + "</script><p>after</p>"), "");
    HtmlElement *script = r.root->first_child;
    HtmlElement *content = script->first_child;
    std::string joined;
    for (HtmlElement *t = content->first_child; !html_is_none(t); t = t->next) {
        EXPECT_EQ(t->type, (u32)HtmlNode_Text);
        joined += dump_str(t->text);
    }
    EXPECT_EQ(joined, code);
    EXPECT_GT(content->child_count, 20u);   // one node per token
    EXPECT_EQ(dump_node(script->next), "p{\"after\"}");
    // The closing name is compared as written in the start tag.
    EXPECT_EQ(tree("<Style>a</style></Style>"), "Style{\"a\" \"</\" \"style\" \">\"}");
}

TEST_F(TemplateParserTest, BlankLinesAroundTheTopLevelAreSkipped)
{
    EXPECT_EQ(tree("\n\n  <div></div>\n\n"), "div{}");
    EXPECT_EQ(messages("\n\n  <div></div>\n\n"), "");
    EXPECT_EQ(messages("hello world<div></div>!"),
              "1:1 Unexpected \"hello\" token.\n1:7 Unexpected \"world\" token.\n1:23 Unexpected \"!\" token.\n");
}

TEST_F(TemplateParserTest, TextReachingTheEndIsOneNode)
{
    EXPECT_EQ(tree("<p>abc def\n"), "p{\"abc def\n\"}");
    EXPECT_EQ(messages("<p>abc def\n"), "");
    EXPECT_EQ(tree("<div><div><div>"), "div{div{div{}}}");
}

//- tree builder: messages and recovery

TEST_F(TemplateParserTest, BrokenAttributeStrings)
{
    std::string doubled = "<a href=\"x<y\">t</a>";
    EXPECT_EQ(messages(doubled),
              "1:9 a's Attribute value has string broken.\n1:11 Unexpected \"<\" token.\n1:13 Unexpected \"\"\" token.\n");
    EXPECT_EQ(tree(doubled), "a[href,data-* ,data-* ]{\"t\"}");
    // Single quotes are not reported broken; the value is the bare quote,
    // which unquotes to one empty value.
    std::string single = "<a href='x<y'>t</a>";
    EXPECT_EQ(messages(single), "1:11 Unexpected \"<\" token.\n1:13 Unexpected \"'\" token.\n");
    EXPECT_EQ(tree(single), "a[href=,data-* ,data-* ]{\"t\"}");
    EXPECT_EQ(messages("<p class=\"open>x</p>"), "1:10 p's Attribute value has string broken.\n");
    EXPECT_EQ(messages("<p class=\"never closed"), "1:10 p's Attribute value has string broken.\n");
}

TEST_F(TemplateParserTest, StrayTokensInsideAStartTag)
{
    EXPECT_EQ(messages("<p 5 ,>x</p>"), "1:4 Unexpected \"5\" token.\n1:6 Unexpected \",\" token.\n");
    EXPECT_EQ(tree("<p 5 ,>x</p>"), "p{\"x\"}");
    // The whole next token is the value, whatever it is.
    EXPECT_EQ(tree("<p id=>x</p>"), "p[id=>,data-* ,data-* ]{}");
    EXPECT_EQ(messages("<p id=>x</p>"), "1:9 Unexpected \"</\" token.\n");
}

TEST_F(TemplateParserTest, LessThanThatStartsNoTag)
{
    std::string expected = std::string("1:6 Tag label expected after '<' symbol, was: 3") + tag_label_message + "\n";
    EXPECT_EQ(messages("<p>a < 3</p>"), std::string("1:6 Tag label expected after '<' symbol, was:  ") + tag_label_message + "\n");
    EXPECT_EQ(tree("<p>a < 3</p>"), "p{\"a \" \" 3\"}");
    EXPECT_EQ(messages("<p>a <3</p>"), expected);
    // A lone "<" at the very end names nothing.
    EXPECT_EQ(messages("<p>a<"), std::string("1:5 Tag label expected after '<' symbol, was: ") + tag_label_message + "\n");
    // Comments and a lower-case doctype are not understood.
    EXPECT_EQ(messages("<!-- c -->"), std::string("1:1 Tag label expected after '<' symbol, was: !--") + tag_label_message +
                                          "\n1:2 Unexpected \"!--\" token.\n1:6 Unexpected \"c\" token.\n1:8 Unexpected \"--\" token.\n"
                                          "1:10 Unexpected \">\" token.\n");
    EXPECT_EQ(messages("<!doctype html>").substr(0, 56), "1:1 Tag label expected after '<' symbol, was: !doctype. ");
    // With option 0x40 the "<" becomes text and nothing is reported.
    EXPECT_EQ(messages("<p>a <3</p>", HtmlParse_LenientLessThan), "");
    EXPECT_EQ(tree("<p>a <3</p>", HtmlParse_LenientLessThan), "p{\"a \" \"&lt;\" \"3\"}");
}

TEST_F(TemplateParserTest, ClosingTagMismatchClosesTheEnclosingElementToo)
{
    const char *mismatch = " has no matching closing tag name. You may have an opening tag without matching closing one.\n";
    EXPECT_EQ(messages("<DIV>x</div>"), std::string("1:9 The tag name \"DIV\"") + mismatch);
    EXPECT_EQ(tree("<DIV>x</div>"), "DIV!");
    std::string nested = "<div><p>x</span>y</div>";
    EXPECT_EQ(messages(nested), std::string("1:12 The tag name \"p\"") + mismatch +
                                    "1:17 Unexpected \"y\" token.\n1:18 Unexpected \"</\" token.\n"
                                    "1:20 Unexpected \"div\" token.\n1:23 Unexpected \">\" token.\n");
    EXPECT_EQ(tree(nested), "div{p!}");
    // Inside two levels the third goes on receiving content.
    EXPECT_EQ(tree("<body><div><p>x</b>y</body>"), "body{div{p!} \"y\"}");
    // The token after the name is not examined: a blank before ">" leaves
    // the ">" to the enclosing element.
    EXPECT_EQ(tree("<p><span>a</span >b</p>"), "p{span{\"a\"} \">b\"}");
    // A closing tag cut off by the end.
    EXPECT_EQ(tree("<p>a</"), "p!");
    EXPECT_EQ(tree("<p>a</p"), "p{\"a\"}");
}

TEST_F(TemplateParserTest, MessagesAreLocatedAndPrintedInTemplateLayout)
{
    std::string source = "<div>\n  <p>x</q>\n</div>";
    HtmlParseResult r = parse(source);
    Str text = diag_format_template(arena, &r.diagnostics, str_lit("/site/menu.html"), str(source.data(), source.size()));
    EXPECT_EQ(dump_str(text), "error: \ntoken: The tag name \"p\" has no matching closing tag name. You may have an "
                              "opening tag without matching closing one.\n/site/menu.html:2:9\n"
                              // The mismatch closed the div too, so its closing tag is stray.
                              "error: \ntoken: Unexpected \"</\" token.\n/site/menu.html:3:1\n"
                              "error: \ntoken: Unexpected \"div\" token.\n/site/menu.html:3:3\n"
                              "error: \ntoken: Unexpected \">\" token.\n/site/menu.html:3:6\n");
    Diagnostic *d = r.diagnostics.first;
    const HtmlElement *marker = (const HtmlElement *)d->node;
    EXPECT_EQ(marker->type, (u32)HtmlNode_Marker);
    EXPECT_EQ(dump_str(marker->text), "q");
    EXPECT_EQ(marker->parent, &html_none);
    EXPECT_EQ(d->level, (u32)DiagLevel_Error);
}

TEST_F(TemplateParserTest, TheTreeOutlivesTheCallersBuffer)
{
    std::string source = "<p class=\"k\">text</p>";
    HtmlTokenArray tokens = html_tokenize(arena, str(source.data(), source.size()));
    HtmlParseResult r = html_build_tree(arena, str_lit("t"), str(source.data(), source.size()), tokens, 0);
    for (char &c : source) c = '#';
    EXPECT_EQ(dump_tree(r), "p[class=k]{\"text\"}");
}

TEST_F(TemplateParserTest, HundredThousandUnclosedTags)
{
    std::string source;
    for (int i = 0; i < 100000; i += 1) source += "<div>";
    HtmlParseResult r = parse(source, 0x1F);
    // Only the top div's parent and the innermost div's empty content.
    EXPECT_EQ(dump_messages(r, str(source.data(), source.size())),
              "1:2 Structure: div does not have an allowed parent, it should be one of theses: "
              "body;section;article;aside;footer;header;nav;a;div;\n"
              "1:499998 div must not have empty content\n");
    HtmlElement *deepest = html_find_by_tag(r.root, HtmlTag_Div, HtmlFind_Last);
    u64 depth = 0;
    for (HtmlElement *n = deepest; !html_is_none(n); n = n->parent) depth += 1;
    EXPECT_EQ(depth, 200000u);   // each div under the content node of the one before, then the document
    StrList out = {};
    html_serialize(arena, r.root, &out, nullptr);
    EXPECT_EQ(out.total_size, 100000u * 11);
}

TEST_F(TemplateParserTest, AQuoteInsideASingleQuotedValueIsEscapedWhenWritten)
{
    HtmlParseResult r = parse("<div id='a\"b' title=\"x\">t</div>");
    StrList out = {};
    html_serialize(arena, r.root, &out, nullptr);
    Str html = str_list_join_plain(arena, &out);
    std::string written(html.str, html.size);
    // The value keeps its quote, and the page keeps its attributes apart.
    EXPECT_NE(written.find("id=\"a&quot;b\""), std::string::npos) << written;
    EXPECT_EQ(written.find("id=\"a\"b\""), std::string::npos) << written;
    EXPECT_NE(written.find("title=\"x\""), std::string::npos) << written;
}
