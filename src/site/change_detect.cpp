// site/change_detect.cpp: the detector thread and the index document.
#include "site/change_detect.h"
#include "site/discovery.h"
#include "site/pages.h"
#include "site/site_outputs.h"

#include "os/file_service.h"

#include <atomic>

//- state

namespace {

// A source whose content changed: queued ahead of the rest until a build
// has read it at the generation of the change.
struct ChangedSource {
    ChangedSource *next;
    Str path;
    u64 generation;
    u64 pushed_us;   // 0: not queued yet
};

struct Detector {
    SiteBuild *build;
    DetectorConfig config;
    ThreadRecord *thread;
    std::atomic<u64> submissions_done;

    // Changed sources, from the streamers. The arena is rolled back
    // whenever the list is empty, so a long watch does not grow.
    CriticalSection *changes_lock;
    Arena *changes_arena;
    u64 changes_arena_start;
    ChangedSource *changes;
    ChangedSource *free_changes;
    std::atomic<u64> first_change_us;   // earliest change not yet quiet; 0: none

    // Touched by the detector thread only.
    u64 last_generation;
    u64 index_generation;        // the generation the index was last made at; 0: never
    u64 index_epoch;             // the summary epoch it was made at
    u64 index_builds_before;     // the index record's build count when it was last queued
    b32 index_pending;
    b32 busy;                    // something was out of date since the last quiet
    u64 busy_since_us;
    u64 builds_at_busy;
    u64 pages_at_busy;
    StrList rebuilt_names;       // changed sources of this busy period, for the quiet line
    u64 rebuilt_name_count;
    Arena *names_arena;
    u64 next_discovery_us;
    SourceWalk walk;             // the detector thread's, for new sources
    // What the site looked like when it was last quiet: while none of it
    // moves, no document can be out of date and the table is not walked.
    b32 quiet_stamped;
    u64 quiet_generation;
    u64 quiet_epoch;
    u64 quiet_builds;
    u64 quiet_records;

    CriticalSection *quiet_lock;
    CondVar *quiet_cv;
    std::atomic<u64> quiet_count;

    std::atomic<u64> passes, requeues, priority_requeues, index_builds, new_sources, shell_refreshes;
};

Detector g_detector;

constexpr u64 requeue_interval_us = 1000000;   // a document is queued at most once a second
constexpr u64 discovery_interval_us = 3000000;  // new sources are looked for this often

bool is_index_path(SiteBuild *build, Str path)
{
    Str local = build->site.layout.local_folder;
    return str_match(local, path, StrMatch_Prefix) && str_eq(str_skip(path, local.size), str_lit("wyn_files/index.wyn"));
}

} // namespace

//- changed sources

// The file service's observer: runs on a streamer with no lock held.
static void detector_source_changed(void *user, Str path, u64 generation)
{
    (void)user;
    Detector *d = &g_detector;
    u64 expected = 0;
    d->first_change_us.compare_exchange_strong(expected, now_us());
    cs_enter(d->changes_lock);
    ChangedSource *c = d->free_changes;
    if (c) d->free_changes = c->next;
    else c = push_struct<ChangedSource>(d->changes_arena);
    if (c) {
        c->path = str_copy(d->changes_arena, path);
        c->generation = generation;
        c->pushed_us = 0;
        c->next = d->changes;
        d->changes = c;
    }
    cs_leave(d->changes_lock);
}

static void detector_unreadable(void *user, Str path)
{
    (void)user;
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    DiagnosticList list = {};
    Str text = str_pushf(scratch.arena, "%S could not be read; it is taken as empty until it changes", path);
    diag_push_at(scratch.arena, &list, nullptr, 0, DiagLevel_Warning, text);
    if (g_detector.build) diag_print_log(&g_detector.build->config.print, &list);
    scratch_end(scratch);
}

// Pushes a document's path without waiting: a full queue only means the
// next pass tries again. No stripe lock is held here.
static bool detector_push(SiteBuild *build, DocumentRecord *record, u64 t)
{
    atomic_store_u64(&record->queued, 1);
    if (!queue_push(build->parse_queue, record->path, now_us())) {
        atomic_store_u64(&record->queued, 0);
        return false;
    }
    TableStripe *stripe = striped_stripe_of(&build->documents, record->table_order >> 40);
    srw_lock_exclusive(stripe->slim);
    record->last_requeue_us = t;
    srw_unlock_exclusive(stripe->slim);
    return true;
}

