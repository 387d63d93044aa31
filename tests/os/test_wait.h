// Bounded waits for tests. A broken lock or a lost wake-up must fail its
// test with a message that says what never happened, not hang the binary
// until the CTest timeout kills it without a word.
#pragma once
#include <atomic>
#include <thread>

#include "os/content_cache.h"

// Far beyond any healthy wait on a loaded two-core machine.
constexpr u64 test_wait_seconds = 60;

inline u64 test_deadline(u64 seconds = test_wait_seconds) { return now_us() + seconds * 1000000ull; }

// A wyn thread whose end a test can wait for with a deadline: the platform
// layer's join has none, so the thread flags its own end.
struct TestThread {
    ThreadEntry *entry;
    u64 argument;
    std::atomic<bool> done;
    ThreadRecord *record;
};

inline void test_thread_trampoline(u64 raw)
{
    TestThread *t = (TestThread *)raw;
    t->entry(t->argument);
    t->done.store(true, std::memory_order_release);
}

inline TestThread *test_thread_start(u64 argument, ThreadEntry *entry)
{
    TestThread *t = new TestThread{entry, argument, {false}, nullptr};
    t->record = thread_start((u64)t, test_thread_trampoline);
    return t;
}

// Joins the thread when it ends in time. False when it is still running at
// the deadline: it is left running (and its record kept), since joining it
// would hang; the caller fails the test and names what it waited for.
inline bool test_thread_join(TestThread *t, u64 seconds = test_wait_seconds)
{
    if (!t || !t->record) return false;
    u64 deadline = test_deadline(seconds);
    while (!t->done.load(std::memory_order_acquire) && now_us() < deadline) sleep_ms(1);
    if (!t->done.load(std::memory_order_acquire)) return false;
    thread_join(t->record);
    delete t;
    return true;
}

// One arrival at a barrier shared by `parties` threads, round after round:
// waits until all have arrived `round` + 1 times. False when the deadline
// passes first (a thread that never came), so the test fails instead of
// hanging.
inline bool test_barrier_arrive(std::atomic<u64> *arrived, u64 parties, u64 round, u64 deadline)
{
    arrived->fetch_add(1);
    while (arrived->load() < parties * (round + 1)) {
        if (now_us() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

// A pop that gives up: the empty optional-like result is `false`.
inline bool queue_pop_within(WorkQueue *queue, Arena *arena, Str *out, u64 seconds = test_wait_seconds)
{
    return queue_pop_until(queue, arena, test_deadline(seconds), out);
}
