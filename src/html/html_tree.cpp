// html/html_tree.cpp: nodes, structure, lookups, attributes and the
// serializer of the HTML element tree.
#include "html/html_tree.h"

//- the none node and the none attribute
//
// Shared by every thread and never written: each operation tests for no
// node before it touches a link.

static HtmlAttributeList html_none_attributes = {};

HtmlElement html_none = {
    &html_none, &html_none, &html_none, &html_none, &html_none, &html_tag_empty, &html_none_attributes,
    HtmlNode_None, 0, str_lit(""), str_lit(""), 0, 0, 0,
};

HtmlAttribute html_attribute_none = {&html_attr_empty, {}};

//- creation

// The node and its attribute list in one push: every node has a list.
struct HtmlNodeBlock {
    HtmlElement node;
    HtmlAttributeList attributes;
};

static HtmlElement *node_alloc(Arena *arena, u32 type, u64 parser_flags, Str text, Str name, u64 offset,
                               const HtmlTagInfo *tag)
{
    // Every field is set below: a page makes tens of thousands of nodes, and
    // clearing each block first was a second pass over its bytes.
    HtmlNodeBlock *block = push_array_no_zero<HtmlNodeBlock>(arena, 1);
    if (!block) return &html_none;
    HtmlElement *node = &block->node;
    node->next = node->prev = node->parent = &html_none;
    node->first_child = node->last_child = &html_none;
    node->tag = tag;
    node->attributes = &block->attributes;
    node->type = type;
    node->parser_flags = parser_flags;
    node->text = text;
    node->name = name;
    node->offset = offset;
    node->child_count = 0;
    node->level = 0;
    block->attributes = HtmlAttributeList{};
    return node;
}

HtmlElement *html_node_create(Arena *arena, u32 type, u64 parser_flags, Str text, Str name, u64 offset)
{
    // A text node's name is its text and a document's name its whole source:
    // looking them up would give the text "p" the row of `p` for nothing.
    bool named = type != HtmlNode_Text && type != HtmlNode_Document;
    const HtmlTagInfo *tag = named ? html_tag_from_name(name) : &html_tag_empty;
    return node_alloc(arena, type, parser_flags, text, name, offset, tag);
}

HtmlElement *html_element_from_tag(Arena *arena, u32 tag_id)
{
    const HtmlTagInfo *tag = html_tag_from_id(tag_id);
    if (tag == &html_tag_empty) return &html_none;
    HtmlElement *element = node_alloc(arena, HtmlNode_Element, 0, tag->name, tag->name, 0, tag);
    HtmlElement *content = node_alloc(arena, HtmlNode_Text, 0, str_lit(""), str_lit(""), 0, &html_tag_empty);
    if (html_is_none(element) || html_is_none(content)) return element;
    // Both are fresh: the content node is linked without the general append.
    element->first_child = element->last_child = content;
    element->child_count = 1;
    content->parent = element;
    return element;
}

HtmlElement *html_html_node(Arena *arena, Str html, u64 offset)
{
    return node_alloc(arena, HtmlNode_Html, 0, html, str_empty(), offset, &html_tag_empty);
}

void html_set_tag(HtmlElement *element, u32 tag_id)
{
    const HtmlTagInfo *tag = html_tag_from_id(tag_id);
    if (html_is_none(element) || tag == &html_tag_empty) return;
    element->tag = tag;
    element->text = tag->name;
    element->name = tag->name;
}

//- structure

void html_detach(HtmlElement *node)
{
    if (html_is_none(node)) return;
    HtmlElement *parent = node->parent;
    if (html_is_none(parent) || parent->child_count == 0) return;
    if (html_is_none(node->prev)) parent->first_child = node->next;
    else node->prev->next = node->next;
    if (html_is_none(node->next)) parent->last_child = node->prev;
    else node->next->prev = node->prev;
    parent->child_count -= 1;
    node->parent = node->next = node->prev = &html_none;
}

