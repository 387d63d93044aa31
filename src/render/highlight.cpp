// render/highlight.cpp: tree-sitter parses, the grammars' highlight queries,
// and the spans and HTML made from their captures.
#include "render/highlight.h"

#include <algorithm>
#include <atomic>
#include <tree_sitter/api.h>
#include <xxhash.h>

#include "html/html_tree.h"
#include "os/platform.h"

//- languages

struct HighlightAlias {
    Str word;
    Str grammar;
};

// Words authors put after a fence for a grammar besides its own name.
static const HighlightAlias highlight_alias_table[] = {
    {str_lit("h"), str_lit("c")},
    {str_lit("c++"), str_lit("cpp")},       {str_lit("cc"), str_lit("cpp")},
    {str_lit("cxx"), str_lit("cpp")},       {str_lit("hpp"), str_lit("cpp")},
    {str_lit("py"), str_lit("python")},     {str_lit("python3"), str_lit("python")},
    {str_lit("sh"), str_lit("bash")},       {str_lit("shell"), str_lit("bash")},
    {str_lit("js"), str_lit("javascript")}, {str_lit("mjs"), str_lit("javascript")},
    {str_lit("jsx"), str_lit("javascript")},
    {str_lit("htm"), str_lit("html")},      {str_lit("xhtml"), str_lit("html")},
    {str_lit("rs"), str_lit("rust")},
    {str_lit("golang"), str_lit("go")},
};

// Languages are numbered by the generated table; this many fit a thread's
// parser slots.
static constexpr u32 highlight_language_limit = 32;

static Str grammar_name(u32 language)
{
    if (language == 0 || language > highlight_grammar_count || language > highlight_language_limit) return str_empty();
    const char *name = highlight_grammar_table[language - 1].name;
    return Str{name, (u64)strlen(name)};
}

Str highlight_language_name(u32 language) { return grammar_name(language); }

u32 highlight_language_from_word(Str word)
{
    if (word.size == 0) return 0;
    for (const HighlightAlias &alias : highlight_alias_table)
        if (str_match(alias.word, word, StrMatch_CaseInsensitive)) {
            word = alias.grammar;
            break;
        }
    for (u32 language = 1; language <= highlight_grammar_count; language += 1)
        if (str_match(grammar_name(language), word, StrMatch_CaseInsensitive)) return language;
    return 0;
}

//- tree-sitter's memory

// A parse makes and drops tens of thousands of small records (subtrees,
// stack nodes, arrays that double), and deleting its tree walks every node
// to free it. While a thread highlights a block, tree-sitter's memory comes
// from a region of the thread's own, emptied whole when the block is done:
// a pointer bump per record, and the tree is dropped with the region
// instead of freed node by node. What tree-sitter makes outside a block
// (the shared queries) is malloc's, and so is what a block needs beyond
// the region: such a block is then freed the ordinary way. The parser and
// the cursor are made per block, so nothing of a region outlives it. The
// grammars' scanners are built to allocate through the same functions
// (TREE_SITTER_REUSE_ALLOCATOR), so their arrays live in the region too.
static constexpr u64 ts_region_reserve = MiB(64);
static constexpr u64 ts_region_commit_step = MiB(1);
static constexpr u64 ts_region_keep = MiB(4);   // pages kept between blocks

struct TsRegion {
    u8 *base;
    u64 committed;
    u64 used;
    u64 last;       // offset of the latest record, which may grow in place
    u64 peak;       // the block's highest use
    u64 limit;      // 0: the whole reserve
    bool active;
    bool spilled;   // some of this block's memory came from malloc
};

static thread_local TsRegion ts_region;

// Before every record: its size, for a copy when it grows.
struct alignas(16) TsRecord {
    u64 size;
    u64 unused;
};

static constexpr u64 ts_region_none = ~0ull;

static bool ts_region_owns(const void *p)
{
    const TsRegion *r = &ts_region;
    return r->base && (const u8 *)p >= r->base && (const u8 *)p < r->base + ts_region_reserve;
}

// Makes [0, end) of the region usable; false when it does not fit.
static bool ts_region_reach(TsRegion *r, u64 end)
{
    if (end > ts_region_reserve || (r->limit && end > r->limit)) return false;
    if (end > r->peak) r->peak = end;
    if (end > r->committed) {
        u64 to = min_of(align_up_pow2(end, ts_region_commit_step), ts_region_reserve);
        os_memory_commit(r->base + r->committed, to - r->committed);
        r->committed = to;
    }
    return true;
}

// Where a record of `size` bytes that starts at `at` ends: its header, and
// its bytes rounded up so the next record stays aligned.
static u64 ts_record_end(u64 at, u64 size) { return at + sizeof(TsRecord) + align_up_pow2(size, 16); }

static void *ts_region_take(u64 size)
{
    TsRegion *r = &ts_region;
    if (!r->active || size > ts_region_reserve) return nullptr;
    u64 at = r->used;
    if (!ts_region_reach(r, ts_record_end(at, size))) return nullptr;
    TsRecord *record = (TsRecord *)(r->base + at);
    record->size = size;
    r->last = at;
    r->used = ts_record_end(at, size);
    return record + 1;
}

static void *ts_region_malloc(size_t size)
{
    if (void *p = ts_region_take(size)) return p;
    if (ts_region.active) ts_region.spilled = true;
    return malloc(size);
}

static void *ts_region_calloc(size_t count, size_t size)
{
    if (size && count > ~(size_t)0 / size) return nullptr;
    if (void *p = ts_region_take(count * size)) return memset(p, 0, count * size);
    if (ts_region.active) ts_region.spilled = true;
    return calloc(count, size);
}

static void *ts_region_realloc(void *p, size_t size)
{
    if (!p) return ts_region_malloc(size);
    if (!ts_region_owns(p)) return realloc(p, size);
    TsRegion *r = &ts_region;
    TsRecord *record = (TsRecord *)p - 1;
    u64 at = (u64)((u8 *)record - r->base);
    // Arrays that double are most often the latest record.
    if (at == r->last && size <= ts_region_reserve && ts_region_reach(r, ts_record_end(at, size))) {
        record->size = size;
        r->used = ts_record_end(at, size);
        return p;
    }
    void *grown = ts_region_malloc(size);
    if (grown) memcpy(grown, p, min_of<u64>(record->size, size));
    return grown;
}

