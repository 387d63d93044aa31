// Link validation pieces without a build: the target split, the type
// folders and the resolution of a link's path, and the passes on parsed
// documents with a lookup of the test's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../test_support.h"
#include "markup/parser.h"
#include "os/file_service.h"
#include "site/links.h"

// An anchor needs a bracket, a hash and a bracket, in that order.
TEST(LinkTarget, AnAnchorIsSplitOffTheTargetText)
{
    LinkTargetText t = link_target_split(str_lit("pages/b.wyn[#12]"));
    EXPECT_EQ(s(t.path), "pages/b.wyn");
    EXPECT_TRUE(t.has_anchor);
    EXPECT_EQ(t.anchor, 12u);
    t = link_target_split(str_lit("pages/b#1.wyn[2]"));   // "#" before "["
    EXPECT_FALSE(t.has_anchor);
    EXPECT_EQ(s(t.path), "pages/b#1.wyn[2]");
    t = link_target_split(str_lit("b.wyn[#300]"));   // numbered as the parser numbers anchors: one byte
    EXPECT_EQ(t.anchor, 300u % 256);
}

// A site of the test's own: one published document with anchor 4, one
// published without a page, one draft, one that will publish later. Every lookup is noted with the
// anchor it asks for: the build rebuilds a linking document when that
// anchor moves.
static LinkTarget test_lookup(void *user, Arena *arena, Str path, u32 anchor)
{
    std::vector<std::string> *asked = (std::vector<std::string> *)user;
    if (asked) asked->push_back(s(path_file_name(path)) + (anchor == link_no_anchor ? "" : "#" + std::to_string(anchor)));
    LinkTarget t = {};
    std::string p = s(path);
    if (p == "/s/local/wyn_files/later.wyn") {
        t.state = LinkTarget_Pending;
        return t;
    }
    bool draft = p == "/s/local/wyn_files/draft.wyn";
    bool pageless = p == "/s/local/wyn_files/part.wyn";
    if (p != "/s/local/wyn_files/page.wyn" && !draft && !pageless) return t;
    std::string source = draft      ? "``\nstatus: Draft\n``\nD\n"
                         : pageless ? "P\n  a part of others\n"
                                    : "``\noutput_path: \"/html/page.html\"\n``\nP\n  anchor [#4]_ x\n";
    char *copy = (char *)arena_push(arena, source.size() + 1, 1);
    memcpy(copy, source.data(), source.size() + 1);
    Str text = Str{copy, source.size()};
    ParseOptions options = {};
    options.local_folder = str_lit("/s/local/");
    ParsedDocument doc = markup_parse(arena, text, &options);
    t.state = LinkTarget_Published;
    t.summary = doc_summary_make(arena, &doc, str_lit("/s/local/"));
    return t;
}

struct LinkPasses : ::testing::Test {
    Arena *arena = arena_alloc(MiB(4), KiB(64));
    ParsedDocument doc = {};
    LinkCheckSettings settings = {};
    std::string source;
    std::vector<std::string> asked;
    void SetUp() override
    {
        settings.local_folder = str_lit("/s/local/");
        settings.document_path = str_lit("/s/local/wyn_files/self.wyn");
        settings.file_path_checks = 1;
        settings.lookups.document = test_lookup;
        settings.lookups.user = &asked;
    }
    void TearDown() override { arena_release(arena); }
    void parse(const std::string &text)
    {
        source = text;
        ParseOptions options = {};
        options.local_folder = settings.local_folder;
        doc = markup_parse(arena, as_str(source), &options);
    }
    MarkupNode *file_link(u64 index)
    {
        NodeListCell *cell = doc.file_links.first;
        for (u64 i = 0; i < index && cell; i += 1) cell = cell->next;
        return cell ? cell->node : &markup_nil;
    }
    // Whether each of the first `count` file links failed its check.
    void expect_unresolved(u64 count)
    {
        for (u64 i = 0; i < count; i += 1) EXPECT_TRUE(file_link(i)->flags & NodeFlag_Unresolved) << i;
    }
    std::string messages() const
    {
        std::string all;
        for (Diagnostic *d = doc.messages.first; d; d = d->next) all += s(d->text) + "@" + std::to_string(d->offset) + "\n";
        return all;
    }
};

