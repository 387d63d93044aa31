// shell/page_build.cpp: page body assembly, raw-source pages and the
// writing of a document's pages.
#include "shell/page_build.h"

#include <xxhash.h>

#include "markup/paths.h"
#include "markup/tables.h"
#include "render/render_rules.h"
#include "shell/page_writer.h"

//- output paths

bool page_output_is_html(Str path) { return output_path_is_page(path); }

Str page_smartphone_path(Arena *arena, Str page_path)
{
    return str_cat(arena, path_chop_extension(page_path), str_lit("_smartphone.html"));
}

Str page_raw_path(Arena *arena, Str page_path)
{
    Str name = path_chop_extension(path_file_name(page_path));
    return str_pushf(arena, "%S/raw_%S.html", path_folder(page_path), name);
}

Str page_raw_source_name(Arena *arena, Str source_path)
{
    Str name = path_chop_extension(path_file_name(source_path));
    return str_pushf(arena, "%S/raw_%S.wyn", path_folder(source_path), name);
}

u64 page_bytes_hash(Str bytes)
{
    // A collision only keeps a page that wyn would otherwise remove; XXH3
    // hashes a 30 KB page in about a microsecond, several times faster than
    // the FNV-1a of earlier versions, which the manifest may still hold
    // (page_bytes_hash_earlier).
    return XXH3_64bits(bytes.str, bytes.size);
}

u64 page_bytes_hash_earlier(Str bytes)
{
    u64 h = 0xcbf29ce484222325ull;
    u64 i = 0;
    for (; i + 8 <= bytes.size; i += 8) {
        u64 word;
        memcpy(&word, bytes.str + i, 8);
        h = (h ^ word) * 0x100000001b3ull;
        h ^= h >> 29;
    }
    for (; i < bytes.size; i += 1) h = (h ^ (u8)bytes.str[i]) * 0x100000001b3ull;
    return h ^ bytes.size;
}

//- small tree helpers

static Str rule_class(u32 kind, u64 flags)
{
    return render_rule_lookup(NodeClass_Element, kind, 0, flags)->class_name;
}

static bool has_class(HtmlElement *e, Str cls) { return html_has_attribute_value(e, HtmlAttr_Class, cls); }

// Every icon the renderer makes carries it; a context's first becomes its toggle.
static const Str icon_class = str_lit("icon");

// The element keeps its other classes; `first` and `own` lead the list.
static void set_toggle_classes(Arena *arena, HtmlElement *e, Str first, Str own)
{
    HtmlAttribute *a = html_get_attribute(e, HtmlAttr_Class);
    StrList classes = {};
    str_list_push(arena, &classes, first);
    str_list_push(arena, &classes, own);
    if (!html_attribute_is_none(a))
        for (StrNode *v = a->values.first; v; v = v->next)
            if (!str_eq(v->string, own) && !str_eq(v->string, first)) str_list_push(arena, &classes, v->string);
    html_remove_attribute(e, HtmlAttr_Class);
    html_set_attribute_list(arena, e, HtmlAttr_Class, &classes);
}

static HtmlElement *div_with_style(Arena *arena, Str style)
{
    HtmlElement *div = html_element_from_tag(arena, HtmlTag_Div);
    html_set_attribute(arena, div, HtmlAttr_Style, style);
    return div;
}

static bool is_inside(HtmlElement *node, HtmlElement *ancestor)
{
    for (HtmlElement *p = node->parent; !html_is_none(p); p = p->parent)
        if (p == ancestor) return true;
    return false;
}

// Empties an element but for its child with the id `keep` (none: all go).
static void clear_content(HtmlElement *element, Str keep)
{
    HtmlElement *content = html_content_node(element);
    if (!html_is_text(content) || html_nearest_element(content) != element) return;
    for (HtmlElement *c = content->first_child, *next = &html_none; !html_is_none(c); c = next) {
        next = c->next;
        HtmlAttribute *id = c->type == HtmlNode_Element ? html_get_attribute(c, HtmlAttr_Id) : &html_attribute_none;
        bool kept = keep.size && !html_attribute_is_none(id) && id->values.first && str_eq(id->values.first->string, keep);
        if (!kept) html_detach(c);
    }
}

struct PageRegions {
    HtmlElement *head;
    HtmlElement *body;
    HtmlElement *at[ShellRegion_Count];
};

// One walk of the frame finds head, body and every region.
static PageRegions regions_find(HtmlElement *document)
{
    PageRegions r = {};
    r.head = r.body = &html_none;
    for (u32 i = 0; i < ShellRegion_Count; i += 1) r.at[i] = &html_none;
    u32 missing = ShellRegion_Count + 2;
    for (HtmlElement *n = document; !html_is_none(n) && missing; n = html_walk_next(n, document)) {
        if (n->type != HtmlNode_Element) continue;
        if (n->tag->id == HtmlTag_Head && html_is_none(r.head)) r.head = n, missing -= 1;
        if (n->tag->id == HtmlTag_Body && html_is_none(r.body)) r.body = n, missing -= 1;
        HtmlAttribute *id = html_get_attribute(n, HtmlAttr_Id);
        if (html_attribute_is_none(id) || !id->values.first) continue;
        for (u32 i = 0; i < ShellRegion_Count; i += 1)
            if (html_is_none(r.at[i]) && str_eq(id->values.first->string, shell_region_name_table[i])) {
                r.at[i] = n;
                missing -= 1;
                break;
            }
    }
    return r;
}

// A page without a shell (tools, tests of the body alone): html, head,
// body and the regions, nothing else.
static HtmlElement *bare_frame(Arena *arena)
{
    HtmlElement *document = html_node_create(arena, HtmlNode_Document, 0, str_empty(), str_empty(), 0);
    HtmlElement *html = html_element_from_tag(arena, HtmlTag_Html);
    html_append_child(document, html);
    html_append_content(html, html_element_from_tag(arena, HtmlTag_Head));
    HtmlElement *body = html_element_from_tag(arena, HtmlTag_Body);
    html_append_content(html, body);
    for (u32 i = 0; i < ShellRegion_Menu; i += 1) {
        HtmlElement *div = html_element_from_tag(arena, HtmlTag_Div);
        html_set_attribute(arena, div, HtmlAttr_Id, shell_region_name_table[i]);
        html_append_content(body, div);
    }
    return document;
}

