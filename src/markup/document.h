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
    NodeFlag_Told = 0x80000,         // a link whose failure was warned about with its reason
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

// One node per construct, and a construct can be one source byte, so the
// record is kept to 96 bytes: offsets and counts are 32-bit (sources are
// refused past 32 MiB), the small values share two words.
struct MarkupNode {
    MarkupNode *next;
    MarkupNode *first_child;
    MarkupNode *prev;
    MarkupNode *last_child;
    MarkupNode *parent;
    HeaderFieldInfo *field;   // header fields only: a copy of the matched row
    Str name;                 // kind name; a text node's text; a header key; the document's source
    Str text;                 // equal to name, except heading and paragraph lines (empty) and
                              // fenced blocks (the language word after the fence, or empty)
    u32 offset;               // source offset of the token that opened the node
    u32 child_count;
    u32 flags : 20;           // NodeFlags
    u32 node_class : 3;       // NodeClass
    u32 space_before : 1;     // a blank stands before the run (its width is not kept)
    u32 kind : 8;             // MarkupKind of an element; 0 for other classes and unknown names
    u8 number;                // level, depth, item, footnote, group, row or column number
    u8 indent;                // width of the blank run before a line-level node
    u8 space_after;
    u8 max_heading_level;     // top headings: the deepest level given below them so far
};
static_assert(sizeof(MarkupNode) == 96, "a node is 96 bytes");

// The most blanks a run shows beside its text: a wider blank is cut to it.
constexpr u64 run_blanks_max = 36;

extern MarkupNode markup_nil;

inline bool node_is_nil(const MarkupNode *node)
{
    return node == nullptr || node == &markup_nil || node->node_class == NodeClass_Nil;
}

//- node kinds

// Every element kind has a number and one row; a node carries the number
// beside its name, and code tells kinds apart by the number. The parser
// numbers the nodes it makes; node_new numbers a node by its name, so trees
// built by hand (the index document, tests) are numbered alike. Kinds that
// code asks about as a group stand together: the lists, the contexts.
enum MarkupKind : u32 {
    MarkupKind_None = 0,   // not an element, or a name no kind has
    MarkupKind_Desc,
    MarkupKind_Checkbox,
    MarkupKind_Heading,
    MarkupKind_Paragraph,
    MarkupKind_Word,
    MarkupKind_LinkHttp,
    MarkupKind_LinkFile,
    MarkupKind_Quote,
    MarkupKind_FootnoteRef,
    MarkupKind_Footnote,
    MarkupKind_InternalLink,
    MarkupKind_InternalLinkRef,
    MarkupKind_Block,
    MarkupKind_Raw,
    MarkupKind_UnformatedText,
    MarkupKind_Context,
    MarkupKind_ContextInlined,
    MarkupKind_ContextDocument,
    MarkupKind_List,
    MarkupKind_ListAlpha,
    MarkupKind_ListNumeric,
    MarkupKind_ListUnordered,
    MarkupKind_ListItem,
    MarkupKind_Separator,
    MarkupKind_TableRoot,
    MarkupKind_Table,
    MarkupKind_TableCell,
    MarkupKind_TableCellCol,
    MarkupKind_TableRootEntry,
    MarkupKind_TableHeader,
    MarkupKind_Toc,
    MarkupKind_ContextHeading,
    MarkupKind_ContextParagraph,
    MarkupKind_QuoteParagraph,
    MarkupKind_Reference,
    MarkupKind_Footnotes,
    MarkupKind_FootnoteItem,
    MarkupKind_TocItem,
    MarkupKind_TableRow,
    MarkupKind_Count,
    MarkupKind_FirstList = MarkupKind_ListAlpha,
    MarkupKind_LastList = MarkupKind_ListUnordered,
};

static_assert(NodeFlag_Ticked < (1u << 20) && MarkupKind_Count <= 256 && NodeClass_HeaderField < 8,
              "flags, kinds and classes fit their bit fields");

struct MarkupKindInfo {
    u32 kind;         // MarkupKind: the row's position
    u32 node_class;
    Str open_mark;    // the surface syntax, for readers of the table
    Str close_mark;
    Str name;         // the node's name as the data model writes it
};

extern const MarkupKindInfo markup_kind_table[MarkupKind_Count];

// The kind a name belongs to; MarkupKind_None for any other name.
u32 markup_kind_from_name(Str name);
inline Str markup_kind_name(u32 kind) { return kind < MarkupKind_Count ? markup_kind_table[kind].name : Str{"", 0}; }

