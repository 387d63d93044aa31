// test-label: concurrency
//
// Lock order under load, in one process: four parser workers, the change
// detector, the file service and the page writer on a parse queue that
// holds only a handful of paths, with thousands of small documents that
// link to each other (so documents park and wake), while sources are edited
// and added so that the detector queues them again. Under ThreadSanitizer
// an inversion between the stripe locks, the queue's lock, the parking lot
// and the pages' lock is reported even when no deadlock happens in this
// run. Afterwards every document must be built from its last source.
//
// WYN_LOCK_DOCUMENTS changes the number of documents (2,000 by default).
#include <gtest/gtest.h>

#include <random>
#include <unistd.h>   // POSIX only: the Windows build leaves this test out (cmake/windows.cmake)
#include <string>
#include <vector>

#include "../test_support.h"
#include "os/file_service.h"
#include "site/build.h"
#include "site/site_run.h"
#include "site/change_detect.h"
#include "site/pages.h"

static std::string source_text(int id, int edit, bool second_anchor, int link_a, int link_b, int documents)
{
    auto link = [&](int other, int anchor) {
        return "\"/wyn_files/d" + std::to_string(other % 20) + "/doc" + std::to_string(other) + ".wyn" +
               (anchor ? "[#" + std::to_string(anchor) + "]" : "") + "\"";
    };
    std::string s = "``\ntitle: Doc " + std::to_string(id) + " edit " + std::to_string(edit) + "\noutput_path: \"/html/d" +
                    std::to_string(id % 20) + "/doc" + std::to_string(id) + ".html\"\n``\nText\n  anchor [#1]_ and " +
                    link(link_a % documents, 1) + " and " + link(link_b % documents, 2) + "\n";
    if (second_anchor) s += "More\n  anchor [#2]_ here\n";
    return s;
}

struct Current {
    u64 documents;
    u64 stale;
};

// Every record current and idle.
static Current site_current(SiteBuild *build)
{
    Current c = {};
    std::vector<DocumentRecord *> records;
    for (u64 b = 0; b < document_bucket_count; b += 1) {
        TableStripe *stripe = striped_stripe_of(&build->documents, b);
        srw_lock_shared(stripe->slim);
        for (DocumentRecord *r = build->buckets[b].first; r; r = r->next) records.push_back(r);
        srw_unlock_shared(stripe->slim);
    }
    for (DocumentRecord *r : records) {
        c.documents += 1;
        bool idle = !atomic_load_u64(&r->busy) && !atomic_load_u64(&r->queued) && !atomic_load_u64(&r->parked);
        if (!idle || !doc_current(build, r)) c.stale += 1;
    }
    return c;
}

TEST(WatchLockOrder, WorkersAndTheDetectorOnASmallQueueUnderEditsSettle)
{
    const int documents = env_int("WYN_LOCK_DOCUMENTS", 2000);
    TempFolder temporary("wyn-lock");
    std::string local = temporary.path + "/";
    std::string sources = local + "wyn_files/";
    auto path_of = [&](int id) { return sources + "d" + std::to_string(id % 20) + "/doc" + std::to_string(id) + ".wyn"; };

    std::mt19937 random(7);
    std::vector<int> edits(documents, 0);
    std::vector<bool> second(documents, true);
    for (int i = 0; i < documents; i += 1)
        write_replacing(path_of(i), source_text(i, 0, true, i * 7 + 1, i * 13 + 5, documents));

    content_cache_create();
    FileServiceConfig fs_config = {};
    fs_start_with(&fs_config);
    SiteStartOptions options = {};
    SiteBuildConfig &config = options.build;
    config.worker_count = 4;            // more workers than processors: they contend
    config.print.silent = 1;
    config.parse_queue_capacity = 512;  // a handful of paths: pushes wait and re-queues overflow
    SiteConfig site = {};
    site.layout.local_folder = as_str(local);
    site.layout.target = as_str(sources);
    site.file_path_checks = 1;
    SiteBuild *build = site_start(&site, &options);
    for (int i = 0; i < documents; i += 1) ASSERT_TRUE(site_build_register(as_str(path_of(i))));
    for (int i = 0; i < documents; i += 1) ASSERT_TRUE(site_build_submit(as_str(path_of(i))));
    site_build_submissions_done();

    // Edits while the first build runs and after: titles, anchors that come
    // and go (a summary change the linking documents must see), new sources.
    int next_id = documents;
    for (int round = 0; round < 300; round += 1) {
        if (round % 30 == 29) {
            edits.push_back(0);
            second.push_back(true);
            write_replacing(path_of(next_id), source_text(next_id, 0, true, next_id + 3, next_id + 11, documents));
            next_id += 1;
        } else {
            int id = std::uniform_int_distribution<int>(0, documents - 1)(random);
            edits[id] += 1;
            if (round % 3 == 0) second[id] = !second[id];
            write_replacing(path_of(id), source_text(id, edits[id], second[id], id * 7 + 1, id * 13 + 5, documents));
        }
        sleep_ms(std::uniform_int_distribution<int>(0, 8)(random));
    }

    // Settled: after a quiet, every record is current. Bounded, whatever the
    // machine's speed.
    u64 deadline = now_us() + 240ull * 1000000;
    Current current = {};
    while (now_us() < deadline) {
        u64 quiet = detector_counts().quiet_count;
        current = site_current(build);
        // One record more than the sources: the index.
        if (current.stale == 0 && current.documents == (u64)next_id + 1) break;
        site_build_wait_quiet(quiet + 1, min_of<u64>(deadline, now_us() + 2000000));
    }
    ASSERT_EQ(current.stale, 0u) << "documents still out of date after 240 s, of " << current.documents;
    ASSERT_EQ(current.documents, (u64)next_id + 1) << "sources added during the run were not all found";

    ArenaTemp scratch = scratch_begin(nullptr, 0);
    for (int i = 0; i < next_id; i += 1) {
        DocumentSummary *summary = doc_summary_copy(scratch.arena, as_str(path_of(i)));
        ASSERT_NE(summary, nullptr) << path_of(i);
        std::string title(summary->title.str, summary->title.size);
        ASSERT_EQ(title, "Doc " + std::to_string(i) + " edit " + std::to_string(edits[i])) << "built from an old source";
        ASSERT_EQ(summary->anchor_count, second[i] ? 2u : 1u) << path_of(i);
    }
    scratch_end(scratch);
    EXPECT_GT(site_pages_counts().pages_written, (u64)documents * 4);
    // The manifest written now, so its writer has nothing left to put in
    // the folder while it goes.
    site_pages_flush(ManifestFlush_Append);
}
