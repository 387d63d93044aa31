// markup/header_fields.h: the keys a document may use in its header.
//
// A header line is "key: value" inside a context, normally the document
// context that opens the file. The parser reads only `key` and `id`; the
// other columns travel with the node (MarkupNode::field, a copy of the row
// on the document's arena) to the renderer and the site build. The table
// is constant data: any thread may read it at any time.
#pragma once
#include "base/str.h"

struct MarkupNode;

enum HeaderFieldId : u32 {
    HeaderField_Title = 1,
    HeaderField_Author = 2,
    HeaderField_AuthorLink = 3,
    HeaderField_OutputPath = 4,
    HeaderField_CreationDate = 5,
    HeaderField_Includes = 6,
    HeaderField_Related = 7,
    HeaderField_LastModificationDate = 8,
    HeaderField_Remark = 9,
    HeaderField_Excerpt = 10,
    HeaderField_Summary = 11,
    HeaderField_Category = 12,
    HeaderField_Status = 13,
    HeaderField_Time = 14,
    HeaderField_Todo = 15,
    HeaderField_Toc = 16,
};

struct HeaderFieldInfo {
    Str key;
    u32 id;       // HeaderFieldId
    u32 group;    // one bit per field, for readers that group fields
    u64 hidden;   // 1: the page does not show the field
    u64 format;   // how the value is shown (dates, tags, plain text)
    u64 icon;     // index into the renderer's icon table
};
static_assert(sizeof(HeaderFieldInfo) == 48, "a header field row is 48 bytes");

constexpr u64 header_field_count = 16;
extern const HeaderFieldInfo header_field_table[header_field_count];

// The row whose key equals `key` (same length, ASCII case ignored), tried
// in table order; null when no key matches.
const HeaderFieldInfo *header_field_lookup(Str key);

// The key a mistyped one was most likely meant as (two edits at most, and
// fewer than the key has letters); null when none is that close.
const HeaderFieldInfo *header_field_closest(Str key);

// Whether a status value keeps a document off the site: "draft" and
// "personal", ASCII case ignored. Such a document writes no page, is not
// listed in the index, and links to it cannot be followed.
bool header_status_hides(Str status);

// The hiding status a status value that does not hide was most likely
// meant as: "draft" or "personal" for a value two edits from one ("darft",
// "drafts"), or for a word that asks to be kept off ("private", "hidden",
// "unpublished", "secret"); empty for anything else, which is only kept.
Str header_status_meant(Str status);

// A title field's text as readers see it, on `arena`: its words (those
// inside an emphasis too; the marks themselves show nothing), each blank
// between them once, none at either end. Empty for the nil node.
Str header_title_text(Arena *arena, MarkupNode *title_field);
