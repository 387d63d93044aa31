// render/renderer.cpp: the walk that renders a document into a page tree.
#include "render/renderer.h"

#include <mutex>

#include "markup/paths.h"
#include "render/highlight.h"
#include "render/icons.h"
#include "render/render_rules.h"

//- node kinds
//
// The parser numbers every element by its kind; the walk switches on that
// number and never compares a name.

static u32 kind_of(const MarkupNode *node)
{
    if (node_is_nil(node) || node->node_class != NodeClass_Element) return MarkupKind_None;
    return node->kind;
}

//- walk state

// An emphasis span opened among the runs of one parent. Spans nest, so the
// parent keeps the innermost; a closing mark pops back past the span it
// closes.
struct EmphasisOpen {
    EmphasisOpen *outer;
    HtmlElement *element;
    u64 close_flag;   // NodeFlag_StrongClose or NodeFlag_EmphasisClose
};

// One node on the path from the start node down to the node being rendered.
// The frame carries what the rules ask of a node's ancestors, so no rule
// ever climbs the markup tree: a document nested 100,000 deep costs the
// same per node as a flat one.
struct RenderFrame {
    MarkupNode *node;
    u32 kind;
    // The element made or chosen for the node; for a node that got none,
    // the element its content goes into. None only for the start node's
    // parent, which lies outside the walk.
    HtmlElement *element;
    EmphasisOpen *emphasis;   // innermost span open among the node's runs
    // The nearest element of each kind at or above the node; nil when none.
    MarkupNode *toc;
    MarkupNode *quote;
    MarkupNode *context;
    MarkupNode *list_item;
    MarkupNode *link_http;
    MarkupNode *link_file;
    MarkupNode *raw;
    MarkupNode *desc;
    // Arena position just before the node's element was made, when the
    // element may be folded into its HTML once complete; no_fold otherwise.
    u64 fold_pos;
};

static constexpr u64 no_fold = ~0ull;

struct RenderState {
    Arena *arena;     // the page's: everything that ends up in the tree
    Arena *scratch;   // frames and span records
    bool smartphone;
    bool deploy;
    Str local_folder;
    const RenderOptions *options;
    bool fold;                 // options->fold_finished
    u64 start_pos;             // the page arena's position when the render began
    HtmlElement *made;         // the foldable element render_named just made
    u64 made_pos;

    HtmlElement *target;
    bool regions_found;   // regions are looked up on first use: a table cell never needs them
    HtmlElement *top_middle;
    HtmlElement *b_w;
    HtmlElement *bottom;

    HtmlElement *current;
    HtmlElement *title;        // the h1 of the document title
    MarkupNode *title_field;   // the header field that made it

    // Text waiting to go into `text_container`. The words of a line arrive
    // one run at a time; they become one text node when something else is
    // put into the page, which gives the same HTML with a fraction of the
    // nodes and copies.
    HtmlElement *text_container;
    u32 piece_count;
    u64 piece_bytes;
    u64 escape_bytes;          // bytes of the pieces where "<" is escaped
    Str source;                // the document's text, when the render starts inside one

    RenderFrame *frames;
    u64 depth;
    u64 capacity;

    // Read only below its count, so a render leaves it as it comes: every
    // table cell is a render of its own, and clearing 1 KB for each showed
    // in the profile of a page.
    Str pieces[64];
    bool piece_escaped[64];
};

static const char blank_run[] = "                                    ";   // 36 blanks
static_assert(sizeof(blank_run) - 1 == run_blanks_max, "a blank run of the widest blank shown");

//- small helpers

static bool is_element(const HtmlElement *e) { return !html_is_none(e) && e->type == HtmlNode_Element; }

static MarkupNode *child_element_named(MarkupNode *node, u32 kind)
{
    for (MarkupNode *c = node->first_child; !node_is_nil(c); c = c->next)
        if (node_is_element(c, kind)) return c;
    return &markup_nil;
}

static MarkupNode *first_text_child(MarkupNode *node)
{
    for (MarkupNode *c = node->first_child; !node_is_nil(c); c = c->next)
        if (c->node_class == NodeClass_Text) return c;
    return &markup_nil;
}

static void set_attr(Arena *arena, HtmlElement *element, u32 attr_id, Str value)
{
    // The renderer's styles are constant text or live on the page's arena.
    if (attr_id == HtmlAttr_Style) html_add_style(arena, element, value);
    else html_set_attribute(arena, element, attr_id, value);
}

// Class values stay unique: an element chosen twice (the root region, a
// table cell the page assembly made) does not collect the same name twice.
static void add_class(Arena *arena, HtmlElement *element, Str name)
{
    if (name.size == 0 || html_has_attribute_value(element, HtmlAttr_Class, name)) return;
    set_attr(arena, element, HtmlAttr_Class, name);
}

static void add_offset_class(Arena *arena, HtmlElement *element, u64 offset)
{
    add_class(arena, element, str_numbered(arena, str_empty(), offset));
}

// Text becomes HTML here and nowhere later: the serializer writes text nodes
// as they are. Only "<" is escaped, so entities an author writes survive.
// `before` and `after` blanks are put around the text in the same copy.
static Str run_text(Arena *arena, u64 before, Str text, u64 after, bool escape)
{
    u64 escapes = 0;
    if (escape) {
        // Runs are words: a loop beats a call for them, memchr for long text.
        if (text.size <= 32) {
            for (u64 i = 0; i < text.size; i += 1) escapes += text.str[i] == '<';
        } else {
            for (u64 at = str_find_byte(text, '<', 0); at < text.size; at = str_find_byte(text, '<', at + 1)) escapes += 1;
        }
    }
    if (before == 0 && after == 0 && escapes == 0) return text;
    u64 size = before + text.size + 3 * escapes + after;
    char *out = push_array_no_zero<char>(arena, size + 1);
    if (!out) return str_empty();
    char *at = out;
    memset(at, ' ', before);
    at += before;
    if (escapes == 0) {
        memcpy(at, text.str, text.size);
        at += text.size;
    } else {
        at += html_escape_into(at, text, HtmlEscape_Lt);
    }
    memset(at, ' ', after);
    at += after;
    *at = 0;
    return str(out, size);
}

static Str escape_text(Arena *arena, Str text) { return run_text(arena, 0, text, 0, true); }

// Puts the waiting text into its container as one text node. Called before
// anything else is put into the page, so text and elements keep their order.
// Escaping happens in the same pass as the copy.
static void flush_text(RenderState *s)
{
    if (s->piece_count == 0) return;
    Str text = s->pieces[0];
    bool single = s->piece_count == 1 && (!s->piece_escaped[0] || str_find_byte(text, '<', 0) == text.size);
    if (!single) {
        u64 most = s->piece_bytes + 3 * s->escape_bytes;
        char *out = push_array_no_zero<char>(s->arena, most + 1);
        if (out) {
            u64 at = 0;
            for (u32 i = 0; i < s->piece_count; i += 1) {
                Str piece = s->pieces[i];
                if (!s->piece_escaped[i]) {
                    // Mostly a blank or two: a call would cost more than the copy.
                    if (piece.size > 16) {
                        memcpy(out + at, piece.str, piece.size);
                        at += piece.size;
                    } else {
                        for (u64 k = 0; k < piece.size; k += 1) out[at++] = piece.str[k];
                    }
                    continue;
                }
                // Mostly a word: escaped in the copy loop, without a call.
                if (piece.size <= 16) {
                    for (u64 k = 0; k < piece.size; k += 1) {
                        char c = piece.str[k];
                        if (c != '<') {
                            out[at++] = c;
                            continue;
                        }
                        memcpy(out + at, "&lt;", 4);
                        at += 4;
                    }
                    continue;
                }
                at += html_escape_into(out + at, piece, HtmlEscape_Lt);
            }
            out[at] = 0;
            // Give back what no "<" needed: the copy is the arena's last push.
            arena_pop_to(s->arena, arena_pos(s->arena) - (most - at));
            text = str(out, at);
        } else {
            text = str_empty();
        }
    }
    html_append_text(s->arena, s->text_container, text);
    s->piece_count = 0;
    s->piece_bytes = 0;
    s->escape_bytes = 0;
    s->text_container = &html_none;
}

