// os/posix/posix_platform.cpp: the POSIX backend of the platform layer.
//
// Memory is one anonymous mapping per reservation (MAP_NORESERVE: the kernel
// backs a page on first touch, so "commit" is bookkeeping). Locks are the
// standard library's mutexes and condition variables, handed out from
// pools. Files are read and written with open/read/write, looping on short
// transfers and EINTR; a write replaces its file through a temporary file
// and a rename, so a reader never sees half a file.
#include "os/platform.h"
#include "os/file_replace.h"
#include "os/posix/posix_files.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <shared_mutex>

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
#include <malloc.h>
#include <unistd.h>

//- memory

void *os_memory_reserve(u64 size)
{
    void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void os_memory_commit(void *, u64) {}

void os_memory_reset(void *base, u64 size)
{
    u64 page = os_memory_page_size();
    u64 start = align_up_pow2((u64)(uintptr_t)base, page);
    u64 end = ((u64)(uintptr_t)base + size) & ~(page - 1);
    if (end <= start) return;
    madvise((void *)(uintptr_t)start, end - start, MADV_DONTNEED);
}

void os_memory_release(void *base, u64 size) { munmap(base, size); }

static bool memory_protect(void *base, u64 size, int protection)
{
    if (size == 0) return true;
    u64 page = os_memory_page_size();
    u64 start = (u64)(uintptr_t)base & ~(page - 1);
    u64 end = align_up_pow2((u64)(uintptr_t)base + size, page);
    return mprotect((void *)(uintptr_t)start, end - start, protection) == 0;
}

bool memory_protect_read_only(void *base, u64 size) { return memory_protect(base, size, PROT_READ); }

bool memory_protect_read_write(void *base, u64 size) { return memory_protect(base, size, PROT_READ | PROT_WRITE); }

u64 os_memory_page_size(void)
{
    static const u64 page = (u64)sysconf(_SC_PAGESIZE);
    return page;
}

u64 os_memory_large_page_size(void) { return 0; }

//- thread contexts

namespace {

thread_local ThreadContext *tls_context;

// Releases a context's arenas when its thread ends, so tests that start and
// join many threads do not pile up reservations.
struct ContextOwner {
    ThreadContext *context = nullptr;
    ~ContextOwner()
    {
        if (!context || context->is_main) return;
        arena_release(context->scratch[0]);
        arena_release(context->scratch[1]);
        Arena *arena = context->arena;
        tls_context = nullptr;
        context = nullptr;
        arena_release(arena);
    }
};
thread_local ContextOwner tls_owner;

} // namespace

ThreadContext *thread_context_create(void)
{
    if (tls_context) return tls_context;
    ThreadContext *context = thread_context_alloc();
    tls_context = context;
    tls_owner.context = context;
    return context;
}

ThreadContext *thread_context(void)
{
    return tls_context ? tls_context : thread_context_create();
}

Arena **os_thread_scratch_arenas(void) { return thread_context()->scratch; }

void thread_set_name(const char *format, ...)
{
    ThreadContext *context = thread_context();
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    va_list args;
    va_start(args, format);
    Str name = str_pushfv(scratch.arena, format, args);
    va_end(args);
    u64 kept = min_of<u64>(name.size, sizeof(context->name));
    memcpy(context->name, name.str, kept);
    context->name_size = kept;
    // The kernel keeps 15 bytes: give it a short form that keeps the index,
    // so tools that list threads still tell the streamers apart.
    char short_name[thread_short_name_capacity];
    thread_short_name(name, short_name);
    pthread_setname_np(pthread_self(), short_name);
    scratch_end(scratch);
}

//- pools
//
// Records are taken from a pool arena under the pool's lock and never given
// back, so their addresses stay valid for the life of the process.

struct ThreadRecord {
    ThreadRecord *next;
    pthread_t handle;
    u64 thread_id;
    u64 argument;
    ThreadEntry *entry;
};

struct CriticalSection {
    CriticalSection *next;
    std::mutex mutex;
};

struct SrwLock {
    SrwLock *next;
    std::shared_mutex lock;
};

struct CondVar {
    CondVar *next;
    std::condition_variable_any cv;
};

namespace {

struct Pool {
    std::mutex lock;
    Arena *arena;
};

struct Pools {
    Pool threads, sections, slim_locks, conditions;
};

Pools &pools()
{
    static Pools p;
    return p;
}

template <typename T>
T *pool_take(Pool *pool)
{
    std::lock_guard<std::mutex> guard(pool->lock);
    if (!pool->arena) pool->arena = arena_alloc(KiB(256), KiB(4));
    void *memory = arena_push(pool->arena, sizeof(T), alignof(T));
    // Callers take locks for granted; without one nothing can go on safely.
    if (!memory) process_exit_refused("a lock or thread record", KiB(256));
    return new (memory) T();
}

std::atomic<u64> thread_counter{0};

void *thread_trampoline(void *raw)
{
    ThreadRecord *record = (ThreadRecord *)raw;
    thread_context_create();
    record->entry(record->argument);
    return nullptr;   // ContextOwner releases the arenas as the thread ends
}

} // namespace

ThreadRecord *thread_start(u64 argument, ThreadEntry *entry)
{
    ThreadRecord *record = pool_take<ThreadRecord>(&pools().threads);
    record->argument = argument;
    record->entry = entry;
    record->thread_id = thread_counter.fetch_add(1) + 1;
    int failure = pthread_create(&record->handle, nullptr, thread_trampoline, record);
    if (failure != 0) {
        // Usually the stack's reservation was refused; the caller decides
        // whether it can go on with fewer threads.
        fprintf(stderr, "wyn: cannot start a thread: %s\n", strerror(failure));
        return nullptr;
    }
    return record;
}

void thread_join(ThreadRecord *thread)
{
    if (thread) pthread_join(thread->handle, nullptr);
}

CriticalSection *cs_alloc(void) { return pool_take<CriticalSection>(&pools().sections); }
void cs_enter(CriticalSection *cs) { cs->mutex.lock(); }
void cs_leave(CriticalSection *cs) { cs->mutex.unlock(); }

SrwLock *srw_alloc(void) { return pool_take<SrwLock>(&pools().slim_locks); }
void srw_lock_shared(SrwLock *l) { l->lock.lock_shared(); }
void srw_unlock_shared(SrwLock *l) { l->lock.unlock_shared(); }
void srw_lock_exclusive(SrwLock *l) { l->lock.lock(); }
void srw_unlock_exclusive(SrwLock *l) { l->lock.unlock(); }

CondVar *cv_alloc(void) { return pool_take<CondVar>(&pools().conditions); }
void cv_broadcast(CondVar *cv) { cv->cv.notify_all(); }

namespace {

// Lets a condition variable wait on a lock held shared.
struct SharedLockAdapter {
    std::shared_mutex *mutex;
    void lock() { mutex->lock_shared(); }
    void unlock() { mutex->unlock_shared(); }
};

template <typename Lockable>
bool wait_until_deadline(std::condition_variable_any *cv, Lockable &lockable, u64 deadline_us)
{
    if (deadline_us == u64_max) {
        cv->wait(lockable);
        return true;
    }
    u64 now = now_us();
    if (now >= deadline_us) return false;
    std::cv_status status = cv->wait_for(lockable, std::chrono::microseconds(deadline_us - now));
    return status == std::cv_status::no_timeout;
}

} // namespace

bool wait_cs(CondVar *cv, CriticalSection *cs, u64 deadline_us)
{
    return wait_until_deadline(&cv->cv, cs->mutex, deadline_us);
}

bool wait_srw_shared(CondVar *cv, SrwLock *lock, u64 deadline_us)
{
    SharedLockAdapter adapter = {&lock->lock};
    return wait_until_deadline(&cv->cv, adapter, deadline_us);
}

bool wait_srw_exclusive(CondVar *cv, SrwLock *lock, u64 deadline_us)
{
    return wait_until_deadline(&cv->cv, lock->lock, deadline_us);
}

//- process

namespace {

SystemInfo g_system_info;

u64 count_processors()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        int n = CPU_COUNT(&set);
        if (n > 0) return (u64)n;
    }
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? (u64)n : 1;
}

} // namespace

