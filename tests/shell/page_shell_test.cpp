// The page frame around trees that hold nothing, a head, a footer or
// regions; the menus; templates parsed once per content; the refresh.
#include "shell_support.h"

#include "html/validator.h"
#include "shell/stylesheet.h"

struct ShellFixture : ::testing::Test {
    TempSite site;
    Arena *arena = nullptr;
    Shell *shell = nullptr;
    ShellMessages messages = {};
    std::string menu_desktop, menu_phone;

    void SetUp() override
    {
        arena = arena_alloc(MiB(256), KiB(64));
        menu_desktop = site.path("shared/html/default_menu_desktop.html");
        menu_phone = site.path("shared/html/default_menu_smartphone.html");
    }
    void TearDown() override { arena_release(arena); }

    void start(bool js = false, bool deploy = false)
    {
        ShellSettings settings = shell_settings_for(site.local, js, deploy);
        shell = shell_create(&settings);
        shell_setup(shell, arena, &messages);
    }

    HtmlElement *page(HtmlElement *document, u32 kind = PageVariant_Desktop)
    {
        PageVariant variant = {};
        variant.kind = kind;
        return page_shell_apply(arena, shell, document, &variant, &messages);
    }

    // The copy of the frame kept for the kind, as pages get it.
    HtmlElement *frame(u32 kind = PageVariant_Desktop)
    {
        PageVariant variant = {};
        variant.kind = kind;
        return page_frame(arena, shell, &variant, &messages);
    }

    HtmlElement *parse(const std::string &html)
    {
        HtmlParseResult r = html_parse_template(arena, str_copy(arena, shell_str(html)), str_lit("test"), 0);
        return r.root;
    }
};

static size_t count_of(const std::string &text, const std::string &needle)
{
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) n += 1;
    return n;
}

// The ids of the element children of a node's content, in order.
static std::string child_ids(HtmlElement *element)
{
    std::string out;
    for (HtmlElement *c = html_content_node(element)->first_child; !html_is_none(c); c = c->next) {
        if (!html_is_element(c)) continue;
        HtmlAttribute *id = html_get_attribute(c, HtmlAttr_Id);
        out += shell_s(c->tag->name) + (html_attribute_is_none(id) ? "" : "#" + shell_s(id->values.first->string)) + " ";
    }
    return out;
}

TEST_F(ShellFixture, AnEmptyPageGetsTheWholeFrameInOrder)
{
    write_bytes(menu_desktop, "<nav id=\"menu\"><ul><li><a href=\"/about.html\">About</a></li></ul></nav>");
    start();
    HtmlElement *doc = page(&html_none);
    ASSERT_EQ(doc->type, (u32)HtmlNode_Document);
    EXPECT_EQ(doc->first_child->tag->id, (u32)HtmlTag_DocType);
    HtmlElement *html = html_find_by_tag(doc, HtmlTag_Html, 0);
    EXPECT_EQ(child_ids(html), "head body ");
    HtmlElement *body = html_find_by_tag(doc, HtmlTag_Body, 0);
    EXPECT_EQ(child_ids(body), "div#top_left div#top_right div#top_middle div#left div#right div#b_w div#bottom footer#footer ");
    // The menu is the first thing in top_middle on desktop.
    EXPECT_EQ(child_ids(html_find_by_id(doc, str_lit("top_middle"))), "nav#menu ");
    std::string text = tree_text(arena, doc);
    // The serializer writes each style declaration with its ";" and a blank
    // between declarations.
    EXPECT_EQ(text.rfind("<!DOCTYPE html><html style=\"max-width:100vw; width:100vw; min-width:100vw; font-family:'Noto Serif'; "
                         "font-size:16px; line-height:1.6; };\" lang=\"en\"><head>", 0), 0u);
    EXPECT_NE(text.find("<div id=\"right\" style=\"\"></div><div id=\"b_w\" style=\"margin-top:5.0vh;\"></div>"), std::string::npos);
    EXPECT_NE(text.find("<a href=\"file://" + site.local + "about.html\">About</a>"), std::string::npos);
    EXPECT_NE(text.find("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1.0\"></head>"), std::string::npos);
    EXPECT_NE(text.find("<footer style=\"border-top:1px #e1dfdf solid; padding:3rem 1rem;\" id=\"footer\">"
                        "<address style=\"margin-left:auto;\"><a style=\"font-size:0.9rem;\" href=\"mailto:ada@example.org\">"
                        "Ada Writer (email)<img style=\"margin-left:0.5rem; width:1.2rem; height:1.2rem;\" src=\"" +
                        site.local + "shared/images/favicon-32x32.png\" alt=\"favicon\" draggable=\"false\"></a></address></footer>"),
              std::string::npos);
    // The head is the generated template, byte for byte, before the
    // viewport the frame adds.
    std::string head = read_bytes(site.path("shared/html/default_head_desktop.html"));
    ASSERT_GT(head.size(), 1000u);
    EXPECT_NE(text.find(head.substr(0, head.size() - 7) + "<meta name=\"viewport\""), std::string::npos);
    EXPECT_EQ(count_of(text, "<style class=\"wyn_generated\">"), 1u);
    EXPECT_EQ(text.find("<script"), std::string::npos);
}

