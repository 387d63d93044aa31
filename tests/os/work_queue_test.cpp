// test-label: concurrency
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "os/work_queue.h"
#include "test_wait.h"

static std::string s(Str x) { return std::string(x.str, x.size); }

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
    ASSERT_TRUE(queue_push(q, str(first.data(), first.size()), test_deadline()));
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
}

TEST_F(QueueTest, PayloadsStraddlingTheEndComeBackWhole)
{
    // Sizes that are not multiples of 8 walk every offset of the ring.
    WorkQueue *q = queue_alloc(arena, 40);
    for (int round = 0; round < 200; round += 1) {
        std::string payload(1 + round % 29, (char)('a' + round % 26));
        payload[0] = (char)('0' + round % 10);
        ASSERT_TRUE(queue_push(q, str(payload.data(), payload.size()), test_deadline()));
        ASSERT_EQ(s(pop(q, arena)), payload) << "round " << round;
    }
}

TEST_F(QueueTest, EmptyPayloadsAreMessagesToo)
{
    WorkQueue *q = queue_alloc(arena, 64);
    ASSERT_TRUE(queue_push(q, str_empty(), test_deadline()));
    ASSERT_TRUE(queue_push(q, str_lit("x"), test_deadline()));
    EXPECT_EQ(pop(q, arena).size, 0u);
    EXPECT_EQ(s(pop(q, arena)), "x");
}

//- limits and deadlines

TEST_F(QueueTest, APayloadThatCanNeverFitIsRefusedAtOnce)
{
    WorkQueue *q = queue_alloc(arena, 64);
    std::string fits(queue_payload_limit(q), 'f');
    std::string never(queue_payload_limit(q) + 1, 'n');
    // Without a deadline this would wait for ever if it waited at all.
    EXPECT_FALSE(queue_push(q, str(never.data(), never.size()), test_deadline()));
    EXPECT_EQ(queue_used_bytes(q), 0u);
    ASSERT_TRUE(queue_push(q, str(fits.data(), fits.size()), test_deadline()));
    EXPECT_EQ(queue_used_bytes(q), 64u);
    EXPECT_EQ(s(pop(q, arena)), fits);
}

TEST_F(QueueTest, APastDeadlineOnAFullQueueFailsAtOnceAndChangesNothing)
{
    WorkQueue *q = queue_alloc(arena, 32);
    ASSERT_TRUE(queue_push(q, str_lit("12345678"), test_deadline()));
    ASSERT_TRUE(queue_push(q, str_lit("abc"), test_deadline()));
    u64 used = queue_used_bytes(q);
    EXPECT_EQ(used, 32u);
    EXPECT_FALSE(queue_push(q, str_lit("z"), 0));
    EXPECT_FALSE(queue_push(q, str_lit("z"), now_us() - 1));
    EXPECT_EQ(queue_used_bytes(q), used);
    EXPECT_EQ(s(pop(q, arena)), "12345678");
    EXPECT_EQ(s(pop(q, arena)), "abc");
}

TEST_F(QueueTest, ADeadlineThatPassesWhileWaitingGivesUpAfterIt)
{
    WorkQueue *q = queue_alloc(arena, 16);
    ASSERT_TRUE(queue_push(q, str_lit("full"), test_deadline()));
    u64 deadline = now_us() + 30000;
    EXPECT_FALSE(queue_push(q, str_lit("late"), deadline));
    EXPECT_GE(now_us(), deadline);   // it waited, then gave up

    Str out = str_lit("untouched");
    EXPECT_TRUE(queue_pop_until(q, arena, now_us() + 30000, &out));
    EXPECT_EQ(s(out), "full");
    deadline = now_us() + 30000;
    out = str_lit("untouched");
    EXPECT_FALSE(queue_pop_until(q, arena, deadline, &out));
    EXPECT_GE(now_us(), deadline);
    EXPECT_EQ(s(out), "untouched");
}

