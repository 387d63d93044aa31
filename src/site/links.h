// site/links.h: link validation of one parsed document.
//
// Runs on the worker that holds the document, after its parse and after
// what it embeds has taken its place. File links are resolved against the
// site (a type folder by extension, then made absolute under the local
// folder), links to other documents and to their numbered anchors are
// checked against what those documents published (their summaries; never
// their trees), web links read the URL check service's results, and
// references the parser could not match are reported. The checks mark the
// links they check and nothing else: a link's text becomes the target it
// resolves to, a link to an anchor gets the "reference" it points at, and
// a rejected link gets NodeFlag_Unresolved, which the renderer shows as
// broken; no other node is added, moved or removed. Every message goes on
// the document's own list, so it is printed with the document's other
// diagnostics, once per complete build.
//
// A check that depends on work not done yet (a linked document that will be
// built but has published nothing, a web address without a final result)
// leaves the document incomplete: the passes say so and name what the
// document waits for, and the build parks it until one of those arrives.
// A link to a source that will never be built (missing, outside the site's
// documents) is not waited for: it is a link that cannot be followed.
//
// Memory: nodes, texts and messages go on the document's arena; lookups
// copy on scratch. Reads no global: the build's lookups come in through
// LinkCheckSettings.
#pragma once
#include "http/url_check.h"
#include "markup/paths.h"
#include "site/build.h"

//- what the checker asks of the build

enum LinkTargetState : u32 {
    LinkTarget_Unknown = 0,     // no record: the path is not a document of this build
    LinkTarget_Pending = 1,     // submitted, nothing published yet
    LinkTarget_Published = 2,   // a summary is there
};

struct LinkTarget {
    u32 state;                  // LinkTargetState
    DocumentSummary *summary;   // with LinkTarget_Published, on the caller's arena
};

// No numbered anchor is asked for (anchors are 0 to 255).
constexpr u32 link_no_anchor = 256;

// What the checks read from outside the document, asked of the caller, who
// may keep a record of it (the build rebuilds a document when what it read
// changes). `anchor` is the number a link asks for in that document.
typedef LinkTarget LinkDocumentLookup(void *user, Arena *arena, Str path, u32 anchor);
typedef u32 LinkFileStateLookup(void *user, Str path);                    // a FileState
typedef UrlCheckResult LinkAddressLookup(void *user, UrlCheckService *service, Str address);

struct LinkLookups {
    LinkDocumentLookup *document;     // null: no other document is known
    LinkFileStateLookup *file_state;  // null: the disk, now
    LinkAddressLookup *address;       // null: the service's stored result
    void *user;
};

struct LinkCheckSettings {
    Str local_folder;              // ends in "/"
    Str document_path;             // the document being checked: links to itself use its own anchors
    b32 file_path_checks;          // off with deploy or no_file_path_check: nothing is reported
    b32 deploy;                    // found files are shown by their web path
    UrlCheckService *url_checks;   // null: web links are not checked
    // wyn's own listing of the site (the index it writes): a listed
    // document whose source went is its removal not taken yet, and the
    // listing is written again without it, so it is not told.
    b32 listing;
    LinkLookups lookups;
};

// What an incomplete document waits for; every string is on the arena the
// passes were given. The passes also keep here each file link's text as
// the author wrote it (pass 1 rewrites it to the resolved path), which a
// message about the link names as its target.
struct LinkWaits {
    StrList documents;   // linked documents that will publish a summary
    StrList addresses;   // web addresses whose result is not stored yet
    StrMap written;      // link node -> its text as written (a Str*)
};

//- the passes

// Pass 1: file links. Returns false when the document has to wait for a
// linked document (named in `waits`). `linked_pages` (may be null) gets,
// for every linked document that has published, the page its links lead
// to (a Str on `arena`, empty when it writes none), keyed by its source
// path: what the page assembly shows for those links.
bool links_check_files(Arena *arena, ParsedDocument *doc, const LinkCheckSettings *settings, LinkWaits *waits,
                       StrMap *linked_pages);
// Pass 2: web links. Returns false when an address has no final result yet
// (named in `waits`).
bool links_check_web(Arena *arena, ParsedDocument *doc, const LinkCheckSettings *settings, LinkWaits *waits);
// Pass 3: every element still flagged unresolved is reported "<what> not
// found"; only with file-path checks on.
void links_report_unresolved(Arena *arena, ParsedDocument *doc, const LinkCheckSettings *settings,
                             const LinkWaits *waits);

// The three passes in order; pass 3 runs only for a complete document.
bool links_check(Arena *arena, ParsedDocument *doc, const LinkCheckSettings *settings, LinkWaits *waits,
                 StrMap *linked_pages);

//- pieces, for the build and tests

struct LinkTargetText {
    Str path;          // the text before "[#N]", or the whole text
    b32 has_anchor;
    u64 anchor;        // the digits after "#", modulo 256 as the parser numbers anchors
    b32 anchor_past_byte;   // the digits say more than 255: no anchor has that number
};

LinkTargetText link_target_split(Str text);
// The other documents `doc` links to, resolved as the link check resolves
// them, in source order, repeats and all; the tree is left as it is.
void links_document_targets(Arena *arena, const ParsedDocument *doc, Str local_folder, Str document_path, StrList *out);
// The page links to a document lead to: its first HTML output that may
// take a page; empty when it writes none or its status hides it. Worked
// out once when its summary is published (DocumentSummary::page): every
// link to it would otherwise resolve the same output path again, twice.
Str link_document_page(Arena *arena, Str local_folder, const ParsedDocument *doc);
