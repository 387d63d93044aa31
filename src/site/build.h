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
// Memory: a build makes its tree on the worker's scratch, which it rolls
// back when the document is done; only an index document, whose source is
// read from disk, owns an arena. The tree a build makes belongs to the
// worker building the document and to nobody else: what other documents need to know of it (status, title, output
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
// Staleness. A document is current when it was built completely and
// nothing it shows has changed since: its record's stale mark still holds
// the value its last complete build began at. Everything that changes what
// a page shows raises the mark: the document's own source (the file
// service tells at once), what its build read from outside it (recorded
// per build as DocumentReads: other documents' published facts, the state
// of linked files, embedded files' contents, web address results; see
// site/depends.h), a page path it shares with other documents, and the
// frame of every page. A mark raised while the document is built makes
// the build stale as it ends, and the document is queued again at once.
// A job for a document that is current is dropped.
#pragma once
#include "markup/parser.h"
#include "os/work_queue.h"
#include "site/diagnostics.h"
#include "site/options.h"

struct WorkShare;   // site/work_share.h

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
    Str status;                 // the header's status value, as written
    Str title;                  // the title's text pieces joined with their spaces
    Str author;                 // the header's values as text, for the feed (site/feed.h)
    Str creation_date;
    Str last_modification_date;
    Str feed_summary;           // the summary line, or the excerpt
    Str *output_paths;          // absolute, in header order
    u64 output_path_count;
    Str page;                   // where links to it lead (link_document_page); empty: nowhere
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

// One thing a build read from outside its source, and what it found: the
// value is a hash of what the build used of it, so a later look that gives
// another value means the pages may show something else now.
enum DocumentReadKind : u32 {
    DocumentRead_Document = 1,      // another document's facts; key: doc_path_hash of its path
    DocumentRead_FileState = 2,     // what a linked path holds; key: str_hash of the path
    DocumentRead_FileContent = 3,   // an embedded file's bytes; key: str_hash of the path
    DocumentRead_Address = 4,       // a web address's check result; key: str_hash of the address
};

struct DocumentRead {
    u64 key;
    u64 value;
    u32 kind;     // DocumentReadKind
    u32 anchor;   // DocumentRead_Document: the anchor number asked for, or link_no_anchor
};

// What one complete build read, one block (like a summary), sorted by key.
struct DocumentReads {
    u64 size;
    u64 count;
    DocumentRead *items;
};

// Why a document goes before queued work: its own source was saved, or a
// saved document waits for it.
enum DocFirst : u32 {
    DocFirst_No = 0,
    DocFirst_Saved = 1,
    DocFirst_Needed = 2,
};

struct DocumentRecord {
    DocumentRecord *next;
    DocumentRecord *index_next;  // the next record of its lookup slot
    Arena *arena;              // the document's own when doc_reads_own_source, from its first build; every build starts at arena_start
    u64 arena_start;
    DocumentSummary *summary;  // the last build's (complete or parked); null before the first. Stripe lock.
    DocumentReads *reads;      // what the last complete build read; null before. Stripe lock.
    Str path;                  // copied, NUL-terminated
    u64 path_hash;             // doc_path_hash of the path: chains are long, most compares stop here
    u64 busy;                  // atomic: 1 while a worker holds the document
    u64 stale_mark;            // atomic: raised by every change that may alter its pages
    u64 claim_mark;            // the stale mark when the build in hand began; the claimer's
    u64 built_mark;            // the stale mark the last complete build began at. Stripe lock.
    u64 first;                 // atomic DocFirst: it goes before queued work
    u64 last_requeue_us;       // set by change detection
    u64 build_count;           // completed builds of this document
    u64 table_order;           // bucket index << 40 | place in the bucket: the table's order
    u64 parse_count;           // atomic: parses, complete or parked
    u64 parked;                // atomic: 1 while parked, waiting for what its links need
    u64 queued;                // atomic: 1 from a push on the parse queue until a worker pops it
    u64 ahead;                 // atomic: DocAhead, whether a build went ahead of its submission
    u32 warning_count;         // of the last complete build, its pages' warnings with them
    u32 error_count;
    b32 is_index;              // wyn_files/index.wyn: change detection decides when it is built
    b32 pageless_noted;        // the author was told it has no page; the claimer's
    u32 claimed_first;         // DocFirst of the build in hand; the claimer's
    void *park_ticket;         // while parked: its ticket in the parking lot; the lot's lock
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
// What a built document keeps of its own arena (an index document's): its
// source is given back once its pages are written, and a small reservation
// stays for the next build. Kept
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
    u64 worker_count;             // 0: processors - 1 from three on, else one each; at most 4
    DiagPrintSettings print;      // how diagnostics are printed (print.silent: not at all)
    b32 no_pages;                 // write no page and set up no shell (tests of the table alone)
    UrlCheckService *url_checks;  // null: web addresses are not checked
    u64 parse_queue_capacity;     // 0: 1 MiB
};

