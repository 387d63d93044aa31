// base/str.cpp: slicing, matching, building, lists, maps, paths, numbers and
// Unicode conversion. The formatter lives in base/fmt.cpp.
#include "base/str.h"

#include <bit>

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

//- construction

Str str_from_cstring(const char *text)
{
    if (!text) return str_empty();
    return Str{text, (u64)strlen(text)};
}

Str16 str16_from_cstring(const u16 *text)
{
    u64 size = 0;
    if (text)
        while (text[size]) size += 1;
    return Str16{text, size};
}

//- slicing

Str str_prefix(Str s, u64 n) { return Str{s.str, min_of(n, s.size)}; }

Str str_chop(Str s, u64 n) { return Str{s.str, s.size - min_of(n, s.size)}; }

Str str_skip(Str s, u64 n)
{
    n = min_of(n, s.size);
    return Str{s.str + n, s.size - n};
}

Str str_postfix(Str s, u64 n)
{
    n = min_of(n, s.size);
    return Str{s.str + s.size - n, n};
}

Str str_substr(Str s, u64 a, u64 b)
{
    u64 lo = min_of(min_of(a, b), s.size);
    u64 hi = min_of(max_of(a, b), s.size);
    return Str{s.str + lo, hi - lo};
}

Str str_trim_left(Str s)
{
    u64 i = 0;
    while (i < s.size && char_is_space((u8)s.str[i])) i += 1;
    return str_skip(s, i);
}

Str str_trim_right(Str s)
{
    u64 n = s.size;
    while (n > 0 && char_is_space((u8)s.str[n - 1])) n -= 1;
    return Str{s.str, n};
}

Str str_trim(Str s) { return str_trim_right(str_trim_left(s)); }

//- comparison and search

bool str_match(Str a, Str b, u32 flags)
{
    if (flags & StrMatch_Prefix) {
        if (a.size > b.size) return false;
    } else if (a.size != b.size) {
        return false;
    }
    if (flags == 0 || flags == StrMatch_Prefix) return a.size == 0 || memcmp(a.str, b.str, a.size) == 0;
    for (u64 i = 0; i < a.size; i += 1) {
        u8 x = (u8)a.str[i];
        u8 y = (u8)b.str[i];
        if (flags & StrMatch_CaseInsensitive) {
            x = char_to_lower(x);
            y = char_to_lower(y);
        }
        if (flags & StrMatch_SlashInsensitive) {
            x = char_to_forward_slash(x);
            y = char_to_forward_slash(y);
        }
        if (x != y) return false;
    }
    return true;
}

u64 str_find(Str s, Str needle, u64 start, u32 flags)
{
    if (start >= s.size || needle.size > s.size) return s.size;
    u32 compare = flags & (StrMatch_CaseInsensitive | StrMatch_SlashInsensitive);
    u64 last_start = s.size - needle.size;
    if (flags & StrMatch_FindLast) {
        for (u64 i = last_start + 1; i > start; i -= 1)
            if (str_match(needle, Str{s.str + i - 1, needle.size}, compare)) return i - 1;
        return s.size;
    }
    if (compare == 0 && needle.size > 0) {
        // The common case: exact search, first byte located with memchr.
        u64 i = start;
        while (i <= last_start) {
            const void *hit = memchr(s.str + i, needle.str[0], last_start - i + 1);
            if (!hit) break;
            i = (u64)((const char *)hit - s.str);
            if (memcmp(s.str + i, needle.str, needle.size) == 0) return i;
            i += 1;
        }
        return s.size;
    }
    for (u64 i = start; i <= last_start; i += 1)
        if (str_match(needle, Str{s.str + i, needle.size}, compare)) return i;
    return s.size;
}

u64 str_find_byte(Str s, char byte, u64 start)
{
    if (start >= s.size) return s.size;
    const void *hit = memchr(s.str + start, byte, s.size - start);
    return hit ? (u64)((const char *)hit - s.str) : s.size;
}

u64 str_find_last_byte(Str s, char byte)
{
    for (u64 i = s.size; i > 0; i -= 1)
        if (s.str[i - 1] == byte) return i - 1;
    return s.size;
}