TEST_F(ShellFixture, ExistingPartsAreKeptAndNotMadeTwice)
{
    start();
    // A head of its own: the head template is never read.
    HtmlElement *doc = page(parse("<html lang=\"fr\"><head><title>t</title></head><body><div id=\"b_w\">x</div>"
                                  "<footer id=\"footer\">mine</footer></body></html>"));
    EXPECT_EQ(shell->heads[0].load_count, 0u);
    std::string text = tree_text(arena, doc);
    EXPECT_EQ(count_of(text, "<html"), 1u);
    EXPECT_EQ(count_of(text, "<head>"), 1u);
    EXPECT_EQ(count_of(text, "id=\"b_w\""), 1u);
    EXPECT_EQ(count_of(text, "<footer"), 1u);
    EXPECT_NE(text.find("<footer id=\"footer\">mine</footer>"), std::string::npos);
    EXPECT_NE(text.find("<title>t</title><meta name=\"viewport\""), std::string::npos);
    // Missing regions are added after what the body held.
    HtmlElement *body = html_find_by_tag(doc, HtmlTag_Body, 0);
    EXPECT_EQ(child_ids(body), "div#b_w footer#footer div#top_left div#top_right div#top_middle div#left div#right div#bottom ");
}

TEST_F(ShellFixture, ApplyingTwiceAddsOnlyAnotherViewport)
{
    start();
    HtmlElement *doc = page(&html_none);
    std::string once = tree_text(arena, doc);
    page(doc);
    page(doc);
    std::string thrice = tree_text(arena, doc);
    EXPECT_EQ(count_of(once, "name=\"viewport\""), 1u);
    EXPECT_EQ(count_of(thrice, "name=\"viewport\""), 3u);
    for (const char *part : {"<!DOCTYPE", "<html", "<head>", "<body>", "id=\"menu\"", "id=\"bottom\"", "<footer", "id=\"top_left\""})
        EXPECT_EQ(count_of(thrice, part), count_of(once, part)) << part;
    EXPECT_EQ(shell->heads[0].load_count, 1u);
}

