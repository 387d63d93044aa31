// site/feed.h: the site's Atom feed and its site map, as text.
//
// With site_url set, wyn writes html/feed.xml (Atom 1.0: the 20 newest
// published documents by creation date) and html/sitemap.xml (the
// sitemaps.org protocol: every published desktop page). Both formats need
// absolute addresses, so neither exists without site_url. This file makes
// their bytes from plain records and reads what they need of a document's
// header; site/site_outputs.cpp collects the records from the published
// summaries when the site is quiet and writes the files.
//
// Pure functions of their arguments, results on the arena passed in; any
// thread. The same records always give the same bytes (entries are sorted,
// never taken in the order they were found), so an unchanged site leaves
// both files untouched.
#pragma once
#include "base/date.h"
#include "markup/document.h"

//- what a document gives the feed

// A document header's values as text: the first line of each key in the
// document context, its words joined with their blanks, a link shown by its
// label. Empty where the key is absent.
struct DocumentFeedFields {
    Str author;
    Str creation_date;
    Str last_modification_date;
    Str summary;   // the summary line, or the excerpt when there is none
};
DocumentFeedFields feed_fields_of(Arena *arena, const ParsedDocument *doc);

// A header field's value as a reader sees it, on `arena`: its text pieces
// with their blanks, emphasis marks left out, a link by its label when it
// has one; blanks at either end dropped.
Str header_value_text(Arena *arena, MarkupNode *field);

//- dates

// A document's two dates as the feed and the site map give them: `created`
// from its creation date; `updated` from its last modification date when
// that is a date and not before the creation, else the creation date (zero
// when neither is a date). False when the creation date is no date.
bool feed_dates_read(Str creation_date, Str modification_date, DateTime *created, DateTime *updated);
// RFC 3339, as Atom wants it: "2026-03-02T00:00:00Z".
Str date_rfc3339(Arena *arena, DateTime date);
// The W3C date a site map's lastmod takes: "2026-03-02".
Str date_w3c(Arena *arena, DateTime date);

//- addresses

// The absolute address of a page: the site's address (ending in "/") and
// the page's web path ("/notes/a.html") without its first "/", every byte
// but letters, digits, "-._~" and "/" percent-encoded.
Str site_page_url(Arena *arena, Str site_url, Str web_path);

// Text made safe for XML: the five special characters as entities, control
// characters XML cannot hold dropped, bytes that are not UTF-8 as U+FFFD.
Str xml_escape(Arena *arena, Str text);

//- the feed

struct FeedEntry {
    Str url;            // absolute: the entry's id and its link
    Str title;
    Str author;         // may be empty
    Str summary;        // may be empty
    DateTime created;   // a valid date
    DateTime updated;   // a valid date, not before `created`
};

constexpr u64 feed_entry_limit = 20;

// The Atom document of the feed_entry_limit entries with the latest
// creation dates (newest first; equal dates by address). The feed's own
// updated time is its newest entry's, or `today` when it has none; a feed
// author, named after the site, is given only when an entry has none.
Str feed_atom(Arena *arena, Str site_url, const FeedEntry *entries, u64 count, DateTime today);

//- the site map

struct SitemapEntry {
    Str url;            // absolute
    DateTime lastmod;   // zero: none is given
};

// The protocol allows 50,000 addresses in one file.
constexpr u64 sitemap_entry_limit = 50000;

// The urlset of the entries, sorted by address, each address once (the
// first one given keeps its date), at most sitemap_entry_limit of them.
Str sitemap_xml(Arena *arena, const SitemapEntry *entries, u64 count);
