// render/highlight.h: code blocks cut into classed spans by the tree-sitter
// grammars compiled into wyn.
//
// A fenced block whose language word names a grammar ("cpp", "py", "sh")
// is parsed with that grammar, and the grammar's own highlight queries name
// its pieces: keyword, string, comment, function, ... Those capture names
// map to a few classes, each a CSS class that the generated style sheet
// colours (highlight_class_table). Where captures nest, the inner one shows;
// where several patterns capture the same node, one that names more than
// the node (its parent, a field, a test of its text) wins over one that
// names the node alone, and of two alike the later one.
// Predicates the queries use (#match?, #eq?, #any-of? and their negations)
// are evaluated here; the runtime leaves them to its caller.
//
// Memory: spans and HTML go to the arena passed in. Tree-sitter allocates
// its trees, parsers and queries with malloc. A language's query is built
// once per process, at its first block, and only read afterwards, by every
// thread. Each thread keeps one parser per language and one query cursor,
// made at its first block of that language and freed when the thread ends;
// a tree lives for one call. A thread also keeps the HTML of its latest
// blocks (2 MiB at most, on an arena of its own, kept for its life): the
// second page of a document, built next on the same worker, copies it
// instead of parsing each block again.
//
// Work is bounded: a block longer than highlight_max_bytes is not
// highlighted, so a hostile document costs at most one parse of that many
// bytes per block, and the parse of one block is linear in its size.
// Nothing fails loudly: no grammar, a query the runtime refuses, a parse
// that gives up or a block too long all give "not highlighted", and the
// caller shows the block as plain text.
#pragma once
#include "base/arena.h"
#include "base/str.h"

struct TSLanguage;

//- the grammars

// One grammar compiled in. The table is generated when the build is
// configured (cmake/tree_sitter.cmake), one row per grammar package; a
// language's number is its row's position plus 1.
struct HighlightGrammar {
    const char *name;                      // the grammar's own name: "cpp"
    const TSLanguage *(*language)(void);
    const char *query;                     // its highlight queries, joined
};
extern const HighlightGrammar highlight_grammar_table[];
extern const u32 highlight_grammar_count;

// The language a fence's word names, by the grammar's name or a usual
// alias ("c++", "py", "sh", "js", ...), ignoring ASCII case; 0 for none.
u32 highlight_language_from_word(Str word);
// The grammar's name of a language; empty for 0 and unknown numbers.
Str highlight_language_name(u32 language);

//- classes

enum HighlightClass : u32 {
    HighlightClass_None = 0,   // shown as plain text
    HighlightClass_Keyword,
    HighlightClass_String,
    HighlightClass_Comment,
    HighlightClass_Function,
    HighlightClass_Type,
    HighlightClass_Constant,   // numbers and named constants
    HighlightClass_Property,   // fields, attributes, keys, labels
    HighlightClass_Tag,        // markup tags
    HighlightClass_Builtin,    // this, self, super and the like
    HighlightClass_Count,
};

// The CSS class of each class and the declarations the style sheet gives
// it. Class names hold a hyphen, so they never meet the renderer's
// two-letter classes or its "_<offset>" ones.
struct HighlightClassInfo {
    u32 id;            // HighlightClass: the row's position
    Str css_class;
    Str declarations;
};
extern const HighlightClassInfo highlight_class_table[HighlightClass_Count];

// The class a capture name maps to: its longest dotted prefix that has a
// row ("function.builtin" -> "function"). A name without a row is not a
// highlight and paints nothing; HighlightClass_None is for names that paint
// plain text over what they sit in (variables, punctuation).
constexpr u32 highlight_class_unknown = ~0u;
u32 highlight_class_from_capture(Str capture_name);

// What a language's query came to, building it if need be: whether the
// runtime took it, its patterns, and how many of them never apply because
// a predicate uses what is not compiled here (a regular expression beyond
// the small set the grammars use), and how many are found through another
// pattern of the same node type. For tests.
struct HighlightQueryInfo {
    b32 loaded;
    u32 pattern_count;
    u32 patterns_never;
    u32 patterns_twinned;   // tested against another pattern's matches, not run
};
HighlightQueryInfo highlight_query_info(u32 language);

//- highlighting

constexpr u64 highlight_max_bytes = KiB(512);

// One run of a block's text with a class; runs are sorted, never overlap,
// and never have HighlightClass_None.
struct HighlightSpan {
    u32 begin;
    u32 end;
    u32 cls;
};

struct HighlightSpans {
    HighlightSpan *spans;
    u64 count;
};

// The classed runs of `text` in `language`. Returns false when the block
// is not highlighted (see above); `out` is then empty.
bool highlight_spans(Arena *arena, u32 language, Str text, HighlightSpans *out);

// `text` as the renderer writes a block's text ("<" escaped, nothing else),
// with each run inside <span class="...">. A run whose edge would cut an
// entity the author wrote ("&amp;") is left plain, so the entity still
// reads as one. Empty when the block is not highlighted.
Str highlight_html(Arena *arena, u32 language, Str text);

// How much memory of its own a block highlighted on the calling thread may
// take before tree-sitter's further records come from malloc (by default,
// the whole region). Lets tests take the path of a block that outgrows it.
void highlight_memory_limit(u64 bytes);
constexpr u64 highlight_memory_default = ~0ull;

// Forgets the blocks this thread highlighted last, so that the next page
// highlights every block afresh (as a worker's first page of a document does).
void highlight_forget(void);
