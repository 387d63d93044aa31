// The cost of highlighting a 1,000-line code block, beside the same block
// without a language. The blocks are wyn's own sources: the first 1,000
// lines of src/**/*.cpp (C++), of tools/ and tests/ *.py (Python), and
// tools/*.sh and .ci/run repeated to 1,000 lines (Bash), so the code is real
// and every checkout measures the same kind of text.
//   RenderPlain/<language>        render the parsed document holding the block
//                                 without a language into a fresh page: the
//                                 reference, the block as wyn wrote it before
//   RenderHighlighted/<language>  the same with the language on the fence
//   HighlightAlone/<language>     the highlighter alone: parse, queries, spans
//   HighlightHtml/<language>      the same and the spans written as HTML, as
//                                 a page gets them
//   HighlightSmall/<language>     the same for the block's first 10 lines, 100
//                                 times: what a block costs beside its bytes
// The target: RenderHighlighted minus RenderPlain at most 5 ms per block.
// Bytes per second are the block's bytes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../tests/render/render_page.h"
#include "bench_support.h"
#include "render/highlight.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> files_under(const std::string &folder, const std::string &extension)
{
    std::vector<std::string> out;
    for (const auto &entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().extension() == extension) out.push_back(entry.path().string());
    std::sort(out.begin(), out.end());
    return out;
}

// The first `lines` lines of the files, in order, repeating them when they
// hold fewer.
std::string first_lines(const std::vector<std::string> &files, u32 lines)
{
    std::string out;
    u32 count = 0;
    while (count < lines) {
        u32 before = count;
        for (const std::string &path : files) {
            std::ifstream in(path);
            std::string line;
            while (count < lines && std::getline(in, line)) {
                // A fence inside the code would end the block early.
                if (line.find("```") != std::string::npos) continue;
                out += line + "\n";
                count += 1;
            }
        }
        if (count == before) break;
    }
    return out;
}

struct Block {
    const char *language;
    std::string code;
};

const std::vector<Block> &blocks()
{
    static std::vector<Block> made = [] {
        std::string root = WYN_SOURCE_DIR;
        std::vector<std::string> python = files_under(root + "/tools", ".py");
        std::vector<std::string> more = files_under(root + "/tests", ".py");
        python.insert(python.end(), more.begin(), more.end());
        std::vector<std::string> shell = files_under(root + "/tools", ".sh");
        shell.push_back(root + "/.ci/run");
        return std::vector<Block>{
            {"cpp", first_lines(files_under(root + "/src", ".cpp"), 1000)},
            {"python", first_lines(python, 1000)},
            {"bash", first_lines(shell, 1000)},
        };
    }();
    return made;
}

struct Parsed {
    Arena *arena;
    ParsedDocument doc;
    std::string source;
};

Parsed *parsed(u32 index, bool with_language)
{
    static Parsed *documents[2][8] = {};
    Parsed *&slot = documents[with_language][index];
    if (!slot) {
        slot = new Parsed{arena_alloc(MiB(256), KiB(64)), {}, {}};
        const Block &b = blocks()[index];
        slot->source = std::string("```") + (with_language ? b.language : "") + "\n" + b.code + "```\n";
        slot->doc = test_parse(slot->arena, as_str(slot->source), &test_parse_options);
    }
    return slot;
}

void render(benchmark::State &state, bool with_language)
{
    u32 index = (u32)state.range(0);
    Parsed *p = parsed(index, with_language);
    Arena *arena = arena_alloc(MiB(256), KiB(64));
    u64 html = 0;
    for (auto _ : state) {
        // A document's second page reuses the first's blocks; this is the first.
        highlight_forget();
        ArenaTemp temp = temp_begin(arena);
        TestPage page = test_page_make(arena);
        render_document(arena, p->doc.root, page.document, nullptr, &test_render_options);
        html = test_serialize(arena, page.b_w).size();
        temp_end(temp);
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * blocks()[index].code.size()));
    state.SetLabel(std::string(blocks()[index].language) + ", " + std::to_string(blocks()[index].code.size()) +
                   " bytes, " + std::to_string(html) + " bytes of HTML");
    arena_release(arena);
}

void RenderPlain(benchmark::State &state) { render(state, false); }
void RenderHighlighted(benchmark::State &state) { render(state, true); }

void HighlightAlone(benchmark::State &state)
{
    const Block &b = blocks()[(u32)state.range(0)];
    u32 language = highlight_language_from_word(as_str(std::string(b.language)));
    Arena *arena = arena_alloc(MiB(64), KiB(64));
    u64 spans = 0;
    for (auto _ : state) {
        ArenaTemp temp = temp_begin(arena);
        HighlightSpans out = {};
        if (!highlight_spans(arena, language, as_str(b.code), &out)) state.SkipWithError("not highlighted");
        spans = out.count;
        temp_end(temp);
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * b.code.size()));
    state.SetLabel(std::string(b.language) + ", " + std::to_string(spans) + " spans");
    arena_release(arena);
}

void HighlightHtml(benchmark::State &state)
{
    const Block &b = blocks()[(u32)state.range(0)];
    u32 language = highlight_language_from_word(as_str(std::string(b.language)));
    Arena *arena = arena_alloc(MiB(64), KiB(64));
    u64 html = 0;
    for (auto _ : state) {
        highlight_forget();
        ArenaTemp temp = temp_begin(arena);
        html = highlight_html(arena, language, as_str(b.code)).size;
        if (html == 0) state.SkipWithError("not highlighted");
        temp_end(temp);
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * b.code.size()));
    state.SetLabel(std::string(b.language) + ", " + std::to_string(html) + " bytes of HTML");
    arena_release(arena);
}

// The blocks of most documents are a few lines long, where what a block
// costs beside its bytes (a parser and a query cursor made, the tree
// dropped) shows: the first 10 lines of each block, 100 times a round.
void HighlightSmall(benchmark::State &state)
{
    const Block &b = blocks()[(u32)state.range(0)];
    u32 language = highlight_language_from_word(as_str(std::string(b.language)));
    std::string code;
    for (size_t at = 0, lines = 0; at < b.code.size() && lines < 10; lines += 1) {
        size_t end = b.code.find('\n', at);
        end = end == std::string::npos ? b.code.size() : end + 1;
        code += b.code.substr(at, end - at);
        at = end;
    }
    Arena *arena = arena_alloc(MiB(64), KiB(64));
    for (auto _ : state) {
        for (int i = 0; i < 100; i += 1) {
            ArenaTemp temp = temp_begin(arena);
            HighlightSpans out = {};
            if (!highlight_spans(arena, language, as_str(code), &out)) state.SkipWithError("not highlighted");
            benchmark::DoNotOptimize(out.count);
            temp_end(temp);
        }
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * 100 * code.size()));
    state.SetLabel(std::string(b.language) + ", " + std::to_string(code.size()) + " bytes");
    arena_release(arena);
}

BENCHMARK(RenderPlain)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(RenderHighlighted)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(HighlightAlone)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(HighlightHtml)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(HighlightSmall)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
