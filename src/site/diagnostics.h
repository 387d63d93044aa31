// site/diagnostics.h: the three printed layouts of diagnostic records.
//
// Printing writes each record with one locked write to standard output, so
// the records of two workers never interleave line by line.
#pragma once
#include "base/diagnostics.h"

// Layout A: "<level>: " then "  <text>", no location.
void diag_print_log(const DiagnosticList *list);
// Layout B: as A plus "  <path>:<line>:<column>".
void diag_print_document(const DiagnosticList *list, Str path, Str source);
// Layout C: "<level>: ", "token: <text>", "<path>:<line>:<column>".
void diag_print_template(const DiagnosticList *list, Str path, Str source);

// Records printed so far at level warning, and at level error or above.
struct DiagPrintedCounts {
    u64 warnings;
    u64 errors;
};
DiagPrintedCounts diag_printed_counts(void);
