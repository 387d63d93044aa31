// Fuzz target: any bytes parse into a document whose pages, desktop and
// smartphone, are the same bytes whether each page renders the document
// itself or takes the body rendered once for all of them. The shared body
// holds what no page changes as HTML text and lists what a page must still
// change; a page that changes something the body froze, or misses a part
// it listed, differs from the page rendered alone and stops the run. The
// first byte's lowest bit makes the document the site's index, whose page
// regroups its body's children.
#include <cstdint>
#include <cstdlib>

#include "markup/parser.h"
#include "markup/tables.h"
#include "shell/page_build.h"
#include "shell/page_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Arena *arena = arena_alloc(GiB(8), MiB(1));
    ArenaTemp temp = temp_begin(arena);
    Str text = Str{(const char *)data, size};
    static const Str local = str_lit("/nonexistent-wyn-fuzz/local/");
    static const ParseOptions parse = {local, 0, nullptr, nullptr};
    ParsedDocument doc = markup_parse(arena, text, &parse);
    document_index_tables(arena, &doc);

    static const RenderOptions render = {local, 0, nullptr, nullptr, 0, 0, nullptr};
    PageSite site = {nullptr, &render, nullptr};
    Str source = size && (data[0] & 1) ? str_lit("/nonexistent-wyn-fuzz/local/wyn_files/index.wyn")
                                       : str_lit("/nonexistent-wyn-fuzz/local/wyn_files/notes/fuzz.wyn");
    PageDocument document = {&doc, source, text, nullptr, nullptr, nullptr};
    PageVariant desktop = {}, smartphone = {};
    desktop.kind = PageVariant_Desktop;
    smartphone.kind = PageVariant_Smartphone;
    Str paths[2] = {str_lit("/nonexistent-wyn-fuzz/local/html/fuzz.html"),
                    str_lit("/nonexistent-wyn-fuzz/local/html/fuzz_smartphone.html")};
    const PageVariant *variants[2] = {&desktop, &smartphone};

    Str alone[2];
    for (u32 i = 0; i < 2; i += 1)
        alone[i] = html_text_of(arena, page_build(arena, &site, &document, paths[i], variants[i]).document, nullptr);
    PageBody *body = page_body_render(arena, &site, &document);
    for (u32 i = 0; i < 2; i += 1) {
        page_body_style(arena, body, variants[i]);
        PageRecord page = page_build_from(arena, &site, &document, paths[i], variants[i], body, i == 1);
        if (!str_eq(html_text_of(arena, page.document, nullptr), alone[i])) abort();
    }
    temp_end(temp);
    return 0;
}