// The kinds' names, for code that builds nodes by name.
inline const Str &kind_desc = markup_kind_table[MarkupKind_Desc].name;
inline const Str &kind_checkbox = markup_kind_table[MarkupKind_Checkbox].name;
inline const Str &kind_heading = markup_kind_table[MarkupKind_Heading].name;
inline const Str &kind_paragraph = markup_kind_table[MarkupKind_Paragraph].name;
inline const Str &kind_link_http = markup_kind_table[MarkupKind_LinkHttp].name;
inline const Str &kind_link_file = markup_kind_table[MarkupKind_LinkFile].name;
inline const Str &kind_quote = markup_kind_table[MarkupKind_Quote].name;
inline const Str &kind_footnote_ref = markup_kind_table[MarkupKind_FootnoteRef].name;
inline const Str &kind_footnote = markup_kind_table[MarkupKind_Footnote].name;
inline const Str &kind_internal_link = markup_kind_table[MarkupKind_InternalLink].name;
inline const Str &kind_internal_link_ref = markup_kind_table[MarkupKind_InternalLinkRef].name;
inline const Str &kind_block = markup_kind_table[MarkupKind_Block].name;
inline const Str &kind_raw = markup_kind_table[MarkupKind_Raw].name;
inline const Str &kind_unformated_text = markup_kind_table[MarkupKind_UnformatedText].name;
inline const Str &kind_context = markup_kind_table[MarkupKind_Context].name;
inline const Str &kind_context_inlined = markup_kind_table[MarkupKind_ContextInlined].name;
inline const Str &kind_context_document = markup_kind_table[MarkupKind_ContextDocument].name;
inline const Str &kind_list = markup_kind_table[MarkupKind_List].name;
inline const Str &kind_list_alpha = markup_kind_table[MarkupKind_ListAlpha].name;
inline const Str &kind_list_numeric = markup_kind_table[MarkupKind_ListNumeric].name;
inline const Str &kind_list_unordered = markup_kind_table[MarkupKind_ListUnordered].name;
inline const Str &kind_list_item = markup_kind_table[MarkupKind_ListItem].name;
inline const Str &kind_separator = markup_kind_table[MarkupKind_Separator].name;
inline const Str &kind_table_root = markup_kind_table[MarkupKind_TableRoot].name;
inline const Str &kind_table = markup_kind_table[MarkupKind_Table].name;
inline const Str &kind_table_cell = markup_kind_table[MarkupKind_TableCell].name;
inline const Str &kind_table_cell_col = markup_kind_table[MarkupKind_TableCellCol].name;
inline const Str &kind_table_root_entry = markup_kind_table[MarkupKind_TableRootEntry].name;
inline const Str &kind_table_header = markup_kind_table[MarkupKind_TableHeader].name;
inline const Str &kind_toc = markup_kind_table[MarkupKind_Toc].name;
inline const Str &kind_context_heading = markup_kind_table[MarkupKind_ContextHeading].name;
inline const Str &kind_context_paragraph = markup_kind_table[MarkupKind_ContextParagraph].name;
inline const Str &kind_quote_paragraph = markup_kind_table[MarkupKind_QuoteParagraph].name;
inline const Str &kind_reference = markup_kind_table[MarkupKind_Reference].name;
inline const Str &kind_footnotes = markup_kind_table[MarkupKind_Footnotes].name;
inline const Str &kind_footnote_item = markup_kind_table[MarkupKind_FootnoteItem].name;
inline const Str &kind_toc_item = markup_kind_table[MarkupKind_TocItem].name;
inline const Str &kind_table_row = markup_kind_table[MarkupKind_TableRow].name;

inline bool node_is_element(const MarkupNode *node, u32 kind)
{
    return !node_is_nil(node) && node->node_class == NodeClass_Element && node->kind == kind;
}
// The language word of a fenced block ("cpp" after "```cpp"); empty for
// any other node, a block without one, and a block built by hand, whose text
// is its name.
inline Str block_language(const MarkupNode *node)
{
    if (!node_is_element(node, MarkupKind_Block) || str_eq(node->text, node->name)) return Str{"", 0};
    return node->text;
}
inline bool kind_is_list(u32 kind) { return kind >= MarkupKind_FirstList && kind <= MarkupKind_LastList; }
inline bool node_is_list(const MarkupNode *node)
{
    return !node_is_nil(node) && node->node_class == NodeClass_Element && kind_is_list(node->kind);
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
// filled by markup_parse. Absent nodes are the nil node.
struct ParsedDocument {
    StrList output_paths;          // output_path values, made absolute under the local folder
    MarkupNode *root;              // the document node
    MarkupNode *context_document;  // the document context, or nil
    MarkupNode *footnotes;         // "footnotes", outside the tree; nil without footnotes
    NodeList internal_links;       // every "internal_link" definition, in source order
    NodeList file_links;           // every "link_file", in source order
    NodeList web_links;            // every "link_http", in source order
    u64 unresolved_refs;           // footnote and anchor references that match no definition
    MarkupNode *title;             // the header field of the first "title" line, or nil
    NodeList extra_list;           // empty after parsing; the site build puts table records here
    NodeList table_roots;          // every "table_root" the parser made, in source order
    b32 tables_walk;               // the list is not the tree's tables in tree order: walk the tree
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
