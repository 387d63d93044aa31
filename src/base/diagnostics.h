// base/diagnostics.h: problem records and their lists.
//
// Producers format the text first (str_pushf), push a record onto the list
// owner's arena and go on; nothing here stops the program. A record keeps
// the node it is about (a document node or a template element) and that
// node's source offset, from which the printed line and column come.
// A list is filled by one thread at a time. The records live here, below
// every layer that produces them; printing them is the site's business
// (site/diagnostics.h).
#pragma once
#include "base/str.h"

enum DiagLevel : u32 {
    DiagLevel_None = 0,
    DiagLevel_Note = 1,
    DiagLevel_Warning = 2,
    DiagLevel_Error = 3,
    DiagLevel_Fatal = 5,   // named but never produced; 4 has no name
};

struct Diagnostic {
    Diagnostic *next;
    const void *node;   // the node the message is about; may be a placeholder
    u64 offset;         // the node's source offset, for line and column
    u32 level;
    Str text;
};

struct DiagnosticList {
    Diagnostic *first;
    Diagnostic *last;
    u64 count;
    u32 max_level;
};

// Appends a record; the text must already live as long as the list.
Diagnostic *diag_push_at(Arena *arena, DiagnosticList *list, const void *node, u64 offset, u32 level, Str text);
Str diag_level_name(u32 level);   // empty for a level without a name

