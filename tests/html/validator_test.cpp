#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "tree_dump.h"

static const char *parent_message = "Structure: %s does not have an allowed parent, it should be one of theses: %s\n";

static std::string parent_error(const char *at, const char *name, const char *parents)
{
    char buffer[512];
    snprintf(buffer, sizeof(buffer), parent_message, name, parents);
    return std::string(at) + " " + buffer;
}

// Runs `call` with standard output going to a file, and returns what it wrote.
template <typename F>
static std::string capture_stdout(F call)
{
    fflush(stdout);
    char path[] = "/tmp/wyn-stdout-XXXXXX";
    int fd = mkstemp(path);
    int saved = dup(1);
    dup2(fd, 1);
    call();
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string out;
    lseek(fd, 0, SEEK_SET);
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof(buffer))) > 0;) out.append(buffer, (size_t)n);
    close(fd);
    unlink(path);
    return out;
}

struct ValidatorTest : ::testing::Test {
    Arena *arena = arena_alloc(MiB(64), KiB(64));
    ~ValidatorTest() override { arena_release(arena); }

    HtmlParseResult parse(const std::string &source, u32 options)
    {
        Str src = str_copy(arena, str(source.data(), source.size()));
        return html_parse_template(arena, src, str_lit("t.html"), options | HtmlParse_Quiet);
    }
    std::string messages(const std::string &source, u32 options)
    {
        return dump_messages(parse(source, options), str(source.data(), source.size()));
    }
};

TEST_F(ValidatorTest, ParentsAreCheckedOnlyWithTheirOption)
{
    std::string li = "<body><div><li>x</li></div></body>";
    EXPECT_EQ(messages(li, 0x01), "");
    EXPECT_EQ(messages(li, 0x11), parent_error("1:2", "body", "html;") + parent_error("1:13", "li", "ul;ol;"));
}

TEST_F(ValidatorTest, TopLevelAndNamedParents)
{
    // "root" allows the template's top level.
    EXPECT_EQ(messages("<html><head><title>t</title></head></html>", 0x11), "");
    EXPECT_EQ(messages("<p>x</p>", 0x11),
              parent_error("1:2", "p", "body;section;article;aside;footer;header;nav;div;span;"));
    EXPECT_EQ(messages("<span><p>x<span>y</span></p></span>", 0x11),
              parent_error("1:2", "span",
                           "body;section;article;aside;footer;header;nav;div;p;span;h1;h2;h3;h4;h5;h6;sup;td;th;li;"));
    std::string table = "<div><table><span>y</span></table></div>";
    EXPECT_EQ(messages(table, 0x11),
              parent_error("1:2", "div", "body;section;article;aside;footer;header;nav;a;div;") +
                  parent_error("1:14", "span",
                               "body;section;article;aside;footer;header;nav;div;p;span;h1;h2;h3;h4;h5;h6;sup;td;th;li;"));
    // Parent names are compared ignoring case; the closing tag keeps its case.
    EXPECT_EQ(messages("<UL><li>x</li></UL>", 0x11), parent_error("1:2", "UL", "body;section;article;aside;footer;header;nav;div;li;"));
    // A void element is checked like any other; `picture` has no row, so a
    // `source` inside one is an unknown parent.
    EXPECT_EQ(messages("<video><source src=\"a\"></video>", 0x11),
              parent_error("1:2", "video", "body;section;article;aside;footer;header;nav;div;"));
    EXPECT_EQ(messages("<picture><source></picture>", 0x11),
              parent_error("1:2", "picture", "") + parent_error("1:11", "source", "audio;video;picture;"));
}

TEST_F(ValidatorTest, ALastParentWithoutSemicolonStillCounts)
{
    // Some parent lists end without ";": their last name is a parent all the same.
    auto in_body = [](const std::string &inner) { return "<html><body>" + inner + "</body></html>"; };
    EXPECT_EQ(messages(in_body("<nav><footer>x</footer></nav>"), 0x11), "");
    EXPECT_EQ(messages(in_body("<table><tr><th><a href=\"x\">y</a></th></tr></table>"), 0x11), "");
    EXPECT_EQ(messages(in_body("<p><input></p>"), 0x11), "");
    // The same children elsewhere are reported with their whole list.
    EXPECT_EQ(messages(in_body("<div><footer>x</footer></div>"), 0x11),
              parent_error("1:19", "footer", "body;section;article;aside;nav"));
    EXPECT_EQ(messages(in_body("<div><input></div>"), 0x11), parent_error("1:19", "input", "form;p"));
    // A name is matched whole: the last "th" is not "thead".
    EXPECT_NE(messages(in_body("<table><thead><a href=\"x\">y</a></thead></table>"), 0x11).find("a does not"),
              std::string::npos);
}

