// site/build.h: the site build: the document table, the parse queue and the
// parser workers.
//
// The main thread starts the build once and submits every source document;
// the change-detection thread submits documents again when their sources
// change. A parser worker pops a path, claims the document's record with an
// atomic busy flag (a second job for a busy document is dropped: the
// document is being built already, and change detection queues it again if
// that build turns out stale), rolls the document's arena back, reads the
// source (the index document straight from disk, every other document
// through the file service), tokenizes and parses it on the document's
// arena, indexes its tables, prints its diagnostics and stores the result
// with the file-system generation the source was read at.
//
// Memory: each document owns an arena that every build rolls back to its
// start, so a rebuild reuses the memory of the previous one. A record's
// parse result lives on that arena; it is cleared when a worker claims the
// document, so other threads see either a complete result or none, never
// one being overwritten. Records are never removed.
//
// Locks: the document table is a StripedTable (32 buckets, min(32,
// processors) stripes) with a slim lock per stripe: shared for lookups,
// exclusive for inserts and stores. The busy flag is claimed by
// compare-exchange and released under the exclusive lock. No stripe lock is
// held while pushing on the parse queue.
//
// Not built yet, with their places marked in build.cpp: link validation
// (file links, web links, unresolved references, and putting an incomplete
// document back on the queue), page writing, the page variants and style
// sheets, and the change-detection thread.
#pragma once
#include "markup/document.h"
#include "os/work_queue.h"

//- records

struct DocumentRecord {
    DocumentRecord *next;
    DocumentRecord *index_next;  // the next record of its lookup slot
    Arena *arena;              // the document's own; every build starts at arena_start
    u64 arena_start;
    ParsedDocument parsed;     // the last complete build's result; empty while a build runs
    Str path;                  // copied, NUL-terminated
    u64 path_hash;             // str_hash of the path: chains are long, most compares stop here
    u64 busy;                  // atomic: 1 while a worker holds the document
    u64 built_generation;      // file-system generation the last complete build read; 0 = never built
    u64 last_requeue_us;       // set by change detection
    u64 build_count;           // completed builds of this document
};

struct DocumentBucket {
    DocumentRecord *first;
    DocumentRecord *last;
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

struct SiteBuildConfig {
    u64 worker_count;   // 0: processors - 1, from 1 to 4
    b32 quiet;          // print no diagnostics (benchmarks)
};

struct SiteBuild {
    Arena *arena;
    DiagnosticList messages;          // link warnings about other documents
    u64 submitted_count;
    StrList submitted;                // paths submitted by the main thread, copied
    Str local_folder;
    u32 file_path_checks;
    u32 url_checks;
    u32 js;
    StripedTable documents;           // slim lock per stripe
    DocumentBucket buckets[document_bucket_count];
    DocumentRecord **index_slots;     // document_index_slots heads, through index_next
    WorkQueue *parse_queue;           // document paths
    u64 worker_count;
    ThreadRecord *workers[site_build_max_workers];
    ThreadRecord *detector;           // change detection: not started yet
    SiteBuildConfig config;
    u64 completed_builds;             // atomic
    u64 dropped_jobs;                 // atomic: jobs that found their document busy
};

//- the build

// Main thread, once: creates the build and starts the workers. Later calls
// return the build already started.
SiteBuild *site_build_start(Str local_folder, b32 file_path_checks, b32 url_checks, b32 js);
SiteBuild *site_build_start_with(Str local_folder, b32 file_path_checks, b32 url_checks, b32 js,
                                 const SiteBuildConfig *config);
SiteBuild *site_build(void);   // null before the start
u64 site_build_worker_count(u64 processor_count);

// Main thread only: records the path and queues it, waiting while the queue
// is full. False when the path is too long for the parse queue (it can
// never be built; the caller reports it).
bool site_build_submit(Str path);
// The record of a path, or null when no build has seen it.
DocumentRecord *doc_find(Str path);
// Claims the record of a path for building, creating it when missing; null
// when another worker holds it. The caller releases it with doc_store.
DocumentRecord *doc_claim(SiteBuild *build, Str path);
// Stores a build's result, the generation its source was read at, and
// releases the record.
void doc_store(SiteBuild *build, DocumentRecord *record, const ParsedDocument *parsed, u64 generation);

// Thread entry; `argument` is the worker's index.
void parser_worker(u64 argument);
