// tree=FILE, end to end: the built wyn prints the parse and exits at once.
#include <gtest/gtest.h>
#include <unistd.h>   // POSIX only: the Windows build leaves this test out (cmake/windows.cmake)

#include <string>

#include "../test_support.h"
#include "../wyn_process.h"

namespace {

TEST(TreeCommand, PrintsTreeAndMessagesThenExits)
{
    TempFolder folder("wyn-tree");
    write_file(folder.at("a.wyn"), "``\noutput_path: \"/html/a.html\"\n``\nHead ]\n");
    WynProcess wyn(folder.path, {"tree=a.wyn"});
    ASSERT_TRUE(wyn.wait_end()) << wyn.text;
    EXPECT_EQ(WEXITSTATUS(wyn.status), 0);
    EXPECT_EQ(wyn.text.find("document #0 0x0 @0\n"), 0u);
    EXPECT_NE(wyn.text.find("  element context_document #0 0x0 @1\n"), std::string::npos);
    // Paths resolve below the local folder of the current directory.
    EXPECT_NE(wyn.text.find("output_path: " + folder.path + "/local/html/a.html\n"), std::string::npos);
    EXPECT_NE(wyn.text.find("error: \n  Unexpected \"]\" token.\n  a.wyn:4:6\n"), std::string::npos);

    WynProcess missing(folder.path, {"--tree=nothing.wyn"});
    ASSERT_TRUE(missing.wait_end()) << missing.text;
    EXPECT_EQ(WEXITSTATUS(missing.status), 1);
    EXPECT_EQ(missing.text, "wyn: cannot read nothing.wyn\n");
}

} // namespace
