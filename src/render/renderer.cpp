// render/renderer.cpp: the walk that renders a document into a page tree.
#include "render/renderer.h"

#include "markup/paths.h"
#include "render/icons.h"
#include "render/render_rules.h"
#include "site/command_line.h"

//- walk state

// An emphasis span opened among the runs of one parent. Spans nest, so the
// parent keeps the innermost; a closing mark pops back to the span it
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
};

struct RenderState {
    Arena *arena;     // the page's: everything that ends up in the tree
    Arena *scratch;   // frames and span records
    bool smartphone;
    bool deploy;
    Str local_folder;

    HtmlElement *target;
    bool regions_found;   // regions are looked up on first use: a table cell never needs them
    HtmlElement *top_middle;
    HtmlElement *b_w;
    HtmlElement *bottom;

    HtmlElement *current;
    HtmlElement *title;        // the h1 of the document title
    MarkupNode *title_field;   // the header field that made it
    StrList pending;           // the pieces of the current text run

    RenderFrame *frames;
    u64 depth;
    u64 capacity;
};

static const char blank_run[] = "                                    ";   // 36 blanks
constexpr u64 max_run_blanks = 36;
static_assert(sizeof(blank_run) - 1 == max_run_blanks, "36 blanks");

//- small helpers

static bool is_element(const HtmlElement *e) { return !html_is_none(e) && e->type == HtmlNode_Element; }

static MarkupNode *child_element_named(MarkupNode *node, Str kind)
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

// Class values stay unique: an element chosen twice (the root region, a
// table cell the page assembly made) does not collect the same name twice.
static void add_class(Arena *arena, HtmlElement *element, Str name)
{
    if (name.size == 0 || html_has_attribute_value(element, HtmlAttr_Class, name)) return;
    html_set_attribute(arena, element, HtmlAttr_Class, name);
}

static void add_offset_class(Arena *arena, HtmlElement *element, u64 offset)
{
    add_class(arena, element, str_pushf(arena, "_%lu", offset));
}

// Text becomes HTML here and nowhere later: the serializer writes text nodes
// as they are. Only "<" is escaped, so entities an author writes survive.
static Str escape_text(Arena *arena, Str text)
{
    if (str_find_byte(text, '<', 0) >= text.size) return text;
    StrList parts = {};
    u64 start = 0;
    for (u64 i = 0; i < text.size; i += 1) {
        if (text.str[i] != '<') continue;
        str_list_push(arena, &parts, str_substr(text, start, i));
        str_list_push(arena, &parts, str_lit("&lt;"));
        start = i + 1;
    }
    str_list_push(arena, &parts, str_substr(text, start, text.size));
    return str_list_join_plain(arena, &parts);
}

// Attribute values are written between double quotes; a quote taken from a
// document would end the value and let the rest of the text pass as
// attributes of its own.
static Str escape_attribute(Arena *arena, Str text)
{
    if (str_find_byte(text, '"', 0) >= text.size) return text;
    StrList parts = {};
    u64 start = 0;
    for (u64 i = 0; i < text.size; i += 1) {
        if (text.str[i] != '"') continue;
        str_list_push(arena, &parts, str_substr(text, start, i));
        str_list_push(arena, &parts, str_lit("&quot;"));
        start = i + 1;
    }
    str_list_push(arena, &parts, str_substr(text, start, text.size));
    return str_list_join_plain(arena, &parts);
}

static void set_text_attribute(RenderState *s, HtmlElement *element, u32 attr_id, Str value)
{
    html_set_attribute(s->arena, element, attr_id, escape_attribute(s->arena, value));
}

static HtmlElement *styled_element(Arena *arena, u32 tag_id, Str style)
{
    HtmlElement *element = html_element_from_tag(arena, tag_id);
    html_set_attribute(arena, element, HtmlAttr_Style, style);
    return element;
}

Str render_file_address(Arena *arena, Str absolute_path)
{
    if (absolute_path.size && absolute_path.str[0] == '/') return str_pushf(arena, "file://%S", absolute_path);
    return str_pushf(arena, "file:///%S", absolute_path);
}

