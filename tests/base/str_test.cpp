#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../test_support.h"

struct StrTest : ::testing::Test {
    Arena *arena = arena_alloc(MiB(4), KiB(4));
    ~StrTest() override { arena_release(arena); }
};

// What a function computed beside what it should have; the index of a
// failing case is printed with it.
struct StrCase {
    Str got;
    const char *want;
};
static void expect_cases(const std::vector<StrCase> &cases)
{
    for (size_t i = 0; i < cases.size(); i += 1) EXPECT_EQ(s(cases[i].got), cases[i].want) << "case " << i;
}

TEST(Str, SlicingClampsItsIndicesMatchAndFindTakeFlags)
{
    Str x = str_lit("abcdef");
    expect_cases({
        {str_prefix(x, 2), "ab"}, {str_prefix(x, 99), "abcdef"}, {str_chop(x, 2), "abcd"}, {str_chop(x, 99), ""},
        {str_skip(x, 4), "ef"}, {str_skip(x, 99), ""}, {str_postfix(x, 2), "ef"}, {str_postfix(x, 99), "abcdef"},
        {str_substr(x, 4, 1), "bcd"}, {str_substr(x, 3, 100), "def"},
        {str_trim(str_lit(" \t\r\n a b \v\f")), "a b"}, {str_trim_left(str_lit("  a ")), "a "},
        {str_trim_right(str_lit("  a ")), "  a"}, {str_trim_right(str_lit(" \t ")), ""},
        {str_trim_left(str_lit(" \t ")), ""},
    });

    EXPECT_FALSE(str_match(str_lit("ABC"), str_lit("abc"), 0));
    EXPECT_TRUE(str_match(str_lit("ABC"), str_lit("abc"), StrMatch_CaseInsensitive));
    EXPECT_FALSE(str_match(str_lit("a\\b"), str_lit("a/b"), 0));
    EXPECT_TRUE(str_match(str_lit("a\\b"), str_lit("a/b"), StrMatch_SlashInsensitive));
    EXPECT_TRUE(str_match(str_lit("ab"), str_lit("abc"), StrMatch_Prefix));
    EXPECT_FALSE(str_match(str_lit("abc"), str_lit("ab"), StrMatch_Prefix));
    EXPECT_FALSE(str_match(str_lit("ab"), str_lit("abc"), 0));
    EXPECT_TRUE(str_match(str_lit(""), str_lit(""), 0));
    EXPECT_TRUE(str_match(str_lit("AB"), str_lit("abc"), StrMatch_Prefix | StrMatch_CaseInsensitive));

    Str abab = str_lit("a/b/a/b");
    EXPECT_EQ(str_find(abab, str_lit("a/b"), 0, 0), 0u);
    EXPECT_EQ(str_find(abab, str_lit("a/b"), 1, 0), 4u);   // the needle ends the text
    EXPECT_EQ(str_find(abab, str_lit("a/b"), 0, StrMatch_FindLast), 4u);
    EXPECT_EQ(str_find(abab, str_lit("A\\B"), 1, StrMatch_CaseInsensitive | StrMatch_SlashInsensitive), 4u);
    EXPECT_EQ(str_find(abab, str_lit("zz"), 0, 0), abab.size);
    EXPECT_EQ(str_find(abab, str_lit("a"), 7, 0), abab.size);           // start at the end
    EXPECT_EQ(str_find(abab, str_lit("a/b/a/b/"), 0, 0), abab.size);    // needle longer than the text
    EXPECT_EQ(str_find(str_lit("aaab"), str_lit("aab"), 0, 0), 1u);
}

