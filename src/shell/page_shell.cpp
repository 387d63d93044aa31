// shell/page_shell.cpp: the page frame, the template slots and the setup.
#include "shell/page_shell.h"

#include "html/validator.h"
#include "os/file_service.h"
#include "shell/assets.h"
#include "shell/page_writer.h"
#include "shell/stylesheet.h"

const Str shell_region_name_table[ShellRegion_Count] = {
    str_lit("top_middle"), str_lit("top_left"), str_lit("top_right"), str_lit("right"), str_lit("left"),
    str_lit("b_w"),        str_lit("bottom"),   str_lit("menu"),      str_lit("footer"),
};

static const Str default_owner_name = str_lit("Site owner");
static const Str default_owner_email = str_lit("owner@example.org");

//- paths

Str shell_head_template_path(Arena *arena, const ShellSettings *settings, u32 variant_kind)
{
    Str site = variant_kind == PageVariant_Smartphone ? str_lit("/shared/html/default_head_smartphone.html")
                                                      : str_lit("/shared/html/default_head_desktop.html");
    return site_local_path(arena, settings, site);
}

Str shell_menu_template_path(Arena *arena, const ShellSettings *settings, u32 variant_kind)
{
    Str site = variant_kind == PageVariant_Smartphone ? str_lit("/shared/html/default_menu_smartphone.html")
                                                      : str_lit("/shared/html/default_menu_desktop.html");
    return site_local_path(arena, settings, site);
}

static u32 slot_of(u32 variant_kind) { return variant_kind == PageVariant_Smartphone ? 1 : 0; }

const HtmlWriteOptions *shell_page_write_options(const Shell *shell) { return shell ? &shell->write_options : nullptr; }

const PageVariant *shell_variant(const Shell *shell, u32 variant_kind)
{
    return &shell->variants[slot_of(variant_kind)];
}

//- tree copies

// One push holds the node, its attribute list, the attributes and their
// value nodes: a page copies a body of hundreds of nodes, and a push for
// each piece cost more than the copying.
static HtmlElement *node_copy(Arena *arena, const HtmlElement *src)
{
    u64 attributes = 0, values = 0;
    for (HtmlAttributeNode *a = src->attributes->first; a; a = a->next) {
        attributes += 1;
        for (StrNode *v = a->attribute.values.first; v; v = v->next) values += 1;
    }
    u64 size = sizeof(HtmlElement) + sizeof(HtmlAttributeList) + attributes * sizeof(HtmlAttributeNode) +
               values * sizeof(StrNode);
    u8 *memory = (u8 *)arena_push(arena, size, alignof(HtmlElement));
    if (!memory) return &html_none;
    HtmlElement *n = (HtmlElement *)memory;
    HtmlAttributeList *list = (HtmlAttributeList *)(n + 1);
    HtmlAttributeNode *attribute = (HtmlAttributeNode *)(list + 1);
    StrNode *value = (StrNode *)(attribute + attributes);
    *n = *src;
    n->next = n->prev = n->parent = n->first_child = n->last_child = &html_none;
    n->child_count = 0;
    n->attributes = list;
    *list = {};
    // Values stay shared; only the list nodes are the copy's own, so a page
    // may set or remove attributes without touching what it copied.
    for (HtmlAttributeNode *a = src->attributes->first; a; a = a->next, attribute += 1) {
        attribute->attribute.info = a->attribute.info;
        attribute->attribute.values = a->attribute.values;
        attribute->attribute.values.first = attribute->attribute.values.last = nullptr;
        for (StrNode *v = a->attribute.values.first; v; v = v->next, value += 1) {
            value->string = v->string;
            list_append(&attribute->attribute.values, value);
        }
        list_append(list, attribute);
        list->count += 1;
    }
    return n;
}

HtmlElement *html_copy_tree(Arena *arena, HtmlElement *root)
{
    if (html_is_none(root)) return &html_none;
    HtmlElement *copy = node_copy(arena, root);
    if (html_is_none(copy)) return copy;
    HtmlElement *src = root, *dst = copy;
    for (;;) {
        if (!html_is_none(src->first_child)) {
            src = src->first_child;
            HtmlElement *c = node_copy(arena, src);
            if (html_is_none(c)) return copy;   // out of memory: what was copied
            html_link_last(dst, c);
            dst = c;
            continue;
        }
        while (src != root && html_is_none(src->next)) {
            src = src->parent;
            dst = dst->parent;
        }
        if (src == root) break;
        src = src->next;
        HtmlElement *c = node_copy(arena, src);
        if (html_is_none(c)) return copy;
        html_link_last(dst->parent, c);
        dst = c;
    }
    return copy;
}

