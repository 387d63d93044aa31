// site/init.cpp: `wyn init`, the starter site written whole or not at all.
#include "site/init.h"

#include "os/platform.h"

// The platform layer replaces files atomically but has no call that moves
// or removes a folder, and init is the only user of either; the standard
// library's file system does both on every platform wyn builds for, and
// reads UTF-8 paths when they are handed over as char8_t.
#include <filesystem>
#include <string>

const Str starter_today_marker = str_lit("@TODAY@");

//- folders

namespace {

std::filesystem::path fs_path(Str path)
{
    return std::filesystem::path(std::u8string((const char8_t *)path.str, path.size));
}

bool folder_rename(Str from, Str to)
{
    std::error_code error;
    std::filesystem::rename(fs_path(from), fs_path(to), error);
    return !error;
}

void folder_remove_tree(Str folder)
{
    std::error_code error;
    std::filesystem::remove_all(fs_path(folder), error);
}

// An empty folder only: one that holds anything is someone's.
void folder_remove_empty(Str folder)
{
    std::error_code error;
    if (std::filesystem::is_empty(fs_path(folder), error) && !error) std::filesystem::remove(fs_path(folder), error);
}

// "folder/name", with one slash whether or not the folder ends in one (a
// root, "/" or "C:/", does).
Str path_join(Arena *arena, Str folder, Str name)
{
    bool slash = folder.size && char_is_slash((u8)folder.str[folder.size - 1]);
    return str_pushf(arena, slash ? "%S%S" : "%S/%S", folder, name);
}

// Makes `folder` and the folders above it that are missing, outermost
// first, and lists the ones it made, innermost first, for an undo.
bool folder_make_recorded(Arena *arena, Str folder, StrList *made)
{
    StrList missing = {};
    for (Str at = folder; at.size;) {
        FileProperties props = file_properties(at);
        if (props.exists) {
            if (!props.is_folder) return false;
            break;
        }
        str_list_push_front(arena, &missing, at);
        Str parent = path_without_trailing_slashes(path_folder(at));
        if (parent.size >= at.size) break;
        at = parent;
    }
    for (StrNode *n = missing.first; n; n = n->next) {
        if (!folder_create(n->string)) return false;
        str_list_push_front(arena, made, n->string);
    }
    return true;
}

void folders_unmake(const StrList *made)
{
    for (StrNode *n = made->first; n; n = n->next) folder_remove_empty(n->string);
}

Str date_iso(Arena *arena, DateTime date)
{
    return str_pushf(arena, "%04u-%02u-%02u", (u32)date.year, (u32)date.month, (u32)date.day);
}

// The bytes a starter file is written with: a document's date marker is
// today's date.
Str starter_bytes(Arena *arena, const StarterFile *file, Str today)
{
    if (!str_eq(path_extension(file->path), str_lit("wyn"))) return file->bytes;
    StrList pieces = {};
    Str rest = file->bytes;
    for (;;) {
        u64 at = str_find(rest, starter_today_marker, 0, 0);
        str_list_push(arena, &pieces, str_prefix(rest, at));
        if (at >= rest.size) break;
        str_list_push(arena, &pieces, today);
        rest = str_skip(rest, at + starter_today_marker.size);
    }
    return str_list_join_plain(arena, &pieces);
}

} // namespace

//- the site

bool starter_file_is_page_asset(Str path)
{
    return str_match(str_lit("local/shared/fonts/"), path, StrMatch_Prefix) ||
           str_match(str_lit("local/shared/images/"), path, StrMatch_Prefix) ||
           str_eq(path, str_lit("local/shared/css/fonts.css")) || str_eq(path, str_lit("local/shared/css/icons.css"));
}

// A site that exists gets the page assets it lacks, each written whole
// (atomically) and none over a file that is there. One that fails stops the
// rest; what was added before it stays, since each was missing and is whole.
static void site_complete(Arena *arena, InitResult *result, Str folder, const StarterFile *files, u64 count)
{
    ArenaTemp scratch = scratch_begin(&arena, 1);
    for (u64 i = 0; i < count; i += 1) {
        const StarterFile *file = &files[i];
        if (!starter_file_is_page_asset(file->path)) continue;
        Str path = path_join(scratch.arena, folder, file->path);
        if (file_properties(path).exists) continue;
        if (!file_write_all(path, file->bytes, FileWrite_CreateFolders)) {
            result->problem = str_pushf(arena, "%S could not be written", path);
            break;
        }
        result->files_written += 1;
        str_list_push(arena, &result->added, str_copy(arena, file->path));
    }
    result->ok = result->problem.size == 0;
    result->completed = 1;
    scratch_end(scratch);
}

