// test-label: concurrency
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

#include "os/content_cache.h"
#include "os_support.h"

// Bytes on an arena of their own, as a streamer hands them over.
static Str loaded_bytes(const std::string &text, Arena **out_arena)
{
    Arena *arena = arena_alloc(text.size() + 4096, KiB(4));
    char *bytes = push_array_no_zero<char>(arena, text.size() + 1);
    memcpy(bytes, text.data(), text.size());
    bytes[text.size()] = 0;
    *out_arena = arena;
    return Str{bytes, text.size()};
}

// Puts bytes loaded onto an arena of their own, handing over that arena.
static ContentKey put_loaded(const std::string &text)
{
    Arena *arena = nullptr;
    Str bytes = loaded_bytes(text, &arena);
    return content_put(bytes, arena);
}

TEST(ContentCache, IdenticalBytesShareOneEntryAndKeysFindTheirOwnBytes)
{
    content_cache_create();
    u64 before = content_entry_count();
    Arena *a1 = nullptr, *a2 = nullptr;
    Str first = loaded_bytes("identical bytes", &a1);
    Str second = loaded_bytes("identical bytes", &a2);
    ContentKey k1 = content_put(first, a1);
    ContentKey k2 = content_put(second, a2);
    EXPECT_TRUE(content_key_eq(k1, k2));
    EXPECT_EQ(content_entry_count(), before + 1);
    Str cached = content_get(k1);
    EXPECT_EQ(cached.str, first.str);   // the first copy is the one kept
    EXPECT_EQ(s(cached), "identical bytes");
    // The released arena's block is handed out again to the next arena of
    // its size: it no longer belongs to the cache.
    Arena *again = arena_alloc(std::string("identical bytes").size() + 4096, KiB(4));
    EXPECT_EQ((void *)again, (void *)a2);
    arena_release(again);

    ContentKey one = put_loaded("version one");
    ContentKey two = put_loaded("version two");
    EXPECT_FALSE(content_key_eq(one, two));
    EXPECT_EQ(s(content_get(one)), "version one");   // the old content stays readable
    EXPECT_EQ(s(content_get(two)), "version two");
    EXPECT_TRUE(content_key_eq(one, content_key_of(str_lit("version one"))));
    EXPECT_EQ(content_get(content_key_of(str_lit("never stored anywhere"))).size, 0u);
    EXPECT_EQ(content_get(ContentKey{}).size, 0u);
    // Empty content is an entry, under a key that is not zero.
    ContentKey empty = content_put(str_empty(), nullptr);
    EXPECT_FALSE(content_key_is_zero(empty));
    EXPECT_TRUE(content_key_eq(empty, content_put(str_empty(), nullptr)));
    // One bucket (the second half), two keys; an insert keeps what is there.
    ContentKey a = {{1, 0x777}}, b = {{2, 0x777}};
    content_insert(a, str_lit("a"));
    content_insert(b, str_lit("b"));
    content_insert(a, str_lit("second"));
    EXPECT_EQ(s(content_get(a)), "a");
    EXPECT_EQ(s(content_get(b)), "b");
}

TEST(ContentCacheDeathTest, LargeContentIsReadOnly)
{
    content_cache_create();
    std::string big(content_protect_min_size + 100, 'x');
    Arena *arena = nullptr;
    Str bytes = loaded_bytes(big, &arena);
    ContentKey key = content_put(bytes, arena);
    Str cached = content_get(key);
    ASSERT_EQ(cached.size, big.size());
    EXPECT_EQ(cached.str[cached.size - 1], 'x');   // still readable
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // A stray write into shared bytes faults at once instead of silently
    // changing every reader's view.
    EXPECT_DEATH(((volatile char *)cached.str)[10] = 'y', "");
}