//- menus

static HtmlElement *first_element_child(HtmlElement *node)
{
    for (HtmlElement *c = node->first_child; !html_is_none(c); c = c->next)
        if (html_is_element(c)) return c;
    return &html_none;
}

// The local path a menu link leads to; empty for a link that means the same
// from every page (another scheme such as https: or mailto:, a fragment, a
// relative link).
static Str menu_link_local_path(Arena *arena, const ShellSettings *settings, Str href)
{
    Str text = href;
    if (str_eq(text, str_lit("/"))) text = str_lit("/html/index.html");
    if (str_contains(text, str_lit("file:///"))) {
        text = shell_path_from_file_address(text);
    } else {
        bool drive = text.size >= 2 && char_is_alpha((u8)text.str[0]) && text.str[1] == ':';
        if (!drive && (text.size == 0 || text.str[0] != '/')) return str_empty();
    }
    return site_local_path(arena, settings, text);
}

Str menu_link_rewrite(Arena *arena, const ShellSettings *settings, Str href)
{
    Str local = menu_link_local_path(arena, settings, href);
    return local.size ? shell_address_of(arena, settings, local) : href;
}

// The links of a menu's list, as the template writes them, in order.
template <typename Visit>
static void menu_links_each(HtmlElement *menu, Visit visit)
{
    HtmlElement *list = html_find_by_tag(menu, HtmlTag_Ul, 0);
    if (html_is_none(list)) return;
    HtmlElement *content = html_content_node(list);
    for (HtmlElement *item = content->first_child; !html_is_none(item); item = item->next) {
        if (!html_is_element(item)) continue;
        HtmlElement *link = html_find_by_tag(item, HtmlTag_A, 0);
        HtmlAttribute *href = html_get_attribute(link, HtmlAttr_Href);
        if (html_is_none(link) || html_attribute_is_none(href)) continue;
        visit(link, href);
    }
}

u64 menu_links_check(Arena *arena, const ShellSettings *settings, Str text, Str path, DiagnosticList *out)
{
    if (!text.size) return 0;
    u64 count = 0;
    HtmlParseResult parsed = html_parse_template(arena, text, path, HtmlParse_Quiet);
    menu_links_each(first_element_child(parsed.root), [&](HtmlElement *link, HtmlAttribute *href) {
        Str written = str_list_join_plain(arena, &href->values);
        // The page is the file; what follows "#" or "?" is read by the page.
        u64 cut = min_of(str_find_byte(written, '#', 0), str_find_byte(written, '?', 0));
        Str local = menu_link_local_path(arena, settings, str_prefix(written, cut));
        if (!local.size || file_state_of(local) == FileState_Regular) return;
        // At the "<" of the link, as the template's own messages are.
        diag_push_at(arena, out, link, link->offset ? link->offset - 1 : 0, DiagLevel_Warning,
                     str_pushf(arena, "the menu links %S, but %S is missing: every page shows the broken link", written,
                               local));
        count += 1;
    });
    return count;
}

HtmlElement *menu_template_prepare_text(Arena *arena, const ShellSettings *settings, Str text, Str path,
                                        DiagnosticList *diagnostics)
{
    HtmlElement *menu = &html_none;
    if (text.size) {
        HtmlParseResult parsed = html_parse_template(arena, text, path, 0);
        if (diagnostics) {
            for (Diagnostic *d = parsed.diagnostics.first; d; d = d->next)
                diag_push_at(arena, diagnostics, d->node, d->offset, d->level, d->text);
        }
        menu = first_element_child(parsed.root);
    }
    if (html_is_none(menu)) {
        HtmlElement *document = html_node_create(arena, HtmlNode_Document, 0, str_empty(), str_empty(), 0);
        menu = html_element_from_tag(arena, HtmlTag_Nav);
        html_set_attribute(arena, menu, HtmlAttr_Id, str_lit("menu"));
        HtmlElement *home = html_element_from_tag(arena, HtmlTag_A);
        html_set_attribute(arena, home, HtmlAttr_Href, str_lit("/"));
        html_append_text(arena, home, str_lit("Home"));
        html_append_content(menu, home);
        html_append_child(document, menu);
        // The default menu holds no list, so nothing below rewrites it.
        return menu;
    }
    html_remove_attribute(menu, HtmlAttr_Style);
    menu_links_each(menu, [&](HtmlElement *, HtmlAttribute *href) {
        Str joined = str_list_join_plain(arena, &href->values);
        Str rewritten = menu_link_rewrite(arena, settings, joined);
        href->values = StrList{};
        str_list_push(arena, &href->values, rewritten);
    });
    return menu;
}

