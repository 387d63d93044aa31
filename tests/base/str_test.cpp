#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/str.h"

static std::string s(Str x) { return std::string(x.str, x.size); }

struct StrTest : ::testing::Test {
    Arena *arena = arena_alloc(MiB(4), KiB(4));
    ~StrTest() override { arena_release(arena); }
};

TEST(Str, LiteralsAreCompileTimeConstants)
{
    static constexpr Str table[] = {str_lit("note"), str_lit("")};
    static_assert(table[0].size == 4 && table[1].size == 0);
    EXPECT_EQ(s(table[0]), "note");
}

TEST(Str, SlicingClampsItsIndices)
{
    Str x = str_lit("abcdef");
    EXPECT_EQ(s(str_prefix(x, 2)), "ab");
    EXPECT_EQ(s(str_prefix(x, 99)), "abcdef");
    EXPECT_EQ(s(str_chop(x, 2)), "abcd");
    EXPECT_EQ(s(str_chop(x, 99)), "");
    EXPECT_EQ(s(str_skip(x, 4)), "ef");
    EXPECT_EQ(s(str_skip(x, 99)), "");
    EXPECT_EQ(s(str_postfix(x, 2)), "ef");
    EXPECT_EQ(s(str_substr(x, 4, 1)), "bcd");
    EXPECT_EQ(s(str_substr(x, 3, 100)), "def");
    EXPECT_EQ(s(str_trim(str_lit(" \t\r\n a b \v\f"))), "a b");
    EXPECT_EQ(s(str_trim_left(str_lit("  a "))), "a ");
    EXPECT_EQ(s(str_trim_right(str_lit("  a "))), "  a");
    EXPECT_EQ(s(str_trim(str_lit("   "))), "");
    // Each side alone trims a string that is only whitespace to nothing.
    EXPECT_EQ(s(str_trim_right(str_lit(" \t "))), "");
    EXPECT_EQ(s(str_trim_left(str_lit(" \t "))), "");
    EXPECT_EQ(s(str_trim_right(str_lit("x\n"))), "x");
}

TEST(Str, MatchFlags)
{
    EXPECT_FALSE(str_match(str_lit("ABC"), str_lit("abc"), 0));
    EXPECT_TRUE(str_match(str_lit("ABC"), str_lit("abc"), StrMatch_CaseInsensitive));
    EXPECT_FALSE(str_match(str_lit("a\\b"), str_lit("a/b"), 0));
    EXPECT_TRUE(str_match(str_lit("a\\b"), str_lit("a/b"), StrMatch_SlashInsensitive));
    EXPECT_TRUE(str_match(str_lit("ab"), str_lit("abc"), StrMatch_Prefix));
    EXPECT_FALSE(str_match(str_lit("abc"), str_lit("ab"), StrMatch_Prefix));
    EXPECT_FALSE(str_match(str_lit("ab"), str_lit("abc"), 0));
    EXPECT_TRUE(str_match(str_lit(""), str_lit(""), 0));
    EXPECT_TRUE(str_match(str_lit("AB"), str_lit("abc"), StrMatch_Prefix | StrMatch_CaseInsensitive));
}

TEST(Str, FindFirstLastAndMissing)
{
    Str x = str_lit("a/b/a/b");
    EXPECT_EQ(str_find(x, str_lit("a/b"), 0, 0), 0u);
    EXPECT_EQ(str_find(x, str_lit("a/b"), 1, 0), 4u);
    EXPECT_EQ(str_find(x, str_lit("a/b"), 0, StrMatch_FindLast), 4u);
    EXPECT_EQ(str_find(x, str_lit("A\\B"), 0, StrMatch_CaseInsensitive | StrMatch_SlashInsensitive), 0u);
    EXPECT_EQ(str_find(x, str_lit("zz"), 0, 0), x.size);
    EXPECT_EQ(str_find(x, str_lit("a"), 7, 0), x.size);    // start at the end
    EXPECT_EQ(str_find(x, str_lit("a/b/a/b/"), 0, 0), x.size);   // needle longer than the text
    EXPECT_EQ(str_find(str_lit("aaab"), str_lit("aab"), 0, 0), 1u);
}

TEST(Str, HashIsDjb2)
{
    EXPECT_EQ(str_hash(str_lit("")), 5381u);
    EXPECT_EQ(str_hash(str_lit("a")), 5381u * 33 + 'a');
    EXPECT_EQ(str_hash(str_lit("ab")), (5381u * 33 + 'a') * 33 + 'b');
}