// Whether `piece` goes on the end of the last waiting piece, as the same
// bytes: the words of a line and the blanks between them are mostly one
// stretch of the source, and as one piece they need no copy at all. A
// blank run counts when the source holds as many blanks right after the
// last piece; blanks escape to themselves, so they join any piece.
static inline bool piece_extends(RenderState *s, Str piece, bool escape)
{
    Str *last = &s->pieces[s->piece_count - 1];
    const char *end = last->str + last->size;
    if (piece.str == end) return escape == s->piece_escaped[s->piece_count - 1];
    if (piece.str != blank_run) return false;
    const char *source_end = s->source.str + s->source.size;
    if (last->str < s->source.str || end > source_end || (u64)(source_end - end) < piece.size) return false;
    // Mostly one blank: a call would cost more than the look.
    for (u64 i = 0; i < piece.size; i += 1)
        if (end[i] != ' ') return false;
    return true;
}

static inline void queue_text(RenderState *s, HtmlElement *container, Str piece, bool escape)
{
    if (piece.size == 0) return;
    if (s->text_container == container && s->piece_count && piece_extends(s, piece, escape)) {
        s->pieces[s->piece_count - 1].size += piece.size;
        s->piece_bytes += piece.size;
        if (s->piece_escaped[s->piece_count - 1]) s->escape_bytes += piece.size;
        return;
    }
    if (s->text_container != container || s->piece_count == array_count(s->pieces)) flush_text(s);
    s->text_container = container;
    s->pieces[s->piece_count] = piece;
    s->piece_escaped[s->piece_count] = escape;
    s->piece_count += 1;
    s->piece_bytes += piece.size;
    if (escape) s->escape_bytes += piece.size;
}

// A quote in a value taken from a document is escaped by the serializer,
// like every attribute value of every page.
static void set_text_attribute(RenderState *s, HtmlElement *element, u32 attr_id, Str value)
{
    set_attr(s->arena, element, attr_id, value);
}

static HtmlElement *styled_element(Arena *arena, u32 tag_id, Str style)
{
    HtmlElement *element = html_element_from_tag(arena, tag_id);
    set_attr(arena, element, HtmlAttr_Style, style);
    return element;
}

Str render_file_address(Arena *arena, Str absolute_path)
{
    if (absolute_path.size && absolute_path.str[0] == '/') return str_cat(arena, str_lit("file://"), absolute_path);
    return str_cat(arena, str_lit("file:///"), absolute_path);
}

// The closest element at or above `node`, never leaving the tree.
static HtmlElement *element_at_or_above(HtmlElement *node)
{
    for (HtmlElement *e = node; !html_is_none(e); e = e->parent)
        if (e->type == HtmlNode_Element) return e;
    return &html_none;
}

HtmlElement *render_icon(Arena *arena, u32 icon_id)
{
    Str name = icon_name(icon_id);
    if (name.size == 0 || str_eq(name, str_lit("Nil"))) return &html_none;
    HtmlElement *span = html_element_from_tag(arena, HtmlTag_Span);
    html_add_style(arena, span, str_lit("vertical-align:baseline;"));
    HtmlAttribute *classes = html_attribute_append(arena, span, html_attr_from_id(HtmlAttr_Class));
    StrNode *names = push_array_no_zero<StrNode>(arena, 2);
    if (!names || html_attribute_is_none(classes)) return span;
    names[0] = {&names[1], str_cat(arena, str_lit("icon-"), name)};
    names[1] = {nullptr, str_lit("icon")};
    classes->values = {&names[0], &names[1], 2, names[0].string.size + names[1].string.size};
    return span;
}

//- allowed parents

// A list item may hold what a document puts into it: a table (in its div),
// a quote or a context. The tag table, which templates are checked
// against, does not list `li` among a div's parents, and a div met in an
// item went up to the region, after the whole list, so the page showed it
// below the items that followed it.
static bool allows(u32 child_tag, const HtmlElement *parent)
{
    if (!is_element(parent)) return false;
    if (child_tag == HtmlTag_Div && parent->tag->id == HtmlTag_Li) return true;
    return html_tag_allows_parent(child_tag, parent->tag->id);
}

//- regions

// The page shell puts the regions directly into the body, and a page is
// searched for them again for every table cell and footnote list: look
// there first, and walk the whole body only when they are elsewhere.
static HtmlElement *find_region(HtmlElement *body, Str id)
{
    HtmlElement *content = html_content_node(body);
    for (HtmlElement *c = content->first_child; !html_is_none(c); c = c->next)
        if (c->type == HtmlNode_Element && html_has_attribute_value(c, HtmlAttr_Id, id)) return c;
    return html_find_by_id(body, id);
}

static void find_regions(RenderState *s)
{
    if (s->regions_found) return;
    s->regions_found = true;
    // The html element is above the target (b_w, a table cell) or, for a
    // whole page, below its document node. Rendered content never holds
    // one, so the climb comes first and the search below only when it fails.
    HtmlElement *html = &html_none;
    for (HtmlElement *e = s->target; !html_is_none(e); e = e->parent)
        if (is_element(e) && e->tag->id == HtmlTag_Html) {
            html = e;
            break;
        }
    if (html_is_none(html)) html = html_find_by_tag(s->target, HtmlTag_Html, 0);
    HtmlElement *body = html_find_by_tag(html, HtmlTag_Body, 0);
    HtmlElement *search = !html_is_none(body) ? body : html;
    s->b_w = find_region(search, str_lit("b_w"));
    s->top_middle = find_region(search, str_lit("top_middle"));
    s->bottom = find_region(search, str_lit("bottom"));
    // A page without its regions still shows the whole document: it goes
    // into the body, or failing that wherever the caller pointed.
    if (!is_element(s->b_w)) s->b_w = is_element(body) ? body : html;
    if (!is_element(s->b_w)) s->b_w = element_at_or_above(s->target);
    if (!is_element(s->top_middle)) s->top_middle = s->b_w;
    if (!is_element(s->bottom)) s->bottom = s->b_w;
}

static HtmlElement *region_b_w(RenderState *s)
{
    find_regions(s);
    return s->b_w;
}

// The last resort of every container search: the element the caller
// rendered into, else the document region.
static HtmlElement *fallback_container(RenderState *s)
{
    if (is_element(s->target)) return s->target;
    return region_b_w(s);
}

//- frames

static RenderFrame *frame_top(RenderState *s) { return &s->frames[s->depth - 1]; }

static void frame_push(RenderState *s, const RenderFrame *frame)
{
    if (s->depth == s->capacity) {
        u64 capacity = s->capacity ? s->capacity * 2 : 64;
        RenderFrame *frames = push_array_no_zero<RenderFrame>(s->scratch, capacity);
        if (s->depth) memcpy(frames, s->frames, sizeof(RenderFrame) * s->depth);
        s->frames = frames;
        s->capacity = capacity;
    }
    s->frames[s->depth] = *frame;
    s->depth += 1;
}