TEST_F(ValidatorTest, HeadNeedsATitleSomewhereInItsContent)
{
    std::string source = "\n\n<html><head><meta charset=\"utf-8\"></head></html>";
    EXPECT_EQ(messages(source, 0x01), "1:1 document missing title\n");
    EXPECT_EQ(messages("<head><noscript><title>t</title></noscript></head>", 0x01), "");
    EXPECT_EQ(messages("<html><head></head><body><title>t</title></body></html>", 0x01),
              "1:1 document missing title\n1:9 head must not have empty content\n");
    EXPECT_EQ(messages("<head><meta></head>", 0x00), "");
}

TEST_F(ValidatorTest, MissingTitlesComeBeforeTheHeadsOtherMessagesInDocumentOrder)
{
    // The inner head has no title; the outer one has one after the inner head.
    std::string source = "<head><head><div></div></head><title>t</title></head>";
    EXPECT_EQ(messages(source, 0x01), "1:1 document missing title\n1:15 div must not have empty content\n");
    std::string two = "<head><div></div></head><head><span></span></head>";
    EXPECT_EQ(messages(two, 0x01), "1:1 document missing title\n1:9 div must not have empty content\n"
                                   "1:1 document missing title\n1:33 span must not have empty content\n");
    // Fifty thousand nested heads share the one title inside the innermost.
    std::string deep;
    for (int i = 0; i < 50000; i += 1) deep += "<head>";
    deep += "<title>t</title>";
    EXPECT_EQ(messages(deep, 0x01), "");
    std::string deep_untitled;
    for (int i = 0; i < 50000; i += 1) deep_untitled += "<head>";
    HtmlParseResult r = parse(deep_untitled, 0x01);
    EXPECT_EQ(r.diagnostics.count, 50001u);   // a missing title each, and the innermost is empty
}

TEST_F(ValidatorTest, EmptyContentUnlessTheRowAllowsIt)
{
    EXPECT_EQ(messages("<div></div>", 0x01), "1:3 div must not have empty content\n");
    EXPECT_EQ(messages("<div><p></p><table><tr><td></td></tr></table><br></div>", 0x01), "");
    EXPECT_EQ(messages("<ul>\n</ul>", 0x01), "");   // a blank line is content
}

TEST_F(ValidatorTest, UnknownTagsWithTheirOption)
{
    EXPECT_EQ(messages("<div><blink>x</blink></div>", 0x01), "");
    EXPECT_EQ(messages("<div><blink>x</blink></div>", 0x05), "1:8 blink unknown tag element\n");
    EXPECT_EQ(messages("<div><blink>x</blink></div>", 0x15),
              parent_error("1:2", "div", "body;section;article;aside;footer;header;nav;a;div;") +
                  "1:8 blink unknown tag element\n" + parent_error("1:7", "blink", ""));
}

TEST_F(ValidatorTest, MismatchedElementsHaveNoContentNode)
{
    EXPECT_EQ(messages("<p>x</q>", 0x01),
              "1:7 The tag name \"p\" has no matching closing tag name. You may have an opening tag without matching "
              "closing one.\n1:2 Structure (internal): p does not have correct internal nodes which will cause critical "
              "errors\n");
    // Without a content node an element has no content either.
    EXPECT_EQ(messages("<div>x</q>", 0x01),
              "1:9 The tag name \"div\" has no matching closing tag name. You may have an opening tag without matching "
              "closing one.\n1:2 Structure (internal): div does not have correct internal nodes which will cause "
              "critical errors\n1:3 div must not have empty content\n");
}