static HtmlElement *frame_make(Arena *arena, const PageSite *site, const PageVariant *variant)
{
    if (!site->shell) return bare_frame(arena);
    return page_frame(arena, site->shell, variant, site->messages);
}

static Str address_of(Arena *arena, const PageSite *site, Str local_path)
{
    if (site->render->deploy) return site_relative_path(site->render->local_folder, local_path);
    return render_file_address(arena, local_path);
}

//- the title

Str page_title_of(Arena *arena, const PageDocument *document)
{
    // The words of an emphasis are in it too: a title is read whole.
    Str title = header_title_text(arena, document->parsed->title);
    if (title.size) return title;
    Str name = path_file_name(document->source_path);
    return str_prefix(name, str_find_byte(name, '.', 0));
}

//- tables

// The rendered tables of one source position, in the order of the page,
// and how many records ask for one there. Tables a document takes from CSV
// files all start at the same positions of their own texts, so one
// position may stand for several: the first record takes the first table.
namespace {

struct FoundTable {
    FoundTable *next;
    HtmlElement *table;
};

struct TablesAt {
    FoundTable *first;
    FoundTable *last;
    u64 wanted;
    u64 found;
};

} // namespace

// Builds the head and body of every column group from the tables' records
// (the site build indexed them into extra_list), and renders each cell
// into the cell element made for it.
static void tables_build(Arena *arena, const PageSite *site, const ParsedDocument *doc, HtmlElement *body,
                         const PageVariant *variant)
{
    if (!doc->extra_list.count) return;
    ArenaTemp scratch = scratch_begin(arena);
    // The rendered "table" elements by source position: one walk for all
    // tables instead of one search per table, ended once every table the
    // records ask for is found.
    Str table_class = rule_class(MarkupKind_Table, 0);
    StrMap by_offset = str_map_alloc(scratch.arena, 64);
    u64 wanted_count = 0, found_count = 0;
    for (NodeListCell *cell = doc->extra_list.first; cell; cell = cell->next) {
        if (!cell->table || node_is_nil(cell->table->table)) continue;
        Str key = Str{(const char *)&cell->table->table->offset, sizeof(u64)};
        StrMapNode *n = str_map_lookup(&by_offset, key);
        TablesAt *at = n ? (TablesAt *)n->value : push_struct<TablesAt>(scratch.arena);
        if (!at) continue;
        if (!n) str_map_insert(scratch.arena, &by_offset, key, (u64)at);
        at->wanted += 1;
        wanted_count += 1;
    }
    for (HtmlElement *n = body; !html_is_none(n) && found_count < wanted_count; n = html_walk_next(n, body)) {
        if (n->type != HtmlNode_Element || n->tag->id != HtmlTag_Table || !has_class(n, table_class)) continue;
        StrMapNode *slot = str_map_lookup(&by_offset, Str{(const char *)&n->offset, sizeof n->offset});
        TablesAt *at = slot ? (TablesAt *)slot->value : nullptr;
        if (!at || at->found == at->wanted) continue;
        FoundTable *found = push_struct<FoundTable>(scratch.arena);
        if (!found) break;
        found->table = n;
        if (at->last) at->last->next = found;
        else at->first = found;
        at->last = found;
        at->found += 1;
        found_count += 1;
    }
    Str head_class = rule_class(MarkupKind_TableHeader, 0);
    Str row_class = rule_class(MarkupKind_TableRow, 0);
    Str th_ticked = rule_class(MarkupKind_TableCellCol, NodeFlag_Ticked);
    Str th_plain = rule_class(MarkupKind_TableCellCol, 0);
    Str td_ticked = rule_class(MarkupKind_TableCell, NodeFlag_Ticked);
    Str td_plain = rule_class(MarkupKind_TableCell, 0);
    for (NodeListCell *cell = doc->extra_list.first; cell; cell = cell->next) {
        const MarkupTable *t = cell->table;
        if (!t || node_is_nil(t->table)) continue;
        u64 offset = t->table->offset;
        StrMapNode *slot = str_map_lookup(&by_offset, Str{(const char *)&offset, sizeof offset});
        TablesAt *at = slot ? (TablesAt *)slot->value : nullptr;
        if (!at || !at->first) continue;
        HtmlElement *table = at->first->table;
        at->first = at->first->next;

        HtmlElement *thead = html_element_from_tag(arena, HtmlTag_Thead);
        html_set_attribute(arena, thead, HtmlAttr_Class, head_class);
        HtmlElement *head_row = html_element_from_tag(arena, HtmlTag_Tr);
        html_set_attribute(arena, head_row, HtmlAttr_Class, row_class);
        html_append_content(thead, head_row);
        html_append_content(table, thead);
        for (u64 c = 0; c < t->column_count; c += 1) {
            MarkupNode *heading = t->headings[c].cell;
            HtmlElement *th = html_element_from_tag(arena, HtmlTag_Th);
            th->level = (u8)c;
            bool ticked = !node_is_nil(heading) && (heading->flags & NodeFlag_Ticked);
            html_set_attribute(arena, th, HtmlAttr_Class, ticked ? th_ticked : th_plain);
            html_append_content(head_row, th);
            if (node_is_nil(heading)) continue;
            th->offset = heading->offset;
            render_document(arena, heading, th, variant, site->render);
        }

        HtmlElement *tbody = html_element_from_tag(arena, HtmlTag_Tbody);
        html_append_content(table, tbody);
        for (u64 r = 0; r < t->row_count; r += 1) {
            HtmlElement *tr = html_element_from_tag(arena, HtmlTag_Tr);
            html_set_attribute(arena, tr, HtmlAttr_Class, row_class);
            tr->offset = t->rows[r]->offset;
            html_append_content(tbody, tr);
            for (u64 c = 0; c < t->column_count; c += 1) {
                MarkupNode *node = table_cell_at(t, r, c);
                HtmlElement *td = html_element_from_tag(arena, HtmlTag_Td);
                bool ticked = !node_is_nil(node) && (node->flags & NodeFlag_Ticked);
                html_set_attribute(arena, td, HtmlAttr_Class, ticked ? td_ticked : td_plain);
                html_append_content(tr, td);
                if (node_is_nil(node)) continue;
                td->offset = node->offset;
                render_document(arena, node, td, variant, site->render);
            }
        }
    }
    scratch_end(scratch);
}

