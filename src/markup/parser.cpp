// markup/parser.cpp: the state machine and the line half of the parser.
//
// A line's role is decided by its first token and its indentation (the
// column of that token). The stack of state records is the path of open
// containers: a heading whose paragraphs may follow, a list whose next item
// may follow, a quote, a context. A new line pops what it cannot live in
// and pushes what it opens; every record is pushed once and popped once,
// so a document parses in linear time however deep it nests.
#include "markup/paths.h"
#include "markup/parser_state.h"


//- tokens

bool token_is_symbol(const Parser *p, const MarkupToken *t, char c)
{
    return t && (t->flags & TokenFlag_Symbol) && !(t->flags & TokenFlag_Quoted) && t->end - t->begin == 1 &&
           p->text.str[t->begin] == c;
}

void parser_advance_to(Parser *p, u64 index)
{
    if (index > p->count) index = p->count;
    for (; p->i < index; p->i += 1)
        if (p->tokens[p->i].flags & TokenFlag_Newline) p->line_begin = p->tokens[p->i].end;
}

// The column of a token in its line, which is its indentation when it
// opens the line. Widths past 255 wrap, as every u8 field does.
static u8 token_column(const Parser *p, const MarkupToken *t) { return (u8)(t->begin - p->line_begin); }

//- records

ParseRecord *parser_push(Parser *p, u32 state, MarkupNode *node, u32 flags)
{
    ParseRecord *r = p->free_records;
    if (r) p->free_records = r->below;
    else r = push_array_no_zero<ParseRecord>(p->work, 1);
    ParseRecord *below = p->top;
    r->below = below;
    r->state = state;
    r->flags = flags;
    r->node = node;
    r->depth = below ? below->depth + 1 : 0;
    r->quote = state == ParseState_Quote ? r : below ? below->quote : nullptr;
    bool context = state == ParseState_Context || state == ParseState_InlineContext;
    r->context = context ? r : below ? below->context : nullptr;
    bool line = state == ParseState_Inline && !is_kind(node, MarkupKind_Desc);
    r->line = line ? r : below ? below->line : nullptr;
    bool top_heading = is_kind(node, MarkupKind_Heading) && node->number == 0;
    r->heading0 = top_heading ? node : below ? below->heading0 : nullptr;
    r->open_brackets = 0;
    r->open_parens = 0;
    p->top = r;
    return r;
}

void parser_pop(Parser *p)
{
    ParseRecord *r = p->top;
    if (r->state == ParseState_Root) return;
    if (r == p->table.record) p->table = TableState{};
    p->top = r->below;
    r->below = p->free_records;
    p->free_records = r;
}

void parser_pop_above(Parser *p, ParseRecord *record)
{
    while (p->top->depth > record->depth && p->top->state != ParseState_Root) parser_pop(p);
}

void parser_pop_through(Parser *p, ParseRecord *record)
{
    parser_pop_above(p, record);
    if (p->top == record) parser_pop(p);
}

// The innermost open quote or context, whichever is deeper: a line belongs
// to it. Null when the other one (or nothing) is innermost.
static ParseRecord *innermost_quote(const Parser *p)
{
    ParseRecord *q = p->top->quote;
    ParseRecord *c = p->top->context;
    return q && (!c || q->depth > c->depth) ? q : nullptr;
}

static ParseRecord *innermost_context(const Parser *p)
{
    ParseRecord *q = p->top->quote;
    ParseRecord *c = p->top->context;
    return c && (!q || c->depth > q->depth) ? c : nullptr;
}

//- nodes and messages

// A document that is mostly mistakes (a megabyte of "]") would otherwise
// keep a message, its anchor and its text per byte: past the limit they are
// counted, not kept, and one note at the end says how many.
static bool message_dropped(Parser *p, u32 level)
{
    if (p->out->messages.count < parser_message_limit) return false;
    p->dropped_messages += 1;
    p->dropped_max_level = max_of(p->dropped_max_level, level);
    return true;
}

void parser_message(Parser *p, const MarkupToken *t, u32 level, Str text)
{
    if (message_dropped(p, level)) return;
    MarkupNode *anchor = node_new_message(p->work, t->begin, node_flags_from_token(t->flags), parser_token_text(p, t));
    diag_push(p->work, &p->out->messages, anchor, level, text);
}

MarkupNode *parser_words_apart(Parser *p, MarkupNode *container, const MarkupToken *t, u64 flags)
{
    bool after_blank = t > p->tokens && (t[-1].flags & TokenFlag_Space);
    u64 begin = t->begin;
    for (;;) {
        u64 end = token_word_end(p, t, begin);
        Str word = str_substr(p->text, begin, end);
        MarkupNode *last = container->last_child;
        MarkupNode *n = parser_node(p, NodeClass_Text, flags, word, word, begin);
        if (after_blank && keeps_space_before(last)) n->space_before = 1;
        parser_append(container, n);
        if (end >= t->end) return n;
        n->space_after = 1;
        after_blank = true;
        begin = end + 1;
    }
}

void parser_markdown_note(Parser *p, const MarkupToken *t, Str text)
{
    if (p->told_markdown) return;
    p->told_markdown = true;
    parser_message(p, t, DiagLevel_Note, text);
}

