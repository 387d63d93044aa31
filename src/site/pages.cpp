// site/pages.cpp: the shell's setup, each document's pages, output path
// claims and the manifest of written pages.
#include "site/pages.h"

#include "markup/header_fields.h"
#include "markup/paths.h"
#include "os/file_replace.h"
#include "os/file_service.h"
#include "site/discovery.h"
#include "site/output_paths.h"
#include "site/site_outputs.h"
#include "site/work_share.h"

#include <atomic>

namespace {

// A document that names a page path.
struct Contender {
    Contender *next;
    Str source;
    u64 order;        // its bucket in the document table + 1 (0: the index); the path decides within one
    u64 line_offset;  // of its output_path line, for the warning to it
};

struct PageClaim {
    Str owner;        // the source path of the document that holds the path; empty: free
    u64 order;
    u64 line_offset;
    Contender *contenders;   // every document whose last build named the path, the owner among them
};

struct ManifestEntry {
    ManifestEntry *next;         // in first-written order
    ManifestEntry *next_dirty;   // changed since the file was last written
    Str page;                    // the key it is filed under
    Str owner;                   // empty: removed
    u64 hash;
    b32 dirty;
};

// What one document holds, so its next build finds what it gave up.
struct OwnerEntry {
    Str name;         // its source path, shared by its manifest entries
    StrList claims;   // desktop output paths it holds
    StrList named;    // desktop output paths it names, held or not
    StrList pages;    // every page path it produced
};

struct SitePages {
    Arena *arena;
    CriticalSection *lock;
    Shell *shell;
    Str local_folder;
    DiagPrintSettings print;
    Str manifest_path;
    StrMap claims;     // output path -> PageClaim*
    StrMap manifest;   // page path -> ManifestEntry*
    StrMap owners;     // source path -> OwnerEntry*
    ManifestEntry *manifest_first;   // in first-written order, for a stable file
    ManifestEntry *manifest_last;
    ManifestEntry *dirty_first;      // lock
    u64 entries;                     // live ones: with an owner; lock
    // The file as this process last left it: its size (u64_max: unknown,
    // so it is written whole next) and its lines. Flushes take flush_lock,
    // so one append or rewrite finishes before the next begins.
    CriticalSection *flush_lock;
    CriticalSection *image_lock;   // a document's read log, while two workers build its pages
    u64 file_size;
    u64 file_lines;
    b32 file_stale;   // what the file holds is behind the table: write it whole
    Contender *free_contenders;
    std::atomic<u64> manifest_changes;
    u64 manifest_written;     // the change count last written; lock
    std::atomic<u64> written, unchanged, failed, removed, bytes, manifest_writes, leftovers;
    b32 ready;
};

SitePages g_pages;

constexpr Str manifest_name = str_lit(".wyn_manifest");
constexpr Str manifest_header = str_lit("wyn pages 1\n");
// The owner of the site-wide files in the manifest: no source path looks so.
constexpr Str site_output_owner = str_lit("site_url");

} // namespace

bool page_share_wanted(Str local_folder, Str source_path, Str source_text)
{
    if (source_text.size < page_share_from) return false;
    return source_text.size <= page_share_until ||
           (is_index_document(local_folder, source_path) && str_match(index_document_marker, source_text, StrMatch_Prefix));
}

// The offset of the output_path line that names `path` (the first
// output_path line when none names it by file name).
static u64 output_line_offset(const ParsedDocument *doc, Str source, Str path)
{
    u64 first = u64_max;
    Str name = path_file_name(path);
    for (MarkupNode *n = doc->root; !node_is_nil(n); n = node_preorder_next(n, doc->root)) {
        if (n->node_class != NodeClass_HeaderField || !n->field || n->field->id != 4) continue;
        if (first == u64_max) first = n->offset;
        u64 end = str_find_byte(source, '\n', n->offset);
        if (str_find(str_substr(source, n->offset, end), name, 0, 0) < end - n->offset) return n->offset;
    }
    return first == u64_max ? 0 : first;
}

//- the manifest

static OwnerEntry *owner_entry(Str owner);

