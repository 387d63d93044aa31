// shell/assets.cpp: style-sheet copies with rewritten addresses.
#include "shell/assets.h"

#include "shell/page_writer.h"

// The next position of one byte at or after `from`, remembered between
// calls: callers ask with positions that only grow, so each byte class is
// scanned once over the whole text however many "url(" forms there are.
struct NextByte {
    char byte;
    u64 at;       // u64_max: not searched yet
};

static u64 next_byte(NextByte *next, Str text, u64 from)
{
    if (next->at == u64_max || next->at < from) next->at = str_find_byte(text, next->byte, from);
    return next->at;
}

static bool has_drive(Str s)
{
    return s.size >= 2 && char_is_alpha((u8)s.str[0]) && s.str[1] == ':';
}

// "name:" with a name of two or more scheme characters; a single letter
// before ":" is a drive.
static bool has_scheme(Str s)
{
    u64 i = 0;
    while (i < s.size && (char_is_alpha((u8)s.str[i]) || char_is_digit((u8)s.str[i]) || s.str[i] == '+' ||
                          s.str[i] == '-' || s.str[i] == '.'))
        i += 1;
    return i >= 2 && i < s.size && s.str[i] == ':' && char_is_alpha((u8)s.str[0]);
}

// The address as the copy must write it, or an empty Str to keep it.
static Str rewrite_address(Arena *arena, const ShellSettings *settings, Str address, Str source_folder)
{
    if (address.size == 0 || address.str[0] == '#') return str_empty();
    Str local = str_empty();
    if (str_match(str_lit("file:///"), address, StrMatch_Prefix)) local = shell_path_from_file_address(address);
    else if (has_scheme(address)) return str_empty();
    else if (address.str[0] == '/' || has_drive(address)) local = site_local_path(arena, settings, address);
    else local = path_resolve_segments(arena, source_folder, address);
    if (local.size == 0) return str_empty();
    return shell_address_of(arena, settings, local);
}

Str css_rewrite_urls(Arena *arena, const ShellSettings *settings, Str text, Str source_folder)
{
    ArenaTemp scratch = scratch_begin(arena);
    StrList pieces = {};
    NextByte single_quote = {'\'', u64_max}, double_quote = {'"', u64_max};
    NextByte close = {')', u64_max}, newline = {'\n', u64_max};
    Str opener = str_lit("url(");
    u64 copied = 0;   // text before this position is in `pieces` already
    u64 at = str_find(text, opener, 0, 0);
    while (at < text.size) {
        u64 start = at + opener.size;   // first byte of the address
        u64 resume = start;             // where the search for the next "url(" goes on
        u64 first = 0, opl = 0;         // the address, when there is one
        bool found = false;
        if (start < text.size && (text.str[start] == '\'' || text.str[start] == '"')) {
            NextByte *quote = text.str[start] == '\'' ? &single_quote : &double_quote;
            u64 end = next_byte(quote, text, start + 1);
            u64 stop = min_of(next_byte(&close, text, start + 1), next_byte(&newline, text, start + 1));
            if (end < text.size && end < stop) {
                first = start + 1;
                opl = end;
                found = true;
                resume = end + 1;
            }
        } else if (start < text.size) {
            u64 end = next_byte(&close, text, start);
            if (end < text.size && end < next_byte(&newline, text, start)) {
                Str raw = str_trim(str_substr(text, start, end));
                // An unquoted address holds no blanks or quotes.
                bool plain = raw.size > 0;
                for (u64 i = 0; plain && i < raw.size; i += 1)
                    plain = !char_is_space((u8)raw.str[i]) && raw.str[i] != '\'' && raw.str[i] != '"';
                if (plain) {
                    first = (u64)(raw.str - text.str);
                    opl = first + raw.size;
                    found = true;
                    resume = end + 1;
                }
            }
        }
        if (found) {
            Str rewritten = rewrite_address(scratch.arena, settings, str_substr(text, first, opl), source_folder);
            if (rewritten.size) {
                str_list_push(scratch.arena, &pieces, str_substr(text, copied, first));
                str_list_push(scratch.arena, &pieces, rewritten);
                copied = opl;
            }
        }
        at = str_find(text, opener, resume, 0);
    }
    str_list_push(scratch.arena, &pieces, str_skip(text, copied));
    Str result = str_list_join_plain(arena, &pieces);
    scratch_end(scratch);
    return result;
}

u32 css_copy_rewritten(Arena *arena, const ShellSettings *settings, Str source_path, Str destination_path,
                       ShellMessages *messages, ContentKey *out_key)
{
    ArenaTemp scratch = scratch_begin(arena);
    Str text = shell_read_file(scratch.arena, source_path, out_key);
    u32 status = FileReplace_None;
    if (text.size) {
        Str copy = css_rewrite_urls(scratch.arena, settings, text, path_folder(source_path));
        status = page_write(arena, destination_path, copy, messages ? &messages->log : nullptr, &settings->on_write);
    }
    scratch_end(scratch);
    return status;
}