//- file links

// Points one file link at what it names: a source document's page (its
// first HTML output), or the file itself. A link to a document that writes
// no page cannot be followed and becomes a span of the broken-link class.
static void file_link_point(Arena *arena, const PageSite *site, const StrMap *linked_pages, HtmlElement *a,
                            bool smartphone)
{
    HtmlAttribute *href_attr = html_get_attribute(a, HtmlAttr_Href);
    Str href = html_attribute_is_none(href_attr) || !href_attr->values.first ? str_empty()
                                                                              : href_attr->values.first->string;
    Str local = site->render->local_folder;
    Str path = href, anchor = str_empty();
    u64 hash = str_find_byte(href, '#', 0);
    if (hash < href.size) {
        path = str_prefix(href, hash);
        anchor = str_skip(href, hash);
    }
    Str address = str_empty();
    if (path.size) {
        path = to_site_path(arena, local, path, 1);
        bool document_page = false;
        StrMapNode *linked = linked_pages && str_match(extension(path), str_lit("wyn"), StrMatch_CaseInsensitive)
                                 ? str_map_lookup(linked_pages, path)
                                 : nullptr;
        if (linked) {
            path = *(const Str *)linked->value;
            document_page = path.size > 0;
        }
        if (path.size) address = address_of(arena, site, path);
        // Only a document's page has a smartphone twin: a PDF, a picture
        // or a folder keeps its own address on the smartphone page.
        if (smartphone && document_page && address.size) address = page_smartphone_path(arena, address);
    }
    if (address.size) {
        html_set_attribute(arena, a, HtmlAttr_Href, str_cat(arena, address, anchor));
        return;
    }
    html_remove_attribute(a, HtmlAttr_Class);
    html_remove_attribute(a, HtmlAttr_Id);
    html_remove_attribute(a, HtmlAttr_Href);
    const RenderRule *broken = render_rule_lookup(NodeClass_Element, MarkupKind_LinkFile, 0, NodeFlag_Unresolved);
    html_set_tag(a, broken->tag);
    html_set_attribute(arena, a, HtmlAttr_Class, broken->class_name);
}

//- the page

static bool is_site_index(const PageSite *site, Str source_path)
{
    Str local = site->render->local_folder;
    if (!str_match(local, source_path, StrMatch_Prefix) || !local.size) return false;
    return str_eq(str_skip(source_path, local.size), str_lit("wyn_files/index.wyn"));
}

// What the walk after rendering collects, in document order.
struct PageParts {
    HtmlElementList tocs;
    HtmlElementList context_documents;
    HtmlElementList contexts;
    HtmlElementList inline_contexts;
    HtmlElementList file_links;
};

// Every element of a body has two or three classes of a few bytes each, and
// most differ from a wanted one in length or first byte: a call to compare
// them would cost more than the answer.
static inline bool class_is(Str c, Str wanted)
{
    if (c.size != wanted.size) return false;
    return c.size == 0 || (c.str[0] == wanted.str[0] && memcmp(c.str, wanted.str, c.size) == 0);
}

// What the page assembly changes in a body, found by class.
enum AssemblyPart : u32 {
    AssemblyPart_None,
    AssemblyPart_Toc,
    AssemblyPart_ContextDocument,
    AssemblyPart_Context,
    AssemblyPart_InlineContext,
    AssemblyPart_FileLink,
};

struct AssemblyClasses {
    Str toc, context_document, context, inline_context, link_file;
    Str icon, embedded;   // what the assembly looks for inside contexts
};

static AssemblyClasses assembly_classes()
{
    return {rule_class(MarkupKind_Toc, 0),         rule_class(MarkupKind_ContextDocument, 0),
            rule_class(MarkupKind_Context, 0),     rule_class(MarkupKind_Context, NodeFlag_Inline),
            rule_class(MarkupKind_LinkFile, 0),    icon_class,
            rule_class(MarkupKind_LinkFile, NodeFlag_Embedded)};
}

// The part an element is, by its first class that names one.
static u32 assembly_part(HtmlElement *n, const AssemblyClasses *k)
{
    HtmlAttributeNode *a = n->attributes->first;
    while (a && a->attribute.info->id != HtmlAttr_Class) a = a->next;
    if (!a) return AssemblyPart_None;
    for (StrNode *v = a->attribute.values.first; v; v = v->next) {
        Str c = v->string;
        if (class_is(c, k->toc)) return AssemblyPart_Toc;
        if (class_is(c, k->context_document)) return AssemblyPart_ContextDocument;
        if (class_is(c, k->context)) return AssemblyPart_Context;
        if (class_is(c, k->inline_context)) return AssemblyPart_InlineContext;
        if (class_is(c, k->link_file) && n->tag->id == HtmlTag_A) return AssemblyPart_FileLink;
    }
    return AssemblyPart_None;
}

static PageParts parts_collect(Arena *arena, HtmlElement *root, const AssemblyClasses *k)
{
    PageParts p = {};
    HtmlElementList *lists[] = {nullptr, &p.tocs, &p.context_documents, &p.contexts, &p.inline_contexts, &p.file_links};
    for (HtmlElement *n = root; !html_is_none(n); n = html_walk_next(n, root)) {
        if (n->type != HtmlNode_Element) continue;
        u32 part = assembly_part(n, k);
        if (part != AssemblyPart_None) html_element_list_push(arena, lists[part], n);
    }
    return p;
}

// A picture shown in place inside a context document: its banner's.
static bool is_banner_picture(HtmlElement *e, const AssemblyClasses *k)
{
    return e->type == HtmlNode_Element && e->tag->id == HtmlTag_Img && has_class(e, k->embedded);
}

static HtmlElement *first_icon(HtmlElement *root)
{
    for (HtmlElement *n = html_walk_next(root, root); !html_is_none(n); n = html_walk_next(n, root))
        if (n->type == HtmlNode_Element && has_class(n, icon_class)) return n;
    return &html_none;
}

