// render/renderer.h: turns the node tree of a parsed document into HTML
// elements inside a page tree, once per page variant.
//
// The page tree comes from the page shell: an `html` element whose `body`
// holds the regions `top_middle` (the smartphone title), `b_w` (the
// document) and `bottom` (the footnotes), found by their `id`. Every node is
// looked up in the render rule table (render_rules.h) for its tag and class;
// around that the renderer adds what a table cannot say: ids and anchors of
// headings, footnotes and references, list markers, indentation taken from
// the rules' styles, the title block and header fields, icons, link targets
// and images.
//
// Memory: every element, attribute and made-up string goes to `arena`, the
// page's arena; the walk's own state lives on scratch. Text taken from the
// document (words, addresses, names) is referenced, not copied, so the
// source text and the document's nodes must outlive the page, as they do
// in a build, where the page is written before the document is released.
// Several workers render different documents at once: the renderer writes
// nothing shared and reads the site layout, the build settings and
// constant tables only.
//
// Nothing here fails loudly. The walk is iterative (a document nested as
// deep as memory allows renders without touching the stack), linear in the
// size of the document, and never goes on without a container: a node
// without a rule, a rule without a tag, or an element that may not stand
// where it would go leaves its text in the nearest element that can hold it.
//
// Where the rules leave a case open, nothing is dropped and nothing stops:
// - a node without a rule, a rule without a tag (a `message` node, a table
//   row, a heading deeper than the table's levels) makes no element, and
//   its content goes into the element its parent's content goes into;
// - an element that may not stand in its container (by the allowed
//   parents of the tag table) goes to the closest element above that may
//   hold it; when none may, it is not made and its content stays;
// - a text run whose parent lies outside the walk goes into the element
//   made for that parent when one can be found, else into the element the
//   caller rendered into, else into `b_w`;
// - alphabetic list items past z count on as aa, ab, ...;
// - a page without `top_middle` or `bottom` takes the title or the
//   footnotes into `b_w`; without `b_w`, the document goes into the body.
// A table's heading and rows are left to the table assembly, which renders
// each cell into the cell it builds.
#pragma once
#include "markup/document.h"
#include "html/html_tree.h"
#include "render/icons.h"
#include "render/page_variant.h"

// Renders the subtree of `start` (its siblings are not visited) into the
// page that holds `target`, which is also where the walk starts looking for
// containers. The site build calls it with the document root and the page's
// document node; the page assembly calls it again with the footnotes
// container and `b_w`, and with each table cell and the element made for it.
// A null `variant` renders the desktop page. Returns 0 when the page has no
// element the document could go into (nothing is rendered then), else 1.
// The size and density of a JPEG a page embeds, by its absolute path. The
// site answers through the file service, so an edited image is seen by the
// watch and each image is read once, not once per page; the renderer itself
// never reads a file. The ratio goes to `arena`.
typedef JpegInfo RenderImageInfo(void *user, Arena *arena, Str path);

struct RenderOptions {
    Str local_folder;             // where site paths are rooted; empty: at "/"
    b32 deploy;                   // site paths instead of file addresses
    RenderImageInfo *image_info;  // null: sizes only from the document's own text
    void *image_info_user;
    // Headings and entries of the table of contents that hold only text
    // become their HTML text once complete, and their nodes are given back
    // to the arena: for pages that are only serialized, where a document of
    // many headings would otherwise hold several nodes per heading.
    b32 fold_finished;
    // With fold_finished: folding starts once the page's tree has taken
    // this many bytes (0: at once). It costs a serialization per heading,
    // which an ordinary page need not pay.
    u64 fold_after_bytes;
    // Set: the body is rendered once for both kinds of page, and what
    // differs between them is left out and listed here (see below).
    struct RenderKindParts *kind_parts;
};

// What a body rendered for both kinds of page leaves to the page assembly.
// A page's body is the same for desktop and smartphone but for the title
// block's place and style and the size of the header fields; rendering it
// once and copying it costs a fraction of a second render. A list that
// overflows makes the page assembly render each kind on its own.
struct RenderKindParts {
    HtmlElement *titles[4];   // title blocks, made but placed nowhere, in the order made
    HtmlElement *fields[64];  // header field elements, which a smartphone page sets larger
    u32 title_count;
    u32 field_count;
    bool overflow;
};
// Places a title block made for both kinds where `variant`'s page shows it,
// as a render for that kind alone does.
void render_title_place(Arena *arena, HtmlElement *h1, const PageVariant *variant, HtmlElement *top_middle,
                        HtmlElement *b_w);
// Gives the listed header fields the style of `variant`'s page. Once per
// tree: the smartphone's is added, never taken away.
void render_fields_style(Arena *arena, const RenderKindParts *parts, const PageVariant *variant);
// A null `options` renders with an empty local folder and file addresses.
b32 render_document(Arena *arena, MarkupNode *start, HtmlElement *target, const PageVariant *variant,
                    const RenderOptions *options);

// The element icon_element makes (a span styled and classed for the icon;
// the none node for Nil), built without formatting its class name or
// searching the attribute table: every page holds a dozen icons, and both
// serialize alike for every icon.
HtmlElement *render_icon(Arena *arena, u32 icon_id);

// The address of a local file for a page that is opened from disk: "file://"
// and the path when it starts with "/", "file:///" and the path otherwise
// (a drive letter), so both kinds of absolute path give a valid address.
Str render_file_address(Arena *arena, Str absolute_path);
