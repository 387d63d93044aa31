// markup/markup_write.h: a document tree written back as markup source.
//
// The generated index document is built as a tree and written with this,
// so what wyn writes is what its own parser reads: parsing the text gives
// back the same structure (the same elements, header keys, link targets and
// texts; offsets and the cutting of text into words aside). The writer knows
// the constructs a generated document uses: the document context and its
// header lines, headings, paragraphs, the three lists and their items,
// file and web links with their labels, and text. Text is escaped wherever
// it would otherwise read as markup. A node of another kind is written as
// the text of its subtree, so nothing is lost, though it parses as text.
//
// Pure: reads the tree, returns the text on `arena`; any thread.
#pragma once
#include "markup/document.h"

Str markup_write(Arena *arena, const MarkupNode *root);

// `text` with a backslash before every character that could start or end
// markup inside a line (marks, brackets, quotes, bars, parentheses of a
// label, comment slashes, rule dashes), so it parses back as plain text.
Str markup_escape_text(Arena *arena, Str text);
