// os/file_service.cpp: the file table, the streamers and the scanner.
#include "os/file_service.h"

//- the process-wide service

// How long the scanner lets a save settle after its first notification.
constexpr u64 fs_save_grace_ms = 3;

static std::atomic<FileService *> g_file_service;

FileService *file_service(void) { return g_file_service.load(std::memory_order_acquire); }

u64 fs_generation(void)
{
    FileService *fs = file_service();
    return fs ? atomic_load_u64(&fs->generation) : 0;
}

u64 fs_generation_raise(void)
{
    FileService *fs = file_service();
    return fs ? atomic_add_u64(&fs->generation, 1) : 0;
}

void fs_observe(const FsObserver *observer)
{
    FileService *fs = file_service();
    if (!fs || atomic_load_u64(&fs->observer_ready)) return;
    fs->observer = *observer;
    atomic_store_u64(&fs->observer_ready, 1);
}

//- the file table

static FileBucket *fs_bucket(FileService *fs, u64 hash, TableStripe **out_stripe)
{
    u64 index = striped_bucket_of(&fs->table, hash);
    *out_stripe = striped_stripe_of(&fs->table, index);
    return &fs->buckets[index];
}

// The caller holds the stripe's lock, shared or exclusive.
static FileEntry *bucket_find(FileBucket *bucket, Str path, u64 hash)
{
    for (FileEntry *e = bucket->first; e; e = e->next)
        if (e->path_hash == hash && str_eq(e->path, path)) return e;
    return nullptr;
}

// Looks a path up under the stripe's shared lock; entries are never removed,
// so the pointer stays valid after the lock is released.
static FileEntry *fs_find(FileService *fs, Str path)
{
    u64 hash = str_hash(path);
    TableStripe *stripe = nullptr;
    FileBucket *bucket = fs_bucket(fs, hash, &stripe);
    srw_lock_shared(stripe->slim);
    FileEntry *entry = bucket_find(bucket, path, hash);
    srw_unlock_shared(stripe->slim);
    return entry;
}

// Hands a new entry to the scanner without a lock: entries are pushed once
// and only the scanner takes them.
static void pending_push(FileService *fs, FileEntry *entry)
{
    std::atomic_ref<FileEntry *> head(fs->pending);
    FileEntry *old = head.load(std::memory_order_relaxed);
    do {
        entry->pending_next = old;
    } while (!head.compare_exchange_weak(old, entry, std::memory_order_release, std::memory_order_relaxed));
}

static FileEntry *pending_take_all(FileService *fs)
{
    return std::atomic_ref<FileEntry *>(fs->pending).exchange(nullptr, std::memory_order_acquire);
}

//- fs_get and fs_request

bool fs_request(Str path, u64 deadline_us)
{
    FileService *fs = file_service();
    if (!fs) return false;
    return queue_push(fs->requests, path, deadline_us);
}

// Creates the entry of a path the table does not know yet, marked as
// waiting for its first load, and hands it to the scanner. The entry when
// this call created it, else null. Entries are never freed.
static FileEntry *fs_register(FileService *fs, TableStripe *stripe, FileBucket *bucket, Str path, u64 hash)
{
    srw_lock_exclusive(stripe->slim);
    FileEntry *created = nullptr;
    if (!bucket_find(bucket, path, hash)) {
        FileEntry *fresh = push_struct<FileEntry>(stripe->arena);
        if (fresh) {
            fresh->path = str_copy(stripe->arena, path);
            fresh->path_hash = hash;
            // Busy until the first load: a reader woken by another entry's
            // load must not take the all-zero key.
            fresh->busy = FileBusy_New;
            if (bucket->last) bucket->last->next = fresh;
            else bucket->first = fresh;
            bucket->last = fresh;
            pending_push(fs, fresh);
            created = fresh;
        }
    }
    srw_unlock_exclusive(stripe->slim);
    return created;
}

// Queues an entry's first load, marked so that a reader who needs the file
// before a streamer reaches it may load it itself: the queue is in the
// order documents were submitted, and a document built ahead of its turn
// would otherwise wait behind every load before its own.
static bool fs_request_first_load(FileEntry *entry, Str path, u64 deadline_us)
{
    atomic_store_u64(&entry->first_load, FirstLoad_Queued);
    bool queued = fs_request(path, deadline_us);
    if (!queued) atomic_store_u64(&entry->first_load, FirstLoad_None);
    return queued;
}

static void fs_load(FileService *fs, FileEntry *entry);

