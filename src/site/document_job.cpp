// site/document_job.cpp: one document's trip, from its source to its
// published summary.
#include "site/document_job.h"

#include "http/url_check.h"
#include "markup/header_fields.h"
#include "markup/paths.h"
#include "markup/tables.h"
#include "os/file_service.h"
#include "site/depends.h"
#include "site/links.h"
#include "site/pages.h"
#include "site/site_outputs.h"

//- options

// Every web address a parse finds goes to the URL check service, which asks
// each distinct address once however many documents name it.
static void submit_web_address(void *user, Str address) { url_check_submit((UrlCheckService *)user, address); }

ParseOptions document_parse_options(const SiteBuild *build)
{
    ParseOptions options = {};
    options.local_folder = build->site.layout.local_folder;
    options.print_todos = build->site.print_todos;
    if (build->config.url_checks) {
        options.web_links = submit_web_address;
        options.web_links_user = build->config.url_checks;
    }
    return options;
}

static JpegInfo image_info(void *user, Arena *arena, Str path);

RenderOptions document_render_options(const SiteBuild *build)
{
    RenderOptions options = {};
    options.local_folder = build->site.layout.local_folder;
    options.deploy = build->site.deploy;
    options.image_info = image_info;
    return options;
}

//- image sizes

// Pages ask for the size of every JPEG they embed. The bytes come through
// the file service (so the watch sees an edited image) and the answer is
// kept by content key.
namespace {
struct ImageSizeCache {
    CriticalSection *lock;
    Arena *arena;
    StrMap by_key;   // the content key's bytes -> a JpegInfo on `arena`
};
} // namespace

static ImageSizeCache *image_sizes(void)
{
    // Made by the first page that shows a picture; the language makes the
    // first use of a local static safe on every worker at once.
    static ImageSizeCache *cache = [] {
        Arena *arena = arena_alloc(MiB(16), KiB(64));
        ImageSizeCache *c = arena ? push_struct<ImageSizeCache>(arena) : nullptr;
        if (!c) process_exit_refused("the image size cache", MiB(16));
        c->lock = cs_alloc();
        c->arena = arena;
        c->by_key = str_map_alloc(arena, 1024);
        return c;
    }();
    return cache;
}

// `user`: the build's read log, or null.
static JpegInfo image_info(void *user, Arena *arena, Str path)
{
    DocumentReadLog *log = (DocumentReadLog *)user;
    JpegInfo info = {};
    u64 deadline = now_us() + 2000000;
    FsContent file = log ? depends_read_file(log, path, deadline) : fs_read(path, deadline);
    if (!file.file.loaded) {
        fs_read_done(&file);
        return info;
    }
    Str key = Str{(const char *)&file.file.key, sizeof file.file.key};
    ImageSizeCache *cache = image_sizes();
    cs_enter(cache->lock);
    StrMapNode *found = str_map_lookup(&cache->by_key, key);
    if (found) info = *(const JpegInfo *)found->value;
    cs_leave(cache->lock);
    if (!found) {
        info = jpeg_info_from_bytes(arena, file.bytes);
        cs_enter(cache->lock);
        if (!str_map_lookup(&cache->by_key, key)) {
            JpegInfo *kept = push_struct<JpegInfo>(cache->arena);
            if (kept) {
                *kept = info;
                kept->ratio = str_copy(cache->arena, info.ratio);
                str_map_insert(cache->arena, &cache->by_key, key, (u64)kept);
            }
        }
        cs_leave(cache->lock);
    }
    fs_read_done(&file);
    info.ratio = str_copy(arena, info.ratio);
    return info;
}

JpegInfo document_image_info(Arena *arena, Str path) { return image_info(nullptr, arena, path); }

//- 2. the source

// The source, held until the build is done with the tree.
struct DocumentSource {
    Str text;
    FsContent held;   // the loaded bytes, held until the build is done with the tree
};

static DocumentSource document_read(DocumentRecord *record)
{
    DocumentSource source = {};
    if (doc_reads_own_source(record)) {
        // The index document is written by change detection just before it
        // is queued: read straight from disk, onto the document's arena,
        // so the build never finds the bytes of the write before.
        source.text = file_read_all(record->arena, record->path);
        return source;
    }
    // The tree points into these bytes: they are held until the build is
    // over, however often the author saves meanwhile.
    source.held = fs_read(record->path, u64_max);
    source.text = source.held.bytes;
    return source;
}

//- 4. what a document embeds