static void ts_region_free(void *p)
{
    if (!p) return;
    if (!ts_region_owns(p)) {
        free(p);
        return;
    }
    TsRegion *r = &ts_region;
    u64 at = (u64)((u8 *)p - sizeof(TsRecord) - r->base);
    if (at == r->last) {
        r->used = at;
        r->last = ts_region_none;
    }
}

// Installed before tree-sitter's first allocation (the first query).
static void ts_region_install(void)
{
    ts_set_allocator(ts_region_malloc, ts_region_calloc, ts_region_realloc, ts_region_free);
}

// Whether the block can drop its tree with the region.
static bool ts_region_begin(void)
{
    TsRegion *r = &ts_region;
    if (!r->base) {
        r->base = (u8 *)os_memory_reserve(ts_region_reserve);
        if (!r->base) return false;
    }
    r->used = 0;
    r->last = ts_region_none;
    r->spilled = false;
    r->active = true;
    return true;
}

static void ts_region_end(void)
{
    TsRegion *r = &ts_region;
    if (!r->active) return;
    r->active = false;
    r->used = 0;
    r->last = ts_region_none;
    // A large block's pages go back; a small one's stay for the next.
    if (r->peak > ts_region_keep) os_memory_reset(r->base + ts_region_keep, r->peak - ts_region_keep);
    r->peak = 0;
}

void highlight_memory_limit(u64 bytes)
{
    ts_region.limit = bytes == highlight_memory_default ? 0 : max_of<u64>(bytes, 1);
}

static TSParser *block_parser(u32 language)
{
    TSParser *parser = ts_parser_new();
    if (!parser) return nullptr;
    if (!ts_parser_set_language(parser, highlight_grammar_table[language - 1].language())) {
        ts_parser_delete(parser);
        return nullptr;
    }
    return parser;
}

//- classes

// Colours for the block's background (#e7e1dc): each keeps a contrast of at
// least 4.5 to it, so none reads as faint.
const HighlightClassInfo highlight_class_table[HighlightClass_Count] = {
    {HighlightClass_None, str_lit(""), str_lit("")},
    {HighlightClass_Keyword, str_lit("h-k"), str_lit("color:#8a1f5a;")},
    {HighlightClass_String, str_lit("h-s"), str_lit("color:#2e6b1e;")},
    {HighlightClass_Comment, str_lit("h-c"), str_lit("color:#6a5f55;")},
    {HighlightClass_Function, str_lit("h-f"), str_lit("color:#1f4f99;")},
    {HighlightClass_Type, str_lit("h-t"), str_lit("color:#8a4a00;")},
    {HighlightClass_Constant, str_lit("h-n"), str_lit("color:#a12a12;")},
    {HighlightClass_Property, str_lit("h-p"), str_lit("color:#2b5f6b;")},
    {HighlightClass_Tag, str_lit("h-m"), str_lit("color:#7d1d1d;")},
    {HighlightClass_Builtin, str_lit("h-b"), str_lit("color:#6b3a9e;")},
};

struct CaptureClass {
    Str name;
    u32 cls;
};

// Capture names of the grammars' queries, by their dotted prefixes. CSS
// at-rules have capture names of their own; they read as keywords.
static const CaptureClass capture_class_table[] = {
    {str_lit("keyword"), HighlightClass_Keyword},
    {str_lit("import"), HighlightClass_Keyword},
    {str_lit("media"), HighlightClass_Keyword},
    {str_lit("charset"), HighlightClass_Keyword},
    {str_lit("keyframes"), HighlightClass_Keyword},
    {str_lit("namespace"), HighlightClass_Keyword},
    {str_lit("supports"), HighlightClass_Keyword},
    {str_lit("string"), HighlightClass_String},
    {str_lit("string.special.key"), HighlightClass_Property},
    {str_lit("escape"), HighlightClass_String},
    {str_lit("comment"), HighlightClass_Comment},
    {str_lit("function"), HighlightClass_Function},
    {str_lit("constructor"), HighlightClass_Type},
    {str_lit("type"), HighlightClass_Type},
    {str_lit("number"), HighlightClass_Constant},
    {str_lit("constant"), HighlightClass_Constant},
    {str_lit("property"), HighlightClass_Property},
    {str_lit("attribute"), HighlightClass_Property},
    {str_lit("label"), HighlightClass_Property},
    {str_lit("tag"), HighlightClass_Tag},
    {str_lit("variable.builtin"), HighlightClass_Builtin},
    // Plain text, painted over what they stand in: the code inside a
    // string's interpolation is code again.
    {str_lit("variable"), HighlightClass_None},
    {str_lit("operator"), HighlightClass_None},
    {str_lit("punctuation"), HighlightClass_None},
    {str_lit("delimiter"), HighlightClass_None},
    {str_lit("embedded"), HighlightClass_None},
};

u32 highlight_class_from_capture(Str name)
{
    for (;;) {
        for (const CaptureClass &row : capture_class_table)
            if (str_eq(row.name, name)) return row.cls;
        u64 dot = str_find(name, str_lit("."), 0, StrMatch_FindLast);
        if (dot >= name.size) return highlight_class_unknown;
        name = str_prefix(name, dot);
    }
}

//- the regular expressions of #match?
//
// The queries test names with small regular expressions: anchors, classes,
// groups of alternatives, and *, + and ? after a class or a character (?
// after a group too). That is what is compiled; anything else makes the
// pattern that uses it never apply. Matching backtracks only over the
// repeats of one class at a time, and a pattern anchored at the start is
// tried at the start only.

enum RegexKind : u8 {
    Regex_Set = 1,
    Regex_Group,
    Regex_Begin,
    Regex_End,
};

struct RegexSeq;