struct ParkingLot;
struct SiteChanges;

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
    WorkShare *share;                 // half of a large document's pages; null with one worker
    u64 worker_count;
    ThreadRecord *workers[site_build_max_workers];
    SiteBuildConfig config;
    u64 completed_builds;             // atomic
    u64 record_count;                 // atomic: documents in the table
    u64 dropped_jobs;                 // atomic: jobs that found their document busy
    ParkingLot *parking;              // incomplete documents, by what they wait for
    u64 park_count;                   // atomic: documents parked so far
    u64 requeue_count;                // atomic: parked documents queued again
    u64 mark_count;                   // atomic: stale marks raised (documents made out of date)
    u64 listing_changes;              // atomic: raised when what the index lists may have changed
    u64 feed_changes;                 // atomic: the same for the feed and the site map
    SiteChanges *changes;             // what changed, for change detection to follow up
    u64 change_count;                 // atomic: changes noted so far
    u64 bucket_marks[document_bucket_count];   // atomic: marks and new records per bucket
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
// A copy, on `arena`, of the summary the last build of `path` published
// (complete or parked); null when the path has no record or was never
// built.
DocumentSummary *doc_summary_copy(Arena *arena, Str path);

// Whether `path` is the site's index document, the one wyn writes.
bool is_index_document(Str local_folder, Str path);
// The summary of a parsed document, built on `arena` as one block.
DocumentSummary *doc_summary_make(Arena *arena, const ParsedDocument *doc, Str local_folder);
// Whether the document's source is read straight from disk onto its own
// arena (an index document, which change detection writes just before it
// is queued) rather than from the file service; only such a document has
// an arena of its own.
bool doc_reads_own_source(const DocumentRecord *record);
// Claims the record of a path for building, creating it when missing; null
// when another worker holds it or the document is current (the job is
// dropped either way). The caller lets go of it with doc_store and
// doc_release, or with doc_park.
DocumentRecord *doc_claim(SiteBuild *build, Str path);

// What a complete build leaves besides its summary.
struct DocumentBuilt {
    const DocumentRead *reads;   // what it read from outside its source, any order, repeats allowed
    u64 read_count;
    u32 warning_count;           // its diagnostics and its pages' warnings
    u32 error_count;
};
// Publishes a complete build's summary and what it read. The record stays
// held until doc_release, so whatever the build still has to mark is
// marked before the site can look quiet.
void doc_store(SiteBuild *build, DocumentRecord *record, const ParsedDocument *parsed, const DocumentBuilt *built);
// Lets go of a stored record. A document marked stale while it was held is
// queued again.
void doc_release(SiteBuild *build, DocumentRecord *record);
// Publishes the summary of a build that cannot complete yet (its status,
// anchors and output paths are final, so documents linking back need not
// wait for it in turn) and parks the document under every linked document
// and web address named that has not arrived: the last of them to arrive
// queues it again.
void doc_park(SiteBuild *build, DocumentRecord *record, const ParsedDocument *parsed, const StrList *documents,
              const StrList *addresses);

// How a document marked stale is queued.
enum DocPush : u32 {
    DocPush_None = 0,    // not now: change detection's walk queues it in its turn
    DocPush_Queue = 1,   // at the end of the parse queue, when there is room
    DocPush_First = 2,   // before everything queued: its own source changed
};
// Marks a document out of date. A document being built or parked is
// queued when that ends; the index document only by change detection.
void doc_mark_stale(SiteBuild *build, DocumentRecord *record, u32 push);
// Whether the last complete build is current.
bool doc_current(SiteBuild *build, DocumentRecord *record);
// Whether no build of the document began yet: one that has begun reads
// what is on disk now.
bool doc_unbuilt(SiteBuild *build, DocumentRecord *record);
// Whether the document never published a summary, nobody holds it and it
// is not parked: a link to it waits until a worker gets that far.
bool doc_unparsed(SiteBuild *build, DocumentRecord *record);
// A document built ahead, for a build whose links wait for it, before the
// main thread submitted it: its submission then queues nothing, since that
// build read the source as it stands after the start.
enum DocAhead : u64 {
    DocAhead_None = 0,        // registered, neither submitted nor built ahead
    DocAhead_Built = 1,       // a build ahead of the submission began
    DocAhead_Submitted = 2,   // submitted: it waits in the queue like any other
};
// Whether a build may take the document ahead of the queue: it is
// submitted and waiting, or this call claimed it before its submission.
bool doc_take_ahead(DocumentRecord *record);

//- changes, for change detection
//
// Anything that may make other documents out of date is noted here, from
// any thread and without waiting: a changed file (from the file service),
// a document whose published facts changed or that appeared, a web
// address whose result arrived. Change detection takes the notes, finds
// the documents whose reads they touch and marks them.

enum SiteChangeKind : u32 {
    SiteChange_File = 1,       // a watched file's content or state changed
    SiteChange_Document = 2,   // a document's facts changed, or its record was made
    SiteChange_Address = 3,    // a web address's result was stored
    SiteChange_NewName = 4,    // a name appeared in a watched folder
    SiteChange_Touched = 5,    // the bytes of a file nobody read yet changed (its state did not)
};

struct SiteChange {
    SiteChange *next;
    u32 kind;
    Str key;   // the path or the address
};

void site_build_note_change(u32 kind, Str key);
// Takes every change noted so far, in the order noted, copied to `arena`.
SiteChange *site_build_take_changes(Arena *arena);
// Waits until a change is noted, a worker ran out of work (site_build_poke)
// or `timeout_ms` passes.
void site_build_wait_changes(u64 timeout_ms);
void site_build_poke(void);

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
