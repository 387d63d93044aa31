// site/command_line.cpp: option grammar, folder resolution, document
// discovery and web paths.
#include "site/command_line.h"

#include "os/platform.h"

//- tokens

// A token ends at a blank or a double quote; after a blank, further
// whitespace is skipped. Empty tokens carry nothing and are dropped by the
// grammar, so a stray quote or a leading blank changes no option.
static void cut_tokens(Arena *arena, Str arg, StrList *tokens)
{
    u64 start = 0;
    u64 i = 0;
    while (i <= arg.size) {
        bool end = i == arg.size;
        char c = end ? 0 : arg.str[i];
        if (end || c == ' ' || c == '"') {
            str_list_push(arena, tokens, str_substr(arg, start, i));
            if (end) break;
            i += 1;
            if (c == ' ')
                while (i < arg.size && char_is_space((u8)arg.str[i])) i += 1;
            start = i;
            continue;
        }
        i += 1;
    }
}

//- grammar

static CommandLineOption *option_append(Arena *arena, CommandLine *cmd, Str name)
{
    CommandLineOption *option = push_struct<CommandLineOption>(arena);
    option->name = name;
    CommandLineBucket *bucket = &cmd->buckets[str_hash(name) % cmd_line_bucket_count];
    if (bucket->last) bucket->last->next = option;
    else bucket->first = option;
    bucket->last = option;
    return option;
}

CommandLine *cmd_line_parse(Arena *arena, StrList args)
{
    CommandLine *cmd = push_struct<CommandLine>(arena);
    StrList tokens = {};
    for (StrNode *a = args.first; a; a = a->next) cut_tokens(arena, a->string, &tokens);

    CommandLineOption *pending = nullptr;
    for (StrNode *t = tokens.first; t; t = t->next) {
        Str token = str_trim(t->string);
        if (token.size == 0) continue;
        if (pending) {
            // A list of values; leading dashes mean nothing here.
            u64 start = 0;
            for (u64 i = 0; i <= token.size; i += 1) {
                if (i < token.size && token.str[i] != ',') continue;
                if (i == token.size && start == token.size && token.str[token.size - 1] == ',') break;
                str_list_push(arena, &pending->values, str_substr(token, start, i));
                start = i + 1;
            }
            if (token.str[token.size - 1] != ',') pending = nullptr;
            continue;
        }
        Str body = token;
        if (str_match(str_lit("--"), body, StrMatch_Prefix)) body = str_skip(body, 2);
        else if (str_match(str_lit("-"), body, StrMatch_Prefix)) body = str_skip(body, 1);
        u64 colon = str_find_byte(body, ':', 0);
        u64 equals = str_find_byte(body, '=', 0);
        u64 separator = min_of(colon, equals);
        CommandLineOption *option = option_append(arena, cmd, str_prefix(body, separator));
        if (separator == body.size) continue;   // a flag, never pending
        Str value = str_skip(body, separator + 1);
        bool more = value.size == 0 || value.str[value.size - 1] == ',';
        // The comma that asks for more values separates; it is not data.
        if (value.size && more) value = str_chop(value, 1);
        if (value.size) str_list_push(arena, &option->values, value);
        if (more) pending = option;
    }

    StrJoin comma = {str_empty(), str_lit(","), str_empty()};
    for (u64 b = 0; b < cmd_line_bucket_count; b += 1)
        for (CommandLineOption *o = cmd->buckets[b].first; o; o = o->next)
            o->value = o->values.node_count ? str_list_join(arena, &o->values, &comma) : str_empty();
    return cmd;
}

CommandLineOption *cmd_line_option(const CommandLine *cmd, Str name)
{
    const CommandLineBucket *bucket = &cmd->buckets[str_hash(name) % cmd_line_bucket_count];
    for (CommandLineOption *o = bucket->first; o; o = o->next)
        if (str_eq(o->name, name)) return o;
    return nullptr;
}

Str cmd_line_value(const CommandLine *cmd, Str name)
{
    CommandLineOption *option = cmd_line_option(cmd, name);
    return option ? option->value : str_empty();
}

bool cmd_line_has_flag(const CommandLine *cmd, Str name)
{
    CommandLineOption *option = cmd_line_option(cmd, name);
    if (!option) return false;
    return option->value.size == 0 || str_match(option->value, str_lit("true"), StrMatch_CaseInsensitive) ||
           str_eq(option->value, str_lit("1"));
}

//- paths

Str path_absolute_from(Arena *arena, Str path, Str current_directory)
{
    if (path.size == 0) return str_empty();
    if (path_kind(path) != 0) return str_copy(arena, path);   // "/x" (POSIX) and "C:x" stand as they are
    return path_resolve_segments(arena, current_directory, path);
}

Str path_absolute(Arena *arena, Str path)
{
    ArenaTemp scratch = scratch_begin(arena);
    Str cwd = current_directory(scratch.arena);
    Str result = path_absolute_from(arena, path, cwd);
    scratch_end(scratch);
    return result;
}

