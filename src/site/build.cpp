// site/build.cpp: the document table, the parse queue, the published
// summaries, the parking lot and the workers.
#include "site/build.h"

#include "http/url_check.h"
#include "markup/header_fields.h"
#include "os/file_service.h"
#include "site/feed.h"
#include "site/links.h"
#include "site/work_share.h"

#include <algorithm>

//- the process-wide build

static std::atomic<SiteBuild *> g_site_build;

SiteBuild *site_build(void) { return g_site_build.load(std::memory_order_acquire); }

// One processor is left to the streamers, the detector and the writes the
// kernel finishes for us, except on two: one worker there keeps a cold build
// at one core while the other mostly waits, and the streamers and the
// detector sleep most of the time, so both go to the workers.
u64 site_build_worker_count(u64 processor_count)
{
    u64 workers = processor_count > 2 ? processor_count - 1 : processor_count;
    return clamp_of<u64>(1, workers, site_build_max_workers);
}

//- the document table

// The table is keyed by the path below the local folder: the same site
// keeps the same table order (and so the same index page) wherever it
// lives, on any system.
u64 doc_path_hash(const SiteBuild *build, Str path)
{
    Str local = build->site.layout.local_folder;
    if (local.size && str_match(local, path, StrMatch_Prefix)) path = str_skip(path, local.size);
    return str_hash(path);
}

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
    u64 hash = doc_path_hash(build, path);
    TableStripe *stripe = nullptr;
    doc_bucket(build, hash, &stripe);
    srw_lock_shared(stripe->slim);
    DocumentRecord *record = doc_index_find(build, path, hash);
    srw_unlock_shared(stripe->slim);
    return record;
}

// Creates the record of a path at the end of its bucket; the caller holds
// the stripe's exclusive lock and has looked for the path already.
static DocumentRecord *doc_insert_locked(SiteBuild *build, TableStripe *stripe, DocumentBucket *bucket, Str path,
                                         u64 hash, u64 busy)
{
    DocumentRecord *record = push_struct<DocumentRecord>(stripe->arena);
    if (!record) return nullptr;   // no memory: the job is dropped like a busy one
    // Its arena comes with its first build (doc_claim), on the worker.
    record->path = str_copy(stripe->arena, path);
    record->path_hash = hash;
    record->busy = busy;
    Str local = build->site.layout.local_folder;
    record->is_index = is_index_document(local, path);
    record->table_order = (striped_bucket_of(&build->documents, hash) << 40) | bucket->count++;
    list_append(bucket, record);
    atomic_add_u64(&build->bucket_marks[record->table_order >> 40], 1);
    DocumentRecord **slot = &build->index_slots[hash % document_index_slots];
    record->index_next = *slot;
    *slot = record;
    atomic_add_u64(&build->record_count, 1);
    return record;
}

static void doc_requeue_if_stale(SiteBuild *build, DocumentRecord *record);

bool doc_reads_own_source(const DocumentRecord *record)
{
    return str_eq(path_file_name(record->path), str_lit("index.wyn"));
}

DocumentRecord *doc_claim(SiteBuild *build, Str path)
{
    u64 hash = doc_path_hash(build, path);
    TableStripe *stripe = nullptr;
    DocumentBucket *bucket = doc_bucket(build, hash, &stripe);
    srw_lock_shared(stripe->slim);
    DocumentRecord *record = doc_index_find(build, path, hash);
    // Popped: it may be queued again from now on.
    if (record) atomic_store_u64(&record->queued, 0);
    // A parked document is built again when it is woken. Until then a
    // message for it is one it was queued with before a build that waited
    // for it built it first (document_job.cpp), and is dropped.
    bool claimed = record && !atomic_load_u64(&record->parked) && atomic_cas_u64(&record->busy, 0, 1);
    srw_unlock_shared(stripe->slim);
    if (record && !claimed) return nullptr;

    bool created = false;
    srw_lock_exclusive(stripe->slim);
    if (!record) {
        // Two workers may miss the record together: look again under the
        // exclusive lock so a path gets one record.
        record = doc_index_find(build, path, hash);
        if (record) {
            claimed = !atomic_load_u64(&record->parked) && atomic_cas_u64(&record->busy, 0, 1);
        } else {
            record = doc_insert_locked(build, stripe, bucket, path, hash, 1);
            claimed = created = record != nullptr;
        }
    }
    // Read before the build looks at anything: a mark raised after this
    // makes the build stale as it ends.
    bool current = false;
    if (claimed) {
        record->claim_mark = atomic_load_u64(&record->stale_mark);
        record->claimed_first = (u32)atomic_load_u64(&record->first);
        atomic_store_u64(&record->first, 0);
        current = record->build_count > 0 && record->built_mark == record->claim_mark;
        if (current) atomic_store_u64(&record->busy, 0);
    }
    srw_unlock_exclusive(stripe->slim);
    if (created) site_build_note_change(SiteChange_Document, record->path);
    if (claimed && !current && !record->arena && doc_reads_own_source(record)) {
        // Only a source read straight from disk needs memory of the
        // document's own: every other build reads the file service's bytes
        // and makes its tree on the worker's scratch, and an arena per
        // document cost each first build a mapping, its first page's fault
        // and a release of pages it never used. Made by the build rather
        // than at registration, on the worker; the record is this worker's
        // while it is busy, so nothing else looks at the arena.
        Arena *arena = arena_alloc(KiB(256), KiB(32));
        if (!arena) {
            // No memory: the job is dropped like a busy one.
            atomic_store_u64(&record->busy, 0);
            return nullptr;
        }
        record->arena = arena;
        record->arena_start = arena_pos(arena);
    }
    if (current) {
        // Queued twice, or queued before the change that made it stale was
        // built already: nothing to do, unless a mark came in between.
        doc_requeue_if_stale(build, record);
        return nullptr;
    }
    return claimed ? record : nullptr;
}

