// os/win32/win32_platform.cpp: the Windows backend of the platform layer.
//
// Memory is reserved and committed with VirtualAlloc. Locks are the
// system's critical sections, slim reader/writer locks and condition
// variables, handed out from pools. Every path crosses the boundary as
// UTF-16 on scratch memory (win32_path); a write replaces its file through a
// temporary file and MoveFileExW, so a reader never sees half a file.
#include "os/file_replace.h"
#include "os/win32/win32_path.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include <io.h>
#include <tlhelp32.h>
#include <fcntl.h>

//- memory

void *os_memory_reserve(u64 size) { return VirtualAlloc(nullptr, (SIZE_T)size, MEM_RESERVE, PAGE_READWRITE); }

void os_memory_commit(void *base, u64 size)
{
    if (size) VirtualAlloc(base, (SIZE_T)size, MEM_COMMIT, PAGE_READWRITE);
}

void os_memory_reset(void *base, u64 size)
{
    u64 page = os_memory_page_size();
    u64 start = align_up_pow2((u64)(uintptr_t)base, page);
    u64 end = ((u64)(uintptr_t)base + size) & ~(page - 1);
    if (end <= start) return;
    // Decommitting hands the pages back; committing again at once keeps the
    // range usable, as zero pages that cost nothing until touched.
    VirtualFree((void *)(uintptr_t)start, (SIZE_T)(end - start), MEM_DECOMMIT);
    VirtualAlloc((void *)(uintptr_t)start, (SIZE_T)(end - start), MEM_COMMIT, PAGE_READWRITE);
}

void os_memory_release(void *base, u64) { VirtualFree(base, 0, MEM_RELEASE); }

static bool memory_protect(void *base, u64 size, DWORD protection)
{
    if (size == 0) return true;
    u64 page = os_memory_page_size();
    u64 start = (u64)(uintptr_t)base & ~(page - 1);
    u64 end = align_up_pow2((u64)(uintptr_t)base + size, page);
    DWORD old = 0;
    return VirtualProtect((void *)(uintptr_t)start, (SIZE_T)(end - start), protection, &old) != 0;
}

bool memory_protect_read_only(void *base, u64 size) { return memory_protect(base, size, PAGE_READONLY); }

bool memory_protect_read_write(void *base, u64 size) { return memory_protect(base, size, PAGE_READWRITE); }

u64 os_memory_page_size(void)
{
    static const u64 page = [] {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        return (u64)info.dwPageSize;
    }();
    return page;
}

// Large pages need a privilege ordinary accounts lack; the arenas round to
// the page size.
u64 os_memory_large_page_size(void) { return 0; }

//- thread contexts

namespace {

thread_local ThreadContext *tls_context;

} // namespace

ThreadContext *thread_context_create(void)
{
    if (tls_context) return tls_context;
    ThreadContext *context = thread_context_alloc();
    tls_context = context;
    return context;
}

ThreadContext *thread_context(void) { return tls_context ? tls_context : thread_context_create(); }

Arena **os_thread_scratch_arenas(void) { return thread_context()->scratch; }

namespace {

typedef HRESULT WINAPI SetThreadDescriptionCall(HANDLE thread, PCWSTR description);

// Windows before 10 (1607) lacks the call, so it is looked up, not linked.
SetThreadDescriptionCall *thread_description_call()
{
    static SetThreadDescriptionCall *call = [] {
        HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        FARPROC found = kernel ? GetProcAddress(kernel, "SetThreadDescription") : nullptr;
        return (SetThreadDescriptionCall *)(void *)found;
    }();
    return call;
}

} // namespace

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
    // The description has no length limit: the debugger gets the whole name.
    if (SetThreadDescriptionCall *call = thread_description_call()) {
        Str16 wide = str16_from_str(scratch.arena, name);
        if (wide.str) call(GetCurrentThread(), (PCWSTR)wide.str);
    }
    scratch_end(scratch);
}

//- pools
//
// Records are taken from a pool arena under the pool's lock and never given
// back, so their addresses stay valid for the life of the process.

