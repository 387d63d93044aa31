// os/posix/posix_folder_watch.cpp: change notifications through inotify.
//
// Folders are watched rather than files: editors save by writing a new file
// and renaming it over the old one, which ends a watch on the file itself
// but shows up in the folder's watch as a moved-in name.
#include "os/platform.h"

#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

struct FolderWatch {
    int fd;
};

// Everything that can change a file's bytes or last-write time, or the
// file a name refers to; and the ends of the folder's own watch.
static const u32 folder_watch_mask = IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_CREATE | IN_DELETE |
                                     IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

FolderWatch *folder_watch_open(void)
{
    int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return nullptr;
    // The record lives as long as the process: an arena of its own keeps
    // this free of any lock on a shared arena.
    Arena *arena = arena_alloc(KiB(16), KiB(4));
    FolderWatch *watch = arena ? push_struct<FolderWatch>(arena) : nullptr;
    if (!watch) {
        close(fd);
        return nullptr;
    }
    watch->fd = fd;
    return watch;
}

s64 folder_watch_add(FolderWatch *watch, Str folder)
{
    if (!watch) return -1;
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    Str path = folder.size ? str_copy(scratch.arena, folder) : str_lit(".");
    int wd = inotify_add_watch(watch->fd, path.str, folder_watch_mask);
    scratch_end(scratch);
    return wd < 0 ? -1 : (s64)wd;
}

void folder_watch_remove(FolderWatch *watch, s64 watch_id)
{
    if (watch && watch_id >= 0) inotify_rm_watch(watch->fd, (int)watch_id);
}

static void change_push(Arena *arena, FolderChangeList *list, s64 id, u32 kind, Str name)
{
    FolderChange *change = push_struct<FolderChange>(arena);
    if (!change) return;
    change->watch_id = id;
    change->kind = kind;
    change->name = name;
    if (list->last) list->last->next = change;
    else list->first = change;
    list->last = change;
    list->count += 1;
}

FolderChangeList folder_watch_read(FolderWatch *watch, Arena *arena)
{
    FolderChangeList list = {};
    if (!watch) return list;
    alignas(struct inotify_event) char buffer[16384];
    for (;;) {
        ssize_t n = read(watch->fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;   // EAGAIN: nothing more for now
        for (ssize_t at = 0; at + (ssize_t)sizeof(struct inotify_event) <= n;) {
            const struct inotify_event *event = (const struct inotify_event *)(buffer + at);
            at += (ssize_t)sizeof(struct inotify_event) + event->len;
            if (event->mask & IN_Q_OVERFLOW) {
                change_push(arena, &list, -1, FolderChange_Overflow, str_empty());
                continue;
            }
            if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
                change_push(arena, &list, event->wd, FolderChange_Lost, str_empty());
                continue;
            }
            if (event->len == 0) continue;   // the folder itself, e.g. its own attributes
            Str name = str_copy(arena, str_from_cstring(event->name));   // the name is NUL-padded
            change_push(arena, &list, event->wd, FolderChange_File, name);
        }
    }
    return list;
}

bool folder_watch_wait(FolderWatch *watch, u64 timeout_ms)
{
    if (!watch) {
        sleep_ms(timeout_ms);
        return false;
    }
    struct pollfd p = {watch->fd, POLLIN, 0};
    int timeout = (int)min_of<u64>(timeout_ms, 1u << 30);
    for (;;) {
        int n = poll(&p, 1, timeout);
        if (n < 0 && errno == EINTR) continue;
        return n > 0;
    }
}
