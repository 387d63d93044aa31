// site/site_outputs.cpp: the shell's outputs, the index document and the
// page manifest.
#include "site/site_outputs.h"

#include "markup/markup_write.h"
#include "markup/parser.h"
#include "markup/paths.h"
#include "os/file_replace.h"
#include "shell/page_build.h"
#include "site/feed.h"
#include "site/output_paths.h"
#include "site/pages.h"

#include <algorithm>
#include <atomic>

const Str index_document_marker = str_lit("// This file is written by wyn: it lists every published document. Edits are overwritten.");

namespace {
struct SiteOutputs {
    Shell *shell;
    DiagPrintSettings print;
    ThreadRecord *manifest_writer;
    b32 index_hand_written_warned;   // the detector's thread only
    b32 index_kept_warned;           // the detector's thread only
    std::atomic<u64> index_writes, index_failures, index_made;
    u64 menu_links_told;             // the detector's thread only: a hash of the broken menu links last told
    u64 menu_link_warnings;          // the detector's thread only: how many there are now
    b32 feed_written;                // the detector's thread only, as the two below
    u64 feed_changes_written;        // the build's feed_changes when the feed was last written
};
SiteOutputs g_outputs;
} // namespace

//- the shell

Shell *site_outputs_start(const SiteOutputsConfig *config)
{
    SiteOutputs *o = &g_outputs;
    o->print = config->print;
    if (!config->no_shell) {
        ShellSettings settings = {};
        settings.local_folder = config->local_folder;
        settings.js = config->js;
        settings.deploy = config->deploy;
        settings.web_path = site_relative_path;
        settings.on_write = config->on_write;
        o->shell = shell_create(&settings);
        ArenaTemp scratch = scratch_begin(nullptr, 0);
        ShellMessages messages = {};
        if (o->shell) shell_setup(o->shell, scratch.arena, &messages);
        site_shell_messages_print(&o->print, &messages);
        scratch_end(scratch);
    }
    return o->shell;
}

bool site_outputs_refresh(void)
{
    SiteOutputs *o = &g_outputs;
    if (!o->shell) return false;
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    ShellMessages messages = {};
    u32 regenerated = shell_refresh(o->shell, scratch.arena, &messages);
    site_shell_messages_print(&o->print, &messages);
    scratch_end(scratch);
    return regenerated > 0;
}

//- the index document

Str site_index_path(Arena *arena, const SiteBuild *build)
{
    return str_pushf(arena, "%Swyn_files/index.wyn", build->site.layout.local_folder);
}



static MarkupNode *element(Arena *arena, u32 kind, u8 number)
{
    Str name = markup_kind_table[kind].name;
    MarkupNode *n = node_new(arena, NodeClass_Element, 0, name, name, 0);
    n->number = number;
    return n;
}

static MarkupNode *text_node(Arena *arena, Str text, u64 flags = 0)
{
    return node_new(arena, NodeClass_Text, flags, text, text, 0);
}

static void header_add(Arena *arena, MarkupNode *context, Str key, MarkupNode *value)
{
    MarkupNode *field = node_new(arena, NodeClass_HeaderField, 0, key, key, 0);
    const HeaderFieldInfo *row = header_field_lookup(key);
    if (row) {
        HeaderFieldInfo *copy = push_struct<HeaderFieldInfo>(arena);
        if (copy) *copy = *row;
        field->field = copy;
    }
    node_append_child(field, value);
    node_append_child(context, field);
}

