// site/change_detect.h: change detection, the generated index document and
// knowing when the site is quiet.
//
// One thread, "[WYN] evictor/detector thread", keeps the site up to date
// while wyn runs. Every 100 ms it compares each document's built generation
// with the file-system generation, and the summary epoch its build began at
// with the build's (another document's summary changed since: its title,
// status, pages or anchors), and queues documents that are out of date: at
// most one per bucket of the document table per pass, none within a second
// of its last queueing, none that is queued, being built or
// parked (parked documents go back on the queue when what they wait for
// arrives). A document whose own source changed is queued first: the file
// service tells the build at once (FsObserver), so the page being edited
// does not wait its turn behind a site-wide rebuild. When a template or a
// style input changes, the shell's outputs are regenerated before anything
// is queued again.
//
// Once every document is built at the current generation, the index
// document (wyn_files/index.wyn, listing every published document) is made
// and written by site/site_outputs.h, and queued here like any other
// document. When the index is built too, the site is quiet: the site-wide
// outputs are brought up to date, watch mode prints one line saying what
// was rebuilt, and a one-shot run may stop. The detector decides what to
// queue and when; it writes nothing itself.
//
// New sources below the target folder are looked for every few seconds and
// built; a deleted source is rebuilt as empty, which removes its pages
// through the page manifest.
//
// Change detection is a process-wide service: one thread and its state,
// started once by site_start.
//
// Locks: the detector takes a bucket's stripe lock shared to look and
// exclusive to stamp a queueing time, and never holds one while pushing on
// the parse queue. Its list of changed sources has a lock of its own, held
// for list work only.
#pragma once
#include "site/build.h"

struct DetectorConfig {
    b32 quiet_lines;   // watch mode: a line each time the site is quiet again
};

// Starts the thread (site_start, once). It makes no pass until
// site_build_submissions_done: before that the table is still filling and
// would look quiet.
void detector_start(SiteBuild *build, const DetectorConfig *config);
// Main thread: every start-up source is registered and submitted.
void site_build_submissions_done(void);

// Blocks until the site is quiet at least `quiet_count` times since the
// start; false when the deadline passes first.
bool site_build_wait_quiet(u64 quiet_count, u64 deadline_us);

struct DetectorCounts {
    u64 passes;
    u64 requeues;            // documents queued by the generation walk
    u64 priority_requeues;   // documents queued because their own source changed
    u64 index_writes;        // times wyn_files/index.wyn was written
    u64 index_builds;        // times the index was queued
    u64 quiet_count;         // times the site became quiet
    u64 new_sources;         // sources found after the start
    u64 shell_refreshes;     // shell outputs regenerated
};
DetectorCounts detector_counts(void);

