// End to end: the real wyn under an address-space limit (`ulimit -v`, or a
// container's). Reservations are guesses, not needs: a small site must still
// start and build with a few GiB, and with far too little wyn must say what
// it could not reserve and fail with status 1, never die on a signal.
//
// Sanitizer builds reserve terabytes of shadow memory at start, so there the
// limits below mean nothing: the tests skip, and a plain build runs them
// (`.ci/run` builds one for this).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "../base/sanitized.h"
#include "../wyn_process.h"

// wyn under a limit on its address space, standard error in its output.
static WynOptions limited(u64 bytes) { return {.stderr_file = "", .merge_stderr = true, .address_limit = bytes}; }

struct AddressLimit : ::testing::Test {
    std::string root;
    std::string docs;
    void SetUp() override
    {
        if (WYN_SANITIZED) GTEST_SKIP() << "sanitizer shadow memory does not fit any address-space limit";
        char pattern[] = "/tmp/wyn-limit-XXXXXX";
        root = mkdtemp(pattern);
        docs = root + "/local/wyn_files";
        ASSERT_EQ(std::system(("mkdir -p '" + docs + "'").c_str()), 0);
        std::ofstream(docs + "/bad.wyn", std::ios::binary) << "first line\nsome ] text\n";
        std::ofstream(docs + "/clean.wyn", std::ios::binary) << "nothing wrong here\n";
    }
    void TearDown() override
    {
        if (!root.empty()) std::system(("rm -rf '" + root + "'").c_str());
    }
};

TEST_F(AddressLimit, VersionRunsInHalfAGigabyte)
{
    WynProcess wyn(root, {"version"}, limited(MiB(512)));
    ASSERT_TRUE(wyn.wait_end()) << "wyn version did not end";
    ASSERT_TRUE(WIFEXITED(wyn.status)) << "ended by signal " << WTERMSIG(wyn.status) << ":\n" << wyn.text;
    EXPECT_EQ(WEXITSTATUS(wyn.status), 0) << wyn.text;
    EXPECT_EQ(wyn.text.rfind("wyn ", 0), 0u) << wyn.text;
}

TEST_F(AddressLimit, ASmallSiteBuildsAndIsWatchedInTwoGigabytes)
{
    WynProcess wyn(root, {}, limited(GiB(2)));
    std::string record = "error: \n  Unexpected \"]\" token.\n  " + docs + "/bad.wyn:2:6\n";
    EXPECT_TRUE(wyn.read_until(record)) << wyn.text;
    EXPECT_TRUE(wyn.running()) << wyn.text;   // still watching
    EXPECT_EQ(wyn.text.find("out of address space"), std::string::npos) << wyn.text;
}

TEST_F(AddressLimit, FarTooLittleEndsWithAMessageAndStatusOne)
{
    // The binary carries the starter site, fonts and all: the limit leaves
    // room to load it and nothing like what the caches reserve.
    WynProcess wyn(root, {}, limited(MiB(40)));
    ASSERT_TRUE(wyn.wait_end()) << "wyn kept running in 40 MiB:\n" << wyn.text;
    if (WIFEXITED(wyn.status) && WEXITSTATUS(wyn.status) == 127 &&
        wyn.text.find("error while loading shared libraries") != std::string::npos)
        GTEST_SKIP() << "the loader itself does not fit in 40 MiB here: " << wyn.text;
    ASSERT_TRUE(WIFEXITED(wyn.status)) << "ended by signal " << WTERMSIG(wyn.status) << ":\n" << wyn.text;
    EXPECT_EQ(WEXITSTATUS(wyn.status), 1) << wyn.text;
    EXPECT_NE(wyn.text.find("wyn: out of address space: cannot reserve"), std::string::npos) << wyn.text;
}