static void note_change(u32 kind, Str key, bool wake);

bool site_build_register(Str path)
{
    SiteBuild *build = site_build();
    if (!build || path.size > queue_payload_limit(build->parse_queue)) return false;
    u64 hash = doc_path_hash(build, path);
    TableStripe *stripe = nullptr;
    DocumentBucket *bucket = doc_bucket(build, hash, &stripe);
    srw_lock_exclusive(stripe->slim);
    DocumentRecord *record = doc_index_find(build, path, hash);
    bool created = false;
    if (!record) {
        record = doc_insert_locked(build, stripe, bucket, path, hash, 0);
        created = record != nullptr;
    }
    srw_unlock_exclusive(stripe->slim);
    // A document that linked the path before it was known sees it now, or
    // rather at change detection's next tick: waking it for every record
    // of a site being registered cost two system calls each and held the
    // stripes it follows against the next registration.
    if (created) note_change(SiteChange_Document, record->path, false);
    return record != nullptr;
}

static DocumentSummary *summary_block_alloc(u64 size);
static void summary_block_free(DocumentSummary *summary);
static void summary_copy_into(DocumentSummary *to, const DocumentSummary *from);

static void parking_wake(SiteBuild *build, Str key);

// Whether two summaries tell documents that link them the same: whether
// they are published, where their pages are, their anchors. The rest is
// the document's own business, or the index's.
static bool summary_facts_same(const DocumentSummary *a, const DocumentSummary *b)
{
    if (a->published != b->published || a->output_path_count != b->output_path_count ||
        a->anchor_count != b->anchor_count)
        return false;
    for (u64 i = 0; i < a->output_path_count; i += 1)
        if (!str_eq(a->output_paths[i], b->output_paths[i])) return false;
    for (u64 i = 0; i < a->anchor_count; i += 1)
        if (a->anchors[i].number != b->anchors[i].number || a->anchors[i].offset != b->anchors[i].offset) return false;
    return true;
}

// Whether the index lists a document the same way under both.
static bool summary_listing_same(const DocumentSummary *a, const DocumentSummary *b)
{
    // The date orders the listing.
    return a->published == b->published && a->has_context_document == b->has_context_document &&
           str_eq(a->title, b->title) && str_eq(a->creation_date, b->creation_date);
}

// Whether the feed and the site map show a document the same way.
static bool summary_feed_same(const DocumentSummary *a, const DocumentSummary *b)
{
    if (a->output_path_count != b->output_path_count) return false;
    for (u64 i = 0; i < a->output_path_count; i += 1)
        if (!str_eq(a->output_paths[i], b->output_paths[i])) return false;
    return summary_listing_same(a, b) && str_eq(a->author, b->author) && str_eq(a->creation_date, b->creation_date) &&
           str_eq(a->last_modification_date, b->last_modification_date) && str_eq(a->feed_summary, b->feed_summary);
}

static DocumentReads *reads_block_make(const DocumentRead *reads, u64 count);
static void reads_block_free(DocumentReads *reads);

// Publishes the summary of a parse. An incomplete build publishes too (its
// status, anchors and output paths are final, and a document that links
// back to it must not wait for it in turn), but leaves its reads, its
// counts and its build count alone: the document is not built until its
// links are settled. The record stays held: a complete build lets it go
// with doc_release, an incomplete one once it is parked (parking_park).
static void doc_publish(SiteBuild *build, DocumentRecord *record, const ParsedDocument *parsed,
                        const DocumentBuilt *built)
{
    TableStripe *stripe = nullptr;
    doc_bucket(build, record->path_hash, &stripe);
    // The summary is made outside the lock, on scratch, then copied into a
    // block of its own; only the pointer swap happens under the lock.
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    DocumentSummary *made = doc_summary_make(scratch.arena, parsed, build->site.layout.local_folder);
    if (made) made->complete = built != nullptr;
    DocumentSummary *published = made ? summary_block_alloc(made->size) : nullptr;
    if (published) summary_copy_into(published, made);
    scratch_end(scratch);
    DocumentReads *reads = built ? reads_block_make(built->reads, built->read_count) : nullptr;
    // The summary is all other documents read; the tree goes back, so a
    // built document costs its source and its summary.
    arena_trim(record->arena, record->arena_start, document_arena_keep);

    srw_lock_exclusive(stripe->slim);
    DocumentSummary *old = record->summary;
    DocumentReads *old_reads = nullptr;
    if (published) record->summary = published;
    if (built) {
        old_reads = record->reads;
        record->reads = reads;
        record->built_mark = record->claim_mark;
        record->build_count += 1;
        record->warning_count = built->warning_count;
        record->error_count = built->error_count;
    }
    srw_unlock_exclusive(stripe->slim);
    // Documents that read facts this one changed are found by change
    // detection; told while a complete build still holds the record, so
    // the site never looks quiet in between. A first summary tells nobody
    // anything new: whoever linked the document waited for it, or saw its
    // record appear.
    if (published && old && !summary_facts_same(old, published))
        site_build_note_change(SiteChange_Document, record->path);
    // The index does not list itself: its own summary leaves the listing
    // as it was, and making a large index again only to find it the same
    // would hold up the end of every cold build.
    if (published && !record->is_index && (!old || !summary_listing_same(old, published)))
        atomic_add_u64(&build->listing_changes, 1);
    if (published && (!old || !summary_feed_same(old, published))) atomic_add_u64(&build->feed_changes, 1);
    // Readers copy under the shared lock, so once the swap is done nobody
    // holds the old blocks.
    if (published && old) summary_block_free(old);
    if (old_reads) reads_block_free(old_reads);
    cv_broadcast(stripe->condition);
    if (built) atomic_add_u64(&build->completed_builds, 1);
    // Documents parked for this one's summary can go on now.
    parking_wake(build, record->path);
}