TEST_F(StrTest, BuiltStringsAreTerminatedListsJoinSplitAndMapsFind)
{
    Str copy = str_copy(arena, str_prefix(str_lit("hello"), 3));
    EXPECT_EQ(copy.str[3], 0);
    Str formatted = str_pushf(arena, "%d-%S", 7, str_lit("x"));
    EXPECT_EQ(s(formatted), "7-x");
    EXPECT_EQ(formatted.str[formatted.size], 0);
    // Short results are made on the stack first, longer ones in place: the
    // same text at every length around that edge.
    for (u64 length : {0u, 1u, 505u, 506u, 507u, 508u, 509u, 4000u}) {
        std::string middle(length, 'm');
        Str made = str_pushf(arena, "<%S|%d>", Str{middle.data(), middle.size()}, -5);
        ASSERT_EQ(s(made), "<" + middle + "|-5>") << length;
        EXPECT_EQ(made.str[made.size], 0) << length;
    }
    Str filled = str_fill(arena, 3, '=');
    EXPECT_EQ(s(filled), "===");
    EXPECT_EQ(filled.str[3], 0);

    StrList empty = {};
    StrJoin brackets = {str_lit("["), str_lit(", "), str_lit("]")};
    EXPECT_EQ(s(str_list_join(arena, &empty, &brackets)), "[]");
    StrList list = {};
    str_list_push_front(arena, &list, str_lit("b"));   // the first node is also the last
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
    str_list_push(arena, &more, str_lit("q"));
    str_list_concat(&into_empty, &more);
    EXPECT_EQ(s(str_list_join_plain(arena, &into_empty)), "q");

    Str x = str_lit("a,,b");
    EXPECT_EQ(str_split(arena, x, str_lit(","), 0).node_count, 2u);
    StrList kept = str_split(arena, x, str_lit(","), StrSplit_KeepEmpty);
    ASSERT_EQ(kept.node_count, 3u);
    EXPECT_EQ(s(kept.first->next->string), "");
    EXPECT_EQ(str_split_path(arena, str_lit("/a\\b//c")).node_count, 5u);   // "", a, b, "", c
    EXPECT_EQ(str_split(arena, str_lit(""), str_lit(","), 0).node_count, 0u);

    // A map grows as it fills: every key is still found with its value,
    // and of a key inserted twice, the first stays the one found.
    StrMap map = str_map_alloc(arena, 4);
    for (int i = 0; i < 5000; i += 1) {
        str_map_insert(arena, &map, str_pushf(arena, "key%d", i), (u64)i);
        if (i % 100 == 0) str_map_insert(arena, &map, str_pushf(arena, "key%d", i), 99999);
    }
    EXPECT_GE(map.bucket_count, 2048u);
    EXPECT_EQ(map.count, 5050u);
    for (int i = 0; i < 5000; i += 1) {
        StrMapNode *node = str_map_lookup(&map, str_pushf(arena, "key%d", i));
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->value, (u64)i);
    }
    EXPECT_EQ(str_map_lookup(&map, str_lit("key5000")), nullptr);
}