// Where a frame keeps the nearest element of `kind`; null for the kinds it
// does not track.
static MarkupNode **frame_slot(RenderFrame *frame, u32 kind)
{
    switch (kind) {
    case MarkupKind_Toc: return &frame->toc;
    case MarkupKind_Quote: return &frame->quote;
    case MarkupKind_Context: return &frame->context;
    case MarkupKind_ListItem: return &frame->list_item;
    case MarkupKind_LinkHttp: return &frame->link_http;
    case MarkupKind_LinkFile: return &frame->link_file;
    case MarkupKind_Raw: return &frame->raw;
    case MarkupKind_Desc: return &frame->desc;
    default: return nullptr;
    }
}

static void frame_note(RenderFrame *frame, MarkupNode *node, u32 kind)
{
    if (MarkupNode **slot = frame_slot(frame, kind)) *slot = node;
}

// What a node's children inherit: the parent's nearest kinds, with the node
// itself taking the place of its own kind.
static RenderFrame frame_for(const RenderFrame *parent, MarkupNode *node, u32 kind, HtmlElement *element)
{
    RenderFrame frame = *parent;
    frame.node = node;
    frame.kind = kind;
    frame.element = element;
    frame.emphasis = nullptr;
    frame.fold_pos = no_fold;
    frame_note(&frame, node, kind);
    return frame;
}

// The frame of the start node's parent, which the walk never visits: its
// kinds come from one climb of the markup tree, which meets the nearest of
// each kind first; its element is unknown.
static RenderFrame frame_outside(MarkupNode *parent)
{
    if (node_is_nil(parent)) parent = &markup_nil;   // a tree built by hand may hold null links
    RenderFrame frame = {};
    frame.element = &html_none;
    frame.toc = frame.quote = frame.context = frame.list_item = &markup_nil;
    frame.link_http = frame.link_file = frame.raw = frame.desc = &markup_nil;
    frame.node = parent;
    frame.kind = kind_of(parent);
    for (MarkupNode *a = parent; !node_is_nil(a); a = a->parent) {
        MarkupNode **slot = frame_slot(&frame, kind_of(a));
        if (slot && node_is_nil(*slot)) *slot = a;
    }
    return frame;
}

//- containers

// The element made for `parent`. Inside the walk the parent's frame knows
// it. For the start node's parent, the element is searched the way the
// page assembly leaves it: the current element or one above it that was
// made for that node.
static HtmlElement *parent_element(RenderState *s, RenderFrame *pf, MarkupNode *parent)
{
    if (is_element(pf->element)) return pf->element;
    if (!node_is_nil(parent))
        for (HtmlElement *e = element_at_or_above(s->current); !html_is_none(e); e = element_at_or_above(e->parent))
            if (e->offset == parent->offset) return e;
    return fallback_container(s);
}

// The element a text run goes into when its parent lies outside the walk:
// the current element when it was made for the parent, else the closest
// element carrying the class of the parent's rule, above or below the
// current one.
static HtmlElement *outside_text_container(RenderState *s, MarkupNode *run, MarkupNode *parent)
{
    HtmlElement *current = element_at_or_above(s->current);
    bool inside = (run->flags & (NodeFlag_StrongInside | NodeFlag_EmphasisInside)) != 0;
    if (is_element(current) && (inside || (!node_is_nil(parent) && current->offset == parent->offset))) return current;
    Str cls = render_rule_find(parent)->class_name;
    if (cls.size) {
        for (HtmlElement *e = current; !html_is_none(e); e = element_at_or_above(e->parent))
            if (html_has_attribute_value(e, HtmlAttr_Class, cls)) return e;
        for (HtmlElement *e = current; !html_is_none(e); e = html_walk_next(e, current))
            if (is_element(e) && html_has_attribute_value(e, HtmlAttr_Class, cls)) return e;
    }
    return fallback_container(s);
}

// Where an element of tag `tag` made for a node whose container is
// `container` goes: the container when it may hold the tag; a table met in
// a table goes to the nearest div above; otherwise the closest element
// above the container that may hold it. None when no element on the way
// up may: the node then makes no element and its content stays in the
// container.
static HtmlElement *placement_for(HtmlElement *container, u32 tag)
{
    if (allows(tag, container)) return container;
    if (tag == HtmlTag_Table && container->tag->id == HtmlTag_Table)
        for (HtmlElement *e = element_at_or_above(container->parent); !html_is_none(e); e = element_at_or_above(e->parent))
            if (e->tag->id == HtmlTag_Div) return e;
    for (HtmlElement *e = element_at_or_above(container->parent); !html_is_none(e); e = element_at_or_above(e->parent))
        if (allows(tag, e)) return e;
    return &html_none;
}

// Lists, blocks and quotes lifted out of a paragraph or heading line: an
// HTML paragraph or heading may not hold them, so they follow it in `b_w`.
static bool lifted_from_paragraph(MarkupNode *node, u32 kind)
{
    bool inline_block = (node->flags & NodeFlag_Inline) != 0;
    if ((kind_is_list(kind) || kind == MarkupKind_Block) && !inline_block) return true;
    return kind == MarkupKind_Quote || kind == MarkupKind_TableRoot;
}

static bool lifted_from_heading(MarkupNode *node, u32 kind)
{
    bool inline_block = (node->flags & NodeFlag_Inline) != 0;
    if (kind == MarkupKind_Paragraph || kind == MarkupKind_Heading) return true;
    if ((kind_is_list(kind) || kind == MarkupKind_Block) && !inline_block) return true;
    return kind == MarkupKind_Separator || kind == MarkupKind_Quote || kind == MarkupKind_TableRoot;
}

//- computed styles

// A block below a paragraph or heading is indented half a unit past that
// line's own margin, so it lines up with the line's text although it stands
// after it in `b_w`.
static u64 indentation_write(const RenderRule *rule, char *out, u64 capacity)
{
    f64 margin = 0.8;
    Str unit = str_lit("rem");
    if (rule) {
        CssLength length = css_read_length(rule->style, str_lit("margin-left"));
        margin = length.number + 0.5;
        if (length.unit.size) unit = length.unit;
    }
    // The count of what would have been written: never more than the buffer.
    u64 size = fmt_snprintf(out, capacity, "margin-left:%.1f%S;", margin, unit);
    return min_of<u64>(size, capacity - 1);
}

// The margin depends only on the parent line's rule, and rules are constant
// data: every style is worked out once per process, not once per block of
// every page (each table cell was a walk of its own, and formatting the
// number showed in a page's profile).
struct IndentationTable {
    static constexpr u64 slots = render_rule_count + 2;   // the table's rules, none, the none rule
    char bytes[slots][48];
    u64 size[slots];
};

static const IndentationTable &indentation_table()
{
    static IndentationTable table;
    static std::once_flag made;
    std::call_once(made, [] {
        for (u64 i = 0; i < IndentationTable::slots; i += 1) {
            const RenderRule *rule = i < render_rule_count ? &render_rule_table[i]
                                     : i == render_rule_count ? nullptr
                                                              : &render_rule_none;
            table.size[i] = indentation_write(rule, table.bytes[i], sizeof table.bytes[i]);
        }
    });
    return table;
}

