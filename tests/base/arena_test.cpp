#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/arena.h"
#include "sanitized.h"

static u64 block_count(Arena *arena)
{
    u64 n = 0;
    for (Arena *b = arena->current; b; b = b->prev) n += 1;
    return n;
}

TEST(Arena, PushesAreAlignedAndBackToBackAndPopsMoveThePositionExactly)
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

    Arena *popped = arena_alloc(KiB(64), KiB(4));
    u64 start = arena_pos(popped);
    arena_push(popped, 100, 1);
    u64 mark = arena_pos(popped);
    EXPECT_EQ(mark, start + 100);
    arena_push(popped, 300, 1);
    arena_pop_to(popped, mark);
    EXPECT_EQ(arena_pos(popped), mark);
    arena_pop(popped, 40);
    EXPECT_EQ(arena_pos(popped), mark - 40);
    u8 *next = (u8 *)arena_push(popped, 1, 1);
    EXPECT_EQ(next, (u8 *)popped + (mark - 40));   // the very byte popped
    arena_pop_to(popped, mark + 500);   // above the position: nothing moves
    EXPECT_EQ(arena_pos(popped), mark - 39);
    arena_clear(popped);
    EXPECT_EQ(arena_pos(popped), arena_header_size);   // popping to 0 stops at 64
    arena_release(popped);
}

TEST(Arena, ChainsABlockForAnOversizedPushAndSmallArenasShareFewMappings)
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

// Whether any page of [p, p + size) is still mapped in this process.
static bool is_mapped(void *p, u64 size)
{
    return msync(p, size, MS_ASYNC) == 0 || errno != ENOMEM;
}

TEST(Arena, RollingBackAcrossBlockBoundariesReturnsToTheFirstBlockAndFreesTheOthers)
{
    // Blocks this large are mappings of their own, so "freed" is visible.
    Arena *arena = arena_alloc(MiB(8), KiB(64));
    Arena *first = arena->current;
    arena_push(arena, MiB(5), 8);
    u64 inside_first = arena_pos(arena);
    u8 *later = (u8 *)arena_push(arena, MiB(5), 8);   // does not fit: a second block
    ASSERT_NE(later, nullptr);
    Arena *second = arena->current;
    ASSERT_NE(second, first);
    EXPECT_EQ(second->base_pos, first->reserved);   // positions go on across blocks
    memset(later, 7, MiB(5));
    u64 second_size = second->reserved;
    ASSERT_TRUE(is_mapped(second, second_size));
    arena_push(arena, MiB(5), 8);   // and a third block
    ASSERT_EQ(block_count(arena), 3u);

    arena_pop_to(arena, inside_first);
    EXPECT_EQ(arena->current, first);
    EXPECT_EQ(block_count(arena), 1u);
    EXPECT_EQ(arena_pos(arena), inside_first);
    EXPECT_FALSE(is_mapped(second, second_size));   // given back, not kept

    // Exactly at the boundary: the position where the second block began
    // belongs to the end of the first.
    arena_push(arena, MiB(5), 8);
    ASSERT_EQ(block_count(arena), 2u);
    u64 boundary = arena->current->base_pos;
    arena_pop_to(arena, boundary);
    EXPECT_EQ(block_count(arena), 1u);
    EXPECT_EQ(arena->current, first);
    EXPECT_LE(arena_pos(arena), boundary);   // the first block's unused tail is not claimed
    arena_release(arena);

    // A block rounded down below its request would hand out memory past
    // its end: fill each one to its last byte.
    for (u64 reserve : {KiB(16), KiB(16) + 1, KiB(40), KiB(64), MiB(1) - 100, MiB(4), MiB(4) + 1}) {
        Arena *arena = arena_alloc(reserve, KiB(4));
        ASSERT_NE(arena, nullptr);
        EXPECT_GE(arena->reserved, reserve) << reserve;
        // A request of exactly a class size costs that class, not the next.
        if ((reserve & (reserve - 1)) == 0) {
            EXPECT_EQ(arena->reserved, reserve) << reserve;
        }
        u64 room = arena->reserved - arena_header_size;
        u8 *all = (u8 *)arena_push(arena, room, 1);
        ASSERT_NE(all, nullptr);
        memset(all, 0x5A, room);
        EXPECT_EQ(block_count(arena), 1u) << reserve;
        arena_release(arena);
    }
}