TEST_F(StrTest, PathHelpersTheSegmentWalkAndNumbersInRadixes)
{
    expect_cases({
        {path_extension(str_lit("name")), ""}, {path_extension(str_lit("a.b.c")), "c"},
        {path_chop_extension(str_lit("a.b.c")), "a.b"}, {path_chop_extension(str_lit("abc")), "abc"},
        {path_file_name(str_lit("C:/x\\y.wyn")), "y.wyn"}, {path_file_name(str_lit("plain")), "plain"},
        {path_folder(str_lit("/a/b/c.html")), "/a/b"}, {path_folder_with_slash(str_lit("/a/b/c.html")), "/a/b/"},
        {path_ensure_slash(arena, str_lit("/a")), "/a/"}, {path_ensure_slash(arena, str_lit("/a\\")), "/a\\"},
        {path_ensure_slash(arena, str_lit("")), ""},
    });
    EXPECT_EQ(path_kind(str_lit("C:/x")), 1u);
    EXPECT_EQ(path_kind(str_lit("/x")), 2u);
    EXPECT_EQ(path_kind(str_lit("x/y")), 0u);
    EXPECT_EQ(path_kind(str_lit("1:/x")), 0u);

    // The segment walk resolves dots and keeps the root.
    auto walk = [&](const char *base, const char *path) {
        return path_resolve_segments(arena, str_from_cstring(base), str_from_cstring(path));
    };
    expect_cases({
        {walk("/site", "docs"), "/site/docs"}, {walk("C:\\site\\a", "../x/"), "C:/site/x/"},
        {walk("/a", "./b/./c/../d"), "/a/b/d"}, {walk("/a/", "b//c"), "/a/b/c"}, {walk("/", "x"), "/x"},
        {walk("/a", "../../../x"), "/x"}, {walk("C:", ".."), "C:"},   // ".." never climbs above the root
        {walk("/a/b/", "/x"), "/a/b/x"}, {walk("/", "/"), "/"}, {walk("C:/", "/x/"), "C:/x/"},
        {path_collapse_slashes(arena, str_lit("//a///b/"), false), "/a/b/"},
        {path_collapse_slashes(arena, str_lit("a\\\\b"), true), "a/b"},
    });

    // A rooted path under a plain base is joined without the walk: it must
    // come out as the walk makes it, which a "." segment forces.
    const char *bases[] = {"/", "/a", "/a/", "/home/me/site/local/", "C:/site", "C:/", "rel/x", ".a/b.."};
    const char *paths[] = {"/", "/x", "/x/", "/wyn_files/a.wyn", "/a.b/.c/d..", "/x/y/"};
    for (const char *base : bases) {
        for (const char *path : paths) {
            std::string dotted = std::string("/.") + path;
            EXPECT_EQ(s(walk(base, path)), s(walk(base, dotted.c_str()))) << base << " + " << path;
        }
    }

    // Numbers in radixes, with digit groups.
    expect_cases({
        {str_from_u64(arena, 1234567, 10, 0, ','), "1,234,567"}, {str_from_u64(arena, 255, 16, 4, 0), "0x00ff"},
        {str_from_u64(arena, 5, 2, 0, 0), "0b101"}, {str_from_u64(arena, 8, 8, 0, 0), "0o10"},
        {str_from_u64(arena, 0x12345, 16, 0, '_'), "0x1_2345"}, {str_from_u64(arena, 0, 10, 0, ','), "0"},
        {str_from_u64(arena, 123, 10, 0, ','), "123"}, {str_numbered(arena, str_lit("id"), 407), "id_407"},
        // Class names of offsets: no prefix, one digit, a power of ten, the largest.
        {str_numbered(arena, str_empty(), 0), "_0"}, {str_numbered(arena, str_empty(), 10), "_10"},
        {str_numbered(arena, str_lit("toggle-checkbox"), 9), "toggle-checkbox_9"},
        {str_numbered(arena, str_lit("x"), ~0ull), "x_18446744073709551615"},
        // Either side of a change in the digit count: at three digits and at twenty.
        {str_numbered(arena, str_empty(), 99), "_99"}, {str_numbered(arena, str_empty(), 100), "_100"},
        {str_numbered(arena, str_empty(), 9999999999999999999ull), "_9999999999999999999"},
        {str_numbered(arena, str_empty(), 10000000000000000000ull), "_10000000000000000000"},
    });
    EXPECT_EQ(u64_from_str(str_lit("2024"), 10), 2024u);
    EXPECT_EQ(u64_from_str(str_lit("fF"), 16), 255u);
    EXPECT_EQ(u64_from_str(str_lit(""), 10), 0u);
}