struct ThreadRecord {
    ThreadRecord *next;
    HANDLE handle;
    u64 thread_id;
    u64 argument;
    ThreadEntry *entry;
};

struct CriticalSection {
    CriticalSection *next;
    CRITICAL_SECTION section;
};

struct SrwLock {
    SrwLock *next;
    SRWLOCK lock;
};

struct CondVar {
    CondVar *next;
    CONDITION_VARIABLE cv;
};

namespace {

struct Pool {
    SRWLOCK lock = SRWLOCK_INIT;
    Arena *arena;
};

Pool pool_threads, pool_sections, pool_slim_locks, pool_conditions;

void *pool_take(Pool *pool, u64 size)
{
    AcquireSRWLockExclusive(&pool->lock);
    if (!pool->arena) pool->arena = arena_alloc(KiB(256), KiB(4));
    void *memory = pool->arena ? arena_push(pool->arena, size, 16) : nullptr;
    ReleaseSRWLockExclusive(&pool->lock);
    // Callers take locks for granted; without one nothing can go on safely.
    if (!memory) process_exit_refused("a lock or thread record", KiB(256));
    memset(memory, 0, size);
    return memory;
}

std::atomic<u64> thread_counter{0};

DWORD WINAPI thread_trampoline(void *raw)
{
    ThreadRecord *record = (ThreadRecord *)raw;
    ThreadContext *context = thread_context_create();
    record->entry(record->argument);
    // Threads of tests end; their reservations go with them.
    arena_release(context->scratch[0]);
    arena_release(context->scratch[1]);
    tls_context = nullptr;
    arena_release(context->arena);
    return 0;
}

} // namespace

ThreadRecord *thread_start(u64 argument, ThreadEntry *entry)
{
    ThreadRecord *record = (ThreadRecord *)pool_take(&pool_threads, sizeof(ThreadRecord));
    record->argument = argument;
    record->entry = entry;
    record->thread_id = thread_counter.fetch_add(1) + 1;
    record->handle = CreateThread(nullptr, 0, thread_trampoline, record, 0, nullptr);
    if (!record->handle) {
        fprintf(stderr, "wyn: cannot start a thread (error %lu)\n", (unsigned long)GetLastError());
        return nullptr;
    }
    return record;
}

void thread_join(ThreadRecord *thread)
{
    if (!thread || !thread->handle) return;
    WaitForSingleObject(thread->handle, INFINITE);
    CloseHandle(thread->handle);
    thread->handle = nullptr;
}

CriticalSection *cs_alloc(void)
{
    CriticalSection *cs = (CriticalSection *)pool_take(&pool_sections, sizeof(CriticalSection));
    InitializeCriticalSection(&cs->section);
    return cs;
}
void cs_enter(CriticalSection *cs) { EnterCriticalSection(&cs->section); }
void cs_leave(CriticalSection *cs) { LeaveCriticalSection(&cs->section); }

SrwLock *srw_alloc(void)
{
    SrwLock *lock = (SrwLock *)pool_take(&pool_slim_locks, sizeof(SrwLock));
    InitializeSRWLock(&lock->lock);
    return lock;
}
void srw_lock_shared(SrwLock *l) { AcquireSRWLockShared(&l->lock); }
void srw_unlock_shared(SrwLock *l) { ReleaseSRWLockShared(&l->lock); }
void srw_lock_exclusive(SrwLock *l) { AcquireSRWLockExclusive(&l->lock); }
void srw_unlock_exclusive(SrwLock *l) { ReleaseSRWLockExclusive(&l->lock); }

CondVar *cv_alloc(void)
{
    CondVar *cv = (CondVar *)pool_take(&pool_conditions, sizeof(CondVar));
    InitializeConditionVariable(&cv->cv);
    return cv;
}
void cv_broadcast(CondVar *cv) { WakeAllConditionVariable(&cv->cv); }

namespace {

// Milliseconds until the deadline, rounded up so a wait never ends early;
// INFINITE only for a wait without limit.
DWORD wait_ms_until(u64 deadline_us, u64 now)
{
    if (deadline_us == u64_max) return INFINITE;
    u64 ms = (deadline_us - now + 999) / 1000;
    return (DWORD)min_of<u64>(ms, INFINITE - 1);
}

bool wait_ended_by_signal(BOOL woke) { return woke || GetLastError() != ERROR_TIMEOUT; }

} // namespace

