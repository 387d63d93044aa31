// site/change_detect.cpp: the detector thread and the index document.
#include "site/change_detect.h"
#include "site/depends.h"
#include "site/discovery.h"
#include "site/pages.h"
#include "site/site_outputs.h"

#include "os/file_service.h"

#include <atomic>

//- state

namespace {

struct Detector {
    SiteBuild *build;
    DetectorConfig config;
    ThreadRecord *thread;
    std::atomic<u64> submissions_done;
    std::atomic<u64> first_change_us;   // earliest change not yet quiet; 0: none

    // Touched by the detector thread only.
    u64 last_generation;
    u64 next_walk_us;
    u64 index_listing;           // the build's listing changes when the index was last written
    u64 changes_taken;           // the build's change count when the changes were last taken
    u64 index_hash;              // of the index file's bytes when the index was last marked
    u64 index_file_hash;         // of the bytes the file held when the index was last written or checked
    Str index_day;               // the date the index was last written on
    b32 index_written;           // written at least once
    b32 index_check;             // the index file changed on disk
    b32 busy;                    // something was out of date since the last quiet
    u64 busy_since_us;
    u64 builds_at_busy;
    u64 pages_at_busy;
    StrList rebuilt_names;       // changed sources of this busy period, for the quiet line
    u64 rebuilt_name_count;
    Arena *names_arena;
    Arena *state_arena;          // the index's day
    u64 next_discovery_us;
    SourceWalk walk;             // the detector thread's, for new sources
    // What the site looked like when it was last quiet: while none of it
    // moves, no document can be out of date and the table is not walked.
    b32 quiet_stamped;
    u64 quiet_marks;
    u64 quiet_builds;
    u64 quiet_records;
    // A bucket found all current, and its marks then: skipped by the walk
    // until a mark or a new record moves them.
    u64 clean_marks[document_bucket_count];
    b32 clean[document_bucket_count];

    CriticalSection *quiet_lock;
    CondVar *quiet_cv;
    std::atomic<u64> quiet_count;

    std::atomic<u64> passes, requeues, first_requeues, followed, index_builds, new_sources, shell_refreshes;
};

Detector g_detector;

constexpr u64 requeue_interval_us = 1000000;    // the walk queues a document at most once a second
constexpr u64 walk_interval_us = 100000;        // and walks at most this often
// While documents are in hand the walk only finds records to queue, and it
// visits every record: on a large site it then runs once per this many
// microseconds per record (a second per 100,000), queueing as many more.
constexpr u64 walk_us_per_record_in_hand = 10;
constexpr u64 walk_picks_max = 64;
constexpr u64 discovery_interval_us = 3000000;  // new sources are looked for this often anyway
constexpr u64 follow_push_limit = 256;          // more marked at once are left to the walk
constexpr u64 tick_ms = 100;

bool is_wyn_source(Str path)
{
    return str_eq(path_extension(path), str_lit("wyn")) && !str_eq(path_file_name(path), str_lit("index.wyn"));
}

} // namespace

//- what the file service tells

static void change_seen(Detector *d)
{
    u64 expected = 0;
    d->first_change_us.compare_exchange_strong(expected, now_us());
}

// The file service's observer: runs on a streamer with no lock held.
static void detector_file_changed(void *user, Str path, u64 generation)
{
    (void)user;
    (void)generation;
    change_seen(&g_detector);
    site_build_note_change(SiteChange_File, path);
}

static void detector_file_touched(void *user, Str path)
{
    (void)user;
    if (!is_wyn_source(path)) return;
    change_seen(&g_detector);
    site_build_note_change(SiteChange_Touched, path);
}

