// os/file_service.h: the watched file table, its loader threads and the
// generation counter.
//
// Every source, template and style input is read through one process-wide
// FileService. A reader asks for a path with fs_get; the first request
// creates the path's FileEntry and queues a load (or, when the reader
// waits without a deadline, makes the load itself); a streamer thread reads
// the file into the content cache and stores the content key and the
// file's last-write time; the reader then takes the bytes with fs_read,
// which holds them in the cache until fs_read_done. The service holds each
// file's current content, and the content a reload replaces is released
// once no reader holds it.
// Every completed load raises the generation by one, changed bytes or not;
// builds compare themselves against it to know they are out of date.
//
// Some files are watched for their state alone (there, missing, a folder,
// unreadable): the files a link names, which a page never reads.
// fs_file_state answers from the table, so a thousand links to one picture
// cost one look at the disk; such an entry holds no content and a later
// fs_get of the same path turns it into an ordinary one.
//
// Watching. The scanner thread waits for the system's change notifications
// (inotify on Linux, one watch per folder), or 100 ms at most. It does not
// stat every file on every wake-up: the notifications name the files worth
// a look, and only those are compared against their stored last-write
// time. A full pass over every entry still runs every few seconds as the
// safety net for what notifications miss (network folders, an overflowed
// event queue, a folder replaced under its watch). Folders that exist but
// cannot be watched are polled on every wake-up; a folder that does not
// exist holds no file, so only the folder is looked for. So a changed file
// is reloaded a few milliseconds after it is saved, and an idle watch
// costs almost nothing.
//
// A new entry counts as busy until its first load completes: a reader never
// receives the all-zero key of a file that was never loaded, unless its own
// deadline passes first.
//
// Threads: any thread may call fs_get, fs_request and fs_generation. The
// file table is a StripedTable (1,024 buckets, 64 stripes) with a slim lock
// per stripe: shared for lookups and the scanner, exclusive for creating
// entries and storing load results. The request queue's lock is never held
// while a stripe lock is taken, and no stripe lock is held while a push may
// wait for room. Failure: a file that cannot be read loads as empty content;
// a path too long for the request queue is refused (fs_get reports it as
// not loaded). An unreadable file keeps the properties stat gave it, so it
// is loaded once (as empty) and reported once through the observer, not
// reloaded on every scan.
#pragma once
#include "os/content_cache.h"

//- records

// What a path holds, as a link check tells the author.
enum FileState : u32 {
    FileState_Missing = 0,
    FileState_Regular = 1,      // a file that can be read
    FileState_Folder = 2,
    FileState_Special = 3,      // a named pipe, a device, a socket
    FileState_Unreadable = 4,   // a regular file that cannot be opened
};

enum FileBusy : u64 {
    FileBusy_Idle = 0,
    FileBusy_Loading = 1,    // a streamer holds the entry
    FileBusy_New = 2,        // created, first load not yet done
};

// Whether the queue holds the request of an entry's first load, and
// whether a reader has made that request needless by loading the file itself.
enum FirstLoad : u64 {
    FirstLoad_None = 0,
    FirstLoad_Queued = 1,
    FirstLoad_Taken = 2,
};

struct FileEntry {
    FileEntry *next;
    Str path;                // copied, NUL-terminated
    u64 path_hash;           // str_hash of the path, compared before the bytes
    ContentKey key;          // all zero until the first load
    u64 last_write_time;     // nanoseconds since the epoch; 0 until the first load or for a missing file
    // Compared with the time: two saves within one tick of the file
    // system's clock still differ in size or, when saved by a rename, in
    // the file itself.
    u64 size;
    u64 file_id;
    u64 busy;                // FileBusy, atomic
    u64 first_load;          // FirstLoad, atomic
    u64 load_count;          // completed loads of this entry, stored with the key
    u64 change_generation;   // the generation its last content change raised; 0: never changed
    b32 unreadable;          // the last load could not read an existing file (reported once)
    u32 state;               // FileState of the last load
    b32 state_only;          // watched for its state alone: no content is loaded
    b32 content_loaded;      // a load of its content completed
    FileEntry *pending_next; // the service's list of entries the scanner has not taken yet
    // Touched by the scanner thread only.
    u64 scan_mark;           // ScanMark bits
    u64 scan_request_count;  // load_count when the scanner last requested a load
    FileEntry *scan_next;    // the scanner's list of entries to look at
};

struct FileBucket {
    FileEntry *first;
    FileEntry *last;
};

// Chains stay short up to some 100,000 sources and the files they name: a
// lookup walks its chain on every link, include and read, so a fixed table
// too small for the site makes each document cost more the larger it grows.
constexpr u64 file_bucket_count = 65536;
constexpr u64 file_stripe_count = 64;

