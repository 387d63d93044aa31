// The cost of the page frame against the cost of the page's body, on the
// synthetic site of bench/gen_site.py (10,000 documents, seed 1), one
// thread, document by document, both variants:
//   RenderBoth        parse results rendered into a fresh minimal page
//                     (document, html, body, top_middle, b_w, bottom), the
//                     desktop and the smartphone page: the body's cost
//   RenderShellBoth   the same, then the frame put around each page (head
//                     copied from its parsed template, script and viewport,
//                     the missing regions, the menu, the footer); minus
//                     RenderBoth, the frame's cost
//   ShellEmptyBoth    the frame alone around an empty page
// Templates come through the file service and the content cache as in a
// build: the head and the menu are parsed once and copied into every page.
// The target: the frame costs at most the rendering of the body.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "../tests/render/render_page.h"
#include "bench_support.h"
#include "os/file_service.h"
#include "shell/page_shell.h"
#include "markup/paths.h"

namespace {

struct Corpus {
    Arena *arena = nullptr;
    std::vector<ParsedDocument> parsed;
    Shell *shell = nullptr;
    RenderOptions render = {};
};

Corpus load_corpus()
{
    Corpus corpus;
    std::string site = bench_corpus_site();
    static std::string local = site + "/local/";
    corpus.render.local_folder = as_str(local);
    std::vector<std::string> documents = bench_corpus_documents(site);
    corpus.arena = arena_alloc(GiB(16), MiB(64));
    for (const std::string &d : documents) {
        Str text = str_copy(corpus.arena, as_str(d));
        ParseOptions options = {corpus.render.local_folder, 0, nullptr, nullptr};
        corpus.parsed.push_back(test_parse(corpus.arena, text, &options));
    }

    content_cache_create();
    fs_start();
    ShellSettings settings = {};
    settings.local_folder = as_str(local);
    settings.web_path = site_relative_path;
    corpus.shell = shell_create(&settings);
    ShellMessages messages = {};
    shell_setup(corpus.shell, corpus.arena, &messages);
    return corpus;
}

const Corpus &corpus()
{
    static Corpus c = load_corpus();
    return c;
}

void run(benchmark::State &state, bool render, bool shell)
{
    const Corpus &c = corpus();
    Arena *arena = arena_alloc(GiB(1), MiB(1));
    PageVariant variants[2] = {};
    variants[0].kind = PageVariant_Desktop;
    variants[1].kind = PageVariant_Smartphone;
    for (auto _ : state) {
        for (const ParsedDocument &doc : c.parsed) {
            for (const PageVariant &variant : variants) {
                ArenaTemp t = temp_begin(arena);
                TestPage page = test_page_make(arena);
                if (render) {
                    render_document(arena, doc.root, page.document, &variant, &c.render);
                    if (!node_is_nil(doc.footnotes)) render_document(arena, doc.footnotes, page.b_w, &variant, &c.render);
                }
                if (shell) page_shell_apply(arena, c.shell, page.document, &variant, nullptr);
                benchmark::DoNotOptimize(page.document->child_count);
                temp_end(t);
            }
        }
    }
    state.SetItemsProcessed((int64_t)(state.iterations() * c.parsed.size() * 2));
    arena_release(arena);
}

void RenderBoth(benchmark::State &state) { run(state, true, false); }
BENCHMARK(RenderBoth)->Unit(benchmark::kMillisecond);

void RenderShellBoth(benchmark::State &state) { run(state, true, true); }
BENCHMARK(RenderShellBoth)->Unit(benchmark::kMillisecond);

void ShellEmptyBoth(benchmark::State &state) { run(state, false, true); }
BENCHMARK(ShellEmptyBoth)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