// A reader who waits however long it takes loads a file whose first load
// is still queued. The caller saw the entry New with its request queued;
// the claim decides, since a streamer may take the entry in between.
static void fs_take_first_load(FileService *fs, FileEntry *entry)
{
    if (!atomic_cas_u64(&entry->busy, FileBusy_New, FileBusy_Loading)) return;
    // The streamer that pops the request skips it. It may have popped it
    // already, and then fails to claim the entry instead.
    atomic_cas_u64(&entry->first_load, FirstLoad_Queued, FirstLoad_Taken);
    fs_load(fs, entry);
}

void fs_prefetch(Str path)
{
    FileService *fs = file_service();
    if (!fs || path.size > queue_payload_limit(fs->requests)) return;
    u64 hash = str_hash(path);
    TableStripe *stripe = nullptr;
    FileBucket *bucket = fs_bucket(fs, hash, &stripe);
    srw_lock_shared(stripe->slim);
    bool known = bucket_find(bucket, path, hash) != nullptr;
    srw_unlock_shared(stripe->slim);
    if (known) return;
    if (FileEntry *created = fs_register(fs, stripe, bucket, path, hash)) fs_request_first_load(created, path, u64_max);
}

u32 file_state_of(Str path, FileProperties *out_properties)
{
    FileProperties props = file_properties(path);
    if (out_properties) *out_properties = props;
    if (!props.exists) return FileState_Missing;
    if (props.is_folder) return FileState_Folder;
    if (props.is_special) return FileState_Special;
    return file_exists(path) ? FileState_Regular : FileState_Unreadable;
}

bool fs_peek(Str path, ContentKey *out_key, u32 *out_state)
{
    FileService *fs = file_service();
    if (!fs) return false;
    u64 hash = str_hash(path);
    TableStripe *stripe = nullptr;
    FileBucket *bucket = fs_bucket(fs, hash, &stripe);
    srw_lock_shared(stripe->slim);
    FileEntry *entry = bucket_find(bucket, path, hash);
    if (entry) {
        if (out_key) *out_key = entry->key;
        if (out_state) *out_state = entry->state;
    }
    srw_unlock_shared(stripe->slim);
    return entry != nullptr;
}

u32 fs_file_state(Str path)
{
    FileService *fs = file_service();
    if (!fs || path.size > queue_payload_limit(fs->requests)) return file_state_of(path);
    u64 hash = str_hash(path);
    TableStripe *stripe = nullptr;
    FileBucket *bucket = fs_bucket(fs, hash, &stripe);
    srw_lock_shared(stripe->slim);
    FileEntry *entry = bucket_find(bucket, path, hash);
    bool known = entry && atomic_load_u64(&entry->busy) != FileBusy_New;
    u32 state = known ? entry->state : FileState_Missing;
    srw_unlock_shared(stripe->slim);
    if (known) return state;
    // The first look: the disk, then the entry that keeps watching it. A
    // file waiting for its first load is looked at directly until then.
    FileProperties props = {};
    state = file_state_of(path, &props);
    if (entry) return state;
    srw_lock_exclusive(stripe->slim);
    if (!bucket_find(bucket, path, hash)) {
        FileEntry *fresh = push_struct<FileEntry>(stripe->arena);
        if (fresh) {
            fresh->path = str_copy(stripe->arena, path);
            fresh->path_hash = hash;
            fresh->state_only = 1;
            fresh->state = state;
            fresh->last_write_time = props.last_write_time;
            fresh->size = props.exists ? props.size : 0;
            fresh->file_id = props.file_id;
            // Counted as loaded: the next look that differs is a change.
            fresh->load_count = 1;
            if (bucket->last) bucket->last->next = fresh;
            else bucket->first = fresh;
            bucket->last = fresh;
            pending_push(fs, fresh);
        }
    }
    srw_unlock_exclusive(stripe->slim);
    return state;
}