TEST_F(ValidatorTest, NodesThatNoParserMakes)
{
    // Unknown-attribute nodes and elements placed after them can only come
    // from a caller's own tree.
    HtmlParseResult r = parse("<div><p>x</p></div>", HtmlParse_Quiet);
    HtmlElement *content = r.root->first_child->first_child;
    HtmlElement *odd = html_node_create(arena, HtmlNode_UnknownAttribute, 0, str_lit("onclick"), str_lit("onclick"), 40);
    html_prepend_child(content, odd);
    r.flags = 0x01;
    html_validate(arena, &r, str_empty(), str_empty());
    ASSERT_EQ(r.diagnostics.count, 1u);
    EXPECT_EQ(dump_str(r.diagnostics.first->text), "parsing failed, tag was encountered inside attribute node");
    EXPECT_EQ(r.diagnostics.first->offset, 7u);   // the p's name, plus one
    r.diagnostics = DiagnosticList{};
    r.flags = 0x09;
    html_validate(arena, &r, str_empty(), str_empty());
    ASSERT_EQ(r.diagnostics.count, 2u);
    EXPECT_EQ(dump_str(r.diagnostics.first->text), "onclick unknown attribute");
    EXPECT_EQ(r.diagnostics.first->offset, 41u);
    EXPECT_EQ(((const HtmlElement *)r.diagnostics.first->node)->type, (u32)HtmlNode_Marker);
}

TEST_F(ValidatorTest, LoadingLeavesTheMessagesToTheCaller)
{
    Str source = str_lit("<div>\n<p>x</q>\n</div>");
    HtmlParseResult loaded;
    std::string out = capture_stdout([&] { loaded = html_parse_template(arena, source, str_lit("/s/menu.html"), 0x01); });
    EXPECT_EQ(out, "");   // a template used by every page must not print once per page
    ASSERT_EQ(loaded.diagnostics.count, 5u);   // four from the parse, the p without content
    EXPECT_EQ(dump_str(loaded.diagnostics.first->text),
              "The tag name \"p\" has no matching closing tag name. You may have an opening tag "
              "without matching closing one.");
    EXPECT_EQ(dump_tree(loaded), "div{\"\n\" p!}");
    EXPECT_EQ(loaded.flags, 0x01u);

    HtmlParseResult empty;
    std::string nothing = capture_stdout([&] { empty = html_parse_template(arena, str_empty(), str_lit("e.html"), 0x01); });
    EXPECT_EQ(nothing, "");
    EXPECT_EQ(empty.root, &html_none);
    EXPECT_EQ(empty.title, &html_none);
    EXPECT_EQ(empty.diagnostics.count, 0u);
    EXPECT_EQ(empty.flags, 0x01u);
}

// The allowed parents come from the rows' texts: what the rows say shows in
// which parent messages a template gets. Here the inner element is allowed
// by its row (footer in nav, a in th, input in p) and only the outer one,
// which may not stand at the top, is reported; input in a div is not.
TEST_F(ValidatorTest, QuirkyParentRowsDecideWhichParentMessagesAppear)
{
    auto parent_messages = [&](const char *source) {
        HtmlParseResult r = html_parse_template(arena, str_from_cstring(source), str_lit("t.html"), 0x11);
        std::string out;
        for (Diagnostic *d = r.diagnostics.first; d; d = d->next) {
            std::string text(d->text.str, d->text.size);
            if (text.find("allowed parent") != std::string::npos) out += text.substr(0, text.find(" does")) + "@" + std::to_string(d->offset) + "\n";
        }
        return out;
    };
    EXPECT_EQ(parent_messages("<nav><footer>x</footer></nav>"), "Structure: nav@1\n");
    EXPECT_EQ(parent_messages("<table><tr><th><a>x</a></th></tr></table>"), "Structure: table@1\n");
    EXPECT_EQ(parent_messages("<p><input></p>"), "Structure: p@1\n");
    EXPECT_EQ(parent_messages("<div><input></div>"), "Structure: div@1\nStructure: input@6\n");
    EXPECT_EQ(parent_messages("<body><div><input></div></body>"), "Structure: body@1\nStructure: input@12\n");
    EXPECT_FALSE(html_tag_allows_parent(HtmlTag_Div, 0));   // an unknown tag is no parent
    EXPECT_FALSE(html_tag_allows_parent(0, HtmlTag_Div));
}
