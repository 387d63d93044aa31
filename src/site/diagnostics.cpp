// site/diagnostics.cpp: the printed layouts.
#include "site/diagnostics.h"

#include "os/platform.h"


enum Layout { Layout_Log, Layout_Document, Layout_Template };

static void format_record(Arena *arena, StrList *out, const Diagnostic *d, Layout layout, Str path, Str source)
{
    Str name = diag_level_name(d->level);
    str_list_pushf(arena, out, "%.*s: \n", (int)name.size, name.str);
    if (layout == Layout_Template) str_list_pushf(arena, out, "token: %.*s\n", (int)d->text.size, d->text.str);
    else str_list_pushf(arena, out, "  %.*s\n", (int)d->text.size, d->text.str);
    if (layout == Layout_Log) return;
    LineCol at = line_col_of(source, d->offset);
    Str location = str_pushf(arena, "%S:%I64d:%I64d", path, (s64)at.line, (s64)at.column);
    if (layout == Layout_Template) str_list_pushf(arena, out, "%.*s\n", (int)location.size, location.str);
    else str_list_pushf(arena, out, "  %.*s\n", (int)location.size, location.str);
}

static Str format_list(Arena *arena, const DiagnosticList *list, Layout layout, Str path, Str source)
{
    ArenaTemp scratch = scratch_begin(arena);
    StrList out = {};
    for (const Diagnostic *d = list->first; d; d = d->next) format_record(scratch.arena, &out, d, layout, path, source);
    Str result = str_list_join_plain(arena, &out);
    scratch_end(scratch);
    return result;
}

static void print_list(const DiagnosticList *list, Layout layout, Str path, Str source)
{
    if (!list->first) return;
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    for (const Diagnostic *d = list->first; d; d = d->next) {
        ArenaTemp record = temp_begin(scratch.arena);
        StrList out = {};
        format_record(scratch.arena, &out, d, layout, path, source);
        Str text = str_list_join_plain(scratch.arena, &out);
        // One write per record: records printed by two workers at the same
        // time stay whole.
        console_write(text);
        temp_end(record);
    }
    scratch_end(scratch);
}

void diag_print_log(const DiagnosticList *list) { print_list(list, Layout_Log, str_empty(), str_empty()); }

void diag_print_document(const DiagnosticList *list, Str path, Str source)
{
    print_list(list, Layout_Document, path, source);
}

void diag_print_template(const DiagnosticList *list, Str path, Str source)
{
    print_list(list, Layout_Template, path, source);
}

Str diag_format_log(Arena *arena, const DiagnosticList *list)
{
    return format_list(arena, list, Layout_Log, str_empty(), str_empty());
}

Str diag_format_document(Arena *arena, const DiagnosticList *list, Str path, Str source)
{
    return format_list(arena, list, Layout_Document, path, source);
}

Str diag_format_template(Arena *arena, const DiagnosticList *list, Str path, Str source)
{
    return format_list(arena, list, Layout_Template, path, source);
}