void process_start(void)
{
    SystemInfo *info = &g_system_info;
    info->processor_count = count_processors();
    info->page_size = os_memory_page_size();
    info->allocation_granularity = info->page_size;
    info->counter_frequency = 1000000000ull;
    info->large_page_minimum = os_memory_large_page_size();
    info->process_id = (u64)getpid();
    // wyn's memory comes from arenas; the C library's allocator serves the
    // odd library call. Its default of a 64 MiB heap reservation per thread
    // that ever calls it cost some 400 MiB of address space for nothing.
    mallopt(M_ARENA_MAX, 1);
    process_arena_create();
    // There is no timer resolution to ask for: sleeps are as fine as the
    // kernel's timers.
    info->timer_resolution_granted = 1;
}

const SystemInfo *system_info(void)
{
    if (g_system_info.processor_count == 0) {
        // Tests that never ran process_start still get sensible numbers.
        static std::once_flag once;
        std::call_once(once, [] {
            if (g_system_info.processor_count == 0) process_start();
        });
    }
    return &g_system_info;
}

void process_exit_now(u32 status) { _exit((int)status); }

//- console

void console_write(Str text)
{
    flockfile(stdout);
    fwrite(text.str, 1, text.size, stdout);
    funlockfile(stdout);
    fflush(stdout);
}