// Whether an element with tag `child_tag` may stand in `parent`: the
// parent's tag name is one of the pieces of the child's allowed-parents
// text, compared exactly. Scanned in place: placement is asked for every
// element and must not allocate.
static bool tag_allows_parent(u32 child_tag, const HtmlElement *parent)
{
    if (!is_element(parent) || parent->tag->id == 0) return false;
    Str parents = html_tag_from_id(child_tag)->parents;
    Str name = parent->tag->name;
    u64 start = 0;
    for (u64 i = 0; i <= parents.size; i += 1) {
        if (i < parents.size && parents.str[i] != ';') continue;
        if (str_eq(str_substr(parents, start, i), name)) return true;
        start = i + 1;
    }
    return false;
}

// The closest element at or above `node`, never leaving the tree.
static HtmlElement *element_at_or_above(HtmlElement *node)
{
    for (HtmlElement *e = node; !html_is_none(e); e = e->parent)
        if (e->type == HtmlNode_Element) return e;
    return &html_none;
}

//- regions

static void find_regions(RenderState *s)
{
    if (s->regions_found) return;
    s->regions_found = true;
    HtmlElement *html = html_find_by_tag(s->target, HtmlTag_Html, 0);
    if (html_is_none(html))
        for (HtmlElement *e = s->target->parent; !html_is_none(e); e = e->parent)
            if (is_element(e) && e->tag->id == HtmlTag_Html) {
                html = e;
                break;
            }
    HtmlElement *body = html_find_by_tag(html, HtmlTag_Body, 0);
    HtmlElement *search = !html_is_none(body) ? body : html;
    s->b_w = html_find_by_id(search, str_lit("b_w"));
    s->top_middle = html_find_by_id(search, str_lit("top_middle"));
    s->bottom = html_find_by_id(search, str_lit("bottom"));
    // A page without its regions still shows the whole document: it goes
    // into the body, or failing that wherever the caller pointed.
    if (!is_element(s->b_w)) s->b_w = is_element(body) ? body : html;
    if (!is_element(s->b_w)) s->b_w = element_at_or_above(s->target);
    if (!is_element(s->top_middle)) s->top_middle = s->b_w;
    if (!is_element(s->bottom)) s->bottom = s->b_w;
}

static HtmlElement *region_b_w(RenderState *s) { find_regions(s); return s->b_w; }

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

// What a node's children inherit: the parent's nearest kinds, with the node
// itself taking the place of its own kind.
static RenderFrame frame_for(const RenderFrame *parent, MarkupNode *node, HtmlElement *element)
{
    RenderFrame frame = *parent;
    frame.node = node;
    frame.element = element;
    frame.emphasis = nullptr;
    if (node->node_class != NodeClass_Element) return frame;
    Str name = node->name;
    if (str_eq(name, kind_toc)) frame.toc = node;
    else if (str_eq(name, kind_quote)) frame.quote = node;
    else if (str_eq(name, kind_context)) frame.context = node;
    else if (str_eq(name, kind_list_item)) frame.list_item = node;
    else if (str_eq(name, kind_link_http)) frame.link_http = node;
    else if (str_eq(name, kind_link_file)) frame.link_file = node;
    else if (str_eq(name, kind_raw)) frame.raw = node;
    else if (str_eq(name, kind_desc)) frame.desc = node;
    return frame;
}