TEST_F(ShellFixture, TheMenuGoesToTopMiddleOnDesktopAndTopLeftOnSmartphones)
{
    write_bytes(menu_phone, "<div id=\"menu\" style=\"color:red\"><nav><ul><li><a href=\"/\">Home</a></li></ul></nav></div>");
    start();
    HtmlElement *phone = page(&html_none, PageVariant_Smartphone);
    EXPECT_EQ(child_ids(html_find_by_id(phone, str_lit("top_left"))), "div#menu ");
    EXPECT_EQ(child_ids(html_find_by_id(phone, str_lit("top_middle"))), "");
    std::string text = tree_text(arena, phone);
    // The author's style attribute is dropped; "/" is the index page.
    EXPECT_NE(text.find("<div id=\"menu\"><nav><ul><li><a href=\"file://" + site.local + "html/index.html\">Home</a>"),
              std::string::npos);
    EXPECT_NE(text.find("style=\"margin-top:6.0vh;\""), std::string::npos);
    // A region top_left that already holds something gets the menu first.
    HtmlElement *own = page(parse("<body><div id=\"top_left\"><span>logo</span></div></body>"), PageVariant_Smartphone);
    EXPECT_EQ(child_ids(html_find_by_id(own, str_lit("top_left"))), "div#menu span ");
    // A page that has its own menu keeps it.
    HtmlElement *mine = page(parse("<body><div id=\"top_middle\"><nav id=\"menu\">mine</nav></div></body>"));
    EXPECT_EQ(count_of(tree_text(arena, mine), "id=\"menu\""), 1u);
}

TEST_F(ShellFixture, EmptyOrElementlessMenuTemplatesGiveTheDefaultMenu)
{
    write_bytes(menu_desktop, "");
    write_bytes(menu_phone, "just words");
    start();
    for (u32 kind : {(u32)PageVariant_Desktop, (u32)PageVariant_Smartphone}) {
        std::string text = tree_text(arena, page(&html_none, kind));
        // The default link is outside any list: it stays "/".
        EXPECT_NE(text.find("<nav id=\"menu\"><a href=\"/\">Home</a></nav>"), std::string::npos) << kind;
    }
    EXPECT_EQ(read_bytes(menu_desktop), "");
    EXPECT_EQ(read_bytes(menu_phone), "just words");
}

TEST_F(ShellFixture, MenuItemsWithoutALinkOrHrefAreLeftAsTheyAre)
{
    ShellSettings settings = shell_settings_for(site.local, false, false);
    HtmlElement *menu = menu_template_prepare_text(
        arena, &settings,
        str_lit("<nav id=\"menu\"><ul><li>plain</li><li><a>no href</a></li><li><span><a href=\"/deep.html\">d</a></span></li>"
                "<li><a href=\"https://example.org/x\">w</a></li><li><a href=\"mailto:a@b.c\">m</a></li>"
                "<li><a href=\"notes.html\">r</a></li></ul></nav>"),
        str_lit("menu.html"), nullptr);
    EXPECT_EQ(tree_text(arena, menu),
              "<nav id=\"menu\"><ul><li>plain</li><li><a>no href</a></li><li><span><a href=\"file://" + site.local +
                  "deep.html\">d</a></span></li><li><a href=\"https://example.org/x\">w</a></li>"
                  "<li><a href=\"mailto:a@b.c\">m</a></li><li><a href=\"notes.html\">r</a></li></ul></nav>");
}

TEST_F(ShellFixture, MenuLinksAreRewrittenTheSameWayOnEveryRun)
{
    ShellSettings local = shell_settings_for(site.local, false, false);
    ShellSettings deploy = shell_settings_for(site.local, false, true);
    std::string index = "file://" + site.local + "html/index.html";
    EXPECT_EQ(shell_s(menu_link_rewrite(arena, &local, str_lit("/"))), index);
    EXPECT_EQ(shell_s(menu_link_rewrite(arena, &local, shell_str(index))), index);
    EXPECT_EQ(shell_s(menu_link_rewrite(arena, &deploy, str_lit("/"))), "/index.html");
    EXPECT_EQ(shell_s(menu_link_rewrite(arena, &deploy, shell_str(index))), "/index.html");
    EXPECT_EQ(shell_s(menu_link_rewrite(arena, &deploy, str_lit("/shared/a.pdf"))), "/shared/a.pdf");
    EXPECT_EQ(shell_s(menu_link_rewrite(arena, &local, str_lit("file:///C:/site/local/html/a.html"))), "file:///C:/site/local/html/a.html");
    EXPECT_EQ(shell_s(menu_link_rewrite(arena, &deploy, str_lit("https://x.org/"))), "https://x.org/");
}