void doc_store(SiteBuild *build, DocumentRecord *record, const ParsedDocument *parsed, const DocumentBuilt *built)
{
    DocumentBuilt none = {};
    doc_publish(build, record, parsed, built ? built : &none);
}

void doc_release(SiteBuild *build, DocumentRecord *record)
{
    TableStripe *stripe = nullptr;
    doc_bucket(build, record->path_hash, &stripe);
    srw_lock_exclusive(stripe->slim);
    atomic_store_u64(&record->busy, 0);
    srw_unlock_exclusive(stripe->slim);
    doc_requeue_if_stale(build, record);
}

//- summaries

// Summary blocks come from free lists by power-of-two size (256 bytes up),
// so a rebuild reuses the block its previous summary gave back and a long
// watch does not grow. The lock is held for a list operation only.
namespace {
constexpr u32 summary_class_count = 24;   // 256 B .. 2 GiB
constexpr u64 summary_min_block = 256;
struct SummaryFree {
    SummaryFree *next;
};
struct SummaryPool {
    CriticalSection *lock;
    Arena *arena;
    SummaryFree *free[summary_class_count];
};
SummaryPool g_summary_pool;

u32 summary_class_of(u64 size)
{
    u32 index = 0;
    for (u64 c = summary_min_block; c < size && index + 1 < summary_class_count; c <<= 1) index += 1;
    return index;
}
} // namespace

static DocumentSummary *summary_block_alloc(u64 size)
{
    SummaryPool *pool = &g_summary_pool;
    u32 index = summary_class_of(size);
    if ((summary_min_block << index) < size) return nullptr;
    cs_enter(pool->lock);
    void *block = pool->free[index];
    if (block) pool->free[index] = pool->free[index]->next;
    else block = arena_push(pool->arena, summary_min_block << index, 16);
    cs_leave(pool->lock);
    return (DocumentSummary *)block;
}

static void summary_block_free(DocumentSummary *summary)
{
    SummaryPool *pool = &g_summary_pool;
    u32 index = summary_class_of(summary->size);
    SummaryFree *block = (SummaryFree *)summary;
    cs_enter(pool->lock);
    block->next = pool->free[index];
    pool->free[index] = block;
    cs_leave(pool->lock);
}

// A summary's pointers all point inside its own block: a copy moves them
// by the distance between the blocks.
template <typename T>
static T *moved(T *pointer, const void *from, void *to)
{
    if (!pointer) return nullptr;
    return (T *)((u8 *)to + ((const u8 *)pointer - (const u8 *)from));
}

static void summary_copy_into(DocumentSummary *to, const DocumentSummary *from)
{
    memcpy((void *)to, (const void *)from, from->size);
    to->page.str = moved(from->page.str, from, to);
    to->status.str = moved(from->status.str, from, to);
    to->title.str = moved(from->title.str, from, to);
    to->author.str = moved(from->author.str, from, to);
    to->creation_date.str = moved(from->creation_date.str, from, to);
    to->last_modification_date.str = moved(from->last_modification_date.str, from, to);
    to->feed_summary.str = moved(from->feed_summary.str, from, to);
    to->output_paths = moved(from->output_paths, from, to);
    for (u64 i = 0; i < to->output_path_count; i += 1)
        to->output_paths[i].str = moved(from->output_paths[i].str, from, to);
    to->anchors = moved(from->anchors, from, to);
}

// Reads blocks come from the summaries' free lists too: a rebuild gives
// back the block its previous build took.
static DocumentReads *reads_block_make(const DocumentRead *reads, u64 count)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    // Sorted and without repeats: a hundred links to one document are one
    // read per anchor asked for.
    DocumentRead *sorted = push_array<DocumentRead>(scratch.arena, count ? count : 1);
    if (!sorted) {
        scratch_end(scratch);
        return nullptr;
    }
    if (count) memcpy(sorted, reads, count * sizeof *reads);
    std::sort(sorted, sorted + count, [](const DocumentRead &a, const DocumentRead &b) {
        if (a.key != b.key) return a.key < b.key;
        if (a.kind != b.kind) return a.kind < b.kind;
        if (a.anchor != b.anchor) return a.anchor < b.anchor;
        return a.value < b.value;
    });
    u64 unique = 0;
    for (u64 i = 0; i < count; i += 1) {
        const DocumentRead &r = sorted[i];
        if (unique && sorted[unique - 1].key == r.key && sorted[unique - 1].kind == r.kind &&
            sorted[unique - 1].anchor == r.anchor && sorted[unique - 1].value == r.value)
            continue;
        sorted[unique++] = r;
    }
    u64 size = align_up_pow2(sizeof(DocumentReads), 16) + unique * sizeof(DocumentRead);
    DocumentReads *block = (DocumentReads *)summary_block_alloc(size);
    if (block) {
        block->size = size;
        block->count = unique;
        block->items = (DocumentRead *)((u8 *)block + align_up_pow2(sizeof(DocumentReads), 16));
        if (unique) memcpy(block->items, sorted, unique * sizeof(DocumentRead));
    }
    scratch_end(scratch);
    return block;
}

