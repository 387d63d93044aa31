// The tokenizer, rule by rule: text in, tokens out, written as
// "kind:text" with the modifier bits after the kind.
#include <gtest/gtest.h>

#include <string>

#include "markup/tokenizer.h"

namespace {

struct KindName {
    u32 flag;
    const char *name;
};

const KindName kinds[] = {
    {TokenFlag_Number, "number"},     {TokenFlag_Word, "word"},
    {TokenFlag_Symbol, "symbol"},     {TokenFlag_Escape, "escape"},
    {TokenFlag_Mark, "mark"},         {TokenFlag_Comment, "comment"},
    {TokenFlag_Space, "space"},       {TokenFlag_Newline, "newline"},
    {TokenFlag_Bar, "bar"},           {TokenFlag_OpenBracket, "open"},
    {TokenFlag_CloseBracket, "close"}, {TokenFlag_Backtick, "tick"},
    {TokenFlag_DoubleBacktick, "tick2"}, {TokenFlag_TripleBacktick, "tick3"},
    {TokenFlag_Rule, "rule"},         {TokenFlag_RawOpen, "rawopen"},
    {TokenFlag_RawClose, "rawclose"}, {TokenFlag_Semicolon, "semicolon"},
    {TokenFlag_Equals, "equals"},
};

const KindName modifiers[] = {
    {TokenFlag_StringClosed, "closed"}, {TokenFlag_SingleQuoted, "single"}, {TokenFlag_DoubleQuoted, "double"},
    {TokenFlag_Escaped, "escaped"},     {TokenFlag_HasSpace, "space"},     {TokenFlag_PathLike, "path"},
    {TokenFlag_UrlLike, "url"},
};

std::string describe(Str text, const MarkupToken &t)
{
    std::string out;
    for (const KindName &k : kinds)
        if (t.flags & k.flag) out += out.empty() ? k.name : std::string("+") + k.name;
    if (out.empty() && (t.flags & TokenFlag_StringClosed)) out = "string";
    for (const KindName &m : modifiers)
        if (t.flags & m.flag) out += std::string("+") + m.name;
    out += ":";
    for (u64 i = t.begin; i < t.end; i += 1) {
        char c = text.str[i];
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else if (c == 0) out += "\\0";
        else out += c;
    }
    return out;
}

struct TokenizerTest : ::testing::Test {
    Arena *arena = arena_alloc(MiB(64), KiB(64));
    ~TokenizerTest() override { arena_release(arena); }

