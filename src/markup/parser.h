// markup/parser.h: turns the tokens of one document into its node tree.
//
// One call parses a whole document: the line half (contexts, headings and
// paragraphs, quotes, separators, lists, the table of contents), the inline
// half (text runs, emphasis, code, raw text, fenced blocks, tick boxes,
// footnotes, numbered links, web and file links, images), the document
// header and tables. Any byte sequence parses, in time linear in its size
// and without recursion, to a tree plus messages; nothing stops the parse.
//
// Memory: nodes, list cells and output paths go to `arena` (the document's
// arena); the parser's state records and the messages with their anchors
// and texts go to `work_arena` (it may be the same arena). The caller keeps
// the source text alive as long as the tree: node strings point into it.
// Reentrant: workers parse different documents at the same time; the only
// process-wide inputs are read-only (site layout, build settings, the
// web-link hand-over below).
#pragma once
#include "markup/document.h"

// `out` must be zero-filled; it is filled completely.
void parse_document(Arena *work_arena, Arena *arena, Str path, Str text, TokenArray tokens, ParsedDocument *out);

// Web addresses leave the parser here. At the end of each parse, the text
// of every "link_http" of the document (the address without quotes) is
// passed to the installed hand-over, in source order. The site build
// installs the URL check service's submit once at start-up, before any
// parser runs, and only when URL checks are on for the run; with nothing
// installed (tests, tree=, URL checks off) addresses stay in web_links.
typedef void MarkupWebLinkHandOver(Str address);
void markup_set_web_link_hand_over(MarkupWebLinkHandOver *hand_over);
