// markup/document.h: the node tree of a parsed document and the record that
// carries its header values, link lists and messages.
//
// Absent links are never null: one static nil node (markup_nil) stands for
// every missing parent, child or sibling, and every search returns it for
// "not found". node_is_nil also accepts null and any node of class 0, so
// callers never need to tell the two apart.
//
// Memory: a document's nodes and list cells live on the node arena given to
// the parser and die with it; nothing is freed one by one. Tree operations
// never copy strings: `name` and `text` point into the source text, into
// constant data or into the document arena. A tree belongs to the thread
// that holds its document; the nil node and the kind table are read-only
// and shared by all threads.
#pragma once
#include "markup/header_fields.h"
#include "markup/tokenizer.h"
#include "base/diagnostics.h"

//- classes and flags

enum NodeClass : u32 {
    NodeClass_Nil = 0,
    NodeClass_Document = 1,     // the root; name and text hold the whole source
    NodeClass_Message = 2,      // a detached anchor of a message, never in the tree
    NodeClass_Element = 3,      // a named construct
    NodeClass_Text = 5,         // a run of source text (4 is not used)
    NodeClass_HeaderField = 6,  // one "key: value" line of a document header
};

enum NodeFlags : u64 {
    NodeFlag_SingleQuoted = 0x4,
    NodeFlag_DoubleQuoted = 0x8,
    NodeFlag_Number = 0x20,
    NodeFlag_ClosedString = 0x40,
    NodeFlag_Symbol = 0x80,          // a symbol, or a quote without partner
    NodeFlag_StrongOpen = 0x100,     // "_" opens a strong span here
    NodeFlag_StrongClose = 0x200,
    NodeFlag_EmphasisOpen = 0x400,   // "__" opens an emphasis span here
    NodeFlag_EmphasisClose = 0x800,
    NodeFlag_StrongInside = 0x1000,
    NodeFlag_EmphasisInside = 0x2000,
    NodeFlag_Jpeg = 0x4000,          // an embedded file with a JPEG extension
    NodeFlag_Embedded = 0x8000,      // a link shown in place (an image)
    NodeFlag_Unresolved = 0x10000,   // a reference without definition, or a link that failed its check
    NodeFlag_Inline = 0x20000,       // a block or context opened inside a line
    NodeFlag_Ticked = 0x40000,       // a ticked box; on a table cell: the cell holds one
};

constexpr u64 NodeFlag_EmphasisMarks =
    NodeFlag_StrongOpen | NodeFlag_StrongClose | NodeFlag_EmphasisOpen | NodeFlag_EmphasisClose;

// The only token bits that reach a node, by one fixed mapping.
inline u64 node_flags_from_token(u32 token_flags)
{
    u64 flags = 0;
    if (token_flags & TokenFlag_SingleQuoted) flags |= NodeFlag_SingleQuoted;
    if (token_flags & TokenFlag_DoubleQuoted) flags |= NodeFlag_DoubleQuoted;
    if (token_flags & TokenFlag_Number) flags |= NodeFlag_Number;
    if (token_flags & TokenFlag_StringClosed) flags |= NodeFlag_ClosedString;
    if (token_flags & TokenFlag_Symbol) flags |= NodeFlag_Symbol;
    return flags;
}

//- the node

struct MarkupNode {
    MarkupNode *next;
    MarkupNode *first_child;
    MarkupNode *prev;
    MarkupNode *last_child;
    MarkupNode *parent;
    HeaderFieldInfo *field;   // header fields only: a copy of the matched row
    u8 number;                // level, depth, item, footnote, group, row or column number
    u32 node_class;           // NodeClass
    u64 flags;                // NodeFlags
    Str name;                 // kind name; a text node's text; a header key; the document's source
    Str text;                 // equal to name, except heading and paragraph lines (empty)
    u64 offset;               // source offset of the token that opened the node
    u8 indent;                // width of the blank run before a line-level node
    u8 space_before;
    u8 space_after;
    u8 max_heading_level;     // top headings: the deepest level given below them so far
    u64 child_count;
};

extern MarkupNode markup_nil;

inline bool node_is_nil(const MarkupNode *node)
{
    return node == nullptr || node == &markup_nil || node->node_class == NodeClass_Nil;
}

//- node kinds

struct NodeKindInfo {
    u32 node_class;
    u64 flags;
    u64 extra;       // zero in every row
    Str open_mark;   // the surface syntax, for readers of the table
    Str close_mark;
    Str third_mark;  // empty in every row
    Str name;
};

constexpr u64 node_kind_count = 39;
extern const NodeKindInfo node_kind_table[node_kind_count];