MarkupNode *index_document_tree(Arena *arena, const IndexEntry *entries, u64 count, Str creation_date)
{
    MarkupNode *root = node_new(arena, NodeClass_Document, 0, str_empty(), str_empty(), 0);
    MarkupNode *context = element(arena, MarkupKind_ContextDocument, 0);
    node_append_child(root, context);
    header_add(arena, context, str_lit("title"), text_node(arena, str_lit("Home page")));
    header_add(arena, context, str_lit("creation_date"), text_node(arena, creation_date));
    // A site path, resolved below the local folder when the index is parsed:
    // the written index does not change with the folder the site lives in,
    // so the same site gives the same pages wherever it is built.
    header_add(arena, context, str_lit("output_path"),
               text_node(arena, str_lit("\"/html/index.html\""), NodeFlag_DoubleQuoted | NodeFlag_ClosedString));
    header_add(arena, context, str_lit("toc"), text_node(arena, str_lit("none")));

    // The list sits right under the heading: that is the tree the parser
    // makes of an item line below a heading line (an empty paragraph has no
    // line of its own to be written on).
    MarkupNode *heading = element(arena, MarkupKind_Heading, 2);
    node_append_child(heading, text_node(arena, str_lit("Complete file list")));
    node_append_child(root, heading);
    MarkupNode *list = element(arena, MarkupKind_ListUnordered, 0);
    for (u64 i = 0; i < count; i += 1) {
        Str web = entries[i].path;
        Str title = entries[i].title;
        MarkupNode *item = element(arena, MarkupKind_ListItem, 0);
        // A quoted string ends at a backtick or its own quote: a path that
        // holds one could not be read back as the link it was written as.
        bool linkable = is_file_link_text(web) && str_find_byte(web, '`', 0) == web.size &&
                        str_find_byte(web, '"', 0) == web.size;
        if (linkable) {
            MarkupNode *link = element(arena, MarkupKind_LinkFile, 0);
            node_append_child(link, text_node(arena, str_copy(arena, web), NodeFlag_DoubleQuoted | NodeFlag_ClosedString));
            MarkupNode *desc = element(arena, MarkupKind_Desc, 0);
            node_append_child(desc, text_node(arena, str_copy(arena, title)));
            node_append_child(link, desc);
            node_append_child(item, link);
        } else {
            // A quoted path with a blank (or a backtick) is never a link:
            // the document is listed by name only.
            node_append_child(item, text_node(arena, str_copy(arena, title)));
        }
        node_append_child(list, item);
    }
    // An empty list has no line of its own: a site without documents gets
    // the heading alone.
    if (list->child_count) node_append_child(heading, list);
    return root;
}

// Which of two titles a reader looks for first: letters compared without
// regard to ASCII case, then the bytes as they are.
static bool title_before(Str a, Str b)
{
    for (u64 i = 0; i < a.size && i < b.size; i += 1) {
        u8 x = char_to_lower((u8)a.str[i]), y = char_to_lower((u8)b.str[i]);
        if (x != y) return x < y;
    }
    if (a.size != b.size) return a.size < b.size;
    return str_less(a, b);
}

MarkupNode *index_document_build(Arena *arena, SiteBuild *build)
{
    Str local = build->site.layout.local_folder;
    // A home page reads as a personal site's does: the newest documents
    // first by their creation date, then those without a date by title; the
    // path settles the rest. Never the order records were made in: a watch
    // that saw sources come and go and a fresh build of the same sources
    // must write the same index.
    struct Listed {
        IndexEntry entry;
        u64 day;   // year, month, day packed; 0: no date that names a day
    };
    ArenaTemp scratch = scratch_begin(&arena, 1);
    u64 total = atomic_load_u64(&build->record_count) + document_bucket_count;
    Listed *listed = push_array<Listed>(scratch.arena, total);
    u64 listed_count = 0;
    for (u64 b = 0; b < document_bucket_count && listed; b += 1) {
        TableStripe *stripe = striped_stripe_of(&build->documents, b);
        srw_lock_shared(stripe->slim);
        for (DocumentRecord *r = build->buckets[b].first; r && listed_count < total; r = r->next) {
            DocumentSummary *s = r->summary;
            if (!s || !s->has_context_document || !s->published || is_index_document(local, r->path)) continue;
            Str title = s->title.size ? s->title : str_prefix(path_file_name(r->path), str_find_byte(path_file_name(r->path), '.', 0));
            DateTime date = {};
            u64 day = date_read_day(s->creation_date, &date) ? date_day_key(date) : 0;
            // The index is a document of its own: a title in bytes that are
            // not UTF-8 (told at its document) would be told again there.
            listed[listed_count++] = Listed{{str_copy(scratch.arena, r->path), utf8_repaired(scratch.arena, title)}, day};
        }
        srw_unlock_shared(stripe->slim);
    }
    std::sort(listed, listed + listed_count, [](const Listed &x, const Listed &y) {
        if (x.day != y.day) return x.day > y.day;
        if (!str_eq(x.entry.title, y.entry.title)) return title_before(x.entry.title, y.entry.title);
        return str_less(x.entry.path, y.entry.path);
    });
    IndexEntry *entries = push_array<IndexEntry>(scratch.arena, listed_count);
    for (u64 i = 0; i < listed_count && entries; i += 1)
        entries[i] = IndexEntry{site_relative_path(local, listed[i].entry.path), listed[i].entry.title};
    MarkupNode *root = index_document_tree(arena, entries, entries ? listed_count : 0, date_to_ymd(arena, date_now()));
    scratch_end(scratch);
    return root;
}

