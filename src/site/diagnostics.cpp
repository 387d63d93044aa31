// site/diagnostics.cpp: the printed layouts and the status line.
#include "site/diagnostics.h"

#include "os/platform.h"
#include "os/work_queue.h"

#include <cstdlib>
#include <nlohmann/json.hpp>

static u64 status_showing;   // atomic: a status line is on the terminal

// Erases the line and returns the cursor to its start.
static const Str erase_line = str_lit("\r\x1b[K");

DiagPrintSettings diag_print_settings_detect(u32 form, u32 colour)
{
    DiagPrintSettings settings = {};
    settings.form = form;
    bool terminal = console_error_is_terminal();
    // NO_COLOR: present means no colour, whatever its value.
    bool automatic = terminal && std::getenv("NO_COLOR") == nullptr;
    settings.colour = form != DiagForm_Json && (colour == DiagColour_Always || (colour == DiagColour_Auto && automatic));
    settings.status = terminal;
    return settings;
}

//- formatting

static Str level_colour(u32 level)
{
    switch (level) {
    case DiagLevel_Note: return str_lit("\x1b[1;36m");
    case DiagLevel_Warning: return str_lit("\x1b[1;33m");
    default: return str_lit("\x1b[1;31m");
    }
}

static Str level_word(Arena *arena, u32 level, bool colour)
{
    Str name = diag_level_name(level);
    if (!colour) return name;
    return str_pushf(arena, "%S%S\x1b[0m", level_colour(level), name);
}

// One JSON object on one line. The library escapes what JSON needs; bytes
// that are not UTF-8 (a file name, a message quoting a source) become
// U+FFFD instead of ending the program with an exception.
static Str format_json(Arena *arena, const Diagnostic *d, u32 layout, Str path, const LineIndex *lines)
{
    auto text = [](Str s) { return std::string(s.str, s.size); };
    nlohmann::ordered_json record;
    if (layout != DiagLayout_Log) {
        LineCol at = line_index_find(lines, d->offset);
        record["path"] = text(path);
        record["line"] = at.line;
        record["column"] = at.column;
    }
    record["level"] = text(diag_level_name(d->level));
    record["message"] = text(d->text);
    if (d->target.size) record["target"] = text(d->target);
    std::string line = record.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    return str_copy(arena, Str{line.data(), line.size()});
}

static Str format_record(Arena *arena, const Diagnostic *d, u32 layout, Str path, Str shown, const LineIndex *lines,
                         const DiagPrintSettings *settings)
{
    if (settings->form == DiagForm_Json) return format_json(arena, d, layout, path, lines);
    if (settings->form == DiagForm_Layouts && !settings->colour) return diag_format_record(arena, d, layout, shown, lines);
    Str level = level_word(arena, d->level, settings->colour);
    if (settings->form == DiagForm_Line) {
        // A link message names the link, so the one line stands alone.
        Str message = d->target.size ? str_pushf(arena, "%S: %S", d->text, d->target) : d->text;
        if (layout == DiagLayout_Log) return str_pushf(arena, "wyn: %S: %S\n", level, message);
        LineCol at = line_index_find(lines, d->offset);
        return str_pushf(arena, "%S:%I64d:%I64d: %S: %S\n", shown, (s64)at.line, (s64)at.column, level, message);
    }
    // The usual layout with only its first word coloured: the rest is what
    // the plain layout prints after the level name.
    Str plain = diag_format_record(arena, d, layout, shown, lines);
    Str name = diag_level_name(d->level);
    return str_pushf(arena, "%S%S", level, str_skip(plain, name.size));
}

Str diag_format_styled(Arena *arena, const DiagnosticList *list, u32 layout, Str path, Str source,
                       const DiagPrintSettings *settings)
{
    ArenaTemp scratch = scratch_begin(&arena, 1);
    LineIndex lines = layout == DiagLayout_Log ? LineIndex{} : line_index_build(scratch.arena, source);
    Str shown = diag_shown_path(scratch.arena, path);
    StrList out = {};
    for (const Diagnostic *d = list->first; d; d = d->next)
        str_list_push(scratch.arena, &out, format_record(scratch.arena, d, layout, path, shown, &lines, settings));
    Str result = str_list_join_plain(arena, &out);
    scratch_end(scratch);
    return result;
}

//- printing

#include <atomic>

// What the user was shown, for the one-line summary of a one-shot run.
static std::atomic<u64> g_printed_warnings, g_printed_errors;

DiagPrintedCounts diag_printed_counts(void) { return {g_printed_warnings.load(), g_printed_errors.load()}; }

static void print_list(const DiagPrintSettings *print, const DiagnosticList *list, u32 layout, Str path, Str source)
{
    if (!list->first || print->silent) return;
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    LineIndex lines = layout == DiagLayout_Log ? LineIndex{} : line_index_build(scratch.arena, source);
    Str shown = diag_shown_path(scratch.arena, path);
    StrList records = {};
    for (const Diagnostic *d = list->first; d; d = d->next) {
        str_list_push(scratch.arena, &records, format_record(scratch.arena, d, layout, path, shown, &lines, print));
        if (d->level == DiagLevel_Warning) g_printed_warnings.fetch_add(1);
        if (d->level >= DiagLevel_Error) g_printed_errors.fetch_add(1);
    }
    Str text = str_list_join_plain(scratch.arena, &records);
    // The records start on a clean line: over the status line, which the
    // next tick draws again below them.
    if (print->status && atomic_load_u64(&status_showing)) {
        atomic_store_u64(&status_showing, 0);
        text = str_pushf(scratch.arena, "%S%S", erase_line, text);
    }
    // One write per list: the records of two documents printed by two
    // workers at the same time stay whole and apart, and a document with
    // many mistakes costs one system call, not one per mistake.
    console_write_error(text);
    scratch_end(scratch);
}

void diag_print_log(const DiagPrintSettings *print, const DiagnosticList *list)
{
    print_list(print, list, DiagLayout_Log, str_empty(), str_empty());
}

void diag_print_document(const DiagPrintSettings *print, const DiagnosticList *list, Str path, Str source)
{
    print_list(print, list, DiagLayout_Document, path, source);
}

void diag_print_template(const DiagPrintSettings *print, const DiagnosticList *list, Str path, Str source)
{
    print_list(print, list, DiagLayout_Template, path, source);
}

//- the status line

void progress_show(const DiagPrintSettings *print, Str text)
{
    if (!print->status) return;
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    // Marked first: a record printed meanwhile erases the line rather than
    // continue it.
    atomic_store_u64(&status_showing, 1);
    console_write_error(str_pushf(scratch.arena, "%S%S", erase_line, text));
    scratch_end(scratch);
}

void progress_clear(const DiagPrintSettings *print)
{
    if (!print->status) return;
    if (atomic_load_u64(&status_showing)) console_write_error(erase_line);
    atomic_store_u64(&status_showing, 0);
}

void diag_print_result(const DiagPrintSettings *print, Str text)
{
    // The status line shares the terminal: a result written over it would
    // be glued to its end.
    progress_clear(print);
    console_write(text);
}
