// End to end: the real wyn under an address-space limit (`ulimit -v`, or a
// container's). Reservations are guesses, not needs: a small site must still
// start and build with a few GiB, and with far too little wyn must say what
// it could not reserve and fail with status 1, never die on a signal.
//
// Sanitizer builds reserve terabytes of shadow memory at start, so there the
// limits below mean nothing: the tests skip, and a plain build runs them
// (`.ci/run` builds one for this).
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/types.h"

#include "../base/sanitized.h"

// wyn started in a folder under a limit on its address space, standard
// output and standard error collected together.
struct LimitedWyn {
    pid_t pid = -1;
    int out = -1;
    std::string text;
    int status = -1;   // from waitpid once it ended

    LimitedWyn(const std::string &cwd, u64 limit_bytes, std::vector<std::string> args)
    {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            dup2(fds[1], 2);
            close(fds[0]);
            close(fds[1]);
            struct rlimit limit = {(rlim_t)limit_bytes, (rlim_t)limit_bytes};
            if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
            if (chdir(cwd.c_str()) != 0) _exit(127);
            std::vector<char *> argv;
            argv.push_back((char *)WYN_BINARY);
            for (std::string &a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(WYN_BINARY, argv.data());
            _exit(127);
        }
        close(fds[1]);
        out = fds[0];
    }
    LimitedWyn(const LimitedWyn &) = delete;
    LimitedWyn &operator=(const LimitedWyn &) = delete;
    ~LimitedWyn()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (out >= 0) close(out);
    }

    // Reads until the needle appears or the output ends; bounded.
    bool read_until(const std::string &needle, int seconds = 60)
    {
        for (int waited = 0; waited < seconds * 10; waited += 1) {
            if (text.find(needle) != std::string::npos) return true;
            struct pollfd p = {out, POLLIN, 0};
            if (poll(&p, 1, 100) > 0) {
                char buffer[65536];
                ssize_t n = read(out, buffer, sizeof(buffer));
                if (n <= 0) break;
                text.append(buffer, (size_t)n);
            }
        }
        return text.find(needle) != std::string::npos;
    }

    // Takes what is left in the pipe once the writer is gone.
    void drain()
    {
        char buffer[65536];
        for (int i = 0; i < 1000; i += 1) {
            struct pollfd p = {out, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) break;
            ssize_t n = read(out, buffer, sizeof(buffer));
            if (n <= 0) break;
            text.append(buffer, (size_t)n);
        }
    }

    // Waits for the end, bounded; false when it is still running.
    bool wait_end(int seconds = 60)
    {
        for (int waited = 0; waited < seconds * 100; waited += 1) {
            int st = 0;
            if (waitpid(pid, &st, WNOHANG) == pid) {
                status = st;
                pid = -1;
                drain();
                return true;
            }
            usleep(10000);
        }
        return false;
    }

    bool running() { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }
};

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
    LimitedWyn wyn(root, MiB(512), {"version"});
    ASSERT_TRUE(wyn.wait_end()) << "wyn version did not end";
    ASSERT_TRUE(WIFEXITED(wyn.status)) << "ended by signal " << WTERMSIG(wyn.status) << ":\n" << wyn.text;
    EXPECT_EQ(WEXITSTATUS(wyn.status), 0) << wyn.text;
    EXPECT_EQ(wyn.text.rfind("wyn ", 0), 0u) << wyn.text;
}

TEST_F(AddressLimit, ASmallSiteBuildsAndIsWatchedInTwoGigabytes)
{
    LimitedWyn wyn(root, GiB(2), {});
    std::string record = "error: \n  Unexpected \"]\" token.\n  " + docs + "/bad.wyn:2:6\n";
    EXPECT_TRUE(wyn.read_until(record)) << wyn.text;
    EXPECT_TRUE(wyn.running()) << wyn.text;   // still watching
    EXPECT_EQ(wyn.text.find("out of address space"), std::string::npos) << wyn.text;
}

TEST_F(AddressLimit, FarTooLittleEndsWithAMessageAndStatusOne)
{
    LimitedWyn wyn(root, MiB(24), {});
    ASSERT_TRUE(wyn.wait_end()) << "wyn kept running in 24 MiB:\n" << wyn.text;
    if (WIFEXITED(wyn.status) && WEXITSTATUS(wyn.status) == 127 && wyn.text.find("wyn:") == std::string::npos)
        GTEST_SKIP() << "the loader itself does not fit in 24 MiB here: " << wyn.text;
    ASSERT_TRUE(WIFEXITED(wyn.status)) << "ended by signal " << WTERMSIG(wyn.status) << ":\n" << wyn.text;
    EXPECT_EQ(WEXITSTATUS(wyn.status), 1) << wyn.text;
    EXPECT_NE(wyn.text.find("wyn: out of address space: cannot reserve"), std::string::npos) << wyn.text;
}
