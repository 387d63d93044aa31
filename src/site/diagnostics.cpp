// site/diagnostics.cpp: the printed layouts.
#include "site/diagnostics.h"

#include "os/platform.h"

#include <atomic>

// What the user was shown, for the one-line summary of a one-shot run.
static std::atomic<u64> g_printed_warnings, g_printed_errors;

DiagPrintedCounts diag_printed_counts(void) { return {g_printed_warnings.load(), g_printed_errors.load()}; }

static void print_list(const DiagnosticList *list, u32 layout, Str path, Str source)
{
    if (!list->first) return;
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    LineIndex lines = layout == DiagLayout_Log ? LineIndex{} : line_index_build(scratch.arena, source);
    Str shown = diag_shown_path(scratch.arena, path);
    for (const Diagnostic *d = list->first; d; d = d->next) {
        ArenaTemp record = temp_begin(scratch.arena);
        // One write per record: records printed by two workers at the same
        // time stay whole.
        console_write(diag_format_record(scratch.arena, d, layout, shown, &lines));
        temp_end(record);
        if (d->level == DiagLevel_Warning) g_printed_warnings.fetch_add(1);
        if (d->level >= DiagLevel_Error) g_printed_errors.fetch_add(1);
    }
    scratch_end(scratch);
}

void diag_print_log(const DiagnosticList *list) { print_list(list, DiagLayout_Log, str_empty(), str_empty()); }

void diag_print_document(const DiagnosticList *list, Str path, Str source)
{
    print_list(list, DiagLayout_Document, path, source);
}

void diag_print_template(const DiagnosticList *list, Str path, Str source)
{
    print_list(list, DiagLayout_Template, path, source);
}
