// markup/tables.cpp: tables as the parser reads them, and the table model
// the renderer reads.
//
// A table is a run of lines that begin with its separator ("|" or ";").
// The first line is the header; a doubled separator on it ("||") starts a
// new column group. In a "|" table, lines before the first line made only
// of separators (such as |---|---|) continue the header cells; lines after
// it are body rows. A ";" table (the form of embedded CSV files) has body
// rows from its second line on. A blank line ends any table; a "|" table
// also ends at a line that does not start with "|" or that has fewer
// separators than the current group has columns.
#include "markup/parser_state.h"
#include "markup/tables.h"

bool table_is_separator(const Parser *p, const MarkupToken *t)
{
    return t && (t->flags & p->table.separator) && !(t->flags & TokenFlag_Escaped);
}

static MarkupNode *group_header(MarkupNode *group) { return group->first_child; }

constexpr u64 table_group_limit = 256;

static void open_group(Parser *p, u64 offset)
{
    TableState *tb = &p->table;
    MarkupNode *group = parser_element(p, MarkupKind_Table, 0, offset);
    group->number = (u8)tb->root->child_count;
    node_append_child(group, parser_element(p, MarkupKind_TableHeader, 0, offset));
    node_append_child(tb->root, group);
    tb->group = tb->root->child_count - 1;
    tb->group_node = group;
    tb->column = 0;
    tb->row = &markup_nil;
}

static void new_header_cell(Parser *p, u64 offset)
{
    TableState *tb = &p->table;
    MarkupNode *cell = parser_element(p, MarkupKind_TableCellCol, 0, offset);
    cell->number = (u8)tb->column;
    node_append_child(group_header(tb->group_node), cell);
    tb->header_cell = cell;
    tb->cell = cell;
}

static void new_body_cell(Parser *p, u64 offset)
{
    TableState *tb = &p->table;
    if (node_is_nil(tb->row)) {
        MarkupNode *entry = tb->group_node->last_child;
        if (!is_kind(entry, MarkupKind_TableRootEntry)) {
            entry = parser_element(p, MarkupKind_TableRootEntry, 0, offset);
            node_append_child(tb->group_node, entry);
        }
        tb->row = parser_element(p, MarkupKind_TableRow, 0, offset);
        tb->row->number = (u8)entry->child_count;
        node_append_child(entry, tb->row);
    }
    MarkupNode *cell = parser_element(p, MarkupKind_TableCell, 0, offset);
    cell->number = (u8)tb->column;
    // A ticked heading ticks its whole column.
    if (tb->header_cell->flags & NodeFlag_Ticked) cell->flags |= NodeFlag_Ticked;
    node_append_child(tb->row, cell);
    tb->cell = cell;
}

// The cell that a header continuation line writes into.
static void continuation_cell(Parser *p, u64 offset)
{
    TableState *tb = &p->table;
    if (node_is_nil(tb->header_cell)) new_header_cell(p, offset);
    else tb->cell = tb->header_cell;
}

void table_open(Parser *p, MarkupNode *parent, u8 indent)
{
    const MarkupToken *t = &p->tokens[p->i];
    MarkupNode *root = parser_element(p, MarkupKind_TableRoot, node_flags_from_token(t->flags), t->begin);
    root->indent = indent;
    node_append_child(parent, root);
    node_list_push(p->arena, &p->out->table_roots, root);
    // The list is in the order of a walk only while each root is appended
    // at the end of the text's tree; should a table go back into a block
    // that something already follows, the tree is walked instead.
    for (MarkupNode *x = parent; !node_is_nil(x); x = x->parent)
        if (followed_by_text(x)) p->out->tables_walk = 1;
    ParseRecord *record = parser_push(p, ParseState_Inline, root, ParseRecord_LineOwner);
    TableState *tb = &p->table;
    *tb = TableState{};
    tb->root = root;
    tb->record = record;
    tb->separator = t->flags & (TokenFlag_Bar | TokenFlag_Semicolon);
    tb->line_start = true;
    tb->group_node = tb->header_cell = tb->row = tb->cell = &markup_nil;
    p->at_line_start = false;
}