static ManifestEntry *manifest_entry(Str page)
{
    StrMapNode *n = str_map_lookup(&g_pages.manifest, page);
    return n ? (ManifestEntry *)n->value : nullptr;
}

// The lock is held.
static void manifest_touch(ManifestEntry *e, Str owner)
{
    g_pages.entries += (owner.size != 0) - (e->owner.size != 0);
    if (!e->dirty) {
        e->dirty = 1;
        e->next_dirty = g_pages.dirty_first;
        g_pages.dirty_first = e;
    }
    g_pages.manifest_changes.fetch_add(1);
}

// The lock is held. Returns whether the page changed hands.
static bool manifest_set(Str page, Str owner, u64 hash)
{
    ManifestEntry *e = manifest_entry(page);
    if (e && str_eq(e->owner, owner) && e->hash == hash) return false;
    if (!e) {
        e = push_struct<ManifestEntry>(g_pages.arena);
        if (!e) return false;
        StrMapNode *node = str_map_insert(g_pages.arena, &g_pages.manifest, page, (u64)e);
        e->page = node ? node->key : str_copy(g_pages.arena, page);
        if (g_pages.manifest_last) g_pages.manifest_last->next = e;
        else g_pages.manifest_first = e;
        g_pages.manifest_last = e;
    }
    manifest_touch(e, owner);
    bool moved = !str_eq(e->owner, owner);
    if (moved) {
        // One copy of a source path for all its pages: a site of 100,000
        // documents has 360,000 of them.
        OwnerEntry *held = owner.size ? owner_entry(owner) : nullptr;
        e->owner = held ? held->name : str_empty();
    }
    e->hash = hash;
    return moved;
}

static bool line_is_clean(Str s) { return str_find_byte(s, '\n', 0) == s.size && str_find_byte(s, '\t', 0) == s.size; }

// The file is a log: a flush appends a line for each page that changed
// since the last one ("<hash> <owner>\t<page>", an empty owner for a page
// removed), and the last line of a page is the one that holds. A save while
// watching so costs a few lines, not the whole site's list again; the file
// is written whole when it holds more old lines than live ones, and at the
// end of a run.
static void manifest_load(Arena *arena)
{
    Str text = file_read_all(arena, g_pages.manifest_path);
    g_pages.file_size = u64_max;
    if (!str_match(manifest_header, text, StrMatch_Prefix)) return;
    StrList lines = str_split(arena, str_skip(text, manifest_header.size), str_lit("\n"), 0);
    // A last line with no end is an append cut short: not believed, and the
    // file is written whole before anything is added to it.
    bool whole = text.str[text.size - 1] == '\n';
    for (StrNode *n = lines.first; n; n = n->next) {
        if (!n->next && !whole) break;
        Str line = n->string;
        u64 space = str_find_byte(line, ' ', 0);
        u64 tab = str_find_byte(line, '\t', space);
        if (space != 16 || tab >= line.size) continue;
        u64 hash = u64_from_str(str_prefix(line, 16), 16);
        Str page = str_skip(line, tab + 1);
        Str owner = str_substr(line, 17, tab);
        if (!line_is_clean(page)) continue;
        bool moved = manifest_set(page, owner, hash);
        OwnerEntry *held = moved && owner.size ? owner_entry(owner) : nullptr;
        ManifestEntry *e = held ? manifest_entry(page) : nullptr;
        if (e) str_list_push(g_pages.arena, &held->pages, e->page);
    }
    for (ManifestEntry *e = g_pages.dirty_first; e; e = e->next_dirty) e->dirty = 0;
    g_pages.dirty_first = nullptr;
    g_pages.manifest_written = g_pages.manifest_changes.load();
    if (whole) {
        g_pages.file_size = text.size;
        g_pages.file_lines = lines.node_count;
    }
}

static u64 manifest_line_size(const ManifestEntry *e) { return 16 + 1 + e->owner.size + 1 + e->page.size + 1; }

static bool manifest_line_fits(const ManifestEntry *e) { return line_is_clean(e->page) && line_is_clean(e->owner); }