HtmlElement *menu_template_prepare(Arena *arena, const ShellSettings *settings, Str path, ShellMessages *messages)
{
    ArenaTemp scratch = scratch_begin(arena);
    Str text = str_copy(arena, shell_read_file(scratch.arena, path, nullptr));
    scratch_end(scratch);
    DiagnosticList diagnostics = {};
    HtmlElement *menu = menu_template_prepare_text(arena, settings, text, path, &diagnostics);
    if (messages) shell_messages_add_template(arena, messages, path, text, &diagnostics);
    return menu;
}

//- template slots

// The template parser keeps raw text (a head's whole style sheet) as one
// text node per token: thousands of nodes every page would copy. Runs of
// childless text siblings serialize as their texts one after the other, so
// one node with the joined text writes the same bytes.
static void template_compact(Arena *arena, HtmlElement *root)
{
    ArenaTemp scratch = scratch_begin(arena);
    for (HtmlElement *n = root; !html_is_none(n); n = html_walk_next(n, root)) {
        if (!html_is_text(n) || !html_is_none(n->first_child)) continue;
        HtmlElement *last = n->next;
        if (!html_is_text(last) || !html_is_none(last->first_child)) continue;
        StrList texts = {};
        str_list_push(scratch.arena, &texts, n->text);
        while (html_is_text(n->next) && html_is_none(n->next->first_child)) {
            HtmlElement *next = n->next;
            str_list_push(scratch.arena, &texts, next->text);
            html_detach(next);
        }
        n->text = str_list_join_plain(arena, &texts);
    }
    scratch_end(scratch);
}

//- arenas of loads and frames

// A fresh arena for one load or one frame, recorded in `owned` to be
// retired later; the shell's own arena, never released, when the system
// has no room for another.
static Arena *store_alloc(Shell *shell, Arena **owned)
{
    *owned = arena_alloc(MiB(8), KiB(64));
    return *owned ? *owned : shell->arena;
}

static void retired_release(Shell *shell)
{
    while (shell->retired) {
        ShellRetired *r = shell->retired;
        shell->retired = r->next;
        arena_release(r->arena);
    }
}

// Under the lock. An arena nobody can be holding goes at once.
static void store_retire(Shell *shell, Arena *arena)
{
    if (!arena) return;
    shell->retired_count += 1;
    if (shell->pages_open == 0) {
        arena_release(arena);
        return;
    }
    // No room for the record: keeping the arena is safer than freeing what
    // an open page may still read.
    ShellRetired *r = push_struct<ShellRetired>(arena);
    if (!r) return;
    r->arena = arena;
    r->next = shell->retired;
    shell->retired = r;
}

void shell_pages_begin(Shell *shell)
{
    cs_enter(shell->lock);
    shell->pages_open += 1;
    cs_leave(shell->lock);
}

void shell_pages_end(Shell *shell)
{
    cs_enter(shell->lock);
    shell->pages_open -= 1;
    if (shell->pages_open == 0) retired_release(shell);
    cs_leave(shell->lock);
}

