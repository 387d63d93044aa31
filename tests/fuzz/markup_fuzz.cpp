// Fuzz target: any bytes tokenize, parse, index their tables and dump,
// and the tree that comes out is consistent. Sanitizers catch reads past
// the text; the checks below catch broken links and counts.
#include <cstdint>
#include <cstdlib>

#include "markup/parser.h"
#include "markup/tables.h"
#include "markup/tree_dump.h"

static void check_tree(const MarkupNode *root, u64 text_size)
{
    const MarkupNode *n = root;
    while (!node_is_nil(n)) {
        u64 children = 0;
        const MarkupNode *prev = &markup_nil;
        for (const MarkupNode *c = n->first_child; !node_is_nil(c); c = c->next) {
            if (c->parent != n || c->prev != prev) abort();
            prev = c;
            children += 1;
        }
        if (children != n->child_count) abort();
        if (children && prev != n->last_child) abort();
        if (n->node_class == NodeClass_Text && children) abort();
        // Text comes from the source; some elements take synthetic offsets
        // (the table of contents, the footnotes, the document context).
        if (n->node_class == NodeClass_Text && n->offset > text_size) abort();
        n = node_preorder_next((MarkupNode *)n, (MarkupNode *)root);
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

    ParsedDocument doc = {};
    parse_document(arena, arena, str_lit("fuzz.wyn"), text, tokens, &doc);
    check_tree(doc.root, size);
    check_tree(doc.footnotes, size);
    if (doc.message_count != doc.messages.count || doc.max_level != doc.messages.max_level) abort();
    markup_tree_dump(arena, &doc, str_lit("fuzz.wyn"), text);
    document_index_tables(arena, &doc);
    for (NodeListCell *cell = doc.extra_list.first; cell; cell = cell->next) {
        const MarkupTable *t = cell->table;
        for (u64 k = 0; k < t->row_count * t->column_count; k += 1)
            if (!t->cells[k]) abort();
    }
    temp_end(temp);
    return 0;
}
