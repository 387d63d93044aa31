// HTML costs: parsing a 50 KB template, serializing a page of about 5,000
// elements, and the tag and attribute lookups.
#include <benchmark/benchmark.h>

#include <string>

#include "html/validator.h"

static std::string make_template(u64 target_size)
{
    std::string t = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n  <meta charset=\"utf-8\">\n"
                    "  <title>Notes</title>\n  <style>body > p { margin: 0 } .menu a { color: #333 }</style>\n"
                    "</head>\n<body class=\"desktop page\">\n<nav id=\"menu\" class=\"menu top\">\n";
    for (int i = 0; t.size() < target_size; i += 1) {
        std::string n = std::to_string(i);
        t += "  <ul class=\"level one\">\n    <li><a href=\"/notes/page" + n + ".html\" title=\"Page " + n +
             "\">Page " + n + " &amp; more</a></li>\n    <li class=current><span style=\"color: red; "
             "margin:0\">1.5em</span> text of the entry, with words</li>\n  </ul>\n"
             "  <script>if (a < b) { go(" + n + "); }</script>\n";
    }
    t += "</nav>\n</body>\n</html>\n";
    return t;
}

static void ParseTemplate50KB(benchmark::State &state)
{
    std::string source = make_template(50 * 1024);
    Arena *arena = arena_alloc(GiB(1), MiB(1));
    for (auto _ : state) {
        arena_clear(arena);
        HtmlParseResult r = html_parse_template(arena, str(source.data(), source.size()), str_lit("menu.html"),
                                                HtmlParse_Quiet);
        benchmark::DoNotOptimize(r.root);
    }
    state.SetBytesProcessed(state.iterations() * (s64)source.size());
    arena_release(arena);
}
BENCHMARK(ParseTemplate50KB);

static void ParseAndValidate50KB(benchmark::State &state)
{
    std::string source = make_template(50 * 1024);
    Arena *arena = arena_alloc(GiB(1), MiB(1));
    for (auto _ : state) {
        arena_clear(arena);
        HtmlParseResult r = html_parse_template(arena, str(source.data(), source.size()), str_lit("menu.html"),
                                                HtmlParse_Quiet | 0x1D);
        benchmark::DoNotOptimize(r.diagnostics.count);
    }
    state.SetBytesProcessed(state.iterations() * (s64)source.size());
    arena_release(arena);
}
BENCHMARK(ParseAndValidate50KB);

// A page as the renderer builds it: sections of headings, paragraphs with
// links and inline spans, lists and a table; about 5,000 elements.
static HtmlElement *make_page(Arena *arena, u64 *element_count)
{
    u64 count = 0;
    auto el = [&](u32 tag) {
        count += 1;
        return html_element_from_tag(arena, tag);
    };
    HtmlElement *doc = html_node_create(arena, HtmlNode_Document, 0, str_empty(), str_empty(), 0);
    HtmlElement *doctype = el(HtmlTag_DocType);
    html_attribute_append(arena, doctype, html_attr_from_id(HtmlAttr_Html));
    html_append_child(doc, doctype);
    HtmlElement *html = el(HtmlTag_Html);
    html_set_attribute(arena, html, HtmlAttr_Lang, str_lit("en"));
    html_append_child(doc, html);
    HtmlElement *body = el(HtmlTag_Body);
    html_append_content(html, body);
    // `el` counts the elements; clang cannot see it change `count`.
    for (int s = 0;; s += 1) {
        if (count >= 5000) break;
        HtmlElement *section = el(HtmlTag_Section);
        html_set_attribute(arena, section, HtmlAttr_Id, str_pushf(arena, "section-%d", s));
        html_append_content(body, section);
        HtmlElement *h = el(HtmlTag_H2);
        html_append_text(arena, h, str_pushf(arena, "Section %d: a heading of some length", s));
        html_append_content(section, h);
        for (int p = 0; p < 4; p += 1) {
            HtmlElement *para = el(HtmlTag_P);
            html_set_attribute(arena, para, HtmlAttr_Class, str_lit("paragraph"));
            html_append_text(arena, para, str_lit("Wyn writes pages from documents, and this paragraph stands for "
                                                  "an ordinary run of prose with a "));
            HtmlElement *a = el(HtmlTag_A);
            html_set_attribute(arena, a, HtmlAttr_Href, str_lit("/notes/travel/lisbon.html#anchor-12"));
            html_append_text(arena, a, str_lit("link to another page"));
            html_append_content(para, a);
            html_append_text(arena, para, str_lit(" and some "));
            HtmlElement *span = el(HtmlTag_Span);
            html_set_attribute(arena, span, HtmlAttr_Style, str_lit("font-weight:bold"));
            html_append_text(arena, span, str_lit("emphasis"));
            html_append_content(para, span);
            html_append_text(arena, para, str_lit(" before it ends."));
            html_append_content(section, para);
        }
        HtmlElement *ul = el(HtmlTag_Ul);
        html_append_content(section, ul);
        for (int i = 0; i < 5; i += 1) {
            HtmlElement *li = el(HtmlTag_Li);
            html_append_text(arena, li, str_lit("A list entry"));
            html_append_content(ul, li);
        }
        html_append_content(section, el(HtmlTag_Br));
    }
    *element_count = count;
    return doc;
}