// The entries of an index: the items of its list (not of its table of
// contents, which the parser adds).
static u64 list_items(MarkupNode *root)
{
    u64 count = 0;
    for (MarkupNode *n = root; !node_is_nil(n); n = node_preorder_next(n, root))
        if (node_is_element(n, MarkupKind_ListItem) && !node_is_element(n->parent->parent, MarkupKind_Toc)) count += 1;
    return count;
}

// Whether `tree`, the index of the documents published now, lists none,
// while the one on disk (wyn's) lists some.
static bool index_would_empty(Arena *arena, MarkupNode *tree, Str existing)
{
    if (!existing.size) return false;
    if (list_items(tree) > 0) return false;
    ParsedDocument old = markup_parse(arena, markup_source_text(existing), nullptr);
    return list_items(old.root) > 0;
}

u32 site_outputs_write_index(SiteBuild *build, u64 *out_hash)
{
    SiteOutputs *o = &g_outputs;
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    Str path = site_index_path(scratch.arena, build);
    Str existing = file_read_all(scratch.arena, path);
    u32 result = IndexWrite_Unchanged;
    u64 hash = str_hash(existing);
    bool hand_written = existing.size && !str_match(index_document_marker, existing, StrMatch_Prefix);
    // An index of the author's that comes back after wyn's is said again.
    if (!hand_written) o->index_hand_written_warned = 0;
    MarkupNode *tree = hand_written ? nullptr : index_document_build(scratch.arena, build);
    if (tree) o->index_made.fetch_add(1);
    if (hand_written) {
        if (!o->index_hand_written_warned) {
            DiagnosticList list = {};
            Str text = str_pushf(scratch.arena, "%S was not written by wyn: it is left as it is and built as the site's index", path);
            diag_push_at(scratch.arena, &list, nullptr, 0, DiagLevel_Warning, text);
            diag_print_log(&o->print, &list);
        }
        o->index_hand_written_warned = 1;
        result = IndexWrite_HandWritten;
    } else if (index_would_empty(scratch.arena, tree, existing)) {
        // A site whose documents all went (deleted, or made drafts) more
        // likely lost them to a mistake than meant to: the index that
        // listed them stays, and the author hears of it once.
        if (!o->index_kept_warned) {
            DiagnosticList list = {};
            Str text = str_pushf(scratch.arena, "%S is kept: no document is published now, and it lists some", path);
            diag_push_at(scratch.arena, &list, nullptr, 0, DiagLevel_Warning, text);
            diag_print_log(&o->print, &list);
        }
        o->index_kept_warned = 1;
    } else {
        o->index_kept_warned = 0;
        Str body = markup_write(scratch.arena, tree);
        Str text = str_pushf(scratch.arena, "%S\n%S", index_document_marker, body);
        // The date line changes at midnight only: the bytes are the same on
        // every other pass, and an unchanged file is not touched.
        FileReplaceResult written = file_replace(scratch.arena, path, text);
        if (written.status == FileReplace_Failed) {
            DiagnosticList list = {};
            Str message = str_pushf(scratch.arena, "could not write %S: %S", path, written.reason);
            diag_push_at(scratch.arena, &list, nullptr, 0, DiagLevel_Warning, message);
            diag_print_log(&o->print, &list);
            o->index_failures.fetch_add(1);
            result = IndexWrite_Failed;
        } else {
            hash = str_hash(text);
            if (written.status == FileReplace_Written) {
                o->index_writes.fetch_add(1);
                result = IndexWrite_Written;
            }
        }
    }
    scratch_end(scratch);
    if (out_hash) *out_hash = hash;
    return result;
}

//- the manifest

