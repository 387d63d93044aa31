// What one document's pages cost, beside a peer for scale, one thread, on
// the synthetic site of bench/gen_site.py (10,000 documents, seed 1):
//   ParseDocuments        tokenize + parse + table index of every document
//   PagesPerDocument      for every parsed document: its body rendered once
//                         (page_body_render), the desktop and the
//                         smartphone page from it (frame, title, body,
//                         table of contents, toggles, tables, links,
//                         footnotes) and both raw-source pages, each
//                         serialized and joined into its bytes
//   ParseAndPagesPerDocument  the same with each document parsed right
//                         before its pages, in the order of a build
//   PagesBuildOnly        the same pages built but not serialized
//   RawPagesOnly          the two raw pages alone, serialized
//   ParseRenderSerialize  parse, render the desktop body into a bare page and
//                         serialize it: what a Markdown converter does
//   Md4cHtml              md4c's md_html converting a Markdown corpus of the
//                         same count and size (bench/gen_markdown.py)
//   ...PlainCode          the same with every fence's "python" (the one
//                         language of the corpus) replaced by a word wyn
//                         does not know, of the same size, so no block is
//                         highlighted: md4c highlights nothing
// Nothing is written to disk. The frame comes from the site's templates
// through the file service, as in a build.
#include <benchmark/benchmark.h>

#include <md4c-html.h>

#include <string>
#include <vector>

#include "../tests/render/render_page.h"
#include "bench_support.h"
#include "markup/tables.h"
#include "os/file_service.h"
#include "shell/page_build.h"
#include "shell/page_writer.h"
#include "markup/paths.h"

namespace {

struct Corpus {
    Arena *arena = nullptr;
    std::string local;
    std::vector<std::string> sources;
    std::vector<std::string> plain_sources;   // no fenced block in a known language
    std::vector<std::string> paths;
    std::vector<ParsedDocument> parsed;
    std::vector<std::string> markdown;
    u64 source_bytes = 0, markdown_bytes = 0;
    Shell *shell = nullptr;
    RenderOptions render = {};
    ParseOptions parse = {};
};

std::vector<std::string> markdown_corpus()
{
    std::string folder = "/tmp/wyn-bench-md-1-10000";
    if (!std::filesystem::exists(folder + "/doc09999.md")) {
        std::string command = std::string("python3 '") + WYN_SOURCE_DIR + "/bench/gen_markdown.py' --out '" + folder +
                              "' --count 10000 --seed 1";
        if (std::system(command.c_str()) != 0) return {};
    }
    std::vector<std::string> paths, texts;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) paths.push_back(entry.path().string());
    std::sort(paths.begin(), paths.end());
    for (const std::string &path : paths) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        texts.push_back(text.str());
    }
    return texts;
}

ParsedDocument parse_one(Arena *arena, const Corpus &c, Str path, Str text)
{
    (void)path;
    ParsedDocument doc = markup_parse(arena, text, &c.parse);
    document_index_tables(arena, &doc);
    return doc;
}

Corpus load_corpus()
{
    Corpus c;
    std::string site = bench_corpus_site();
    c.local = site + "/local/";
    c.sources = bench_corpus_documents(site);
    std::vector<std::string> paths;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(c.local + "wyn_files"))
        if (entry.is_regular_file() && entry.path().extension() == ".wyn") paths.push_back(entry.path().string());
    std::sort(paths.begin(), paths.end());
    c.paths = paths;
    for (const std::string &source : c.sources) {
        std::string plain = source;
        for (size_t at = plain.find("```python"); at != std::string::npos; at = plain.find("```python", at))
            plain.replace(at + 3, 6, "nohigh");
        c.plain_sources.push_back(std::move(plain));
    }
    c.arena = arena_alloc(GiB(16), MiB(64));
    c.render.local_folder = as_str(c.local);
    c.parse.local_folder = as_str(c.local);
    for (size_t i = 0; i < c.sources.size(); i += 1) {
        c.source_bytes += c.sources[i].size();
        c.parsed.push_back(parse_one(c.arena, c, as_str(c.paths[i]), as_str(c.sources[i])));
    }
    c.markdown = markdown_corpus();
    for (const std::string &m : c.markdown) c.markdown_bytes += m.size();

    content_cache_create();
    fs_start();
    ShellSettings settings = {};
    settings.local_folder = as_str(c.local);
    settings.web_path = site_relative_path;
    c.shell = shell_create(&settings);
    ShellMessages messages = {};
    shell_setup(c.shell, c.arena, &messages);
    return c;
}