InitResult site_init(Arena *arena, Str folder, const StarterFile *files, u64 count, Str today)
{
    InitResult result = {};
    folder = path_without_trailing_slashes(folder);
    result.local_folder = path_join(arena, folder, str_lit("local/"));
    ArenaTemp scratch = scratch_begin(&arena, 1);
    Str local = path_join(scratch.arena, folder, str_lit("local"));
    FileProperties at_folder = file_properties(folder);
    FileProperties at_local = file_properties(local);
    if (at_local.exists && at_local.is_folder) {
        scratch_end(scratch);
        site_complete(arena, &result, folder, files, count);
        return result;
    }
    if (at_local.exists) {
        result.problem = str_pushf(arena, "%S is a file, not a site's folder: nothing was written", local);
    } else if (at_folder.exists && !at_folder.is_folder) {
        result.problem = str_pushf(arena, "%S is not a folder; nothing was written", folder);
    }
    if (result.problem.size) {
        scratch_end(scratch);
        return result;
    }

    StrList made = {};
    if (!folder_make_recorded(scratch.arena, folder, &made)) {
        folders_unmake(&made);
        result.problem = str_pushf(arena, "%S cannot be made; nothing was written", folder);
        scratch_end(scratch);
        return result;
    }
    // The site is put together beside its final place, on the same file
    // system, so that one rename shows it whole; a temporary folder left by
    // a run that was killed is not reused.
    Str temp = str_empty();
    for (u32 attempt = 0; attempt < 100 && !temp.size; attempt += 1) {
        Str name = path_join(scratch.arena, folder,
                             str_pushf(scratch.arena, ".wyn-init.%I64u.%u", system_info()->process_id, attempt));
        if (!file_properties(name).exists && folder_create(name)) temp = name;
    }
    Str failed = temp.size ? str_empty() : str_pushf(scratch.arena, "a temporary folder in %S cannot be made", folder);
    for (u64 i = 0; i < count && !failed.size && temp.size; i += 1) {
        const StarterFile *file = &files[i];
        // Only local/ is moved into place: anything else would be lost.
        if (!str_match(str_lit("local/"), file->path, StrMatch_Prefix)) {
            failed = str_pushf(scratch.arena, "%S lies outside local/", file->path);
            break;
        }
        Str path = path_join(scratch.arena, temp, file->path);
        Str bytes = starter_bytes(scratch.arena, file, today);
        bool written = file_write_all(path, bytes, FileWrite_CreateFolders);
        if (!written) failed = str_pushf(scratch.arena, "%S could not be written", file->path);
        else result.files_written += 1;
    }
    // Someone may have made a local/ meanwhile: a rename onto an empty
    // folder would replace it, so look once more just before.
    if (!failed.size && file_properties(local).exists) failed = str_pushf(scratch.arena, "%S appeared meanwhile", local);
    if (!failed.size && !folder_rename(path_join(scratch.arena, temp, str_lit("local")), local))
        failed = str_pushf(scratch.arena, "the new site could not be moved to %S", local);
    if (temp.size) folder_remove_tree(temp);
    if (failed.size) {
        folders_unmake(&made);
        result.files_written = 0;
        result.problem = str_pushf(arena, "%S; nothing was written", failed);
    } else {
        result.ok = 1;
    }
    scratch_end(scratch);
    return result;
}

//- the command

// What was added to a site that existed, by folder, and what stopped it.
static bool init_print_completed(Arena *arena, const DiagPrintSettings *print, const InitResult *result)
{
    StrList lines = {};
    if (result->files_written == 0 && result->ok) {
        str_list_pushf(arena, &lines, "wyn init: %S is a site already and lacks none of the files its pages load; "
                                      "nothing was written\n",
                       result->local_folder);
    } else if (result->files_written) {
        str_list_pushf(arena, &lines,
                       "wyn init: %S is a site already; added %I64u file%s its pages load and it lacked "
                       "(no document, menu or file of yours was changed):\n",
                       result->local_folder, result->files_written, result->files_written == 1 ? "" : "s");
        Str group = str_empty();
        u64 in_group = 0;
        Str first = str_empty();
        auto flush = [&]() {
            if (!in_group) return;
            if (in_group == 1) str_list_pushf(arena, &lines, "  %S\n", first);
            else str_list_pushf(arena, &lines, "  %S (%I64u files)\n", group, in_group);
        };
        for (StrNode *n = result->added.first; n; n = n->next) {
            Str folder = path_folder_with_slash(str_skip(n->string, str_lit("local/").size));
            if (!str_eq(folder, group) || !in_group) {
                flush();
                group = folder;
                first = str_skip(n->string, str_lit("local/").size);
                in_group = 0;
            }
            in_group += 1;
        }
        flush();
    }
    if (lines.node_count) diag_print_result(print, str_list_join_plain(arena, &lines));
    if (result->ok) return true;
    DiagnosticList list = {};
    Str text = result->files_written ? str_pushf(arena, "%S; the files listed above were added before it", result->problem)
                                     : str_pushf(arena, "%S; nothing was written", result->problem);
    diag_push_at(arena, &list, nullptr, 0, DiagLevel_Error, text);
    diag_print_log(print, &list);
    return false;
}

int site_init_command(const SiteConfig *config, const DiagPrintSettings *print, const StarterFile *files, u64 count)
{
    if (!config->init_folder.size) return 1;   // the option's own error was printed
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    Str today = date_iso(scratch.arena, date_now());
    InitResult result = site_init(scratch.arena, config->init_folder, files, count, today);
    int status = 0;
    if (result.completed) {
        status = init_print_completed(scratch.arena, print, &result) ? 0 : 1;
    } else if (result.ok) {
        Str folder = path_without_trailing_slashes(config->init_folder);
        diag_print_result(print, str_pushf(scratch.arena,
                                           "wyn init: a new site in %S (%I64u files)\n"
                                           "  build it once:         cd %S && wyn once\n"
                                           "  build, watch, preview: cd %S && wyn serve\n"
                                           "  the first page:        %Swyn_files/welcome.wyn\n",
                                           result.local_folder, result.files_written, folder, folder,
                                           result.local_folder));
    } else {
        DiagnosticList list = {};
        diag_push_at(scratch.arena, &list, nullptr, 0, DiagLevel_Error, result.problem);
        diag_print_log(print, &list);
        status = 1;
    }
    scratch_end(scratch);
    return status;
}
