// test-label: concurrency
//
// Parser workers shell their pages at the same time, reading the templates
// through the file service: every worker gets the page one worker alone
// gets, from the frame kept for its kind as from the frame made whole, and
// each template is parsed and each frame made once however many pages ask.
#include "shell_support.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "os/file_service.h"

TEST(ShellThreads, WorkersShareOneParseOfEachTemplateAndGetEqualPages)
{
    content_cache_create();
    FileServiceConfig config = {};
    config.full_pass_ms = 300;
    ASSERT_NE(fs_start_with(&config), nullptr);

    TempSite site;
    write_bytes(site.path("shared/html/default_menu_desktop.html"),
                "<nav id=\"menu\"><ul><li><a href=\"/\">Home</a></li><li><a href=\"/b.html\">B</a></li></ul></nav>");
    write_bytes(site.path("shared/css/fonts.css"), "a{src:url('/shared/fonts/a.ttf')}");
    Arena *arena = arena_alloc(MiB(64), KiB(64));
    ShellSettings settings = shell_settings_for(site.local, false, false);
    Shell *shell = shell_create(&settings);
    ShellMessages setup_messages = {};
    shell_setup(shell, arena, &setup_messages);
    ASSERT_EQ(setup_messages.log.count, 0u);
    EXPECT_EQ(read_bytes(site.path("html/shared/css/fonts.css")), "a{src:url('file://" + site.local + "shared/fonts/a.ttf')}");

    PageVariant alone_variant = {};
    alone_variant.kind = PageVariant_Desktop;
    std::string alone = tree_text(arena, page_shell_apply(arena, shell, &html_none, &alone_variant, nullptr));
    ASSERT_NE(alone.find("b.html\">B</a>"), std::string::npos);

    const u32 threads = 4, rounds = 50;
    std::vector<std::string> mismatches(threads);
    std::mutex done_lock;
    std::condition_variable done_signal;
    u32 done = 0;
    std::vector<std::thread> workers;
    for (u32 t = 0; t < threads; t += 1)
        workers.emplace_back([&, t] {
            Arena *own = arena_alloc(MiB(256), KiB(64));
            PageVariant variant = {};
            for (u32 r = 0; r < rounds; r += 1) {
                variant.kind = r % 2 ? PageVariant_Smartphone : PageVariant_Desktop;
                ArenaTemp temp = temp_begin(own);
                HtmlElement *page = r % 4 < 2 ? page_frame(own, shell, &variant, nullptr)
                                              : page_shell_apply(own, shell, &html_none, &variant, nullptr);
                std::string text = tree_text(own, page);
                if (variant.kind == PageVariant_Desktop && text != alone) mismatches[t] = "round " + std::to_string(r);
                if (variant.kind == PageVariant_Smartphone && text.find("id=\"menu\"") == std::string::npos)
                    mismatches[t] = "no menu in round " + std::to_string(r);
                temp_end(temp);
            }
            arena_release(own);
            std::lock_guard<std::mutex> hold(done_lock);
            done += 1;
            done_signal.notify_all();
        });
    {
        std::unique_lock<std::mutex> hold(done_lock);
        bool finished = done_signal.wait_for(hold, std::chrono::seconds(60), [&] { return done == threads; });
        if (!finished) {
            ADD_FAILURE() << "workers did not finish shelling their pages within 60 s";
            for (std::thread &w : workers) w.detach();
            return;
        }
    }
    for (std::thread &w : workers) w.join();
    for (u32 t = 0; t < threads; t += 1) EXPECT_EQ(mismatches[t], "") << "worker " << t;
    EXPECT_EQ(shell->heads[0].load_count, 1u);
    EXPECT_EQ(shell->heads[1].load_count, 1u);
    EXPECT_EQ(shell->menus[0].load_count, 1u);
    EXPECT_EQ(shell->menus[1].load_count, 1u);
    EXPECT_EQ(shell->frames[0].made_count, 1u);
    EXPECT_EQ(shell->frames[1].made_count, 1u);
    arena_release(arena);
}
