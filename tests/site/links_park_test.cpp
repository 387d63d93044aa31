// test-label: concurrency
//
// Parked documents under load: many documents link each other in a cycle
// (each to the next one's numbered anchor), some also wait for slow web
// addresses on the local server, and the parse queue holds only a handful of
// paths. Every document must complete once, without being parsed over and
// over while it waits, and every parking must end in a re-queue. Waits have
// deadlines and say what was missing.
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>   // POSIX only: the Windows build leaves this test out (cmake/windows.cmake)
#include <vector>

#include "../http/test_server.h"
#include "../test_support.h"
#include "http/url_check.h"
#include "os/file_service.h"
#include "site/build.h"
#include "site/site_run.h"

// The record of a document whose last build completed and reported no
// link as missing, with its summary; null after a failure otherwise.
static DocumentRecord *completed_cleanly(Arena *arena, const std::string &path, DocumentSummary **out_summary)
{
    DocumentRecord *record = doc_find(as_str(path));
    DocumentSummary *s = doc_summary_copy(arena, as_str(path));
    EXPECT_NE(record, nullptr) << path;
    EXPECT_NE(s, nullptr) << path;
    if (!record || !s) return nullptr;
    EXPECT_TRUE(s->complete) << path;
    EXPECT_EQ(s->message_count, 0u) << path << " reported a link that exists";
    *out_summary = s;
    return record;
}

// Waits for the build of one document to complete: the builds it takes
// with it complete before it does, so a count of completed builds does not
// tell.
static bool wait_complete(const std::string &path)
{
    u64 deadline = now_us() + 60000000;
    for (;;) {
        ArenaTemp scratch = scratch_begin(nullptr, 0);
        DocumentSummary *s = doc_summary_copy(scratch.arena, as_str(path));
        bool complete = s && s->complete;
        scratch_end(scratch);
        if (complete) return true;
        if (now_us() > deadline) return false;
        sleep_ms(5);
    }
}

// The build is the process's and never stops, and these tests count what
// a build of their own does, with a worker count of their own: each needs a
// process to itself, as ctest gives it. Run together in one process, all
// but the first would read another test's build.
#define NEEDS_OWN_PROCESS()                                                                              \
    do {                                                                                                 \
        if (site_build()) GTEST_SKIP() << "needs a process of its own: run it alone (--gtest_filter)"; \
    } while (0)

// One worker, so what a build takes along is seen in order.
static SiteBuild *start_one_worker(const std::string &local)
{
    SiteConfig site = {};
    site.layout.local_folder = as_str(local);
    site.file_path_checks = 1;
    content_cache_create();
    FileServiceConfig fs_config = {};
    fs_start_with(&fs_config);
    SiteStartOptions options = {};
    options.build.worker_count = 1;
    options.build.print.silent = 1;
    return site_start(&site, &options);
}