bool wait_cs(CondVar *cv, CriticalSection *cs, u64 deadline_us)
{
    u64 now = deadline_us == u64_max ? 0 : now_us();
    if (deadline_us != u64_max && now >= deadline_us) return false;
    return wait_ended_by_signal(SleepConditionVariableCS(&cv->cv, &cs->section, wait_ms_until(deadline_us, now)));
}

bool wait_srw_shared(CondVar *cv, SrwLock *lock, u64 deadline_us)
{
    u64 now = deadline_us == u64_max ? 0 : now_us();
    if (deadline_us != u64_max && now >= deadline_us) return false;
    return wait_ended_by_signal(SleepConditionVariableSRW(&cv->cv, &lock->lock, wait_ms_until(deadline_us, now),
                                                          CONDITION_VARIABLE_LOCKMODE_SHARED));
}

bool wait_srw_exclusive(CondVar *cv, SrwLock *lock, u64 deadline_us)
{
    u64 now = deadline_us == u64_max ? 0 : now_us();
    if (deadline_us != u64_max && now >= deadline_us) return false;
    return wait_ended_by_signal(SleepConditionVariableSRW(&cv->cv, &lock->lock, wait_ms_until(deadline_us, now), 0));
}

//- process

namespace {

SystemInfo g_system_info;
INIT_ONCE g_system_once = INIT_ONCE_STATIC_INIT;

u64 count_processors()
{
    DWORD_PTR process_mask = 0, system_mask = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask) && process_mask) {
        u64 n = (u64)__builtin_popcountll((unsigned long long)process_mask);
        if (n > 0) return n;
    }
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors ? info.dwNumberOfProcessors : 1;
}

// The counter's ticks per second never change while the system runs.
u64 counter_frequency()
{
    static const u64 frequency = [] {
        LARGE_INTEGER f;
        return QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? (u64)f.QuadPart : 1;
    }();
    return frequency;
}

typedef UINT WINAPI TimeBeginPeriodCall(UINT period);

// winmm is loaded only for this one call, so the program links nothing
// beyond the core system libraries.
bool ask_timer_resolution()
{
    HMODULE winmm = LoadLibraryW(L"winmm.dll");
    FARPROC found = winmm ? GetProcAddress(winmm, "timeBeginPeriod") : nullptr;
    if (!found) return false;
    return ((TimeBeginPeriodCall *)(void *)found)(1) == 0;   // TIMERR_NOERROR
}

} // namespace

void process_start(void)
{
    SystemInfo *info = &g_system_info;
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    info->processor_count = count_processors();
    info->page_size = system.dwPageSize;
    info->allocation_granularity = system.dwAllocationGranularity;
    info->counter_frequency = counter_frequency();
    info->large_page_minimum = os_memory_large_page_size();
    info->process_id = GetCurrentProcessId();
    process_arena_create();
    info->timer_resolution_granted = ask_timer_resolution();
}

static BOOL CALLBACK system_info_once(INIT_ONCE *, void *, void **)
{
    if (g_system_info.processor_count == 0) process_start();
    return TRUE;
}

const SystemInfo *system_info(void)
{
    // Tests that never ran process_start still get sensible numbers.
    if (g_system_info.processor_count == 0) InitOnceExecuteOnce(&g_system_once, system_info_once, nullptr, nullptr);
    return &g_system_info;
}

void process_exit_now(u32 status)
{
    TerminateProcess(GetCurrentProcess(), status);
    for (;;) Sleep(INFINITE);   // TerminateProcess is not declared as never returning
}

//- console