void console_write_error(Str text)
{
    flockfile(stderr);
    fwrite(text.str, 1, text.size, stderr);
    funlockfile(stderr);
    fflush(stderr);
}

void console_setup(void) { setvbuf(stdout, nullptr, _IOLBF, 0); }

bool console_is_terminal(void) { return isatty(STDOUT_FILENO) == 1; }

bool console_error_is_terminal(void) { return isatty(STDERR_FILENO) == 1; }

//- time

u64 now_us(void)
{
    struct timespec ts;
    if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return 0;
    return (u64)ts.tv_sec * 1000000ull + (u64)ts.tv_nsec / 1000ull;
}

void sleep_ms(u64 milliseconds)
{
    struct timespec ts;
    ts.tv_sec = (time_t)(milliseconds / 1000);
    ts.tv_nsec = (long)(milliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

DateTime date_now(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return date_from_unix_ms((u64)ts.tv_sec * 1000ull + (u64)ts.tv_nsec / 1000000ull);
}

//- files

namespace {

// System calls want terminated paths; built strings already carry a NUL,
// slices of other text do not.
const char *path_cstring(Arena *arena, Str path) { return str_copy(arena, path).str; }

u64 mtime_ns(const struct stat *st)
{
    return (u64)st->st_mtim.tv_sec * 1000000000ull + (u64)st->st_mtim.tv_nsec;
}

bool write_fully(int fd, const char *bytes, u64 size)
{
    while (size > 0) {
        u64 piece = min_of<u64>(size, 0x7FFFF000ull);
        ssize_t n = write(fd, bytes, piece);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += n;
        size -= (u64)n;
    }
    return true;
}

std::atomic<u64> temp_counter{0};

} // namespace

Str file_read_all(Arena *arena, Str path, FileProperties *out_properties)
{
    ArenaTemp scratch = scratch_begin(arena);
    const char *cpath = path_cstring(scratch.arena, path);
    Str result = str_empty();
    FileProperties props = {};
    // Only regular files are read: opening a named pipe would wait for a
    // writer for ever, and a device such as /dev/zero never ends. The open
    // does not wait, and regular files ignore the flag.
    int fd = open(cpath, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    scratch_end(scratch);
    if (fd < 0) {
        if (out_properties) *out_properties = props;
        return result;
    }
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        props.exists = 1;
        props.size = (u64)st.st_size;
        props.last_write_time = mtime_ns(&st);
        props.file_id = (u64)st.st_ino;
        // The file may grow or shrink while it is read: read to the end, in
        // pieces, and keep what arrived. The buffer holds the size fstat
        // gave (and the NUL); a small probe past it finds the end without
        // touching more of the arena, so a file that did not grow costs
        // exactly its size. Only a file that did grow moves.
        u64 capacity = props.size;
        char *buffer = (char *)arena_push(arena, capacity + 1, 8);
        u64 used = 0;
        // The first read asks for the probe too, so a file that ends where
        // fstat said costs one call, not a second to find its end. A file
        // that grew meanwhile goes back to after the buffer and on below.
        bool whole = false;
        if (buffer && capacity <= 0x7FFFF000ull - 4096) {
            char probe[4096];
            struct iovec parts[2] = {{buffer, (size_t)capacity}, {probe, sizeof(probe)}};
            ssize_t n = readv(fd, parts, 2);
            if (n >= 0 && (u64)n == capacity) {
                used = capacity;
                whole = true;
            } else if (n > 0 && (u64)n < capacity) {
                used = (u64)n;
            } else if (n > 0 && lseek(fd, (off_t)capacity, SEEK_SET) == (off_t)capacity) {
                used = capacity;
            } else if (n > 0) {
                buffer = nullptr;
            }
        }
        while (buffer && !whole) {
            if (used < capacity) {
                u64 want = min_of<u64>(capacity - used, 0x7FFFF000ull);
                ssize_t n = read(fd, buffer + used, want);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                used += (u64)n;
                continue;
            }
            char probe[4096];
            ssize_t n = read(fd, probe, sizeof(probe));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            u64 bigger = max_of<u64>(capacity * 2, capacity + sizeof(probe));
            char *moved = (char *)arena_push(arena, bigger + 1, 8);
            if (!moved) break;
            memcpy(moved, buffer, used);
            memcpy(moved + used, probe, (u64)n);
            used += (u64)n;
            buffer = moved;
            capacity = bigger;
        }
        if (buffer) {
            buffer[used] = 0;
            result = Str{buffer, used};
        }
    }
    close(fd);
    if (out_properties) *out_properties = props;
    return result;
}

bool file_exists(Str path)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    const char *cpath = path_cstring(scratch.arena, path);
    bool exists = false;
    // Opening a named pipe waits for a writer unless told not to; only a
    // regular file counts (a link's target, a page, a document).
    int fd = open(cpath, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
        struct stat st;
        exists = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        close(fd);
    }
    scratch_end(scratch);
    return exists;
}

//- writing files

namespace {

// Makes a folder and whatever it lacks above it, deepest first: a folder
// whose parent exists costs one mkdir. "Exists" is believed without a stat;
// when a file stands there, the open inside it fails and says so.
bool folder_make(Str folder)
{
    if (folder.size == 0 || (folder.size == 1 && folder.str[0] == '/')) return true;
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    const char *cfolder = path_cstring(scratch.arena, folder);
    bool made = mkdir(cfolder, 0777) == 0;
    bool ok = made || errno == EEXIST;
    if (!ok && errno == ENOENT) {
        Str parent = path_folder(folder);
        if (parent.size && parent.size < folder.size) {
            folder_set_known(parent, false);
            made = folder_make(parent) && mkdir(cfolder, 0777) == 0;
            ok = made || errno == EEXIST;
        }
    }
    int saved = errno;
    scratch_end(scratch);
    if (made) folder_set_made(folder, true);
    else if (ok) folder_set_known(folder, true);
    errno = saved;
    return ok;
}

// Taken once: a temporary name needs the process id on every write.
unsigned long process_id_once(void)
{
    static const unsigned long id = (unsigned long)getpid();
    return id;
}

} // namespace

// Whether linkat may name an unnamed file by its descriptor alone: Linux
// allows it since 6.10 for a file the caller opened itself, and refuses it
// before that without a capability. Cleared at the first refusal.
static std::atomic<bool> link_by_descriptor{true};

bool posix_file_link_new(Str folder, const char *cpath, Str bytes)
{
#ifdef O_TMPFILE
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    const char *cfolder = folder.size ? path_cstring(scratch.arena, folder) : ".";
    int fd = open(cfolder, O_WRONLY | O_TMPFILE | O_CLOEXEC, 0666);
    scratch_end(scratch);
    if (fd < 0) return false;
    bool ok = write_fully(fd, bytes.str, bytes.size);
    int saved = errno;
    if (ok) {
        // Linking fails if the name exists by now. By descriptor first; the
        // descriptor's entry under /proc costs a lookup of four more names.
        bool linked = false, tried = false;
        if (link_by_descriptor.load(std::memory_order_relaxed)) {
            tried = true;
            linked = linkat(fd, "", AT_FDCWD, cpath, AT_EMPTY_PATH) == 0;
            saved = errno;
        }
        if (!linked && (!tried || saved == ENOENT || saved == EPERM || saved == EINVAL)) {
            char link_path[64];
            snprintf(link_path, sizeof link_path, "/proc/self/fd/%d", fd);
            linked = linkat(AT_FDCWD, link_path, AT_FDCWD, cpath, AT_SYMLINK_FOLLOW) == 0;
            // Refused by descriptor and done by name: the kernel does not
            // allow the first way, so it is not tried again.
            if (linked && tried) link_by_descriptor.store(false, std::memory_order_relaxed);
            saved = errno;
        }
        ok = linked;
    }
    if (close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    errno = saved;
    return ok;
#else
    (void)folder, (void)cpath, (void)bytes;
    errno = ENOSYS;
    return false;
#endif
}

bool posix_file_write(Str path, Str bytes, u32 flags, bool had_file, mode_t mode)
{
    bool create_folders = (flags & FileWrite_CreateFolders) != 0;
    bool create = (flags & (FileWrite_Replace | FileWrite_CreateFolders)) != 0;
    if (!create && !had_file) {
        errno = ENOENT;
        return false;
    }
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    const char *cpath = path_cstring(scratch.arena, path);
    Str folder = path_folder(path);
    Str name = path_file_name(path);
    if (create_folders && folder.size && !folder_is_known(folder)) folder_make(folder);
    mode_t new_mode = had_file ? (mode & 07777) : 0666;
    // A new file is written unnamed and linked under its name once whole:
    // one change of the folder instead of two (a temporary name, then the
    // rename), which is what a cold build of many pages in one folder
    // waits on. Where the file system cannot, or the name was taken
    // meanwhile, the temporary file below does it.
    if (!had_file && posix_file_link_new(folder, cpath, bytes)) {
        scratch_end(scratch);
        return true;
    }
    // A reader mid-write must get the old file or the new one, never half:
    // write a temporary file beside the target, then rename it.
    int fd = -1;
    Str temp = str_empty();
    for (u32 attempt = 0; attempt < 4 && fd < 0; attempt += 1) {
        temp = str_pushf(scratch.arena, "%S%s.%S.wyn-tmp.%lu.%lu", folder, folder.size ? "/" : "", name,
                         process_id_once(), (unsigned long)temp_counter.fetch_add(1));
        fd = open(temp.str, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, new_mode);
        if (fd >= 0) break;
        if (errno == EEXIST) continue;   // a leftover, or a forked copy's name: take the next number
        if (!create_folders || !folder.size || (errno != ENOENT && errno != ENOTDIR)) break;
        // The folder went away since it was made or seen: make it again.
        folder_set_known(folder, false);
        if (!folder_make(folder)) break;
    }
    bool ok = false;
    if (fd >= 0) {
        // The umask may have cut bits the old file had; a rewrite only.
        if (had_file) fchmod(fd, new_mode);
        bool written = write_fully(fd, bytes.str, bytes.size);
        written = close(fd) == 0 && written;
        if (written && rename(temp.str, cpath) == 0) ok = true;
        else {
            int saved = errno;
            unlink(temp.str);
            errno = saved;
        }
    }
    int saved = errno;
    scratch_end(scratch);
    errno = saved;
    return ok;
}

bool file_write_all(Str path, Str bytes, u32 flags)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    struct stat existing;
    bool had_file = stat(path_cstring(scratch.arena, path), &existing) == 0 && !S_ISDIR(existing.st_mode);
    scratch_end(scratch);
    return posix_file_write(path, bytes, flags, had_file, had_file ? existing.st_mode : 0666);
}

bool folder_create(Str path)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    const char *cpath = path_cstring(scratch.arena, path);
    bool ok = mkdir(cpath, 0777) == 0;
    if (!ok && errno == EEXIST) {
        struct stat st;
        ok = stat(cpath, &st) == 0 && S_ISDIR(st.st_mode);
    }
    scratch_end(scratch);
    return ok;
}

