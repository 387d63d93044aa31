// base/arena.h: linear arenas, the only allocator in wyn.
//
// A push is a pointer bump inside a large reservation; memory is committed
// as pushes reach it. Nothing is freed object by object: an owner rolls its
// arena back (a document at each rebuild) and scratch is popped by position.
// An arena belongs to one thread at a time.
//
// A reservation is a block size, not a limit: pushes past it chain another
// block. When the system refuses a reservation (an address-space limit such
// as `ulimit -v`, or strict overcommit, where even untouched reservations
// count), the block is made smaller: 16 MiB, then halved down to 64 KiB or
// what one push needs.
// arena_alloc returns null, and arena_push null, only when not even that can
// be had; callers treat a null push as an empty result, and say what failed
// with arena_report_refused where the failure matters.
//
// An arena is a chain of blocks. Each block starts with its 64-byte header,
// so the first usable position of a block is 64; positions are arena-wide
// (a block's base position plus the offset inside it).
#pragma once
#include <cstring>
#include "base/types.h"

struct Arena {
    Arena *prev;          // the block before this one (null for the first block)
    Arena *current;       // first block: the newest block; other blocks: themselves
    u32 flags;            // always 0
    u32 commit_size;      // commit granularity requested for this block
    u64 reserve_size;     // reserve size requested at arena_alloc; new blocks inherit it
    u64 base_pos;         // arena-wide position at which this block starts
    u64 pos;              // next free byte inside this block, starts at 64
    u64 committed;        // bytes of this block counted as committed
    u64 reserved;         // bytes of this block that are reserved
};
static_assert(sizeof(Arena) == 64, "the block header is 64 bytes");

struct ArenaTemp {
    Arena *arena;
    u64 pos;
};

constexpr u64 arena_header_size = 64;
constexpr u64 arena_default_reserve = MiB(64);
constexpr u64 arena_default_commit = KiB(64);
// The smallest block an arena falls back to when the system refuses the
// reservation it asked for.
constexpr u64 arena_min_block = KiB(64);
// The first smaller size tried after a refusal.
constexpr u64 arena_fallback_block = MiB(16);

//- arena lifetime and pushes

Arena *arena_alloc(u64 reserve_size = arena_default_reserve, u64 commit_size = arena_default_commit);
void arena_release(Arena *arena);
// A push that needs a new block or more committed pages; any push may.
void *arena_push_grow(Arena *arena, u64 size, u64 align);
// Bytes are not cleared. A page takes tens of thousands of pushes, nearly
// all of which fit where the current block is committed: that case is
// inline, and costs no call.
inline void *arena_push(Arena *arena, u64 size, u64 align)
{
    if (arena) {
        Arena *block = arena->current;
        u64 start = align_up_pow2(block->pos, align ? align : 1);
        u64 end = start + size;
        if (end <= block->committed && end >= start) {
            block->pos = end;
            return (u8 *)block + start;
        }
    }
    return arena_push_grow(arena, size, align);
}
inline u64 arena_pos(Arena *arena)
{
    Arena *block = arena->current;
    return block->base_pos + block->pos;
}
void arena_pop_to(Arena *arena, u64 pos);
void arena_pop(Arena *arena, u64 amount);
// Rolls back to `pos` like arena_pop_to, and gives the pages of the current
// block beyond `pos` + `keep` back to the system: an arena that sits idle
// (a built document's) then costs its kept bytes, not its high-water mark.
void arena_trim(Arena *arena, u64 pos, u64 keep);
inline void arena_clear(Arena *arena) { arena_pop_to(arena, 0); }

// Typed pushes clear the records: memory reused after a pop is not zero.
template <typename T>
T *push_array(Arena *arena, u64 count)
{
    void *p = arena_push(arena, sizeof(T) * count, alignof(T) < 8 ? 8 : alignof(T));
    if (p) memset(p, 0, sizeof(T) * count);
    return (T *)p;
}
template <typename T>
T *push_array_no_zero(Arena *arena, u64 count)
{
    return (T *)arena_push(arena, sizeof(T) * count, alignof(T) < 8 ? 8 : alignof(T));
}
template <typename T>
T *push_struct(Arena *arena) { return push_array<T>(arena, 1); }

// Tells the user on standard error which reservation the system refused,
// e.g. "wyn: out of address space: cannot reserve 8.0 GiB for the file
// table"; a size of 0 leaves the size out. Callers then take their own
// failure path.
void arena_report_refused(const char *what, u64 size);

//- temporary positions and scratch

ArenaTemp temp_begin(Arena *arena);
void temp_end(ArenaTemp temp);

// Takes one of the calling thread's two scratch arenas that is not among
// `conflicts`. Pass the arena you return into, so scratch never aliases it.
// With both scratch arenas in conflict the result has a null arena.
ArenaTemp scratch_begin(Arena **conflicts, u64 count);
inline ArenaTemp scratch_begin(Arena *conflict)
{
    return scratch_begin(&conflict, conflict ? 1 : 0);
}
inline void scratch_end(ArenaTemp temp) { temp_end(temp); }

//- provided by the platform backend (os/)
//
// Base code needs virtual memory and the thread's scratch arenas but may not
// include the platform layer, so the backend supplies these at link time.

void *os_memory_reserve(u64 size);                 // null on failure; memory reads as zero
void os_memory_commit(void *base, u64 size);       // may be bookkeeping only
void os_memory_reset(void *base, u64 size);        // returned to zero pages; the range must be writable
void os_memory_release(void *base, u64 size);
u64 os_memory_page_size(void);
u64 os_memory_large_page_size(void);               // 0 when the system has none
Arena **os_thread_scratch_arenas(void);            // two arenas; creates the context when missing