TEST_F(LinkPasses, AnchorsComeFromSummariesAndOnlyADocumentThatWillPublishIsWaitedFor)
{
    // The files are not on disk: only the documents' summaries are checked.
    settings.file_path_checks = 0;
    LinkWaits waits = {};
    parse("T\n  \"/page.wyn[#4]\" \"/page.wyn[#5]\" \"/self.wyn[#2]\" own [#2]_ here\n");
    EXPECT_TRUE(links_check(arena, &doc, &settings, &waits, nullptr));
    MarkupNode *found = file_link(0);
    EXPECT_FALSE(found->flags & NodeFlag_Unresolved);
    ASSERT_TRUE(node_is_element(found->first_child, MarkupKind_Reference));
    EXPECT_EQ(found->first_child->number, 4);
    EXPECT_EQ(found->first_child->offset, 48u);   // where "[#4]" stands in page.wyn
    EXPECT_TRUE(file_link(1)->flags & NodeFlag_Unresolved);
    EXPECT_FALSE(file_link(2)->flags & NodeFlag_Unresolved) << "a link to its own anchor needs no summary";
    EXPECT_EQ(messages(), "");
    EXPECT_EQ(asked, (std::vector<std::string>{"page.wyn#4", "page.wyn#5"})) << "its own anchors are no one else's";

    parse("T\n  \"/later.wyn\" \"/never.wyn\"\n");
    LinkWaits later = {};
    EXPECT_FALSE(links_check(arena, &doc, &settings, &later, nullptr));
    ASSERT_EQ(later.documents.node_count, 1u);
    EXPECT_EQ(s(later.documents.first->string), "/s/local/wyn_files/later.wyn");
    EXPECT_TRUE(file_link(1)->flags & NodeFlag_Unresolved);

    // A draft is never followed, and only reported with file-path checks.
    settings.lookups.file_state = [](void *, Str) -> u32 { return FileState_Regular; };
    for (int checks = 0; checks < 2; checks += 1) {
        settings.file_path_checks = checks;
        parse("T\n  \"/draft.wyn\"\n");
        LinkWaits later = {};
        EXPECT_TRUE(links_check(arena, &doc, &settings, &later, nullptr));
        EXPECT_TRUE(file_link(0)->flags & NodeFlag_Unresolved) << checks;
        std::string expected = checks ? "/s/local/wyn_files/draft.wyn is referenced in a file but is hidden, the link "
                                        "will fail.@4\n"
                                      : "";
        EXPECT_EQ(messages(), expected) << checks;
    }
}

// A broken link is told once: with its reason when there is one, else as
// the unresolved reference it stays.
TEST_F(LinkPasses, ABrokenLinkIsWarnedAboutOnce)
{
    settings.lookups.file_state = [](void *, Str path) -> u32 {
        std::string p = s(path);
        return p == "/s/local/wyn_files/gone.wyn" || p.rfind("/s/local/wyn_files/", 0) != 0 ? (u32)FileState_Missing
                                                                                            : (u32)FileState_Regular;
    };
    // "outside.wyn" is on disk but no document of this build: no reason
    // of its own, so the reference pass names it.
    parse("T\n  \"/gone.wyn\" \"/page.wyn[#6]\" \"/outside.wyn\" [#8]\n");
    LinkWaits waits = {};
    EXPECT_TRUE(links_check(arena, &doc, &settings, &waits, nullptr));
    expect_unresolved(3);
    EXPECT_EQ(messages(), "/s/local/wyn_files/gone.wyn is missing@4\n"
                          "/s/local/wyn_files/page.wyn has no anchor [#6]@16\n"
                          "file path not found@32\n"
                          "internal link not found@47\n");

    // A document whose summary is still at hand but whose file is gone (a
    // deletion the build has not seen yet): its missing anchor is moot, and
    // the file is what the author hears of.
    settings.lookups.file_state = [](void *, Str) -> u32 { return FileState_Missing; };
    parse("T\n  \"/page.wyn[#6]\" \"/draft.wyn\"\n");
    EXPECT_TRUE(links_check(arena, &doc, &settings, &waits, nullptr));
    EXPECT_EQ(messages(), "/s/local/wyn_files/page.wyn is missing@4\n/s/local/wyn_files/draft.wyn is missing@20\n");
}