u64 str_hash(Str s)
{
    u64 h = 5381;
    for (u64 i = 0; i < s.size; i += 1) h = h * 33 + (u8)s.str[i];
    return h;
}

//- building

Str str_copy(Arena *arena, Str s)
{
    char *out = (char *)arena_push(arena, s.size + 1, 1);
    if (!out) return str_empty();
    if (s.size) memcpy(out, s.str, s.size);
    out[s.size] = 0;
    return Str{out, s.size};
}

Str str_pushfv(Arena *arena, const char *format, va_list args)
{
    // Formatted once on the stack and copied: nearly every string made here
    // (page paths, ids, messages) is short, and measuring it first formatted
    // everything twice. A longer one is formatted again where it goes.
    char buffer[512];
    va_list again;
    va_copy(again, args);
    u64 size = fmt_vsnprintf(buffer, sizeof buffer, format, args);
    char *out = (char *)arena_push(arena, size + 1, 8);
    if (out && size < sizeof buffer) memcpy(out, buffer, size + 1);
    else if (out) fmt_vsnprintf(out, size + 1, format, again);
    va_end(again);
    return out ? Str{out, size} : str_empty();
}

Str str_pushf(Arena *arena, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    Str result = str_pushfv(arena, format, args);
    va_end(args);
    return result;
}

Str str_fill(Arena *arena, u64 count, char byte)
{
    char *out = (char *)arena_push(arena, count + 1, 1);
    if (!out) return str_empty();
    memset(out, byte, count);
    out[count] = 0;
    return Str{out, count};
}

const char *str_cstring(Arena *arena, Str s) { return str_copy(arena, s).str; }

void str_list_push(Arena *arena, StrList *list, Str s)
{
    StrNode *node = push_array_no_zero<StrNode>(arena, 1);
    if (!node) return;
    node->next = nullptr;
    node->string = s;
    list_append(list, node);
    list->node_count += 1;
    list->total_size += s.size;
}

void str_list_push_front(Arena *arena, StrList *list, Str s)
{
    StrNode *node = push_array_no_zero<StrNode>(arena, 1);
    if (!node) return;
    node->next = list->first;
    node->string = s;
    list->first = node;
    if (!list->last) list->last = node;
    list->node_count += 1;
    list->total_size += s.size;
}

void str_list_pushf(Arena *arena, StrList *list, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    Str s = str_pushfv(arena, format, args);
    va_end(args);
    str_list_push(arena, list, s);
}

void str_list_concat(StrList *a, StrList *b)
{
    if (!b->first) return;
    if (a->last) a->last->next = b->first;
    else a->first = b->first;
    a->last = b->last;
    a->node_count += b->node_count;
    a->total_size += b->total_size;
    *b = StrList{};
}

Str str_list_join(Arena *arena, const StrList *list, const StrJoin *join)
{
    StrJoin none = {str_empty(), str_empty(), str_empty()};
    if (!join) join = &none;
    u64 seps = list->node_count ? list->node_count - 1 : 0;
    u64 size = join->pre.size + list->total_size + join->sep.size * seps + join->post.size;
    char *out = (char *)arena_push(arena, size + 1, 1);
    if (!out) return str_empty();
    char *at = out;
    memcpy(at, join->pre.str, join->pre.size);
    at += join->pre.size;
    for (StrNode *n = list->first; n; n = n->next) {
        if (n->string.size) memcpy(at, n->string.str, n->string.size);
        at += n->string.size;
        if (n->next && join->sep.size) {
            memcpy(at, join->sep.str, join->sep.size);
            at += join->sep.size;
        }
    }
    memcpy(at, join->post.str, join->post.size);
    at += join->post.size;
    *at = 0;
    return Str{out, size};
}

Str str_list_join_plain(Arena *arena, const StrList *list) { return str_list_join(arena, list, nullptr); }

StrList str_split(Arena *arena, Str s, Str separators, u32 flags)
{
    StrList list = {};
    u64 piece_start = 0;
    for (u64 i = 0; i <= s.size; i += 1) {
        bool cut = i == s.size;
        if (!cut)
            for (u64 k = 0; k < separators.size; k += 1)
                if (s.str[i] == separators.str[k]) {
                    cut = true;
                    break;
                }
        if (!cut) continue;
        if (i > piece_start || (flags & StrSplit_KeepEmpty))
            str_list_push(arena, &list, str_substr(s, piece_start, i));
        piece_start = i + 1;
    }
    return list;
}

