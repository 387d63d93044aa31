// test-label: concurrency
//
// The site build with real workers, the real file service and real files.
// Waits have generous deadlines and check outcomes (builds completed, jobs
// dropped, documents current).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>
#include <sys/stat.h>

#include "../jpeg_bytes.h"
#include "../test_support.h"
#include "markup/tables.h"
#include "os/file_service.h"
#include "site/build.h"
#include "site/document_job.h"
#include "site/site_run.h"

// A record's fields as they stand, read under its stripe's lock as every
// reader of the table must.
struct RecordView {
    bool found;
    u64 build_count;
    bool current;
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
    TableStripe *stripe = striped_stripe_of(&build->documents, striped_bucket_of(&build->documents, doc_path_hash(build, path)));
    srw_lock_shared(stripe->slim);
    v.found = true;
    v.build_count = record->build_count;
    v.busy = atomic_load_u64(&record->busy);
    v.arena_used = v.busy || !record->arena ? 0 : arena_pos(record->arena);
    srw_unlock_shared(stripe->slim);
    v.current = doc_current(build, record);
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    if (DocumentSummary *summary = doc_summary_copy(scratch.arena, path)) {
        v.message_count = summary->message_count;
        v.table_count = summary->table_count;
        v.has_root = true;
    }
    scratch_end(scratch);
    return v;
}

// The build and the file service are one per process. Tests that share a
// process get their own subfolders, removed only at the end.
struct SiteBuildTest : ::testing::Test {
    static TempFolder *folder;
    static std::string root;
    static int serial;
    SiteBuild *build = nullptr;
    std::string dir;

    static void SetUpTestSuite()
    {
        folder = new TempFolder("wyn-build");
        root = folder->path;
    }
    static void TearDownTestSuite() { delete folder; }
    void SetUp() override
    {
        content_cache_create();
        FileServiceConfig fs_config = {};
        fs_start_with(&fs_config);
        SiteStartOptions options = {};
        SiteBuildConfig &config = options.build;
        config.worker_count = 2;   // even on one processor: the tests need two workers racing
        config.print.silent = 1;
        SiteConfig site = {};
        std::string local = root + "/";
        site.layout.local_folder = as_str(local);   // copied by the start
        site.file_path_checks = 1;
        build = site_start(&site, &options);
        dir = root + "/t" + std::to_string(serial++);
        ASSERT_EQ(mkdir(dir.c_str(), 0777), 0);
    }
    void TearDown() override { arena_release(arena); }
    std::string at(const std::string &name) const { return dir + "/" + name; }
    u64 completed() const { return atomic_load_u64(&build->completed_builds); }

    Arena *arena = arena_alloc(MiB(1), KiB(4));
    // Builds a new source once and gives a copy of what it published.
    DocumentSummary *build_one(const std::string &name, const std::string &text)
    {
        std::string path = at(name);
        write_file(path, text);
        EXPECT_TRUE(site_build_submit(as_str(path)));
        EXPECT_TRUE(wait_for([&] { return view(as_str(path)).build_count == 1; }, 60)) << name << " was never built";
        return doc_summary_copy(arena, as_str(path));
    }
};
TempFolder *SiteBuildTest::folder;
std::string SiteBuildTest::root;
int SiteBuildTest::serial;

