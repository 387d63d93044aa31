#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>
#include <sys/wait.h>
#include <unistd.h>

#include "os/platform.h"
#include "markup/paths.h"
#include "site/discovery.h"
#include "site/options.h"

static std::string s(Str x) { return std::string(x.str, x.size); }

struct CommandLineTest : ::testing::Test {
    Arena *arena = arena_alloc(MiB(4), KiB(4));
    ~CommandLineTest() override { arena_release(arena); }

    CommandLine *parse(std::vector<const char *> argv)
    {
        StrList args = {};
        for (const char *a : argv) str_list_push(arena, &args, str_from_cstring(a));
        return cmd_line_parse(arena, args);
    }
    std::vector<std::string> values(CommandLine *cmd, const char *name)
    {
        std::vector<std::string> out;
        CommandLineOption *o = cmd_line_option(cmd, str_from_cstring(name));
        if (o)
            for (StrNode *n = o->values.first; n; n = n->next) out.push_back(s(n->string));
        return out;
    }
};

TEST_F(CommandLineTest, EverySpellingOfAValue)
{
    for (std::vector<const char *> argv : std::vector<std::vector<const char *>>{
             {"--target=C:/site/docs/"}, {"-target:C:/site/docs/"}, {"target:", "C:/site/docs/"}, {"target=", "C:/site/docs/"}}) {
        CommandLine *cmd = parse(argv);
        EXPECT_EQ(s(cmd_line_value(cmd, str_lit("target"))), "C:/site/docs/") << argv[0];
    }
    // Without a separator "target" is a flag and the next token an option
    // of its own (named up to its first ':').
    CommandLine *two = parse({"target", "C:/x"});
    EXPECT_TRUE(cmd_line_option(two, str_lit("target")));
    EXPECT_EQ(cmd_line_value(two, str_lit("target")).size, 0u);
    EXPECT_EQ(s(cmd_line_value(two, str_lit("C"))), "/x");
    CommandLine *plain = parse({"target", "docs"});
    EXPECT_TRUE(cmd_line_option(plain, str_lit("docs")));
}