    std::string tokens(const std::string &source)
    {
        Str text = str_copy(arena, Str{source.data(), source.size()});
        TokenArray array = tokenize(arena, text);
        std::string out;
        for (u64 i = 0; i < array.count; i += 1) {
            if (i) out += " | ";
            out += describe(text, array.tokens[i]);
        }
        return out;
    }
};

TEST_F(TokenizerTest, EmptyTextHasNoTokens)
{
    TokenArray array = tokenize(arena, str_empty());
    EXPECT_EQ(array.count, 0u);
}

TEST_F(TokenizerTest, Numbers)
{
    EXPECT_EQ(tokens("1.5.2"), "number:1.5.2");
    EXPECT_EQ(tokens("12. "), "number:12 | symbol:. | space: ");
    EXPECT_EQ(tokens("3rd"), "number:3rd");
    EXPECT_EQ(tokens("1.x"), "number:1 | symbol:. | word:x");
    EXPECT_EQ(tokens(".5 and 640x480"), "number:.5 | space:  | word:and | space:  | number:640x480");
    EXPECT_EQ(tokens("2.5km"), "number:2.5 | word:km");
    EXPECT_EQ(tokens(". x"), "symbol:. | space:  | word:x");
}

TEST_F(TokenizerTest, WordsKeepEveryUtf8CharacterWhole)
{
    EXPECT_EQ(tokens("café Übersicht"), "word:café | space:  | word:Übersicht");
    EXPECT_EQ(tokens("naïve2x"), "word:naïve2x");
    // A stray continuation byte or a lone lead byte sticks to its word.
    EXPECT_EQ(tokens("a\x80z \xC3"), "word:a\x80z | space:  | word:\xC3");
    EXPECT_EQ(tokens("日本語"), "word:日本語");
}

TEST_F(TokenizerTest, UnderscoresAndHyphens)
{
    EXPECT_EQ(tokens("snake_case"), "word:snake | mark:_ | word:case");
    EXPECT_EQ(tokens("a__b"), "word:a | mark:__ | word:b");
    EXPECT_EQ(tokens("a___b"), "word:a | mark:__ | mark:_ | word:b");
    EXPECT_EQ(tokens("--"), "mark:- | mark:-");
    EXPECT_EQ(tokens("----"), "rule:--- | mark:-");
    EXPECT_EQ(tokens("<>@"), "mark:< | mark:> | mark:@");
}

TEST_F(TokenizerTest, ApostrophesAndQuotes)
{
    // No other quote on the line: a lone quote between two words.
    EXPECT_EQ(tokens("don't"), "word:don | symbol+single:' | word:t");
    // Another quote on the line: everything up to it is one string.
    EXPECT_EQ(tokens("it's Bob's"), "word:it | string+closed+single+space:'s Bob' | word:s");
    // A single-quoted string holding an apostrophe closes at it.
    EXPECT_EQ(tokens("'can't'"), "string+closed+single:'can' | word:t | symbol+single:'");
    EXPECT_EQ(tokens("\"open\nnext"), "symbol+double:\" | word:open | newline:\\n | word:next");
    EXPECT_EQ(tokens("\"a`b\""), "symbol+double:\" | word:a | tick:` | word:b | symbol+double:\"");
}

TEST_F(TokenizerTest, StringModifiers)
{
    EXPECT_EQ(tokens("\"/a/b.wyn\""), "string+closed+double+path:\"/a/b.wyn\"");
    EXPECT_EQ(tokens("\"a.b/c\""), "string+closed+double:\"a.b/c\"");
    EXPECT_EQ(tokens("\"https://x.org\""), "string+closed+double+path+url:\"https://x.org\"");
    EXPECT_EQ(tokens("'www.x.org'"), "string+closed+single+url:'www.x.org'");
    EXPECT_EQ(tokens("\"a b\""), "string+closed+double+space:\"a b\"");
    // A lone quote still tells what followed it: the parser warns about it.
    EXPECT_EQ(tokens("\"/a/b.png x"), "symbol+double+space+path:\" | symbol:/ | word:a | symbol:/ | word:b | "
                                      "symbol:. | word:png | space:  | word:x");
}

TEST_F(TokenizerTest, Backticks)
{
    EXPECT_EQ(tokens("`a``b```c````"), "tick:` | word:a | tick2:`` | word:b | tick3:``` | word:c | tick3:``` | tick:`");
}

TEST_F(TokenizerTest, PairsAndSingles)
{
    EXPECT_EQ(tokens("//"), "comment://");
    EXPECT_EQ(tokens("/x"), "symbol:/ | word:x");
    EXPECT_EQ(tokens("~{x}~"), "rawopen:~{ | word:x | rawclose:}~");
    EXPECT_EQ(tokens("~ { }"), "symbol:~ | space:  | symbol:{ | space:  | symbol:}");
    EXPECT_EQ(tokens("|[];="), "bar:| | open:[ | close:] | semicolon:; | equals:=");
    EXPECT_EQ(tokens("!#$%&()*+,:?^"),
              "symbol:! | symbol:# | symbol:$ | symbol:% | symbol:& | symbol:( | symbol:) | symbol:* | "
              "symbol:+ | symbol:, | symbol:: | symbol:? | symbol:^");
}

TEST_F(TokenizerTest, BlanksAndLineBreaks)
{
    EXPECT_EQ(tokens("a \t\v\fb"), "word:a | space: \\t\v\f | word:b");
    EXPECT_EQ(tokens("a\r\nb\rc\nd"), "word:a | newline:\\r\\n | word:b | newline:\\r | word:c | newline:\\n | word:d");
    // A carriage return ends the line even after blanks; a lone one is a
    // line end of its own.
    EXPECT_EQ(tokens("a \r\nb"), "word:a | space:  | newline:\\r\\n | word:b");
    EXPECT_EQ(tokens("a \rb"), "word:a | space:  | newline:\\r | word:b");
    EXPECT_EQ(tokens("\r\r\n"), "newline:\\r | newline:\\r\\n");
    // A quoted string does not run across a lone carriage return.
    EXPECT_EQ(tokens("\"a\rb\""), "symbol+double:\" | word:a | newline:\\r | word:b | symbol+double:\"");
}

TEST_F(TokenizerTest, ControlBytesAreSymbols)
{
    EXPECT_EQ(tokens(std::string("a\0b\x01\x7f", 5)), "word:a | symbol:\\0 | word:b | symbol:\x01 | symbol:\x7f");
}

TEST_F(TokenizerTest, EscapedMarkupButNotText)
{
    EXPECT_EQ(tokens("\\["), "escape:\\ | open+escaped:[");
    EXPECT_EQ(tokens("\\a"), "escape:\\ | word:a");
    EXPECT_EQ(tokens("\\\\"), "escape:\\ | escape:\\");
    EXPECT_EQ(tokens("\\|\\;\\_\\`\\1\\~{\\}~\\---\\//"),
              "escape:\\ | bar+escaped:| | escape:\\ | semicolon+escaped:; | escape:\\ | mark+escaped:_ | "
              "escape:\\ | tick+escaped:` | escape:\\ | number+escaped:1 | escape:\\ | rawopen+escaped:~{ | "
              "escape:\\ | rawclose+escaped:}~ | escape:\\ | rule+escaped:--- | escape:\\ | comment+escaped://");
    EXPECT_EQ(tokens("\\\"a\" \\\"b"), "escape:\\ | string+closed+double+escaped:\"a\" | space:  | escape:\\ | "
                                       "symbol+double:\" | word:b");
    EXPECT_EQ(tokens("\\= \\."), "escape:\\ | equals:= | space:  | escape:\\ | symbol:.");
}

void expect_cover(TokenArray array, Str s)
{
    u64 at = 0;
    for (u64 i = 0; i < array.count; i += 1) {
        ASSERT_EQ(array.tokens[i].begin, at);
        ASSERT_GT(array.tokens[i].end, array.tokens[i].begin);
        at = array.tokens[i].end;
    }
    EXPECT_EQ(at, s.size);
}

TEST_F(TokenizerTest, TokensCoverEveryByteInOrder)
{
    std::string text;
    for (int i = 0; i < 60000; i += 1) text += (char)((i * 7919) % 256);
    Str s = str_copy(arena, Str{text.data(), text.size()});
    TokenArray array = tokenize(arena, s);
    ASSERT_GT(array.count, 12000u);
    expect_cover(array, s);
    // An arena whose blocks are smaller than the array gives it a block of
    // its own: the same tokens.
    Arena *small = arena_alloc(KiB(64), KiB(4));
    TokenArray copied = tokenize(small, s);
    ASSERT_EQ(copied.count, array.count);
    EXPECT_EQ(memcmp(copied.tokens, array.tokens, array.count * sizeof(MarkupToken)), 0);
    arena_release(small);
}

TEST_F(TokenizerTest, TheArrayIsTheArenasLastPush)
{
    // Nothing past the array is left allocated: the unused chunk tail is given back.
    Str s = str_lit("one two three");
    u64 before = arena_pos(arena);
    TokenArray array = tokenize(arena, s);
    EXPECT_EQ(array.count, 5u);
    EXPECT_EQ((u8 *)(array.tokens + array.count) - (u8 *)array.tokens, (s64)(5 * sizeof(MarkupToken)));
    EXPECT_LE(arena_pos(arena) - before, 5 * sizeof(MarkupToken) + 8);
}

TEST_F(TokenizerTest, LongRunsAreOneToken)
{
    std::string blanks(1 << 20, ' ');
    EXPECT_EQ(tokenize(arena, Str{blanks.data(), blanks.size()}).count, 1u);
    std::string word(1 << 20, 'a');
    EXPECT_EQ(tokenize(arena, Str{word.data(), word.size()}).count, 1u);
    // A quote with no partner scans to its line's end once, not once per byte.
    std::string quotes = "\"" + std::string(100000, 'x') + "\n";
    EXPECT_EQ(tokenize(arena, Str{quotes.data(), quotes.size()}).count, 3u);
}

} // namespace
