// markup/tokenizer.h: cuts a source document into one flat array of tokens.
//
// One left-to-right pass with a few bytes of look-ahead; the parser never
// looks at characters except through these tokens. Tokens never overlap,
// appear in source order and cover every byte of the text, so a token's
// text is always the source range [begin, end).
//
// A word token is one word or several with a single space between each
// ("a line of words"): no markup rule looks inside such a stretch, and
// most of any text is one. Letters, digits and bytes from 0x80 up make a
// word; the next word must start with a letter or such a byte, so a number
// after a space stays a token of its own.
//
// Bytes that no markup rule names are decided here so that nothing is ever
// lost and a UTF-8 character is never cut in two:
// - every byte from 0x80 up starts or continues a word, so "café" and
//   "Übersicht" are one word each, and so is a stray continuation byte of
//   broken UTF-8 (it sticks to its neighbours instead of splitting them);
// - a form feed counts as a blank, like tab and vertical tab;
// - every other control byte (NUL, 0x01 to 0x08, 0x0E to 0x1F, 0x7F) is a
//   one-byte symbol, so it shows up as text rather than vanishing.
//
// Memory: one array of exactly the token count on `arena` (texts past
// 4 GiB give no tokens). The parser never keeps a pointer into it, so the
// caller may drop the tokens as soon as the parse is done.
// Pure function of its input: any thread may call it with its own arena.
#pragma once
#include "base/str.h"

enum TokenFlags : u32 {
    TokenFlag_Number = 0x1,
    TokenFlag_Word = 0x2,            // one word, or words with a single space between each
    TokenFlag_StringClosed = 0x4,    // modifier of a quoted string: the closing quote was found
    TokenFlag_Symbol = 0x8,          // one punctuation byte, or a quote without partner
    TokenFlag_Escape = 0x10,         // one backslash
    TokenFlag_Mark = 0x20,           // < > @ - _ or the pair __
    TokenFlag_Comment = 0x40,        // //
    TokenFlag_Space = 0x80,          // a run of blanks
    TokenFlag_Newline = 0x100,       // LF, CR or CR LF
    TokenFlag_Bar = 0x200,
    TokenFlag_OpenBracket = 0x400,
    TokenFlag_CloseBracket = 0x800,
    TokenFlag_SingleQuoted = 0x1000,
    TokenFlag_DoubleQuoted = 0x2000,
    TokenFlag_Backtick = 0x20000,
    TokenFlag_DoubleBacktick = 0x40000,
    TokenFlag_TripleBacktick = 0x80000,
    TokenFlag_Escaped = 0x400000,    // modifier: directly after an escape token
    TokenFlag_Rule = 0x800000,       // ---
    TokenFlag_HasSpace = 0x1000000,  // modifier of a string: a space inside
    TokenFlag_RawOpen = 0x2000000,   // ~{
    TokenFlag_RawClose = 0x4000000,  // }~
    TokenFlag_PathLike = 0x8000000,  // modifier of a string: "/" then "." then a letter
    TokenFlag_UrlLike = 0x10000000,  // modifier of a string: "www." or "http" inside
    TokenFlag_Semicolon = 0x20000000,
    TokenFlag_Equals = 0x40000000,
};

// A quoted string (closed or a lone quote) carries one of the two quote bits.
constexpr u32 TokenFlag_Quoted = TokenFlag_SingleQuoted | TokenFlag_DoubleQuoted;

// 32-bit offsets: a token costs 12 bytes, and there may be one per byte.
struct MarkupToken {
    u32 begin;
    u32 end;
    u32 flags;
};

struct TokenArray {
    MarkupToken *tokens;
    u64 count;
};

TokenArray tokenize(Arena *arena, Str text);

inline Str token_text(Str source, const MarkupToken *t) { return Str{source.str + t->begin, t->end - t->begin}; }
inline bool token_is(const MarkupToken *t, u32 kind) { return (t->flags & kind) != 0; }
inline bool token_is_escaped(const MarkupToken *t) { return (t->flags & TokenFlag_Escaped) != 0; }
inline bool token_is_string(const MarkupToken *t) { return (t->flags & TokenFlag_Quoted) != 0; }
inline bool token_is_closed_string(const MarkupToken *t) { return (t->flags & TokenFlag_StringClosed) != 0; }

// The text of a source without the UTF-8 byte-order mark some editors put
// first: left in, it would be part of the first word, and a document header
// on the first line would never be seen.
inline Str markup_source_text(Str text)
{
    if (text.size >= 3 && (u8)text.str[0] == 0xEF && (u8)text.str[1] == 0xBB && (u8)text.str[2] == 0xBF)
        return Str{text.str + 3, text.size - 3};
    return text;
}
