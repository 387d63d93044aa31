// One walk over a whole markup tree that checks every link and count, for
// the tests and the fuzz target alike. It walks without recursion and
// without the tree's own walk, so a deep tree cannot overflow the stack and
// a broken node_preorder_next cannot hide a broken link.
#pragma once
#include "markup/document.h"

struct MarkupTreeCheck {
    const char *fault;   // "" while every link and count agrees
    u64 nodes;
    u64 depth;
};

// Only text is sure to lie in the source (`text_size` bytes): the table of
// contents, the footnotes and the document context take synthetic offsets.
static inline MarkupTreeCheck markup_tree_check(const MarkupNode *root, u64 text_size = ~0ull)
{
    MarkupTreeCheck check = {"", 0, 0};
    const MarkupNode *n = root;
    u64 depth = 0;
    while (!node_is_nil(n)) {
        check.nodes += 1;
        if (depth > check.depth) check.depth = depth;
        u64 children = 0;
        const MarkupNode *prev = &markup_nil;
        for (const MarkupNode *c = n->first_child; !node_is_nil(c); c = c->next) {
            if (c->parent != n) check.fault = "a child names another parent";
            if (c->prev != prev) check.fault = "a previous link is wrong";
            prev = c;
            children += 1;
        }
        if (node_is_nil(prev) ? !node_is_nil(n->last_child) : prev != n->last_child) check.fault = "the last child is wrong";
        if (children != n->child_count) check.fault = "the child count is wrong";
        if (n->node_class == NodeClass_Text && children) check.fault = "a text node has children";
        if (n->node_class == NodeClass_Text && n->offset > text_size) check.fault = "a text lies past the source";
        if (!node_is_nil(n->first_child)) {
            n = n->first_child;
            depth += 1;
            continue;
        }
        while (n != root && node_is_nil(n->next)) {
            n = n->parent;
            depth -= 1;
        }
        if (n == root) break;
        n = n->next;
    }
    return check;
}
