// Any bytes as a template: the tokenizer, the tree builder, the validator
// with every option, the serializer and the searches must give a tree and
// messages without a crash, a hang or a read past the source.
#include <cstdlib>

#include "html/validator.h"

static void require(bool ok)
{
    if (!ok) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const u8 *data, size_t size)
{
    static Arena *arena = arena_alloc(GiB(1), MiB(1));
    arena_clear(arena);
    // The first byte picks the options; printing is always off.
    u32 options = size ? data[0] : 0;
    Str source = str((const char *)data, size);

    HtmlTokenArray tokens = html_tokenize(arena, source);
    u64 at = 0;
    for (u64 i = 0; i < tokens.count; i += 1) {
        require(tokens.tokens[i].start == at && tokens.tokens[i].end > at);
        at = tokens.tokens[i].end;
    }
    require(at == size);

    HtmlParseResult result = html_parse_template(arena, source, str_lit("fuzz.html"), options | HtmlParse_Quiet);
    require(size == 0 || !html_is_none(result.root));
    html_validate(arena, &result, str_empty(), str_empty());
    for (Diagnostic *d = result.diagnostics.first; d; d = d->next) require(d->offset <= size + 1);

    // Links agree everywhere, and the serializer reaches the end.
    u64 nodes = 0;
    for (HtmlElement *n = result.root; !html_is_none(n); n = html_walk_next(n, result.root)) {
        u64 count = 0;
        for (HtmlElement *c = n->first_child; !html_is_none(c); c = c->next) {
            require(c->parent == n);
            count += 1;
        }
        require(count == n->child_count);
        nodes += 1;
    }
    StrList out = {};
    html_serialize(arena, result.root, &out, nullptr);
    Str text = str_list_join_plain(arena, &out);
    require(text.size == out.total_size);
    HtmlElementList divs = {};
    html_collect_by_tag(arena, result.root, HtmlTag_Div, &divs);
    require(divs.count <= nodes);
    html_find_by_tag(result.root, HtmlTag_Title, HtmlFind_Last);
    html_find_by_id(result.root, str_lit("menu"));

    // What wyn writes, wyn reads again.
    HtmlParseResult again = html_parse_template(arena, text, str_lit("again.html"), HtmlParse_Quiet | HtmlParse_Validate);
    require(text.size == 0 || !html_is_none(again.root));
    return 0;
}
