// base/str.h: length-counted strings, string lists, maps, paths, numbers and
// Unicode conversion.
//
// A Str points at bytes it does not own: into a source text, into constant
// data or into an arena. Strings are never changed after they are built.
// Every string a function here builds lives on the arena it was given and
// carries one NUL after its last byte (not counted), so it can be handed to
// calls that want a terminated string. Slicing, matching and the path
// helpers never allocate. All functions are safe on any thread that owns
// the arena it passes.
//
// Str is an aggregate of a pointer and a size, so a table of str_lit rows is
// a compile-time constant: no start-up code runs and no table can be read
// before it is initialised.
#pragma once
#include <cstdarg>
#include "base/arena.h"

//- records

struct Str {
    const char *str;
    u64 size;
};

struct Str16 {
    const u16 *str;
    u64 size;
};

struct StrNode {
    StrNode *next;
    Str string;
};

struct StrList {
    StrNode *first;
    StrNode *last;
    u64 node_count;
    u64 total_size;
};

struct StrJoin {
    Str pre;
    Str sep;
    Str post;
};

struct DecodedChar {
    u32 codepoint;   // 0xFFFFFFFF for an invalid sequence
    u32 size;        // bytes or UTF-16 units taken, at least 1
};

struct StrMapNode {
    StrMapNode *next;
    Str key;
    u64 value;
    u64 hash;
};

struct StrMapBucket {
    StrMapNode *first;
    StrMapNode *last;
};

// Grows as it fills (from the inserting arena), so a lookup stays short
// however many keys a site gives it.
struct StrMap {
    u64 bucket_count;
    StrMapBucket *buckets;
    u64 count;
};

struct LineCol {
    u64 line;
    u64 column;
};

//- match flags

enum StrMatchFlags : u32 {
    StrMatch_CaseInsensitive = 1,
    StrMatch_Prefix = 2,           // str_match(a, b): b begins with a
    StrMatch_SlashInsensitive = 4,
    StrMatch_FindLast = 8,         // str_find only
};

enum StrSplitFlags : u32 {
    StrSplit_KeepEmpty = 1,
};

//- construction

template <u64 N>
constexpr Str str_lit(const char (&text)[N]) { return Str{text, N - 1}; }
constexpr Str str(const char *text, u64 size) { return Str{text, size}; }
inline Str str_range(const char *first, const char *opl) { return Str{first, (u64)(opl - first)}; }
constexpr Str str_empty() { return Str{"", 0}; }
Str str_from_cstring(const char *text);
Str16 str16_from_cstring(const u16 *text);

//- slicing (no copies; indices are clamped)

Str str_prefix(Str s, u64 n);
Str str_chop(Str s, u64 n);
Str str_skip(Str s, u64 n);
Str str_postfix(Str s, u64 n);
Str str_substr(Str s, u64 a, u64 b);
Str str_trim(Str s);
Str str_trim_left(Str s);
Str str_trim_right(Str s);

//- comparison and search

bool str_match(Str a, Str b, u32 flags);
inline bool str_eq(Str a, Str b) { return str_match(a, b, 0); }
// Byte order, a shorter string before a longer one it begins: an order
// that does not depend on the locale or on when things were seen.
bool str_less(Str a, Str b);
u64 str_find(Str s, Str needle, u64 start, u32 flags);
inline bool str_contains(Str s, Str needle) { return str_find(s, needle, 0, 0) < s.size; }
u64 str_find_byte(Str s, char byte, u64 start);       // s.size when absent
u64 str_find_last_byte(Str s, char byte);              // s.size when absent
// How far two short strings are apart, for "did you mean": each insertion,
// deletion, substitution and swap of two neighbours counts one. Strings of
// 64 bytes or more are 64 apart from anything.
u64 str_edit_distance(Str a, Str b);
u64 str_hash(Str s);

//- building

Str str_copy(Arena *arena, Str s);
Str str_pushf(Arena *arena, const char *format, ...);
Str str_pushfv(Arena *arena, const char *format, va_list args);
Str str_fill(Arena *arena, u64 count, char byte);
const char *str_cstring(Arena *arena, Str s);   // the bytes, NUL-terminated (a copy)

void str_list_push(Arena *arena, StrList *list, Str s);
void str_list_push_front(Arena *arena, StrList *list, Str s);
void str_list_pushf(Arena *arena, StrList *list, const char *format, ...);
void str_list_concat(StrList *a, StrList *b);
Str str_list_join(Arena *arena, const StrList *list, const StrJoin *join);
Str str_list_join_plain(Arena *arena, const StrList *list);
StrList str_split(Arena *arena, Str s, Str separators, u32 flags);
StrList str_split_path(Arena *arena, Str s);

//- maps (djb2-hashed)

StrMap str_map_alloc(Arena *arena, u64 bucket_count);
StrMapNode *str_map_insert(Arena *arena, StrMap *map, Str key, u64 value);   // key copied
StrMapNode *str_map_lookup(const StrMap *map, Str key);                      // null when absent

