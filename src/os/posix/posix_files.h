// os/posix/posix_files.h: the atomic write shared by file_write_all and
// file_replace inside the POSIX backend; nothing outside os/posix/ sees it.
//
// The caller has already looked at the target (one stat), so the write
// costs no more calls than the temporary file, its bytes and the rename.
// In a folder this process made, file_replace links a new file without
// that look, and looks only when the name turns out to be taken.
// Folders are made once per process: a folder this process made or found
// is remembered, and a write into it opens its temporary file straight
// away. When that open finds the folder gone, the folder is forgotten,
// made again and the open retried. Any thread may call it.
#pragma once
#include "os/platform.h"

#include <sys/types.h>

// `had_file`: a file (not a folder) stands at the path, with permission
// bits `mode`, which the new file keeps. Without `had_file` and without
// FileWrite_CreateFolders or FileWrite_Replace nothing is written.
// On failure errno tells the last failed call.
bool posix_file_write(Str path, Str bytes, u32 flags, bool had_file, mode_t mode);

// Writes a new file unnamed in `folder` (which must exist) and links it as
// `cpath` once whole. False, with nothing left behind and errno set, when
// that cannot be done; EEXIST when the name is taken.
bool posix_file_link_new(Str folder, const char *cpath, Str bytes);