TEST_F(SiteBuildTest, EverySubmittedDocumentIsBuiltOnceAndIsCurrent)
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
        EXPECT_TRUE(record.current);
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
    EXPECT_FALSE(view(as_str(path)).current);
    // The submission marked it while it was held: let go, it is built again
    // at once, without anyone asking twice.
    ParsedDocument empty = {};
    doc_store(build, held, &empty, nullptr);
    doc_release(build, held);
    ASSERT_TRUE(wait_for([&] { return view(as_str(path)).build_count == 2; }));
    EXPECT_TRUE(wait_for([&] { return view(as_str(path)).current; }));
    // A job for a current document is dropped: nothing changed.
    dropped = atomic_load_u64(&build->dropped_jobs);
    DocumentRecord *record = doc_find(as_str(path));
    atomic_store_u64(&record->queued, 1);
    queue_push(build->parse_queue, as_str(path), u64_max);
    ASSERT_TRUE(wait_for([&] { return atomic_load_u64(&build->dropped_jobs) == dropped + 1; }));
    EXPECT_EQ(view(as_str(path)).build_count, 2u);
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
    // A submit that lands while its document is built marks it stale, and
    // the worker queues it once more: there may be more jobs than submits.
    u64 jobs = (u64)documents * rounds;
    ASSERT_TRUE(wait_for([&] {
        if (completed() - built_before + atomic_load_u64(&build->dropped_jobs) - dropped_before < jobs) return false;
        for (const std::string &p : paths) {
            DocumentRecord *r = doc_find(as_str(p));
            if (!r || atomic_load_u64(&r->busy) || atomic_load_u64(&r->queued)) return false;
        }
        return true;
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
    // A changed source is reloaded by the file service, then built again.
    write_file(path, text + "one more line\n");
    FsResult loaded = {};
    ASSERT_TRUE(wait_for([&] {
        loaded = fs_get(as_str(path), u64_max);
        return content_get(loaded.key).size == text.size() + 14;
    }));
    // The save alone builds it again (change detection sees it): the
    // submit may add a third build.
    ASSERT_TRUE(site_build_submit(as_str(path)));
    ASSERT_TRUE(wait_for([&] { return view(as_str(path)).build_count >= 2; }));
    RecordView second = view(as_str(path));
    // Rolled back, not stacked: the second build takes about what the first did.
    EXPECT_LT(second.arena_used, used_first + 4096);
}

TEST_F(SiteBuildTest, MissingAndUnreadableSourcesBuildEmptyAndTooLongPathsAreRefused)
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

    // A path too long for the queue is refused at once.
    std::string long_path = dir + "/" + std::string(queue_payload_limit(build->parse_queue), 'p') + ".wyn";
    u64 submitted = build->submitted_count;
    EXPECT_FALSE(site_build_submit(as_str(long_path)));   // would wait for ever if queued
    EXPECT_EQ(build->submitted_count, submitted);
    std::string fits = dir + "/" + std::string(queue_payload_limit(build->parse_queue) - dir.size() - 1, 'q');
    u64 later = completed();
    EXPECT_TRUE(site_build_submit(as_str(fits)));
    EXPECT_TRUE(wait_for([&] { return completed() >= later + 1; }));
}

TEST_F(SiteBuildTest, AStoredResultPublishesWhatItsSourceSays)
{
    struct Case { const char *name; std::string text; bool published; const char *title; u64 messages, tables; u32 level; };
    const Case cases[] = {
        // The stray "]" is reported; the table is indexed by the worker.
        {"table.wyn", "| a | b |\n|---|---|\n| 1 | 2 |\n| 3 | 4 |\n\nsome ] text\n", true, "", 1, 1, DiagLevel_Error},
        // A byte order mark does not hide the header: a draft stays a draft.
        {"bom.wyn", "\xEF\xBB\xBF``\nstatus: draft\ntitle: Marked\n``\nH\n", false, "Marked", 0, 0, 0},
    };
    for (const Case &c : cases) {
        DocumentSummary *summary = build_one(c.name, c.text);
        ASSERT_NE(summary, nullptr) << c.name;
        EXPECT_EQ(summary->published, c.published) << c.name;
        EXPECT_EQ(s(summary->title), c.title) << c.name;
        EXPECT_EQ(summary->message_count, c.messages) << c.name;
        EXPECT_EQ(summary->table_count, c.tables) << c.name;
        EXPECT_EQ(summary->max_level, c.level) << c.name;
        EXPECT_LT(view(as_str(at(c.name))).arena_used, MiB(1)) << c.name;
    }

    // The index document is read straight from disk: no load goes through
    // the file service.
    u64 generation = fs_generation();
    ASSERT_NE(build_one("index.wyn", "generated index\n"), nullptr);
    // No load went through the file service.
    EXPECT_EQ(fs_generation(), generation);
}

// Too large: refused with a warning, and nothing of it parsed (the document
// arena holds no tree of 32 MiB). Kept apart from the table above: built
// after the sources there, under ThreadSanitizer, it was not built within
// four minutes, while alone it is built at once.
TEST_F(SiteBuildTest, ASourceOverTheSizeLimitIsRefusedWithAWarning)
{
    DocumentSummary *summary = build_one("huge.wyn", std::string(document_size_limit + 1, '\0'));
    ASSERT_NE(summary, nullptr);
    EXPECT_EQ(summary->message_count, 1u);
    EXPECT_EQ(summary->max_level, (u32)DiagLevel_Warning);
    EXPECT_LT(view(as_str(at("huge.wyn"))).arena_used, MiB(1));
}

TEST_F(SiteBuildTest, ASummaryCarriesWhatOtherDocumentsRead)
{
    std::string path = at("summary.wyn");
    DocumentSummary *summary = build_one("summary.wyn", "``\ntitle: A  (long) _title_\nstatus: Draft\noutput_path: "
                                                        "\"/html/s.html\" \"/html/t.html\"\n``\nHeading\n  one [#7]_ two [#3]_ three [#7]_\n");
    ASSERT_NE(summary, nullptr);
    EXPECT_EQ(std::string(summary->status.str, summary->status.size), "Draft");
    EXPECT_FALSE(summary->published);   // any case of draft hides it
    EXPECT_TRUE(summary->has_context_document);
    ASSERT_EQ(summary->output_path_count, 2u);
    EXPECT_EQ(std::string(summary->output_paths[0].str), root + "/html/s.html");
    EXPECT_EQ(std::string(summary->output_paths[1].str), root + "/html/t.html");
    // Anchors ascend by number and keep the first definition of a number.
    ASSERT_EQ(summary->anchor_count, 2u);
    EXPECT_EQ(summary->anchors[0].number, 3u);
    EXPECT_EQ(summary->anchors[1].number, 7u);
    EXPECT_LT(summary->anchors[1].offset, summary->anchors[0].offset);
    EXPECT_EQ(std::string(summary->title.str, summary->title.size), "A  (long) title");
    // The copy is the reader's own: it survives the next build.
    std::string title(summary->title.str, summary->title.size);
    std::string other = "``\ntitle: Other\n``\nH\n";
    write_file(path, other);
    ASSERT_TRUE(wait_for([&] { return content_get(fs_get(as_str(path), u64_max).key).size == other.size(); }));
    ASSERT_TRUE(site_build_submit(as_str(path)));
    ASSERT_TRUE(wait_for([&] { return view(as_str(path)).build_count >= 2; }));
    EXPECT_EQ(std::string(summary->title.str, summary->title.size), title);
    DocumentSummary *again = doc_summary_copy(arena, as_str(path));
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(std::string(again->title.str, again->title.size), "Other");
    EXPECT_TRUE(again->published);
    EXPECT_EQ(again->anchor_count, 0u);
    EXPECT_EQ(doc_summary_copy(arena, as_str(at("never.wyn"))), nullptr);
}

// Links to a document lead to its first output that is a page; the summary
// says which, so a link need not work it out again, and a hidden document
// leads nowhere however many pages it names.
TEST_F(SiteBuildTest, ASummaryNamesThePageLinksToItLeadTo)
{
    DocumentSummary *shown = build_one("shown.wyn", "``\noutput_path: \"/html/data.txt\" \"/html/u.html\" \"/html/v.html\"\n``\nH\n");
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(std::string(shown->page.str, shown->page.size), root + "/html/u.html");
    // The copy is whole: the page lies in the reader's own block.
    EXPECT_GE((const u8 *)shown->page.str, (const u8 *)shown);
    EXPECT_LE((const u8 *)shown->page.str + shown->page.size, (const u8 *)shown + shown->size);

    DocumentSummary *hidden = build_one("hidden.wyn", "``\nstatus: personal\noutput_path: \"/html/w.html\"\n``\nH\n");
    ASSERT_NE(hidden, nullptr);
    EXPECT_EQ(hidden->page.size, 0u);
    DocumentSummary *none = build_one("none.wyn", "``\noutput_path: \"/html/data.csv\"\n``\nH\n");
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->page.size, 0u);
}