namespace {

SRWLOCK console_lock = SRWLOCK_INIT;

// Stops every other thread of the process where it stands. GetThreadContext
// returns only once a suspended thread has really stopped, and under wine a
// thread stops only outside the emulator's own locked sections; ending a
// process whose threads are mid-call there can leave the thread that ends it
// waiting on a lock a killed thread held, and the process never ends.
void stop_other_threads(void)
{
    DWORD self = GetCurrentThreadId(), process = GetCurrentProcessId();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != process || entry.th32ThreadID == self) continue;
        HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, entry.th32ThreadID);
        if (!thread) continue;
        if (SuspendThread(thread) != (DWORD)-1) {
            CONTEXT context;
            context.ContextFlags = CONTEXT_CONTROL;
            GetThreadContext(thread, &context);
        }
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
}

std::atomic<bool> console_ending{false};

// Ctrl-C and a closed console window end the process at once, as SIGINT
// does on Linux: the default handler would run the exit handlers while the
// workers still hold their locks. Every page is replaced by a rename, so an
// ended write leaves the old page or the new one, never half of one.
BOOL WINAPI on_console_control(DWORD kind)
{
    if (kind == CTRL_C_EVENT || kind == CTRL_BREAK_EVENT || kind == CTRL_CLOSE_EVENT) {
        // A second Ctrl-C runs on a thread of its own. Should the system
        // call two handlers at once, the first ends the process: two
        // stopping each other would end nothing.
        if (console_ending.exchange(true)) Sleep(INFINITE);
        fflush(stdout);
        stop_other_threads();
        TerminateProcess(GetCurrentProcess(), 0xC000013A);   // STATUS_CONTROL_C_EXIT
    }
    return FALSE;
}

} // namespace

void console_write(Str text)
{
    AcquireSRWLockExclusive(&console_lock);
    fwrite(text.str, 1, text.size, stdout);
    fflush(stdout);
    ReleaseSRWLockExclusive(&console_lock);
}

void console_write_error(Str text)
{
    AcquireSRWLockExclusive(&console_lock);
    fwrite(text.str, 1, text.size, stderr);
    fflush(stderr);
    ReleaseSRWLockExclusive(&console_lock);
}

void console_setup(void)
{
    // Diagnostics are UTF-8; the console shows them as such. Every write is
    // flushed by console_write, which is what line buffering gives on Linux
    // (the C runtime here treats line buffering as full buffering).
    SetConsoleOutputCP(CP_UTF8);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    SetConsoleCtrlHandler(on_console_control, TRUE);
}

//- time

u64 now_us(void)
{
    LARGE_INTEGER ticks;
    if (!QueryPerformanceCounter(&ticks)) return 0;
    u64 t = (u64)ticks.QuadPart;
    u64 f = counter_frequency();
    return (t / f) * 1000000ull + (t % f) * 1000000ull / f;
}

void sleep_ms(u64 milliseconds) { Sleep((DWORD)min_of<u64>(milliseconds, INFINITE - 1)); }

// FILETIME counts 100 ns steps from 1601; the Unix epoch is this many
// steps later.
static const u64 filetime_unix_epoch = 116444736000000000ull;

static u64 filetime_u64(FILETIME t) { return ((u64)t.dwHighDateTime << 32) | t.dwLowDateTime; }

DateTime date_now(void)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    u64 t = filetime_u64(now);
    return date_from_unix_ms(t > filetime_unix_epoch ? (t - filetime_unix_epoch) / 10000 : 0);
}

//- paths