static u64 manifest_line_put(u8 *out, const ManifestEntry *e)
{
    u64 at = 0;
    for (int i = 15; i >= 0; i -= 1) out[at + i] = (u8)"0123456789abcdef"[(e->hash >> (4 * (15 - i))) & 15];
    at += 16;
    out[at++] = ' ';
    memcpy(out + at, e->owner.str, e->owner.size);
    at += e->owner.size;
    out[at++] = '\t';
    memcpy(out + at, e->page.str, e->page.size);
    at += e->page.size;
    out[at++] = '\n';
    return at;
}

void site_pages_flush(ManifestFlush how)
{
    if (!g_pages.ready) return;
    cs_enter(g_pages.flush_lock);
    u64 changes = g_pages.manifest_changes.load();
    cs_enter(g_pages.lock);
    u64 dirty = 0;
    for (ManifestEntry *e = g_pages.dirty_first; e; e = e->next_dirty) dirty += 1;
    u64 lines = g_pages.file_lines + dirty;
    bool compact = how == ManifestFlush_Whole && lines > g_pages.entries;
    if (changes == g_pages.manifest_written && !compact && !g_pages.file_stale) {
        cs_leave(g_pages.lock);
        cs_leave(g_pages.flush_lock);
        return;
    }
    // Written whole when nothing is known of the file (none at the start, or
    // its last line cut short), an append failed, or old lines pile up.
    bool whole = compact || g_pages.file_stale || g_pages.file_size == u64_max || lines > 2 * g_pages.entries + 64;
    // One buffer, measured first, and no lookups: the whole list of live
    // pages, or the lines of what changed.
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    u64 size = whole ? manifest_header.size : 0;
    if (whole) {
        for (ManifestEntry *e = g_pages.manifest_first; e; e = e->next)
            if (e->owner.size) size += manifest_line_size(e);
    } else {
        for (ManifestEntry *e = g_pages.dirty_first; e; e = e->next_dirty) size += manifest_line_size(e);
    }
    u8 *out = (u8 *)arena_push(scratch.arena, size, 1);
    if (!out) {
        // No memory now: an empty manifest would forget every page; the
        // next flush tries again.
        cs_leave(g_pages.lock);
        cs_leave(g_pages.flush_lock);
        scratch_end(scratch);
        return;
    }
    u64 at = 0;
    u64 written_lines = 0;
    if (whole) {
        memcpy(out, manifest_header.str, manifest_header.size);
        at = manifest_header.size;
        for (ManifestEntry *e = g_pages.manifest_first; e; e = e->next)
            if (e->owner.size && manifest_line_fits(e)) at += manifest_line_put(out + at, e), written_lines += 1;
    } else {
        for (ManifestEntry *e = g_pages.dirty_first; e; e = e->next_dirty)
            if (manifest_line_fits(e)) at += manifest_line_put(out + at, e), written_lines += 1;
    }
    for (ManifestEntry *e = g_pages.dirty_first; e; e = e->next_dirty) e->dirty = 0;
    g_pages.dirty_first = nullptr;
    g_pages.manifest_written = changes;
    cs_leave(g_pages.lock);

    Str bytes = Str{(const char *)out, at};
    if (!whole && file_append_at(g_pages.manifest_path, bytes, g_pages.file_size)) {
        g_pages.file_size += bytes.size;
        g_pages.file_lines += written_lines;
        g_pages.manifest_writes.fetch_add(1);
    } else if (!whole) {
        // Changed by someone else, or the append broke off: written whole
        // now, with no change since.
        g_pages.file_size = u64_max;
        g_pages.file_stale = 1;
    } else {
        FileReplaceResult result = file_replace(scratch.arena, g_pages.manifest_path, bytes);
        if (result.status == FileReplace_Written) g_pages.manifest_writes.fetch_add(1);
        bool failed = result.status == FileReplace_Failed;
        g_pages.file_size = failed ? u64_max : bytes.size;
        g_pages.file_lines = written_lines;
        // A failed write is tried again at the next change, whole.
        g_pages.file_stale = 0;
    }
    bool again = g_pages.file_stale && !whole;
    cs_leave(g_pages.flush_lock);
    scratch_end(scratch);
    if (again) site_pages_flush(ManifestFlush_Whole);
}