// The tree of a template as it stands on disk, parsed once per content.
// Returns the shared tree: callers copy it before changing anything.
static HtmlElement *template_current(Arena *arena, Shell *shell, ShellTemplate *slot, bool menu, ShellMessages *messages)
{
    // Every page asks: the bytes are read only when the key moved.
    ContentKey now = shell_file_key(arena, slot->path);
    cs_enter(shell->lock);
    if (slot->loaded && content_key_eq(now, slot->key)) {
        HtmlElement *element = slot->element;
        cs_leave(shell->lock);
        return element;
    }
    cs_leave(shell->lock);
    ArenaTemp scratch = scratch_begin(arena);
    ContentKey key = {};
    Str text = shell_read_file(scratch.arena, slot->path, &key);
    cs_enter(shell->lock);
    if (!slot->loaded || !content_key_eq(key, slot->key)) {
        Arena *owned = nullptr;
        Arena *keep = store_alloc(shell, &owned);
        Str source = str_copy(keep, text);
        DiagnosticList diagnostics = {};
        HtmlElement *element = &html_none;
        if (menu) {
            element = menu_template_prepare_text(keep, &shell->settings, source, slot->path, &diagnostics);
        } else if (source.size) {
            HtmlParseResult parsed = html_parse_template(keep, source, slot->path, 0);
            diagnostics = parsed.diagnostics;
            element = first_element_child(parsed.root);
        }
        template_compact(keep, element);
        store_retire(shell, slot->arena);
        // The kept frame of this kind shares the old tree's texts: it goes
        // with them and is made again from the new one.
        ShellFrame *frame = &shell->frames[menu ? slot - shell->menus : slot - shell->heads];
        store_retire(shell, frame->arena);
        frame->arena = nullptr;
        frame->document = nullptr;
        slot->arena = owned;
        slot->element = element;
        slot->key = key;
        slot->loaded = 1;
        slot->load_count += 1;
        // Copied onto the caller's arena: the messages may be printed after
        // this load is retired.
        if (messages) shell_messages_add_template(arena, messages, slot->path, source, &diagnostics);
    }
    HtmlElement *element = slot->element;
    cs_leave(shell->lock);
    scratch_end(scratch);
    return element;
}

//- the shell

Shell *shell_create(const ShellSettings *settings)
{
    Arena *arena = arena_alloc(MiB(64), KiB(64));
    Shell *shell = push_struct<Shell>(arena);
    shell->arena = arena;
    shell->lock = cs_alloc();
    shell->settings = *settings;
    shell->settings.local_folder = str_copy(arena, settings->local_folder);
    shell->settings.owner_name = str_copy(arena, settings->owner_name.size ? settings->owner_name : default_owner_name);
    shell->settings.owner_email = str_copy(arena, settings->owner_email.size ? settings->owner_email : default_owner_email);
    shell->write_options = shell_write_options(&shell->settings);
    page_variant_fill(&shell->variants[0], PageVariant_Desktop);
    page_variant_fill(&shell->variants[1], PageVariant_Smartphone);
    const ShellSettings *s = &shell->settings;
    for (u32 kind : {(u32)PageVariant_Desktop, (u32)PageVariant_Smartphone}) {
        shell->heads[slot_of(kind)].path = shell_head_template_path(arena, s, kind);
        shell->menus[slot_of(kind)].path = shell_menu_template_path(arena, s, kind);
        shell->heads[slot_of(kind)].element = &html_none;
        shell->menus[slot_of(kind)].element = &html_none;
    }
    Str shared = str_pushf(arena, "%Sshared/", s->local_folder);
    Str published = str_pushf(arena, "%Shtml/shared/", s->local_folder);
    shell->input_paths[ShellInput_FontsCss] = str_pushf(arena, "%Scss/fonts.css", shared);
    shell->input_paths[ShellInput_IconsCss] = str_pushf(arena, "%Scss/icons.css", shared);
    shell->input_paths[ShellInput_SiteCss] = site_css_path(arena, s);
    shell->output_paths[0] = str_pushf(arena, "%Scss/fonts.css", published);
    shell->output_paths[1] = str_pushf(arena, "%Scss/icons.css", published);
    return shell;
}

static u32 copy_sheet(Shell *shell, Arena *arena, u32 input, ShellMessages *messages)
{
    ContentKey key = {};
    u32 status = css_copy_rewritten(arena, &shell->settings, shell->input_paths[input], shell->output_paths[input],
                                    messages, &key);
    shell->input_keys[input] = key;
    shell->inputs_seen[input] = 1;
    return status;
}

static u32 build_head(Shell *shell, Arena *arena, u32 slot, ShellMessages *messages)
{
    ArenaTemp scratch = scratch_begin(arena);
    ContentKey site_key = {};
    HtmlElement *document = head_template_tree(scratch.arena, &shell->settings, &shell->variants[slot],
                                               &shell->variants[0], &site_key);
    Str text = html_text_of(scratch.arena, document, &shell->write_options);
    u32 status = page_write(arena, shell->heads[slot].path, text, messages ? &messages->log : nullptr,
                            &shell->settings.on_write);
    // Pages read the head through the file service, whose table would hold
    // the old head until the watch saw this write come back: a page built
    // in between got the old style sheet, and the write's return (the same
    // bytes as the new key) changed nothing to build again.
    if (status == FileReplace_Written && file_service()) fs_reload(shell->heads[slot].path);
    shell->head_keys[slot] = content_key_of(text);
    shell->input_keys[ShellInput_SiteCss] = site_key;
    shell->inputs_seen[ShellInput_SiteCss] = 1;
    scratch_end(scratch);
    return status;
}

