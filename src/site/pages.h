// site/pages.h: the site's pages on disk: the shell made once, every
// document's pages written at the end of its build, and the bookkeeping
// that keeps the html folder honest.
//
// Output paths: a page is written only where it is safe to. A path must
// resolve inside the local folder and outside shared/, wyn_files/ and
// assets/ (an output onto a watched input would rebuild for ever); any other
// gets a warning at the document's output_path line and nothing is written.
// Two documents that name one path: the first in the document table keeps
// it (by bucket, then by source path) (html/index.html always belongs to the generated index), and both are
// warned at their output_path lines.
//
// The manifest (local/html/.wyn_manifest) lists every page wyn wrote, who
// wrote it and a hash of its bytes. When a document stops producing a page
// (made draft or personal, an output path changed, its source deleted, even
// between two runs), the page is removed, but only when its bytes are
// still the ones wyn wrote: a file put there or edited by hand is never
// removed; the author is warned instead. The manifest is written
// atomically by a small thread once the changes pause (and every two seconds
// while they go on), never once per page.
//
// Threads: site_pages_document runs on every parser worker at once; the
// claims and the manifest sit behind one lock, held for table work only,
// never while a page is built or written.
#pragma once
#include "site/build.h"

// Creates the shell from the site's configuration and sets it up (style
// sheet copies, head templates, menus), printing its messages once; removes
// the temporary files a killed run left in the html folder, loads the
// manifest and removes the pages of documents whose sources are gone.
// Main thread, once, before any worker starts.
void site_pages_setup(SiteBuild *build);

// Writes the pages of one built document (desktop, then smartphone, each
// with its raw page) unless its status hides it, and removes the pages it
// produced before and produces no more. Warnings are printed with the
// document's source. `arena` is the worker's scratch.
void site_pages_document(SiteBuild *build, DocumentRecord *record, const ParsedDocument *doc, Str source_text,
                         Arena *arena);

// Regenerates the shell's outputs whose inputs changed (style-sheet copies,
// head templates, menus) and prints their messages; true when anything was
// regenerated. The detector thread, when the generation moves.
bool site_pages_refresh(void);

// Whether a file name is one of wyn's temporary names for a file being
// replaced (".<name>.wyn-tmp.<process>.<count>"). Pure, for tests.
bool site_page_is_leftover(Str name);

// Why a path may not take a page: empty when it may. Pure, for tests.
Str site_output_path_refusal(Str local_folder, Str path);

// Counts since the start, for tests and benchmarks.
struct SitePagesCounts {
    u64 pages_written;
    u64 pages_unchanged;
    u64 pages_failed;
    u64 pages_removed;
    u64 bytes_written;
    u64 manifest_writes;
    u64 leftovers_removed;   // temporary files of an earlier run, removed at the start
};
SitePagesCounts site_pages_counts(void);
// Writes the manifest now when it changed (the writer thread does this by
// itself once the changes pause for a tenth of a second).
void site_pages_flush(void);