TEST_F(CommandLineTest, PendingValuesAndCommaLists)
{
    CommandLine *cmd = parse({"a:x,", "y"});
    EXPECT_EQ(values(cmd, "a"), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(s(cmd_line_value(cmd, str_lit("a"))), "x,y");
    CommandLine *inside = parse({"a=x,y"});   // commas after the separator are not cut
    EXPECT_EQ(values(inside, "a"), (std::vector<std::string>{"x,y"}));
    CommandLine *list = parse({"b=", "p,,q,", "r"});
    EXPECT_EQ(values(list, "b"), (std::vector<std::string>{"p", "", "q", "r"}));
    // After "target:" a dashed token is still a value.
    CommandLine *dashed = parse({"target:", "-x"});
    EXPECT_EQ(s(cmd_line_value(dashed, str_lit("target"))), "-x");
    // Three dashes name "-x".
    EXPECT_TRUE(cmd_line_option(parse({"---x"}), str_lit("-x")));
    // The first of two separators decides.
    EXPECT_EQ(s(cmd_line_value(parse({"k=a:b"}), str_lit("k"))), "a:b");
    EXPECT_EQ(s(cmd_line_value(parse({"k:a=b"}), str_lit("k"))), "a=b");
}

TEST_F(CommandLineTest, TokensSplitAtBlanksAndQuotes)
{
    CommandLine *cmd = parse({"  js   check_urls\t", "deploy\"print_todos\""});
    EXPECT_TRUE(cmd_line_has_flag(cmd, str_lit("js")));
    EXPECT_TRUE(cmd_line_has_flag(cmd, str_lit("check_urls")));
    EXPECT_TRUE(cmd_line_has_flag(cmd, str_lit("deploy")));
    EXPECT_TRUE(cmd_line_has_flag(cmd, str_lit("print_todos")));
    // Empty tokens (from stray quotes) neither take nor end a pending value.
    CommandLine *quoted = parse({"target=", "\"/x/\""});
    EXPECT_EQ(s(cmd_line_value(quoted, str_lit("target"))), "/x/");
}

TEST_F(CommandLineTest, FlagValues)
{
    CommandLine *cmd = parse({"check_urls=false", "a=0", "b", "--c=TRUE", "d:1", "e=yes"});
    EXPECT_FALSE(cmd_line_has_flag(cmd, str_lit("check_urls")));
    EXPECT_FALSE(cmd_line_has_flag(cmd, str_lit("a")));
    EXPECT_TRUE(cmd_line_has_flag(cmd, str_lit("b")));
    EXPECT_TRUE(cmd_line_has_flag(cmd, str_lit("c")));
    EXPECT_TRUE(cmd_line_has_flag(cmd, str_lit("d")));
    EXPECT_FALSE(cmd_line_has_flag(cmd, str_lit("e")));
    EXPECT_FALSE(cmd_line_has_flag(cmd, str_lit("absent")));
    // The first of two options with one name counts.
    CommandLine *twice = parse({"x=1", "x=2"});
    EXPECT_EQ(s(cmd_line_value(twice, str_lit("x"))), "1");
}

TEST_F(CommandLineTest, HostileArgumentsStillParse)
{
    std::string long_value = "target=" + std::string(100000, 'a');
    CommandLine *cmd = parse({"\xff\xfe=\xc3", "", "\"", ",,,", long_value.c_str(), "=", ":"});
    EXPECT_EQ(cmd_line_value(cmd, str_lit("target")).size, 100000u);
    EXPECT_EQ(s(cmd_line_value(cmd, str_lit("\xff\xfe"))), "\xc3");
}

TEST_F(CommandLineTest, AbsolutePathsFollowTheSegmentWalk)
{
    EXPECT_EQ(s(path_absolute_from(arena, str_lit("docs"), str_lit("C:/site"))), "C:/site/docs");
    EXPECT_EQ(s(path_absolute_from(arena, str_lit("../x"), str_lit("C:/site/a"))), "C:/site/x");
    EXPECT_EQ(s(path_absolute_from(arena, str_lit("D:/w"), str_lit("C:/site"))), "D:/w");
    EXPECT_EQ(s(path_absolute_from(arena, str_lit("/srv/w"), str_lit("/home/me"))), "/srv/w");
    EXPECT_EQ(s(path_absolute_from(arena, str_lit("./a/../b"), str_lit("/home/me"))), "/home/me/b");
    EXPECT_EQ(path_absolute_from(arena, str_lit(""), str_lit("/home")).size, 0u);
}

TEST_F(CommandLineTest, TargetResolutionLogsTheNote)
{
    DiagnosticList log = {};
    Str none = cmd_line_path(arena, parse({}), str_lit("target"), str_lit("/site"), arena, &log);
    EXPECT_EQ(s(none), "/site/local/wyn_files/");
    EXPECT_EQ(s(log.first->text), "target: /site/local/wyn_files/");
    EXPECT_EQ(log.first->level, (u32)DiagLevel_Note);
    EXPECT_EQ(s(cmd_line_path(arena, parse({"target=docs"}), str_lit("target"), str_lit("C:/site"), arena, &log)), "C:/site/docs/");
    EXPECT_EQ(s(cmd_line_path(arena, parse({"target=../x"}), str_lit("target"), str_lit("C:/site/a"), arena, &log)), "C:/site/x/");
    EXPECT_EQ(s(cmd_line_path(arena, parse({"target=D:/w"}), str_lit("target"), str_lit("C:/site"), arena, &log)), "D:/w/");
    EXPECT_EQ(s(cmd_line_path(arena, parse({"target=//srv//w//"}), str_lit("target"), str_lit("/"), arena, &log)), "/srv/w/");
    EXPECT_EQ(log.count, 5u);
}

TEST_F(CommandLineTest, LayoutFromTheCurrentDirectory)
{
    SiteLayout windows = site_layout_from_directory(arena, str_lit("C:\\site\\a"));
    EXPECT_EQ(s(windows.current_directory), "C:/site/a");
    EXPECT_EQ(s(windows.local_folder), "C:/site/a/local/");
    SiteLayout posix = site_layout_from_directory(arena, str_lit("/home/me/site"));
    EXPECT_EQ(s(posix.local_folder), "/home/me/site/local/");
    EXPECT_EQ(posix.target.size, 0u);
}

TEST(SiteRelativePath, FirstRuleThatAppliesWins)
{
    Str local = str_lit("C:/site/local/");
    EXPECT_EQ(s(site_relative_path(local, str_lit("C:/site/local/html/a/b.html"))), "/a/b.html");
    EXPECT_EQ(s(site_relative_path(local, str_lit("C:/site/local/shared/css/x.css"))), "/shared/css/x.css");
    EXPECT_EQ(s(site_relative_path(local, str_lit("C:/site/local/assets/images/p.png"))), "/assets/images/p.png");
    EXPECT_EQ(s(site_relative_path(local, str_lit("C:/site/local/assets/files/t.csv"))), "/assets/files/t.csv");
    EXPECT_EQ(s(site_relative_path(local, str_lit("C:/site/local/assets/builds/z"))), "/assets/builds/z");
    EXPECT_EQ(s(site_relative_path(local, str_lit("C:/site/local/wyn_files/a.wyn"))), "/wyn_files/a.wyn");
    EXPECT_EQ(s(site_relative_path(local, str_lit("D:/elsewhere/a.txt"))), "D:/elsewhere/a.txt");
    EXPECT_EQ(s(site_relative_path(local, str_lit("D:/elsewhere/html/a.txt"))), "/a.txt");
}

TEST(SiteRelativePath, SitesUnderAFolderNamedHtmlOrShared)
{
    Str local = str_lit("/home/me/html/shared/site/local/");
    EXPECT_EQ(s(site_relative_path(local, str_lit("/home/me/html/shared/site/local/html/a.html"))), "/a.html");
    EXPECT_EQ(s(site_relative_path(local, str_lit("/home/me/html/shared/site/local/shared/x.css"))), "/shared/x.css");
    EXPECT_EQ(s(site_relative_path(local, str_lit("/home/me/html/shared/site/local/wyn_files/a.wyn"))), "/wyn_files/a.wyn");
}

struct SiteFolder : ::testing::Test {
    Arena *arena = arena_alloc(MiB(4), KiB(4));
    std::string root;
    SiteFolder()
    {
        char pattern[] = "/tmp/wyn-site-XXXXXX";
        root = mkdtemp(pattern);
    }
    ~SiteFolder() override
    {
        std::system(("chmod -R u+rwx '" + root + "'; rm -rf '" + root + "'").c_str());
        arena_release(arena);
    }
    void write(const char *rel)
    {
        Str path = str_pushf(arena, "%s/%s", root.c_str(), rel);
        ASSERT_TRUE(file_write_all(path, str_lit("x"), FileWrite_CreateFolders));
    }
    std::vector<std::string> list(const char *folder)
    {
        StrList files = {};
        site_list_files(arena, &files, str_pushf(arena, "%s/%s", root.c_str(), folder));
        std::vector<std::string> out;
        for (StrNode *n = files.first; n; n = n->next) out.push_back(s(n->string).substr(root.size() + 1));
        return out;
    }
};

TEST_F(SiteFolder, ListsBreadthFirst)
{
    write("w/a/b/deep.wyn");
    write("w/top.wyn");
    write("w/a/mid.wyn");
    write("w/c d/\xc3\xa9t\xc3\xa9 page.wyn");
    std::vector<std::string> files = list("w/");
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(files[0], "w/top.wyn");   // files of a folder come before deeper ones
    EXPECT_EQ(files[3], "w/a/b/deep.wyn");
    EXPECT_NE(std::find(files.begin(), files.end(), "w/c d/\xc3\xa9t\xc3\xa9 page.wyn"), files.end());
    EXPECT_TRUE(list("missing/").empty());
}

TEST_F(SiteFolder, LinkCyclesEndTheWalk)
{
    write("w/a/x.wyn");
    ASSERT_EQ(symlink((root + "/w").c_str(), (root + "/w/a/loop").c_str()), 0);
    std::vector<std::string> files = list("w/");
    EXPECT_EQ(files, (std::vector<std::string>{"w/a/x.wyn"}));
}

TEST_F(SiteFolder, UnreadableFoldersAreSkipped)
{
    write("w/ok.wyn");
    write("w/locked/hidden.wyn");
    std::system(("chmod -R a+rX '" + root + "' && chmod 000 '" + root + "/w/locked'").c_str());
    if (geteuid() != 0) {
        EXPECT_EQ(list("w/"), (std::vector<std::string>{"w/ok.wyn"}));
        return;
    }
    // Root reads every folder: list as an ordinary user in a child process.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        _exit(list("w/") == std::vector<std::string>{"w/ok.wyn"} ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2: could not become an ordinary user";
}

TEST_F(SiteFolder, RepeatedWalksListOnlyFoldersWhoseEntriesChanged)
{
    write("w/top.wyn");
    write("w/a/one.wyn");
    write("w/a/b/deep.wyn");
    write("w/c/other.wyn");
    SourceWalk walk = {};
    auto walk_once = [&] {
        StrList files = {};
        site_walk_files(&walk, arena, &files, str_pushf(arena, "%s/w/", root.c_str()));
        std::vector<std::string> out;
        for (StrNode *n = files.first; n; n = n->next) out.push_back(s(n->string).substr(root.size() + 1));
        std::sort(out.begin(), out.end());
        return out;
    };
    std::vector<std::string> all = {"w/a/b/deep.wyn", "w/a/one.wyn", "w/c/other.wyn", "w/top.wyn"};
    EXPECT_EQ(walk_once(), all);
    EXPECT_EQ(walk.listed, 4u);
    // Listed once more, since an entry made in the same clock tick as the
    // first listing would not have moved the folder's time; then settled.
    EXPECT_EQ(walk_once(), all);
    EXPECT_EQ(walk_once(), std::vector<std::string>{});
    EXPECT_EQ(walk.listed, 0u);
    EXPECT_EQ(walk.looked_at, 4u);

    // A file deep down, a new folder, a renamed file: each lists its folder
    // (and only that) again, and new paths are among the files given.
    write("w/a/b/new.wyn");
    std::vector<std::string> files = walk_once();
    EXPECT_EQ(walk.listed, 1u);
    EXPECT_EQ(files, (std::vector<std::string>{"w/a/b/deep.wyn", "w/a/b/new.wyn"}));
    write("w/c/e/fresh.wyn");
    files = walk_once();
    EXPECT_NE(std::find(files.begin(), files.end(), "w/c/e/fresh.wyn"), files.end());
    ASSERT_EQ(rename((root + "/w/top.wyn").c_str(), (root + "/w/moved.wyn").c_str()), 0);
    files = walk_once();
    EXPECT_NE(std::find(files.begin(), files.end(), "w/moved.wyn"), files.end());

    // A folder replaced by another of the same name is a new folder.
    std::system(("mv '" + root + "/w/a' '" + root + "/gone' && mkdir -p '" + root + "/w/a' && touch -r '" + root +
                 "/gone' '" + root + "/w/a' && echo x > '" + root + "/w/a/replaced.wyn' && touch -r '" + root +
                 "/gone' '" + root + "/w/a'")
                    .c_str());
    files = walk_once();
    EXPECT_NE(std::find(files.begin(), files.end(), "w/a/replaced.wyn"), files.end());
    site_walk_release(&walk);
}

//- the site configuration

TEST_F(CommandLineTest, FlagsGivenAValueAreReadByTheValue)
{
    DiagnosticList log = {};
    SiteConfig off = site_config_from_command_line(arena, parse({"help=false", "version=0", "js=no", "deploy=FALSE"}),
                                                   str_lit("/nowhere"), arena, &log);
    EXPECT_FALSE(off.help);
    EXPECT_FALSE(off.version);
    EXPECT_FALSE(off.js);
    EXPECT_FALSE(off.deploy);
    EXPECT_TRUE(off.file_path_checks);
    SiteConfig on = site_config_from_command_line(arena, parse({"--js=TRUE", "deploy=1", "check_urls", "probe=http://127.0.0.1:9/"}),
                                                  str_lit("/nowhere"), arena, &log);
    EXPECT_TRUE(on.js);
    EXPECT_TRUE(on.deploy);
    EXPECT_TRUE(on.check_urls);
    EXPECT_FALSE(on.file_path_checks);   // deploy turns file-path checks off
    EXPECT_EQ(s(on.probe), "http://127.0.0.1:9/");
    EXPECT_EQ(s(on.layout.local_folder), "/nowhere/local/");
}

TEST_F(CommandLineTest, ATargetThatCannotGiveASiteIsNamedWithTheReason)
{
    char pattern[] = "/tmp/wyn-target-XXXXXX";
    std::string root = mkdtemp(pattern);
    std::system(("mkdir -p '" + root + "/local/wyn_files' && touch '" + root + "/notes.txt' '" + root + "/a.wyn' && mkfifo '" +
                 root + "/pipe.wyn'")
                    .c_str());
    auto problem = [&](const std::string &target) { return s(site_target_problem(arena, str(target.data(), target.size()))); };
    EXPECT_EQ(problem(root + "/local/wyn_files/"), "");
    EXPECT_EQ(problem(root + "/a.wyn"), "");
    EXPECT_EQ(problem(root + "/missing/"), "does not exist");
    EXPECT_EQ(problem(root + "/notes.txt"), "is not a .wyn document");
    EXPECT_EQ(problem(root + "/notes.txt/"), "is not a folder");
    // A named pipe would wait for a writer for ever.
    EXPECT_EQ(problem(root + "/pipe.wyn"), "is neither a folder nor a .wyn document");
    if (geteuid() != 0) {   // root reads every folder
        std::system(("chmod 000 '" + root + "/local/wyn_files'").c_str());
        EXPECT_EQ(problem(root + "/local/wyn_files/"), "cannot be read");
        std::system(("chmod 755 '" + root + "/local/wyn_files'").c_str());
    }
    std::system(("rm -rf '" + root + "'").c_str());
}

TEST_F(CommandLineTest, MistypedOptionsAndValuesAreNamed)
{
    auto warnings = [&](std::vector<const char *> argv) {
        DiagnosticList log = {};
        site_config_from_command_line(arena, parse(argv), str_lit("/nowhere"), arena, &log);
        std::string out;
        for (Diagnostic *d = log.first; d; d = d->next)
            if (d->level == DiagLevel_Warning) out += s(d->text) + "\n";
        return out;
    };
    EXPECT_EQ(warnings({"--onec", "onec", "taget=x/"}),
              "unknown option 'onec'; did you mean 'once'?\nunknown option 'taget'; did you mean 'target'?\n");
    EXPECT_EQ(warnings({"--frobnicate"}), "unknown option 'frobnicate'; it is ignored (wyn help lists the options)\n");
    EXPECT_EQ(warnings({"once=yes"}), "once=yes is no flag value (true, 1, false or 0); once stays off\n");
    EXPECT_EQ(warnings({"tree"}), "tree needs a value (tree=FILE); it is ignored\n");
    EXPECT_EQ(warnings({"diagnostics=lines"}),
              "diagnostics=lines is not a known choice (line, json); the usual layouts are used\n");
    EXPECT_EQ(warnings({"color=sometimes"}), "color=sometimes is not a known choice (auto, always, never); auto is used\n");
    EXPECT_EQ(warnings({"serve", "bind=0.0.0.0"}),
              "bind=0.0.0.0: the site is visible to the network, not only to this machine\n");
    EXPECT_EQ(warnings({"once", "strict=TRUE", "js=0", "serve", "bind=127.0.0.2", "diagnostics=JSON", "color=never"}), "");
}

TEST_F(CommandLineTest, TheUsageTextListsEveryOptionOfTheTable)
{
    std::string usage = s(options_usage_text(arena));
    for (u32 id = 1; id < Option_Count; id += 1) {
        std::string name = s(option_table[id].name);
        EXPECT_NE(usage.find("\n  " + name), std::string::npos) << name;
        EXPECT_NE(usage.find(s(option_table[id].help)), std::string::npos) << name;
    }
}

TEST_F(CommandLineTest, InitTakesItsFolderAsAValueOrAsTheNextWord)
{
    auto folder = [&](std::vector<const char *> argv, std::string *said = nullptr) {
        DiagnosticList log = {};
        SiteConfig config = site_config_from_command_line(arena, parse(argv), str_lit("/home/me"), arena, &log);
        EXPECT_TRUE(config.init) << argv[0];
        if (said)
            for (Diagnostic *d = log.first; d; d = d->next) *said += s(d->text) + "\n";
        return s(config.init_folder);
    };
    EXPECT_EQ(folder({"init"}), "/home/me");
    EXPECT_EQ(folder({"init", "sites/new/"}), "/home/me/sites/new");
    EXPECT_EQ(folder({"--init=../other"}), "/home/other");
    EXPECT_EQ(folder({"init:", "/srv/site"}), "/srv/site");
    // A drive path comes back from the grammar cut at its colon.
    EXPECT_EQ(folder({"init", "C:\\sites\\new"}), "C:/sites/new");
    EXPECT_EQ(folder({"init", "D:/w/"}), "D:/w");
    EXPECT_EQ(folder({"init=/"}), "/");
    // The word taken as the folder is no unknown option; a word after it is.
    std::string said;
    EXPECT_EQ(folder({"init", "blog", "onec"}, &said), "/home/me/blog");
    EXPECT_EQ(said, "unknown option 'onec'; did you mean 'once'?\n");
    // An option of the table is never taken for the folder.
    said.clear();
    EXPECT_EQ(folder({"init", "once"}, &said), "/home/me");
    EXPECT_EQ(said, "");
    // A word cut at '=' or ':' cannot be put back: no folder, and an error
    // rather than a site written somewhere else.
    said.clear();
    EXPECT_EQ(folder({"init", "a=b"}, &said), "");
    EXPECT_EQ(said, "init: which folder 'a' names cannot be told; give it as init=FOLDER\n");
}

TEST_F(CommandLineTest, TheSiteUrlIsAnHttpAddressEndingInASlash)
{
    auto site_url = [&](const char *value, std::string *said) {
        DiagnosticList log = {};
        std::string option = std::string("site_url=") + value;
        SiteConfig config = site_config_from_command_line(arena, parse({option.c_str()}), str_lit("/nowhere"), arena, &log);
        for (Diagnostic *d = log.first; d; d = d->next)
            if (d->level == DiagLevel_Warning) *said += s(d->text) + "\n";
        return s(config.site_url);
    };
    std::string said;
    EXPECT_EQ(site_url("https://example.org/", &said), "https://example.org/");
    EXPECT_EQ(site_url("https://example.org", &said), "https://example.org/");
    EXPECT_EQ(site_url("HTTP://example.org/~mara", &said), "HTTP://example.org/~mara/");
    EXPECT_EQ(said, "");
    for (const char *refused : {"example.org", "ftp://example.org/", "https:///path", "https://example.org/?page=1",
                                "https://example.org/#top", "https://exa<mple.org/", "file:///home/me/site/"}) {
        said.clear();
        EXPECT_EQ(site_url(refused, &said), "") << refused;
        EXPECT_NE(said.find("no feed or site map is written"), std::string::npos) << refused;
    }
}
