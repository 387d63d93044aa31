// End to end: the built wyn, started in a temporary site.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/types.h"

struct Process {
    pid_t pid = -1;
    int out = -1;
    std::string text;

    Process(const std::string &cwd, std::vector<std::string> args)
    {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
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
    ~Process()
    {
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (out >= 0) close(out);
    }
    // Reads until `needle` appears or the generous deadline passes.
    bool read_until(const std::string &needle, int seconds = 30)
    {
        for (int waited = 0; waited < seconds * 10; waited += 1) {
            if (text.find(needle) != std::string::npos) return true;
            struct pollfd p = {out, POLLIN, 0};
            if (poll(&p, 1, 100) > 0) {
                char buffer[4096];
                ssize_t n = read(out, buffer, sizeof(buffer));
                if (n <= 0) return text.find(needle) != std::string::npos;
                text.append(buffer, (size_t)n);
            }
        }
        return text.find(needle) != std::string::npos;
    }
    int wait_exit()
    {
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    bool running() { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }
};

struct Site : ::testing::Test {
    std::string root;
    Site()
    {
        char pattern[] = "/tmp/wyn-e2e-XXXXXX";
        root = mkdtemp(pattern);
        std::system(("mkdir -p '" + root + "/local/wyn_files/notes' && echo 'Title' > '" + root +
                     "/local/wyn_files/notes/a.wyn'")
                        .c_str());
    }
    ~Site() override { std::system(("rm -rf '" + root + "'").c_str()); }
};

TEST_F(Site, PrintsTheTargetNoteAndKeepsWatching)
{
    Process wyn(root, {});
    ASSERT_TRUE(wyn.read_until("note: \n  target: " + root + "/local/wyn_files/\n")) << wyn.text;
    EXPECT_TRUE(wyn.running());   // a watch process never ends on its own
    kill(wyn.pid, SIGTERM);
    int status = 0;
    waitpid(wyn.pid, &status, 0);
    wyn.pid = -1;
    EXPECT_TRUE(WIFSIGNALED(status));
}

TEST_F(Site, AMissingTargetStillGetsItsNote)
{
    Process wyn(root, {"--target=nowhere"});
    ASSERT_TRUE(wyn.read_until("  target: " + root + "/nowhere/\n")) << wyn.text;
    EXPECT_TRUE(wyn.running());
}

TEST_F(Site, ASingleDocumentTargetKeepsItsName)
{
    Process wyn(root, {"target:", "local/wyn_files/notes/a.wyn"});
    ASSERT_TRUE(wyn.read_until("  target: " + root + "/local/wyn_files/notes/a.wyn\n")) << wyn.text;
}

TEST_F(Site, HelpAndVersionExitAtOnce)
{
    for (const char *spelling : {"help", "--help", "-help"}) {
        Process help(root, {spelling});
        help.read_until("site layout:");
        EXPECT_EQ(help.wait_exit(), 0);
        EXPECT_NE(help.text.find("target=PATH"), std::string::npos) << spelling;
        EXPECT_NE(help.text.find("local/wyn_files/"), std::string::npos);
    }
    Process version(root, {"version"});
    version.read_until("\n");
    EXPECT_EQ(version.wait_exit(), 0);
    EXPECT_EQ(version.text.rfind("wyn ", 0), 0u);
}