// Each thing the reference pass can report, alone in its document beside
// links that are fine or told already: none of them hides behind the others'
// absence.
TEST_F(LinkPasses, EachUnresolvedReferenceIsReportedOnItsOwn)
{
    settings.lookups.file_state = [](void *, Str path) -> u32 {
        std::string p = s(path);
        return p == "/s/local/wyn_files/gone.wyn" || p.rfind("/s/local/wyn_files/", 0) != 0 ? (u32)FileState_Missing
                                                                                            : (u32)FileState_Regular;
    };
    struct Case {
        const char *source;
        const char *expected;
    };
    const Case cases[] = {
        {"T\n  \"/page.wyn\" [#8]\n", "internal link not found@16\n"},
        {"T\n  \"/gone.wyn\" a note [*2]\n", "/s/local/wyn_files/gone.wyn is missing@4\nfootnote not found@23\n"},
        {"T\n  \"/outside.wyn\" \"/page.wyn\"\n", "file path not found@4\n"},
        {"T\n  \"/page.wyn\" \"/gone.wyn\"\n", "/s/local/wyn_files/gone.wyn is missing@16\n"},
        {"T\n  nothing to follow\n", ""},
    };
    for (const Case &c : cases) {
        parse(c.source);
        LinkWaits waits = {};
        EXPECT_TRUE(links_check(arena, &doc, &settings, &waits, nullptr)) << c.source;
        EXPECT_EQ(messages(), c.expected) << c.source;
    }
}

// wyn's own listing of the site can name a document whose source went a
// moment ago (a rename: the new name is built and listed before the old
// name's removal is taken). The listing is written again without it: the
// author hears nothing of it, from either pass, while any other listing
// or any other missing file is told as before.
TEST_F(LinkPasses, AListingNamesADocumentThatJustWentWithoutAWord)
{
    settings.lookups.file_state = [](void *, Str path) -> u32 {
        return s(path).find("gone") != std::string::npos ? (u32)FileState_Missing : (u32)FileState_Regular;
    };
    std::string text = "T\n  . \"/gone.wyn\"(Gone) . \"/page.wyn\"(Page) . \"/gone.pdf\"(A file)\n";
    for (int listing = 0; listing < 2; listing += 1) {
        settings.listing = listing;
        parse(text);
        LinkWaits waits = {};
        EXPECT_TRUE(links_check(arena, &doc, &settings, &waits, nullptr));
        links_report_unresolved(arena, &doc, &settings, &waits);
        std::string told = messages();
        std::string expected = listing ? "/s/local/gone.pdf is missing@" : "/s/local/wyn_files/gone.wyn is missing@";
        EXPECT_EQ(told.rfind(expected, 0), 0u) << told;
        EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), listing ? 1 : 2) << told;
        EXPECT_FALSE(file_link(1)->flags & NodeFlag_Unresolved);
    }
}

// A page's link to a document that writes no page is drawn and goes
// nowhere: told where the page links it, whatever anchor it asks for. A
// document without a page of its own is on no page, and its links say
// nothing of the kind.
TEST_F(LinkPasses, APagesLinkToADocumentWithoutAPageIsTold)
{
    settings.lookups.file_state = [](void *, Str) -> u32 { return FileState_Regular; };
    const std::string header = "``\noutput_path: \"/html/self.html\"\n``\n";
    parse(header + "T\n  \"/part.wyn\" \"/page.wyn\" \"/part.wyn[#1]\"\n");
    LinkWaits waits = {};
    EXPECT_TRUE(links_check(arena, &doc, &settings, &waits, nullptr));
    EXPECT_TRUE(file_link(0)->flags & NodeFlag_Unresolved);
    EXPECT_FALSE(file_link(1)->flags & NodeFlag_Unresolved);
    u64 at = header.size() + 4;
    EXPECT_EQ(messages(), "/s/local/wyn_files/part.wyn writes no page (no .html output_path in its header), so the "
                          "link leads nowhere@" + std::to_string(at) + "\n" +
                          "/s/local/wyn_files/part.wyn writes no page (no .html output_path in its header), so the "
                          "link leads nowhere@" + std::to_string(at + 24) + "\n");

    parse("T\n  \"/part.wyn\"\n");
    EXPECT_TRUE(links_check(arena, &doc, &settings, &waits, nullptr));
    EXPECT_EQ(messages(), "");
}

