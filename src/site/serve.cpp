// site/serve.cpp: the preview server, the status line and quiet.
#include "site/serve.h"

#include "http/server.h"
#include "markup/paths.h"
#include "os/platform.h"
#include "os/work_queue.h"
#include "shell/page_writer.h"
#include "site/build.h"
#include "site/diagnostics.h"

// On the writing worker: must be quick, and is (a counter and a short lock
// in the server that no client holds).
static void page_written(void *user, Str path)
{
    SiteWatch *watch = (SiteWatch *)user;
    atomic_add_u64(&watch->pages_written, 1);
    if (watch->server) http_server_notify(watch->server, site_relative_path(watch->local_folder, path));
}

PageWriteObserver site_watch_observer(SiteWatch *watch) { return PageWriteObserver{page_written, watch}; }

bool site_watch_start(SiteWatch *watch, Arena *arena, const SiteConfig *config, const DiagPrintSettings *print,
                      Arena *log_arena, DiagnosticList *log)
{
    *watch = SiteWatch{};
    watch->local_folder = config->layout.local_folder;
    watch->print = *print;
    if (config->serve) {
        // The folders pages link into by site path (site_relative_path
        // drops "/html" and keeps "/shared" and "/assets"). html/ comes
        // first: it holds the copies of shared sheets rewritten for web
        // paths, which must win over their sources in shared/.
        Str local = config->layout.local_folder;
        HttpServerConfig server = {};
        server.bind_address = config->bind;
        server.port = config->serve_port;
        server.live_reload = 1;
        server.roots[server.root_count++] = {str_lit("/"), str_pushf(arena, "%Shtml/", local)};
        server.roots[server.root_count++] = {str_lit("/shared/"), str_pushf(arena, "%Sshared/", local)};
        server.roots[server.root_count++] = {str_lit("/assets/"), str_pushf(arena, "%Sassets/", local)};
        Str error = {};
        u32 failure = HttpServerFailure_None;
        watch->server = http_server_start(arena, &server, &error, &failure);
        if (!watch->server) {
            Str advice = failure == HttpServerFailure_AddressInUse
                             ? str_pushf(log_arena, "; another program listens on port %u: serve=0 takes any free port",
                                         (u32)config->serve_port)
                             : str_empty();
            diag_push_at(log_arena, log, nullptr, 0, DiagLevel_Error, str_pushf(log_arena, "serve: %S%S", error, advice));
            return false;
        } else {
            Str host = config->bind.size ? config->bind : str_lit("127.0.0.1");
            bool v6 = str_find_byte(host, ':', 0) < host.size;
            watch->address = str_pushf(arena, v6 ? "http://[%S]:%u/" : "http://%S:%u/", host,
                                       (u32)http_server_port(watch->server));
        }
    }
    return true;
}

static constexpr u64 status_interval_us = 250 * 1000;

void site_watch_tick(SiteWatch *watch)
{
    SiteBuildProgress progress = site_build_progress();
    bool quiet = site_build_quiet(&progress);
    watch->quiet_ticks = quiet ? watch->quiet_ticks + 1 : 0;
    if (watch->quiet_ticks >= 2) {
        if (watch->drawn) progress_clear(&watch->print);
        watch->drawn = 0;
        if (!watch->announced && watch->server) {
            ArenaTemp scratch = scratch_begin(nullptr, 0);
            diag_print_result(&watch->print, str_pushf(scratch.arena, "serving %S (Ctrl-C stops)\n", watch->address));
            scratch_end(scratch);
        }
        watch->announced = 1;
        return;
    }
    if (quiet) return;
    u64 now = now_us();
    if (watch->drawn && now - watch->last_draw_us < status_interval_us) return;
    watch->last_draw_us = now;
    watch->drawn = 1;
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    u64 done = progress.completed < progress.submitted ? progress.completed : progress.submitted;
    Str text = str_pushf(scratch.arena, "wyn: %I64u/%I64u documents, %I64u pages written", done, progress.submitted,
                         atomic_load_u64(&watch->pages_written));
    if (progress.url_checks_pending)
        text = str_pushf(scratch.arena, "%S, %I64u URL checks pending", text, progress.url_checks_pending);
    progress_show(&watch->print, text);
    scratch_end(scratch);
}
