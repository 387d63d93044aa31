// os/platform.cpp: the parts of the platform layer written once on top of
// the backend calls.
#include "os/platform.h"
#include "os/file_replace.h"

#include <cstdio>

bool folder_create_all(Str path)
{
    // Every piece but the last names a folder; the last is the file name.
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    bool ok = true;
    for (u64 i = 1; i < path.size; i += 1) {
        if (!char_is_slash((u8)path.str[i])) continue;
        Str folder = str_prefix(path, i);
        if (folder.size == 0 || (folder.size == 2 && folder.str[1] == ':')) continue;
        if (char_is_slash((u8)path.str[i - 1])) continue;   // "a//b": nothing between
        if (!folder_create(str_copy(scratch.arena, folder))) {
            ok = false;
            break;
        }
    }
    scratch_end(scratch);
    return ok;
}

namespace {

struct KnownFolders {
    CriticalSection *lock;
    Arena *arena;
    StrMap folders;   // folder -> FolderMark bits, 0 dropped
};

enum FolderMark : u64 {
    FolderMark_Known = 1,
    FolderMark_Made = 2,
};

KnownFolders *known_folders(void)
{
    static KnownFolders *known = [] {
        KnownFolders *k = new KnownFolders;
        k->lock = cs_alloc();
        k->arena = arena_alloc(MiB(64), KiB(64));
        if (k->arena) k->folders = str_map_alloc(k->arena, 4096);
        return k;
    }();
    return known;
}

} // namespace

bool folder_is_known(Str folder)
{
    KnownFolders *k = known_folders();
    cs_enter(k->lock);
    StrMapNode *n = k->arena ? str_map_lookup(&k->folders, folder) : nullptr;
    bool known = n && n->value;
    cs_leave(k->lock);
    return known;
}

static void folder_mark(Str folder, u64 set, u64 keep)
{
    KnownFolders *k = known_folders();
    cs_enter(k->lock);
    StrMapNode *n = k->arena ? str_map_lookup(&k->folders, folder) : nullptr;
    if (n) n->value = (n->value & keep) | set;
    else if (set && k->arena) str_map_insert(k->arena, &k->folders, folder, set);
    cs_leave(k->lock);
}

void folder_set_known(Str folder, bool known)
{
    if (known) folder_mark(folder, FolderMark_Known, FolderMark_Made);
    else folder_mark(folder, 0, 0);
}

bool folder_is_made(Str folder)
{
    KnownFolders *k = known_folders();
    cs_enter(k->lock);
    StrMapNode *n = k->arena ? str_map_lookup(&k->folders, folder) : nullptr;
    bool made = n && (n->value & FolderMark_Made);
    cs_leave(k->lock);
    return made;
}

void folder_set_made(Str folder, bool made)
{
    if (made) folder_mark(folder, FolderMark_Known | FolderMark_Made, 0);
    else folder_mark(folder, 0, FolderMark_Known);
}

u64 thread_short_name(Str name, char out[thread_short_name_capacity])
{
    constexpr u64 limit = thread_short_name_capacity - 1;
    // Drop the decoration, keep single spaces between words.
    char plain[64];
    u64 size = 0;
    for (u64 i = 0; i < name.size && size < sizeof(plain); i += 1) {
        char c = name.str[i];
        if (c == '[' || c == ']' || c == '#') continue;
        if (c == ' ' && (size == 0 || plain[size - 1] == ' ')) continue;
        plain[size++] = c;
    }
    while (size > 0 && plain[size - 1] == ' ') size -= 1;
    if (size <= limit) {
        memcpy(out, plain, size);
        out[size] = 0;
        return size;
    }
    // Too long: the index is what tells threads of one role apart, so the
    // words give way, not the number.
    u64 digits = 0;
    while (digits < size && char_is_digit((u8)plain[size - 1 - digits])) digits += 1;
    u64 tail = digits ? digits + 1 : 0;   // the index with the space before it
    if (tail > limit) tail = 0;           // only a number: cut it like words
    u64 head = limit - tail;
    while (head > 0 && plain[head - 1] == ' ') head -= 1;
    memcpy(out, plain, head);
    u64 at = head;
    if (tail) {
        out[at++] = ' ';
        memcpy(out + at, plain + size - digits, digits);
        at += digits;
    }
    out[at] = 0;
    return at;
}

ThreadContext *thread_context_alloc(void)
{
    Arena *arena = arena_alloc(thread_arena_reserve, KiB(4));
    ThreadContext *context = arena ? push_struct<ThreadContext>(arena) : nullptr;
    if (!context) process_exit_refused("the memory of a new thread", thread_arena_reserve);
    context->arena = arena;
    for (u32 i = 0; i < 2; i += 1) {
        context->scratch[i] = arena_alloc(thread_scratch_reserve, KiB(4));
        if (!context->scratch[i]) process_exit_refused("the scratch memory of a new thread", thread_scratch_reserve);
    }
    return context;
}

//- process

static Arena *g_process_arena;

void process_arena_create(void)
{
    if (!g_process_arena) g_process_arena = arena_alloc(MiB(64), KiB(64));
    if (!g_process_arena) process_exit_refused("the process's memory", MiB(64));
}

Arena *process_arena(void)
{
    system_info();   // process_start made the arena
    return g_process_arena;
}

void process_exit_refused(const char *what, u64 size)
{
    arena_report_refused(what, size);
    fflush(stdout);
    process_exit_now(1);
}