TEST_F(StrTest, BuiltStringsAreTerminated)
{
    Str copy = str_copy(arena, str_prefix(str_lit("hello"), 3));
    EXPECT_EQ(copy.str[3], 0);
    Str formatted = str_pushf(arena, "%d-%S", 7, str_lit("x"));
    EXPECT_EQ(s(formatted), "7-x");
    EXPECT_EQ(formatted.str[formatted.size], 0);
    Str filled = str_fill(arena, 3, '=');
    EXPECT_EQ(s(filled), "===");
    EXPECT_EQ(filled.str[3], 0);
}

TEST_F(StrTest, ListsJoinAndConcat)
{
    StrList empty = {};
    StrJoin brackets = {str_lit("["), str_lit(", "), str_lit("]")};
    EXPECT_EQ(s(str_list_join(arena, &empty, &brackets)), "[]");
    StrList list = {};
    str_list_push(arena, &list, str_lit("b"));
    str_list_push_front(arena, &list, str_lit("a"));
    str_list_pushf(arena, &list, "%d", 3);
    EXPECT_EQ(list.node_count, 3u);
    EXPECT_EQ(list.total_size, 3u);
    EXPECT_EQ(s(str_list_join(arena, &list, &brackets)), "[a, b, 3]");
    StrList more = {};
    str_list_push(arena, &more, str_lit("z"));
    str_list_concat(&list, &more);
    EXPECT_EQ(more.node_count, 0u);
    EXPECT_EQ(more.first, nullptr);
    EXPECT_EQ(s(str_list_join_plain(arena, &list)), "ab3z");
    StrList into_empty = {};
    StrList from = {};
    str_list_push(arena, &from, str_lit("q"));
    str_list_concat(&into_empty, &from);
    EXPECT_EQ(s(str_list_join_plain(arena, &into_empty)), "q");
}

TEST_F(StrTest, SplitKeepsOrDropsEmptyPieces)
{
    Str x = str_lit("a,,b");
    EXPECT_EQ(str_split(arena, x, str_lit(","), 0).node_count, 2u);
    StrList kept = str_split(arena, x, str_lit(","), StrSplit_KeepEmpty);
    ASSERT_EQ(kept.node_count, 3u);
    EXPECT_EQ(s(kept.first->next->string), "");
    StrList path = str_split_path(arena, str_lit("/a\\b//c"));
    EXPECT_EQ(path.node_count, 5u);   // "", a, b, "", c
    EXPECT_EQ(str_split(arena, str_lit(""), str_lit(","), 0).node_count, 0u);
}

TEST_F(StrTest, MapFindsWhatWasInserted)
{
    StrMap map = str_map_alloc(arena, 4);
    for (int i = 0; i < 50; i += 1) str_map_insert(arena, &map, str_pushf(arena, "key%d", i), (u64)i);
    for (int i = 0; i < 50; i += 1) {
        StrMapNode *node = str_map_lookup(&map, str_pushf(arena, "key%d", i));
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->value, (u64)i);
    }
    EXPECT_EQ(str_map_lookup(&map, str_lit("key50")), nullptr);
}

TEST_F(StrTest, PathHelpers)
{
    EXPECT_EQ(s(path_extension(str_lit("name"))), "");
    EXPECT_EQ(s(path_extension(str_lit("a.b.c"))), "c");
    EXPECT_EQ(s(path_chop_extension(str_lit("a.b.c"))), "a.b");
    EXPECT_EQ(s(path_chop_extension(str_lit("abc"))), "abc");
    EXPECT_EQ(s(path_file_name(str_lit("C:/x\\y.wyn"))), "y.wyn");
    EXPECT_EQ(s(path_file_name(str_lit("plain"))), "plain");
    EXPECT_EQ(s(path_folder(str_lit("/a/b/c.html"))), "/a/b");
    EXPECT_EQ(s(path_folder_with_slash(str_lit("/a/b/c.html"))), "/a/b/");
    EXPECT_EQ(s(path_ensure_slash(arena, str_lit("/a"))), "/a/");
    EXPECT_EQ(s(path_ensure_slash(arena, str_lit("/a\\"))), "/a\\");
    EXPECT_EQ(s(path_ensure_slash(arena, str_lit(""))), "");
    EXPECT_EQ(path_kind(str_lit("C:/x")), 1u);
    EXPECT_EQ(path_kind(str_lit("/x")), 2u);
    EXPECT_EQ(path_kind(str_lit("x/y")), 0u);
    EXPECT_EQ(path_kind(str_lit("1:/x")), 0u);
}