const wchar_t *win32_path(Arena *arena, Str path)
{
    if (path.size == 0) return nullptr;
    ArenaTemp scratch = scratch_begin(arena);
    Str16 wide = str16_from_str(scratch.arena, path);
    if (!wide.str) {
        scratch_end(scratch);
        return nullptr;
    }
    wchar_t *raw = (wchar_t *)wide.str;
    for (u64 i = 0; i < wide.size; i += 1)
        if (raw[i] == L'/') raw[i] = L'\\';
    const wchar_t *result = nullptr;
    bool prefixed = wide.size >= 4 && raw[0] == L'\\' && raw[1] == L'\\' && raw[2] == L'?' && raw[3] == L'\\';
    if (prefixed) {
        wchar_t *copy = push_array<wchar_t>(arena, wide.size + 1);
        if (copy) memcpy(copy, raw, (wide.size + 1) * sizeof(wchar_t));
        result = copy;
    } else {
        DWORD needed = GetFullPathNameW(raw, 0, nullptr, nullptr);
        wchar_t *full = needed ? push_array<wchar_t>(scratch.arena, needed + 1) : nullptr;
        DWORD size = full ? GetFullPathNameW(raw, needed + 1, full, nullptr) : 0;
        if (size > 0 && size <= needed) {
            // The plain form stops at MAX_PATH (and a folder's at 12 less, to
            // leave room for a file name); past that only "\\?\" works.
            bool unc = size >= 2 && full[0] == L'\\' && full[1] == L'\\';
            const wchar_t *prefix = size < MAX_PATH - 12 ? L"" : unc ? L"\\\\?\\UNC" : L"\\\\?\\";
            u64 prefix_size = wcslen(prefix);
            u64 skip = (prefix_size && unc) ? 1 : 0;   // "\\server" becomes "\\?\UNC\server"
            wchar_t *out = push_array<wchar_t>(arena, prefix_size + size - skip + 1);
            if (out) {
                memcpy(out, prefix, prefix_size * sizeof(wchar_t));
                memcpy(out + prefix_size, full + skip, (size - skip) * sizeof(wchar_t));
                out[prefix_size + size - skip] = 0;
            }
            result = out;
        }
    }
    // The result sits on `arena`; only the scratch copies go.
    scratch_end(scratch);
    return result;
}

Str win32_path_to_str(Arena *arena, const wchar_t *wide, u64 size)
{
    if (size >= 8 && wcsncmp(wide, L"\\\\?\\UNC\\", 8) == 0) {
        // "\\?\UNC\server\share" is "//server/share"
        Str rest = win32_path_to_str(arena, wide + 8, size - 8);
        return str_pushf(arena, "//%S", rest);
    }
    if (size >= 4 && wcsncmp(wide, L"\\\\?\\", 4) == 0) {
        wide += 4;
        size -= 4;
    }
    Str text = str_from_str16(arena, Str16{(const u16 *)wide, size});
    char *bytes = (char *)text.str;
    for (u64 i = 0; i < text.size; i += 1)
        if (bytes[i] == '\\') bytes[i] = '/';
    return text;
}

//- files

namespace {

thread_local DWORD tls_write_error;

u64 filetime_ns(FILETIME t)
{
    u64 v = filetime_u64(t);
    return v > filetime_unix_epoch ? (v - filetime_unix_epoch) * 100 : 0;
}

// Other readers, writers and renames may go on while wyn reads: an editor
// saving the file, or wyn itself replacing a page a browser has open.
const DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE open_for_reading(Str path, DWORD flags)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    const wchar_t *wide = win32_path(scratch.arena, path);
    HANDLE file = wide ? CreateFileW(wide, GENERIC_READ, share_all, nullptr, OPEN_EXISTING, flags, nullptr)
                       : INVALID_HANDLE_VALUE;
    scratch_end(scratch);
    return file;
}

FileProperties properties_of_handle(HANDLE file)
{
    FileProperties props = {};
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return props;
    props.exists = 1;
    props.is_folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    props.size = ((u64)info.nFileSizeHigh << 32) | info.nFileSizeLow;
    props.last_write_time = filetime_ns(info.ftLastWriteTime);
    props.file_id = ((u64)info.nFileIndexHigh << 32) | info.nFileIndexLow;
    return props;
}

bool write_fully(HANDLE file, const char *bytes, u64 size)
{
    while (size > 0) {
        DWORD piece = (DWORD)min_of<u64>(size, 0xFFFFFFFFull - 1);
        DWORD written = 0;
        if (!WriteFile(file, bytes, piece, &written, nullptr) || written == 0) return false;
        bytes += written;
        size -= written;
    }
    return true;
}

std::atomic<u64> temp_counter{0};

bool is_root(Str folder)
{
    if (folder.size == 1) return char_is_slash((u8)folder.str[0]);
    bool drive = folder.size >= 2 && folder.str[1] == ':';
    return drive && (folder.size == 2 || (folder.size == 3 && char_is_slash((u8)folder.str[2])));
}