//- paths

Str path_chop_extension(Str s);
Str path_extension(Str s);
Str path_folder(Str s);
Str path_folder_with_slash(Str s);
// A root keeps its slash: "/" and "C:/".
Str path_without_trailing_slashes(Str path);
Str path_file_name(Str s);
Str path_ensure_slash(Arena *arena, Str s);
u32 path_kind(Str s);   // 1 drive-absolute, 2 root-relative, 0 relative
// Walks the segments of `base` and then of `path` (cut at both slashes): "."
// is dropped, ".." removes the previous kept segment but never the root (the
// empty first segment of "/x" or a drive "C:"), an empty segment between two
// slashes is dropped, others are kept; the kept segments are joined with "/".
Str path_resolve_segments(Arena *arena, Str base, Str path);
// Collapses every run of slashes into one "/" (backslashes count as slashes
// only when `backslashes` is set; they are then written as "/").
Str path_collapse_slashes(Arena *arena, Str path, bool backslashes);

//- characters

inline bool char_is_upper(u8 c) { return c >= 'A' && c <= 'Z'; }
inline bool char_is_lower(u8 c) { return c >= 'a' && c <= 'z'; }
inline bool char_is_alpha(u8 c) { return char_is_upper(c) || char_is_lower(c); }
inline bool char_is_digit(u8 c) { return c >= '0' && c <= '9'; }
inline bool char_is_space(u8 c) { return c == ' ' || (c >= 9 && c <= 13); }
bool char_is_symbol(u8 c);
inline u8 char_to_lower(u8 c) { return char_is_upper(c) ? (u8)(c + ('a' - 'A')) : c; }
inline u8 char_to_upper(u8 c) { return char_is_lower(c) ? (u8)(c - ('a' - 'A')) : c; }
inline u8 char_to_forward_slash(u8 c) { return c == '\\' ? '/' : c; }
inline bool char_is_slash(u8 c) { return c == '/' || c == '\\'; }

//- numbers

Str str_from_u64(Arena *arena, u64 value, u32 radix, u8 min_digits, u8 separator);
u64 u64_from_str(Str s, u32 radix);
// Writes the decimal digits of `value` so that they end just before `end`
// (20 bytes hold any u64); returns where they start.
char *u64_to_decimal(char *end, u64 value);
// Lines end at a line feed or at a carriage return no line feed follows;
// columns count bytes from 1. line_col_of scans from the start: for many
// offsets into one text, build a LineIndex once.
LineCol line_col_of(Str s, u64 offset);

// Drops a leading double or single quote, then a trailing one; the two
// need not match. Paths, attribute values and category lists all read
// their quotes this way.
Str str_unquote(Str text);

// Walks the pieces of `text` cut at `separator` without allocating. Start
// with *cursor = 0; each call puts the next piece into *piece (it may be
// empty) and returns false when there is none left. n separators give n+1
// pieces; an empty text gives none.
bool str_next_piece(Str text, char separator, u64 *cursor, Str *piece);

// `a` then `b`, NUL-terminated: cheaper than formatting for a join of two.
Str str_cat(Arena *arena, Str a, Str b);
// "<prefix>_<number>" in decimal, NUL-terminated: ids and classes made of
// a name and a source offset, written for every element of every page.
Str str_numbered(Arena *arena, Str prefix, u64 number);

struct LineIndex {
    const u64 *starts;   // the offset of each line's first byte
    u64 count;
    u64 size;            // the text's size: later offsets are clamped to it
};
LineIndex line_index_build(Arena *arena, Str s);
LineCol line_index_find(const LineIndex *index, u64 offset);   // as line_col_of, in log time

//- Unicode

DecodedChar utf8_decode(const u8 *bytes, u64 remaining);
// The offset of the first byte a browser would not read as UTF-8 (and so
// shows as a replacement mark): a stray continuation, a lead byte without
// its continuations, an overlong form, a surrogate or a value past
// U+10FFFF. The text's size when there is none.
u64 utf8_first_invalid(Str s);
// A copy of the text on `arena`, with U+FFFD in place of each byte
// utf8_first_invalid would stop at, as a browser shows it. For text wyn
// takes from documents into a document of its own (the index).
Str utf8_repaired(Arena *arena, Str s);
DecodedChar utf16_decode(const u16 *units, u64 remaining);
u32 utf8_encode(u8 *out, u32 codepoint);    // returns bytes written (1 to 4)
u32 utf16_encode(u16 *out, u32 codepoint);  // returns units written (1 or 2)
Str16 str16_from_str(Arena *arena, Str s);
Str str_from_str16(Arena *arena, Str16 s);

//- formatting
//
// The C printf grammar plus %S for a Str passed by value. Returns the length
// the whole text needs (without the NUL) and writes at most `capacity`
// bytes including a NUL; a null buffer only measures.

u64 fmt_vsnprintf(char *buffer, u64 capacity, const char *format, va_list args);
u64 fmt_snprintf(char *buffer, u64 capacity, const char *format, ...);