// "/notes.pdf#page=3" names a place in a file, as an address does: the file
// is checked and the place kept for the page. A document's places are its
// numbered anchors, written in brackets, and "#3" after one is told so.
TEST_F(LinkPasses, AFilesPlaceAfterHashIsKeptAndADocumentsIsWrittenInBrackets)
{
    static std::vector<std::string> looked;
    looked.clear();
    settings.lookups.file_state = [](void *, Str path) -> u32 {
        looked.push_back(s(path));
        std::string p = s(path);
        bool there = p == "/s/local/assets/notes.pdf" || p == "/s/local/html/a.html" || p == "/s/local/C#.txt" ||
                     p == "/s/local/wyn_files/page.wyn";
        return there ? (u32)FileState_Regular : (u32)FileState_Missing;
    };
    parse("T\n  \"/assets/notes.pdf#page=3\" \"/html/a.html#top\" \"/C#.txt\" \"/assets/gone.pdf#p\"\n");
    LinkWaits waits = {};
    EXPECT_TRUE(links_check(arena, &doc, &settings, &waits, nullptr));
    auto text = [&](u64 i) { return s(file_link(i)->first_child->text); };
    EXPECT_FALSE(file_link(0)->flags & NodeFlag_Unresolved);
    EXPECT_EQ(text(0), "/s/local/assets/notes.pdf#page=3");
    EXPECT_FALSE(file_link(1)->flags & NodeFlag_Unresolved);
    EXPECT_EQ(text(1), "/s/local/html/a.html#top");
    EXPECT_FALSE(file_link(2)->flags & NodeFlag_Unresolved) << "a file named with a hash is taken whole";
    EXPECT_EQ(text(2), "/s/local/C#.txt");
    EXPECT_TRUE(file_link(3)->flags & NodeFlag_Unresolved);
    EXPECT_EQ(messages(), "/s/local/assets/gone.pdf is missing@60\n") << "the file is named, not the place in it";
    EXPECT_EQ(std::count(looked.begin(), looked.end(), "/s/local/C#.txt"), 1) << "a file that is there is looked at once";

    parse("T\n  \"/page.wyn#4\" \"/page.wyn#intro\" \"/gone.wyn#2\"\n");
    EXPECT_TRUE(links_check(arena, &doc, &settings, &waits, nullptr));
    expect_unresolved(3);
    EXPECT_EQ(messages(), "a document's numbered anchor is written in brackets: \"/page.wyn[#4]\"@4\n"
                          "a link into a document names one of its numbered anchors, as in \"/page.wyn[#1]\"; "
                          "\"#intro\" is none@18\n"
                          "/s/local/wyn_files/gone.wyn is missing@36\n");

    // Deployed, the page links the file's web path with its place.
    settings.file_path_checks = 0;
    settings.deploy = 1;
    parse("T\n  \"/assets/notes.pdf#page=3\"\n");
    EXPECT_TRUE(links_check(arena, &doc, &settings, &waits, nullptr));
    EXPECT_EQ(text(0), "/assets/notes.pdf#page=3");
}

