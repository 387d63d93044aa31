// site/depends.h: what a build reads from outside its source, and which
// documents a change makes out of date.
//
// A document's pages show more than its source: whether the documents it
// links are published, where their pages are and where their anchors sit;
// whether the files it links are there; the tables of the CSV files and the
// sizes of the pictures it embeds; the results of its web addresses; on
// the index page, the website index. While a document is built, every such
// read goes through a DocumentReadLog, which notes what was asked and a
// hash of what was used of the answer. The notes are stored with the
// build (DocumentReads, site/build.h).
//
// When something changes (site/build.h's changes: a file, a document's
// facts, a web address's result), change detection calls depends_follow:
// every document that read the changed thing is asked again, and marked
// out of date when the answer differs from what it used. A build that
// read something just before it changed and stored its reads just after
// the change was followed up would be missed, so each build checks its
// own reads again after storing them (depends_verify) when any change was
// noted while it ran.
//
// Threads: a log belongs to the worker building the document; follow-up
// runs on change detection's thread. Neither holds a lock while it asks
// for an answer, so the answers' own locks are never nested.
#pragma once
#include "os/file_service.h"
#include "site/links.h"

struct DocumentReadNote {
    DocumentReadNote *next;
    DocumentRead read;
    Str key;   // the path or the address, on the log's arena
};

struct DocumentReadLog {
    SiteBuild *build;
    Arena *arena;                 // the worker's own, emptied when the next log begins
    DocumentReadNote *first;
    u64 count;
    u64 changes_at_start;         // the build's change count when the build began
};

// Builds a worker runs inside another (the documents a build's links wait
// for, built first): each depth keeps notes of its own.
constexpr u32 depends_log_depths = 9;
// One log per worker and depth at a time: a new one empties the last of
// its depth. `depth` is below depends_log_depths.
DocumentReadLog depends_log_begin(SiteBuild *build, u32 depth);

// The link checks' lookups, noted in the log.
LinkLookups depends_link_lookups(DocumentReadLog *log);
// An embedded file's bytes through the file service, noted in the log;
// release with fs_read_done.
FsContent depends_read_file(DocumentReadLog *log, Str path, u64 deadline_us);
// What a path holds, through the file service, noted in the log.
u32 depends_file_state(DocumentReadLog *log, Str path);
// Another document's published summary (null when it has none yet), noted
// as read for all of its facts.
DocumentSummary *depends_summary(DocumentReadLog *log, Arena *arena, Str path);

// The notes as one array on `arena`, for doc_store.
DocumentBuilt depends_built(DocumentReadLog *log, Arena *arena);
// After doc_store: whether every read still gives what the build used.
// False: the document must be built again.
bool depends_verify(DocumentReadLog *log);

// Marks every document whose reads the changes touch and whose answers
// differ now, and returns how many it marked. Up to `push_limit` of them
// are queued at once; past that, change detection's walk queues them in
// its measured steps. Change detection's thread.
u64 depends_follow(SiteBuild *build, const SiteChange *changes, u64 push_limit);