static void node_replace(MarkupNode *old_node, MarkupNode *new_node)
{
    MarkupNode *parent = old_node->parent;
    new_node->parent = parent;
    new_node->prev = old_node->prev;
    new_node->next = old_node->next;
    if (node_is_nil(old_node->prev)) parent->first_child = new_node;
    else old_node->prev->next = new_node;
    if (node_is_nil(old_node->next)) parent->last_child = new_node;
    else old_node->next->prev = new_node;
    old_node->parent = old_node->prev = old_node->next = &markup_nil;
}

static bool node_is_inside(const MarkupNode *node, const MarkupNode *root)
{
    for (const MarkupNode *n = node; !node_is_nil(n); n = n->parent)
        if (n == root) return true;
    return false;
}

// Gives a node taken from another text, and everything below it, the
// offset of `offset` in this document.
static void node_offsets_set(MarkupNode *root, u64 offset)
{
    for (MarkupNode *n = root; !node_is_nil(n); n = node_preorder_next(n, root)) n->offset = offset;
}

// How often `separator` stands in `line` outside double quotes, where a
// spreadsheet puts a value that holds it.
static u64 csv_separators_in(Str line, char separator)
{
    u64 count = 0;
    bool quoted = false;
    for (u64 i = 0; i < line.size; i += 1) {
        if (line.str[i] == '"') quoted = !quoted;
        else if (line.str[i] == separator && !quoted) count += 1;
    }
    return count;
}

// A CSV file's cells are parted by ";". One saved with "," or tabs between
// them (what most spreadsheets write) gives a table of one column, each
// line a cell: the separator its first line uses instead, or 0. A
// spreadsheet writes as many separators on every line, so a file whose
// first lines hold different numbers of commas is one column of text that
// has commas in it, and is not told.
static char csv_other_separator(Str content)
{
    constexpr u32 lines_looked_at = 8;
    Str lines[lines_looked_at];
    u32 count = 0;
    for (u64 at = 0; at < content.size && count < lines_looked_at;) {
        u64 end = min_of(str_find_byte(content, '\n', at), content.size);
        Str line = str_substr(content, at, end);
        if (line.size && line.str[line.size - 1] == '\r') line.size -= 1;
        if (line.size) lines[count++] = line;
        at = end + 1;
    }
    if (count == 0 || str_find_byte(lines[0], ';', 0) < lines[0].size) return 0;
    for (char separator : {',', '\t'}) {
        u64 first = csv_separators_in(lines[0], separator);
        if (first == 0) continue;
        bool even = true;
        for (u32 i = 1; i < count && even; i += 1) even = csv_separators_in(lines[i], separator) == first;
        // Commas in a tab-parted file's text are uneven: its tabs decide.
        if (even) return separator;
    }
    return 0;
}

// The table of an embedded CSV file: the file's text parsed as a table
// (";" opens one) on `arena`, so its cells live as long as the tree. The
// table root is kept, not only its table, so the table indexing finds it
// like any table the author wrote. The file links of its cells go into
// `links` and its web addresses into `web_links`: they are checked, and
// lead to pages, as the document's own do. `other_separator` is set as
// csv_other_separator finds it.
static MarkupNode *csv_table(Arena *arena, DocumentReadLog *log, Str path, Str local_folder, NodeList *links,
                             NodeList *web_links, char *other_separator)
{
    FsContent file = depends_read_file(log, path, u64_max);
    Str content = file.file.loaded ? file.bytes : str_empty();
    *other_separator = csv_other_separator(content);
    // The cells point into a copy of the file's text, which the author may
    // save again while the pages are being made.
    Str text = content.size ? str_pushf(arena, ";%S", content) : str_empty();
    fs_read_done(&file);
    if (!text.size) return &markup_nil;
    ParseOptions options = {};
    options.local_folder = local_folder;
    ParsedDocument parsed = markup_parse(arena, text, &options);
    MarkupNode *table = node_find_descendant(parsed.root, kind_table_root, 0, 0);
    if (node_is_nil(table)) return table;
    node_detach(table);
    for (NodeListCell *cell = parsed.file_links.first; cell; cell = cell->next)
        if (node_is_inside(cell->node, table)) node_list_push(arena, links, cell->node);
    for (NodeListCell *cell = parsed.web_links.first; cell; cell = cell->next)
        if (node_is_inside(cell->node, table)) node_list_push(arena, web_links, cell->node);
    return table;
}