// Removes a page wyn wrote for `owner`, when its bytes are still the ones
// wyn wrote. The lock is held; a warning goes to `warnings`.
static void page_remove(Arena *arena, Str page, Str owner, DiagnosticList *warnings)
{
    ManifestEntry *e = manifest_entry(page);
    if (!e || !str_eq(e->owner, owner)) return;   // not ours, or taken over by another document
    ArenaTemp scratch = scratch_begin(arena);
    Str bytes = file_read_all(scratch.arena, page);
    bool present = file_exists(page);
    bool same = present && (page_bytes_hash(bytes) == e->hash || page_bytes_hash_earlier(bytes) == e->hash);
    scratch_end(scratch);
    if (!present || (same && file_delete(page))) {
        if (present) g_pages.removed.fetch_add(1);
        manifest_touch(e, str_empty());
        e->owner = str_empty();
        return;
    }
    Str text = same ? str_pushf(arena, "%S is no longer produced by %S, but it could not be removed", page, owner)
                    : str_pushf(arena, "%S is no longer produced by %S, but it was changed since wyn wrote it; it is left in place",
                                page, owner);
    diag_push_at(arena, warnings, nullptr, 0, DiagLevel_Warning, text);
    // Warned once: the file is the author's now.
    manifest_touch(e, str_empty());
    e->owner = str_empty();
}

//- leftovers

bool site_page_is_leftover(Str name)
{
    // ".<name>.wyn-tmp.<process>.<count>", as file_replace names them.
    Str marker = str_lit(".wyn-tmp.");
    if (name.size < 2 || name.str[0] != '.') return false;
    u64 at = str_find(name, marker, 1, 0);
    if (at >= name.size || at < 2) return false;
    Str numbers = str_skip(name, at + marker.size);
    u64 dot = str_find_byte(numbers, '.', 0);
    if (dot == 0 || dot + 1 >= numbers.size) return false;
    for (u64 i = 0; i < numbers.size; i += 1)
        if (i != dot && !char_is_digit((u8)numbers.str[i])) return false;
    return true;
}

// A run killed between writing a page's temporary file and renaming it
// leaves the file behind, and nothing else would ever remove it. Only names
// of wyn's own pattern go: whatever else lies in the folder is the author's.
static void leftovers_remove(Str html_folder)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    StrList files = {};
    site_list_files(scratch.arena, &files, html_folder);
    for (StrNode *n = files.first; n; n = n->next)
        if (site_page_is_leftover(path_file_name(n->string)) && file_delete(n->string)) g_pages.leftovers.fetch_add(1);
    scratch_end(scratch);
}

//- setup

void site_shell_messages_print(const DiagPrintSettings *print, const ShellMessages *messages)
{
    if (messages->log.count) diag_print_log(print, &messages->log);
    for (TemplateMessages *t = messages->first; t; t = t->next)
        diag_print_template(print, &t->diagnostics, t->path, t->source);
}

void site_pages_setup(const SitePagesConfig *config)
{
    SitePages *p = &g_pages;
    p->arena = arena_alloc(GiB(1), MiB(1));
    p->lock = cs_alloc();
    p->flush_lock = cs_alloc();
    p->image_lock = cs_alloc();
    p->shell = config->shell;
    p->print = config->print;
    Str local = p->local_folder = str_copy(p->arena, config->local_folder);
    ArenaTemp scratch = scratch_begin(nullptr, 0);

    p->claims = str_map_alloc(p->arena, 16384);
    p->manifest = str_map_alloc(p->arena, 65536);
    p->owners = str_map_alloc(p->arena, 16384);
    p->manifest_path = str_pushf(p->arena, "%Shtml/%S", local, manifest_name);
    leftovers_remove(str_pushf(scratch.arena, "%Shtml/", local));
    manifest_load(scratch.arena);

    // The generated index owns the site's home page, whoever else names it.
    PageClaim *home = push_struct<PageClaim>(p->arena);
    home->owner = str_pushf(p->arena, "%Swyn_files/index.wyn", local);
    str_map_insert(p->arena, &p->claims, str_pushf(scratch.arena, "%Shtml/index.html", local), (u64)home);

    // Pages of documents whose sources went away while wyn was not running.
    DiagnosticList warnings = {};
    for (ManifestEntry *e = p->manifest_first; e; e = e->next) {
        if (!e->owner.size || is_index_document(local, e->owner) || str_eq(e->owner, site_output_owner) ||
            file_exists(e->owner))
            continue;
        page_remove(scratch.arena, e->page, e->owner, &warnings);
    }
    diag_print_log(&p->print, &warnings);
    p->ready = 1;
    scratch_end(scratch);
    site_pages_flush(ManifestFlush_Append);
}

