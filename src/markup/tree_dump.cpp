// markup/tree_dump.cpp: the text form of a parsed document.
#include "markup/tree_dump.h"

#include "markup/parser.h"
#include "os/platform.h"

static Str node_class_name(u32 node_class)
{
    switch (node_class) {
    case NodeClass_Document: return str_lit("document");
    case NodeClass_Message: return str_lit("message");
    case NodeClass_Element: return str_lit("element");
    case NodeClass_Text: return str_lit("text");
    case NodeClass_HeaderField: return str_lit("header_field");
    }
    return str_lit("nil");
}

static Str quoted(Arena *arena, Str text)
{
    // At most four bytes per source byte, plus the quotes.
    char *out = (char *)arena_push(arena, text.size * 4 + 3, 1);
    u64 n = 0;
    out[n++] = '"';
    static const char hex[] = "0123456789abcdef";
    for (u64 i = 0; i < text.size; i += 1) {
        u8 c = (u8)text.str[i];
        if (c == '\n') out[n++] = '\\', out[n++] = 'n';
        else if (c == '\r') out[n++] = '\\', out[n++] = 'r';
        else if (c == '\t') out[n++] = '\\', out[n++] = 't';
        else if (c == '"' || c == '\\') out[n++] = '\\', out[n++] = (char)c;
        else if (c < 0x20 || c == 0x7f) {
            out[n++] = '\\';
            out[n++] = 'x';
            out[n++] = hex[c >> 4];
            out[n++] = hex[c & 15];
        } else {
            out[n++] = (char)c;
        }
    }
    out[n++] = '"';
    out[n] = 0;
    return Str{out, n};
}

static void dump_node(Arena *arena, StrList *out, const MarkupNode *node, u64 depth)
{
    u64 shown = min_of<u64>(depth, 64);
    if (shown) str_list_push(arena, out, str_fill(arena, shown * 2, ' '));
    if (depth > 64) str_list_pushf(arena, out, "(%llu) ", (unsigned long long)depth);
    str_list_push(arena, out, node_class_name(node->node_class));
    if (node->node_class == NodeClass_Text) {
        str_list_push(arena, out, str_lit(" "));
        str_list_push(arena, out, quoted(arena, node->text));
    } else if (node->node_class != NodeClass_Document) {
        str_list_pushf(arena, out, " %S", node->name);
    }
    str_list_pushf(arena, out, " #%u 0x%llx @%llu", (unsigned)node->number, (unsigned long long)node->flags,
                   (unsigned long long)node->offset);
    if (node->indent) str_list_pushf(arena, out, " indent=%u", (unsigned)node->indent);
    if (node->space_before) str_list_pushf(arena, out, " before=%u", (unsigned)node->space_before);
    if (node->space_after) str_list_pushf(arena, out, " after=%u", (unsigned)node->space_after);
    if (node->max_heading_level) str_list_pushf(arena, out, " max_level=%u", (unsigned)node->max_heading_level);
    Str language = block_language(node);
    if (language.size) str_list_pushf(arena, out, " lang=%S", quoted(arena, language));
    str_list_push(arena, out, str_lit("\n"));
}

static void dump_tree(Arena *arena, StrList *out, const MarkupNode *root, u64 base_depth)
{
    const MarkupNode *n = root;
    u64 depth = base_depth;
    while (!node_is_nil(n)) {
        dump_node(arena, out, n, depth);
        if (!node_is_nil(n->first_child)) {
            n = n->first_child;
            depth += 1;
            continue;
        }
        while (n != root && node_is_nil(n->next)) {
            n = n->parent;
            depth -= 1;
        }
        if (n == root) break;
        n = n->next;
    }
}

Str markup_tree_dump(Arena *arena, const ParsedDocument *doc, Str path, Str source)
{
    ArenaTemp scratch = scratch_begin(arena);
    StrList out = {};
    dump_tree(scratch.arena, &out, doc->root, 0);
    if (!node_is_nil(doc->footnotes)) {
        str_list_push(scratch.arena, &out, str_lit("footnotes:\n"));
        dump_tree(scratch.arena, &out, doc->footnotes, 1);
    }
    for (StrNode *p = doc->output_paths.first; p; p = p->next)
        str_list_pushf(scratch.arena, &out, "output_path: %S\n", p->string);
    if (doc->status.size) str_list_pushf(scratch.arena, &out, "status: %S\n", doc->status);
    if (doc->toc_value.size) str_list_pushf(scratch.arena, &out, "toc: %S\n", doc->toc_value);
    if (!node_is_nil(doc->title)) str_list_pushf(scratch.arena, &out, "title: @%llu\n", (unsigned long long)doc->title->offset);
    str_list_push(scratch.arena, &out, diag_format_document(scratch.arena, &doc->messages, path, source));
    Str result = str_list_join_plain(arena, &out);
    scratch_end(scratch);
    return result;
}
