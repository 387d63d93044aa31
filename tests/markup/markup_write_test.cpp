// The markup writer: generated trees written as markup parse back to the
// same structure (elements, header keys and values, link targets, the
// texts of labels and lines), whatever the texts hold.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "markup/markup_write.h"
#include "markup/parser.h"

namespace {

struct WriteTest : ::testing::Test {
    Arena *arena = arena_alloc(GiB(1), MiB(1));
    ~WriteTest() override { arena_release(arena); }

    MarkupNode *element(u32 kind, u8 number = 0)
    {
        Str name = markup_kind_table[kind].name;
        MarkupNode *n = node_new(arena, NodeClass_Element, 0, name, name, 0);
        n->number = number;
        return n;
    }
    MarkupNode *text(const std::string &s, u64 flags = 0)
    {
        Str copy = str_copy(arena, Str{s.data(), s.size()});
        return node_new(arena, NodeClass_Text, flags, copy, copy, 0);
    }
    MarkupNode *header(MarkupNode *context, const char *key, MarkupNode *value)
    {
        Str k = str_from_cstring(key);
        MarkupNode *f = node_new(arena, NodeClass_HeaderField, 0, k, k, 0);
        node_append_child(f, value);
        node_append_child(context, f);
        return f;
    }
    MarkupNode *parse(Str source)
    {
        return markup_parse(arena, source, nullptr).root;
    }
};

// One line per element, header field and run of text: kinds, keys and the
// joined texts, without offsets or the cutting into words. The table of
// contents is the parser's own addition.
void shape(const MarkupNode *node, int depth, std::string *out)
{
    std::string runs;
    for (const MarkupNode *c = node->first_child; !node_is_nil(c); c = c->next) {
        if (c->node_class == NodeClass_Text) {
            runs.append(c->name.str, c->name.size);
            runs.append(c->space_after, ' ');
            continue;
        }
        if (!runs.empty()) {
            while (!runs.empty() && runs.back() == ' ') runs.pop_back();
            *out += std::string(depth * 2, ' ') + "text " + runs + "\n";
            runs.clear();
        }
        if (node_is_element(c, MarkupKind_Toc)) continue;
        std::string name(c->name.str, c->name.size);
        if (c->node_class == NodeClass_HeaderField) name = "field " + name;
        if (node_is_element(c, MarkupKind_Heading)) name += " #" + std::to_string(c->number);
        *out += std::string(depth * 2, ' ') + name + "\n";
        shape(c, depth + 1, out);
    }
    while (!runs.empty() && runs.back() == ' ') runs.pop_back();
    if (!runs.empty()) *out += std::string(depth * 2, ' ') + "text " + runs + "\n";
}

std::string shape_of(const MarkupNode *root)
{
    std::string out;
    shape(root, 0, &out);
    return out;
}

} // namespace

TEST_F(WriteTest, EscapedTextComesBackPlainAndGeneratedIndexTreesRoundTrip)
{
    // Each case is written and parsed back as a heading's text, where it
    // opens a line, and inside a link's label.
    const char *cases[] = {"a)b",   "(unclosed", "snake_case and _strong_", "`code`", "[x] [#2] [*1]", "say \"hi)\" now",
                           "don't 'quote", "back\\slash", "a | b", "a // b", "a --- b", "~{raw}~", "x;y", ";x;y",
                           "tab\tin"};
    for (const char *c : cases) {
        MarkupNode *root = node_new(arena, NodeClass_Document, 0, str_empty(), str_empty(), 0);
        MarkupNode *heading = element(MarkupKind_Heading);
        node_append_child(heading, text(c));
        node_append_child(root, heading);
        MarkupNode *list = element(MarkupKind_ListUnordered);
        node_append_child(heading, list);
        MarkupNode *item = element(MarkupKind_ListItem);
        MarkupNode *link = element(MarkupKind_LinkFile);
        node_append_child(link, text("/notes/a.wyn", NodeFlag_DoubleQuoted | NodeFlag_ClosedString));
        MarkupNode *desc = element(MarkupKind_Desc);
        node_append_child(desc, text(c));
        node_append_child(link, desc);
        node_append_child(item, link);
        node_append_child(list, item);
        node_append_child(list, element(MarkupKind_ListItem));   // an empty item after it
        Str written = markup_write(arena, root);
        std::string expected = shape_of(root);
        // A tab is one blank for the parser.
        for (size_t tab = expected.find('\t'); tab != std::string::npos; tab = expected.find('\t')) expected[tab] = ' ';
        EXPECT_EQ(shape_of(parse(written)), expected) << "label: " << c << "\nwritten:\n" << std::string(written.str, written.size);
    }

    const u32 seed = 20260515;
    std::mt19937 random(seed);
    const std::string alphabet = "abcXYZ019 )(_`[]\"'|/-\\~{};.,:#*!?<>=%&";
    auto pick = [&](size_t n) { return (size_t)(random() % n); };
    for (int round = 0; round < 300; round += 1) {
        MarkupNode *root = node_new(arena, NodeClass_Document, 0, str_empty(), str_empty(), 0);
        MarkupNode *context = element(MarkupKind_ContextDocument);
        node_append_child(root, context);
        header(context, "title", text("Home page"));
        header(context, "creation_date", text("2026-5-14"));
        header(context, "output_path", text("\"/site/local/html/index.html\"", NodeFlag_DoubleQuoted | NodeFlag_ClosedString));
        header(context, "toc", text("none"));
        MarkupNode *heading = element(MarkupKind_Heading, 2);
        node_append_child(heading, text("Complete file list"));
        node_append_child(root, heading);
        MarkupNode *list = element(MarkupKind_ListUnordered);
        size_t items = pick(6);
        // An empty list has no line to be written on: a site without
        // documents gets none.
        if (items) node_append_child(heading, list);
        for (size_t i = 0; i < items; i += 1) {
            // A title: letters and marks, single or double blanks inside,
            // none at the ends (titles are trimmed).
            std::string title;
            size_t length = 1 + pick(24);
            for (size_t k = 0; k < length; k += 1) title += alphabet[pick(alphabet.size())];
            while (!title.empty() && title.front() == ' ') title.erase(0, 1);
            while (!title.empty() && title.back() == ' ') title.pop_back();
            if (title.empty()) title = "t";
            MarkupNode *item = element(MarkupKind_ListItem);
            std::string path = "/wyn_files/n" + std::to_string(i) + "/doc_" + std::to_string(pick(100)) + ".wyn";
            if (pick(4) == 0) {
                // A path with a blank cannot be a link: listed by name.
                node_append_child(item, text(title));
            } else {
                MarkupNode *link = element(MarkupKind_LinkFile);
                node_append_child(link, text(path, NodeFlag_DoubleQuoted | NodeFlag_ClosedString));
                MarkupNode *desc = element(MarkupKind_Desc);
                node_append_child(desc, text(title));
                node_append_child(link, desc);
                node_append_child(item, link);
            }
            node_append_child(list, item);
        }
        Str written = markup_write(arena, root);
        ASSERT_EQ(shape_of(parse(written)), shape_of(root))
            << "seed " << seed << ", round " << round << "\nwritten:\n" << std::string(written.str, written.size);
    }
}

