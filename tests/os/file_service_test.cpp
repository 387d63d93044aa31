// test-label: concurrency
//
// The file service against real files in a temporary folder. Every wait has
// a generous deadline and checks an outcome (the content changed, the
// generation rose, the scanner completed full passes); none sleeps and hopes.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/file_service.h"
#include "os_support.h"

// Every read has a deadline: a lost load fails the test with the path
// named instead of hanging it.
static FsResult get(const std::string &path)
{
    FsResult r = fs_get(as_str(path), test_deadline());
    EXPECT_TRUE(r.loaded) << path << " was not loaded within " << test_wait_seconds << " s";
    return r;
}

static u64 entry_count(FileService *fs)
{
    u64 count = 0;
    for (u64 b = 0; b < file_bucket_count; b += 1) {
        TableStripe *stripe = striped_stripe_of(&fs->table, b);
        srw_lock_shared(stripe->slim);
        for (FileEntry *e = fs->buckets[b].first; e; e = e->next) count += 1;
        srw_unlock_shared(stripe->slim);
    }
    return count;
}

// Completed loads of a path's entry, 0 when there is none.
static u64 loads_of(FileService *fs, const std::string &path)
{
    u64 bucket = striped_bucket_of(&fs->table, str_hash(as_str(path)));
    TableStripe *stripe = striped_stripe_of(&fs->table, bucket);
    u64 loads = 0;
    srw_lock_shared(stripe->slim);
    for (FileEntry *e = fs->buckets[bucket].first; e; e = e->next)
        if (s(e->path) == path) loads = e->load_count;
    srw_unlock_shared(stripe->slim);
    return loads;
}

// Waits until the scanner has completed `count` more full passes: long
// enough for any change it would see to have been requested and loaded.
// A pass that took long spaces the next one out by 200 times its length,
// and on a loaded machine a descheduled scanner's pass can take 100 ms:
// the wait allows for that.
static bool wait_full_passes(FileService *fs, u64 count)
{
    u64 target = atomic_load_u64(&fs->full_passes) + count;
    return wait_for([&] { return atomic_load_u64(&fs->full_passes) >= target; }, 120);
}

// One service per process; when the tests share a process, each gets its
// own subfolder and the folders are removed only at the end, so one test's
// clean-up is never a change that another test's counts see.
struct FileServiceTest : ::testing::Test {
    static TempFolder *root;
    static int serial;
    FileService *fs = nullptr;
    std::string folder;
    static void SetUpTestSuite() { root = new TempFolder(); }
    static void TearDownTestSuite() { delete root; }
    void SetUp() override
    {
        FileServiceConfig config = {};
        config.full_pass_ms = 300;   // short, so tests can wait for passes
        fs = fs_start_with(&config);
        folder = root->at("t" + std::to_string(serial++));
        ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
    }
    std::string at(const std::string &rest) const { return folder + "/" + rest; }
};
TempFolder *FileServiceTest::root;
int FileServiceTest::serial;

//- first loads

TEST_F(FileServiceTest, ThreadsAskingForNewPathsTogetherCreateOneEntryEach)
{
    constexpr int files = 64, threads = 4;
    static std::vector<std::string> paths;
    static ContentKey keys[threads][files];
    paths.clear();
    // The folder is watched before the files are written, and the files
    // share one bucket: the scanner's lookups of the names it is told about
    // meet the readers' inserts.
    get(at("watched.wyn"));
    u64 ticks = atomic_load_u64(&fs->scan_ticks);
    ASSERT_TRUE(wait_for([&] { return atomic_load_u64(&fs->scan_ticks) >= ticks + 2; }));
    u64 bucket = striped_bucket_of(&fs->table, str_hash(as_str(at("same_0.wyn"))));
    for (int n = 0; (int)paths.size() < files; n += 1) {
        std::string path = at("same_" + std::to_string(n) + ".wyn");
        if (striped_bucket_of(&fs->table, str_hash(as_str(path))) != bucket) continue;
        write_file(path, "content " + std::to_string(paths.size()));
        paths.push_back(path);
    }
    u64 entries_before = entry_count(fs);
    u64 generation_before = fs_generation();
    ASSERT_TRUE(test_rounds(threads, 1, [](u64 thread, u64) {
        for (int i = 0; i < files; i += 1) keys[thread][i] = get(paths[i]).key;
    })) << "a reader of new paths never finished";
    EXPECT_EQ(entry_count(fs), entries_before + files);
    EXPECT_EQ(fs_generation(), generation_before);   // first loads change nothing anybody built
    for (int i = 0; i < files; i += 1) {
        EXPECT_EQ(s(content_get(keys[0][i])), "content " + std::to_string(i));
        for (int t = 1; t < threads; t += 1) EXPECT_TRUE(content_key_eq(keys[t][i], keys[0][i]));
    }
}

