// test-label: concurrency
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "os/work_queue.h"
#include "os_support.h"

// A pop that fails the test, rather than hanging it, when no message comes.
static Str pop(WorkQueue *q, Arena *arena)
{
    Str out = str_lit("<no message>");
    EXPECT_TRUE(queue_pop_within(q, arena, &out)) << "no message arrived within " << test_wait_seconds << " s";
    return out;
}

struct QueueTest : ::testing::Test {
    Arena *arena = arena_alloc(MiB(4), KiB(4));
    ~QueueTest() override { arena_release(arena); }
};

//- ring layout

TEST_F(QueueTest, AHeaderEightBytesBeforeTheEndWritesItsPayloadFromTheStart)
{
    WorkQueue *q = queue_alloc(arena, 64);
    ASSERT_EQ(q->capacity, 64u);
    std::string first(48, 'a');   // 8 + 48: the next header starts at 56
    ASSERT_TRUE(queue_push(q, as_str(first), test_deadline()));
    EXPECT_EQ(s(pop(q, arena)), first);
    ASSERT_TRUE(queue_push(q, str_lit("0123456789abcdefghij"), test_deadline()));
    u64 header = 0;
    memcpy(&header, q->buffer + 56, 8);
    EXPECT_EQ(header, 20u);
    EXPECT_EQ(std::string((const char *)q->buffer, 20), "0123456789abcdefghij");
    Str popped = pop(q, arena);
    EXPECT_EQ(s(popped), "0123456789abcdefghij");
    EXPECT_EQ(popped.str[popped.size], 0);   // NUL-terminated for system calls
    EXPECT_EQ(q->read_pos, q->write_pos);
    EXPECT_EQ(q->write_pos % 8, 0u);

    // A payload that can never fit is refused at once.
    WorkQueue *small = queue_alloc(arena, 64);
    std::string fits(queue_payload_limit(small), 'f');
    std::string never(queue_payload_limit(small) + 1, 'n');
    // Without a deadline this would wait for ever if it waited at all.
    EXPECT_FALSE(queue_push(small, as_str(never), test_deadline()));
    EXPECT_EQ(queue_used_bytes(small), 0u);
    ASSERT_TRUE(queue_push(small, as_str(fits), test_deadline()));
    EXPECT_EQ(queue_used_bytes(small), 64u);
    EXPECT_EQ(s(pop(small, arena)), fits);
}

//- limits and deadlines

TEST_F(QueueTest, DeadlinesOnAFullOrEmptyQueueGiveUpAndChangeNothing)
{
    WorkQueue *q = queue_alloc(arena, 32);
    ASSERT_TRUE(queue_push(q, str_lit("12345678"), test_deadline()));
    ASSERT_TRUE(queue_push(q, str_lit("abc"), test_deadline()));
    EXPECT_EQ(queue_used_bytes(q), 32u);
    EXPECT_FALSE(queue_push(q, str_lit("z"), 0));   // passed: false at once
    u64 deadline = now_us() + 30000;
    EXPECT_FALSE(queue_push(q, str_lit("late"), deadline));
    EXPECT_GE(now_us(), deadline);   // it waited, then gave up
    EXPECT_EQ(queue_used_bytes(q), 32u);
    EXPECT_EQ(s(pop(q, arena)), "12345678");
    EXPECT_EQ(s(pop(q, arena)), "abc");
    deadline = now_us() + 30000;
    Str out = str_lit("untouched");
    EXPECT_FALSE(queue_pop_until(q, arena, deadline, &out));
    EXPECT_GE(now_us(), deadline);
    EXPECT_EQ(s(out), "untouched");
}

TEST_F(QueueTest, AWaitingProducerIsServedByAPop)
{
    static WorkQueue *q;
    q = queue_alloc(arena, 16);
    ASSERT_TRUE(queue_push(q, str_lit("first"), test_deadline()));
    static std::atomic<int> pushed{0};
    TestThread *producer = test_thread_start(0, [](u64) {
        pushed = queue_push(q, str_lit("second"), test_deadline()) ? 1 : 2;   // waits for room
    });
    EXPECT_EQ(s(pop(q, arena)), "first");
    EXPECT_EQ(s(pop(q, arena)), "second");   // only there once the producer got room
    ASSERT_TRUE(test_thread_join(producer)) << "the waiting producer was never served";
    EXPECT_EQ(pushed.load(), 1);
}