static void reads_block_free(DocumentReads *reads)
{
    // The pool files a block by its size, which both kinds keep first.
    summary_block_free((DocumentSummary *)(void *)reads);
}

bool is_index_document(Str local_folder, Str path)
{
    return str_match(local_folder, path, StrMatch_Prefix) &&
           str_eq(str_skip(path, local_folder.size), str_lit("wyn_files/index.wyn"));
}

DocumentSummary *doc_summary_copy(Arena *arena, Str path)
{
    SiteBuild *build = site_build();
    if (!build) return nullptr;
    u64 hash = doc_path_hash(build, path);
    TableStripe *stripe = nullptr;
    doc_bucket(build, hash, &stripe);
    srw_lock_shared(stripe->slim);
    DocumentRecord *record = doc_index_find(build, path, hash);
    DocumentSummary *copy = nullptr;
    if (record && record->summary) {
        copy = (DocumentSummary *)arena_push(arena, record->summary->size, 16);
        if (copy) summary_copy_into(copy, record->summary);
    }
    srw_unlock_shared(stripe->slim);
    return copy;
}

DocumentSummary *doc_summary_make(Arena *arena, const ParsedDocument *doc, Str local_folder)
{
    // The first valid definition of each number, ascending: numbers are
    // one byte, so a 256-slot table orders them for free.
    MarkupNode *by_number[256] = {};
    u64 anchor_count = 0;
    for (NodeListCell *cell = doc->internal_links.first; cell; cell = cell->next) {
        MarkupNode *d = cell->node;
        if ((d->flags & NodeFlag_Unresolved) || by_number[d->number]) continue;
        by_number[d->number] = d;
        anchor_count += 1;
    }
    Str title = header_title_text(arena, doc->title);
    DocumentFeedFields feed = feed_fields_of(arena, doc);
    Str page = link_document_page(arena, local_folder, doc);
    u64 size = align_up_pow2(sizeof(DocumentSummary), 16);
    size += align_up_pow2(anchor_count * sizeof(DocumentAnchor), 16);
    size += align_up_pow2(doc->output_paths.node_count * sizeof(Str), 16);
    size += doc->status.size + title.size + page.size + 3;
    size += feed.author.size + feed.creation_date.size + feed.last_modification_date.size + feed.summary.size + 4;
    for (StrNode *n = doc->output_paths.first; n; n = n->next) size += n->string.size + 1;

    u8 *block = (u8 *)arena_push(arena, size, 16);
    if (!block) return nullptr;
    memset(block, 0, size);
    DocumentSummary *s = (DocumentSummary *)block;
    u8 *at = block + align_up_pow2(sizeof(DocumentSummary), 16);
    s->size = size;
    s->anchors = (DocumentAnchor *)at;
    for (u32 n = 0; n < 256; n += 1)
        if (by_number[n]) s->anchors[s->anchor_count++] = DocumentAnchor{n, by_number[n]->offset};
    at += align_up_pow2(anchor_count * sizeof(DocumentAnchor), 16);
    s->output_paths = (Str *)at;
    at += align_up_pow2(doc->output_paths.node_count * sizeof(Str), 16);
    auto put = [&](Str text) {
        if (text.size) memcpy(at, text.str, text.size);   // an absent value may have no bytes at all
        Str copy = Str{(const char *)at, text.size};
        at += text.size + 1;   // NUL-terminated: the block was cleared
        return copy;
    };
    for (StrNode *n = doc->output_paths.first; n; n = n->next) s->output_paths[s->output_path_count++] = put(n->string);
    s->page = put(page);
    s->status = put(doc->status);
    s->title = put(title);
    s->author = put(feed.author);
    s->creation_date = put(feed.creation_date);
    s->last_modification_date = put(feed.last_modification_date);
    s->feed_summary = put(feed.summary);
    s->message_count = doc->messages.count;
    s->max_level = doc->messages.max_level;
    s->published = !header_status_hides(doc->status);
    s->has_context_document = !node_is_nil(doc->context_document);
    s->table_count = doc->extra_list.count;
    return s;
}

//- parking
//
// A document whose links wait for something is parked under each thing it
// waits for (a document path, a web address) that has not arrived yet. A
// ticket stands for one parking; every key holds a reference to it. The
// last key to arrive wakes the document and queues it again (woken by the
// first, a document waiting for another document and a slow address was
// parsed again only to park for the address once more). Keys arriving
// after a wake-up (the author saved the document meanwhile) find the
// ticket woken and only drop their reference. Every key arrives in the end (each
// registered document publishes, parked or built, and each address gets a
// result within the request limit), so no ticket is kept for ever.
//
// Lock order: the lot's lock, then a stripe lock (the re-check) or the
// queue's lock (the re-queue). Nobody takes the lot's lock while holding
// either.