TEST_F(ShellFixture, MenuLinksToFilesThatAreNotThereAreToldAtTheirLink)
{
    write_bytes(site.path("html/index.html"), "home");
    write_bytes(site.path("html/a.html"), "a");
    write_bytes(site.path("assets/files/b.pdf"), "b");
    std::filesystem::create_directories(site.path("html/folder.html"));
    const std::string menu =
        "<nav id=\"menu\"><ul>\n"
        "<li><a href=\"/\">Home</a></li><li><a href=\"/html/a.html#top\">A</a></li>"
        "<li><a href=\"/html/a.html?x=1\">A</a></li><li><a href=\"/assets/files/b.pdf\">B</a></li>\n"
        "<li><a href=\"/html/gone.html#top\">Gone</a></li><li><a href=\"/html/folder.html\">Folder</a></li>\n"
        "<li><a href=\"https://example.org/gone.html\">Web</a></li><li><a href=\"mailto:me@example.org\">Mail</a></li>"
        "<li><a href=\"#top\">Up</a></li><li><a href=\"gone.html\">Relative</a></li><li><a>No address</a></li>\n"
        "<li><a href=\"file://" + site.local + "html/file-gone.html\">File</a></li>"
        "</ul></nav>\n";
    for (bool deploy : {false, true}) {
        ShellSettings settings = shell_settings_for(site.local, false, deploy);
        DiagnosticList found = {};
        Str text = str_copy(arena, shell_str(menu));
        EXPECT_EQ(menu_links_check(arena, &settings, text, str_lit("menu.html"), &found), 3u);
        std::vector<std::string> told;
        for (Diagnostic *d = found.first; d; d = d->next) {
            EXPECT_EQ(d->level, (u32)DiagLevel_Warning);
            told.push_back(std::to_string(d->offset) + " " + shell_s(d->text));
        }
        const std::string html = site.local + "html/";
        EXPECT_EQ(told, (std::vector<std::string>{
                            std::to_string(menu.find("<a href=\"/html/gone")) + " the menu links /html/gone.html#top, but " +
                                html + "gone.html is missing: every page shows the broken link",
                            std::to_string(menu.find("<a href=\"/html/folder")) + " the menu links /html/folder.html, but " +
                                html + "folder.html is missing: every page shows the broken link",
                            std::to_string(menu.find("<a href=\"file://")) + " the menu links file://" + html +
                                "file-gone.html, but " + html + "file-gone.html is missing: every page shows the broken link",
                        }));
    }
    // No template, or one with no list: nothing to tell.
    ShellSettings settings = shell_settings_for(site.local, false, false);
    DiagnosticList none = {};
    EXPECT_EQ(menu_links_check(arena, &settings, str_empty(), str_lit("menu.html"), &none), 0u);
    EXPECT_EQ(menu_links_check(arena, &settings, str_lit("<nav><a href=\"/gone.html\">x</a></nav>"), str_lit("m"), &none), 0u);
    EXPECT_EQ(none.count, 0u);
}

TEST_F(ShellFixture, TheAuthorsMenuTemplateIsNeverWritten)
{
    std::string menu = "<nav id=\"menu\" style=\"x:y\"><ul><li><a href=\"/\">Home</a></li>\n<li><a href=\"/b.html\">B</a></li></ul></nav>\n";
    write_bytes(menu_desktop, menu);
    write_bytes(menu_phone, "");
    for (int run = 0; run < 3; run += 1) {
        for (bool deploy : {false, true}) {
            ShellSettings settings = shell_settings_for(site.local, false, deploy);
            Shell *s = shell_create(&settings);
            shell_setup(s, arena, &messages);
            PageVariant variant = {};
            variant.kind = PageVariant_Desktop;
            page_shell_apply(arena, s, &html_none, &variant, &messages);
            shell_refresh(s, arena, &messages);
        }
    }
    EXPECT_EQ(read_bytes(menu_desktop), menu);
    EXPECT_EQ(read_bytes(menu_phone), "");
}

