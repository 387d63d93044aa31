// One file load as a streamer does it: an arena sized for the file, the
// whole file read onto it, the arena released. The reference is the floor
// for the same work: open, read into fresh pages of the file's size, close,
// unmap. Both read from the page cache, so the difference is what
// file_read_all adds (the size probe, and any memory it touches beyond the
// file's size).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "os/platform.h"

static std::string bench_file(u64 size)
{
    std::string path = "/tmp/wyn-bench-read-" + std::to_string(size);
    FILE *f = fopen(path.c_str(), "wb");
    std::string chunk(KiB(64), 'w');
    for (u64 written = 0; f && written < size; written += chunk.size())
        fwrite(chunk.data(), 1, (size_t)std::min<u64>(chunk.size(), size - written), f);
    if (f) fclose(f);
    return path;
}

static void FileReadAll(benchmark::State &state)
{
    u64 size = (u64)state.range(0);
    std::string path = bench_file(size);
    Str p = Str{path.data(), path.size()};
    for (auto _ : state) {
        Arena *arena = arena_alloc(size + arena_header_size + 64, KiB(4));
        Str bytes = file_read_all(arena, p);
        benchmark::DoNotOptimize(bytes.str);
        if (bytes.size != size) state.SkipWithError("short read");
        arena_release(arena);
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * size));
}
BENCHMARK(FileReadAll)->Arg(KiB(4))->Arg(MiB(1))->Arg(MiB(16));

static void ReadFloor(benchmark::State &state)
{
    u64 size = (u64)state.range(0);
    std::string path = bench_file(size);
    for (auto _ : state) {
        // Fresh pages each time, as every load gets an arena of its own.
        char *buffer = (char *)mmap(nullptr, size + 1, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        u64 used = 0;
        while (used < size) {
            ssize_t n = read(fd, buffer + used, size - used);
            if (n <= 0) break;
            used += (u64)n;
        }
        close(fd);
        buffer[used] = 0;
        benchmark::DoNotOptimize(buffer);
        munmap(buffer, size + 1);
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * size));
}
BENCHMARK(ReadFloor)->Arg(KiB(4))->Arg(MiB(1))->Arg(MiB(16));

BENCHMARK_MAIN();
