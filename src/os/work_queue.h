// os/work_queue.h: byte-ring message queues, the striped-table shape and the
// atomics that shared records use.
//
// A WorkQueue hands byte messages (paths, in practice) from any number of
// producers to any number of consumers. Its ring is pushed once on the
// owner's arena; a push copies into the ring and allocates nothing, a pop
// copies the payload out onto the consumer's arena. Producers and consumers
// share one critical section and one condition variable, and every push and
// pop wakes everyone, so a producer waiting for room and a consumer waiting
// for data are served by the same broadcast. Any thread may push or pop.
//
// A message that can never fit (payload larger than capacity - 8) is
// refused at once instead of waiting for room that will never come; every
// other push with no deadline succeeds eventually.
//
// StripedTable is the shape of every shared hash table (content cache, file
// table, document table): a bucket array whose locks are spread over fewer
// stripes, each with its own lock, condition variable and arena. The owner
// keeps its typed bucket array beside it; entries are never removed.
#pragma once
#include <atomic>
#include "os/platform.h"

//- atomics on plain fields
//
// Shared records stay plain structs (pushed on arenas, cleared by push);
// the few fields that threads change without a lock go through these.

inline u64 atomic_load_u64(u64 *p) { return std::atomic_ref<u64>(*p).load(std::memory_order_acquire); }
inline void atomic_store_u64(u64 *p, u64 v) { std::atomic_ref<u64>(*p).store(v, std::memory_order_release); }
inline u64 atomic_add_u64(u64 *p, u64 v) { return std::atomic_ref<u64>(*p).fetch_add(v, std::memory_order_acq_rel) + v; }
// What *p held before it was set to `v`.
inline u64 atomic_exchange_u64(u64 *p, u64 v) { return std::atomic_ref<u64>(*p).exchange(v, std::memory_order_acq_rel); }
// True when *p held `expected` and now holds `desired`.
inline bool atomic_cas_u64(u64 *p, u64 expected, u64 desired)
{
    return std::atomic_ref<u64>(*p).compare_exchange_strong(expected, desired, std::memory_order_acq_rel);
}

//- work queues

struct WorkQueue {
    Arena *arena;              // the owner's arena; the ring lives on it
    u8 *buffer;
    u64 capacity;              // a multiple of 8
    u64 write_pos;             // both positions only grow; byte p is buffer[p % capacity]
    u64 read_pos;
    CriticalSection *lock;
    CondVar *condition;
};

constexpr u64 work_queue_default_capacity = KiB(64);
constexpr u64 work_queue_header_size = 8;

// Pushes the ring on `arena`; the capacity is rounded up to a multiple of 8
// and is at least 16. Null when the arena refuses.
WorkQueue *queue_alloc(Arena *arena, u64 capacity = work_queue_default_capacity);
// The largest payload a push can ever write.
inline u64 queue_payload_limit(const WorkQueue *queue) { return queue->capacity - work_queue_header_size; }
// True when written; false when the deadline passed first (the queue is
// unchanged) or the payload can never fit.
bool queue_push(WorkQueue *queue, Str payload, u64 deadline_us);
// Waits without limit for a message; the payload lands on `arena` with a
// NUL after it.
Str queue_pop(WorkQueue *queue, Arena *arena);
// As queue_pop, but gives up at the deadline (false, *out untouched).
bool queue_pop_until(WorkQueue *queue, Arena *arena, u64 deadline_us, Str *out);
void queue_wake(WorkQueue *queue);          // wakes every waiter
u64 queue_used_bytes(WorkQueue *queue);     // a snapshot, for tests and tools

//- striped tables

enum StripeLockKind : u32 {
    StripeLock_Slim = 1,       // a slim reader/writer lock per stripe
    StripeLock_Section = 2,    // a critical section per stripe
};

struct TableStripe {
    SrwLock *slim;             // null unless StripeLock_Slim
    CriticalSection *section;  // null unless StripeLock_Section
    CondVar *condition;
    Arena *arena;              // entries and their copied keys of this stripe's buckets
};

struct StripedTable {
    u64 bucket_count;
    u64 stripe_count;
    TableStripe *stripes;
};

// Fills `table` with `stripe_count` stripes pushed on `arena`, each with the
// locks of `lock_kinds`, a condition variable and an arena of its own whose
// blocks are `stripe_reserve` bytes: size it for what a stripe holds, since
// there are many stripes and each grows by chaining blocks. False when
// memory was refused (the table must not be used).
bool striped_table_init(Arena *arena, StripedTable *table, u64 bucket_count, u64 stripe_count, u32 lock_kinds,
                        u64 stripe_reserve, u64 stripe_commit);
inline u64 striped_bucket_of(const StripedTable *table, u64 hash) { return hash % table->bucket_count; }
inline TableStripe *striped_stripe_of(const StripedTable *table, u64 bucket)
{
    return &table->stripes[bucket % table->stripe_count];
}
