// site/discovery.cpp: the files below a folder.
#include "site/discovery.h"

#include "os/platform.h"

// Breadth-first from `start` (a folder path ending with "/"). Folders already
// seen (by device and inode) are not walked again, so a link back to a
// parent cannot loop. `visit` is told of each folder once and returns its
// subfolders (full paths ending with "/"), appending whatever it wants to
// report of the folder; the walk's own memory is scratch.
template <typename Visit>
static void walk_folders(Arena *arena, Str start, Visit visit)
{
    ArenaTemp scratch = scratch_begin(arena);
    StrMap seen = str_map_alloc(scratch.arena, 256);
    StrList queue = {};
    str_list_push(scratch.arena, &queue, str_copy(scratch.arena, start));
    for (StrNode *node = queue.first; node; node = node->next) {
        u64 identity[2] = {0, 0};
        if (folder_identity(node->string, identity)) {
            Str key = Str{(const char *)identity, sizeof(identity)};
            if (str_map_lookup(&seen, key)) continue;
            str_map_insert(scratch.arena, &seen, key, 1);
        }
        StrList subfolders = visit(scratch.arena, node->string);
        for (StrNode *n = subfolders.first; n; n = n->next) str_list_push(scratch.arena, &queue, n->string);
    }
    scratch_end(scratch);
}

// `folder` trimmed and cut after its last slash; empty when it has none.
static Str folder_start(Str folder)
{
    Str start = str_trim(folder);
    u64 slash = str_find_last_byte(start, '/');
    u64 back = str_find_last_byte(start, '\\');
    if (slash == start.size || (back < start.size && back > slash)) slash = back;
    return slash < start.size ? str_prefix(start, slash + 1) : str_empty();
}

void site_list_files(Arena *arena, StrList *list, Str folder, StrList *unreadable)
{
    Str start = folder_start(folder);
    if (!start.size) return;   // not a folder path
    walk_folders(arena, start, [&](Arena *scratch, Str at) {
        StrList subfolders = {};
        FolderListing listing = folder_list(scratch, at);
        if (!listing.opened && unreadable) str_list_push(arena, unreadable, str_copy(arena, at));
        for (FolderEntry *e = listing.first; e; e = e->next) {
            if (e->is_folder) str_list_push(scratch, &subfolders, str_pushf(scratch, "%S%S/", at, e->name));
            else str_list_push(arena, list, str_pushf(arena, "%S%S", at, e->name));
        }
        return subfolders;
    });
}

//- repeated walks

struct FolderMemo {
    u64 last_write_time;
    u64 file_id;
    b32 settled;         // listed twice at this time: its entries are known
    StrList subfolders;  // full paths, ending with "/"
};

static FolderMemo *memo_copy(Arena *arena, const FolderMemo *from)
{
    FolderMemo *to = push_struct<FolderMemo>(arena);
    if (!to) return nullptr;
    *to = *from;
    to->subfolders = StrList{};
    for (StrNode *n = from->subfolders.first; n; n = n->next) str_list_push(arena, &to->subfolders, str_copy(arena, n->string));
    return to;
}

void site_walk_files(SourceWalk *walk, Arena *arena, StrList *list, Str folder)
{
    for (u32 i = 0; i < 2; i += 1)
        if (!walk->arenas[i]) walk->arenas[i] = arena_alloc(MiB(64), KiB(64));
    Arena *next = walk->arenas[walk->current ^ 1];
    Str start = str_trim(folder);
    if (!next || !walk->arenas[walk->current] || !start.size || !char_is_slash((u8)start.str[start.size - 1])) {
        site_list_files(arena, list, folder);
        return;
    }
    arena_pop_to(next, 0);
    StrMap remembered = walk->folders;
    StrMap kept = str_map_alloc(next, 256);
    walk->listed = 0;
    walk->looked_at = 0;

    walk_folders(arena, start, [&](Arena *scratch, Str at) {
        walk->looked_at += 1;
        FileProperties props = file_properties(at);
        if (!props.exists || !props.is_folder) return StrList{};
        StrMapNode *found = remembered.bucket_count ? str_map_lookup(&remembered, at) : nullptr;
        const FolderMemo *old = found ? (const FolderMemo *)found->value : nullptr;
        bool same = old && old->last_write_time == props.last_write_time && old->file_id == props.file_id;
        FolderMemo *memo = nullptr;
        if (same && old->settled) {
            memo = memo_copy(next, old);
        } else {
            FolderMemo fresh = {};
            fresh.last_write_time = props.last_write_time;
            fresh.file_id = props.file_id;
            fresh.settled = same;
            memo = memo_copy(next, &fresh);
            if (memo) {
                walk->listed += 1;
                FolderListing listing = folder_list(scratch, at);
                for (FolderEntry *e = listing.first; e; e = e->next) {
                    if (e->is_folder) str_list_push(next, &memo->subfolders, str_pushf(next, "%S%S/", at, e->name));
                    else str_list_push(arena, list, str_pushf(arena, "%S%S", at, e->name));
                }
            }
        }
        if (!memo) return StrList{};
        str_map_insert(next, &kept, at, (u64)memo);
        return memo->subfolders;
    });
    walk->folders = kept;
    walk->current ^= 1;
}

void site_walk_release(SourceWalk *walk)
{
    for (u32 i = 0; i < 2; i += 1) arena_release(walk->arenas[i]);
    *walk = SourceWalk{};
}

//- web paths