static void toggle_make(Arena *arena, HtmlElement *block, Str style)
{
    HtmlElement *icon = first_icon(block);
    if (html_is_none(icon)) return;
    html_detach(icon);
    html_set_attribute(arena, icon, HtmlAttr_Id, str_numbered(arena, str_lit("toggle-checkbox"), block->offset));
    html_insert(block, icon, HtmlInsert_Before);
    html_set_attribute(arena, icon, HtmlAttr_Style, style);
    html_set_attribute(arena, icon, HtmlAttr_Type, str_lit("checkbox"));
    html_set_tag(icon, HtmlTag_Input);
}

static Str escape_source(Arena *arena, Str text);

//- the body, rendered once for every page of a document

struct PageBody {
    HtmlElement *document;   // the bare frame the body was rendered into
    PageRegions regions;     // of that frame
    RenderKindParts parts;
    bool usable;             // false: each page renders the document itself
    bool smartphone_styled;  // its header fields carry the smartphone's style
};

// The render wrote into b_w, bottom and top_middle only, and nowhere else
// of the bare frame: those three are all a page takes over from it.
static bool body_kept_to_its_regions(const PageBody *b)
{
    const u32 untouched[] = {ShellRegion_TopLeft, ShellRegion_TopRight, ShellRegion_Right, ShellRegion_Left};
    for (u32 i : untouched) {
        HtmlElement *region = b->regions.at[i];
        if (!html_is_element(region) || region->attributes->count != 1 ||
            !html_is_none(html_content_node(region)->first_child))
            return false;
    }
    const u32 taken[] = {ShellRegion_BW, ShellRegion_Bottom, ShellRegion_TopMiddle};
    for (u32 i : taken)
        if (!html_is_element(b->regions.at[i])) return false;
    HtmlElement *body = b->regions.body, *head = b->regions.head;
    return html_is_element(body) && html_is_element(head) && body->attributes->count == 0 &&
           html_content_node(body)->child_count == ShellRegion_Menu && html_is_none(html_content_node(head)->first_child);
}

// What no page of the document changes becomes its HTML text once, here:
// the desktop page then copies one node where it copied the subtree, and
// neither page walks it again to serialize it or to look for its parts.
// A page changes only what its assembly finds by class (tables of
// contents, contexts and their toggles, context documents and their
// banner pictures, file links) and the header fields a smartphone page
// restyles; inside a context or a context document, also every icon (the
// first becomes its toggle) and every embedded picture (a banner's). Those
// and every element above them stay nodes: a search of a context then
// meets its icons in the order it met them before. Frozen elements keep
// themselves and their attributes, and only their content becomes text, so
// a search by tag of a region's children (the site index's groups) finds
// what it found before.
struct FreezeOpen {
    HtmlElement *node;
    u64 mark;     // candidates below this index are not this node's
    u64 nodes;    // the nodes below it
    bool live;    // a page changes it or something below it
    bool inside;  // inside a context or a context document
};

// Fewer nodes than this below an element cost about as much to copy and
// walk as their text does.
constexpr u64 freeze_least_nodes = 4;

static bool freeze_element_live(HtmlElement *n, const AssemblyClasses *k, const RenderKindParts *parts, bool *inside)
{
    for (u32 i = 0; i < parts->field_count; i += 1)
        if (parts->fields[i] == n) return true;
    u32 part = assembly_part(n, k);
    if (part == AssemblyPart_ContextDocument || part == AssemblyPart_Context || part == AssemblyPart_InlineContext)
        *inside = true;
    if (part != AssemblyPart_None) return true;
    if (!*inside) return false;
    return has_class(n, k->icon) || is_banner_picture(n, k);
}

// Replaces the content of `e` by one node holding its HTML. Only the shape
// the renderer makes (one content node below the element) is frozen.
static void freeze_content(Arena *arena, HtmlElement *e, const HtmlWriteOptions *options)
{
    HtmlElement *content = e->first_child;
    if (html_is_none(content) || content != e->last_child || !html_is_text(content)) return;
    Str html = html_serialize_text(arena, content, options);
    if (!html.size) return;
    HtmlElement *frozen = html_html_node(arena, html, content->offset);
    if (html_is_none(frozen)) return;
    content->text = str_empty();
    content->first_child = content->last_child = &html_none;
    content->child_count = 0;
    html_append_child(content, frozen);
}

// Replaces `e` itself by one node holding its HTML, tag and all: two
// nodes fewer to copy and walk for every page, and its tag written once.
// Only where the renderer put it, among the content of its parent.
static void freeze_element(Arena *arena, HtmlElement *e, const HtmlWriteOptions *options)
{
    if (!html_is_text(e->parent)) {
        freeze_content(arena, e, options);
        return;
    }
    Str html = html_serialize_text(arena, e, options);
    if (!html.size) return;
    HtmlElement *frozen = html_html_node(arena, html, e->offset);
    if (html_is_none(frozen)) return;
    if (html_insert(e, frozen, HtmlInsert_Before)) html_detach(e);
}

template <typename T>
static bool freeze_grow(Arena *arena, T **items, u64 *capacity, u64 count)
{
    if (count < *capacity) return true;
    u64 wanted = *capacity ? *capacity * 2 : 64;
    T *more = push_array_no_zero<T>(arena, wanted);
    if (!more) return false;
    if (count) memcpy(more, *items, count * sizeof(T));
    *items = more;
    *capacity = wanted;
    return true;
}

struct FreezeWalk {
    Arena *arena;     // the body's: where frozen text goes
    Arena *scratch;   // the walk's stacks
    const AssemblyClasses *classes;
    const RenderKindParts *parts;
    const HtmlWriteOptions *options;
    bool whole;   // elements frozen tag and all, not only their content
    FreezeOpen *open;
    u64 open_count, open_capacity;
    HtmlElement **candidates;   // elements nothing below changes, not yet frozen
    u64 candidate_count, candidate_capacity;
};

static void freeze_from(FreezeWalk *w, u64 mark)
{
    for (u64 i = mark; i < w->candidate_count; i += 1) {
        if (w->whole) freeze_element(w->arena, w->candidates[i], w->options);
        else freeze_content(w->arena, w->candidates[i], w->options);
    }
    w->candidate_count = mark;
}

