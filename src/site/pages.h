// site/pages.h: every document's pages on disk, and the bookkeeping that
// keeps the html folder honest.
//
// Output paths: a page is written only where site/output_paths.h allows.
// Two documents that name one path: the first in the document table keeps
// it (by bucket, then by source path; html/index.html always belongs to
// the generated index), and both are warned at their output_path lines.
// Every document that names a path is remembered with it, so when the one
// that keeps it gives it up, the next one is told to write it.
//
// The manifest (local/html/.wyn_manifest) lists every page wyn wrote, who
// wrote it and a hash of its bytes. When a document stops producing a page
// (made draft or personal, an output path changed, its source deleted, even
// between two runs), the page is removed, but only when its bytes are
// still the ones wyn wrote: a file put there or edited by hand is never
// removed; the author is warned instead. This file keeps the manifest in
// memory; site/site_outputs.h decides when it is written.
//
// The pages are a process-wide service, set up once by site_start.
// Threads: site_pages_document runs on every parser worker at once; the
// claims and the manifest sit behind one lock, held for table work only,
// never while a page is built or written.
#pragma once
#include "shell/page_build.h"
#include "site/diagnostics.h"

struct WorkShare;   // site/work_share.h

struct SitePagesConfig {
    Str local_folder;
    Shell *shell;             // set up already; pages are framed by it
    DiagPrintSettings print;
};

// Removes the temporary files a killed run left in the html folder, loads
// the manifest and removes the pages of documents whose sources are gone.
// Main thread, once, before any worker starts.
void site_pages_setup(const SitePagesConfig *config);

struct SitePageJob {
    PageDocument document;        // the built document and what its pages show
    u64 bucket;                   // its bucket in the document table: who keeps a shared path
    const RenderOptions *render;
    WorkShare *share;             // null: both kinds of pages on this thread
};

// A source this large has its smartphone pages offered to another worker
// while this one builds the desktop pages. Up to a size only: the two page
// trees are then in memory at once, and a huge document's would take the
// process past its bound of memory per source byte. The index document wyn
// wrote is shared at any size: one plain line per document, built last,
// when the other worker has nothing else to do. An index the author wrote
// is a source like any other.
constexpr u64 page_share_from = KiB(64);
constexpr u64 page_share_until = MiB(1);
bool page_share_wanted(Str local_folder, Str source_path, Str source_text);

struct SitePageResult {
    u32 warning_count;   // warnings about its output paths that stand while its source does
    StrList rebuild;     // documents that keep a page path this document gave up: they write it now
};

// Writes the pages of one built document (desktop, then smartphone, each
// with its raw page; a large one's smartphone pages on another worker
// when one is free) unless its status hides it, and removes the pages it
// produced before and produces no more. Warnings are printed with the
// document's source. `arena` is the worker's scratch, which also holds the
// result.
SitePageResult site_pages_document(Arena *arena, const SitePageJob *job);

// Prints what a shell call reported: its warnings, then each template
// load's messages in the template layout.
void site_shell_messages_print(const DiagPrintSettings *print, const ShellMessages *messages);

// Whether a file name is one of wyn's temporary names for a file being
// replaced (".<name>.wyn-tmp.<process>.<count>"). Pure, for tests.
bool site_page_is_leftover(Str name);

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
// Writes the manifest when it changed since it was last written: the lines
// of what changed are appended while watching, and the file is written
// whole when old lines outnumber live ones, or with ManifestFlush_Whole
// (the end of a run) when it holds any old line.
enum ManifestFlush : u32 { ManifestFlush_Append = 0, ManifestFlush_Whole = 1 };
void site_pages_flush(ManifestFlush how);

// Site-wide files (the feed, the site map) are kept in the manifest beside
// the pages, under an owner no document can be ("site_url"): noted each
// time they are written, and removed through it when they are no longer
// produced, with the same care as a page (a file edited by hand stays, and
// the author is warned). Any thread; the pages' lock is taken.
void site_pages_note_output(Str path, Str bytes);
void site_pages_drop_output(Str path);
// Changes to the manifest so far: a writer compares two readings to tell
// whether pages are still being written.
u64 site_pages_manifest_changes(void);