struct RegexItem {
    u8 kind;
    u8 min;         // 0 or 1
    u8 unbounded;   // 1: as many as match; 0: at most one
    u8 set[32];     // Regex_Set: the bytes it takes
    RegexSeq *alts; // Regex_Group: its alternatives
    u32 alt_count;
};

struct RegexSeq {
    RegexItem *items;
    u32 count;
};

struct Regex {
    RegexSeq *alts;
    u32 alt_count;
    b32 anchored;   // every alternative starts with "^"
};

struct RegexParse {
    Arena *arena;
    Str pattern;
    u64 at;
    u32 depth;
    b32 failed;
};

static void set_add(u8 *set, u8 c) { set[c >> 3] |= (u8)(1u << (c & 7)); }
static bool set_has(const u8 *set, u8 c) { return (set[c >> 3] >> (c & 7)) & 1; }

static void set_add_class(u8 *set, u8 letter)
{
    u8 lower = char_to_lower(letter);
    u8 one[32] = {};
    for (u32 c = 0; c < 256; c += 1) {
        bool in = lower == 'd' ? char_is_digit((u8)c)
                : lower == 'w' ? char_is_alpha((u8)c) || char_is_digit((u8)c) || c == '_'
                               : char_is_space((u8)c);
        if (in) set_add(one, (u8)c);
    }
    bool negated = char_is_upper(letter);
    for (u32 i = 0; i < 32; i += 1) set[i] |= negated ? (u8)~one[i] : one[i];
}

static bool escape_is_class(u8 c) { return c == 'd' || c == 'w' || c == 's' || c == 'D' || c == 'W' || c == 'S'; }

static u8 escape_byte(u8 c)
{
    switch (c) {
    case 'n': return '\n';
    case 't': return '\t';
    case 'r': return '\r';
    default: return c;
    }
}

static RegexSeq *regex_alternatives(RegexParse *p, u32 *count);

static bool regex_bracket(RegexParse *p, u8 *set)
{
    Str s = p->pattern;
    bool negated = p->at < s.size && s.str[p->at] == '^';
    if (negated) p->at += 1;
    u8 inside[32] = {};
    bool first = true;
    while (p->at < s.size && (s.str[p->at] != ']' || first)) {
        first = false;
        u8 c = (u8)s.str[p->at++];
        if (c == '\\' && p->at < s.size) {
            u8 e = (u8)s.str[p->at++];
            if (escape_is_class(e)) {
                set_add_class(inside, e);
                continue;
            }
            c = escape_byte(e);
        }
        if (p->at + 1 < s.size && s.str[p->at] == '-' && s.str[p->at + 1] != ']') {
            u8 last = (u8)s.str[p->at + 1];
            p->at += 2;
            if (last == '\\') return false;
            for (u32 x = c; x <= last; x += 1) set_add(inside, (u8)x);
            continue;
        }
        set_add(inside, c);
    }
    if (p->at >= s.size) return false;
    p->at += 1;
    for (u32 i = 0; i < 32; i += 1) set[i] = negated ? (u8)~inside[i] : inside[i];
    return true;
}

static RegexSeq regex_sequence(RegexParse *p)
{
    RegexItem items[96];
    u32 count = 0;
    Str s = p->pattern;
    while (p->at < s.size && s.str[p->at] != '|' && s.str[p->at] != ')' && !p->failed) {
        if (count == array_count(items)) {
            p->failed = true;
            break;
        }
        RegexItem item = {};
        item.min = 1;
        u8 c = (u8)s.str[p->at++];
        if (c == '^') {
            item.kind = Regex_Begin;
        } else if (c == '$') {
            item.kind = Regex_End;
        } else if (c == '(') {
            if (p->at + 1 < s.size && s.str[p->at] == '?' && s.str[p->at + 1] == ':') p->at += 2;
            if (p->depth == 8) {
                p->failed = true;
                break;
            }
            p->depth += 1;
            item.kind = Regex_Group;
            item.alts = regex_alternatives(p, &item.alt_count);
            p->depth -= 1;
            if (p->at >= s.size || s.str[p->at] != ')') p->failed = true;
            p->at += 1;
        } else if (c == '[') {
            item.kind = Regex_Set;
            if (!regex_bracket(p, item.set)) p->failed = true;
        } else if (c == '.') {
            item.kind = Regex_Set;
            memset(item.set, 0xff, sizeof item.set);
            item.set['\n' >> 3] &= (u8)~(1u << ('\n' & 7));
        } else if (c == '*' || c == '+' || c == '?' || c == '{') {
            p->failed = true;   // a repeat of nothing, or a count
            break;
        } else {
            item.kind = Regex_Set;
            if (c == '\\' && p->at < s.size) {
                u8 e = (u8)s.str[p->at++];
                if (escape_is_class(e)) set_add_class(item.set, e);
                else set_add(item.set, escape_byte(e));
            } else {
                set_add(item.set, c);
            }
        }
        if (p->at < s.size && (item.kind == Regex_Set || item.kind == Regex_Group)) {
            char q = s.str[p->at];
            if (q == '*' || q == '+' || q == '?') {
                p->at += 1;
                item.min = q == '+' ? 1 : 0;
                item.unbounded = q != '?';
                // A repeated group would need backtracking into each repeat.
                if (item.kind == Regex_Group && item.unbounded) p->failed = true;
                if (p->at < s.size && (s.str[p->at] == '?' || s.str[p->at] == '{')) p->failed = true;
            } else if (q == '{') {
                p->failed = true;
            }
        }
        items[count++] = item;
    }
    RegexSeq seq = {push_array_no_zero<RegexItem>(p->arena, count ? count : 1), count};
    if (!seq.items) p->failed = true;
    else if (count) memcpy(seq.items, items, sizeof(RegexItem) * count);
    return seq;
}