void html_append_child(HtmlElement *parent, HtmlElement *child)
{
    if (html_is_none(parent) || html_is_none(child) || parent == child) return;
    html_detach(child);
    child->next = &html_none;
    html_link_last(parent, child);
}

// Links a detached `node` in front of `anchor`, under the same parent.
static void link_before(HtmlElement *anchor, HtmlElement *node)
{
    HtmlElement *parent = anchor->parent;
    node->parent = parent;
    node->next = anchor;
    node->prev = anchor->prev;
    if (html_is_none(anchor->prev)) parent->first_child = node;
    else anchor->prev->next = node;
    anchor->prev = node;
    parent->child_count += 1;
}

void html_prepend_child(HtmlElement *parent, HtmlElement *child)
{
    if (html_is_none(parent) || html_is_none(child) || parent == child) return;
    html_detach(child);
    if (html_is_none(parent->first_child)) html_append_child(parent, child);
    else link_before(parent->first_child, child);
}

HtmlElement *html_content_node(HtmlElement *node)
{
    if (html_is_none(node)) return &html_none;
    if (node->type == HtmlNode_Text) return node;
    HtmlElement *element = node;
    while (!html_is_none(element) && element->type != HtmlNode_Element) element = element->parent;
    if (html_is_none(element)) return &html_none;
    for (HtmlElement *c = element->first_child; !html_is_none(c); c = c->next)
        if (c->type == HtmlNode_Text) return c;
    return &html_none;
}

HtmlElement *html_append_content(HtmlElement *element, HtmlElement *child)
{
    HtmlElement *content = html_content_node(element);
    if (html_is_none(content) || html_is_none(child) || child == content) return &html_none;
    html_append_child(content, child);
    return content;
}

HtmlElement *html_append_text(Arena *arena, HtmlElement *element, Str text)
{
    HtmlElement *content = html_content_node(element);
    if (html_is_none(content)) return &html_none;
    HtmlElement *node = node_alloc(arena, HtmlNode_Text, 0, text, text, 0, &html_tag_empty);
    html_append_child(content, node);
    return node;
}

u32 html_insert(HtmlElement *target, HtmlElement *node, u32 position)
{
    if (html_is_none(target) || html_is_none(node) || target == node) return 0;
    switch (position) {
    case HtmlInsert_Before:
    case HtmlInsert_After: {
        HtmlElement *parent = target->parent;
        if (html_is_none(parent) || parent == node) return 0;
        html_detach(node);
        if (position == HtmlInsert_Before) link_before(target, node);
        else if (html_is_none(target->next)) html_append_child(parent, node);
        else link_before(target->next, node);
        return 1;
    }
    case HtmlInsert_FirstContent:
    case HtmlInsert_LastContent: {
        HtmlElement *content = html_content_node(target);
        if (html_is_none(content) || content == node) return 0;
        if (position == HtmlInsert_FirstContent) html_prepend_child(content, node);
        else html_append_child(content, node);
        return 1;
    }
    default:
        return 0;
    }
}

//- lookup

HtmlElement *html_nearest_element(HtmlElement *node)
{
    if (html_is_none(node)) return &html_none;
    HtmlElement *top = node;
    for (HtmlElement *n = node; !html_is_none(n); n = n->parent) {
        if (n->type == HtmlNode_Element) return n;
        top = n;
    }
    for (HtmlElement *c = top->first_child; !html_is_none(c); c = c->next)
        if (c->type == HtmlNode_Element) return c;
    return &html_none;
}

HtmlElement *html_find_by_tag(HtmlElement *root, u32 tag_id, u32 flags)
{
    HtmlElement *found = &html_none;
    for (HtmlElement *n = root; !html_is_none(n); n = html_walk_next(n, root)) {
        if (n->type != HtmlNode_Element || n->tag->id != tag_id) continue;
        if (!(flags & HtmlFind_Last)) return n;
        found = n;
    }
    return found;
}

HtmlElement *html_find_by_id(HtmlElement *root, Str value)
{
    for (HtmlElement *n = root; !html_is_none(n); n = html_walk_next(n, root))
        if (n->type == HtmlNode_Element && html_has_attribute_value(n, HtmlAttr_Id, value)) return n;
    return &html_none;
}

