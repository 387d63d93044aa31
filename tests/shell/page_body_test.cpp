// A document's body rendered once and copied into each of its pages gives
// every page, desktop and smartphone, the bytes a page rendered on its own
// gives: for the fixture sites' documents, the demo's, and documents made
// to overflow what a shared body lists, to carry a title in odd places, or
// to hide what a page changes deep inside what it does not. What no page
// changes is held as its text, and a page built from the body is smaller.
#include "shell_support.h"

#include <functional>

#include "markup/parser.h"
#include "markup/tables.h"
#include "os/file_service.h"
#include "shell/page_build.h"

namespace {

struct BodyFixture : ::testing::Test {
    TempSite site;
    Arena *arena = nullptr;
    Shell *shell = nullptr;
    RenderOptions render = {};
    PageSite page_site = {};
    PageVariant desktop = {}, smartphone = {};

    void SetUp() override
    {
        content_cache_create();
        FileServiceConfig config = {};
        config.full_pass_ms = 300;
        if (!file_service()) {
            ASSERT_NE(fs_start_with(&config), nullptr);
        }
        arena = arena_alloc(GiB(1), MiB(1));
        ShellSettings settings = shell_settings_for(site.local, false, false);
        shell = shell_create(&settings);
        ShellMessages messages = {};
        shell_setup(shell, arena, &messages);
        render.local_folder = shell_str(site.local);
        page_site.shell = shell;
        page_site.render = &render;
        desktop = *shell_variant(shell, PageVariant_Desktop);
        smartphone = *shell_variant(shell, PageVariant_Smartphone);
    }
    void TearDown() override { arena_release(arena); }

    ParsedDocument parse(const std::string &text)
    {
        ParseOptions options = {};
        options.local_folder = shell_str(site.local);
        ParsedDocument doc = markup_parse(arena, str_copy(arena, shell_str(text)), &options);
        document_index_tables(arena, &doc);
        return doc;
    }

    u64 nodes_of(const PageRecord &page)
    {
        u64 count = 0;
        for (HtmlElement *n = page.document; !html_is_none(n); n = html_walk_next(n, page.document)) count += 1;
        return count;
    }

    std::string bytes_of(const PageRecord &page) { return shell_s(html_text_of(arena, page.document, shell_page_write_options(shell))); }