TEST_F(StrTest, SegmentWalkResolvesDotsAndKeepsTheRoot)
{
    EXPECT_EQ(s(path_resolve_segments(arena, str_lit("/site"), str_lit("docs"))), "/site/docs");
    EXPECT_EQ(s(path_resolve_segments(arena, str_lit("C:\\site\\a"), str_lit("../x/"))), "C:/site/x/");
    EXPECT_EQ(s(path_resolve_segments(arena, str_lit("/a"), str_lit("./b/./c/../d"))), "/a/b/d");
    // ".." never climbs above the root.
    EXPECT_EQ(s(path_resolve_segments(arena, str_lit("/a"), str_lit("../../../x"))), "/x");
    EXPECT_EQ(s(path_resolve_segments(arena, str_lit("C:"), str_lit(".."))), "C:");
    EXPECT_EQ(s(path_resolve_segments(arena, str_lit("/"), str_lit("x"))), "/x");
    EXPECT_EQ(s(path_resolve_segments(arena, str_lit("/a/"), str_lit("b//c"))), "/a/b/c");
    EXPECT_EQ(s(path_collapse_slashes(arena, str_lit("//a///b/"), false)), "/a/b/");
    EXPECT_EQ(s(path_collapse_slashes(arena, str_lit("a\\\\b"), true)), "a/b");
}

TEST(Str, CharacterClasses)
{
    const char *symbols = "!#$%&()*+,-./:;<=>?@[\\]^{|}~";
    int count = 0;
    for (int c = 0; c < 256; c += 1) count += char_is_symbol((u8)c);
    EXPECT_EQ(count, 28);
    for (const char *p = symbols; *p; p += 1) EXPECT_TRUE(char_is_symbol((u8)*p)) << *p;
    EXPECT_FALSE(char_is_symbol('_'));
    EXPECT_FALSE(char_is_symbol('"'));
    EXPECT_TRUE(char_is_space('\v'));
    EXPECT_FALSE(char_is_space(0));
    EXPECT_EQ(char_to_lower('Q'), 'q');
    EXPECT_EQ(char_to_lower(0xC4), 0xC4);   // ASCII only
    EXPECT_EQ(char_to_forward_slash('\\'), '/');
}

TEST_F(StrTest, NumbersInRadixesWithGroups)
{
    EXPECT_EQ(s(str_from_u64(arena, 1234567, 10, 0, ',')), "1,234,567");
    EXPECT_EQ(s(str_from_u64(arena, 255, 16, 4, 0)), "0x00ff");
    EXPECT_EQ(s(str_from_u64(arena, 5, 2, 0, 0)), "0b101");
    EXPECT_EQ(s(str_from_u64(arena, 8, 8, 0, 0)), "0o10");
    EXPECT_EQ(s(str_from_u64(arena, 0x12345, 16, 0, '_')), "0x1_2345");
    EXPECT_EQ(s(str_from_u64(arena, 0, 10, 0, ',')), "0");
    EXPECT_EQ(s(str_from_u64(arena, 123, 10, 0, ',')), "123");
    EXPECT_EQ(u64_from_str(str_lit("2024"), 10), 2024u);
    EXPECT_EQ(u64_from_str(str_lit("ff"), 16), 255u);
    EXPECT_EQ(u64_from_str(str_lit("FF"), 16), 255u);
    EXPECT_EQ(u64_from_str(str_lit(""), 10), 0u);
}

TEST(Str, LineAndColumn)
{
    Str text = str_lit("ab\ncd\n\nx");
    EXPECT_EQ(line_col_of(text, 0).line, 1u);
    EXPECT_EQ(line_col_of(text, 0).column, 1u);
    EXPECT_EQ(line_col_of(text, 3).line, 2u);   // just after a line feed
    EXPECT_EQ(line_col_of(text, 3).column, 1u);
    EXPECT_EQ(line_col_of(text, 4).column, 2u);
    EXPECT_EQ(line_col_of(text, 7).line, 4u);
    EXPECT_EQ(line_col_of(text, 1000).line, 4u);   // clamped to the end
    EXPECT_EQ(line_col_of(text, 1000).column, 2u);
}

TEST(Unicode, Utf8DecodeClassesAndInvalidSequences)
{
    const u8 e_acute[] = {0xC3, 0xA9};
    DecodedChar c = utf8_decode(e_acute, 2);
    EXPECT_EQ(c.codepoint, 0xE9u);
    EXPECT_EQ(c.size, 2u);
    c = utf8_decode(e_acute, 1);   // cut short at the end of input
    EXPECT_EQ(c.codepoint, 0xFFFFFFFFu);
    EXPECT_EQ(c.size, 1u);
    const u8 continuation[] = {0x80};
    EXPECT_EQ(utf8_decode(continuation, 1).codepoint, 0xFFFFFFFFu);
    const u8 bad_follow[] = {0xE2, 0x41, 0x41};
    EXPECT_EQ(utf8_decode(bad_follow, 3).codepoint, 0xFFFFFFFFu);
    const u8 emoji[] = {0xF0, 0x9F, 0x98, 0x80};
    EXPECT_EQ(utf8_decode(emoji, 4).codepoint, 0x1F600u);
    const u8 f8[] = {0xF8, 0x80, 0x80, 0x80, 0x80};
    EXPECT_EQ(utf8_decode(f8, 5).codepoint, 0xFFFFFFFFu);
}

