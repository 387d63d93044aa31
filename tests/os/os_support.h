// Shared by the os tests: bounded waits, wyn threads a test can wait for,
// rounds of threads that meet at a barrier, and temporary folders. A broken
// lock or a lost wake-up must fail its test with a message that says what
// never happened, not hang the binary until the CTest timeout kills it
// without a word.
#pragma once
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "os/content_cache.h"

// Far beyond any healthy wait on a loaded two-core machine.
constexpr u64 test_wait_seconds = 60;

inline u64 test_deadline(u64 seconds = test_wait_seconds) { return now_us() + seconds * 1000000ull; }

// True once `pred` holds, false when `seconds` pass first.
template <typename Pred>
inline bool wait_for(Pred pred, int seconds = 20)
{
    u64 deadline = now_us() + (u64)seconds * 1000000;
    while (now_us() < deadline) {
        if (pred()) return true;
        sleep_ms(5);
    }
    return pred();
}

// Writes in place (truncate, then write), as many editors and tools do.
inline void write_in_place(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

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

// Removes a folder and everything in it, each entry once, and says nothing
// of what stays. Windows keeps a folder that a handle holds open (a folder
// watch of a service that never stops) until the process ends; the C++
// library's remove_all asks again and again for such an entry under wine.
inline void remove_tree(const std::filesystem::path &path)
{
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::is_directory(fs::symlink_status(path, error))) {
        std::vector<fs::path> children;
        for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error))
            children.push_back(it->path());
        for (const fs::path &child : children) remove_tree(child);
    }
    fs::remove(path, error);
}

// A fresh folder under /tmp (the same host folder under wine), removed with
// everything in it.
struct TempFolder {
    std::string path;
    TempFolder()
    {
        char pattern[] = "/tmp/wyn-test-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempFolder() { remove_tree(path); }
    std::string at(const std::string &rest) const { return path + "/" + rest; }
    Str at(Arena *arena, const char *rest) const { return str_pushf(arena, "%s/%s", path.c_str(), rest); }
};

inline std::string s(Str x) { return std::string(x.str, x.size); }
inline Str as_str(const std::string &x) { return Str{x.data(), x.size()}; }