// A line that starts as a Markdown list item ("- ", "* ", "+ ") or heading
// ("# " to "###### ").
static void markdown_line_habit(Parser *p, const MarkupToken *t)
{
    if (!(t->flags & (TokenFlag_Symbol | TokenFlag_Mark)) || (t->flags & TokenFlag_Escape)) return;
    Str rest = str_skip(p->text, t->begin);
    u8 c = rest.size ? (u8)rest.str[0] : 0;
    if ((c == '-' || c == '*' || c == '+') && rest.size > 1 && rest.str[1] == ' ')
        return parser_markdown_note(p, t, str_pushf(p->work, "\"%c \" starts no list here and shows as written; a list "
                                                             "item starts with a dot and a blank (\". \")", c));
    u64 marks = 0;
    while (marks < rest.size && marks < 7 && rest.str[marks] == '#') marks += 1;
    if (marks >= 1 && marks <= 6 && marks < rest.size && rest.str[marks] == ' ')
        parser_markdown_note(p, t, str_lit("\"#\" marks no heading here and shows as written; a heading is a line at "
                                           "the left margin, with its text indented by two blanks below it"));
}

void parser_unexpected(Parser *p, const MarkupToken *t)
{
    if (message_dropped(p, DiagLevel_Error)) return;
    Str text = str_pushf(p->work, "Unexpected \"%S\" token.", parser_token_text(p, t));
    parser_message(p, t, DiagLevel_Error, text);
}

//- placement helpers

static bool is_line_level(const MarkupNode *n)
{
    return is_kind(n, MarkupKind_Heading) || is_kind(n, MarkupKind_Paragraph) ||
           is_kind(n, MarkupKind_ListItem);
}

static bool descends_from(const MarkupNode *n, const MarkupNode *ancestor)
{
    for (const MarkupNode *x = n->parent; !node_is_nil(x); x = x->parent)
        if (x == ancestor) return true;
    return false;
}

// The last paragraph of the subtree of `top` in tree order, else its last
// heading. Paragraphs and headings only ever hang below headings on the
// open path, so tree order is creation order there: the latest one made
// is the answer when it lies in the subtree, and the check climbs only the
// short heading chain above it. `*line` is that line, whose indentation a
// block below it should have.
static MarkupNode *last_block_parent(Parser *p, MarkupNode *top, MarkupNode **line)
{
    *line = top;
    if (is_kind(top, MarkupKind_Paragraph)) return top;
    bool heading = is_kind(top, MarkupKind_Heading);
    if (!heading && top != p->root) return &markup_nil;
    MarkupNode *last = &markup_nil;
    if (p->last_paragraph && descends_from(p->last_paragraph, top)) last = p->last_paragraph;
    else if (p->last_heading && (p->last_heading == top || descends_from(p->last_heading, top))) last = p->last_heading;
    if (node_is_nil(last)) return heading ? top : &markup_nil;
    *line = last;
    // A quote or a separator line can follow that line in its heading; the
    // block comes after them, so it goes below the highest one of that
    // line's ancestors followed by nothing, not into the line before them.
    MarkupNode *parent = last;
    for (MarkupNode *x = last; x != top && !node_is_nil(x); x = x->parent)
        if (followed_by_text(x)) parent = x->parent;
    return parent;
}

// Back to the record from which the lines of quote `q` are read.
static void enter_quote_lines(Parser *p, ParseRecord *q)
{
    parser_pop_above(p, q);
    parser_push(p, ParseState_NextLine, q->node);
}

// Where a block that opens a line (a context, a fenced block, a table)
// goes: into the innermost quote, into the last item of an open list,
// into the open context, else below the last paragraph (or heading) of
// the line before. `*line` (when asked) is the node whose indentation the
// block's should match: the parent, or the line before when the block
// goes past it.
static MarkupNode *block_parent(Parser *p, MarkupNode **line = nullptr)
{
    MarkupNode *ignored = &markup_nil;
    if (!line) line = &ignored;
    // A list open on top is inside the innermost quote, if any: the block
    // is its item's.
    MarkupNode *top = p->top->node;
    if (is_list_kind(top)) return *line = top->last_child;
    ParseRecord *q = innermost_quote(p);
    if (q) {
        enter_quote_lines(p, q);
        return *line = q->node;
    }
    if (p->top->state == ParseState_Context) return *line = top;
    MarkupNode *parent = last_block_parent(p, top, line);
    if (node_is_nil(parent)) return *line = top;
    return parent;
}

//- table of contents

