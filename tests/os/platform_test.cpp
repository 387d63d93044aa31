// test-label: concurrency
// The platform layer against real files and threads. Written for every
// backend: the Windows build runs it too.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>

#include "os/platform.h"
#include "os_support.h"

struct PlatformTest : ::testing::Test {
    Arena *arena = arena_alloc(MiB(64), KiB(4));
    TempFolder dir;
    ~PlatformTest() override { arena_release(arena); }
};

TEST_F(PlatformTest, WriteCreatesFoldersReadReturnsTheBytesAndMissingFilesAreEmpty)
{
    Str path = dir.at(arena, "html/a/b.html");
    EXPECT_FALSE(file_write_all(path, str_lit("x"), 0));   // must exist without create flags
    ASSERT_TRUE(file_write_all(path, str_lit("hello"), FileWrite_CreateFolders));
    FileProperties props = {};
    Str bytes = file_read_all(arena, path, &props);
    EXPECT_EQ(s(bytes), "hello");
    EXPECT_EQ(bytes.str[bytes.size], 0);
    EXPECT_TRUE(props.exists);
    EXPECT_EQ(props.size, 5u);
    // Nanoseconds since the epoch: some time after 2020 and before 2100.
    EXPECT_GT(props.last_write_time, 1577836800ull * 1000000000ull);
    EXPECT_LT(props.last_write_time, 4102444800ull * 1000000000ull);
    EXPECT_EQ(file_last_write_time(path), props.last_write_time);
    EXPECT_TRUE(file_exists(path));
    EXPECT_FALSE(file_exists(dir.at(arena, "html/a")));   // a folder is not a file

    Str missing = dir.at(arena, "nope.wyn");
    FileProperties absent = {};
    EXPECT_EQ(file_read_all(arena, missing, &absent).size, 0u);
    EXPECT_FALSE(absent.exists);
    EXPECT_FALSE(file_exists(missing));
    EXPECT_EQ(file_last_write_time(missing), 0u);
    EXPECT_FALSE(file_delete(missing));
    EXPECT_EQ(file_read_all(arena, as_str(dir.path)).size, 0u);   // a folder reads as empty
}

TEST_F(PlatformTest, ReplaceLeavesOnlyTheNewContentAndNoTemporaryFiles)
{
    Str path = dir.at(arena, "page.html");
    ASSERT_TRUE(file_write_all(path, str_lit("a much longer old content"), FileWrite_Replace));
    u64 first = file_last_write_time(path);
    sleep_ms(20);
    ASSERT_TRUE(file_write_all(path, str_lit("new"), FileWrite_Replace));
    EXPECT_EQ(s(file_read_all(arena, path)), "new");
    EXPECT_NE(file_last_write_time(path), first);
    ASSERT_TRUE(file_write_all(path, str_lit("no"), 0));   // an existing file may be rewritten without flags
    EXPECT_EQ(s(file_read_all(arena, path)), "no");
    FolderListing listing = folder_list(arena, as_str(dir.path));
    EXPECT_EQ(listing.count, 1u);
}

// A folder is made once per run and then believed to exist: a folder that
// goes away between two writes must be made again, not reported missing.
TEST_F(PlatformTest, AWriteRemakesAFolderThatWentAwayAfterTheLastWrite)
{
    Str first = dir.at(arena, "gone/deep/a.html");
    Str second = dir.at(arena, "gone/deep/b.html");
    ASSERT_TRUE(file_write_all(first, str_lit("a"), FileWrite_CreateFolders));
    std::filesystem::remove_all(dir.path + "/gone");
    ASSERT_TRUE(file_write_all(second, str_lit("b"), FileWrite_CreateFolders));
    EXPECT_EQ(s(file_read_all(arena, second)), "b");
    EXPECT_FALSE(file_properties(first).exists);

    // A file standing where the folder should be fails the write; once it
    // is gone, the same write goes through.
    std::filesystem::remove_all(dir.path + "/gone");
    ASSERT_TRUE(file_write_all(dir.at(arena, "gone"), str_lit("in the way"), FileWrite_Replace));
    EXPECT_FALSE(file_write_all(second, str_lit("c"), FileWrite_CreateFolders));
    ASSERT_TRUE(file_delete(dir.at(arena, "gone")));
    ASSERT_TRUE(file_write_all(second, str_lit("c"), FileWrite_CreateFolders));
    EXPECT_EQ(s(file_read_all(arena, second)), "c");
}

