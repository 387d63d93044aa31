// html/validator.h: the one entry that turns a template's text into an
// element tree, and the structure checks it can run on the tree.
//
// html_parse_template tokenizes, builds the tree, optionally validates it
// against the tag table, and leaves the template's diagnostics in the
// result: the caller prints them once per load of the template (the site
// prints in layout C), not once per page that uses it. It runs on the calling thread
// with that thread's arenas; the tree, its messages and their marker nodes
// live on the arena passed in. Nothing fails as a whole: every problem is a
// level-3 message and the tree comes back as built.
#pragma once
#include "html/template_parser.h"

// Options are the HtmlParseOptions bits, stored in the result. An empty
// source gives a result whose root is the none node and no diagnostics.
HtmlParseResult html_parse_template(Arena *arena, Str source, Str path, u32 options);

// Appends to the result's diagnostics, in document order: a `head` without
// a `title` in its content, an element after a node that is neither element
// nor text, unknown tags (0x04), unknown-attribute nodes (0x08), elements
// without a content node, elements under a parent their row does not allow
// (0x10), and elements whose row forbids empty content left empty. `path`
// and `source` are not read. The walk is iterative.
void html_validate(Arena *arena, HtmlParseResult *result, Str path, Str source);