static bool values_contain(const StrList *values, Str value)
{
    for (StrNode *v = values->first; v; v = v->next)
        if (str_match(v->string, value, 0)) return true;
    return false;
}

bool html_has_attribute_value(HtmlElement *element, u32 attr_id, Str value)
{
    if (html_is_none(element)) return false;
    // A template may repeat an attribute; every copy counts.
    for (HtmlAttributeNode *a = element->attributes->first; a; a = a->next)
        if (a->attribute.info->id == attr_id && values_contain(&a->attribute.values, value)) return true;
    return false;
}

void html_element_list_push(Arena *arena, HtmlElementList *list, HtmlElement *element)
{
    HtmlElementNode *node = push_struct<HtmlElementNode>(arena);
    if (!node) return;
    node->element = element;
    list_append(list, node);
    list->count += 1;
}

void html_collect_by_attribute(Arena *arena, HtmlElement *root, u32 attr_id, const StrList *values,
                               HtmlElementList *out, b32 all)
{
    if (!values || !out) return;
    for (HtmlElement *n = root; !html_is_none(n); n = html_walk_next(n, root)) {
        if (n->type != HtmlNode_Element) continue;
        HtmlAttribute *a = html_get_attribute(n, attr_id);
        if (html_attribute_is_none(a)) continue;
        bool match;
        if (all) {
            match = a->values.node_count >= values->node_count;
            for (StrNode *v = values->first; match && v; v = v->next) match = values_contain(&a->values, v->string);
        } else {
            match = false;
            for (StrNode *v = values->first; !match && v; v = v->next) match = values_contain(&a->values, v->string);
        }
        if (match) html_element_list_push(arena, out, n);
    }
}

void html_collect_by_tag(Arena *arena, HtmlElement *root, u32 tag_id, HtmlElementList *out)
{
    if (!out) return;
    for (HtmlElement *n = root; !html_is_none(n); n = html_walk_next(n, root))
        if (n->type == HtmlNode_Element && n->tag->id == tag_id) html_element_list_push(arena, out, n);
}

void html_collect_child_elements(Arena *arena, HtmlElement *element, u32 flags, HtmlElementList *out)
{
    if (!out || !(flags & HtmlCollect_ChildElements)) return;
    HtmlElement *content = html_content_node(element);
    for (HtmlElement *c = content->first_child; !html_is_none(content) && !html_is_none(c); c = c->next)
        if (c->type == HtmlNode_Element || c->type == HtmlNode_Html) html_element_list_push(arena, out, c);
}

//- attributes

HtmlAttribute *html_get_attribute(HtmlElement *element, u32 attr_id)
{
    if (html_is_none(element)) return &html_attribute_none;
    for (HtmlAttributeNode *a = element->attributes->first; a; a = a->next)
        if (a->attribute.info->id == attr_id) return &a->attribute;
    return &html_attribute_none;
}

HtmlAttribute *html_attribute_append(Arena *arena, HtmlElement *element, const HtmlAttrInfo *info)
{
    if (html_is_none(element) || !info || info == &html_attr_empty) return &html_attribute_none;
    HtmlAttributeNode *node = push_struct<HtmlAttributeNode>(arena);
    if (!node) return &html_attribute_none;
    node->attribute.info = info;
    HtmlAttributeList *list = element->attributes;
    list_append(list, node);
    list->count += 1;
    return &node->attribute;
}

void str_list_push_unique(Arena *arena, StrList *list, Str s)
{
    if (!values_contain(list, s)) str_list_push(arena, list, s);
}

