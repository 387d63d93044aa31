// Site build throughput and memory: a generated site of 10,000 documents
// parsed by 1, 2 and 4 workers; and, when WYN_SCALE_CHECK=1 is set, the
// scale check: 100,000 documents parse to completion within the kernel's
// mapping limit, with the memory per document.
//
// The build, the file service and their threads are one per process and
// never end, so each run happens in a child process that reports its
// figures through a pipe. Figures are recorded in bench/README.md.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench_support.h"
#include "os/file_service.h"
#include "site/build.h"
#include "site/site_run.h"
#include "site/discovery.h"

//- the generated site

// A site of `count` documents written by the corpus generator, made once
// per size and removed when the benchmark program ends.
struct GeneratedSite {
    std::string root;
    u64 documents = 0;
    u64 bytes = 0;
};

static GeneratedSite generate_site(u64 count)
{
    GeneratedSite site;
    char pattern[] = "/tmp/wyn-bench-site-XXXXXX";
    site.root = mkdtemp(pattern);
    std::string command = "python3 '" WYN_SOURCE_DIR "/bench/gen_site.py' --count " + std::to_string(count) +
                          " --seed 1 --out '" + site.root + "' > /dev/null";
    if (std::system(command.c_str()) != 0) return site;
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    StrList files = {};
    site_list_files(scratch.arena, &files, as_str(site.root + "/"));
    for (StrNode *n = files.first; n; n = n->next) {
        if (!str_eq(path_extension(n->string), str_lit("wyn"))) continue;
        site.documents += 1;
        site.bytes += file_properties(n->string).size;
    }
    scratch_end(scratch);
    return site;
}

static GeneratedSite g_small_site, g_large_site;

static GeneratedSite &site_of(u64 count)
{
    GeneratedSite &site = count <= 10000 ? g_small_site : g_large_site;
    if (site.root.empty()) site = generate_site(count);
    return site;
}

static u64 mapping_count()
{
    FILE *maps = fopen("/proc/self/maps", "r");
    if (!maps) return 0;
    u64 lines = 0;
    for (int c; (c = fgetc(maps)) != EOF;)
        if (c == '\n') lines += 1;
    fclose(maps);
    return lines;
}

static double status_mib(const char *field)
{
    FILE *status = fopen("/proc/self/status", "r");
    if (!status) return 0;
    char line[256];
    double kib = 0;
    size_t n = strlen(field);
    while (fgets(line, sizeof(line), status))
        if (strncmp(line, field, n) == 0) kib = atof(line + n + 1);
    fclose(status);
    return kib / 1024;
}

// Builds every document of the site once; reports seconds, documents per
// second, peak resident MiB, mappings, virtual MiB and build counts.
static std::vector<double> build_site(const GeneratedSite &site, u64 workers)
{
    process_start();
    content_cache_create();
    fs_start();
    SiteStartOptions options = {};
    SiteBuildConfig &config = options.build;
    config.worker_count = workers;
    config.print.silent = 1;
    // The table and the parse alone: pages are measured by site_run_bench.
    config.no_pages = 1;
    SiteConfig site_config = {};
    std::string local = site.root + "/local/";
    site_config.layout.local_folder = as_str(local);
    site_config.file_path_checks = 1;
    SiteBuild *build = site_start(&site_config, &options);

    ArenaTemp scratch = scratch_begin(nullptr, 0);
    StrList files = {};
    site_list_files(scratch.arena, &files, as_str(site.root + "/"));
    double rss_before = status_mib("VmRSS:");
    u64 start = now_us();
    u64 submitted = 0;
    for (StrNode *n = files.first; n; n = n->next) {
        if (!str_eq(path_extension(n->string), str_lit("wyn"))) continue;
        if (str_eq(path_file_name(n->string), str_lit("index.wyn"))) continue;
        site_build_submit(n->string);
        submitted += 1;
    }
    while (atomic_load_u64(&build->completed_builds) < submitted) sleep_ms(1);
    double seconds = (double)(now_us() - start) / 1e6;

    // A rebuild of every document, as after a change: sources come from
    // the cache and every document arena is rolled back and reused.
    u64 rebuild_start = now_us();
    StrNode *node = build->submitted.first;
    for (u64 i = 0; i < submitted && node; i += 1, node = node->next) site_build_submit(node->string);   // appends: stop at the old end
    while (atomic_load_u64(&build->completed_builds) < 2 * submitted) sleep_ms(1);
    double rebuild_seconds = (double)(now_us() - rebuild_start) / 1e6;
    scratch_end(scratch);

    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    double peak_mib = (double)usage.ru_maxrss / 1024;

    return {seconds,
            (double)submitted / seconds,
            peak_mib,
            (double)mapping_count(),
            status_mib("VmSize:"),
            (double)submitted,
            (peak_mib - rss_before) * 1024 / (double)submitted,
            (double)content_entry_count(),
            (double)submitted / rebuild_seconds};
}

