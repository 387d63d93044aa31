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
#include <vector>
#include <unistd.h>   // POSIX only: the Windows build leaves this test out (cmake/windows.cmake)

#include "../test_support.h"
#include "in_process_site.h"
#include "os/file_service.h"
#include "site/build.h"
#include "site/change_detect.h"
#include "site/pages.h"
#include "site/site_outputs.h"
#include "site/site_run.h"
#include "site/work_share.h"

namespace {

namespace fs = std::filesystem;

struct Writes {
    std::mutex lock;
    std::condition_variable changed;
    // A desktop page's path, and the smartphone page's it waits for.
    std::map<std::string, std::string> held;
    std::map<std::string, std::thread::id> by;
    std::vector<std::string> waited_out;
};

void on_written(void *user, Str path)
{
    Writes *w = (Writes *)user;
    std::unique_lock<std::mutex> hold(w->lock);
    std::string written(path.str, path.size);
    w->by[written] = std::this_thread::get_id();
    w->changed.notify_all();
    auto held = w->held.find(written);
    if (held == w->held.end()) return;
    std::string until = held->second;
    if (!w->changed.wait_for(hold, std::chrono::seconds(30), [&] { return w->by.count(until) > 0; }))
        w->waited_out.push_back(written);
}

// A document of at least `size` bytes: many sections, a link to another
// document, a footnote, and its last words to check that a page came out
// whole.
std::string large_document(const std::string &output_path, u64 size)
{
    std::string text = "``\ntitle: Large & shared\noutput_path: \"" + output_path + "\"\n``\n";
    for (int i = 0; text.size() < size; i += 1) {
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

// Checks the four pages of a document made by large_document(), written
// under `folder` as `name`.html and its kinds.
void expect_whole_pages(const fs::path &folder, const std::string &name, const std::string &source)
{
    std::string desktop = read_file(folder / (name + ".html"));
    std::string smartphone = read_file(folder / (name + "_smartphone.html"));
    std::string raw = read_file(folder / ("raw_" + name + ".html"));
    std::string raw_smartphone = read_file(folder / ("raw_" + name + "_smartphone.html"));
    for (const std::string *page : {&desktop, &smartphone, &raw, &raw_smartphone}) {
        EXPECT_NE(page->find("</html>"), std::string::npos) << name << ": a page was cut short";
        EXPECT_NE(page->find("<title>Large &amp; shared</title>"), std::string::npos) << name << ": a page lost its title";
    }
    // Each kind links to its own kind of the other page, every time.
    size_t sections = count_of(source, "Section ");
    EXPECT_EQ(count_of(desktop, "html/other.html\""), sections) << name;
    EXPECT_EQ(count_of(smartphone, "html/other_smartphone.html\""), sections) << name;
    EXPECT_EQ(count_of(desktop, "other_smartphone.html"), 0u) << name;
    // Whole, to the last words and the footnote.
    for (const std::string *page : {&desktop, &smartphone}) {
        EXPECT_NE(page->find("The very last words"), std::string::npos) << name;
        EXPECT_NE(page->find("the only footnote."), std::string::npos) << name;
        EXPECT_EQ(count_of(*page, "an item of section "), sections) << name;
    }
    // The raw pages show the whole source, each beside its own page.
    EXPECT_NE(raw.find("[*1] the only footnote."), std::string::npos) << name;
    EXPECT_NE(raw_smartphone.find("[*1] the only footnote."), std::string::npos) << name;
    EXPECT_NE(raw.find(name + ".html\""), std::string::npos) << name;
    EXPECT_NE(raw_smartphone.find(name + "_smartphone.html\""), std::string::npos) << name;
}

} // namespace

// A large document, and an index past the size up to which other
// documents are shared (long titles make it so): the index is built last of
// all, when nothing else keeps the other worker busy.
TEST(PagesShared, ALargeDocumentsSmartphonePagesAreBuiltBesideItsDesktopPages)
{
    TempFolder temporary("wyn-shared");
    std::string local = temporary.path + "/local/";
    std::string big = local + "wyn_files/big.wyn";
    std::string other = local + "wyn_files/other.wyn";
    std::string big_source = large_document("/html/big/large.html", page_share_from * 2);
    write_file(other, "``\ntitle: Other\noutput_path: \"/html/other.html\"\n``\nOther\n  Linked from the large one.\n");
    write_file(big, big_source);
    std::vector<std::string> sources = {other, big};
    std::vector<std::string> titles;
    for (u64 listed = 0, i = 0; listed <= page_share_until; i += 1) {
        // Each source under the size that is shared, so that only the
        // large one and the index offer pages.
        std::string title = "Title " + std::to_string(i) + " " + std::string(page_share_from - KiB(4), 'a' + (char)(i % 26)) + " end";
        std::string name = "t" + std::to_string(i);
        std::string path = local + "wyn_files/" + name + ".wyn";
        write_file(path, "``\ntitle: " + title + "\noutput_path: \"/html/" + name + ".html\"\n``\nText\n  Words.\n");
        sources.push_back(path);
        titles.push_back(title);
        listed += title.size();
    }
    fs::path html = local + "html";

    // The workers outlive the test and may still report a write as the
    // process ends: the record of writes stays for good.
    Writes &writes = *new Writes;
    writes.held[(html / "big/large.html").string()] = (html / "big/large_smartphone.html").string();
    writes.held[(html / "index.html").string()] = (html / "index_smartphone.html").string();
    SiteBuild *build = start_site_in_process(local, PageWriteObserver{on_written, &writes}, 2);
    ASSERT_NE(build, nullptr);
    ASSERT_NE(build->share, nullptr) << "two workers share large documents";

    for (const std::string &path : sources) {
        ASSERT_TRUE(site_build_register(as_str(path)));
        ASSERT_TRUE(site_build_submit(as_str(path)));
    }
    site_build_submissions_done();
    ASSERT_TRUE(site_build_wait_quiet(1, now_us() + 120000000)) << "the build never became quiet";
    ASSERT_GT(fs::file_size(local + "wyn_files/index.wyn"), page_share_until) << "the index is too small to test";

    {
        std::lock_guard<std::mutex> hold(writes.lock);
        for (const std::string &path : writes.waited_out)
            ADD_FAILURE() << path << " waited for its smartphone page: nobody shared them";
        for (const auto &[desktop, smartphone] : writes.held) {
            ASSERT_TRUE(writes.by.count(desktop) && writes.by.count(smartphone)) << desktop;
            EXPECT_NE(writes.by[desktop], writes.by[smartphone]) << desktop << ": both kinds written on one thread";
        }
    }
    EXPECT_GE(atomic_load_u64(&build->share->taken), 2u);
    // Its own pages change nothing it lists: the listing is made once.
    EXPECT_EQ(site_outputs_counts().index_made, 1u);

    expect_whole_pages(html / "big", "large", big_source);
    // The index: every document listed, each kind linking to its own kind.
    std::string index = read_file(html / "index.html");
    std::string index_smartphone = read_file(html / "index_smartphone.html");
    for (const std::string *page : {&index, &index_smartphone}) EXPECT_NE(page->find("</html>"), std::string::npos);
    for (size_t i = 0; i < titles.size(); i += 1) {
        std::string name = "t" + std::to_string(i);
        EXPECT_EQ(count_of(index, titles[i]), 1u) << name;
        EXPECT_EQ(count_of(index_smartphone, titles[i]), 1u) << name;
        EXPECT_EQ(count_of(index, "html/" + name + ".html\""), 1u) << name;
        EXPECT_EQ(count_of(index_smartphone, "html/" + name + "_smartphone.html\""), 1u) << name;
    }
    EXPECT_EQ(site_pages_counts().pages_failed, 0u);
}
