// Foundation costs: arena pushes against malloc, wyn's formatter against the
// C library on the formats wyn prints most, and the djb2 hash.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/str.h"

static void ArenaPush(benchmark::State &state)
{
    Arena *arena = arena_alloc(MiB(256), KiB(64));
    u64 size = (u64)state.range(0);
    for (auto _ : state) {
        ArenaTemp t = temp_begin(arena);
        for (int i = 0; i < 1000; i += 1) benchmark::DoNotOptimize(arena_push(arena, size, 8));
        temp_end(t);
    }
    state.SetItemsProcessed(state.iterations() * 1000);
    arena_release(arena);
}
BENCHMARK(ArenaPush)->Arg(16)->Arg(256);

static void Malloc(benchmark::State &state)
{
    std::vector<void *> blocks(1000);
    size_t size = (size_t)state.range(0);
    for (auto _ : state) {
        for (int i = 0; i < 1000; i += 1) blocks[i] = malloc(size);
        benchmark::DoNotOptimize(blocks.data());
        for (int i = 0; i < 1000; i += 1) free(blocks[i]);
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(Malloc)->Arg(16)->Arg(256);

static const Str bench_path = str_lit("/home/author/site/local/wyn_files/notes/travel/lisbon.wyn");

static void FmtLocation(benchmark::State &state)
{
    char buffer[256];
    s64 line = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(fmt_snprintf(buffer, sizeof(buffer), "%S:%I64d:%I64d", bench_path, line, (s64)17));
        line += 1;
    }
}
BENCHMARK(FmtLocation);

static void SnprintfLocation(benchmark::State &state)
{
    char buffer[256];
    long long line = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            snprintf(buffer, sizeof(buffer), "%.*s:%lld:%lld", (int)bench_path.size, bench_path.str, line, 17LL));
        line += 1;
    }
}
BENCHMARK(SnprintfLocation);

static void FmtFixed(benchmark::State &state)
{
    char buffer[64];
    double v = 0.25;
    for (auto _ : state) {
        benchmark::DoNotOptimize(fmt_snprintf(buffer, sizeof(buffer), "%.1f", v));
        v += 0.37;
        if (v > 1e6) v = 0.25;
    }
}
BENCHMARK(FmtFixed);

static void SnprintfFixed(benchmark::State &state)
{
    char buffer[64];
    double v = 0.25;
    for (auto _ : state) {
        benchmark::DoNotOptimize(snprintf(buffer, sizeof(buffer), "%.1f", v));
        v += 0.37;
        if (v > 1e6) v = 0.25;
    }
}
BENCHMARK(SnprintfFixed);

static void FmtClassOffset(benchmark::State &state)
{
    char buffer[64];
    unsigned long offset = 7;
    for (auto _ : state) {
        benchmark::DoNotOptimize(fmt_snprintf(buffer, sizeof(buffer), "%S_%lu", str_lit("ua"), offset));
        offset += 13;
    }
}
BENCHMARK(FmtClassOffset);

static void SnprintfClassOffset(benchmark::State &state)
{
    char buffer[64];
    unsigned long offset = 7;
    for (auto _ : state) {
        benchmark::DoNotOptimize(snprintf(buffer, sizeof(buffer), "%.*s_%lu", 2, "ua", offset));
        offset += 13;
    }
}
BENCHMARK(SnprintfClassOffset);

static void StrHash(benchmark::State &state)
{
    std::vector<char> text((size_t)state.range(0), 'a');
    Str s = {text.data(), text.size()};
    for (auto _ : state) benchmark::DoNotOptimize(str_hash(s));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(StrHash)->Arg(64)->Arg(4096);

BENCHMARK_MAIN();