static RegexSeq *regex_alternatives(RegexParse *p, u32 *count)
{
    RegexSeq alts[256];
    u32 n = 0;
    for (;;) {
        if (n == array_count(alts)) {
            p->failed = true;
            break;
        }
        alts[n++] = regex_sequence(p);
        if (p->failed || p->at >= p->pattern.size || p->pattern.str[p->at] != '|') break;
        p->at += 1;
    }
    RegexSeq *out = push_array_no_zero<RegexSeq>(p->arena, n);
    if (!out) {
        p->failed = true;
        n = 0;
    } else {
        memcpy(out, alts, sizeof(RegexSeq) * n);
    }
    *count = n;
    return out;
}

// The compiled pattern on `arena`, or null when it uses what is not
// compiled.
static Regex *regex_compile(Arena *arena, Str pattern)
{
    RegexParse p = {arena, pattern, 0, 0, 0};
    Regex *regex = push_struct<Regex>(arena);
    if (!regex) return nullptr;
    regex->alts = regex_alternatives(&p, &regex->alt_count);
    if (p.failed || p.at != pattern.size) return nullptr;
    regex->anchored = regex->alt_count > 0;
    for (u32 i = 0; i < regex->alt_count; i += 1) {
        const RegexSeq *alt = &regex->alts[i];
        if (alt->count == 0 || alt->items[0].kind != Regex_Begin) regex->anchored = 0;
    }
    return regex;
}

struct RegexCont {
    const RegexSeq *seq;
    u32 index;
    const RegexCont *next;
};

static bool regex_at(const RegexSeq *seq, u32 index, Str s, u64 pos, const RegexCont *k)
{
    if (index == seq->count) return k ? regex_at(k->seq, k->index, s, pos, k->next) : true;
    const RegexItem *item = &seq->items[index];
    switch (item->kind) {
    case Regex_Begin: return pos == 0 && regex_at(seq, index + 1, s, pos, k);
    case Regex_End: return pos == s.size && regex_at(seq, index + 1, s, pos, k);
    case Regex_Set: {
        u64 most = item->unbounded ? s.size - pos : min_of<u64>(1, s.size - pos);
        u64 n = 0;
        while (n < most && set_has(item->set, (u8)s.str[pos + n])) n += 1;
        // Greedy: the longest run first, then shorter ones.
        for (u64 c = n + 1; c-- > item->min;)
            if (regex_at(seq, index + 1, s, pos + c, k)) return true;
        return false;
    }
    case Regex_Group: {
        RegexCont after = {seq, index + 1, k};
        for (u32 a = 0; a < item->alt_count; a += 1)
            if (regex_at(&item->alts[a], 0, s, pos, &after)) return true;
        return item->min == 0 && regex_at(seq, index + 1, s, pos, k);
    }
    }
    return false;
}

// Whether `regex` matches anywhere in `s`, as #match? asks.
static bool regex_search(const Regex *regex, Str s)
{
    // An unanchored search backtracks at every start: long texts (a whole
    // comment) are not worth that for a name test.
    u64 last = regex->anchored ? 0 : min_of<u64>(s.size, KiB(4));
    for (u64 start = 0; start <= last; start += 1)
        for (u32 a = 0; a < regex->alt_count; a += 1)
            if (regex_at(&regex->alts[a], 0, s, start, nullptr)) return true;
    return false;
}

//- queries

enum PredicateOp : u32 {
    PredicateOp_Eq = 1,
    PredicateOp_Match,
    PredicateOp_AnyOf,
};

struct HighlightPredicate {
    u32 op;
    b32 negate;
    u32 capture;         // whose text is tested
    u32 other_capture;   // eq? against another capture; ~0u: against `strings`
    Str *strings;        // eq?: one, any-of?: several
    u32 string_count;
    Regex *regex;        // match?
};

// Patterns that name one node type alone and differ only in their capture
// and the tests of its text ("(identifier) @variable" and "((identifier)
// @constant (#match? ...))"): the runtime runs the first of them, and each
// of its matches is tested here against the others, which are disabled.
// The query cursor's cost grows with the patterns it has in flight, and
// the grammars name every identifier two or three times over this way.
struct PatternTwins {
    u32 *patterns;
    u32 *captures;   // each twin's one capture
    u32 count;
};

struct PatternPredicates {
    HighlightPredicate *predicates;
    u32 count;
    b32 never;   // a predicate that could not be compiled: the pattern never applies
};

// One language's query, built at its first block and read by every thread.
struct HighlightQuery {
    TSQuery *query;            // null: the language cannot be highlighted
    u32 *capture_class;        // by capture id: HighlightClass or highlight_class_unknown
    PatternPredicates *patterns;
    u32 *precedence;           // by pattern: which of two captures of one node shows
    u32 pattern_count;
    PatternTwins *twins;       // by pattern: the patterns matched through it
};

// The grammars disagree on which of two patterns that capture the same
// node should show: C's, Python's and JavaScript's queries name every
// identifier a variable first and refine after, Go's and JSON's refine
// first and fall back to the general pattern last. What they agree on is
// that a pattern naming more than the node itself (its parent, a field, a
// test of its text) is the refinement. So the refinement shows, and of two
// alike the later one. A pattern names more than its node when its
// parentheses nest; strings and comments in its text are skipped.
static bool pattern_is_specific(Str text)
{
    u32 depth = 0, deepest = 0;
    for (u64 i = 0; i < text.size; i += 1) {
        char c = text.str[i];
        if (c == '"') {
            for (i += 1; i < text.size && text.str[i] != '"'; i += 1)
                if (text.str[i] == '\\') i += 1;
        } else if (c == ';') {
            while (i < text.size && text.str[i] != '\n') i += 1;
        } else if (c == '(') {
            depth += 1;
            deepest = max_of(deepest, depth);
        } else if (c == ')' && depth) {
            depth -= 1;
        }
    }
    return deepest >= 2;
}

static Str query_string(const TSQuery *query, u32 id)
{
    u32 length = 0;
    const char *text = ts_query_string_value_for_id(query, id, &length);
    return Str{text ? text : "", text ? length : 0};
}

