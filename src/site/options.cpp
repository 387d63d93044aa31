// site/options.cpp: the option table, folders and the site configuration.
#include "site/options.h"

#include "os/platform.h"

//- the option table

// Rows sit at their id's position: code indexes the table by OptionId.
constexpr OptionInfo option_table[Option_Count] = {
    {Option_None, 0, str_lit(""), str_lit(""), str_lit("")},
    {Option_Target, OptionKind_Value, str_lit("target"), str_lit("PATH"),
     str_lit("folder of source documents, or one .wyn file (default ./local/wyn_files/)")},
    {Option_Js, OptionKind_Flag, str_lit("js"), str_lit(""), str_lit("pages load the site's shared script")},
    {Option_CheckUrls, OptionKind_Flag, str_lit("check_urls"), str_lit(""),
     str_lit("check every web address over HTTP (dropped without a network)")},
    {Option_NoFilePathCheck, OptionKind_Flag, str_lit("no_file_path_check"), str_lit(""),
     str_lit("do not check links to local files")},
    {Option_PrintTodos, OptionKind_Flag, str_lit("print_todos"), str_lit(""),
     str_lit("report to-do markers found in documents")},
    {Option_Deploy, OptionKind_Flag, str_lit("deploy"), str_lit(""),
     str_lit("write web paths for assets and links; no file-path checks")},
    {Option_SiteUrl, OptionKind_Value, str_lit("site_url"), str_lit("URL"),
     str_lit("the address the site is served from; with it html/feed.xml (Atom) and html/sitemap.xml are written")},
    {Option_Probe, OptionKind_Value, str_lit("probe"), str_lit("URL"),
     str_lit("address asked at start to tell whether the network is usable (with check_urls)")},
    {Option_CaFile, OptionKind_Value, str_lit("ca_file"), str_lit("FILE"),
     str_lit("certificates trusted besides the system's when checking web addresses")},
    {Option_Tree, OptionKind_Value, str_lit("tree"), str_lit("FILE"),
     str_lit("print how FILE parses (node tree and messages) and exit")},
    {Option_Serve, OptionKind_Value, str_lit("serve"), str_lit("PORT"),
     str_lit("also serve the site over HTTP with live reload (alone: port 8750; pages as with deploy)")},
    {Option_Bind, OptionKind_Value, str_lit("bind"), str_lit("ADDRESS"),
     str_lit("the address serve listens on (default 127.0.0.1, this machine only)")},
    {Option_Diagnostics, OptionKind_Value, str_lit("diagnostics"), str_lit("line|json"),
     str_lit("one line path:line:col: level: message per diagnostic, or one JSON object per line")},
    {Option_Color, OptionKind_Value, str_lit("color"), str_lit("auto|always|never"),
     str_lit("colour the level words (auto: on a terminal, unless NO_COLOR is set)")},
    {Option_Once, OptionKind_Flag, str_lit("once"), str_lit(""),
     str_lit("build the site until it is up to date, print a summary and exit (1 on errors)")},
    {Option_Strict, OptionKind_Flag, str_lit("strict"), str_lit(""),
     str_lit("with once: warnings count as errors, so a broken link fails the run")},
    {Option_Init, OptionKind_Command, str_lit("init"), str_lit("FOLDER"),
     str_lit("write a new site into FOLDER (default: here), or the fonts a site there lacks; "
             "then exit")},
    {Option_Help, OptionKind_Flag, str_lit("help"), str_lit(""), str_lit("print this text and exit")},
    {Option_Version, OptionKind_Flag, str_lit("version"), str_lit(""), str_lit("print the version and exit")},
};

// Options are read by id straight from the table.
static_assert([] {
    for (u32 i = 0; i < Option_Count; i += 1)
        if (option_table[i].id != i) return false;
    return true;
}(), "every option row sits at its id");