TEST(ContentCache, ConcurrentPutsOfTheSameBytesKeepOneEntry)
{
    // Streamers that load identical files race to file them. Round after
    // round the threads put the same bytes at once, so the first puts of a
    // round really overlap inside content_put: a missing lock shows as a
    // second entry (and as a data race under TSan).
    constexpr u64 threads = 4, rounds = 200;
    static Str copies[threads][rounds];
    static Arena *arenas[threads][rounds];
    static ContentKey results[threads][rounds];
    content_cache_create();
    u64 before = content_entry_count();
    for (u64 t = 0; t < threads; t += 1)
        for (u64 r = 0; r < rounds; r += 1) copies[t][r] = loaded_bytes("raced round " + std::to_string(r), &arenas[t][r]);
    ASSERT_TRUE(test_rounds(threads, rounds, [](u64 t, u64 r) { results[t][r] = content_put(copies[t][r], arenas[t][r]); }))
        << "the putting threads never all met or finished";
    EXPECT_EQ(content_entry_count(), before + rounds);
    for (u64 r = 0; r < rounds; r += 1) {
        std::string text = "raced round " + std::to_string(r);
        ContentKey expected = content_key_of(as_str(text));
        EXPECT_EQ(s(content_get(expected)), text);
        for (u64 t = 0; t < threads; t += 1) EXPECT_TRUE(content_key_eq(results[t][r], expected));
    }
}

TEST(ContentCache, TheLastDropReleasesTheEntryAndPutsOfTheSameBytesCountAsHolds)
{
    content_cache_create();
    u64 entries = content_entry_count();
    u64 released = content_released_count();
    ContentKey key = put_loaded("held twice");
    put_loaded("held twice");   // a second file with the same bytes
    Str reader = content_hold(key);
    EXPECT_EQ(s(reader), "held twice");
    content_drop(key);
    content_drop(key);
    EXPECT_EQ(s(content_get(key)), "held twice");   // the reader still holds it
    EXPECT_EQ(content_released_count(), released);
    content_drop(key);
    EXPECT_EQ(content_get(key).size, 0u);
    EXPECT_EQ(content_entry_count(), entries);
    EXPECT_EQ(content_released_count(), released + 1);
    // A released key is gone: holding it gives nothing, dropping it again
    // does nothing, and the same bytes loaded later make a new entry.
    EXPECT_EQ(content_hold(key).size, 0u);
    content_drop(key);
    put_loaded("held twice");
    EXPECT_EQ(s(content_get(key)), "held twice");
    content_drop(key);

    // Bytes filed for ever and empty content ignore drops.
    ContentKey forever = {{0x4242, 0x4343}};
    content_insert(forever, str_lit("for ever"));
    content_drop(forever);
    content_drop(forever);
    EXPECT_EQ(s(content_get(forever)), "for ever");
    ContentKey empty = content_put(str_empty(), nullptr);
    content_drop(empty);
    EXPECT_TRUE(content_key_eq(content_put(str_empty(), nullptr), empty));
    EXPECT_EQ(content_released_count(), released + 2);
}

TEST(ContentCache, ConcurrentHoldsAndDropsReleaseExactlyOnce)
{
    // Readers hold and drop one key while the file's own hold goes in the
    // same round: the entry must be released once, after the last drop, and
    // never while a reader reads it (ASan and TSan watch the reads).
    constexpr u64 threads = 4, rounds = 300;
    static ContentKey keys[rounds];
    static std::atomic<u64> bad_reads{0};
    content_cache_create();
    u64 released = content_released_count();
    for (u64 r = 0; r < rounds; r += 1) keys[r] = put_loaded("shared round " + std::to_string(r));
    ASSERT_TRUE(test_rounds(threads, rounds, [](u64 t, u64 r) {
        // Thread 0 stands for the file service giving up its hold.
        if (t == 0) return content_drop(keys[r]);
        Str bytes = content_hold(keys[r]);
        if (bytes.size && s(bytes) != "shared round " + std::to_string(r)) bad_reads.fetch_add(1);
        if (bytes.size) content_drop(keys[r]);
    })) << "the threads never all met or finished";
    EXPECT_EQ(bad_reads.load(), 0u);
    EXPECT_EQ(content_released_count(), released + rounds);
    for (u64 r = 0; r < rounds; r += 1) EXPECT_EQ(content_get(keys[r]).size, 0u);
}