static void compile_predicates(Arena *arena, const TSQuery *query, u32 pattern, PatternPredicates *out)
{
    u32 step_count = 0;
    const TSQueryPredicateStep *steps = ts_query_predicates_for_pattern(query, pattern, &step_count);
    u32 total = 0;
    for (u32 i = 0; i < step_count; i += 1) total += steps[i].type == TSQueryPredicateStepTypeDone;
    out->predicates = push_array<HighlightPredicate>(arena, total ? total : 1);
    if (!out->predicates) {
        out->never = 1;
        return;
    }
    u32 at = 0;
    while (at < step_count) {
        u32 end = at;
        while (end < step_count && steps[end].type != TSQueryPredicateStepTypeDone) end += 1;
        const TSQueryPredicateStep *p = steps + at;
        u32 argc = end - at;
        at = end + 1;
        if (argc == 0 || p[0].type != TSQueryPredicateStepTypeString) continue;
        Str name = query_string(query, p[0].value_id);
        HighlightPredicate pred = {};
        pred.other_capture = ~0u;
        bool negate = str_match(str_lit("not-"), name, StrMatch_Prefix);
        Str op = negate ? str_skip(name, 4) : name;
        pred.negate = negate;
        if (str_eq(op, str_lit("eq?"))) pred.op = PredicateOp_Eq;
        else if (str_eq(op, str_lit("match?"))) pred.op = PredicateOp_Match;
        else if (str_eq(op, str_lit("any-of?"))) pred.op = PredicateOp_AnyOf;
        else continue;   // is?, is-not?, set!: about scopes and settings, not text
        if (argc < 3 || p[1].type != TSQueryPredicateStepTypeCapture) {
            out->never = 1;
            continue;
        }
        pred.capture = p[1].value_id;
        if (pred.op == PredicateOp_Eq && p[2].type == TSQueryPredicateStepTypeCapture) {
            pred.other_capture = p[2].value_id;
        } else {
            pred.string_count = argc - 2;
            pred.strings = push_array<Str>(arena, pred.string_count);
            if (!pred.strings) {
                out->never = 1;
                continue;
            }
            for (u32 i = 0; i < pred.string_count; i += 1) {
                if (p[2 + i].type != TSQueryPredicateStepTypeString) out->never = 1;
                else pred.strings[i] = query_string(query, p[2 + i].value_id);
            }
            if (pred.op == PredicateOp_Match) {
                pred.regex = regex_compile(arena, pred.strings[0]);
                if (!pred.regex) out->never = 1;
            }
        }
        out->predicates[out->count++] = pred;
    }
}

// A pattern's one node type, when the pattern is a node type alone with
// one capture (and any tests of its text): "(identifier) @constant" and
// "((identifier) @constant (#match? @constant ...))" give "identifier"
// and "constant". Empty for any other pattern.
struct PatternShape {
    Str node;
    Str capture;
};

static PatternShape pattern_shape(Str text)
{
    PatternShape shape = {};
    u32 depth = 0, nodes = 0, captures = 0;
    for (u64 i = 0; i < text.size; i += 1) {
        char c = text.str[i];
        if (c == ';') {
            while (i < text.size && text.str[i] != '\n') i += 1;
        } else if (c == '(' && i + 1 < text.size && text.str[i + 1] == '#') {
            // A predicate: skipped whole, strings and all.
            u32 inner = 0;
            for (; i < text.size; i += 1) {
                if (text.str[i] == '"') {
                    for (i += 1; i < text.size && text.str[i] != '"'; i += 1)
                        if (text.str[i] == '\\') i += 1;
                } else if (text.str[i] == '(') {
                    inner += 1;
                } else if (text.str[i] == ')' && --inner == 0) {
                    break;
                }
            }
        } else if (c == '(') {
            depth += 1;
            u64 name = i + 1;
            while (name < text.size && char_is_space(text.str[name])) name += 1;
            u64 end = name;
            while (end < text.size && (char_is_alpha(text.str[end]) || char_is_digit(text.str[end]) || text.str[end] == '_'))
                end += 1;
            if (end > name) {
                nodes += 1;
                shape.node = str_substr(text, name, end);
                i = end - 1;
            }
        } else if (c == ')') {
            if (depth == 0) return {};
            depth -= 1;
        } else if (c == '@') {
            u64 end = i + 1;
            while (end < text.size && (char_is_alpha(text.str[end]) || char_is_digit(text.str[end]) ||
                                       text.str[end] == '_' || text.str[end] == '.' || text.str[end] == '-'))
                end += 1;
            captures += 1;
            shape.capture = str_substr(text, i + 1, end);
            i = end - 1;
        } else if (!char_is_space(c)) {
            return {};   // a string, a field, a wildcard, a quantifier, an anchor, an alternation
        }
    }
    if (depth != 0 || nodes != 1 || captures != 1 || str_eq(shape.node, str_lit("_")) || shape.capture.size == 0)
        return {};
    return shape;
}

static u32 capture_id(const TSQuery *query, Str name)
{
    for (u32 id = 0; id < ts_query_capture_count(query); id += 1) {
        u32 length = 0;
        const char *text = ts_query_capture_name_for_id(query, id, &length);
        if (str_eq(Str{text, length}, name)) return id;
    }
    return ~0u;
}

// Finds the twins among `shapes` and disables all but the first of each
// set; a twin whose tests name another capture stays a pattern of its own.
static bool query_twins(Arena *arena, HighlightQuery *hq, const PatternShape *shapes, u32 patterns)
{
    hq->twins = push_array<PatternTwins>(arena, patterns ? patterns : 1);
    if (!hq->twins) return false;
    for (u32 j = 0; j < patterns; j += 1) {
        if (shapes[j].node.size == 0) continue;
        u32 capture = capture_id(hq->query, shapes[j].capture);
        if (capture == ~0u) continue;
        const PatternPredicates *pp = &hq->patterns[j];
        bool own = true;
        for (u32 k = 0; k < pp->count; k += 1)
            own = own && pp->predicates[k].capture == capture && pp->predicates[k].other_capture == ~0u;
        if (!own) continue;
        u32 base = 0;
        while (base < j && !(str_eq(shapes[base].node, shapes[j].node) && hq->twins[base].patterns != nullptr)) base += 1;
        PatternTwins *t = &hq->twins[base < j ? base : j];
        if (base == j) {
            // The first of its kind: the base of any twins that follow.
            t->patterns = push_array<u32>(arena, patterns);
            t->captures = push_array<u32>(arena, patterns);
            if (!t->patterns || !t->captures) return false;
            continue;
        }
        t->patterns[t->count] = j;
        t->captures[t->count] = capture;
        t->count += 1;
        ts_query_disable_pattern(hq->query, j);
    }
    return true;
}

