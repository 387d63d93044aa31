// os/platform.cpp: the parts of the platform layer written once on top of
// the backend calls.
#include "os/platform.h"

bool folder_create_all(Str path)
{
    // Every piece but the last names a folder; the last is the file name.
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    bool ok = true;
    for (u64 i = 1; i < path.size; i += 1) {
        if (!char_is_slash((u8)path.str[i])) continue;
        Str folder = str_prefix(path, i);
        if (folder.size == 0 || (folder.size == 2 && folder.str[1] == ':')) continue;
        if (char_is_slash((u8)path.str[i - 1])) continue;   // "a//b": nothing between
        if (!folder_create(str_copy(scratch.arena, folder))) {
            ok = false;
            break;
        }
    }
    scratch_end(scratch);
    return ok;
}