//- one document


static OwnerEntry *owner_entry(Str owner)
{
    StrMapNode *n = str_map_lookup(&g_pages.owners, owner);
    if (n) return (OwnerEntry *)n->value;
    OwnerEntry *e = push_struct<OwnerEntry>(g_pages.arena);
    StrMapNode *node = e ? str_map_insert(g_pages.arena, &g_pages.owners, owner, (u64)e) : nullptr;
    if (e) e->name = node ? node->key : str_copy(g_pages.arena, owner);
    return e;
}

static bool list_has(const StrList *list, Str s)
{
    for (StrNode *n = list->first; n; n = n->next)
        if (str_eq(n->string, s)) return true;
    return false;
}

static bool lists_equal(const StrList *a, const StrList *b)
{
    if (a->node_count != b->node_count) return false;
    StrNode *x = a->first, *y = b->first;
    for (; x && y; x = x->next, y = y->next)
        if (!str_eq(x->string, y->string)) return false;
    return true;
}

static StrList list_copy(Arena *arena, const StrList *from)
{
    StrList to = {};
    for (StrNode *n = from->first; n; n = n->next) str_list_push(arena, &to, str_copy(arena, n->string));
    return to;
}

// The lock is held. A document that takes an output path takes the pages
// wyn wrote for it too, before it writes them: the one who held them may
// be giving them up on another worker at this moment (a source renamed,
// an output path moved), and would otherwise remove what the new owner has
// just written when the bytes are the same, as a raw page's are. The hash
// stays the one of the bytes on disk until the new owner writes.
// The four pages an output path stands for: its desktop page, the
// smartphone page beside it, and the raw page of each.
struct PathPages {
    Str at[4];
};

static PathPages path_pages(Arena *arena, Str path)
{
    Str smartphone = page_smartphone_path(arena, path);
    return PathPages{{path, page_raw_path(arena, path), smartphone, page_raw_path(arena, smartphone)}};
}

static void pages_take_over(Arena *arena, Str path, Str owner)
{
    for (Str page : path_pages(arena, path).at) {
        ManifestEntry *e = manifest_entry(page);
        if (e && e->owner.size && !str_eq(e->owner, owner)) manifest_set(page, owner, e->hash);
    }
}

// A warning for another document, at its output_path line, printed with
// its own source.
static void warn_other(Arena *arena, Str owner, u64 offset, Str text)
{
    DiagnosticList list = {};
    diag_push_at(arena, &list, nullptr, offset, DiagLevel_Warning, text);
    FsContent file = fs_read(owner, now_us() + 1000000);
    Str source = file.file.loaded ? markup_source_text(file.bytes) : str_empty();
    diag_print_document(&g_pages.print, &list, owner, source);
    fs_read_done(&file);
}

static bool contender_first(u64 order, Str source, u64 other_order, Str other_source)
{
    return order < other_order || (order == other_order && str_less(source, other_source));
}

// The lock is held. Names `source` among the contenders of a path.
static void contender_note(PageClaim *claim, Str source, u64 order, u64 line)
{
    Contender *c = claim->contenders;
    while (c && !str_eq(c->source, source)) c = c->next;
    if (!c) {
        c = g_pages.free_contenders;
        if (c) g_pages.free_contenders = c->next;
        else c = push_struct<Contender>(g_pages.arena);
        if (!c) return;
        c->source = str_copy(g_pages.arena, source);
        c->next = claim->contenders;
        claim->contenders = c;
    }
    c->order = order;
    c->line_offset = line;
}