struct RecordState {
    u64 built_generation;
    u64 busy;
    u64 queued;
    u64 parked;
    u64 build_count;
};

static RecordState record_state(SiteBuild *build, DocumentRecord *record)
{
    TableStripe *stripe = striped_stripe_of(&build->documents, record->table_order >> 40);
    srw_lock_shared(stripe->slim);
    RecordState s = {record->built_generation, atomic_load_u64(&record->busy), atomic_load_u64(&record->queued),
                     atomic_load_u64(&record->parked), record->build_count};
    srw_unlock_shared(stripe->slim);
    return s;
}

// The changed sources first, in the pass after the change. An entry stays
// until a build has read the source at its generation, so a job dropped
// because the document was busy is queued again.
static bool detector_changed_first(Detector *d, u64 t)
{
    SiteBuild *build = d->build;
    cs_enter(d->changes_lock);
    ChangedSource *list = d->changes;
    d->changes = nullptr;
    cs_leave(d->changes_lock);

    ChangedSource *keep = nullptr;
    ChangedSource *done = nullptr;
    for (ChangedSource *c = list, *next = nullptr; c; c = next) {
        next = c->next;
        DocumentRecord *record = doc_find(c->path);
        bool finished = true;
        if (record && !is_index_path(build, record->path)) {
            RecordState s = record_state(build, record);
            // Parked: it goes back on the queue when what it waits for
            // arrives, and reads the new source then.
            if (s.built_generation < c->generation && !s.parked) {
                finished = false;
                bool stale_push = c->pushed_us && t - c->pushed_us >= requeue_interval_us;
                if (!s.busy && !s.queued && (!c->pushed_us || stale_push) && detector_push(build, record, t)) {
                    if (!c->pushed_us) {
                        d->priority_requeues.fetch_add(1);
                        if (d->rebuilt_name_count < 3) {
                            Str local = build->site.layout.local_folder;
                            Str shown = str_match(local, c->path, StrMatch_Prefix) ? str_skip(c->path, local.size) : c->path;
                            str_list_push(d->names_arena, &d->rebuilt_names, str_copy(d->names_arena, shown));
                        }
                        d->rebuilt_name_count += 1;
                    }
                    c->pushed_us = t;
                }
            }
        }
        if (finished) {
            c->next = done;
            done = c;
        } else {
            c->next = keep;
            keep = c;
        }
    }

    cs_enter(d->changes_lock);
    for (ChangedSource *c = keep, *next = nullptr; c; c = next) {
        next = c->next;
        c->next = d->changes;
        d->changes = c;
    }
    for (ChangedSource *c = done, *next = nullptr; c; c = next) {
        next = c->next;
        c->next = d->free_changes;
        d->free_changes = c;
    }
    bool pending = d->changes != nullptr;
    if (!pending) {
        // Nothing refers to the paths any more: give their bytes back.
        arena_pop_to(d->changes_arena, d->changes_arena_start);
        d->free_changes = nullptr;
    }
    cs_leave(d->changes_lock);
    return pending;
}

//- new sources

static void detector_discover(Detector *d)
{
    SiteBuild *build = d->build;
    Str target = build->site.layout.target;
    if (!target.size || !char_is_slash((u8)target.str[target.size - 1])) return;   // one file: nothing to find
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    StrList files = {};
    // Only folders whose entries changed are listed: a quiet watch over a
    // large site stats its folders and nothing else.
    site_walk_files(&d->walk, scratch.arena, &files, target);
    u64 found = 0;
    for (StrNode *n = files.first; n; n = n->next) {
        Str path = n->string;
        if (!str_eq(path_extension(path), str_lit("wyn")) || str_eq(path_file_name(path), str_lit("index.wyn"))) continue;
        if (doc_find(path)) continue;
        if (!site_build_register(path)) continue;
        fs_prefetch(path);
        found += 1;
    }
    // A new document changes what links to it can find: every document is
    // out of date, as after any change.
    if (found) {
        d->new_sources.fetch_add(found);
        u64 expected = 0;
        d->first_change_us.compare_exchange_strong(expected, now_us());
        fs_generation_raise();
    }
    scratch_end(scratch);
}

