// markup/paths.h: the text rules for strings that may be links.
//
// Pure functions on Str values; only to_site_path and link_resolve_path
// allocate (their results, on `arena`). The site's local folder is passed
// in; an empty one (tools run outside a site) keeps site paths rooted at
// "/". Safe on any thread.
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
Str to_site_path(Arena *arena, Str local_folder, Str path, u32 wanted_kind);

// The text after the last "."; the whole text when there is no ".".
Str extension(Str text);

// Whether an output path names a page: its text after the last "." is
// "html". "a.HTML", "a.htm" and "a.html.txt" are not pages.
bool output_path_is_page(Str path);

// Quotes are dropped with str_unquote (base/str.h).

// The web path of a local file (a slice of `path`): "/html/" drops the
// html folder, "/shared/" and the "/assets/..." folders stay, anything
// else under the local folder starts at the local folder's final "/".
// Searches start at the local folder when the path lies under it, so a
// site kept under a folder named html or shared still gets the right path.
Str site_relative_path(Str local_folder, Str path);

// The type folder a link's extension asks for ("/wyn_files", "/assets/images",
// "/assets/files"), or empty; images and CSV files only when embedded.
Str link_type_folder(Str path, bool embedded);
// The absolute path a file link names, on `arena`.
Str link_resolve_path(Arena *arena, Str local_folder, Str path, bool embedded);