static void toc_enter(Parser *p, MarkupNode *heading)
{
    if (!p->toc_list) {
        MarkupNode *toc = parser_element(p, MarkupKind_Toc, 0, 1);
        p->toc_list = parser_element(p, MarkupKind_ListUnordered, 0, 2);
        node_append_child(toc, p->toc_list);
        node_append_child(p->root, toc);
    }
    MarkupNode *last = p->toc_list->last_child;
    if (!node_is_nil(last) && last->first_child->offset == heading->offset) return;
    u64 entries = p->toc_list->child_count;
    MarkupNode *item = parser_element(p, MarkupKind_ListItem, 0, heading->offset + 1 + entries);
    item->number = (u8)entries;
    MarkupNode *copy = parser_element(p, MarkupKind_TocItem, heading->flags, heading->offset);
    copy->number = heading->number;
    // Each run of text children inside the same spans (and holding no span
    // mark) becomes one text node: the entry reads the same, and a long
    // heading does not cost its node count twice.
    const u64 spans = NodeFlag_EmphasisMarks | NodeFlag_StrongInside | NodeFlag_EmphasisInside;
    auto same_run = [&](const MarkupNode *a, const MarkupNode *b) {
        if (b->node_class != NodeClass_Text) return false;
        if (a == b) return true;
        return !(a->flags & NodeFlag_EmphasisMarks) && !(b->flags & NodeFlag_EmphasisMarks) &&
               (a->flags & spans) == (b->flags & spans);
    };
    MarkupNode *c = heading->first_child;
    while (!node_is_nil(c)) {
        if (c->node_class != NodeClass_Text) {
            c = c->next;
            continue;
        }
        MarkupNode *end = c;
        u64 size = 0;
        for (; !node_is_nil(end) && same_run(c, end); end = end->next)
            size += end->text.size + min_of<u64>(end->space_after, run_blanks_max);
        char *bytes = (char *)arena_push(p->arena, size + 1, 1);
        u64 at = 0;
        for (MarkupNode *r = c; r != end; r = r->next) {
            u64 spaces = min_of<u64>(r->space_after, run_blanks_max);
            memcpy(bytes + at, r->text.str, r->text.size);
            memset(bytes + at + r->text.size, ' ', spaces);
            at += r->text.size + spaces;
        }
        bytes[size] = 0;
        Str s = Str{bytes, size};
        node_append_child(copy, parser_node(p, NodeClass_Text, c->flags, s, s, c->offset));
        c = end;
    }
    node_append_child(item, copy);
    node_append_child(p->toc_list, item);
}

//- line end

static void finish_line(Parser *p, MarkupNode *line)
{
    if (is_kind(line, MarkupKind_ListItem)) {
        // An item's trailing blanks are not spacing: the next line may continue it.
        if (!node_is_nil(line->last_child)) line->last_child->space_after = 0;
        return;
    }
    if (is_kind(line, MarkupKind_Heading)) toc_enter(p, line);
    ParseRecord *below = p->top;
    if (below->state == ParseState_Context || below->state == ParseState_InlineContext) return;
    if (is_kind(below->node, MarkupKind_Quote) || line->node_class == NodeClass_HeaderField) return;
    parser_push(p, ParseState_NextLine, line);
}

void parse_line_end(Parser *p)
{
    for (;;) {
        ParseRecord *r = p->top;
        if (r->state == ParseState_InlineContext) {
            // Inline constructs never run past their line.
            parser_pop(p);
            continue;
        }
        if (r->state != ParseState_Inline) break;
        if (r == p->table.record) {
            table_line_end(p);
            return;
        }
        MarkupNode *node = r->node;
        bool owner = (r->flags & ParseRecord_LineOwner) != 0;
        parser_pop(p);
        if (owner) {
            finish_line(p, node);
            break;
        }
    }
    p->at_line_start = true;
    if (p->i < p->count) parser_advance_to(p, p->i + 1);
}

//- the kinds of line

enum ListKind { ListKind_None, ListKind_Numeric, ListKind_Alpha, ListKind_Unordered };

static u32 list_kind_of(ListKind kind)
{
    if (kind == ListKind_Numeric) return MarkupKind_ListNumeric;
    if (kind == ListKind_Alpha) return MarkupKind_ListAlpha;
    return MarkupKind_ListUnordered;
}

static bool ends_marker(const MarkupToken *t) { return !t || (t->flags & (TokenFlag_Space | TokenFlag_Newline)); }

// "1. ", "b. " or ". " opens a list item. The marker must be followed by
// a blank or the line end, so a line that starts with "e.g." or "1.x" is
// text, not an item.
static ListKind list_marker(const Parser *p, u64 index, u8 *first_number, u64 *marker_tokens)
{
    const MarkupToken *t = parser_token(p, index);
    const MarkupToken *next = parser_token(p, index + 1);
    if (token_unescaped(t, TokenFlag_Number) && token_is_symbol(p, next, '.') && ends_marker(parser_token(p, index + 2))) {
        // A list that opens at "3." counts from 3, as one that opens at
        // "c." counts from c: a list split by a line or a block goes on
        // with the numbers its author wrote. Past 256 (a year, say) it
        // counts from 1.
        u32 value = digits_value_up_to(parser_token_text(p, t), 256);
        *first_number = value >= 1 && value <= 256 ? (u8)(value - 1) : 0;
        *marker_tokens = 2;
        return ListKind_Numeric;
    }
    if (token_kind(t, TokenFlag_Word) && t->end - t->begin == 1 && token_is_symbol(p, next, '.') &&
        ends_marker(parser_token(p, index + 2))) {
        u8 c = (u8)p->text.str[t->begin];
        *first_number = char_is_lower(c) ? (u8)(c - 'a') : 0;
        *marker_tokens = 2;
        return ListKind_Alpha;
    }
    if (token_is_symbol(p, t, '.') && ends_marker(next)) {
        *first_number = 0;
        *marker_tokens = 1;
        return ListKind_Unordered;
    }
    return ListKind_None;
}