StrList str_split_path(Arena *arena, Str s) { return str_split(arena, s, str_lit("/\\"), StrSplit_KeepEmpty); }

//- maps

StrMap str_map_alloc(Arena *arena, u64 bucket_count)
{
    StrMap map = {};
    map.bucket_count = bucket_count ? bucket_count : 1;
    map.buckets = push_array<StrMapBucket>(arena, map.bucket_count);
    return map;
}

// Twice the buckets, the nodes relinked in their order: of two nodes with
// one key, the first inserted is still the one found. Left as it is when
// memory is refused (lookups only walk longer).
static void str_map_grow(Arena *arena, StrMap *map)
{
    u64 count = map->bucket_count * 2;
    StrMapBucket *buckets = push_array<StrMapBucket>(arena, count);
    if (!buckets) return;
    for (u64 b = 0; b < map->bucket_count; b += 1) {
        for (StrMapNode *n = map->buckets[b].first, *next; n; n = next) {
            next = n->next;
            n->next = nullptr;
            list_append(&buckets[n->hash % count], n);
        }
    }
    map->buckets = buckets;
    map->bucket_count = count;
}

StrMapNode *str_map_insert(Arena *arena, StrMap *map, Str key, u64 value)
{
    // Two keys a bucket on average: half the bucket memory of one, and
    // chains still of a node or two.
    if (map->count >= map->bucket_count * 2) str_map_grow(arena, map);
    u64 hash = str_hash(key);
    StrMapBucket *bucket = &map->buckets[hash % map->bucket_count];
    StrMapNode *node = push_struct<StrMapNode>(arena);
    if (!node) return nullptr;
    node->key = str_copy(arena, key);
    node->value = value;
    node->hash = hash;
    list_append(bucket, node);
    map->count += 1;
    return node;
}

StrMapNode *str_map_lookup(const StrMap *map, Str key)
{
    if (!map->buckets) return nullptr;
    u64 hash = str_hash(key);
    const StrMapBucket *bucket = &map->buckets[hash % map->bucket_count];
    for (StrMapNode *n = bucket->first; n; n = n->next)
        if (n->hash == hash && str_eq(n->key, key)) return n;
    return nullptr;
}

//- paths

static u64 last_slash(Str s)
{
    for (u64 i = s.size; i > 0; i -= 1)
        if (char_is_slash((u8)s.str[i - 1])) return i - 1;
    return s.size;
}

Str path_chop_extension(Str s)
{
    u64 dot = str_find_last_byte(s, '.');
    return dot < s.size ? str_prefix(s, dot) : s;
}

Str path_extension(Str s)
{
    u64 dot = str_find_last_byte(s, '.');
    return dot < s.size ? str_skip(s, dot + 1) : Str{s.str + s.size, 0};
}

Str path_folder(Str s)
{
    u64 slash = last_slash(s);
    return slash < s.size ? str_prefix(s, slash) : Str{s.str, 0};
}

Str path_without_trailing_slashes(Str path)
{
    while (path.size > 1 && char_is_slash((u8)path.str[path.size - 1]) && !(path.size == 3 && path.str[1] == ':'))
        path = str_chop(path, 1);
    return path;
}

Str path_folder_with_slash(Str s)
{
    u64 slash = last_slash(s);
    return slash < s.size ? str_prefix(s, slash + 1) : Str{s.str, 0};
}

Str path_file_name(Str s)
{
    u64 slash = last_slash(s);
    return slash < s.size ? str_skip(s, slash + 1) : s;
}

Str path_ensure_slash(Arena *arena, Str s)
{
    if (s.size == 0 || char_is_slash((u8)s.str[s.size - 1])) return s;
    return str_pushf(arena, "%S/", s);
}

u32 path_kind(Str s)
{
    if (s.size >= 2 && char_is_alpha((u8)s.str[0]) && s.str[1] == ':') return 1;
    if (s.size >= 1 && s.str[0] == '/') return 2;
    return 0;
}

