// html/html_tree.h: the HTML element tree every page is built as, and its
// serializer.
//
// The renderer, the page shell and the template parser all build the same
// kind of tree, so templates and generated content splice into one page.
// Every node, attribute and value lives on the arena of the thread that
// builds the tree and goes when that arena is rolled back; a tree belongs to
// that one thread. The none node and the none attribute are shared, static
// and never written.
//
// Links are never null: a missing link is the none node (html_none), whose
// links point at itself. Every operation treats null, the none node and any
// node of type 0 alike as no node: it does nothing or returns the none node.
//
// An element made by html_element_from_tag (and every element the template
// parser builds) has an empty text node as its first child, its content
// node. What goes inside the element goes below the content node, so an
// element is never childless and a text node may have children.
//
// Walks (searches, the serializer) are iterative: a tree as deep as the
// arena allows never overflows the stack.
#pragma once
#include "html/html_tables.h"

//- records

enum HtmlNodeType : u32 {
    HtmlNode_None = 0,
    HtmlNode_Document = 1,
    HtmlNode_Marker = 2,             // the node a template diagnostic is about; never linked
    HtmlNode_Element = 4,
    HtmlNode_Text = 6,
    HtmlNode_UnknownAttribute = 7,   // reported by the validator; nothing creates it
    // A finished element kept only as its HTML text (`text`): it has no
    // children and no attributes, and is written as it stands.
    HtmlNode_Html = 8,
};

struct HtmlAttribute {
    const HtmlAttrInfo *info;   // html_attr_empty for the none attribute
    StrList values;             // in insertion order
};

struct HtmlAttributeNode {
    HtmlAttributeNode *next;
    HtmlAttribute attribute;
};

struct HtmlAttributeList {
    HtmlAttributeNode *first;
    HtmlAttributeNode *last;
    u64 count;
};

struct HtmlElement {
    HtmlElement *next;
    HtmlElement *prev;
    HtmlElement *parent;
    HtmlElement *first_child;
    HtmlElement *last_child;
    const HtmlTagInfo *tag;          // html_tag_empty when the name is not in the table
    HtmlAttributeList *attributes;   // never null
    u32 type;                        // HtmlNodeType
    u64 parser_flags;                // set by the template parser, not read here
    Str text;                        // a text node's text; an element's name as created
    Str name;                        // the tag name as written
    u64 offset;                      // source offset of what the node was made from
    u64 child_count;
    u8 level;                        // set by the renderer
};

// A list of node references, for the collect functions.
struct HtmlElementNode {
    HtmlElementNode *next;
    HtmlElement *element;
};

struct HtmlElementList {
    HtmlElementNode *first;
    HtmlElementNode *last;
    u64 count;
};

// Flags of the search and collect functions.
enum HtmlFindFlags : u32 {
    HtmlCollect_ChildElements = 2,   // html_collect_child_elements does nothing without it
    HtmlFind_Last = 8,               // html_find_by_tag returns the last match
};

// Positions of html_insert.
enum HtmlInsertPosition : u32 {
    HtmlInsert_Before = 0,
    HtmlInsert_After = 1,
    HtmlInsert_FirstContent = 2,
    HtmlInsert_LastContent = 3,
};

extern HtmlElement html_none;
extern HtmlAttribute html_attribute_none;

inline bool html_is_none(const HtmlElement *node) { return !node || node->type == HtmlNode_None; }
inline bool html_is_element(const HtmlElement *node) { return node && node->type == HtmlNode_Element; }
inline bool html_is_text(const HtmlElement *node) { return node && node->type == HtmlNode_Text; }
inline bool html_attribute_is_none(const HtmlAttribute *a) { return !a || a->info == &html_attr_empty; }

//- creation

// Looks `name` up in the tag table ignoring ASCII case (text and document
// nodes get the empty row: their name is their text); links are none.
HtmlElement *html_node_create(Arena *arena, u32 type, u64 parser_flags, Str text, Str name, u64 offset);
// An element with its empty content node; the none node for an id that is
// not in the table (0 included).
HtmlElement *html_element_from_tag(Arena *arena, u32 tag_id);
// A node holding the finished HTML of an element (HtmlNode_Html); `html`
// is not copied.
HtmlElement *html_html_node(Arena *arena, Str html, u64 offset);
// Gives an element another tag row, text and name (a link turned image).
void html_set_tag(HtmlElement *element, u32 tag_id);

//- structure
//
// A node that is moved is detached from where it was first, so no parent
// ever lists a child that has left it. Moving a node below itself is the
// caller's mistake and is not checked (it would cost a climb per append).

void html_append_child(HtmlElement *parent, HtmlElement *child);
// html_append_child for a node known to be detached, its next link none,
// and not `parent`: a tree copy links every node so, without the checks.
inline void html_link_last(HtmlElement *parent, HtmlElement *child)
{
    child->parent = parent;
    child->prev = parent->last_child;
    if (html_is_none(parent->last_child)) parent->first_child = child;
    else parent->last_child->next = child;
    parent->last_child = child;
    parent->child_count += 1;
}
void html_prepend_child(HtmlElement *parent, HtmlElement *child);
void html_detach(HtmlElement *node);
// Appends below the content node of `element`; returns that content node,
// or the none node (and leaves `child` where it was) when there is none.
HtmlElement *html_append_content(HtmlElement *element, HtmlElement *child);
// A new text node below the content node; the none node when there is none.
HtmlElement *html_append_text(Arena *arena, HtmlElement *element, Str text);
// Places `node` relative to `target` (HtmlInsertPosition); 1 when placed,
// 0 (and nothing changed) otherwise.
u32 html_insert(HtmlElement *target, HtmlElement *node, u32 position);