// The list a new item continues from: the deepest list on the last-child
// path of `container`. Nested lists have growing indentation, so the path
// is short.
static MarkupNode *deepest_last_list(MarkupNode *container)
{
    MarkupNode *list = container->last_child;
    if (!is_list_kind(list)) return &markup_nil;
    for (;;) {
        MarkupNode *item = list->last_child;
        if (!is_kind(item, MarkupKind_ListItem) || !is_list_kind(item->last_child)) return list;
        list = item->last_child;
    }
}

static void list_item(Parser *p, const MarkupToken *t, u8 column, ListKind kind, u8 first_number, u64 marker_tokens)
{
    MarkupNode *candidate = &markup_nil;
    MarkupNode *container = &markup_nil;
    if (is_list_kind(p->top->node)) {
        candidate = p->top->node;
    } else {
        ParseRecord *q = innermost_quote(p);
        ParseRecord *c = innermost_context(p);
        if (q) {
            enter_quote_lines(p, q);
            container = q->node;
        } else if (c) {
            parser_pop_above(p, c);
            container = c->node;
        } else {
            container = p->top->node;
        }
        candidate = deepest_last_list(container);
    }

    // Climb from the candidate to the list this item fits: the same
    // indentation and kind continues a list, a deeper one nests below its
    // last item, a shallower one returns to an enclosing list.
    u32 name = list_kind_of(kind);
    MarkupNode *list = &markup_nil;
    MarkupNode *parent = container;
    u8 depth = 0;
    for (MarkupNode *cur = candidate; !node_is_nil(cur);) {
        bool unordered = is_kind(cur, MarkupKind_ListUnordered);
        bool fits = cur->indent == column || (unordered && column == (u8)(cur->indent + 1));
        if (fits) {
            if (is_kind(cur, name)) list = cur;
            parent = cur->parent;
            depth = cur->number;
            break;
        }
        if (cur->indent < column) {
            parent = cur->last_child;
            depth = (u8)(cur->number + 1);
            break;
        }
        MarkupNode *up = cur->parent;
        if (is_kind(up, MarkupKind_ListItem) && is_list_kind(up->parent)) {
            cur = up->parent;
            continue;
        }
        parent = cur->parent;
        depth = cur->number;
        break;
    }
    if (node_is_nil(list)) {
        list = parser_element(p, name, 0, t->begin);
        list->indent = column;
        list->number = depth;
        node_append_child(parent, list);
    }

    MarkupNode *item = parser_element(p, MarkupKind_ListItem, 0, t->begin + 1);
    item->indent = column;
    MarkupNode *previous = list->last_child;
    if (node_is_nil(previous)) item->number = first_number;
    else if (kind == ListKind_Alpha) item->number = (u8)min_of<u32>(previous->number + 1u, 25u);
    else item->number = (u8)(previous->number + 1);
    node_append_child(list, item);

    if (is_list_kind(p->top->node)) parser_pop(p);
    parser_push(p, ParseState_List, list);
    parser_push(p, ParseState_Inline, item, ParseRecord_LineOwner);
    parser_advance_to(p, p->i + marker_tokens);
    p->at_line_start = false;
}

static bool is_quote_mark(const Parser *p, const MarkupToken *t)
{
    if (!token_unescaped(t, TokenFlag_Mark) || t->end - t->begin != 1) return false;
    char c = p->text.str[t->begin];
    return c == '>' || c == '<';
}

// Marks that give a line a role of its own.
static bool opens_block(const Parser *p, const MarkupToken *t)
{
    return token_unescaped(t, TokenFlag_DoubleBacktick | TokenFlag_TripleBacktick | TokenFlag_Rule |
                                  TokenFlag_Bar | TokenFlag_Semicolon) ||
           is_quote_mark(p, t);
}

// A quote holds its mark's line and every following line indented deeper
// than the mark; a mark at the same indentation adds to the same quote.
static void close_quotes(Parser *p, const MarkupToken *t, u8 column)
{
    bool mark = is_quote_mark(p, t);
    for (ParseRecord *q = innermost_quote(p); q; q = innermost_quote(p)) {
        u8 indent = q->node->indent;
        if (mark ? column < indent : column <= indent) parser_pop_through(p, q);
        else break;
    }
}

static void quote_line(Parser *p, const MarkupToken *t, u8 column)
{
    ParseRecord *q = innermost_quote(p);
    if (q && column == q->node->indent) {
        enter_quote_lines(p, q);
    } else {
        MarkupNode *quote = parser_element(p, MarkupKind_Quote, node_flags_from_token(t->flags), t->begin);
        quote->indent = column;
        // A list open on top is inside the innermost quote, if any.
        MarkupNode *item = is_list_kind(p->top->node) ? p->top->node->last_child : &markup_nil;
        bool in_item = !node_is_nil(item) && column > item->indent;
        if (in_item) {
            // Indented under a list item, the quote belongs to the item, as
            // a table or a fenced block there does: climbing to a heading
            // took it out of the list, which then began again after it. The
            // list's record stays below the quote's, for the next item.
            quote->number = q ? (u8)(q->node->number + 1) : 0;
        } else if (q) {
            quote->number = (u8)(q->node->number + 1);
            enter_quote_lines(p, q);
        } else {
            MarkupNode *below = p->top->node;
            bool context = p->top->state == ParseState_Context || is_kind(below, MarkupKind_Context) ||
                           is_kind(below, MarkupKind_ContextDocument);
            quote->number = context ? 0 : below->number;
            // Right under its heading's line and indented deeper, a quote
            // is that heading's content, as a line of text there would be;
            // at the heading's own number it climbed out of the section,
            // and so did every line after it.
            if (!context && is_kind(below, MarkupKind_Heading) && column > below->indent)
                quote->number = (u8)(below->number + 1);
            for (;;) {
                ParseRecord *r = p->top;
                MarkupNode *n = r->node;
                if (r->state == ParseState_Root || n == p->root || r->state == ParseState_Context) break;
                if (is_kind(n, MarkupKind_Heading) && n->number < quote->number) break;
                parser_pop(p);
            }
        }
        node_append_child(in_item ? item : p->top->node, quote);
        parser_push(p, ParseState_Quote, quote);
        parser_push(p, ParseState_NextLine, quote);
    }
    // The rest of the line is read as a line inside the quote.
    u64 next = p->i + 1;
    if (token_kind(parser_token(p, next), TokenFlag_Space)) next += 1;
    parser_advance_to(p, next);
}