TEST(ParkedDocuments, ACycleOfLinksAndSlowAddressesCompletesEveryDocumentOnceThroughASmallQueue)
{
    NEEDS_OWN_PROCESS();
    LocalServer server;
    ASSERT_TRUE(server.failure.empty()) << server.failure;
    TempFolder folder("wyn-park");
    std::string local = folder.path + "/local/";
    write_file(local + "assets/files/t.csv", "x;y\n1;2\n");

    constexpr int documents = 60;
    constexpr int slow_every = 10;
    std::vector<std::string> paths;
    for (int i = 0; i < documents; i += 1) {
        std::string next = "cycle/d" + std::to_string((i + 1) % documents) + ".wyn";
        std::string text = "D" + std::to_string(i) + "\n  anchor [#1]_ next \"" + next + "[#1]\"\n";
        if (i % slow_every == 0)
            text += "  slow \"" + server.https("/slow?ms=300&n=" + std::to_string(i / slow_every % 3)) + "\"\n";
        if (i == 7) text += "  table _\"/assets/files/t.csv\"\n";
        paths.push_back(local + "wyn_files/cycle/d" + std::to_string(i) + ".wyn");
        write_file(paths.back(), text);
    }

    content_cache_create();
    FileServiceConfig fs_config = {};
    fs_start_with(&fs_config);
    UrlCheckConfig checks = {};
    checks.ca_file = as_str(server.ca_file);
    checks.on_result = site_build_url_result;
    UrlCheckStart started = {};
    UrlCheckService *service = url_check_start(&checks, &started);
    ASSERT_NE(service, nullptr);

    SiteConfig site = {};
    site.layout.local_folder = as_str(local);
    site.file_path_checks = 1;
    site.check_urls = 1;
    SiteStartOptions options = {};
    SiteBuildConfig &config = options.build;
    config.worker_count = 3;
    config.print.silent = 1;
    config.url_checks = service;
    config.parse_queue_capacity = 256;   // room for four or five paths
    SiteBuild *build = site_start(&site, &options);
    ASSERT_NE(build, nullptr);
    for (const std::string &p : paths) ASSERT_TRUE(site_build_register(as_str(p)));
    for (const std::string &p : paths) ASSERT_TRUE(site_build_submit(as_str(p)));

    u64 deadline = now_us() + 60000000;
    while (atomic_load_u64(&build->completed_builds) < (u64)documents && now_us() < deadline) sleep_ms(5);
    ASSERT_EQ(atomic_load_u64(&build->completed_builds), (u64)documents)
        << "parked " << atomic_load_u64(&build->park_count) << ", queued again "
        << atomic_load_u64(&build->requeue_count);

    ArenaTemp scratch = scratch_begin(nullptr, 0);
    for (int i = 0; i < documents; i += 1) {
        DocumentSummary *s = nullptr;
        DocumentRecord *record = completed_cleanly(scratch.arena, paths[i], &s);
        ASSERT_NE(record, nullptr) << i;
        EXPECT_EQ(s->table_count, i == 7 ? 1u : 0u) << i;
        EXPECT_EQ(atomic_load_u64(&record->parked), 0u) << i;
        // One parse that parks, one that completes. A document woken by the
        // first of the things it waits for (built ahead two levels down, the
        // next one's summary comes before its slow address) parks again, and
        // one let go before it is marked parked is claimed by its queued
        // message and parsed again; a spinning document would count hundreds.
        EXPECT_LE(atomic_load_u64(&record->parse_count), 2u) << i;
    }
    scratch_end(scratch);
    // The documents with a slow address cannot finish at their first parse.
    EXPECT_GE(atomic_load_u64(&build->park_count), (u64)(documents / slow_every));
    EXPECT_EQ(atomic_load_u64(&build->requeue_count), atomic_load_u64(&build->park_count));

    Arena *arena = arena_alloc(MiB(1), KiB(64));
    HttpSession *session = http_session_open(arena, nullptr);
    std::string stats = server.stats(session);
    for (int n = 0; n < 3; n += 1) EXPECT_EQ(json_number(stats, "/slow?ms=300&n=" + std::to_string(n)), 1) << stats;
    arena_release(arena);
}

