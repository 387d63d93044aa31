// site/discovery.h: the files below a folder, for the list of documents.
//
// Main thread, at start and when the watch looks for new sources.
#pragma once
#include "base/str.h"

// Appends the full path of every file below `folder`, breadth-first; a
// folder reached again through a link cycle is listed once.
void site_list_files(Arena *arena, StrList *list, Str folder);