TEST_F(FileServiceTest, APrefetchStartsTheLoadAndAReaderThenFindsIt)
{
    std::string path = at("ahead.wyn");
    write_file(path, "loaded ahead");
    u64 entries = entry_count(fs);
    u64 before = fs_generation();
    fs_prefetch(as_str(path));
    EXPECT_EQ(entry_count(fs), entries + 1);   // registered at once, loaded in the background
    FsResult r = get(path);
    EXPECT_EQ(s(content_get(r.key)), "loaded ahead");
    EXPECT_EQ(r.last_write_time, file_properties(as_str(path)).last_write_time);
    EXPECT_EQ(r.generation, before);
    fs_prefetch(as_str(path));   // known already: no second load
    EXPECT_EQ(text_of(path), "loaded ahead");
    EXPECT_TRUE(wait_full_passes(fs, 1));
    EXPECT_EQ(loads_of(fs, path), 1u);
    EXPECT_EQ(fs_generation(), before);
    EXPECT_EQ(entry_count(fs), entries + 1);
}

// A document built ahead of its turn reads a source whose first load is
// queued behind thousands of others: its reader loads it, and the streamer
// that reaches the request later does not load it again.
static std::string g_ahead_path;
static FsContent g_ahead_content;
static void read_ahead(u64) { g_ahead_content = fs_read(as_str(g_ahead_path), u64_max); }

TEST_F(FileServiceTest, AReaderLoadsAQueuedFirstLoadItselfAndTheStreamerSkipsIt)
{
    // Every streamer is stopped on one stripe's lock, held here, while it
    // loads one of the files queued first; the wanted file lies in another
    // stripe, queued behind them all.
    TableStripe *held = striped_stripe_of(&fs->table, striped_bucket_of(&fs->table, str_hash(as_str(at("held_0.wyn")))));
    std::vector<std::string> blocked;
    for (int n = 0; blocked.size() < fs->streamer_count + 6; n += 1) {
        std::string path = at("held_" + std::to_string(n) + ".wyn");
        if (striped_stripe_of(&fs->table, striped_bucket_of(&fs->table, str_hash(as_str(path)))) != held) continue;
        write_file(path, std::string(4u << 20, (char)('a' + n % 26)));
        blocked.push_back(path);
    }
    g_ahead_path = "";
    for (int n = 0; g_ahead_path.empty(); n += 1) {
        std::string path = at("wanted_" + std::to_string(n) + ".wyn");
        if (striped_stripe_of(&fs->table, striped_bucket_of(&fs->table, str_hash(as_str(path)))) != held) g_ahead_path = path;
    }
    write_file(g_ahead_path, "read ahead of its turn");

    for (const std::string &path : blocked) fs_prefetch(as_str(path));
    srw_lock_exclusive(held->slim);
    // Files this size take milliseconds each to read and hash: the lock is
    // taken long before the streamers are through them.
    u64 waiting = 0;
    for (u64 b = 0; b < file_bucket_count; b += 1) {
        if (striped_stripe_of(&fs->table, b) != held) continue;
        for (FileEntry *e = fs->buckets[b].first; e; e = e->next)
            if (s(e->path).rfind(at("held_"), 0) == 0 && atomic_load_u64(&e->busy) != FileBusy_Idle) waiting += 1;
    }
    u64 dropped = atomic_load_u64(&fs->dropped_requests);
    fs_prefetch(as_str(g_ahead_path));
    TestThread *reader = test_thread_start(0, read_ahead);
    bool read_in_time = test_thread_join(reader, 20);
    srw_unlock_exclusive(held->slim);
    ASSERT_GE(waiting, fs->streamer_count) << "the streamers got through the held files before the lock was taken";
    EXPECT_TRUE(read_in_time) << "the reader waited for the streamers instead of loading the file itself";
    if (!read_in_time) {
        ASSERT_TRUE(test_thread_join(reader));
    }
    EXPECT_TRUE(g_ahead_content.file.loaded);
    EXPECT_EQ(s(g_ahead_content.bytes), "read ahead of its turn");
    fs_read_done(&g_ahead_content);

    // Once the streamers go on, the wanted file's request is skipped: one
    // load, however long the watch runs, and the held files load as usual.
    EXPECT_TRUE(wait_for([&] { return atomic_load_u64(&fs->dropped_requests) > dropped; }, test_wait_seconds));
    for (const std::string &path : blocked) EXPECT_EQ(content_get(get(path).key).size, 4u << 20) << path;
    EXPECT_TRUE(wait_full_passes(fs, 1));
    EXPECT_EQ(loads_of(fs, g_ahead_path), 1u);
    for (const std::string &path : blocked) EXPECT_EQ(loads_of(fs, path), 1u) << path;
}