Str options_usage_text(Arena *arena)
{
    ArenaTemp scratch = scratch_begin(&arena, 1);
    StrList out = {};
    str_list_push(scratch.arena, &out,
                  str_lit("wyn: a static web-site generator that watches its sources and rebuilds on change.\n"
                          "\n"
                          "usage: wyn [option ...]     (run in the folder that holds the site's local/ folder)\n"
                          "       wyn init [FOLDER]    (start a new site there)\n"
                          "\n"
                          "options (name, -name or --name; values with name=value or name:value):\n"));
    for (u32 i = 1; i < Option_Count; i += 1) {
        const OptionInfo *row = &option_table[i];
        Str shown = row->kind == OptionKind_Command ? str_pushf(scratch.arena, "%S [%S]", row->name, row->argument)
                    : row->argument.size            ? str_pushf(scratch.arena, "%S=%S", row->name, row->argument)
                                                    : row->name;
        str_list_pushf(scratch.arena, &out, "  %-20.*s %.*s\n", (int)shown.size, shown.str, (int)row->help.size,
                       row->help.str);
    }
    str_list_push(scratch.arena, &out,
                  str_lit("\n"
                          "A flag is on alone, as flag=true or flag=1; any other value leaves it off.\n"
                          "\n"
                          "site layout:\n"
                          "  local/wyn_files/     source documents (*.wyn); index.wyn is generated\n"
                          "  local/html/          written pages: desktop, _smartphone and raw_ pages\n"
                          "  local/shared/        templates (html/), style sheets (css/, css/wyn/), fonts/, images/\n"
                          "  local/assets/        images/, files/ and builds/ that pages link to\n"));
    Str result = str_list_join_plain(arena, &out);
    scratch_end(scratch);
    return result;
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
    // A drive path is a Windows path, typed with either slash; inside wyn
    // every path has forward slashes. A POSIX name may hold a backslash.
    Str result = path_collapse_slashes(arena, absolute, path_kind(absolute) == 1);
    scratch_end(scratch);
    if (log) diag_push_at(log_arena, log, nullptr, 0, DiagLevel_Note, str_pushf(log_arena, "%S: %S", name, result));
    return result;
}

//- site layout

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

//- the site configuration

static bool flag_of(const CommandLine *cmd, u32 id) { return cmd_line_has_flag(cmd, option_table[id].name); }
static Str value_of(const CommandLine *cmd, u32 id) { return cmd_line_value(cmd, option_table[id].name); }

//- checks of what was typed

Str options_closest_name(Str name)
{
    Str best = str_empty();
    u64 best_distance = 3;   // more than two edits away is no typo
    for (u32 i = 1; i < Option_Count; i += 1) {
        u64 distance = str_edit_distance(name, option_table[i].name);
        if (distance < best_distance && distance < option_table[i].name.size) {
            best = option_table[i].name;
            best_distance = distance;
        }
    }
    return best;
}

static const OptionInfo *option_row(Str name)
{
    for (u32 i = 1; i < Option_Count; i += 1)
        if (str_eq(option_table[i].name, name)) return &option_table[i];
    return nullptr;
}

static bool flag_value_known(Str value)
{
    return value.size == 0 || str_match(value, str_lit("true"), StrMatch_CaseInsensitive) ||
           str_match(value, str_lit("false"), StrMatch_CaseInsensitive) || str_eq(value, str_lit("1")) ||
           str_eq(value, str_lit("0"));
}

// Every option the table does not know, once each, with the closest one it
// does; a flag given a value that is neither on nor off; an option that
// needs a value given none. A typo must never pass in silence: "--onec"
// would otherwise start the endless watch.
static void check_typed_options(const CommandLine *cmd, const CommandLineOption *argument, Arena *log_arena,
                                DiagnosticList *log)
{
    if (!log) return;
    ArenaTemp scratch = scratch_begin(&log_arena, 1);
    StrMap told = str_map_alloc(scratch.arena, 64);
    for (CommandLineOption *o = cmd->first_given; o; o = o->next_given) {
        if (o == argument || str_map_lookup(&told, o->name)) continue;
        const OptionInfo *row = option_row(o->name);
        Str text = str_empty();
        if (!row) {
            Str closest = options_closest_name(o->name);
            text = closest.size ? str_pushf(log_arena, "unknown option '%S'; did you mean '%S'?", o->name, closest)
                                : str_pushf(log_arena, "unknown option '%S'; it is ignored (wyn help lists the options)",
                                            o->name);
        } else if (row->kind == OptionKind_Flag && !flag_value_known(o->value)) {
            text = str_pushf(log_arena, "%S=%S is no flag value (true, 1, false or 0); %S stays off", o->name, o->value,
                             o->name);
        } else if (row->kind == OptionKind_Value && o->value.size == 0 && row->id != Option_Target &&
                   row->id != Option_Serve) {
            text = str_pushf(log_arena, "%S needs a value (%S=%S); it is ignored", o->name, o->name, row->argument);
        }
        if (!text.size) continue;
        str_map_insert(scratch.arena, &told, o->name, 1);
        diag_push_at(log_arena, log, nullptr, 0, DiagLevel_Warning, text);
    }
    scratch_end(scratch);
}

