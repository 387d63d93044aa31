// Any bytes as the text of a code block, highlighted in every language wyn
// has a grammar for: besides not crashing, the spans are sorted, apart,
// inside the text and classed, and the HTML is the block's text as the
// renderer writes it ("<" escaped) with nothing but whole, unnested
// <span class="h-..."> tags added, so removing those tags gives the plain
// block back byte for byte (entities included, whether a span was kept or
// left off around them).
#include <cstdlib>
#include <cstring>
#include <string>

#include "html/html_tree.h"
#include "render/highlight.h"

static void check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "highlight_fuzz: %s\n", what);
        abort();
    }
}

// The HTML with the spans' tags taken out; aborts on any other tag.
static std::string without_spans(const std::string &html)
{
    std::string out;
    size_t at = 0;
    for (;;) {
        size_t open = html.find('<', at);
        if (open == std::string::npos) break;
        out.append(html, at, open - at);
        static const char prefix[] = "<span class=\"h-";
        check(html.compare(open, sizeof prefix - 1, prefix) == 0, "a tag other than a span's");
        size_t text = html.find("\">", open);
        check(text != std::string::npos && text == open + sizeof prefix - 1 + 1, "a span's class is one letter");
        text += 2;
        size_t close = html.find('<', text);
        check(close != std::string::npos && html.compare(close, 7, "</span>") == 0, "a span holds only text");
        out.append(html, text, close - text);
        at = close + 7;
    }
    out.append(html, at, std::string::npos);
    return out;
}

extern "C" int LLVMFuzzerTestOneInput(const u8 *data, size_t size)
{
    static Arena *arena = arena_alloc(MiB(64), KiB(64));
    Str text = str((const char *)data, size);
    Str plain = html_escape(arena, text, HtmlEscape_Lt);
    for (u32 language = 1; language <= highlight_grammar_count; language += 1) {
        arena_clear(arena);
        plain = html_escape(arena, text, HtmlEscape_Lt);
        HighlightSpans spans = {};
        bool highlighted = highlight_spans(arena, language, text, &spans);
        check(highlighted || spans.count == 0, "spans of a block that was not highlighted");
        check(highlighted || size == 0, "a short block was not highlighted");
        for (u64 i = 0; i < spans.count; i += 1) {
            const HighlightSpan &s = spans.spans[i];
            check(s.begin < s.end && s.end <= size, "a span outside the text");
            check(s.cls > HighlightClass_None && s.cls < HighlightClass_Count, "a span without a class");
            check(i == 0 || spans.spans[i - 1].end <= s.begin, "spans overlap or are out of order");
        }
        Str html = highlight_html(arena, language, text);
        if (html.size == 0) {
            check(spans.count == 0, "spans but no HTML");
            continue;
        }
        check(without_spans(std::string(html.str, html.size)) == std::string(plain.str, plain.size),
              "the HTML's text is not the block's");
    }
    return 0;
}
