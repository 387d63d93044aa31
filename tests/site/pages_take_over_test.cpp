// test-label: concurrency
//
// One output path changing hands while both documents are built, in one
// process with real workers and real files: B takes the path from X, and
// X's source is deleted while B is still writing the pages. X's build,
// which gives the pages up on the other worker, must leave alone the ones
// B has written already, even where they are the very bytes X wrote (the
// raw page of the same source text is).
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <unistd.h>   // POSIX only: the Windows build leaves this test out (cmake/windows.cmake)

#include "../test_support.h"
#include "in_process_site.h"
#include "os/file_service.h"
#include "site/build.h"
#include "site/change_detect.h"
#include "site/site_run.h"

namespace {

namespace fs = std::filesystem;

// Holds the worker that writes `block_on` until the test lets it go.
struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    std::string block_on;
    bool blocked = false;
    bool released = false;
};

void on_written(void *user, Str path)
{
    Gate *gate = (Gate *)user;
    std::unique_lock<std::mutex> hold(gate->lock);
    if (gate->block_on.empty() || std::string(path.str, path.size) != gate->block_on) return;
    gate->blocked = true;
    gate->changed.notify_all();
    gate->changed.wait_for(hold, std::chrono::seconds(60), [&] { return gate->released; });
}

u64 build_count(SiteBuild *build, const std::string &path)
{
    DocumentRecord *record = doc_find(as_str(path));
    if (!record) return 0;
    Str key = as_str(path);
    TableStripe *stripe = striped_stripe_of(&build->documents, striped_bucket_of(&build->documents, doc_path_hash(build, key)));
    srw_lock_shared(stripe->slim);
    u64 count = record->build_count;
    srw_unlock_shared(stripe->slim);
    return count;
}

u64 bucket_of(SiteBuild *build, const std::string &path)
{
    return striped_bucket_of(&build->documents, doc_path_hash(build, as_str(path)));
}

} // namespace

TEST(PagesTakeOver, PagesTheNewOwnerWroteSurviveTheOldOwnerGivingThemUp)
{
    TempFolder temporary("wyn-take");
    std::string local = temporary.path + "/local/";
    // A renamed source: the same text, so the same pages.
    const std::string text = "``\ntitle: Taken\noutput_path: \"/html/take/p.html\"\n``\nSame\n  The same text in both.\n";

    // The workers outlive the test and may still report a write as the
    // process ends: the gate stays for good.
    Gate &gate = *new Gate;
    SiteBuild *build = start_site_in_process(local, PageWriteObserver{on_written, &gate}, 2);
    ASSERT_NE(build, nullptr);

    // B must come first among the two, so it takes the path while X holds
    // it: documents rank by their bucket in the table.
    std::string x, b;
    for (int i = 0; i < 1000 && b.empty(); i += 1) {
        std::string first = local + "wyn_files/b" + std::to_string(i) + ".wyn";
        std::string second = local + "wyn_files/x" + std::to_string(i) + ".wyn";
        if (bucket_of(build, first) < bucket_of(build, second)) b = first, x = second;
    }
    ASSERT_FALSE(b.empty());

    write_file(x, text);
    ASSERT_TRUE(site_build_register(as_str(x)));
    ASSERT_TRUE(site_build_submit(as_str(x)));
    site_build_submissions_done();
    ASSERT_TRUE(site_build_wait_quiet(1, now_us() + 60000000)) << "the first build never became quiet";
    fs::path html = local + "html/take";
    for (const char *page : {"p.html", "raw_p.html", "p_smartphone.html", "raw_p_smartphone.html"})
        ASSERT_TRUE(fs::exists(html / page)) << page;

    // Pages B finds as it would write them are left as they are, and a
    // worker is only held where it writes: the desktop page is changed by
    // hand, so B writes it again, X's bytes once more. B's worker is held
    // right after; meanwhile X's source goes, and the other worker builds
    // X without it.
    std::string x_page = read_file(html / "p.html");
    write_file(html / "p.html", x_page + "<!-- changed by hand -->");
    {
        std::lock_guard<std::mutex> hold(gate.lock);
        gate.block_on = (html / "p.html").string();
    }
    write_file(b, text);
    ASSERT_TRUE(site_build_register(as_str(b)));
    ASSERT_TRUE(site_build_submit(as_str(b)));
    {
        std::unique_lock<std::mutex> hold(gate.lock);
        ASSERT_TRUE(gate.changed.wait_for(hold, std::chrono::seconds(30), [&] { return gate.blocked; }))
            << "B never wrote its desktop page";
    }
    u64 x_builds = build_count(build, x);
    fs::remove(x);
    bool x_built = wait_for([&] { return build_count(build, x) > x_builds; });
    // Counted while B is held, so the site cannot be quiet yet: read after
    // the release, a busy machine could let it go quiet first, and the wait
    // below would be for a quiet spell that never comes.
    u64 quiet = detector_counts().quiet_count;
    {
        std::lock_guard<std::mutex> hold(gate.lock);
        gate.released = true;
        gate.changed.notify_all();
    }
    ASSERT_TRUE(x_built) << "X was never built after its source was deleted";
    ASSERT_TRUE(site_build_wait_quiet(quiet + 1, now_us() + 60000000)) << "the site never became quiet again";

    for (const char *page : {"p.html", "raw_p.html", "p_smartphone.html", "raw_p_smartphone.html"})
        EXPECT_TRUE(fs::exists(html / page)) << page << " is gone though B still makes it";
    EXPECT_EQ(read_file(html / "p.html"), x_page);
}