// With `hold`, the content is held under the same lock that reads the key:
// a reload that swaps the key afterwards drops only the service's own hold.
static FsResult fs_lookup(Str path, u64 deadline_us, Str *hold)
{
    FsResult result = {};
    FileService *fs = file_service();
    // A path the request queue can never carry could never be loaded; an
    // entry for it would only make every reader wait.
    if (!fs || path.size > queue_payload_limit(fs->requests)) return result;
    u64 hash = str_hash(path);
    TableStripe *stripe = nullptr;
    FileBucket *bucket = fs_bucket(fs, hash, &stripe);
    bool first_pass = true;
    srw_lock_shared(stripe->slim);
    for (;;) {
        FileEntry *entry = bucket_find(bucket, path, hash);
        if (entry && entry->state_only) {
            // Watched for its state until now: its content is loaded from
            // here on. The claim and the flag change under the exclusive
            // lock, so a streamer that claims it next reads the flag clear.
            srw_unlock_shared(stripe->slim);
            srw_lock_exclusive(stripe->slim);
            bool requested = entry->state_only && atomic_cas_u64(&entry->busy, FileBusy_Idle, FileBusy_New);
            if (requested) entry->state_only = 0;
            srw_unlock_exclusive(stripe->slim);
            if (requested) fs_request_first_load(entry, path, deadline_us);
            srw_lock_shared(stripe->slim);
            // A streamer looking at its state holds it: wait for that.
            if (entry->state_only && atomic_load_u64(&entry->busy) != FileBusy_Idle)
                wait_srw_shared(stripe->condition, stripe->slim, deadline_us);
            if (deadline_us != u64_max && now_us() >= deadline_us) break;
            continue;
        }
        if (entry && atomic_load_u64(&entry->busy) == FileBusy_Idle) {
            result.key = entry->key;
            result.last_write_time = entry->last_write_time;
            // Read under the same lock as the key: a later load of this file
            // cannot have been counted yet.
            result.generation = atomic_load_u64(&fs->generation);
            result.loaded = 1;
            if (hold) *hold = content_hold(result.key);
            break;
        }
        if (!entry && !first_pass) break;   // the table refused memory for it
        if (!entry) {
            first_pass = false;
            srw_unlock_shared(stripe->slim);
            FileEntry *created = fs_register(fs, stripe, bucket, path, hash);
            // A reader who waits for the load however long it takes makes it
            // itself: handed to a streamer, it cost a wake there and another
            // back here for every file (a document's source, mostly).
            // No stripe lock is held while the push may wait for room: the
            // streamers that make room need these locks to finish.
            if (created && !(deadline_us == u64_max && fs_reload(path))) fs_request_first_load(created, path, deadline_us);
            srw_lock_shared(stripe->slim);
            continue;
        }
        if (deadline_us == u64_max && atomic_load_u64(&entry->busy) == FileBusy_New &&
            atomic_load_u64(&entry->first_load) == FirstLoad_Queued) {
            srw_unlock_shared(stripe->slim);
            fs_take_first_load(fs, entry);
            srw_lock_shared(stripe->slim);
            continue;
        }
        if (deadline_us != u64_max && now_us() >= deadline_us) {
            // Too late for the load in progress: the last complete load (if
            // any) is still better than nothing, and `loaded` says so.
            result.key = entry->key;
            result.last_write_time = entry->last_write_time;
            result.generation = atomic_load_u64(&fs->generation);
            if (hold) *hold = content_hold(result.key);
            break;
        }
        wait_srw_shared(stripe->condition, stripe->slim, deadline_us);
    }
    srw_unlock_shared(stripe->slim);
    return result;
}

FsResult fs_get(Str path, u64 deadline_us) { return fs_lookup(path, deadline_us, nullptr); }

FsContent fs_read(Str path, u64 deadline_us)
{
    FsContent content = {};
    content.file = fs_lookup(path, deadline_us, &content.bytes);
    // Only loaded bytes live on an arena the cache can release; empty
    // content is kept for ever and needs no hold given back.
    content.held = content.bytes.size > 0;
    return content;
}

void fs_read_done(FsContent *content)
{
    if (content->held) content_drop(content->file.key);
    content->held = 0;
    content->bytes = str_empty();
}

//- streamers

// Small files are read into the thread's current pack, one after the
// other; a larger file onto an arena sized for it, where only its bytes
// live, so the content cache can keep or release it as a whole.
constexpr u64 pack_capacity = KiB(256);
constexpr u64 pack_max_content = KiB(32);
static thread_local ContentPack *t_pack;

static Str streamer_read_packed(Str path, ContentPack **out_pack, FileProperties *out_props)
{
    if (t_pack && arena_pos(t_pack->arena) + out_props->size + 64 > pack_capacity) {
        content_pack_release(t_pack);
        t_pack = nullptr;
    }
    if (!t_pack) t_pack = content_pack_alloc(pack_capacity);
    if (!t_pack) return str_empty();
    FileProperties stat_props = *out_props;
    Str bytes = file_read_all(t_pack->arena, path, out_props);
    if (bytes.size == 0) {
        if (!out_props->exists) *out_props = stat_props;
        return str_empty();
    }
    *out_pack = t_pack;
    return bytes;
}