namespace {
struct ParkTicket {
    ParkTicket *next_free;
    DocumentRecord *record;
    u64 refs;
    u64 pending;   // keys that have not arrived
    b32 woken;
    b32 saved;   // parked by a build of the author's save: woken, it goes ahead of the queue
};
struct ParkEntry {
    ParkEntry *next;
    ParkTicket *ticket;
};
struct ReadyEntry {
    ReadyEntry *next;
    DocumentRecord *record;
};
} // namespace

struct ParkingLot {
    CriticalSection *lock;
    Arena *arena;
    StrMap keys;   // key -> the first ParkEntry waiting for it
    ParkTicket *free_tickets;
    ParkEntry *free_entries;
    ReadyEntry *ready_first;   // queued again while the parse queue was full
    ReadyEntry *ready_last;
    ReadyEntry *free_ready;
};

static ParkingLot *parking_alloc(Arena *arena)
{
    ParkingLot *lot = push_struct<ParkingLot>(arena);
    if (!lot) return nullptr;
    lot->lock = cs_alloc();
    lot->arena = arena_alloc(MiB(64), KiB(64));
    lot->keys = str_map_alloc(lot->arena, 4096);
    return lot;
}

// The caller holds the lot's lock. A worker must never wait for queue room:
// workers are the queue's only consumers. When the queue is full, the path
// goes on the ready list, and then a marker is tried: if it fails too, the
// queue holds messages pushed before this entry was listed, and the worker
// that pops one looks at the ready list before its next pop.
static void requeue_locked(SiteBuild *build, DocumentRecord *record, bool ahead)
{
    ParkingLot *lot = build->parking;
    atomic_store_u64(&record->parked, 0);
    atomic_add_u64(&build->requeue_count, 1);
    atomic_store_u64(&record->queued, 1);
    record->park_ticket = nullptr;
    // A document saved by the author goes on ahead of the queue, as it did
    // before it parked: behind the queue it waited for the whole first build.
    if (ahead) atomic_store_u64(&record->first, DocFirst_Saved);
    else if (queue_push(build->parse_queue, record->path, now_us())) return;
    ReadyEntry *entry = lot->free_ready;
    if (entry) lot->free_ready = entry->next;
    else entry = push_struct<ReadyEntry>(lot->arena);
    if (!entry) return;   // no memory: change detection finds the document out of date
    entry->record = record;
    if (ahead) {
        entry->next = lot->ready_first;
        lot->ready_first = entry;
        if (!lot->ready_last) lot->ready_last = entry;
    } else {
        entry->next = nullptr;
        if (lot->ready_last) lot->ready_last->next = entry;
        else lot->ready_first = entry;
        lot->ready_last = entry;
    }
    queue_push(build->parse_queue, str_empty(), now_us());
}

static bool parking_take_ready(SiteBuild *build, Arena *arena, Str *out_path)
{
    ParkingLot *lot = build->parking;
    cs_enter(lot->lock);
    ReadyEntry *entry = lot->ready_first;
    if (entry) {
        lot->ready_first = entry->next;
        if (!lot->ready_first) lot->ready_last = nullptr;
        *out_path = str_copy(arena, entry->record->path);
        entry->next = lot->free_ready;
        lot->free_ready = entry;
    }
    cs_leave(lot->lock);
    return entry != nullptr;
}

static void ticket_release_locked(ParkingLot *lot, ParkTicket *ticket)
{
    ticket->refs -= 1;
    if (ticket->refs) return;
    ticket->next_free = lot->free_tickets;
    lot->free_tickets = ticket;
}

static void parking_wake(SiteBuild *build, Str key)
{
    ParkingLot *lot = build->parking;
    if (!lot) return;
    cs_enter(lot->lock);
    StrMapNode *node = str_map_lookup(&lot->keys, key);
    ParkEntry *entry = node ? (ParkEntry *)node->value : nullptr;
    if (node) node->value = 0;
    while (entry) {
        ParkEntry *next = entry->next;
        ParkTicket *ticket = entry->ticket;
        if (!ticket->woken) {
            ticket->pending -= 1;
            if (!ticket->pending) {
                ticket->woken = 1;
                requeue_locked(build, ticket->record, ticket->saved);
            }
        }
        ticket_release_locked(lot, ticket);
        entry->next = lot->free_entries;
        lot->free_entries = entry;
        entry = next;
    }
    cs_leave(lot->lock);
}

static bool wait_arrived(SiteBuild *build, Str key, bool is_document)
{
    if (is_document) {
        ArenaTemp scratch = scratch_begin(nullptr, 0);
        bool published = doc_summary_copy(scratch.arena, key) != nullptr;
        scratch_end(scratch);
        return published;
    }
    UrlCheckResult result = url_check_lookup(build->config.url_checks, key);
    return !result.found || !result.pending;
}

// The record is let go only once it is marked parked: let go before, a
// message still queued for it claimed it again, and the document was
// parsed a second time and parked under a second ticket, to be built once
// for each.
static void parking_let_go_locked(SiteBuild *build, DocumentRecord *record)
{
    TableStripe *stripe = nullptr;
    doc_bucket(build, record->path_hash, &stripe);
    srw_lock_exclusive(stripe->slim);
    atomic_store_u64(&record->busy, 0);
    srw_unlock_exclusive(stripe->slim);
}

