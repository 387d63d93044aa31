// os/win32/win32_folder_watch.cpp: change notifications on Windows.
//
// None yet: the file service's scanner finds every change by its full
// passes, which is what the design asks of it. ReadDirectoryChangesW can
// take the role inotify has on Linux once it is shown to keep an idle
// watch as cheap; until then a null watch tells the scanner to poll.
#include "os/platform.h"

FolderWatch *folder_watch_open(void) { return nullptr; }
s64 folder_watch_add(FolderWatch *, Str) { return -1; }
void folder_watch_remove(FolderWatch *, s64) {}
FolderChangeList folder_watch_read(FolderWatch *, Arena *) { return FolderChangeList{}; }
bool folder_watch_wait(FolderWatch *, u64 timeout_ms)
{
    sleep_ms(timeout_ms);
    return false;
}