static Str streamer_read(Str path, Arena **out_arena, ContentPack **out_pack, FileProperties *out_props)
{
    *out_arena = nullptr;
    *out_pack = nullptr;
    *out_props = file_properties(path);
    if (!out_props->exists || out_props->is_folder || out_props->size == 0) return str_empty();
    if (out_props->size <= pack_max_content && !out_props->is_special) {
        Str bytes = streamer_read_packed(path, out_pack, out_props);
        if (*out_pack || !out_props->exists) return bytes;
    }
    // Reservations cost address space only; sized to the file they stay
    // cut from the shared slabs for all but large files.
    Arena *arena = arena_alloc(out_props->size + arena_header_size + 64, KiB(4));
    if (!arena) {
        // The reader sees empty content, as for an unreadable file; the user
        // learns why.
        ArenaTemp scratch = scratch_begin(nullptr, 0);
        Str what = str_pushf(scratch.arena, "loading %S", path);
        arena_report_refused(what.size ? what.str : "loading a file", out_props->size);
        scratch_end(scratch);
        return str_empty();
    }
    // The properties of the handle that was read belong with these bytes.
    FileProperties stat_props = *out_props;
    Str bytes = file_read_all(arena, path, out_props);
    if (bytes.size == 0) {
        arena_release(arena);
        // A failed open reports a missing file; keeping what stat saw stops
        // every later scan from taking the failure for a change.
        if (!out_props->exists) *out_props = stat_props;
        return str_empty();
    }
    *out_arena = arena;
    return bytes;
}

static bool entry_matches(const FileEntry *entry, const FileProperties *props)
{
    return entry->last_write_time == props->last_write_time && entry->size == props->size &&
           entry->file_id == props->file_id;
}

// Loads a claimed entry (busy: Loading), stores the result, releases it
// and tells the observer. Any thread.
static void fs_load(FileService *fs, FileEntry *entry)
{
    TableStripe *stripe = nullptr;
    fs_bucket(fs, entry->path_hash, &stripe);
    // Read under the lock the flag is cleared under: see fs_lookup.
    srw_lock_shared(stripe->slim);
    bool state_only = entry->state_only;
    srw_unlock_shared(stripe->slim);

    Arena *bytes_arena = nullptr;
    FileProperties props = {};
    u32 state = FileState_Missing;
    ContentKey key = {};
    bool unreadable = false;
    if (state_only) {
        state = file_state_of(entry->path, &props);
    } else {
        ContentPack *pack = nullptr;
        Str bytes = streamer_read(entry->path, &bytes_arena, &pack, &props);
        key = pack ? content_put_packed(bytes, pack) : content_put(bytes, bytes_arena);
        unreadable = props.exists && !props.is_folder && !props.is_special && props.size > 0 && bytes.size == 0;
        state = !props.exists       ? FileState_Missing
                : props.is_folder   ? FileState_Folder
                : props.is_special  ? FileState_Special
                : unreadable        ? FileState_Unreadable
                                    : FileState_Regular;
    }

    srw_lock_exclusive(stripe->slim);
    // Only a change of content (or of what the path holds) makes builds
    // stale: a first load was asked for by the build that reads it, and the
    // same bytes saved again change nothing that was built from them.
    bool content_changed = !state_only && entry->content_loaded && !content_key_eq(entry->key, key);
    bool changed = entry->load_count > 0 && (entry->state != state || content_changed);
    // A file watched for its state alone whose bytes changed: no build read
    // them, but a source saved before its first build (only linked so far)
    // is built ahead of the queue rather than in turn.
    bool touched = state_only && entry->load_count > 0 && !changed && props.exists &&
                   (entry->last_write_time != props.last_write_time || entry->size != props.size ||
                    entry->file_id != props.file_id);
    // Every completed load holds its key; the hold of the content it
    // replaces is given back once the lock is left (a reader that read the
    // old key under this lock holds it already).
    ContentKey replaced = entry->key;
    bool report_unreadable = unreadable && !entry->unreadable;
    entry->unreadable = unreadable;
    entry->state = state;
    if (!state_only) {
        entry->key = key;
        entry->content_loaded = 1;
    }
    entry->last_write_time = props.last_write_time;
    entry->size = props.exists ? props.size : 0;
    entry->file_id = props.file_id;
    entry->load_count += 1;
    // The generation counts changes of content: what a state alone
    // changes, the observer hears of.
    u64 generation = changed && !state_only ? atomic_add_u64(&fs->generation, 1) : atomic_load_u64(&fs->generation);
    if (changed) entry->change_generation = generation;
    atomic_store_u64(&entry->busy, FileBusy_Idle);
    srw_unlock_exclusive(stripe->slim);
    cv_broadcast(stripe->condition);
    if (!state_only) content_drop(replaced);
    if ((changed || touched || report_unreadable) && atomic_load_u64(&fs->observer_ready)) {
        FsObserver *o = &fs->observer;
        if (changed && o->on_change) o->on_change(o->user, entry->path, generation);
        if (touched && o->on_touched) o->on_touched(o->user, entry->path);
        if (report_unreadable && o->on_unreadable) o->on_unreadable(o->user, entry->path);
    }
}

