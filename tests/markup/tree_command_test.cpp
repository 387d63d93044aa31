// tree=FILE, end to end: the built wyn prints the parse and exits at once.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Outcome {
    std::string out;
    int status = -1;
};

Outcome run(const std::string &folder, const std::string &args)
{
    Outcome r;
    std::string command = "cd '" + folder + "' && '" + WYN_BINARY + "' " + args + " 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return r;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) r.out.append(buffer, n);
    int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

struct TreeCommand : ::testing::Test {
    std::string folder;
    void SetUp() override
    {
        char pattern[] = "/tmp/wyn-tree-XXXXXX";
        folder = mkdtemp(pattern);
    }
    void TearDown() override { std::system(("rm -rf '" + folder + "'").c_str()); }
};

TEST_F(TreeCommand, PrintsTreeAndMessagesThenExits)
{
    std::ofstream(folder + "/a.wyn") << "``\noutput_path: \"/html/a.html\"\n``\nHead ]\n";
    Outcome r = run(folder, "tree=a.wyn");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("document #0 0x0 @0\n"), 0u);
    EXPECT_NE(r.out.find("  element context_document #0 0x0 @1\n"), std::string::npos);
    // Paths resolve below the local folder of the current directory.
    EXPECT_NE(r.out.find("output_path: " + folder + "/local/html/a.html\n"), std::string::npos);
    EXPECT_NE(r.out.find("error: \n  Unexpected \"]\" token.\n  a.wyn:4:6\n"), std::string::npos);
}

TEST_F(TreeCommand, MissingFileFails)
{
    Outcome r = run(folder, "--tree=nothing.wyn");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "wyn: cannot read nothing.wyn\n");
}

} // namespace