static Str indentation_style(Arena *arena, const RenderRule *rule)
{
    u64 slot = IndentationTable::slots;
    if (!rule) slot = render_rule_count;
    else if (rule == &render_rule_none) slot = render_rule_count + 1;
    else if (rule >= render_rule_table && rule < render_rule_table + render_rule_count) slot = (u64)(rule - render_rule_table);
    if (slot < IndentationTable::slots) {
        const IndentationTable &table = indentation_table();
        return str(table.bytes[slot], table.size[slot]);
    }
    char bytes[64];
    u64 size = indentation_write(rule, bytes, sizeof bytes);
    return str_copy(arena, str(bytes, size));
}

static void set_indentation(RenderState *s, HtmlElement *element, RenderFrame *pf)
{
    const RenderRule *rule = nullptr;
    MarkupNode *parent = pf->node;
    if (pf->kind == MarkupKind_Heading || pf->kind == MarkupKind_Paragraph)
        rule = render_rule_lookup(NodeClass_Element, parent->kind, parent->number, parent->flags);
    set_attr(s->arena, element, HtmlAttr_Style, indentation_style(s->arena, rule));
}

// Letters of an alphabetic list: a to z, then aa, ab, ... as lists of
// letters are counted everywhere else (the parser stops at z, a tree built
// by other code need not).
static Str alpha_marker(Arena *arena, u64 number)
{
    char letters[16];
    u64 count = 0;
    u64 n = number + 1;
    while (n && count < sizeof letters) {
        n -= 1;
        letters[sizeof letters - 1 - count] = (char)('a' + n % 26);
        count += 1;
        n /= 26;
    }
    return str_cat(arena, str(letters + sizeof letters - count, count), str_lit("."));
}

static void append_list_marker(RenderState *s, HtmlElement *element, MarkupNode *item, u32 list_kind)
{
    Str marker = {};
    if (list_kind == MarkupKind_ListAlpha) marker = alpha_marker(s->arena, item->number);
    else if (list_kind == MarkupKind_ListNumeric) marker = str_cat(s->arena, str_from_u64(s->arena, (u64)item->number + 1, 10, 0, 0), str_lit("."));
    else if (list_kind == MarkupKind_ListUnordered) marker = str_lit(".");
    else return;   // an item outside a list has nothing to count
    HtmlElement *span = styled_element(s->arena, HtmlTag_Span,
                                       str_lit("margin-right:0.2rem;color:#343232;font-size:0.9em;font-family:'IBM Plex Mono';"));
    html_append_text(s->arena, span, marker);
    html_append_content(element, span);
}

//- header fields

static void title_place(Arena *arena, HtmlElement *h1, bool smartphone, HtmlElement *top_middle, HtmlElement *b_w)
{
    if (smartphone) {
        html_insert(top_middle, h1, HtmlInsert_FirstContent);
        set_attr(arena, h1, HtmlAttr_Style,
                 str_lit("margin:0;font-size:1rem;text-overflow:ellipsis;overflow:hidden;white-space:nowrap;"));
    } else {
        set_attr(arena, h1, HtmlAttr_Style, str_lit("margin-top:2rem;"));
        html_insert(b_w, h1, HtmlInsert_FirstContent);
    }
}

static void field_style(Arena *arena, HtmlElement *field, bool smartphone)
{
    if (smartphone) set_attr(arena, field, HtmlAttr_Style, str_lit("font-size:1.1rem;"));
}

static void render_header_field(RenderState *s, MarkupNode *node, HtmlElement *element, u32 *icon)
{
    const HeaderFieldInfo *field = node->field;
    // Only the document's title (its first title line) becomes the title
    // block; later title lines are ordinary fields, as the parser reads them.
    if (field->id == HeaderField_Title && html_is_none(s->title)) {
        set_attr(s->arena, element, HtmlAttr_Style,
                           str_lit("margin-left:0;font-family:'Source Sans 3 Bold';text-align:center;"
                                   "border-bottom:0.2rem solid #c3b6b6;"));
        HtmlElement *h1 = styled_element(s->arena, HtmlTag_H1, str_lit("font-family:'Noto Serif Bold'"));
        RenderKindParts *parts = s->options->kind_parts;
        if (!parts) {
            find_regions(s);
            title_place(s->arena, h1, s->smartphone, s->top_middle, s->b_w);
        } else if (parts->title_count < array_count(parts->titles)) {
            parts->titles[parts->title_count++] = h1;
        } else {
            parts->overflow = true;
        }
        s->title = h1;
        s->title_field = node;
    } else if (field->id == HeaderField_Summary) {
        set_attr(s->arena, element, HtmlAttr_Style, str_lit("font-family:'Source Sans 3 Italic';"));
    } else if (field->id != HeaderField_Title && field->hidden) {
        set_attr(s->arena, element, HtmlAttr_Style, str_lit("display:none !important;"));
    }
    set_attr(s->arena, element, HtmlAttr_Title, field->key);
    if (RenderKindParts *parts = s->options->kind_parts) {
        if (parts->field_count < array_count(parts->fields)) parts->fields[parts->field_count++] = element;
        else parts->overflow = true;
        // The field is styled after the render: nothing above it may become
        // text meanwhile, or its arena be given back.
        for (u64 i = 0; i < s->depth; i += 1) s->frames[i].fold_pos = no_fold;
    } else {
        field_style(s->arena, element, s->smartphone);
    }
    *icon = (u32)field->icon;
}

void render_title_place(Arena *arena, HtmlElement *h1, const PageVariant *variant, HtmlElement *top_middle,
                        HtmlElement *b_w)
{
    title_place(arena, h1, page_variant_is_smartphone(variant), top_middle, b_w);
}

void render_fields_style(Arena *arena, const RenderKindParts *parts, const PageVariant *variant)
{
    bool smartphone = page_variant_is_smartphone(variant);
    for (u32 i = 0; i < parts->field_count; i += 1) field_style(arena, parts->fields[i], smartphone);
}

//- what a kind adds to its element

static void render_reference(RenderState *s, MarkupNode *node, MarkupNode *parent, HtmlElement *element)
{
    // footnote_ref points at a footnote, internal_link_ref at an
    // internal_link: the definition's id is its class and offset, which the
    // reference carries.
    u32 kind = parent->kind == MarkupKind_FootnoteRef       ? (u32)MarkupKind_Footnote
               : parent->kind == MarkupKind_InternalLinkRef ? (u32)MarkupKind_InternalLink
                                                            : parent->kind;
    Str cls = render_rule_lookup(NodeClass_Element, kind, node->number, 0)->class_name;
    // A reference without definition is a span (its rule's tag): it leads
    // nowhere, and a span takes no href.
    if (!(node->flags & NodeFlag_Unresolved))
        set_attr(s->arena, element, HtmlAttr_Href, str_cat(s->arena, str_lit("#"), str_numbered(s->arena, cls, node->offset)));
    if (!node_is_nil(child_element_named(parent, MarkupKind_Desc))) return;
    HtmlElement *sup = styled_element(s->arena, HtmlTag_Sup, str_lit("font-size:0.6rem;line-height:1;"));
    html_append_content(element, sup);
    set_attr(s->arena, element, HtmlAttr_Style, str_lit("padding:0 0.1em;"));
    HtmlElement *number = styled_element(s->arena, HtmlTag_Span, str_lit("vertical-align:super;margin-right:0.2em;"));
    html_append_text(s->arena, number, str_from_u64(s->arena, parent->number, 10, 0, 0));
    html_append_content(sup, number);
}

