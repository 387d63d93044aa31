// site/diagnostics.cpp: records, level names and the printed layouts.
#include "site/diagnostics.h"

#include "os/platform.h"

struct DiagLevelInfo {
    u32 level;
    Str name;
};

// Level 4 has no name and is never produced. Keep the gap: a list records
// its highest level as this number, so levels are never renumbered.
static const DiagLevelInfo diag_level_table[] = {
    {1, str_lit("note")},
    {2, str_lit("warning")},
    {3, str_lit("error")},
    {5, str_lit("fatal error")},
};

Str diag_level_name(u32 level)
{
    for (const DiagLevelInfo &row : diag_level_table)
        if (row.level == level) return row.name;
    return str_empty();
}

Diagnostic *diag_push_at(Arena *arena, DiagnosticList *list, const void *node, u64 offset, u32 level, Str text)
{
    Diagnostic *d = push_struct<Diagnostic>(arena);
    if (!d) return nullptr;
    d->node = node;
    d->offset = offset;
    d->level = level;
    d->text = text;
    if (list->last) list->last->next = d;
    else list->first = d;
    list->last = d;
    list->count += 1;
    if (level > list->max_level) list->max_level = level;
    return d;
}

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