TEST_F(StrTest, Utf16RoundTripAndReplacement)
{
    Str text = str_lit("caf\xC3\xA9 \xF0\x9F\x98\x80");
    Str16 wide = str16_from_str(arena, text);
    EXPECT_EQ(wide.size, 7u);   // c a f é space + surrogate pair
    EXPECT_EQ(wide.str[5], 0xD83D);
    EXPECT_EQ(wide.str[7], 0);
    Str back = str_from_str16(arena, wide);
    EXPECT_EQ(s(back), s(text));
    // The result is the last thing on the arena: the worst case was given back.
    u8 *next = (u8 *)arena_push(arena, 1, 1);
    EXPECT_EQ(next, (const u8 *)back.str + back.size + 1);
    Str16 broken = str16_from_str(arena, str_lit("a\xC3"));
    ASSERT_EQ(broken.size, 2u);
    EXPECT_EQ(broken.str[1], '?');
    u16 lone[] = {0xDC00, 'x'};
    DecodedChar c = utf16_decode(lone, 2);
    EXPECT_EQ(c.codepoint, 0xDC00u);
    EXPECT_EQ(c.size, 1u);
    u8 out[4];
    EXPECT_EQ(utf8_encode(out, 0x110000), 1u);
    EXPECT_EQ(out[0], '?');
    u16 out16[2];
    EXPECT_EQ(utf16_encode(out16, 0x110000), 1u);
    EXPECT_EQ(out16[0], '?');
    EXPECT_EQ(utf16_encode(out16, 0x1F600), 2u);
}

TEST(StrPieces, UnquoteTestsEachEndOnItsOwn)
{
    auto u = [](const char *text) {
        Str out = str_unquote(str_from_cstring(text));
        return std::string(out.str, out.size);
    };
    EXPECT_EQ(u("\"a\""), "a");
    EXPECT_EQ(u("\"a'"), "a");
    EXPECT_EQ(u("a'"), "a");
    EXPECT_EQ(u("'"), "");
    EXPECT_EQ(u("\"\""), "");
    EXPECT_EQ(u("\"\"\""), "\"");
    EXPECT_EQ(u("x"), "x");
}

TEST(StrPieces, PiecesAreCutAtEverySeparatorWithoutCopies)
{
    auto pieces = [](const char *text) {
        Str s = str_from_cstring(text);
        std::vector<std::string> out;
        Str piece;
        for (u64 cursor = 0; str_next_piece(s, ';', &cursor, &piece);) {
            EXPECT_TRUE(piece.size == 0 || (piece.str >= s.str && piece.str + piece.size <= s.str + s.size));
            out.push_back(std::string(piece.str, piece.size));
        }
        return out;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(pieces(""), V{});
    EXPECT_EQ(pieces("a"), V{"a"});
    EXPECT_EQ(pieces("a;b"), (V{"a", "b"}));
    EXPECT_EQ(pieces("a;;b;"), (V{"a", "", "b", ""}));
    EXPECT_EQ(pieces(";"), (V{"", ""}));
}

TEST(StrLess, ByteOrderWithPrefixesFirst)
{
    EXPECT_TRUE(str_less(str_lit("a/b.wyn"), str_lit("a/c.wyn")));
    EXPECT_FALSE(str_less(str_lit("a/c.wyn"), str_lit("a/b.wyn")));
    EXPECT_TRUE(str_less(str_lit("a"), str_lit("a/b")));   // a prefix first
    EXPECT_FALSE(str_less(str_lit("a/b"), str_lit("a")));
    EXPECT_FALSE(str_less(str_lit("same"), str_lit("same")));
    EXPECT_TRUE(str_less(str_empty(), str_lit("x")));
    EXPECT_FALSE(str_less(str_lit("x"), str_empty()));
    // Bytes compare unsigned: UTF-8 letters sort after ASCII ones.
    EXPECT_TRUE(str_less(str_lit("z"), str_lit("\xc3\xa9")));
    EXPECT_TRUE(str_less(str_lit("A"), str_lit("a")));
}
