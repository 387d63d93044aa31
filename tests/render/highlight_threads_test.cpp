// test-label: concurrency
//
// Parser workers highlight blocks at the same time. A language's query is
// built by whichever thread meets the language first and then shared;
// parsers and cursors are each thread's own. Threads that start together,
// before any query exists, must each get the HTML a single thread gets,
// and threads that end free their parsers without touching the shared
// queries.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "render/highlight.h"

namespace {

const char *const code =
    "int main() { return puts(\"x\"); } // c\n"
    "def f(x): return [1, 'a'] # p\n"
    "fn g() -> u8 { let v = vec![1]; 2 }\n"
    "<a href=\"u\">t &amp; s</a>\n";

std::string highlighted(Arena *arena, u32 language)
{
    ArenaTemp temp = temp_begin(arena);
    Str html = highlight_html(arena, language, str_from_cstring(code));
    std::string out(html.str, html.size);
    temp_end(temp);
    return out;
}

TEST(HighlightThreads, BlocksHighlightedTogetherMatchBlocksHighlightedAlone)
{
    const u32 threads = 4;
    const u32 rounds = 5;
    std::atomic<u32> ready{0};
    std::vector<std::vector<std::string>> results(threads);
    std::vector<std::thread> workers;
    for (u32 t = 0; t < threads; t += 1)
        workers.emplace_back([&, t] {
            Arena *arena = arena_alloc(MiB(16), KiB(64));
            ready.fetch_add(1);
            while (ready.load() < threads) std::this_thread::yield();
            for (u32 r = 0; r < rounds; r += 1)
                // Each thread walks the languages from another one, so first
                // uses meet on different languages.
                for (u32 i = 0; i < highlight_grammar_count; i += 1)
                    results[t].push_back(highlighted(arena, 1 + (i + t * 3) % highlight_grammar_count));
            arena_release(arena);
        });
    for (std::thread &w : workers) w.join();

    Arena *arena = arena_alloc(MiB(16), KiB(64));
    std::vector<std::string> alone;
    for (u32 l = 1; l <= highlight_grammar_count; l += 1) alone.push_back(highlighted(arena, l));
    arena_release(arena);
    for (const std::string &html : alone) EXPECT_FALSE(html.empty());
    for (u32 t = 0; t < threads; t += 1) {
        ASSERT_EQ(results[t].size(), rounds * highlight_grammar_count);
        for (u32 k = 0; k < results[t].size(); k += 1) {
            u32 i = k % highlight_grammar_count;
            EXPECT_EQ(results[t][k], alone[(i + t * 3) % highlight_grammar_count]) << "thread " << t << ", block " << k;
        }
    }
}

} // namespace