// A document whose links wait for documents nobody parsed yet builds
// those first rather than parking and being parsed again when they are
// out: along a chain of links (each document to the next one's anchor)
// most documents are parsed once. Parking each would parse all but the
// last twice. A document built so before the main thread submitted it is
// not built again by its submission (a large site submits as the queue
// makes room).
TEST(ParkedDocuments, DocumentsALinkWaitsForAreBuiltFirstAndMostAreParsedOnce)
{
    NEEDS_OWN_PROCESS();
    TempFolder folder("wyn-chain");
    std::string local = folder.path + "/local/";
    constexpr int documents = 30;
    std::vector<std::string> paths;
    for (int i = 0; i < documents; i += 1) {
        std::string text = "D" + std::to_string(i) + "\n  anchor [#1]_";
        if (i + 1 < documents) text += " next \"chain/d" + std::to_string(i + 1) + ".wyn[#1]\"";
        paths.push_back(local + "wyn_files/chain/d" + std::to_string(i) + ".wyn");
        write_file(paths.back(), text + "\n");
    }
    // Over 1 MiB, a document does not build others on top of its tree (two
    // large trees would be held at once): its link to the chain's end parks.
    std::string gate = local + "wyn_files/gate.wyn";
    std::string long_text = "Gate\n  to \"chain/d" + std::to_string(documents - 1) + ".wyn[#1]\"\n";
    for (int i = 0; i < 40000; i += 1) long_text += "Line " + std::to_string(i) + "\n  some words to parse\n";
    write_file(gate, long_text);
    SiteBuild *build = start_one_worker(local);
    ASSERT_NE(build, nullptr);
    ASSERT_TRUE(site_build_register(as_str(gate)));
    for (const std::string &p : paths) ASSERT_TRUE(site_build_register(as_str(p)));
    // The chain's head alone first: it builds the next ones ahead of their
    // submission, and the deepest of them parks.
    ASSERT_TRUE(site_build_submit(as_str(paths[0])));
    ASSERT_TRUE(wait_complete(paths[0]));
    u64 deadline = now_us() + 60000000;
    ASSERT_EQ(atomic_load_u64(&build->park_count), 1u) << "only the deepest document waits for the next";
    int built_ahead = 0;
    for (int i = 1; i < documents; i += 1) {
        DocumentRecord *record = doc_find(as_str(paths[i]));
        ASSERT_NE(record, nullptr);
        if (atomic_load_u64(&record->parse_count)) built_ahead += 1;
    }
    EXPECT_GE(built_ahead, 4) << "a few levels deep";
    ASSERT_TRUE(site_build_submit(as_str(gate)));
    for (int i = 1; i < documents; i += 1) ASSERT_TRUE(site_build_submit(as_str(paths[i])));

    while (atomic_load_u64(&build->completed_builds) < (u64)documents + 1 && now_us() < deadline) sleep_ms(5);
    ASSERT_EQ(atomic_load_u64(&build->completed_builds), (u64)documents + 1);
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    u64 parses = 0;
    for (int i = 0; i < documents; i += 1) {
        DocumentSummary *s = nullptr;
        DocumentRecord *record = completed_cleanly(scratch.arena, paths[i], &s);
        ASSERT_NE(record, nullptr) << i;
        TableStripe *stripe = striped_stripe_of(&build->documents, striped_bucket_of(&build->documents, record->path_hash));
        srw_lock_shared(stripe->slim);
        u64 builds = record->build_count;
        srw_unlock_shared(stripe->slim);
        EXPECT_EQ(builds, 1u) << i;
        parses += atomic_load_u64(&record->parse_count);
    }
    DocumentSummary *gate_summary = nullptr;
    DocumentRecord *gate_record = completed_cleanly(scratch.arena, gate, &gate_summary);
    ASSERT_NE(gate_record, nullptr);
    EXPECT_EQ(atomic_load_u64(&gate_record->parse_count), 2u);
    scratch_end(scratch);
    // Helped only two levels deep, every third document would park: 40.
    EXPECT_LE(parses, (u64)documents * 5 / 4) << "parked " << atomic_load_u64(&build->park_count);
    EXPECT_EQ(atomic_load_u64(&build->requeue_count), atomic_load_u64(&build->park_count));
}