TEST_F(FileServiceTest, AReaderWhoseDeadlinePassesGetsNoKeyButTheLoadGoesOn)
{
    // Large files keep their first load busy long after the deadline; a
    // reader gives up with no key (never another file's), the load still
    // completes, and the next reader without a deadline gets the bytes.
    u64 not_loaded = 0;
    for (int i = 0; i < 5 && not_loaded == 0; i += 1) {
        std::string path = at("late" + std::to_string(i) + ".wyn");
        std::string text(32u << 20, (char)('a' + i));
        write_file(path, text);
        FsResult early = fs_get(as_str(path), now_us());   // already due
        if (!early.loaded) {
            not_loaded += 1;
            EXPECT_TRUE(content_key_is_zero(early.key));
        } else {
            EXPECT_EQ(content_get(early.key).size, text.size());
        }
        FsResult later = get(path);
        EXPECT_TRUE(later.loaded);
        EXPECT_TRUE(content_key_eq(later.key, content_key_of(as_str(text))));
    }
    EXPECT_EQ(not_loaded, 1u);
}

//- watching

TEST_F(FileServiceTest, ASaveRaisesTheGenerationOnceAndATouchReloadsWithoutRaisingIt)
{
    std::string path = at("doc.wyn");
    write_file(path, "first version");
    ASSERT_EQ(text_of(path), "first version");
    ASSERT_TRUE(wait_full_passes(fs, 1));
    u64 before = fs_generation();
    write_file(path, "second version, longer");
    EXPECT_TRUE(wait_for([&] { return text_of(path) == "second version, longer"; }));
    EXPECT_TRUE(wait_full_passes(fs, 3));
    EXPECT_EQ(fs_generation(), before + 1);
    FsResult saved = get(path);
    EXPECT_EQ(saved.last_write_time, file_properties(as_str(path)).last_write_time);
    // A new time on the same bytes: reloaded under the same key, and nothing
    // built from them is out of date.
    struct timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 123456789}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    EXPECT_TRUE(wait_for([&] { return get(path).last_write_time == 1700000000123456789ull; })) << "touch not reloaded";
    EXPECT_TRUE(content_key_eq(get(path).key, saved.key));
    EXPECT_TRUE(wait_full_passes(fs, 2));
    EXPECT_EQ(fs_generation(), before + 1);
}

// Saved by rename, as careful editors do: no reader ever sees it empty.
static void replace_file(const std::string &path, const std::string &text)
{
    ASSERT_TRUE(file_write_all(as_str(path), as_str(text), FileWrite_Replace));
}

TEST_F(FileServiceTest, AReloadReleasesTheContentItReplacesOnceNoReaderHoldsIt)
{
    std::string path = at("saved.wyn");
    replace_file(path, "version 0");
    ASSERT_EQ(text_of(path), "version 0");
    FsContent held = fs_read(as_str(path), test_deadline());
    ASSERT_EQ(s(held.bytes), "version 0");
    u64 entries = content_entry_count();
    u64 released = content_released_count();

    replace_file(path, "version 1, held back");
    ASSERT_TRUE(wait_for([&] { return text_of(path) == "version 1, held back"; }));
    // The reader's hold keeps the replaced bytes, whole and in the cache.
    EXPECT_EQ(s(held.bytes), "version 0");
    EXPECT_EQ(s(content_get(held.file.key)), "version 0");
    EXPECT_EQ(content_released_count(), released);
    fs_read_done(&held);
    // The loader gives back its own hold just after it published the new
    // key, which the wait above may have seen first.
    EXPECT_TRUE(wait_for([&] { return content_released_count() == released + 1; }));
    EXPECT_EQ(content_get(held.file.key).size, 0u);

    // Saved over and over, the file keeps one content in the cache.
    for (int v = 2; v < 40; v += 1) {
        std::string text = "version " + std::to_string(v);
        replace_file(path, text);
        ASSERT_TRUE(wait_for([&] { return text_of(path) == text; })) << text;
    }
    EXPECT_TRUE(wait_for([&] { return content_released_count() == released + 39; }));
    EXPECT_EQ(content_entry_count(), entries);

    // The same bytes saved again share the entry and release nothing.
    FsResult before = get(path);
    replace_file(path, "version 39");
    ASSERT_TRUE(wait_full_passes(fs, 2));
    EXPECT_TRUE(content_key_eq(get(path).key, before.key));
    EXPECT_EQ(text_of(path), "version 39");
    EXPECT_EQ(content_released_count(), released + 39);
}