// Makes a folder and whatever it lacks above it, deepest first: a folder
// whose parent exists costs one call. "Exists" is believed without a look;
// when a file stands there, the file made inside it fails and says so.
bool folder_make(Str folder)
{
    if (folder.size == 0 || is_root(folder)) return true;
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    const wchar_t *wide = win32_path(scratch.arena, folder);
    bool ok = wide && (CreateDirectoryW(wide, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    if (!ok && wide && GetLastError() == ERROR_PATH_NOT_FOUND) {
        Str parent = path_folder(folder);
        if (parent.size && parent.size < folder.size) {
            folder_set_known(parent, false);
            ok = folder_make(parent) && (CreateDirectoryW(wide, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        }
    }
    DWORD saved = GetLastError();
    scratch_end(scratch);
    if (ok) folder_set_known(folder, true);
    SetLastError(saved);
    return ok;
}

// Moves the finished temporary file over the target. The rename with POSIX
// semantics (Windows 10 1607 and later) lets a reader that shares delete
// (a browser, a local server) keep the old file open while the name moves
// on; without it, the classic replace is tried.
bool replace_by_rename(Arena *scratch, const wchar_t *temp, const wchar_t *target)
{
    HANDLE file = CreateFileW(temp, DELETE | SYNCHRONIZE, share_all, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        u64 name_bytes = wcslen(target) * sizeof(wchar_t);
        u64 size = sizeof(FILE_RENAME_INFO) + name_bytes;
        FILE_RENAME_INFO *info = (FILE_RENAME_INFO *)arena_push(scratch, size, 8);
        bool moved = false;
        if (info) {
            memset(info, 0, size);
            // Flags share their place with ReplaceIfExists, whichever the
            // headers declare.
            DWORD flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
            memcpy(info, &flags, sizeof(flags));
            info->FileNameLength = (DWORD)name_bytes;
            memcpy(info->FileName, target, name_bytes);
            // FileRenameInfoEx, which older headers do not name.
            moved = SetFileInformationByHandle(file, (FILE_INFO_BY_HANDLE_CLASS)22, info, (DWORD)size);
        }
        CloseHandle(file);
        if (moved) return true;
    }
    // The classic replace fails while anything has the target open, even
    // for a moment (wyn's own scanner looking at a saved source, an indexer,
    // a virus checker): it is tried again a few times over some 60 ms
    // before the write is given up. A holder that stays is reported.
    for (DWORD wait_ms = 4;; wait_ms *= 2) {
        if (MoveFileExW(temp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
        DWORD error = GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || wait_ms > 32) return false;
        Sleep(wait_ms);
    }
}

} // namespace

DWORD win32_last_write_error(void) { return tls_write_error; }

Str file_read_all(Arena *arena, Str path, FileProperties *out_properties)
{
    Str result = str_empty();
    FileProperties props = {};
    HANDLE file = open_for_reading(path, FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE) {
        if (out_properties) *out_properties = props;
        return result;
    }
    // Only disk files are read: a pipe or a device may never end.
    if (GetFileType(file) == FILE_TYPE_DISK) props = properties_of_handle(file);
    if (props.exists && !props.is_folder) {
        // The file may grow or shrink while it is read: read to the end, in
        // pieces, and keep what arrived; a file that did not grow costs
        // exactly its size.
        u64 capacity = props.size;
        char *buffer = (char *)arena_push(arena, capacity + 1, 8);
        u64 used = 0;
        while (buffer) {
            if (used < capacity) {
                DWORD want = (DWORD)min_of<u64>(capacity - used, 0xFFFFFFFFull - 1);
                DWORD got = 0;
                if (!ReadFile(file, buffer + used, want, &got, nullptr) || got == 0) break;
                used += got;
                continue;
            }
            char probe[4096];
            DWORD got = 0;
            if (!ReadFile(file, probe, sizeof(probe), &got, nullptr) || got == 0) break;
            u64 bigger = max_of<u64>(capacity * 2, capacity + sizeof(probe));
            char *moved = (char *)arena_push(arena, bigger + 1, 8);
            if (!moved) break;
            memcpy(moved, buffer, used);
            memcpy(moved + used, probe, got);
            used += got;
            buffer = moved;
            capacity = bigger;
        }
        if (buffer) {
            buffer[used] = 0;
            result = Str{buffer, used};
        }
    } else {
        props = FileProperties{};
    }
    CloseHandle(file);
    if (out_properties) *out_properties = props;
    return result;
}

bool file_exists(Str path)
{
    HANDLE file = open_for_reading(path, FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE) return false;
    FileProperties props = properties_of_handle(file);
    CloseHandle(file);
    return props.exists && !props.is_folder;
}

bool win32_file_write(Str path, Str bytes, u32 flags, bool had_file)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    tls_write_error = 0;
    bool create_folders = (flags & FileWrite_CreateFolders) != 0;
    bool create = (flags & (FileWrite_Replace | FileWrite_CreateFolders)) != 0;
    bool ok = false;
    const wchar_t *target = win32_path(scratch.arena, path);
    if (target && (create || had_file)) {
        // A reader mid-write must get the old file or the new one, never
        // half: write a temporary file beside the target, then move it over.
        Str folder = path_folder(path);
        Str name = path_file_name(path);
        if (create_folders && folder.size && !folder_is_known(folder)) folder_make(folder);
        HANDLE file = INVALID_HANDLE_VALUE;
        const wchar_t *temp = nullptr;
        for (u32 attempt = 0; attempt < 4; attempt += 1) {
            Str temp_path = str_pushf(scratch.arena, "%S%s.%S.wyn-tmp.%llu.%llu", folder, folder.size ? "/" : "",
                                      name, (unsigned long long)GetCurrentProcessId(),
                                      (unsigned long long)temp_counter.fetch_add(1));
            temp = win32_path(scratch.arena, temp_path);
            if (!temp) break;
            file = CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE) break;
            tls_write_error = GetLastError();
            if (tls_write_error == ERROR_FILE_EXISTS) continue;   // a leftover: take the next number
            if (!create_folders || !folder.size || tls_write_error != ERROR_PATH_NOT_FOUND) break;
            // The folder went away since it was made or seen: make it again.
            folder_set_known(folder, false);
            if (!folder_make(folder)) break;
        }
        if (file != INVALID_HANDLE_VALUE) {
            tls_write_error = 0;
            bool written = write_fully(file, bytes.str, bytes.size);
            if (!written) tls_write_error = GetLastError();
            written = CloseHandle(file) && written;
            if (written && replace_by_rename(scratch.arena, temp, target)) ok = true;
            else {
                if (!tls_write_error) tls_write_error = GetLastError();
                DeleteFileW(temp);
            }
        } else if (!tls_write_error) {
            tls_write_error = ERROR_INVALID_NAME;
        }
    } else if (!target) {
        tls_write_error = ERROR_INVALID_NAME;
    } else {
        tls_write_error = ERROR_FILE_NOT_FOUND;
    }
    scratch_end(scratch);
    return ok;
}

bool file_write_all(Str path, Str bytes, u32 flags)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    const wchar_t *wide = win32_path(scratch.arena, path);
    DWORD attributes = wide ? GetFileAttributesW(wide) : INVALID_FILE_ATTRIBUTES;
    scratch_end(scratch);
    bool had_file = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    return win32_file_write(path, bytes, flags, had_file);
}

bool folder_create(Str path)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    const wchar_t *wide = win32_path(scratch.arena, path);
    bool ok = wide && CreateDirectoryW(wide, nullptr);
    if (!ok && wide && GetLastError() == ERROR_ALREADY_EXISTS) {
        DWORD attributes = GetFileAttributesW(wide);
        ok = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    scratch_end(scratch);
    return ok;
}

bool file_delete(Str path)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    const wchar_t *wide = win32_path(scratch.arena, path);
    bool ok = wide && DeleteFileW(wide);
    scratch_end(scratch);
    return ok;
}

