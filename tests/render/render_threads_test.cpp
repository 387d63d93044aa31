// test-label: concurrency
//
// Parser workers render different documents at the same time. The renderer
// shares only constant tables and one table of allowed parents that is
// worked out on first use, so the first renders race to it: threads that
// start together must each get the page a single thread gets.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "render_page.h"

namespace {

const char *const documents[] = {
    ("``\ntitle: Many __threads__\ncategory: a;b\n``\nTop\n  text [*1] and \"https://x.org\"(site) a<b\n  . one\n  . two\n"
     "    a. deep\n> quoted\n  > nested\n  [*1] note\n"),
    "H\n  ``author: Jo | remark: x`` and ```co<de``` _bold_ __em__\n  | a | b |\n  |---|---|\n  | 1 | 2 |\n",
    "    deeper heading\n  para with _\"img/p.png\"(3x4) image\n---\n  1. x\n  2. y\n",
};

std::string render_text(Arena *arena, const char *source, u32 kind)
{
    TestPage page = test_render(arena, source, kind);
    return test_serialize(arena, page.document);
}

TEST(RenderThreads, PagesRenderedTogetherMatchPagesRenderedAlone)
{

    const u32 threads = 4;
    const u32 rounds = 20;
    std::atomic<u32> ready{0};
    std::vector<std::vector<std::string>> results(threads);
    std::vector<std::thread> workers;
    for (u32 t = 0; t < threads; t += 1)
        workers.emplace_back([&, t] {
            Arena *arena = arena_alloc(MiB(64), KiB(64));
            ready.fetch_add(1);
            while (ready.load() < threads) std::this_thread::yield();
            for (u32 r = 0; r < rounds; r += 1)
                for (const char *d : documents)
                    for (u32 kind : {(u32)PageVariant_Desktop, (u32)PageVariant_Smartphone}) {
                        ArenaTemp temp = temp_begin(arena);
                        results[t].push_back(render_text(arena, d, kind));
                        temp_end(temp);
                    }
            arena_release(arena);
        });
    for (std::thread &w : workers) w.join();

    Arena *arena = arena_alloc(MiB(64), KiB(64));
    std::vector<std::string> alone;
    for (const char *d : documents)
        for (u32 kind : {(u32)PageVariant_Desktop, (u32)PageVariant_Smartphone}) alone.push_back(render_text(arena, d, kind));
    arena_release(arena);

    for (u32 t = 0; t < threads; t += 1) {
        ASSERT_EQ(results[t].size(), rounds * alone.size());
        for (u64 i = 0; i < results[t].size(); i += 1)
            ASSERT_EQ(results[t][i], alone[i % alone.size()]) << "thread " << t << ", page " << i;
    }
    EXPECT_NE(alone[0].find("<em"), std::string::npos);   // the pages hold what they should
    EXPECT_NE(alone[0].find("<h1 style="), std::string::npos);
}

} // namespace
