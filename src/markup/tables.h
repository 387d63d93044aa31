// markup/tables.h: the table model the renderer lays out.
//
// The parser builds tables as nodes ("table_root" > "table" per column
// group > "table_header" with "table_cell_col" headings and
// "table_root_entry" > "table_row" > "table_cell"). Before rendering, the
// site build indexes them once per document into MarkupTable records: per
// column group, the column count, the heading cells in column order with
// their text, and a grid of body cells, row-major, with the nil node where
// a row has no cell. Records live on the document arena, with the tree.
#pragma once
#include "markup/document.h"

struct MarkupTableHeading {
    MarkupNode *cell;   // the "table_cell_col", or nil for a column no heading names
    Str text;           // its text runs joined with their spacing, emphasis marks left out
};

struct MarkupTable {
    MarkupNode *table;              // the "table" node (one column group)
    u64 column_count;               // the widest of the heading line and the body rows
    MarkupTableHeading *headings;   // column_count entries
    u64 row_count;
    MarkupNode **rows;              // row_count "table_row" nodes
    MarkupNode **cells;             // row_count * column_count, row-major; nil for an empty place
};

inline MarkupNode *table_cell_at(const MarkupTable *t, u64 row, u64 column)
{
    return t->cells[row * t->column_count + column];
}

// For every "table_root" (in tree order, the footnotes included) and each of
// its "table" children: appends a record to doc->extra_list (cell->node is
// the "table" node, cell->table the record), then empties the "table"
// node's child list, since the grid now holds its rows. The roots are the
// ones the parse listed, in its order; where that is not the tree's order
// (the parser set doc->tables_walk), or a caller put a table into the tree
// after the parse (and must set it), the tree is walked for them instead.
void document_index_tables(Arena *arena, ParsedDocument *doc);
