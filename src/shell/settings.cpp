// shell/settings.cpp: the shared path rules and message lists of the shell.
#include "shell/settings.h"

#include "html/template_parser.h"
#include "os/file_service.h"

void shell_messages_warn(Arena *arena, ShellMessages *messages, Str text)
{
    diag_push_at(arena, &messages->log, nullptr, 0, DiagLevel_Warning, text);
}

void shell_messages_add_template(Arena *arena, ShellMessages *messages, Str path, Str source,
                                 const DiagnosticList *diagnostics)
{
    if (!diagnostics || diagnostics->count == 0) return;
    TemplateMessages *m = push_struct<TemplateMessages>(arena);
    if (!m) return;
    m->path = str_copy(arena, path);
    m->source = str_copy(arena, source);
    for (Diagnostic *d = diagnostics->first; d; d = d->next) {
        Diagnostic *c = diag_push_at(arena, &m->diagnostics, d->node, d->offset, d->level, str_copy(arena, d->text));
        if (c) c->target = str_copy(arena, d->target);
    }
    list_append(messages, m);
    messages->template_count += 1;
}

static bool has_drive(Str path)
{
    return path.size >= 2 && char_is_alpha((u8)path.str[0]) && path.str[1] == ':';
}

Str site_local_path(Arena *arena, const ShellSettings *settings, Str path)
{
    path = str_unquote(path);
    Str local = settings->local_folder;
    if (has_drive(path)) return path;
    if (local.size > 1 && str_match(local, path, StrMatch_Prefix)) return path;
    Str base = local;
    while (base.size && base.str[base.size - 1] == '/') base.size -= 1;
    while (path.size && path.str[0] == '/') path = str_skip(path, 1);
    return str_pushf(arena, "%S/%S", base, path);
}

Str shell_file_address(Arena *arena, Str absolute_path)
{
    if (absolute_path.size && absolute_path.str[0] == '/') return str_pushf(arena, "file://%S", absolute_path);
    return str_pushf(arena, "file:///%S", absolute_path);
}

Str shell_path_from_file_address(Str text)
{
    Str marker = str_lit("file:///");
    u64 at = str_find(text, marker, 0, 0);
    if (at >= text.size) return str_empty();
    Str rest = str_skip(text, at + marker.size);
    // "file:///C:/x" names C:/x; "file:///home/x" names /home/x.
    if (has_drive(rest)) return rest;
    return str_skip(text, at + marker.size - 1);
}

Str shell_web_path(const ShellSettings *settings, Str path)
{
    return settings->web_path ? settings->web_path(settings->local_folder, path) : path;
}

Str shell_address_of(Arena *arena, const ShellSettings *settings, Str local_path)
{
    if (settings->deploy) return shell_web_path(settings, local_path);
    return shell_file_address(arena, local_path);
}

HtmlWriteOptions shell_write_options(const ShellSettings *settings)
{
    HtmlWriteOptions options = {};
    if (settings && settings->js) options.data_attribute_name = str_lit("data-flag");
    return options;
}

Str shell_read_file(Arena *arena, Str path, ContentKey *out_key)
{
    ContentKey key = {};
    Str bytes = str_empty();
    if (file_service()) {
        // Copied: the cache releases a content once nobody holds it, and
        // templates and style sheets are small.
        FsContent got = fs_read(path, u64_max);
        if (got.file.loaded) {
            key = got.file.key;
            bytes = str_copy(arena, got.bytes);
        }
        fs_read_done(&got);
    } else {
        bytes = file_read_all(arena, path);
        if (bytes.size) key = content_key_of(bytes);
    }
    if (out_key) *out_key = key;
    return bytes;
}

ContentKey shell_file_key(Arena *arena, Str path)
{
    ContentKey key = {};
    if (!file_service()) {
        ArenaTemp scratch = scratch_begin(arena);
        shell_read_file(scratch.arena, path, &key);
        scratch_end(scratch);
        return key;
    }
    FsContent got = fs_read(path, u64_max);
    if (got.file.loaded) key = got.file.key;
    fs_read_done(&got);
    return key;
}
