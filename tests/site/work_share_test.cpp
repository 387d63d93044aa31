// test-label: concurrency
//
// A task on offer between workers runs exactly once: on a worker that takes
// it, or on its owner when nobody did, and its owner goes on only once it
// has run.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "../test_support.h"
#include "site/work_share.h"

namespace {

struct Counted {
    std::atomic<int> runs{0};
    std::thread::id ran_on;
    std::atomic<bool> *hold = nullptr;   // while set, the run waits (its owner must wait too)
    bool finished = false;               // written by the run, read by the owner after finish
};

void counted_run(void *user, Arena *)
{
    Counted *c = (Counted *)user;
    c->ran_on = std::this_thread::get_id();
    while (c->hold && c->hold->load()) std::this_thread::yield();
    c->finished = true;
    c->runs.fetch_add(1);
}

std::atomic<int> g_wakes{0};
void count_wake(void *) { g_wakes.fetch_add(1); }

// A worker's loop: takes whatever is on offer until told to stop.
struct Helper {
    WorkShare *share;
    std::atomic<bool> stop{false};
    std::thread thread;
    explicit Helper(WorkShare *s) : share(s)
    {
        thread = std::thread([this] {
            Arena *scratch = arena_alloc(MiB(1), KiB(64));
            while (!stop.load())
                if (!work_share_help(share, scratch)) std::this_thread::yield();
            arena_release(scratch);
        });
    }
    ~Helper()
    {
        stop = true;
        thread.join();
    }
};

} // namespace

TEST(WorkShare, AnOfferNobodyTakesRunsOnItsOwnerAndASecondOfferIsRefused)
{
    Arena *arena = arena_alloc(MiB(1), KiB(64));
    g_wakes = 0;
    WorkShare *share = work_share_alloc(arena, count_wake, nullptr);
    ASSERT_NE(share, nullptr);

    Counted first, second;
    SharedTask a = {counted_run, &first, 0};
    SharedTask b = {counted_run, &second, 0};
    ASSERT_TRUE(work_share_offer(share, &a));
    EXPECT_EQ(g_wakes.load(), 1) << "an offer must wake a worker";
    EXPECT_FALSE(work_share_offer(share, &b)) << "one task is on offer at a time";
    EXPECT_EQ(g_wakes.load(), 1) << "a refused offer wakes nobody";

    work_share_finish(share, &a, arena);
    EXPECT_EQ(first.runs.load(), 1);
    EXPECT_EQ(first.ran_on, std::this_thread::get_id());
    EXPECT_EQ(second.runs.load(), 0);
    EXPECT_EQ(share->kept, 1u);
    EXPECT_EQ(share->taken, 0u);
    // Nothing is left on offer for a worker to run again.
    EXPECT_FALSE(work_share_help(share, arena));
    EXPECT_EQ(first.runs.load(), 1);

    // The place is free again.
    ASSERT_TRUE(work_share_offer(share, &b));
    work_share_finish(share, &b, arena);
    EXPECT_EQ(second.runs.load(), 1);
    arena_release(arena);
}

TEST(WorkShare, ATakenTaskRunsOnTheWorkerAndItsOwnerWaitsForIt)
{
    Arena *arena = arena_alloc(MiB(1), KiB(64));
    WorkShare *share = work_share_alloc(arena, nullptr, nullptr);
    ASSERT_NE(share, nullptr);
    std::atomic<bool> hold{true};
    Counted task_state;
    task_state.hold = &hold;
    SharedTask task = {counted_run, &task_state, 0};
    {
        Helper helper(share);
        ASSERT_TRUE(work_share_offer(share, &task));
        // The helper holds it (it cannot finish while `hold` is set).
        ASSERT_TRUE(wait_for([&] { return atomic_load_u64(&share->taken) == 1; }))
            << "no worker took the task on offer";
        std::thread release([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            hold = false;
        });
        work_share_finish(share, &task, arena);
        // Finish returned only after the run ended on the other thread.
        EXPECT_TRUE(task_state.finished);
        EXPECT_EQ(task_state.runs.load(), 1);
        EXPECT_NE(task_state.ran_on, std::this_thread::get_id());
        release.join();
    }
    EXPECT_EQ(share->kept, 0u);
    arena_release(arena);
}

TEST(WorkShare, ManyOwnersAndHelpersRunEveryTaskOnce)
{
    Arena *arena = arena_alloc(MiB(1), KiB(64));
    WorkShare *share = work_share_alloc(arena, nullptr, nullptr);
    ASSERT_NE(share, nullptr);
    const int owners = 3, per_owner = 2000;
    std::vector<Counted> states(owners * per_owner);
    {
        Helper one(share), two(share);
        std::vector<std::thread> threads;
        for (int o = 0; o < owners; o += 1) {
            threads.emplace_back([&, o] {
                Arena *scratch = arena_alloc(MiB(1), KiB(64));
                for (int i = 0; i < per_owner; i += 1) {
                    Counted *c = &states[o * per_owner + i];
                    SharedTask task = {counted_run, c, 0};
                    // The owner's own half, then the offered one: refused
                    // offers run here at once, as the pages do.
                    if (work_share_offer(share, &task)) work_share_finish(share, &task, scratch);
                    else counted_run(c, scratch);
                    // The task lives on this stack: it must be done here.
                    if (!c->finished) ADD_FAILURE() << "finish returned before the task ran";
                }
                arena_release(scratch);
            });
        }
        for (std::thread &t : threads) t.join();
    }
    int total = 0;
    for (Counted &c : states) {
        EXPECT_EQ(c.runs.load(), 1);
        total += c.runs.load();
    }
    EXPECT_EQ(total, owners * per_owner);
    // Whether the helpers took any is up to the scheduler; every offer
    // accepted was either taken or kept.
    EXPECT_LE(share->taken + share->kept, (u64)(owners * per_owner));
    arena_release(arena);
}