TEST_F(QueueTest, AWaitingProducerIsServedByAPop)
{
    WorkQueue *q = queue_alloc(arena, 16);
    ASSERT_TRUE(queue_push(q, str_lit("first"), test_deadline()));
    struct Args {
        WorkQueue *q;
        std::atomic<int> done;
    } args = {q, {0}};
    TestThread *producer = test_thread_start((u64)&args, [](u64 raw) {
        Args *a = (Args *)raw;
        bool ok = queue_push(a->q, str_lit("second"), test_deadline());   // waits for room
        a->done.store(ok ? 1 : 2);
    });
    Arena *local = arena_alloc(KiB(64), KiB(4));
    EXPECT_EQ(s(pop(q, local)), "first");
    EXPECT_EQ(s(pop(q, local)), "second");   // only there once the producer got room
    ASSERT_TRUE(test_thread_join(producer)) << "the waiting producer was never served";
    EXPECT_EQ(args.done.load(), 1);
    arena_release(local);
}

//- many producers and consumers on a small ring

struct StressShared {
    WorkQueue *queue;
    u64 per_producer;
    std::atomic<u64> next_consumer{0};
    std::vector<std::atomic<u32>> *seen;   // [producer * per_producer + sequence]
    std::atomic<u64> corrupt{0};
};

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

TEST(QueueStress, ManyProducersAndConsumersDeliverEveryMessageOnceAndWhole)
{
    constexpr u64 producers = 4, consumers = 3, per_producer = 3000;
    Arena *arena = arena_alloc(MiB(1), KiB(4));
    StressShared shared;
    shared.queue = queue_alloc(arena, 256);   // a few messages at a time: constant wrap-around
    shared.per_producer = per_producer;
    std::vector<std::atomic<u32>> seen(producers * per_producer);
    shared.seen = &seen;

    std::vector<TestThread *> threads;
    static StressShared *g;
    g = &shared;
    for (u64 p = 0; p < producers; p += 1) {
        threads.push_back(test_thread_start(p, [](u64 producer) {
            for (u64 i = 0; i < g->per_producer; i += 1) {
                std::string payload = stress_payload(producer, i);
                queue_push(g->queue, str(payload.data(), payload.size()), test_deadline());
            }
        }));
    }
    std::vector<TestThread *> consumer_threads;
    for (u64 c = 0; c < consumers; c += 1) {
        consumer_threads.push_back(test_thread_start(c, [](u64) {
            Arena *local = arena_alloc(MiB(1), KiB(4));
            for (;;) {
                ArenaTemp temp = temp_begin(local);
                Str message = str_empty();
                if (!queue_pop_within(g->queue, local, &message)) {
                    g->corrupt.fetch_add(1);   // starved: counted, and the thread ends
                    break;
                }
                if (message.size == 0) break;   // the stop message
                unsigned long long producer = 0, sequence = 0;
                if (sscanf(message.str, "%llu:%llu:", &producer, &sequence) != 2 || producer >= 4 ||
                    sequence >= g->per_producer || std::string(message.str, message.size) != stress_payload(producer, sequence)) {
                    g->corrupt.fetch_add(1);
                } else {
                    (*g->seen)[producer * g->per_producer + sequence].fetch_add(1);
                }
                temp_end(temp);
            }
            arena_release(local);
        }));
    }
    for (TestThread *t : threads) ASSERT_TRUE(test_thread_join(t)) << "a producer never got all its messages in";
    for (u64 c = 0; c < consumers; c += 1) ASSERT_TRUE(queue_push(shared.queue, str_empty(), test_deadline()));
    for (TestThread *t : consumer_threads) ASSERT_TRUE(test_thread_join(t)) << "a consumer never saw its stop message";

    EXPECT_EQ(shared.corrupt.load(), 0u);
    u64 missing = 0, doubled = 0;
    for (auto &count : seen) {
        if (count.load() == 0) missing += 1;
        if (count.load() > 1) doubled += 1;
    }
    EXPECT_EQ(missing, 0u);
    EXPECT_EQ(doubled, 0u);
    EXPECT_EQ(queue_used_bytes(shared.queue), 0u);
    arena_release(arena);
}

