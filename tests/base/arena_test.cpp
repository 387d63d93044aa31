#include <gtest/gtest.h>

#include <cstring>

#include "base/arena.h"

static u64 block_count(Arena *arena)
{
    u64 n = 0;
    for (Arena *b = arena->current; b; b = b->prev) n += 1;
    return n;
}

TEST(Arena, PushesAreAlignedAndBackToBack)
{
    Arena *arena = arena_alloc(KiB(64), KiB(4));
    EXPECT_EQ(arena_pos(arena), arena_header_size);
    u8 *a = (u8 *)arena_push(arena, 3, 1);
    u8 *b = (u8 *)arena_push(arena, 5, 1);
    EXPECT_EQ(b, a + 3);   // alignment 1 packs pushes
    u8 *c = (u8 *)arena_push(arena, 8, 8);
    EXPECT_EQ((uintptr_t)c % 8, 0u);
    EXPECT_EQ(c, a + 8);   // 3 + 5 = 8 is already aligned
    u8 *d = (u8 *)arena_push(arena, 1, 1);
    u8 *e = (u8 *)arena_push(arena, 4, 64);
    EXPECT_EQ((uintptr_t)e % 64, 0u);
    EXPECT_GT(e, d);
    arena_release(arena);
}

TEST(Arena, CommitsAcrossTheCommittedEdge)
{
    Arena *arena = arena_alloc(MiB(1), KiB(4));
    u8 *p = (u8 *)arena_push(arena, KiB(100), 8);
    ASSERT_NE(p, nullptr);
    memset(p, 0xAB, KiB(100));   // every byte is usable
    EXPECT_GE(arena->current->committed, KiB(100) + arena_header_size);
    EXPECT_LE(arena->current->committed, arena->current->reserved);
    arena_release(arena);
}

TEST(Arena, ChainsABlockSizedForAnOversizedPush)
{
    Arena *arena = arena_alloc(KiB(64), KiB(4));
    arena_push(arena, 100, 8);
    u64 size = KiB(200);
    u8 *big = (u8 *)arena_push(arena, size, 8);
    ASSERT_NE(big, nullptr);
    memset(big, 1, size);
    EXPECT_EQ(block_count(arena), 2u);
    Arena *block = arena->current;
    EXPECT_GE(block->reserved, size + arena_header_size);
    // The next small push goes into the same block when it fits there.
    u8 *small = (u8 *)arena_push(arena, 16, 8);
    EXPECT_NE(small, nullptr);
    EXPECT_EQ(arena->current, block);
    EXPECT_EQ(block_count(arena), 2u);
    arena_release(arena);
}

TEST(Arena, ChainedBlocksContinueTheArenaWidePosition)
{
    Arena *arena = arena_alloc(KiB(16), KiB(4));
    Arena *first = arena->current;
    while (arena->current == first) arena_push(arena, 1000, 8);
    EXPECT_EQ(arena->current->base_pos, first->reserved);
    EXPECT_GT(arena_pos(arena), first->reserved);
    arena_release(arena);
}

TEST(Arena, PopIntoAnOlderBlockReleasesNewerBlocks)
{
    Arena *arena = arena_alloc(KiB(16), KiB(4));
    u64 mark = 0;
    for (int i = 0; i < 100; i += 1) {
        arena_push(arena, 1000, 8);
        if (i == 3) mark = arena_pos(arena);
    }
    EXPECT_GT(block_count(arena), 3u);
    arena_pop_to(arena, mark);
    EXPECT_EQ(block_count(arena), 1u);
    EXPECT_EQ(arena_pos(arena), mark);
    arena_clear(arena);
    EXPECT_EQ(arena_pos(arena), arena_header_size);   // popping to 0 stops at 64
    arena_release(arena);
}

TEST(Arena, MemoryReusedAfterAPopIsClearedByTypedPushes)
{
    Arena *arena = arena_alloc(KiB(64), KiB(4));
    ArenaTemp temp = temp_begin(arena);
    u64 *dirty = push_array_no_zero<u64>(arena, 16);
    for (int i = 0; i < 16; i += 1) dirty[i] = ~0ull;
    temp_end(temp);
    u64 *clean = push_array<u64>(arena, 16);
    EXPECT_EQ((void *)clean, (void *)dirty);
    for (int i = 0; i < 16; i += 1) EXPECT_EQ(clean[i], 0u);
    arena_release(arena);
}

TEST(Arena, ManySmallArenasShareFewMappings)
{
    // A large site owns one small arena per document; they must come and go
    // without exhausting the process's mappings.
    Arena *arenas[2000];
    for (int i = 0; i < 2000; i += 1) {
        arenas[i] = arena_alloc(KiB(32), KiB(32));
        ASSERT_NE(arenas[i], nullptr);
        *(u64 *)arena_push(arenas[i], 8, 8) = (u64)i;
    }
    for (int i = 0; i < 2000; i += 1) {
        EXPECT_EQ(*(u64 *)((u8 *)arenas[i] + arena_header_size), (u64)i);
        arena_release(arenas[i]);
    }
    // Released blocks are reused and read as zero again.
    Arena *again = arena_alloc(KiB(32), KiB(32));
    EXPECT_EQ(*(u64 *)((u8 *)again + arena_header_size), 0u);
    arena_release(again);
}

TEST(Scratch, SkipsTheArenaTheCallerReturnsInto)
{
    ArenaTemp outer = scratch_begin(nullptr, 0);
    ArenaTemp inner = scratch_begin(&outer.arena, 1);
    EXPECT_NE(inner.arena, outer.arena);   // else the result gets overwritten
    Arena *both[2] = {outer.arena, inner.arena};
    ArenaTemp none = scratch_begin(both, 2);
    EXPECT_EQ(none.arena, nullptr);
    scratch_end(none);
    scratch_end(inner);
    scratch_end(outer);
}

TEST(Scratch, EndReturnsThePosition)
{
    ArenaTemp t = scratch_begin(nullptr, 0);
    u64 before = arena_pos(t.arena);
    arena_push(t.arena, KiB(10), 8);
    scratch_end(t);
    EXPECT_EQ(arena_pos(t.arena), before);
}

TEST(Arena, TrimGivesPagesBackBeyondTheKeptBytes)
{
    Arena *arena = arena_alloc(MiB(1), KiB(4));
    u64 start = arena_pos(arena);
    u8 *first = (u8 *)arena_push(arena, KiB(512), 1);
    ASSERT_NE(first, nullptr);
    memset(first, 0xAB, KiB(512));
    arena_trim(arena, start, KiB(16));
    EXPECT_EQ(arena_pos(arena), start);
    u8 *again = (u8 *)arena_push(arena, KiB(512), 1);
    ASSERT_EQ(again, first);
    // The kept bytes are still the old ones; past them the pages were
    // returned and come back as zero pages.
    EXPECT_EQ(again[0], 0xAB);
    EXPECT_EQ(again[KiB(8)], 0xAB);
    EXPECT_EQ(again[KiB(64)], 0);
    EXPECT_EQ(again[KiB(511)], 0);
    arena_release(arena);
}