// Whether the menu loaded again since the last time this was asked. A
// worker's page may load a saved menu before the refresh that follows the
// save: counted by the refresh's own load alone, that save rebuilt nothing
// and every page built before it kept the old menu.
static bool menu_loads_tell(Shell *shell, u32 slot)
{
    cs_enter(shell->lock);
    u64 loads = shell->menus[slot].load_count;
    bool changed = loads != shell->menu_loads_told[slot];
    shell->menu_loads_told[slot] = loads;
    cs_leave(shell->lock);
    return changed;
}

// A site begun by hand has neither sheet: its pages name fonts and icons
// that never load, which shows only in a browser, as plain letters where
// the icons should be. Told once, at the start, with the way out.
static void tell_missing_sheets(Shell *shell, Arena *arena, ShellMessages *messages)
{
    if (!messages) return;
    bool fonts = !file_properties(shell->input_paths[ShellInput_FontsCss]).exists;
    bool icons = !file_properties(shell->input_paths[ShellInput_IconsCss]).exists;
    if (!fonts && !icons) return;
    Str site = path_folder(path_without_trailing_slashes(shell->settings.local_folder));
    if (!site.size) site = str_lit("/");
    Str command = str_find_byte(site, ' ', 0) < site.size ? str_pushf(arena, "wyn init \"%S\"", site)
                                                            : str_pushf(arena, "wyn init %S", site);
    Str missing = fonts && icons ? str_pushf(arena, "%S and icons.css are", shell->input_paths[ShellInput_FontsCss])
                                 : str_pushf(arena, "%S is", shell->input_paths[fonts ? ShellInput_FontsCss
                                                                                      : ShellInput_IconsCss]);
    Str text = str_pushf(arena,
                         "%S missing, so the pages load %s; `%S` adds the files pages load that the site lacks and "
                         "changes nothing else",
                         missing,
                         fonts && icons ? "none of the site's fonts and show their icons as plain letters"
                         : fonts        ? "none of the site's fonts"
                                        : "no icon font and show their icons as plain letters",
                         command);
    diag_push_at(arena, &messages->log, nullptr, 0, DiagLevel_Note, text);
}

void shell_setup(Shell *shell, Arena *arena, ShellMessages *messages)
{
    copy_sheet(shell, arena, ShellInput_FontsCss, messages);
    copy_sheet(shell, arena, ShellInput_IconsCss, messages);
    tell_missing_sheets(shell, arena, messages);
    build_head(shell, arena, 0, messages);
    build_head(shell, arena, 1, messages);
    template_current(arena, shell, &shell->menus[0], true, messages);
    template_current(arena, shell, &shell->menus[1], true, messages);
    menu_loads_tell(shell, 0);
    menu_loads_tell(shell, 1);
}

static ContentKey key_now(Arena *arena, Str path)
{
    ArenaTemp scratch = scratch_begin(arena);
    ContentKey key = {};
    shell_read_file(scratch.arena, path, &key);
    scratch_end(scratch);
    return key;
}

u32 shell_refresh(Shell *shell, Arena *arena, ShellMessages *messages)
{
    u32 count = 0;
    for (u32 input : {(u32)ShellInput_FontsCss, (u32)ShellInput_IconsCss}) {
        ContentKey key = key_now(arena, shell->input_paths[input]);
        if (shell->inputs_seen[input] && content_key_eq(key, shell->input_keys[input])) continue;
        if (copy_sheet(shell, arena, input, messages) == FileReplace_Written) count += 1;
    }
    bool site_changed = !shell->inputs_seen[ShellInput_SiteCss] ||
                        !content_key_eq(key_now(arena, shell->input_paths[ShellInput_SiteCss]), shell->input_keys[ShellInput_SiteCss]);
    for (u32 slot = 0; slot < 2; slot += 1) {
        // A head edited or deleted by hand is generated output: put it back.
        bool head_changed = !content_key_eq(key_now(arena, shell->heads[slot].path), shell->head_keys[slot]);
        if (site_changed || head_changed)
            if (build_head(shell, arena, slot, messages) == FileReplace_Written) count += 1;
    }
    for (u32 slot = 0; slot < 2; slot += 1) {
        template_current(arena, shell, &shell->menus[slot], true, messages);
        if (menu_loads_tell(shell, slot)) count += 1;
    }
    return count;
}

