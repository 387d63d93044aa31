// base/types.h: the fixed-width names every wyn file uses.
//
// Only the standard library is included here, so every layer may include it.
#pragma once
#include <cstddef>
#include <cstdint>

typedef uint8_t u8;
typedef uint16_t u16;
typedef uint32_t u32;
typedef uint64_t u64;
typedef int8_t s8;
typedef int16_t s16;
typedef int32_t s32;
typedef int64_t s64;
typedef u32 b32;
typedef float f32;
typedef double f64;

// The all-ones value: "no deadline", "pending", "not found" wherever a
// 64-bit count is expected.
constexpr u64 u64_max = ~(u64)0;

constexpr u64 KiB(u64 n) { return n << 10; }
constexpr u64 MiB(u64 n) { return n << 20; }
constexpr u64 GiB(u64 n) { return n << 30; }

template <typename T, u64 N>
constexpr u64 array_count(const T (&)[N]) { return N; }

template <typename T>
constexpr T min_of(T a, T b) { return a < b ? a : b; }
template <typename T>
constexpr T max_of(T a, T b) { return a > b ? a : b; }
template <typename T>
constexpr T clamp_of(T lo, T v, T hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Rounds `x` up to a multiple of `align`, which must be a power of two.
constexpr u64 align_up_pow2(u64 x, u64 align) { return (x + align - 1) & ~(align - 1); }

// Appends `node` to a singly linked list that keeps `first` and `last` (a
// bucket, a message list, a string list). Counts are the caller's.
template <typename List, typename Node>
inline void list_append(List *list, Node *node)
{
    node->next = nullptr;
    if (list->last) list->last->next = node;
    else list->first = node;
    list->last = node;
}

// Moves every node of `from` to the end of `to`; `from` is left empty.
template <typename List>
inline void list_join(List *to, List *from)
{
    if (!from->first) return;
    if (to->last) to->last->next = from->first;
    else to->first = from->first;
    to->last = from->last;
    from->first = nullptr;
    from->last = nullptr;
}
