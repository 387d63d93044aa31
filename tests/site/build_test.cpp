// test-label: concurrency
//
// The site build with real workers, the real file service and real files.
// Waits have generous deadlines and check outcomes (builds completed, jobs
// dropped, generations stored).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "markup/tables.h"
#include "os/file_service.h"
#include "site/build.h"

static Str as_str(const std::string &x) { return Str{x.data(), x.size()}; }

static void write_file(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

template <typename Pred>
static bool wait_for(Pred pred, int seconds = 30)
{
    u64 deadline = now_us() + (u64)seconds * 1000000;
    while (now_us() < deadline) {
        if (pred()) return true;
        sleep_ms(2);
    }
    return pred();
}

// A record's fields as they stand, read under its stripe's lock as every
// reader of the table must.
struct RecordView {
    bool found;
    u64 build_count;
    u64 built_generation;
    u64 busy;
    u64 arena_used;
    u64 message_count;
    u64 table_count;
    u64 first_table_rows;
    bool has_root;
};

static RecordView view(Str path)
{
    RecordView v = {};
    SiteBuild *build = site_build();
    DocumentRecord *record = doc_find(path);
    if (!record) return v;
    TableStripe *stripe = striped_stripe_of(&build->documents, striped_bucket_of(&build->documents, str_hash(path)));
    srw_lock_shared(stripe->slim);
    v.found = true;
    v.build_count = record->build_count;
    v.built_generation = record->built_generation;
    v.busy = atomic_load_u64(&record->busy);
    v.arena_used = v.busy ? 0 : arena_pos(record->arena);
    v.message_count = record->parsed.messages.count;
    v.table_count = record->parsed.extra_list.count;
    if (record->parsed.extra_list.first && record->parsed.extra_list.first->table)
        v.first_table_rows = record->parsed.extra_list.first->table->row_count;
    v.has_root = !node_is_nil(record->parsed.root);
    srw_unlock_shared(stripe->slim);
    return v;
}

// The build and the file service are one per process. Tests that share a
// process get their own subfolders, removed only at the end.
struct SiteBuildTest : ::testing::Test {
    static std::string root;
    static int serial;
    SiteBuild *build = nullptr;
    std::string dir;

    static void SetUpTestSuite()
    {
        char pattern[] = "/tmp/wyn-build-XXXXXX";
        root = mkdtemp(pattern);
    }
    static void TearDownTestSuite() { std::system(("rm -rf '" + root + "'").c_str()); }
    void SetUp() override
    {
        content_cache_create();
        FileServiceConfig fs_config = {};
        fs_start_with(&fs_config);
        SiteBuildConfig config = {};
        config.worker_count = 2;   // even on one processor: the tests need two workers racing
        config.quiet = 1;
        build = site_build_start_with(as_str(root + "/"), 1, 0, 0, &config);
        dir = root + "/t" + std::to_string(serial++);
        ASSERT_EQ(mkdir(dir.c_str(), 0777), 0);
    }
    std::string at(const std::string &name) const { return dir + "/" + name; }
    u64 completed() const { return atomic_load_u64(&build->completed_builds); }
};
std::string SiteBuildTest::root;
int SiteBuildTest::serial;

TEST(SiteBuildWorkers, OneWorkerPerProcessorButOneFromOneToFour)
{
    EXPECT_EQ(site_build_worker_count(1), 1u);
    EXPECT_EQ(site_build_worker_count(2), 1u);
    EXPECT_EQ(site_build_worker_count(3), 2u);
    EXPECT_EQ(site_build_worker_count(5), 4u);
    EXPECT_EQ(site_build_worker_count(8), 4u);
    EXPECT_EQ(site_build_worker_count(64), 4u);
}

TEST_F(SiteBuildTest, EverySubmittedDocumentIsBuiltOnceWithTheGenerationItRead)
{
    constexpr int documents = 40;
    std::vector<std::string> paths;
    for (int i = 0; i < documents; i += 1) {
        paths.push_back(at("doc" + std::to_string(i) + ".wyn"));
        write_file(paths.back(), "text of document " + std::to_string(i) + "\n");
    }
    u64 before = completed();
    u64 submitted_before = build->submitted_count;
    for (const std::string &p : paths) ASSERT_TRUE(site_build_submit(as_str(p)));
    EXPECT_EQ(build->submitted_count, submitted_before + documents);
    EXPECT_EQ(std::string(build->submitted.last->string.str), paths.back());
    ASSERT_TRUE(wait_for([&] { return completed() >= before + documents; }));
    for (const std::string &p : paths) {
        RecordView record = view(as_str(p));
        ASSERT_TRUE(record.found) << p;
        EXPECT_EQ(record.busy, 0u);
        EXPECT_EQ(record.build_count, 1u);
        // At least its own load is counted, never more than happened.
        EXPECT_GE(record.built_generation, 1u);
        EXPECT_LE(record.built_generation, fs_generation());
    }
    EXPECT_EQ(doc_find(as_str(at("never_submitted.wyn"))), nullptr);
}

TEST_F(SiteBuildTest, AJobForADocumentAWorkerHoldsIsDropped)
{
    std::string path = at("held.wyn");
    write_file(path, "held\n");
    // Hold the document as a running first job would.
    DocumentRecord *held = doc_claim(build, as_str(path));
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(doc_claim(build, as_str(path)), nullptr);   // a second claim fails at once
    u64 dropped = atomic_load_u64(&build->dropped_jobs);
    u64 before = completed();
    ASSERT_TRUE(site_build_submit(as_str(path)));
    ASSERT_TRUE(wait_for([&] { return atomic_load_u64(&build->dropped_jobs) == dropped + 1; }));
    EXPECT_EQ(completed(), before);   // dropped, not built
    ParsedDocument empty = {};
    doc_store(build, held, &empty, fs_generation());
    EXPECT_EQ(view(as_str(path)).build_count, 1u);
    // Released: the next job builds it.
    ASSERT_TRUE(site_build_submit(as_str(path)));
    ASSERT_TRUE(wait_for([&] { return view(as_str(path)).build_count == 2; }));
}

TEST_F(SiteBuildTest, DocumentsSubmittedManyTimesAreNeverBuiltByTwoWorkersAtOnce)
{
    // Every job is either built or dropped; TSan sees any two workers
    // writing one document's arena at once.
    constexpr int documents = 6, rounds = 60;
    std::vector<std::string> paths;
    for (int i = 0; i < documents; i += 1) {
        paths.push_back(at("hot" + std::to_string(i) + ".wyn"));
        write_file(paths.back(), std::string(2000 + i, 'x') + "\n");
    }
    u64 built_before = completed();
    u64 dropped_before = atomic_load_u64(&build->dropped_jobs);
    for (int r = 0; r < rounds; r += 1)
        for (const std::string &p : paths) ASSERT_TRUE(site_build_submit(as_str(p)));
    u64 jobs = (u64)documents * rounds;
    ASSERT_TRUE(wait_for([&] {
        return completed() - built_before + atomic_load_u64(&build->dropped_jobs) - dropped_before == jobs;
    }));
    u64 builds = 0;
    for (const std::string &p : paths) {
        RecordView record = view(as_str(p));
        ASSERT_TRUE(record.found);
        EXPECT_GE(record.build_count, 1u);
        EXPECT_EQ(record.busy, 0u);
        builds += record.build_count;
    }
    EXPECT_EQ(builds, completed() - built_before);
}

TEST_F(SiteBuildTest, ARebuildReusesTheDocumentsMemory)
{
    std::string path = at("again.wyn");
    std::string text;
    for (int i = 0; i < 200; i += 1) text += "line " + std::to_string(i) + " of a document that is built twice\n";
    write_file(path, text);
    ASSERT_TRUE(site_build_submit(as_str(path)));
    ASSERT_TRUE(wait_for([&] { return view(as_str(path)).build_count == 1; }));
    u64 used_first = view(as_str(path)).arena_used;
    u64 generation_first = view(as_str(path)).built_generation;
    // A changed source is reloaded by the file service, then built again.
    write_file(path, text + "one more line\n");
    FsResult loaded = {};
    ASSERT_TRUE(wait_for([&] {
        loaded = fs_get(as_str(path), u64_max);
        return content_get(loaded.key).size == text.size() + 14;
    }));
    ASSERT_TRUE(site_build_submit(as_str(path)));
    ASSERT_TRUE(wait_for([&] { return view(as_str(path)).build_count == 2; }));
    RecordView second = view(as_str(path));
    EXPECT_GT(second.built_generation, generation_first);
    EXPECT_GE(second.built_generation, loaded.generation);
    // Rolled back, not stacked: the second build takes about what the first did.
    EXPECT_LT(second.arena_used, used_first + 4096);
}

TEST_F(SiteBuildTest, TheIndexDocumentIsReadStraightFromDisk)
{
    std::string path = at("index.wyn");
    write_file(path, "generated index\n");
    u64 generation = fs_generation();
    ASSERT_TRUE(site_build_submit(as_str(path)));
    ASSERT_TRUE(wait_for([&] { return view(as_str(path)).build_count == 1; }));
    // No load went through the file service: the index is not watched.
    EXPECT_EQ(fs_generation(), generation);
    EXPECT_EQ(view(as_str(path)).built_generation, generation);
}

TEST_F(SiteBuildTest, MissingAndUnreadableSourcesBuildAsEmptyDocuments)
{
    std::string missing = at("gone.wyn");
    std::string folder = at("folder.wyn");
    ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
    u64 before = completed();
    ASSERT_TRUE(site_build_submit(as_str(missing)));
    ASSERT_TRUE(site_build_submit(as_str(folder)));
    ASSERT_TRUE(wait_for([&] { return completed() >= before + 2; }));
    EXPECT_EQ(view(as_str(missing)).build_count, 1u);
    EXPECT_EQ(view(as_str(folder)).build_count, 1u);
}

TEST_F(SiteBuildTest, APathTooLongForTheQueueIsRefusedAtOnce)
{
    std::string long_path = dir + "/" + std::string(queue_payload_limit(build->parse_queue), 'p') + ".wyn";
    u64 submitted = build->submitted_count;
    EXPECT_FALSE(site_build_submit(as_str(long_path)));   // would wait for ever if queued
    EXPECT_EQ(build->submitted_count, submitted);
    std::string fits = dir + "/" + std::string(queue_payload_limit(build->parse_queue) - dir.size() - 1, 'q');
    u64 before = completed();
    EXPECT_TRUE(site_build_submit(as_str(fits)));
    EXPECT_TRUE(wait_for([&] { return completed() >= before + 1; }));
}

TEST_F(SiteBuildTest, AStoredResultHoldsTheTreeTheMessagesAndTheIndexedTables)
{
    std::string path = at("table.wyn");
    write_file(path, "| a | b |\n|---|---|\n| 1 | 2 |\n| 3 | 4 |\n\nsome ] text\n");
    ASSERT_TRUE(site_build_submit(as_str(path)));
    ASSERT_TRUE(wait_for([&] { return view(as_str(path)).build_count == 1; }));
    RecordView record = view(as_str(path));
    EXPECT_TRUE(record.has_root);
    EXPECT_EQ(record.message_count, 1u);   // the stray "]"
    EXPECT_EQ(record.table_count, 1u);     // indexed by the worker
    EXPECT_EQ(record.first_table_rows, 2u);
}
