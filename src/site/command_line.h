// site/command_line.h: the option grammar, the site's folders and the web
// path of a local file.
//
// Everything here runs on the main thread before the build's threads start;
// what it builds (CommandLine, SiteLayout, BuildSettings) is read-only
// afterwards and needs no lock. Settings come from the command line only.
//
// Grammar: every argument is cut into tokens at blanks and double quotes.
// A token "name", "-name" or "--name" is a flag; "name=value" or
// "name:value" gives a value; "name=" or a value ending in "," leaves the
// option pending, so the next token is a comma-separated list of values
// ("target: /x/" and "a:x, y" both work). Unknown options are accepted and
// ignored; of two options with one name the first counts.
#pragma once
#include "site/diagnostics.h"

//- options

struct CommandLineOption {
    CommandLineOption *next;   // next option of the bucket, in command-line order
    Str name;                  // without leading dashes, up to the first ':' or '='
    StrList values;
    Str value;                 // the values joined with ",", NUL-terminated; empty without values
};

struct CommandLineBucket {
    CommandLineOption *first;
    CommandLineOption *last;
};

constexpr u64 cmd_line_bucket_count = 64;

struct CommandLine {
    CommandLineBucket buckets[cmd_line_bucket_count];
};

CommandLine *cmd_line_parse(Arena *arena, StrList args);
CommandLineOption *cmd_line_option(const CommandLine *cmd, Str name);   // first one given, or null
Str cmd_line_value(const CommandLine *cmd, Str name);                   // empty when absent
// Present with no value, "true" (any case) or "1".
bool cmd_line_has_flag(const CommandLine *cmd, Str name);

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

struct BuildSettings {
    Arena *arena;
    u32 check_urls;
    u32 print_todos;
    u32 deploy;
};

// The folders of a site run from `current_directory`: backslashes become
// forward slashes and the local folder is "<directory>/local/". The target
// is left empty for cmd_line_path to fill.
SiteLayout site_layout_from_directory(Arena *arena, Str current_directory);

// Set once by the main thread before any worker starts; read-only after.
void site_layout_set(const SiteLayout *layout);
const SiteLayout *site_layout(void);
BuildSettings *build_settings_create(u32 check_urls, u32 print_todos, u32 deploy);   // once
const BuildSettings *build_settings(void);   // null before creation

// Appends the full path of every file below `folder`, breadth-first; a
// folder reached again through a link cycle is listed once.
void site_list_files(Arena *arena, StrList *list, Str folder);

// The web path of a local file (a slice of `path`): "/html/" drops the
// html folder, "/shared/" and the "/assets/..." folders stay, anything
// else under the local folder starts at the local folder's final "/".
// Searches start at the local folder when the path lies under it, so a
// site kept under a folder named html or shared still gets the right path.
Str site_relative_path(Str local_folder, Str path);
