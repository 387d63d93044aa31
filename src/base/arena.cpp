// base/arena.cpp: arena blocks, pushes, pops and scratch selection.
#include "base/arena.h"

#include <cstdio>
#include <mutex>

//- block memory
//
// A site of 100,000 documents owns 100,000 small arenas. One mapping per
// arena would pass the kernel's limit on mappings per process, so small
// reservations are cut from large slabs and recycled through free lists per
// size class; only large reservations get a mapping of their own.

namespace {

constexpr u64 pool_min_class = KiB(16);
constexpr u64 pool_max_class = MiB(4);
// 64 MiB: a site of 100,000 documents (256 KiB each) needs some 400 slabs,
// far below the mapping limit, while a small site under an address-space
// limit does not give a quarter of a gigabyte to its first few arenas.
constexpr u64 pool_slab_size = MiB(64);
constexpr u32 pool_class_count = 9;   // 16 KiB .. 4 MiB

struct PoolFree {
    PoolFree *next;
};

struct BlockPool {
    std::mutex lock;
    u8 *slab;
    u64 slab_used;
    PoolFree *free[pool_class_count];
};

BlockPool &block_pool()
{
    static BlockPool pool;   // constant-initialised: no start-up order trap
    return pool;
}

u32 pool_class_of(u64 size)
{
    u32 index = 0;
    for (u64 c = pool_min_class; c < size; c <<= 1) index += 1;
    return index;
}

u64 pool_class_size(u32 index) { return pool_min_class << index; }

// Rounds a reservation to what the block source will really hand out.
u64 block_round(u64 size)
{
    if (size <= pool_max_class) return pool_class_size(pool_class_of(size));
    return size;
}

void *block_reserve(u64 size)
{
    if (size > pool_max_class) return os_memory_reserve(size);
    BlockPool &pool = block_pool();
    u32 index = pool_class_of(size);
    u64 class_size = pool_class_size(index);
    std::lock_guard<std::mutex> guard(pool.lock);
    if (pool.free[index]) {
        PoolFree *block = pool.free[index];
        pool.free[index] = block->next;
        block->next = nullptr;
        return block;
    }
    if (!pool.slab || pool.slab_used + class_size > pool_slab_size) {
        // The tail of the old slab is abandoned: at most 4 MiB of address
        // space, never touched, so it costs no memory.
        u8 *slab = (u8 *)os_memory_reserve(pool_slab_size);
        // Under an address-space limit a whole slab may be refused where one
        // block still fits. A block of its own mapping recycles through the
        // free list like any other: it is never unmapped.
        if (!slab) return os_memory_reserve(class_size);
        pool.slab = slab;
        pool.slab_used = 0;
    }
    void *result = pool.slab + pool.slab_used;
    pool.slab_used += class_size;
    return result;
}

void block_release(void *base, u64 size)
{
    if (size > pool_max_class) {
        os_memory_release(base, size);
        return;
    }
    // Give the pages back before recycling, so a released document arena
    // stops counting against the process's memory.
    os_memory_reset(base, size);
    BlockPool &pool = block_pool();
    u32 index = pool_class_of(size);
    std::lock_guard<std::mutex> guard(pool.lock);
    PoolFree *block = (PoolFree *)base;
    block->next = pool.free[index];
    pool.free[index] = block;
}

u64 rounding_unit()
{
    u64 large = os_memory_large_page_size();
    return large ? large : 4096;
}

// A reservation is a guess at how far the block will grow, not a need: when
// the system refuses it (an address-space limit, strict overcommit), a
// smaller block down to `minimum` serves as well, and the arena chains more
// of them. Null only when not even `minimum` can be had.
Arena *block_create(u64 reserve, u64 commit, u64 minimum, u64 requested_reserve, u64 requested_commit)
{
    u64 unit = rounding_unit();
    reserve = block_round(align_up_pow2(max_of<u64>(reserve, arena_header_size), unit));
    minimum = block_round(align_up_pow2(max_of<u64>(minimum, arena_header_size), unit));
    if (minimum > reserve) minimum = reserve;
    void *base = block_reserve(reserve);
    // Not the largest block that still fits: that would leave nothing for
    // the next arena or thread stack. Step down to a modest block, then
    // halve while even that is refused.
    u64 next = min_of<u64>(reserve / 2, arena_fallback_block);
    while (!base && reserve > minimum) {
        reserve = max_of<u64>(block_round(align_up_pow2(next, unit)), minimum);
        base = block_reserve(reserve);
        next = reserve / 2;
    }
    if (!base) return nullptr;
    if (reserve < requested_reserve) requested_reserve = reserve;
    commit = align_up_pow2(max_of<u64>(commit, arena_header_size), unit);
    commit = align_up_pow2(commit, os_memory_page_size());
    if (commit > reserve) commit = reserve;
    os_memory_commit(base, commit);
    Arena *block = (Arena *)base;
    block->prev = nullptr;
    block->current = block;
    block->flags = 0;
    block->commit_size = (u32)min_of<u64>(requested_commit, 0xFFFFFFFFu);
    block->reserve_size = requested_reserve;
    block->base_pos = 0;
    block->pos = arena_header_size;
    block->committed = commit;
    block->reserved = reserve;
    return block;
}

} // namespace