static bool fs_claim(FileEntry *entry)
{
    return entry && (atomic_cas_u64(&entry->busy, FileBusy_Idle, FileBusy_Loading) ||
                     atomic_cas_u64(&entry->busy, FileBusy_New, FileBusy_Loading));
}

void fs_streamer(u64 index)
{
    thread_set_name("[FS] Streamer #%I64u", index);
    FileService *fs = file_service();
    for (;;) {
        ArenaTemp scratch = scratch_begin(nullptr, 0);
        Str path = queue_pop(fs->requests, scratch.arena);
        FileEntry *entry = fs_find(fs, path);
        // A first load a reader made already: the file is as it was read.
        bool taken = entry && atomic_exchange_u64(&entry->first_load, FirstLoad_None) == FirstLoad_Taken;
        if (taken) {
            atomic_add_u64(&fs->dropped_requests, 1);
        } else if (fs_claim(entry)) {
            fs_load(fs, entry);
        } else {
            // Another streamer is loading it; the scanner asks again if the
            // file changed after that load read it.
            atomic_add_u64(&fs->dropped_requests, 1);
        }
        scratch_end(scratch);
    }
}

bool fs_reload(Str path)
{
    FileService *fs = file_service();
    FileEntry *entry = fs ? fs_find(fs, path) : nullptr;
    if (!fs_claim(entry)) return false;
    fs_load(fs, entry);
    return true;
}

//- the scanner
//
// Each tick (100 ms): take the entries created since the last tick and
// watch their folders; turn notifications into suspects; look at every
// suspect; every few seconds, or when notifications were lost, look at
// every entry instead. A suspect stays on the list until it is idle and its
// stored last-write time matches the file, so a change that lands while the
// file is loading is not lost.

enum ScanMark : u64 {
    ScanMark_Suspect = 1,     // on the suspect list
    ScanMark_Requested = 2,   // a load was requested at scan_request_count
    ScanMark_SeenNew = 4,     // was still waiting for its first load at the last full pass
    ScanMark_Forced = 8,      // its folder reported it: loaded again though its stat looks the same
};

struct ScanMember {
    ScanMember *next;
    FileEntry *entry;
};

struct ScanFolder {
    ScanFolder *next_by_path;
    ScanFolder *next_by_id;
    ScanFolder *next_all;
    Str prefix;          // the entries' text up to and with their last "/" ("" for none)
    s64 watch_id;        // -1 while unwatched
    u64 identity[2];     // device and inode the watch was added on
    ScanMember *members;
};

constexpr u64 scan_path_buckets = 1024;
constexpr u64 scan_id_buckets = 256;

struct FileScanner {
    Arena *arena;
    FolderWatch *watch;   // null: no notifications, every tick is a full pass
    ScanFolder *by_path[scan_path_buckets];
    ScanFolder *by_id[scan_id_buckets];
    ScanFolder *folders;
    u64 unwatched_count;
    FileEntry *suspects;  // through scan_next
    u64 next_full_pass_us;
    b32 full_pass_due;
    // After a folder's watch is lost, folders are checked for a new inode on
    // every tick for a while: a folder moved away and copied back keeps its
    // subfolders' watches on the moved inodes, and they send no event.
    u64 identity_check_until_us;
};

static void suspect_add(FileScanner *sc, FileEntry *entry)
{
    if (entry->scan_mark & ScanMark_Suspect) return;
    entry->scan_mark |= ScanMark_Suspect;
    entry->scan_next = sc->suspects;
    sc->suspects = entry;
}

static u64 scan_id_slot(s64 id) { return (u64)id % scan_id_buckets; }

static void folder_map_id(FileScanner *sc, ScanFolder *folder)
{
    u64 slot = scan_id_slot(folder->watch_id);
    folder->next_by_id = sc->by_id[slot];
    sc->by_id[slot] = folder;
}

static void folder_unmap_id(FileScanner *sc, ScanFolder *folder)
{
    ScanFolder **link = &sc->by_id[scan_id_slot(folder->watch_id)];
    while (*link && *link != folder) link = &(*link)->next_by_id;
    if (*link) *link = folder->next_by_id;
    folder->next_by_id = nullptr;
}

// What to hand the system for a prefix: the folder itself, "/" for the
// root, "." for relative names without a folder.
static Str folder_watch_path(Str prefix)
{
    if (prefix.size == 0) return str_lit(".");
    if (prefix.size == 1) return prefix;   // "/"
    return str_prefix(prefix, prefix.size - 1);
}

