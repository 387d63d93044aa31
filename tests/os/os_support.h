// Shared by the os tests: bounded waits, wyn threads a test can wait for,
// and rounds of threads that meet at a barrier. A broken lock or a lost
// wake-up must fail its test with a message that says what never happened,
// not hang the binary until the CTest timeout kills it without a word.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "os/file_service.h"
#include "../test_support.h"

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
// passes first (a thread that never came).
inline bool test_barrier_arrive(std::atomic<u64> *arrived, u64 parties, u64 round, u64 deadline)
{
    arrived->fetch_add(1);
    while (arrived->load() < parties * (round + 1)) {
        if (now_us() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

struct TestRounds {
    void (*body)(u64 thread, u64 round);
    u64 threads, rounds;
    std::atomic<u64> arrived, late;
};
struct TestSeat {
    TestRounds *rounds;
    u64 index;
};

inline void test_rounds_entry(u64 raw)
{
    TestSeat *seat = (TestSeat *)raw;
    TestRounds *r = seat->rounds;
    u64 deadline = test_deadline();
    for (u64 round = 0; round < r->rounds; round += 1) {
        if (!test_barrier_arrive(&r->arrived, r->threads, round, deadline)) {
            r->late.fetch_add(1);
            return;
        }
        r->body(seat->index, round);
    }
}

// Runs body(thread, round) on `threads` wyn threads for `rounds` rounds.
// The threads meet at a barrier before every round, so the calls of one
// round really overlap. False when a thread never came or never ended.
inline bool test_rounds(u64 threads, u64 rounds, void (*body)(u64 thread, u64 round))
{
    // Left behind, not freed, when a thread is still running.
    TestRounds *shared = new TestRounds{body, threads, rounds, {0}, {0}};
    std::vector<TestSeat> *seats = new std::vector<TestSeat>(threads);
    std::vector<TestThread *> started;
    for (u64 i = 0; i < threads; i += 1) {
        (*seats)[i] = {shared, i};
        started.push_back(test_thread_start((u64)&(*seats)[i], test_rounds_entry));
    }
    bool ended = true;
    for (TestThread *t : started) ended = test_thread_join(t) && ended;
    bool ok = ended && shared->late.load() == 0;
    if (ended) {
        delete seats;
        delete shared;
    }
    return ok;
}

// A pop that gives up: false when no message came in time.
inline bool queue_pop_within(WorkQueue *queue, Arena *arena, Str *out, u64 seconds = test_wait_seconds)
{
    return queue_pop_until(queue, arena, test_deadline(seconds), out);
}

// A file's text through the file service, held while copied (a reload
// meanwhile may release the content otherwise); a lost load fails the test
// with the path named instead of hanging it.
inline std::string text_of(const std::string &path)
{
    FsContent content = fs_read(as_str(path), test_deadline());
    EXPECT_TRUE(content.file.loaded) << path << " was not loaded within " << test_wait_seconds << " s";
    std::string text = s(content.bytes);
    fs_read_done(&content);
    return text;
}
