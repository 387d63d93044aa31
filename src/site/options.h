// site/options.h: the option table, the site's folders and the one site
// configuration record a run is built from.
//
// The option table is the only list of options: the command line is read
// through it and the usage text is printed from it, so an option cannot
// exist in one and not the other. `main` builds the SiteConfig once, on the
// main thread, before any other thread starts; afterwards it is read-only
// and handed down to whatever needs a setting. Nothing reads a setting from
// a global.
#pragma once
#include "base/diagnostics.h"
#include "site/command_line.h"

//- the option table

enum OptionKind : u32 {
    OptionKind_Flag = 1,    // on alone, "=true" (any case) or "=1"; off for any other value
    OptionKind_Value = 2,   // takes a value
    OptionKind_Command = 3, // a word that names what to do; its argument may follow as the next word
};

enum OptionId : u32 {
    Option_None = 0,
    Option_Target,
    Option_Js,
    Option_CheckUrls,
    Option_NoFilePathCheck,
    Option_PrintTodos,
    Option_Deploy,
    Option_SiteUrl,
    Option_Probe,
    Option_CaFile,
    Option_Tree,
    Option_Serve,
    Option_Bind,
    Option_Diagnostics,
    Option_Color,
    Option_Once,
    Option_Strict,
    Option_Init,
    Option_Help,
    Option_Version,
    Option_Count,
};

struct OptionInfo {
    u32 id;           // OptionId: the row's position
    u32 kind;         // OptionKind
    Str name;
    Str argument;     // shown after "=" in the usage text (after a blank, in brackets, for a command); empty for flags
    Str help;         // one line of the usage text
};

extern const OptionInfo option_table[Option_Count];

// `serve` alone listens here; the usage text names it.
constexpr u16 serve_default_port = 8750;

// The whole usage text: a synopsis, one line per option of the table, and
// the site layout.
Str options_usage_text(Arena *arena);

//- paths

// Absolute when it begins with "/" or a drive letter and ':'; any other path
// is joined to `current_directory` by the segment walk. Empty stays empty.
Str path_absolute_from(Arena *arena, Str path, Str current_directory);
Str path_absolute(Arena *arena, Str path);   // against the process's directory

// Resolves a folder option (only `target` is used): the default for target
// is "./local/wyn_files/"; the result is absolute, ends in "/" and has no
// doubled slash. A value naming an existing file is kept as a file (no
// trailing slash), so a single document can be built. Logs the note
// "<name>: <folder>" on `log`.
Str cmd_line_path(Arena *arena, const CommandLine *cmd, Str name, Str current_directory, Arena *log_arena,
                  DiagnosticList *log);

//- site layout

struct SiteLayout {
    Str current_directory;   // forward slashes, no trailing slash
    Str local_folder;        // "<current directory>/local/"
    Str target;              // the resolved target folder (ending in "/") or file
};

// The folders of a site run from `current_directory`: backslashes become
// forward slashes and the local folder is "<directory>/local/". The target
// is left empty for cmd_line_path to fill.
SiteLayout site_layout_from_directory(Arena *arena, Str current_directory);

//- the site configuration

struct SiteConfig {
    SiteLayout layout;
    b32 js;                 // pages load the shared script
    b32 check_urls;         // web addresses are checked; the URL service may still drop it offline
    b32 print_todos;
    b32 deploy;             // web paths instead of file addresses
    Str site_url;           // where the site is served from, ending in "/"; empty: no feed, no site map
    b32 file_path_checks;   // off with deploy or no_file_path_check
    Str probe;              // the network probe's address; empty: the compiled-in default
    Str ca_file;            // certificates trusted besides the system's for web checks; may be empty
    Str tree;               // tree=FILE: the file to dump; empty otherwise
    b32 serve;              // preview over HTTP with live reload; implies deploy
    u16 serve_port;         // 0: any free port (serve=0)
    Str bind;               // the address served on; empty: 127.0.0.1
    u32 diagnostics_form;   // DiagForm: diagnostics=line or diagnostics=json
    u32 colour;             // DiagColour: color=auto|always|never
    b32 once;               // build until quiet, print a summary and exit
    b32 strict;             // with once: warnings fail the run too
    b32 init;               // write a new site and exit
    Str init_folder;        // where: absolute, forward slashes (the current directory by default)
    b32 help;
    b32 version;
};

// Reads every option of the table from `cmd`, resolves the folders against
// `current_directory`, and logs the target note, a warning for each option
// the table does not know (naming the closest one that it does) and for
// each value an option cannot take. Whether the target can give a site is
// site_target_check's business.
SiteConfig site_config_from_command_line(Arena *arena, const CommandLine *cmd, Str current_directory,
                                         Arena *log_arena, DiagnosticList *log);

// Why a resolved target can give no site (it does not exist, is neither a
// folder nor a .wyn document, cannot be read); empty when it can. Whether a
// folder holds any document is the caller's to tell.
Str site_target_problem(Arena *arena, Str target);

// The known option closest to a typed name (two edits at most), or empty.
Str options_closest_name(Str name);