// A value from a short list of words (the index of the one given); any
// other value is warned about, naming the words, and gives 0, the default.
static u32 choice_of(const CommandLine *cmd, u32 id, const Str *words, u32 count, Str otherwise, Arena *log_arena,
                     DiagnosticList *log)
{
    Str value = value_of(cmd, id);
    if (!value.size) return 0;
    StrList names = {};
    for (u32 i = 0; i < count; i += 1) {
        if (words[i].size && str_match(value, words[i], StrMatch_CaseInsensitive)) return i;
        if (words[i].size) str_list_push(log_arena, &names, words[i]);
    }
    if (log) {
        StrJoin join = {str_lit("("), str_lit(", "), str_lit(")")};
        diag_push_at(log_arena, log, nullptr, 0, DiagLevel_Warning,
                     str_pushf(log_arena, "%S=%S is not a known choice %S; %S", option_table[id].name, value,
                               str_list_join(log_arena, &names, &join), otherwise));
    }
    return 0;
}

static bool address_is_loopback(Str address)
{
    Str host = address;
    if (host.size >= 2 && host.str[0] == '[' && host.str[host.size - 1] == ']') host = str_substr(host, 1, host.size - 1);
    return !host.size || str_match(str_lit("127."), host, StrMatch_Prefix) || str_eq(host, str_lit("::1")) ||
           str_match(host, str_lit("localhost"), StrMatch_CaseInsensitive);
}

//- the target

Str site_target_problem(Arena *arena, Str target)
{
    if (target.size == 0) return str_lit("is empty");
    bool folder = char_is_slash((u8)target.str[target.size - 1]);
    FileProperties props = file_properties(folder ? str_chop(target, 1) : target);
    if (!props.exists) return str_lit("does not exist");
    if (props.is_special) return str_lit("is neither a folder nor a .wyn document");
    if (folder && !props.is_folder) return str_lit("is not a folder");
    if (!folder && !str_eq(path_extension(target), str_lit("wyn"))) return str_lit("is not a .wyn document");
    if (folder) {
        u64 identity[2];
        if (!folder_identity(target, identity)) return str_lit("cannot be read");
        return str_empty();
    }
    if (!file_exists(target)) return str_lit("cannot be read");
    (void)arena;
    return str_empty();
}

// Pages must link by site paths to work over HTTP: a browser will not
// follow a file address from a served page. So serving builds the pages
// deploy builds (file paths are still checked: the server serves them).
static void read_serve_options(Arena *arena, const CommandLine *cmd, SiteConfig *config, Arena *log_arena,
                               DiagnosticList *log)
{
    static const Str forms[] = {str_lit(""), str_lit("line"), str_lit("json")};   // by DiagForm
    config->diagnostics_form =
        choice_of(cmd, Option_Diagnostics, forms, 3, str_lit("the usual layouts are used"), log_arena, log);
    static const Str colours[] = {str_lit("auto"), str_lit("always"), str_lit("never")};   // by DiagColour
    config->colour = choice_of(cmd, Option_Color, colours, 3, str_lit("auto is used"), log_arena, log);
    config->bind = str_copy(arena, value_of(cmd, Option_Bind));
    if (config->bind.size && !address_is_loopback(config->bind) && log && cmd_line_option(cmd, option_table[Option_Serve].name))
        diag_push_at(log_arena, log, nullptr, 0, DiagLevel_Warning,
                     str_pushf(log_arena, "bind=%S: the site is visible to the network, not only to this machine",
                               config->bind));
    if (!cmd_line_option(cmd, option_table[Option_Serve].name)) return;
    config->serve = 1;
    config->deploy = 1;
    config->serve_port = serve_default_port;
    Str port = value_of(cmd, Option_Serve);
    if (port.size == 0 || str_match(port, str_lit("true"), StrMatch_CaseInsensitive)) return;
    bool digits = port.size <= 5;
    for (u64 i = 0; i < port.size; i += 1) digits = digits && char_is_digit((u8)port.str[i]);
    u64 number = digits ? u64_from_str(port, 10) : u64_max;
    if (number <= 65535) config->serve_port = (u16)number;
    else if (log)
        diag_push_at(log_arena, log, nullptr, 0, DiagLevel_Warning,
                     str_pushf(log_arena, "serve=%S is not a port number; serving on port %u", port,
                               (u32)serve_default_port));
}