bool file_delete(Str path)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    bool ok = unlink(path_cstring(scratch.arena, path)) == 0;
    scratch_end(scratch);
    return ok;
}

FileProperties file_properties(Str path)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    FileProperties props = {};
    struct stat st;
    if (stat(path_cstring(scratch.arena, path), &st) == 0) {
        props.exists = 1;
        props.is_folder = S_ISDIR(st.st_mode);
        props.is_special = !S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode);
        props.size = (u64)st.st_size;
        props.last_write_time = mtime_ns(&st);
        props.file_id = (u64)st.st_ino;
    }
    scratch_end(scratch);
    return props;
}

Str current_directory(Arena *arena)
{
    char stack_buffer[4096];
    char *buffer = stack_buffer;
    u64 capacity = sizeof(stack_buffer);
    ArenaTemp scratch = scratch_begin(arena);
    while (!getcwd(buffer, capacity)) {
        if (errno != ERANGE) {
            scratch_end(scratch);
            return str_empty();
        }
        capacity *= 2;
        buffer = (char *)arena_push(scratch.arena, capacity, 1);
    }
    Str dir = str_from_cstring(buffer);
    if (dir.size > 1 && dir.str[dir.size - 1] == '/') dir.size -= 1;
    Str result = str_copy(arena, dir);
    scratch_end(scratch);
    return result;
}