TEST_F(StrTest, LinesEndAtLineFeedsAndLoneCarriageReturns)
{
    // No NUL after the text: a look past its end is an error ASan sees.
    const char bytes[] = {'a', 'b', '\n', 'c', '\r', '\n', '\n', 'x', '\r'};
    Str text = {bytes, sizeof(bytes)};
    struct {
        u64 offset, line, column;
    } cases[] = {{0, 1, 1}, {3, 2, 1}, {4, 2, 2}, {6, 3, 1}, {7, 4, 1}, {9, 5, 1}, {1000, 5, 1}};
    for (auto c : cases) {
        LineCol slow = line_col_of(text, c.offset);
        EXPECT_EQ(slow.line, c.line) << c.offset;
        EXPECT_EQ(slow.column, c.column) << c.offset;
    }
    // The index agrees with the plain count everywhere, a lone "\r" inside
    // a line too.
    for (Str t : {text, str_lit("a\r\nb\rc\nd")}) {
        LineIndex lines = line_index_build(arena, t);
        for (u64 offset = 0; offset <= t.size + 2; offset += 1) {
            LineCol fast = line_index_find(&lines, offset), slow = line_col_of(t, offset);
            EXPECT_TRUE(fast.line == slow.line && fast.column == slow.column) << offset;
        }
    }
    EXPECT_EQ(line_col_of(str_lit("a\r\nb\rc\nd"), 5).line, 3u);

    // Line ends at every place in and across eight-byte words, beside bytes
    // one bit away from them and bytes with the high bit set.
    const char alphabet[] = {'a', '\n', '\r', '\x0b', '\x0c', '\x8a', '\x8d', '\xc3', '\xa9', '\x0e'};
    u64 seed = 7;
    for (int round = 0; round < 400; round += 1) {
        std::string t(round % 70, 'a');
        for (char &c : t) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            if ((seed >> 60) < 5) c = alphabet[(seed >> 33) % sizeof alphabet];
        }
        Str text_of = {t.data(), t.size()};
        LineIndex lines = line_index_build(arena, text_of);
        for (u64 offset = 0; offset <= t.size(); offset += 1) {
            LineCol fast = line_index_find(&lines, offset), slow = line_col_of(text_of, offset);
            ASSERT_TRUE(fast.line == slow.line && fast.column == slow.column) << round << " at " << offset;
        }
    }
}

TEST_F(StrTest, Utf8AndUtf16DecodeEncodeAndReplacement)
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

    const u8 e_acute[] = {0xC3, 0xA9};
    DecodedChar decoded = utf8_decode(e_acute, 2);
    EXPECT_EQ(decoded.codepoint, 0xE9u);
    EXPECT_EQ(decoded.size, 2u);
    decoded = utf8_decode(e_acute, 1);   // cut short at the end of input
    EXPECT_EQ(decoded.codepoint, 0xFFFFFFFFu);
    EXPECT_EQ(decoded.size, 1u);
    const u8 continuation[] = {0x80}, bad_follow[] = {0xE2, 0x41, 0x41}, emoji[] = {0xF0, 0x9F, 0x98, 0x80},
             f8[] = {0xF8, 0x80, 0x80, 0x80, 0x80};
    EXPECT_EQ(utf8_decode(continuation, 1).codepoint, 0xFFFFFFFFu);
    EXPECT_EQ(utf8_decode(bad_follow, 3).codepoint, 0xFFFFFFFFu);
    EXPECT_EQ(utf8_decode(emoji, 4).codepoint, 0x1F600u);
    EXPECT_EQ(utf8_decode(f8, 5).codepoint, 0xFFFFFFFFu);
}