// The lock is held. `source` no longer names the path; when it held it,
// the first of the others holds it now, and its source is returned, to be
// built again (on `arena`): its pages were never written there.
static Str contender_leave(Arena *arena, PageClaim *claim, Str source)
{
    Contender **at = &claim->contenders;
    while (*at && !str_eq((*at)->source, source)) at = &(*at)->next;
    if (*at) {
        Contender *gone = *at;
        *at = gone->next;
        gone->next = g_pages.free_contenders;
        g_pages.free_contenders = gone;
    }
    if (!str_eq(claim->owner, source)) return str_empty();
    Contender *best = nullptr;
    for (Contender *c = claim->contenders; c; c = c->next)
        if (!best || contender_first(c->order, c->source, best->order, best->source)) best = c;
    if (!best) {
        claim->owner = str_empty();
        return str_empty();
    }
    claim->owner = best->source;
    claim->order = best->order;
    claim->line_offset = best->line_offset;
    return str_copy(arena, best->source);
}

//- a large document's pages on two workers

// The pictures' sizes go through the document's read log, which one
// thread writes at a time.
struct LockedImageInfo {
    CriticalSection *lock;
    RenderImageInfo *info;
    void *user;
};

static JpegInfo image_info_locked(void *user, Arena *arena, Str path)
{
    LockedImageInfo *locked = (LockedImageInfo *)user;
    cs_enter(locked->lock);
    JpegInfo info = locked->info(locked->user, arena, path);
    cs_leave(locked->lock);
    return info;
}

// One kind of page of a document, with everything it reports kept apart
// until both kinds are written.
struct PageHalf {
    Arena *arena;   // the half's own: whichever worker runs it, what it keeps is here
    const PageSite *site;
    const PageDocument *document;
    const StrList *outputs;
    const PageVariant *variant;
    ShellMessages messages;
    DiagnosticList warnings;
    PageWriteReport report;
};

static void page_half_run(void *user, Arena *)
{
    PageHalf *half = (PageHalf *)user;
    PageSite site = *half->site;
    site.messages = &half->messages;
    pages_write(half->arena, &site, half->document, half->outputs, half->variant, &half->warnings, &half->report);
}

// What the second half reported, after the first's.
static void page_half_join(ShellMessages *messages, DiagnosticList *warnings, PageWriteReport *report, PageHalf *half)
{
    messages->log.count += half->messages.log.count;
    messages->log.max_level = max_of(messages->log.max_level, half->messages.log.max_level);
    list_join(&messages->log, &half->messages.log);
    messages->template_count += half->messages.template_count;
    list_join(messages, &half->messages);
    warnings->count += half->warnings.count;
    warnings->max_level = max_of(warnings->max_level, half->warnings.max_level);
    list_join(warnings, &half->warnings);
    report->written += half->report.written;
    report->unchanged += half->report.unchanged;
    report->failed += half->report.failed;
    report->bytes_written += half->report.bytes_written;
    list_join(report, &half->report);
}

// Both kinds of pages: on two workers when the document is large enough
// to be worth a wake-up and its pages' highlighting done twice, else one
// after the other. Returns the arena the smartphone half reported on, to
// be released once what it reported is used (null: none).
static Arena *pages_write_both(Arena *arena, PageSite *site, const SitePageJob *job, const StrList *accepted,
                               DiagnosticList *warnings, PageWriteReport *report)
{
    SitePages *p = &g_pages;
    const PageDocument *document = &job->document;
    const PageVariant *desktop = shell_variant(p->shell, PageVariant_Desktop);
    const PageVariant *smartphone = shell_variant(p->shell, PageVariant_Smartphone);
    Arena *half_arena = nullptr;
    if (job->share && page_share_wanted(p->local_folder, document->source_path, document->source_text))
        half_arena = arena_alloc(MiB(64), KiB(64));
    if (!half_arena) {
        const PageVariant *kinds[2] = {desktop, smartphone};
        pages_write_kinds(arena, site, document, accepted, kinds, 2, warnings, report);
        return nullptr;
    }
    RenderOptions render = *site->render;
    LockedImageInfo locked = {p->image_lock, render.image_info, render.image_info_user};
    if (render.image_info) {
        render.image_info = image_info_locked;
        render.image_info_user = &locked;
    }
    site->render = &render;
    PageHalf half = {};
    half.arena = half_arena;
    half.site = site;
    half.document = document;
    half.outputs = accepted;
    half.variant = smartphone;
    SharedTask task = {};
    task.run = page_half_run;
    task.user = &half;
    bool offered = work_share_offer(job->share, &task);
    pages_write(arena, site, document, accepted, desktop, warnings, report);
    if (offered) work_share_finish(job->share, &task, arena);
    else page_half_run(&half, arena);
    page_half_join(site->messages, warnings, report, &half);
    site->render = job->render;
    return half_arena;
}

