// site/diagnostics.h: the printed layouts of diagnostic records, and the
// status line.
//
// Printing writes each record with one locked write to standard output, so
// the records of two workers never interleave line by line.
//
// How records look travels with every call (DiagPrintSettings, made once by
// main and handed down in the site's records): the layouts of wyn, or one
// line per record in the GNU form "path:line:col: level: message" that
// editors and CI read; the level word coloured only when standard output
// is a terminal and NO_COLOR is not set. The status line (progress_show)
// exists only on a terminal: it is drawn in place, and a record printed
// while it shows erases it first, so a pipe or a file never sees a byte of
// it.
//
// The console is a process-wide service: whether a status line shows, and
// how many warnings and errors were printed, are kept here for the whole
// process (standard output is one, whoever prints to it).
#pragma once
#include "base/diagnostics.h"

struct DiagPrintSettings {
    b32 line_form;   // diagnostics=line
    b32 colour;      // the level word in colour (a terminal, NO_COLOR unset)
    b32 status;      // a status line may be drawn (a terminal)
    b32 silent;      // nothing is printed (benchmarks, tests of other things)
};

// The settings for this process's standard output: colour and status line
// only on a terminal, colour never with NO_COLOR set (to anything).
DiagPrintSettings diag_print_settings_detect(b32 line_form);

// Layout A: "<level>: " then "  <text>", no location.
void diag_print_log(const DiagPrintSettings *print, const DiagnosticList *list);
// Layout B: as A plus "  <path>:<line>:<column>".
void diag_print_document(const DiagPrintSettings *print, const DiagnosticList *list, Str path, Str source);
// Layout C: "<level>: ", "token: <text>", "<path>:<line>:<column>".
void diag_print_template(const DiagPrintSettings *print, const DiagnosticList *list, Str path, Str source);

// The text a list prints as with `settings` (tests and tools). With the
// line form every record is "<path>:<line>:<col>: <level>: <text>", and a
// record without a location (layout A) "wyn: <level>: <text>".
Str diag_format_styled(Arena *arena, const DiagnosticList *list, u32 layout, Str path, Str source,
                       const DiagPrintSettings *settings);

//- the status line

// Draws `text` over the previous status line; nothing without `status`.
// One thread draws (main's tick); records may be printed meanwhile.
void progress_show(const DiagPrintSettings *print, Str text);
// Erases the status line if one shows.
void progress_clear(const DiagPrintSettings *print);

// Records printed so far at level warning, and at level error or above.
struct DiagPrintedCounts {
    u64 warnings;
    u64 errors;
};
DiagPrintedCounts diag_printed_counts(void);
