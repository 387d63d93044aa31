// test-label: concurrency
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "os/platform.h"

static std::string s(Str x) { return std::string(x.str, x.size); }

// A fresh folder under the system's temporary folder, removed at the end.
struct TempFolder {
    std::string path;
    TempFolder()
    {
        char pattern[] = "/tmp/wyn-test-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempFolder() { std::system(("rm -rf '" + path + "'").c_str()); }
    Str at(Arena *arena, const char *rest) const { return str_pushf(arena, "%s/%s", path.c_str(), rest); }
};

struct PlatformTest : ::testing::Test {
    Arena *arena = arena_alloc(MiB(64), KiB(4));
    TempFolder dir;
    ~PlatformTest() override { arena_release(arena); }
};

TEST_F(PlatformTest, WriteCreatesFoldersAndReadReturnsTheBytes)
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
    EXPECT_GT(props.last_write_time, 0u);
    EXPECT_TRUE(file_exists(path));
    EXPECT_FALSE(file_exists(dir.at(arena, "html/a")));   // a folder is not a file
}

TEST_F(PlatformTest, ReplaceLeavesOnlyTheNewContentAndNoTemporaryFiles)
{
    Str path = dir.at(arena, "page.html");
    ASSERT_TRUE(file_write_all(path, str_lit("a much longer old content"), FileWrite_Replace));
    ASSERT_TRUE(file_write_all(path, str_lit("new"), FileWrite_Replace));
    EXPECT_EQ(s(file_read_all(arena, path)), "new");
    ASSERT_TRUE(file_write_all(path, str_lit("no"), 0));   // an existing file may be rewritten without flags
    EXPECT_EQ(s(file_read_all(arena, path)), "no");
    FolderListing listing = folder_list(arena, str_from_cstring(dir.path.c_str()));
    EXPECT_EQ(listing.count, 1u);
}

TEST_F(PlatformTest, MissingFilesGiveEmptyResults)
{
    Str missing = dir.at(arena, "nope.wyn");
    FileProperties props = {};
    EXPECT_EQ(file_read_all(arena, missing, &props).size, 0u);
    EXPECT_FALSE(props.exists);
    EXPECT_FALSE(file_exists(missing));
    EXPECT_EQ(file_last_write_time(missing), 0u);
    EXPECT_FALSE(file_delete(missing));
    EXPECT_EQ(file_read_all(arena, str_from_cstring(dir.path.c_str())).size, 0u);   // a folder reads as empty
}

TEST_F(PlatformTest, FolderCreateAllStopsBeforeTheFileName)
{
    Str path = dir.at(arena, "x/y/z.html");
    ASSERT_TRUE(folder_create_all(path));
    EXPECT_TRUE(file_properties(dir.at(arena, "x/y")).is_folder);
    EXPECT_FALSE(file_properties(path).exists);
    EXPECT_TRUE(folder_create_all(path));   // existing folders count as created
    ASSERT_TRUE(file_write_all(dir.at(arena, "f"), str_lit("1"), FileWrite_Replace));
    EXPECT_FALSE(folder_create_all(dir.at(arena, "f/g/h")));   // a file in the way
}

TEST_F(PlatformTest, ListingSkipsDotsAndKnowsFolders)
{
    file_write_all(dir.at(arena, "a.wyn"), str_lit("1"), FileWrite_Replace);
    folder_create(dir.at(arena, "sub"));
    FolderListing listing = folder_list(arena, str_from_cstring(dir.path.c_str()));
    ASSERT_TRUE(listing.opened);
    EXPECT_EQ(listing.count, 2u);
    int folders = 0;
    for (FolderEntry *e = listing.first; e; e = e->next) folders += e->is_folder;
    EXPECT_EQ(folders, 1);
    EXPECT_FALSE(folder_list(arena, dir.at(arena, "missing")).opened);
}

TEST(Platform, CurrentDirectoryHasNoTrailingSlash)
{
    Arena *arena = arena_alloc(KiB(64), KiB(4));
    Str cwd = current_directory(arena);
    ASSERT_GT(cwd.size, 0u);
    EXPECT_EQ(cwd.str[0], '/');
    if (cwd.size > 1) {
        EXPECT_NE(cwd.str[cwd.size - 1], '/');
    }
    arena_release(arena);
}

TEST(Platform, ClockMovesForwardAndDatesAreCurrent)
{
    u64 a = now_us();
    sleep_ms(2);
    u64 b = now_us();
    EXPECT_GE(b - a, 2000u);
    DateTime today = date_now();
    EXPECT_GE(today.year, 2024);
    EXPECT_GE(today.month, 1);
    EXPECT_LE(today.month, 12);
    const SystemInfo *info = system_info();
    EXPECT_GE(info->processor_count, 1u);
    EXPECT_EQ(info->page_size % 4096, 0u);
}

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

TEST(Threads, NamesKeepTheirFirstSixtyFourBytes)
{
    ThreadRecord *t = thread_start(7, name_entry);
    ASSERT_NE(t, nullptr);
    thread_join(t);
}

struct Counter {
    CriticalSection *cs;
    CondVar *cv;
    u64 value;
    u64 target;
};

static Counter g_counter;

static void count_entry(u64)
{
    for (int i = 0; i < 1000; i += 1) {
        cs_enter(g_counter.cs);
        g_counter.value += 1;
        if (g_counter.value == g_counter.target) cv_broadcast(g_counter.cv);
        cs_leave(g_counter.cs);
    }
}

TEST(Threads, LocksAndConditionVariablesCoordinateThreads)
{
    g_counter.cs = cs_alloc();
    g_counter.cv = cv_alloc();
    g_counter.value = 0;
    g_counter.target = 4000;
    ThreadRecord *threads[4];
    for (u64 i = 0; i < 4; i += 1) threads[i] = thread_start(i, count_entry);
    cs_enter(g_counter.cs);
    u64 deadline = now_us() + 30 * 1000000ull;
    while (g_counter.value < g_counter.target && now_us() < deadline) wait_cs(g_counter.cv, g_counter.cs, deadline);
    EXPECT_EQ(g_counter.value, 4000u);
    cs_leave(g_counter.cs);
    for (ThreadRecord *t : threads) thread_join(t);
}

TEST(Threads, WaitsHonourTheirDeadlines)
{
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
    srw_unlock_exclusive(lock);
}

static std::atomic<int> g_scratch_ok{0};

static void scratch_entry(u64)
{
    for (int i = 0; i < 200; i += 1) {
        ArenaTemp t = scratch_begin(nullptr, 0);
        Str x = str_pushf(t.arena, "%d", i);
        if (x.size > 0) g_scratch_ok.fetch_add(1);
        scratch_end(t);
    }
}

TEST(Threads, EveryThreadHasItsOwnScratch)
{
    ThreadRecord *threads[3];
    for (u64 i = 0; i < 3; i += 1) threads[i] = thread_start(i, scratch_entry);
    for (ThreadRecord *t : threads) thread_join(t);
    EXPECT_EQ(g_scratch_ok.load(), 600);
}