// One post-order walk: an element is frozen once its parent is known to be
// changed, so only the largest unchanged elements become text. Out of
// scratch memory, what is not frozen yet stays nodes.
static void freeze_walk(FreezeWalk *w, HtmlElement *region)
{
    if (!freeze_grow(w->scratch, &w->open, &w->open_capacity, w->open_count)) return;
    w->open[w->open_count++] = {region, 0, 0, true, false};
    HtmlElement *node = region->first_child;
    for (;;) {
        if (!html_is_none(node)) {
            if (!freeze_grow(w->scratch, &w->open, &w->open_capacity, w->open_count)) return;
            const FreezeOpen &up = w->open[w->open_count - 1];
            bool inside = up.inside, live = false;
            if (node->type == HtmlNode_Element) live = freeze_element_live(node, w->classes, w->parts, &inside);
            w->open[w->open_count++] = {node, w->candidate_count, 0, live, inside};
            node = node->first_child;
            continue;
        }
        // Close what ends here, up to the next sibling.
        for (;;) {
            FreezeOpen f = w->open[--w->open_count];
            if (w->open_count == 0) {
                freeze_from(w, f.mark);
                return;
            }
            FreezeOpen &up = w->open[w->open_count - 1];
            up.nodes += f.nodes + 1;
            if (f.live) {
                up.live = true;
                freeze_from(w, f.mark);
            } else if (f.node->type == HtmlNode_Element && f.nodes >= freeze_least_nodes) {
                // The whole element goes in one piece: what below it was a
                // candidate is part of it.
                w->candidate_count = f.mark;
                if (!freeze_grow(w->scratch, &w->candidates, &w->candidate_capacity, w->candidate_count)) return;
                w->candidates[w->candidate_count++] = f.node;
            }
            if (!html_is_none(f.node->next)) {
                node = f.node->next;
                break;
            }
        }
    }
}

static void body_freeze(Arena *arena, PageBody *b, const PageSite *site, const PageDocument *document)
{
    // The site index's page regroups the headings and lists of its text by
    // their tags: there they stay elements.
    bool whole = !is_site_index(site, document->source_path);
    AssemblyClasses classes = assembly_classes();
    const u32 taken[] = {ShellRegion_BW, ShellRegion_Bottom, ShellRegion_TopMiddle};
    for (u32 i : taken) {
        HtmlElement *region = b->regions.at[i];
        if (!html_is_element(region)) continue;
        ArenaTemp scratch = scratch_begin(arena);
        FreezeWalk w = {};
        w.arena = arena;
        w.scratch = scratch.arena;
        w.classes = &classes;
        w.parts = &b->parts;
        w.options = shell_page_write_options(site->shell);
        w.whole = whole;
        freeze_walk(&w, region);
        scratch_end(scratch);
    }
}

PageBody *page_body_render(Arena *arena, const PageSite *site, const PageDocument *document)
{
    PageBody *b = push_struct<PageBody>(arena);
    if (!b) return nullptr;
    *b = {};
    const ParsedDocument *doc = document->parsed;
    RenderOptions render = site->render ? *site->render : RenderOptions{};
    render.kind_parts = &b->parts;
    PageSite rendering = *site;
    rendering.render = &render;
    // The body is the desktop's but for what the parts list; a smartphone
    // page adds its own to those.
    const PageVariant *variant = nullptr;
    b->document = bare_frame(arena);
    b->regions = regions_find(b->document);
    render_document(arena, doc->root, b->document, variant, &render);
    if (!node_is_nil(doc->footnotes)) render_document(arena, doc->footnotes, b->regions.at[ShellRegion_BW], variant, &render);
    tables_build(arena, &rendering, doc, b->regions.body, variant);
    b->usable = !b->parts.overflow && body_kept_to_its_regions(b);
    if (b->usable) body_freeze(arena, b, site, document);
    return b;
}

// Puts what the render left in a region of the bare frame into the page's
// region: its content, moved or copied, and any attribute it was given
// (the document's offset class on b_w), as the render would have set it.
static void region_take_over(Arena *arena, HtmlElement *to, HtmlElement *from, bool take)
{
    for (HtmlAttributeNode *a = from->attributes->first; a; a = a->next) {
        u32 id = a->attribute.info->id;
        if (id == HtmlAttr_Id) continue;   // the bare frame's own
        for (StrNode *v = a->attribute.values.first; v; v = v->next) {
            if (id == HtmlAttr_Style) html_add_style(arena, to, v->string);
            else if (id != HtmlAttr_Class || !html_has_attribute_value(to, id, v->string))
                html_set_attribute(arena, to, id, v->string);
        }
    }
    HtmlElement *content = html_content_node(from);
    for (HtmlElement *c = content->first_child, *next = &html_none; !html_is_none(c); c = next) {
        next = c->next;
        html_append_content(to, take ? c : html_copy_tree(arena, c));
    }
}

static void body_place(Arena *arena, const PageBody *body, const PageRegions *r, const PageVariant *variant, bool take)
{
    const u32 taken[] = {ShellRegion_BW, ShellRegion_Bottom, ShellRegion_TopMiddle};
    for (u32 i : taken) region_take_over(arena, r->at[i], body->regions.at[i], take);
    for (u32 i = 0; i < body->parts.title_count; i += 1) {
        HtmlElement *title = body->parts.titles[i];
        render_title_place(arena, take ? title : html_copy_tree(arena, title), variant, r->at[ShellRegion_TopMiddle],
                           r->at[ShellRegion_BW]);
    }
}

static PageRecord page_assemble(Arena *arena, const PageSite *site, const PageDocument *document, Str output_path,
                                const PageVariant *variant, const PageBody *body, bool take);

PageRecord page_build(Arena *arena, const PageSite *site, const PageDocument *document, Str output_path,
                      const PageVariant *variant)
{
    return page_assemble(arena, site, document, output_path, variant, nullptr, false);
}

void page_body_style(Arena *arena, PageBody *body, const PageVariant *variant)
{
    if (!body || !page_variant_is_smartphone(variant) || body->smartphone_styled) return;
    render_fields_style(arena, &body->parts, variant);
    body->smartphone_styled = true;
}

