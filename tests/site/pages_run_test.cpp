// End to end: the real wyn builds the fixture site tests/sites/pages in a
// temporary folder, and the tests look at what lands in local/html/.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include "fixture_site.h"
#include "shell/page_build.h"

namespace fs = std::filesystem;

namespace {

using namespace fixture;

bool balanced(const fs::path &page)
{
    std::string command = "/usr/bin/python3 " + std::string(WYN_SOURCE_DIR) + "/tests/site/page_balanced.py " +
                          page.string() + " > /dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

const std::set<std::string> expected_pages = {
    "handmade.html",
    "home.html", "home_smartphone.html", "raw_home.html", "raw_home_smartphone.html",
    "notes/second.html", "notes/second_smartphone.html", "notes/raw_second.html", "notes/raw_second_smartphone.html",
    "refused_ok.html", "refused_ok_smartphone.html", "raw_refused_ok.html", "raw_refused_ok_smartphone.html",
    "context.html", "context_smartphone.html", "raw_context.html", "raw_context_smartphone.html",
    "notes/anchors.html", "notes/anchors_smartphone.html", "notes/raw_anchors.html", "notes/raw_anchors_smartphone.html",
    "website.html", "website_smartphone.html", "raw_website.html", "raw_website_smartphone.html",
    // The generated index document's home page.
    "index.html", "index_smartphone.html", "raw_index.html", "raw_index_smartphone.html",
};

std::set<std::string> names(const std::map<std::string, fs::file_time_type> &files)
{
    std::set<std::string> out;
    for (const auto &[name, time] : files) out.insert(name);
    return out;
}

} // namespace

TEST(PagesRun, WritesExactlyThePagesOfPublishedDocumentsAndRefusesUnsafePaths)
{
    FixtureSite site("pages");
    std::string out = run_until_quiet(site);
    EXPECT_EQ(names(html_files(site)), expected_pages);
    // Nothing outside html/ either: no drive folder, nothing above local.
    EXPECT_FALSE(fs::exists(site.root / "outside.html"));
    EXPECT_FALSE(fs::exists(site.root / "escape.html"));
    EXPECT_FALSE(fs::exists(site.root / "C:"));
    EXPECT_EQ(read_file(site.local / "shared/html/default_menu_desktop.html").find("Refused"), std::string::npos);
    for (const char *line : {"refused.wyn:3:1", "refused.wyn:4:1", "refused.wyn:5:1", "refused.wyn:6:1"})
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    EXPECT_NE(out.find("drive path"), std::string::npos);
    EXPECT_NE(out.find("into shared"), std::string::npos);
    for (const auto &[name, time] : html_files(site))
        EXPECT_TRUE(balanced(site.html(name))) << name << " does not parse into balanced elements";

    // Pages carry the body; raw pages escape and link back.
    std::string desktop = read_file(site.html("home.html"));
    std::string phone = read_file(site.html("home_smartphone.html"));
    std::string local = site.local.string() + "/";
    EXPECT_NE(desktop.find("<title>Home &amp; &lt;garden&gt;</title>"), std::string::npos);
    // Tables from the table model, the ticked column marked.
    EXPECT_NE(desktop.find("<thead class=\"Ib\"><tr class=\"Bb\"><th class=\"Fb"), std::string::npos);
    EXPECT_NE(desktop.find("<th class=\"Eb"), std::string::npos);
    EXPECT_NE(desktop.find("<td class=\"Cb"), std::string::npos);
    // Toggles by variant, the table of contents in the top right.
    EXPECT_NE(desktop.find("class=\"toggle-content_ kb"), std::string::npos);
    EXPECT_NE(phone.find("class=\"toggle-content_fixed kb"), std::string::npos);
    EXPECT_NE(desktop.find("id=\"toc_container\""), std::string::npos);
    // A file that is not a page keeps its address on both pages.
    std::string csv = "href=\"file://" + local + "assets/files/list.csv\"";
    EXPECT_NE(desktop.find(csv), std::string::npos);
    EXPECT_NE(phone.find(csv), std::string::npos);
    // Each page links to its own raw page.
    EXPECT_NE(desktop.find("href=\"file://" + local + "html/raw_home.html\""), std::string::npos);
    EXPECT_NE(phone.find("href=\"file://" + local + "html/raw_home_smartphone.html\""), std::string::npos);
    // Every link to a page on the smartphone page goes to a smartphone page.
    for (size_t at = phone.find("href=\"file://"); at != std::string::npos; at = phone.find("href=\"file://", at + 1)) {
        std::string href = phone.substr(at + 6, phone.find('"', at + 6) - at - 6);
        std::string path = href.substr(0, href.find('#'));
        if (path.size() > 5 && path.substr(path.size() - 5) == ".html" && path.find("/raw_") == std::string::npos) {
            EXPECT_NE(path.find("_smartphone.html"), std::string::npos) << href;
        }
    }
    std::string raw = read_file(site.html("raw_home.html"));
    EXPECT_NE(raw.find("Tomatoes &amp; beans grow where a &lt; b and c &gt; d"), std::string::npos);
    EXPECT_NE(raw.find("title: Home &amp; &lt;garden&gt;"), std::string::npos);
    EXPECT_NE(raw.find("href=\"file://" + local + "html/home.html\""), std::string::npos);
    std::string raw_phone = read_file(site.html("raw_home_smartphone.html"));
    EXPECT_NE(raw_phone.find("href=\"file://" + local + "html/home_smartphone.html\""), std::string::npos);
}

// Run after run on one site: nothing changed rewrites nothing, a deleted
// page comes back, a page edited by hand is made again, and a page made
// personal disappears while hand-made files stay.
TEST(PagesRun, LaterRunsRestoreWhatIsMissingAndRemoveOnlyWhatIsNoLongerProduced)
{
    FixtureSite site("pages");
    run_until_quiet(site);
    auto first = html_files(site);
    auto manifest_time = fs::last_write_time(site.html(".wyn_manifest"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    run_until_quiet(site);
    EXPECT_EQ(html_files(site), first) << "a run with nothing changed rewrote a page";
    EXPECT_EQ(fs::last_write_time(site.html(".wyn_manifest")), manifest_time);

    std::string before = read_file(site.html("notes/second.html"));
    fs::remove(site.html("notes/second.html"));
    write_file(site.html("refused_ok.html"), "edited by hand");
    run_until_quiet(site);
    EXPECT_EQ(read_file(site.html("notes/second.html")), before);
    EXPECT_NE(read_file(site.html("refused_ok.html")), "edited by hand");

    std::string source = read_file(site.local / "wyn_files/notes/second.wyn");
    source.insert(source.find("output_path"), "status: personal\n");
    write_file(site.local / "wyn_files/notes/second.wyn", source);
    // A page of the refused document edited by hand, then its source gone.
    write_file(site.html("refused_ok_smartphone.html"), "mine now");
    fs::remove(site.local / "wyn_files/refused.wyn");
    std::string out = run_until_quiet(site);
    auto files = names(html_files(site));
    for (const char *gone : {"notes/second.html", "notes/second_smartphone.html", "notes/raw_second.html",
                             "notes/raw_second_smartphone.html", "refused_ok.html", "raw_refused_ok.html"})
        EXPECT_EQ(files.count(gone), 0u) << gone;
    EXPECT_EQ(read_file(site.html("refused_ok_smartphone.html")), "mine now");
    EXPECT_NE(out.find("refused_ok_smartphone.html is no longer produced"), std::string::npos) << out;
    EXPECT_TRUE(fs::exists(site.html("handmade.html")));
    EXPECT_TRUE(fs::exists(site.html("home.html")));
}

// Every table a document takes from a CSV file starts at the same places
// of its own text: each must still get its own rows, on both pages.
TEST(PagesRun, TablesFromTwoFilesEachHoldTheirOwnRows)
{
    FixtureSite site("pages");
    write_file(site.local / "assets/files/walks.csv", "month;km\nMay;12\nJune;30\n");
    write_file(site.local / "wyn_files/two_tables.wyn",
               "``\ntitle: Two tables\noutput_path: \"/html/two_tables.html\"\n``\nFigures\n"
               "  _\"/assets/files/list.csv\"\n  and the walks\n  _\"/assets/files/walks.csv\"\n");
    run_until_quiet(site);
    for (const char *name : {"two_tables.html", "two_tables_smartphone.html"}) {
        SCOPED_TRACE(name);
        std::string page = read_file(site.html(name));
        std::vector<std::string> tables;
        for (size_t at = page.find("<table"); at != std::string::npos; at = page.find("<table", at + 1))
            tables.push_back(page.substr(at, page.find("</table>", at) - at));
        ASSERT_EQ(tables.size(), 2u) << page;
        for (const std::string &table : tables) {
            size_t heads = 0;
            for (size_t at = table.find("<thead"); at != std::string::npos; at = table.find("<thead", at + 1)) heads += 1;
            EXPECT_EQ(heads, 1u) << table;
        }
        EXPECT_NE(tables[0].find(">a</th>"), std::string::npos) << tables[0];
        EXPECT_NE(tables[0].find(">2</td>"), std::string::npos) << tables[0];
        EXPECT_EQ(tables[0].find("May"), std::string::npos) << tables[0];
        EXPECT_NE(tables[1].find(">month</th>"), std::string::npos) << tables[1];
        EXPECT_NE(tables[1].find(">May</td>"), std::string::npos) << tables[1];
        EXPECT_NE(tables[1].find(">30</td>"), std::string::npos) << tables[1];
    }
}

// A link in a CSV file's cell is a link of the document that shows the
// table: a document's link leads to that document's page of the same
// kind, and a missing file is told at the line that embeds the file.
TEST(PagesRun, LinksInATableFromAFileAreCheckedAndLeadToPages)
{
    FixtureSite site("pages");
    write_file(site.local / "assets/files/links.csv",
               "what;where\nnotes;\"/wyn_files/notes/second.wyn\"(second)\ngone;\"/assets/files/nope.pdf\"(lost)\n");
    write_file(site.local / "wyn_files/linked_table.wyn",
               "``\ntitle: Linked table\noutput_path: \"/html/linked_table.html\"\n``\nFigures\n"
               "  _\"/assets/files/links.csv\"\n");
    std::string out = run_until_quiet(site);
    std::string local = site.local.string() + "/";
    std::string desktop = read_file(site.html("linked_table.html"));
    std::string phone = read_file(site.html("linked_table_smartphone.html"));
    EXPECT_NE(desktop.find("href=\"file://" + local + "html/notes/second.html\">second</a>"), std::string::npos) << desktop;
    EXPECT_NE(phone.find("href=\"file://" + local + "html/notes/second_smartphone.html\">second</a>"), std::string::npos)
        << phone;
    EXPECT_EQ(desktop.find("wyn_files/notes/second.wyn\""), std::string::npos) << desktop;
    // The missing file shows as a broken link, and is told at line 6.
    EXPECT_EQ(desktop.find("href=\"file://" + local + "assets/files/nope.pdf\""), std::string::npos) << desktop;
    EXPECT_NE(desktop.find(">lost</span>"), std::string::npos) << desktop;
    size_t told = out.find("nope.pdf is missing");
    ASSERT_NE(told, std::string::npos) << out;
    EXPECT_NE(out.find("linked_table.wyn:6:", told), std::string::npos) << out;
}

namespace {

// Where each word first stands in the page's body; a missing word fails.
std::vector<size_t> body_places(const std::string &html, const char *page, std::initializer_list<const char *> words)
{
    std::vector<size_t> at;
    size_t body = html.find("<body");
    EXPECT_NE(body, std::string::npos) << page;
    for (const char *word : words) {
        at.push_back(html.find(word, body == std::string::npos ? 0 : body));
        EXPECT_NE(at.back(), std::string::npos) << page << ": " << word;
    }
    return at;
}

} // namespace

// Blocks after a quote or a separator line show after it, in the order the
// author wrote them; a table or a quote written in a list item shows in
// that item, before the items that follow it, and the list goes on
// numbered after a quote; a table after the list stays out of it. On both
// pages.
TEST(PagesRun, BlocksShowInTheOrderOfTheirLinesAndListItemsHoldTheirs)
{
    FixtureSite site("pages");
    write_file(site.local / "wyn_files/order.wyn",
               "``\ntitle: Order\noutput_path: \"/html/order.html\"\n``\nFirst\n  opening words\n"
               "  > quoted words\n  | tableheading | b |\n  |---|---|\n  | tablecell | 2 |\n"
               "  ```\n  codeline\n  ```\n  ---\n  ;semicolonhead;c\n  semicoloncell;3\n");
    write_file(site.local / "wyn_files/steps.wyn",
               "``\ntitle: Steps\noutput_path: \"/html/steps.html\"\n``\nSteps\n  1. firststep\n"
               "     | tool | version |\n     |---|---|\n     | gcctool | 12 |\n  2. secondstep\n"
               "     > quotedstep\n  3. thirdstep\n  | after | list |\n  |---|---|\n  | afterlist | 4 |\n");
    write_file(site.local / "wyn_files/split.wyn",
               "``\ntitle: Split\noutput_path: \"/html/split.html\"\n``\nSplit\n  1. oneitem\n  ``\n  remark: r\n  ``\n"
               "  2. twoitem\n  a line between\n  3. threeitem\n     ``\n     remark: in it\n     ``\n");
    write_file(site.local / "wyn_files/quotes.wyn",
               "``\ntitle: Quotes\noutput_path: \"/html/quotes.html\"\n``\nLines\n  > rightunder\n  afterquote\n"
               "Text\n  some words\n  > afterwords\n");
    std::string out = run_until_quiet(site);
    // A list split by a context or a line goes on with the numbers written,
    // and a context in an item, or at the markers' column, is no mistake.
    EXPECT_EQ(out.find("context's indentation"), std::string::npos) << out;
    for (const char *page : {"split.html", "split_smartphone.html"}) {
        std::string html = read_file(site.html(page));
        for (const char *item : {">1.</span>oneitem", ">2.</span>twoitem", ">3.</span>threeitem"})
            EXPECT_NE(html.find(item), std::string::npos) << page << ": " << item << "\n" << html;
    }
    // A quote right under its heading's line is in the section as one after
    // a line of text is: the same margin, and the text after it stays too.
    for (const char *page : {"quotes.html", "quotes_smartphone.html"}) {
        std::string html = read_file(site.html(page));
        auto quote_tag = [&](const char *word) {
            size_t at = html.find(word);
            size_t open = at == std::string::npos ? at : html.rfind("<div class=\"Ta", at);
            return open == std::string::npos ? std::string() : html.substr(open, html.find('>', open) - open);
        };
        std::string under = quote_tag("rightunder"), after = quote_tag("afterwords");
        ASSERT_NE(under.find("margin-left:"), std::string::npos) << page << "\n" << html;
        EXPECT_EQ(under.substr(under.find("margin-left:")), after.substr(after.find("margin-left:"))) << page;
    }
    for (const char *page : {"order.html", "order_smartphone.html"}) {
        std::string html = read_file(site.html(page));
        std::vector<size_t> at = body_places(
            html, page, {"opening", "quoted", "tableheading", "tablecell", "codeline", "semicolonhead", "semicoloncell"});
        EXPECT_TRUE(std::is_sorted(at.begin(), at.end())) << page << "\n" << html;
    }
    for (const char *page : {"steps.html", "steps_smartphone.html"}) {
        std::string html = read_file(site.html(page));
        std::vector<size_t> at = body_places(html, page, {"firststep", "gcctool", "secondstep", "quotedstep", "thirdstep"});
        if (std::count(at.begin(), at.end(), std::string::npos)) continue;
        EXPECT_TRUE(std::is_sorted(at.begin(), at.end())) << page << "\n" << html;
        // The table is inside the first item, the quote inside the second.
        EXPECT_EQ(html.find("</li>", at[0]), html.find("</li>", at[1])) << page << "\n" << html;
        EXPECT_EQ(html.find("</li>", at[2]), html.find("</li>", at[3])) << page << "\n" << html;
        EXPECT_NE(html.find(">3.</span>thirdstep"), std::string::npos) << page << "\n" << html;
        // A table at the markers' column after the list is not in it.
        size_t after = html.find("afterlist");
        EXPECT_NE(after, std::string::npos) << page;
        EXPECT_LT(html.find("</ol>", at[4]), after) << page << "\n" << html;
    }
}

TEST(PagesRun, AFailedWriteWarnsAndTheOtherPagesAreWritten)
{
    FixtureSite site("pages");
    fs::create_directories(site.html("home_smartphone.html"));
    std::string out = run_until_quiet(site);
    EXPECT_NE(out.find("could not write " + site.html("home_smartphone.html").string()), std::string::npos) << out;
    EXPECT_TRUE(fs::is_directory(site.html("home_smartphone.html")));
    for (const char *page : {"home.html", "raw_home.html", "raw_home_smartphone.html", "notes/second.html"})
        EXPECT_TRUE(fs::is_regular_file(site.html(page))) << page;
}

// The keeper of a shared path is the first in the document table: the
// lower bucket (the djb2 hash of the path below the local folder, modulo
// 32), then the lower path. Which one that is must not depend on which
// document was built first, so the page holds the keeper's body.
TEST(PagesRun, TwoDocumentsOneOutputPathWarnAtBothHeaderLinesAndTheFirstInTheTableKeepsIt)
{
    auto bucket = [](const std::string &below_local) {
        unsigned long long h = 5381;
        for (unsigned char c : below_local) h = h * 33 + c;
        return h % 32;
    };
    // twin.wyn and home.wyn: buckets 18 and 25; zz.wyn and notes/second.wyn
    // share bucket 4, and notes/ comes first.
    ASSERT_LT(bucket("wyn_files/twin.wyn"), bucket("wyn_files/home.wyn"));
    ASSERT_EQ(bucket("wyn_files/zz.wyn"), bucket("wyn_files/notes/second.wyn"));
    FixtureSite site("pages");
    write_file(site.local / "wyn_files/twin.wyn", "``\ntitle: Twin\noutput_path: \"/html/home.html\"\n``\nBody\n  Twinbody.\n");
    write_file(site.local / "wyn_files/zz.wyn", "``\ntitle: Zz\noutput_path: \"/html/notes/second.html\"\n``\nBody\n  Zzbody.\n");
    std::string out = run_until_quiet(site);
    EXPECT_NE(out.find("twin.wyn:3:1"), std::string::npos) << out;
    EXPECT_NE(out.find("home.wyn:3:1"), std::string::npos) << out;
    EXPECT_NE(out.find("html/home.html is named by"), std::string::npos) << out;
    EXPECT_NE(out.find("the page belongs to " + (site.local / "wyn_files/twin.wyn").string()), std::string::npos) << out;
    EXPECT_NE(read_file(site.html("home.html")).find("Twinbody."), std::string::npos) << out;
    EXPECT_EQ(read_file(site.html("notes/second.html")).find("Zzbody."), std::string::npos) << out;
    EXPECT_NE(out.find("the page belongs to " + (site.local / "wyn_files/notes/second.wyn").string()), std::string::npos) << out;
}

TEST(PagesRun, APageOfThousandsOfHeadingsIsWrittenWholeWhileItsHeadingsFold)
{
    // Past a couple of MiB of page tree, finished headings and contents
    // entries are folded into their HTML as the page is built: the page
    // must still hold every heading and every contents entry once, in
    // order, and stay balanced (this runs under ASan too).
    FixtureSite site("pages");
    constexpr int headings = 4000;
    std::string text = "``\ntitle: Long\noutput_path: \"/html/long.html\"\n``\nLong\n  intro\n";
    for (int i = 0; i < headings; i += 1) {
        text += "!!!!! heading " + std::to_string(i) + "\n";
        if (i % 500 == 250) text += "  a paragraph with _emphasis_ under it\n";
    }
    write_file(site.local / "wyn_files/long.wyn", text);
    run_until_quiet(site);
    for (const char *name : {"long.html", "long_smartphone.html"}) {
        std::string page = read_file(site.html(name));
        ASSERT_GT(page.size(), 0u) << name;
        EXPECT_TRUE(balanced(site.html(name))) << name;
        size_t last_entry = 0, last_body = 0;
        for (int i = 0; i < headings; i += 1) {
            // The contents entry is a link, the heading an h element.
            std::string entry = "heading " + std::to_string(i) + "</a>";
            std::string body = "heading " + std::to_string(i) + "</h";
            size_t at_entry = page.find(entry), at_body = page.find(body);
            ASSERT_NE(at_entry, std::string::npos) << name << ": no contents entry for " << entry;
            ASSERT_NE(at_body, std::string::npos) << name << ": no heading for " << body;
            EXPECT_EQ(page.find(entry, at_entry + 1), std::string::npos) << name << ": " << entry << " twice";
            EXPECT_EQ(page.find(body, at_body + 1), std::string::npos) << name << ": " << body << " twice";
            EXPECT_GT(at_entry, last_entry) << name << ": " << entry << " out of order";
            EXPECT_GT(at_body, last_body) << name << ": " << body << " out of order";
            last_entry = at_entry;
            last_body = at_body;
        }
        EXPECT_EQ(std::count(page.begin(), page.end(), '\0'), 0) << name;
    }
}

// While watching, a save appends the lines of the pages it changed rather
// than the whole list again. A later run believes each page's last line,
// drops a last line an append broke off, and writes the file whole again.
TEST(PagesRun, TheManifestGrowsByWhatChangedAndARunBelievesTheLastWordOfEachPage)
{
    FixtureSite site("pages");
    run_until_quiet(site);
    fs::path manifest = site.html(".wyn_manifest");
    fs::path second = site.local / "wyn_files/notes/second.wyn";
    std::string first = read_file(manifest);
    {
        WynProcess wyn(site.root.string(), {});
        ASSERT_TRUE(wyn.read_until("up to date after")) << wyn.text;
        write_file(second, read_file(second) + "\nA new last paragraph.\n");
        for (int i = 0; i < 600 && wyn.count("up to date after") < 2; i += 1) wyn.read_some(100);
        ASSERT_EQ(wyn.count("up to date after"), 2u) << wyn.text;
    }
    std::string grown = read_file(manifest);
    ASSERT_GT(grown.size(), first.size());
    EXPECT_EQ(grown.substr(0, first.size()), first);
    EXPECT_NE(grown.find("notes/second.html\n", first.size()), std::string::npos) << grown;

    // Believed, the cut line would hand the home page to the gone source,
    // and the run would warn that it was changed since wyn wrote it.
    std::string local = site.local.string() + "/";
    write_file(manifest, grown + "0000000000000000 " + second.string() + "\t" + local + "html/home.html");
    fs::remove(second);
    WynProcess once(site.root.string(), {"once"});
    ASSERT_TRUE(once.wait_end());
    EXPECT_EQ(once.text.find("no longer produced"), std::string::npos) << once.text;
    EXPECT_FALSE(fs::exists(site.html("notes/second.html")));
    EXPECT_TRUE(fs::exists(site.html("home.html")));
    std::string after = read_file(manifest);
    std::set<std::string> pages;
    std::istringstream lines(after);
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        std::string page = line.substr(line.find('\t') + 1);
        EXPECT_TRUE(pages.insert(page).second) << page << " listed twice:\n" << after;
        EXPECT_EQ(page.find("notes/second"), std::string::npos) << after;
    }
    EXPECT_EQ(after.back(), '\n');
    // Every page but the hand-made one and the four of the gone source.
    EXPECT_EQ(pages.size(), expected_pages.size() - 5);
}

// A manifest written by an earlier version holds the hashes of that
// version's function. Its pages still belong to wyn: the page of a gone
// source is removed, and one changed since is left with a warning.
TEST(PagesRun, PagesListedByAnEarlierVersionAreStillRecognisedAsWyns)
{
    const char *sample = "<p>a page written by an earlier wyn</p>\n";
    EXPECT_EQ(page_bytes_hash_earlier(Str{sample, strlen(sample)}), 0x316727a0e107302bull);

    FixtureSite site("pages");
    run_until_quiet(site);
    fs::path manifest = site.html(".wyn_manifest");
    std::istringstream lines(read_file(manifest));
    std::string line, earlier;
    std::getline(lines, line);
    earlier = line + "\n";
    int rehashed = 0;
    while (std::getline(lines, line)) {
        std::string page = line.substr(line.find('\t') + 1);
        std::string bytes = fs::exists(page) ? read_file(page) : "";
        char hash[17];
        snprintf(hash, sizeof hash, "%016llx",
                 (unsigned long long)page_bytes_hash_earlier(Str{bytes.data(), bytes.size()}));
        earlier += hash + line.substr(16) + "\n";
        rehashed += 1;
    }
    ASSERT_GT(rehashed, 20);
    write_file(manifest, earlier);
    write_file(site.html("notes/second_smartphone.html"), read_file(site.html("notes/second_smartphone.html")) + "<!-- mine -->");
    fs::remove(site.local / "wyn_files/notes/second.wyn");
    WynProcess once(site.root.string(), {"once"});
    ASSERT_TRUE(once.wait_end());
    EXPECT_FALSE(fs::exists(site.html("notes/second.html")));
    EXPECT_FALSE(fs::exists(site.html("notes/raw_second.html")));
    EXPECT_TRUE(fs::exists(site.html("notes/second_smartphone.html")));
    EXPECT_NE(once.text.find("second_smartphone.html is no longer produced"), std::string::npos) << once.text;
    EXPECT_NE(once.text.find("changed since wyn wrote it"), std::string::npos) << once.text;
    EXPECT_TRUE(fs::exists(site.html("home.html")));
}
