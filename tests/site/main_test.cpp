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
#include "../wyn_process.h"

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
    WynProcess wyn(root, {});
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
    WynProcess wyn(root, {"--target=nowhere"});
    ASSERT_TRUE(wyn.read_until("  target: " + root + "/nowhere/\n")) << wyn.text;
    EXPECT_TRUE(wyn.running());
}

TEST_F(Site, ASingleDocumentTargetKeepsItsName)
{
    WynProcess wyn(root, {"target:", "local/wyn_files/notes/a.wyn"});
    ASSERT_TRUE(wyn.read_until("  target: " + root + "/local/wyn_files/notes/a.wyn\n")) << wyn.text;
}

TEST_F(Site, HelpAndVersionExitAtOnce)
{
    for (const char *spelling : {"help", "--help", "-help"}) {
        WynProcess help(root, {spelling});
        help.read_until("site layout:");
        EXPECT_EQ(help.wait_exit(), 0);
        EXPECT_NE(help.text.find("target=PATH"), std::string::npos) << spelling;
        EXPECT_NE(help.text.find("local/wyn_files/"), std::string::npos);
    }
    WynProcess version(root, {"version"});
    version.read_until("\n");
    EXPECT_EQ(version.wait_exit(), 0);
    EXPECT_EQ(version.text.rfind("wyn ", 0), 0u);
}