// On the scanner's thread: a watched folder names a file nobody read yet.
static void detector_new_name(void *user, Str path)
{
    (void)user;
    if (!str_eq(path_extension(path), str_lit("wyn"))) return;
    site_build_note_change(SiteChange_NewName, path);
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

//- the busy period

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

static void name_rebuilt(Detector *d, Str path)
{
    if (d->rebuilt_name_count < 3) {
        Str local = d->build->site.layout.local_folder;
        Str shown = str_match(local, path, StrMatch_Prefix) ? str_skip(path, local.size) : path;
        str_list_push(d->names_arena, &d->rebuilt_names, str_copy(d->names_arena, shown));
    }
    d->rebuilt_name_count += 1;
}

//- changes

// A source saved goes first; everything changed is followed to the
// documents that read it.
static void detector_discover(Detector *d, u64 t);

static void detector_changes(Detector *d, u64 t, bool may_discover)
{
    SiteBuild *build = d->build;
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    d->changes_taken = atomic_load_u64(&build->change_count);
    SiteChange *changes = site_build_take_changes(scratch.arena);
    // A new source is registered before the changes are followed: a
    // document that linked its path then waits for its first build rather
    // than being built once without it and once with it.
    // A source found now is queued by the discovery and reads what was
    // saved: its own change need not build it a second time.
    bool discover = false;
    u64 change_count = 0;
    for (SiteChange *c = changes; c; c = c->next) change_count += 1;
    u8 *known = push_array<u8>(scratch.arena, change_count ? change_count : 1);
    u64 i = 0;
    for (SiteChange *c = changes; c; c = c->next, i += 1) {
        bool found = c->kind == SiteChange_File && doc_find(c->key);
        if (known) known[i] = found;
        if ((c->kind == SiteChange_NewName || c->kind == SiteChange_File) && is_wyn_source(c->key) && !found)
            discover = true;
    }
    if (discover && may_discover) {
        detector_discover(d, t);
        d->next_discovery_us = t + discovery_interval_us;
    } else if (discover) {
        // The first build is still being handed out: a source saved that
        // was not handed out yet is taken now, ahead of the rest (its turn
        // in the hand-out finds it built). The first full pass looks for
        // the others.
        d->next_discovery_us = 0;
        for (SiteChange *c = changes; c; c = c->next) {
            // A source the file service read already comes as a change of
            // its own, below; one it has not read yet as a new name.
            if (c->kind != SiteChange_NewName || !is_wyn_source(c->key)) continue;
            if (!doc_find(c->key) && !site_build_register(c->key)) continue;
            if (DocumentRecord *record = doc_find(c->key)) {
                busy_begin(d, t);
                doc_mark_stale(build, record, DocPush_First);
                d->first_requeues.fetch_add(1);
            }
        }
    }
    // A document's own source is not followed to the documents that read
    // it: whether it is there is all they read, and the document's build
    // (or its removal) tells them as a change of the document. Following
    // both would build them twice for one save.
    SiteChange *followed = nullptr, **tail = &followed;
    i = 0;
    for (SiteChange *c = changes, *next; c; c = next, i += 1) {
        next = c->next;
        c->next = nullptr;
        if (c->kind == SiteChange_Touched) {
            // A source saved before its first build: built now, once.
            DocumentRecord *record = doc_find(c->key);
            if (record && !record->is_index && doc_unbuilt(build, record)) {
                busy_begin(d, t);
                doc_mark_stale(build, record, DocPush_First);
                d->first_requeues.fetch_add(1);
                name_rebuilt(d, record->path);
            }
            continue;
        }
        DocumentRecord *record = c->kind == SiteChange_File ? doc_find(c->key) : nullptr;
        if (!record) {
            if (c->kind != SiteChange_NewName) {
                *tail = c;
                tail = &c->next;
            }
            continue;
        }
        if (record->is_index) {
            // Often wyn's own write coming back: busy only if it differs.
            d->index_check = 1;
            continue;
        }
        if (known && !known[i]) continue;
        busy_begin(d, t);
        doc_mark_stale(build, record, DocPush_First);
        d->first_requeues.fetch_add(1);
        name_rebuilt(d, record->path);
    }
    bool follow = followed != nullptr;
    if (follow) {
        // Busy before anything is marked, so no build it starts ends
        // before the period that counts it begins; none marked, none begun.
        bool was_busy = d->busy;
        busy_begin(d, t);
        u64 marked = depends_follow(build, followed, follow_push_limit);
        if (marked) d->followed.fetch_add(marked);
        else if (!was_busy) d->busy = 0;
    }
    scratch_end(scratch);
}

//- new sources

static void detector_discover(Detector *d, u64 t)
{
    SiteBuild *build = d->build;
    Str target = build->site.layout.target;
    if (!target.size || !char_is_slash((u8)target.str[target.size - 1])) return;   // one file: nothing to find
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    StrList files = {};
    // Only folders whose entries changed are listed: a quiet watch over a
    // large site stats its folders and nothing else.
    site_walk_files(&d->walk, scratch.arena, &files, target);
    for (StrNode *n = files.first; n; n = n->next) {
        Str path = n->string;
        if (!is_wyn_source(path) || doc_find(path)) continue;
        // Busy before it is queued: its build counts in this period even
        // when a worker is done with it before this loop goes on.
        change_seen(d);
        busy_begin(d, t);
        // Registering it tells the documents that link its path.
        if (!site_build_register(path)) continue;
        fs_prefetch(path);
        DocumentRecord *record = doc_find(path);
        if (record) doc_mark_stale(build, record, DocPush_Queue);
        d->new_sources.fetch_add(1);
        name_rebuilt(d, path);
    }
    scratch_end(scratch);
}

//- the shell

static void mark_every_document(SiteBuild *build)
{
    for (u64 b = 0; b < document_bucket_count; b += 1) {
        TableStripe *stripe = striped_stripe_of(&build->documents, b);
        srw_lock_shared(stripe->slim);
        // Marks are atomics: nothing here takes the lock again.
        for (DocumentRecord *r = build->buckets[b].first; r; r = r->next) doc_mark_stale(build, r, DocPush_None);
        srw_unlock_shared(stripe->slim);
    }
}

//- the walk

static void detector_stamp_requeue(SiteBuild *build, DocumentRecord *record, u64 t)
{
    TableStripe *stripe = striped_stripe_of(&build->documents, record->table_order >> 40);
    srw_lock_exclusive(stripe->slim);
    record->last_requeue_us = t;
    srw_unlock_exclusive(stripe->slim);
}

// Pushes a path without waiting: a full queue only means the next walk
// tries again. No stripe lock is held here.
static bool detector_push(SiteBuild *build, DocumentRecord *record, u64 t)
{
    if (!atomic_cas_u64(&record->queued, 0, 1)) return false;
    if (!queue_push(build->parse_queue, record->path, now_us())) {
        atomic_store_u64(&record->queued, 0);
        return false;
    }
    detector_stamp_requeue(build, record, t);
    return true;
}

// True when some document other than the index is out of date.
static bool detector_walk(Detector *d, u64 t, u64 interval_us)
{
    SiteBuild *build = d->build;
    bool may_push = t >= d->next_walk_us;
    if (may_push) d->next_walk_us = t + interval_us;
    u64 picks_per_bucket = clamp_of<u64>(1, interval_us / walk_interval_us, walk_picks_max);
    bool out_of_date = false;
    for (u64 b = 0; b < document_bucket_count; b += 1) {
        u64 marks = atomic_load_u64(&build->bucket_marks[b]);
        if (d->clean[b] && d->clean_marks[b] == marks) continue;
        TableStripe *stripe = striped_stripe_of(&build->documents, b);
        DocumentRecord *picks[walk_picks_max];
        u64 pick_count = 0;
        bool bucket_stale = false;
        srw_lock_shared(stripe->slim);
        for (DocumentRecord *r = build->buckets[b].first; r; r = r->next) {
            // The index is made from the others once they are all current.
            if (r->is_index) continue;
            // A record in a worker's hands is not done though its build is
            // stored: what that build tells (the counts, the listing, its
            // changes) follows the store.
            bool busy = atomic_load_u64(&r->busy) != 0;
            if (!busy && r->build_count > 0 && r->built_mark == atomic_load_u64(&r->stale_mark)) continue;
            out_of_date = bucket_stale = true;
            if (pick_count == picks_per_bucket || !may_push) continue;
            if (busy || atomic_load_u64(&r->queued) || atomic_load_u64(&r->parked)) continue;
            if (r->last_requeue_us && t - r->last_requeue_us < requeue_interval_us) continue;
            picks[pick_count++] = r;
        }
        srw_unlock_shared(stripe->slim);
        // A record built since counts as current from its next mark on:
        // marks only ever make a record stale.
        d->clean[b] = !bucket_stale;
        d->clean_marks[b] = marks;
        // Pushed with no lock held, stamped after: taking the stripe
        // exclusively while holding it shared would deadlock.
        for (u64 i = 0; i < pick_count; i += 1)
            if (detector_push(build, picks[i], t)) d->requeues.fetch_add(1);
    }
    return out_of_date;
}

//- the index

// Writes the index when what it lists (or the day) changed, or its file
// changed on disk, and queues it when it is out of date. True when it is
// current and nothing of it is pending.
static bool detector_index(Detector *d, u64 t)
{
    SiteBuild *build = d->build;
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    Str path = site_index_path(scratch.arena, build);
    Str today = date_to_ymd(scratch.arena, date_now());
    u64 listing = atomic_load_u64(&build->listing_changes);
    bool current = false;
    bool remake = !d->index_written || listing != d->index_listing || !str_eq(today, d->index_day);
    if (!remake && d->index_check) {
        // Most often wyn's own write coming back: bytes it wrote or found
        // there last time need no new listing, which takes a while to make
        // on a large site.
        remake = str_hash(file_read_all(scratch.arena, path)) != d->index_file_hash;
        d->index_check = 0;
    }
    if (remake) {
        u64 hash = 0;
        u32 written = site_outputs_write_index(build, &hash);
        // The table holds what was written at once: deleted right after,
        // the file is seen to go.
        if (written == IndexWrite_Written) fs_reload(path);
        if (written == IndexWrite_Failed) {
            // Warned; tried again on the next pass, and never quiet till then.
            scratch_end(scratch);
            return false;
        }
        d->index_written = 1;
        d->index_check = 0;
        d->index_file_hash = hash;
        d->index_listing = listing;
        arena_pop_to(d->state_arena, 0);
        d->index_day = str_copy(d->state_arena, today);
        site_build_register(path);
        DocumentRecord *record = doc_find(path);
        // Bytes it was not built from: built again. Its own write coming
        // back from the file service changes nothing.
        if (record && hash != d->index_hash) {
            d->index_hash = hash;
            doc_mark_stale(build, record, DocPush_None);
        }
    }
    DocumentRecord *record = doc_find(path);
    if (record) {
        bool held = atomic_load_u64(&record->busy) || atomic_load_u64(&record->queued) || atomic_load_u64(&record->parked);
        current = !held && doc_current(build, record);
        if (!held && !current && detector_push(build, record, t)) d->index_builds.fetch_add(1);
    }
    scratch_end(scratch);
    return current;
}

//- quiet

// What stands in the whole site: warnings and errors of the last build of
// every document.
static Str site_state_text(Arena *arena, SiteBuild *build)
{
    u64 warnings = 0, errors = 0, documents = 0;
    for (u64 b = 0; b < document_bucket_count; b += 1) {
        TableStripe *stripe = striped_stripe_of(&build->documents, b);
        srw_lock_shared(stripe->slim);
        for (DocumentRecord *r = build->buckets[b].first; r; r = r->next) {
            warnings += r->warning_count;
            errors += r->error_count;
            documents += r->warning_count + r->error_count > 0;
        }
        srw_unlock_shared(stripe->slim);
    }
    // The menu's broken links show on every page: they count too.
    u64 menu = site_outputs_menu_warnings();
    auto plural = [](u64 n) { return n == 1 ? "" : "s"; };
    Str in_menu = menu ? str_pushf(arena, "%I64u warning%s in the menu", menu, plural(menu)) : str_empty();
    if (!warnings && !errors) return menu ? in_menu : str_lit("no warnings or errors");
    Str w = warnings ? str_pushf(arena, "%I64u warning%s", warnings, plural(warnings)) : str_empty();
    Str e = errors ? str_pushf(arena, "%I64u error%s", errors, plural(errors)) : str_empty();
    return str_pushf(arena, "%S%s%S in %I64u document%s%s%S", w, warnings && errors ? ", " : "", e, documents,
                     plural(documents), menu ? ", " : "", in_menu);
}

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
        diag_print_result(&build->config.print,
                          str_pushf(scratch.arena, "up to date after %I64u.%02I64u s: %I64u document%s built%S, %I64u page%s written; %S\n",
                                    ms / 1000, (ms % 1000) / 10, builds, builds == 1 ? "" : "s", names, pages,
                                    pages == 1 ? "" : "s", site_state_text(scratch.arena, build)));
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

//- the pass

static void detector_pass(Detector *d)
{
    SiteBuild *build = d->build;
    u64 t = now_us();
    d->passes.fetch_add(1);

    detector_changes(d, t, true);
    if (t >= d->next_discovery_us) {
        detector_discover(d, t);
        d->next_discovery_us = t + discovery_interval_us;
    }
    u64 g = fs_generation();
    if (g != d->last_generation) {
        // Templates and style inputs before pages: pages built after this
        // take the regenerated shell.
        if (d->last_generation && site_outputs_refresh()) {
            d->shell_refreshes.fetch_add(1);
            busy_begin(d, t);
            mark_every_document(build);
        }
        d->last_generation = g;
    }

    u64 marks = atomic_load_u64(&build->mark_count);
    if (!d->busy && !d->index_check && d->quiet_stamped && d->quiet_marks == marks &&
        d->quiet_builds == atomic_load_u64(&build->completed_builds) &&
        d->quiet_records == atomic_load_u64(&build->record_count))
        return;
    d->quiet_stamped = 0;

    SiteBuildProgress in_hand = site_build_progress();
    u64 interval = walk_interval_us;
    if (!site_build_quiet(&in_hand)) {
        interval = max_of(interval, atomic_load_u64(&build->record_count) * walk_us_per_record_in_hand);
        if (t < d->next_walk_us) {
            busy_begin(d, t);
            return;
        }
    }
    if (detector_walk(d, t, interval)) {
        busy_begin(d, t);
        return;
    }
    // A document's build tells what it changed before it counts as done, so
    // a walk can find everything current while those changes wait to be
    // followed: the index made now would be made again once they mark it.
    if (atomic_load_u64(&build->change_count) != d->changes_taken) return;
    SiteBuildProgress progress = site_build_progress();
    if (!detector_index(d, t) || progress.parked || progress.url_checks_pending) {
        busy_begin(d, t);
        return;
    }
    if (d->busy) quiet_reached(d, t);
    // A change that made nothing out of date (wyn's own index write coming
    // back) starts no busy period.
    else d->first_change_us.store(0);
    // Stamped after a walk that found everything current: a mark, a build
    // that completes or a new record walks again.
    d->quiet_stamped = 1;
    d->quiet_marks = marks;
    d->quiet_builds = atomic_load_u64(&build->completed_builds);
    d->quiet_records = atomic_load_u64(&build->record_count);
}

static void detector_thread(u64)
{
    thread_set_name("[WYN] evictor/detector thread");
    Detector *d = &g_detector;
    for (;;) {
        site_build_wait_changes(tick_ms);
        if (!d->submissions_done.load()) {
            // The first build is still being handed out: a source saved
            // meanwhile goes before the rest, and what others read of it is
            // followed. New sources, the walk and the index wait for the
            // whole site to be known.
            detector_changes(d, now_us(), false);
            continue;
        }
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
    d->names_arena = arena_alloc(MiB(1), KiB(4));
    d->state_arena = arena_alloc(KiB(64), KiB(4));
    d->quiet_lock = cs_alloc();
    d->quiet_cv = cv_alloc();
    d->next_discovery_us = now_us() + discovery_interval_us;
    // The first build is the first busy period: its quiet line counts from
    // the start.
    d->busy = 1;
    d->busy_since_us = now_us();
    FsObserver observer = {};
    observer.on_change = detector_file_changed;
    observer.on_touched = detector_file_touched;
    observer.on_unreadable = detector_unreadable;
    observer.on_new_name = detector_new_name;
    fs_observe(&observer);
    // The index's own file is watched like a source: deleted or replaced,
    // the change comes back here.
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    fs_prefetch(site_index_path(scratch.arena, build));
    scratch_end(scratch);
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
    c.first_requeues = d->first_requeues.load();
    c.followed = d->followed.load();
    c.index_writes = site_outputs_counts().index_writes;
    c.index_builds = d->index_builds.load();
    c.quiet_count = d->quiet_count.load();
    c.new_sources = d->new_sources.load();
    c.shell_refreshes = d->shell_refreshes.load();
    return c;
}
