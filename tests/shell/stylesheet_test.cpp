// The generated CSS and head templates, byte for byte (the goldens hold
// every rule group, the layout numbers of both variants as printed, and the
// links of every mode), and read back by a parser nobody here wrote.
#include "shell_support.h"

#include "render/render_rules.h"
#include "shell/stylesheet.h"

static const std::string golden_dir = std::string(WYN_SOURCE_DIR) + "/tests/shell/golden/";
static const std::string golden_local = "/srv/site/local/";

static std::string head_text(Arena *arena, u32 kind, bool js, bool deploy, const std::string &local = golden_local)
{
    ShellSettings settings = shell_settings_for(local, js, deploy);
    PageVariant desktop, variant;
    page_variant_fill(&desktop, PageVariant_Desktop);
    page_variant_fill(&variant, kind);
    HtmlWriteOptions write = shell_write_options(&settings);
    return tree_text(arena, head_template_tree(arena, &settings, &variant, &desktop, nullptr), &write);
}

static std::string golden_name(u32 kind, bool js, bool deploy)
{
    return std::string("head_") + (kind == PageVariant_Smartphone ? "smartphone" : "desktop") + "_js" + (js ? "1" : "0") +
           "_deploy" + (deploy ? "1" : "0") + ".html";
}

TEST(HeadTemplate, MatchesItsGoldenForEveryVariantAndMode)
{
    Arena *arena = arena_alloc(MiB(64), KiB(64));
    for (u32 kind : {(u32)PageVariant_Desktop, (u32)PageVariant_Smartphone})
        for (bool js : {false, true})
            for (bool deploy : {false, true}) {
                std::string name = golden_name(kind, js, deploy);
                std::string expected = read_bytes(golden_dir + name);
                ASSERT_FALSE(expected.empty()) << name;
                EXPECT_EQ(head_text(arena, kind, js, deploy), expected) << name;
            }
    arena_release(arena);
}

TEST(Stylesheet, SiteRulesFollowTheSitesOwnSheetOrStandAlone)
{
    TempSite site;
    Arena *arena = arena_alloc(MiB(8), KiB(64));
    ShellSettings settings = shell_settings_for(site.local, false, false);
    StrList without = {};
    site_css(arena, &without, &settings, nullptr);
    std::string bare = shell_s(str_list_join_plain(arena, &without));
    EXPECT_EQ(bare.rfind(".btn{", 0), 0u);
    EXPECT_NE(bare.find("li.it_un::marker{font-family:'IconFont';content:'!   ';"), std::string::npos);
    EXPECT_NE(bare.find("#ka{display:flex;"), std::string::npos);

    write_bytes(site.path("shared/css/wyn/css_wyn.css"), "body{color:#123456;}");
    StrList with = {};
    ContentKey key = {};
    site_css(arena, &with, &settings, &key);
    std::string own = shell_s(str_list_join_plain(arena, &with));
    EXPECT_EQ(own, "body{color:#123456;}" + bare);
    EXPECT_FALSE(content_key_is_zero(key));
    arena_release(arena);
}

// Python's html.parser must see the head wyn wrote: one head, its links, a
// style whose text is the whole CSS, and the metas.
static std::string python_events(const std::string &path)
{
    std::string command = std::string("python3 ") + WYN_SOURCE_DIR + "/tests/html/html_roundtrip.py " + path;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return "cannot start python3";
    std::string out;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    int status = pclose(pipe);
    if (status != 0) return "python3 failed: " + out;
    return out;
}

TEST(HeadTemplate, PythonsParserReadsBackEveryElementAndTheWholeStyle)
{
    TempSite site;
    Arena *arena = arena_alloc(MiB(64), KiB(64));
    for (bool js : {false, true}) {
        ShellSettings settings = shell_settings_for(site.local, js, true);
        PageVariant d;
        page_variant_fill(&d, PageVariant_Desktop);
        std::string path = site.path(js ? "head_js.html" : "head.html");
        ShellMessages messages = {};
        u32 status = head_template_build(arena, &settings, &d, &d, shell_str(path), &messages, nullptr);
        EXPECT_EQ(status, (u32)FileReplace_Written);
        std::string events = python_events(path);
        std::string css;
        // The script writes backslashes doubled, so a line stays one event.
        for (char c : shell_s(stylesheet_text(arena, &settings, &d, &d, nullptr))) css += c == '\\' ? std::string("\\\\") : std::string(1, c);
        std::string expected = "start head\n";
        for (const char *font : {"SourceSans3-Regular", "SourceSans3-Italic", "SourceSans3-Medium", "NotoSerif-Bold",
                                 "NotoSerif-Regular", "IBMPlexMono-Regular"})
            expected += std::string("start link\nattr crossorigin anonymous\nattr href /shared/fonts/") + font +
                        ".ttf\nattr type font/woff2\nattr as font\nattr rel preload\n";
        expected += "start link\nattr href /shared/images/favicon-32x32.png\nattr type image/x-icon\nattr rel icon\n";
        for (const char *sheet : {"icons", "fonts"})
            expected += std::string("start link\nattr href /shared/css/") + sheet + ".css\nattr rel stylesheet\n" +
                        "start link\nattr href /shared/css/" + sheet + ".css\nattr crossorigin anonymous\nattr as style\nattr rel preload\n";
        expected += "start style\nattr class wyn_generated\ntext " + css + "\nend style\n";
        if (js)
            for (u64 i = 0; i < render_rule_count; i += 1)
                expected += "start meta\nattr class internal wyn_identifier\nattr data-flag a flag\nattr name " +
                            shell_s(render_rule_table[i].class_name) + "\n";
        expected += "end head\n";
        EXPECT_EQ(events, expected) << (js ? "with js" : "without js");
    }
    arena_release(arena);
}
