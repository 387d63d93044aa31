// site/build.cpp: the document table, the parse queue and the parser workers.
#include "site/build.h"
#include "site/diagnostics.h"

#include "markup/parser.h"
#include "markup/tables.h"
#include "os/file_service.h"

//- the process-wide build

static std::atomic<SiteBuild *> g_site_build;

SiteBuild *site_build(void) { return g_site_build.load(std::memory_order_acquire); }

u64 site_build_worker_count(u64 processor_count)
{
    u64 workers = processor_count > 1 ? processor_count - 1 : 1;
    return clamp_of<u64>(1, workers, site_build_max_workers);
}

//- the document table

static DocumentBucket *doc_bucket(SiteBuild *build, u64 hash, TableStripe **out_stripe)
{
    u64 index = striped_bucket_of(&build->documents, hash);
    *out_stripe = striped_stripe_of(&build->documents, index);
    return &build->buckets[index];
}

// The caller holds the stripe lock of the hash's bucket.
static DocumentRecord *doc_index_find(SiteBuild *build, Str path, u64 hash)
{
    for (DocumentRecord *r = build->index_slots[hash % document_index_slots]; r; r = r->index_next)
        if (r->path_hash == hash && str_eq(r->path, path)) return r;
    return nullptr;
}

DocumentRecord *doc_find(Str path)
{
    SiteBuild *build = site_build();
    if (!build) return nullptr;
    u64 hash = str_hash(path);
    TableStripe *stripe = nullptr;
    doc_bucket(build, hash, &stripe);
    srw_lock_shared(stripe->slim);
    DocumentRecord *record = doc_index_find(build, path, hash);
    srw_unlock_shared(stripe->slim);
    return record;
}

DocumentRecord *doc_claim(SiteBuild *build, Str path)
{
    u64 hash = str_hash(path);
    TableStripe *stripe = nullptr;
    DocumentBucket *bucket = doc_bucket(build, hash, &stripe);
    srw_lock_shared(stripe->slim);
    DocumentRecord *record = doc_index_find(build, path, hash);
    bool claimed = record && atomic_cas_u64(&record->busy, 0, 1);
    srw_unlock_shared(stripe->slim);
    if (record && !claimed) return nullptr;

    srw_lock_exclusive(stripe->slim);
    if (!record) {
        // Two workers may miss the record together: look again under the
        // exclusive lock so a path gets one record.
        record = doc_index_find(build, path, hash);
        if (record) {
            claimed = atomic_cas_u64(&record->busy, 0, 1);
        } else {
            record = push_struct<DocumentRecord>(stripe->arena);
            // One reservation holds a whole typical document (a 4 KB source
            // parses into some 130 KiB of nodes), so a rebuild rolls back
            // inside it and reuses its pages; a 32 KiB reservation would
            // chain blocks that every rebuild gives back and faults in again
            // (rebuilds measured five times slower). Reservations only cost
            // address space.
            Arena *arena = record ? arena_alloc(KiB(256), KiB(32)) : nullptr;
            if (arena) {
                record->arena = arena;
                record->arena_start = arena_pos(arena);
                record->path = str_copy(stripe->arena, path);
                record->path_hash = hash;
                record->busy = 1;
                if (bucket->last) bucket->last->next = record;
                else bucket->first = record;
                bucket->last = record;
                DocumentRecord **slot = &build->index_slots[hash % document_index_slots];
                record->index_next = *slot;
                *slot = record;
                claimed = true;
            } else {
                record = nullptr;   // no memory: the job is dropped like a busy one
            }
        }
    }
    if (claimed) {
        // The result is about to be rolled back with the arena: readers get
        // no result rather than one being overwritten.
        record->parsed = ParsedDocument{};
    }
    srw_unlock_exclusive(stripe->slim);
    return claimed ? record : nullptr;
}

void doc_store(SiteBuild *build, DocumentRecord *record, const ParsedDocument *parsed, u64 generation)
{
    TableStripe *stripe = nullptr;
    doc_bucket(build, record->path_hash, &stripe);
    srw_lock_exclusive(stripe->slim);
    record->parsed = *parsed;
    record->built_generation = generation;
    record->build_count += 1;
    atomic_store_u64(&record->busy, 0);
    srw_unlock_exclusive(stripe->slim);
    cv_broadcast(stripe->condition);
    atomic_add_u64(&build->completed_builds, 1);
}

//- one document

// The source and the file-system generation it belongs to. The generation
// is read with the content key, before parsing: a change that lands while
// the document is built raises the generation past it, so the build is
// seen as out of date instead of hiding the change.
struct DocumentSource {
    Str text;
    u64 generation;
};