// Has the index made and written (site/site_outputs.h) and queues it for
// building. False when the index cannot be written this pass.
static bool detector_index(Detector *d, u64 t)
{
    SiteBuild *build = d->build;
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    Str path = site_index_path(scratch.arena, build);
    bool ok = site_outputs_write_index(build) != IndexWrite_Failed;
    if (ok) {
        // Built at every new generation, written or not: its page shows
        // where every listed document's pages are now.
        site_build_register(path);
        DocumentRecord *record = doc_find(path);
        if (record) {
            RecordState s = record_state(build, record);
            d->index_builds_before = s.build_count;
            // A build in progress may have read the old file: try again on
            // the next pass rather than have the push dropped.
            if (s.busy) ok = false;
            else if (!s.queued && detector_push(build, record, t)) d->index_builds.fetch_add(1);
            else if (!s.queued) ok = false;
        }
    }
    scratch_end(scratch);
    return ok;
}

static bool index_done(Detector *d)
{
    SiteBuild *build = d->build;
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    DocumentRecord *record = doc_find(site_index_path(scratch.arena, build));
    scratch_end(scratch);
    if (!record) return true;
    RecordState s = record_state(build, record);
    if (s.busy || s.queued) return false;
    if (s.parked) return false;
    return s.build_count > d->index_builds_before;
}

//- the pass

static void quiet_reached(Detector *d, u64 t)
{
    SiteBuild *build = d->build;
    site_outputs_quiet();
    if (d->busy && d->config.quiet_lines && !build->config.print.silent) {
        u64 builds = atomic_load_u64(&build->completed_builds) - d->builds_at_busy;
        u64 pages = site_pages_counts().pages_written - d->pages_at_busy;
        ArenaTemp scratch = scratch_begin(nullptr, 0);
        StrJoin join = {str_lit(" ("), str_lit(", "), d->rebuilt_name_count > 3 ? str_lit(", ...)") : str_lit(")")};
        Str names = d->rebuilt_names.node_count ? str_list_join(scratch.arena, &d->rebuilt_names, &join) : str_empty();
        u64 ms = (t - d->busy_since_us) / 1000;
        diag_print_result(&build->config.print, str_pushf(scratch.arena, "up to date after %I64u.%02I64u s: %I64u document%s built%S, %I64u page%s written\n",
                                ms / 1000, (ms % 1000) / 10, builds, builds == 1 ? "" : "s", names, pages,
                                pages == 1 ? "" : "s"));
        scratch_end(scratch);
    }
    d->busy = 0;
    d->rebuilt_names = StrList{};
    d->rebuilt_name_count = 0;
    arena_pop_to(d->names_arena, 0);
    d->first_change_us.store(0);
    cs_enter(d->quiet_lock);
    d->quiet_count.fetch_add(1);
    cs_leave(d->quiet_lock);
    cv_broadcast(d->quiet_cv);
}

static void busy_begin(Detector *d, u64 t)
{
    if (d->busy) return;
    SiteBuild *build = d->build;
    d->busy = 1;
    u64 first = d->first_change_us.load();
    d->busy_since_us = first && first < t ? first : t;
    d->builds_at_busy = atomic_load_u64(&build->completed_builds);
    d->pages_at_busy = site_pages_counts().pages_written;
}

