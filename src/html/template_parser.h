// html/template_parser.h: the tokenizer and tree builder of hand-written HTML
// templates (the head and menu templates of a site).
//
// Two passes: html_tokenize cuts the text into a flat array of tokens that
// cover every byte; html_build_tree walks them with a stack of parse frames
// and builds the same HtmlElement tree the renderer builds. Only the subset
// of HTML the tag table knows is understood: no comments, seven entities,
// fixed rules for names and closing tags. Problems become level-3
// diagnostics and the walk goes on: any byte sequence gives a tree.
//
// Both passes are pure functions of their input on the calling thread's
// arenas; any number of threads may parse at once. The tree, its values and
// its diagnostics live on the arena passed in, which also gets a copy of the
// source, so the tree does not depend on the caller's buffer.
#pragma once
#include "html/html_tree.h"
#include "base/diagnostics.h"

//- tokens

enum HtmlTokenFlags : u32 {
    HtmlToken_Number = 0x0001,
    HtmlToken_Identifier = 0x0002,
    HtmlToken_String = 0x0004,
    HtmlToken_Punctuation = 0x0008,   // also on every entity
    HtmlToken_Symbol = 0x0010,        // "<", "</", "/>", "=", ">"
    HtmlToken_Space = 0x0040,
    HtmlToken_Newline = 0x0080,
    HtmlToken_SingleQuoted = 0x0100,
    HtmlToken_SingleBroken = 0x0200,  // a single-quoted string cut short by "<"
    HtmlToken_DoubleQuoted = 0x0400,
    HtmlToken_Other = 0x0800,
    HtmlToken_Broken = 0x1000,        // a double-quoted string cut by "<", or any string cut by the end
    HtmlToken_Entity = 0x4000,
};

struct HtmlToken {
    u64 start;   // offset of the first byte
    u64 end;     // offset one past the last byte
    u32 flags;   // HtmlTokenFlags
};
static_assert(sizeof(HtmlToken) == 24, "tokens are stored contiguously, 24 bytes each");

struct HtmlTokenArray {
    HtmlToken *tokens;
    u64 count;
};

//- parser flags of the nodes built (the tree stores them, nothing reads them)

enum HtmlParserFlags : u64 {
    HtmlParserFlag_SingleQuoted = 0x800,
    HtmlParserFlag_DoubleQuoted = 0x1000,
    HtmlParserFlag_RawText = 0x40000,
    HtmlParserFlag_Number = 0x100000,
    HtmlParserFlag_Identifier = 0x200000,
    HtmlParserFlag_String = 0x400000,
    HtmlParserFlag_Punctuation = 0x800000,
};

//- options of a parse (stored in the result)

enum HtmlParseOptions : u32 {
    HtmlParse_Validate = 0x01,              // run the structure validator
    HtmlParse_ReportUnknownTags = 0x04,
    HtmlParse_ReportUnknownAttributes = 0x08,
    HtmlParse_ReportParents = 0x10,
    HtmlParse_Skeleton = 0x20,              // not offered: accepted and ignored
    HtmlParse_LenientLessThan = 0x40,       // a "<" that starts no tag becomes the text "&lt;"
    HtmlParse_Quiet = 0x80,                 // accepted: nothing here prints, diagnostics stay in the result
};

//- frames and result

enum HtmlFrameState : u32 {
    HtmlFrame_Open = 0,
    HtmlFrame_StartTag = 1,
    HtmlFrame_AttributeValue = 2,
    HtmlFrame_AttributeName = 3,
    HtmlFrame_RawText = 4,
    HtmlFrame_Content = 5,
};

struct HtmlParseFrame {
    HtmlParseFrame *below;
    u32 state;              // HtmlFrameState
    HtmlElement *element;
    Str name;               // raw text: the name whose closing tag ends it
};

struct HtmlParseResult {
    HtmlElement *root;       // the document node; its text is the whole source
    HtmlElement *title;      // the first `title` element, or the none node
    DiagnosticList diagnostics;
    u32 flags;               // the options of the parse
};

//- passes

// Tokens cover every byte of `source` in order; an empty source gives none.
HtmlTokenArray html_tokenize(Arena *arena, Str source);
// Builds the tree of `source` from its tokens. Reads options 0x40 (0x20 is
// not offered). `path` is carried for messages only.
HtmlParseResult html_build_tree(Arena *arena, Str path, Str source, HtmlTokenArray tokens, u32 flags);