//- arena lifetime

Arena *arena_alloc(u64 reserve_size, u64 commit_size)
{
    if (reserve_size == 0) reserve_size = arena_default_reserve;
    if (commit_size == 0) commit_size = arena_default_commit;
    return block_create(reserve_size, commit_size, min_of<u64>(reserve_size, arena_min_block), reserve_size,
                        commit_size);
}

void arena_release(Arena *arena)
{
    if (!arena) return;
    Arena *block = arena->current;
    while (block) {
        Arena *prev = block->prev;
        block_release(block, block->reserved);
        block = prev;
    }
}

void arena_report_refused(const char *what, u64 size)
{
    static const char *const units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    double shown = (double)size;
    u32 unit = 0;
    while (shown >= 1024.0 && unit + 1 < array_count(units)) {
        shown /= 1024.0;
        unit += 1;
    }
    // One write, so messages of two threads do not interleave mid-line.
    char line[256];
    if (size == 0) snprintf(line, sizeof(line), "wyn: out of address space: cannot reserve memory for %s\n", what);
    else if (unit == 0) snprintf(line, sizeof(line), "wyn: out of address space: cannot reserve %llu bytes for %s\n",
                            (unsigned long long)size, what);
    else snprintf(line, sizeof(line), "wyn: out of address space: cannot reserve %.1f %s for %s\n", shown,
                  units[unit], what);
    fputs(line, stderr);
    fflush(stderr);
}

//- pushes and pops

void *arena_push_grow(Arena *arena, u64 size, u64 align)
{
    if (!arena) return nullptr;
    if (align == 0) align = 1;
    Arena *block = arena->current;
    u64 start = align_up_pow2(block->pos, align);
    u64 end = start + size;
    if (end > block->reserved || end < start) {
        u64 reserve = arena->reserve_size;
        u64 commit = arena->commit_size;
        // Pushes larger than the arena's reservation get a block sized for
        // them; the extra alignment keeps an over-aligned push from missing.
        u64 needed = size + arena_header_size + (align > arena_header_size ? align : 0);
        if (needed < size) return nullptr;   // wrapped: no block can hold it
        if (needed > reserve) {
            reserve = needed;
            commit = needed;
        }
        Arena *fresh = block_create(reserve, commit, max_of<u64>(needed, arena_min_block), arena->reserve_size,
                                    arena->commit_size);
        if (!fresh) return nullptr;
        // A block cut short by the system sets the size of the ones after
        // it, so later blocks do not ask again for what was refused.
        if (fresh->reserve_size < arena->reserve_size) arena->reserve_size = fresh->reserve_size;
        fresh->base_pos = block->base_pos + block->reserved;
        fresh->prev = block;
        arena->current = fresh;
        block = fresh;
        start = align_up_pow2(block->pos, align);
        end = start + size;
    }
    if (end > block->committed) {
        u64 step = block->commit_size ? block->commit_size : 4096;
        u64 target = end + step - 1;
        target -= target % step;
        if (target > block->reserved) target = block->reserved;
        os_memory_commit((u8 *)block + block->committed, target - block->committed);
        block->committed = target;
    }
    if (block->committed < end) return nullptr;
    block->pos = end;
    return (u8 *)block + start;
}

void arena_pop_to(Arena *arena, u64 pos)
{
    if (!arena) return;
    if (pos < arena_header_size) pos = arena_header_size;
    Arena *block = arena->current;
    while (block->base_pos >= pos && block->prev) {
        Arena *prev = block->prev;
        block_release(block, block->reserved);
        block = prev;
    }
    arena->current = block;
    u64 local = pos - block->base_pos;
    if (local < arena_header_size) local = arena_header_size;
    if (local < block->pos) block->pos = local;
}

void arena_trim(Arena *arena, u64 pos, u64 keep)
{
    if (!arena) return;
    arena_pop_to(arena, pos);
    Arena *block = arena->current;
    u64 page = os_memory_page_size();
    u64 from = align_up_pow2(block->pos + keep, page);
    if (from >= block->committed) return;
    os_memory_reset((u8 *)block + from, block->committed - from);
    block->committed = from;
}

void arena_pop(Arena *arena, u64 amount)
{
    u64 pos = arena_pos(arena);
    arena_pop_to(arena, amount < pos ? pos - amount : 0);
}

//- temporary positions and scratch

ArenaTemp temp_begin(Arena *arena)
{
    ArenaTemp temp = {arena, arena ? arena_pos(arena) : 0};
    return temp;
}

void temp_end(ArenaTemp temp)
{
    if (temp.arena) arena_pop_to(temp.arena, temp.pos);
}

ArenaTemp scratch_begin(Arena **conflicts, u64 count)
{
    Arena **scratch = os_thread_scratch_arenas();
    for (u32 i = 0; i < 2; i += 1) {
        bool conflicting = false;
        for (u64 j = 0; j < count; j += 1) {
            if (conflicts[j] == scratch[i]) {
                conflicting = true;
                break;
            }
        }
        if (!conflicting) return temp_begin(scratch[i]);
    }
    ArenaTemp none = {nullptr, 0};
    return none;
}
