// os/work_queue.cpp: byte-ring message queues and striped tables.
#include "os/work_queue.h"

//- ring copies

// Copies `size` bytes into the ring at position `pos`, in two pieces when
// the run crosses the end of the buffer.
static void ring_write(WorkQueue *queue, u64 pos, const void *bytes, u64 size)
{
    u64 at = pos % queue->capacity;
    u64 first = min_of<u64>(size, queue->capacity - at);
    memcpy(queue->buffer + at, bytes, first);
    if (first < size) memcpy(queue->buffer, (const u8 *)bytes + first, size - first);
}

static void ring_read(WorkQueue *queue, u64 pos, void *bytes, u64 size)
{
    u64 at = pos % queue->capacity;
    u64 first = min_of<u64>(size, queue->capacity - at);
    memcpy(bytes, queue->buffer + at, first);
    if (first < size) memcpy((u8 *)bytes + first, queue->buffer, size - first);
}

//- work queues

WorkQueue *queue_alloc(Arena *arena, u64 capacity)
{
    capacity = align_up_pow2(max_of<u64>(capacity, 2 * work_queue_header_size), 8);
    WorkQueue *queue = push_struct<WorkQueue>(arena);
    if (!queue) return nullptr;
    queue->arena = arena;
    queue->buffer = push_array_no_zero<u8>(arena, capacity);
    if (!queue->buffer) return nullptr;
    queue->capacity = capacity;
    queue->lock = cs_alloc();
    queue->condition = cv_alloc();
    return queue;
}

bool queue_push(WorkQueue *queue, Str payload, u64 deadline_us)
{
    // Waiting for room that can never appear would block the producer for
    // ever; refuse at once and let the caller report it.
    if (payload.size > queue_payload_limit(queue)) return false;
    cs_enter(queue->lock);
    for (;;) {
        u64 free_bytes = queue->capacity - (queue->write_pos - queue->read_pos);
        if (free_bytes >= work_queue_header_size + payload.size) break;
        if (deadline_us != u64_max && now_us() >= deadline_us) {
            cs_leave(queue->lock);
            return false;
        }
        wait_cs(queue->condition, queue->lock, deadline_us);
    }
    u64 header = payload.size;
    ring_write(queue, queue->write_pos, &header, sizeof(header));
    queue->write_pos += work_queue_header_size;
    ring_write(queue, queue->write_pos, payload.str, payload.size);
    // Rounding keeps every header 8-aligned, so a header never straddles
    // the end of the ring and free space stays a multiple of 8: a payload
    // that passed the room test above always fits with its padding.
    queue->write_pos = align_up_pow2(queue->write_pos + payload.size, 8);
    cs_leave(queue->lock);
    cv_broadcast(queue->condition);
    return true;
}

// Takes one message; the caller holds the lock and has seen a header.
static Str queue_take(WorkQueue *queue, Arena *arena)
{
    u64 size = 0;
    ring_read(queue, queue->read_pos, &size, sizeof(size));
    queue->read_pos += work_queue_header_size;
    char *bytes = push_array_no_zero<char>(arena, size + 1);
    Str result = str_empty();
    if (bytes) {
        ring_read(queue, queue->read_pos, bytes, size);
        bytes[size] = 0;
        result = Str{bytes, size};
    }
    // The message leaves the ring even when the arena refused: a payload
    // left behind would be read again as a header.
    queue->read_pos = align_up_pow2(queue->read_pos + size, 8);
    return result;
}

Str queue_pop(WorkQueue *queue, Arena *arena)
{
    Str result = str_empty();
    queue_pop_until(queue, arena, u64_max, &result);
    return result;
}

bool queue_pop_until(WorkQueue *queue, Arena *arena, u64 deadline_us, Str *out)
{
    cs_enter(queue->lock);
    while (queue->write_pos - queue->read_pos < work_queue_header_size) {
        if (deadline_us != u64_max && now_us() >= deadline_us) {
            cs_leave(queue->lock);
            return false;
        }
        wait_cs(queue->condition, queue->lock, deadline_us);
    }
    *out = queue_take(queue, arena);
    cs_leave(queue->lock);
    cv_broadcast(queue->condition);
    return true;
}

void queue_wake(WorkQueue *queue) { cv_broadcast(queue->condition); }

u64 queue_used_bytes(WorkQueue *queue)
{
    cs_enter(queue->lock);
    u64 used = queue->write_pos - queue->read_pos;
    cs_leave(queue->lock);
    return used;
}

//- striped tables

bool striped_table_init(Arena *arena, StripedTable *table, u64 bucket_count, u64 stripe_count, u32 lock_kinds,
                        u64 stripe_reserve, u64 stripe_commit)
{
    table->bucket_count = max_of<u64>(bucket_count, 1);
    table->stripe_count = clamp_of<u64>(1, stripe_count, table->bucket_count);
    table->stripes = push_array<TableStripe>(arena, table->stripe_count);
    if (!table->stripes) {
        table->stripe_count = 0;
        return false;
    }
    for (u64 i = 0; i < table->stripe_count; i += 1) {
        TableStripe *stripe = &table->stripes[i];
        if (lock_kinds & StripeLock_Slim) stripe->slim = srw_alloc();
        if (lock_kinds & StripeLock_Section) stripe->section = cs_alloc();
        stripe->condition = cv_alloc();
        stripe->arena = arena_alloc(stripe_reserve, stripe_commit);
        if (!stripe->arena) return false;
    }
    return true;
}
