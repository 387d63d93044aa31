// site/discovery.cpp: the files below a folder.
#include "site/discovery.h"

#include "os/platform.h"

struct FolderQueueNode {
    FolderQueueNode *next;
    Str folder;   // ends with "/"
};

void site_list_files(Arena *arena, StrList *list, Str folder)
{
    ArenaTemp scratch = scratch_begin(arena);
    Str start = str_trim(folder);
    u64 slash = start.size;
    for (u64 i = start.size; i > 0; i -= 1)
        if (char_is_slash((u8)start.str[i - 1])) {
            slash = i - 1;
            break;
        }
    if (slash == start.size) {
        scratch_end(scratch);
        return;   // not a folder path
    }
    start = str_prefix(start, slash + 1);

    // Breadth-first; folders already seen (by device and inode) are not
    // walked again, so a link back to a parent cannot loop.
    StrMap seen = str_map_alloc(scratch.arena, 256);
    FolderQueueNode *head = push_struct<FolderQueueNode>(scratch.arena);
    head->folder = str_copy(scratch.arena, start);
    FolderQueueNode *tail = head;
    for (FolderQueueNode *node = head; node; node = node->next) {
        u64 identity[2] = {0, 0};
        if (folder_identity(node->folder, identity)) {
            Str key = Str{(const char *)identity, sizeof(identity)};
            if (str_map_lookup(&seen, key)) continue;
            str_map_insert(scratch.arena, &seen, key, 1);
        }
        FolderListing listing = folder_list(scratch.arena, node->folder);
        for (FolderEntry *e = listing.first; e; e = e->next) {
            if (e->is_folder) {
                FolderQueueNode *next = push_struct<FolderQueueNode>(scratch.arena);
                next->folder = str_pushf(scratch.arena, "%S%S/", node->folder, e->name);
                tail->next = next;
                tail = next;
            } else {
                str_list_push(arena, list, str_pushf(arena, "%S%S", node->folder, e->name));
            }
        }
    }
    scratch_end(scratch);
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
    if (!next || !walk->arenas[walk->current]) {
        site_list_files(arena, list, folder);
        return;
    }
    arena_pop_to(next, 0);
    StrMap remembered = walk->folders;
    StrMap kept = str_map_alloc(next, 256);
    walk->listed = 0;
    walk->looked_at = 0;

    ArenaTemp scratch = scratch_begin(arena);
    Str start = str_trim(folder);
    if (!start.size || !char_is_slash((u8)start.str[start.size - 1])) {
        scratch_end(scratch);
        site_list_files(arena, list, folder);
        return;
    }
    StrMap seen = str_map_alloc(scratch.arena, 256);
    FolderQueueNode *head = push_struct<FolderQueueNode>(scratch.arena);
    head->folder = str_copy(scratch.arena, start);
    FolderQueueNode *tail = head;
    for (FolderQueueNode *node = head; node; node = node->next) {
        u64 identity[2] = {0, 0};
        if (folder_identity(node->folder, identity)) {
            Str key = Str{(const char *)identity, sizeof(identity)};
            if (str_map_lookup(&seen, key)) continue;
            str_map_insert(scratch.arena, &seen, key, 1);
        }
        walk->looked_at += 1;
        FileProperties props = file_properties(node->folder);
        if (!props.exists || !props.is_folder) continue;
        StrMapNode *found = remembered.bucket_count ? str_map_lookup(&remembered, node->folder) : nullptr;
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
                FolderListing listing = folder_list(scratch.arena, node->folder);
                for (FolderEntry *e = listing.first; e; e = e->next) {
                    if (e->is_folder) str_list_push(next, &memo->subfolders, str_pushf(next, "%S%S/", node->folder, e->name));
                    else str_list_push(arena, list, str_pushf(arena, "%S%S", node->folder, e->name));
                }
            }
        }
        if (!memo) continue;
        str_map_insert(next, &kept, node->folder, (u64)memo);
        for (StrNode *n = memo->subfolders.first; n; n = n->next) {
            FolderQueueNode *queued = push_struct<FolderQueueNode>(scratch.arena);
            queued->folder = n->string;
            tail->next = queued;
            tail = queued;
        }
    }
    scratch_end(scratch);
    walk->folders = kept;
    walk->current ^= 1;
}

void site_walk_release(SourceWalk *walk)
{
    for (u32 i = 0; i < 2; i += 1) arena_release(walk->arenas[i]);
    *walk = SourceWalk{};
}

//- web paths
