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

//- web paths
