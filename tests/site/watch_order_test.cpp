// test-label: concurrency
//
// Change detection with real workers, the real file service and real files,
// in one process: a document is built again when what it read of a
// document it links changes, not before, even when that change comes from
// a build that was under way when the source was saved. Every wait is
// bounded and says what it waited for.
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>   // POSIX only: the Windows build leaves this test out (cmake/windows.cmake)

#include "../test_support.h"
#include "markup/tokenizer.h"
#include "os/file_service.h"
#include "site/build.h"
#include "site/document_job.h"
#include "site/site_run.h"
#include "site/change_detect.h"

struct Built {
    u64 build_count;
    u64 message_count;
};

static Built built(SiteBuild *build, Str path)
{
    Built b = {};
    DocumentRecord *record = doc_find(path);
    if (!record) return b;
    TableStripe *stripe = striped_stripe_of(&build->documents, striped_bucket_of(&build->documents, doc_path_hash(build, path)));
    srw_lock_shared(stripe->slim);
    b.build_count = record->build_count;
    srw_unlock_shared(stripe->slim);
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    if (DocumentSummary *summary = doc_summary_copy(scratch.arena, path)) b.message_count = summary->message_count;
    scratch_end(scratch);
    return b;
}

// B is held by a build that read B's old source (it still publishes anchor
// 2) while B is saved without it. A, which links that anchor, must not be
// built for the save itself (nothing it read changed yet), nor for the
// held build's summary (the same facts); it must be built once B's new
// source is built, and warn.
TEST(WatchOrder, ADocumentBuiltAgainstAnOldSummaryIsBuiltAgainWhenItChanges)
{
    TempFolder temporary("wyn-order");
    std::string root = temporary.path;
    std::string a = root + "/wyn_files/a.wyn", b = root + "/wyn_files/b.wyn";
    const std::string b_old = "B\n  one [#1]_ and two [#2]_ here\n";
    const std::string b_new = "B\n  one [#1]_ and no second one\n";
    write_replacing(a, "A\n  see \"/wyn_files/b.wyn[#2]\" there\n");
    write_replacing(b, b_old);

    content_cache_create();
    FileServiceConfig fs_config = {};
    fs_start_with(&fs_config);
    SiteStartOptions options = {};
    SiteBuildConfig &config = options.build;
    config.worker_count = 2;
    config.print.silent = 1;
    config.no_pages = 1;
    SiteConfig site = {};
    std::string local = root + "/";
    site.layout.local_folder = as_str(local);
    site.file_path_checks = 1;
    SiteBuild *build = site_start(&site, &options);
    ASSERT_TRUE(site_build_register(as_str(a)));
    ASSERT_TRUE(site_build_register(as_str(b)));
    ASSERT_TRUE(site_build_submit(as_str(a)));
    ASSERT_TRUE(site_build_submit(as_str(b)));
    site_build_submissions_done();
    ASSERT_TRUE(site_build_wait_quiet(1, now_us() + 60000000)) << "the first build never became quiet";
    ASSERT_EQ(built(build, as_str(a)).message_count, 0u) << "the anchor exists: A has nothing to say";

    // B is held, as by a worker that read the old source and is still busy.
    u64 quiet_before = detector_counts().quiet_count;
    u64 old_generation = fs_generation();
    DocumentRecord *held = nullptr;
    // A current document is not claimed: it is marked first, as a save does.
    ASSERT_TRUE(wait_for([&] {
        doc_mark_stale(build, doc_find(as_str(b)), DocPush_None);
        return (held = doc_claim(build, as_str(b))) != nullptr;
    })) << "B stayed busy";
    u64 a_builds = built(build, as_str(a)).build_count;
    u64 b_builds = built(build, as_str(b)).build_count;
    write_replacing(b, b_new);
    ASSERT_TRUE(wait_for([&] { return fs_generation() > old_generation; })) << "the edit of B was never loaded";
    sleep_ms(300);
    EXPECT_EQ(built(build, as_str(a)).build_count, a_builds) << "A was built for a save that changed nothing it read";

    // The held build ends with what it read.
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    Str text = str_copy(scratch.arena, as_str(b_old));
    ParseOptions parse_options = document_parse_options(build);
    ParsedDocument parsed = markup_parse(scratch.arena, text, &parse_options);
    doc_store(build, held, &parsed, nullptr);
    doc_release(build, held);
    scratch_end(scratch);

    ASSERT_TRUE(site_build_wait_quiet(quiet_before + 1, now_us() + 60000000)) << "the site never became quiet again";
    // The one warning that says why the link cannot be followed.
    EXPECT_EQ(built(build, as_str(a)).message_count, 1u)
        << "A still links an anchor B no longer has, without a warning";
    EXPECT_EQ(built(build, as_str(a)).build_count, a_builds + 1);
    // B: the held build, then the one that read the save.
    EXPECT_EQ(built(build, as_str(b)).build_count, b_builds + 2);
}