// Runs `body` in a child process whose address space may grow by only
// `room` bytes more; the child's exit code is the result (0: all held).
template <typename Body>
static int with_address_room(u64 room, Body body)
{
    pid_t pid = fork();
    if (pid == 0) {
        u64 pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        u64 used = pages * (u64)sysconf(_SC_PAGESIZE);
        struct rlimit limit = {(rlim_t)(used + room), (rlim_t)(used + room)};
        if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(100);
        _exit(body());
    }
    int status = 0;
    // The child only reserves and pushes: it ends at once or not at all.
    for (int i = 0; i < 6000 && waitpid(pid, &status, WNOHANG) == 0; i += 1) usleep(10000);
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return 101;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200 + WTERMSIG(status);
}

TEST(Arena, ARefusedReservationFallsBackToSmallerBlocks)
{
    if (WYN_SANITIZED) GTEST_SKIP() << "sanitizer shadow memory does not fit an address-space limit";
    int result = with_address_room(MiB(256), [] {
        // Gigabytes asked, a quarter of one allowed: the arena still works.
        Arena *arena = arena_alloc(GiB(8), KiB(4));
        if (!arena) return 1;
        if (arena->reserved >= MiB(256)) return 2;
        Arena *first = arena->current;
        for (int i = 0; i < 64; i += 1) {   // 64 MiB in all: chains blocks
            u8 *p = (u8 *)arena_push(arena, MiB(1), 8);
            if (!p) return 3;
            p[MiB(1) - 1] = 1;
        }
        if (arena->current == first) return 4;
        // Later blocks do not ask again for what was refused.
        if (arena->current->reserve_size > arena_fallback_block) return 5;
        // A push that cannot fit anywhere fails cleanly and changes nothing.
        u64 pos = arena_pos(arena);
        if (arena_push(arena, GiB(1), 8) != nullptr) return 6;
        if (arena_pos(arena) != pos) return 7;
        return 0;
    });
    EXPECT_EQ(result, 0) << "1: refused outright, 2: no smaller block, 3: a chained push failed, 4: never chained, "
                            "5: later blocks ask for gigabytes again, 6/7: an impossible push, 2xx: a signal";
}

TEST(Arena, MemoryReusedAfterAPopIsClearedAndATrimGivesPagesBack)
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

    // A trim gives pages back beyond the kept bytes.
    Arena *trimmed = arena_alloc(MiB(1), KiB(4));
    u64 start = arena_pos(trimmed);
    u8 *first = (u8 *)arena_push(trimmed, KiB(512), 1);
    ASSERT_NE(first, nullptr);
    memset(first, 0xAB, KiB(512));
    arena_trim(trimmed, start, KiB(16));
    EXPECT_EQ(arena_pos(trimmed), start);
    u8 *again = (u8 *)arena_push(trimmed, KiB(512), 1);
    ASSERT_EQ(again, first);
    // The kept bytes are still the old ones; past them the pages were
    // returned and come back as zero pages.
    EXPECT_EQ(again[0], 0xAB);
    EXPECT_EQ(again[KiB(8)], 0xAB);
    EXPECT_EQ(again[KiB(64)], 0);
    EXPECT_EQ(again[KiB(511)], 0);
    arena_release(trimmed);
}

TEST(Scratch, SkipsTheArenaTheCallerReturnsInto)
{
    ArenaTemp outer = scratch_begin(nullptr, 0);
    ArenaTemp inner = scratch_begin(&outer.arena, 1);
    EXPECT_NE(inner.arena, outer.arena);   // else the result gets overwritten
    ASSERT_NE(inner.arena, nullptr);       // the second scratch arena, not none
    EXPECT_NE(arena_push(inner.arena, KiB(10), 8), nullptr);
    ArenaTemp again = scratch_begin(&outer.arena, 1);
    EXPECT_EQ(again.arena, inner.arena);   // the same one each time: it is the thread's
    scratch_end(again);
    Arena *both[2] = {outer.arena, inner.arena};
    ArenaTemp none = scratch_begin(both, 2);
    EXPECT_EQ(none.arena, nullptr);
    scratch_end(none);
    scratch_end(inner);
    EXPECT_EQ(arena_pos(inner.arena), inner.pos);   // the end gives the pushes back
    scratch_end(outer);
}