// The web addresses of a CSV file's cells join the document's, in source
// order at the embedding link's offset, so they are asked and told like the
// document's own.
static void web_links_merge(ParsedDocument *doc, NodeList *links)
{
    if (!links->first) return;
    u64 offset = links->first->node->offset;
    NodeListCell **at = &doc->web_links.first;
    while (*at && (*at)->node->offset <= offset) at = &(*at)->next;
    links->last->next = *at;
    *at = links->first;
    if (!links->last->next) doc->web_links.last = links->last;
    doc->web_links.count += links->count;
}

// Every embedded link to a CSV file that exists takes the place of the
// table it holds, and leaves the document's list of file links: it is no
// longer in the tree, so there is no link to check. The links in the
// table's cells take its place in the list, at its offset: a warning about
// one points at the line that embeds the file, since the document's text
// is what a message shows. Inside another link a table would nest in an
// anchor, so such a link stays as it is; a missing file stays a link too,
// for the link check to report.
static void embed_tables(Arena *arena, DocumentReadLog *log, ParsedDocument *doc, Str local_folder)
{
    for (NodeListCell **at = &doc->file_links.first; *at;) {
        MarkupNode *link = (*at)->node;
        MarkupNode *run = link->first_child;
        while (!node_is_nil(run) && run->node_class != NodeClass_Text) run = run->next;
        MarkupNode *parent = link->parent;
        bool embedded = (link->flags & NodeFlag_Embedded) && !node_is_nil(run) && !node_is_nil(parent) &&
                        !node_is_element(parent, MarkupKind_LinkFile) && !node_is_element(parent, MarkupKind_LinkHttp);
        MarkupNode *table = &markup_nil;
        NodeList links = {}, web_links = {};
        char other_separator = 0;
        Str resolved = str_empty();
        if (embedded) {
            Str path = link_target_split(run->text).path;
            if (str_match(extension(path), str_lit("csv"), StrMatch_CaseInsensitive)) {
                resolved = link_resolve_path(arena, local_folder, path, true);
                if (depends_file_state(log, resolved) == FileState_Regular)
                    table = csv_table(arena, log, resolved, local_folder, &links, &web_links, &other_separator);
            }
        }
        if (node_is_nil(table)) {
            at = &(*at)->next;
            continue;
        }
        if (other_separator) {
            diag_push(arena, &doc->messages, link, DiagLevel_Warning,
                      str_pushf(arena,
                                "%S has %s between its values and no \";\", so each of its lines shows as one cell: "
                                "wyn parts a CSV file's cells with \";\"; save the file with \";\" as its separator",
                                resolved, other_separator == ',' ? "\",\"" : "tabs"));
            doc->message_count = doc->messages.count;
            doc->max_level = doc->messages.max_level;
        }
        node_replace(link, table);
        doc->tables_walk = 1;
        for (NodeListCell *c = links.first; c; c = c->next) node_offsets_set(c->node, link->offset);
        for (NodeListCell *c = web_links.first; c; c = c->next) node_offsets_set(c->node, link->offset);
        web_links_merge(doc, &web_links);
        // The cells' links stand where the embedding link stood, and the
        // loop goes on after them: a CSV file's links embed nothing.
        NodeListCell *after = (*at)->next;
        if (links.first) {
            links.last->next = after;
            *at = links.first;
            at = &links.last->next;
        } else {
            *at = after;
        }
        doc->file_links.count = doc->file_links.count - 1 + links.count;
        doc->file_links.last = nullptr;
        for (NodeListCell *c = doc->file_links.first; c; c = c->next) doc->file_links.last = c;
    }
}

static LinkCheckSettings link_settings(SiteBuild *build, Str path, DocumentReadLog *log)
{
    LinkCheckSettings settings = {};
    settings.local_folder = build->site.layout.local_folder;
    settings.document_path = path;
    settings.file_path_checks = build->site.file_path_checks;
    settings.deploy = build->site.deploy;
    settings.url_checks = build->config.url_checks;
    settings.lookups = depends_link_lookups(log);
    return settings;
}