// A file that is there, in a folder the link does not look in, is named
// with the reason: "missing" alone sends the author after a typing mistake.
TEST_F(LinkPasses, AMissingFileThatIsThereElsewhereIsToldWhereItIsAndWhy)
{
    settings.lookups.file_state = [](void *, Str path) -> u32 {
        std::string p = s(path);
        bool there = p == "/s/local/images/cat.png" || p == "/s/local/wyn_files/dog.png" ||
                     p == "/s/local/wyn_files/notes.pdf" || p == "/s/local/data/t.csv" ||
                     p == "/s/local/wyn_files/page.wyn";
        return there ? (u32)FileState_Regular : (u32)FileState_Missing;
    };
    parse("T\n  _\"/images/cat.png\" _\"./dog.png\" \"./notes.pdf\"(n) _\"/data/t.csv\" \"/gone.pdf\"(g) "
          "\"./gone.pdf\"(g)\n");
    LinkWaits waits = {};
    EXPECT_TRUE(links_check(arena, &doc, &settings, &waits, nullptr));
    expect_unresolved(6);
    std::string told = messages();
    EXPECT_NE(told.find("/s/local/assets/images/images/cat.png is missing; pictures shown in place are looked for "
                        "below /s/local/assets/images/, and /s/local/images/cat.png lies outside it@"),
              std::string::npos)
        << told;
    EXPECT_NE(told.find("/s/local/assets/images/dog.png is missing; pictures shown in place are looked for below "
                        "/s/local/assets/images/, and /s/local/wyn_files/dog.png lies outside it@"),
              std::string::npos)
        << told;
    EXPECT_NE(told.find("/s/local/notes.pdf is missing; a path starts at /s/local/, so "
                        "/s/local/wyn_files/notes.pdf, beside this document, is \"/wyn_files/notes.pdf\"@"),
              std::string::npos)
        << told;
    // A document's path starts in the documents' folder.
    settings.document_path = str_lit("/s/local/wyn_files/notes/self.wyn");
    parse("T\n  \"../page.wyn\"(p)\n");
    EXPECT_TRUE(links_check(arena, &doc, &settings, &waits, nullptr));
    EXPECT_EQ(messages(), "/s/local/page.wyn is missing; a path starts at /s/local/wyn_files/, so "
                          "/s/local/wyn_files/page.wyn, beside this document, is \"/page.wyn\"@4\n");
    EXPECT_NE(told.find("/s/local/assets/files/data/t.csv is missing; tables shown in place are looked for below "
                        "/s/local/assets/files/, and /s/local/data/t.csv lies outside it@"),
              std::string::npos)
        << told;
    // Nowhere at all: missing, and nothing more.
    EXPECT_NE(told.find("/s/local/gone.pdf is missing@"), std::string::npos) << told;
    EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 6) << told;
    EXPECT_EQ(told.find("gone.pdf is missing;"), std::string::npos) << told;
}

// A web address written without its scheme, or with it mistyped, is a file
// of the site to wyn: the warning says so, with the address meant.
TEST_F(LinkPasses, AWebAddressReadAsAFileIsToldWithTheAddressMeant)
{
    settings.lookups.file_state = [](void *, Str) -> u32 { return FileState_Missing; };
    parse("T\n  \"www.example.org/a.html\"(a) \"http//example.org/b.html\"(b) \"HTTPS:/example.org/c.pdf\"(c) "
          "\"httpdocs/d.pdf\"(d)\n");
    LinkWaits waits = {};
    EXPECT_TRUE(links_check(arena, &doc, &settings, &waits, nullptr));
    EXPECT_EQ(messages(), "/s/local/www.example.org/a.html is missing; \"www.example.org/a.html\" is read as a file of "
                          "the site: a web address starts with https://, as in \"https://www.example.org/a.html\"@4\n"
                          "/s/local/http/example.org/b.html is missing; \"http//example.org/b.html\" is read as a file "
                          "of the site: a web address is written with \"://\", as in \"http://example.org/b.html\"@32\n"
                          "/s/local/HTTPS:/example.org/c.pdf is missing; \"HTTPS:/example.org/c.pdf\" is read as a file "
                          "of the site: a web address is written with \"://\", as in \"https://example.org/c.pdf\"@62\n"
                          "/s/local/httpdocs/d.pdf is missing@92\n");
}