// Sets a file's modification time back to what it was.
static void restore_mtime(const std::string &path, const struct stat &old)
{
    struct timespec times[2] = {old.st_atim, old.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST_F(FileServiceTest, AChangeUnderTheOldModificationTimeIsSeenBySizeOrIdentity)
{
    // Two saves within one tick of a coarse file-system clock, or a tool
    // that restores the time, leave the time as it was: the size or the
    // file itself still tells.
    std::string path = at("same_time.wyn");
    write_file(path, "short");
    ASSERT_EQ(text_of(path), "short");
    struct stat old;
    ASSERT_EQ(stat(path.c_str(), &old), 0);

    write_file(path, "a longer text, same inode");
    restore_mtime(path, old);
    EXPECT_TRUE(wait_for([&] { return text_of(path) == "a longer text, same inode"; })) << "size change missed";

    // Same size, same time, another file renamed over it.
    ASSERT_EQ(stat(path.c_str(), &old), 0);
    std::string other = at("same_time.tmp");
    write_file(other, "a longer text, next inode");   // as long as the text before
    restore_mtime(other, old);
    ASSERT_EQ(rename(other.c_str(), path.c_str()), 0);
    EXPECT_TRUE(wait_for([&] { return text_of(path) == "a longer text, next inode"; })) << "identity change missed";

    // Same size, same time, same file: only the folder's event tells.
    ASSERT_EQ(stat(path.c_str(), &old), 0);
    write_file(path, "A LONGER TEXT, NEXT INODE");
    restore_mtime(path, old);
    EXPECT_TRUE(wait_for([&] { return text_of(path) == "A LONGER TEXT, NEXT INODE"; })) << "same-stat save missed";
}

TEST_F(FileServiceTest, FilesAndFoldersThatComeAndGoAreFollowed)
{
    // A missing file loads as empty and is picked up once written, in a
    // watched folder and in one that did not exist yet (polled until it can
    // be watched); a deleted file turns empty. Folders removed or moved and
    // made again are folder_watch_test's: there no full pass can hide a
    // watch that was lost.
    std::string path = at("later.wyn");
    std::string deep = at("sub/deeper.wyn");
    FsResult r = get(path);
    EXPECT_EQ(content_get(r.key).size, 0u);
    EXPECT_EQ(r.last_write_time, 0u);
    EXPECT_EQ(text_of(deep), "");
    write_file(path, "now it exists");
    ASSERT_EQ(mkdir(at("sub").c_str(), 0777), 0);
    write_file(deep, "deep too");
    EXPECT_TRUE(wait_for([&] { return text_of(path) == "now it exists"; }));
    EXPECT_TRUE(wait_for([&] { return text_of(deep) == "deep too"; }));
    EXPECT_TRUE(wait_for([&] { return fs_notifications_active(fs); }));   // the new folder got its watch
    ASSERT_EQ(unlink(path.c_str()), 0);
    EXPECT_TRUE(wait_for([&] {
        r = get(path);
        return content_get(r.key).size == 0 && r.last_write_time == 0;
    }));
}

//- bad input

TEST_F(FileServiceTest, OddFilesLoadOnceAsEmptyAndAPathPastTheLimitIsRefused)
{
    write_file(at("empty.wyn"), "");
    ASSERT_EQ(mkdir(at("folder.wyn").c_str(), 0777), 0);
    ASSERT_EQ(mkfifo(at("pipe.wyn").c_str(), 0666), 0);   // opening it for reading would wait for a writer
    write_file(at("secret.wyn"), "hidden");
    ASSERT_EQ(chmod(at("secret.wyn").c_str(), 0), 0);
    std::vector<std::string> names = {"empty.wyn", "folder.wyn", "pipe.wyn"};
    if (geteuid() != 0) names.push_back("secret.wyn");   // root reads it all the same
    for (const std::string &name : names) {
        FsResult r = get(at(name));
        EXPECT_EQ(content_get(r.key).size, 0u) << name;
        EXPECT_FALSE(content_key_is_zero(r.key)) << name;
    }
    // The real time of an empty file, so it is not reloaded on every pass;
    // nor is anything else here.
    EXPECT_EQ(get(at("empty.wyn")).last_write_time, file_properties(as_str(at("empty.wyn"))).last_write_time);
    u64 before = fs_generation();
    EXPECT_TRUE(wait_full_passes(fs, 3));
    for (const std::string &name : names) EXPECT_EQ(loads_of(fs, at(name)), 1u) << name;
    EXPECT_EQ(fs_generation(), before);

    // A path past the request limit is refused at once.
    u64 limit = queue_payload_limit(fs->requests);
    std::string at_limit = folder + "/" + std::string(limit - folder.size() - 1, 'a');
    std::string too_long = at_limit + "b";
    ASSERT_EQ(at_limit.size(), limit);
    u64 known = entry_count(fs);
    FsResult refused = fs_get(as_str(too_long), test_deadline());   // waits to the deadline if it were queued
    EXPECT_FALSE(refused.loaded);
    EXPECT_TRUE(content_key_is_zero(refused.key));
    EXPECT_EQ(entry_count(fs), known);
    EXPECT_FALSE(fs_request(as_str(too_long), u64_max));
    FsResult fits = get(at_limit);   // no such file: empty, but loaded
    EXPECT_TRUE(fits.loaded);
    EXPECT_EQ(content_get(fits.key).size, 0u);
    EXPECT_EQ(entry_count(fs), known + 1);
}

//- readers during rewrites

static std::string version_text(int version)
{
    // Each version has its own length and bytes, so a mix of two is visible.
    char head[16];
    snprintf(head, sizeof(head), "v%04d|", version);
    std::string text;
    while (text.size() < (size_t)(3000 + version)) text += head;
    text.resize((size_t)(3000 + version));
    return text;
}

TEST_F(FileServiceTest, ReadersOfAFileRewrittenRepeatedlySeeWholeVersionsInOrder)
{
    static std::string path;
    static std::atomic<u64> writer_done{0}, torn{0}, backwards{0}, reads{0};
    constexpr int versions = 150;
    path = at("rewritten.wyn");
    ASSERT_TRUE(file_write_all(as_str(path), as_str(version_text(0)), FileWrite_Replace));
    ASSERT_EQ(text_of(path), version_text(0));
    // Thread 0 writes, the others read until it is done.
    ASSERT_TRUE(test_rounds(4, 1, [](u64 thread, u64) {
        if (thread == 0) {
            for (int v = 1; v <= versions; v += 1) {
                file_write_all(as_str(path), as_str(version_text(v)), FileWrite_Replace);   // atomic replace
                if (v % 10 == 0) sleep_ms(20);   // let some versions be loaded on the way
            }
            wait_for([] { return text_of(path) == version_text(versions); });
            writer_done.store(1);
        }
        for (int last = 0; !writer_done.load();) {
            std::string text = text_of(path);
            int version = atoi(text.c_str() + 1);
            if (text != version_text(version)) torn.fetch_add(1);
            else if (version < last) backwards.fetch_add(1);
            else last = version;
            reads.fetch_add(1);
        }
    })) << "a reader never saw the writer finish";
    EXPECT_EQ(text_of(path), version_text(versions));
    EXPECT_EQ(torn.load(), 0u);
    EXPECT_EQ(backwards.load(), 0u);
    EXPECT_GT(reads.load(), 0u);
}

//- without notifications

TEST(FileServicePolling, ChangesAreSeenByFullPassesAlone)
{
    // A system without notifications (or a folder that cannot be watched)
    // falls back to a full pass on every tick. This test must start its own
    // process's service, as ctest runs it.
    FileServiceConfig config = {};
    config.no_notifications = 1;
    FileService *fs = fs_start_with(&config);
    if (!fs->config.no_notifications) GTEST_SKIP() << "the service was started by an earlier test";
    TempFolder dir;
    std::string path = dir.at("polled.wyn");
    write_file(path, "before");
    ASSERT_EQ(text_of(path), "before");
    EXPECT_FALSE(fs_notifications_active(fs));
    write_file(path, "after the change");
    EXPECT_TRUE(wait_for([&] { return text_of(path) == "after the change"; }));
    // Every tick is a full pass.
    u64 ticks = atomic_load_u64(&fs->scan_ticks);
    EXPECT_TRUE(wait_for([&] { return atomic_load_u64(&fs->scan_ticks) >= ticks + 3; }));
    EXPECT_GE(atomic_load_u64(&fs->full_passes), ticks + 2);
}