//- pages

struct ShellFound {
    HtmlElement *doctype;
    HtmlElement *html;
    HtmlElement *head;
    HtmlElement *body;
    HtmlElement *regions[ShellRegion_Count];
    HtmlElement *menu;     // the menu's copy, when this application placed one
    HtmlElement *footer;   // the footer, when this application made it
};

// One walk finds everything the frame asks about, first match in document
// order each; slots already filled keep their element.
static void shell_scan(HtmlElement *root, ShellFound *found)
{
    for (HtmlElement *n = root; !html_is_none(n); n = html_walk_next(n, root)) {
        if (n->type != HtmlNode_Element) continue;
        u32 tag = n->tag->id;
        if (tag == HtmlTag_DocType && html_is_none(found->doctype)) found->doctype = n;
        else if (tag == HtmlTag_Html && html_is_none(found->html)) found->html = n;
        else if (tag == HtmlTag_Head && html_is_none(found->head)) found->head = n;
        else if (tag == HtmlTag_Body && html_is_none(found->body)) found->body = n;
        for (HtmlAttributeNode *a = n->attributes->first; a; a = a->next) {
            if (a->attribute.info->id != HtmlAttr_Id) continue;
            for (StrNode *v = a->attribute.values.first; v; v = v->next)
                for (u32 r = 0; r < ShellRegion_Count; r += 1)
                    if (html_is_none(found->regions[r]) && str_eq(v->string, shell_region_name_table[r])) found->regions[r] = n;
        }
    }
}

static HtmlElement *region_make(Arena *arena, HtmlElement *body, u32 region, u32 tag)
{
    HtmlElement *e = html_element_from_tag(arena, tag);
    html_set_attribute(arena, e, HtmlAttr_Id, shell_region_name_table[region]);
    html_append_content(body, e);
    return e;
}

// The templates a frame is made from: looked up (and loaded when changed)
// as a page asks for them, or, for a frame made under the lock, the trees
// the slots hold.
struct ShellTemplates {
    ShellMessages *messages;
    bool given;
    HtmlElement *head;
    HtmlElement *menu;
};

static HtmlElement *templates_head(Arena *arena, Shell *shell, u32 slot, ShellTemplates *t)
{
    return t->given ? t->head : template_current(arena, shell, &shell->heads[slot], false, t->messages);
}

static HtmlElement *templates_menu(Arena *arena, Shell *shell, u32 slot, ShellTemplates *t)
{
    return t->given ? t->menu : template_current(arena, shell, &shell->menus[slot], true, t->messages);
}

