// markup/parser.h: turns the tokens of one document into its node tree.
//
// One call parses a whole document: the line half (contexts, headings and
// paragraphs, quotes, separators, lists, the table of contents), the inline
// half (text runs, emphasis, code, raw text, fenced blocks, tick boxes,
// footnotes, numbered links, web and file links, images), the document
// header and tables. Any byte sequence parses, in time linear in its size
// and without recursion, to a tree plus messages; nothing stops the parse.
//
// Memory: the tree, its lists, output paths and messages go to `arena`;
// the tokens to the caller's scratch, given back before the call returns.
// The caller keeps the source text alive as long as the tree: node strings
// point into it.
// Reentrant: workers parse different documents at the same time; all that
// a parse reads besides its text comes in through ParseOptions.
#pragma once
#include "markup/document.h"

// Web addresses leave the parser here. At the end of each parse, the text
// of every "link_http" of the document (the address without quotes) is
// passed to the hand-over, in source order. The site build passes the URL
// check service's submit only when URL checks are on for the run; without
// one (tests, tree=, URL checks off) addresses stay in web_links.
typedef void MarkupWebLinkHandOver(void *user, Str address);

struct ParseOptions {
    Str local_folder;                  // where site paths are rooted; empty: at "/"
    b32 print_todos;                   // "todo" header lines become notes
    MarkupWebLinkHandOver *web_links;  // null: web addresses are not handed over
    void *web_links_user;
};

// The one way in: the whole document, its tree, lists and messages on
// `arena`. Tokens are made and dropped inside. `text` must outlive the
// result; a null `options` parses with every option off.
ParsedDocument markup_parse(Arena *arena, Str text, const ParseOptions *options);