static HighlightQuery *query_build(Arena *arena, u32 language)
{
    HighlightQuery *hq = push_struct<HighlightQuery>(arena);
    if (!hq) return nullptr;
    const HighlightGrammar *grammar = &highlight_grammar_table[language - 1];
    const TSLanguage *ts_language = grammar->language();
    u32 version = ts_language ? ts_language_version(ts_language) : 0;
    if (version < TREE_SITTER_MIN_COMPATIBLE_LANGUAGE_VERSION || version > TREE_SITTER_LANGUAGE_VERSION) return hq;
    u32 error_offset = 0;
    TSQueryError error = TSQueryErrorNone;
    TSQuery *query = ts_query_new(ts_language, grammar->query, (u32)strlen(grammar->query), &error_offset, &error);
    if (!query) return hq;
    u32 captures = ts_query_capture_count(query);
    u32 patterns = ts_query_pattern_count(query);
    hq->capture_class = push_array<u32>(arena, captures ? captures : 1);
    hq->patterns = push_array<PatternPredicates>(arena, patterns ? patterns : 1);
    if (!hq->capture_class || !hq->patterns) {
        ts_query_delete(query);
        return hq;
    }
    for (u32 i = 0; i < captures; i += 1) {
        u32 length = 0;
        const char *name = ts_query_capture_name_for_id(query, i, &length);
        hq->capture_class[i] = highlight_class_from_capture(Str{name, length});
    }
    for (u32 i = 0; i < patterns; i += 1) compile_predicates(arena, query, i, &hq->patterns[i]);
    hq->precedence = push_array<u32>(arena, patterns ? patterns : 1);
    if (!hq->precedence) {
        ts_query_delete(query);
        return hq;
    }
    Str source = Str{grammar->query, (u64)strlen(grammar->query)};
    PatternShape *shapes = push_array<PatternShape>(arena, patterns ? patterns : 1);
    if (!shapes) {
        ts_query_delete(query);
        return hq;
    }
    for (u32 i = 0; i < patterns; i += 1) {
        u32 begin = ts_query_start_byte_for_pattern(query, i);
        u32 end = (u32)source.size;
        for (u32 next = i + 1; next < patterns; next += 1) {
            u32 at = ts_query_start_byte_for_pattern(query, next);
            if (at > begin) {
                end = at;
                break;
            }
        }
        bool specific = pattern_is_specific(str_substr(source, begin, end));
        hq->precedence[i] = (specific ? 1u << 24 : 0) | i;
        // Patterns that share their first byte are the alternatives of one
        // text: none is a node type alone.
        if (end > begin && !(i > 0 && ts_query_start_byte_for_pattern(query, i - 1) == begin) &&
            !(i + 1 < patterns && ts_query_start_byte_for_pattern(query, i + 1) == begin))
            shapes[i] = pattern_shape(str_substr(source, begin, end));
    }
    hq->query = query;
    if (!query_twins(arena, hq, shapes, patterns)) {
        hq->query = nullptr;
        ts_query_delete(query);
        return hq;
    }
    hq->pattern_count = patterns;
    return hq;
}

// Built once per language under one lock; the slots are read without it.
static std::atomic<HighlightQuery *> query_slots[highlight_language_limit];

static HighlightQuery *query_for(u32 language)
{
    HighlightQuery *hq = query_slots[language - 1].load(std::memory_order_acquire);
    if (hq) return hq;
    static CriticalSection *lock = cs_alloc();
    // Lives as long as the process: queries are shared by every thread.
    static Arena *arena = nullptr;
    cs_enter(lock);
    hq = query_slots[language - 1].load(std::memory_order_acquire);
    if (!hq) {
        if (!arena) {
            ts_region_install();
            arena = arena_alloc(MiB(1), KiB(64));
        }
        if (arena) hq = query_build(arena, language);
        if (hq) query_slots[language - 1].store(hq, std::memory_order_release);
    }
    cs_leave(lock);
    return hq;
}

HighlightQueryInfo highlight_query_info(u32 language)
{
    HighlightQueryInfo info = {};
    HighlightQuery *hq = grammar_name(language).size ? query_for(language) : nullptr;
    if (!hq || !hq->query) return info;
    info.loaded = 1;
    info.pattern_count = hq->pattern_count;
    for (u32 i = 0; i < hq->pattern_count; i += 1) {
        info.patterns_never += hq->patterns[i].never != 0;
        info.patterns_twinned += hq->twins[i].count;
    }
    return info;
}

//- per-thread parsers

// The blocks a thread highlighted last, with their HTML: the desktop and
// the smartphone page of a document are built one after the other on one
// worker, and the second finds every block of the first here instead of
// parsing it again. Entries live on the thread's own arena, which is
// emptied whole when its slots or its budget run out.
static constexpr u32 highlight_memo_slots = 64;
static constexpr u64 highlight_memo_budget = MiB(2);

struct HighlightMemoEntry {
    u64 hash;
    u32 language;
    Str text;
    Str html;
};

struct HighlightMemo {
    Arena *arena;   // made at the thread's first block, kept for its life
    u32 count;
    HighlightMemoEntry entries[highlight_memo_slots];
};

// Each thread's latest blocks, kept for its life: the workers that
// highlight live as long as the process. The record stays trivial, so
// nothing runs at thread exit (mingw-w64 runs thread_local destructors
// after winpthreads has torn the thread down).
struct HighlightThread {
    HighlightMemo memo;   // its arena is never released
};

static thread_local HighlightThread highlight_thread;

//- captures

