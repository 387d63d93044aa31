// os/posix/posix_file_replace.cpp: file_replace on POSIX.
#include "os/file_replace.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool file_holds_bytes(Str path, Str bytes)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    const char *cpath = str_copy(scratch.arena, path).str;
    int fd = open(cpath, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    scratch_end(scratch);
    if (fd < 0) return false;
    struct stat st;
    bool same = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (u64)st.st_size == bytes.size;
    // The size already differs for most changed pages; only equal sizes pay
    // for a read, in pieces so a large page needs no buffer of its size.
    char buffer[64 * 1024];
    u64 done = 0;
    while (same && done < bytes.size) {
        u64 want = min_of<u64>(sizeof buffer, bytes.size - done);
        ssize_t n = read(fd, buffer, want);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            same = false;
            break;
        }
        same = memcmp(buffer, bytes.str + done, (size_t)n) == 0;
        done += (u64)n;
    }
    if (same) {
        // The file must end where the bytes end (it may have grown since fstat).
        ssize_t n;
        do n = read(fd, buffer, 1);
        while (n < 0 && errno == EINTR);
        same = n == 0;
    }
    close(fd);
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
    if (file_holds_bytes(path, bytes)) {
        result.status = FileReplace_Unchanged;
        return result;
    }
    errno = 0;
    if (file_write_all(path, bytes, FileWrite_CreateFolders)) {
        result.status = FileReplace_Written;
        return result;
    }
    int saved_errno = errno;
    result.status = FileReplace_Failed;
    result.reason = failure_reason(arena, path, saved_errno);
    return result;
}
