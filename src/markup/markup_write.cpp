// markup/markup_write.cpp: document trees back to markup source.
#include "markup/markup_write.h"

//- escaping

static bool needs_escape(Str text, u64 i)
{
    u8 c = (u8)text.str[i];
    switch (c) {
    case '\\': case '_': case '`': case '[': case ']': case '|':
    case '(': case ')': case '~': case '{': case '}': case ';':
        return true;
    case '/':
        // Only a pair makes a comment.
        return (i + 1 < text.size && text.str[i + 1] == '/') || (i > 0 && text.str[i - 1] == '/');
    case '-': {
        // Only a run of three makes a rule.
        u64 a = i, b = i;
        while (a > 0 && text.str[a - 1] == '-') a -= 1;
        while (b < text.size && text.str[b] == '-') b += 1;
        return b - a >= 3;
    }
    default:
        return false;
    }
}

Str markup_escape_text(Arena *arena, Str text)
{
    // At most one backslash per byte.
    char *out = (char *)arena_push(arena, 2 * text.size + 1, 1);
    if (!out) return str_empty();
    u64 at = 0;
    for (u64 i = 0; i < text.size; i += 1) {
        char c = text.str[i];
        if (c == '"' || c == '\'') {
            // A quote opens a string that runs to the next quote of its
            // kind, backslashes and all; escaped, the whole string is text
            // as it stands. So the stretch is copied as it is, and only a
            // quote without partner (none before a backtick or the end) is
            // escaped alone.
            u64 close = str_find_byte(text, c, i + 1);
            // A backtick ends a string unclosed.
            if (str_find_byte(text, '`', i + 1) < close) close = text.size;
            out[at++] = '\\';
            u64 end = close < text.size ? close : i;
            for (u64 k = i; k <= end; k += 1) out[at++] = text.str[k];
            i = end;
            continue;
        }
        if (needs_escape(text, i)) out[at++] = '\\';
        out[at++] = c;
    }
    out[at] = 0;
    return Str{out, at};
}

//- the syntax of each construct

enum WriteShape : u32 {
    WriteShape_Text = 0,     // inline content: the subtree's text
    WriteShape_Context,      // "``" line, children, "``" line
    WriteShape_Header,       // "key: value" line
    WriteShape_Line,         // heading or paragraph: an indented line, then nested blocks
    WriteShape_List,         // its items
    WriteShape_Item,         // marker line, then nested blocks
    WriteShape_Link,         // quoted target, then "(label)"
};

struct WriteRow {
    u32 node_class;
    u32 kind;   // MarkupKind for elements; 0 for other classes
    u32 shape;
};

// Looked up by class and kind; the first row that fits.
static const WriteRow write_table[] = {
    {NodeClass_Element, MarkupKind_ContextDocument, WriteShape_Context},
    {NodeClass_HeaderField, MarkupKind_None, WriteShape_Header},
    {NodeClass_Element, MarkupKind_Heading, WriteShape_Line},
    {NodeClass_Element, MarkupKind_Paragraph, WriteShape_Line},
    {NodeClass_Element, MarkupKind_ListUnordered, WriteShape_List},
    {NodeClass_Element, MarkupKind_ListNumeric, WriteShape_List},
    {NodeClass_Element, MarkupKind_ListAlpha, WriteShape_List},
    {NodeClass_Element, MarkupKind_ListItem, WriteShape_Item},
    {NodeClass_Element, MarkupKind_LinkFile, WriteShape_Link},
    {NodeClass_Element, MarkupKind_LinkHttp, WriteShape_Link},
};

static u32 write_shape(const MarkupNode *node)
{
    for (const WriteRow &row : write_table) {
        if (row.node_class != node->node_class) continue;
        if (node->node_class == NodeClass_Element && row.kind != node->kind) continue;
        return row.shape;
    }
    return WriteShape_Text;
}

static bool shape_is_block(u32 shape)
{
    return shape == WriteShape_Context || shape == WriteShape_Header || shape == WriteShape_Line ||
           shape == WriteShape_List || shape == WriteShape_Item;
}

//- the walk

struct Writer {
    Arena *arena;
    StrList out;
};

