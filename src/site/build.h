// site/build.h: the site build: the document table, the parse queue, the
// published summaries and the workers that take documents off the queue.
//
// The build is a process-wide service: one per process, started once by
// site_start (site/site_run.h) and never stopped; site_build() finds it.
//
// A worker pops a path and hands it to the document job it was given
// (SiteBuildConfig.job; site/document_job.h takes one document from its
// source to its published summary). The job claims the document's record
// (an atomic busy flag: a second job for a busy document is dropped; the
// document is being built already, and change detection queues it again if
// that build turns out stale), and ends by storing a summary or by parking
// the document. The build itself builds nothing: it keeps the records, the
// queue, the summaries and the parking lot.
//
// Memory: each document owns an arena that every build rolls back to its
// start, so a rebuild reuses the memory of the previous one. The tree a
// build makes belongs to the worker building the document and to nobody
// else: what other documents need to know of it (status, title, output
// paths, anchors) is published as a DocumentSummary when a build
// completes, a self-contained copy that replaces the previous one under the
// stripe's exclusive lock. Readers copy a summary out under the shared lock
// and never keep a pointer into another document's memory. Records are
// never removed.
//
// Locks: the document table is a StripedTable (32 buckets, min(32,
// processors) stripes) with a slim lock per stripe: shared for lookups,
// exclusive for inserts and stores. The busy flag is claimed by
// compare-exchange and released under the exclusive lock. No stripe lock is
// held while pushing on the parse queue.
//
// Parking: a document whose links need work not done yet (a linked
// document that has published nothing, a web address without a result)
// publishes its summary marked incomplete, prints nothing and is parked
// under what it waits for; when one of those arrives (a summary published,
// a URL result stored) it goes back on the queue. A worker never waits for
// it and it is not parsed in between. A re-queue never blocks: when the
// queue is full, the path goes on a ready list that workers take from
// before they pop.
//
// A record's `queued` flag keeps change detection from queueing a document
// that waits in the queue already. A document built while another one's
// summary changed may show the old one (an anchor that is gone, a page that
// moved): the build's summary epoch, read when it claims the record, tells
// change detection to build it again.
#pragma once
#include "markup/parser.h"
#include "os/work_queue.h"
#include "site/diagnostics.h"
#include "site/options.h"

//- records

// A numbered anchor another document may link to: the first valid
// definition of each number.
struct DocumentAnchor {
    u64 number;
    u64 offset;
};

// What a completed build tells other documents. One block of memory that
// holds every string and array it points to, so publishing is one pointer
// swap and copying it out is one copy.
struct DocumentSummary {
    u64 size;                   // bytes of the whole block
    u64 generation;             // file-system generation of the build
    Str status;                 // the header's status value, as written
    Str title;                  // the title's text pieces joined with their spaces
    Str author;                 // the header's values as text, for the feed (site/feed.h)
    Str creation_date;
    Str last_modification_date;
    Str feed_summary;           // the summary line, or the excerpt
    Str *output_paths;          // absolute, in header order
    u64 output_path_count;
    DocumentAnchor *anchors;    // ascending by number
    u64 anchor_count;
    u64 message_count;
    u32 max_level;              // of the document's own diagnostics
    b32 published;              // status neither "draft" nor "personal" (any case)
    b32 has_context_document;   // the tree holds a "context_document" element
    u64 table_count;
    b32 complete;               // false: published by a build that waits for other documents or
                                // web addresses; its parse (status, anchors, paths) is final
};

struct DocumentRecord {
    DocumentRecord *next;
    DocumentRecord *index_next;  // the next record of its lookup slot
    Arena *arena;              // the document's own; every build starts at arena_start
    u64 arena_start;
    DocumentSummary *summary;  // the last complete build's; null before the first. Stripe lock.
    Str path;                  // copied, NUL-terminated
    u64 path_hash;             // str_hash of the path: chains are long, most compares stop here
    u64 busy;                  // atomic: 1 while a worker holds the document
    u64 built_generation;      // file-system generation the last complete build read; 0 = never built
    u64 last_requeue_us;       // set by change detection
    u64 build_count;           // completed builds of this document
    u64 table_order;           // bucket index << 40 | place in the bucket: the table's order
    u64 parse_count;           // atomic: parses, complete or parked
    u64 parked;                // atomic: 1 while parked, waiting for what its links need
    u64 queued;                // atomic: 1 from a push on the parse queue until a worker pops it
    u64 claim_epoch;           // the summary epoch when the build in hand began; the claimer's
    u64 built_epoch;           // the summary epoch when the last complete build began
};

struct DocumentBucket {
    DocumentRecord *first;
    DocumentRecord *last;
    u64 count;
};

constexpr u64 document_bucket_count = 32;
// Lookups go through slots: 32 buckets keep the table's order (bucket, then
// insertion) for change detection and the index document, but a site of
// 100,000 documents would walk chains of 3,000 records on every lookup. A
// slot's records all belong to one bucket (the slot count is a multiple of
// 32), so the bucket's stripe lock guards the slot too.
constexpr u64 document_index_slots = 65536;
static_assert(document_index_slots % document_bucket_count == 0, "a slot must lie inside one bucket");
constexpr u64 site_build_max_workers = 4;
constexpr u64 document_size_limit = MiB(32);   // larger sources are refused with a warning
// What a built document keeps of its arena: its tree is given back once its
// pages are written, and a small reservation stays for the next build. Kept
// pages stay resident for every document: 16 KiB held 195 MiB for 10,000
// documents (two thirds of the process) to spare a rebuild 4 of its 30 or
// so page faults.
constexpr u64 document_arena_keep = KiB(4);
// What a parser worker keeps of each scratch arena between builds: its
// document's tree and pages are made there.
constexpr u64 worker_scratch_keep = MiB(8);

