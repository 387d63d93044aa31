// site/diagnostics.h: the printed layouts of diagnostic records, and the
// status line.
//
// Diagnostics go to standard error, one locked write per record, so the
// records of two workers never interleave line by line; what a run reports
// as its result (the summary of `once`, the quiet line of the watch) goes
// to standard output (diag_print_result), so a script can keep the one and
// drop the other.
//
// How records look travels with every call (DiagPrintSettings, made once by
// main and handed down in the site's records): the layouts of wyn, one line
// per record in the GNU form "path:line:col: level: message" that editors
// and CI read, or one JSON object per line (JSON Lines) with the fields
// path, line, column, level, message and, for a link message, target. The
// level word is coloured as `color=` says (by default only on a terminal,
// and never with NO_COLOR set). The status line (progress_show) exists only
// on a terminal: it is drawn in place on standard error, and a record or a
// result printed while it shows erases it first, so a pipe or a file never
// sees a byte of it.
//
// The console is a process-wide service: whether a status line shows, and
// how many warnings and errors were printed, are kept here for the whole
// process (standard output is one, whoever prints to it).
#pragma once
#include "base/diagnostics.h"

enum DiagForm : u32 {
    DiagForm_Layouts = 0,   // wyn's own layouts (two or three lines a record)
    DiagForm_Line = 1,      // diagnostics=line
    DiagForm_Json = 2,      // diagnostics=json
};

enum DiagColour : u32 {
    DiagColour_Auto = 0,     // on a terminal, unless NO_COLOR is set
    DiagColour_Always = 1,
    DiagColour_Never = 2,
};

struct DiagPrintSettings {
    u32 form;        // DiagForm
    b32 colour;      // the level word in colour
    b32 status;      // a status line may be drawn (a terminal)
    b32 silent;      // nothing is printed (benchmarks, tests of other things)
};

// The settings for this process: colour as `colour` says (DiagColour; auto
// is a terminal on standard error and NO_COLOR unset, whatever its value),
// never in JSON; a status line only on a terminal.
DiagPrintSettings diag_print_settings_detect(u32 form, u32 colour);

// Layout A: "<level>: " then "  <text>", no location.
void diag_print_log(const DiagPrintSettings *print, const DiagnosticList *list);
// Layout B: as A plus "  <path>:<line>:<column>".
void diag_print_document(const DiagPrintSettings *print, const DiagnosticList *list, Str path, Str source);
// Layout C: "<level>: ", "token: <text>", "<path>:<line>:<column>".
void diag_print_template(const DiagPrintSettings *print, const DiagnosticList *list, Str path, Str source);

// The text a list prints as with `settings` (tests and tools). With the
// line form every record is "<path>:<line>:<col>: <level>: <text>", and a
// record without a location (layout A) "wyn: <level>: <text>"; a link
// message adds ": <target>". With JSON every record is one object on a line.
Str diag_format_styled(Arena *arena, const DiagnosticList *list, u32 layout, Str path, Str source,
                       const DiagPrintSettings *settings);

//- the status line

// Draws `text` over the previous status line; nothing without `status`.
// One thread draws (main's tick); records may be printed meanwhile.
void progress_show(const DiagPrintSettings *print, Str text);
// Erases the status line if one shows.
void progress_clear(const DiagPrintSettings *print);

// A run's result on standard output (the summary of `once`, the quiet line
// of the watch, the address of `serve`), after erasing the status line.
void diag_print_result(const DiagPrintSettings *print, Str text);

// Records printed so far at level warning, and at level error or above.
struct DiagPrintedCounts {
    u64 warnings;
    u64 errors;
};
DiagPrintedCounts diag_printed_counts(void);
