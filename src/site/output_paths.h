// site/output_paths.h: where a page may be written.
//
// A page is written only where it is safe to: an output path must resolve
// inside the local folder and outside shared/, wyn_files/ and assets/ (an
// output onto a watched input would rebuild for ever). Pure functions of
// their arguments; any thread.
#pragma once
#include "base/str.h"

// The output path with "." and ".." resolved, when it may take a page;
// empty otherwise, with the reason in `*reason` (on `arena`).
Str output_path_resolve(Arena *arena, Str local_folder, Str path, Str *reason);

// Why a path may not take a page (on `arena`): empty when it may.
Str site_output_path_refusal(Arena *arena, Str local_folder, Str path);