//- lookup (pre-order, never leaving the subtree of the start node)

// The node itself for a text node; otherwise the first text child of the
// node's closest element (itself or an ancestor).
HtmlElement *html_content_node(HtmlElement *node);
HtmlElement *html_nearest_element(HtmlElement *node);
HtmlElement *html_find_by_tag(HtmlElement *root, u32 tag_id, u32 flags);
HtmlElement *html_find_by_id(HtmlElement *root, Str value);
bool html_has_attribute_value(HtmlElement *element, u32 attr_id, Str value);
// With `all`, elements whose values hold every one of `values`; without it,
// at least one of them.
void html_collect_by_attribute(Arena *arena, HtmlElement *root, u32 attr_id, const StrList *values,
                               HtmlElementList *out, b32 all);
void html_collect_by_tag(Arena *arena, HtmlElement *root, u32 tag_id, HtmlElementList *out);
// Child elements include HtmlNode_Html nodes, which stand for elements.
void html_collect_child_elements(Arena *arena, HtmlElement *element, u32 flags, HtmlElementList *out);
void html_element_list_push(Arena *arena, HtmlElementList *list, HtmlElement *element);

// The next node of a pre-order walk of `root`'s subtree, or the none node
// after the last one. Inline: every search of a page is a loop of these.
inline HtmlElement *html_walk_next(HtmlElement *node, HtmlElement *root)
{
    if (html_is_none(node)) return &html_none;
    if (!html_is_none(node->first_child)) return node->first_child;
    while (node != root && !html_is_none(node)) {
        if (!html_is_none(node->next)) return node->next;
        node = node->parent;
    }
    return &html_none;
}

//- attributes
//
// Values are stored as given, not copied (style declarations excepted): they
// must live as long as the tree, on its arena or in constant data.

// The element's first attribute with that id, or the none attribute.
HtmlAttribute *html_get_attribute(HtmlElement *element, u32 attr_id);
// Appends a new attribute without looking for an existing one: the template
// parser keeps repeated attributes as written. Returns the none attribute
// for the none node or the empty row.
HtmlAttribute *html_attribute_append(Arena *arena, HtmlElement *element, const HtmlAttrInfo *info);
// Sets values: single-valued attributes (and `as`) are emptied first;
// `style` values are cut at ";" into declarations, each kept once; other
// attributes take the nodes of `values` at the end of their list, and
// `values` is left empty.
void html_set_attribute_list(Arena *arena, HtmlElement *element, u32 attr_id, StrList *values);
void html_set_attribute(Arena *arena, HtmlElement *element, u32 attr_id, Str value);
// Adds style declarations (cut at ";", trimmed, each kept once, a present
// one keeping its place) WITHOUT copying them: the pieces are slices of
// `style`, which must live as long as the element (constant text or the
// page's arena). html_set_attribute copies; this is for text that lives.
void html_add_style(Arena *arena, HtmlElement *element, Str style);
// Removes every attribute with that id.
void html_remove_attribute(HtmlElement *element, u32 attr_id);
void str_list_push_unique(Arena *arena, StrList *list, Str s);

//- serialization

// How a tree is written, chosen by whoever writes it (the site's settings
// for pages and head templates). A zero record, or none, writes every name
// as its table row has it.
struct HtmlWriteOptions {
    // The name attributes of the "data-* " row (every name the attribute
    // table does not know) are written under; empty: "data-* ".
    Str data_attribute_name;
};

// Appends the HTML text of `root` and its subtree to `out`, in pieces of up
// to 64 KiB copied onto `arena`; join them without separators. Nothing is
// escaped: text nodes hold what the renderer and the template parser made.
// `options` may be null.
void html_serialize(Arena *arena, HtmlElement *root, StrList *out, const HtmlWriteOptions *options);
// The same text as one string on `arena`, written in place: no pieces to
// join. Empty when memory ran out, never a part of the text.
Str html_serialize_text(Arena *arena, HtmlElement *root, const HtmlWriteOptions *options);

//- escaping
//
// One routine and one table for every escape a page needs: text keeps "<"
// from opening elements, raw source pages and titles escape "&", "<" and
// ">", attribute values escape the quote that would end them. Which bytes
// are escaped is the caller's mask; each byte has one entity.

enum HtmlEscapeBytes : u32 {
    HtmlEscape_Lt = 1,      // "<" as "&lt;"
    HtmlEscape_Gt = 2,      // ">" as "&gt;"
    HtmlEscape_Amp = 4,     // "&" as "&amp;"
    HtmlEscape_Quote = 8,   // '"' as "&quot;"
    HtmlEscape_Source = HtmlEscape_Lt | HtmlEscape_Gt | HtmlEscape_Amp,
};

// The bytes the escaped text takes (text.size when nothing is escaped).
u64 html_escaped_size(Str text, u32 mask);
// Writes the escaped text to `out`, which holds html_escaped_size bytes;
// returns the bytes written.
u64 html_escape_into(char *out, Str text, u32 mask);
// The escaped text on `arena` (NUL-terminated); `text` itself when nothing
// needs escaping.
Str html_escape(Arena *arena, Str text, u32 mask);