static bool byte_is_blank(u8 c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// Declarations are compared as whole texts, so blanks around them are cut
// first: "color:red" set twice, once after a "; ", is still one declaration.
static Str declaration_trim(Str s)
{
    u64 first = 0, opl = s.size;
    while (first < opl && byte_is_blank((u8)s.str[first])) first += 1;
    while (opl > first && byte_is_blank((u8)s.str[opl - 1])) opl -= 1;
    return str_substr(s, first, opl);
}

void html_add_style(Arena *arena, HtmlElement *element, Str style)
{
    if (html_is_none(element)) return;
    HtmlAttribute *a = html_get_attribute(element, HtmlAttr_Style);
    if (html_attribute_is_none(a)) a = html_attribute_append(arena, element, html_attr_from_id(HtmlAttr_Style));
    if (html_attribute_is_none(a)) return;
    // Compared with the declarations there before this call: one text never
    // repeats a declaration of its own.
    StrNode *existing = a->values.first;
    u64 existing_count = a->values.node_count;
    Str piece;
    for (u64 cursor = 0; str_next_piece(style, ';', &cursor, &piece);) {
        piece = declaration_trim(piece);
        if (piece.size == 0) continue;
        bool present = false;
        StrNode *v = existing;
        for (u64 k = 0; k < existing_count && !present; k += 1, v = v->next) present = str_eq(v->string, piece);
        if (!present) str_list_push(arena, &a->values, piece);
    }
}

void html_set_attribute_list(Arena *arena, HtmlElement *element, u32 attr_id, StrList *values)
{
    if (html_is_none(element) || !values) return;
    HtmlAttribute *a = html_get_attribute(element, attr_id);
    if (html_attribute_is_none(a)) a = html_attribute_append(arena, element, html_attr_from_id(attr_id));
    if (html_attribute_is_none(a)) return;
    if (attr_id == HtmlAttr_As || (a->info->flags & HtmlAttrFlag_SingleValued)) a->values = StrList{};
    if (attr_id == HtmlAttr_Style) {
        for (StrNode *v = values->first; v; v = v->next) {
            Str piece;
            for (u64 cursor = 0; str_next_piece(v->string, ';', &cursor, &piece);) {
                piece = declaration_trim(piece);
                // A declaration already present keeps its place.
                if (piece.size && !values_contain(&a->values, piece))
                    str_list_push(arena, &a->values, str_copy(arena, piece));
            }
        }
        *values = StrList{};
        return;
    }
    str_list_concat(&a->values, values);
}

void html_set_attribute(Arena *arena, HtmlElement *element, u32 attr_id, Str value)
{
    if (attr_id == HtmlAttr_Style) {
        StrList values = {};
        str_list_push(arena, &values, value);
        html_set_attribute_list(arena, element, attr_id, &values);
        return;
    }
    // Every element of every page gets several: no list is made on the way.
    if (html_is_none(element)) return;
    HtmlAttribute *a = html_get_attribute(element, attr_id);
    if (html_attribute_is_none(a)) a = html_attribute_append(arena, element, html_attr_from_id(attr_id));
    if (html_attribute_is_none(a)) return;
    if (attr_id == HtmlAttr_As || (a->info->flags & HtmlAttrFlag_SingleValued)) a->values = StrList{};
    str_list_push(arena, &a->values, value);
}

void html_remove_attribute(HtmlElement *element, u32 attr_id)
{
    if (html_is_none(element)) return;
    HtmlAttributeList *list = element->attributes;
    HtmlAttributeNode *prev = nullptr;
    for (HtmlAttributeNode *a = list->first; a;) {
        HtmlAttributeNode *next = a->next;
        if (a->attribute.info->id == attr_id) {
            if (prev) prev->next = next;
            else list->first = next;
            if (list->last == a) list->last = prev;
            list->count -= 1;
        } else {
            prev = a;
        }
        a = next;
    }
}

//- serialization
//
// Output goes into 64 KiB chunks pushed on the arena and handed to the list
// whole: a page becomes a handful of list nodes instead of one per tag, and
// writing is a run of small copies. The open chunk is always the arena's
// newest push, so its unused tail is given back when the page ends.

static constexpr u64 html_chunk_size = KiB(64);
// Text at least this long is listed where it stands instead of copied.
static constexpr u64 html_text_by_reference = KiB(4);

struct HtmlWriter {
    Arena *arena;
    StrList *out;        // null: one whole text (html_serialize_text)
    char *chunk;
    u64 used;
    u64 capacity;
    u64 chunk_end_pos;   // arena position just after the open chunk
    Str data_name;       // what the "data-* " row is written as
    bool failed;         // a whole text lost bytes: no room could be had
};

// A writer of one whole text keeps a single buffer as the arena's newest
// push and grows it in place, so the page needs no second copy to join its
// pieces. Where the arena must start a new block, what is written so far
// moves to a buffer there, twice as large.
static bool writer_grow(HtmlWriter *w, u64 size)
{
    u64 step = max_of(size, max_of(w->capacity, html_chunk_size));
    if (w->chunk && arena_pos(w->arena) == w->chunk_end_pos) {
        char *more = (char *)arena_push(w->arena, step, 1);
        if (more && more == w->chunk + w->capacity) {
            w->capacity += step;
            w->chunk_end_pos = arena_pos(w->arena);
            return true;
        }
        if (more) arena_pop_to(w->arena, w->chunk_end_pos);
    }
    char *fresh = (char *)arena_push(w->arena, w->used + step, 1);
    if (!fresh) {
        w->failed = true;
        return false;
    }
    if (w->used) memcpy(fresh, w->chunk, w->used);
    w->chunk = fresh;
    w->capacity = w->used + step;
    w->chunk_end_pos = arena_pos(w->arena);
    return true;
}

static void writer_close_chunk(HtmlWriter *w)
{
    if (!w->chunk) return;
    if (w->used < w->capacity && arena_pos(w->arena) == w->chunk_end_pos)
        arena_pop_to(w->arena, w->chunk_end_pos - (w->capacity - w->used));
    if (w->used) str_list_push(w->arena, w->out, str(w->chunk, w->used));
    w->chunk = nullptr;
    w->used = w->capacity = 0;
}

static bool writer_open_chunk(HtmlWriter *w)
{
    writer_close_chunk(w);
    w->chunk = (char *)arena_push(w->arena, html_chunk_size, 1);
    if (!w->chunk) return false;
    w->capacity = html_chunk_size;
    w->used = 0;
    w->chunk_end_pos = arena_pos(w->arena);
    return true;
}

static void writer_put_slow(HtmlWriter *w, const char *bytes, u64 size)
{
    if (!w->out) {
        if (!writer_grow(w, size)) return;
        memcpy(w->chunk + w->used, bytes, size);
        w->used += size;
        return;
    }
    while (size) {
        if (w->used == w->capacity && !writer_open_chunk(w)) return;
        u64 take = min_of(size, w->capacity - w->used);
        memcpy(w->chunk + w->used, bytes, take);
        w->used += take;
        bytes += take;
        size -= take;
    }
}

// Up to 32 bytes as two overlapping fixed-size copies, which compile to a
// few moves. Tag names, attribute names, classes and most declarations are
// this short, and a call to memcpy for each was the largest part of
// writing a page.
static inline void copy_short(char *to, const char *from, u64 size)
{
    if (size > 16) {
        u64 head[2], tail[2];
        memcpy(head, from, 16);
        memcpy(tail, from + size - 16, 16);
        memcpy(to, head, 16);
        memcpy(to + size - 16, tail, 16);
    } else if (size >= 8) {
        u64 head, tail;
        memcpy(&head, from, 8);
        memcpy(&tail, from + size - 8, 8);
        memcpy(to, &head, 8);
        memcpy(to + size - 8, &tail, 8);
    } else if (size >= 4) {
        u32 head, tail;
        memcpy(&head, from, 4);
        memcpy(&tail, from + size - 4, 4);
        memcpy(to, &head, 4);
        memcpy(to + size - 4, &tail, 4);
    } else if (size) {
        to[0] = from[0];
        to[size / 2] = from[size / 2];
        to[size - 1] = from[size - 1];
    }
}

static inline void writer_put(HtmlWriter *w, const char *bytes, u64 size)
{
    if (w->capacity - w->used >= size) {
        if (size <= 32) copy_short(w->chunk + w->used, bytes, size);
        else memcpy(w->chunk + w->used, bytes, size);
        w->used += size;
        return;
    }
    writer_put_slow(w, bytes, size);
}

static inline void writer_byte(HtmlWriter *w, char c)
{
    if (w->used < w->capacity) w->chunk[w->used++] = c;
    else writer_put_slow(w, &c, 1);
}

static inline void writer_str(HtmlWriter *w, Str s) { writer_put(w, s.str, s.size); }

static void writer_text(HtmlWriter *w, Str text)
{
    if (text.size < html_text_by_reference || !w->out) {
        writer_str(w, text);
        return;
    }
    writer_close_chunk(w);
    str_list_push(w->arena, w->out, text);
}

// An element of a tag the table does not hold (a template may use one) is
// written under the name it was written with, not as an empty "<>".
static inline Str element_name(const HtmlElement *e) { return e->tag->id ? e->tag->name : e->name; }

// Whether any byte of the word is `b` (exact: no false hits).
static inline u64 word_has_byte(u64 word, u8 b)
{
    u64 v = word ^ (0x0101010101010101ull * b);
    return (v - 0x0101010101010101ull) & ~v & 0x8080808080808080ull;
}

constexpr u32 ValueMark_Quote = 1, ValueMark_Semicolon = 2;

// What an attribute value holds of the two bytes the writer cares about, a
// word at a time and the rest as one overlapping word: every element has a
// class and most a declaration of a few dozen bytes, so this runs for
// nearly every value of every page, and a byte loop over the tails cost
// more than the words. Only a declaration needs its semicolon looked for:
// a class or an address is looked at for quotes alone.
template <bool style>
static inline u32 value_marks(Str value)
{
    const char *p = value.str;
    u64 n = value.size, quote = 0, semicolon = 0;
    auto look = [&](u64 word) {
        quote |= word_has_byte(word, '"');
        if (style) semicolon |= word_has_byte(word, ';');
    };
    u64 word;
    if (n >= 8) {
        u64 i = 0;
        for (; i + 8 <= n; i += 8) {
            memcpy(&word, p + i, 8);
            look(word);
        }
        if (i < n) {
            memcpy(&word, p + n - 8, 8);
            look(word);
        }
    } else if (n >= 4) {
        u32 head, tail;
        memcpy(&head, p, 4);
        memcpy(&tail, p + n - 4, 4);
        look((u64)head | ((u64)tail << 32));
    } else if (n) {
        // The bytes above are zero, which is neither byte looked for.
        look((u64)(u8)p[0] | ((u64)(u8)p[n / 2] << 8) | ((u64)(u8)p[n - 1] << 16));
    }
    return (quote ? ValueMark_Quote : 0) | (semicolon ? ValueMark_Semicolon : 0);
}

// Escapes into the output itself: a whole-text writer must be the only
// thing that pushes on its arena while it writes.
static void writer_escaped(HtmlWriter *w, Str value, u32 mask)
{
    u64 size = html_escaped_size(value, mask);
    bool room = w->capacity - w->used >= size;
    if (!room && !w->out) room = writer_grow(w, size);
    else if (!room && size <= html_chunk_size) room = writer_open_chunk(w);
    if (!room) {
        writer_str(w, html_escape(w->arena, value, mask));
        return;
    }
    w->used += html_escape_into(w->chunk + w->used, value, mask);
}

// `before`, a name and up to two bytes `after`: what surrounds every tag
// and attribute name, with one look for room.
static inline void writer_around(HtmlWriter *w, char before, Str name, const char *after, u64 after_size)
{
    u64 size = 1 + name.size + after_size;
    if (name.size <= 32 && w->capacity - w->used >= size) {
        char *to = w->chunk + w->used;
        to[0] = before;
        copy_short(to + 1, name.str, name.size);
        for (u64 i = 0; i < after_size; i += 1) to[1 + name.size + i] = after[i];
        w->used += size;
        return;
    }
    writer_byte(w, before);
    writer_str(w, name);
    writer_put(w, after, after_size);
}

static void write_open(HtmlWriter *w, const HtmlElement *e)
{
    HtmlAttributeNode *n = e->attributes->first;
    if (!n) {
        writer_around(w, '<', element_name(e), ">", 1);
        return;
    }
    writer_around(w, '<', element_name(e), "", 0);
    for (; n; n = n->next) {
        const HtmlAttribute *a = &n->attribute;
        Str name = a->info == &html_attr_table[HtmlAttr_Data] ? w->data_name : a->info->name;
        if (a->info->type == HtmlAttrType_Boolean) {
            writer_around(w, ' ', name, "", 0);
            continue;
        }
        writer_around(w, ' ', name, "=\"", 2);
        bool style = a->info->id == HtmlAttr_Style;
        for (StrNode *v = a->values.first; v; v = v->next) {
            // Values are written between double quotes. A quote inside one
            // (from a document's text, or a template value written in
            // single quotes) would end the value and let the rest pass as
            // attributes of their own.
            u32 marks = style ? value_marks<true>(v->string) : value_marks<false>(v->string);
            if (marks & ValueMark_Quote) writer_escaped(w, v->string, HtmlEscape_Quote);
            else writer_str(w, v->string);
            if (style && !(marks & ValueMark_Semicolon)) writer_byte(w, ';');
            if (v->next) writer_byte(w, ' ');
        }
        writer_byte(w, '"');
    }
    writer_byte(w, '>');
}

static inline void write_close(HtmlWriter *w, const HtmlElement *e)
{
    if (e->type != HtmlNode_Element || html_tag_is_void(e->tag)) return;
    Str name = element_name(e);
    u64 size = name.size + 3;
    if (name.size <= 32 && w->capacity - w->used >= size) {
        char *to = w->chunk + w->used;
        to[0] = '<';
        to[1] = '/';
        copy_short(to + 2, name.str, name.size);
        to[size - 1] = '>';
        w->used += size;
        return;
    }
    writer_put(w, "</", 2);
    writer_str(w, name);
    writer_byte(w, '>');
}

// Writes `root` and its subtree; the caller closes the writer.
static void serialize_walk(HtmlWriter *w, HtmlElement *root)
{
    HtmlElement *node = root;
    for (;;) {
        if (node->type == HtmlNode_Element) write_open(w, node);
        else if ((node->type == HtmlNode_Text || node->type == HtmlNode_Html) && node->text.size)
            writer_text(w, node->text);
        if (!html_is_none(node->first_child)) {
            node = node->first_child;
            continue;
        }
        // Close everything left behind on the climb to the next sibling.
        for (;;) {
            write_close(w, node);
            if (node == root) return;
            if (!html_is_none(node->next)) {
                node = node->next;
                break;
            }
            node = node->parent;
            if (html_is_none(node)) return;
        }
    }
}

static Str writer_data_name(const HtmlWriteOptions *options)
{
    if (options && options->data_attribute_name.size) return options->data_attribute_name;
    return html_attr_table[HtmlAttr_Data].name;
}

void html_serialize(Arena *arena, HtmlElement *root, StrList *out, const HtmlWriteOptions *options)
{
    if (html_is_none(root) || !arena || !out) return;
    HtmlWriter w = {arena, out, nullptr, 0, 0, 0, writer_data_name(options), false};
    serialize_walk(&w, root);
    writer_close_chunk(&w);
}

Str html_serialize_text(Arena *arena, HtmlElement *root, const HtmlWriteOptions *options)
{
    if (html_is_none(root) || !arena) return str_empty();
    u64 start = arena_pos(arena);
    HtmlWriter w = {arena, nullptr, nullptr, 0, 0, 0, writer_data_name(options), false};
    serialize_walk(&w, root);
    // A terminating zero, as joined texts have; then the unused tail back.
    writer_byte(&w, 0);
    // Half a page is worse than none: it would be written as the page.
    if (w.failed || !w.chunk || w.used == 0) {
        arena_pop_to(arena, start);
        return str_empty();
    }
    if (arena_pos(arena) == w.chunk_end_pos) arena_pop_to(arena, w.chunk_end_pos - (w.capacity - w.used));
    return Str{w.chunk, w.used - 1};
}

//- escaping

struct HtmlEntity {
    u32 mask;      // the HtmlEscapeBytes bit that asks for it; 0: never escaped
    Str entity;
};

static constexpr HtmlEntity html_entity_of(u8 c)
{
    switch (c) {
    case '<': return {HtmlEscape_Lt, str_lit("&lt;")};
    case '>': return {HtmlEscape_Gt, str_lit("&gt;")};
    case '&': return {HtmlEscape_Amp, str_lit("&amp;")};
    case '"': return {HtmlEscape_Quote, str_lit("&quot;")};
    default: return {0, str_lit("")};
    }
}

struct HtmlEntityTable {
    HtmlEntity byte[256];
};

static constexpr HtmlEntityTable build_entity_table()
{
    HtmlEntityTable t = {};
    for (u32 c = 0; c < 256; c += 1) t.byte[c] = html_entity_of((u8)c);
    return t;
}

static constexpr HtmlEntityTable html_entity_table = build_entity_table();

// The position of the next byte at or after `at` that `mask` escapes, or
// text.size. Pages escape whole sources, where such bytes are rare: eight
// bytes are tested at a time.
static u64 escape_next(Str text, u64 at, u32 mask)
{
    while (at + 8 <= text.size) {
        u64 word;
        memcpy(&word, text.str + at, 8);
        u64 hit = 0;
        if (mask & HtmlEscape_Lt) hit |= word_has_byte(word, '<');
        if (mask & HtmlEscape_Gt) hit |= word_has_byte(word, '>');
        if (mask & HtmlEscape_Amp) hit |= word_has_byte(word, '&');
        if (mask & HtmlEscape_Quote) hit |= word_has_byte(word, '"');
        if (hit) break;
        at += 8;
    }
    while (at < text.size && !(html_entity_table.byte[(u8)text.str[at]].mask & mask)) at += 1;
    return at;
}

u64 html_escaped_size(Str text, u32 mask)
{
    u64 size = text.size;
    for (u64 at = escape_next(text, 0, mask); at < text.size; at = escape_next(text, at + 1, mask))
        size += html_entity_table.byte[(u8)text.str[at]].entity.size - 1;
    return size;
}

u64 html_escape_into(char *out, Str text, u32 mask)
{
    u64 written = 0, from = 0;
    for (u64 at = escape_next(text, 0, mask); at < text.size; at = escape_next(text, from, mask)) {
        memcpy(out + written, text.str + from, at - from);
        written += at - from;
        Str entity = html_entity_table.byte[(u8)text.str[at]].entity;
        memcpy(out + written, entity.str, entity.size);
        written += entity.size;
        from = at + 1;
    }
    if (text.size > from) memcpy(out + written, text.str + from, text.size - from);
    return written + (text.size - from);
}

// Below this size the text is escaped in one pass into room for the
// longest outcome ("&quot;" for every byte), and the unused room given
// back; a larger text is measured first, so that it never asks six times
// its size of the arena.
static constexpr u64 html_escape_one_pass_limit = KiB(64);

Str html_escape(Arena *arena, Str text, u32 mask)
{
    if (arena && text.size <= html_escape_one_pass_limit) {
        u64 before = arena_pos(arena);
        u64 capacity = text.size * 6 + 1;
        char *out = push_array_no_zero<char>(arena, capacity);
        if (out) {
            u64 written = html_escape_into(out, text, mask);
            u64 start = arena_pos(arena) - capacity;
            if (written == text.size) {
                arena_pop_to(arena, before);
                return text;
            }
            out[written] = 0;
            if (start >= before) arena_pop_to(arena, start + written + 1);
            return Str{out, written};
        }
    }
    u64 size = html_escaped_size(text, mask);
    if (size == text.size) return text;
    char *out = push_array_no_zero<char>(arena, size + 1);
    if (!out) return str_empty();
    u64 written = html_escape_into(out, text, mask);
    out[written] = 0;
    return Str{out, written};
}