TEST(QueueStress, ProducersWithDeadlinesEitherWriteOrLeaveNoTrace)
{
    // Producers race short deadlines against a slow consumer: every push
    // that reported success is popped exactly once, every failed one never.
    constexpr u64 producers = 3, per_producer = 400;
    Arena *arena = arena_alloc(MiB(1), KiB(4));
    static WorkQueue *q;
    static std::atomic<u64> accepted[3 * 400];
    q = queue_alloc(arena, 64);
    for (auto &a : accepted) a.store(0);
    std::vector<TestThread *> threads;
    for (u64 p = 0; p < producers; p += 1) {
        threads.push_back(test_thread_start(p, [](u64 producer) {
            for (u64 i = 0; i < per_producer; i += 1) {
                std::string payload = stress_payload(producer, i);
                bool ok = queue_push(q, str(payload.data(), payload.size()), now_us() + (i % 3) * 200);
                if (ok) accepted[producer * per_producer + i].fetch_add(1);
            }
        }));
    }
    std::vector<u32> popped(producers * per_producer, 0);
    std::atomic<u64> finished{0};
    u64 corrupt = 0;
    Arena *local = arena_alloc(MiB(1), KiB(4));
    // Pop until every producer is done and the ring is empty.
    static std::atomic<u64> *done_count;
    done_count = &finished;
    static std::atomic<u64> producers_ended{0};
    producers_ended = 0;
    TestThread *joiner = test_thread_start((u64)&threads, [](u64 raw) {
        u64 ended = 0;
        for (TestThread *t : *(std::vector<TestThread *> *)raw) ended += test_thread_join(t) ? 1 : 0;
        producers_ended.store(ended);
        done_count->store(1);
    });
    u64 give_up = test_deadline();
    for (;;) {
        ASSERT_LT(now_us(), give_up) << "the producers never finished";
        Str m = str_empty();
        if (!queue_pop_until(q, local, now_us() + 2000, &m)) {
            if (finished.load() && queue_used_bytes(q) == 0) break;
            continue;
        }
        unsigned long long producer = 0, sequence = 0;
        if (sscanf(m.str, "%llu:%llu:", &producer, &sequence) != 2 || producer >= producers ||
            sequence >= per_producer || std::string(m.str, m.size) != stress_payload(producer, sequence)) {
            corrupt += 1;
            continue;
        }
        popped[producer * per_producer + sequence] += 1;
    }
    ASSERT_TRUE(test_thread_join(joiner)) << "the joining thread never finished";
    EXPECT_EQ(producers_ended.load(), producers);
    EXPECT_EQ(corrupt, 0u);
    u64 mismatched = 0, written = 0;
    for (u64 i = 0; i < popped.size(); i += 1) {
        if (popped[i] != accepted[i].load()) mismatched += 1;
        written += popped[i];
    }
    EXPECT_EQ(mismatched, 0u);
    EXPECT_GT(written, 0u);
    arena_release(local);
    arena_release(arena);
}

//- striped tables

TEST(StripedTable, BucketsShareStripesByIndex)
{
    Arena *arena = arena_alloc(MiB(1), KiB(4));
    StripedTable table = {};
    striped_table_init(arena, &table, 32, 8, StripeLock_Slim, KiB(32), KiB(8));
    EXPECT_EQ(table.stripe_count, 8u);
    EXPECT_EQ(striped_bucket_of(&table, 32 + 5), 5u);
    EXPECT_EQ(striped_stripe_of(&table, 5), striped_stripe_of(&table, 13));
    EXPECT_NE(striped_stripe_of(&table, 5), striped_stripe_of(&table, 6));
    EXPECT_NE(table.stripes[0].slim, nullptr);
    EXPECT_EQ(table.stripes[0].section, nullptr);
    EXPECT_NE(table.stripes[0].arena, table.stripes[1].arena);
    StripedTable few = {};
    striped_table_init(arena, &few, 4, 64, StripeLock_Section, KiB(32), KiB(8));
    EXPECT_EQ(few.stripe_count, 4u);   // never more stripes than buckets
    EXPECT_NE(few.stripes[3].section, nullptr);
    arena_release(arena);
}