// True when the folder is there (watched now or not).
static bool folder_try_watch(FileService *fs, FileScanner *sc, ScanFolder *folder)
{
    if (!sc->watch || folder->watch_id >= 0) return true;
    Str path = folder_watch_path(folder->prefix);
    u64 identity[2] = {};
    if (!folder_identity(path, identity)) return false;
    s64 id = folder_watch_add(sc->watch, path);
    if (id < 0) return true;
    folder->watch_id = id;
    folder->identity[0] = identity[0];
    folder->identity[1] = identity[1];
    folder_map_id(sc, folder);
    sc->unwatched_count -= 1;
    if (sc->unwatched_count == 0) atomic_store_u64(&fs->watching, 1);
    return true;
}

static void folder_lost(FileService *fs, FileScanner *sc, ScanFolder *folder)
{
    if (folder->watch_id < 0) return;
    folder_unmap_id(sc, folder);
    folder_watch_remove(sc->watch, folder->watch_id);
    folder->watch_id = -1;
    sc->unwatched_count += 1;
    atomic_store_u64(&fs->watching, 0);
}

// A watch follows an inode, not a name: a folder whose name now leads to
// another inode is watched again, and its files are looked at, since
// whatever changed in between sent no event.
static void folders_check_identity(FileService *fs, FileScanner *sc)
{
    for (ScanFolder *f = sc->folders; f; f = f->next_all) {
        if (f->watch_id < 0) continue;
        u64 identity[2] = {};
        bool present = folder_identity(folder_watch_path(f->prefix), identity);
        if (present && identity[0] == f->identity[0] && identity[1] == f->identity[1]) continue;
        folder_lost(fs, sc, f);
        folder_try_watch(fs, sc, f);
        atomic_add_u64(&fs->rewatches, 1);
        for (ScanMember *m = f->members; m; m = m->next) suspect_add(sc, m->entry);
    }
}

static ScanFolder *folder_for(FileService *fs, FileScanner *sc, Str path)
{
    u64 slash = str_find_last_byte(path, '/');
    Str prefix = slash < path.size ? str_prefix(path, slash + 1) : str_prefix(path, 0);
    u64 slot = str_hash(prefix) % scan_path_buckets;
    for (ScanFolder *f = sc->by_path[slot]; f; f = f->next_by_path)
        if (str_eq(f->prefix, prefix)) return f;
    ScanFolder *folder = push_struct<ScanFolder>(sc->arena);
    if (!folder) return nullptr;
    folder->prefix = str_copy(sc->arena, prefix);
    folder->watch_id = -1;
    folder->next_by_path = sc->by_path[slot];
    sc->by_path[slot] = folder;
    folder->next_all = sc->folders;
    sc->folders = folder;
    sc->unwatched_count += 1;
    atomic_store_u64(&fs->watching, 0);
    folder_try_watch(fs, sc, folder);
    return folder;
}

static void scanner_register(FileService *fs, FileScanner *sc, FileEntry *entry)
{
    ScanFolder *folder = folder_for(fs, sc, entry->path);
    if (folder) {
        ScanMember *member = push_struct<ScanMember>(sc->arena);
        if (member) {
            member->entry = entry;
            member->next = folder->members;
            folder->members = member;
        }
    }
    // An entry still waiting for its first load is read after its folder's
    // watch began, so changes from now on are seen. Any other entry may
    // have been read before: look at it once.
    if (atomic_load_u64(&entry->busy) != FileBusy_New) suspect_add(sc, entry);
}

// Decides about one entry from what its record and its file say; keeps the
// scanner's marks. True: request a load now.
static bool scan_decide(FileScanner *sc, FileEntry *entry, u64 busy, bool same, u64 load_count, bool full_pass)
{
    if (busy == FileBusy_Loading) {
        // The load may have read the file before its latest change.
        suspect_add(sc, entry);
        return false;
    }
    if (busy == FileBusy_New) {
        // Its first load is queued. Only a request lost on the way (a reader
        // whose deadline passed while the queue was full) leaves it waiting
        // across two full passes.
        if (!full_pass) return false;
        if (entry->scan_mark & ScanMark_SeenNew) {
            entry->scan_mark &= ~(u64)ScanMark_SeenNew;
            return true;
        }
        entry->scan_mark |= ScanMark_SeenNew;
        return false;
    }
    entry->scan_mark &= ~(u64)ScanMark_SeenNew;
    if (same) {
        entry->scan_mark &= ~(u64)ScanMark_Requested;
        return false;
    }
    suspect_add(sc, entry);
    // A request is outstanding until a load completes; asking again before
    // that would only queue the same work twice.
    if ((entry->scan_mark & ScanMark_Requested) && entry->scan_request_count == load_count) return false;
    entry->scan_mark |= ScanMark_Requested;
    entry->scan_request_count = load_count;
    return true;
}

