// os/win32/win32_path.h: wyn's UTF-8 forward-slash paths as the wide paths
// the Windows calls take, and the last write failure of this thread.
//
// Only the win32 backend includes this. A path is made absolute by the
// system (so "/site/a" lands on the current drive and "a/../b" is folded),
// turned to backslashes, and given the "\\?\" prefix once it reaches the
// length where the plain form stops working. The wide string lives on the
// arena given, NUL-terminated.
#pragma once
#include "os/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// Null for an empty path or one the system cannot make absolute.
const wchar_t *win32_path(Arena *arena, Str path);
// A wide path or name as UTF-8 with forward slashes, "\\?\" dropped.
Str win32_path_to_str(Arena *arena, const wchar_t *wide, u64 size);
// The atomic write behind file_write_all and file_replace; the caller has
// looked at the target already (`had_file`: a file, not a folder, stands
// there). Folders are made once per process: a folder made or found is
// remembered, and a write into it makes its temporary file straight away;
// when that finds the folder gone, the folder is made again and the write
// tried again.
bool win32_file_write(Str path, Str bytes, u32 flags, bool had_file);
// The system's error code of this thread's last failed file_write_all, so
// file_replace can say why after the fact; 0 when it has none.
DWORD win32_last_write_error(void);