//- many producers and consumers on a small ring
//
// Producers push numbered messages, with deadlines or without; consumers pop
// until an empty message tells them to stop. Every push that reported
// success must arrive once and whole, and no failed push ever.

struct Stress {
    WorkQueue *queue;
    u64 producers, consumers, per_producer;
    bool deadlines;
    std::atomic<u64> producers_done{0}, corrupt{0};
    std::vector<std::atomic<u32>> accepted, popped;
};
static Stress *g_stress;

static std::string stress_payload(u64 producer, u64 sequence)
{
    // Length and bytes both derive from the message, so a torn or shifted
    // copy shows up as a mismatch.
    u64 length = 12 + (producer * 7 + sequence * 13) % 90;
    char head[32];
    int n = snprintf(head, sizeof(head), "%02llu:%06llu:", (unsigned long long)producer, (unsigned long long)sequence);
    std::string payload(head, (size_t)n);
    while (payload.size() < length) payload.push_back((char)('a' + (producer + sequence + payload.size()) % 26));
    return payload;
}

static void stress_thread(u64 thread, u64)
{
    Stress *g = g_stress;
    if (thread < g->producers) {
        for (u64 i = 0; i < g->per_producer; i += 1) {
            u64 deadline = g->deadlines ? now_us() + (i % 3) * 200 : test_deadline();
            if (queue_push(g->queue, as_str(stress_payload(thread, i)), deadline))
                g->accepted[thread * g->per_producer + i].fetch_add(1);
        }
        // The last producer out stops every consumer.
        if (g->producers_done.fetch_add(1) + 1 == g->producers)
            for (u64 c = 0; c < g->consumers; c += 1) queue_push(g->queue, str_empty(), test_deadline());
        return;
    }
    Arena *local = arena_alloc(MiB(1), KiB(4));
    for (;;) {
        ArenaTemp temp = temp_begin(local);
        Str m = str_empty();
        if (!queue_pop_within(g->queue, local, &m)) g->corrupt.fetch_add(1);   // starved
        if (queue_used_bytes(g->queue) > g->queue->capacity) g->corrupt.fetch_add(1);
        if (m.size == 0) break;
        unsigned long long producer = 0, sequence = 0;
        if (sscanf(m.str, "%llu:%llu:", &producer, &sequence) != 2 || producer >= g->producers ||
            sequence >= g->per_producer || s(m) != stress_payload(producer, sequence))
            g->corrupt.fetch_add(1);
        else
            g->popped[producer * g->per_producer + sequence].fetch_add(1);
        temp_end(temp);
    }
    arena_release(local);
}

static void run_stress(u64 producers, u64 consumers, u64 per_producer, u64 capacity, bool deadlines)
{
    Arena *arena = arena_alloc(MiB(1), KiB(4));
    Stress stress = {queue_alloc(arena, capacity), producers, consumers, per_producer, deadlines, {0}, {0},
                     std::vector<std::atomic<u32>>(producers * per_producer),
                     std::vector<std::atomic<u32>>(producers * per_producer)};
    g_stress = &stress;
    ASSERT_TRUE(test_rounds(producers + consumers, 1, stress_thread)) << "a producer or consumer never finished";
    EXPECT_EQ(stress.corrupt.load(), 0u);
    u64 mismatched = 0, written = 0;
    for (u64 i = 0; i < producers * per_producer; i += 1) {
        mismatched += stress.popped[i].load() != stress.accepted[i].load();
        written += stress.popped[i].load();
    }
    EXPECT_EQ(mismatched, 0u);
    EXPECT_GT(written, 0u);
    if (!deadlines) {
        EXPECT_EQ(written, producers * per_producer);
    }
    EXPECT_EQ(queue_used_bytes(stress.queue), 0u);
    arena_release(arena);
}

TEST(QueueStress, ManyProducersAndConsumersDeliverEveryMessageOnceAndWhole)
{
    run_stress(4, 3, 3000, 256, false);   // a few messages at a time: constant wrap-around
}

TEST(QueueStress, ProducersWithDeadlinesEitherWriteOrLeaveNoTrace)
{
    run_stress(3, 1, 400, 64, true);
}