static void emit(Writer *w, Str s) { str_list_push(w->arena, &w->out, s); }
static void emit_spaces(Writer *w, u64 n) { str_list_pushf(w->arena, &w->out, "%*s", (int)min_of<u64>(n, run_blanks_max), ""); }

static void write_block(Writer *w, const MarkupNode *node, u64 indent);

// Inline content: texts escaped, each followed by its recorded blanks;
// links quoted with their labels.
static void write_inline(Writer *w, const MarkupNode *node)
{
    if (node->node_class == NodeClass_Text) {
        // A quoted value (an output path) is written as it stands: its
        // quotes are the syntax.
        bool quoted = (node->flags & NodeFlag_DoubleQuoted) && (node->flags & NodeFlag_ClosedString);
        emit(w, quoted ? node->name : markup_escape_text(w->arena, node->name));
        if (node->space_after) emit_spaces(w, node->space_after);
        return;
    }
    if (write_shape(node) == WriteShape_Link) {
        const MarkupNode *target = node->first_child;
        str_list_pushf(w->arena, &w->out, "\"%S\"", node_is_nil(target) ? str_empty() : target->name);
        for (const MarkupNode *c = node->first_child; !node_is_nil(c); c = c->next) {
            if (!node_is_element(c, MarkupKind_Desc)) continue;
            emit(w, str_lit("("));
            for (const MarkupNode *d = c->first_child; !node_is_nil(d); d = d->next) write_inline(w, d);
            emit(w, str_lit(")"));
        }
        if (node->space_after) emit_spaces(w, node->space_after);
        return;
    }
    for (const MarkupNode *c = node->first_child; !node_is_nil(c); c = c->next) write_inline(w, c);
}

// The line of a heading, paragraph or item: its inline children, then its
// block children one step deeper.
static void write_line_and_blocks(Writer *w, const MarkupNode *node, u64 child_indent)
{
    for (const MarkupNode *c = node->first_child; !node_is_nil(c); c = c->next)
        if (!shape_is_block(write_shape(c))) write_inline(w, c);
    emit(w, str_lit("\n"));
    for (const MarkupNode *c = node->first_child; !node_is_nil(c); c = c->next)
        if (shape_is_block(write_shape(c))) write_block(w, c, child_indent);
}

static void write_block(Writer *w, const MarkupNode *node, u64 indent)
{
    switch (write_shape(node)) {
    case WriteShape_Context:
        emit(w, str_lit("``\n"));
        for (const MarkupNode *c = node->first_child; !node_is_nil(c); c = c->next) write_block(w, c, 0);
        emit(w, str_lit("``\n"));
        return;
    case WriteShape_Header:
        str_list_pushf(w->arena, &w->out, "%S: ", node->name);
        for (const MarkupNode *c = node->first_child; !node_is_nil(c); c = c->next) write_inline(w, c);
        emit(w, str_lit("\n"));
        return;
    case WriteShape_Line: {
        // A line's level is its indentation over two.
        u64 at = 2 * (u64)node->number;
        emit_spaces(w, at);
        write_line_and_blocks(w, node, at + 2);
        return;
    }
    case WriteShape_List: {
        u64 number = 0;
        for (const MarkupNode *c = node->first_child; !node_is_nil(c); c = c->next) {
            emit_spaces(w, indent);
            if (node->kind == MarkupKind_ListNumeric) str_list_pushf(w->arena, &w->out, "%I64u. ", number + 1);
            else if (node->kind == MarkupKind_ListAlpha)
                str_list_pushf(w->arena, &w->out, "%c. ", (char)('a' + min_of<u64>(number, 25)));
            else emit(w, str_lit(". "));
            write_line_and_blocks(w, c, indent + 2);
            number += 1;
        }
        return;
    }
    default:
        emit_spaces(w, indent);
        write_inline(w, node);
        emit(w, str_lit("\n"));
        return;
    }
}

Str markup_write(Arena *arena, const MarkupNode *root)
{
    ArenaTemp scratch = scratch_begin(&arena, 1);
    Writer w = {scratch.arena, {}};
    for (const MarkupNode *c = root->first_child; !node_is_nil(c); c = c->next) write_block(&w, c, 0);
    Str text = str_list_join_plain(arena, &w.out);
    scratch_end(scratch);
    return text;
}