// The website index, shown on the site's index page below its own list:
// parsed here from its source as it stands, when it is published, with its
// links checked as any document's are (its own build reports their
// problems; these messages are dropped). Null when there is none.
static PageDocument *website_index_read(SiteBuild *build, DocumentReadLog *log, Arena *arena, StrMap *linked_pages,
                                        LinkWaits *waits, bool *complete)
{
    Str path = str_pushf(arena, "%Swyn_files/website/website_index.wyn", build->site.layout.local_folder);
    DocumentSummary *summary = depends_summary(log, arena, path);
    if (!summary || !summary->published) return nullptr;
    // A copy: the author may save it again while the index's pages are made.
    FsContent file = depends_read_file(log, path, now_us() + 2000000);
    Str text = file.file.loaded ? str_copy(arena, markup_source_text(file.bytes)) : str_empty();
    fs_read_done(&file);
    if (!text.size) return nullptr;
    ParseOptions options = {};
    options.local_folder = build->site.layout.local_folder;
    ParsedDocument *doc = push_struct<ParsedDocument>(arena);
    PageDocument *page = push_struct<PageDocument>(arena);
    if (!doc || !page) return nullptr;
    *doc = markup_parse(arena, text, &options);
    embed_tables(arena, log, doc, build->site.layout.local_folder);
    LinkCheckSettings settings = link_settings(build, path, log);
    settings.url_checks = nullptr;   // its own build waits for its web addresses
    if (!links_check_files(arena, doc, &settings, waits, linked_pages)) *complete = false;
    document_index_tables(arena, doc);
    *page = PageDocument{doc, path, text, linked_pages, nullptr, nullptr};
    return page;
}

//- what the links wait for, built first
//
// A document that links to one nobody has parsed yet parks until that one
// publishes its summary, and is parsed again when woken: in a first build
// of a site whose documents link to two others each, two in three
// documents were parsed twice. Building those first, here, on top of this
// build (whose tree stays on the scratch below them), lets most builds go
// on at once. They may in turn build what theirs wait for, deeper; at the
// bottom they park as before. A document claimed, parked or parsed is left
// alone, and the link check waits for it as ever. One not submitted yet (a
// large site's first build submits as the queue makes room) is taken too:
// its submission then queues nothing (doc_take_ahead).
//
// The links of a site reach most of it, so the bottom is always reached,
// and what parks there is about the same share at any depth past a few
// (a quarter of a 10,000-document site at 8, a third at 2). Each level
// holds its tree, so the sources of the builds on top of each other stay
// within help_source_limit together; and one build takes at most
// help_total_limit others with it, or a document saved during the first
// build would wait for much of the site before its own page is written.

constexpr u32 help_depth_limit = depends_log_depths - 1;
constexpr u32 help_document_limit = 8;   // per build: a page of links to new documents waits no longer
constexpr u32 help_total_limit = 64;     // per build from the queue, at every depth below it
constexpr u64 help_source_limit = MiB(1);
static thread_local u32 t_help_depth;
static thread_local u32 t_help_total;
static thread_local u64 t_help_source;   // bytes of the sources of the builds this one is on top of

static void help_with_waits(SiteBuild *build, const ParsedDocument *doc, Str path, u64 source_size, Arena *scratch)
{
    if (t_help_depth >= help_depth_limit || t_help_source + source_size > help_source_limit) return;
    if (!t_help_depth) t_help_total = 0;
    ArenaTemp temp = temp_begin(scratch);
    StrList targets = {};
    links_document_targets(scratch, doc, build->site.layout.local_folder, path, &targets);
    u32 helped = 0;
    for (StrNode *n = targets.first; n && helped < help_document_limit && t_help_total < help_total_limit;
         n = n->next) {
        DocumentRecord *other = doc_find(n->string);
        if (!other || other->is_index || !doc_unparsed(build, other) || !doc_take_ahead(other)) continue;
        helped += 1;
        t_help_total += 1;
        t_help_depth += 1;
        t_help_source += source_size;
        ArenaTemp nested = temp_begin(scratch);
        document_job(build, other->path, scratch);
        temp_end(nested);
        t_help_source -= source_size;
        t_help_depth -= 1;
    }
    temp_end(temp);
}

//- the trip

