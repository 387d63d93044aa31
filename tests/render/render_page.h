// Test helpers for the renderer: the smallest page the renderer can fill (a
// document node, html, body and the three regions it looks for) and a
// parse-and-render of one source text. Until the page shell exists, tests
// and benchmarks render into this page.
#pragma once
#include <string>

#include "markup/parser.h"
#include "render/renderer.h"

// Tests render as a site whose local folder is /site/local/, with file
// addresses unless a test asks for deploy.
inline const RenderOptions test_render_options = {str_lit("/site/local/"), 0, nullptr, nullptr, 0, 0, nullptr};
inline const ParseOptions test_parse_options = {str_lit("/site/local/"), 0, nullptr, nullptr};

struct TestPage {
    HtmlElement *document;
    HtmlElement *html;
    HtmlElement *body;
    HtmlElement *top_middle;
    HtmlElement *b_w;
    HtmlElement *bottom;
};

inline HtmlElement *test_page_region(Arena *arena, HtmlElement *body, Str id)
{
    HtmlElement *div = html_element_from_tag(arena, HtmlTag_Div);
    html_set_attribute(arena, div, HtmlAttr_Id, id);
    html_append_content(body, div);
    return div;
}

inline TestPage test_page_make(Arena *arena)
{
    TestPage page = {};
    page.document = html_node_create(arena, HtmlNode_Document, 0, str_empty(), str_empty(), 0);
    page.html = html_element_from_tag(arena, HtmlTag_Html);
    html_append_child(page.document, page.html);
    page.body = html_element_from_tag(arena, HtmlTag_Body);
    html_append_content(page.html, page.body);
    page.top_middle = test_page_region(arena, page.body, str_lit("top_middle"));
    page.b_w = test_page_region(arena, page.body, str_lit("b_w"));
    page.bottom = test_page_region(arena, page.body, str_lit("bottom"));
    return page;
}

inline std::string test_serialize(Arena *arena, HtmlElement *root)
{
    StrList out = {};
    html_serialize(arena, root, &out, nullptr);
    Str text = str_list_join_plain(arena, &out);
    return std::string(text.str, text.size);
}

inline ParsedDocument test_parse(Arena *arena, Str text, const ParseOptions *options = &test_parse_options)
{
    return markup_parse(arena, text, options);
}

typedef void TestPrepare(ParsedDocument *doc);

// Parses `source` and renders it into a fresh page as the site build and the
// page assembly would: the document, then its footnotes into `b_w`.
// `prepare` runs between the two, where the link check would.
inline TestPage test_render(Arena *arena, const std::string &source, u32 variant_kind, TestPrepare *prepare = nullptr,
                            ParsedDocument *out = nullptr, const RenderOptions *options = &test_render_options)
{
    Str text = str_copy(arena, Str{source.data(), source.size()});
    ParseOptions parse_options = {options->local_folder, 0, nullptr, nullptr};
    ParsedDocument doc = test_parse(arena, text, &parse_options);
    if (prepare) prepare(&doc);
    TestPage page = test_page_make(arena);
    PageVariant variant = {};
    variant.kind = variant_kind;
    render_document(arena, doc.root, page.document, &variant, options);
    if (!node_is_nil(doc.footnotes)) render_document(arena, doc.footnotes, page.b_w, &variant, options);
    if (out) *out = doc;
    return page;
}