// A path the segment walk would give back unchanged: forward slashes only,
// none doubled, and no "." or ".." segment.
static bool path_is_plain(Str s)
{
    u64 segment = 0;   // where the current segment starts
    for (u64 i = 0; i <= s.size; i += 1) {
        if (i < s.size && s.str[i] != '/') {
            if (s.str[i] == '\\') return false;
            continue;
        }
        u64 size = i - segment;
        const char *seg = s.str + segment;
        if (size == 1 && seg[0] == '.') return false;
        if (size == 2 && seg[0] == '.' && seg[1] == '.') return false;
        if (size == 0 && segment > 0 && i < s.size) return false;   // "//"
        segment = i + 1;
    }
    return true;
}

Str path_resolve_segments(Arena *arena, Str base, Str path)
{
    // Most links are a rooted path under a plain local folder: the walk
    // would only join the two, so they are joined without it.
    if (base.size && path.size && path.str[0] == '/' && path_is_plain(base) && path_is_plain(path)) {
        if (base.str[base.size - 1] == '/') base.size -= 1;
        return str_cat(arena, base, path);
    }
    ArenaTemp scratch = scratch_begin(arena);
    StrList parts = str_split_path(scratch.arena, base);
    StrList more = str_split_path(scratch.arena, path);
    str_list_concat(&parts, &more);
    // The kept segments form a stack; an array keeps ".." cheap.
    Str *kept = push_array_no_zero<Str>(scratch.arena, parts.node_count + 1);
    u64 count = 0;
    for (StrNode *n = parts.first; n; n = n->next) {
        Str seg = n->string;
        // An empty segment is the root at the start and the trailing slash
        // at the end; anywhere else it is a doubled slash and means nothing.
        if (seg.size == 0 && n != parts.first && n->next) continue;
        if (str_eq(seg, str_lit("."))) continue;
        if (str_eq(seg, str_lit(".."))) {
            bool root = count == 1 && (kept[0].size == 0 || path_kind(kept[0]) == 1);
            if (count > 0 && !root) count -= 1;
            continue;
        }
        kept[count++] = seg;
    }
    StrList joined = {};
    for (u64 i = 0; i < count; i += 1) str_list_push(scratch.arena, &joined, kept[i]);
    StrJoin join = {str_empty(), str_lit("/"), str_empty()};
    Str result = str_list_join(arena, &joined, &join);
    // A lone root segment joins to "": it means "/".
    if (count == 1 && kept[0].size == 0) result = str_copy(arena, str_lit("/"));
    scratch_end(scratch);
    return result;
}

Str path_collapse_slashes(Arena *arena, Str path, bool backslashes)
{
    char *out = (char *)arena_push(arena, path.size + 1, 1);
    if (!out) return str_empty();
    u64 n = 0;
    for (u64 i = 0; i < path.size; i += 1) {
        u8 c = (u8)path.str[i];
        bool slash = c == '/' || (backslashes && c == '\\');
        if (slash) {
            if (n > 0 && out[n - 1] == '/') continue;
            out[n++] = '/';
        } else {
            out[n++] = (char)c;
        }
    }
    out[n] = 0;
    return Str{out, n};
}

//- characters

bool char_is_symbol(u8 c)
{
    switch (c) {
    case '!': case '#': case '$': case '%': case '&': case '(': case ')':
    case '*': case '+': case ',': case '-': case '.': case '/': case ':':
    case ';': case '<': case '=': case '>': case '?': case '@': case '[':
    case '\\': case ']': case '^': case '{': case '|': case '}': case '~':
        return true;
    default:
        return false;
    }
}

//- numbers

Str str_from_u64(Arena *arena, u64 value, u32 radix, u8 min_digits, u8 separator)
{
    if (radix != 2 && radix != 8 && radix != 16) radix = 10;
    const char *prefix = radix == 2 ? "0b" : radix == 8 ? "0o" : radix == 16 ? "0x" : "";
    u32 group = radix == 10 ? 3 : 4;
    char digits[64];
    u32 count = 0;
    do {
        digits[count++] = "0123456789abcdef"[value % radix];
        value /= radix;
    } while (value);
    while (count < min_digits && count < sizeof(digits)) digits[count++] = '0';
    char out[2 + 64 + 32];
    u32 n = 0;
    for (const char *p = prefix; *p; p += 1) out[n++] = *p;
    for (u32 i = count; i > 0; i -= 1) {
        out[n++] = digits[i - 1];
        if (separator && i > 1 && (i - 1) % group == 0) out[n++] = (char)separator;
    }
    return str_copy(arena, Str{out, n});
}

