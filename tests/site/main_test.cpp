// End to end: the built wyn, started in a temporary site.
#include <gtest/gtest.h>
#include <unistd.h>   // POSIX only: the Windows build leaves this test out (cmake/windows.cmake)

#include <string>
#include <vector>

#include "../test_support.h"
#include "../wyn_process.h"

struct Site : ::testing::Test {
    TempFolder folder{"wyn-e2e"};
    std::string root = folder.path;
    Site() { write_file(root + "/local/wyn_files/notes/a.wyn", "Title\n"); }
};

// The target note comes whatever the target is (the default folder, one
// that is missing, a single document), and the watch goes on after it.
TEST_F(Site, PrintsTheTargetNoteAndKeepsWatching)
{
    struct Case { std::vector<std::string> args; std::string target; } cases[] = {
        {{"--target=nowhere"}, "nowhere/"},
        {{"target:", "local/wyn_files/notes/a.wyn"}, "local/wyn_files/notes/a.wyn"},
        {{}, "local/wyn_files/"},
    };
    for (const Case &c : cases) {
        WynProcess wyn(root, c.args);
        ASSERT_TRUE(wyn.read_until("note: \n  target: " + root + "/" + c.target + "\n")) << c.target << "\n" << wyn.text;
        EXPECT_TRUE(wyn.running()) << c.target;   // a watch process never ends on its own
        if (!c.args.empty()) continue;
        kill(wyn.pid, SIGTERM);
        EXPECT_EQ(wyn.wait_exit(), -1);   // ended by the signal
    }
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
