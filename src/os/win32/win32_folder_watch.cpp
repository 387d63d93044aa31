// os/win32/win32_folder_watch.cpp: change notifications through
// ReadDirectoryChangesW.
//
// Each watched folder has a handle of its own with one read of changes
// always outstanding, overlapped. The scanner's tick looks at every read
// without waiting: a finished one hands over the names it collected and is
// issued again at once, so the system keeps collecting between ticks. Only
// folders are watched, never files, for the reason inotify watches folders
// on Linux: editors save by writing a new file and renaming it over the old.
//
// Between ticks the scanner sleeps on a completion port every folder's
// handle is tied to: a finished read queues a packet there and wakes it at
// once, however many folders there are (one wait on the reads' events
// stops at 64), and whichever thread waits. The port is the only thing a
// wait touches, so a wait is safe beside the other calls, as a poll of
// inotify's descriptor is on Linux.
//
// A watch follows the folder, not its name, as inotify does: a watched
// folder that is moved keeps its watch, which the file service notices by
// the folder's identity. Its handle shares everything, so the folder itself
// can still be renamed or deleted; a deleted folder ends its read with an
// error, reported as a lost watch. A moved folder tells its own watch
// nothing (inotify says "moved self"); when its parent is watched too, the
// parent's notice of the name going is reported as the lost watch instead.
//
// Memory: the records live on the watch's own arena, in chunks that never
// move (the system writes into a record's buffer while a read is out);
// a removed folder's record is used again for the next folder.
#include "os/win32/win32_path.h"

#include <cstring>

//- records

// Enough for some two hundred names of ordinary length per folder and tick;
// a fuller buffer is reported as an overflow, and the scanner then compares
// everything.
constexpr u64 watch_buffer_size = KiB(16);
constexpr u64 watch_chunk_slots = 16;
constexpr u64 watch_chunk_count = 4096;   // 65,536 folders; past that a folder is polled

struct WatchSlot {
    alignas(8) u8 buffer[watch_buffer_size];   // FILE_NOTIFY_INFORMATION records, DWORD-aligned
    OVERLAPPED overlapped;
    HANDLE folder;          // INVALID_HANDLE_VALUE while free
    HANDLE event;           // kept for the slot's next folder
    u64 identity[2];        // volume serial and file index, so a folder watched twice gets one id
    Str path;               // in path_bytes, for the long form of short names
    char path_bytes[1024];  // a longer path only misses that
    s64 id;
    WatchSlot *next_free;
    b32 reading;            // a read is outstanding
    b32 lost;               // the read ended for good; reported once, waits for folder_watch_remove
};

struct WatchChunk {
    WatchSlot slots[watch_chunk_slots];
};

struct FolderWatch {
    Arena *arena;
    HANDLE port;            // every folder's reads complete here too
    WatchChunk *chunks[watch_chunk_count];
    u64 slot_count;         // slots handed out so far, free ones included
    WatchSlot *free_slots;
};

// What makes a file's bytes, size or time change, or the file a name leads
// to: names (created, deleted, renamed), sizes, times and attributes.
static const DWORD watch_filter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                  FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
                                  FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_CREATION;

static WatchSlot *slot_of(FolderWatch *watch, s64 id)
{
    if (id < 0 || (u64)id >= watch->slot_count) return nullptr;
    return &watch->chunks[(u64)id / watch_chunk_slots]->slots[(u64)id % watch_chunk_slots];
}

static WatchSlot *slot_take(FolderWatch *watch)
{
    if (WatchSlot *slot = watch->free_slots) {
        watch->free_slots = slot->next_free;
        slot->next_free = nullptr;
        return slot;
    }
    u64 chunk = watch->slot_count / watch_chunk_slots;
    if (chunk >= watch_chunk_count) return nullptr;
    if (!watch->chunks[chunk]) {
        watch->chunks[chunk] = push_struct<WatchChunk>(watch->arena);
        if (!watch->chunks[chunk]) return nullptr;
        for (WatchSlot &s : watch->chunks[chunk]->slots) s.folder = INVALID_HANDLE_VALUE;
    }
    WatchSlot *slot = &watch->chunks[chunk]->slots[watch->slot_count % watch_chunk_slots];
    slot->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!slot->event) return nullptr;
    slot->id = (s64)watch->slot_count;
    watch->slot_count += 1;
    return slot;
}

static void slot_release(FolderWatch *watch, WatchSlot *slot)
{
    if (slot->folder != INVALID_HANDLE_VALUE) {
        if (slot->reading) {
            // The system writes into the buffer until the read ends: cancel
            // it and wait for the end before the slot is handed out again.
            DWORD bytes = 0;
            CancelIoEx(slot->folder, &slot->overlapped);
            GetOverlappedResult(slot->folder, &slot->overlapped, &bytes, TRUE);
        }
        CloseHandle(slot->folder);
    }
    slot->folder = INVALID_HANDLE_VALUE;
    slot->reading = 0;
    slot->lost = 0;
    slot->next_free = watch->free_slots;
    watch->free_slots = slot;
}

