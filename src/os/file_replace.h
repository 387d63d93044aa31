// os/file_replace.h: writing one output file so that a rebuild that changes
// nothing touches nothing, and a failed write says why.
//
// file_replace compares the bytes with what is on disk (size first, then the
// bytes, read in pieces without an allocation) and skips the write when they
// are equal, so modification times stay put and a browser or a file watcher
// sees no change. Otherwise the bytes go through file_write_all: a temporary
// file beside the target renamed over it, missing folders created, the old
// file never deleted first. On failure the old file is left as it was and
// the result carries a short reason on the caller's arena. Any thread may
// call it; two writers of one path race and the last rename wins.
#pragma once
#include "os/platform.h"

enum FileReplaceStatus : u32 {
    FileReplace_None = 0,
    FileReplace_Written = 1,
    FileReplace_Unchanged = 2,   // the file already held exactly these bytes
    FileReplace_Failed = 3,
};

struct FileReplaceResult {
    u32 status;    // FileReplaceStatus
    Str reason;    // set when the write failed, e.g. "a folder stands at this path"
};

FileReplaceResult file_replace(Arena *arena, Str path, Str bytes);   // [backend]
// Whether the file at `path` holds exactly `bytes`; false when it is missing
// or is not a regular file.
bool file_holds_bytes(Str path, Str bytes);                          // [backend]

// Appends `bytes` to the regular file at `path` when it is exactly
// `expected_size` bytes long, so a writer that keeps a log of its own can
// add to it without rewriting it, and a file that someone else changed (or
// an earlier append that broke off) is never appended to: the caller then
// rewrites it whole. Returns whether the bytes were appended in full.
bool file_append_at(Str path, Str bytes, u64 expected_size);          // [backend]

// The folders this process made or found while writing, so that each
// backend's writer makes a folder once per run and not once per file written
// into it. A folder that goes away is dropped again by the write that misses
// it. Any thread may call these.
bool folder_is_known(Str folder);
void folder_set_known(Str folder, bool known);
// A folder this process made held nothing then: until a write into it finds
// its name taken (someone else's file, or one of ours written earlier), a
// write there need not look for an old file first. The write that finds
// one clears the mark, so later writes look again. Marking it made also
// marks it known; dropping it as unknown clears the mark too.
bool folder_is_made(Str folder);
void folder_set_made(Str folder, bool made);
