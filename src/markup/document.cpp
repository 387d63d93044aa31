// markup/document.cpp: the nil node, the kind table and the tree operations.
#include "markup/document.h"

// Its five links point at itself, so a walk that follows links from the
// nil node stays on it instead of reading through a null pointer.
MarkupNode markup_nil = {
    .next = &markup_nil, .first_child = &markup_nil, .prev = &markup_nil, .last_child = &markup_nil,
    .parent = &markup_nil, .field = nullptr, .name = {"", 0}, .text = {"", 0},
    .offset = 0, .child_count = 0, .flags = 0, .node_class = NodeClass_Nil, .space_before = 0, .kind = 0,
    .number = 0, .indent = 0, .space_after = 0, .max_heading_level = 0,
};

#define LF str_lit("\n")
#define NONE str_lit("")

// Code indexes the table by kind number (a node's kind, the names below),
// so the table is a constant the compiler checks: a row out of place would
// give every node of a kind another kind's name.
constexpr MarkupKindInfo markup_kind_table[MarkupKind_Count] = {
    {MarkupKind_None, NodeClass_Nil, NONE, NONE, NONE},
    {MarkupKind_Desc, NodeClass_Element, str_lit("("), str_lit(")"), str_lit("desc")},
    {MarkupKind_Checkbox, NodeClass_Element, NONE, NONE, str_lit("checkbox")},
    {MarkupKind_Heading, NodeClass_Element, LF, LF, str_lit("heading")},
    {MarkupKind_Paragraph, NodeClass_Element, LF, LF, str_lit("paragraph")},
    {MarkupKind_Word, NodeClass_Element, NONE, LF, str_lit("Word")},
    {MarkupKind_LinkHttp, NodeClass_Element, NONE, LF, str_lit("link_http")},
    {MarkupKind_LinkFile, NodeClass_Element, NONE, LF, str_lit("link_file")},
    {MarkupKind_Quote, NodeClass_Element, str_lit(">"), NONE, str_lit("quote")},
    {MarkupKind_FootnoteRef, NodeClass_Element, str_lit("[*"), str_lit("]"), str_lit("footnote_ref")},
    {MarkupKind_Footnote, NodeClass_Element, str_lit("[*"), str_lit("]"), str_lit("footnote")},
    {MarkupKind_InternalLink, NodeClass_Element, str_lit("[#"), str_lit("]_"), str_lit("internal_link")},
    {MarkupKind_InternalLinkRef, NodeClass_Element, str_lit("[#"), str_lit("]"), str_lit("internal_link_ref")},
    {MarkupKind_Block, NodeClass_Element, str_lit("\n```"), str_lit("```\n"), str_lit("block")},
    {MarkupKind_Raw, NodeClass_Element, str_lit("~{"), str_lit("}~"), str_lit("raw")},
    {MarkupKind_UnformatedText, NodeClass_Element, str_lit("`"), str_lit("`"), str_lit("unformated_text")},
    {MarkupKind_Context, NodeClass_Element, str_lit("\n``"), str_lit("``\n"), str_lit("context")},
    {MarkupKind_ContextInlined, NodeClass_Element, str_lit("``"), str_lit("``"), str_lit("context_inlined")},
    {MarkupKind_ContextDocument, NodeClass_Element, str_lit("\n``\n"), str_lit("\n``\n"), str_lit("context_document")},
    {MarkupKind_List, NodeClass_Element, NONE, NONE, str_lit("list")},
    {MarkupKind_ListAlpha, NodeClass_Element, NONE, NONE, str_lit("list_alpha")},
    {MarkupKind_ListNumeric, NodeClass_Element, NONE, NONE, str_lit("list_numeric")},
    {MarkupKind_ListUnordered, NodeClass_Element, NONE, NONE, str_lit("list_unordered")},
    {MarkupKind_ListItem, NodeClass_Element, NONE, LF, str_lit("list_item")},
    {MarkupKind_Separator, NodeClass_Element, str_lit("\n---"), LF, str_lit("separator")},
    {MarkupKind_TableRoot, NodeClass_Element, NONE, NONE, str_lit("table_root")},
    {MarkupKind_Table, NodeClass_Element, NONE, NONE, str_lit("table")},
    {MarkupKind_TableCell, NodeClass_Element, NONE, NONE, str_lit("table_cell")},
    {MarkupKind_TableCellCol, NodeClass_Element, NONE, NONE, str_lit("table_cell_col")},
    {MarkupKind_TableRootEntry, NodeClass_Element, NONE, NONE, str_lit("table_root_entry")},
    {MarkupKind_TableHeader, NodeClass_Element, NONE, NONE, str_lit("table_header")},
    {MarkupKind_Toc, NodeClass_Element, NONE, NONE, str_lit("toc")},
    {MarkupKind_ContextHeading, NodeClass_Element, NONE, NONE, str_lit("context_heading")},
    {MarkupKind_ContextParagraph, NodeClass_Element, NONE, NONE, str_lit("context_paragraph")},
    {MarkupKind_QuoteParagraph, NodeClass_Element, NONE, NONE, str_lit("quote_paragraph")},
    {MarkupKind_Reference, NodeClass_Element, NONE, NONE, str_lit("reference")},
    {MarkupKind_Footnotes, NodeClass_Element, NONE, NONE, str_lit("footnotes")},
    {MarkupKind_FootnoteItem, NodeClass_Element, NONE, NONE, str_lit("footnote_item")},
    {MarkupKind_TocItem, NodeClass_Element, NONE, NONE, str_lit("toc_item")},
    {MarkupKind_TableRow, NodeClass_Element, NONE, NONE, str_lit("table_row")},
};

