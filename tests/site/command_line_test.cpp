#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>
#include <sys/wait.h>
#include <unistd.h>

#include "../test_support.h"
#include "os/platform.h"
#include "markup/paths.h"
#include "site/discovery.h"
#include "site/options.h"

struct CommandLineTest : ::testing::Test {
    Arena *arena = arena_alloc(MiB(4), KiB(4));
    ~CommandLineTest() override { arena_release(arena); }

    CommandLine *parse(std::vector<const char *> argv)
    {
        StrList args = {};
        for (const char *a : argv) str_list_push(arena, &args, str_from_cstring(a));
        return cmd_line_parse(arena, args);
    }
};

// A row: the arguments, an option's name, and its values joined by "|"
// ("-" when there is no such option).
TEST_F(CommandLineTest, EverySpellingOfOptionsAndValues)
{
    std::string long_value = "target=" + std::string(100000, 'a');
    struct Case { std::vector<const char *> argv; const char *name; std::string values; } cases[] = {
        {{"--target=C:/site/docs/"}, "target", "C:/site/docs/"},
        {{"-target:C:/site/docs/"}, "target", "C:/site/docs/"},
        {{"target:", "C:/site/docs/"}, "target", "C:/site/docs/"},
        {{"target=", "C:/site/docs/"}, "target", "C:/site/docs/"},
        // Without a separator "target" is a flag and the next token an
        // option of its own (named up to its first ':').
        {{"target", "C:/x"}, "target", ""},
        {{"target", "C:/x"}, "C", "/x"},
        {{"target", "docs"}, "docs", ""},
        // A value left pending takes the next token; commas after the
        // separator are not cut.
        {{"a:x,", "y"}, "a", "x|y"},
        {{"a=x,y"}, "a", "x,y"},
        {{"b=", "p,,q,", "r"}, "b", "p||q|r"},
        {{"target:", "-x"}, "target", "-x"},   // a dashed token is still a value
        {{"---x"}, "-x", ""},
        {{"k=a:b"}, "k", "a:b"},   // the first of two separators decides
        {{"k:a=b"}, "k", "a=b"},
        // Tokens split at quotes; an empty one (from stray quotes) neither
        // takes nor ends a pending value. Blanks inside an argument are
        // kept: a path may hold them.
        {{"  js\t", "deploy\"print_todos\""}, "print_todos", ""},
        {{"  js\t", "deploy\"print_todos\""}, "js", ""},
        {{"target=/home/me/My Sites/docs/"}, "target", "/home/me/My Sites/docs/"},
        {{"target: /x/", "js"}, "target", "/x/"},
        {{"target:", "/a b/"}, "target", "/a b/"},
        {{"js check_urls"}, "js check_urls", ""},
        {{"target=", "\"/x/\""}, "target", "/x/"},
        {{"x=1", "x=2"}, "x", "1"},   // the first of two options with one name counts
        {{"\xff\xfe=\xc3", "", "\"", ",,,", long_value.c_str(), "=", ":"}, "\xff\xfe", "\xc3"},
        {{"\xff\xfe=\xc3", "", "\"", ",,,", long_value.c_str(), "=", ":"}, "target", long_value.substr(7)},
    };
    for (const Case &c : cases) {
        CommandLineOption *o = cmd_line_option(parse(c.argv), str_from_cstring(c.name));
        std::string got = o ? "" : "-";
        for (StrNode *n = o ? o->values.first : nullptr; n; n = n->next) got += (n == o->values.first ? "" : "|") + s(n->string);
        EXPECT_EQ(got, c.values) << c.argv[0] << " ... " << c.name;
    }
    // A list's value is its pieces joined by commas.
    EXPECT_EQ(s(cmd_line_value(parse({"a:x,", "y"}), str_lit("a"))), "x,y");

    // Flag values.
    CommandLine *cmd = parse({"check_urls=false", "a=0", "b", "--c=TRUE", "d:1", "e=yes"});
    for (const char *off : {"check_urls", "a", "e", "absent"}) EXPECT_FALSE(cmd_line_has_flag(cmd, str_from_cstring(off))) << off;
    for (const char *on : {"b", "c", "d"}) EXPECT_TRUE(cmd_line_has_flag(cmd, str_from_cstring(on))) << on;
}

