// markup/tree_dump.h: a parsed document as indented text, for authors who
// want to see how wyn read a file (the option tree=FILE) and for tests.
//
// One node per line, indented two blanks per level:
//   <class> <name or "text"> #<number> 0x<flags> @<offset> [indent=] [before=] [after=] [max_level=]
// then the footnotes tree (outside the document tree), the header values
// the parser copied out (output paths, status, toc, title), and the
// messages in the layout of a document's diagnostics. Text is quoted with
// C escapes for line breaks, tabs, quotes, backslashes and control bytes.
// Deep trees stop indenting at level 64 and print the level instead.
#pragma once
#include "markup/document.h"

Str markup_tree_dump(Arena *arena, const ParsedDocument *doc, Str path, Str source);