static void render_by_kind(RenderState *s, MarkupNode *node, u32 kind, RenderFrame *pf, const RenderRule *rule,
                           HtmlElement *element)
{
    Arena *arena = s->arena;
    switch (kind) {
    case MarkupKind_TocItem: {
        Str cls = render_rule_lookup(NodeClass_Element, MarkupKind_Heading, node->number, 0)->class_name;
        set_attr(arena, element, HtmlAttr_Href, str_cat(arena, str_lit("#"), str_numbered(arena, cls, node->offset)));
    } break;
    case MarkupKind_Heading:
    case MarkupKind_InternalLink:
        set_attr(arena, element, HtmlAttr_Id, str_numbered(arena, rule->class_name, node->offset));
        break;
    case MarkupKind_Reference:
        render_reference(s, node, pf->node, element);
        break;
    case MarkupKind_Footnote: {
        set_attr(arena, element, HtmlAttr_Id, str_numbered(arena, rule->class_name, node->offset));
        HtmlElement *number = styled_element(arena, HtmlTag_Span, str_lit("font-size:0.7rem;vertical-align:super;margin-right:0.4rem;"));
        html_append_text(arena, number, str_from_u64(arena, node->number, 10, 0, 0));
        html_append_content(element, number);
    } break;
    case MarkupKind_LinkHttp:
    case MarkupKind_LinkFile:
        if (node->flags & NodeFlag_Unresolved) {
            // A link that cannot be followed shows where it pointed. The
            // first child may be a reference the link check inserted.
            set_text_attribute(s, element, HtmlAttr_Title, first_text_child(node)->name);
        } else if (node->flags & (NodeFlag_Jpeg | NodeFlag_Embedded)) {
            html_set_tag(element, HtmlTag_Img);
        }
        break;
    case MarkupKind_ListAlpha:
    case MarkupKind_ListNumeric:
    case MarkupKind_ListUnordered:
        // A list written inside a line stays in the line's flow, and the
        // table of contents lays out its own lists.
        if (node_is_nil(pf->toc) && !(node->flags & NodeFlag_Inline)) set_indentation(s, element, pf);
        break;
    case MarkupKind_Block:
        // Every code block is indented, wherever it was written: its lines
        // keep their own layout, and the margin sets them off the text.
        set_indentation(s, element, pf);
        // Its element is a span: in a list item it flowed on at the end of
        // the item's text, where everywhere else it stands on lines of its
        // own below it.
        if (pf->kind == MarkupKind_ListItem && !(node->flags & NodeFlag_Inline))
            html_add_style(arena, element, str_lit("display:block;"));
        break;
    case MarkupKind_ListItem:
        if (node_is_nil(pf->toc)) append_list_marker(s, element, node, pf->kind);
        break;
    case MarkupKind_TableRoot:
        set_indentation(s, element, pf);
        break;
    case MarkupKind_Quote:
        if (!node_is_nil(pf->quote))
            set_attr(arena, element, HtmlAttr_Style, str_pushf(arena, "margin-left:%.1frem;", node->number * 0.2));
        else
            set_indentation(s, element, pf);
        break;
    default:
        break;
    }
}

//- folding
//
// A heading, or an entry of the table of contents, whose content is plain
// text makes a few nodes and attributes that nothing reads once it is
// complete. With fold_finished it is serialized then, and everything pushed
// since its element was made goes back to the arena: the element's HTML
// text is all that stays. What may be folded is decided on the markup (no
// node below it makes an element elsewhere) and checked on the HTML (only
// headings, list items, in-page links and text), so nothing outside the
// element can point into what is given back.

static bool text_only(MarkupNode *node)
{
    for (MarkupNode *c = node->first_child; !node_is_nil(c); c = c->next)
        if (c->node_class != NodeClass_Text || !node_is_nil(c->first_child)) return false;
    return true;
}

static bool foldable_node(MarkupNode *node, u32 kind, const RenderFrame *pf)
{
    if (kind == MarkupKind_Heading) return text_only(node);
    if (kind != MarkupKind_ListItem || node_is_nil(pf->toc)) return false;
    for (MarkupNode *c = node->first_child; !node_is_nil(c); c = c->next) {
        if (c->node_class == NodeClass_Text && node_is_nil(c->first_child)) continue;
        if (!node_is_element(c, MarkupKind_TocItem) || !text_only(c)) return false;
    }
    return true;
}

static bool is_inside(HtmlElement *node, HtmlElement *root)
{
    for (HtmlElement *e = node; !html_is_none(e); e = e->parent)
        if (e == root) return true;
    return false;
}

static bool foldable_html(HtmlElement *root)
{
    for (HtmlElement *n = root; !html_is_none(n); n = html_walk_next(n, root)) {
        if (n->type == HtmlNode_Text) continue;
        if (n->type != HtmlNode_Element) return false;
        u32 tag = n->tag->id;
        if (tag == HtmlTag_A) {
            HtmlAttribute *href = html_get_attribute(n, HtmlAttr_Href);
            Str target = html_attribute_is_none(href) || !href->values.first ? str_empty() : href->values.first->string;
            if (target.size == 0 || target.str[0] != '#') return false;
            continue;
        }
        if (tag != HtmlTag_Li && tag != HtmlTag_H1 && tag != HtmlTag_H2 && tag != HtmlTag_H3 && tag != HtmlTag_H4 &&
            tag != HtmlTag_H5 && tag != HtmlTag_H6)
            return false;
    }
    return true;
}

static void fold_finished(RenderState *s, const RenderFrame *frame)
{
    HtmlElement *element = frame->element;
    if (frame->fold_pos == no_fold || !is_element(element)) return;
    HtmlElement *parent = element->parent;
    // Anything made after the element and placed after it (a block lifted
    // out of the line) would be given back with it.
    if (html_is_none(parent) || parent->last_child != element) return;
    if (!html_is_none(s->text_container) && !is_inside(s->text_container, element)) return;
    flush_text(s);
    if (parent->last_child != element || !foldable_html(element)) return;

    ArenaTemp temp = temp_begin(s->scratch);
    StrList pieces = {};
    // What the renderer makes carries only attributes the table names.
    html_serialize(s->scratch, element, &pieces, nullptr);
    u64 offset = element->offset;
    html_detach(element);
    arena_pop_to(s->arena, frame->fold_pos);
    Str html = str_list_join_plain(s->arena, &pieces);
    html_append_child(parent, html_html_node(s->arena, html, offset));
    temp_end(temp);
    s->current = element_at_or_above(parent);
}

//- highlighted blocks

// A block in a language wyn has a grammar for is written whole, its pieces
// in classed spans, instead of run by run. Its text is what the runs would
// show, so the page reads the same with the classes taken away; any block
// the runs would show otherwise (one holding elements, one inside raw text)
// and any block the highlighter declines go the plain way.
static u64 blanks_after(const MarkupNode *node);