// The first cell of a line: at its opening separator, or at its first
// token in a ";" table whose lines need not start with one.
static void first_cell(Parser *p, u64 offset)
{
    TableState *tb = &p->table;
    if (!tb->header_done) {
        if (node_is_nil(tb->group_node)) open_group(p, offset);
        tb->column = 0;
        new_header_cell(p, offset);
        return;
    }
    if (node_is_nil(tb->root->first_child)) open_group(p, offset);
    tb->group_node = tb->root->first_child;
    tb->group = 0;
    tb->column = 0;
    tb->row = &markup_nil;
    tb->header_cell = group_header(tb->group_node)->first_child;
    if (tb->body) new_body_cell(p, offset);
    else continuation_cell(p, offset);
}

void table_line_start_token(Parser *p)
{
    const MarkupToken *t = &p->tokens[p->i];
    TableState *tb = &p->table;
    if (t->flags & TokenFlag_Space) {
        p->i += 1;
        return;
    }
    tb->line_start = false;
    if (!table_is_separator(p, t)) return first_cell(p, t->begin);
    const MarkupToken *next = parser_token(p, p->i + 1);
    if (token_kind(next, TokenFlag_Equals | TokenFlag_Rule)) {
        // A rule line. Above the header it moves the table's anchor to the
        // next line; below it, it starts the body.
        if (!tb->header_done && node_is_nil(tb->group_node)) tb->rule_pending = true;
        else tb->body = true;
        u64 k = p->i;
        while (k < p->count && !(p->tokens[k].flags & TokenFlag_Newline)) k += 1;
        p->i = k;
        return;
    }
    p->i += 1;
    first_cell(p, t->begin);
}

// True when only blanks stand between token `index` and the line end.
static bool line_ends_after(const Parser *p, u64 index)
{
    const MarkupToken *t = parser_token(p, index);
    if (token_kind(t, TokenFlag_Space)) t = parser_token(p, index + 1);
    return !t || (t->flags & TokenFlag_Newline);
}

static void next_column(Parser *p, u64 offset)
{
    TableState *tb = &p->table;
    u64 columns = group_header(tb->group_node)->child_count;
    if (tb->column + 1 < columns) {
        tb->column += 1;
        tb->header_cell = tb->header_cell->next;
    } else if (!node_is_nil(tb->group_node->next)) {
        // Past the group's last column the cells go on in the next group.
        tb->group_node = tb->group_node->next;
        tb->group += 1;
        tb->column = 0;
        tb->header_cell = group_header(tb->group_node)->first_child;
        tb->row = &markup_nil;
    } else {
        // Past the last column of the last group the separator is text of
        // the last cell, so "3 | 4" shows as "3 4" under one heading: said
        // once a table.
        // The second bar of a "||" that began the last group is no cell.
        const MarkupToken *here = &p->tokens[p->i];
        bool group_bar = p->i > 0 && p->tokens[p->i - 1].end == here->begin &&
                         (p->tokens[p->i - 1].flags & tb->separator);
        if (!tb->told_extra_cells && !group_bar) {
            tb->told_extra_cells = true;
            parser_message(p, here, DiagLevel_Warning,
                           str_lit("this row has more cells than the table's header; from here on its text joins "
                                   "the last cell"));
        }
        return;
    }
    if (tb->body) new_body_cell(p, offset);
    else continuation_cell(p, offset);
}

void table_separator(Parser *p)
{
    const MarkupToken *t = &p->tokens[p->i];
    TableState *tb = &p->table;
    // A separator that closes the line adds no cell.
    if (line_ends_after(p, p->i + 1)) {
        p->i += 1;
        return;
    }
    if (!tb->header_done) {
        u64 m = p->i + 1;
        if (token_kind(parser_token(p, m), TokenFlag_Space)) m += 1;
        const MarkupToken *second = parser_token(p, m);
        if (table_is_separator(p, second) && tb->root->child_count >= table_group_limit) {
            // A group's number is one byte, and each group is a table of
            // its own on the page: a line of thousands of double separators
            // would cost a page table per two source bytes. Past the last
            // number the pair is text.
            MarkupNode *container = parser_container(p);
            for (u64 k = p->i; k <= m; k += 1) {
                const MarkupToken *piece = &p->tokens[k];
                if (piece->flags & TokenFlag_Space) container->last_child->space_after = (u8)(piece->end - piece->begin);
                else parser_text_node(p, container, piece, 0);
            }
            p->i = m + 1;
            return;
        }
        if (table_is_separator(p, second)) {
            p->i = m + 1;
            if (line_ends_after(p, m + 1)) return;
            open_group(p, second->begin);
            new_header_cell(p, second->begin);
            return;
        }
        tb->column += 1;
        new_header_cell(p, t->begin);
        p->i += 1;
        return;
    }
    next_column(p, t->begin);
    p->i += 1;
}