static void SiteBuild10k(benchmark::State &state)
{
    GeneratedSite &site = site_of(10000);
    if (site.documents == 0) {
        state.SkipWithError("bench/gen_site.py wrote no documents");
        return;
    }
    u64 workers = (u64)state.range(0);
    for (auto _ : state) {
        std::vector<double> f = run_in_child([&] { return build_site(site, workers); });
        if (f.size() < 9) {
            state.SkipWithError("the child reported nothing");
            break;
        }
        state.SetIterationTime(f[0]);
        state.counters["docs_per_s"] = f[1];
        state.counters["rebuild_docs_per_s"] = f[8];
        state.counters["MB_per_s"] = (double)site.bytes / f[0] / 1e6;
        state.counters["peak_rss_MiB"] = f[2];
        state.counters["KiB_per_doc"] = f[6];
        state.counters["mappings"] = f[3];
    }
}
BENCHMARK(SiteBuild10k)->ArgName("workers")->Arg(1)->Arg(2)->Arg(4)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

//- the scale check

// 100,000 documents; then, to show why small contents are not made
// read-only, every cached content is protected and the mappings counted.
static void ScaleCheck100k(benchmark::State &state)
{
    GeneratedSite &site = site_of(100000);
    if (site.documents == 0) {
        state.SkipWithError("bench/gen_site.py wrote no documents");
        return;
    }
    for (auto _ : state) {
        std::vector<double> f = run_in_child([&] {
            std::vector<double> figures = build_site(site, 0);
            // Protect every cached content as a slab-cutting allocator
            // without the size rule would.
            ContentCache *cache = content_cache();
            u64 refused = 0, protected_count = 0;
            for (u64 b = 0; b < content_bucket_count; b += 1) {
                for (ContentEntry *e = cache->buckets[b].first; e; e = e->next) {
                    if (e->value.size == 0 || e->value.size >= content_protect_min_size) continue;
                    if (memory_protect_read_only((void *)e->value.str, e->value.size)) protected_count += 1;
                    else refused += 1;
                }
            }
            figures.push_back((double)mapping_count());
            figures.push_back((double)protected_count);
            figures.push_back((double)refused);
            return figures;
        });
        if (f.size() < 12) {
            state.SkipWithError("the child reported nothing");
            break;
        }
        state.SetIterationTime(f[0]);
        state.counters["documents"] = f[5];
        state.counters["docs_per_s"] = f[1];
        state.counters["peak_rss_MiB"] = f[2];
        state.counters["KiB_per_doc"] = f[6];
        state.counters["mappings"] = f[3];
        state.counters["virtual_GiB"] = f[4] / 1024;
        state.counters["rebuild_docs_per_s"] = f[8];
        state.counters["mappings_if_all_protected"] = f[9];
        state.counters["protect_refused"] = f[11];
    }
}

int main(int argc, char **argv)
{
    const char *scale = getenv("WYN_SCALE_CHECK");
    if (scale && strcmp(scale, "1") == 0)
        benchmark::RegisterBenchmark("ScaleCheck100k", ScaleCheck100k)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (GeneratedSite *site : {&g_small_site, &g_large_site})
        if (!site->root.empty()) std::system(("rm -rf '" + site->root + "'").c_str());
    return 0;
}