    // Every page of the document both ways, in the order a build writes
    // them: each output's desktop page, then each output's smartphone page,
    // the last one taking the body.
    void expect_alike(const std::string &name, const std::string &text)
    {
        SCOPED_TRACE(name);
        ParsedDocument doc = parse(text);
        std::string source_path = site.path("wyn_files/" + name);
        PageDocument document = {&doc, shell_str(source_path), shell_str(text), nullptr, nullptr, nullptr};
        const char *outputs[] = {"html/a.html", "html/deeper/b.html"};
        std::vector<std::string> alone, shared;
        shell_pages_begin(shell);
        for (const PageVariant *variant : {&desktop, &smartphone})
            for (const char *output : outputs) {
                Str path = str_copy(arena, shell_str(site.path(output)));
                if (page_variant_is_smartphone(variant)) path = page_smartphone_path(arena, path);
                alone.push_back(bytes_of(page_build(arena, &page_site, &document, path, variant)));
            }
        PageBody *body = page_body_render(arena, &page_site, &document);
        for (const PageVariant *variant : {&desktop, &smartphone}) {
            page_body_style(arena, body, variant);
            for (const char *output : outputs) {
                Str path = str_copy(arena, shell_str(site.path(output)));
                if (page_variant_is_smartphone(variant)) path = page_smartphone_path(arena, path);
                bool last = variant == &smartphone && output == outputs[1];
                shared.push_back(bytes_of(page_build_from(arena, &page_site, &document, path, variant, body, last)));
            }
        }
        shell_pages_end(shell);
        ASSERT_EQ(alone.size(), shared.size());
        for (size_t i = 0; i < alone.size(); i += 1) {
            EXPECT_FALSE(alone[i].empty());
            EXPECT_EQ(alone[i], shared[i]) << "page " << i;
        }
        // The kinds differ where they should, or the comparison proves little.
        EXPECT_NE(alone[0], alone[2]);
    }
};

std::vector<std::filesystem::path> documents_under(const std::filesystem::path &folder)
{
    std::vector<std::filesystem::path> out;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().extension() == ".wyn") out.push_back(entry.path());
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

TEST_F(BodyFixture, EveryFixtureAndDemoDocumentGivesThePagesItsOwnRenderGives)
{
    std::vector<std::filesystem::path> documents;
    for (const char *folder : {"/tests/sites", "/examples/demo/local/wyn_files"})
        for (const auto &path : documents_under(std::string(WYN_SOURCE_DIR) + folder)) documents.push_back(path);
    ASSERT_GT(documents.size(), 10u);
    for (const auto &path : documents) expect_alike(path.filename().string(), read_bytes(path.string()));
}

TEST_F(BodyFixture, TitlesFieldsFootnotesAndTablesAreStyledAndPlacedPerKind)
{
    expect_alike("fields.wyn", "``\ntitle: A title with *emphasis*\nsummary: what it is\nauthor: Ada\n"
                               "remark: a remark\ncategory: notes\ntodo: later\n``\n"
                               "First\n  Text [*1] and more.\n  | a | [x] b |\n  |===|===|\n  | 1 | [x] |\n"
                               "  [*1] the note, with ``author: Bea`` inside.\n");
    // No title: the page is named after its file, and nothing is placed.
    expect_alike("untitled.wyn", "Just a heading\n  And its text.\n");
    // A second title line is an ordinary field.
    expect_alike("two_titles.wyn", "``\ntitle: First\ntitle: Second\n``\nBody\n  text\n");
}

TEST_F(BodyFixture, MoreFieldsThanABodyListsStillGiveTheSamePages)
{
    std::string text = "``\ntitle: Many\n";
    for (int i = 0; i < 80; i += 1) text += "remark: remark " + std::to_string(i) + "\n";
    text += "``\nBody\n  text\n";
    // A body that cannot list them all is not used: each page renders its own.
    expect_alike("many.wyn", text);
}

TEST_F(BodyFixture, WhatAPageChangesDeepInsideUnchangedBlocksStillChanges)
{
    // Toggles inside contexts (their icons below emphasis and lists), file
    // links and document links in nested lists and tables, pictures in the
    // document context, footnotes holding links: each sits below blocks a
    // page never changes, beside blocks that are held as text.
    std::string text = "``\ntitle: Deep\noutput_path: \"/html/deep.html\"\n"
                       "related: \"/wyn_files/other.wyn\"(other)\n"
                       "_\"/assets/images/tiny.jpg\"(\"A tiny picture\", 64x48)\n"
                       "A line with *emphasis*, `code` and _\"/assets/images/tiny.jpg\"(\"Tiny\", 64x48) in it.\n``\n";
    for (int i = 0; i < 3; i += 1) {
        std::string n = std::to_string(i);
        text += "Section " + n + "\n"
                "  A *plain* paragraph with `code` and **strong** words " + n + ".\n"
                "  - an item with *emphasis*\n"
                "    - a deeper item with \"/wyn_files/other.wyn\"(a document) and *more*\n"
                "    - a file \"/assets/files/t.pdf\"(the file) in *a* list\n"
                "  ``\n"
                "  remark: folded " + n + "\n"
                "  Text of the context with *emphasis* and `code`.\n"
                "  ``\n"
                "  Seen ``author: Ada | in 2025`` on *the* way [*" + n + "].\n"
                "  | a | *b* |\n  |===|===|\n  | \"/assets/files/t.pdf\"(f) | [x] *c* |\n"
                "  [*" + n + "] a note with \"/wyn_files/other.wyn\"(a link) and *emphasis*.\n";
    }
    expect_alike("deep.wyn", text);
}

TEST_F(BodyFixture, TheSiteIndexStillGroupsItsOwnHeadingsAndLists)
{
    // The index page finds its headings and lists by their tags: held as
    // text, a heading of rich words or a list of no links would be lost.
    expect_alike("index.wyn", "``\ntitle: Home page\ntoc: none\n``\n"
                              "    Complete *file* list with **strong** words\n"
                              "      . one *plain* item\n      . two *plain* items, `code` too\n"
                              "    Another *rich* heading\n      . three *more*\n");
}

TEST_F(BodyFixture, BlocksNoPageChangesAreCopiedAsTheirText)
{
    std::string text = "``\ntitle: Plain\n``\nHeading\n";
    for (int i = 0; i < 40; i += 1)
        text += "  A paragraph with *emphasis*, `code`, **strong** and ~~gone~~ words, number " + std::to_string(i) + ".\n\n";
    expect_alike("plain.wyn", text);

    ParsedDocument doc = parse(text);
    std::string source_path = site.path("wyn_files/plain.wyn");
    PageDocument document = {&doc, shell_str(source_path), shell_str(text), nullptr, nullptr, nullptr};
    Str path = str_copy(arena, shell_str(site.path("html/plain.html")));
    shell_pages_begin(shell);
    PageRecord alone = page_build(arena, &page_site, &document, path, &desktop);
    PageBody *body = page_body_render(arena, &page_site, &document);
    PageRecord shared = page_build_from(arena, &page_site, &document, path, &desktop, body, false);
    shell_pages_end(shell);
    EXPECT_EQ(bytes_of(alone), bytes_of(shared));
    // Each paragraph is one node holding its HTML, tag and all, not a node
    // for every run of its text, nor its element above its text.
    EXPECT_LT(nodes_of(shared) + 40 * 6, nodes_of(alone));
    std::string with_tag = "<p class=";
    u64 held = 0;
    for (HtmlElement *n = shared.document; !html_is_none(n); n = html_walk_next(n, shared.document))
        if (n->type == HtmlNode_Html && shell_s(n->text).rfind(with_tag, 0) == 0) held += 1;
    EXPECT_GE(held, 40u);
}