static bool render_highlighted(RenderState *s, MarkupNode *block, const RenderFrame *pf, HtmlElement *element)
{
    u32 language = highlight_language_from_word(block_language(block));
    if (language == 0 || node_is_nil(block->first_child)) return false;
    if (!node_is_nil(pf->raw) || !node_is_nil(pf->toc) || !node_is_nil(pf->link_http) || !node_is_nil(pf->link_file))
        return false;
    const u64 span_flags = NodeFlag_EmphasisMarks | NodeFlag_StrongInside | NodeFlag_EmphasisInside;
    ArenaTemp scratch = scratch_begin(s->arena);
    u64 size = 0;
    for (MarkupNode *c = block->first_child; !node_is_nil(c); c = c->next) {
        if (c->node_class != NodeClass_Text || !node_is_nil(c->first_child) || (c->flags & span_flags)) {
            scratch_end(scratch);
            return false;
        }
        size += c->name.size + blanks_after(c);
    }
    char *bytes = push_array_no_zero<char>(scratch.arena, size + 1);
    Str html = str_empty();
    if (bytes) {
        u64 at = 0;
        for (MarkupNode *c = block->first_child; !node_is_nil(c); c = c->next) {
            memcpy(bytes + at, c->name.str, c->name.size);
            memset(bytes + at + c->name.size, ' ', blanks_after(c));
            at += c->name.size + blanks_after(c);
        }
        html = highlight_html(s->arena, language, str(bytes, size));
    }
    scratch_end(scratch);
    if (html.size == 0) return false;
    html_append_content(element, html_html_node(s->arena, html, block->offset));
    // Where the block's last run would have left the walk.
    HtmlElement *above = element_at_or_above(element->parent);
    if (!html_is_none(above)) s->current = above;
    return true;
}

//- named nodes

// Renders an element or header field node. Returns whether its children are
// rendered; fills `element` with what the children go into.
static bool render_named(RenderState *s, MarkupNode *node, u32 kind, RenderFrame *pf, HtmlElement **element_out)
{
    Arena *arena = s->arena;
    MarkupNode *parent = pf->node;
    u32 parent_kind = pf->kind;

    // A table's heading and body belong to the table assembly, which builds
    // the rows and renders each cell into the cell it makes. The site build
    // hands tables over already emptied; a tree that still holds them
    // renders the same.
    if (parent_kind == MarkupKind_Table && (kind == MarkupKind_TableHeader || kind == MarkupKind_TableRootEntry)) {
        *element_out = &html_none;
        return false;
    }
    // A footnote's line leaves its paragraph empty when the note moves to
    // the page's foot: an empty paragraph would still add its margin, and a
    // run of notes opened a gap in the text.
    if (kind == MarkupKind_Paragraph && node_is_nil(node->first_child)) {
        *element_out = &html_none;
        return false;
    }
    // A span of emphasis does not reach across a named node: what follows the
    // node's content follows it on the page.
    pf->emphasis = nullptr;
    flush_text(s);

    const RenderRule *rule = render_rule_find(node);
    HtmlElement *container;
    if (!node_is_nil(parent) && parent->node_class == NodeClass_Document) {
        container = region_b_w(s);
    } else if (parent_kind == MarkupKind_Paragraph && lifted_from_paragraph(node, kind)) {
        container = region_b_w(s);
    } else if (parent_kind == MarkupKind_Heading && lifted_from_heading(node, kind)) {
        container = region_b_w(s);
    } else if (kind == MarkupKind_Desc && parent_kind != MarkupKind_Heading) {
        // A description makes no element: it marks the element it describes
        // (the link, the reference) and its text lands there.
        HtmlElement *holder = element_at_or_above(s->current);
        if (!is_element(holder)) holder = parent_element(s, pf, parent);
        add_class(arena, holder, rule->class_name);
        s->current = holder;
        *element_out = holder;
        // An image's description gave its caption and size; as text it
        // would print after the image, since an img has no end tag.
        bool image = (parent_kind == MarkupKind_LinkFile || parent_kind == MarkupKind_LinkHttp) &&
                     (parent->flags & NodeFlag_Embedded) && !(parent->flags & NodeFlag_Unresolved);
        return !image;
    } else if (kind == MarkupKind_Footnotes && parent_kind != MarkupKind_Heading) {
        find_regions(s);
        container = s->bottom;
    } else {
        container = parent_element(s, pf, parent);
    }

    // An element given to render into (a table cell the page assembly made)
    // is taken as the node's own element.
    HtmlElement *current = s->current;
    if (!render_rule_is_none(rule) && rule->tag && is_element(current) && current->offset == node->offset &&
        current->tag->id == rule->tag &&
        (html_has_attribute_value(current, HtmlAttr_Class, rule->class_name) ||
         html_has_attribute_value(current, HtmlAttr_Id, rule->class_name))) {
        add_offset_class(arena, current, node->offset);
        *element_out = current;
        return true;
    }

    // No rule, a rule without a tag, or no place the tag may stand: the node
    // makes no element and its content goes into the container.
    HtmlElement *place = &html_none;
    if (!render_rule_is_none(rule) && rule->tag) place = placement_for(container, rule->tag);
    if (html_is_none(place)) {
        s->current = container;
        *element_out = container;
        return true;
    }

    u64 made_pos = arena_pos(arena);
    HtmlElement *element = html_element_from_tag(arena, rule->tag);
    element->offset = node->offset;
    element->level = node->number;
    // The rule's class, then the node's own "_<offset>" class, which is given
    // after the node; nothing in between adds a class, so both go in at once.
    HtmlAttribute *classes = html_attribute_append(arena, element, html_attr_from_id(HtmlAttr_Class));
    StrNode *names = push_array_no_zero<StrNode>(arena, 2);
    if (names && !html_attribute_is_none(classes)) {
        names[0] = {&names[1], rule->class_name};
        names[1] = {nullptr, str_numbered(arena, str_empty(), node->offset)};
        StrNode *first = rule->class_name.size ? &names[0] : &names[1];
        classes->values = {first, &names[1], rule->class_name.size ? 2u : 1u, rule->class_name.size + names[1].string.size};
    }

    u32 icon = rule->icon;
    if (node->node_class == NodeClass_HeaderField && node->field) render_header_field(s, node, element, &icon);
    if (icon) html_append_content(element, render_icon(arena, icon));

    render_by_kind(s, node, kind, pf, rule, element);

    // Entries of an inline context are strung on one line, a dot between two.
    bool dot = !node_is_nil(pf->context) && (pf->context->flags & NodeFlag_Inline) && !node_is_nil(node->prev);
    if (s->fold && !dot && arena_pos(arena) - s->start_pos >= s->options->fold_after_bytes && foldable_node(node, kind, pf)) {
        s->made = element;
        s->made_pos = made_pos;
    }
    if (dot) {
        HtmlElement *dot = render_icon(arena, Icon_Square);
        set_attr(arena, dot, HtmlAttr_Style, str_lit("font-size:0.2rem;margin:0.4rem;"));
        html_append_content(container, dot);
    }

    html_append_content(place, element);
    s->current = element;
    *element_out = element;
    if (kind == MarkupKind_Block && render_highlighted(s, node, pf, element)) return false;
    return true;
}

//- text runs

static void close_span(RenderFrame *pf, u64 close_flag)
{
    EmphasisOpen *open = pf->emphasis;
    while (open && open->close_flag != close_flag) open = open->outer;
    if (open) pf->emphasis = open->outer;
}

static void close_emphasis(RenderFrame *pf, u64 flags)
{
    if (flags & NodeFlag_StrongClose) close_span(pf, NodeFlag_StrongClose);
    if (flags & NodeFlag_EmphasisClose) close_span(pf, NodeFlag_EmphasisClose);
}

static bool is_decimal(Str text)
{
    if (text.size == 0) return false;
    for (u64 i = 0; i < text.size; i += 1)
        if (!char_is_digit((u8)text.str[i])) return false;
    return true;
}

static bool is_zero(Str number)
{
    for (u64 i = 0; i < number.size; i += 1)
        if (number.str[i] != '0') return false;
    return true;
}