static u8 digit_value(u8 c)
{
    if (c >= '0' && c <= '9') return (u8)(c - '0');
    if (c >= 'a' && c <= 'f') return (u8)(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return (u8)(c - 'A' + 10);
    return 0xFF;
}

u64 u64_from_str(Str s, u32 radix)
{
    u64 value = 0;
    for (u64 i = 0; i < s.size; i += 1) value = value * radix + digit_value((u8)s.str[i]);
    return value;
}

// A line ends at a line feed, or at a carriage return that no line feed
// follows: files saved with old Mac line ends count lines as their editor
// shows them.
static bool ends_line(Str s, u64 i)
{
    return s.str[i] == '\n' || (s.str[i] == '\r' && (i + 1 == s.size || s.str[i + 1] != '\n'));
}

LineCol line_col_of(Str s, u64 offset)
{
    LineCol at = {1, 1};
    u64 end = min_of(offset, s.size);
    for (u64 i = 0; i < end; i += 1) {
        if (ends_line(s, i)) {
            at.line += 1;
            at.column = 1;
        } else {
            at.column += 1;
        }
    }
    return at;
}

// Calls `each(i)` for every offset at which a line ends. The index is
// built for every document that has something to say, and most bytes end
// no line: sixteen bytes are looked at together, and only a line feed or a
// carriage return among them is looked at alone.
template <typename Each>
static void line_ends_each(Str s, Each each)
{
    u64 i = 0;
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    for (; i + 16 <= s.size; i += 16) {
        __m128i bytes = _mm_loadu_si128((const __m128i *)(s.str + i));
        u32 mask = (u32)_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr)));
        for (; mask; mask &= mask - 1) {
            u64 at = i + (u64)__builtin_ctz(mask);
            if (ends_line(s, at)) each(at);
        }
    }
#endif
    for (; i < s.size; i += 1)
        if (ends_line(s, i)) each(i);
}

LineIndex line_index_build(Arena *arena, Str s)
{
    LineIndex index = {};
    u64 count = 1;
    line_ends_each(s, [&](u64) { count += 1; });
    u64 *starts = push_array_no_zero<u64>(arena, count);
    if (!starts) return index;
    starts[0] = 0;
    u64 n = 1;
    line_ends_each(s, [&](u64 i) { starts[n++] = i + 1; });
    index.starts = starts;
    index.count = count;
    index.size = s.size;
    return index;
}

LineCol line_index_find(const LineIndex *index, u64 offset)
{
    LineCol at = {1, 1};
    if (index->count == 0) return at;
    offset = min_of(offset, index->size);
    // The last line start at or before the offset.
    u64 low = 0, high = index->count;
    while (high - low > 1) {
        u64 mid = low + (high - low) / 2;
        if (index->starts[mid] <= offset) low = mid;
        else high = mid;
    }
    at.line = low + 1;
    at.column = offset - index->starts[low] + 1;
    return at;
}

//- Unicode