// The line break that ends a closing mark's line ("```" or "``") is that
// line's end, not a blank line of its own: read as one, it ended the list
// the block was written in, and the next block of the item left the list.
static void past_mark_line_end(Parser *p)
{
    const MarkupToken *t = parser_token(p, p->i);
    if (t && (t->flags & TokenFlag_Newline)) parser_advance_to(p, p->i + 1);
}

// A "``" met while a context is the innermost open block closes it,
// whatever its indentation: taking a mis-indented closing mark for a new
// context would swallow the rest of the document. Contexts still nest
// inside a quote or a list item of a context.
static void context_line(Parser *p, const MarkupToken *t, u8 column)
{
    ParseRecord *open = innermost_context(p);
    if (open && open->state == ParseState_Context) {
        parser_pop_through(p, open);
        parser_advance_to(p, p->i + 1);
        past_mark_line_end(p);
        return;
    }
    u64 flags = node_flags_from_token(t->flags);
    MarkupNode *context;
    if (p->top->node == p->root && node_is_nil(p->out->context_document)) {
        context = parser_element(p, MarkupKind_ContextDocument, flags, 1);
        context->indent = column;
        node_append_child(p->root, context);
        p->out->context_document = context;
        p->header_open = t;
    } else {
        context = parser_element(p, MarkupKind_Context, flags, t->begin);
        context->indent = column;
        MarkupNode *line = &markup_nil;
        MarkupNode *parent = block_parent(p, &line);
        // At a list's markers' column a context ends the list and comes
        // after it, as indented as the list: nothing to warn about.
        MarkupNode *before = parent->last_child;
        bool after_list = !node_is_nil(before) && is_list_kind(before) && before->indent == column;
        // In a list item a context is where it belongs when it is deeper
        // than the marker, as a line that goes on with the item is.
        bool in_item = is_kind(line, MarkupKind_ListItem) && column > line->indent;
        if (is_line_level(line) && line->indent != column && !after_list && !in_item) {
            Str text = str_lit("context's indentation was wrong. assumption was made.");
            parser_message(p, t, DiagLevel_Warning, text);
        }
        node_append_child(parent, context);
    }
    parser_push(p, ParseState_Context, context);
    parser_advance_to(p, p->i + 1);
}

static void separator_line(Parser *p, const MarkupToken *t, u8 column)
{
    for (;;) {
        ParseRecord *r = p->top;
        MarkupNode *n = r->node;
        if (r->state == ParseState_Root || n == p->root || r->state == ParseState_Context) break;
        if (is_kind(n, MarkupKind_Heading) || is_kind(n, MarkupKind_Quote)) break;
        parser_pop(p);
    }
    MarkupNode *separator = parser_element(p, MarkupKind_Separator, 0, t->begin);
    separator->indent = column;
    node_append_child(p->top->node, separator);
    u64 k = p->i + 1;
    while (k < p->count && !(p->tokens[k].flags & TokenFlag_Newline)) k += 1;
    parser_advance_to(p, k);
}

void parse_fence_body(Parser *p, MarkupNode *block, u64 start, u8 fence_indent, bool at_line_start);

// The language word of an opening fence: the first run of non-blank bytes
// after the "```" on its line; empty when the line holds nothing else.
static Str fence_language(const Parser *p, u64 from, u64 to)
{
    u64 begin = from;
    while (begin < to && (u8)p->text.str[begin] <= ' ') begin += 1;
    u64 end = begin;
    while (end < to && (u8)p->text.str[end] > ' ') end += 1;
    return str_substr(p->text, begin, end);
}

static void fence_line(Parser *p, const MarkupToken *t, u8 column)
{
    MarkupNode *block = parser_element(p, MarkupKind_Block, node_flags_from_token(t->flags), t->begin);
    block->indent = column;
    node_append_child(block_parent(p), block);
    // The rest of the opening line is not code: its first word names the
    // block's language and the rest is dropped. The first code line loses
    // the fence's indentation like every other line.
    u64 k = p->i + 1;
    while (k < p->count && !(p->tokens[k].flags & TokenFlag_Newline)) k += 1;
    block->text = fence_language(p, t->end, k < p->count ? p->tokens[k].begin : p->text.size);
    if (k < p->count) k += 1;
    parser_advance_to(p, k);
    parse_fence_body(p, block, k, column, true);
    past_mark_line_end(p);
}

