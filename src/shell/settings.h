// shell/settings.h: what the page shell, the style sheets and the shared
// assets need to know about the site, handed in as one record, and the path
// rules they share.
//
// The caller (the site build) fills a ShellSettings once before the shell is
// set up and never changes it afterwards; every function here only reads it,
// so any thread may use it. The web-path rule belongs to the site layout,
// a layer above this one, so it comes in as a function pointer.
//
// Problems found here never stop a build. They come back as records: plain
// warnings (a copy that could not be written) in `log`, printed without a
// location, and the messages of each template load, printed with the
// template's path and source. A template's messages are returned once per
// load of its content, not once per page.
#pragma once
#include "base/diagnostics.h"
#include "html/html_tree.h"
#include "os/content_cache.h"
#include "shell/page_writer.h"

// The web path of a local file path (the site's site_relative_path): a slice
// of `path`, or `path` itself.
typedef Str ShellWebPath(Str local_folder, Str path);

struct ShellSettings {
    Str local_folder;          // absolute, ends with "/": "<current directory>/local/"
    b32 js;                    // pages load the site's shared script
    b32 deploy;                // addresses are web paths instead of file addresses
    ShellWebPath *web_path;    // null: a path is its own web path
    Str owner_name;            // the footer's contact link; empty: a default
    Str owner_email;
    PageWriteObserver on_write;   // told of every page, sheet and template rewritten
};

// The messages of one template load, printed in the template layout.
struct TemplateMessages {
    TemplateMessages *next;
    Str path;
    Str source;
    DiagnosticList diagnostics;
};

struct ShellMessages {
    DiagnosticList log;            // warnings without a location
    TemplateMessages *first;       // template loads that produced messages
    TemplateMessages *last;
    u64 template_count;
};

void shell_messages_warn(Arena *arena, ShellMessages *messages, Str text);
// Copies the path, the source and the messages onto `arena`: they are
// printed after the load they came from may have been released.
void shell_messages_add_template(Arena *arena, ShellMessages *messages, Str path, Str source,
                                 const DiagnosticList *diagnostics);

// The absolute local path of a site path: one quote dropped at each end, a
// "/" put in front when missing, and the local folder joined before it with
// one "/" between. A path with a drive letter and ":", or one that already
// begins with the local folder (an absolute POSIX path of the site), is
// returned as it stands. The result lives on `arena`.
Str site_local_path(Arena *arena, const ShellSettings *settings, Str path);
// "file://" + path for a path that begins with "/", "file:///" + path
// otherwise (a drive path).
Str shell_file_address(Arena *arena, Str absolute_path);
// The exact inverse for any text that holds "file:///": the path after it,
// keeping the leading "/" of a POSIX path. Empty when there is none.
Str shell_path_from_file_address(Str text);
// The web path of a local path, by the settings' rule.
Str shell_web_path(const ShellSettings *settings, Str path);
// A local path as pages must write it: its web path with `deploy`, its file
// address otherwise.
Str shell_address_of(Arena *arena, const ShellSettings *settings, Str local_path);

// How the shell's trees are written (pages, head templates): with `js`,
// every attribute name the table does not know is written "data-flag", the
// name the site's script finds wyn's markers by; without, as the table
// names its row. A setting of one site, so two shells may differ.
HtmlWriteOptions shell_write_options(const ShellSettings *settings);

// The bytes of a site file, on `arena`, and their content key: through the
// file service when one runs (the file is then watched), straight from disk
// otherwise (tests and tools). A missing file gives empty bytes.
Str shell_read_file(Arena *arena, Str path, ContentKey *out_key);
// The content key shell_read_file would give, without copying the bytes
// when the file service holds them (every page asks for its templates').
ContentKey shell_file_key(Arena *arena, Str path);