SitePageResult site_pages_document(Arena *arena, const SitePageJob *job)
{
    SitePageResult result = {};
    SitePages *p = &g_pages;
    if (!p->ready) return result;
    Str local = p->local_folder;
    const PageDocument *page_document = &job->document;
    const ParsedDocument *doc = page_document->parsed;
    Str owner = page_document->source_path;
    Str source_text = page_document->source_text;
    bool quiet = p->print.silent;
    bool published = !header_status_hides(doc->status);
    // The index is first of all; the others by their bucket, and by path
    // within a bucket (the index document lists them so too). Never by when
    // a record was made: a watch that saw a source come late must give a
    // page to the document a fresh build gives it to.
    u64 order = is_index_document(local, owner) ? 0 : job->bucket + 1;
    DiagnosticList warnings = {};

    // Which output paths this build may write.
    StrList accepted = {};
    StrList named = {};
    if (published) {
        for (StrNode *n = doc->output_paths.first; n; n = n->next) {
            if (!page_output_is_html(n->string)) continue;
            Str reason;
            Str path = output_path_resolve(arena, local, n->string, &reason);
            u64 line = output_line_offset(doc, source_text, n->string);
            if (!path.size) {
                Str text = str_pushf(arena, "output path %S is refused: %S; nothing is written for it", n->string, reason);
                diag_push_at(arena, &warnings, nullptr, line, DiagLevel_Warning, text);
                result.warning_count += 1;
                continue;
            }
            if (list_has(&named, path)) continue;
            str_list_push(arena, &named, path);
            cs_enter(p->lock);
            StrMapNode *found = str_map_lookup(&p->claims, path);
            PageClaim *claim = found ? (PageClaim *)found->value : nullptr;
            bool mine = true;
            Str other = str_empty();
            u64 other_line = 0;
            // A holder whose source is gone was renamed or deleted, and the
            // build that gives its paths up has not come yet: it is no
            // contender, so a renamed document takes its page over without a
            // word.
            if (!claim) {
                claim = push_struct<PageClaim>(p->arena);
                if (claim) str_map_insert(p->arena, &p->claims, path, (u64)claim);
            } else if (claim->owner.size && !str_eq(claim->owner, owner) && file_exists(claim->owner)) {
                other = str_copy(arena, claim->owner);
                other_line = claim->line_offset;
                mine = contender_first(order, owner, claim->order, claim->owner);
            }
            if (claim) contender_note(claim, owner, order, line);
            if (claim && mine) {
                if (!str_eq(claim->owner, owner)) claim->owner = str_copy(p->arena, owner);
                claim->order = order;
                claim->line_offset = line;
                pages_take_over(arena, path, owner);
            }
            cs_leave(p->lock);
            if (other.size) {
                Str keeper = mine ? owner : other;
                Str text = str_pushf(arena, "output path %S is named by %S and %S; the page belongs to %S, the first in the document table",
                                     path, owner, other, keeper);
                diag_push_at(arena, &warnings, nullptr, line, DiagLevel_Warning, text);
                result.warning_count += 1;
                if (!quiet) warn_other(arena, other, other_line, text);
            }
            if (mine) str_list_push(arena, &accepted, path);
        }
    }

    // The pages: desktop and smartphone, each followed by its raw page.
    PageWriteReport report = {};
    Arena *half_arena = nullptr;
    if (accepted.node_count) {
        ShellMessages messages = {};
        PageSite site = {};
        site.shell = p->shell;
        site.render = job->render;
        site.messages = &messages;
        half_arena = pages_write_both(arena, &site, job, &accepted, &warnings, &report);
        site_shell_messages_print(&p->print, &messages);
        p->written.fetch_add(report.written);
        p->unchanged.fetch_add(report.unchanged);
        p->failed.fetch_add(report.failed);
        p->bytes.fetch_add(report.bytes_written);
    }

    // The manifest and what this document gave up.
    cs_enter(p->lock);
    // A path another document took while this one wrote: its bytes may
    // have reached the disk after the keeper's. The keeper writes its page
    // again (same bytes are left alone), and these pages are not this
    // document's.
    StrList lost = {};
    for (StrNode *n = accepted.first; n; n = n->next) {
        StrMapNode *found = str_map_lookup(&p->claims, n->string);
        PageClaim *claim = found ? (PageClaim *)found->value : nullptr;
        if (!claim || !claim->owner.size || str_eq(claim->owner, owner)) continue;
        for (Str page : path_pages(arena, n->string).at) str_list_push(arena, &lost, page);
        if (!list_has(&result.rebuild, claim->owner)) str_list_push(arena, &result.rebuild, str_copy(arena, claim->owner));
    }
    StrList pages = {};
    for (PageWritten *w = report.first; w; w = w->next) {
        if (lost.node_count && list_has(&lost, w->path)) continue;
        str_list_push(arena, &pages, w->path);
        if (w->status != FileReplace_Failed) manifest_set(w->path, owner, w->hash);
    }
    OwnerEntry *held = owner_entry(owner);
    if (held) {
        // Paths it names no more: whoever is next among their contenders
        // takes them.
        for (StrNode *n = held->named.first; n; n = n->next) {
            if (list_has(&named, n->string)) continue;
            StrMapNode *found = str_map_lookup(&p->claims, n->string);
            PageClaim *claim = found ? (PageClaim *)found->value : nullptr;
            Str next = claim ? contender_leave(arena, claim, owner) : str_empty();
            if (next.size) str_list_push(arena, &result.rebuild, next);
        }
        if (!lists_equal(&held->named, &named)) held->named = list_copy(p->arena, &named);
        if (!lists_equal(&held->claims, &accepted)) held->claims = list_copy(p->arena, &accepted);
    }
    // Pages this document produced before (in this run, or in an earlier
    // one by the manifest) and produces no more.
    StrList gone = {};
    if (held)
        for (StrNode *n = held->pages.first; n; n = n->next)
            if (!list_has(&pages, n->string)) str_list_push(arena, &gone, n->string);
    for (StrNode *n = gone.first; n; n = n->next) page_remove(arena, n->string, owner, &warnings);
    if (held && !lists_equal(&held->pages, &pages)) {
        // The manifest's own copies of the paths where it has them.
        held->pages = StrList{};
        for (StrNode *n = pages.first; n; n = n->next) {
            ManifestEntry *e = manifest_entry(n->string);
            str_list_push(p->arena, &held->pages, e ? e->page : str_copy(p->arena, n->string));
        }
    }
    cs_leave(p->lock);

    diag_print_document(&p->print, &warnings, owner, source_text);
    if (half_arena) arena_release(half_arena);
    return result;
}

u64 site_pages_manifest_changes(void) { return g_pages.manifest_changes.load(); }

//- site-wide files

void site_pages_note_output(Str path, Str bytes)
{
    if (!g_pages.ready) return;
    u64 hash = page_bytes_hash(bytes);
    cs_enter(g_pages.lock);
    manifest_set(path, site_output_owner, hash);
    cs_leave(g_pages.lock);
}

void site_pages_drop_output(Str path)
{
    if (!g_pages.ready) return;
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    DiagnosticList warnings = {};
    cs_enter(g_pages.lock);
    page_remove(scratch.arena, path, site_output_owner, &warnings);
    cs_leave(g_pages.lock);
    diag_print_log(&g_pages.print, &warnings);
    scratch_end(scratch);
}

SitePagesCounts site_pages_counts(void)
{
    SitePagesCounts c = {};
    c.pages_written = g_pages.written.load();
    c.pages_unchanged = g_pages.unchanged.load();
    c.pages_failed = g_pages.failed.load();
    c.pages_removed = g_pages.removed.load();
    c.bytes_written = g_pages.bytes.load();
    c.manifest_writes = g_pages.manifest_writes.load();
    c.leftovers_removed = g_pages.leftovers.load();
    return c;
}
