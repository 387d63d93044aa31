// End to end: the built wyn in a temporary site builds every document with
// its workers, prints each document's diagnostics and the message log, and
// keeps watching.
#include <gtest/gtest.h>
#include <unistd.h>   // POSIX only: the Windows build leaves this test out (cmake/windows.cmake)

#include <algorithm>
#include <string>
#include <vector>

#include "../test_support.h"
#include "../wyn_process.h"

struct SiteRun : ::testing::Test {
    TempFolder folder{"wyn-run"};
    std::string root = folder.path;
    std::string docs = root + "/local/wyn_files";
    void write(const std::string &name, const std::string &text) const { write_file(docs + "/" + name, text); }
};

// A document with one problem the parser reports, its expected layout-B
// record, and a clean document.
static const char bad_document[] = "first line\nsome ] text\n";
static std::string bad_record(const std::string &path)
{
    return "error: \n  Unexpected \"]\" token.\n  " + path + ":2:6\n";
}

TEST_F(SiteRun, EveryDocumentIsBuiltAndItsDiagnosticsPrintedThenTheLog)
{
    write("notes/bad.wyn", bad_document);
    write("notes/deeper/also_bad.wyn", bad_document);
    write("clean.wyn", "nothing wrong here\n");
    write("index.wyn", bad_document);        // never submitted: change detection makes it
    write("notes/Shouting.WYN", bad_document);   // not a source: the extension is case-sensitive
    WynProcess wyn(root, {});
    std::string bad = docs + "/notes/bad.wyn";
    std::string also = docs + "/notes/deeper/also_bad.wyn";
    ASSERT_TRUE(wyn.read_until({bad_record(bad), bad_record(also), "note: \n  target: " + docs + "/\n"})) << wyn.text;
    EXPECT_TRUE(wyn.running());   // and it keeps watching
    EXPECT_EQ(wyn.count(bad_record(bad)), 1u);
    // The index is built once every submitted document is: whatever it
    // says comes after theirs.
    size_t index_at = wyn.text.find("index.wyn");
    if (index_at != std::string::npos) {
        EXPECT_GT(index_at, std::max(wyn.text.find(bad_record(bad)), wyn.text.find(bad_record(also)))) << wyn.text;
    }
    EXPECT_EQ(wyn.text.find("Shouting"), std::string::npos);
    EXPECT_EQ(without_page_notes(wyn.text).find("clean.wyn"), std::string::npos);   // no diagnostics, nothing printed
}

TEST_F(SiteRun, ManyDocumentsAreAllBuilt)
{
    constexpr int documents = 300;
    for (int i = 0; i < documents; i += 1) write("notes/d" + std::to_string(i) + ".wyn", bad_document);
    WynProcess wyn(root, {});
    std::vector<std::string> needles;
    for (int i = 0; i < documents; i += 1) needles.push_back(bad_record(docs + "/notes/d" + std::to_string(i) + ".wyn"));
    EXPECT_TRUE(wyn.read_until(needles)) << wyn.text.size();
    EXPECT_EQ(wyn.count("\n  Unexpected \"]\" token.\n"), (size_t)documents);   // each exactly once, each record whole
}