PageRecord page_build_from(Arena *arena, const PageSite *site, const PageDocument *document, Str output_path,
                           const PageVariant *variant, const PageBody *body, bool take)
{
    // A body styled for the other kind of page is of no use to this one.
    if (!body || !body->usable || body->smartphone_styled != page_variant_is_smartphone(variant))
        return page_assemble(arena, site, document, output_path, variant, nullptr, false);
    return page_assemble(arena, site, document, output_path, variant, body, take);
}

static PageRecord page_assemble(Arena *arena, const PageSite *site, const PageDocument *document, Str output_path,
                                const PageVariant *variant, const PageBody *body, bool take)
{
    PageRecord page = {};
    page.output_path = output_path;
    const ParsedDocument *doc = document->parsed;
    bool smartphone = page_variant_is_smartphone(variant);
    Str toggle_class = smartphone ? str_lit("toggle-content_fixed") : str_lit("toggle-content_");

    // 1. The frame.
    page.document = frame_make(arena, site, variant);
    PageRegions r = regions_find(page.document);
    HtmlElement *b_w = r.at[ShellRegion_BW];
    HtmlElement *top_right = r.at[ShellRegion_TopRight];
    HtmlElement *top_left = r.at[ShellRegion_TopLeft];
    HtmlElement *bottom = r.at[ShellRegion_Bottom];
    bool b_w_was_empty = html_is_element(b_w) && b_w->child_count == 1 && html_is_text(b_w->first_child) &&
                         html_is_none(b_w->first_child->first_child);

    // 2. The title.
    page.title = page_title_of(arena, document);
    HtmlElement *title = html_element_from_tag(arena, HtmlTag_Title);
    // The serializer writes text as it stands: a title that holds "<" or
    // "&" is escaped here, or it would open elements in the head.
    html_append_text(arena, title, escape_source(arena, page.title));
    html_append_content(r.head, title);

    // 3. The document, then its footnotes: rendered before the tables and
    // links are completed, so a table or a file link in a footnote gets the
    // same treatment as one in the text.
    if (body && html_is_element(b_w) && html_is_element(bottom) && html_is_element(r.at[ShellRegion_TopMiddle])) {
        body_place(arena, body, &r, variant, take);
    } else {
        render_document(arena, doc->root, page.document, variant, site->render);
        if (!node_is_nil(doc->footnotes)) render_document(arena, doc->footnotes, b_w, variant, site->render);
        tables_build(arena, site, doc, r.body, variant);
    }

    ArenaTemp scratch = scratch_begin(arena);
    AssemblyClasses classes = assembly_classes();
    PageParts parts = parts_collect(scratch.arena, r.body, &classes);

    // 4. Table of contents.
    HtmlElementList containers = {};
    for (HtmlElementNode *n = parts.tocs.first; n; n = n->next) {
        HtmlElement *toc = n->element;
        HtmlElement *container = div_with_style(arena, str_lit("font-size:1.6rem;height:fit-content;"));
        html_set_attribute(arena, container, HtmlAttr_Id, str_lit("toc_container"));
        html_append_content(top_right, container);
        html_element_list_push(scratch.arena, &containers, container);
        set_toggle_classes(arena, toc, toggle_class, rule_class(MarkupKind_Toc, 0));
        html_set_attribute(arena, toc, HtmlAttr_Style,
                           str_lit("border:#afa85d solid 1px;margin-top:0.2rem;overflow-y:scroll;"
                                   "padding:0.5rem 1rem;max-height:92.0vh;"));
        html_detach(toc);
        if (str_eq(doc->toc_value, str_lit("none"))) continue;
        html_append_content(container, toc);
        HtmlElement *toggle = icon_element(arena, Icon_ListNested);
        html_set_tag(toggle, HtmlTag_Input);
        html_set_attribute(arena, toggle, HtmlAttr_Id, str_lit("toggle-checkbox_"));
        html_set_attribute(arena, toggle, HtmlAttr_Style, str_lit("font-size:1.8rem;color:#9f9480;"));
        html_set_attribute(arena, toggle, HtmlAttr_Type, str_lit("checkbox"));
        html_insert(toc, toggle, HtmlInsert_Before);
        HtmlElement *p = html_element_from_tag(arena, HtmlTag_P);
        html_set_attribute(arena, p, HtmlAttr_Style, str_lit("margin-bottom:1rem;font-size:1rem;"));
        html_append_text(arena, p, str_lit("Table of content:"));
        html_insert(toc, p, HtmlInsert_FirstContent);
    }

    // 5. Context documents, their toggles and the banner.
    HtmlElement *context_holder =
        div_with_style(arena, str_lit("font-size:1.4rem;height:fit-content;height:100%;min-height:100%;"));
    html_append_content(top_left, context_holder);
    for (HtmlElementNode *n = parts.context_documents.first; n; n = n->next) {
        HtmlElement *cd = n->element;
        html_append_content(context_holder, cd);
        set_toggle_classes(arena, cd, toggle_class, rule_class(MarkupKind_ContextDocument, 0));
        toggle_make(arena, cd, str_lit("color:black;height:100%;min-height:100%;"));
        HtmlElement *banner = &html_none;
        HtmlElementList images = {};
        for (HtmlElement *e = cd; !html_is_none(e); e = html_walk_next(e, cd))
            if (is_banner_picture(e, &classes)) html_element_list_push(scratch.arena, &images, e);
        for (HtmlElementNode *i = images.first; i; i = i->next) {
            if (html_is_none(banner)) {
                banner = div_with_style(arena, str_lit("margin:1rem 0 0 1rem;display:flex;"));
                html_set_attribute(arena, banner, HtmlAttr_Id, str_lit("banner"));
                html_insert(b_w, banner, HtmlInsert_FirstContent);
            }
            html_append_content(banner, i->element);
        }
    }

    // 6. Contexts and inline contexts.
    for (HtmlElementNode *n = parts.contexts.first; n; n = n->next) {
        set_toggle_classes(arena, n->element, str_lit("toggle-content_"), rule_class(MarkupKind_Context, 0));
        toggle_make(arena, n->element, str_lit("color:#9f9480;"));
    }
    for (HtmlElementNode *n = parts.inline_contexts.first; n; n = n->next) {
        set_toggle_classes(arena, n->element, str_lit("toggle-content_i"),
                           rule_class(MarkupKind_Context, NodeFlag_Inline));
        toggle_make(arena, n->element, str_lit("color:#9f9480;"));
    }

    // 8. File links.
    for (HtmlElementNode *n = parts.file_links.first; n; n = n->next)
        file_link_point(arena, site, document->linked_pages, n->element, smartphone);

    // 9. A table of contents left in the body goes to the top right. When
    // b_w came empty from the frame, only the containers made above can
    // carry that id (the renderer's ids end in the node's offset), and the
    // first of them inside b_w is what a search of b_w would find.
    HtmlElement *stray = &html_none;
    if (b_w_was_empty) {
        for (HtmlElementNode *n = containers.first; n && html_is_none(stray); n = n->next)
            if (is_inside(n->element, b_w)) stray = n->element;
    } else {
        stray = html_find_by_id(b_w, str_lit("toc_container"));
    }
    if (!html_is_none(stray) && is_inside(stray, b_w)) html_insert(top_right, stray, HtmlInsert_FirstContent);

    // 10. The raw-source link: to the raw page of this very variant, for
    // every page written (an output path refused has none).
    const StrList *outputs = document->page_outputs ? document->page_outputs : &doc->output_paths;
    for (StrNode *o = outputs->first; o; o = o->next) {
        if (!page_output_is_html(o->string)) continue;
        Str page_path = smartphone ? page_smartphone_path(arena, o->string) : o->string;
        HtmlElement *a = html_element_from_tag(arena, HtmlTag_A);
        html_set_attribute(arena, a, HtmlAttr_Href, address_of(arena, site, page_raw_path(arena, page_path)));
        html_set_attribute(arena, a, HtmlAttr_Target, str_lit("_blank"));
        html_append_content(a, icon_element(arena, Icon_Pencil));
        html_append_content(top_right, a);
    }

    // 12. Footnotes at the end of the body.
    if (!is_site_index(site, document->source_path)) {
        html_append_content(b_w, bottom);
        scratch_end(scratch);
        return page;
    }

    // 13. The site's index page. Its top left shows no document context;
    // the smartphone page's menu lives there and stays, or a phone visitor
    // of the home page could go nowhere.
    clear_content(top_left, str_lit("menu"));
    HtmlElementList children = {};
    html_collect_child_elements(scratch.arena, b_w, HtmlCollect_ChildElements, &children);
    HtmlElement *group = &html_none;
    for (HtmlElementNode *n = children.first; n; n = n->next) {
        HtmlElement *e = n->element;
        if (e->tag->id == HtmlTag_H3) {
            group = div_with_style(arena, str_lit("display:flex;padding:0.4rem 0;border-bottom:1px #e1dfdf solid;"
                                                  "border-top:1px #e1dfdf solid;"));
            html_append_content(b_w, group);
            // In line with the page's title: at the column's edge it touched
            // the border line beside it.
            html_set_attribute(arena, e, HtmlAttr_Style, str_lit("margin:0 0 0 1rem;font-size:1rem;"));
            html_append_content(group, e);
        } else if (e->tag->id == HtmlTag_Ul && !html_is_none(group)) {
            html_append_content(group, e);
        }
    }
    if (document->website_index) {
        // Its page is made as any document's is, and its text moves over.
        PageRecord index_page = page_build(arena, site, document->website_index, output_path, variant);
        PageRegions inner = regions_find(index_page.document);
        HtmlElementList moved = {};
        html_collect_child_elements(scratch.arena, inner.at[ShellRegion_BW], HtmlCollect_ChildElements, &moved);
        for (HtmlElementNode *n = moved.first; n; n = n->next) {
            // Its footnotes join this page's: one region holds the id.
            if (n->element != inner.at[ShellRegion_Bottom]) {
                html_append_content(b_w, n->element);
                continue;
            }
            HtmlElementList notes = {};
            html_collect_child_elements(scratch.arena, n->element, HtmlCollect_ChildElements, &notes);
            for (HtmlElementNode *m = notes.first; m; m = m->next) html_append_content(bottom, m->element);
        }
    }
    HtmlElement *left = r.at[ShellRegion_Left];
    for (HtmlElement *e = left; !html_is_none(e); e = html_walk_next(e, left))
        if (e->type == HtmlNode_Element && e->tag->id == HtmlTag_A)
            html_set_attribute(arena, e, HtmlAttr_Style, str_lit("font-size:0.8rem;"));
    html_append_content(b_w, bottom);
    scratch_end(scratch);
    return page;
}

