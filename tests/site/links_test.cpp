// End to end: link checks of the real wyn on the fixture sites
// tests/sites/links (file links) and tests/sites/links_web (web links,
// checked against the local servers of tests/http). Every address is on
// the loopback; every wait has its own deadline.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "../http/test_server.h"
#include "fixture_site.h"

namespace {

using fixture::FixtureSite;

// "path:line:column" of the first byte of `needle` in the file's text, as
// the diagnostics print it (lines and columns from 1, bytes counted).
std::string where(const std::string &path, const std::string &needle)
{
    std::string text = read_file(path);
    size_t at = text.find(needle);
    if (at == std::string::npos) return "<" + needle + " not in " + path + ">";
    size_t line = 1, column = 1;
    for (size_t i = 0; i < at; i += 1) {
        if (text[i] == '\n') {
            line += 1;
            column = 1;
        } else {
            column += 1;
        }
    }
    return path + ":" + std::to_string(line) + ":" + std::to_string(column);
}

std::string warning(const std::string &text, const std::string &location)
{
    return "warning: \n  " + text + "\n  " + location + "\n";
}

std::string docs(const FixtureSite &site) { return (site.local / "wyn_files").string(); }

std::string target_note(const FixtureSite &site) { return "note: \n  target: " + docs(site) + "/\n"; }

} // namespace

//- file links

struct FileLinks : ::testing::Test {
    FixtureSite site{"links"};
    std::string a() const { return docs(site) + "/a.wyn"; }
    std::vector<std::string> expected() const
    {
        std::string d = docs(site);
        return {
            warning(d + "/pages/b.wyn has no anchor [#7]", where(a(), "\"pages/b.wyn[#7]\"")),
            warning(d + "/pages/d.wyn is referenced in a file but is hidden, the link will fail.",
                    where(a(), "\"pages/d.wyn[#3]\"")),
            warning(d + "/pages/missing.wyn is missing", where(a(), "\"pages/missing.wyn\"")),
            warning(site.local.string() + "/nothing.txt is missing", where(a(), "\"./nothing.txt\"")),
            warning("internal link not found", where(a(), "[#9]")),
        };
    }
};

TEST_F(FileLinks, EachBrokenLinkIsReportedOnceWithItsReasonInTheDocumentsOwnList)
{
    WynProcess wyn(site.root.string(), {});
    std::vector<std::string> needles = expected();
    std::string all;
    for (const std::string &n : needles) all += n;
    needles.push_back(target_note(site));
    // Printed as one run: the detailed reasons, then what stayed unresolved,
    // in the order the document names them.
    ASSERT_TRUE(wyn.read_until({all, target_note(site)}, 30)) << wyn.text;
    for (const std::string &n : expected()) EXPECT_EQ(wyn.count(n), 1u) << n;
    // The anchor that exists, the document that exists, the embedded table
    // and the other document (whose link back closes a cycle) say nothing.
    EXPECT_EQ(wyn.count("warning: "), expected().size()) << wyn.text;
    EXPECT_EQ(without_page_notes(wyn.text).find("b.wyn:"), std::string::npos) << wyn.text;
    EXPECT_EQ(wyn.text.find("t.csv"), std::string::npos) << wyn.text;
    EXPECT_TRUE(wyn.running());
}

TEST_F(FileLinks, WithoutFilePathChecksNothingIsReported)
{
    for (const char *option : {"no_file_path_check", "deploy"}) {
        WynProcess wyn(site.root.string(), {option});
        ASSERT_TRUE(wyn.read_until(target_note(site), 30)) << option << wyn.text;
        // The note comes after every submission; the documents may still be
        // building. Give them time to print what they would.
        wyn.read_until("never printed", 2);
        EXPECT_EQ(wyn.text.find("warning: "), std::string::npos) << option << wyn.text;
        EXPECT_TRUE(wyn.running()) << option;
    }
}

//- web links

struct WebLinks : ::testing::Test {
    LocalServer server;
    FixtureSite site{"links_web"};
    Arena *arena = nullptr;
    HttpSession *session = nullptr;
    int refused_port = closed_port();

