// site/site_outputs.h: what wyn writes for the site as a whole, as opposed
// to one document's pages: the shell's outputs (the rewritten style-sheet
// copies and the head templates), the generated index document
// (wyn_files/index.wyn, listing every published document), the page
// manifest, and with site_url the feed and the site map (html/feed.xml and
// html/sitemap.xml, site/feed.h), which are kept in the manifest and
// removed through it when site_url goes.
//
// The shell is made here, once, before any page: every page is framed by
// it. The change detector says when: when the generation moves (the shell
// is refreshed from inputs that changed), when every document is current
// (the index document is made; the detector queues it), and when the site
// is quiet (the manifest and whatever depends on the whole site). The
// manifest is also written every two seconds while pages are being
// written, so a build stopped half-way still leaves most of its record.
//
// The outputs are a process-wide service, started once by site_start.
// Threads: setup on the main thread; the hooks on the detector's thread;
// a small thread of its own writes the manifest while the site is busy.
#pragma once
#include "shell/page_shell.h"
#include "site/build.h"

struct SiteOutputsConfig {
    Str local_folder;
    b32 js;
    b32 deploy;
    b32 no_shell;                 // no pages at all (tests of the table alone)
    DiagPrintSettings print;
    PageWriteObserver on_write;   // told of every file rewritten
};

// Creates the shell and writes its outputs, printing their messages. Main
// thread, once. Returns the shell (null with no_shell).
Shell *site_outputs_start(const SiteOutputsConfig *config);
// Starts the thread that writes the manifest while pages are being written.
// Main thread, once, after site_pages_setup.
void site_outputs_start_manifest(void);

// The generation moved: regenerates the shell's outputs whose inputs
// changed, printing their messages. True when anything was regenerated.
bool site_outputs_refresh(void);

// One line of the index: a document's web path and its title.
struct IndexEntry {
    Str path;
    Str title;
};

// The index document's tree of `entries`, in their order: a link to each
// path with its title, or the title alone where a path cannot be a link
// (it holds a blank). On `arena`.
MarkupNode *index_document_tree(Arena *arena, const IndexEntry *entries, u64 count, Str creation_date);

// The index document's tree for the documents published so far, on
// `arena`. Documents are listed by bucket of the document table, and by
// path within a bucket (never by when their records were made, which
// depends on the run's history); a path that a link cannot hold (one with
// a blank) is listed by its title as plain text.
MarkupNode *index_document_build(Arena *arena, SiteBuild *build);
// The first line of every index wyn writes; a file without it is the
// author's own.
extern const Str index_document_marker;

enum IndexWrite : u32 {
    IndexWrite_Written = 1,      // new bytes on disk
    IndexWrite_Unchanged = 2,    // the same bytes were there
    IndexWrite_HandWritten = 3,  // the author's own index.wyn is left alone
    IndexWrite_Failed = 4,       // could not be written; warned
};
// Makes the index document of the documents published so far and writes it
// when its bytes differ; never over an index.wyn wyn did not write (the
// author is warned once, and that file is built as the index).
// `out_hash` (may be null) receives a hash of the bytes the file holds now.
u32 site_outputs_write_index(SiteBuild *build, u64 *out_hash = nullptr);
// The path of the index document.
Str site_index_path(Arena *arena, const SiteBuild *build);

// The site is quiet: every site-wide output is brought up to date (the
// feed and the site map, then the manifest).
void site_outputs_quiet(void);

struct SiteOutputsCounts {
    u64 index_writes;     // times wyn_files/index.wyn was written
    u64 index_failures;   // times it could not be
    u64 index_made;       // times its listing was made, written or found the same
};
SiteOutputsCounts site_outputs_counts(void);
// Broken links in the menu templates as of the last quiet moment (the
// detector's thread).
u64 site_outputs_menu_warnings(void);