// `init` takes its folder as init=FOLDER or as the word after it: the
// grammar reads "init sites/new/" as two flags, so a word after init that
// names no option is the folder. So is a bare word that names an option
// needing a value ("init tree", "init probe"): without one it cannot be
// meant as that option, and reading it so would write the site here. A
// drive path comes back cut at its colon ("C" with the value
// "/sites/new"); any other word with a value cannot be put back together
// (its separator is gone), and init is refused rather than writing a site
// somewhere else. Returns the word taken, if any.
static const CommandLineOption *read_init(Arena *arena, const CommandLine *cmd, SiteConfig *config, Arena *log_arena,
                                          DiagnosticList *log)
{
    const CommandLineOption *o = cmd_line_option(cmd, option_table[Option_Init].name);
    if (!o) return nullptr;
    config->init = 1;
    Str value = o->value;
    const CommandLineOption *taken = nullptr;
    const CommandLineOption *next = o->next_given;
    const OptionInfo *row = next ? option_row(next->name) : nullptr;
    bool bare_value_option = next && row && row->kind == OptionKind_Value && row->id != Option_Serve &&
                             !next->dashed && !next->value.size;
    if (!value.size && next && (!row || bare_value_option)) {
        taken = next;
        bool drive = next->name.size == 1 && char_is_alpha((u8)next->name.str[0]) && next->value.size &&
                     char_is_slash((u8)next->value.str[0]);
        if (!next->value.size) value = next->name;
        else if (drive) value = str_pushf(arena, "%S:%S", next->name, next->value);
        else {
            if (log)
                diag_push_at(log_arena, log, nullptr, 0, DiagLevel_Error,
                             str_pushf(log_arena, "init: which folder '%S' names cannot be told; give it as init=FOLDER",
                                       next->name));
            return taken;
        }
    }
    Str absolute = value.size ? path_absolute_from(arena, value, config->layout.current_directory)
                              : config->layout.current_directory;
    Str folder = path_collapse_slashes(arena, absolute, path_kind(absolute) == 1);
    bool root = folder.size == 1 || (folder.size == 3 && folder.str[1] == ':');
    if (folder.size && !root && folder.str[folder.size - 1] == '/') folder = str_chop(folder, 1);
    config->init_folder = folder;
    return taken;
}

// The address pages are served from, for the feed and the site map, which
// need absolute addresses: http or https, a host, no query or fragment,
// and a final "/" so that a page's web path can follow it. Empty, with a
// warning, when the value is no such address.
static Str read_site_url(Arena *arena, const CommandLine *cmd, Arena *log_arena, DiagnosticList *log)
{
    Str value = str_trim(value_of(cmd, Option_SiteUrl));
    if (!value.size) return str_empty();
    Str rest = str_empty();
    if (str_match(str_lit("https://"), value, StrMatch_Prefix | StrMatch_CaseInsensitive)) rest = str_skip(value, 8);
    else if (str_match(str_lit("http://"), value, StrMatch_Prefix | StrMatch_CaseInsensitive)) rest = str_skip(value, 7);
    u64 host_end = str_find_byte(rest, '/', 0);
    bool clean = rest.size && host_end > 0;
    for (u64 i = 0; i < value.size && clean; i += 1) {
        u8 c = (u8)value.str[i];
        clean = c > ' ' && c != 0x7f && c != '"' && c != '<' && c != '>' && c != '?' && c != '#' && c != '\\';
    }
    if (!clean) {
        if (log)
            diag_push_at(log_arena, log, nullptr, 0, DiagLevel_Warning,
                         str_pushf(log_arena,
                                   "site_url=%S is not an http:// or https:// address of a site (a host, a path, no ? "
                                   "or #); no feed or site map is written",
                                   value));
        return str_empty();
    }
    return char_is_slash((u8)value.str[value.size - 1]) ? str_copy(arena, value) : str_pushf(arena, "%S/", value);
}

SiteConfig site_config_from_command_line(Arena *arena, const CommandLine *cmd, Str current_directory,
                                         Arena *log_arena, DiagnosticList *log)
{
    SiteConfig config = {};
    config.help = flag_of(cmd, Option_Help);
    config.version = flag_of(cmd, Option_Version);
    config.tree = str_copy(arena, value_of(cmd, Option_Tree));
    config.once = flag_of(cmd, Option_Once);
    config.strict = flag_of(cmd, Option_Strict);
    config.js = flag_of(cmd, Option_Js);
    config.check_urls = flag_of(cmd, Option_CheckUrls);
    config.print_todos = flag_of(cmd, Option_PrintTodos);
    config.deploy = flag_of(cmd, Option_Deploy);
    // A deployed site's files may live elsewhere, so deploy checks no file
    // path; a served one is served from these very folders, where a missing
    // file is a dead link the author wants to hear of.
    config.file_path_checks = !config.deploy && !flag_of(cmd, Option_NoFilePathCheck);
    read_serve_options(arena, cmd, &config, log_arena, log);
    config.probe = str_copy(arena, value_of(cmd, Option_Probe));
    config.ca_file = str_copy(arena, value_of(cmd, Option_CaFile));
    config.layout = site_layout_from_directory(arena, current_directory);
    const CommandLineOption *init_argument = read_init(arena, cmd, &config, log_arena, log);
    config.site_url = read_site_url(arena, cmd, log_arena, log);
    check_typed_options(cmd, init_argument, log_arena, log);
    if (config.help || config.version || config.tree.size || config.init) return config;
    config.layout.target = cmd_line_path(arena, cmd, option_table[Option_Target].name, config.layout.current_directory,
                                         log_arena, log);
    return config;
}
