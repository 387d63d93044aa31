// Rendering for a deployed site: addresses are web paths of the site, not
// file addresses.
#include <gtest/gtest.h>

#include <string>

#include "render_page.h"

namespace {

struct DeployRender : ::testing::Test {
    Arena *arena = arena_alloc(MiB(16), KiB(64));
    RenderOptions deploy_options = {str_lit("/site/local/"), 1, nullptr, nullptr, 0, 0};
    ~DeployRender() override { arena_release(arena); }
    MarkupNode *link_in_paragraph(Str kind, u64 flags, const char *target)
    {
        MarkupNode *root = node_new(arena, NodeClass_Document, 0, str_lit("s"), str_lit("s"), 0);
        MarkupNode *heading = node_new(arena, NodeClass_Element, 0, kind_heading, kind_heading, 0);
        node_append_child(root, heading);
        MarkupNode *p = node_new(arena, NodeClass_Element, 0, kind_paragraph, kind_paragraph, 2);
        p->number = 1;
        node_append_child(heading, p);
        MarkupNode *link = node_new(arena, NodeClass_Element, flags, kind, kind, 4);
        node_append_child(p, link);
        Str t = str_from_cstring(target);
        node_append_child(link, node_new(arena, NodeClass_Text, NodeFlag_ClosedString, t, t, 4));
        return root;
    }
    std::string render(MarkupNode *root)
    {
        TestPage page = test_page_make(arena);
        render_document(arena, root, page.document, nullptr, &deploy_options);
        return test_serialize(arena, page.b_w);
    }
};

TEST_F(DeployRender, BrokenFileLinkTitleIsThePathWithForwardSlashes)
{
    std::string html = render(link_in_paragraph(kind_link_file, NodeFlag_Unresolved, "wyn_files\\notes/gone.wyn"));
    EXPECT_NE(html.find("<span class=\"Ma _4\" title=\"wyn_files/notes/gone.wyn\">wyn_files\\notes/gone.wyn</span>"),
              std::string::npos)
        << html;
}

TEST_F(DeployRender, ImageSourceIsTheSitePath)
{
    std::string html = render(link_in_paragraph(kind_link_file, NodeFlag_Embedded, "/site/local/assets/images/a.png"));
    EXPECT_NE(html.find("<img class=\"Na _4\" src=\"/assets/images/a.png\" alt=\"\" title=\"\" data-title=\"0x0 ratio: \" "
                        "draggable=\"false\">"),
              std::string::npos)
        << html;
    html = render(link_in_paragraph(kind_link_http, NodeFlag_Embedded, "/site/local/html/img/b.png"));
    EXPECT_NE(html.find("src=\"/img/b.png\""), std::string::npos) << html;
}

TEST_F(DeployRender, FileLinksKeepTheirPathForThePageAssembly)
{
    std::string html = render(link_in_paragraph(kind_link_file, 0, "/html/notes.html"));
    EXPECT_NE(html.find("<a class=\"Oa _4\" href=\"/html/notes.html\">/html/notes.html</a>"), std::string::npos) << html;
}

} // namespace