static std::string g_race_root;

// Writers that meet in fresh folders at the same moment: each must see its
// file written, whoever made the folder.
TEST_F(PlatformTest, ThreadsWritingIntoNewFoldersAtOnceAllSucceed)
{
    g_race_root = dir.path;
    static std::atomic<int> failures;
    failures = 0;
    ASSERT_TRUE(test_rounds(4, 8, [](u64 thread, u64 round) {
        std::string path = g_race_root + "/r" + std::to_string(round) + "/s/t" + std::to_string(thread) + ".html";
        std::string text = "thread " + std::to_string(thread);
        if (!file_write_all(as_str(path), as_str(text), FileWrite_CreateFolders)) failures += 1;
    })) << "a writing thread never finished";
    EXPECT_EQ(failures.load(), 0);
    for (int round = 0; round < 8; round += 1) {
        std::string folder = g_race_root + "/r" + std::to_string(round) + "/s";
        EXPECT_EQ(folder_list(arena, as_str(folder)).count, 4u) << folder;
    }
}

TEST_F(PlatformTest, FoldersAreMadeToTheFileNameAndListedWithoutDots)
{
    Str path = dir.at(arena, "x/y/z.html");
    ASSERT_TRUE(folder_create_all(path));
    EXPECT_TRUE(file_properties(dir.at(arena, "x/y")).is_folder);
    EXPECT_FALSE(file_properties(path).exists);
    EXPECT_TRUE(folder_create_all(path));   // existing folders count as created
    ASSERT_TRUE(file_write_all(dir.at(arena, "f"), str_lit("1"), FileWrite_Replace));
    EXPECT_FALSE(folder_create_all(dir.at(arena, "f/g/h")));   // a file in the way
    u64 a[2] = {}, b[2] = {};
    ASSERT_TRUE(folder_identity(dir.at(arena, "x/y"), a));
    ASSERT_TRUE(folder_identity(dir.at(arena, "x/y/"), b));
    EXPECT_TRUE(a[0] == b[0] && a[1] == b[1]);
    EXPECT_FALSE(folder_identity(dir.at(arena, "x/none"), a));
    EXPECT_FALSE(folder_identity(dir.at(arena, "f"), a));   // a file is no folder
    // The folder holds x/ and f now: no "." or "..".
    FolderListing listing = folder_list(arena, as_str(dir.path));
    ASSERT_TRUE(listing.opened);
    EXPECT_EQ(listing.count, 2u);
    int folders = 0;
    for (FolderEntry *e = listing.first; e; e = e->next) folders += e->is_folder;
    EXPECT_EQ(folders, 1);
    EXPECT_FALSE(folder_list(arena, dir.at(arena, "missing")).opened);
}

TEST(Platform, ClockMovesForwardAndDatesAreCurrent)
{
    u64 a = now_us();
    sleep_ms(2);
    EXPECT_GE(now_us() - a, 2000u);
    DateTime today = date_now();
    EXPECT_GE(today.year, 2024);
    EXPECT_TRUE(today.month >= 1 && today.month <= 12);
    const SystemInfo *info = system_info();
    EXPECT_GE(info->processor_count, 1u);
    EXPECT_EQ(info->page_size % 4096, 0u);
    EXPECT_NE(process_arena(), nullptr);
}

//- threads

static void name_entry(u64 argument)
{
    thread_set_name("[FS] Streamer #%I64u %s", argument,
                    "with a tail long enough to pass sixty-four bytes of name text");
    ThreadContext *context = thread_context();
    EXPECT_EQ(context->name_size, 64u);
    EXPECT_EQ(std::string(context->name, 18), "[FS] Streamer #7 w");
    EXPECT_EQ(context->is_main, 0u);
    EXPECT_NE(context->scratch[0], context->scratch[1]);
}

