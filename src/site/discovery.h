// site/discovery.h: the files below a folder, for the list of documents.
//
// Main thread, at start and when the watch looks for new sources.
#pragma once
#include "base/str.h"

// Appends the full path of every file below `folder`, breadth-first; a
// folder reached again through a link cycle is listed once. A folder that
// cannot be opened is appended to `unreadable` (when given): its files are
// missing from the list, and the author should hear why.
void site_list_files(Arena *arena, StrList *list, Str folder, StrList *unreadable = nullptr);

// A walk repeated every few seconds over a large site: a folder is listed
// again only when its modification time moved (an entry was added, removed
// or renamed in it) and once more at the next walk after that, since an
// entry made within the same tick of the file system's clock as a listing
// leaves the time where it was. Unchanged folders are only looked at.
struct FolderMemo;
struct SourceWalk {
    Arena *arenas[2];      // what the last walk remembered, and the next one
    u32 current;
    StrMap folders;        // folder path -> FolderMemo, on arenas[current]
    u64 listed;            // folders listed by the last walk (tests, tools)
    u64 looked_at;         // folders looked at by the last walk
};
// Appends the files of every folder listed by this walk (every folder on a
// first walk): a caller looking for new files finds them all among these.
// Main thread or one watching thread: a walk is not shared.
void site_walk_files(SourceWalk *walk, Arena *arena, StrList *list, Str folder);
void site_walk_release(SourceWalk *walk);
