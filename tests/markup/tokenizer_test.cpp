// The tokenizer, rule by rule: the cases of tokenizer_cases.txt (text in,
// tokens out as "kind+modifiers:text"), then the array as a whole.
#include <gtest/gtest.h>

#include <string>

#include "markup/tokenizer.h"
#include "../golden_cases.h"

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
    return out + ":" + std::string(text.str + t.begin, t.end - t.begin);
}

struct TokenizerTest : ::testing::Test {
    Arena *arena = arena_alloc(MiB(64), KiB(64));
    ~TokenizerTest() override { arena_release(arena); }

    std::string tokens(const std::string &source)
    {
        Str text = str_copy(arena, Str{source.data(), source.size()});
        TokenArray array = tokenize(arena, text);
        std::string out;
        for (u64 i = 0; i < array.count; i += 1) out += (i ? " | " : "") + describe(text, array.tokens[i]);
        return out;
    }
};

TEST_F(TokenizerTest, EveryCaseOfTheCaseFileAndTokensCoverEveryByte)
{
    std::vector<GoldenLine> cases = golden_read_lines(std::string(WYN_SOURCE_DIR) + "/tests/markup/tokenizer_cases.txt");
    ASSERT_GT(cases.size(), 40u);
    for (const GoldenLine &c : cases) EXPECT_EQ(tokens(c.input), c.expected) << "line " << c.line;
    EXPECT_EQ(tokens(""), "");

    std::string text;
    for (int i = 0; i < 60000; i += 1) text += (char)((i * 7919) % 256);
    Str s = str_copy(arena, Str{text.data(), text.size()});
    TokenArray array = tokenize(arena, s);
    ASSERT_GT(array.count, 12000u);
    u64 at = 0;
    for (u64 i = 0; i < array.count; i += 1) {
        ASSERT_EQ(array.tokens[i].begin, at);
        ASSERT_GT(array.tokens[i].end, array.tokens[i].begin);
        at = array.tokens[i].end;
    }
    EXPECT_EQ(at, s.size);
    // An arena whose blocks are smaller than the array gives it a block of
    // its own: the same tokens.
    Arena *small = arena_alloc(KiB(64), KiB(4));
    TokenArray copied = tokenize(small, s);
    ASSERT_EQ(copied.count, array.count);
    EXPECT_EQ(memcmp(copied.tokens, array.tokens, array.count * sizeof(MarkupToken)), 0);
    arena_release(small);

    // Nothing past the array is left allocated: the unused chunk tail is given back.
    Str words = str_lit("one, two, three");
    u64 before = arena_pos(arena);
    TokenArray three = tokenize(arena, words);
    EXPECT_EQ(three.count, 7u);
    EXPECT_LE(arena_pos(arena) - before, 7 * sizeof(MarkupToken) + 8);

    std::string blanks(1 << 20, ' ');
    EXPECT_EQ(tokenize(arena, Str{blanks.data(), blanks.size()}).count, 1u);
    std::string word(1 << 20, 'a');
    EXPECT_EQ(tokenize(arena, Str{word.data(), word.size()}).count, 1u);
    // A quote with no partner scans to its line's end once, not once per byte.
    std::string quotes = "\"" + std::string(100000, 'x') + "\n";
    EXPECT_EQ(tokenize(arena, Str{quotes.data(), quotes.size()}).count, 3u);
}

// A word token is read eight bytes at a time, so its end may fall in any
// lane of a load, or past the last whole load. Texts drawn from the bytes
// that decide where it ends must give tokens that keep the rule: a word
// token starts with a letter (or a byte from 0x80 up), holds only word
// bytes and single spaces each followed by such a letter, and ends where
// neither goes on.
TEST_F(TokenizerTest, WordTokensEndWhereTheirRuleSaysAtEveryOffset)
{
    auto letter = [](u8 c) { return c >= 0x80 || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); };
    auto word_byte = [&](u8 c) { return letter(c) || (c >= '0' && c <= '9'); };
    const char alphabet[] = {'a', 'Z', 'z', 'A', '0', '9', ' ', ' ', ' ', '\t', '.', '@', '[', '`', '{', '/', ':',
                             '\n', '_', '\x80', '\xc3', '\xa9', '\x7f', '\0'};
    u32 state = 12345;
    u64 words = 0, joined = 0;
    for (int round = 0; round < 4000; round += 1) {
        std::string source;
        u64 size = 1 + round % 41;
        for (u64 k = 0; k < size; k += 1) {
            state = state * 1103515245u + 12345u;
            source += alphabet[(state >> 16) % sizeof(alphabet)];
        }
        Str text = str_copy(arena, Str{source.data(), source.size()});
        const u8 *b = (const u8 *)text.str;
        TokenArray array = tokenize(arena, text);
        for (u64 i = 0; i < array.count; i += 1) {
            const MarkupToken &t = array.tokens[i];
            if (t.flags != TokenFlag_Word) continue;
            words += 1;
            ASSERT_TRUE(letter(b[t.begin])) << source;
            for (u64 k = t.begin; k < t.end; k += 1) {
                if (word_byte(b[k])) continue;
                joined += 1;
                ASSERT_EQ(b[k], ' ') << source;
                ASSERT_TRUE(k + 1 < t.end && letter(b[k + 1])) << source;
            }
            if (t.end < text.size) {
                ASSERT_FALSE(word_byte(b[t.end])) << source;
                ASSERT_FALSE(b[t.end] == ' ' && t.end + 1 < text.size && letter(b[t.end + 1])) << source;
            }
        }
    }
    // The draw made both kinds: single words, and words joined by a space.
    EXPECT_GT(words, 1000u);
    EXPECT_GT(joined, 100u);
}

} // namespace