TEST(Threads, NamesKeepTheirFirstSixtyFourBytesShortNamesTheirIndex)
{
    TestThread *t = test_thread_start(7, name_entry);
    ASSERT_TRUE(test_thread_join(t)) << "the naming thread never finished";

    // Short names give way in the words, not the index.
    struct Case {
        const char *name, *short_name;
    } cases[] = {
        {"[WYN] Parser #2", "WYN Parser 2"},
        {"[HTTP] Request #12", "HTTP Request 12"},    // exactly 15 bytes
        {"[HTTP] Requests#12", "HTTP Requests12"},    // also 15: kept as it is
        {"[HTTP] Request #123", "HTTP Reques 123"},   // one too many: a letter goes
        {"[WYN] evictor/detector thread", "WYN evictor/det"},
        {"a very long name with 1234567890123456789", "a very long nam"},
    };
    for (const Case &c : cases) {
        char out[thread_short_name_capacity];
        u64 n = thread_short_name(str_from_cstring(c.name), out);
        EXPECT_EQ(std::string(out), c.short_name);
        EXPECT_EQ(n, strlen(out));
    }
}

static CriticalSection *g_cs;
static CondVar *g_cv;
static u64 g_value;
static bool g_timed_out;

TEST(Threads, LocksAndConditionVariablesCoordinateThreadsAndWaitsEndOnTime)
{
    g_cs = cs_alloc();
    g_cv = cv_alloc();
    g_value = 0;
    g_timed_out = false;
    // Thread 0 waits for the broadcast of whichever of the four counters
    // brings the count to 4000.
    ASSERT_TRUE(test_rounds(5, 1, [](u64 thread, u64) {
        cs_enter(g_cs);
        u64 deadline = test_deadline();
        while (thread == 0 && g_value < 4000 && !g_timed_out) g_timed_out = !wait_cs(g_cv, g_cs, deadline);
        cs_leave(g_cs);
        for (int i = 0; thread != 0 && i < 1000; i += 1) {
            cs_enter(g_cs);
            g_value += 1;
            if (g_value == 4000) cv_broadcast(g_cv);
            cs_leave(g_cs);
        }
    })) << "a counting thread never finished";
    EXPECT_EQ(g_value, 4000u);
    EXPECT_FALSE(g_timed_out) << "the last broadcast never woke the waiter";

    CriticalSection *cs = cs_alloc();
    CondVar *cv = cv_alloc();
    SrwLock *lock = srw_alloc();
    cs_enter(cs);
    EXPECT_FALSE(wait_cs(cv, cs, now_us() - 1));   // already passed: false at once
    u64 start = now_us();
    EXPECT_FALSE(wait_cs(cv, cs, start + 20000));
    EXPECT_GE(now_us(), start + 20000);
    cs_leave(cs);
    srw_lock_shared(lock);
    EXPECT_FALSE(wait_srw_shared(cv, lock, now_us() + 1000));
    srw_unlock_shared(lock);
    srw_lock_exclusive(lock);
    EXPECT_FALSE(wait_srw_exclusive(cv, lock, 0));
    start = now_us();
    EXPECT_FALSE(wait_srw_exclusive(cv, lock, start + 20000));
    EXPECT_GE(now_us(), start + 20000);
    srw_unlock_exclusive(lock);
}

static std::atomic<int> g_scratch_ok{0};

TEST(Threads, EveryThreadHasItsOwnScratch)
{
    ASSERT_TRUE(test_rounds(3, 200, [](u64 thread, u64 round) {
        ArenaTemp t = scratch_begin(nullptr, 0);
        Str x = str_pushf(t.arena, "%d:%d", (int)thread, (int)round);
        if (s(x) == std::to_string(thread) + ":" + std::to_string(round)) g_scratch_ok.fetch_add(1);
        scratch_end(t);
    })) << "a scratch thread never finished";
    EXPECT_EQ(g_scratch_ok.load(), 600);
}