struct UrlCheckService;
struct SiteBuild;

// Takes one popped path to its end: a stored summary, a parked document, or
// nothing when another worker holds it. `scratch` is the worker's, popped
// after the call.
typedef void SiteDocumentJob(SiteBuild *build, Str path, Arena *scratch);

struct SiteBuildConfig {
    SiteDocumentJob *job;         // what a worker does with a popped path; null: nothing
    u64 worker_count;             // 0: processors - 1, from 1 to 4
    DiagPrintSettings print;      // how diagnostics are printed (print.silent: not at all)
    b32 no_pages;                 // write no page and set up no shell (tests of the table alone)
    UrlCheckService *url_checks;  // null: web addresses are not checked
    u64 parse_queue_capacity;     // 0: 64 KiB
};

struct ParkingLot;

struct SiteBuild {
    Arena *arena;
    DiagnosticList messages;          // link warnings about other documents
    u64 submitted_count;
    StrList submitted;                // paths submitted by the main thread, copied
    SiteConfig site;                  // copied at start; read-only after
    StripedTable documents;           // slim lock per stripe
    DocumentBucket buckets[document_bucket_count];
    DocumentRecord **index_slots;     // document_index_slots heads, through index_next
    WorkQueue *parse_queue;           // document paths
    u64 worker_count;
    ThreadRecord *workers[site_build_max_workers];
    SiteBuildConfig config;
    u64 completed_builds;             // atomic
    u64 record_count;                 // atomic: documents in the table
    u64 dropped_jobs;                 // atomic: jobs that found their document busy
    ParkingLot *parking;              // incomplete documents, by what they wait for
    u64 park_count;                   // atomic: documents parked so far
    u64 requeue_count;                // atomic: parked documents queued again
    u64 summary_epoch;                // atomic: raised when a published summary changes what others read
};

//- the build

// Main thread, once: creates the build and starts the workers (they wait
// for the queue). Later calls return the build already started.
SiteBuild *site_build_start(const SiteConfig *site, const SiteBuildConfig *tuning);
SiteBuild *site_build(void);   // null before the start
u64 site_build_worker_count(u64 processor_count);

// Main thread only: records the path and queues it, waiting while the queue
// is full. False when the path is too long for the parse queue (it can
// never be built; the caller reports it).
bool site_build_submit(Str path);
// Main thread, before submitting: makes the path's record, so a document
// that links it knows it will be built and waits for it, however far the
// main thread has come with its submissions. False for a path too long for
// the parse queue (it is never submitted, so nothing may wait for it).
bool site_build_register(Str path);
// The URL check service's result callback (UrlCheckConfig.on_result): the
// documents parked for `address` go back on the queue. Never blocks.
void site_build_url_result(void *user, Str address);
// The key of a path in the document table: the hash of the path below the
// local folder (of the whole path when it lies elsewhere).
u64 doc_path_hash(const SiteBuild *build, Str path);
// The record of a path, or null when no build has seen it. Its fields other
// than `path` belong to the stripe lock: read them through the calls below.
DocumentRecord *doc_find(Str path);
// A copy, on `arena`, of the summary the last complete build of `path`
// published; null when the path has no record or was never built.
DocumentSummary *doc_summary_copy(Arena *arena, Str path);
// The summary of a parsed document, built on `arena` as one block.
DocumentSummary *doc_summary_make(Arena *arena, const ParsedDocument *doc, u64 generation);
// Claims the record of a path for building, creating it when missing; null
// when another worker holds it. The caller releases it with doc_store.
DocumentRecord *doc_claim(SiteBuild *build, Str path);
// Publishes a build's summary (copied; the generation is the one its
// source was read at) and releases the record.
void doc_store(SiteBuild *build, DocumentRecord *record, const ParsedDocument *parsed, u64 generation);
// Publishes the summary of a build that cannot complete yet (its status,
// anchors and output paths are final, so documents linking back need not
// wait for it in turn) and parks the document under every linked document
// and web address named: the first of them to arrive queues it again.
void doc_park(SiteBuild *build, DocumentRecord *record, const ParsedDocument *parsed, u64 generation,
              const StrList *documents, const StrList *addresses);

// A snapshot of how far the build has come, for the status line and for
// telling when the site is quiet. Counters are read without a lock: each is
// exact, the set is not taken at one instant.
struct SiteBuildProgress {
    u64 submitted;            // documents the main thread submitted
    u64 completed;            // complete builds so far (rebuilds count again)
    u64 parked;               // documents waiting for others or for web addresses
    u64 queued_bytes;         // of the parse queue
    u64 url_checks_pending;   // web addresses without a result
};
SiteBuildProgress site_build_progress(void);
// Nothing left to do that the build knows of: every submitted document
// built, none parked, the queue empty, no web address pending. Callers look
// twice a tick apart before they trust it, since the counters are not read
// at one instant.
bool site_build_quiet(const SiteBuildProgress *progress);

// Thread entry; `argument` is the worker's index.
void parser_worker(u64 argument);
