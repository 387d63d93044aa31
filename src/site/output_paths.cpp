// site/output_paths.cpp: where a page may be written.
#include "site/output_paths.h"

static bool path_has_drive(Str path)
{
    return path.size >= 2 && char_is_alpha((u8)path.str[0]) && path.str[1] == ':';
}

// The path with "." and ".." segments resolved; empty when ".." climbs
// above the root or the path is not absolute. A drive ("C:") stays in front.
static Str path_normalized(Arena *arena, Str path)
{
    Str drive = path_has_drive(path) ? str_prefix(path, 2) : str_empty();
    Str rest = str_skip(path, drive.size);
    if (!rest.size || !char_is_slash((u8)rest.str[0])) return str_empty();
    ArenaTemp scratch = scratch_begin(arena);
    StrList parts = str_split_path(scratch.arena, rest);
    Str *kept = push_array<Str>(scratch.arena, parts.node_count + 1);
    u64 count = 0;
    bool climbed_out = false;
    for (StrNode *n = parts.first; n; n = n->next) {
        if (!n->string.size || str_eq(n->string, str_lit("."))) continue;
        if (str_eq(n->string, str_lit(".."))) {
            if (!count) climbed_out = true;
            else count -= 1;
            continue;
        }
        kept[count++] = n->string;
    }
    StrList joined = {};
    if (drive.size) str_list_push(scratch.arena, &joined, drive);
    for (u64 i = 0; i < count; i += 1) str_list_pushf(scratch.arena, &joined, "/%S", kept[i]);
    Str result = climbed_out ? str_empty() : str_list_join_plain(arena, &joined);
    scratch_end(scratch);
    return result;
}

Str output_path_resolve(Arena *arena, Str local_folder, Str path, Str *reason)
{
    *reason = str_empty();
    // Only a site on a drive has places with drive letters.
    if (path_has_drive(path) && !path_has_drive(local_folder)) {
        *reason = str_lit("a drive path names no place in this site");
        return str_empty();
    }
    Str normal = path_normalized(arena, path);
    if (!normal.size || !str_match(local_folder, normal, StrMatch_Prefix) || normal.size <= local_folder.size) {
        *reason = str_pushf(arena, "it lies outside the local folder %S", local_folder);
        return str_empty();
    }
    Str inside = str_skip(normal, local_folder.size);
    static const Str watched[] = {str_lit("shared/"), str_lit("wyn_files/"), str_lit("assets/")};
    for (Str w : watched) {
        if (str_match(w, inside, StrMatch_Prefix)) {
            *reason = str_pushf(arena, "pages may not be written into %S, which wyn reads", str_chop(w, 1));
            return str_empty();
        }
    }
    return normal;
}

Str site_output_path_refusal(Arena *arena, Str local_folder, Str path)
{
    Str reason;
    output_path_resolve(arena, local_folder, path, &reason);
    return reason;
}
