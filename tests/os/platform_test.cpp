// test-label: concurrency
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/platform.h"
#include "test_wait.h"

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

TEST_F(PlatformTest, ReadingAFileTakesItsSizeFromTheArenaAndNoMore)
{
    // Loads of every source go through here: a read must not touch twice
    // the file's size of arena memory to find the end.
    Str path = dir.at(arena, "sized.wyn");
    std::string text(KiB(300) + 5, 'q');
    ASSERT_TRUE(file_write_all(path, Str{text.data(), text.size()}, FileWrite_Replace));
    u64 before = arena_pos(arena);
    Str bytes = file_read_all(arena, path);
    ASSERT_EQ(bytes.size, text.size());
    EXPECT_EQ(bytes.str[bytes.size], 0);
    EXPECT_LE(arena_pos(arena) - before, text.size() + 8 + 1);
    Str empty_path = dir.at(arena, "empty.wyn");
    ASSERT_TRUE(file_write_all(empty_path, str_empty(), FileWrite_Replace));
    before = arena_pos(arena);
    FileProperties props = {};
    Str empty = file_read_all(arena, empty_path, &props);
    EXPECT_EQ(empty.size, 0u);
    EXPECT_TRUE(props.exists);
    EXPECT_LE(arena_pos(arena) - before, 8u);
}

TEST_F(PlatformTest, AFileLongerThanItsReportedSizeIsReadToItsEnd)
{
    // Files under /proc report a size of 0 and are longer: the read must
    // go past the size it was told, through more than one probe.
    Str maps = file_read_all(arena, str_lit("/proc/self/smaps"));
    std::string text(maps.str, maps.size);
    ASSERT_GT(text.size(), 3 * 4096u);
    EXPECT_EQ(maps.str[maps.size], 0);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_NE(text.find("[stack]"), std::string::npos);   // the stack's mapping is among the last
}

TEST_F(PlatformTest, ARewriteKeepsTheFilesModeAndANewFileGetsTheUsualOne)
{
    // A replace goes through a new file: without care a script would lose
    // its executable bit at every write.
    Str script = dir.at(arena, "run.sh");
    ASSERT_TRUE(file_write_all(script, str_lit("#!/bin/sh\n"), FileWrite_Replace));
    ASSERT_EQ(chmod(script.str, 0750), 0);
    ASSERT_TRUE(file_write_all(script, str_lit("#!/bin/sh\necho\n"), 0));
    struct stat st;
    ASSERT_EQ(stat(script.str, &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
    Str fresh = dir.at(arena, "fresh.txt");
    mode_t old_mask = umask(022);
    ASSERT_TRUE(file_write_all(fresh, str_lit("x"), FileWrite_Replace));
    umask(old_mask);
    ASSERT_EQ(stat(fresh.str, &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
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

TEST(Platform, TheRootFolderIsASlashNotNothing)
{
    char before[4096];
    ASSERT_NE(getcwd(before, sizeof(before)), nullptr);
    ASSERT_EQ(chdir("/"), 0);
    Arena *arena = arena_alloc(KiB(64), KiB(4));
    Str cwd = current_directory(arena);
    std::string seen(cwd.str, cwd.size);
    ASSERT_EQ(chdir(before), 0);
    EXPECT_EQ(seen, "/");
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
    TestThread *t = test_thread_start(7, name_entry);
    ASSERT_TRUE(test_thread_join(t)) << "the naming thread never finished";
}

static std::atomic<int> g_named{0};
static std::atomic<int> g_release{0};

static void streamer_name_entry(u64 index)
{
    thread_set_name("[FS] Streamer #%I64u", index);
    ThreadContext *context = thread_context();
    if (std::string(context->name, context->name_size) == "[FS] Streamer #" + std::to_string(index)) g_named.fetch_add(1);
    u64 deadline = test_deadline();
    while (!g_release.load() && now_us() < deadline) sleep_ms(1);
}

// What the kernel shows for each thread of this process.
static std::set<std::string> kernel_thread_names()
{
    std::set<std::string> names;
    DIR *tasks = opendir("/proc/self/task");
    if (!tasks) return names;
    while (struct dirent *task = readdir(tasks)) {
        if (task->d_name[0] == '.') continue;
        std::ifstream comm(std::string("/proc/self/task/") + task->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        names.insert(name);
    }
    closedir(tasks);
    return names;
}

TEST(Threads, TheKernelGetsAShortNameThatKeepsTheIndex)
{
    g_named = 0;
    g_release = 0;
    TestThread *threads[2] = {test_thread_start(1, streamer_name_entry), test_thread_start(12, streamer_name_entry)};
    u64 deadline = test_deadline();
    while (g_named.load() < 2 && now_us() < deadline) sleep_ms(1);
    std::set<std::string> names = kernel_thread_names();
    g_release = 1;
    for (TestThread *t : threads) ASSERT_TRUE(test_thread_join(t)) << "a named thread never finished";
    EXPECT_EQ(g_named.load(), 2) << "the context keeps the whole name";
    EXPECT_EQ(names.count("FS Streamer 1"), 1u);
    EXPECT_EQ(names.count("FS Streamer 12"), 1u);
}

TEST(Threads, ShortNamesGiveWayInTheWordsNotTheIndex)
{
    auto short_of = [](const char *name) {
        char out[thread_short_name_capacity];
        u64 n = thread_short_name(str_from_cstring(name), out);
        EXPECT_EQ(n, strlen(out));
        EXPECT_LE(n, thread_short_name_capacity - 1);
        return std::string(out);
    };
    EXPECT_EQ(short_of("[WYN] Parser #2"), "WYN Parser 2");
    EXPECT_EQ(short_of("[HTTP] Request #12"), "HTTP Request 12");    // exactly 15 bytes
    EXPECT_EQ(short_of("[HTTP] Request #123"), "HTTP Reques 123");   // one too many: a letter goes
    EXPECT_EQ(short_of("[WYN] evictor/detector thread"), "WYN evictor/det");
    EXPECT_EQ(short_of("[Main Thread]"), "Main Thread");
    EXPECT_EQ(short_of("a very long name with 1234567890123456789"), "a very long nam");
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
    TestThread *threads[4];
    for (u64 i = 0; i < 4; i += 1) threads[i] = test_thread_start(i, count_entry);
    cs_enter(g_counter.cs);
    u64 deadline = now_us() + 30 * 1000000ull;
    while (g_counter.value < g_counter.target && now_us() < deadline) wait_cs(g_counter.cv, g_counter.cs, deadline);
    EXPECT_EQ(g_counter.value, 4000u);
    cs_leave(g_counter.cs);
    for (TestThread *t : threads) ASSERT_TRUE(test_thread_join(t)) << "a counting thread never finished";
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
    TestThread *threads[3];
    for (u64 i = 0; i < 3; i += 1) threads[i] = test_thread_start(i, scratch_entry);
    for (TestThread *t : threads) ASSERT_TRUE(test_thread_join(t)) << "a scratch thread never finished";
    EXPECT_EQ(g_scratch_ok.load(), 600);
}