TEST_F(CommandLineTest, PathsFollowTheSegmentWalkAndATargetIsAFolderOrADocument)
{
    const char *cases[][3] = {
        {"docs", "C:/site", "C:/site/docs"},   {"../x", "C:/site/a", "C:/site/x"}, {"D:/w", "C:/site", "D:/w"},
        {"/srv/w", "/home/me", "/srv/w"}, {"./a/../b", "/home/me", "/home/me/b"}, {"", "/home", ""},
    };
    for (auto &c : cases)
        EXPECT_EQ(s(path_absolute_from(arena, str_from_cstring(c[0]), str_from_cstring(c[1]))), c[2]) << c[0];
    // Each resolution is logged as a note; no target is the default folder.
    DiagnosticList log = {};
    const char *targets[][3] = {
        {"", "/site", "/site/local/wyn_files/"},        {"target=docs", "C:/site", "C:/site/docs/"},
        {"target=../x", "C:/site/a", "C:/site/x/"},     {"target=D:/w", "C:/site", "D:/w/"},
        {"target=//srv//w//", "/", "/srv/w/"},
    };
    for (auto &c : targets) {
        CommandLine *cmd = *c[0] ? parse({c[0]}) : parse({});
        EXPECT_EQ(s(cmd_line_path(arena, cmd, str_lit("target"), str_from_cstring(c[1]), arena, &log)), c[2]) << c[0];
        EXPECT_EQ(s(log.last->text), std::string("target: ") + c[2]);
        EXPECT_EQ(log.last->level, (u32)DiagLevel_Note);
    }
    EXPECT_EQ(log.count, 5u);

    // The layout follows from the current folder.
    SiteLayout windows = site_layout_from_directory(arena, str_lit("C:\\site\\a"));
    EXPECT_EQ(s(windows.current_directory), "C:/site/a");
    EXPECT_EQ(s(windows.local_folder), "C:/site/a/local/");
    SiteLayout posix = site_layout_from_directory(arena, str_lit("/home/me/site"));
    EXPECT_EQ(s(posix.local_folder), "/home/me/site/local/");
    EXPECT_EQ(posix.target.size, 0u);
}

TEST(SiteRelativePath, FirstRuleThatAppliesWins)
{
    const char *cases[][3] = {
        {"C:/site/local/", "C:/site/local/html/a/b.html", "/a/b.html"},
        {"C:/site/local/", "C:/site/local/shared/css/x.css", "/shared/css/x.css"},
        {"C:/site/local/", "C:/site/local/assets/images/p.png", "/assets/images/p.png"},
        {"C:/site/local/", "C:/site/local/assets/files/t.csv", "/assets/files/t.csv"},
        {"C:/site/local/", "C:/site/local/assets/builds/z", "/assets/builds/z"},
        {"C:/site/local/", "C:/site/local/wyn_files/a.wyn", "/wyn_files/a.wyn"},
        {"C:/site/local/", "D:/elsewhere/a.txt", "D:/elsewhere/a.txt"},
        {"C:/site/local/", "D:/elsewhere/html/a.txt", "/a.txt"},
        // A site under folders named like the site's own.
        {"/home/me/html/shared/site/local/", "/home/me/html/shared/site/local/html/a.html", "/a.html"},
        {"/home/me/html/shared/site/local/", "/home/me/html/shared/site/local/shared/x.css", "/shared/x.css"},
        {"/home/me/html/shared/site/local/", "/home/me/html/shared/site/local/wyn_files/a.wyn", "/wyn_files/a.wyn"},
    };
    for (auto &c : cases)
        EXPECT_EQ(s(site_relative_path(str_from_cstring(c[0]), str_from_cstring(c[1]))), c[2]) << c[1];
}