struct FileServiceConfig {
    u64 streamer_count;       // 0: processors - 1, at least 2
    u64 tick_ms;              // 0: 100, the scanner's wake-up period
    u64 full_pass_ms;         // 0: 4,000, the safety-net pass over every entry
    b32 no_notifications;     // poll every entry on every tick, as without inotify
    b32 no_scanner;           // files are read, never watched: a run that builds once
};

struct FileScanner;   // the scanner's private state

// Told, on a streamer thread (or a reader's own, for a first load it made
// itself) and without any lock held, when a reload
// changed a file's content or state, or touched a file nobody read, and
// when an existing file could not be
// read; on the scanner thread, when a watched folder names a file the table
// does not know (a new source, perhaps). Every call must return quickly and
// must not wait for a load.
struct FsObserver {
    void (*on_change)(void *user, Str path, u64 generation);
    // A file watched for its state alone (nobody read its bytes) changed
    // size or last-write time, its state the same.
    void (*on_touched)(void *user, Str path);
    void (*on_unreadable)(void *user, Str path);
    void (*on_new_name)(void *user, Str path);
    void *user;
};

struct FileService {
    Arena *arena;
    WorkQueue *requests;      // file paths, popped by the streamers
    StripedTable table;       // slim lock per stripe
    FileBucket buckets[file_bucket_count];
    u64 streamer_count;
    ThreadRecord **streamers;
    ThreadRecord *scanner_thread;
    u64 generation;           // atomic; raised by every reload that changed a file's content
    FsObserver observer;      // set once; read only after observer_ready
    u64 observer_ready;       // atomic
    u64 rewatches;            // atomic: folders watched again after their inode changed
    FileServiceConfig config;
    FileScanner *scanner;     // touched by the scanner thread only
    FileEntry *pending;       // atomic: new entries the scanner has not taken yet
    u64 watching;             // atomic: 1 while every watched folder has a working notification
    u64 dropped_requests;     // atomic: requests that found their entry busy, or loaded by its reader (or no entry)
    u64 scan_ticks;           // atomic: completed scanner wake-ups
    u64 full_passes;          // atomic: completed full passes
};

struct FsResult {
    ContentKey key;
    u64 last_write_time;
    u64 generation;   // read together with the key: no load of this file after it is counted
    b32 loaded;       // false: the deadline passed first or the path was refused
};

//- the service

// Ends the process with a message when its memory or every streamer thread
// is refused: nothing can be built or watched without the service.
FileService *fs_start(void);                                   // main thread, once
FileService *fs_start_with(const FileServiceConfig *config);   // main thread, once; tests
FileService *file_service(void);                               // null before fs_start

// The key, last-write time and the generation seen with them; waits until
// the file's first load is done, or until the deadline.
FsResult fs_get(Str path, u64 deadline_us);
// fs_get and the bytes of that content, held until fs_read_done: a reload
// of the file meanwhile does not release them. `bytes` is empty (and
// nothing held) for empty or unreadable files and when `file.loaded` is
// false without an earlier load.
struct FsContent {
    FsResult file;
    Str bytes;
    b32 held;
};
FsContent fs_read(Str path, u64 deadline_us);
void fs_read_done(FsContent *content);
// Loads a known path again now, on the calling thread, as a streamer
// would: for a writer that needs the table to hold what it just wrote, so
// that the next change to the file is seen as one. False when the path is
// unknown or being loaded already (that load reads what was written).
bool fs_reload(Str path);
// Queues a load of the path; false when the deadline passed or the path
// can never fit in the request queue.
bool fs_request(Str path, u64 deadline_us);
u64 fs_generation(void);
// The state of a path as the table knows it: the first call looks at the
// disk and watches the path from then on; later calls answer from the
// table, which follows the file's changes (and tells the observer).
u32 fs_file_state(Str path);
// What the table holds for a path, without waiting and without watching
// it: false when the path has no entry. `key` is zero for a path watched
// for its state alone.
bool fs_peek(Str path, ContentKey *out_key, u32 *out_state);
// The state of a path on disk now, unwatched.
u32 file_state_of(Str path, FileProperties *out_properties = nullptr);
// Raises the generation by one without a load: something that every build
// depends on changed without a file's content changing (a source appeared).
u64 fs_generation_raise(void);
// Installs the observer (the site build, at its start). Not thread-safe
// against itself: one caller, once.
void fs_observe(const FsObserver *observer);
// Starts the first load of a path nobody asked for yet, without waiting for
// it: a reader that comes later finds it loaded or loading. Waits only
// while the request queue is full.
void fs_prefetch(Str path);

// Thread entries.
void fs_streamer(u64 index);
void fs_scanner(u64 unused);

//- for tools and benchmarks

// The work of one full pass without its effects: under the stripes' shared
// locks, compares every entry with its file (last-write time, size,
// identity) and counts the differences. Safe on any thread.
u64 fs_count_changed(FileService *fs);
// Whether change notifications cover every watched folder right now.
inline bool fs_notifications_active(FileService *fs) { return atomic_load_u64(&fs->watching) != 0; }