static void detector_pass(Detector *d)
{
    SiteBuild *build = d->build;
    u64 g = fs_generation();
    u64 epoch = atomic_load_u64(&build->summary_epoch);
    u64 t = now_us();
    d->passes.fetch_add(1);

    if (t >= d->next_discovery_us) {
        detector_discover(d);
        d->next_discovery_us = t + discovery_interval_us;
        g = fs_generation();
    }
    if (g != d->last_generation) {
        busy_begin(d, t);
        // Templates and style inputs before pages: pages built after this
        // take the regenerated shell.
        if (d->last_generation && site_outputs_refresh()) d->shell_refreshes.fetch_add(1);
        d->last_generation = g;
    }

    bool out_of_date = detector_changed_first(d, t);
    if (out_of_date) busy_begin(d, t);
    if (!out_of_date && !d->busy && d->quiet_stamped && d->quiet_generation == g && d->quiet_epoch == epoch &&
        d->quiet_builds == atomic_load_u64(&build->completed_builds) &&
        d->quiet_records == atomic_load_u64(&build->record_count))
        return;
    d->quiet_stamped = 0;

    ArenaTemp scratch = scratch_begin(nullptr, 0);
    for (u64 b = 0; b < document_bucket_count; b += 1) {
        TableStripe *stripe = striped_stripe_of(&build->documents, b);
        DocumentRecord *pick = nullptr;
        srw_lock_shared(stripe->slim);
        for (DocumentRecord *r = build->buckets[b].first; r; r = r->next) {
            // The index is made from the others once they are all current;
            // building it here would store an old index at the new
            // generation.
            if (is_index_path(build, r->path)) continue;
            // Current: built from this generation's files, and begun after
            // the last change of a summary it may have read.
            if (r->built_generation == g && r->built_epoch >= epoch) continue;
            out_of_date = true;
            if (pick) continue;
            if (atomic_load_u64(&r->busy) || atomic_load_u64(&r->queued) || atomic_load_u64(&r->parked)) continue;
            if (r->last_requeue_us && t - r->last_requeue_us < requeue_interval_us) continue;
            pick = r;
        }
        srw_unlock_shared(stripe->slim);
        // Pushed with no lock held, stamped after: taking the stripe
        // exclusively while holding it shared would deadlock.
        if (pick && detector_push(build, pick, t)) d->requeues.fetch_add(1);
    }
    scratch_end(scratch);
    if (out_of_date) {
        busy_begin(d, t);
        return;
    }

    if (d->index_generation != g || d->index_epoch != epoch) {
        busy_begin(d, t);
        if (detector_index(d, t)) {
            d->index_generation = g;
            d->index_epoch = epoch;
            d->index_pending = 1;
        }
        return;
    }
    if (d->index_pending) {
        if (!index_done(d)) return;
        d->index_pending = 0;
    }
    if (d->busy) quiet_reached(d, t);
    // Stamped after a walk that found everything current: a build that
    // completes from now on, a new record or a new generation walks again.
    d->quiet_stamped = 1;
    d->quiet_generation = g;
    d->quiet_epoch = epoch;
    d->quiet_builds = atomic_load_u64(&build->completed_builds);
    d->quiet_records = atomic_load_u64(&build->record_count);
}

static void detector_thread(u64)
{
    thread_set_name("[WYN] evictor/detector thread");
    Detector *d = &g_detector;
    for (;;) {
        sleep_ms(100);
        if (!d->submissions_done.load()) continue;
        detector_pass(d);
    }
}

//- start and queries

void detector_start(SiteBuild *build, const DetectorConfig *config)
{
    Detector *d = &g_detector;
    if (d->build) return;
    d->build = build;
    d->config = *config;
    d->changes_lock = cs_alloc();
    d->changes_arena = arena_alloc(MiB(64), KiB(64));
    d->changes_arena_start = arena_pos(d->changes_arena);
    d->names_arena = arena_alloc(MiB(1), KiB(4));
    d->quiet_lock = cs_alloc();
    d->quiet_cv = cv_alloc();
    d->next_discovery_us = now_us() + discovery_interval_us;
    // The first build is the first busy period: its quiet line counts from
    // the start.
    d->busy = 1;
    d->busy_since_us = now_us();
    FsObserver observer = {};
    observer.on_change = detector_source_changed;
    observer.on_unreadable = detector_unreadable;
    fs_observe(&observer);
    d->thread = thread_start(0, detector_thread);
}

void site_build_submissions_done(void) { g_detector.submissions_done.store(1); }

bool site_build_wait_quiet(u64 quiet_count, u64 deadline_us)
{
    Detector *d = &g_detector;
    if (!d->quiet_lock) return false;
    cs_enter(d->quiet_lock);
    while (d->quiet_count.load() < quiet_count) {
        if (!wait_cs(d->quiet_cv, d->quiet_lock, deadline_us) && now_us() >= deadline_us) break;
    }
    bool reached = d->quiet_count.load() >= quiet_count;
    cs_leave(d->quiet_lock);
    return reached;
}

DetectorCounts detector_counts(void)
{
    Detector *d = &g_detector;
    DetectorCounts c = {};
    c.passes = d->passes.load();
    c.requeues = d->requeues.load();
    c.priority_requeues = d->priority_requeues.load();
    c.index_writes = site_outputs_counts().index_writes;
    c.index_builds = d->index_builds.load();
    c.quiet_count = d->quiet_count.load();
    c.new_sources = d->new_sources.load();
    c.shell_refreshes = d->shell_refreshes.load();
    return c;
}