FolderListing folder_list(Arena *arena, Str folder)
{
    FolderListing listing = {};
    ArenaTemp scratch = scratch_begin(arena);
    const char *cfolder = path_cstring(scratch.arena, folder);
    DIR *dir = opendir(cfolder);
    if (!dir) {
        scratch_end(scratch);
        return listing;
    }
    listing.opened = 1;
    int dir_fd = dirfd(dir);
    for (;;) {
        errno = 0;
        struct dirent *entry = readdir(dir);
        if (!entry) break;
        const char *name = entry->d_name;
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
        bool is_folder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat st;
            is_folder = fstatat(dir_fd, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        FolderEntry *node = push_struct<FolderEntry>(arena);
        node->name = str_copy(arena, str_from_cstring(name));
        node->is_folder = is_folder;
        if (listing.last) listing.last->next = node;
        else listing.first = node;
        listing.last = node;
        listing.count += 1;
    }
    closedir(dir);
    scratch_end(scratch);
    return listing;
}

Str path_real(Arena *arena, Str path)
{
    ArenaTemp scratch = scratch_begin(arena);
    char *resolved = realpath(path_cstring(scratch.arena, path), nullptr);
    scratch_end(scratch);
    if (!resolved) return str_empty();
    Str result = str_copy(arena, str_from_cstring(resolved));
    free(resolved);   // realpath's own allocation
    return result;
}

bool folder_identity(Str folder, u64 out_identity[2])
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    struct stat st;
    bool ok = stat(path_cstring(scratch.arena, folder), &st) == 0 && S_ISDIR(st.st_mode);
    if (ok) {
        out_identity[0] = (u64)st.st_dev;
        out_identity[1] = (u64)st.st_ino;
    }
    scratch_end(scratch);
    return ok;
}