TEST_F(SiteBuildTest, ReadersCopySummariesWhileTheirDocumentsAreRebuilt)
{
    constexpr int documents = 6;
    std::vector<std::string> paths;
    for (int i = 0; i < documents; i += 1) {
        paths.push_back(at("busy" + std::to_string(i) + ".wyn"));
        write_file(paths.back(), "``\ntitle: Page " + std::to_string(i) + "\noutput_path: \"/html/p" + std::to_string(i) +
                                     ".html\"\n``\nH\n  [#" + std::to_string(i + 1) + "]_ text\n");
        ASSERT_TRUE(site_build_submit(as_str(paths.back())));
    }
    ASSERT_TRUE(wait_for([&] {
        for (const std::string &p : paths)
            if (view(as_str(p)).build_count == 0) return false;
        return true;
    }));
    std::atomic<bool> stop{false};
    std::atomic<u64> copies{0};
    std::atomic<u64> torn{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; r += 1)
        readers.emplace_back([&] {
            Arena *arena = arena_alloc(MiB(4), KiB(64));
            while (!stop.load()) {
                for (int i = 0; i < documents; i += 1) {
                    ArenaTemp temp = temp_begin(arena);
                    DocumentSummary *s = doc_summary_copy(arena, as_str(paths[i]));
                    // Every field must come from one and the same build.
                    std::string want = "Page " + std::to_string(i);
                    bool whole = s && std::string(s->title.str, s->title.size) == want && s->output_path_count == 1 &&
                                 std::string(s->output_paths[0].str).ends_with("/html/p" + std::to_string(i) + ".html") &&
                                 s->anchor_count == 1 && s->anchors[0].number == (u64)i + 1;
                    if (!whole) torn.fetch_add(1);
                    copies.fetch_add(1);
                    temp_end(temp);
                }
            }
            arena_release(arena);
        });
    wait_for([&] { return copies.load() > 0; });   // the readers are under way
    u64 before = completed();
    // Marked first: a current document submitted again is not rebuilt.
    for (int round = 0; round < 30; round += 1)
        for (const std::string &p : paths) {
            doc_mark_stale(build, doc_find(as_str(p)), DocPush_None);
            site_build_submit(as_str(p));
        }
    bool settled = wait_for([&] { return completed() + atomic_load_u64(&build->dropped_jobs) >= before + 30 * documents; });
    stop.store(true);
    for (std::thread &t : readers) t.join();
    EXPECT_TRUE(settled) << "the rebuilds did not finish in time";
    EXPECT_GT(copies.load(), 0u);
    EXPECT_EQ(torn.load(), 0u);
}

TEST_F(SiteBuildTest, ImageSizesComeThroughTheFileServiceAndFollowAnEdit)
{
    std::string path = at("photo.jpg");
    write_file(path, jpeg_bytes(640, 480, 0, 0, false));
    JpegInfo first = document_image_info(arena, as_str(path));
    EXPECT_EQ(first.width, 640);
    EXPECT_EQ(first.height, 480);
    EXPECT_EQ(document_image_info(arena, as_str(path)).width, 640);   // answered from the cache
    // The picture is replaced: the watch reloads it and the new size shows.
    std::string bigger = jpeg_bytes(1280, 960, 0, 0, false) + "padding so the size differs";
    write_file(path, bigger);
    EXPECT_TRUE(wait_for([&] { return document_image_info(arena, as_str(path)).width == 1280; }));
    EXPECT_EQ(document_image_info(arena, as_str(path)).height, 960);
    EXPECT_EQ(document_image_info(arena, as_str(at("none.jpg"))).width, 0);
}
