// base/diagnostics.cpp: records and level names.
#include "base/diagnostics.h"

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
    list_append(list, d);
    list->count += 1;
    if (level > list->max_level) list->max_level = level;
    return d;
}

//- the three layouts

Str diag_shown_path(Arena *arena, Str path)
{
    u64 controls = 0;
    for (u64 i = 0; i < path.size; i += 1) controls += (u8)path.str[i] < 0x20 || path.str[i] == 0x7F;
    if (controls == 0) return path;
    char *out = (char *)arena_push(arena, path.size + controls * 3 + 1, 1);
    if (!out) return str_empty();
    u64 n = 0;
    static const char hex[] = "0123456789abcdef";
    for (u64 i = 0; i < path.size; i += 1) {
        u8 c = (u8)path.str[i];
        if (c >= 0x20 && c != 0x7F) {
            out[n++] = (char)c;
            continue;
        }
        out[n++] = '\\';
        switch (c) {
        case '\n': out[n++] = 'n'; break;
        case '\t': out[n++] = 't'; break;
        case '\r': out[n++] = 'r'; break;
        case 0x1B: out[n++] = 'e'; break;
        default:
            out[n++] = 'x';
            out[n++] = hex[c >> 4];
            out[n++] = hex[c & 15];
        }
    }
    out[n] = 0;
    return Str{out, n};
}

Str diag_format_record(Arena *arena, const Diagnostic *d, u32 layout, Str shown_path, const LineIndex *lines)
{
    Str name = diag_level_name(d->level);
    Str head = layout == DiagLayout_Template ? str_lit("token: ") : str_lit("  ");
    if (layout == DiagLayout_Log) return str_pushf(arena, "%S: \n%S%S\n", name, head, d->text);
    LineCol at = line_index_find(lines, d->offset);
    Str indent = layout == DiagLayout_Template ? str_empty() : str_lit("  ");
    return str_pushf(arena, "%S: \n%S%S\n%S%S:%I64d:%I64d\n", name, head, d->text, indent, shown_path, (s64)at.line,
                     (s64)at.column);
}

static Str format_list(Arena *arena, const DiagnosticList *list, u32 layout, Str path, Str source)
{
    ArenaTemp scratch = scratch_begin(&arena, 1);
    LineIndex lines = layout == DiagLayout_Log ? LineIndex{} : line_index_build(scratch.arena, source);
    Str shown = diag_shown_path(scratch.arena, path);
    StrList out = {};
    for (const Diagnostic *d = list->first; d; d = d->next)
        str_list_push(scratch.arena, &out, diag_format_record(scratch.arena, d, layout, shown, &lines));
    Str result = str_list_join_plain(arena, &out);
    scratch_end(scratch);
    return result;
}

Str diag_format_log(Arena *arena, const DiagnosticList *list)
{
    return format_list(arena, list, DiagLayout_Log, str_empty(), str_empty());
}

Str diag_format_document(Arena *arena, const DiagnosticList *list, Str path, Str source)
{
    return format_list(arena, list, DiagLayout_Document, path, source);
}

Str diag_format_template(Arena *arena, const DiagnosticList *list, Str path, Str source)
{
    return format_list(arena, list, DiagLayout_Template, path, source);
}