    void SetUp() override
    {
        ASSERT_TRUE(server.failure.empty()) << server.failure;
        arena = arena_alloc(MiB(4), KiB(64));
        session = http_session_open(arena, nullptr);
        std::string secure = "https://127.0.0.1:" + std::to_string(server.https_ports[0]);
        std::string plain = "http://127.0.0.1:" + std::to_string(server.http_port);
        std::string refused = "https://127.0.0.1:" + std::to_string(refused_port);
        for (const char *name : {"web.wyn", "other.wyn"}) {
            std::string path = docs(site) + "/" + name;
            write_file(path, replace_all(replace_all(replace_all(read_file(path), "@S@", secure), "@P@", plain), "@R@", refused));
        }
    }
    void TearDown() override
    {
        if (arena) arena_release(arena);
    }
    std::string web() const { return docs(site) + "/web.wyn"; }
    long requests(const std::string &path) const { return json_number(server.stats(session), path); }
    std::vector<std::string> args_with(std::vector<std::string> extra) const
    {
        std::vector<std::string> args = {"ca_file=" + server.ca_file};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
};

TEST_F(WebLinks, FailedAndInsecureAddressesAreReportedOnceEachAddressAskedOnce)
{
    WynProcess wyn(site.root.string(), args_with({"check_urls", "probe=" + server.https("/ok?probe")}));
    std::string loop = where(web(), "\"https://127.0.0.1:" + std::to_string(server.https_ports[0]) + "/loop\"");
    std::string plain = where(web(), "\"http://");
    std::string refused = where(web(), "\"https://127.0.0.1:" + std::to_string(refused_port) + "/ok\"");
    std::string expected = warning("uri fetch failed.", loop) + warning("uri must be https.", plain) +
                           warning("uri fetch failed.", refused);
    // web.wyn waits for its slowest address (1.5 s) and is printed once
    // every result is in.
    ASSERT_TRUE(wyn.read_until({expected, target_note(site)}, 40)) << wyn.text;
    EXPECT_EQ(wyn.count("warning: "), 3u) << wyn.text;
    EXPECT_EQ(wyn.text.find("uri not found"), std::string::npos) << "a failed address is told once";
    EXPECT_EQ(without_page_notes(wyn.text).find("other.wyn"), std::string::npos) << wyn.text;
    EXPECT_EQ(wyn.text.find("no network"), std::string::npos) << wyn.text;

    // Two documents name /ok: one request. The redirect's target is asked
    // by the redirect itself, once.
    EXPECT_EQ(requests("/ok"), 1);
    EXPECT_EQ(requests("/missing"), 1);
    EXPECT_EQ(requests("/redirect?to=/ok?from=redirect"), 1);
    EXPECT_EQ(requests("/ok?from=redirect"), 1);
    EXPECT_EQ(requests("/slow?ms=1500"), 1);
    EXPECT_EQ(requests("/ok?probe"), 1);
    wyn.read_until("never printed", 1);
    EXPECT_EQ(wyn.count("warning: "), 3u) << "printed again: " << wyn.text;
}

// The web addresses in an embedded CSV file's cells are asked like the
// document's own, and one that fails is told at the line that embeds the
// file (the document's text is what a message shows) and is not a live
// link on the page.
TEST_F(WebLinks, AddressesInACsvFilesCellsAreAskedAndToldAtTheEmbeddingLine)
{
    std::string secure = "https://127.0.0.1:" + std::to_string(server.https_ports[0]);
    std::string refused = "https://127.0.0.1:" + std::to_string(refused_port);
    write_file((site.local / "assets/files/sites.csv").string(),
               "name;address\nfine;\"" + secure + "/ok?csv\"(fine)\ngone;\"" + refused + "/csv\"(gone)\n");
    std::string table = docs(site) + "/sites.wyn";
    write_file(table, "``\ntitle: Sites\noutput_path: \"/html/sites.html\"\n``\nSites\n  _\"/assets/files/sites.csv\"\n");
    WynProcess wyn(site.root.string(), args_with({"check_urls", "probe=" + server.https("/ok?probe")}));
    std::string told = "uri fetch failed.\n  " + table + ":6:";
    ASSERT_TRUE(wyn.read_until({told, target_note(site)}, 40)) << wyn.text;
    EXPECT_EQ(requests("/ok?csv"), 1);
    std::string page;
    for (int i = 0; i < 100 && page.find("fine") == std::string::npos; i += 1) {
        page = read_file(site.html("sites.html").string());
        if (page.find("fine") == std::string::npos) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_NE(page.find("href=\"" + secure + "/ok?csv\""), std::string::npos) << page;
    EXPECT_EQ(page.find("href=\"" + refused + "/csv\""), std::string::npos) << page;
    EXPECT_NE(page.find(">gone<"), std::string::npos) << page;
}

// A probe at a dead port drops the checks at once (a refused connection
// answers at once; a time-out would take seconds) with one warning; without
// check_urls no probe is sent at all. Either way no address is asked.
TEST_F(WebLinks, ADeadProbeDropsTheChecksAndWithoutCheckUrlsNoneIsSent)
{
    std::string dead = "probe=https://127.0.0.1:" + std::to_string(refused_port) + "/";
    std::string no_network = "warning: \n  wanted to check uris but no network connection found, uris checks skipped.\n";
    for (bool check : {true, false}) {
        u64 start = now_us();
        WynProcess wyn(site.root.string(), args_with(check ? std::vector<std::string>{"check_urls", dead} : std::vector<std::string>{dead}));
        ASSERT_TRUE(wyn.read_until({check ? no_network : "", target_note(site)}, 30)) << check << wyn.text;
        EXPECT_LT(now_us() - start, 5000000u);
        wyn.read_until("never printed", 2);
        std::string stats = server.stats(session);
        EXPECT_EQ(stats.find("\"/"), std::string::npos) << stats;
        EXPECT_EQ(wyn.count("warning: "), check ? 1u : 0u) << wyn.text;
    }
}