// Names of the element kinds the parser makes. Those with a row are the
// row's own static string, so a node made by the parser can be told by the
// address of its name as well as by its bytes.
inline const Str &kind_desc = node_kind_table[6].name;
inline const Str &kind_checkbox = node_kind_table[7].name;
inline const Str &kind_heading = node_kind_table[8].name;
inline const Str &kind_paragraph = node_kind_table[9].name;
inline const Str &kind_link_http = node_kind_table[11].name;
inline const Str &kind_link_file = node_kind_table[13].name;
inline const Str &kind_quote = node_kind_table[15].name;
inline const Str &kind_footnote_ref = node_kind_table[16].name;
inline const Str &kind_footnote = node_kind_table[17].name;
inline const Str &kind_internal_link = node_kind_table[18].name;
inline const Str &kind_internal_link_ref = node_kind_table[19].name;
inline const Str &kind_block = node_kind_table[20].name;
inline const Str &kind_raw = node_kind_table[21].name;
inline const Str &kind_unformated_text = node_kind_table[22].name;
inline const Str &kind_context = node_kind_table[23].name;
inline const Str &kind_context_document = node_kind_table[25].name;
inline const Str &kind_list_alpha = node_kind_table[27].name;
inline const Str &kind_list_numeric = node_kind_table[28].name;
inline const Str &kind_list_unordered = node_kind_table[29].name;
inline const Str &kind_list_item = node_kind_table[30].name;
inline const Str &kind_separator = node_kind_table[31].name;
inline const Str &kind_table_root = node_kind_table[32].name;
inline const Str &kind_table = node_kind_table[33].name;
inline const Str &kind_table_cell = node_kind_table[34].name;
inline const Str &kind_table_cell_col = node_kind_table[35].name;
inline const Str &kind_table_root_entry = node_kind_table[36].name;
inline const Str &kind_table_header = node_kind_table[37].name;
inline const Str &kind_toc = node_kind_table[38].name;
// Produced by the parser without a row of their own in the kind table.
inline constexpr Str kind_context_heading = str_lit("context_heading");
inline constexpr Str kind_context_paragraph = str_lit("context_paragraph");
inline constexpr Str kind_quote_paragraph = str_lit("quote_paragraph");
inline constexpr Str kind_reference = str_lit("reference");
inline constexpr Str kind_footnotes = str_lit("footnotes");
inline constexpr Str kind_footnote_item = str_lit("footnote_item");
inline constexpr Str kind_toc_item = str_lit("toc_item");
inline constexpr Str kind_table_row = str_lit("table_row");

inline bool node_is_element(const MarkupNode *node, Str kind)
{
    if (node_is_nil(node) || node->node_class != NodeClass_Element) return false;
    if (node->name.str == kind.str) return node->name.size == kind.size;
    return node->name.size == kind.size && memcmp(node->name.str, kind.str, kind.size) == 0;
}
inline bool node_is_list(const MarkupNode *node)
{
    return node_is_element(node, kind_list_unordered) || node_is_element(node, kind_list_numeric) ||
           node_is_element(node, kind_list_alpha);
}

//- node lists

struct MarkupTable;   // markup/tables.h

struct NodeListCell {
    NodeListCell *next;
    MarkupNode *node;
    MarkupTable *table;   // extra_list only: the table record of `node`
};

struct NodeList {
    NodeListCell *first;
    NodeListCell *last;
    u64 count;
};

NodeListCell *node_list_push(Arena *arena, NodeList *list, MarkupNode *node);

//- the parsed document

// The caller hands the parser a zero-filled record; every field below is
// filled by parse_document. Absent nodes are the nil node.
struct ParsedDocument {
    StrList output_paths;          // output_path values, made absolute under the local folder
    MarkupNode *root;              // the document node
    MarkupNode *context_document;  // the document context, or nil
    MarkupNode *footnotes;         // "footnotes", outside the tree; nil without footnotes
    NodeList internal_links;       // every "internal_link" definition, in source order
    NodeList file_links;           // every "link_file", in source order
    NodeList web_links;            // every "link_http", in source order
    MarkupNode *title;             // the header field of the first "title" line, or nil
    NodeList extra_list;           // empty after parsing; the site build puts table records here
    Str status;                    // the status value (empty when absent)
    Str toc_value;                 // the toc value (empty when absent)
    DiagnosticList messages;       // each record's node is a message anchor, its offset the anchor's
    u64 message_count;             // == messages.count
    u32 max_level;                 // == messages.max_level
    u32 parse_ok;                  // 1 while max_level is at most 3 ("error")
};

//- tree operations
//
// Each takes and returns nil for absence and never writes to the nil node.

// A zero-filled node whose links hold the nil node. An element whose name
// and text both equal a kind of the table gets the table's static strings.
MarkupNode *node_new(Arena *arena, u32 node_class, u64 flags, Str name, Str text, u64 offset);
// A detached message anchor: it carries the offset and the token flags.
MarkupNode *node_new_message(Arena *arena, u64 offset, u64 flags, Str text);
inline void node_append_child(MarkupNode *parent, MarkupNode *child)
{
    if (node_is_nil(parent) || node_is_nil(child)) return;
    child->parent = parent;
    child->next = &markup_nil;
    child->prev = parent->last_child;
    if (node_is_nil(parent->last_child)) parent->first_child = child;
    else parent->last_child->next = child;
    parent->last_child = child;
    parent->child_count += 1;
}
void node_prepend_child(MarkupNode *parent, MarkupNode *child);
void node_detach(MarkupNode *node);

// The node after `node` in pre-order, never leaving the subtree of `root`;
// nil after the last one.
MarkupNode *node_preorder_next(MarkupNode *node, MarkupNode *root);

enum NodeFindOptions : u32 {
    NodeFind_Last = 8,   // the last match in pre-order instead of the first
};

// Element nodes of the subtree of `root` (root included) whose name matches
// `name` under the StrMatch flags `match_flags`.
MarkupNode *node_find_descendant(MarkupNode *root, Str name, u32 match_flags, u32 options);
void node_collect_descendants(Arena *arena, MarkupNode *root, Str name, u32 match_flags, NodeList *out_list);
// The last "paragraph" of the subtree in pre-order, else its last "heading",
// else nil.
MarkupNode *node_find_last_block_parent(MarkupNode *root);

// Appends a diagnostic about `node`, located at the node's offset.
Diagnostic *diag_push(Arena *arena, DiagnosticList *list, MarkupNode *node, u32 level, Str text);
