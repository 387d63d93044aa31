// os/win32/win32_file_replace.cpp: file_replace on Windows.
#include "os/file_replace.h"
#include "os/win32/win32_path.h"

#include <cstring>

// Whether the file at `wide`, whose size the caller saw equal to theirs,
// holds exactly `bytes`. Read in pieces, so a large page needs no buffer of
// its size.
static bool wide_holds_bytes(const wchar_t *wide, Str bytes)
{
    HANDLE file = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool same = GetFileType(file) == FILE_TYPE_DISK;
    char buffer[64 * 1024];
    u64 done = 0;
    while (same && done < bytes.size) {
        DWORD want = (DWORD)min_of<u64>(sizeof buffer, bytes.size - done);
        DWORD got = 0;
        if (!ReadFile(file, buffer, want, &got, nullptr) || got == 0) {
            same = false;
            break;
        }
        same = memcmp(buffer, bytes.str + done, got) == 0;
        done += got;
    }
    if (same) {
        // The file must end where the bytes end (it may have grown meanwhile).
        DWORD got = 0;
        same = ReadFile(file, buffer, 1, &got, nullptr) && got == 0;
    }
    CloseHandle(file);
    return same;
}

// One look at the target: most changed pages differ in size, and a missing
// file or one of another size costs this look and no open.
struct Target {
    bool is_file, same;
};

static Target look_at(Str path, Str bytes)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    Target target = {};
    const wchar_t *wide = win32_path(scratch.arena, path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (wide && GetFileAttributesExW(wide, GetFileExInfoStandard, &data)) {
        target.is_file = !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        u64 size = ((u64)data.nFileSizeHigh << 32) | data.nFileSizeLow;
        target.same = target.is_file && size == bytes.size && wide_holds_bytes(wide, bytes);
    }
    scratch_end(scratch);
    return target;
}

bool file_holds_bytes(Str path, Str bytes) { return look_at(path, bytes).same; }

// Why the write failed, from the state of the path and its folder and the
// system's code for the failed call.
static Str failure_reason(Arena *arena, Str path, DWORD error)
{
    FileProperties target = file_properties(path);
    Str folder = path_folder(path);
    FileProperties parent = file_properties(folder.size ? folder : str_lit("."));
    if (target.exists && target.is_folder) return str_lit("a folder stands at this path");
    if (!parent.exists) return str_lit("its folder cannot be created");
    if (!parent.is_folder) return str_lit("a file stands where its folder should be");
    if (error == ERROR_ACCESS_DENIED) {
        // A file held open without sharing delete refuses the rename with
        // "access denied" too; asking for delete access tells the two apart.
        ArenaTemp scratch = scratch_begin(arena);
        const wchar_t *wide = win32_path(scratch.arena, path);
        HANDLE probe = wide ? CreateFileW(wide, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                            : INVALID_HANDLE_VALUE;
        if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
        else if (GetLastError() == ERROR_SHARING_VIOLATION) error = ERROR_SHARING_VIOLATION;
        scratch_end(scratch);
    }
    switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return str_lit("another program holds the file open");
    case ERROR_ACCESS_DENIED: return str_lit("access is denied");
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return str_lit("the disk is full");
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_INVALID_NAME: return str_lit("the path is not a valid file name");
    default: break;
    }
    return str_pushf(arena, "the bytes could not be written (error %lu)", (unsigned long)error);
}

FileReplaceResult file_replace(Arena *arena, Str path, Str bytes)
{
    FileReplaceResult result = {};
    Target target = look_at(path, bytes);
    if (target.same) {
        result.status = FileReplace_Unchanged;
        return result;
    }
    if (win32_file_write(path, bytes, FileWrite_CreateFolders, target.is_file)) {
        result.status = FileReplace_Written;
        return result;
    }
    result.status = FileReplace_Failed;
    result.reason = failure_reason(arena, path, win32_last_write_error());
    return result;
}

bool file_append_at(Str path, Str bytes, u64 expected_size)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    const wchar_t *wide = win32_path(scratch.arena, path);
    HANDLE file = wide ? CreateFileW(wide, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                       : INVALID_HANDLE_VALUE;
    scratch_end(scratch);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    bool ok = GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size) && (u64)size.QuadPart == expected_size;
    u64 done = 0;
    while (ok && done < bytes.size) {
        DWORD want = (DWORD)min_of<u64>(1u << 30, bytes.size - done);
        DWORD wrote = 0;
        if (!WriteFile(file, bytes.str + done, want, &wrote, nullptr) || wrote == 0) ok = false;
        else done += wrote;
    }
    CloseHandle(file);
    return ok;
}