TEST_F(ShellFixture, TemplatesAreParsedOncePerContentAndReportOncePerLoad)
{
    // A closing tag that closes nothing: the parse reports it.
    write_bytes(menu_desktop, "<nav id=\"menu\"><ul><li><a href=\"/a.html\">A</a></li></ul></nav></p>");
    start();
    EXPECT_EQ(shell->menus[0].load_count, 1u);
    u64 reported = messages.template_count;
    EXPECT_GE(reported, 1u);
    EXPECT_EQ(shell_s(messages.last->path), menu_desktop);
    for (int i = 0; i < 5; i += 1) page(&html_none), frame();
    EXPECT_EQ(shell->menus[0].load_count, 1u);
    EXPECT_EQ(shell->heads[0].load_count, 1u);
    EXPECT_EQ(shell->frames[0].made_count, 1u);
    EXPECT_EQ(messages.template_count, reported);

    // New content: parsed again on the next page, reported once more, and
    // the kept frame is made again from it.
    write_bytes(menu_desktop, "<nav id=\"menu\"><ul><li><a href=\"/b.html\">B</a></li></ul></nav></p>");
    std::string first = tree_text(arena, frame());
    std::string second = tree_text(arena, page(&html_none));
    EXPECT_EQ(shell->menus[0].load_count, 2u);
    EXPECT_EQ(shell->frames[0].made_count, 2u);
    EXPECT_EQ(messages.template_count, reported + 1);
    EXPECT_NE(first.find("b.html\">B</a>"), std::string::npos);
    EXPECT_EQ(first, second);
}

TEST_F(ShellFixture, AnOldLoadOutlivesTheLastOpenPageThatMayHoldItAndNoLonger)
{
    write_bytes(menu_desktop, "<nav id=\"menu\"><ul><li><a href=\"/a.html\">A</a></li></ul></nav>");
    start();
    frame();
    u64 shell_bytes = arena_pos(shell->arena);

    // A page copies the frame's nodes and shares its texts (the menu is
    // one text): it must read the same after the menu loads again under it.
    shell_pages_begin(shell);
    HtmlElement *held = frame();
    std::string expected = tree_text(arena, held);
    write_bytes(menu_desktop, "<nav id=\"menu\"><ul><li><a href=\"/b.html\">B</a></li></ul></nav>");
    std::string next = tree_text(arena, frame());
    EXPECT_NE(next.find("b.html\">B</a>"), std::string::npos);
    EXPECT_NE(shell->retired, nullptr);
    EXPECT_EQ(tree_text(arena, held), expected);
    EXPECT_NE(expected.find("a.html\">A</a>"), std::string::npos);
    shell_pages_end(shell);
    EXPECT_EQ(shell->retired, nullptr);

    // A watch that runs for days: every load and frame is released once
    // no page is open, and the shell's own arena does not grow.
    u64 retired_before = shell->retired_count;
    for (int i = 0; i < 40; i += 1) {
        write_bytes(menu_desktop, "<nav id=\"menu\"><ul><li><a href=\"/p" + std::to_string(i) + ".html\">P</a></li></ul></nav>");
        ASSERT_NE(tree_text(arena, frame()).find("p" + std::to_string(i) + ".html"), std::string::npos) << i;
        shell_refresh(shell, arena, &messages);
    }
    EXPECT_EQ(shell->menus[0].load_count, 42u);
    EXPECT_EQ(shell->retired_count - retired_before, 80u);
    EXPECT_EQ(shell->retired, nullptr);
    EXPECT_EQ(arena_pos(shell->arena), shell_bytes);
}