static HtmlElement *shell_apply(Arena *arena, Shell *shell, HtmlElement *document, u32 kind, ShellTemplates *templates,
                                ShellFound *found_out)
{
    u32 slot = slot_of(kind);
    const PageVariant *numbers = &shell->variants[slot];
    const ShellSettings *settings = &shell->settings;

    if (html_is_none(document)) document = html_node_create(arena, HtmlNode_Document, 0, str_empty(), str_empty(), 0);
    ShellFound &found = *found_out;
    found = {&html_none, &html_none, &html_none, &html_none, {}, &html_none, &html_none};
    for (HtmlElement *&r : found.regions) r = &html_none;
    shell_scan(document, &found);

    if (html_is_none(found.doctype)) {
        found.doctype = html_element_from_tag(arena, HtmlTag_DocType);
        html_attribute_append(arena, found.doctype, html_attr_from_id(HtmlAttr_Html));
        html_append_child(document, found.doctype);
    }
    if (html_is_none(found.html)) {
        found.html = html_element_from_tag(arena, HtmlTag_Html);
        html_set_attribute(arena, found.html, HtmlAttr_Style,
                           str_lit("max-width:100vw;width:100vw;min-width:100vw;font-family:'Noto Serif';font-size:16px;line-height:1.6;}"));
        html_set_attribute(arena, found.html, HtmlAttr_Lang, str_lit("en"));
        html_append_child(document, found.html);
    }
    if (html_is_none(found.head)) {
        HtmlElement *head = templates_head(arena, shell, slot, templates);
        if (!html_is_none(head)) {
            head = html_copy_tree(arena, head);
            html_append_content(found.html, head);
            shell_scan(head, &found);
            if (html_is_none(found.head) && head->tag->id == HtmlTag_Head) found.head = head;
        }
    }
    if (html_is_none(found.body)) {
        found.body = html_element_from_tag(arena, HtmlTag_Body);
        html_append_content(found.html, found.body);
    }
    if (settings->js) {
        Str local = site_local_path(arena, settings, str_lit("/shared/javascript/website/website_shared.js"));
        Str script_path = settings->deploy ? shell_web_path(settings, local) : local;
        HtmlElement *link = html_element_from_tag(arena, HtmlTag_Link);
        html_set_attribute(arena, link, HtmlAttr_Rel, str_lit("preload"));
        html_set_attribute(arena, link, HtmlAttr_As, str_lit("script"));
        // A link names what it preloads by href; a src is ignored, and the
        // script would be fetched only when the page reaches it.
        html_set_attribute(arena, link, HtmlAttr_Href, script_path);
        html_append_content(found.head, link);
        HtmlElement *script = html_element_from_tag(arena, HtmlTag_Script);
        html_set_attribute(arena, script, HtmlAttr_Src, script_path);
        html_attribute_append(arena, script, html_attr_from_id(HtmlAttr_Defer));
        html_append_content(found.body, script);
    }
    // Every application adds one: a page shelled twice carries two.
    HtmlElement *viewport = html_element_from_tag(arena, HtmlTag_Meta);
    html_set_attribute(arena, viewport, HtmlAttr_Name, str_lit("viewport"));
    html_set_attribute(arena, viewport, HtmlAttr_Content, str_lit("width=device-width, initial-scale=1.0"));
    html_append_content(found.head, viewport);

    HtmlElement **regions = found.regions;
    for (u32 r : {(u32)ShellRegion_TopLeft, (u32)ShellRegion_TopRight, (u32)ShellRegion_TopMiddle, (u32)ShellRegion_Left,
                  (u32)ShellRegion_Right, (u32)ShellRegion_BW}) {
        if (!html_is_none(regions[r])) continue;
        regions[r] = region_make(arena, found.body, r, HtmlTag_Div);
        if (r == ShellRegion_Right) html_set_attribute(arena, regions[r], HtmlAttr_Style, str_empty());
        if (r == ShellRegion_BW)
            html_set_attribute(arena, regions[r], HtmlAttr_Style,
                               str_pushf(arena, "margin-top:%.1fvh", (f64)numbers->top_bar_height));
    }
    if (html_is_none(regions[ShellRegion_Menu])) {
        HtmlElement *menu = templates_menu(arena, shell, slot, templates);
        HtmlElement *place = regions[kind == PageVariant_Smartphone ? ShellRegion_TopLeft : ShellRegion_TopMiddle];
        if (!html_is_none(menu) && !html_is_none(place)) {
            menu = html_copy_tree(arena, menu);
            html_prepend_child(html_content_node(place), menu);
            shell_scan(menu, &found);
            found.menu = menu;
        }
    }
    if (html_is_none(regions[ShellRegion_Bottom])) regions[ShellRegion_Bottom] = region_make(arena, found.body, ShellRegion_Bottom, HtmlTag_Div);
    if (!html_is_none(regions[ShellRegion_Footer])) return document;

    HtmlElement *footer = html_element_from_tag(arena, HtmlTag_Footer);
    html_set_attribute(arena, footer, HtmlAttr_Style, str_lit("border-top:1px #e1dfdf solid;padding:3rem 1rem;"));
    html_set_attribute(arena, footer, HtmlAttr_Id, str_lit("footer"));
    HtmlElement *address = html_element_from_tag(arena, HtmlTag_Address);
    html_set_attribute(arena, address, HtmlAttr_Style, str_lit("margin-left:auto;"));
    HtmlElement *contact = html_element_from_tag(arena, HtmlTag_A);
    html_set_attribute(arena, contact, HtmlAttr_Style, str_lit("font-size:0.9rem;"));
    html_append_text(arena, contact, str_pushf(arena, "%S (email)", settings->owner_name));
    html_set_attribute(arena, contact, HtmlAttr_Href, str_pushf(arena, "mailto:%S", settings->owner_email));
    HtmlElement *icon = html_element_from_tag(arena, HtmlTag_Img);
    html_set_attribute(arena, icon, HtmlAttr_Style, str_lit("margin-left:0.5rem;width:1.2rem;height:1.2rem;"));
    Str favicon = site_local_path(arena, settings, str_lit("/shared/images/favicon-32x32.png"));
    html_set_attribute(arena, icon, HtmlAttr_Src, settings->deploy ? shell_web_path(settings, favicon) : favicon);
    html_set_attribute(arena, icon, HtmlAttr_Alt, str_lit("favicon"));
    html_set_attribute(arena, icon, HtmlAttr_Draggable, str_lit("false"));
    html_append_content(contact, icon);
    html_append_content(address, contact);
    html_append_content(footer, address);
    html_append_content(found.body, footer);
    found.footer = footer;
    return document;
}