DecodedChar utf8_decode(const u8 *bytes, u64 remaining)
{
    // Byte class from the top five bits: 0 one byte, 1 continuation, 2..4
    // the length of a lead byte, 5 invalid.
    static const u8 length_of_class[32] = {
        1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
        0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 2, 2, 3, 3, 4, 5,
    };
    static const u8 first_mask[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    DecodedChar invalid = {0xFFFFFFFFu, 1};
    if (remaining == 0) return invalid;
    u8 length = length_of_class[bytes[0] >> 3];
    if (length == 0 || length == 5) return invalid;
    if (length > remaining) return invalid;
    u32 cp = bytes[0] & first_mask[length];
    for (u32 i = 1; i < length; i += 1) {
        if ((bytes[i] & 0xC0) != 0x80) return invalid;
        cp = (cp << 6) | (bytes[i] & 0x3F);
    }
    return DecodedChar{cp, length};
}

u64 utf8_first_invalid(Str s)
{
    const u8 *b = (const u8 *)s.str;
    u64 n = s.size, i = 0;
    constexpr u64 highs = 0x8080808080808080ull;
    while (i < n) {
        // Text is mostly ASCII: sixteen bytes at a time, then straight to
        // the first byte with its high bit set.
        while (i + 16 <= n) {
            u64 x, y;
            memcpy(&x, b + i, 8);
            memcpy(&y, b + i + 8, 8);
            if ((x | y) & highs) break;
            i += 16;
        }
        if (i >= n) break;
        if (i + 8 <= n) {
            u64 x;
            memcpy(&x, b + i, 8);
            if (!(x & highs)) {
                i += 8;
                continue;
            }
            if constexpr (std::endian::native == std::endian::little) i += (u64)std::countr_zero(x & highs) >> 3;
        }
        u8 c = b[i];
        if (c < 0x80) {
            i += 1;
            continue;
        }
        // The second byte's range depends on the lead; the rest are plain
        // continuations.
        u32 length;
        u8 low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) length = 2;
        else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0) low = 0xA0;
            if (c == 0xED) high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0) low = 0x90;
            if (c == 0xF4) high = 0x8F;
        } else {
            return i;
        }
        if (i + length > n) return i;
        if (b[i + 1] < low || b[i + 1] > high) return i;
        for (u32 k = 2; k < length; k += 1)
            if ((b[i + k] & 0xC0) != 0x80) return i;
        i += length;
    }
    return n;
}

Str utf8_repaired(Arena *arena, Str s)
{
    u64 at = utf8_first_invalid(s);
    if (at >= s.size) return str_copy(arena, s);
    StrList pieces = {};
    ArenaTemp scratch = scratch_begin(&arena, 1);
    while (at < s.size) {
        str_list_push(scratch.arena, &pieces, str_prefix(s, at));
        str_list_push(scratch.arena, &pieces, str_lit("\xEF\xBF\xBD"));
        s = str_skip(s, at + 1);
        at = utf8_first_invalid(s);
    }
    str_list_push(scratch.arena, &pieces, s);
    Str repaired = str_list_join_plain(arena, &pieces);
    scratch_end(scratch);
    return repaired;
}

DecodedChar utf16_decode(const u16 *units, u64 remaining)
{
    if (remaining == 0) return DecodedChar{0xFFFFFFFFu, 1};
    u32 first = units[0];
    if (first >= 0xD800 && first <= 0xDBFF && remaining >= 2 && units[1] >= 0xDC00 && units[1] <= 0xDFFF)
        return DecodedChar{((first - 0xD800) << 10) + (units[1] - 0xDC00u) + 0x10000u, 2};
    return DecodedChar{first, 1};
}