TEST_F(ShellFixture, AMenuAPageLoadedBeforeTheRefreshStillCountsAsChanged)
{
    // The watch marks every page stale when the refresh reports a change:
    // a menu a worker's page loaded first must not make that report empty.
    write_bytes(menu_desktop, "<nav id=\"menu\"><ul><li><a href=\"/a.html\">A</a></li></ul></nav>");
    start();
    EXPECT_EQ(shell_refresh(shell, arena, &messages), 0u);
    write_bytes(menu_desktop, "<nav id=\"menu\"><ul><li><a href=\"/b.html\">B</a></li></ul></nav>");
    EXPECT_NE(tree_text(arena, frame()).find("b.html"), std::string::npos);
    EXPECT_EQ(shell_refresh(shell, arena, &messages), 1u);
    EXPECT_EQ(shell_refresh(shell, arena, &messages), 0u);
    // Loaded by the refresh itself, as before.
    write_bytes(menu_phone, "<nav id=\"menu\"><ul><li><a href=\"/c.html\">C</a></li></ul></nav>");
    EXPECT_EQ(shell_refresh(shell, arena, &messages), 1u);
    EXPECT_EQ(shell_refresh(shell, arena, &messages), 0u);
}

TEST_F(ShellFixture, ATemplatesMessagesOutliveItsLoad)
{
    // Printed after the page, by which time the load may be released.
    write_bytes(menu_desktop, "<nav id=\"menu\"><ul><li><a href=\"/a.html\">A</a></li></ul></nav></p>");
    start();
    frame();
    ASSERT_NE(messages.last, nullptr);
    TemplateMessages *first = messages.last;
    std::string source = shell_s(first->source);
    auto texts = [&] {
        std::string all;
        for (Diagnostic *d = first->diagnostics.first; d; d = d->next) all += shell_s(d->text) + "\n";
        return all;
    };
    ASSERT_GE(first->diagnostics.count, 1u);
    std::string text = texts();
    write_bytes(menu_desktop, "<nav id=\"menu\"></nav>");
    frame();
    EXPECT_EQ(shell->retired, nullptr);
    EXPECT_EQ(shell_s(first->source), source);
    EXPECT_EQ(texts(), text);
    EXPECT_EQ(shell_s(first->path), menu_desktop);
}

TEST_F(ShellFixture, AKeptFramesPartsStaySearchableWhenTheyHoldWhatPagesLookFor)
{
    // An id inside a menu is a region pages find, a class something the
    // page assembly collects: those menus stay trees. The footer holds
    // neither and becomes its text. Every frame writes as the shell does.
    write_bytes(menu_desktop, "<nav id=\"menu\"><div id=\"bottom\">B</div></nav>");
    write_bytes(menu_phone, "<nav id=\"menu\"><a class=\"x\" href=\"/a.html\">A</a></nav>");
    start();
    for (u32 kind : {(u32)PageVariant_Desktop, (u32)PageVariant_Smartphone})
        EXPECT_EQ(tree_text(arena, frame(kind)), tree_text(arena, page(&html_none, kind))) << kind;
    HtmlElement *desktop = frame();
    EXPECT_EQ(html_find_by_id(desktop, str_lit("bottom"))->parent->parent, html_find_by_id(desktop, str_lit("menu")));
    EXPECT_EQ(count_of(tree_text(arena, desktop), "id=\"bottom\""), 1u);
    HtmlElement *phone = frame(PageVariant_Smartphone);
    StrList x = {};
    str_list_push(arena, &x, str_lit("x"));
    HtmlElementList found = {};
    html_collect_by_attribute(arena, phone, HtmlAttr_Class, &x, &found, 1);
    EXPECT_EQ(found.count, 1u);
    EXPECT_EQ(html_content_node(html_find_by_id(phone, str_lit("footer")))->first_child->type, (u32)HtmlNode_Html);
}

TEST_F(ShellFixture, PagesGetCopiesAndNeverChangeTheSharedTemplate)
{
    start();
    HtmlElement *a = page(&html_none);
    HtmlElement *head = html_find_by_tag(a, HtmlTag_Head, 0);
    html_set_attribute(arena, head, HtmlAttr_Lang, str_lit("xx"));
    html_append_text(arena, html_find_by_id(a, str_lit("menu")), str_lit("changed"));
    std::string b = tree_text(arena, page(&html_none));
    EXPECT_EQ(b.find("xx"), std::string::npos);
    EXPECT_EQ(b.find("changed"), std::string::npos);
    EXPECT_EQ(count_of(b, "name=\"viewport\""), 1u);

    // Nor does a page change the frame kept for its kind.
    HtmlElement *c = frame();
    html_set_attribute(arena, html_find_by_tag(c, HtmlTag_Head, 0), HtmlAttr_Lang, str_lit("xx"));
    html_append_text(arena, html_find_by_id(c, str_lit("menu")), str_lit("changed"));
    html_append_text(arena, html_find_by_id(c, str_lit("b_w")), str_lit("changed"));
    EXPECT_EQ(tree_text(arena, frame()), b);
}