// Inside a context that sits in a quote, lines nest by level: a paragraph
// of level L below the last heading of level L-1, a heading of level L
// below the last heading of level L-2, searched along the context's
// last-child path of headings (levels grow along it, so it is short).
static MarkupNode *quoted_context_parent(MarkupNode *context, u8 level, bool heading)
{
    u32 want = heading ? 2u : 1u;
    if (level < want) return context;
    u8 target = (u8)(level - want);
    MarkupNode *n = context;
    for (;;) {
        MarkupNode *c = n->last_child;
        if (!is_kind(c, MarkupKind_ContextHeading)) return context;
        if (c->number == target) return c;
        if (c->number > target) return context;
        n = c;
    }
}

static void ordinary_line(Parser *p, const MarkupToken *t, u8 column)
{
    ParseRecord *q = innermost_quote(p);
    if (q) {
        enter_quote_lines(p, q);
        MarkupNode *line = parser_element(p, MarkupKind_QuoteParagraph, 0, t->begin);
        line->number = 1;
        line->indent = column;
        node_append_child(q->node, line);
        parser_push(p, ParseState_Inline, line, ParseRecord_LineOwner);
        p->at_line_start = false;
        return;
    }

    ParseRecord *c = innermost_context(p);
    u8 relative = column;
    // A line left of its context's mark counts as the context's margin.
    if (c) relative = column > c->node->indent ? (u8)(column - c->node->indent) : 0;
    u8 level = relative / 2;
    MarkupNode *top_heading = p->top->heading0;
    if (level != 0 && top_heading) {
        // Below a top heading a line goes at most one heading step deeper
        // than the deepest line so far.
        u8 cap = (u8)((top_heading->max_heading_level / 2 + 1) * 2);
        level = min_of(level, cap);
        top_heading->max_heading_level = level;
    }
    bool heading = level % 2 == 0;
    u32 kind = c ? (heading ? MarkupKind_ContextHeading : MarkupKind_ContextParagraph)
                 : (heading ? MarkupKind_Heading : MarkupKind_Paragraph);
    MarkupNode *line = parser_line_element(p, kind, t->begin);
    line->number = level;
    line->indent = column;

    MarkupNode *parent;
    if (c) {
        parser_pop_above(p, c);
        parent = c->quote ? quoted_context_parent(c->node, level, heading) : c->node;
    } else {
        for (;;) {
            ParseRecord *r = p->top;
            MarkupNode *n = r->node;
            if (r->state == ParseState_Root || n == p->root || r->state == ParseState_Context) break;
            if (is_kind(n, MarkupKind_Heading) && n->number < level) break;
            parser_pop(p);
        }
        parent = p->top->node;
        if (heading) p->last_heading = line;
        else p->last_paragraph = line;
    }
    node_append_child(parent, line);
    parser_push(p, ParseState_Inline, line, ParseRecord_LineOwner);
    p->at_line_start = false;
}

// After an item, a line indented deeper than the item's marker continues
// the item; a blank line or any other line ends that chance.
static bool list_continues(Parser *p, const MarkupToken *t, u8 column)
{
    u8 first_number = 0;
    u64 marker_tokens = 0;
    ListKind kind = list_marker(p, p->i, &first_number, &marker_tokens);
    if (kind != ListKind_None) {
        list_item(p, t, column, kind, first_number, marker_tokens);
        return true;
    }
    if (opens_block(p, t)) {
        // A block indented deeper than an item's marker belongs to the
        // item; one at the marker's column or left of it ends that list, as
        // a line of text does.
        while (is_list_kind(p->top->node)) {
            MarkupNode *list = p->top->node;
            MarkupNode *open = list->last_child;
            if (!node_is_nil(open) && column > open->indent) break;
            parser_pop(p);
            if (is_list_kind(p->top->node)) continue;
            // A list nested in an item keeps no record of the lists around
            // it: a block deeper than an enclosing item's marker belongs to
            // that item, and its list goes on after the block.
            for (MarkupNode *item = list->parent; is_kind(item, MarkupKind_ListItem) && is_list_kind(item->parent);
                 item = item->parent->parent) {
                if (column <= item->indent) continue;
                parser_push(p, ParseState_List, item->parent);
                break;
            }
        }
        return false;
    }
    MarkupNode *item = p->top->node->last_child;
    if (!node_is_nil(item) && column > item->indent) {
        MarkupNode *last = item->last_child;
        if (!node_is_nil(last) && last->space_after == 0) last->space_after = 1;
        parser_push(p, ParseState_Inline, item, ParseRecord_LineOwner);
        p->at_line_start = false;
        return true;
    }
    parser_pop(p);
    return false;
}