Str cmd_line_path(Arena *arena, const CommandLine *cmd, Str name, Str current_directory, Arena *log_arena,
                  DiagnosticList *log)
{
    ArenaTemp scratch = scratch_begin(arena);
    Str value = cmd_line_value(cmd, name);
    if (value.size == 0 && str_eq(name, str_lit("target"))) value = str_lit("./local/wyn_files/");
    Str absolute = path_absolute_from(scratch.arena, value, current_directory);
    FileProperties props = file_properties(absolute);
    bool single_file = props.exists && !props.is_folder;
    if (!single_file && (absolute.size == 0 || !char_is_slash((u8)absolute.str[absolute.size - 1])))
        absolute = str_pushf(scratch.arena, "%S/", absolute);
    Str result = path_collapse_slashes(arena, absolute, false);
    scratch_end(scratch);
    if (log) diag_push_at(log_arena, log, nullptr, 0, DiagLevel_Note, str_pushf(log_arena, "%S: %S", name, result));
    return result;
}

//- site layout

static SiteLayout g_site_layout;
static BuildSettings *g_build_settings;

SiteLayout site_layout_from_directory(Arena *arena, Str current_directory)
{
    SiteLayout layout = {};
    char *forward = (char *)arena_push(arena, current_directory.size + 1, 1);
    for (u64 i = 0; i < current_directory.size; i += 1)
        forward[i] = (char)char_to_forward_slash((u8)current_directory.str[i]);
    forward[current_directory.size] = 0;
    layout.current_directory = Str{forward, current_directory.size};
    layout.local_folder = str_pushf(arena, "%S/local/", layout.current_directory);
    return layout;
}

void site_layout_set(const SiteLayout *layout) { g_site_layout = *layout; }

const SiteLayout *site_layout(void) { return &g_site_layout; }

BuildSettings *build_settings_create(u32 check_urls, u32 print_todos, u32 deploy)
{
    if (g_build_settings) return g_build_settings;
    Arena *arena = arena_alloc(MiB(64), KiB(64));
    BuildSettings *settings = push_struct<BuildSettings>(arena);
    settings->arena = arena;
    settings->check_urls = check_urls;
    settings->print_todos = print_todos;
    settings->deploy = deploy;
    g_build_settings = settings;
    return settings;
}

const BuildSettings *build_settings(void) { return g_build_settings; }

//- document discovery

struct FolderQueueNode {
    FolderQueueNode *next;
    Str folder;   // ends with "/"
};

void site_list_files(Arena *arena, StrList *list, Str folder)
{
    ArenaTemp scratch = scratch_begin(arena);
    Str start = str_trim(folder);
    u64 slash = start.size;
    for (u64 i = start.size; i > 0; i -= 1)
        if (char_is_slash((u8)start.str[i - 1])) {
            slash = i - 1;
            break;
        }
    if (slash == start.size) {
        scratch_end(scratch);
        return;   // not a folder path
    }
    start = str_prefix(start, slash + 1);

    // Breadth-first; folders already seen (by device and inode) are not
    // walked again, so a link back to a parent cannot loop.
    StrMap seen = str_map_alloc(scratch.arena, 256);
    FolderQueueNode *head = push_struct<FolderQueueNode>(scratch.arena);
    head->folder = str_copy(scratch.arena, start);
    FolderQueueNode *tail = head;
    for (FolderQueueNode *node = head; node; node = node->next) {
        u64 identity[2] = {0, 0};
        if (folder_identity(node->folder, identity)) {
            Str key = Str{(const char *)identity, sizeof(identity)};
            if (str_map_lookup(&seen, key)) continue;
            str_map_insert(scratch.arena, &seen, key, 1);
        }
        FolderListing listing = folder_list(scratch.arena, node->folder);
        for (FolderEntry *e = listing.first; e; e = e->next) {
            if (e->is_folder) {
                FolderQueueNode *next = push_struct<FolderQueueNode>(scratch.arena);
                next->folder = str_pushf(scratch.arena, "%S%S/", node->folder, e->name);
                tail->next = next;
                tail = next;
            } else {
                str_list_push(arena, list, str_pushf(arena, "%S%S", node->folder, e->name));
            }
        }
    }
    scratch_end(scratch);
}

//- web paths

Str site_relative_path(Str local_folder, Str path)
{
    Str area = path;
    if (local_folder.size > 1 && str_match(local_folder, path, StrMatch_Prefix)) area = str_skip(path, local_folder.size - 1);
    struct Rule {
        Str needle;
        u64 skip;   // bytes of the needle dropped from the result
    };
    static const Rule rules[] = {
        {str_lit("/html/"), 5},
        {str_lit("/shared/"), 0},
        {str_lit("/assets/images/"), 0},
        {str_lit("/assets/files/"), 0},
        {str_lit("/assets/builds/"), 0},
    };
    for (const Rule &rule : rules) {
        u64 at = str_find(area, rule.needle, 0, 0);
        if (at < area.size) return str_skip(area, at + rule.skip);
    }
    if (local_folder.size) {
        u64 at = str_find(path, local_folder, 0, 0);
        if (at < path.size) return str_skip(path, at + local_folder.size - 1);
    }
    return path;
}