TEST_F(ShellFixture, TheSharedScriptIsLinkedWithJs)
{
    start(true, false);
    std::string local = tree_text(arena, page(&html_none), shell_page_write_options(shell));
    std::string script = site.local + "shared/javascript/website/website_shared.js";
    EXPECT_NE(local.find("<link rel=\"preload\" as=\"script\" href=\"" + script + "\">"), std::string::npos);
    EXPECT_NE(local.find("<script src=\"" + script + "\" defer></script>"), std::string::npos);
    EXPECT_EQ(count_of(local, "data-flag=\"a flag\""), 88u);

    start(true, true);
    std::string deployed = tree_text(arena, page(&html_none));
    EXPECT_NE(deployed.find("<script src=\"/shared/javascript/website/website_shared.js\" defer></script>"), std::string::npos);
    EXPECT_NE(deployed.find("src=\"/shared/images/favicon-32x32.png\""), std::string::npos);
}

TEST_F(ShellFixture, RefreshRegeneratesOnlyWhatChanged)
{
    write_bytes(site.path("shared/css/fonts.css"), "a{src:url('/shared/fonts/a.ttf')}");
    write_bytes(site.path("shared/css/icons.css"), "b{}");
    start();
    std::string head = site.path("shared/html/default_head_desktop.html");
    std::string copy = site.path("html/shared/css/fonts.css");
    EXPECT_EQ(read_bytes(copy), "a{src:url('file://" + site.local + "shared/fonts/a.ttf')}");
    EXPECT_EQ(shell_refresh(shell, arena, &messages), 0u);
    EXPECT_EQ(tree_text(arena, frame()).find(".mine"), std::string::npos);

    write_bytes(site.path("shared/css/wyn/css_wyn.css"), ".mine{color:red}");
    EXPECT_EQ(shell_refresh(shell, arena, &messages), 2u);   // both heads
    EXPECT_NE(read_bytes(head).find(".mine{color:red}.btn{"), std::string::npos);
    EXPECT_NE(tree_text(arena, page(&html_none)).find(".mine{color:red}"), std::string::npos);
    EXPECT_NE(tree_text(arena, frame()).find(".mine{color:red}"), std::string::npos);

    write_bytes(site.path("shared/css/fonts.css"), "a{src:url('/shared/fonts/b.ttf')}");
    EXPECT_EQ(shell_refresh(shell, arena, &messages), 1u);
    EXPECT_EQ(read_bytes(copy), "a{src:url('file://" + site.local + "shared/fonts/b.ttf')}");

    write_bytes(head, "<head>edited by hand</head>");
    EXPECT_EQ(shell_refresh(shell, arena, &messages), 1u);
    EXPECT_NE(read_bytes(head).find("<style class=\"wyn_generated\">"), std::string::npos);
    EXPECT_EQ(shell_refresh(shell, arena, &messages), 0u);
    EXPECT_EQ(messages.log.count, 0u);
}