void parse_line_start(Parser *p)
{
    const MarkupToken *t = &p->tokens[p->i];
    if (t->flags & TokenFlag_Newline) {
        if (p->top->state == ParseState_List) parser_pop(p);
        parser_advance_to(p, p->i + 1);
        return;
    }
    if (t->flags & TokenFlag_Space) {
        p->i += 1;
        return;
    }
    if (token_unescaped(t, TokenFlag_Comment)) {
        u64 k = p->i + 1;
        while (k < p->count && !(p->tokens[k].flags & TokenFlag_Newline)) k += 1;
        parser_advance_to(p, k + 1);
        return;
    }

    u8 column = token_column(p, t);
    if (!p->told_tab && t->begin > p->line_begin &&
        memchr(p->text.str + p->line_begin, '\t', t->begin - p->line_begin)) {
        // A tab counts as one blank, so an editor that indents with tabs
        // turns every paragraph into a heading. Told once: the first line
        // shows what is wrong with all of them.
        p->told_tab = true;
        parser_message(p, t, DiagLevel_Warning,
                       str_lit("this line is indented with a tab, which counts as one blank (two blanks make a "
                               "level); indent with blanks"));
    }
    if (!p->told_markdown) markdown_line_habit(p, t);
    close_quotes(p, t, column);
    if (is_list_kind(p->top->node) && list_continues(p, t, column)) return;

    if (token_unescaped(t, TokenFlag_DoubleBacktick)) return context_line(p, t, column);
    if (is_quote_mark(p, t)) return quote_line(p, t, column);
    if (token_unescaped(t, TokenFlag_Rule)) return separator_line(p, t, column);
    if (token_unescaped(t, TokenFlag_TripleBacktick)) return fence_line(p, t, column);
    bool short_row = p->line_after_short_row;
    p->line_after_short_row = false;
    if (token_unescaped(t, TokenFlag_Bar | TokenFlag_Semicolon) && !short_row) {
        MarkupNode *parent = block_parent(p);
        return table_open(p, parent, column);
    }
    u8 first_number = 0;
    u64 marker_tokens = 0;
    ListKind kind = list_marker(p, p->i, &first_number, &marker_tokens);
    if (kind != ListKind_None) return list_item(p, t, column, kind, first_number, marker_tokens);
    ParseRecord *c = innermost_context(p);
    if (c && c->state == ParseState_Context) {
        parser_pop_above(p, c);
        if (parse_header_line(p, c->node, column, ParseRecord_LineOwner, false)) return;
    }
    ordinary_line(p, t, column);
}

//- the whole document

// Pairs each reference with the first definition of its number; the
// numbers are u8, so one table of 256 slots replaces a search per reference.
// A number defined again is told at the later definition: its text shows on
// the page, yet no reference can reach it.
static void resolve_references(Parser *p, NodeList *refs, NodeList *defs, const char *what, const char *followers,
                               bool tell_unreferenced)
{
    MarkupNode *by_number[256] = {};
    bool referenced[256] = {};
    for (NodeListCell *cell = defs->first; cell; cell = cell->next) {
        MarkupNode *d = cell->node;
        if (d->flags & NodeFlag_Unresolved) continue;
        if (!by_number[d->number]) {
            by_number[d->number] = d;
        } else if (!message_dropped(p, DiagLevel_Warning)) {
            Str text = str_pushf(p->work, "%s %u is defined more than once; %s lead to the first", what,
                                 (u32)d->number, followers);
            diag_push(p->work, &p->out->messages, node_new_message(p->work, d->offset, 0, str_empty()),
                      DiagLevel_Warning, text);
        }
    }
    for (NodeListCell *cell = refs->first; cell; cell = cell->next) {
        MarkupNode *ref = cell->node;
        MarkupNode *reference = ref->first_child;
        // A reference its parse refused (a number past a byte) matches none.
        MarkupNode *d = (ref->flags & NodeFlag_Unresolved) ? nullptr : by_number[ref->number];
        if (d) {
            reference->offset = d->offset;
            referenced[d->number] = true;
        } else {
            ref->flags |= NodeFlag_Unresolved;
            reference->flags |= NodeFlag_Unresolved;
            p->out->unresolved_refs += 1;
        }
    }
    // A footnote nothing refers to shows below the text with nothing
    // leading to it: its reference was most likely deleted or mistyped.
    // (An anchor is for links from other documents too.)
    if (!tell_unreferenced) return;
    for (NodeListCell *cell = defs->first; cell; cell = cell->next) {
        MarkupNode *d = cell->node;
        if (by_number[d->number] != d || referenced[d->number] || message_dropped(p, DiagLevel_Note)) continue;
        u32 n = d->number;
        Str text = str_pushf(p->work, "%s %u is defined but nothing refers to it ([*%u] after a word), so it shows "
                                      "below the text with nothing leading to it",
                             what, n, n);
        diag_push(p->work, &p->out->messages, node_new_message(p->work, d->offset, 0, str_empty()), DiagLevel_Note, text);
    }
}

// An editor that saves in a legacy code page (Latin-1, Windows-1252) writes
// accented letters as bytes that are not UTF-8, and the browser shows a
// replacement mark for each, with no hint why. Told once, at the first.
static void tell_not_utf8(Parser *p)
{
    u64 at = utf8_first_invalid(p->text);
    if (at >= p->text.size || message_dropped(p, DiagLevel_Warning)) return;
    Str text = str_pushf(p->work,
                         "byte 0x%02X is not UTF-8, so the page shows \"\xEF\xBF\xBD\" in its place and in place of any "
                         "like it; save the file as UTF-8",
                         (u32)(u8)p->text.str[at]);
    diag_push(p->work, &p->out->messages, node_new_message(p->work, at, 0, str_empty()), DiagLevel_Warning, text);
}