// While pages are being written the manifest changes on every tick, and
// rewriting all of it each time (5 MB for 10,000 documents, every tenth of a
// second) wrote a third as many bytes again as the pages themselves. It is
// written once the changes pause for a tick, and every two seconds while
// they go on, so a build stopped half-way still leaves most of its record.
static void manifest_writer(u64 argument)
{
    (void)argument;
    thread_set_name("[WYN] Page manifest");
    const u64 busy_ticks = 20;
    u64 seen = site_pages_manifest_changes();
    u64 ticks_since_write = 0;
    for (;;) {
        sleep_ms(100);
        ticks_since_write += 1;
        u64 changes = site_pages_manifest_changes();
        bool settled = changes == seen;
        seen = changes;
        if (!settled && ticks_since_write < busy_ticks) continue;
        site_pages_flush(ManifestFlush_Append);
        ticks_since_write = 0;
    }
}

void site_outputs_start_manifest(void)
{
    SiteOutputs *o = &g_outputs;
    if (!o->manifest_writer) o->manifest_writer = thread_start(0, manifest_writer);
}

//- the feed and the site map

namespace {
// What the feed and the site map read of one published document, copied
// out of its summary.
struct PublishedDocument {
    Str path;
    Str title, author, summary, created, modified;
    StrList pages;   // its desktop pages, absolute, in header order
};
} // namespace

// The documents published now, in the index's order (by bucket, then by
// path): where two name one page, the first keeps it in the feed too.
static PublishedDocument *published_documents(Arena *arena, SiteBuild *build, u64 *out_count)
{
    Str local = build->site.layout.local_folder;
    u64 total = atomic_load_u64(&build->record_count) + document_bucket_count;
    PublishedDocument *listed = push_array<PublishedDocument>(arena, total);
    u64 count = 0;
    for (u64 b = 0; b < document_bucket_count && listed; b += 1) {
        TableStripe *stripe = striped_stripe_of(&build->documents, b);
        srw_lock_shared(stripe->slim);
        u64 first = count;
        for (DocumentRecord *r = build->buckets[b].first; r && count < total; r = r->next) {
            DocumentSummary *s = r->summary;
            if (!s || !s->has_context_document || !s->published) continue;
            PublishedDocument *d = &listed[count++];
            d->path = str_copy(arena, r->path);
            d->title = str_copy(arena, s->title);
            d->author = str_copy(arena, s->author);
            d->summary = str_copy(arena, s->feed_summary);
            d->created = str_copy(arena, s->creation_date);
            d->modified = str_copy(arena, s->last_modification_date);
            for (u64 i = 0; i < s->output_path_count; i += 1)
                str_list_push(arena, &d->pages, str_copy(arena, s->output_paths[i]));
        }
        srw_unlock_shared(stripe->slim);
        std::sort(listed + first, listed + count,
                  [](const PublishedDocument &x, const PublishedDocument &y) { return str_less(x.path, y.path); });
    }
    // Only pages wyn writes are listed: an html output path it accepts.
    for (u64 i = 0; i < count; i += 1) {
        StrList pages = {};
        for (StrNode *n = listed[i].pages.first; n; n = n->next) {
            Str reason;
            Str page = page_output_is_html(n->string) ? output_path_resolve(arena, local, n->string, &reason) : str_empty();
            if (page.size) str_list_push(arena, &pages, page);
        }
        listed[i].pages = pages;
    }
    *out_count = count;
    return listed;
}

static void site_file_write(Arena *arena, Str path, Str bytes)
{
    FileReplaceResult written = file_replace(arena, path, bytes);
    if (written.status != FileReplace_Failed) {
        site_pages_note_output(path, bytes);
        return;
    }
    DiagnosticList list = {};
    diag_push_at(arena, &list, nullptr, 0, DiagLevel_Warning, str_pushf(arena, "could not write %S: %S", path, written.reason));
    diag_print_log(&g_outputs.print, &list);
}

