// test-label: concurrency
//
// A large document's smartphone pages are built by the other worker while
// its own worker builds the desktop pages, in one process with real workers
// and real files: the desktop page's write is held until the smartphone
// page is on disk, which only a second worker can do. Both kinds must come
// out whole and each with its own links.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>   // POSIX only: the Windows build leaves this test out (cmake/windows.cmake)

#include "../test_support.h"
#include "in_process_site.h"
#include "os/file_service.h"
#include "site/build.h"
#include "site/change_detect.h"
#include "site/pages.h"
#include "site/site_run.h"
#include "site/work_share.h"

namespace {

namespace fs = std::filesystem;

struct Writes {
    std::mutex lock;
    std::condition_variable changed;
    std::string hold_until_written;   // the desktop page waits for this path
    std::string held;                 // the desktop page's path
    std::map<std::string, std::thread::id> by;
    bool waited_out = false;
};

void on_written(void *user, Str path)
{
    Writes *w = (Writes *)user;
    std::unique_lock<std::mutex> hold(w->lock);
    std::string written(path.str, path.size);
    w->by[written] = std::this_thread::get_id();
    w->changed.notify_all();
    if (written != w->held) return;
    if (!w->changed.wait_for(hold, std::chrono::seconds(30), [&] { return w->by.count(w->hold_until_written) > 0; }))
        w->waited_out = true;
}

// A document well over the size whose pages are shared: many sections,
// a link to another document, a footnote, and its last words to check
// that a page came out whole.
std::string large_document()
{
    std::string text = "``\ntitle: Large & shared\noutput_path: \"/html/big/large.html\"\n``\n";
    for (int i = 0; text.size() < page_share_from * 2; i += 1) {
        text += "Section " + std::to_string(i) + "\n";
        text += "  Words of section " + std::to_string(i) + " go on for a while, with a < b and \"quotes\", "
                "and see \"/wyn_files/other.wyn\"(the other page) now and then.\n";
        text += "  - an item of section " + std::to_string(i) + "\n";
    }
    text += "Last\n  The very last words [*1].\n  [*1] the only footnote.\n";
    return text;
}

size_t count_of(const std::string &text, const std::string &part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) n += 1;
    return n;
}

} // namespace

TEST(PagesShared, ALargeDocumentsSmartphonePagesAreBuiltBesideItsDesktopPages)
{
    TempFolder temporary("wyn-shared");
    std::string local = temporary.path + "/local/";
    std::string big = local + "wyn_files/big.wyn";
    std::string other = local + "wyn_files/other.wyn";
    std::string source = large_document();
    write_file(other, "``\ntitle: Other\noutput_path: \"/html/other.html\"\n``\nOther\n  Linked from the large one.\n");
    write_file(big, source);
    fs::path html = local + "html/big";

    // The workers outlive the test and may still report a write as the
    // process ends: the record of writes stays for good.
    Writes &writes = *new Writes;
    writes.held = (html / "large.html").string();
    writes.hold_until_written = (html / "large_smartphone.html").string();
    SiteBuild *build = start_site_in_process(local, PageWriteObserver{on_written, &writes}, 2);
    ASSERT_NE(build, nullptr);
    ASSERT_NE(build->share, nullptr) << "two workers share large documents";

    for (const std::string &path : {other, big}) {
        ASSERT_TRUE(site_build_register(as_str(path)));
        ASSERT_TRUE(site_build_submit(as_str(path)));
    }
    site_build_submissions_done();
    ASSERT_TRUE(site_build_wait_quiet(1, now_us() + 120000000)) << "the build never became quiet";

    {
        std::lock_guard<std::mutex> hold(writes.lock);
        EXPECT_FALSE(writes.waited_out) << "the smartphone pages waited for the desktop pages: nobody shared them";
        ASSERT_TRUE(writes.by.count(writes.held) && writes.by.count(writes.hold_until_written));
        EXPECT_NE(writes.by[writes.held], writes.by[writes.hold_until_written])
            << "both kinds of pages were written on one thread";
    }
    EXPECT_GE(atomic_load_u64(&build->share->taken), 1u);

    std::string desktop = read_file(html / "large.html");
    std::string smartphone = read_file(html / "large_smartphone.html");
    std::string raw = read_file(html / "raw_large.html");
    std::string raw_smartphone = read_file(html / "raw_large_smartphone.html");
    for (const std::string *page : {&desktop, &smartphone, &raw, &raw_smartphone}) {
        EXPECT_NE(page->find("</html>"), std::string::npos) << "a page was cut short";
        EXPECT_NE(page->find("<title>Large &amp; shared</title>"), std::string::npos) << "a page lost its title";
    }
    // Each kind links to its own kind of the other page, every time.
    size_t sections = count_of(source, "Section ");
    EXPECT_EQ(count_of(desktop, "html/other.html\""), sections);
    EXPECT_EQ(count_of(smartphone, "html/other_smartphone.html\""), sections);
    EXPECT_EQ(count_of(desktop, "other_smartphone.html"), 0u);
    // Whole, to the last words and the footnote.
    for (const std::string *page : {&desktop, &smartphone}) {
        EXPECT_NE(page->find("The very last words"), std::string::npos);
        EXPECT_NE(page->find("the only footnote."), std::string::npos);
        EXPECT_EQ(count_of(*page, "an item of section "), sections);
    }
    // The raw pages show the whole source, each beside its own page.
    EXPECT_NE(raw.find("[*1] the only footnote."), std::string::npos);
    EXPECT_NE(raw_smartphone.find("[*1] the only footnote."), std::string::npos);
    EXPECT_NE(raw.find("big/large.html\""), std::string::npos);
    EXPECT_NE(raw_smartphone.find("big/large_smartphone.html\""), std::string::npos);
    EXPECT_EQ(site_pages_counts().pages_failed, 0u);
}