// The frame of the start node's parent, which the walk never visits: its
// kinds come from one climb of the markup tree; its element is unknown.
static RenderFrame frame_outside(MarkupNode *parent)
{
    RenderFrame frame = {};
    frame.element = &html_none;
    frame.toc = frame.quote = frame.context = frame.list_item = &markup_nil;
    frame.link_http = frame.link_file = frame.raw = frame.desc = &markup_nil;
    frame.node = parent;
    for (MarkupNode *a = parent; !node_is_nil(a); a = a->parent) {
        if (a->node_class != NodeClass_Element) continue;
        Str name = a->name;
        MarkupNode **slot = nullptr;
        if (str_eq(name, kind_toc)) slot = &frame.toc;
        else if (str_eq(name, kind_quote)) slot = &frame.quote;
        else if (str_eq(name, kind_context)) slot = &frame.context;
        else if (str_eq(name, kind_list_item)) slot = &frame.list_item;
        else if (str_eq(name, kind_link_http)) slot = &frame.link_http;
        else if (str_eq(name, kind_link_file)) slot = &frame.link_file;
        else if (str_eq(name, kind_raw)) slot = &frame.raw;
        else if (str_eq(name, kind_desc)) slot = &frame.desc;
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
    if (tag_allows_parent(tag, container)) return container;
    if (tag == HtmlTag_Table && container->tag->id == HtmlTag_Table)
        for (HtmlElement *e = element_at_or_above(container->parent); !html_is_none(e); e = element_at_or_above(e->parent))
            if (e->tag->id == HtmlTag_Div) return e;
    for (HtmlElement *e = element_at_or_above(container->parent); !html_is_none(e); e = element_at_or_above(e->parent))
        if (tag_allows_parent(tag, e)) return e;
    return &html_none;
}

// Lists, blocks and quotes lifted out of a paragraph or heading line: an
// HTML paragraph or heading may not hold them, so they follow it in `b_w`.
static bool lifted_from_paragraph(MarkupNode *node)
{
    bool inline_block = (node->flags & NodeFlag_Inline) != 0;
    if ((node_is_list(node) || node_is_element(node, kind_block)) && !inline_block) return true;
    return node_is_element(node, kind_quote) || node_is_element(node, kind_table_root);
}

static bool lifted_from_heading(MarkupNode *node)
{
    bool inline_block = (node->flags & NodeFlag_Inline) != 0;
    if (node_is_element(node, kind_paragraph) || node_is_element(node, kind_heading)) return true;
    if ((node_is_list(node) || node_is_element(node, kind_block)) && !inline_block) return true;
    return node_is_element(node, kind_separator) || node_is_element(node, kind_quote) ||
           node_is_element(node, kind_table_root);
}

//- computed styles

// A block below a paragraph or heading is indented half a unit past that
// line's own margin, so it lines up with the line's text although it stands
// after it in `b_w`.
static void set_indentation(RenderState *s, HtmlElement *element, MarkupNode *parent)
{
    f64 margin = 0.8;
    Str unit = str_lit("rem");
    if (node_is_element(parent, kind_heading) || node_is_element(parent, kind_paragraph)) {
        const RenderRule *rule = render_rule_lookup(NodeClass_Element, parent->name, parent->number, parent->flags);
        CssLength length = css_read_length(rule->style, str_lit("margin-left"));
        margin = length.number + 0.5;
        if (length.unit.size) unit = length.unit;
    }
    html_set_attribute(s->arena, element, HtmlAttr_Style, str_pushf(s->arena, "margin-left:%.1f%S;", margin, unit));
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
    return str_pushf(arena, "%S.", str(letters + sizeof letters - count, count));
}

static void append_list_marker(RenderState *s, HtmlElement *element, MarkupNode *item, MarkupNode *list)
{
    Str marker = {};
    if (node_is_element(list, kind_list_alpha)) marker = alpha_marker(s->arena, item->number);
    else if (node_is_element(list, kind_list_numeric)) marker = str_pushf(s->arena, "%lu.", (u64)item->number + 1);
    else if (node_is_element(list, kind_list_unordered)) marker = str_lit(".");
    else return;   // an item outside a list has nothing to count
    HtmlElement *span = styled_element(s->arena, HtmlTag_Span,
                                       str_lit("margin-right:0.2rem;color:#343232;font-size:0.9em;font-family:'IBM Plex Mono';"));
    html_append_text(s->arena, span, marker);
    html_append_content(element, span);
}

//- header fields

static void render_header_field(RenderState *s, MarkupNode *node, HtmlElement *element, u32 *icon)
{
    const HeaderFieldInfo *field = node->field;
    // Only the document's title (its first title line) becomes the title
    // block; later title lines are ordinary fields, as the parser reads them.
    if (field->id == HeaderField_Title && html_is_none(s->title)) {
        html_set_attribute(s->arena, element, HtmlAttr_Style,
                           str_lit("margin-left:0;font-family:'Source Sans 3 Bold';text-align:center;"
                                   "border-bottom:0.2rem solid #c3b6b6;"));
        HtmlElement *h1 = styled_element(s->arena, HtmlTag_H1, str_lit("font-family:'Noto Serif Bold'"));
        find_regions(s);
        if (s->smartphone) {
            html_insert(s->top_middle, h1, HtmlInsert_FirstContent);
            html_set_attribute(s->arena, h1, HtmlAttr_Style,
                               str_lit("margin:0;font-size:1rem;text-overflow:ellipsis;overflow:hidden;white-space:nowrap;"));
        } else {
            html_set_attribute(s->arena, h1, HtmlAttr_Style, str_lit("margin-top:2rem;"));
            html_insert(s->b_w, h1, HtmlInsert_FirstContent);
        }
        s->title = h1;
        s->title_field = node;
    } else if (field->id == HeaderField_Summary) {
        html_set_attribute(s->arena, element, HtmlAttr_Style, str_lit("font-family:'Source Sans 3 Italic';"));
    } else if (field->id != HeaderField_Title && field->hidden) {
        html_set_attribute(s->arena, element, HtmlAttr_Style, str_lit("display:none !important;"));
    }
    html_set_attribute(s->arena, element, HtmlAttr_Title, field->key);
    if (s->smartphone) html_set_attribute(s->arena, element, HtmlAttr_Style, str_lit("font-size:1.1rem;"));
    *icon = (u32)field->icon;
}

//- what a kind adds to its element

static void render_reference(RenderState *s, MarkupNode *node, MarkupNode *parent, HtmlElement *element)
{
    // footnote_ref points at a footnote, internal_link_ref at an
    // internal_link: the definition's id is its class and offset, which the
    // reference carries.
    Str kind = parent->name;
    u64 cut = str_find(kind, str_lit("_ref"), 0, StrMatch_CaseInsensitive);
    kind = str_prefix(kind, cut);
    Str cls = render_rule_lookup(NodeClass_Element, kind, node->number, 0)->class_name;
    html_set_attribute(s->arena, element, HtmlAttr_Href, str_pushf(s->arena, "#%S_%lu", cls, node->offset));
    if (!node_is_nil(child_element_named(parent, kind_desc))) return;
    HtmlElement *sup = styled_element(s->arena, HtmlTag_Sup, str_lit("font-size:0.6rem;line-height:1;"));
    html_append_content(element, sup);
    html_set_attribute(s->arena, element, HtmlAttr_Style, str_lit("padding:0 0.1em;"));
    HtmlElement *number = styled_element(s->arena, HtmlTag_Span, str_lit("vertical-align:super;margin-right:0.2em;"));
    html_append_text(s->arena, number, str_pushf(s->arena, "%lu", (u64)parent->number));
    html_append_content(sup, number);
}

static void render_by_kind(RenderState *s, MarkupNode *node, RenderFrame *pf, const RenderRule *rule, HtmlElement *element)
{
    MarkupNode *parent = pf->node;
    Arena *arena = s->arena;
    Str name = node->node_class == NodeClass_Element ? node->name : str_empty();
    if (str_eq(name, kind_toc_item)) {
        Str cls = render_rule_lookup(NodeClass_Element, kind_heading, node->number, 0)->class_name;
        html_set_attribute(arena, element, HtmlAttr_Href, str_pushf(arena, "#%S_%lu", cls, node->offset));
    } else if (str_eq(name, kind_heading) || str_eq(name, kind_internal_link)) {
        html_set_attribute(arena, element, HtmlAttr_Id, str_pushf(arena, "%S_%lu", rule->class_name, node->offset));
    } else if (str_eq(name, kind_reference)) {
        render_reference(s, node, parent, element);
    } else if (str_eq(name, kind_footnote)) {
        html_set_attribute(arena, element, HtmlAttr_Id, str_pushf(arena, "%S_%lu", rule->class_name, node->offset));
        HtmlElement *number = styled_element(arena, HtmlTag_Span, str_lit("font-size:0.7rem;vertical-align:super;margin-right:0.4rem;"));
        html_append_text(arena, number, str_pushf(arena, "%lu", (u64)node->number));
        html_append_content(element, number);
    } else if (str_eq(name, kind_link_http) || str_eq(name, kind_link_file)) {
        if (node->flags & NodeFlag_Unresolved) {
            // A link that cannot be followed shows where it pointed. The
            // first child may be a reference the link check inserted.
            set_text_attribute(s, element, HtmlAttr_Title, first_text_child(node)->name);
        } else if (node->flags & (NodeFlag_Jpeg | NodeFlag_Embedded)) {
            html_set_tag(element, HtmlTag_Img);
        }
    } else if (node_is_list(node) || str_eq(name, kind_block)) {
        // A list or block written inside a line stays in the line's flow;
        // a margin would push it away from the words around it.
        if (node_is_nil(pf->toc) && !(node->flags & NodeFlag_Inline)) set_indentation(s, element, parent);
    } else if (str_eq(name, kind_list_item)) {
        if (node_is_nil(pf->toc)) append_list_marker(s, element, node, parent);
    } else if (str_eq(name, kind_table_root)) {
        set_indentation(s, element, parent);
    } else if (str_eq(name, kind_quote)) {
        if (!node_is_nil(pf->quote))
            html_set_attribute(arena, element, HtmlAttr_Style, str_pushf(arena, "margin-left:%.1frem;", node->number * 0.2));
        else
            set_indentation(s, element, parent);
    }
}

//- named nodes

// Renders an element or header field node. Returns whether its children are
// rendered; fills `element` with what the children go into.
static bool render_named(RenderState *s, MarkupNode *node, RenderFrame *pf, HtmlElement **element_out)
{
    Arena *arena = s->arena;
    MarkupNode *parent = pf->node;
    bool is_elem = node->node_class == NodeClass_Element;

    // A table's heading and body belong to the table assembly, which builds
    // the rows and renders each cell into the cell it makes. The site build
    // hands tables over already emptied; a tree that still holds them
    // renders the same.
    if (is_elem && node_is_element(parent, kind_table) &&
        (str_eq(node->name, kind_table_header) || str_eq(node->name, kind_table_root_entry))) {
        *element_out = &html_none;
        return false;
    }

    // A span of emphasis does not reach across a named node: what follows the
    // node's content follows it on the page.
    pf->emphasis = nullptr;

    const RenderRule *rule = render_rule_find(node);
    HtmlElement *container;
    if (!node_is_nil(parent) && parent->node_class == NodeClass_Document) {
        container = region_b_w(s);
    } else if (is_elem && node_is_element(parent, kind_paragraph) && lifted_from_paragraph(node)) {
        container = region_b_w(s);
    } else if (is_elem && node_is_element(parent, kind_heading) && lifted_from_heading(node)) {
        container = region_b_w(s);
    } else if (is_elem && str_eq(node->name, kind_desc) && !node_is_element(parent, kind_heading)) {
        // A description makes no element: it marks the element it describes
        // (the link, the reference) and its text lands there.
        HtmlElement *holder = element_at_or_above(s->current);
        if (!is_element(holder)) holder = parent_element(s, pf, parent);
        add_class(arena, holder, rule->class_name);
        s->current = holder;
        *element_out = holder;
        // An image's description gave its caption and size; as text it
        // would print after the image, since an img has no end tag.
        bool image = (node_is_element(parent, kind_link_file) || node_is_element(parent, kind_link_http)) &&
                     (parent->flags & NodeFlag_Embedded) && !(parent->flags & NodeFlag_Unresolved);
        return !image;
    } else if (is_elem && str_eq(node->name, kind_footnotes) && !node_is_element(parent, kind_heading)) {
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

    HtmlElement *element = html_element_from_tag(arena, rule->tag);
    element->offset = node->offset;
    element->level = node->number;
    add_class(arena, element, rule->class_name);

    u32 icon = rule->icon;
    if (node->node_class == NodeClass_HeaderField && node->field) render_header_field(s, node, element, &icon);
    if (icon) html_append_content(element, icon_element(arena, icon));

    render_by_kind(s, node, pf, rule, element);

    // Entries of an inline context are strung on one line, a dot between two.
    if (!node_is_nil(pf->context) && (pf->context->flags & NodeFlag_Inline) && !node_is_nil(node->prev)) {
        HtmlElement *dot = icon_element(arena, Icon_Square);
        html_set_attribute(arena, dot, HtmlAttr_Style, str_lit("font-size:0.2rem;margin:0.4rem;"));
        html_append_content(container, dot);
    }

    html_append_content(place, element);
    add_offset_class(arena, element, node->offset);
    s->current = element;
    *element_out = element;
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

static bool extension_is_jpeg(Str path)
{
    static const Str jpeg_extensions[] = {str_lit("jpeg"), str_lit("jpg"), str_lit("jpe"),
                                          str_lit("jfif"), str_lit("jif"), str_lit("jfi")};
    Str ext = extension(path);
    for (Str e : jpeg_extensions)
        if (str_eq(ext, e)) return true;
    return false;
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
    Str local_path = to_site_path(arena, name, 1);
    Str src = s->deploy ? site_relative_path(s->local_folder, name) : render_file_address(arena, local_path);

    Str caption = str_empty();
    Str width = str_empty(), height = str_empty();
    bool jpeg_read = false;
    JpegInfo jpeg = {};
    MarkupNode *desc = child_element_named(link, kind_desc);
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
        if (!jpeg_read && extension_is_jpeg(name)) {
            jpeg = jpeg_info(arena, local_path);
            jpeg_read = true;
        }
    }
    if (width.size == 0) width = str_from_u64(arena, jpeg.width, 10, 0, 0);
    if (height.size == 0) height = str_from_u64(arena, jpeg.height, 10, 0, 0);

    set_text_attribute(s, img, HtmlAttr_Src, src);
    set_text_attribute(s, img, HtmlAttr_Alt, caption);
    // An unknown size is left to the browser: a width of 0 would hide the
    // image.
    if (!is_zero(width)) html_set_attribute(arena, img, HtmlAttr_Width, width);
    if (!is_zero(height)) html_set_attribute(arena, img, HtmlAttr_Height, height);
    set_text_attribute(s, img, HtmlAttr_Title, caption);
    html_set_attribute(arena, img, HtmlAttr_DataTitle, str_pushf(arena, "%Sx%S ratio:%S ", width, height, jpeg.ratio));
    html_set_attribute(arena, img, HtmlAttr_Draggable, str_lit("false"));
    if (!is_zero(width)) html_set_attribute(arena, img, HtmlAttr_Style, str_pushf(arena, "max-width:%Spx", width));
}

// The text of a link: its target goes into the element's attributes, and
// becomes its visible text unless a description names the link.
static void render_link_target(RenderState *s, MarkupNode *run, MarkupNode *link, HtmlElement *element)
{
    Arena *arena = s->arena;
    Str name = run->name;
    bool is_file = node_is_element(link, kind_link_file);
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
                where = render_file_address(arena, to_site_path(arena, name, 1));
            }
            html_remove_attribute(element, HtmlAttr_Title);
            set_text_attribute(s, element, HtmlAttr_Title, where);
        }
    } else if (link->flags & NodeFlag_Embedded) {
        image = true;
        render_image(s, run, link, element);
    } else if (is_file) {
        MarkupNode *reference = child_element_named(link, kind_reference);
        Str href = name;
        if (!node_is_nil(reference)) {
            Str cls = render_rule_lookup(NodeClass_Element, kind_internal_link, reference->number, 0)->class_name;
            href = str_pushf(arena, "%S#%S_%lu", name, cls, reference->offset);
        }
        set_text_attribute(s, element, HtmlAttr_Href, href);
    } else {
        set_text_attribute(s, element, HtmlAttr_Href, name);
    }
    if (!image && node_is_nil(child_element_named(link, kind_desc)))
        html_append_text(arena, element, escape_text(arena, name));
}