// Helping has bounds. A build from the queue takes a bounded number of
// others with it: in a tree of documents, each linking two more, the root
// alone does not build the tree (a document saved during a first build
// would wait for as much). And the sources of the builds on top of each
// other stay within a size: two large documents linked in a row, the
// second parks for a small third instead of building it on top of both.
TEST(ParkedDocuments, BuildingAheadStopsAtACountAndASizeOfSources)
{
    NEEDS_OWN_PROCESS();
    TempFolder folder("wyn-bounds");
    std::string local = folder.path + "/local/";
    constexpr int tree = 255;   // eight levels
    std::vector<std::string> paths;
    for (int i = 0; i < tree; i += 1) {
        std::string text = "T" + std::to_string(i) + "\n  anchor [#1]_\n";
        for (int c = 2 * i + 1; c <= 2 * i + 2 && c < tree; c += 1)
            text += "  to \"tree/t" + std::to_string(c) + ".wyn[#1]\"\n";
        paths.push_back(local + "wyn_files/tree/t" + std::to_string(i) + ".wyn");
        write_file(paths.back(), text);
    }
    std::string filler;
    for (int i = 0; i < 18000; i += 1) filler += "Line " + std::to_string(i) + "\n  some words to parse\n";
    ASSERT_GT(filler.size(), 512u * 1024);
    std::string first = local + "wyn_files/large/first.wyn", second = local + "wyn_files/large/second.wyn",
                third = local + "wyn_files/large/third.wyn";
    write_file(first, "First\n  to \"large/second.wyn[#1]\"\n" + filler);
    write_file(second, "Second\n  anchor [#1]_ to \"large/third.wyn[#1]\"\n" + filler);
    write_file(third, "Third\n  anchor [#1]_\n");

    SiteBuild *build = start_one_worker(local);
    ASSERT_NE(build, nullptr);
    for (const std::string &p : paths) ASSERT_TRUE(site_build_register(as_str(p)));
    for (const std::string &p : {first, second, third}) ASSERT_TRUE(site_build_register(as_str(p)));

    auto parsed = [](const std::string &path) {
        DocumentRecord *record = doc_find(as_str(path));
        return record ? atomic_load_u64(&record->parse_count) : 0;
    };
    // The root's job ends parked: the other half of the tree is left to
    // the queue, and it waits for that.
    ASSERT_TRUE(site_build_submit(as_str(paths[0])));
    DocumentRecord *root = doc_find(as_str(paths[0]));
    ASSERT_NE(root, nullptr);
    u64 deadline = now_us() + 60000000;
    auto built = [&](DocumentRecord *record) {
        TableStripe *stripe = striped_stripe_of(&build->documents, striped_bucket_of(&build->documents, record->path_hash));
        srw_lock_shared(stripe->slim);
        u64 count = record->build_count;
        srw_unlock_shared(stripe->slim);
        return count;
    };
    while (!atomic_load_u64(&root->parked) && !built(root) && now_us() < deadline) sleep_ms(5);
    ASSERT_EQ(atomic_load_u64(&root->parked), 1u);
    int tree_parsed = 0;
    for (const std::string &p : paths) tree_parsed += parsed(p) ? 1 : 0;
    EXPECT_GE(tree_parsed, 9) << "the root builds ahead, eight levels down";
    EXPECT_LE(tree_parsed, 65) << "the root built most of the tree before its own page";

    ASSERT_TRUE(site_build_submit(as_str(first)));
    ASSERT_TRUE(wait_complete(first));
    EXPECT_EQ(parsed(second), 1u);
    EXPECT_EQ(parsed(third), 0u) << "built on top of two large trees";
    DocumentRecord *parked = doc_find(as_str(second));
    ASSERT_NE(parked, nullptr);
    EXPECT_EQ(atomic_load_u64(&parked->parked), 1u);

    // Everything completes in the end, the tree and the large ones alike.
    for (const std::string &p : paths) ASSERT_TRUE(site_build_submit(as_str(p)));
    ASSERT_TRUE(site_build_submit(as_str(second)));
    ASSERT_TRUE(site_build_submit(as_str(third)));
    for (const std::string &p : paths) ASSERT_TRUE(wait_complete(p)) << p;
    ASSERT_TRUE(wait_complete(second));
    ASSERT_TRUE(wait_complete(third));
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    for (const std::string &p : {first, second, third}) {
        DocumentSummary *s = nullptr;
        EXPECT_NE(completed_cleanly(scratch.arena, p, &s), nullptr) << p;
    }
    scratch_end(scratch);
    EXPECT_EQ(atomic_load_u64(&build->requeue_count), atomic_load_u64(&build->park_count));
}