// Parks the document under everything it waits for. A key is looked at
// under the lock every waker takes after its key arrived: what arrived
// between the link check and now is not waited for, and what arrives later
// finds the entry, so no wake-up is lost. When everything is in already,
// the document is queued at once.
static void parking_park(SiteBuild *build, DocumentRecord *record, const StrList *documents, const StrList *addresses)
{
    ParkingLot *lot = build->parking;
    cs_enter(lot->lock);
    ParkTicket *ticket = lot->free_tickets;
    if (ticket) lot->free_tickets = ticket->next_free;
    else ticket = push_struct<ParkTicket>(lot->arena);
    if (!ticket) {
        parking_let_go_locked(build, record);
        requeue_locked(build, record, record->claimed_first == DocFirst_Saved);
        cs_leave(lot->lock);
        return;
    }
    *ticket = ParkTicket{};
    ticket->record = record;
    ticket->refs = 1;   // this call's own, dropped below
    ticket->saved = record->claimed_first == DocFirst_Saved;
    record->park_ticket = ticket;
    atomic_store_u64(&record->parked, 1);
    atomic_add_u64(&build->park_count, 1);
    parking_let_go_locked(build, record);
    bool no_room = false;
    const StrList *lists[2] = {documents, addresses};
    for (u32 l = 0; l < 2; l += 1) {
        for (StrNode *n = lists[l]->first; n; n = n->next) {
            if (wait_arrived(build, n->string, l == 0)) continue;
            StrMapNode *node = str_map_lookup(&lot->keys, n->string);
            if (!node) node = str_map_insert(lot->arena, &lot->keys, n->string, 0);
            ParkEntry *entry = lot->free_entries;
            if (entry) lot->free_entries = entry->next;
            else entry = push_struct<ParkEntry>(lot->arena);
            if (!node || !entry) {
                no_room = true;   // no memory to wait: try again at once
                continue;
            }
            entry->ticket = ticket;
            entry->next = (ParkEntry *)node->value;
            node->value = (u64)entry;
            ticket->refs += 1;
            ticket->pending += 1;
        }
    }
    if (no_room || !ticket->pending) {
        ticket->woken = 1;
        requeue_locked(build, record, ticket->saved);
    }
    ticket_release_locked(lot, ticket);
    cs_leave(lot->lock);
}

// A parked document saved by the author: it waits no longer for what it
// waited for in the queue's order, but builds again at once, ahead of the
// queue, and what it waits for then goes first too.
static void parking_wake_saved(SiteBuild *build, DocumentRecord *record)
{
    ParkingLot *lot = build->parking;
    cs_enter(lot->lock);
    ParkTicket *ticket = (ParkTicket *)record->park_ticket;
    if (ticket && !ticket->woken && atomic_load_u64(&record->parked)) {
        ticket->woken = 1;
        requeue_locked(build, record, true);
    }
    cs_leave(lot->lock);
}

static void doc_push(SiteBuild *build, DocumentRecord *record, u32 push);

void doc_park(SiteBuild *build, DocumentRecord *record, const ParsedDocument *parsed, const StrList *documents,
              const StrList *addresses)
{
    // A document saved during the first build waits for the documents it
    // links: they go first too, or it would wait for the whole queue.
    // Only for its own save: what the documents it waits for wait for in
    // turn is not needed for its page (their summaries are out as they
    // park), and followed on, it put most of the site ahead of the queue.
    bool first = record->claimed_first == DocFirst_Saved;
    doc_publish(build, record, parsed, nullptr);
    parking_park(build, record, documents, addresses);
    // Saved while this build held it: the mark found it busy.
    if (!first && atomic_load_u64(&record->first) == DocFirst_Saved) parking_wake_saved(build, record);
    if (!first) return;
    for (StrNode *n = documents->first; n; n = n->next) {
        DocumentRecord *waited = doc_find(n->string);
        if (!waited || waited->is_index) continue;
        atomic_cas_u64(&waited->first, 0, DocFirst_Needed);
        doc_push(build, waited, DocPush_First);
    }
}

void site_build_url_result(void *user, Str address)
{
    (void)user;
    SiteBuild *build = site_build();
    if (!build) return;
    parking_wake(build, address);
    // A result that replaces an expired one may differ from what pages
    // built meanwhile show.
    site_build_note_change(SiteChange_Address, address);
}

//- staleness

bool doc_current(SiteBuild *build, DocumentRecord *record)
{
    TableStripe *stripe = nullptr;
    doc_bucket(build, record->path_hash, &stripe);
    srw_lock_shared(stripe->slim);
    bool current = record->build_count > 0 && record->built_mark == atomic_load_u64(&record->stale_mark);
    srw_unlock_shared(stripe->slim);
    return current;
}

bool doc_unparsed(SiteBuild *build, DocumentRecord *record)
{
    TableStripe *stripe = nullptr;
    doc_bucket(build, record->path_hash, &stripe);
    srw_lock_shared(stripe->slim);
    bool unparsed = !record->summary && !atomic_load_u64(&record->busy) && !atomic_load_u64(&record->parked);
    srw_unlock_shared(stripe->slim);
    return unparsed;
}

bool doc_take_ahead(DocumentRecord *record)
{
    if (atomic_load_u64(&record->ahead) == DocAhead_Submitted) return atomic_load_u64(&record->queued) != 0;
    return atomic_cas_u64(&record->ahead, DocAhead_None, DocAhead_Built);
}