static void scan_full_pass(FileService *fs, FileScanner *sc)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    for (u64 b = 0; b < file_bucket_count; b += 1) {
        TableStripe *stripe = striped_stripe_of(&fs->table, b);
        StrList requests = {};
        srw_lock_shared(stripe->slim);
        for (FileEntry *e = fs->buckets[b].first; e; e = e->next) {
            u64 busy = atomic_load_u64(&e->busy);
            bool same = true;
            if (busy == FileBusy_Idle) {
                FileProperties props = file_properties(e->path);
                same = entry_matches(e, &props);
            }
            if (scan_decide(sc, e, busy, same, e->load_count, true))
                str_list_push(scratch.arena, &requests, e->path);
        }
        srw_unlock_shared(stripe->slim);
        for (StrNode *n = requests.first; n; n = n->next) fs_request(n->string, u64_max);
    }
    scratch_end(scratch);
}

static void scan_suspects(FileService *fs, FileScanner *sc)
{
    FileEntry *list = sc->suspects;
    sc->suspects = nullptr;
    for (FileEntry *e = list; e; e = e->scan_next) e->scan_mark &= ~(u64)ScanMark_Suspect;
    for (FileEntry *e = list, *next = nullptr; e; e = next) {
        next = e->scan_next;
        // The file first, then the record: a load that completes in between
        // leaves a newer record, which only costs one more look.
        FileProperties props = file_properties(e->path);
        TableStripe *stripe = nullptr;
        fs_bucket(fs, e->path_hash, &stripe);
        srw_lock_shared(stripe->slim);
        u64 busy = atomic_load_u64(&e->busy);
        // Two saves of the same size within one tick of the file system's
        // clock leave the same stat: an event is believed over the stat.
        bool same = entry_matches(e, &props) && !(e->scan_mark & ScanMark_Forced);
        u64 load_count = e->load_count;
        srw_unlock_shared(stripe->slim);
        // A load under way may have read before the event: it stays forced.
        if (busy != FileBusy_Loading) e->scan_mark &= ~(u64)ScanMark_Forced;
        if (scan_decide(sc, e, busy, same, load_count, false)) fs_request(e->path, u64_max);
    }
}

static void scan_changes(FileService *fs, FileScanner *sc, Arena *arena)
{
    FolderChangeList changes = folder_watch_read(sc->watch, arena);
    for (FolderChange *c = changes.first; c; c = c->next) {
        if (c->kind == FolderChange_Overflow) {
            sc->full_pass_due = 1;
            continue;
        }
        ScanFolder *next = nullptr;
        for (ScanFolder *f = sc->by_id[scan_id_slot(c->watch_id)]; f; f = next) {
            next = f->next_by_id;
            if (f->watch_id != c->watch_id) continue;
            if (c->kind == FolderChange_Lost) {
                folder_lost(fs, sc, f);
                sc->identity_check_until_us = now_us() + 10 * 1000000;
                continue;
            }
            Str path = str_pushf(arena, "%S%S", f->prefix, c->name);
            FileEntry *entry = fs_find(fs, path);
            if (entry) {
                entry->scan_mark |= ScanMark_Forced;
                suspect_add(sc, entry);
            }
            else if (atomic_load_u64(&fs->observer_ready) && fs->observer.on_new_name)
                fs->observer.on_new_name(fs->observer.user, path);
        }
    }
}

static void scanner_tick(FileService *fs, FileScanner *sc)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    for (FileEntry *e = pending_take_all(fs), *next = nullptr; e; e = next) {
        next = e->pending_next;
        scanner_register(fs, sc, e);
    }
    if (sc->watch) scan_changes(fs, sc, scratch.arena);
    if (sc->unwatched_count) {
        // An unwatched folder is polled: its entries are looked at on every
        // tick, and its watch is tried again (the folder may be back). A
        // folder that is not there holds nothing to look at: it is looked
        // for, and its entries are looked at once it is there.
        for (ScanFolder *f = sc->folders; f; f = f->next_all) {
            if (f->watch_id >= 0) continue;
            if (!folder_try_watch(fs, sc, f)) continue;
            for (ScanMember *m = f->members; m; m = m->next) suspect_add(sc, m->entry);
        }
    }
    u64 now = now_us();
    bool full_pass = !sc->watch || sc->full_pass_due || now >= sc->next_full_pass_us;
    if (sc->watch && (full_pass || now < sc->identity_check_until_us)) folders_check_identity(fs, sc);
    if (full_pass) {
        scan_full_pass(fs, sc);
        atomic_add_u64(&fs->full_passes, 1);
        sc->full_pass_due = 0;
        // With notifications, events tell of a change at once and the pass
        // only catches what they miss (and folders that were missing): it
        // comes half as often, and never takes more than half a percent of
        // the time, which a pass over 100,000 sources and the files they
        // link (a second or so) took five times over at every 8 s.
        u64 interval_us = fs->config.full_pass_ms * 1000 * (sc->watch ? 2 : 1);
        u64 took_us = now_us() - now;
        if (sc->watch) interval_us = max_of<u64>(interval_us, took_us * 200);
        sc->next_full_pass_us = now + interval_us;
    } else {
        scan_suspects(fs, sc);
    }
    scratch_end(scratch);
    atomic_add_u64(&fs->scan_ticks, 1);
}