// Front matter as other generators write it, "---" (or "+++") lines around
// "title: ...": to wyn these are lines of text, and the document has no
// header, so no title and no page, with only a note about the output path.
static void tell_front_matter(Parser *p)
{
    Str text = p->text;
    if (str_match(str_lit("\xEF\xBB\xBF"), text, StrMatch_Prefix)) text = str_skip(text, 3);
    u64 end = str_find_byte(text, '\n', 0);
    Str first = str_trim(str_prefix(text, end));
    if (end >= text.size || !p->count || (!str_eq(first, str_lit("---")) && !str_eq(first, str_lit("+++")))) return;
    Str next = str_skip(text, end + 1);
    next = str_prefix(next, str_find_byte(next, '\n', 0));
    u64 colon = str_find_byte(next, ':', 0);
    u64 equals = str_find_byte(next, '=', 0);
    u64 cut = min_of(colon, equals);
    if (cut >= next.size || !header_field_lookup(str_trim(str_prefix(next, cut)))) return;
    // Its values are no links to check: "output_path: \"/html/a.html\""
    // would be told missing as well.
    u64 start = (u64)(text.str - p->text.str) + end + 1;
    // Up to its closing line, or without one, over the lines of keys.
    u64 line = start, keys_end = start;
    bool keys = true;
    while (line < p->text.size) {
        u64 line_end = min_of(str_find_byte(p->text, '\n', line), p->text.size);
        Str l = str_substr(p->text, line, line_end);
        if (str_eq(str_trim(l), first)) {
            keys_end = line_end;
            break;
        }
        keys = keys && (str_find_byte(l, ':', 0) < l.size || str_find_byte(l, '=', 0) < l.size);
        if (keys) keys_end = line_end;
        line = line_end + 1;
    }
    p->links_quiet_before = keys_end;
    parser_message(p, &p->tokens[0], DiagLevel_Warning,
                   str_pushf(p->work,
                             "\"%S\" starts no header here: wyn's header goes between two lines of two backticks "
                             "(``), so these lines are text and the document has no header (no title, no "
                             "output_path)",
                             first));
}

static void parse_tokens(Arena *arena, Str text, TokenArray tokens, const ParseOptions *options, ParsedDocument *out)
{
    static const ParseOptions defaults = {};
    if (!options) options = &defaults;
    out->parse_ok = 1;
    Parser p = {};
    p.arena = arena;
    p.work = arena;
    p.text = text;
    p.tokens = tokens.tokens;
    p.count = tokens.count;
    p.out = out;
    p.options = options;
    // Most texts hold no tab at all: one scan spares every line its own.
    p.told_tab = !text.size || !memchr(text.str, '\t', text.size);
    tell_not_utf8(&p);
    tell_front_matter(&p);
    out->title = &markup_nil;
    out->context_document = &markup_nil;
    out->footnotes = &markup_nil;

    p.root = parser_node(&p, NodeClass_Document, 0, text, text, 0);
    parser_push(&p, ParseState_Root, p.root);
    parser_push(&p, ParseState_NextLine, p.root);
    p.at_line_start = true;
    while (p.i < p.count) {
        if (p.at_line_start) parse_line_start(&p);
        else parse_inline_token(&p);
    }
    if (!p.at_line_start) parse_line_end(&p);
    // A header left open takes the whole document into the box behind the
    // info button, and the page shows nothing of the text below it.
    bool header_holds_text = false;
    for (MarkupNode *n = out->context_document->first_child; !node_is_nil(n); n = n->next)
        if (n->node_class != NodeClass_HeaderField) header_holds_text = true;
    for (ParseRecord *r = p.top; r && header_holds_text; r = r->below)
        if (r->state == ParseState_Context && r->node == out->context_document)
            parser_message(&p, p.header_open, DiagLevel_Warning,
                           str_lit("the document header is never closed with a line of two backticks, so the rest of "
                                   "the document is read as part of it and hidden"));

    resolve_references(&p, &p.internal_refs, &out->internal_links, "anchor", "links", false);
    resolve_references(&p, &p.footnote_refs, &p.footnote_defs, "footnote", "references", true);

    out->root = p.root;
    if (p.dropped_messages) {
        Str text = str_pushf(p.work, "%I64u more messages were not recorded: only the first %I64u of a document are kept",
                             p.dropped_messages, parser_message_limit);
        MarkupNode *anchor = node_new_message(p.work, p.text.size, 0, str_empty());
        diag_push(p.work, &out->messages, anchor, DiagLevel_Note, text);
        if (p.dropped_max_level > out->messages.max_level) out->messages.max_level = p.dropped_max_level;
    }
    out->message_count = out->messages.count;
    out->max_level = out->messages.max_level;
    out->parse_ok = out->max_level <= DiagLevel_Error ? 1 : 0;

    if (options->web_links) {
        for (NodeListCell *cell = out->web_links.first; cell; cell = cell->next)
            options->web_links(options->web_links_user, cell->node->first_child->name);
    }
}

ParsedDocument markup_parse(Arena *arena, Str text, const ParseOptions *options)
{
    ParsedDocument doc = {};
    // Tokens can be one per source byte and the tree needs none of them
    // once it is made: they live on scratch and go with the parse.
    ArenaTemp scratch = scratch_begin(&arena, 1);
    TokenArray tokens = tokenize(scratch.arena, text);
    parse_tokens(arena, text, tokens, options, &doc);
    scratch_end(scratch);
    return doc;
}