bool doc_unbuilt(SiteBuild *build, DocumentRecord *record)
{
    TableStripe *stripe = nullptr;
    doc_bucket(build, record->path_hash, &stripe);
    srw_lock_shared(stripe->slim);
    bool unbuilt = record->build_count == 0 && !atomic_load_u64(&record->busy) && !atomic_load_u64(&record->parked);
    srw_unlock_shared(stripe->slim);
    return unbuilt;
}

// Puts a document before everything queued: on the ready list, which
// workers take from before they pop, with an empty message to wake one.
static void doc_push_first(SiteBuild *build, DocumentRecord *record)
{
    ParkingLot *lot = build->parking;
    cs_enter(lot->lock);
    ReadyEntry *entry = lot->free_ready;
    if (entry) lot->free_ready = entry->next;
    else entry = push_struct<ReadyEntry>(lot->arena);
    if (entry) {
        atomic_store_u64(&record->queued, 1);
        entry->next = lot->ready_first;
        entry->record = record;
        lot->ready_first = entry;
        if (!lot->ready_last) lot->ready_last = entry;
    }
    cs_leave(lot->lock);
    // A full queue holds messages already: the worker that pops one looks
    // at the ready list first.
    if (entry) queue_push(build->parse_queue, str_empty(), now_us());
}

static void doc_push(SiteBuild *build, DocumentRecord *record, u32 push)
{
    if (push == DocPush_None || record->is_index) return;
    // Held or parked: that ends by looking at the mark (doc_publish, the
    // wake-up), and queues it then; a parked one saved goes at once.
    if (atomic_load_u64(&record->busy)) return;
    if (atomic_load_u64(&record->parked)) {
        if (atomic_load_u64(&record->first) == DocFirst_Saved) parking_wake_saved(build, record);
        return;
    }
    if (push == DocPush_First || atomic_load_u64(&record->first)) {
        doc_push_first(build, record);
        return;
    }
    if (!atomic_cas_u64(&record->queued, 0, 1)) return;
    // Never waits: a full queue leaves it to change detection's walk.
    if (!queue_push(build->parse_queue, record->path, now_us())) atomic_store_u64(&record->queued, 0);
}

void doc_mark_stale(SiteBuild *build, DocumentRecord *record, u32 push)
{
    if (push == DocPush_First) atomic_store_u64(&record->first, DocFirst_Saved);
    atomic_add_u64(&record->stale_mark, 1);
    atomic_add_u64(&build->bucket_marks[record->table_order >> 40], 1);
    atomic_add_u64(&build->mark_count, 1);
    doc_push(build, record, push);
}

// After a build (or a dropped job) let go of the record: a mark raised
// while it was held found it busy and queued nothing.
static void doc_requeue_if_stale(SiteBuild *build, DocumentRecord *record)
{
    if (doc_current(build, record)) return;
    doc_push(build, record, DocPush_Queue);
}

//- changes

struct SiteChanges {
    CriticalSection *lock;
    CondVar *noted;
    Arena *arena;           // rolled back whenever the list is taken
    SiteChange *first;
    SiteChange *last;
    u64 signals;            // notes and pokes so far
    u64 signals_seen;       // by the waiter
};

static void note_change(u32 kind, Str key, bool wake)
{
    SiteBuild *build = site_build();
    if (!build || !build->changes) return;
    SiteChanges *c = build->changes;
    cs_enter(c->lock);
    SiteChange *change = push_struct<SiteChange>(c->arena);
    if (change) {
        change->kind = kind;
        change->key = str_copy(c->arena, key);
        if (c->last) c->last->next = change;
        else c->first = change;
        c->last = change;
    }
    if (wake) c->signals += 1;
    cs_leave(c->lock);
    atomic_add_u64(&build->change_count, 1);
    if (wake) cv_broadcast(c->noted);
}

void site_build_note_change(u32 kind, Str key) { note_change(kind, key, true); }

void site_build_poke(void)
{
    SiteBuild *build = site_build();
    if (!build || !build->changes) return;
    SiteChanges *c = build->changes;
    cs_enter(c->lock);
    c->signals += 1;
    cs_leave(c->lock);
    cv_broadcast(c->noted);
}

SiteChange *site_build_take_changes(Arena *arena)
{
    SiteBuild *build = site_build();
    if (!build || !build->changes) return nullptr;
    SiteChanges *c = build->changes;
    SiteChange *first = nullptr, *last = nullptr;
    cs_enter(c->lock);
    for (SiteChange *n = c->first; n; n = n->next) {
        SiteChange *copy = push_struct<SiteChange>(arena);
        if (!copy) break;
        copy->kind = n->kind;
        copy->key = str_copy(arena, n->key);
        if (last) last->next = copy;
        else first = copy;
        last = copy;
    }
    c->first = c->last = nullptr;
    arena_pop_to(c->arena, 0);
    cs_leave(c->lock);
    return first;
}

void site_build_wait_changes(u64 timeout_ms)
{
    SiteBuild *build = site_build();
    if (!build || !build->changes) {
        sleep_ms(timeout_ms);
        return;
    }
    SiteChanges *c = build->changes;
    u64 deadline = now_us() + timeout_ms * 1000;
    cs_enter(c->lock);
    while (c->signals == c->signals_seen && now_us() < deadline)
        if (!wait_cs(c->noted, c->lock, deadline)) break;
    c->signals_seen = c->signals;
    cs_leave(c->lock);
}

