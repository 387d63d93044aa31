// markup/paths.cpp: link text tests and site paths.
#include "markup/paths.h"


bool is_file_link_text(Str text)
{
    if (text.size == 0) return false;
    return memchr(text.str, ' ', text.size) == nullptr;
}

Str extension(Str text)
{
    u64 dot = str_find_last_byte(text, '.');
    if (dot >= text.size) return text;
    return str_skip(text, dot + 1);
}

bool output_path_is_page(Str path)
{
    u64 dot = str_find_last_byte(path, '.');
    return dot < path.size && str_eq(str_skip(path, dot + 1), str_lit("html"));
}

static bool is_already_absolute(Str path, Str local, u32 wanted_kind)
{
    if (path_kind(path) == 1) return true;
    return wanted_kind == 1 && local.size && str_match(local, path, StrMatch_Prefix);
}

Str to_site_path(Arena *arena, Str local, Str path, u32 wanted_kind)
{
    if (path.size == 0 || path_kind(path) == wanted_kind) return path;
    if (is_already_absolute(path, local, wanted_kind)) return path;
    Str text = str_unquote(path);
    if (is_already_absolute(text, local, wanted_kind)) return text;
    ArenaTemp scratch = scratch_begin(arena);
    Str rooted = text.size && text.str[0] == '/' ? text : str_pushf(scratch.arena, "/%S", text);
    Str result = path_resolve_segments(arena, local, rooted);
    scratch_end(scratch);
    return result;
}

Str site_relative_path(Str local_folder, Str path)
{
    Str area = path;
    if (local_folder.size > 1 && str_match(local_folder, path, StrMatch_Prefix)) area = str_skip(path, local_folder.size - 1);
    struct Rule {
        Str needle;
        u64 skip;   // bytes of the needle dropped from the result
    };
    static const Rule rules[] = {
        {str_lit("/html/"), 5},
        {str_lit("/shared/"), 0},
        {str_lit("/assets/images/"), 0},
        {str_lit("/assets/files/"), 0},
        {str_lit("/assets/builds/"), 0},
    };
    for (const Rule &rule : rules) {
        u64 at = str_find(area, rule.needle, 0, 0);
        if (at < area.size) return str_skip(area, at + rule.skip);
    }
    if (local_folder.size) {
        u64 at = str_find(path, local_folder, 0, 0);
        if (at < path.size) return str_skip(path, at + local_folder.size - 1);
    }
    return path;
}

static bool extension_is(Str path, Str wanted) { return str_match(extension(path), wanted, StrMatch_CaseInsensitive); }

Str link_type_folder(Str path, bool embedded)
{
    if (extension_is(path, str_lit("wyn"))) return str_lit("/wyn_files");
    if (!embedded) return str_empty();
    if (extension_is(path, str_lit("jpg")) || extension_is(path, str_lit("jpeg")) || extension_is(path, str_lit("png")))
        return str_lit("/assets/images");
    if (extension_is(path, str_lit("csv"))) return str_lit("/assets/files");
    return str_empty();
}

Str link_resolve_path(Arena *arena, Str local_folder, Str path, bool embedded)
{
    ArenaTemp scratch = scratch_begin(arena);
    Str folder = link_type_folder(path, embedded);
    Str full = path;
    if (folder.size && !str_contains(path, folder)) {
        bool rooted = path.size && path.str[0] == '/';
        full = rooted ? str_pushf(scratch.arena, "%S%S", folder, path) : str_pushf(scratch.arena, "%S/%S", folder, path);
    }
    Str resolved = to_site_path(arena, local_folder, full, 1);
    // to_site_path hands back its input when it is absolute already; the
    // result must outlive the scratch it may have come from.
    if (resolved.str == full.str) resolved = str_copy(arena, resolved);
    scratch_end(scratch);
    return resolved;
}
