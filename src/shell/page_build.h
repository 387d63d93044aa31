// shell/page_build.h: the pages of one document: the page body put into the
// shell's frame (title, rendered document, table of contents, toggles,
// banner, tables, file links, raw-source link, footnotes, the site index's
// grouping), the raw-source pages, and writing them all.
//
// Pages are built on the caller's arena (the worker's page arena) and
// dropped with it once written. A page needs to know a few things about
// other documents (the page a linked source becomes, the website index the
// home page shows): the caller hands them in with the document
// (PageDocument), found when it checked the document's links. Nothing here
// reads another document, a file or a source: what a page shows comes in.
//
// An output is a page when the text after its last "." is exactly "html"
// (case-sensitive); every other output path produces nothing here, and
// every test for "is this an HTML output" in wyn goes through
// page_output_is_html.
#pragma once
#include "markup/document.h"
#include "render/renderer.h"
#include "shell/page_shell.h"

struct PageRecord {
    HtmlElement *document;   // the page tree's document node
    Str output_path;
    Str title;
};

struct PageSite {
    Shell *shell;                     // the frame's templates; null: pages without frame (tests)
    const RenderOptions *render;      // local folder, deploy, image sizes
    ShellMessages *messages;          // template loads' messages (may be null)
};

// What pages_write needs of the document: its tree and lists (already
// indexed: tables in extra_list), its source path and text, and what the
// caller found about the documents it links to.
struct PageDocument {
    const ParsedDocument *parsed;
    Str source_path;   // absolute
    Str source_text;
    // Source path of a linked document -> a Str*: the page its links lead
    // to, empty when it writes none. A path not in the map is shown as the
    // file it names. Null: no link leads to a page.
    const StrMap *linked_pages;
    // The site index page shows the website index below its own list:
    // that document, parsed and indexed by the caller. Null: none.
    const PageDocument *website_index;
    // The output paths that get pages (those the caller may write): the
    // raw-source links lead to their raw pages and to no other. Null: every
    // HTML output path of the document.
    const StrList *page_outputs;
};

//- output paths

bool page_output_is_html(Str path);
// "<path without extension>_smartphone.html".
Str page_smartphone_path(Arena *arena, Str page_path);
// "<folder>/raw_<name without extension>.html".
Str page_raw_path(Arena *arena, Str page_path);
// "<source folder>/raw_<source name without extension>.wyn".
Str page_raw_source_name(Arena *arena, Str source_path);

//- pages

PageRecord page_build(Arena *arena, const PageSite *site, const PageDocument *document, Str output_path,
                      const PageVariant *variant);
// A document's body, rendered once for all of its pages: a page copies it
// (or, the last one, takes it) instead of rendering the document again. It
// lives on the arena it was rendered on, which must outlive every page
// built from it; pages of one kind follow each other, since the body is
// styled for one kind at a time.
struct PageBody;
PageBody *page_body_render(Arena *arena, const PageSite *site, const PageDocument *document);
// Styles the body for `variant`'s pages, on the body's own arena.
void page_body_style(Arena *arena, PageBody *body, const PageVariant *variant);
// page_build with the body given: copied, or taken when `take` (the body is
// then of no further use). A body that cannot serve (styled for the other
// kind, or rendered where a page cannot take it) is rendered anew.
PageRecord page_build_from(Arena *arena, const PageSite *site, const PageDocument *document, Str output_path,
                           const PageVariant *variant, const PageBody *body, bool take);
// The raw-source page of a document: `title` is its page's title (every
// page has one), `source_text` what it shows.
PageRecord raw_page_build(Arena *arena, const PageSite *site, Str title, Str source_text, Str raw_page_path,
                          const PageVariant *variant);
// raw_page_build with the source already escaped (page_source_escaped):
// a document's raw pages all show the same text.
PageRecord raw_page_build_escaped(Arena *arena, const PageSite *site, Str title, Str escaped_source,
                                  Str raw_page_path, const PageVariant *variant);
Str page_source_escaped(Arena *arena, Str source_text);
// The title a document's pages carry: its title's text, or its file name
// up to the first "." when it has none.
Str page_title_of(Arena *arena, const PageDocument *document);

// What pages_write did, for the caller's manifest and figures.
struct PageWritten {
    PageWritten *next;
    Str path;          // on the caller's arena
    u64 hash;          // of the bytes that are now on disk (when written or unchanged)
    u32 status;        // FileReplaceStatus
};

struct PageWriteReport {
    PageWritten *first;
    PageWritten *last;
    u64 written;
    u64 unchanged;
    u64 failed;
    u64 bytes_written;
};

// Written pages fold finished headings into their HTML once the page's
// tree has taken this much: ordinary pages stay well under it and are
// built whole; a huge one stops holding several nodes per heading.
constexpr u64 page_fold_after_bytes = MiB(2);

// For each path of `output_paths` that page_output_is_html accepts, in list
// order: the variant's page and its raw page, serialized once and written
// through page_write (atomic, skipped when the bytes are on disk already).
// Failed writes become warnings on `warnings`; the other pages are still
// written. Returns false when any write failed. `report` (may be null)
// gets one entry per page on `arena`.
bool pages_write(Arena *arena, const PageSite *site, const PageDocument *document, const StrList *output_paths,
                 const PageVariant *variant, DiagnosticList *warnings, PageWriteReport *report);

// pages_write for each of `variants` in turn, the document rendered once
// for all of their pages (up to page_body_shared_until).
bool pages_write_kinds(Arena *arena, const PageSite *site, const PageDocument *document, const StrList *output_paths,
                       const PageVariant *const *variants, u32 variant_count, DiagnosticList *warnings,
                       PageWriteReport *report);
// The largest source whose pages share one rendered body. A larger one
// renders each page alone: a body kept beside the page copied from it holds
// two trees at once, which a document of megabytes (the index of a large
// site) cannot afford, and a few such documents cost little time.
constexpr u64 page_body_shared_until = MiB(1);

// The hash wyn keeps of a page's bytes, and the one it kept before: a
// manifest written by an earlier version holds those until the page is
// written again.
u64 page_bytes_hash(Str bytes);
u64 page_bytes_hash_earlier(Str bytes);