static void render_image(RenderState *s, MarkupNode *run, MarkupNode *link, HtmlElement *img)
{
    Arena *arena = s->arena;
    Str name = run->name;
    Str local_path = to_site_path(arena, s->local_folder, name, 1);
    Str src = s->deploy ? site_relative_path(s->local_folder, name) : render_file_address(arena, local_path);

    Str caption = str_empty();
    Str width = str_empty(), height = str_empty();
    bool jpeg_read = false;
    JpegInfo jpeg = {};
    MarkupNode *desc = child_element_named(link, MarkupKind_Desc);
    for (MarkupNode *c = desc->first_child; !node_is_nil(c); c = c->next) {
        if (c->node_class != NodeClass_Text) continue;
        if (c->flags & NodeFlag_ClosedString) {
            caption = c->name.size >= 2 ? str_substr(c->name, 1, c->name.size - 1) : str_empty();
            continue;
        }
        // A size part is width "x" height; only two numbers make a size, so
        // a description word that merely holds an x is not taken for one.
        StrList pieces = str_split(arena, c->name, str_lit("xX"), 0);
        if (pieces.node_count == 2 && is_decimal(pieces.first->string) && is_decimal(pieces.last->string)) {
            width = pieces.first->string;
            height = pieces.last->string;
        }
        if (!jpeg_read && (link->flags & NodeFlag_Jpeg) && s->options->image_info) {
            jpeg = s->options->image_info(s->options->image_info_user, arena, local_path);
            jpeg_read = true;
        }
    }
    if (width.size == 0) width = str_from_u64(arena, jpeg.width, 10, 0, 0);
    if (height.size == 0) height = str_from_u64(arena, jpeg.height, 10, 0, 0);

    set_text_attribute(s, img, HtmlAttr_Src, src);
    set_text_attribute(s, img, HtmlAttr_Alt, caption);
    // An unknown size is left to the browser: a width of 0 would hide the
    // image.
    if (!is_zero(width)) set_attr(arena, img, HtmlAttr_Width, width);
    if (!is_zero(height)) set_attr(arena, img, HtmlAttr_Height, height);
    set_text_attribute(s, img, HtmlAttr_Title, caption);
    set_attr(arena, img, HtmlAttr_DataTitle, str_pushf(arena, "%Sx%S ratio:%S ", width, height, jpeg.ratio));
    set_attr(arena, img, HtmlAttr_Draggable, str_lit("false"));
    if (!is_zero(width)) set_attr(arena, img, HtmlAttr_Style, str_pushf(arena, "max-width:%Spx", width));
}

// The text of a link: its target goes into the element's attributes, and
// becomes its visible text unless a description names the link.
static void render_link_target(RenderState *s, MarkupNode *run, MarkupNode *link, HtmlElement *element)
{
    Arena *arena = s->arena;
    Str name = run->name;
    bool is_file = node_is_element(link, MarkupKind_LinkFile);
    bool image = false;
    if (link->flags & NodeFlag_Unresolved) {
        // The link check marks the link, not its text. A web address is
        // already in the title; a file shows where wyn looked for it.
        if (is_file) {
            Str where;
            if (s->deploy) {
                StrList parts = str_split_path(arena, name);
                StrJoin join = {str_empty(), str_lit("/"), str_empty()};
                where = str_list_join(arena, &parts, &join);
            } else {
                where = render_file_address(arena, to_site_path(arena, s->local_folder, name, 1));
            }
            html_remove_attribute(element, HtmlAttr_Title);
            set_text_attribute(s, element, HtmlAttr_Title, where);
        }
    } else if (link->flags & NodeFlag_Embedded) {
        image = true;
        render_image(s, run, link, element);
    } else if (is_file) {
        MarkupNode *reference = child_element_named(link, MarkupKind_Reference);
        Str href = name;
        if (!node_is_nil(reference)) {
            Str cls = render_rule_lookup(NodeClass_Element, MarkupKind_InternalLink, reference->number, 0)->class_name;
            href = str_cat(arena, str_cat(arena, name, str_lit("#")), str_numbered(arena, cls, reference->offset));
        }
        set_text_attribute(s, element, HtmlAttr_Href, href);
    } else {
        set_text_attribute(s, element, HtmlAttr_Href, name);
    }
    if (!image && node_is_nil(child_element_named(link, MarkupKind_Desc)))
        html_append_text(arena, element, escape_text(arena, name));
}

static void render_categories(RenderState *s, MarkupNode *run, HtmlElement *container)
{
    Str text = str_unquote(run->name);
    Str piece;
    for (u64 cursor = 0; str_next_piece(text, ';', &cursor, &piece);) {
        if (piece.size == 0) continue;
        HtmlElement *tag = styled_element(s->arena, HtmlTag_Span,
                                          str_lit("padding:0 0.1em;background-color:#ffffff;margin-left:0.2em;border:1px solid #cfcfcf;"));
        html_append_text(s->arena, tag, escape_text(s->arena, piece));
        html_append_content(container, tag);
    }
}

// The blanks a run shows around its text. The parser records a blank on
// both sides of it (the run before gets it as `space_after`, the run after
// as `space_before`), so only one side may show it: the run before's, which
// is also where the blank after an element (a link, a code span, a
// reference) is recorded. A container's first run shows no blank before it
// (it is a line's indentation, or the blank after a list marker or a header
// key's colon), except where the container shows something of its own
// before its text: a footnote its number ("[*1] text"), and parentheses
// their opening ("( a"); and blanks after a container's last run stand
// before the line's end, where nothing shows them.
static u64 blanks_before(const MarkupNode *run, const RenderFrame *pf)
{
    bool shown = (pf->kind == MarkupKind_Desc || pf->kind == MarkupKind_Footnote) && node_is_nil(run->prev);
    return shown ? min_of<u64>(run->space_before, run_blanks_max) : 0;
}

// An anchor ("[#4]_") shows nothing: the blank the author put before it
// only set it apart in the source, so "word [#4]_." reads "word." and
// "word [#4]_ next" shows the one blank after the anchor.
static u64 blanks_after(const MarkupNode *node)
{
    if (node_is_nil(node->next) || node_is_element(node->next, MarkupKind_InternalLink)) return 0;
    return min_of<u64>(node->space_after, run_blanks_max);
}

