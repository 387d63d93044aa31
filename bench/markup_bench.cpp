// Markup costs on the synthetic site of bench/gen_site.py (10,000 documents
// of about 4 KB, seed 1): the tokenizer alone, and tokenize plus parse,
// once on the whole corpus as one text and once document by document (as
// the parser workers see it). One thread, figures in bytes per second.
//
// The corpus is generated on first use into /tmp/wyn-bench-site-1-10000
// (python3 is needed once); WYN_BENCH_SITE names another generated site.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "markup/parser.h"

namespace {

struct Corpus {
    std::vector<std::string> documents;
    std::string all;
};

Corpus load_corpus()
{
    Corpus corpus;
    corpus.documents = bench_corpus_documents(bench_corpus_site());
    for (const std::string &d : corpus.documents) corpus.all += d;
    return corpus;
}

const Corpus &corpus()
{
    static Corpus c = load_corpus();
    return c;
}

// The first pass over fresh memory pays for page faults, not for markup:
// one untimed pass touches the pages the timed ones reuse.
template <typename Work>
void warm_up(Arena *arena, Work work)
{
    ArenaTemp t = temp_begin(arena);
    work();
    temp_end(t);
}

void TokenizeCorpus(benchmark::State &state)
{
    const Corpus &c = corpus();
    Arena *arena = arena_alloc(GiB(16), MiB(64));
    warm_up(arena, [&] { tokenize(arena, as_str(c.all)); });
    for (auto _ : state) {
        ArenaTemp t = temp_begin(arena);
        TokenArray tokens = tokenize(arena, as_str(c.all));
        benchmark::DoNotOptimize(tokens.tokens);
        temp_end(t);
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * c.all.size()));
    arena_release(arena);
}
BENCHMARK(TokenizeCorpus)->Unit(benchmark::kMillisecond);

void ParseCorpus(benchmark::State &state)
{
    const Corpus &c = corpus();
    Arena *arena = arena_alloc(GiB(16), MiB(64));
    warm_up(arena, [&] { markup_parse(arena, as_str(c.all), nullptr); });
    for (auto _ : state) {
        ArenaTemp t = temp_begin(arena);
        ParsedDocument doc = markup_parse(arena, as_str(c.all), nullptr);
        benchmark::DoNotOptimize(doc.root);
        temp_end(t);
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * c.all.size()));
    arena_release(arena);
}
BENCHMARK(ParseCorpus)->Unit(benchmark::kMillisecond);

void TokenizeDocuments(benchmark::State &state)
{
    const Corpus &c = corpus();
    Arena *arena = arena_alloc(GiB(1), MiB(1));
    for (auto _ : state) {
        for (const std::string &d : c.documents) {
            ArenaTemp t = temp_begin(arena);
            TokenArray tokens = tokenize(arena, as_str(d));
            benchmark::DoNotOptimize(tokens.tokens);
            temp_end(t);
        }
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * c.all.size()));
    state.SetItemsProcessed((int64_t)(state.iterations() * c.documents.size()));
    arena_release(arena);
}
BENCHMARK(TokenizeDocuments)->Unit(benchmark::kMillisecond);

void ParseDocuments(benchmark::State &state)
{
    const Corpus &c = corpus();
    Arena *arena = arena_alloc(GiB(1), MiB(1));
    for (auto _ : state) {
        for (const std::string &d : c.documents) {
            ArenaTemp t = temp_begin(arena);
            ParsedDocument doc = markup_parse(arena, as_str(d), nullptr);
            benchmark::DoNotOptimize(doc.root);
            temp_end(t);
        }
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * c.all.size()));
    state.SetItemsProcessed((int64_t)(state.iterations() * c.documents.size()));
    arena_release(arena);
}
BENCHMARK(ParseDocuments)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
