// site/change_detect.h: change detection, the generated index document and
// knowing when the site is quiet.
//
// One thread, "[WYN] evictor/detector thread", keeps the site up to date
// while wyn runs. It wakes as soon as something is noted (site/build.h's
// changes), and every 100 ms besides:
//  - a source whose content changed marks its own document out of date,
//    queued before everything else, so the page being edited does not wait
//    behind other work;
//  - every change is followed to the documents that read what changed
//    (site/depends.h), which are marked and queued; a change that marks
//    more than a few hundred leaves them to the walk below;
//  - when a template or a style input changed, the shell's outputs are
//    regenerated first and every document is marked;
//  - a walk over the table queues documents that are out of date and not
//    queued yet: at most one per bucket of the table per walk, a walk at
//    most every 100 ms, none within a second of its last queueing, none
//    that is being built or parked (parked documents go back on the queue
//    when what they wait for arrives). This keeps a site-wide rebuild from
//    filling the queue ahead of what the author edits next.
//
// Once every document is current, the index document (wyn_files/index.wyn,
// listing every published document) is made and written by
// site/site_outputs.h when what it lists changed, and built when it is out
// of date like any other document. When the index is current too, the site
// is quiet: the site-wide outputs are brought up to date, watch mode prints
// one line saying what was rebuilt and what stands in the whole site
// (warnings and errors), and a one-shot run may stop. The index's own file
// is watched: deleted, it is written again; replaced by the author's, that
// one is built (and the author warned) at once. The detector decides what
// to queue and when; it writes nothing itself.
//
// New sources below the target folder are looked for when a watched folder
// names a new .wyn file, and every few seconds besides; a new source is
// built, and the documents that link to its path are built again. A
// deleted source is rebuilt as empty, which removes its pages through the
// page manifest.
//
// Change detection is a process-wide service: one thread and its state,
// started once by site_start.
//
// Locks: the detector takes a bucket's stripe lock shared to look and
// exclusive to stamp a queueing time, and never holds one while pushing on
// the parse queue.
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
    u64 requeues;            // documents queued by the walk
    u64 first_requeues;      // documents queued first because their own source changed
    u64 followed;            // documents marked because something they read changed
    u64 index_writes;        // times wyn_files/index.wyn was written
    u64 index_builds;        // times the index was queued
    u64 quiet_count;         // times the site became quiet
    u64 new_sources;         // sources found after the start
    u64 shell_refreshes;     // shell outputs regenerated
};
DetectorCounts detector_counts(void);