void table_mark_ticked(Parser *p)
{
    if (!node_is_nil(p->table.cell)) p->table.cell->flags |= NodeFlag_Ticked;
}

static void table_end(Parser *p, u64 newline)
{
    parser_pop_through(p, p->table.record);
    p->table = TableState{};
    p->at_line_start = true;
    parser_advance_to(p, newline < p->count ? newline + 1 : newline);
}

// At the line break that ends a table line: look at the lines after it and
// decide whether the table goes on. Lines made only of separators are
// consumed here; they switch the table to its body.
void table_line_end(Parser *p)
{
    TableState *tb = &p->table;
    if (!tb->rule_pending) tb->header_done = true;
    if (tb->separator == TokenFlag_Semicolon && tb->header_done) tb->body = true;
    u64 k = p->i;
    for (;;) {
        if (k >= p->count) return table_end(p, k);
        u64 j = k + 1;
        const MarkupToken *first = parser_token(p, j);
        if (token_kind(first, TokenFlag_Space)) first = parser_token(p, ++j);
        if (!first || (first->flags & TokenFlag_Newline)) return table_end(p, k);
        u64 separators = 0;
        bool content = false;
        u64 e = j;
        for (; e < p->count && !(p->tokens[e].flags & TokenFlag_Newline); e += 1) {
            const MarkupToken *t = &p->tokens[e];
            if (table_is_separator(p, t)) separators += 1;
            if (t->flags & (TokenFlag_Number | TokenFlag_Word | TokenFlag_Quoted)) content = true;
        }
        if (tb->rule_pending) {
            // The anchor moves to the line after the rule line: that one is the header.
            tb->rule_pending = false;
            if (!table_is_separator(p, first)) return table_end(p, k);
            tb->root->offset = first->begin;
            break;
        }
        if (tb->separator == TokenFlag_Bar) {
            if (!table_is_separator(p, first)) return table_end(p, k);
            if (!content) {
                tb->body = true;
                parser_advance_to(p, e);
                k = e;
                continue;
            }
            if (separators < group_header(tb->group_node)->child_count) {
                // The short line is read as ordinary text, not as a new table.
                table_end(p, k);
                p->line_after_short_row = true;
                return;
            }
            break;
        }
        if (token_unescaped(first, TokenFlag_DoubleBacktick)) return table_end(p, k);
        if (!content && separators > 0) {
            parser_advance_to(p, e);
            k = e;
            continue;
        }
        break;
    }
    parser_advance_to(p, k + 1);
    tb->line_start = true;
    tb->row = &markup_nil;
    p->at_line_start = false;
}

//- the table model

static Str heading_text(Arena *arena, MarkupNode *cell)
{
    if (node_is_nil(cell)) return str_empty();
    ArenaTemp scratch = scratch_begin(arena);
    StrList pieces = {};
    for (MarkupNode *n = cell->first_child; !node_is_nil(n); n = node_preorder_next(n, cell)) {
        if (n->node_class != NodeClass_Text || (n->flags & NodeFlag_EmphasisMarks)) continue;
        str_list_push(scratch.arena, &pieces, n->text);
        u64 spaces = min_of<u64>(n->space_after, run_blanks_max);
        if (spaces) str_list_push(scratch.arena, &pieces, str_fill(scratch.arena, spaces, ' '));
    }
    Str joined = str_trim_right(str_list_join_plain(scratch.arena, &pieces));
    Str result = str_copy(arena, joined);
    scratch_end(scratch);
    return result;
}

