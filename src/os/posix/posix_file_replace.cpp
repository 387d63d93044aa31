// os/posix/posix_file_replace.cpp: file_replace on POSIX.
#include "os/file_replace.h"
#include "os/posix/posix_files.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Whether the open file ends exactly where `bytes` end and holds them; the
// caller has seen its size equal theirs. Read in pieces, so a large page
// needs no buffer of its size.
static bool fd_holds_bytes(int fd, Str bytes)
{
    char buffer[64 * 1024];
    u64 done = 0;
    bool same = true;
    while (same && done < bytes.size) {
        u64 want = min_of<u64>(sizeof buffer, bytes.size - done);
        ssize_t n = read(fd, buffer, want);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        same = memcmp(buffer, bytes.str + done, (size_t)n) == 0;
        done += (u64)n;
    }
    if (same) {
        // The file must end where the bytes end (it may have grown since the stat).
        ssize_t n;
        do n = read(fd, buffer, 1);
        while (n < 0 && errno == EINTR);
        same = n == 0;
    }
    return same;
}

// Equal sizes only: most changed pages differ in size, and a missing file
// or one of another size costs this one stat and no read.
static bool stat_holds_bytes(const char *cpath, const struct stat *st, Str bytes)
{
    if (!S_ISREG(st->st_mode) || (u64)st->st_size != bytes.size) return false;
    int fd = open(cpath, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    bool same = fd_holds_bytes(fd, bytes);
    close(fd);
    return same;
}

bool file_holds_bytes(Str path, Str bytes)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    const char *cpath = str_copy(scratch.arena, path).str;
    struct stat st;
    bool same = stat(cpath, &st) == 0 && stat_holds_bytes(cpath, &st, bytes);
    scratch_end(scratch);
    return same;
}

// Why the write failed, from the state of the path and its folder: the
// errno of the failed call is gone by the time file_write_all returns.
static Str failure_reason(Arena *arena, Str path, int saved_errno)
{
    ArenaTemp scratch = scratch_begin(arena);
    const char *cpath = str_copy(scratch.arena, path).str;
    Str folder = path_folder(path);
    const char *cfolder = str_copy(scratch.arena, folder.size ? folder : str_lit(".")).str;
    Str reason = str_empty();
    struct stat st;
    if (stat(cpath, &st) == 0 && S_ISDIR(st.st_mode)) {
        reason = str_lit("a folder stands at this path");
    } else if (stat(cfolder, &st) != 0) {
        reason = str_pushf(arena, "its folder cannot be created (%s)", strerror(errno));
    } else if (!S_ISDIR(st.st_mode)) {
        reason = str_lit("a file stands where its folder should be");
    } else if (access(cfolder, W_OK) != 0) {
        reason = str_pushf(arena, "its folder is not writable (%s)", strerror(errno));
    } else {
        reason = str_pushf(arena, "%s", saved_errno ? strerror(saved_errno) : "the bytes could not be written");
    }
    scratch_end(scratch);
    return reason;
}

FileReplaceResult file_replace(Arena *arena, Str path, Str bytes)
{
    FileReplaceResult result = {};
    ArenaTemp scratch = scratch_begin(arena);
    const char *cpath = str_copy(scratch.arena, path).str;
    // In a folder this process made, the name is new unless the link finds
    // it taken: a cold build then writes each page without looking first.
    // Any failure ends that for the folder.
    Str folder = path_folder(path);
    if (folder.size && folder_is_made(folder)) {
        if (posix_file_link_new(folder, cpath, bytes)) {
            scratch_end(scratch);
            result.status = FileReplace_Written;
            return result;
        }
        // Taken, or the folder cannot take an unnamed file (or is gone):
        // the writes that follow look first, as anywhere else.
        folder_set_made(folder, false);
    }
    struct stat st;
    bool exists = stat(cpath, &st) == 0;
    bool same = exists && stat_holds_bytes(cpath, &st, bytes);
    scratch_end(scratch);
    if (same) {
        result.status = FileReplace_Unchanged;
        return result;
    }
    bool had_file = exists && !S_ISDIR(st.st_mode);
    errno = 0;
    if (posix_file_write(path, bytes, FileWrite_CreateFolders, had_file, had_file ? st.st_mode : 0666)) {
        result.status = FileReplace_Written;
        return result;
    }
    int saved_errno = errno;
    result.status = FileReplace_Failed;
    result.reason = failure_reason(arena, path, saved_errno);
    return result;
}

bool file_append_at(Str path, Str bytes, u64 expected_size)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    int fd = open(str_copy(scratch.arena, path).str, O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK);
    scratch_end(scratch);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (u64)st.st_size == expected_size;
    u64 done = 0;
    while (ok && done < bytes.size) {
        ssize_t n = write(fd, bytes.str + done, bytes.size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += (u64)n;
    }
    if (close(fd) != 0) ok = false;
    return ok;
}