FileProperties file_properties(Str path)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    FileProperties props = {};
    const wchar_t *wide = win32_path(scratch.arena, path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (wide && GetFileAttributesExW(wide, GetFileExInfoStandard, &data)) {
        props.exists = 1;
        props.is_folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        props.is_special = (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0;
        props.size = ((u64)data.nFileSizeHigh << 32) | data.nFileSizeLow;
        props.last_write_time = filetime_ns(data.ftLastWriteTime);
        // The file index needs an open handle; the attributes call does not
        // give it. Folders open only with backup semantics.
        HANDLE file = CreateFileW(wide, 0, share_all, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            BY_HANDLE_FILE_INFORMATION info;
            if (GetFileInformationByHandle(file, &info))
                props.file_id = ((u64)info.nFileIndexHigh << 32) | info.nFileIndexLow;
            CloseHandle(file);
        }
    }
    scratch_end(scratch);
    return props;
}

Str current_directory(Arena *arena)
{
    ArenaTemp scratch = scratch_begin(arena);
    DWORD needed = GetCurrentDirectoryW(0, nullptr);
    wchar_t *buffer = needed ? push_array<wchar_t>(scratch.arena, needed + 1) : nullptr;
    DWORD size = buffer ? GetCurrentDirectoryW(needed + 1, buffer) : 0;
    Str result = str_empty();
    if (size > 0 && size <= needed) {
        Str dir = win32_path_to_str(scratch.arena, buffer, size);
        if (dir.size > 1 && dir.str[dir.size - 1] == '/') dir.size -= 1;
        result = str_copy(arena, dir);
    }
    scratch_end(scratch);
    return result;
}

FolderListing folder_list(Arena *arena, Str folder)
{
    FolderListing listing = {};
    ArenaTemp scratch = scratch_begin(arena);
    Str pattern = str_pushf(scratch.arena, "%S/*", folder.size ? folder : str_lit("."));
    const wchar_t *wide = win32_path(scratch.arena, pattern);
    WIN32_FIND_DATAW found;
    HANDLE search = wide ? FindFirstFileW(wide, &found) : INVALID_HANDLE_VALUE;
    if (search == INVALID_HANDLE_VALUE) {
        // An empty folder still has "." and ".."; no entry at all means the
        // folder could not be read.
        scratch_end(scratch);
        return listing;
    }
    listing.opened = 1;
    do {
        const wchar_t *name = found.cFileName;
        if (wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) continue;
        FolderEntry *node = push_struct<FolderEntry>(arena);
        if (!node) break;
        node->name = win32_path_to_str(arena, name, wcslen(name));
        node->is_folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (listing.last) listing.last->next = node;
        else listing.first = node;
        listing.last = node;
        listing.count += 1;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    scratch_end(scratch);
    return listing;
}

bool folder_identity(Str folder, u64 out_identity[2])
{
    HANDLE file = open_for_reading(folder, FILE_FLAG_BACKUP_SEMANTICS);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = GetFileInformationByHandle(file, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    if (ok) {
        out_identity[0] = info.dwVolumeSerialNumber;
        out_identity[1] = ((u64)info.nFileIndexHigh << 32) | info.nFileIndexLow;
    }
    CloseHandle(file);
    return ok;
}

//- added for the preview server and the status line

// The final path of an existing file or folder, links resolved, as the
// forward-slash form; empty when it cannot be opened.
Str path_real(Arena *arena, Str path)
{
    ArenaTemp scratch = scratch_begin(&arena, 1);
    Str result = str_empty();
    const wchar_t *wide = win32_path(scratch.arena, path);
    HANDLE handle = wide ? CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)
                         : INVALID_HANDLE_VALUE;
    if (handle != INVALID_HANDLE_VALUE) {
        DWORD size = GetFinalPathNameByHandleW(handle, nullptr, 0, FILE_NAME_NORMALIZED);
        wchar_t *out = size ? push_array_no_zero<wchar_t>(scratch.arena, size + 1) : nullptr;
        DWORD written = out ? GetFinalPathNameByHandleW(handle, out, size + 1, FILE_NAME_NORMALIZED) : 0;
        if (written && written <= size) result = win32_path_to_str(arena, out, written);
        CloseHandle(handle);
    }
    scratch_end(scratch);
    return result;
}

bool console_is_terminal(void)
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

bool console_error_is_terminal(void)
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}