void fs_scanner(u64)
{
    thread_set_name("[FS] Scanner");
    FileService *fs = file_service();
    FileScanner *sc = fs->scanner;
    sc->next_full_pass_us = now_us() + fs->config.full_pass_ms * 1000;
    for (;;) {
        scanner_tick(fs, sc);
        // A notification ends the wait at once. Editors write a file in
        // steps (truncate, write, close; or write beside and rename): a
        // moment's grace lets a save finish before the file is read.
        if (folder_watch_wait(sc->watch, fs->config.tick_ms)) sleep_ms(fs_save_grace_ms);
    }
}

u64 fs_count_changed(FileService *fs)
{
    u64 changed = 0;
    for (u64 b = 0; b < file_bucket_count; b += 1) {
        TableStripe *stripe = striped_stripe_of(&fs->table, b);
        srw_lock_shared(stripe->slim);
        for (FileEntry *e = fs->buckets[b].first; e; e = e->next) {
            FileProperties props = file_properties(e->path);
            if (!entry_matches(e, &props)) changed += 1;
        }
        srw_unlock_shared(stripe->slim);
    }
    return changed;
}

//- start

FileService *fs_start_with(const FileServiceConfig *config)
{
    if (FileService *existing = file_service()) return existing;
    // The record with its buckets (1 MiB), the request ring (1 MiB) and the
    // stripe array.
    Arena *arena = arena_alloc(MiB(4), KiB(4));
    FileService *fs = arena ? push_struct<FileService>(arena) : nullptr;
    // Every file of the site is read through the service: without it there
    // is nothing to build or watch.
    if (!fs) process_exit_refused("the file service", MiB(2));
    fs->arena = arena;
    fs->config = *config;
    fs->generation = 1;
    if (fs->config.streamer_count == 0) {
        u64 processors = system_info()->processor_count;
        fs->config.streamer_count = max_of<u64>(processors > 1 ? processors - 1 : 1, 2);
    }
    if (fs->config.tick_ms == 0) fs->config.tick_ms = 100;
    if (fs->config.full_pass_ms == 0) fs->config.full_pass_ms = 4000;
    // Room for the paths of some 13,000 files: a site's sources are asked
    // for ahead of their builds without the asker waiting for a streamer
    // to take each one (a wait and a wake per file otherwise). Pages of the
    // ring are only touched as far as it fills.
    fs->requests = queue_alloc(arena, MiB(1));
    // An entry and its path take some 200 bytes: a stripe of a site with
    // 100,000 files holds about 300 KiB, so a stripe chains a block or two
    // rather than reserving gigabytes it never touches.
    bool table_ok = fs->requests && striped_table_init(arena, &fs->table, file_bucket_count, file_stripe_count,
                                                       StripeLock_Slim, KiB(256), KiB(4));
    FileScanner *sc = table_ok ? push_struct<FileScanner>(arena) : nullptr;
    if (sc) sc->arena = arena_alloc(MiB(4), KiB(64));
    if (!sc || !sc->arena) process_exit_refused("the file table", file_stripe_count * KiB(256));
    content_cache_create();

    sc->watch = fs->config.no_notifications || fs->config.no_scanner ? nullptr : folder_watch_open();
    fs->scanner = sc;
    fs->watching = sc->watch ? 1 : 0;
    g_file_service.store(fs, std::memory_order_release);

    fs->streamer_count = fs->config.streamer_count;
    fs->streamers = push_array<ThreadRecord *>(arena, fs->streamer_count);
    u64 started = 0;
    for (u64 i = 0; fs->streamers && i < fs->streamer_count; i += 1) {
        fs->streamers[i] = thread_start(i, fs_streamer);
        if (fs->streamers[i]) started += 1;
    }
    // A build that ends when its pages are written has nothing to watch: a
    // scanner would only stat every file again, a full pass at a time.
    if (!fs->config.no_scanner) fs->scanner_thread = thread_start(0, fs_scanner);
    // Fewer streamers only load more slowly; none would leave every reader
    // waiting for ever.
    if (started == 0) process_exit_refused("the file streamer threads", 0);
    return fs;
}

FileService *fs_start(void)
{
    FileServiceConfig config = {};
    return fs_start_with(&config);
}
