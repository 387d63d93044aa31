// Fuzz target: any bytes tokenize, parse, index their tables and dump,
// and the tree that comes out is consistent; then the document renders
// into a page, desktop and smartphone, and its text cannot break out of
// the HTML a reader gets. Sanitizers catch reads past the text; the checks
// below catch broken links and counts, unescaped text, and attributes that
// end before the serializer meant them to.
#include <cstdint>
#include <cstdlib>

#include "../markup/markup_check.h"
#include "../render/render_page.h"
#include "markup/parser.h"
#include "markup/tables.h"
#include "markup/tree_dump.h"
#include "render/render_rules.h"

static void check_tree(const MarkupNode *root, u64 text_size)
{
    if (markup_tree_check(root, text_size).fault[0]) abort();
}

static bool holds_byte(Str s, char byte) { return str_find_byte(s, byte, 0) < s.size; }

// An element's start tag as the serializer writes it: every attribute value
// stands between one pair of quotes, so a quote the document put into a
// value (an image's caption) is written escaped and cannot end the value
// and start another attribute.
static void check_start_tag(Arena *arena, HtmlElement *e)
{
    HtmlElement shallow = *e;
    shallow.parent = shallow.next = shallow.prev = &html_none;
    shallow.first_child = shallow.last_child = &html_none;
    shallow.child_count = 0;
    ArenaTemp temp = temp_begin(arena);
    StrList out = {};
    html_serialize(arena, &shallow, &out, nullptr);
    u64 quotes = 0;
    for (StrNode *piece = out.first; piece; piece = piece->next)
        for (u64 i = 0; i < piece->string.size; i += 1) quotes += piece->string.str[i] == '"';
    u64 valued = 0;
    for (HtmlAttributeNode *a = e->attributes->first; a; a = a->next) valued += a->attribute.values.first != nullptr;
    temp_end(temp);
    if (quotes != 2 * valued) abort();
}

// Outside raw text (the class of the "raw" rule), no text node of the page
// holds "<": what a document says stays text. The walk tracks how many raw
// elements enclose the node.
static void check_page(Arena *arena, const TestPage &page)
{
    Str raw_class = render_rule_lookup(NodeClass_Element, MarkupKind_Raw, 0, 0)->class_name;
    HtmlElement *root = page.document;
    u64 raw_depth = 0;
    HtmlElement *n = root;
    // Pre-order with explicit climbing, so the count of raw ancestors is
    // kept in step: a page can be as deep as the document.
    while (!html_is_none(n)) {
        bool is_raw = n->type == HtmlNode_Element && html_has_attribute_value(n, HtmlAttr_Class, raw_class);
        if (n->type == HtmlNode_Text && raw_depth == 0 && holds_byte(n->text, '<')) abort();
        if (n->type == HtmlNode_Element) check_start_tag(arena, n);
        if (!html_is_none(n->first_child)) {
            raw_depth += is_raw;
            n = n->first_child;
            continue;
        }
        for (;;) {
            if (n == root) return;
            if (!html_is_none(n->next)) {
                n = n->next;
                break;
            }
            n = n->parent;
            raw_depth -= n->type == HtmlNode_Element && html_has_attribute_value(n, HtmlAttr_Class, raw_class);
        }
    }
}

static void render_both(Arena *arena, const ParsedDocument *doc)
{
    for (u32 kind : {(u32)PageVariant_Desktop, (u32)PageVariant_Smartphone}) {
        TestPage page = test_page_make(arena);
        PageVariant variant = {};
        variant.kind = kind;
        static const RenderOptions options = {str_lit("/nonexistent-wyn-fuzz/local/"), 0, nullptr, nullptr, 0, 0, nullptr};
        if (!render_document(arena, doc->root, page.document, &variant, &options)) abort();
        if (!node_is_nil(doc->footnotes)) render_document(arena, doc->footnotes, page.b_w, &variant, &options);
        check_page(arena, page);
        StrList out = {};
        html_serialize(arena, page.document, &out, nullptr);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Arena *arena = arena_alloc(GiB(8), MiB(1));
    ArenaTemp temp = temp_begin(arena);
    Str text = Str{(const char *)data, size};
    TokenArray tokens = tokenize(arena, text);
    u64 covered = 0;
    for (u64 i = 0; i < tokens.count; i += 1) {
        if (tokens.tokens[i].begin != covered || tokens.tokens[i].end <= covered) abort();
        covered = tokens.tokens[i].end;
    }
    if (covered != size) abort();

    static const ParseOptions options = {str_lit("/nonexistent-wyn-fuzz/local/"), 0, nullptr, nullptr};
    ParsedDocument doc = markup_parse(arena, text, &options);
    check_tree(doc.root, size);
    check_tree(doc.footnotes, size);
    if (doc.message_count != doc.messages.count || doc.max_level != doc.messages.max_level) abort();
    markup_tree_dump(arena, &doc, str_lit("fuzz.wyn"), text);
    // Pages render from the tree as parsed and, as in a build, after the
    // tables were handed to the table model.
    render_both(arena, &doc);
    document_index_tables(arena, &doc);
    render_both(arena, &doc);
    for (NodeListCell *cell = doc.extra_list.first; cell; cell = cell->next) {
        const MarkupTable *t = cell->table;
        for (u64 k = 0; k < t->row_count * t->column_count; k += 1)
            if (!t->cells[k]) abort();
    }
    // The tables the parse listed are the ones a walk of the tree finds,
    // in the same order.
    ParsedDocument walked = markup_parse(arena, text, &options);
    walked.tables_walk = 1;
    document_index_tables(arena, &walked);
    if (walked.extra_list.count != doc.extra_list.count) abort();
    for (NodeListCell *a = doc.extra_list.first, *b = walked.extra_list.first; a && b; a = a->next, b = b->next)
        if (a->node->offset != b->node->offset || a->table->row_count != b->table->row_count ||
            a->table->column_count != b->table->column_count)
            abort();
    temp_end(temp);
    return 0;
}