// With site_url, html/feed.xml and html/sitemap.xml of the documents
// published now, written when their bytes change; without it, the ones an
// earlier run wrote are removed through the manifest.
static void site_feed_and_map_write(SiteBuild *build)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    Str local = build->site.layout.local_folder;
    Str site_url = build->site.site_url;
    Str feed_path = str_pushf(scratch.arena, "%Shtml/feed.xml", local);
    Str map_path = str_pushf(scratch.arena, "%Shtml/sitemap.xml", local);
    if (!site_url.size) {
        site_pages_drop_output(feed_path);
        site_pages_drop_output(map_path);
        scratch_end(scratch);
        return;
    }
    // Every document is walked for them: only after a change they show.
    u64 changes = atomic_load_u64(&build->feed_changes);
    if (g_outputs.feed_written && changes == g_outputs.feed_changes_written) {
        scratch_end(scratch);
        return;
    }
    g_outputs.feed_written = 1;
    g_outputs.feed_changes_written = changes;
    u64 count = 0;
    PublishedDocument *documents = published_documents(scratch.arena, build, &count);
    FeedEntry *entries = push_array<FeedEntry>(scratch.arena, count + 1);
    u64 entry_count = 0;
    u64 page_count = 0;
    for (u64 i = 0; i < count; i += 1) page_count += documents[i].pages.node_count;
    SitemapEntry *pages = push_array<SitemapEntry>(scratch.arena, page_count + 1);
    page_count = 0;
    StrMap in_feed = str_map_alloc(scratch.arena, 1024);
    for (u64 i = 0; i < count && entries && pages; i += 1) {
        PublishedDocument *d = &documents[i];
        DateTime created = {}, modified = {};
        bool dated = feed_dates_read(d->created, d->modified, &created, &modified);
        for (StrNode *n = d->pages.first; n; n = n->next) {
            Str url = site_page_url(scratch.arena, site_url, site_relative_path(local, n->string));
            pages[page_count++] = SitemapEntry{url, modified};
            // A document is one entry, at its first page; the site's own
            // index is no article, and a document without a creation date
            // has no place in a list by date.
            if (n != d->pages.first || !dated || is_index_document(local, d->path) || str_map_lookup(&in_feed, url)) continue;
            str_map_insert(scratch.arena, &in_feed, url, 1);
            entries[entry_count++] = FeedEntry{url, d->title, d->author, d->summary, created, modified};
        }
    }
    site_file_write(scratch.arena, feed_path, feed_atom(scratch.arena, site_url, entries, entry_count, date_now()));
    // A site map must list one page at least; a site without pages has none.
    if (page_count) site_file_write(scratch.arena, map_path, sitemap_xml(scratch.arena, pages, page_count));
    else site_pages_drop_output(map_path);
    scratch_end(scratch);
}

//- quiet

// A menu link to a page no document writes (its output path renamed, or
// mistyped) is broken on every page. Told when the site is quiet, since the
// pages are all there then, and only when what is broken changed.
static void menu_links_tell(void)
{
    SiteOutputs *o = &g_outputs;
    const ShellSettings *settings = &o->shell->settings;
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    Str paths[2], texts[2];
    DiagnosticList lists[2] = {};
    u64 hash = 0;
    for (u32 i = 0; i < 2; i += 1) {
        u32 kind = i == 0 ? PageVariant_Desktop : PageVariant_Smartphone;
        paths[i] = shell_menu_template_path(scratch.arena, settings, kind);
        texts[i] = file_read_all(scratch.arena, paths[i]);
        menu_links_check(scratch.arena, settings, texts[i], paths[i], &lists[i]);
        for (Diagnostic *d = lists[i].first; d; d = d->next) hash = hash * 1099511628211ull ^ str_hash(d->text) ^ d->offset;
    }
    o->menu_link_warnings = lists[0].count + lists[1].count;
    if (hash != o->menu_links_told) {
        for (u32 i = 0; i < 2; i += 1) diag_print_template(&o->print, &lists[i], paths[i], texts[i]);
        o->menu_links_told = hash;
    }
    scratch_end(scratch);
}

void site_outputs_quiet(void)
{
    // Tests of the document table alone write nothing.
    SiteBuild *build = site_build();
    if (g_outputs.shell && build) site_feed_and_map_write(build);
    if (g_outputs.shell) menu_links_tell();
    site_pages_flush(ManifestFlush_Append);
}

u64 site_outputs_menu_warnings(void) { return g_outputs.shell ? g_outputs.menu_link_warnings : 0; }

SiteOutputsCounts site_outputs_counts(void)
{
    SiteOutputsCounts c = {};
    c.index_writes = g_outputs.index_writes.load();
    c.index_failures = g_outputs.index_failures.load();
    c.index_made = g_outputs.index_made.load();
    return c;
}