// What a browser would replace: found at the exact byte, past runs of
// ASCII read eight at a time, and mended in a copy as the browser shows it.
TEST(StrUtf8, TheFirstByteABrowserWouldReplaceAndTheRepairedCopy)
{
    struct Case {
        std::string text;
        u64 at;
    };
    const std::string ascii = "a plain run of ASCII longer than a word ";
    const Case cases[] = {
        {"", 0},
        {ascii, ascii.size()},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF", 19},   // two to four bytes, U+10FFFF
        {"caf\xE9 cr\xE8me", 3},                              // Latin-1
        {ascii + "\xE9", ascii.size()},                      // past eight-byte runs
        {ascii + "\x80", ascii.size()},                      // a stray continuation
        {"x\xC0\x80", 1}, {"x\xC1\xBF", 1},                  // overlong two-byte forms
        {"x\xE0\x9F\xBF", 1},                                // an overlong three-byte form
        {"x\xED\xA0\x80", 1},                                // a surrogate
        {"x\xF0\x8F\xBF\xBF", 1},                            // an overlong four-byte form
        {"x\xF4\x90\x80\x80", 1}, {"x\xF5\x80\x80\x80", 1},  // past U+10FFFF
        {"caf\xC3", 3}, {"x\xE2\x82", 1}, {"x\xE2\x82y", 1},  // cut short, at the end and before a letter
        {"\xEF\xBB\xBF" + ascii, 3 + ascii.size()},          // a byte order mark is UTF-8
    };
    // Each text in a buffer of its exact size, so that a read past its
    // end is caught, whatever the length's remainder by eight or sixteen.
    auto first_invalid = [](const std::string &text) {
        std::unique_ptr<char[]> exact(new char[text.size()]);
        memcpy(exact.get(), text.data(), text.size());
        return utf8_first_invalid(str(exact.get(), text.size()));
    };
    for (const Case &c : cases) EXPECT_EQ(first_invalid(c.text), c.at) << c.text;
    for (size_t size = 1; size <= 40; size += 1) {
        EXPECT_EQ(first_invalid(std::string(size, 'a')), size) << size;
        EXPECT_EQ(first_invalid(std::string(size - 1, 'a') + "\xE9"), size - 1) << size;
    }

    Arena *arena = arena_alloc(MiB(1), KiB(64));
    EXPECT_EQ(s(utf8_repaired(arena, str_lit("caf\xE9 cr\xE8me\xFF"))), "caf\xEF\xBF\xBD cr\xEF\xBF\xBDme\xEF\xBF\xBD");
    EXPECT_EQ(s(utf8_repaired(arena, str_lit("\xC3\xA9t\xC3\xA9"))), "\xC3\xA9t\xC3\xA9");
    Str repaired = utf8_repaired(arena, str_lit("x\xE2\x82y"));
    EXPECT_EQ(utf8_first_invalid(repaired), repaired.size);
    EXPECT_EQ(s(repaired), "x\xEF\xBF\xBD\xEF\xBF\xBDy");
    arena_release(arena);
}

TEST(StrPieces, UnquoteCutAndCompare)
{
    expect_cases({
        {str_unquote(str_lit("\"a\"")), "a"}, {str_unquote(str_lit("\"a'")), "a"}, {str_unquote(str_lit("a'")), "a"},
        {str_unquote(str_lit("'")), ""}, {str_unquote(str_lit("\"\"\"")), "\""}, {str_unquote(str_lit("x")), "x"},
    });

    // Pieces are cut at every separator, without copies.
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
    EXPECT_EQ(pieces("a;;b;"), (V{"a", "", "b", ""}));
    EXPECT_EQ(pieces(";"), (V{"", ""}));

    // Byte order with prefixes first.
    EXPECT_TRUE(str_less(str_lit("a/b.wyn"), str_lit("a/c.wyn")));
    EXPECT_FALSE(str_less(str_lit("a/c.wyn"), str_lit("a/b.wyn")));
    EXPECT_TRUE(str_less(str_lit("a"), str_lit("a/b")));   // a prefix first
    EXPECT_FALSE(str_less(str_lit("a/b"), str_lit("a")));
    EXPECT_FALSE(str_less(str_lit("same"), str_lit("same")));
    EXPECT_TRUE(str_less(str_empty(), str_lit("x")));
    // Bytes compare unsigned: UTF-8 letters sort after ASCII ones.
    EXPECT_TRUE(str_less(str_lit("z"), str_lit("\xc3\xa9")));
}

