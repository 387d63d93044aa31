// The whole program on documents written to cost memory: `wyn once` builds
// a site whose one source is megabytes of the same few hostile bytes, pages
// included, and its peak resident size must stay under 64 times the
// source's size. The peak is the kernel's (ru_maxrss of the reaped child),
// so nothing in wyn is trusted to count its own memory.
#include <gtest/gtest.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../base/sanitized.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t source_size = 8u << 20;
constexpr int wait_seconds = 120;

std::string repeat_to(const std::string &piece, size_t size)
{
    std::string out;
    out.reserve(size + piece.size());
    while (out.size() < size) out += piece;
    out.resize(size);
    return out;
}

struct WynRun {
    bool finished = false;
    int status = 0;
    long peak_kib = 0;
    std::string failure;
};

// Starts wyn in `site`, waits at most wait_seconds for it, and reads the
// peak from the rusage wait4 hands back with the exit status.
WynRun run_once(const fs::path &site)
{
    WynRun run;
    pid_t pid = fork();
    if (pid < 0) {
        run.failure = std::string("fork failed: ") + strerror(errno);
        return run;
    }
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, 1), dup2(null, 2);
        if (chdir(site.c_str()) != 0) _exit(127);
        execl(WYN_BINARY, WYN_BINARY, "once", (char *)nullptr);
        _exit(127);
    }
    time_t deadline = time(nullptr) + wait_seconds;
    for (;;) {
        struct rusage usage = {};
        pid_t done = wait4(pid, &run.status, WNOHANG, &usage);
        if (done == pid) {
            run.finished = true;
            run.peak_kib = usage.ru_maxrss;
            return run;
        }
        if (done < 0 && errno != EINTR) {
            run.failure = std::string("wait4 failed: ") + strerror(errno);
            return run;
        }
        if (time(nullptr) > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            run.failure = "wyn once did not finish within " + std::to_string(wait_seconds) + " s";
            return run;
        }
        usleep(20000);
    }
}

struct HostileSite : ::testing::Test {
    fs::path root;
    void SetUp() override
    {
        char pattern[] = "/tmp/wyn-hostile-XXXXXX";
        char *made = mkdtemp(pattern);
        ASSERT_NE(made, nullptr);
        root = made;
    }
    void TearDown() override
    {
        std::error_code ignored;
        if (!root.empty()) fs::remove_all(root, ignored);
    }
};

TEST_F(HostileSite, PeakMemoryStaysUnderSixtyFourTimesTheSource)
{
    if (WYN_SANITIZED) GTEST_SKIP() << "sanitizers multiply every allocation; a plain build measures this";
    std::string random_bytes;
    u_int64_t seed = 0x9E3779B97F4A7C15ull;
    while (random_bytes.size() < source_size) {
        seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
        random_bytes += (char)(seed >> 56);
    }
    struct Case {
        const char *name;
        std::string body;
    };
    const Case cases[] = {
        {"x!", repeat_to("x!", source_size)},
        {"[", repeat_to("[", source_size)},
        {"@", repeat_to("@", source_size)},
        {"=", repeat_to("=", source_size)},
        {"|", repeat_to("|", source_size)},
        {"a ", repeat_to("a ", source_size)},
        // Every line a heading with its entry in the table of contents.
        {"lines of 30 !", repeat_to(std::string(30, '!') + "\n", source_size)},
        {"NUL", std::string(source_size, '\0')},
        {"hello world", repeat_to("hello world ", source_size)},
        {"random", random_bytes},
    };
    // Once without a page, once with the header naming one, so the pages
    // are rendered and written too.
    const std::string page_head = "``\noutput_path: \"/html/a.html\"\n``\n";
    int index = 0;
    for (bool pages : {false, true}) {
        for (const Case &c : cases) {
            fs::path site = root / ("site" + std::to_string(index++));
            fs::create_directories(site / "local" / "wyn_files");
            std::string head = (pages ? page_head : std::string()) + "Title\n  ";
            {
                std::ofstream source(site / "local" / "wyn_files" / "a.wyn", std::ios::binary);
                source << head << c.body;
            }
            size_t size = head.size() + c.body.size();
            WynRun run = run_once(site);
            ASSERT_TRUE(run.finished) << c.name << ": " << run.failure;
            EXPECT_TRUE(WIFEXITED(run.status)) << c.name << ": wyn did not exit normally";
            if (pages) {
                EXPECT_TRUE(fs::exists(site / "local" / "html" / "a.html")) << c.name << ": no page written";
            }
            double ratio = (double)run.peak_kib * 1024.0 / (double)size;
            EXPECT_LE(ratio, 64.0) << c.name << (pages ? " with pages" : "") << ": peak " << run.peak_kib
                                    << " KiB for " << size << " source bytes";
            std::error_code ignored;
            fs::remove_all(site, ignored);
        }
    }
}

} // namespace