u32 utf8_encode(u8 *out, u32 cp)
{
    if (cp < 0x80) {
        out[0] = (u8)cp;
        return 1;
    }
    if (cp < 0x800) {
        out[0] = (u8)(0xC0 | (cp >> 6));
        out[1] = (u8)(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = (u8)(0xE0 | (cp >> 12));
        out[1] = (u8)(0x80 | ((cp >> 6) & 0x3F));
        out[2] = (u8)(0x80 | (cp & 0x3F));
        return 3;
    }
    if (cp <= 0x10FFFF) {
        out[0] = (u8)(0xF0 | (cp >> 18));
        out[1] = (u8)(0x80 | ((cp >> 12) & 0x3F));
        out[2] = (u8)(0x80 | ((cp >> 6) & 0x3F));
        out[3] = (u8)(0x80 | (cp & 0x3F));
        return 4;
    }
    out[0] = '?';
    return 1;
}

u32 utf16_encode(u16 *out, u32 cp)
{
    if (cp < 0x10000) {
        out[0] = (u16)cp;
        return 1;
    }
    if (cp <= 0x10FFFF) {
        cp -= 0x10000;
        out[0] = (u16)(0xD800 + (cp >> 10));
        out[1] = (u16)(0xDC00 + (cp & 0x3FF));
        return 2;
    }
    out[0] = '?';
    return 1;
}

Str16 str16_from_str(Arena *arena, Str s)
{
    u64 capacity = 2 * s.size + 1;
    u64 before = arena_pos(arena);
    u16 *out = (u16 *)arena_push(arena, 2 * capacity, 2);
    if (!out) return Str16{nullptr, 0};
    u64 n = 0;
    for (u64 i = 0; i < s.size;) {
        DecodedChar c = utf8_decode((const u8 *)s.str + i, s.size - i);
        i += c.size;
        n += utf16_encode(out + n, c.codepoint);
    }
    out[n] = 0;
    // Give back what was reserved for the worst case: the result stays the
    // last thing on the arena.
    u64 used = (u64)((u8 *)(out + n + 1) - (u8 *)out);
    u64 start = arena_pos(arena) - 2 * capacity;
    if (start >= before) arena_pop_to(arena, start + used);
    return Str16{out, n};
}

Str str_from_str16(Arena *arena, Str16 s)
{
    u64 capacity = 3 * s.size + 1;
    u64 before = arena_pos(arena);
    u8 *out = (u8 *)arena_push(arena, capacity, 1);
    if (!out) return str_empty();
    u64 n = 0;
    for (u64 i = 0; i < s.size;) {
        DecodedChar c = utf16_decode(s.str + i, s.size - i);
        i += c.size;
        n += utf8_encode(out + n, c.codepoint);
    }
    out[n] = 0;
    u64 start = arena_pos(arena) - capacity;
    if (start >= before) arena_pop_to(arena, start + n + 1);
    return Str{(const char *)out, n};
}

Str str_cat(Arena *arena, Str a, Str b)
{
    char *out = push_array_no_zero<char>(arena, a.size + b.size + 1);
    if (!out) return str_empty();
    if (a.size) memcpy(out, a.str, a.size);
    if (b.size) memcpy(out + a.size, b.str, b.size);
    out[a.size + b.size] = 0;
    return Str{out, a.size + b.size};
}

Str str_numbered(Arena *arena, Str prefix, u64 number)
{
    // Every element of a page gets one of these as a class: the digits go
    // straight to their place two at a time, and the few bytes of the
    // prefix are copied without a call.
    u64 count = 1;
    for (u64 power = 10; count < 20 && number >= power; power *= 10) count += 1;
    u64 size = prefix.size + 1 + count;
    char *out = push_array_no_zero<char>(arena, size + 1);
    if (!out) return str_empty();
    for (u64 i = 0; i < prefix.size; i += 1) out[i] = prefix.str[i];
    out[prefix.size] = '_';
    u64_to_decimal(out + size, number);
    out[size] = 0;
    return Str{out, size};
}

Str str_unquote(Str text)
{
    if (text.size && (text.str[0] == '"' || text.str[0] == '\'')) text = str_skip(text, 1);
    if (text.size && (text.str[text.size - 1] == '"' || text.str[text.size - 1] == '\'')) text = str_chop(text, 1);
    return text;
}

bool str_next_piece(Str text, char separator, u64 *cursor, Str *piece)
{
    if (text.size == 0 || *cursor > text.size) return false;
    u64 end = str_find_byte(text, separator, *cursor);
    *piece = str_substr(text, *cursor, end);
    *cursor = end + 1;   // past the end after the last piece
    return true;
}

bool str_less(Str a, Str b)
{
    u64 n = min_of<u64>(a.size, b.size);
    int c = n ? memcmp(a.str, b.str, n) : 0;
    return c < 0 || (c == 0 && a.size < b.size);
}

u64 str_edit_distance(Str a, Str b)
{
    constexpr u64 most = 64;
    if (a.size >= most || b.size >= most) return most;
    u64 d[most + 1][most + 1];
    for (u64 i = 0; i <= a.size; i += 1) d[i][0] = i;
    for (u64 j = 0; j <= b.size; j += 1) d[0][j] = j;
    for (u64 i = 1; i <= a.size; i += 1)
        for (u64 j = 1; j <= b.size; j += 1) {
            u64 cost = a.str[i - 1] == b.str[j - 1] ? 0 : 1;
            u64 best = min_of(min_of(d[i - 1][j] + 1, d[i][j - 1] + 1), d[i - 1][j - 1] + cost);
            if (i > 1 && j > 1 && a.str[i - 1] == b.str[j - 2] && a.str[i - 2] == b.str[j - 1])
                best = min_of(best, d[i - 2][j - 2] + 1);
            d[i][j] = best;
        }
    return d[a.size][b.size];
}
