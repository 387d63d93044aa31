// Folding finished headings and contents entries into their HTML text: a
// page rendered with fold_finished serializes to the same bytes as one
// rendered without, and gives back the arena the folded nodes took.
#include <gtest/gtest.h>

#include <string>

#include "render_page.h"
#include "../golden_cases.h"

namespace {

const std::string cases_folder = std::string(WYN_SOURCE_DIR) + "/tests/render/cases";

struct Rendered {
    std::string html;
    u64 arena_bytes = 0;
    u64 html_nodes = 0;
    u64 headings = 0;   // h1..h6 elements still in the tree
};

Rendered render_source(const std::string &source, b32 fold, u32 variant_kind, u64 fold_after = 0)
{
    Arena *arena = arena_alloc(MiB(256), KiB(64));
    Str text = str(source.data(), source.size());
    ParsedDocument doc = test_parse(arena, text);
    TestPage page = test_page_make(arena);
    RenderOptions options = test_render_options;
    options.fold_finished = fold;
    options.fold_after_bytes = fold_after;
    PageVariant variant = {};
    variant.kind = variant_kind;
    u64 before = arena_pos(arena);
    render_document(arena, doc.root, page.document, &variant, &options);
    if (!node_is_nil(doc.footnotes)) render_document(arena, doc.footnotes, page.b_w, &variant, &options);
    Rendered r;
    r.arena_bytes = arena_pos(arena) - before;
    for (HtmlElement *n = page.document; !html_is_none(n); n = html_walk_next(n, page.document)) {
        if (n->type == HtmlNode_Html) r.html_nodes += 1;
        if (html_is_element(n) && n->tag->id >= HtmlTag_H1 && n->tag->id <= HtmlTag_H6) r.headings += 1;
    }
    r.html = test_serialize(arena, page.document);
    arena_release(arena);
    return r;
}

TEST(RenderFold, EveryGoldenCaseSerializesAlikeFoldedOrNot)
{
    std::vector<std::string> names = golden_case_names(cases_folder);
    ASSERT_FALSE(names.empty());
    u64 folded_somewhere = 0;
    for (const std::string &name : names) {
        std::string source = golden_read_file(cases_folder + "/" + name + ".wyn");
        for (u32 kind : {(u32)PageVariant_Desktop, (u32)PageVariant_Smartphone}) {
            Rendered plain = render_source(source, 0, kind);
            Rendered folded = render_source(source, 1, kind);
            // Unfolded, the only HTML-text nodes are highlighted code blocks,
            // which folding leaves as they are.
            EXPECT_LE(plain.html_nodes, folded.html_nodes) << name;
            if (name != "highlight") {
                EXPECT_EQ(plain.html_nodes, 0u) << name;
            }
            EXPECT_EQ(folded.html, plain.html) << name << " variant " << kind;
            folded_somewhere += folded.html_nodes - plain.html_nodes;
        }
    }
    EXPECT_GT(folded_somewhere, 0u) << "no golden case folded anything";
}

TEST(RenderFold, PlainHeadingsAndTheirContentsEntriesFoldAndGiveBackTheirNodes)
{
    std::string source = "Title\n  intro\n";
    for (int i = 0; i < 200; i += 1) source += "!!!!!!!!!! heading " + std::to_string(i) + "\n";
    Rendered plain = render_source(source, 0, PageVariant_Desktop);
    Rendered folded = render_source(source, 1, PageVariant_Desktop);
    ASSERT_EQ(folded.html, plain.html);
    EXPECT_GE(plain.headings, 200u);
    EXPECT_EQ(folded.headings, 1u) << "only the title, which holds a paragraph, stays";
    EXPECT_GE(folded.html_nodes, 400u) << "each heading and its contents entry become one node";
    EXPECT_LT(folded.arena_bytes * 2, plain.arena_bytes)
        << "folded " << folded.arena_bytes << " bytes, unfolded " << plain.arena_bytes;
}

TEST(RenderFold, FoldingStartsOnlyOnceThePageHasGrownPastItsThreshold)
{
    std::string source = "Title\n  intro\n";
    for (int i = 0; i < 200; i += 1) source += "!!!!!!!!!! heading " + std::to_string(i) + "\n";
    Rendered plain = render_source(source, 0, PageVariant_Desktop);
    Rendered never = render_source(source, 1, PageVariant_Desktop, GiB(1));
    EXPECT_EQ(never.html, plain.html);
    EXPECT_EQ(never.html_nodes, 0u);
    EXPECT_EQ(never.headings, plain.headings);
    // The table of contents comes first and takes about half the tree; past
    // nine tenths of it, the first headings stay elements and the last fold.
    Rendered late = render_source(source, 1, PageVariant_Desktop, plain.arena_bytes * 9 / 10);
    EXPECT_EQ(late.html, plain.html);
    EXPECT_GT(late.html_nodes, 0u);
    EXPECT_GT(late.headings, 1u);
    EXPECT_LT(late.headings, plain.headings);
    EXPECT_LT(late.arena_bytes, plain.arena_bytes);
}

TEST(RenderFold, HeadingsHoldingMoreThanTextStayElements)
{
    // Emphasis makes an element a folded heading may not hold, and a
    // heading with a paragraph below it is more than text.
    std::string source = "Title\n  intro\nplain line\na _strong_ word\n";
    Rendered plain = render_source(source, 0, PageVariant_Desktop);
    Rendered folded = render_source(source, 1, PageVariant_Desktop);
    ASSERT_EQ(folded.html, plain.html);
    EXPECT_EQ(plain.headings, 3u);
    EXPECT_EQ(folded.headings, 2u) << plain.html << "\nonly the plain line folds";
}

} // namespace