//- raw-source pages

static Str escape_source(Arena *arena, Str text) { return html_escape(arena, text, HtmlEscape_Source); }

Str page_source_escaped(Arena *arena, Str source_text) { return escape_source(arena, source_text); }

PageRecord raw_page_build(Arena *arena, const PageSite *site, Str title, Str source_text, Str raw_page_path,
                          const PageVariant *variant)
{
    return raw_page_build_escaped(arena, site, title, escape_source(arena, source_text), raw_page_path, variant);
}

PageRecord raw_page_build_escaped(Arena *arena, const PageSite *site, Str title, Str escaped, Str raw_page_path,
                                  const PageVariant *variant)
{
    PageRecord page = {};
    page.output_path = raw_page_path;
    page.document = frame_make(arena, site, variant);
    PageRegions r = regions_find(page.document);
    // The document's title, as on its page: a page without one is not HTML.
    page.title = title;
    HtmlElement *title_element = html_element_from_tag(arena, HtmlTag_Title);
    html_append_text(arena, title_element, escape_source(arena, title));
    html_append_content(r.head, title_element);
    html_detach(r.at[ShellRegion_Right]);
    html_detach(r.at[ShellRegion_Left]);
    HtmlElement *b_w = r.at[ShellRegion_BW];
    // The source starts below the fixed top bar and may use the whole width
    // (the page has no side columns); a line longer than the screen wraps,
    // as a phone could not scroll to its end.
    f64 top = variant ? variant->content_top_margin : 0;
    html_set_attribute(arena, b_w, HtmlAttr_Style,
                       str_pushf(arena, "margin:%.1fvh 0 0 0;max-width:100%%;min-width:100%%;width:100%%;", top));
    HtmlElement *pre = html_element_from_tag(arena, HtmlTag_Pre);
    html_set_attribute(arena, pre, HtmlAttr_Style,
                       str_lit("font-family:'Source Code Pro';font-size:0.8rem;max-width:100%;box-sizing:border-box;"
                               "white-space:pre-wrap !important;overflow-wrap:anywhere;"));
    if (escaped.size) html_append_text(arena, pre, escaped);
    html_append_content(b_w, pre);

    // The rendered page beside this one: "/raw_" dropped from the path.
    u64 at = str_find(raw_page_path, str_lit("/raw_"), 0, StrMatch_FindLast);
    Str page_path = at < raw_page_path.size
                        ? str_pushf(arena, "%S/%S", str_prefix(raw_page_path, at), str_skip(raw_page_path, at + 5))
                        : raw_page_path;
    HtmlElement *a = html_element_from_tag(arena, HtmlTag_A);
    HtmlElement *icon = icon_element(arena, Icon_LeftDir);
    html_set_attribute(arena, icon, HtmlAttr_Style, str_lit("padding:0.5rem 0.9rem;border-radius:0.3rem;"));
    html_append_content(a, icon);
    html_set_attribute(arena, a, HtmlAttr_Href, address_of(arena, site, page_path));
    html_set_attribute(arena, a, HtmlAttr_Style, str_lit("font-size:1rem;margin:0;font-family:'Source Code Pro';"));
    html_append_content(r.at[ShellRegion_TopLeft], a);
    return page;
}

