// The node tree: construction, linking, searches, and the invariants every
// mutation must keep.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "markup/document.h"
#include "markup_check.h"

namespace {

struct DocumentTest : ::testing::Test {
    Arena *arena = arena_alloc(MiB(8), KiB(64));
    ~DocumentTest() override { arena_release(arena); }

    MarkupNode *element(Str name, u64 offset = 0)
    {
        return node_new(arena, NodeClass_Element, 0, name, name, offset);
    }
};

std::string names(const MarkupNode *parent)
{
    std::string out;
    for (const MarkupNode *c = parent->first_child; !node_is_nil(c); c = c->next)
        out += std::string(c->name.str, c->name.size) + " ";
    return out;
}

TEST_F(DocumentTest, KnownElementNamesBecomeTheTableStringsAndMessagesCarryTheOffset)
{
    char heading[] = "heading";
    Str name = Str{heading, 7};
    MarkupNode *a = node_new(arena, NodeClass_Element, 0, name, name, 0);
    EXPECT_EQ(a->name.str, markup_kind_table[MarkupKind_Heading].name.str);
    EXPECT_EQ(a->text.str, markup_kind_table[MarkupKind_Heading].name.str);
    EXPECT_EQ(a->kind, (u32)MarkupKind_Heading);
    // With a different text both strings stay as given.
    MarkupNode *b = node_new(arena, NodeClass_Element, 0, name, str_empty(), 0);
    EXPECT_EQ(b->name.str, heading);
    EXPECT_EQ(b->text.size, 0u);
    // Text nodes are never looked up.
    MarkupNode *c = node_new(arena, NodeClass_Text, 0, name, name, 0);
    EXPECT_EQ(c->name.str, heading);

    DiagnosticList list = {};
    MarkupNode *anchor = node_new_message(arena, 42, 0x80, str_lit("]"));
    EXPECT_EQ(anchor->node_class, (u32)NodeClass_Message);
    EXPECT_EQ(anchor->parent, &markup_nil);
    diag_push(arena, &list, anchor, DiagLevel_Error, str_lit("x"));
    diag_push(arena, &list, &markup_nil, DiagLevel_Warning, str_lit("y"));
    ASSERT_EQ(list.count, 2u);
    EXPECT_EQ(list.first->offset, 42u);
    EXPECT_EQ(list.first->node, anchor);
    EXPECT_EQ(list.last->offset, 0u);
    EXPECT_EQ(list.max_level, 3u);
}

TEST_F(DocumentTest, AppendDetachAndPrependKeepTheInvariantsAndNilTakesNothing)
{
    MarkupNode *p = element(str_lit("paragraph"));
    MarkupNode *a = element(str_lit("a")), *b = element(str_lit("b")), *c = element(str_lit("c"));
    node_append_child(p, a);
    node_append_child(p, b);
    node_append_child(p, c);
    EXPECT_STREQ(markup_tree_check(p).fault, "");
    EXPECT_EQ(names(p), "a b c ");

    node_detach(b);
    EXPECT_STREQ(markup_tree_check(p).fault, "");
    EXPECT_EQ(names(p), "a c ");
    EXPECT_EQ(b->parent, &markup_nil);
    EXPECT_EQ(b->next, &markup_nil);
    EXPECT_EQ(b->prev, &markup_nil);

    node_detach(a);
    EXPECT_STREQ(markup_tree_check(p).fault, "");
    node_prepend_child(p, b);
    EXPECT_STREQ(markup_tree_check(p).fault, "");
    EXPECT_EQ(names(p), "b c ");

    node_detach(c);
    node_detach(b);
    EXPECT_STREQ(markup_tree_check(p).fault, "");
    EXPECT_EQ(p->child_count, 0u);
    EXPECT_EQ(p->first_child, &markup_nil);
    EXPECT_EQ(p->last_child, &markup_nil);

    MarkupNode *alone = element(str_lit("alone"));
    node_append_child(alone, &markup_nil);
    node_append_child(&markup_nil, alone);
    node_prepend_child(alone, nullptr);
    node_detach(&markup_nil);
    node_detach(alone);   // no parent
    EXPECT_EQ(alone->child_count, 0u);
    EXPECT_EQ(markup_nil.child_count, 0u);
    EXPECT_EQ(markup_nil.first_child, &markup_nil);
    EXPECT_EQ(alone->parent, &markup_nil);
}

struct SearchTree : DocumentTest {
    //  root
    //    heading@1
    //      paragraph@2
    //        list_item@3
    //      heading@4
    //        paragraph@5
    //    heading@6
    MarkupNode *root, *h1, *p2, *i3, *h4, *p5, *h6;
    void SetUp() override
    {
        root = node_new(arena, NodeClass_Document, 0, str_lit("src"), str_lit("src"), 0);
        h1 = element(kind_heading, 1);
        p2 = element(kind_paragraph, 2);
        i3 = element(kind_list_item, 3);
        h4 = element(kind_heading, 4);
        p5 = element(kind_paragraph, 5);
        h6 = element(kind_heading, 6);
        node_append_child(root, h1);
        node_append_child(h1, p2);
        node_append_child(p2, i3);
        node_append_child(h1, h4);
        node_append_child(h4, p5);
        node_append_child(root, h6);
    }
};

TEST_F(SearchTree, WalksFindsAndCollectsStayInsideTheSubtree)
{
    std::vector<u64> seen;
    for (MarkupNode *n = h1; !node_is_nil(n); n = node_preorder_next(n, h1)) seen.push_back(n->offset);
    EXPECT_EQ(seen, (std::vector<u64>{1, 2, 3, 4, 5}));

    EXPECT_EQ(node_find_descendant(root, kind_heading, 0, 0), h1);
    EXPECT_EQ(node_find_descendant(root, kind_heading, 0, NodeFind_Last), h6);
    EXPECT_EQ(node_find_descendant(h1, kind_heading, 0, NodeFind_Last), h4);
    EXPECT_EQ(node_find_descendant(root, str_lit("PARAGRAPH"), StrMatch_CaseInsensitive, 0), p2);
    EXPECT_EQ(node_find_descendant(root, str_lit("PARAGRAPH"), 0, 0), &markup_nil);
    EXPECT_EQ(node_find_descendant(i3, kind_quote, 0, 0), &markup_nil);
    EXPECT_EQ(node_find_descendant(&markup_nil, kind_quote, 0, 0), &markup_nil);

    NodeList list = {};
    node_collect_descendants(arena, root, kind_paragraph, 0, &list);
    ASSERT_EQ(list.count, 2u);
    EXPECT_EQ(list.first->node, p2);
    EXPECT_EQ(list.last->node, p5);

    // The last block parent prefers paragraphs.
    EXPECT_EQ(node_find_last_block_parent(root), p5);
    EXPECT_EQ(node_find_last_block_parent(h6), h6);
    EXPECT_EQ(node_find_last_block_parent(i3), &markup_nil);
}

TEST(HeaderFields, LookupIgnoresCaseButNotLength)
{
    const HeaderFieldInfo *title = header_field_lookup(str_lit("TiTlE"));
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->id, (u32)HeaderField_Title);
    EXPECT_EQ(std::string(title->key.str), "title");
    EXPECT_EQ(header_field_lookup(str_lit("titles")), nullptr);
    EXPECT_EQ(header_field_lookup(str_lit("tit")), nullptr);
    EXPECT_EQ(header_field_lookup(str_empty()), nullptr);
}

} // namespace