static void document_build(SiteBuild *build, DocumentRecord *record, DocumentSource source, Arena *scratch)
{
    Str local = build->site.layout.local_folder;
    source.text = markup_source_text(source.text);
    DiagnosticList refused = {};
    if (source.text.size > document_size_limit) {
        // Every byte may become a node: a huge file would take the machine's
        // memory. It is built as an empty document, and the author told.
        Str text = str_pushf(scratch, "%S is larger than %I64u MiB, the limit for a source document; it is not built",
                             record->path, document_size_limit >> 20);
        source.text = str_empty();
        diag_push_at(scratch, &refused, nullptr, 0, DiagLevel_Warning, text);
    }

    // 3. The tree and everything made from it live on the worker's scratch:
    // nothing of it outlives the build (other documents read the published
    // summary), and the worker's pages are warm, where a tree on the
    // document's own arena faulted in about 30 fresh pages per build once
    // the arena was given back.
    Arena *tree = scratch;
    ParseOptions parse_options = document_parse_options(build);
    ParsedDocument doc = markup_parse(tree, source.text, &parse_options);
    if (refused.count) {
        doc.messages = refused;
        doc.message_count = refused.count;
        doc.max_level = refused.max_level;
    }
    atomic_add_u64(&record->parse_count, 1);

    // 4. What it embeds. Everything read from outside the source from here
    // on is noted, so the document is built again when it changes.
    DocumentReadLog log = depends_log_begin(build, t_help_depth);
    embed_tables(tree, &log, &doc, local);
    StrMap linked_pages = str_map_alloc(tree, 64);
    LinkWaits waits = {};
    bool complete = true;
    PageDocument *website_index = nullptr;
    bool is_index = is_index_document(local, record->path);
    if (is_index && !build->config.no_pages)
        website_index = website_index_read(build, &log, tree, &linked_pages, &waits, &complete);

    // 5. Links. Web links are looked at even when a document is missing, so
    // a parked document waits for everything it needs at once.
    if (!is_index) help_with_waits(build, &doc, record->path, source.text.size, scratch);
    LinkCheckSettings links = link_settings(build, record->path, &log);
    links.listing = is_index && str_match(index_document_marker, source.text, StrMatch_Prefix);
    complete = links_check(tree, &doc, &links, &waits, &linked_pages) && complete;
    if (!complete) {
        doc_park(build, record, &doc, &waits.documents, &waits.addresses);
        return;
    }

    // 6. Tables: their rows move into the records the pages read.
    document_index_tables(tree, &doc);

    // 7. What the author should know. A document that is published but
    // names no page would otherwise go missing without a word: said once,
    // and again only after it had a page in between.
    // It is no fault of the text, so it is no message of the document's.
    bool pageless = !doc.output_paths.node_count && !header_status_hides(doc.status) && source.text.size;
    if (pageless && !record->pageless_noted) {
        DiagnosticList note = {};
        diag_push_at(tree, &note, doc.root, 0, DiagLevel_Note,
                     str_lit("this document has no output_path, so no page is written for it"));
        diag_print_document(&build->config.print, &note, record->path, source.text);
    }
    record->pageless_noted = pageless;
    diag_print_document(&build->config.print, &doc.messages, record->path, source.text);
    DocumentBuilt built = {};
    for (Diagnostic *d = doc.messages.first; d; d = d->next) {
        if (d->level == DiagLevel_Warning) built.warning_count += 1;
        else if (d->level > DiagLevel_Warning) built.error_count += 1;
    }

    // 8. Pages: unless the status is "draft" or "personal", the desktop and
    // then the smartphone pages are written; pages this document no longer
    // produces are removed.
    SitePageResult pages = {};
    if (!build->config.no_pages) {
        RenderOptions render = document_render_options(build);
        render.image_info_user = &log;
        SitePageJob job = {};
        job.document = PageDocument{&doc, record->path, source.text, &linked_pages, website_index, nullptr};
        job.bucket = record->table_order >> 40;
        job.render = &render;
        job.share = build->share;
        pages = site_pages_document(scratch, &job);
        built.warning_count += pages.warning_count;
    }
    // The pictures the pages measured were noted too.
    DocumentBuilt all = depends_built(&log, tree);
    built.reads = all.reads;
    built.read_count = all.read_count;

    // 9. What others read, and what this build read. A read that changed
    // while the build ran makes it stale. Everything is marked before the
    // record is let go: the site must not look quiet in between.
    for (StrNode *n = pages.rebuild.first; n; n = n->next)
        if (DocumentRecord *other = doc_find(n->string)) doc_mark_stale(build, other, DocPush_Queue);
    doc_store(build, record, &doc, &built);
    if (!depends_verify(&log)) doc_mark_stale(build, record, DocPush_Queue);
    doc_release(build, record);
}

void document_job(SiteBuild *build, Str path, Arena *scratch)
{
    // 1. The record.
    DocumentRecord *record = doc_claim(build, path);
    if (!record) {
        // Another worker holds it, and queues it again when it ends if it
        // is stale by then; or it is current.
        atomic_add_u64(&build->dropped_jobs, 1);
        return;
    }
    arena_pop_to(record->arena, record->arena_start);
    DocumentSource source = document_read(record);
    document_build(build, record, source, scratch);
    fs_read_done(&source.held);
}