const Corpus &corpus()
{
    static Corpus c = load_corpus();
    return c;
}

// The document's first HTML output path, or a made-up one beside its source.
Str output_of(Arena *arena, const ParsedDocument &doc, const std::string &source_path)
{
    for (StrNode *n = doc.output_paths.first; n; n = n->next)
        if (page_output_is_html(n->string)) return n->string;
    return str_pushf(arena, "%S.html", as_str(source_path));
}

void finish(benchmark::State &state, size_t documents, u64 bytes)
{
    state.SetItemsProcessed((int64_t)(state.iterations() * documents));
    state.SetBytesProcessed((int64_t)(state.iterations() * bytes));
    state.counters["us_per_doc"] = benchmark::Counter((double)(state.iterations() * documents) / 1e6,
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void ParseDocuments(benchmark::State &state)
{
    const Corpus &c = corpus();
    Arena *arena = arena_alloc(GiB(1), MiB(1));
    for (auto _ : state) {
        for (size_t i = 0; i < c.sources.size(); i += 1) {
            ArenaTemp t = temp_begin(arena);
            ParsedDocument doc = parse_one(arena, c, as_str(c.paths[i]), as_str(c.sources[i]));
            benchmark::DoNotOptimize(doc.root);
            temp_end(t);
        }
    }
    finish(state, c.sources.size(), c.source_bytes);
    arena_release(arena);
}
BENCHMARK(ParseDocuments)->Unit(benchmark::kMillisecond);

enum PagePart : u32 { Part_Pages = 1, Part_Raw = 2, Part_Serialize = 4, Part_Folded = 8, Part_Parse = 16, Part_PlainCode = 32 };

// The source a timed parse reads.
const std::string &source_of(const Corpus &c, size_t i, u32 parts)
{
    return (parts & Part_PlainCode) ? c.plain_sources[i] : c.sources[i];
}

void pages(benchmark::State &state, u32 parts)
{
    const Corpus &c = corpus();
    Arena *arena = arena_alloc(GiB(1), MiB(1));
    PageSite site = {};
    site.shell = c.shell;
    // Every finished heading folded into its HTML, as written pages do past
    // page_fold_after_bytes: what folding costs where it happens.
    RenderOptions folded = c.render;
    folded.fold_finished = 1;
    site.render = (parts & Part_Folded) ? &folded : &c.render;
    const PageVariant *variants[2] = {shell_variant(c.shell, PageVariant_Desktop),
                                      shell_variant(c.shell, PageVariant_Smartphone)};
    u64 html_bytes = 0;
    for (auto _ : state) {
        html_bytes = 0;
        for (size_t i = 0; i < c.parsed.size(); i += 1) {
            ArenaTemp document_temp = temp_begin(arena);
            // A build parses a document and builds its pages at once: timed
            // so, the pages find the tree as a build's find it.
            ParsedDocument parsed = {};
            if (parts & Part_Parse) parsed = parse_one(arena, c, as_str(c.paths[i]), as_str(source_of(c, i, parts)));
            const ParsedDocument &doc = (parts & Part_Parse) ? parsed : c.parsed[i];
            PageDocument document = {&doc, as_str(c.paths[i]), as_str(source_of(c, i, parts)), nullptr, nullptr, nullptr};
            // As a build does: the body rendered once, copied into the
            // desktop page and taken by the smartphone's.
            PageBody *body = (parts & Part_Pages) ? page_body_render(arena, &site, &document) : nullptr;
            Str title = page_title_of(arena, &document);
            Str escaped = (parts & Part_Raw) ? page_source_escaped(arena, document.source_text) : str_empty();
            for (const PageVariant *variant : variants) {
                page_body_style(arena, body, variant);
                ArenaTemp t = temp_begin(arena);
                Str desktop = output_of(arena, doc, c.paths[i]);
                Str path = page_variant_is_smartphone(variant) ? page_smartphone_path(arena, desktop) : desktop;
                if (parts & Part_Pages) {
                    PageRecord page = page_build_from(arena, &site, &document, path, variant, body, variant == variants[1]);
                    if (parts & Part_Serialize) html_bytes += html_text_of(arena, page.document, shell_page_write_options(c.shell)).size;
                    benchmark::DoNotOptimize(page.document);
                }
                if (parts & Part_Raw) {
                    PageRecord raw = raw_page_build_escaped(arena, &site, title, escaped, page_raw_path(arena, path), variant);
                    if (parts & Part_Serialize) html_bytes += html_text_of(arena, raw.document, shell_page_write_options(c.shell)).size;
                    benchmark::DoNotOptimize(raw.document);
                }
                temp_end(t);
            }
            temp_end(document_temp);
        }
    }
    finish(state, c.parsed.size(), c.source_bytes);
    state.counters["html_MB"] = (double)html_bytes / 1e6;
    arena_release(arena);
}

void PagesPerDocument(benchmark::State &state) { pages(state, Part_Pages | Part_Raw | Part_Serialize); }
BENCHMARK(PagesPerDocument)->Unit(benchmark::kMillisecond);

void ParseAndPagesPerDocument(benchmark::State &state) { pages(state, Part_Parse | Part_Pages | Part_Raw | Part_Serialize); }
BENCHMARK(ParseAndPagesPerDocument)->Unit(benchmark::kMillisecond);

void ParseAndPagesPlainCode(benchmark::State &state)
{
    pages(state, Part_Parse | Part_Pages | Part_Raw | Part_Serialize | Part_PlainCode);
}
BENCHMARK(ParseAndPagesPlainCode)->Unit(benchmark::kMillisecond);

void PagesPerDocumentFolded(benchmark::State &state) { pages(state, Part_Pages | Part_Raw | Part_Serialize | Part_Folded); }
BENCHMARK(PagesPerDocumentFolded)->Unit(benchmark::kMillisecond);

void PagesBuildOnly(benchmark::State &state) { pages(state, Part_Pages | Part_Raw); }
BENCHMARK(PagesBuildOnly)->Unit(benchmark::kMillisecond);

void RawPagesOnly(benchmark::State &state) { pages(state, Part_Raw | Part_Serialize); }
BENCHMARK(RawPagesOnly)->Unit(benchmark::kMillisecond);

void parse_render_serialize(benchmark::State &state, u32 parts)
{
    const Corpus &c = corpus();
    Arena *arena = arena_alloc(GiB(1), MiB(1));
    PageVariant variant = {};
    variant.kind = PageVariant_Desktop;
    u64 html_bytes = 0;
    for (auto _ : state) {
        html_bytes = 0;
        for (size_t i = 0; i < c.sources.size(); i += 1) {
            ArenaTemp t = temp_begin(arena);
            ParsedDocument doc = parse_one(arena, c, as_str(c.paths[i]), as_str(source_of(c, i, parts)));
            TestPage page = test_page_make(arena);
            render_document(arena, doc.root, page.document, &variant, &c.render);
            if (!node_is_nil(doc.footnotes)) render_document(arena, doc.footnotes, page.b_w, &variant, &c.render);
            html_bytes += html_text_of(arena, page.document, shell_page_write_options(c.shell)).size;
            temp_end(t);
        }
    }
    finish(state, c.sources.size(), c.source_bytes);
    state.counters["html_MB"] = (double)html_bytes / 1e6;
    arena_release(arena);
}

void ParseRenderSerialize(benchmark::State &state) { parse_render_serialize(state, 0); }
BENCHMARK(ParseRenderSerialize)->Unit(benchmark::kMillisecond);

void ParseRenderSerializePlainCode(benchmark::State &state) { parse_render_serialize(state, Part_PlainCode); }
BENCHMARK(ParseRenderSerializePlainCode)->Unit(benchmark::kMillisecond);

void md4c_output(const MD_CHAR *text, MD_SIZE size, void *user)
{
    static_cast<std::string *>(user)->append(text, size);
}

void Md4cHtml(benchmark::State &state)
{
    const Corpus &c = corpus();
    std::string out;
    out.reserve(1 << 20);
    u64 html_bytes = 0;
    for (auto _ : state) {
        html_bytes = 0;
        for (const std::string &m : c.markdown) {
            out.clear();
            md_html(m.data(), (MD_SIZE)m.size(), md4c_output, &out, MD_DIALECT_GITHUB, 0);
            html_bytes += out.size();
            benchmark::DoNotOptimize(out.data());
        }
    }
    finish(state, c.markdown.size(), c.markdown_bytes);
    state.counters["html_MB"] = (double)html_bytes / 1e6;
}
BENCHMARK(Md4cHtml)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