// An offer wakes a worker asleep on the queue. A full queue needs no
// message: its workers are busy, and look at the offer between documents.
static void share_wake(void *user)
{
    SiteBuild *build = (SiteBuild *)user;
    queue_push(build->parse_queue, str_empty(), now_us());
}

void parser_worker(u64 argument)
{
    thread_set_name("[WYN] Parser #%I64u", argument);
    SiteBuild *build = site_build();
    for (;;) {
        ArenaTemp scratch = scratch_begin(nullptr, 0);
        // Half of another worker's document comes first: that worker waits
        // for it. Then documents queued again while the queue was full; an
        // empty message only says to look at these two.
        if (!build->share || !work_share_help(build->share, scratch.arena)) {
            Str path = {};
            if (!parking_take_ready(build, scratch.arena, &path)) path = queue_pop(build->parse_queue, scratch.arena);
            if (path.size && build->config.job) build->config.job(build, path, scratch.arena);
        }
        scratch_end(scratch);
        // Nothing more to do, for now: change detection looks whether the
        // site is quiet at once rather than at its next tick.
        if (queue_used_bytes(build->parse_queue) == 0) site_build_poke();
        // A huge document's tree or pages are not kept resident for ever;
        // what an ordinary build touches stays, so the next one finds it warm.
        Arena **arenas = os_thread_scratch_arenas();
        for (u32 i = 0; i < 2; i += 1) arena_trim(arenas[i], arena_pos(arenas[i]), worker_scratch_keep);
    }
}

//- start and submit

SiteBuild *site_build_start(const SiteConfig *site, const SiteBuildConfig *tuning)
{
    if (SiteBuild *existing = site_build()) return existing;
    Arena *arena = arena_alloc(MiB(64), MiB(1));
    SiteBuild *build = arena ? push_struct<SiteBuild>(arena) : nullptr;
    if (!build) process_exit_refused("the site build", MiB(64));
    build->arena = arena;
    build->site = *site;
    build->site.layout.local_folder = str_copy(arena, site->layout.local_folder);
    build->site.layout.target = str_copy(arena, site->layout.target);
    build->site.layout.current_directory = str_copy(arena, site->layout.current_directory);
    build->config = *tuning;

    g_summary_pool.lock = cs_alloc();
    g_summary_pool.arena = arena_alloc(MiB(64), KiB(64));

    u64 processors = system_info()->processor_count;
    striped_table_init(arena, &build->documents, document_bucket_count, min_of<u64>(32, processors),
                       StripeLock_Slim, KiB(32), KiB(8));
    build->index_slots = push_array<DocumentRecord *>(arena, document_index_slots);
    // Room for the paths of some 13,000 sources: the main thread hands out
    // a site's first build without waiting for a worker to take each one
    // (a wait and a wake per document otherwise). Pages of the ring are
    // only touched as far as it fills.
    build->parse_queue = queue_alloc(arena, tuning->parse_queue_capacity ? tuning->parse_queue_capacity : MiB(1));
    build->parking = parking_alloc(arena);
    build->changes = push_struct<SiteChanges>(arena);
    if (build->changes) {
        build->changes->lock = cs_alloc();
        build->changes->noted = cv_alloc();
        build->changes->arena = arena_alloc(MiB(64), KiB(64));
    }
    g_site_build.store(build, std::memory_order_release);

    u64 workers = tuning->worker_count ? tuning->worker_count : site_build_worker_count(processors);
    build->worker_count = clamp_of<u64>(1, workers, site_build_max_workers);
    if (build->worker_count > 1) build->share = work_share_alloc(arena, share_wake, build);
    for (u64 i = 0; i < build->worker_count; i += 1) build->workers[i] = thread_start(i, parser_worker);
    return build;
}

SiteBuildProgress site_build_progress(void)
{
    SiteBuildProgress progress = {};
    SiteBuild *build = site_build();
    if (!build) return progress;
    progress.submitted = build->submitted_count;
    progress.completed = atomic_load_u64(&build->completed_builds);
    // Requeues are counted after parks they end, so the difference never
    // reads low for long; a negative glimpse counts as none.
    u64 requeued = atomic_load_u64(&build->requeue_count);
    u64 parked = atomic_load_u64(&build->park_count);
    progress.parked = parked > requeued ? parked - requeued : 0;
    progress.queued_bytes = queue_used_bytes(build->parse_queue);
    if (build->config.url_checks) progress.url_checks_pending = url_check_outstanding(build->config.url_checks);
    return progress;
}

bool site_build_quiet(const SiteBuildProgress *progress)
{
    return progress->completed >= progress->submitted && progress->parked == 0 && progress->queued_bytes == 0 &&
           progress->url_checks_pending == 0;
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
    DocumentRecord *record = doc_find(copy);
    // Built ahead of its turn since the start (document_job.cpp): that
    // build read the source as it stands, and a change after it is seen by
    // the watch like any other.
    if (record && atomic_exchange_u64(&record->ahead, DocAhead_Submitted) == DocAhead_Built) return true;
    // Submitted to be built, whatever it was before.
    if (record) doc_mark_stale(build, record, DocPush_None);
    if (record) atomic_store_u64(&record->queued, 1);
    bool pushed = queue_push(build->parse_queue, copy, u64_max);
    if (!pushed && record) atomic_store_u64(&record->queued, 0);
    return pushed;
}
