// site/diagnostics.h: problem records, their lists and the three printed
// layouts.
//
// Producers format the text first (str_pushf), push a record onto the list
// owner's arena and go on; nothing here stops the program. A record keeps
// the node it is about (a document node or a template element) and that
// node's source offset, from which the printed line and column come.
// A list is filled by one thread at a time. Printing writes each record with
// one locked write to standard output, so the records of two workers never
// interleave line by line.
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

// Layout A: "<level>: " then "  <text>", no location.
void diag_print_log(const DiagnosticList *list);
// Layout B: as A plus "  <path>:<line>:<column>".
void diag_print_document(const DiagnosticList *list, Str path, Str source);
// Layout C: "<level>: ", "token: <text>", "<path>:<line>:<column>".
void diag_print_template(const DiagnosticList *list, Str path, Str source);

// The printed text of a list, for tools and tests that want it as a string.
Str diag_format_log(Arena *arena, const DiagnosticList *list);
Str diag_format_document(Arena *arena, const DiagnosticList *list, Str path, Str source);
Str diag_format_template(Arena *arena, const DiagnosticList *list, Str path, Str source);
