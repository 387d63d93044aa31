// Serialized template trees read back by a parser nobody here wrote:
// Python's standard html.parser must see the elements, attributes and text
// of the tree wyn built.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "tree_dump.h"

static std::string lower(std::string s)
{
    for (char &c : s) c = (char)char_to_lower((u8)c);
    return s;
}

static std::string escape(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

// The words of one value, cut as the script cuts the whole attribute.
static void value_words(std::string &line, bool style, Str value)
{
    std::string v = s(value);
    std::string word;
    auto flush = [&] {
        Str t = str_trim(str(word.data(), word.size()));
        if (t.size) line += " " + s(t);
        word.clear();
    };
    for (char c : v) {
        bool cut = style ? c == ';' : char_is_space((u8)c);
        if (cut) flush();
        else word += c;
    }
    flush();
}

// The events a parser should report for wyn's tree, in the script's form.
static std::string tree_events(HtmlElement *root)
{
    std::string out, text;
    auto flush = [&] {
        if (!text.empty()) out += "text " + escape(text) + "\n";
        text.clear();
    };
    auto name_of = [](HtmlElement *e) { return lower(s(e->tag->id ? e->tag->name : e->name)); };
    HtmlElement *node = root;
    for (;;) {
        if (node->type == HtmlNode_Text) text += s(node->text);
        if (node->type == HtmlNode_Element) {
            flush();
            if (node->tag->id == HtmlTag_DocType) {
                out += "decl DOCTYPE";
                for (HtmlAttributeNode *a = node->attributes->first; a; a = a->next)
                    out += " " + s(a->attribute.info->name);
                out += "\n";
            } else {
                out += "start " + name_of(node) + "\n";
                for (HtmlAttributeNode *a = node->attributes->first; a; a = a->next) {
                    std::string line = "attr " + lower(s(a->attribute.info->name));
                    if (a->attribute.info->type != HtmlAttrType_Boolean)
                        for (StrNode *v = a->attribute.values.first; v; v = v->next)
                            value_words(line, a->attribute.info->id == HtmlAttr_Style, v->string);
                    out += line + "\n";
                }
            }
        }
        if (!html_is_none(node->first_child)) {
            node = node->first_child;
            continue;
        }
        for (;;) {
            if (node->type == HtmlNode_Element && !html_tag_is_void(node->tag)) {
                flush();
                out += "end " + name_of(node) + "\n";
            }
            if (node == root) {
                flush();
                return out;
            }
            if (!html_is_none(node->next)) {
                node = node->next;
                break;
            }
            node = node->parent;
        }
    }
}

static std::string python_events(const std::string &html)
{
    char path[] = "/tmp/wyn-roundtrip-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return "cannot make a temporary file";
    if (write(fd, html.data(), html.size()) != (ssize_t)html.size()) return "cannot write the temporary file";
    close(fd);
    std::string command = std::string("python3 ") + WYN_SOURCE_DIR + "/tests/html/html_roundtrip.py " + path;
    std::string out;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return "cannot start python3";
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof(buffer), pipe)) > 0;) out.append(buffer, n);
    int status = pclose(pipe);
    unlink(path);
    if (status != 0) return "python3 failed: " + out;
    return out;
}

// Templates of every kind a site has (tests/html/roundtrip/): a head, a
// menu, body content of many kinds, and upper-case tags, which come back
// in the table's case (attribute names are case-sensitive).
TEST(HtmlRoundTrip, PythonsParserSeesTheTreeWynBuilt)
{
    Arena *arena = arena_alloc(MiB(16), KiB(64));
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(std::string(WYN_SOURCE_DIR) + "/tests/html/roundtrip"))
        names.push_back(entry.path().string());
    std::sort(names.begin(), names.end());
    ASSERT_EQ(names.size(), 4u);
    for (const std::string &name : names) {
        std::string source = golden_read_file(name);
        Str src = str(source.data(), source.size());
        HtmlParseResult r = html_parse_template(arena, src, str_lit("t.html"), HtmlParse_Quiet);
        EXPECT_EQ(dump_messages(r, src), "") << name;   // well-formed by wyn's rules
        StrList out = {};
        html_serialize(arena, r.root, &out, nullptr);
        std::string html = s(str_list_join_plain(arena, &out));
        std::string expected = tree_events(r.root);
        EXPECT_GT(expected.size(), 100u);
        EXPECT_EQ(python_events(html), expected) << name << "\n" << html;
    }
    arena_release(arena);
}