static Str node_text(Str text, TSNode node)
{
    u32 begin = ts_node_start_byte(node), end = ts_node_end_byte(node);
    if (end > text.size) end = (u32)text.size;
    if (begin > end) begin = end;
    return str_substr(text, begin, end);
}

static Str capture_text(const TSQueryMatch *match, u32 capture, Str text, bool *found)
{
    for (u16 i = 0; i < match->capture_count; i += 1)
        if (match->captures[i].index == capture) {
            *found = true;
            return node_text(text, match->captures[i].node);
        }
    *found = false;
    return str_empty();
}

static bool predicates_hold(const HighlightQuery *hq, const TSQueryMatch *match, Str text)
{
    const PatternPredicates *pp = &hq->patterns[match->pattern_index];
    if (pp->never) return false;
    for (u32 i = 0; i < pp->count; i += 1) {
        const HighlightPredicate *pred = &pp->predicates[i];
        bool found = false;
        Str subject = capture_text(match, pred->capture, text, &found);
        if (!found) continue;   // a quantified capture that matched nothing
        bool holds = false;
        if (pred->op == PredicateOp_Eq && pred->other_capture != ~0u) {
            bool other_found = false;
            Str other = capture_text(match, pred->other_capture, text, &other_found);
            holds = other_found && str_eq(subject, other);
        } else if (pred->op == PredicateOp_Match) {
            holds = regex_search(pred->regex, subject);
        } else {
            for (u32 s = 0; s < pred->string_count && !holds; s += 1) holds = str_eq(subject, pred->strings[s]);
        }
        if (holds == (bool)pred->negate) return false;
    }
    return true;
}

struct Capture {
    u32 begin;
    u32 end;
    u32 precedence;   // of its pattern
    u32 cls;
};

// Outer captures first; of captures of one range, the one that shows last.
static bool capture_before(const Capture &a, const Capture &b)
{
    if (a.begin != b.begin) return a.begin < b.begin;
    if (a.end != b.end) return a.end > b.end;
    return a.precedence < b.precedence;
}

// Adds the match's captures that paint something; false when out of memory.
static bool capture_add(const HighlightQuery *hq, const TSQueryMatch *match, Str text, Capture **captures, u64 *count,
                        u64 *capacity, Arena *arena)
{
    for (u16 m = 0; m < match->capture_count; m += 1) {
        const TSQueryCapture *capture = &match->captures[m];
        u32 cls = hq->capture_class[capture->index];
        if (cls == highlight_class_unknown) continue;
        u32 begin = ts_node_start_byte(capture->node), end = ts_node_end_byte(capture->node);
        if (end > text.size) end = (u32)text.size;
        if (end <= begin) continue;
        if (*count == *capacity) {
            Capture *grown = push_array_no_zero<Capture>(arena, *capacity * 2);
            if (!grown) return false;
            memcpy(grown, *captures, sizeof(Capture) * *count);
            *captures = grown;
            *capacity *= 2;
        }
        (*captures)[(*count)++] = {begin, end, hq->precedence[match->pattern_index], cls};
    }
    return true;
}

struct SpanOut {
    HighlightSpan *spans;
    u64 count;
};

static void span_emit(SpanOut *out, u32 begin, u32 end, u32 cls)
{
    if (end <= begin || cls == HighlightClass_None) return;
    if (out->count && out->spans[out->count - 1].end == begin && out->spans[out->count - 1].cls == cls) {
        out->spans[out->count - 1].end = end;
        return;
    }
    out->spans[out->count++] = {begin, end, cls};
}

struct OpenCapture {
    u32 end;
    u32 cls;
};

bool highlight_spans(Arena *arena, u32 language, Str text, HighlightSpans *out)
{
    *out = {};
    if (grammar_name(language).size == 0 || text.size == 0 || text.size > highlight_max_bytes) return false;
    HighlightQuery *hq = query_for(language);
    if (!hq || !hq->query) return false;
    bool region = ts_region_begin();
    TSParser *parser = block_parser(language);
    TSQueryCursor *cursor = parser ? ts_query_cursor_new() : nullptr;
    TSTree *tree = cursor ? ts_parser_parse_string(parser, nullptr, text.str, (u32)text.size) : nullptr;
    if (!tree) {
        if (cursor) ts_query_cursor_delete(cursor);
        if (parser) ts_parser_delete(parser);
        ts_region_end();
        return false;
    }

    ArenaTemp scratch = scratch_begin(arena);
    u64 capacity = 256, count = 0;
    Capture *captures = push_array_no_zero<Capture>(scratch.arena, capacity);
    bool ok = captures != nullptr;
    ts_query_cursor_exec(cursor, hq->query, ts_tree_root_node(tree));
    // Matches, not captures in order: the captures are sorted below anyway,
    // and asking for them in order makes the cursor hold every match in
    // flight until nothing earlier can come.
    TSQueryMatch match;
    while (ok && ts_query_cursor_next_match(cursor, &match)) {
        const PatternTwins *twins = &hq->twins[match.pattern_index];
        for (u32 t = 0; t < twins->count && match.capture_count == 1; t += 1) {
            TSQueryCapture twin_capture = {match.captures[0].node, twins->captures[t]};
            TSQueryMatch twin = {match.id, (u16)twins->patterns[t], 1, &twin_capture};
            if (!predicates_hold(hq, &twin, text)) continue;
            ok = capture_add(hq, &twin, text, &captures, &count, &capacity, scratch.arena);
        }
        if (ok && predicates_hold(hq, &match, text))
            ok = capture_add(hq, &match, text, &captures, &count, &capacity, scratch.arena);
    }
    // A tree wholly in the region goes with it; the parser and the cursor
    // are still deleted, since some grammars' scanners (Python's, Bash's)
    // make their own record with malloc.
    if (!region || ts_region.spilled) ts_tree_delete(tree);
    ts_query_cursor_delete(cursor);
    ts_parser_delete(parser);
    ts_region_end();

    if (ok) {
        std::sort(captures, captures + count, [](const Capture &a, const Capture &b) { return capture_before(a, b); });
        // Spans never outnumber the captures' edges.
        SpanOut spans = {push_array_no_zero<HighlightSpan>(arena, 2 * count + 1), 0};
        OpenCapture *stack = push_array_no_zero<OpenCapture>(scratch.arena, count + 1);
        ok = spans.spans && stack;
        u64 depth = 0;
        u32 pos = 0;
        for (u64 i = 0; ok && i < count; i += 1) {
            const Capture *c = &captures[i];
            while (depth && stack[depth - 1].end <= c->begin) {
                span_emit(&spans, pos, stack[depth - 1].end, stack[depth - 1].cls);
                pos = max_of(pos, stack[depth - 1].end);
                depth -= 1;
            }
            if (depth) span_emit(&spans, pos, c->begin, stack[depth - 1].cls);
            pos = max_of(pos, c->begin);
            // Nodes nest; a capture that reaches past its enclosing one is
            // cut at that one's end.
            u32 end = depth ? min_of(c->end, stack[depth - 1].end) : c->end;
            if (end <= pos) continue;
            stack[depth++] = {end, c->cls};
        }
        while (ok && depth) {
            span_emit(&spans, pos, stack[depth - 1].end, stack[depth - 1].cls);
            pos = max_of(pos, stack[depth - 1].end);
            depth -= 1;
        }
        if (ok) *out = {spans.spans, spans.count};
    }
    scratch_end(scratch);
    return ok;
}

