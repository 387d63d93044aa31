// Golden pages: the real wyn builds the fixture site tests/sites/pages, and
// the title and the body of a handful of pages must equal, byte for byte,
// the hand-checked text in tests/sites/pages_golden/. The head (generated
// style sheets, fonts) belongs to the frame and is left to the shell's
// tests; every absolute path of the temporary site is written "@LOCAL@" in
// the goldens (the local folder with its final slash).
//
// The cases: a table of contents with a table whose second column is ticked,
// a footnote and links to another source and to a CSV file (home); a
// document context with an image that becomes the banner, an inline context,
// a context block and a link to an anchor of another document (context); a
// page whose table of contents is hidden, with anchors and a reference to one
// (notes/anchors); each case on the desktop page and the smartphone page,
// and one raw-source page.
//
// What each golden was checked for, by hand, against wyn's rules and the
// `wyn tree=` dump of its source (offsets, spaces before and after words):
// - the document context moves to top_left, its Info icon turned into the
//   checkbox "toggle-checkbox_1" before it; its image leaves it for a div
//   "banner" put first into b_w, an img with src, alt, width, height,
//   title, data-title (64x48, ratio 64/1 : 48/1 = 1:1 from the JPEG's
//   densities of 1) and max-width in that order;
// - the title h1 first in b_w on the desktop page, in top_middle on the
//   smartphone page with its own style; header fields 1.1rem there;
// - table of contents in top_right inside "toc_container" with its
//   ListNested checkbox and "Table of content:" first; toggles
//   "toggle-content_" on the desktop page, "toggle-content_fixed" on the
//   smartphone page, inline contexts "toggle-content_i" on both, block
//   contexts "toggle-content_" on both; "toc: none" leaves the container
//   empty;
// - the Square dot between the entries of an inline context;
// - the table: thead/tr/th with Fb, and Eb for the ticked column, tbody with
//   Db and Cb cells, the root indented 1.3 + 0.5 rem under its paragraph;
// - links to sources point at the other document's page (its smartphone
//   page on a smartphone page) with the anchor's id (eb_ and the anchor's
//   offset in that document); the CSV keeps its own address; a reference
//   without a label gets its number in a sup; the footnote lands in bottom
//   at the end of b_w;
// - the raw page escapes &, < and > in the pre and links back to the page.
#include <gtest/gtest.h>

#include "fixture_site.h"

namespace fs = std::filesystem;
using namespace fixture;

namespace {

// "<title>...</title>" (nothing for a page without one), a
// line break, then the body from "<body>" to the end.
std::string title_and_body(const std::string &page)
{
    size_t title = page.find("<title>");
    size_t title_end = page.find("</title>");
    size_t body = page.find("<body");
    if (body == std::string::npos) return page;
    bool titled = title != std::string::npos && title_end != std::string::npos && title < body;
    return (titled ? page.substr(title, title_end + 8 - title) : std::string()) + "\n" + page.substr(body);
}

const char *const golden_pages[] = {
    "home.html", "home_smartphone.html", "context.html", "context_smartphone.html", "notes/anchors.html", "raw_home.html",
};

} // namespace

TEST(PagesGolden, PagesOfTheFixtureSiteMatchTheirGoldens)
{
    FixtureSite site("pages");
    run_until_quiet(site);
    std::string local = site.local.string() + "/";
    fs::path goldens = fs::path(WYN_SOURCE_DIR) / "tests/sites/pages_golden";
    for (const char *name : golden_pages) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(fs::exists(site.html(name))) << "wyn wrote no " << name;
        std::string got = replace_all(title_and_body(read_file(site.html(name))), local, "@LOCAL@");
        std::string golden_name = replace_all(name, "/", "_") + ".golden";
        std::string want = read_file(goldens / golden_name);
        ASSERT_FALSE(want.empty()) << "missing golden " << golden_name;
        // The golden files end with a line break for editors; the page does not.
        if (want.back() == '\n') want.pop_back();
        EXPECT_EQ(got, want);
    }
}