static void SerializePage(benchmark::State &state)
{
    Arena *tree_arena = arena_alloc(GiB(1), MiB(1));
    Arena *out_arena = arena_alloc(GiB(1), MiB(1));
    u64 elements = 0;
    HtmlElement *page = make_page(tree_arena, &elements);
    u64 bytes = 0;
    for (auto _ : state) {
        arena_clear(out_arena);
        StrList out = {};
        html_serialize(out_arena, page, &out, nullptr);
        bytes = out.total_size;
        benchmark::DoNotOptimize(out.first);
    }
    state.SetBytesProcessed(state.iterations() * (s64)bytes);
    state.counters["elements"] = (double)elements;
    state.counters["page_bytes"] = (double)bytes;
    arena_release(out_arena);
    arena_release(tree_arena);
}
BENCHMARK(SerializePage);

// The same, plus the join into one buffer that writing the file needs.
static void SerializePageAndJoin(benchmark::State &state)
{
    Arena *tree_arena = arena_alloc(GiB(1), MiB(1));
    Arena *out_arena = arena_alloc(GiB(1), MiB(1));
    u64 elements = 0;
    HtmlElement *page = make_page(tree_arena, &elements);
    u64 bytes = 0;
    for (auto _ : state) {
        arena_clear(out_arena);
        StrList out = {};
        html_serialize(out_arena, page, &out, nullptr);
        Str text = str_list_join_plain(out_arena, &out);
        bytes = text.size;
        benchmark::DoNotOptimize(text.str);
    }
    state.SetBytesProcessed(state.iterations() * (s64)bytes);
    arena_release(out_arena);
    arena_release(tree_arena);
}
BENCHMARK(SerializePageAndJoin);

static void BuildPage(benchmark::State &state)
{
    Arena *arena = arena_alloc(GiB(1), MiB(1));
    u64 elements = 0;
    for (auto _ : state) {
        arena_clear(arena);
        benchmark::DoNotOptimize(make_page(arena, &elements));
    }
    state.SetItemsProcessed(state.iterations() * (s64)elements);
    arena_release(arena);
}
BENCHMARK(BuildPage);

static void TagByName(benchmark::State &state)
{
    for (auto _ : state)
        for (const HtmlTagInfo &row : html_tag_table) benchmark::DoNotOptimize(html_tag_from_name(row.name));
    state.SetItemsProcessed(state.iterations() * HtmlTag_Count);
}
BENCHMARK(TagByName);

static void TagById(benchmark::State &state)
{
    for (auto _ : state)
        for (u32 id = 1; id <= HtmlTag_Count; id += 1) benchmark::DoNotOptimize(html_tag_from_id(id));
    state.SetItemsProcessed(state.iterations() * HtmlTag_Count);
}
BENCHMARK(TagById);

static void AttrByName(benchmark::State &state)
{
    for (auto _ : state)
        for (const HtmlAttrInfo &row : html_attr_table) benchmark::DoNotOptimize(html_attr_from_name(row.name));
    state.SetItemsProcessed(state.iterations() * HtmlAttr_Count);
}
BENCHMARK(AttrByName);

static void AttrById(benchmark::State &state)
{
    for (auto _ : state)
        for (u32 id = 0; id < HtmlAttr_Count; id += 1) benchmark::DoNotOptimize(html_attr_from_id(id));
    state.SetItemsProcessed(state.iterations() * HtmlAttr_Count);
}
BENCHMARK(AttrById);

BENCHMARK_MAIN();
