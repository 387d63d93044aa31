// markup/paths.h: the text rules for strings that may be links.
//
// Pure functions on Str values; only to_site_path allocates (its result,
// on `arena`). The site's local folder comes from site_layout(), which the
// main thread sets before any worker starts; with no layout set (tests,
// tools) the local folder is empty and site paths stay rooted at "/".
// Safe on any thread.
#pragma once
#include "base/str.h"

// True when `text` is not empty and holds no space byte. Nothing else is
// refused: colons, asterisks and question marks may name files somewhere.
bool is_file_link_text(Str text);

// Makes a path written in a document absolute for the site. Returned as
// given when empty or already of `wanted_kind` (path_kind: 1 absolute,
// 2 root-relative), when it begins with a drive letter and ":", or (for
// kind 1) when it already begins with the local folder, which is what an
// absolute path looks like on POSIX. Otherwise one quote is dropped at
// each end, a "/" is put in front, and the path is resolved below the
// local folder: "." segments dropped, ".." removing the segment before.
// The result is NUL-terminated on `arena`.
Str to_site_path(Arena *arena, Str path, u32 wanted_kind);

// The text after the last "."; the whole text when there is no ".".
Str extension(Str text);

// Drops a leading double or single quote, then a trailing one; the two
// need not match.
Str unquote(Str text);
