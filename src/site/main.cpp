// site/main.cpp: the program's entry.
//
// wyn is a watch process: it builds the site, then keeps every file it read
// under watch and rebuilds on change, until the user stops it (Ctrl-C or
// SIGTERM, default action; every write is atomic, so nothing is lost).
// Start-up runs on the main thread in a fixed order; after it the main
// thread only sleeps.
#include "http/url_check.h"
#include "os/file_service.h"
#include "site/change_detect.h"
#include "site/diagnostics.h"
#include "site/discovery.h"
#include "site/init.h"
#include "site/pages.h"
#include "site/serve.h"
#include "site/site_outputs.h"
#include "site/site_run.h"
#include "site/tree_command.h"

#include <cstdio>
#include <cstdlib>

static const char wyn_version[] = "0.1.0";

struct MessageLog {
    Arena *arena;
    DiagnosticList list;
    DiagPrintSettings print;
};

// A one-shot run ends here once the site is quiet: one line of what was
// done, and the status scripts test: 1 when an error was reported, a page
// or the index could not be written, or (with strict) a warning was.
[[noreturn]] static void once_finish(const SiteConfig *config, const DiagPrintSettings *print, u64 started_us)
{
    site_build_wait_quiet(1, u64_max);
    site_pages_flush(ManifestFlush_Whole);
    SiteBuild *build = site_build();
    DiagPrintedCounts printed = diag_printed_counts();
    SitePagesCounts pages = site_pages_counts();
    u64 index_failures = site_outputs_counts().index_failures;
    u64 documents = atomic_load_u64(&build->completed_builds);
    u64 ms = (now_us() - started_us) / 1000;
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    auto plural = [](u64 n) { return n == 1 ? "" : "s"; };
    // The first reason that fails the run is named, so a log says why.
    Str verdict = str_empty();
    if (printed.errors) verdict = str_pushf(scratch.arena, "; failed: %I64u error%s", printed.errors, plural(printed.errors));
    else if (pages.pages_failed)
        verdict = str_pushf(scratch.arena, "; failed: %I64u page%s could not be written", pages.pages_failed,
                            plural(pages.pages_failed));
    else if (index_failures) verdict = str_lit("; failed: the index could not be written");
    else if (config->strict && printed.warnings)
        verdict = str_pushf(scratch.arena, "; failed: %I64u warning%s (strict)", printed.warnings, plural(printed.warnings));
    diag_print_result(print, str_pushf(scratch.arena,
                                       "wyn once: %I64u document%s built, %I64u page%s written, %I64u warning%s, "
                                       "%I64u error%s, %I64u.%02I64u s%S\n",
                                       documents, plural(documents), pages.pages_written, plural(pages.pages_written),
                                       printed.warnings, plural(printed.warnings), printed.errors, plural(printed.errors),
                                       ms / 1000, (ms % 1000) / 10, verdict));
    scratch_end(scratch);
    fflush(stdout);
    // The other threads never end: leave without running destructors under
    // their feet.
    std::_Exit(verdict.size ? 1 : 0);
}

// The site's sources: every .wyn file below the target folder but the
// index document (made by change detection), or the one file the target
// names. `any` tells whether the target holds a document at all (a
// hand-written index.wyn counts).
static StrList site_sources(Arena *arena, Str target, bool *any, StrList *unreadable)
{
    StrList files = {};
    bool single_file = target.size && !char_is_slash((u8)target.str[target.size - 1]);
    if (single_file) str_list_push(arena, &files, target);
    else site_list_files(arena, &files, target, unreadable);
    StrList sources = {};
    *any = false;
    for (StrNode *n = files.first; n; n = n->next) {
        Str path = n->string;
        if (!str_eq(path_extension(path), str_lit("wyn"))) continue;   // Page.WYN is not a source
        *any = true;
        if (str_eq(path_file_name(path), str_lit("index.wyn"))) continue;
        str_list_push(arena, &sources, path);
    }
    return sources;
}

// A target that can give no site is an error, and nothing is written: no
// page, no index, no folder. A one-shot run ends with status 1; the watch
// says so once and waits for the target to appear.
static StrList site_sources_or_wait(Arena *arena, const SiteConfig *config, MessageLog *log)
{
    Str target = config->layout.target;
    bool told = false;
    for (;;) {
        Str problem = site_target_problem(arena, target);
        bool any = false;
        StrList unreadable = {};
        StrList sources = problem.size ? StrList{} : site_sources(arena, target, &any, &unreadable);
        if (!problem.size && !any) problem = str_lit("holds no .wyn document");
        if (!problem.size) {
            for (StrNode *n = unreadable.first; n; n = n->next)
                diag_push_at(log->arena, &log->list, nullptr, 0, DiagLevel_Warning,
                             str_pushf(log->arena, "folder %S cannot be read; the documents in it are not built", n->string));
            return sources;
        }
        if (!told) {
            // Run where no site is, wyn is most likely new to its author.
            bool no_site = !file_properties(config->layout.local_folder).exists;
            Str text = str_pushf(log->arena, "target %S %S; nothing is built or written%s%s", target, problem,
                                 config->once ? "" : " until it can be read",
                                 no_site ? " (there is no local/ folder here: `wyn init` starts a new site)" : "");
            diag_push_at(log->arena, &log->list, nullptr, 0, DiagLevel_Error, text);
            diag_print_log(&log->print, &log->list);
            log->list = DiagnosticList{};
            told = true;
        }
        if (config->once) {
            fflush(stdout);
            std::_Exit(1);
        }
        sleep_ms(1000);
    }
}

