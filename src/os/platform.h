// os/platform.h: the only door to the operating system.
//
// Everything above this layer works on UTF-8 paths with forward slashes and
// on the records declared here; no system type crosses this header, so a
// second backend (os/win32/) can sit beside os/posix/. Each backend defines
// every function marked [backend]; the rest are written once on top of them
// (os/platform.cpp).
//
// Threads: every thread has a ThreadContext with two scratch arenas, a name
// and a general arena. Contexts are created by thread_start's trampoline, by
// the entry point, or on first use for threads the program did not start
// (test runners). Locks and condition variables come from process-wide
// pools and are never returned. File calls never stop the program: a failure
// gives an empty result or false, and the caller decides what it means.
#pragma once
#include "base/date.h"
#include "base/str.h"

//- thread contexts

// Scratch blocks are sized for a large document's tokens and pages; more
// chains further blocks. A few dozen threads must fit in the address space
// a container or `ulimit -v` allows, so these are not gigabytes.
constexpr u64 thread_scratch_reserve = MiB(32);
constexpr u64 thread_arena_reserve = KiB(64);

struct ThreadContext {
    Arena *scratch[2];      // reserve thread_scratch_reserve each
    char name[64];
    u64 name_size;          // at most 64
    u32 is_main;
    Arena *arena;           // the thread's general arena
};

// Both end the process with a message when the memory of the context is
// refused: no thread can work without it.
ThreadContext *thread_context_create(void);    // for the calling thread
// A new context with its arenas, for the backends' thread_context_create.
// No thread can work without its scratch memory: a refusal ends the
// process with a message, before anything half-built is used.
ThreadContext *thread_context_alloc(void);
ThreadContext *thread_context(void);           // creates one on first use
// The context keeps the first 64 bytes of the name; the system gets the
// whole name, or its short form where it keeps only a few bytes.
void thread_set_name(const char *format, ...); // [backend]

// The short form of a thread name for systems that keep 15 bytes (Linux):
// brackets and "#" dropped ("[FS] Streamer #1" becomes "FS Streamer 1"),
// and when still too long the text is cut before the trailing index, never
// the index itself. Writes a NUL-terminated name; returns its length.
constexpr u64 thread_short_name_capacity = 16;
u64 thread_short_name(Str name, char out[thread_short_name_capacity]);

//- threads

typedef void ThreadEntry(u64 argument);
struct ThreadRecord;                                   // opaque
ThreadRecord *thread_start(u64 argument, ThreadEntry *entry);   // [backend]
// wyn's own threads never end; tests end theirs and wait for them here.
void thread_join(ThreadRecord *thread);                // [backend]

//- locks, slim reader/writer locks and condition variables

struct CriticalSection;   // opaque, a plain mutex
struct SrwLock;           // opaque, a shared/exclusive lock
struct CondVar;           // opaque

CriticalSection *cs_alloc(void);                  // [backend]
void cs_enter(CriticalSection *cs);               // [backend]
void cs_leave(CriticalSection *cs);               // [backend]

SrwLock *srw_alloc(void);                         // [backend]
void srw_lock_shared(SrwLock *lock);              // [backend]
void srw_unlock_shared(SrwLock *lock);            // [backend]
void srw_lock_exclusive(SrwLock *lock);           // [backend]
void srw_unlock_exclusive(SrwLock *lock);         // [backend]

CondVar *cv_alloc(void);                          // [backend]
void cv_broadcast(CondVar *cv);                   // [backend] wakes every waiter

// Waits with the lock held (entered, or shared) until a broadcast or the
// deadline, an absolute time in microseconds of now_us(); u64_max waits
// without limit. Returns false at once when the deadline has passed, else
// whether the wake-up was a signal rather than the deadline. Waiters always
// re-check their condition: wake-ups may be spurious.
bool wait_cs(CondVar *cv, CriticalSection *cs, u64 deadline_us);        // [backend]
bool wait_srw_shared(CondVar *cv, SrwLock *lock, u64 deadline_us);      // [backend]
bool wait_srw_exclusive(CondVar *cv, SrwLock *lock, u64 deadline_us);   // [backend]

//- memory protection

// Makes the pages that hold [base, base + size) read-only; the range is
// widened to whole pages. False when the system refuses.
bool memory_protect_read_only(void *base, u64 size);   // [backend]
// Makes those pages writable again; a range made read-only must be, before
// its arena is released (a reset leaves the protection as it is).
bool memory_protect_read_write(void *base, u64 size);  // [backend]

//- process

struct SystemInfo {
    u64 processor_count;        // processors this process may run on, at least 1
    u64 page_size;
    u64 allocation_granularity;
    u64 large_page_minimum;     // 0: pages are rounded to page_size
    u64 counter_frequency;      // ticks per second of now_us's clock
    u64 process_id;
    b32 timer_resolution_granted;
};

void process_start(void);                  // [backend] main thread, once, before other threads
// For memory the program cannot go on without: says on standard error what
// was refused and ends the process with status 1.
[[noreturn]] void process_exit_refused(const char *what, u64 size);
// Ends the process at once: no exit handlers or static destructors run,
// since other threads may still hold their locks.
[[noreturn]] void process_exit_now(u32 status);   // [backend]
const SystemInfo *system_info(void);       // [backend] runs process_start when nobody did
Arena *process_arena(void);
// Makes the process arena once, for the backends' process_start; a refusal
// ends the process.
void process_arena_create(void);