// A site begun by hand has no font or icon sheet: its pages would show the
// browser's fonts and letters for icons without a word. One note at the
// start names what is missing and the command that adds it.
TEST_F(ShellFixture, MissingSheetsAreToldOnceAtTheStartWithTheWayOut)
{
    auto notes = [&](const ShellMessages &m) {
        std::string all;
        for (Diagnostic *d = m.log.first; d; d = d->next) {
            EXPECT_EQ(d->level, (u32)DiagLevel_Note);
            all += shell_s(d->text) + "\n";
        }
        return all;
    };
    start();
    ASSERT_EQ(messages.log.count, 1u);
    std::string told = notes(messages);
    EXPECT_NE(told.find(site.local + "shared/css/fonts.css and icons.css are missing, so the pages load none of "
                                     "the site's fonts and show their icons as plain letters"),
              std::string::npos)
        << told;
    EXPECT_NE(told.find("`wyn init " + site.root + "` adds"), std::string::npos) << told;
    // Not again on a refresh, though the sheets are still missing.
    shell_refresh(shell, arena, &messages);
    EXPECT_EQ(messages.log.count, 1u);

    // One of the two: named alone, with what it costs.
    write_bytes(site.path("shared/css/fonts.css"), "a{}");
    ShellMessages second = {};
    ShellSettings settings = shell_settings_for(site.local, false, false);
    shell_setup(shell_create(&settings), arena, &second);
    told = notes(second);
    EXPECT_NE(told.find(site.local + "shared/css/icons.css is missing, so the pages load no icon font"), std::string::npos)
        << told;
    EXPECT_EQ(told.find("fonts.css"), std::string::npos) << told;

    write_bytes(site.path("shared/css/icons.css"), "b{}");
    ShellMessages third = {};
    shell_setup(shell_create(&settings), arena, &third);
    EXPECT_EQ(third.log.count, 0u) << notes(third);
}

// With `js` the site's script finds wyn's markers by the name "data-flag";
// it is a setting of the shell, so a second shell without `js` in the same
// process, made after the first, writes none. A template's own attributes
// are written as it names them by both.
TEST(ShellWriteOptions, TwoShellsWriteTheirMarkersEachAsItsSettingsSay)
{
    Arena *arena = arena_alloc(MiB(64), KiB(64));
    std::string pages[2];
    for (bool js : {true, false}) {
        TempSite site;
        write_bytes(site.path("shared/html/default_menu_desktop.html"), "<nav id=\"menu\" onclick=\"go()\">x</nav>");
        ShellSettings settings = shell_settings_for(site.local, js, false);
        Shell *shell = shell_create(&settings);
        ShellMessages messages = {};
        shell_setup(shell, arena, &messages);
        PageVariant variant = {};
        variant.kind = PageVariant_Desktop;
        HtmlElement *page = page_shell_apply(arena, shell, &html_none, &variant, &messages);
        pages[js] = tree_text(arena, page, shell_page_write_options(shell));
    }
    for (const std::string &page : pages) {
        EXPECT_NE(page.find("<nav id=\"menu\" onclick=\"go()\">x</nav>"), std::string::npos) << page;
        EXPECT_EQ(page.find("data-* "), std::string::npos) << page;
    }
    EXPECT_EQ(count_of(pages[1], "data-flag=\"a flag\""), 88u);   // the head's markers
    EXPECT_EQ(pages[0].find("data-flag"), std::string::npos);
    arena_release(arena);
}

TEST(SiteLocalPath, JoinsSitePathsBelowTheLocalFolder)
{
    Arena *arena = arena_alloc(MiB(1), KiB(4));
    ShellSettings s = shell_settings_for("/home/me/site/local/", false, false);
    EXPECT_EQ(shell_s(site_local_path(arena, &s, str_lit("/shared/a.css"))), "/home/me/site/local/shared/a.css");
    EXPECT_EQ(shell_s(site_local_path(arena, &s, str_lit("'shared/a.css'"))), "/home/me/site/local/shared/a.css");
    EXPECT_EQ(shell_s(site_local_path(arena, &s, str_lit("C:/x/y"))), "C:/x/y");
    EXPECT_EQ(shell_s(site_local_path(arena, &s, str_lit("/home/me/site/local/html/a.html"))), "/home/me/site/local/html/a.html");
    EXPECT_EQ(shell_s(shell_path_from_file_address(str_lit("file:///home/me/x"))), "/home/me/x");
    EXPECT_EQ(shell_s(shell_path_from_file_address(str_lit("file:///C:/x"))), "C:/x");
    arena_release(arena);
}
