// site/serve.h: the watch process's face to its user: the preview server,
// the status line and the moment the site becomes quiet.
//
// main starts it once, before the site, and calls site_watch_tick from its
// idle loop. Every page, style sheet or asset the build writes is reported
// here (the observer site_watch_observer gives, which main hands to the
// shell): counted for the status line and, when serving, announced to open
// browsers, which reload what they show.
#pragma once
#include "base/diagnostics.h"
#include "shell/page_writer.h"
#include "site/diagnostics.h"
#include "site/options.h"

struct HttpServer;

struct SiteWatch {
    HttpServer *server;     // null unless serving
    Str address;            // "http://127.0.0.1:8750/" when serving
    Str local_folder;
    DiagPrintSettings print;
    u64 pages_written;      // atomic: pages, sheets and assets written since the start
    u64 last_draw_us;
    u32 quiet_ticks;        // ticks in a row the build looked quiet
    b32 announced;          // the address was printed
    b32 drawn;              // a status line was drawn since the site was last quiet
};

// Main thread, once, before the site starts: starts the server when
// `config` asks. False when it cannot listen: the reason is an error on
// `log` (with what to do about a port in use), and the run should end.
bool site_watch_start(SiteWatch *watch, Arena *arena, const SiteConfig *config, const DiagPrintSettings *print,
                      Arena *log_arena, DiagnosticList *log);
// What the site's writes report to (SiteStartOptions.on_write).
PageWriteObserver site_watch_observer(SiteWatch *watch);
// Main thread, every ~100 ms: redraws the status line (on a terminal, a few
// times a second at most), erases it once the site is quiet, and prints the
// server's address the first time it is.
void site_watch_tick(SiteWatch *watch);