//- console

// Writes the text to standard output in one piece: text written by two
// threads at once is never mixed. Standard output is line-buffered.
void console_write(Str text);              // [backend] standard output
void console_write_error(Str text);        // [backend] standard error
void console_setup(void);                  // [backend] line buffering, even into a pipe
// True when standard output is a terminal: only then may wyn colour its
// text or redraw a status line in place.
bool console_is_terminal(void);            // [backend] standard output
bool console_error_is_terminal(void);      // [backend] standard error

//- time

u64 now_us(void);                          // [backend] monotonic microseconds
void sleep_ms(u64 milliseconds);           // [backend]
DateTime date_now(void);                   // [backend] UTC, every field filled

//- files and folders
//
// Paths are UTF-8. A file's last-write time is the nanoseconds since the
// epoch of its modification (0 when it is missing); any change of the value
// means a change of the file.

enum FileWriteFlags : u32 {
    FileWrite_CreateFolders = 2 | 4,   // either bit creates the missing parent folders
    FileWrite_Replace = 8,             // delete first; the file is created anew
};

struct FileProperties {
    u64 size;
    u64 last_write_time;
    u64 file_id;     // tells two files at one path apart (the inode); 0 when missing
    b32 exists;
    b32 is_folder;
    b32 is_special;  // neither a folder nor a regular file: a named pipe, a device, a socket
};

struct FolderEntry {
    FolderEntry *next;
    Str name;
    b32 is_folder;   // links are followed: a link to a folder is a folder
};

struct FolderListing {
    FolderEntry *first;
    FolderEntry *last;
    u64 count;
    b32 opened;
};

Str file_read_all(Arena *arena, Str path, FileProperties *out_properties = nullptr);   // [backend]
bool file_exists(Str path);                                   // [backend] readable file
bool file_write_all(Str path, Str bytes, u32 flags);          // [backend] atomic replace
bool folder_create_all(Str path);                             // creates every folder but the last piece
bool folder_create(Str path);                                 // [backend] true when it exists afterwards
bool file_delete(Str path);                                   // [backend]
FileProperties file_properties(Str path);                     // [backend]
inline u64 file_last_write_time(Str path) { return file_properties(path).last_write_time; }
Str current_directory(Arena *arena);                          // [backend] no trailing slash
FolderListing folder_list(Arena *arena, Str folder);          // [backend] "." and ".." skipped
// The path with every link followed and every "." and ".." resolved; empty
// when some piece of it is missing. Tells where a link really leads.
Str path_real(Arena *arena, Str path);                        // [backend]
// Device and inode of a folder, so a walk can stop at link cycles; false
// when the folder cannot be read.
bool folder_identity(Str folder, u64 out_identity[2]);        // [backend]

//- change notifications
//
// A FolderWatch reports, without waiting, the names of files that changed,
// appeared or went inside the folders it watches (not below them). It only
// narrows down what is worth a look: callers compare the files themselves,
// and still look at everything now and then, because notifications can be
// lost (an overflowed queue) or never come (network folders). A backend
// without notifications returns null from folder_watch_open. One thread
// uses a watch at a time.

struct FolderWatch;   // opaque

enum FolderChangeKind : u32 {
    FolderChange_File = 1,       // `name` in the folder of `watch_id` changed
    FolderChange_Lost = 2,       // the folder's watch ended (deleted, moved): watch it again by path
    FolderChange_Overflow = 3,   // notifications were dropped: compare everything
};

struct FolderChange {
    FolderChange *next;
    s64 watch_id;
    u32 kind;
    Str name;
};

struct FolderChangeList {
    FolderChange *first;
    FolderChange *last;
    u64 count;
};

FolderWatch *folder_watch_open(void);                          // [backend] null without notifications
// The id of the folder's watch (the same id for a folder watched twice),
// or -1 when it cannot be watched (missing, or the system's limit reached).
s64 folder_watch_add(FolderWatch *watch, Str folder);          // [backend]
void folder_watch_remove(FolderWatch *watch, s64 watch_id);    // [backend]
// The changes that arrived since the last call, on `arena`; never waits.
FolderChangeList folder_watch_read(FolderWatch *watch, Arena *arena);   // [backend]
// Waits until a change is there to read or `timeout_ms` passed; true when
// one is. Without notifications it only waits.
bool folder_watch_wait(FolderWatch *watch, u64 timeout_ms);             // [backend]

//- listening sockets
//
// A TCP socket bound to `address` (an IPv4 or IPv6 literal such as
// "127.0.0.1" or "::1") and `port` (0: any free port), listening, close-on-
// exec. Returns the descriptor, or -1 with the system's reason in `error`
// (on `arena`) and its kind in `out_failure` (NetListenFailure). `out_port`
// receives the port actually bound.
enum NetListenFailure : u32 {
    NetListen_Ok = 0,
    NetListen_AddressInUse = 1,         // something else listens there
    NetListen_AddressNotAvailable = 2,  // not an address of this machine
    NetListen_Other = 3,
};
s64 net_listen(Arena *arena, Str address, u16 port, u16 *out_port, Str *error,
               u32 *out_failure = nullptr);                                    // [backend]
void net_close(s64 socket);                                                     // [backend]
// The bytes a connected TCP socket has received so far (TLS records and
// all), which tells a slow peer from a silent one; 0 where the system does
// not count them.
u64 net_bytes_received(s64 socket);                                             // [backend]