static bool slot_read(WatchSlot *slot)
{
    memset(&slot->overlapped, 0, sizeof slot->overlapped);
    ResetEvent(slot->event);
    slot->overlapped.hEvent = slot->event;
    slot->reading = ReadDirectoryChangesW(slot->folder, slot->buffer, (DWORD)watch_buffer_size, FALSE, watch_filter,
                                          nullptr, &slot->overlapped, nullptr) != 0;
    return slot->reading;
}

//- the interface

FolderWatch *folder_watch_open(void)
{
    // Lives as long as the process, on an arena of its own (no lock on a
    // shared arena); chunks are committed as folders come.
    Arena *arena = arena_alloc(MiB(64), KiB(64));
    FolderWatch *watch = arena ? push_struct<FolderWatch>(arena) : nullptr;
    if (!watch) {
        if (arena) arena_release(arena);
        return nullptr;
    }
    watch->arena = arena;
    // One thread at a time takes packets: the scanner.
    watch->port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    if (!watch->port) {
        arena_release(arena);
        return nullptr;
    }
    return watch;
}

s64 folder_watch_add(FolderWatch *watch, Str folder)
{
    if (!watch) return -1;
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    Str path = folder.size ? folder : str_lit(".");
    const wchar_t *wide = win32_path(scratch.arena, path);
    // Attributes too: the folder's identity is read through the same handle.
    HANDLE handle = wide ? CreateFileW(wide, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr)
                         : INVALID_HANDLE_VALUE;
    scratch_end(scratch);
    if (handle == INVALID_HANDLE_VALUE) return -1;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        // A folder whose reads could not wake the scanner is polled instead.
        // (A handle stays tied to its port until it is closed; the same
        // folder watched twice ties a second handle, closed just below.)
        !CreateIoCompletionPort(handle, watch->port, 0, 0)) {
        CloseHandle(handle);
        return -1;
    }
    u64 identity[2] = {info.dwVolumeSerialNumber, ((u64)info.nFileIndexHigh << 32) | info.nFileIndexLow};
    for (u64 id = 0; id < watch->slot_count; id += 1) {
        WatchSlot *s = slot_of(watch, (s64)id);
        if (s->folder != INVALID_HANDLE_VALUE && !s->lost && s->identity[0] == identity[0] &&
            s->identity[1] == identity[1]) {
            CloseHandle(handle);
            return (s64)id;
        }
    }
    WatchSlot *slot = slot_take(watch);
    if (!slot) {
        CloseHandle(handle);
        return -1;
    }
    slot->folder = handle;
    slot->identity[0] = identity[0];
    slot->identity[1] = identity[1];
    u64 size = min_of<u64>(path.size, sizeof slot->path_bytes);
    memcpy(slot->path_bytes, path.str, size);
    slot->path = Str{slot->path_bytes, size};
    if (!slot_read(slot)) {
        slot_release(watch, slot);
        return -1;
    }
    return slot->id;
}

void folder_watch_remove(FolderWatch *watch, s64 watch_id)
{
    WatchSlot *slot = watch ? slot_of(watch, watch_id) : nullptr;
    if (slot && slot->folder != INVALID_HANDLE_VALUE) slot_release(watch, slot);
}

static void change_push(Arena *arena, FolderChangeList *list, s64 id, u32 kind, Str name)
{
    FolderChange *change = push_struct<FolderChange>(arena);
    if (!change) return;
    change->watch_id = id;
    change->kind = kind;
    change->name = name;
    if (list->last) list->last->next = change;
    else list->first = change;
    list->last = change;
    list->count += 1;
}

// A name as the file service knows it. The system may report a file's
// short 8.3 form ("LONGNA~1.WYN"); while the file is there, its long form
// is asked for.
static Str change_name(Arena *arena, WatchSlot *slot, const wchar_t *name, u64 length)
{
    Str text = win32_path_to_str(arena, name, length);
    if (str_find_byte(text, '~', 0) >= text.size) return text;
    ArenaTemp scratch = scratch_begin(&arena, 1);
    Str result = text;
    const wchar_t *wide = win32_path(scratch.arena, str_pushf(scratch.arena, "%S/%S", slot->path, text));
    DWORD needed = wide ? GetLongPathNameW(wide, nullptr, 0) : 0;
    wchar_t *full = needed ? push_array<wchar_t>(scratch.arena, needed + 1) : nullptr;
    DWORD got = full ? GetLongPathNameW(wide, full, needed + 1) : 0;
    if (got && got <= needed) {
        const wchar_t *last = full + got;
        while (last > full && last[-1] != L'\\') last -= 1;
        result = win32_path_to_str(arena, last, (u64)(full + got - last));
    }
    scratch_end(scratch);
    return result;
}

