// Style-sheet copies: addresses rewritten for the mode, everything else
// byte for byte, hostile sheets copied without reading past their text.
#include "shell_support.h"

#include "shell/assets.h"

static const std::string golden_dir = std::string(WYN_SOURCE_DIR) + "/tests/shell/golden/";
static const Str golden_folder = str_lit("/srv/site/local/shared/css");

static std::string rewrite(Arena *arena, const std::string &text, bool deploy, bool js = false)
{
    ShellSettings settings = shell_settings_for("/srv/site/local/", js, deploy);
    return shell_s(css_rewrite_urls(arena, &settings, shell_str(text), golden_folder));
}

TEST(CssRewrite, FontAndIconSheetsMatchTheirGoldensInEveryMode)
{
    Arena *arena = arena_alloc(MiB(8), KiB(64));
    for (const char *sheet : {"fonts", "icons"})
        for (bool js : {false, true})
            for (bool deploy : {false, true}) {
                std::string source = read_bytes(golden_dir + sheet + ".css");
                std::string expected = read_bytes(golden_dir + sheet + (deploy ? "_deploy.css" : "_local.css"));
                ASSERT_FALSE(source.empty() || expected.empty()) << sheet;
                EXPECT_EQ(rewrite(arena, source, deploy, js), expected) << sheet << " deploy " << deploy << " js " << js;
            }
    arena_release(arena);
}

TEST(CssRewrite, RewritingItsOwnOutputChangesNothing)
{
    Arena *arena = arena_alloc(MiB(8), KiB(64));
    for (bool deploy : {false, true}) {
        std::string once = rewrite(arena, read_bytes(golden_dir + "fonts.css"), deploy);
        EXPECT_EQ(rewrite(arena, once, deploy), once);
    }
    arena_release(arena);
}

TEST(CssRewrite, QuotesAndSchemesDecideWhatIsAnAddress)
{
    Arena *arena = arena_alloc(MiB(8), KiB(64));
    // Without "url(" nothing changes, quotes or not.
    EXPECT_EQ(rewrite(arena, "a{content:'/x';b:\"/y\"}", false), "a{content:'/x';b:\"/y\"}");
    // Double quotes delimit even with a single quote later in the rule.
    EXPECT_EQ(rewrite(arena, "a{src:url(\"/f.ttf\") format('x')}", true), "a{src:url(\"/f.ttf\") format('x')}");
    EXPECT_EQ(rewrite(arena, "a{src:url(\"/f.ttf\") format('x')}", false),
              "a{src:url(\"file:///srv/site/local/f.ttf\") format('x')}");
    // A quote that closes only after the ")" or on a later line: no address.
    EXPECT_EQ(rewrite(arena, "a{src:url('/f.ttf)}\nb{content:'x'}", false), "a{src:url('/f.ttf)}\nb{content:'x'}");
    // Other schemes stay as written; a single letter before ":" is a drive,
    // not a scheme, so a drive path is rewritten like any path of the site.
    EXPECT_EQ(rewrite(arena, "url(data:x;y) url('https://a/b') url(mailto:me)", false),
              "url(data:x;y) url('https://a/b') url(mailto:me)");
    EXPECT_EQ(rewrite(arena, "url(C:/f.ttf) url('d:/fonts/a.ttf')", false), "url(file:///C:/f.ttf) url('file:///d:/fonts/a.ttf')");
    // Unquoted site paths follow the same rule; blanks around them stay.
    EXPECT_EQ(rewrite(arena, "url( /shared/a.ttf )", false), "url( file:///srv/site/local/shared/a.ttf )");
    EXPECT_EQ(rewrite(arena, "url(#frag) url()", false), "url(#frag) url()");
    arena_release(arena);
}

