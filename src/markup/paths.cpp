// markup/paths.cpp: link text tests and site paths.
#include "markup/paths.h"

#include "site/command_line.h"

bool is_file_link_text(Str text)
{
    if (text.size == 0) return false;
    return memchr(text.str, ' ', text.size) == nullptr;
}

static bool is_quote(char c) { return c == '"' || c == '\''; }

Str unquote(Str text)
{
    if (text.size && is_quote(text.str[0])) text = str_skip(text, 1);
    if (text.size && is_quote(text.str[text.size - 1])) text = str_chop(text, 1);
    return text;
}

Str extension(Str text)
{
    u64 dot = str_find_last_byte(text, '.');
    if (dot >= text.size) return text;
    return str_skip(text, dot + 1);
}

static Str local_folder(void)
{
    const SiteLayout *layout = site_layout();
    return layout ? layout->local_folder : str_empty();
}

static bool is_already_absolute(Str path, Str local, u32 wanted_kind)
{
    if (path_kind(path) == 1) return true;
    return wanted_kind == 1 && local.size && str_match(local, path, StrMatch_Prefix);
}

Str to_site_path(Arena *arena, Str path, u32 wanted_kind)
{
    if (path.size == 0 || path_kind(path) == wanted_kind) return path;
    Str local = local_folder();
    if (is_already_absolute(path, local, wanted_kind)) return path;
    Str text = unquote(path);
    if (is_already_absolute(text, local, wanted_kind)) return text;
    ArenaTemp scratch = scratch_begin(arena);
    Str rooted = text.size && text.str[0] == '/' ? text : str_pushf(scratch.arena, "/%S", text);
    Str result = path_resolve_segments(arena, local, rooted);
    scratch_end(scratch);
    return result;
}
