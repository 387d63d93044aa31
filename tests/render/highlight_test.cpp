// The highlighter on its own and in the renderer: every grammar compiled in
// parses, its queries load whole (every predicate compiled), and a sample
// of each language comes out with the classes a reader expects; spans nest
// and never overlap; the HTML holds the block's text unchanged; blocks in
// unknown languages and blocks too long are written as without
// highlighting.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "render/highlight.h"
#include "render_page.h"

namespace {

struct Highlight : ::testing::Test {
    Arena *arena = arena_alloc(MiB(64), KiB(64));
    ~Highlight() override { arena_release(arena); }

    u32 language(const char *word) { return highlight_language_from_word(str_from_cstring(word)); }

    // Each highlighted piece of `code` with the CSS class it got.
    std::multimap<std::string, std::string> pieces(const char *word, const std::string &code)
    {
        std::multimap<std::string, std::string> out;
        HighlightSpans spans = {};
        EXPECT_TRUE(highlight_spans(arena, language(word), str(code.data(), code.size()), &spans)) << word;
        for (u64 i = 0; i < spans.count; i += 1) {
            const HighlightSpan &s = spans.spans[i];
            Str cls = highlight_class_table[s.cls].css_class;
            out.emplace(code.substr(s.begin, s.end - s.begin), std::string(cls.str, cls.size));
        }
        return out;
    }
};

bool has(const std::multimap<std::string, std::string> &pieces, const std::string &text, const std::string &cls)
{
    auto [first, last] = pieces.equal_range(text);
    for (auto it = first; it != last; ++it)
        if (it->second == cls) return true;
    return false;
}

std::string dump(const std::multimap<std::string, std::string> &pieces)
{
    std::string out;
    for (const auto &[text, cls] : pieces) out += "  [" + text + "] " + cls + "\n";
    return out;
}

// Tags taken out and the "<" the renderer escapes put back: what a reader
// sees of the block.
std::string text_of(const std::string &html)
{
    std::string out;
    for (size_t i = 0; i < html.size(); i += 1) {
        if (html[i] == '<') {
            i = html.find('>', i);
            if (i == std::string::npos) break;
            continue;
        }
        if (html.compare(i, 4, "&lt;") == 0) {
            out += '<';
            i += 3;
            continue;
        }
        out += html[i];
    }
    return out;
}

TEST_F(Highlight, FenceWordsNameGrammarsByNameOrAliasInAnyCase)
{
    EXPECT_EQ(highlight_grammar_count, 10u);
    for (u32 l = 1; l <= highlight_grammar_count; l += 1) {
        Str name = highlight_language_name(l);
        EXPECT_EQ(highlight_language_from_word(name), l);
    }
    struct Alias {
        const char *word;
        const char *grammar;
    } aliases[] = {{"C++", "cpp"}, {"py", "python"}, {"SH", "bash"}, {"shell", "bash"}, {"js", "javascript"},
                   {"Rs", "rust"},  {"golang", "go"}, {"HTM", "html"}, {"Json", "json"}};
    for (const Alias &a : aliases) {
        Str name = highlight_language_name(language(a.word));
        EXPECT_EQ(std::string(name.str, name.size), a.grammar) << a.word;
    }
    for (const char *unknown : {"", "pascal", "c#", "pyt", "cppx", "block"}) EXPECT_EQ(language(unknown), 0u) << unknown;
    EXPECT_EQ(highlight_language_name(0).size, 0u);
    EXPECT_EQ(highlight_language_name(highlight_grammar_count + 1).size, 0u);
}

TEST_F(Highlight, EveryGrammarsQueriesLoadWithEveryPredicateCompiled)
{
    for (u32 l = 1; l <= highlight_grammar_count; l += 1) {
        HighlightQueryInfo info = highlight_query_info(l);
        Str name = highlight_language_name(l);
        EXPECT_TRUE(info.loaded) << name.str;
        EXPECT_GT(info.pattern_count, 0u) << name.str;
        EXPECT_EQ(info.patterns_never, 0u) << name.str;
        EXPECT_LT(info.patterns_twinned, info.pattern_count) << name.str;
    }
    // Python names every identifier three times over (a variable; a
    // constructor when capitalised; a constant when all capitals): the two
    // tested ones are tried on the first one's matches instead of being run.
    EXPECT_EQ(highlight_query_info(language("python")).patterns_twinned, 2u);
    EXPECT_GE(highlight_query_info(language("c")).patterns_twinned, 1u);
}

TEST_F(Highlight, CapturesMapToClassesByTheirLongestKnownPrefix)
{
    EXPECT_EQ(highlight_class_from_capture(str_lit("function.builtin")), (u32)HighlightClass_Function);
    EXPECT_EQ(highlight_class_from_capture(str_lit("string.special.key")), (u32)HighlightClass_Property);
    EXPECT_EQ(highlight_class_from_capture(str_lit("string.special")), (u32)HighlightClass_String);
    EXPECT_EQ(highlight_class_from_capture(str_lit("variable.builtin")), (u32)HighlightClass_Builtin);
    EXPECT_EQ(highlight_class_from_capture(str_lit("variable.parameter")), (u32)HighlightClass_None);
    EXPECT_EQ(highlight_class_from_capture(str_lit("spell")), highlight_class_unknown);
    EXPECT_EQ(highlight_class_from_capture(str_lit("")), highlight_class_unknown);
}

// One sample per language, with pieces a reader of that language would
// colour. Several pieces come from patterns with predicates: a regular
// expression on the name (C's and Python's constants, Go's and Python's
// built-in functions, JavaScript's console) or a comparison (require).
TEST_F(Highlight, SamplesOfEveryLanguageGetTheirClasses)
{
    struct Expect {
        const char *text;
        const char *cls;
    };
    struct Sample {
        const char *word;
        std::string code;
        std::vector<Expect> expect;
    } samples[] = {
        {"c", "#include <stdio.h>\nint main(void) { printf(\"%d\", MAX_N); return 0; } /* x */",
         {{"#include", "h-k"}, {"<stdio.h>", "h-s"}, {"int", "h-t"}, {"main", "h-f"}, {"printf", "h-f"},
          {"\"%d\"", "h-s"}, {"MAX_N", "h-n"}, {"return", "h-k"}, {"0", "h-n"}, {"/* x */", "h-c"}}},
        {"cpp", "namespace n { class A : public B { virtual void f() const; }; } // c",
         {{"namespace", "h-k"}, {"class", "h-k"}, {"A", "h-t"}, {"public", "h-k"}, {"virtual", "h-k"},
          {"void", "h-t"}, {"f", "h-f"}, {"const", "h-k"}, {"// c", "h-c"}}},
        {"python", "import os\nX = len(\"a\")  # c\ndef g(self): return None",
         {{"import", "h-k"}, {"X", "h-n"}, {"len", "h-f"}, {"\"a\"", "h-s"}, {"# c", "h-c"}, {"def", "h-k"},
          {"g", "h-f"}, {"None", "h-n"}}},
        {"bash", "if [ -n \"$x\" ]; then echo hi; fi # c",
         {{"if", "h-k"}, {"then", "h-k"}, {"echo", "h-f"}, {"fi", "h-k"}, {"# c", "h-c"}}},
        {"javascript", "const m = require(\"m\");\nclass B extends A {}\nconsole.log(`t${m}`, 42);",
         {{"const", "h-k"}, {"require", "h-f"}, {"\"m\"", "h-s"}, {"class", "h-k"}, {"extends", "h-k"},
          {"console", "h-b"}, {"log", "h-f"}, {"42", "h-n"}}},
        {"json", "{\"k\": [true, null, 2.5, \"v\"]}",
         {{"\"k\"", "h-p"}, {"true", "h-n"}, {"null", "h-n"}, {"2.5", "h-n"}, {"\"v\"", "h-s"}}},
        {"html", "<!-- c --><a href=\"x\">t</a>",
         {{"<!-- c -->", "h-c"}, {"a", "h-m"}, {"href", "h-p"}, {"x", "h-s"}}},
        {"css", "@media screen { .c > a:hover { color: #fff; margin: 0 2px; } }",
         {{"@media", "h-k"}, {"a", "h-m"}, {"color", "h-p"}, {"fff", "h-s"}, {"2", "h-n"}, {"px", "h-t"}}},
        {"rust", "fn main() { let v: Vec<u8> = vec![1]; let n = v.len(); println!(\"{}\", n); } // c",
         {{"fn", "h-k"}, {"main", "h-f"}, {"let", "h-k"}, {"Vec", "h-t"}, {"u8", "h-t"}, {"\"{}\"", "h-s"},
          {"len", "h-f"}, {"// c", "h-c"}}},
        {"go", "package main\nfunc main() { x := len(\"s\"); fmt.Println(x) } // c",
         {{"package", "h-k"}, {"func", "h-k"}, {"main", "h-f"}, {"len", "h-f"}, {"\"s\"", "h-s"},
          {"Println", "h-f"}, {"// c", "h-c"}}},
    };
    static_assert(sizeof samples / sizeof samples[0] == 10, "a sample per grammar");
    for (const Sample &sample : samples) {
        std::multimap<std::string, std::string> got = pieces(sample.word, sample.code);
        for (const Expect &e : sample.expect)
            EXPECT_TRUE(has(got, e.text, e.cls)) << sample.word << ": [" << e.text << "] is not " << e.cls << "; got\n" << dump(got);
    }
}

TEST_F(Highlight, InnerCapturesShowInsideOuterOnesAndSpansNeverOverlap)
{
    // The substitution inside a template string is code again, and the
    // escape inside a Rust string stays part of the string.
    std::string js = "let s = `a${b + 1}c`;";
    std::multimap<std::string, std::string> got = pieces("js", js);
    EXPECT_TRUE(has(got, "1", "h-n")) << dump(got);
    EXPECT_TRUE(has(got, "`a", "h-s")) << dump(got);
    EXPECT_TRUE(has(got, "c`", "h-s")) << dump(got);
    EXPECT_EQ(got.count("b"), 0u) << dump(got);
    std::string rust = "let s = \"a\\nb\";";
    EXPECT_TRUE(has(pieces("rust", rust), "\"a\\nb\"", "h-s")) << dump(pieces("rust", rust));

    for (u32 l = 1; l <= highlight_grammar_count; l += 1) {
        std::string code = "x = \"a\" + f(1) # y // z /* w */ <p> { if (a) { return [1, 2]; } }\n";
        HighlightSpans spans = {};
        ASSERT_TRUE(highlight_spans(arena, l, str(code.data(), code.size()), &spans));
        for (u64 i = 0; i < spans.count; i += 1) {
            EXPECT_LT(spans.spans[i].begin, spans.spans[i].end);
            EXPECT_LE(spans.spans[i].end, code.size());
            EXPECT_NE(spans.spans[i].cls, (u32)HighlightClass_None);
            if (i) {
                EXPECT_LE(spans.spans[i - 1].end, spans.spans[i].begin);
            }
        }
    }
}

// A block's parse takes its memory from a region of the thread's own and
// drops its tree with it; one that outgrows the region goes on with malloc
// and is freed record by record. Either way it gets the same spans.
TEST_F(Highlight, BlocksGetTheSameSpansWhetherTheirMemoryFitsItsRegionOrNot)
{
    auto spans_of = [&](u32 l, const std::string &code) {
        std::vector<u32> flat;
        HighlightSpans spans = {};
        EXPECT_TRUE(highlight_spans(arena, l, str(code.data(), code.size()), &spans));
        for (u64 i = 0; i < spans.count; i += 1)
            flat.insert(flat.end(), {spans.spans[i].begin, spans.spans[i].end, spans.spans[i].cls});
        return flat;
    };
    std::string line = "x = \"a\" + f(1) # y // z /* w */ <p> { if (a) { return [1, 2]; } } (let ((v 3)) v)\n";
    std::string code;
    for (int i = 0; i < 300; i += 1) code += i % 7 ? line : "}}) broken ((\n";
    for (u32 l = 1; l <= highlight_grammar_count; l += 1) {
        std::vector<u32> fits = spans_of(l, code);
        ASSERT_FALSE(fits.empty()) << highlight_language_name(l).str;
        // Nothing in the region; the parser made, then the tree outgrows it.
        for (u64 limit : {u64(0), KiB(4), KiB(64)}) {
            highlight_memory_limit(limit);
            EXPECT_EQ(spans_of(l, code), fits) << highlight_language_name(l).str << ", limit " << limit;
        }
        highlight_memory_limit(highlight_memory_default);
        EXPECT_EQ(spans_of(l, code), fits) << highlight_language_name(l).str << ", the region again";
    }
}

TEST_F(Highlight, HtmlHoldsTheTextUnchangedAndKeepsEntitiesWhole)
{
    std::string code = "if (a < b && c > d) { s = \"<b>&amp;\"; } // x < y";
    Str html = highlight_html(arena, language("c"), str(code.data(), code.size()));
    ASSERT_GT(html.size, 0u);
    std::string h(html.str, html.size);
    EXPECT_EQ(text_of(h), code);
    EXPECT_EQ(h.find("<b>"), std::string::npos) << h;   // escaped like running text
    EXPECT_NE(h.find("&lt;b>&amp;"), std::string::npos) << h;

    // "mut" is a keyword; inside "&mut;" a span around it would break what
    // reads as an entity the author wrote, so that one stays plain.
    std::string rust = "let r = &mut x; let s = &mut;";
    EXPECT_TRUE(has(pieces("rust", rust), "mut", "h-k"));
    Str rust_html = highlight_html(arena, language("rust"), str(rust.data(), rust.size()));
    std::string r(rust_html.str, rust_html.size);
    EXPECT_NE(r.find("&<span class=\"h-k\">mut</span> x;"), std::string::npos) << r;
    EXPECT_NE(r.find("= &mut;"), std::string::npos) << r;
    EXPECT_EQ(text_of(r), rust);
}

TEST_F(Highlight, EmptyUnknownAndOverlongBlocksAreNotHighlighted)
{
    HighlightSpans spans = {};
    EXPECT_FALSE(highlight_spans(arena, language("c"), str_empty(), &spans));
    EXPECT_FALSE(highlight_spans(arena, 0, str_lit("int x;"), &spans));
    EXPECT_FALSE(highlight_spans(arena, highlight_grammar_count + 1, str_lit("int x;"), &spans));
    std::string longest(highlight_max_bytes, ' ');
    longest.replace(0, 6, "int x;");
    EXPECT_TRUE(highlight_spans(arena, language("c"), str(longest.data(), longest.size()), &spans));
    EXPECT_TRUE(has(pieces("c", longest), "int", "h-t"));
    longest += ' ';
    EXPECT_FALSE(highlight_spans(arena, language("c"), str(longest.data(), longest.size()), &spans));
    EXPECT_EQ(spans.count, 0u);
    EXPECT_EQ(highlight_html(arena, language("c"), str(longest.data(), longest.size())).size, 0u);
}

// A thread reuses the HTML of its recent blocks: a block of the same
// length, the same text in another language, a block met again after many
// others, and a caller that writes into what it got each see their own.
TEST_F(Highlight, BlocksMetAgainGetTheHtmlOfTheirOwnTextAndLanguage)
{
    auto html = [&](const char *word, const std::string &code) {
        Str h = highlight_html(arena, language(word), str(code.data(), code.size()));
        return std::string(h.str, h.size);
    };
    std::string one = "x = 1; // one", two = "x = 2; // one";
    std::string a = html("c", one);
    EXPECT_NE(a.find("h-c"), std::string::npos) << a;
    std::string b = html("c", two);
    EXPECT_EQ(text_of(b), two);
    std::string py = html("python", one);
    EXPECT_EQ(py.find("h-c"), std::string::npos) << py;   // "//" divides in Python
    Str mine = highlight_html(arena, language("c"), str(one.data(), one.size()));
    ASSERT_GT(mine.size, 0u);
    const_cast<char *>(mine.str)[0] = '#';
    EXPECT_EQ(html("c", one), a);
    for (int i = 0; i < 300; i += 1) html("c", "int v" + std::to_string(i) + " = " + std::to_string(i) + ";");
    EXPECT_EQ(html("c", one), a);
    EXPECT_EQ(html("c", two), b);
}

// A highlighted page with its spans' tags taken out. Spans hold text only
// ("<" is escaped in it), so each opening tag's span ends at the next
// closing tag.
std::string without_spans(const std::string &html)
{
    std::string out;
    size_t at = 0;
    for (size_t open = html.find("<span class=\"h-"); open != std::string::npos; open = html.find("<span class=\"h-", at)) {
        size_t text = html.find("\">", open) + 2;
        size_t close = html.find("</span>", text);
        out += html.substr(at, open - at) + html.substr(text, close - text);
        at = close + 7;
    }
    return out + html.substr(at);
}

// The renderer: a block is written the same, byte for byte, when its
// language is unknown, missing, or too long to highlight; a known language
// only adds tags around pieces of the same text.
TEST_F(Highlight, RenderedBlocksDifferFromPlainOnesOnlyByTheirSpans)
{
    auto block = [&](const std::string &word, const std::string &body) {
        std::string source = "H\n  P\n  ```" + word + "\n  " + body + "\n  ```\n";
        TestPage page = test_render(arena, source, PageVariant_Desktop);
        return test_serialize(arena, page.b_w);
    };
    std::string body = "int f(int a) { return a < 2 ? a : f(a - 1); }  // <x> & y";
    std::string plain = block("", body);
    EXPECT_EQ(block("pascal", body), plain);
    for (u32 l = 1; l <= highlight_grammar_count; l += 1) {
        Str name = highlight_language_name(l);
        std::string highlighted = block(std::string(name.str, name.size), body);
        EXPECT_NE(highlighted, plain) << name.str;
        EXPECT_EQ(without_spans(highlighted), plain) << name.str;
    }
    // A block past the limit is written the plain way (compared whole: a
    // diff of pages this long would take the test's time).
    std::string lines;
    while (lines.size() <= 2 * highlight_max_bytes) lines += "int x;\n  ";
    lines += "int y;";
    std::string long_c = block("c", lines);
    EXPECT_EQ(long_c.find("<span class=\"h-"), std::string::npos);
    EXPECT_TRUE(long_c == block("", lines));
}

} // namespace