TEST(CssRewrite, HostileSheetsEndWhereTheirTextEnds)
{
    Arena *arena = arena_alloc(GiB(1), MiB(1));
    // Each case is copied from a buffer that ends exactly at its text, so
    // a read past it is caught by AddressSanitizer.
    auto run = [&](const std::string &text, bool deploy) {
        char *exact = (char *)malloc(text.size() ? text.size() : 1);
        memcpy(exact, text.data(), text.size());
        ShellSettings settings = shell_settings_for("/srv/site/local/", false, deploy);
        std::string out = shell_s(css_rewrite_urls(arena, &settings, Str{exact, text.size()}, golden_folder));
        free(exact);
        return out;
    };
    EXPECT_EQ(run("url(", false), "url(");
    EXPECT_EQ(run("a{}url('", false), "a{}url('");
    EXPECT_EQ(run("url(\"/a.ttf", false), "url(\"/a.ttf");
    EXPECT_EQ(run("url(/a.ttf", false), "url(/a.ttf");
    EXPECT_EQ(run("url('/a.ttf\"", false), "url('/a.ttf\"");
    EXPECT_EQ(run("", false), "");

    std::string many;
    for (int i = 0; i < 2500000; i += 1) many += "url(";   // 10 MB, no address anywhere
    EXPECT_EQ(run(many, false), many);

    // Every second form closes the one before: the address is the text
    // "url(" between the quotes, resolved beside the sheet (web path).
    std::string quoted;
    for (int i = 0; i < 1000000; i += 1) quoted += "url(\"";
    std::string out = run(quoted, true);
    std::string pair = "url(\"/shared/css/url(\"url(\"";
    ASSERT_GE(out.size(), pair.size());
    EXPECT_EQ(out.substr(0, pair.size()), pair);
    size_t count = 0;
    for (size_t at = out.find("/shared/css/"); at != std::string::npos; at = out.find("/shared/css/", at + 1)) count += 1;
    EXPECT_EQ(count, 500000u);
    arena_release(arena);
}

TEST(CssCopy, WritesTheCopyKeepsItWhenTheSourceGoesAndWarnsWhenItCannotWrite)
{
    TempSite site;
    Arena *arena = arena_alloc(MiB(8), KiB(64));
    ShellSettings settings = shell_settings_for(site.local, false, false);
    std::string source = site.path("shared/css/fonts.css");
    std::string copy = site.path("html/shared/css/fonts.css");
    write_bytes(source, "src:url('/shared/fonts/a.ttf')");
    ShellMessages messages = {};
    EXPECT_EQ(css_copy_rewritten(arena, &settings, shell_str(source), shell_str(copy), &messages, nullptr),
              (u32)FileReplace_Written);
    EXPECT_EQ(read_bytes(copy), "src:url('file://" + site.local + "shared/fonts/a.ttf')");
    EXPECT_EQ(read_bytes(source), "src:url('/shared/fonts/a.ttf')");

    // An empty source writes nothing: the copy made before stays.
    write_bytes(source, "");
    EXPECT_EQ(css_copy_rewritten(arena, &settings, shell_str(source), shell_str(copy), &messages, nullptr),
              (u32)FileReplace_None);
    EXPECT_EQ(read_bytes(copy), "src:url('file://" + site.local + "shared/fonts/a.ttf')");
    EXPECT_EQ(messages.log.count, 0u);

    // A folder where the copy should be: a warning naming the path, and the
    // folder with what it holds is left alone.
    write_bytes(source, "a{}");
    std::string blocked = site.path("html/shared/css/icons.css");
    write_bytes(blocked + "/inside.txt", "keep");
    EXPECT_EQ(css_copy_rewritten(arena, &settings, shell_str(source), shell_str(blocked), &messages, nullptr),
              (u32)FileReplace_Failed);
    ASSERT_EQ(messages.log.count, 1u);
    EXPECT_EQ(messages.log.first->level, (u32)DiagLevel_Warning);
    EXPECT_EQ(shell_s(messages.log.first->text), "could not write " + blocked + ": a folder stands at this path");
    EXPECT_EQ(read_bytes(blocked + "/inside.txt"), "keep");
    arena_release(arena);
}