// Renders one text run; returns the element its (unexpected) children go into.
static HtmlElement *render_text(RenderState *s, MarkupNode *run, RenderFrame *pf)
{
    Arena *arena = s->arena;
    MarkupNode *parent = pf->node;
    u64 flags = run->flags;

    // Most runs are words of a line: no emphasis, no link, no header value,
    // no table of contents. They only add their text to the line's element.
    const u64 span_flags = NodeFlag_EmphasisMarks | NodeFlag_StrongInside | NodeFlag_EmphasisInside;
    if (!(flags & span_flags) && is_element(pf->element) && node_is_nil(pf->link_http) && node_is_nil(pf->link_file) &&
        node_is_nil(pf->toc) && parent->node_class != NodeClass_HeaderField) {
        HtmlElement *container = pf->element;
        bool escape = node_is_nil(pf->raw);
        queue_text(s, container, str(blank_run, blanks_before(run, pf)), false);
        queue_text(s, container, run->name, escape);
        queue_text(s, container, str(blank_run, blanks_after(run)), false);
        s->current = container;
        if (node_is_nil(run->next)) {
            HtmlElement *above = element_at_or_above(container->parent);
            if (!html_is_none(above)) s->current = above;
        }
        return container;
    }

    // Container: an open span of emphasis takes the runs inside it.
    close_emphasis(pf, flags);
    HtmlElement *container = &html_none;
    if ((flags & (NodeFlag_StrongInside | NodeFlag_EmphasisInside)) && pf->emphasis) container = pf->emphasis->element;
    if (!is_element(container)) container = is_element(pf->element) ? pf->element : outside_text_container(s, run, parent);

    MarkupNode *link = !node_is_nil(pf->link_http) ? pf->link_http : pf->link_file;
    bool link_target = !node_is_nil(link) && node_is_nil(pf->desc);

    // The run's pending text: its blanks, and its text unless a link or an
    // emphasis mark shows it otherwise.
    Str shown = link_target || (flags & NodeFlag_EmphasisMarks) ? str_empty() : run->name;
    bool escape = node_is_nil(pf->raw);
    Str before = str(blank_run, blanks_before(run, pf));
    Str after = str(blank_run, blanks_after(run));
    // A picture that cannot be shown shows its caption in its place, as its
    // alt text would; its size parts mean nothing as words.
    if (!node_is_nil(link) && !node_is_nil(pf->desc) && (link->flags & NodeFlag_Embedded)) {
        bool caption = (flags & NodeFlag_ClosedString) && run->name.size >= 2;
        shown = caption ? str_substr(run->name, 1, run->name.size - 1) : str_empty();
        before = after = str_empty();
    }

    HtmlElement *own = &html_none;
    if (flags & (NodeFlag_EmphasisOpen | NodeFlag_StrongOpen)) {
        flush_text(s);
        bool em = (flags & NodeFlag_EmphasisOpen) != 0;
        u64 inside = em ? NodeFlag_EmphasisInside : NodeFlag_StrongInside;
        own = styled_element(arena, em ? HtmlTag_Em : HtmlTag_Strong, render_rule_lookup(NodeClass_Text, MarkupKind_None, 0, inside)->style);
        own->offset = run->offset;
        if (pf->kind == MarkupKind_ContextDocument) html_append_content(own, render_icon(arena, Icon_Info));
        if (flags & NodeFlag_Unresolved) {
            HtmlElement *unlink = render_icon(arena, Icon_Unlink);
            set_attr(arena, unlink, HtmlAttr_Style, str_lit("color:#440202;font-size:0.9em;"));
            html_append_content(own, unlink);
            html_append_text(arena, own, str_lit(" "));
        }
        html_append_content(container, own);
        EmphasisOpen *open = push_struct<EmphasisOpen>(s->scratch);
        open->outer = pf->emphasis;
        open->element = own;
        open->close_flag = em ? NodeFlag_EmphasisClose : NodeFlag_StrongClose;
        pf->emphasis = open;
    }

    // Categories show as boxed tags; the value's own text (quotes and
    // semicolons) would only repeat them.
    bool category = parent->node_class == NodeClass_HeaderField && parent->field &&
                    parent->field->id == HeaderField_Category;
    if (category) {
        flush_text(s);
        render_categories(s, run, container);
    }

    if (link_target) {
        flush_text(s);
        render_link_target(s, run, link, container);
    }

    // The plain form of the flush (a run belongs to no header field, so
    // neither the date nor the category form applies), gathered with the
    // runs around it.
    if (html_is_none(own) && !category) {
        queue_text(s, container, before, false);
        queue_text(s, container, shown, escape);
        queue_text(s, container, after, false);
        if (parent == s->title_field && !html_is_none(s->title) && before.size + shown.size + after.size)
            html_append_text(arena, s->title, run_text(arena, before.size, shown, after.size, escape));
    }

    bool last = node_is_nil(run->next);
    if (last && !node_is_nil(pf->toc) && !node_is_nil(pf->list_item) &&
        !node_is_nil(child_element_named(pf->list_item, MarkupKind_ListUnordered))) {
        flush_text(s);
        HtmlElement *down = render_icon(arena, Icon_DownDir);
        set_attr(arena, down, HtmlAttr_Style, str_lit("color:grey;"));
        html_append_content(container, down);
    }

    HtmlElement *element = container;
    if (!html_is_none(own)) {
        add_offset_class(arena, own, run->offset);
        element = own;
    }
    s->current = element;
    if (last) {
        HtmlElement *above = element_at_or_above(s->current->parent);
        if (!html_is_none(above)) s->current = above;
    }
    return element;
}

//- the walk

// The blanks after an element (a link, a code span, a reference), where the
// words after it continue its line: the next run does not show them. An
// anchor that opens its line has nothing before it to set apart.
static void element_blanks_after(RenderState *s, MarkupNode *node, RenderFrame *pf)
{
    if (node->node_class != NodeClass_Element || !is_element(pf->element)) return;
    if (node->kind == MarkupKind_InternalLink && node_is_nil(node->prev)) return;
    u64 blanks = blanks_after(node);
    if (blanks) queue_text(s, pf->element, str(blank_run, blanks), false);
}

b32 render_document(Arena *arena, MarkupNode *start, HtmlElement *target, const PageVariant *variant,
                    const RenderOptions *options)
{
    static const RenderOptions defaults = {};
    if (!options) options = &defaults;
    if (node_is_nil(start) || html_is_none(target)) return 0;
    ArenaTemp scratch = scratch_begin(arena);
    RenderState state;
    memset((void *)&state, 0, offsetof(RenderState, pieces));
    RenderState *s = &state;
    s->arena = arena;
    s->scratch = scratch.arena;
    s->smartphone = page_variant_is_smartphone(variant);
    s->options = options;
    s->fold = options->fold_finished != 0;
    s->start_pos = arena_pos(arena);
    s->made = &html_none;
    s->deploy = options->deploy;
    s->local_folder = options->local_folder;
    s->target = target;
    s->current = target;
    s->title = &html_none;
    s->title_field = &markup_nil;
    s->text_container = &html_none;
    MarkupNode *top = start;
    while (!node_is_nil(top->parent)) top = top->parent;
    if (top->node_class == NodeClass_Document) s->source = top->name;

    // Regions are looked up only when a node needs one; a render into an
    // element (a table cell) may need none.
    b32 rendered = is_element(target) || is_element(region_b_w(s));

    RenderFrame outside = frame_outside(start->parent);
    frame_push(s, &outside);
    MarkupNode *node = start;
    while (rendered) {
        RenderFrame *pf = frame_top(s);
        HtmlElement *element = &html_none;
        bool descend = true;
        u32 kind = MarkupKind_None;
        s->made = &html_none;
        switch (node->node_class) {
        case NodeClass_Nil:
            descend = false;
            node = start;   // the nil node ends the walk
            break;
        case NodeClass_Document:
            element = region_b_w(s);
            add_offset_class(arena, element, node->offset);
            s->current = element;
            break;
        case NodeClass_Text:
            element = render_text(s, node, pf);
            break;
        default:   // elements, header fields, and anything else that may carry a name
            kind = kind_of(node);
            descend = render_named(s, node, kind, pf, &element);
            break;
        }
        if (descend && !node_is_nil(node->first_child)) {
            RenderFrame frame = frame_for(pf, node, kind, element);
            if (s->made == element && !html_is_none(element)) frame.fold_pos = s->made_pos;
            frame_push(s, &frame);
            node = node->first_child;
            continue;
        }
        // Next sibling, or climb through the frames until one has one.
        bool done = false;
        for (;;) {
            if (node == start) {
                done = true;
                break;
            }
            element_blanks_after(s, node, frame_top(s));
            if (!node_is_nil(node->next)) {
                node = node->next;
                break;
            }
            node = frame_top(s)->node;
            if (s->fold) fold_finished(s, frame_top(s));
            s->depth -= 1;
        }
        if (done) break;
    }
    flush_text(s);
    scratch_end(scratch);
    return rendered;
}