//- HTML

static bool entity_byte(u8 c) { return char_is_alpha(c) || char_is_digit(c) || c == '#'; }

// Whether a span edge at `pos` falls inside an entity such as "&amp;" or
// "&#123;" (the "&" before it, the ";" after it).
static bool inside_entity(Str text, u64 pos)
{
    if (pos == 0 || pos >= text.size) return false;
    // Most edges fall between a token and punctuation or a blank: neither
    // side can belong to an entity, and nothing needs scanning.
    u8 before = (u8)text.str[pos - 1], after = (u8)text.str[pos];
    if ((!entity_byte(before) && before != '&') || (!entity_byte(after) && after != ';')) return false;
    u64 back = pos;
    while (back > 0 && pos - back < 32 && entity_byte((u8)text.str[back - 1])) back -= 1;
    if (back == 0 || text.str[back - 1] != '&') return false;
    u64 ahead = pos;
    while (ahead < text.size && ahead - pos < 32 && entity_byte((u8)text.str[ahead])) ahead += 1;
    return ahead < text.size && text.str[ahead] == ';' && ahead > back;
}

static char *put(char *at, Str s)
{
    memcpy(at, s.str, s.size);
    return at + s.size;
}

static Str highlight_html_make(Arena *arena, u32 language, Str text)
{
    ArenaTemp scratch = scratch_begin(arena);
    HighlightSpans spans = {};
    Str html = str_empty();
    if (highlight_spans(scratch.arena, language, text, &spans) && spans.count) {
        bool entities = str_find_byte(text, '&', 0) < text.size;
        const Str open = str_lit("<span class=\""), close_open = str_lit("\">"), close = str_lit("</span>");
        u64 size = html_escaped_size(text, HtmlEscape_Lt);
        for (u64 i = 0; i < spans.count; i += 1) {
            HighlightSpan *sp = &spans.spans[i];
            if (entities && (inside_entity(text, sp->begin) || inside_entity(text, sp->end))) {
                sp->cls = HighlightClass_None;
                continue;
            }
            size += open.size + highlight_class_table[sp->cls].css_class.size + close_open.size + close.size;
        }
        char *out = push_array_no_zero<char>(arena, size + 1);
        if (out) {
            char *at = out;
            u64 pos = 0;
            for (u64 i = 0; i < spans.count; i += 1) {
                const HighlightSpan *sp = &spans.spans[i];
                if (sp->cls == HighlightClass_None) continue;
                at += html_escape_into(at, str_substr(text, pos, sp->begin), HtmlEscape_Lt);
                at = put(at, open);
                at = put(at, highlight_class_table[sp->cls].css_class);
                at = put(at, close_open);
                at += html_escape_into(at, str_substr(text, sp->begin, sp->end), HtmlEscape_Lt);
                at = put(at, close);
                pos = sp->end;
            }
            at += html_escape_into(at, str_skip(text, pos), HtmlEscape_Lt);
            *at = 0;
            html = Str{out, (u64)(at - out)};
        }
    }
    scratch_end(scratch);
    return html;
}

static const HighlightMemoEntry *memo_find(const HighlightMemo *memo, u64 hash, u32 language, Str text)
{
    for (u32 i = 0; i < memo->count; i += 1) {
        const HighlightMemoEntry *e = &memo->entries[i];
        if (e->hash == hash && e->language == language && str_eq(e->text, text)) return e;
    }
    return nullptr;
}

static void memo_add(HighlightMemo *memo, u64 hash, u32 language, Str text, Str html)
{
    u64 size = text.size + html.size;
    if (size > highlight_memo_budget / 2) return;
    if (!memo->arena) memo->arena = arena_alloc(highlight_memo_budget * 2, KiB(64));
    if (!memo->arena) return;
    if (memo->count == highlight_memo_slots || arena_pos(memo->arena) + size > highlight_memo_budget) {
        arena_clear(memo->arena);
        memo->count = 0;
    }
    Str text_copy = str_copy(memo->arena, text), html_copy = str_copy(memo->arena, html);
    if (text_copy.size != text.size || html_copy.size != html.size) return;
    memo->entries[memo->count++] = {hash, language, text_copy, html_copy};
}

Str highlight_html(Arena *arena, u32 language, Str text)
{
    HighlightMemo *memo = &highlight_thread.memo;
    u64 hash = XXH3_64bits(text.str, text.size);
    if (const HighlightMemoEntry *e = memo_find(memo, hash, language, text)) return str_copy(arena, e->html);
    Str html = highlight_html_make(arena, language, text);
    memo_add(memo, hash, language, text, html);
    return html;
}

void highlight_forget(void)
{
    HighlightMemo *memo = &highlight_thread.memo;
    if (memo->arena) arena_clear(memo->arena);
    memo->count = 0;
}