// The watch of folder `name` inside the folder of `parent` ended: the name
// was renamed or deleted, so the watch follows a folder that is elsewhere.
static void children_lost(FolderWatch *watch, WatchSlot *parent, Str name, Arena *arena, FolderChangeList *list)
{
    for (u64 id = 0; id < watch->slot_count; id += 1) {
        WatchSlot *s = slot_of(watch, (s64)id);
        if (s == parent || s->folder == INVALID_HANDLE_VALUE || s->lost) continue;
        Str path = s->path;
        if (path.size != parent->path.size + 1 + name.size) continue;
        if (path.str[parent->path.size] != '/' && path.str[parent->path.size] != '\\') continue;
        // Names on Windows match in any case.
        if (!str_match(str_prefix(path, parent->path.size), parent->path, StrMatch_CaseInsensitive)) continue;
        if (!str_match(str_skip(path, parent->path.size + 1), name, StrMatch_CaseInsensitive)) continue;
        // The notice may come late, after a folder was made again at the
        // path and watched anew: that watch is not the one that went.
        u64 identity[2] = {};
        if (folder_identity(path, identity) && identity[0] == s->identity[0] && identity[1] == s->identity[1]) continue;
        s->lost = 1;
        change_push(arena, list, (s64)id, FolderChange_Lost, str_empty());
    }
}

// Takes the packets of reads that finished: every read is looked at next,
// so they would only wake the next wait for nothing. A read that finishes
// after this leaves its packet, which at worst wakes one wait early.
static void packets_drop(FolderWatch *watch)
{
    OVERLAPPED_ENTRY entries[64];
    ULONG count = 0;
    for (;;) {
        bool taken = GetQueuedCompletionStatusEx(watch->port, entries, 64, &count, 0, FALSE);
        if (!taken || count < 64) break;
    }
}

FolderChangeList folder_watch_read(FolderWatch *watch, Arena *arena)
{
    FolderChangeList list = {};
    if (!watch) return list;
    packets_drop(watch);
    for (u64 id = 0; id < watch->slot_count; id += 1) {
        WatchSlot *slot = slot_of(watch, (s64)id);
        // A lost watch says so once, then waits for folder_watch_remove.
        if (slot->folder == INVALID_HANDLE_VALUE || !slot->reading || slot->lost) continue;
        DWORD bytes = 0;
        if (!GetOverlappedResult(slot->folder, &slot->overlapped, &bytes, FALSE)) {
            DWORD error = GetLastError();
            if (error == ERROR_IO_INCOMPLETE) continue;   // nothing yet
            slot->reading = 0;
            if (error == ERROR_NOTIFY_ENUM_DIR || error == ERROR_OPERATION_ABORTED) {
                // More changes than the system kept, or the read ended with
                // the thread that asked for it: compare everything.
                change_push(arena, &list, -1, FolderChange_Overflow, str_empty());
                if (slot_read(slot)) continue;
            }
            // The folder went (deleted, or its volume): the scanner polls
            // it and watches it again by path once it is back.
            slot->lost = 1;
            change_push(arena, &list, (s64)id, FolderChange_Lost, str_empty());
            continue;
        }
        slot->reading = 0;
        if (bytes == 0) {
            // The buffer overflowed: the names are gone, not the changes.
            change_push(arena, &list, -1, FolderChange_Overflow, str_empty());
        } else {
            for (u64 at = 0; at + sizeof(FILE_NOTIFY_INFORMATION) <= bytes;) {
                const FILE_NOTIFY_INFORMATION *info = (const FILE_NOTIFY_INFORMATION *)(slot->buffer + at);
                u64 length = info->FileNameLength / sizeof(wchar_t);
                if (length) {
                    Str name = change_name(arena, slot, info->FileName, length);
                    change_push(arena, &list, (s64)id, FolderChange_File, name);
                    if (info->Action == FILE_ACTION_RENAMED_OLD_NAME || info->Action == FILE_ACTION_REMOVED)
                        children_lost(watch, slot, name, arena, &list);
                }
                if (info->NextEntryOffset == 0) break;
                at += info->NextEntryOffset;
            }
        }
        if (!slot_read(slot)) {
            slot->lost = 1;
            change_push(arena, &list, (s64)id, FolderChange_Lost, str_empty());
        }
    }
    return list;
}

bool folder_watch_wait(FolderWatch *watch, u64 timeout_ms)
{
    if (!watch) {
        sleep_ms(timeout_ms);
        return false;
    }
    u64 deadline = now_us() + min_of<u64>(timeout_ms, 1u << 30) * 1000;
    for (;;) {
        u64 now = now_us();
        DWORD left = now < deadline ? (DWORD)((deadline - now + 999) / 1000) : 0;
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED *overlapped = nullptr;
        if (GetQueuedCompletionStatus(watch->port, &bytes, &key, &overlapped, left)) return true;
        if (!overlapped) {
            // No packet. A port that fails still waits out the time, or the
            // scanner would spin; its reads do not depend on the port.
            if (GetLastError() != WAIT_TIMEOUT) sleep_ms(left);
            return false;
        }
        // A read that ended with an error is news too (an overflow, a folder
        // gone), except one cancelled when its folder stopped being watched.
        if (GetLastError() != ERROR_OPERATION_ABORTED) return true;
    }
}