//- writing

static void report_add(Arena *arena, PageWriteReport *report, Str path, Str bytes, u32 status)
{
    if (!report) return;
    PageWritten *w = push_struct<PageWritten>(arena);
    if (!w) return;
    w->path = str_copy(arena, path);
    w->hash = page_bytes_hash(bytes);
    w->status = status;
    if (report->last) report->last->next = w;
    else report->first = w;
    report->last = w;
    if (status == FileReplace_Written) report->written += 1, report->bytes_written += bytes.size;
    else if (status == FileReplace_Unchanged) report->unchanged += 1;
    else report->failed += 1;
}

// Serializes and writes one page built on scratch; what is kept (the
// warning, the report entry) goes to `arena`.
static bool page_emit(Arena *arena, Arena *page_arena, const PageSite *site, PageRecord page,
                      DiagnosticList *warnings, PageWriteReport *report)
{
    Str bytes = html_text_of(page_arena, page.document, shell_page_write_options(site->shell));
    u32 status = page_write(arena, page.output_path, bytes, warnings, site->shell ? &site->shell->settings.on_write : nullptr);
    report_add(arena, report, page.output_path, bytes, status);
    return status != FileReplace_Failed;
}

// What every raw page of a document shows, made once for all of them.
struct RawSource {
    Str title;
    Str escaped;
};

// The pages of one kind, built from `body` (on `body_arena`, each page
// above it and dropped once written); the last page of the last kind
// takes the body instead of copying it.

static bool pages_of_kind(Arena *arena, Arena *body_arena, const PageSite *site, const PageDocument *document,
                          const StrList *output_paths, const PageVariant *variant, PageBody *body, bool last_kind,
                          const RawSource *raw_source, DiagnosticList *warnings, PageWriteReport *report)
{
    bool ok = true;
    bool smartphone = page_variant_is_smartphone(variant);
    page_body_style(body_arena, body, variant);
    StrNode *last = nullptr;
    for (StrNode *o = output_paths->first; o; o = o->next)
        if (page_output_is_html(o->string)) last = o;
    for (StrNode *o = output_paths->first; o; o = o->next) {
        if (!page_output_is_html(o->string)) continue;
        // Each page is built, written and dropped before the next one, so a
        // document with many outputs holds one page at a time.
        Str page_path = smartphone ? page_smartphone_path(arena, o->string) : o->string;
        Str raw_path = page_raw_path(arena, page_path);
        ArenaTemp temp = temp_begin(body_arena);
        PageRecord page = page_build_from(body_arena, site, document, page_path, variant, body, last_kind && o == last);
        ok = page_emit(arena, body_arena, site, page, warnings, report) && ok;
        temp_end(temp);

        temp = temp_begin(body_arena);
        PageRecord raw = raw_page_build_escaped(body_arena, site, raw_source->title, raw_source->escaped, raw_path, variant);
        ok = page_emit(arena, body_arena, site, raw, warnings, report) && ok;
        temp_end(temp);
    }
    return ok;
}

bool pages_write_kinds(Arena *arena, const PageSite *site, const PageDocument *document, const StrList *output_paths,
                       const PageVariant *const *variants, u32 variant_count, DiagnosticList *warnings,
                       PageWriteReport *report)
{
    bool ok = true;
    // These trees are only serialized: finished headings and contents
    // entries may become their text once the page is large.
    RenderOptions render = site->render ? *site->render : RenderOptions{};
    render.fold_finished = 1;
    render.fold_after_bytes = page_fold_after_bytes;
    PageSite folding = *site;
    folding.render = &render;
    site = &folding;
    PageDocument writing = *document;
    writing.page_outputs = output_paths;
    document = &writing;
    bool any_page = false;
    for (StrNode *o = output_paths->first; o && !any_page; o = o->next) any_page = page_output_is_html(o->string);
    if (!any_page) return true;
    // The pages share the frame's texts until they are written.
    if (site->shell) shell_pages_begin(site->shell);
    ArenaTemp scratch = scratch_begin(arena);
    PageBody *body = document->source_text.size <= page_body_shared_until
                         ? page_body_render(scratch.arena, site, document)
                         : nullptr;
    RawSource raw_source = {page_title_of(scratch.arena, document), escape_source(scratch.arena, document->source_text)};
    for (u32 i = 0; i < variant_count; i += 1)
        ok = pages_of_kind(arena, scratch.arena, site, document, output_paths, variants[i], body, i + 1 == variant_count,
                           &raw_source, warnings, report) &&
             ok;
    scratch_end(scratch);
    if (site->shell) shell_pages_end(site->shell);
    return ok;
}

bool pages_write(Arena *arena, const PageSite *site, const PageDocument *document, const StrList *output_paths,
                 const PageVariant *variant, DiagnosticList *warnings, PageWriteReport *report)
{
    return pages_write_kinds(arena, site, document, output_paths, &variant, 1, warnings, report);
}