static DocumentSource document_read(DocumentRecord *record)
{
    DocumentSource source = {};
    if (str_eq(path_file_name(record->path), str_lit("index.wyn"))) {
        // The index document is written by change detection and read once
        // per build: straight from disk, onto the document's arena.
        source.generation = fs_generation();
        source.text = file_read_all(record->arena, record->path);
        return source;
    }
    FsResult file = fs_get(record->path, u64_max);
    source.generation = file.generation;
    source.text = content_get(file.key);
    return source;
}

static void document_build(SiteBuild *build, Str path, Arena *scratch)
{
    DocumentRecord *record = doc_claim(build, path);
    if (!record) {
        // Another worker holds it; change detection queues it again if
        // that build read an older source.
        atomic_add_u64(&build->dropped_jobs, 1);
        return;
    }
    arena_pop_to(record->arena, record->arena_start);
    DocumentSource source = document_read(record);

    // Tokens are only read by the parse: scratch. The parser's messages live
    // on its work arena, and they belong to the result (link validation
    // appends to the same list later), so that is the document's arena too.
    TokenArray tokens = tokenize(scratch, source.text);
    ParsedDocument doc = {};
    parse_document(record->arena, record->arena, record->path, source.text, tokens, &doc);

    // Link validation, first pass (file links) belongs here.

    document_index_tables(record->arena, &doc);

    // Link validation, second and third passes (web links, unresolved
    // references) belong here; a document they find incomplete is stored
    // without raising its built generation and pushed on the parse queue
    // again instead of being printed and written.

    if (!build->config.quiet) diag_print_document(&doc.messages, record->path, source.text);

    // Page writing belongs here: unless the status is "draft" or
    // "personal", the file links to documents are pointed at their pages
    // and the desktop and smartphone pages are written.

    doc_store(build, record, &doc, source.generation);
}

void parser_worker(u64 argument)
{
    thread_set_name("[WYN] Parser #%I64u", argument);
    SiteBuild *build = site_build();
    for (;;) {
        ArenaTemp scratch = scratch_begin(nullptr, 0);
        Str path = queue_pop(build->parse_queue, scratch.arena);
        document_build(build, path, scratch.arena);
        scratch_end(scratch);
    }
}

//- start and submit

SiteBuild *site_build_start_with(Str local_folder, b32 file_path_checks, b32 url_checks, b32 js,
                                 const SiteBuildConfig *config)
{
    if (SiteBuild *existing = site_build()) return existing;
    Arena *arena = arena_alloc(MiB(64), MiB(1));
    SiteBuild *build = arena ? push_struct<SiteBuild>(arena) : nullptr;
    if (!build) process_exit_refused("the site build", MiB(64));
    build->arena = arena;
    build->local_folder = str_copy(arena, local_folder);
    build->file_path_checks = file_path_checks ? 1 : 0;
    build->url_checks = url_checks ? 1 : 0;
    build->js = js ? 1 : 0;
    build->config = *config;

    // The page variants and the site's style sheets are set up here once
    // they exist.

    u64 processors = system_info()->processor_count;
    striped_table_init(arena, &build->documents, document_bucket_count, min_of<u64>(32, processors),
                       StripeLock_Slim, KiB(32), KiB(8));
    build->index_slots = push_array<DocumentRecord *>(arena, document_index_slots);
    build->parse_queue = queue_alloc(arena, KiB(64));
    g_site_build.store(build, std::memory_order_release);

    u64 workers = config->worker_count ? config->worker_count : site_build_worker_count(processors);
    build->worker_count = clamp_of<u64>(1, workers, site_build_max_workers);
    for (u64 i = 0; i < build->worker_count; i += 1) build->workers[i] = thread_start(i, parser_worker);

    // The change-detection thread starts here once it exists.
    return build;
}

SiteBuild *site_build_start(Str local_folder, b32 file_path_checks, b32 url_checks, b32 js)
{
    SiteBuildConfig config = {};
    return site_build_start_with(local_folder, file_path_checks, url_checks, js, &config);
}

bool site_build_submit(Str path)
{
    SiteBuild *build = site_build();
    if (!build || path.size > queue_payload_limit(build->parse_queue)) return false;
    Str copy = str_copy(build->arena, path);
    str_list_push(build->arena, &build->submitted, copy);
    build->submitted_count += 1;
    // Loading starts now, on the streamers, while the workers are busy with
    // earlier documents: a worker then finds its source in memory instead
    // of waiting for a load of its own. The index document is not watched.
    if (!str_eq(path_file_name(copy), str_lit("index.wyn"))) fs_prefetch(copy);
    return queue_push(build->parse_queue, copy, u64_max);
}
