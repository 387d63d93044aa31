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
    Str target;         // what a link message is about (the link as written); empty for others
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


//- the three layouts

enum DiagLayout : u32 {
    DiagLayout_Log = 0,        // "<level>: " then "  <text>", no location
    DiagLayout_Document = 1,   // as Log plus "  <path>:<line>:<column>"
    DiagLayout_Template = 2,   // "<level>: ", "token: <text>", "<path>:<line>:<column>"
};

// A path as it may be printed: control bytes (a line feed or an escape in a
// file name) are written as \n, \t, \r, \e or \xHH, so a name can neither
// split a record nor drive the terminal.
Str diag_shown_path(Arena *arena, Str path);

// One record in `layout`; `shown_path` comes from diag_shown_path and
// `lines` indexes the source the offsets point into.
Str diag_format_record(Arena *arena, const Diagnostic *d, u32 layout, Str shown_path, const LineIndex *lines);

// The printed text of a whole list, for tools and tests. The source's line
// starts are found once, so formatting is linear in the list and source.
Str diag_format_log(Arena *arena, const DiagnosticList *list);
Str diag_format_document(Arena *arena, const DiagnosticList *list, Str path, Str source);
Str diag_format_template(Arena *arena, const DiagnosticList *list, Str path, Str source);