HtmlElement *page_shell_apply(Arena *arena, Shell *shell, HtmlElement *document, const PageVariant *variant,
                              ShellMessages *messages)
{
    u32 kind = page_variant_is_smartphone(variant) ? PageVariant_Smartphone : PageVariant_Desktop;
    ShellTemplates templates = {messages, false, &html_none, &html_none};
    ShellFound found = {};
    return shell_apply(arena, shell, document, kind, &templates, &found);
}

//- frames made once

// Whether a part of the frame may become its HTML text: nothing below its
// own element is something a page looks for. Pages find the head, the body
// and the regions by tag and id, the renderer its containers by id, and the
// page assembly its toggles, tables and links in the body by class.
static bool frame_part_is_inert(HtmlElement *root, bool in_body)
{
    for (HtmlElement *n = html_walk_next(root, root); !html_is_none(n); n = html_walk_next(n, root)) {
        if (n->type != HtmlNode_Element) continue;
        u32 tag = n->tag->id;
        if (tag == HtmlTag_DocType || tag == HtmlTag_Html || tag == HtmlTag_Head || tag == HtmlTag_Body) return false;
        for (HtmlAttributeNode *a = n->attributes->first; a; a = a->next) {
            u32 id = a->attribute.info->id;
            if (id == HtmlAttr_Id || (in_body && id == HtmlAttr_Class)) return false;
        }
    }
    return true;
}

// Replaces what is below `root` by one content node holding its HTML: the
// same bytes, one node to copy instead of the subtree.
static void frame_part_freeze(Arena *arena, HtmlElement *root, bool in_body, const HtmlWriteOptions *options)
{
    if (!html_is_element(root) || !frame_part_is_inert(root, in_body)) return;
    ArenaTemp scratch = scratch_begin(arena);
    StrList pieces = {};
    for (HtmlElement *c = root->first_child; !html_is_none(c); c = c->next) html_serialize(scratch.arena, c, &pieces, options);
    Str html = str_list_join_plain(arena, &pieces);
    scratch_end(scratch);
    while (!html_is_none(root->first_child)) html_detach(root->first_child);
    HtmlElement *content = html_node_create(arena, HtmlNode_Text, 0, str_empty(), str_empty(), 0);
    html_append_child(root, content);
    if (html.size) html_append_child(content, html_html_node(arena, html, 0));
}

HtmlElement *page_frame(Arena *arena, Shell *shell, const PageVariant *variant, ShellMessages *messages)
{
    u32 kind = page_variant_is_smartphone(variant) ? PageVariant_Smartphone : PageVariant_Desktop;
    u32 slot = slot_of(kind);
    // Looked up as page_shell_apply would: a changed template is loaded
    // here, and its messages reach this page's caller.
    template_current(arena, shell, &shell->heads[slot], false, messages);
    template_current(arena, shell, &shell->menus[slot], true, messages);
    cs_enter(shell->lock);
    ShellFrame *frame = &shell->frames[slot];
    ShellTemplate *head = &shell->heads[slot], *menu = &shell->menus[slot];
    if (!frame->document || frame->head_loads != head->load_count || frame->menu_loads != menu->load_count) {
        ShellTemplates templates = {nullptr, true, head->element, menu->element};
        ShellFound found = {};
        store_retire(shell, frame->arena);
        Arena *keep = store_alloc(shell, &frame->arena);
        HtmlElement *document = shell_apply(keep, shell, &html_none, kind, &templates, &found);
        frame_part_freeze(keep, found.head, false, &shell->write_options);
        frame_part_freeze(keep, found.menu, true, &shell->write_options);
        frame_part_freeze(keep, found.footer, true, &shell->write_options);
        frame->document = document;
        frame->head_loads = head->load_count;
        frame->menu_loads = menu->load_count;
        frame->made_count += 1;
    }
    HtmlElement *document = frame->document;
    cs_leave(shell->lock);
    return html_copy_tree(arena, document);
}