static consteval bool rows_sit_at_their_kinds()
{
    for (u32 i = 0; i < MarkupKind_Count; i += 1)
        if (markup_kind_table[i].kind != i) return false;
    return true;
}
static_assert(rows_sit_at_their_kinds(), "a kind's row stands at its number");

u32 markup_kind_from_name(Str name)
{
    for (u32 i = 1; i < MarkupKind_Count; i += 1)
        if (str_eq(markup_kind_table[i].name, name)) return i;
    return MarkupKind_None;
}

#undef LF
#undef NONE

//- construction

MarkupNode *node_new(Arena *arena, u32 node_class, u64 flags, Str name, Str text, u64 offset)
{
    MarkupNode *node = push_array_no_zero<MarkupNode>(arena, 1);
    if (!node) return &markup_nil;
    *node = MarkupNode{};
    node->next = node->first_child = node->prev = node->last_child = node->parent = &markup_nil;
    node->node_class = node_class;
    node->flags = flags;
    node->name = name;
    node->text = text;
    node->offset = offset;
    if (node_class == NodeClass_Element) {
        node->kind = markup_kind_from_name(name);
        // Named by a kind: the table's own strings, which live for ever.
        if (node->kind && str_eq(name, text)) node->name = node->text = markup_kind_table[node->kind].name;
    }
    return node;
}

MarkupNode *node_new_message(Arena *arena, u64 offset, u64 flags, Str text)
{
    return node_new(arena, NodeClass_Message, flags, text, text, offset);
}

void node_prepend_child(MarkupNode *parent, MarkupNode *child)
{
    if (node_is_nil(parent) || node_is_nil(child)) return;
    child->parent = parent;
    child->prev = &markup_nil;
    child->next = parent->first_child;
    if (node_is_nil(parent->first_child)) parent->last_child = child;
    else parent->first_child->prev = child;
    parent->first_child = child;
    parent->child_count += 1;
}

void node_detach(MarkupNode *node)
{
    if (node_is_nil(node)) return;
    MarkupNode *parent = node->parent;
    if (node_is_nil(parent) || parent->child_count == 0) return;
    if (node_is_nil(node->prev)) parent->first_child = node->next;
    else node->prev->next = node->next;
    if (node_is_nil(node->next)) parent->last_child = node->prev;
    else node->next->prev = node->prev;
    parent->child_count -= 1;
    node->parent = node->prev = node->next = &markup_nil;
}

//- walks and searches

MarkupNode *node_preorder_next(MarkupNode *node, MarkupNode *root)
{
    if (node_is_nil(node)) return &markup_nil;
    if (!node_is_nil(node->first_child)) return node->first_child;
    for (MarkupNode *n = node; !node_is_nil(n) && n != root; n = n->parent)
        if (!node_is_nil(n->next)) return n->next;
    return &markup_nil;
}

static bool node_matches(const MarkupNode *node, Str name, u32 match_flags)
{
    return node->node_class == NodeClass_Element && str_match(node->name, name, match_flags);
}

MarkupNode *node_find_descendant(MarkupNode *root, Str name, u32 match_flags, u32 options)
{
    MarkupNode *found = &markup_nil;
    for (MarkupNode *n = root; !node_is_nil(n); n = node_preorder_next(n, root)) {
        if (!node_matches(n, name, match_flags)) continue;
        found = n;
        if (!(options & NodeFind_Last)) break;
    }
    return found;
}

void node_collect_descendants(Arena *arena, MarkupNode *root, Str name, u32 match_flags, NodeList *out_list)
{
    for (MarkupNode *n = root; !node_is_nil(n); n = node_preorder_next(n, root))
        if (node_matches(n, name, match_flags)) node_list_push(arena, out_list, n);
}

MarkupNode *node_find_last_block_parent(MarkupNode *root)
{
    MarkupNode *paragraph = &markup_nil, *heading = &markup_nil;
    for (MarkupNode *n = root; !node_is_nil(n); n = node_preorder_next(n, root)) {
        if (node_is_element(n, MarkupKind_Paragraph)) paragraph = n;
        else if (node_is_element(n, MarkupKind_Heading)) heading = n;
    }
    return node_is_nil(paragraph) ? heading : paragraph;
}

//- lists and messages

NodeListCell *node_list_push(Arena *arena, NodeList *list, MarkupNode *node)
{
    NodeListCell *cell = push_array_no_zero<NodeListCell>(arena, 1);
    if (!cell) return nullptr;
    cell->next = nullptr;
    cell->node = node;
    cell->table = nullptr;
    if (list->last) list->last->next = cell;
    else list->first = cell;
    list->last = cell;
    list->count += 1;
    return cell;
}

Diagnostic *diag_push(Arena *arena, DiagnosticList *list, MarkupNode *node, u32 level, Str text)
{
    u64 offset = node_is_nil(node) ? 0 : node->offset;
    return diag_push_at(arena, list, node, offset, level, text);
}
