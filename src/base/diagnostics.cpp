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
    if (list->last) list->last->next = d;
    else list->first = d;
    list->last = d;
    list->count += 1;
    if (level > list->max_level) list->max_level = level;
    return d;
}