struct SiteFolder : ::testing::Test {
    Arena *arena = arena_alloc(MiB(4), KiB(4));
    TempFolder folder{"wyn-site"};
    std::string root = folder.path;
    ~SiteFolder() override { arena_release(arena); }
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

TEST_F(SiteFolder, ListsBreadthFirstAndLinkCyclesEndTheWalk)
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

    write("v/a/x.wyn");
    ASSERT_EQ(symlink((root + "/v").c_str(), (root + "/v/a/loop").c_str()), 0);
    std::vector<std::string> looped = list("v/");
    EXPECT_EQ(looped, (std::vector<std::string>{"v/a/x.wyn"}));
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

TEST_F(CommandLineTest, FlagsAreReadByTheirValueAndTheSiteUrlIsAnHttpAddress)
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

    // The site's address is an http(s) address, and ends in a slash.
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

TEST_F(CommandLineTest, ABadTargetIsNamedWithTheReasonAndInitTakesItsFolder)
{
    TempFolder folder("wyn-target");
    std::string root = folder.path;
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
    }

    // Init takes its folder as a value or as the next word.
    auto init_folder = [&](std::vector<const char *> argv, std::string *said = nullptr) {
        DiagnosticList log = {};
        SiteConfig config = site_config_from_command_line(arena, parse(argv), str_lit("/home/me"), arena, &log);
        EXPECT_TRUE(config.init) << argv[0];
        if (said)
            for (Diagnostic *d = log.first; d; d = d->next) *said += s(d->text) + "\n";
        return s(config.init_folder);
    };
    EXPECT_EQ(init_folder({"init"}), "/home/me");
    EXPECT_EQ(init_folder({"init", "sites/new/"}), "/home/me/sites/new");
    EXPECT_EQ(init_folder({"init", "my site"}), "/home/me/my site");
    EXPECT_EQ(init_folder({"--init=../other"}), "/home/other");
    EXPECT_EQ(init_folder({"init:", "/srv/site"}), "/srv/site");
    // A drive path comes back from the grammar cut at its colon.
    EXPECT_EQ(init_folder({"init", "C:\\sites\\new"}), "C:/sites/new");
    EXPECT_EQ(init_folder({"init", "D:/w/"}), "D:/w");
    EXPECT_EQ(init_folder({"init=/"}), "/");
    // The word taken as the folder is no unknown option; a word after it is.
    std::string said;
    EXPECT_EQ(init_folder({"init", "blog", "onec"}, &said), "/home/me/blog");
    EXPECT_EQ(said, "unknown option 'onec'; did you mean 'once'?\n");
    // An option of the table is never taken for the folder.
    said.clear();
    EXPECT_EQ(init_folder({"init", "once"}, &said), "/home/me");
    EXPECT_EQ(said, "");
    // But a bare word naming an option that needs a value cannot be meant
    // as that option: it is the folder, not a site written here.
    said.clear();
    EXPECT_EQ(init_folder({"init", "probe"}, &said), "/home/me/probe");
    EXPECT_EQ(said, "");
    EXPECT_EQ(init_folder({"init", "tree", "once"}), "/home/me/tree");
    said.clear();
    EXPECT_EQ(init_folder({"init", "--tree"}, &said), "/home/me");
    EXPECT_EQ(said, "tree needs a value (tree=FILE); it is ignored\n");
    EXPECT_EQ(init_folder({"init", "serve"}), "/home/me");
    // A word cut at '=' or ':' cannot be put back: no folder, and an error
    // rather than a site written somewhere else.
    said.clear();
    EXPECT_EQ(init_folder({"init", "a=b"}, &said), "");
    EXPECT_EQ(said, "init: which folder 'a' names cannot be told; give it as init=FOLDER\n");
}

TEST_F(CommandLineTest, MistypedOptionsAreNamedAndTheUsageListsEveryOption)
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

    std::string usage = s(options_usage_text(arena));
    for (u32 id = 1; id < Option_Count; id += 1) {
        std::string name = s(option_table[id].name);
        EXPECT_NE(usage.find("\n  " + name), std::string::npos) << name;
        EXPECT_NE(usage.find(s(option_table[id].help)), std::string::npos) << name;
    }
}

