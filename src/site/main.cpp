// site/main.cpp: the program's entry.
//
// wyn is a watch process: it builds the site, then keeps every file it read
// under watch and rebuilds on change, until the user stops it (Ctrl-C or
// SIGTERM, default action; every write is atomic, so nothing is lost).
// Start-up runs on the main thread in a fixed order; after it the main
// thread only sleeps.
#include "markup/tree_dump.h"
#include "os/file_service.h"
#include "site/build.h"
#include "site/command_line.h"

#include <cstdio>

static const char wyn_version[] = "0.1.0";

static const char usage_text[] =
    "wyn: a static web-site generator that watches its sources and rebuilds on change.\n"
    "\n"
    "usage: wyn [option ...]     (run in the folder that holds the site's local/ folder)\n"
    "\n"
    "options (name, -name or --name; values with name=value or name:value):\n"
    "  target=PATH          folder of source documents, or one .wyn file (default ./local/wyn_files/)\n"
    "  js                   pages load the site's shared script\n"
    "  check_urls           check every web address over HTTP (dropped without a network)\n"
    "  no_file_path_check   do not check links to local files\n"
    "  print_todos          report to-do markers found in documents\n"
    "  deploy               write web paths for assets and links; no file-path checks\n"
    "  tree=FILE            print how FILE parses (node tree and messages) and exit\n"
    "  help                 print this text and exit\n"
    "  version              print the version and exit\n"
    "\n"
    "site layout:\n"
    "  local/wyn_files/     source documents (*.wyn); index.wyn is generated\n"
    "  local/html/          written pages: desktop, _smartphone and raw_ pages\n"
    "  local/shared/        templates (html/), style sheets (css/, css/wyn/), fonts/, images/\n"
    "  local/assets/        images/, files/ and builds/ that pages link to\n";

struct MessageLog {
    Arena *arena;
    DiagnosticList list;
};

// Runs the site and never returns.
[[noreturn]] static void site_run(const CommandLine *cmd)
{
    MessageLog log = {};
    log.arena = arena_alloc(GiB(8), KiB(64));
    Arena *arena = process_arena();

    SiteLayout layout = site_layout_from_directory(arena, current_directory(arena));
    layout.target = cmd_line_path(arena, cmd, str_lit("target"), layout.current_directory, log.arena, &log.list);
    site_layout_set(&layout);

    bool js = cmd_line_has_flag(cmd, str_lit("js"));
    bool check_urls = cmd_line_has_flag(cmd, str_lit("check_urls"));
    bool print_todos = cmd_line_has_flag(cmd, str_lit("print_todos"));
    bool deploy = cmd_line_has_flag(cmd, str_lit("deploy"));
    bool no_file_path_check = cmd_line_has_flag(cmd, str_lit("no_file_path_check"));

    build_settings_create(check_urls, print_todos, deploy);
    site_build_start(layout.local_folder, !deploy && !no_file_path_check, check_urls, js);

    // The document list: every file below the target folder, or the one
    // file the target names.
    StrList files = {};
    bool single_file = layout.target.size && !char_is_slash((u8)layout.target.str[layout.target.size - 1]);
    if (single_file) str_list_push(arena, &files, layout.target);
    else site_list_files(arena, &files, layout.target);
    for (StrNode *n = files.first; n; n = n->next) {
        Str path = n->string;
        if (!str_eq(path_extension(path), str_lit("wyn"))) continue;   // Page.WYN is not a source
        if (str_eq(path_file_name(path), str_lit("index.wyn"))) continue;
        if (!site_build_submit(path)) {
            // Waiting for queue room that can never come would stop the
            // whole start-up; the document is skipped and the user told.
            Str shown = path.size > 160 ? str_pushf(log.arena, "%S...", str_prefix(path, 160)) : path;
            Str text = str_pushf(log.arena, "%S is too long to build: a document path may have at most %I64u bytes",
                                 shown, queue_payload_limit(site_build()->parse_queue));
            diag_push_at(log.arena, &log.list, nullptr, 0, DiagLevel_Warning, text);
        }
    }

    diag_print_log(&log.list);
    for (;;) sleep_ms(100);
}

int main(int argc, char **argv)
{
    ThreadContext *context = thread_context_create();
    context->is_main = 1;
    thread_set_name("[Main Thread]");
    console_setup();

    // The arguments and the option table live on the first scratch arena,
    // which this thread never rolls back below them: main never returns.
    Arena *arena = context->scratch[0];
    StrList args = {};
    for (int i = 1; i < argc; i += 1) str_list_push(arena, &args, str_from_cstring(argv[i]));
    CommandLine *cmd = cmd_line_parse(arena, args);

    if (cmd_line_option(cmd, str_lit("help"))) {
        fputs(usage_text, stdout);
        return 0;
    }
    if (cmd_line_option(cmd, str_lit("version"))) {
        printf("wyn %s\n", wyn_version);
        return 0;
    }

    // A look at one document's parse, for authors and tests: no watch.
    if (cmd_line_option(cmd, str_lit("tree"))) return markup_tree_command(cmd_line_value(cmd, str_lit("tree")));

    process_start();
    content_cache_create();
    fs_start();
    site_run(cmd);
}
