// Rendering costs on the synthetic site of bench/gen_site.py (10,000
// documents of about 4 KB, seed 1), one thread, document by document as the
// parser workers do it:
//   TokenizeParseDocuments  the baseline: tokenize + parse each document
//   ParseRenderDesktop      tokenize + parse, then render the desktop page (a
//                           fresh minimal page, the document and its
//                           footnotes), as a worker does while the tree is
//                           still in cache; minus the baseline, the cost of
//                           rendering one variant
//   ParseRenderBoth         the same with both variants
//   ParseRenderSerialize    desktop, plus the serialization of the page
//   RenderDesktopCold       rendering alone over trees parsed beforehand: the
//                           nodes of 10,000 documents no longer fit in any
//                           cache, so this is the worst case, not the usual
// Documents per second are the items; bytes per second are bytes of HTML
// produced (the serialized `b_w` and `bottom` of the desktop pages),
// measured once up front, or source bytes for the baseline.
// The target: rendering one variant costs at most twice tokenize + parse.
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

#include "../tests/render/render_page.h"
#include "bench_support.h"

namespace {

struct Corpus {
    std::vector<std::string> documents;
    u64 bytes = 0;
    Arena *arena = nullptr;              // the parsed documents, kept for the render benchmarks
    std::vector<ParsedDocument> parsed;
    RenderOptions render_options;
    ParseOptions parse_options;
    u64 html_bytes = 0;                  // serialized b_w and bottom of every desktop page
};

Corpus load_corpus()
{
    Corpus corpus;
    std::string site = bench_corpus_site();
    static std::string local = site + "/local/";
    corpus.render_options = {};
    corpus.render_options.local_folder = as_str(local);
    corpus.parse_options = {as_str(local), 0, nullptr, nullptr};

    corpus.documents = bench_corpus_documents(site);
    for (const std::string &d : corpus.documents) corpus.bytes += d.size();
    corpus.arena = arena_alloc(GiB(16), MiB(64));
    for (const std::string &d : corpus.documents)
        corpus.parsed.push_back(test_parse(corpus.arena, as_str(d), &corpus.parse_options));

    Arena *scratch = arena_alloc(GiB(1), MiB(1));
    for (const ParsedDocument &doc : corpus.parsed) {
        ArenaTemp t = temp_begin(scratch);
        TestPage page = test_page_make(scratch);
        render_document(scratch, doc.root, page.document, nullptr, &corpus.render_options);
        if (!node_is_nil(doc.footnotes)) render_document(scratch, doc.footnotes, page.b_w, nullptr, &corpus.render_options);
        StrList out = {};
        html_serialize(scratch, page.b_w, &out, nullptr);
        html_serialize(scratch, page.bottom, &out, nullptr);
        corpus.html_bytes += out.total_size;
        temp_end(t);
    }
    arena_release(scratch);
    return corpus;
}

const Corpus &corpus()
{
    static Corpus c = load_corpus();
    return c;
}

void TokenizeParseDocuments(benchmark::State &state)
{
    const Corpus &c = corpus();
    Arena *arena = arena_alloc(GiB(1), MiB(1));
    for (auto _ : state) {
        for (const std::string &d : c.documents) {
            ArenaTemp t = temp_begin(arena);
            ParsedDocument doc = test_parse(arena, as_str(d));
            benchmark::DoNotOptimize(doc.root);
            temp_end(t);
        }
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * c.bytes));
    state.SetItemsProcessed((int64_t)(state.iterations() * c.documents.size()));
    arena_release(arena);
}
BENCHMARK(TokenizeParseDocuments)->Unit(benchmark::kMillisecond);

void render_page(Arena *arena, const ParsedDocument &doc, const PageVariant *variant, bool serialize)
{
    TestPage page = test_page_make(arena);
    render_document(arena, doc.root, page.document, variant, &test_render_options);
    if (!node_is_nil(doc.footnotes)) render_document(arena, doc.footnotes, page.b_w, variant, &test_render_options);
    if (serialize) {
        StrList out = {};
        html_serialize(arena, page.document, &out, nullptr);
        Str html = str_list_join_plain(arena, &out);
        benchmark::DoNotOptimize(html.str);
    }
    benchmark::DoNotOptimize(page.b_w);
}

void parse_render(benchmark::State &state, bool desktop, bool smartphone, bool serialize)
{
    const Corpus &c = corpus();
    Arena *arena = arena_alloc(GiB(1), MiB(1));
    PageVariant variants[2] = {};
    variants[0].kind = PageVariant_Desktop;
    variants[1].kind = PageVariant_Smartphone;
    for (auto _ : state) {
        for (const std::string &d : c.documents) {
            ArenaTemp t = temp_begin(arena);
            ParsedDocument doc = test_parse(arena, as_str(d));
            if (desktop) render_page(arena, doc, &variants[0], serialize);
            if (smartphone) render_page(arena, doc, &variants[1], serialize);
            temp_end(t);
        }
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * c.html_bytes * ((desktop ? 1 : 0) + (smartphone ? 1 : 0))));
    state.SetItemsProcessed((int64_t)(state.iterations() * c.documents.size()));
    arena_release(arena);
}

void ParseRenderDesktop(benchmark::State &state) { parse_render(state, true, false, false); }
BENCHMARK(ParseRenderDesktop)->Unit(benchmark::kMillisecond);

void ParseRenderBoth(benchmark::State &state) { parse_render(state, true, true, false); }
BENCHMARK(ParseRenderBoth)->Unit(benchmark::kMillisecond);

void ParseRenderSerialize(benchmark::State &state) { parse_render(state, true, false, true); }
BENCHMARK(ParseRenderSerialize)->Unit(benchmark::kMillisecond);

void RenderDesktopCold(benchmark::State &state)
{
    const Corpus &c = corpus();
    Arena *arena = arena_alloc(GiB(1), MiB(1));
    PageVariant variant = {};
    variant.kind = PageVariant_Desktop;
    for (auto _ : state) {
        for (const ParsedDocument &doc : c.parsed) {
            ArenaTemp t = temp_begin(arena);
            render_page(arena, doc, &variant, false);
            temp_end(t);
        }
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * c.html_bytes));
    state.SetItemsProcessed((int64_t)(state.iterations() * c.parsed.size()));
    arena_release(arena);
}
BENCHMARK(RenderDesktopCold)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
