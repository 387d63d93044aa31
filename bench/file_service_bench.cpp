// File-service costs: fs_get of a cached file, one scanner pass over 10,000
// watched files, and what an idle watch of 10,000 files costs with and
// without change notifications.
//
// The service is one per process and its threads never end, so every
// measurement runs in a child process of its own and sends its figures back
// through a pipe; the benchmark process itself never starts a service.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench_support.h"
#include "os/file_service.h"

// Runs `work` in a child process; returns the numbers it reported.
// 10,000 files of about 4 KB in 100 folders, as a mid-sized site.
struct WatchedSite {
    std::string root;
    std::vector<std::string> files;
    explicit WatchedSite(int count)
    {
        char pattern[] = "/tmp/wyn-bench-fs-XXXXXX";
        root = mkdtemp(pattern);
        std::string text(4000, 'x');
        for (int i = 0; i < count; i += 1) {
            std::string folder = root + "/f" + std::to_string(i / 100);
            if (i % 100 == 0) mkdir(folder.c_str(), 0777);
            files.push_back(folder + "/doc" + std::to_string(i) + ".wyn");
            FILE *f = fopen(files.back().c_str(), "wb");
            fwrite(text.data(), 1, text.size(), f);
            fprintf(f, "%d\n", i);
            fclose(f);
        }
    }
    ~WatchedSite() { std::system(("rm -rf '" + root + "'").c_str()); }
};

static double cpu_seconds()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return (double)usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + (double)usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

static FileService *start_service(bool notifications)
{
    process_start();
    content_cache_create();
    FileServiceConfig config = {};
    config.no_notifications = notifications ? 0 : 1;
    return fs_start_with(&config);
}

//- fs_get of a file already loaded

static void FsGetCached(benchmark::State &state)
{
    for (auto _ : state) {
        std::vector<double> figures = run_in_child([] {
            WatchedSite site(1);
            start_service(true);
            Str path = as_str(site.files[0]);
            fs_get(path, u64_max);
            constexpr int calls = 1000000;
            u64 start = now_us();
            u64 bytes = 0;
            for (int i = 0; i < calls; i += 1) bytes += content_get(fs_get(path, u64_max).key).size;
            u64 elapsed = now_us() - start;
            return std::vector<double>{(double)elapsed / 1e6 / calls, (double)bytes};
        });
        if (figures.size() < 1) {
            state.SkipWithError("the child reported nothing");
            break;
        }
        state.SetIterationTime(figures[0]);
    }
}
BENCHMARK(FsGetCached)->UseManualTime()->Unit(benchmark::kNanosecond)->Iterations(3);

//- one full pass over 10,000 watched files

static void ScannerFullPass(benchmark::State &state)
{
    for (auto _ : state) {
        std::vector<double> figures = run_in_child([] {
            WatchedSite site(10000);
            FileService *fs = start_service(true);
            for (const std::string &f : site.files) fs_get(as_str(f), u64_max);
            constexpr int passes = 20;
            double cpu_before = cpu_seconds();
            u64 start = now_us();
            u64 changed = 0;
            for (int i = 0; i < passes; i += 1) changed += fs_count_changed(fs);
            u64 elapsed = now_us() - start;
            return std::vector<double>{(double)elapsed / 1e6 / passes, (cpu_seconds() - cpu_before) / passes,
                                       (double)changed};
        });
        if (figures.size() < 2) {
            state.SkipWithError("the child reported nothing");
            break;
        }
        state.SetIterationTime(figures[0]);
        state.counters["cpu_ms_per_pass"] = figures[1] * 1000;
        state.counters["files"] = 10000;
    }
}
BENCHMARK(ScannerFullPass)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

//- an idle watch of 10,000 files, then one edit

static void IdleWatch(benchmark::State &state)
{
    bool notifications = state.range(0) != 0;
    for (auto _ : state) {
        std::vector<double> figures = run_in_child([notifications] {
            WatchedSite site(10000);
            FileService *fs = start_service(notifications);
            for (const std::string &f : site.files) fs_get(as_str(f), u64_max);
            // Let the scanner take the registrations and watch the folders.
            u64 ticks = atomic_load_u64(&fs->scan_ticks);
            while (atomic_load_u64(&fs->scan_ticks) < ticks + 3) sleep_ms(10);
            u64 generation = fs_generation();
            constexpr double seconds = 12;   // three full passes at the default 4 s
            double cpu_before = cpu_seconds();
            u64 start = now_us();
            sleep_ms((u64)(seconds * 1000));
            double cpu = cpu_seconds() - cpu_before;
            double wall = (double)(now_us() - start) / 1e6;
            double reloads = (double)(fs_generation() - generation);   // 0 when nothing changed

            // One edit: how long until a reader sees it.
            std::string &edited = site.files[site.files.size() / 2];
            FILE *f = fopen(edited.c_str(), "ab");
            fputs("edited\n", f);
            fclose(f);
            u64 edit_at = now_us();
            u64 expected = file_properties(as_str(edited)).size;
            while (content_get(fs_get(as_str(edited), u64_max).key).size != expected) sleep_ms(1);
            double reload_ms = (double)(now_us() - edit_at) / 1000;
            return std::vector<double>{cpu / wall * 100, reloads, reload_ms, cpu / wall};
        });
        if (figures.size() < 3) {
            state.SkipWithError("the child reported nothing");
            break;
        }
        state.SetIterationTime(figures[3]);
        state.counters["cpu_percent_of_core"] = figures[0];
        state.counters["idle_reloads"] = figures[1];
        state.counters["edit_seen_ms"] = figures[2];
    }
}
BENCHMARK(IdleWatch)->ArgName("notifications")->Arg(1)->Arg(0)->UseManualTime()->Iterations(1);

BENCHMARK_MAIN();