static void render_categories(RenderState *s, MarkupNode *run, HtmlElement *container)
{
    Str text = unquote(run->name);
    u64 start = 0;
    for (u64 i = 0; i <= text.size; i += 1) {
        if (i < text.size && text.str[i] != ';') continue;
        Str piece = str_substr(text, start, i);
        start = i + 1;
        if (piece.size == 0) continue;
        HtmlElement *tag = styled_element(s->arena, HtmlTag_Span,
                                          str_lit("padding:0 0.1em;background-color:#ffffff;margin-left:0.2em;border:1px solid #cfcfcf;"));
        html_append_text(s->arena, tag, escape_text(s->arena, piece));
        html_append_content(container, tag);
    }
}

// Renders one text run; returns the element its (unexpected) children go into.
static HtmlElement *render_text(RenderState *s, MarkupNode *run, RenderFrame *pf)
{
    Arena *arena = s->arena;
    MarkupNode *parent = pf->node;
    u64 flags = run->flags;

    // Container: an open span of emphasis takes the runs inside it.
    close_emphasis(pf, flags);
    HtmlElement *container = &html_none;
    if ((flags & (NodeFlag_StrongInside | NodeFlag_EmphasisInside)) && pf->emphasis) container = pf->emphasis->element;
    if (!is_element(container)) container = is_element(pf->element) ? pf->element : outside_text_container(s, run, parent);

    MarkupNode *link = !node_is_nil(pf->link_http) ? pf->link_http : pf->link_file;
    bool link_target = !node_is_nil(link) && node_is_nil(pf->desc);

    s->pending = StrList{};
    if (run->space_before) str_list_push(arena, &s->pending, str(blank_run, min_of<u64>(run->space_before, max_run_blanks)));
    if (!link_target && !(flags & NodeFlag_EmphasisMarks)) {
        Str text = node_is_nil(pf->raw) ? escape_text(arena, run->name) : run->name;
        str_list_push(arena, &s->pending, text);
    }
    if (run->space_after) str_list_push(arena, &s->pending, str(blank_run, min_of<u64>(run->space_after, max_run_blanks)));

    HtmlElement *own = &html_none;
    if (flags & (NodeFlag_EmphasisOpen | NodeFlag_StrongOpen)) {
        bool em = (flags & NodeFlag_EmphasisOpen) != 0;
        u64 inside = em ? NodeFlag_EmphasisInside : NodeFlag_StrongInside;
        own = styled_element(arena, em ? HtmlTag_Em : HtmlTag_Strong, render_rule_lookup(NodeClass_Text, str_empty(), 0, inside)->style);
        own->offset = run->offset;
        if (node_is_element(parent, kind_context_document)) html_append_content(own, icon_element(arena, Icon_Info));
        if (flags & NodeFlag_Unresolved) {
            HtmlElement *unlink = icon_element(arena, Icon_Unlink);
            html_set_attribute(arena, unlink, HtmlAttr_Style, str_lit("color:#440202;font-size:0.9em;"));
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
    if (category) render_categories(s, run, container);

    if (link_target) render_link_target(s, run, link, container);

    if (html_is_none(own) && !category) {
        StrList title_copy = s->pending;   // the flush empties the list, not its pieces
        render_flush_text(arena, container, 0, &s->pending);
        if (parent == s->title_field && !html_is_none(s->title)) render_flush_text(arena, s->title, 0, &title_copy);
    }

    bool last = node_is_nil(run->next);
    if (last && !node_is_nil(pf->toc) && !node_is_nil(pf->list_item) &&
        !node_is_nil(child_element_named(pf->list_item, kind_list_unordered))) {
        HtmlElement *down = icon_element(arena, Icon_DownDir);
        html_set_attribute(arena, down, HtmlAttr_Style, str_lit("color:grey;"));
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

b32 render_document(Arena *arena, MarkupNode *start, HtmlElement *target, const PageVariant *variant)
{
    if (node_is_nil(start) || html_is_none(target)) return 0;
    ArenaTemp scratch = scratch_begin(arena);
    RenderState state = {};
    RenderState *s = &state;
    s->arena = arena;
    s->scratch = scratch.arena;
    s->smartphone = page_variant_is_smartphone(variant);
    const BuildSettings *settings = build_settings();
    s->deploy = settings && settings->deploy;
    s->local_folder = site_layout()->local_folder;
    s->target = target;
    s->current = target;
    s->title = &html_none;
    s->title_field = &markup_nil;

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
            descend = render_named(s, node, pf, &element);
            break;
        }
        if (descend && !node_is_nil(node->first_child)) {
            RenderFrame frame = frame_for(pf, node, element);
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
            if (!node_is_nil(node->next)) {
                node = node->next;
                break;
            }
            node = frame_top(s)->node;
            s->depth -= 1;
        }
        if (done) break;
    }
    scratch_end(scratch);
    return rendered;
}