// Runs the site and never returns.
[[noreturn]] static void site_run(const SiteConfig *config, MessageLog *log)
{
    u64 started_us = now_us();
    Arena *arena = process_arena();
    SiteConfig run = *config;
    // The log so far (the target note, option warnings) comes first.
    diag_print_log(&log->print, &log->list);
    log->list = DiagnosticList{};
    StrList sources = site_sources_or_wait(arena, &run, log);

    SiteStartOptions start_options = {};
    SiteBuildConfig &tuning = start_options.build;
    tuning.print = log->print;
    if (run.check_urls) {
        // The probe tells at start whether addresses can be checked at all;
        // without a network every check would fail and every page would
        // show its web links broken.
        UrlCheckConfig checks = {};
        checks.probe = 1;
        checks.probe_address = run.probe;
        checks.ca_file = run.ca_file;
        // A document parked for an address goes back on the queue when its
        // result is stored.
        checks.on_result = site_build_url_result;
        UrlCheckStart start = {};
        tuning.url_checks = url_check_start(&checks, &start);
        if (!tuning.url_checks || !start.network_usable) {
            Str text = start.warning.size ? start.warning : url_check_no_network_warning;
            diag_push_at(log->arena, &log->list, nullptr, 0, DiagLevel_Warning, text);
            diag_print_log(&log->print, &log->list);
            log->list = DiagnosticList{};
            run.check_urls = 0;
            tuning.url_checks = nullptr;
        }
    }
    // The server listens before the first page is written, so a browser
    // opened early sees the site fill in; it hears of every write. A server
    // that cannot listen ends the run: serving was what was asked for.
    static SiteWatch watch;
    if (!site_watch_start(&watch, arena, &run, &log->print, log->arena, &log->list)) {
        diag_print_log(&log->print, &log->list);
        fflush(stdout);
        std::_Exit(1);
    }
    start_options.on_write = site_watch_observer(&watch);
    // A one-shot run prints its own summary instead.
    start_options.quiet_lines = !run.once;
    site_start(&run, &start_options);

    // Every source is known before the first is queued: a document that
    // links another then waits for it only when it will be built.
    // One source of each folder is read at once, so every folder is
    // watched from the start: a save anywhere during the first build is
    // seen then, not when its turn comes.
    Str last_folder = {};
    for (StrNode *n = sources.first; n; n = n->next) {
        site_build_register(n->string);
        Str folder = path_folder(n->string);
        if (!str_eq(folder, last_folder)) fs_prefetch(n->string);
        last_folder = folder;
    }
    for (StrNode *n = sources.first; n; n = n->next) {
        Str path = n->string;
        if (!site_build_submit(path)) {
            // Waiting for queue room that can never come would stop the
            // whole start-up; the document is skipped and the user told.
            Str shown = path.size > 160 ? str_pushf(log->arena, "%S...", str_prefix(path, 160)) : path;
            Str text = str_pushf(log->arena, "%S is too long to build: a document path may have at most %I64u bytes",
                                 shown, queue_payload_limit(site_build()->parse_queue));
            diag_push_at(log->arena, &log->list, nullptr, 0, DiagLevel_Warning, text);
        }
    }

    diag_print_log(&log->print, &log->list);
    site_build_submissions_done();
    if (run.once) once_finish(&run, &log->print, started_us);
    for (;;) {
        sleep_ms(100);
        site_watch_tick(&watch);
    }
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
    MessageLog log = {};
    log.arena = arena;   // the main thread's scratch, never rolled back below it
    SiteConfig config = site_config_from_command_line(arena, cmd, current_directory(arena), log.arena, &log.list);
    log.print = diag_print_settings_detect(config.diagnostics_form, config.colour);

    // A typo in an option is said whatever the run does next.
    if (config.help || config.version || config.tree.size || config.init) {
        diag_print_log(&log.print, &log.list);
        log.list = DiagnosticList{};
    }
    if (config.help) {
        console_write(options_usage_text(arena));
        return 0;
    }
    if (config.version) {
        printf("wyn %s\n", wyn_version);
        return 0;
    }

    // A new site from the files built into the program: no watch.
    if (config.init) return site_init_command(&config, &log.print, starter_files, starter_file_count);

    // A look at one document's parse, for authors and tests: no watch.
    if (config.tree.size) return markup_tree_command(config.tree, &config);

    process_start();
    content_cache_create();
    FileServiceConfig files = {};
    files.no_scanner = config.once;
    fs_start_with(&files);
    site_run(&config, &log);
}