static void index_table(Arena *arena, ParsedDocument *doc, MarkupNode *table)
{
    MarkupNode *header = &markup_nil;
    MarkupNode *entry = &markup_nil;
    for (MarkupNode *c = table->first_child; !node_is_nil(c); c = c->next) {
        if (node_is_element(c, MarkupKind_TableHeader)) header = c;
        if (node_is_element(c, MarkupKind_TableRootEntry)) entry = c;
    }
    MarkupTable *record = push_struct<MarkupTable>(arena);
    record->table = table;
    record->row_count = entry->child_count;
    u64 columns = header->child_count;
    for (MarkupNode *row = entry->first_child; !node_is_nil(row); row = row->next)
        columns = max_of<u64>(columns, row->child_count);
    record->column_count = columns;
    record->headings = push_array<MarkupTableHeading>(arena, columns);
    record->rows = push_array<MarkupNode *>(arena, record->row_count);
    record->cells = push_array<MarkupNode *>(arena, record->row_count * columns);
    u64 c = 0;
    for (MarkupNode *h = header->first_child; !node_is_nil(h); h = h->next, c += 1) {
        record->headings[c].cell = h;
        record->headings[c].text = heading_text(arena, h);
    }
    for (; c < columns; c += 1) record->headings[c].cell = &markup_nil;
    u64 r = 0;
    for (MarkupNode *row = entry->first_child; !node_is_nil(row); row = row->next, r += 1) {
        record->rows[r] = row;
        u64 k = 0;
        for (MarkupNode *cell = row->first_child; !node_is_nil(cell); cell = cell->next, k += 1)
            record->cells[r * columns + k] = cell;
        for (; k < columns; k += 1) record->cells[r * columns + k] = &markup_nil;
    }
    NodeListCell *cell = node_list_push(arena, &doc->extra_list, table);
    if (cell) cell->table = record;
    // The grid holds the rows from now on.
    table->first_child = &markup_nil;
    table->last_child = &markup_nil;
    table->child_count = 0;
}

// The tree a table root hangs in: the document's, its footnotes', or none.
// A root inside another is not a table of its own: tables do not nest.
static MarkupNode *table_root_tree(MarkupNode *root)
{
    MarkupNode *top = root;
    for (MarkupNode *x = root->parent; !node_is_nil(x); x = x->parent) {
        if (node_is_element(x, MarkupKind_TableRoot)) return &markup_nil;
        top = x;
    }
    return top;
}

static void index_root(Arena *arena, ParsedDocument *doc, MarkupNode *root)
{
    for (MarkupNode *t = root->first_child; !node_is_nil(t); t = t->next)
        if (node_is_element(t, MarkupKind_Table)) index_table(arena, doc, t);
}

// The parser listed every table root as it made it, in source order, which
// is the order of a walk of the tree unless it said otherwise: a walk of
// every node of every document only to find its few tables was a tenth of
// a parse.
static void index_listed(Arena *arena, ParsedDocument *doc, MarkupNode *tree)
{
    if (node_is_nil(tree)) return;
    for (NodeListCell *c = doc->table_roots.first; c; c = c->next)
        if (table_root_tree(c->node) == tree) index_root(arena, doc, c->node);
}

// A tree that took tables from elsewhere after its parse (a CSV file's in
// place of its link), or whose tables the parser did not all add at its
// end, is walked.
static void index_walked(Arena *arena, ParsedDocument *doc, MarkupNode *tree)
{
    MarkupNode *n = tree;
    while (!node_is_nil(n)) {
        if (!node_is_element(n, MarkupKind_TableRoot)) {
            n = node_preorder_next(n, tree);
            continue;
        }
        index_root(arena, doc, n);
        // Tables do not nest: go on after the table.
        MarkupNode *next = &markup_nil;
        for (MarkupNode *x = n; !node_is_nil(x) && x != tree; x = x->parent) {
            if (!node_is_nil(x->next)) {
                next = x->next;
                break;
            }
        }
        n = next;
    }
}

static void index_tree(Arena *arena, ParsedDocument *doc, MarkupNode *tree)
{
    if (doc->tables_walk) index_walked(arena, doc, tree);
    else index_listed(arena, doc, tree);
}

void document_index_tables(Arena *arena, ParsedDocument *doc)
{
    index_tree(arena, doc, doc->root);
    index_tree(arena, doc, doc->footnotes);
}
