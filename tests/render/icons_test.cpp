#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

#include "os/platform.h"
#include "render/icons.h"
#include "render_page.h"
#include "../jpeg_bytes.h"

static std::string s(Str x) { return std::string(x.str, x.size); }

struct IconsTest : ::testing::Test {
    Arena *arena = arena_alloc(MiB(4), KiB(4));
    ~IconsTest() override { arena_release(arena); }

    StrList pieces(std::vector<const char *> texts)
    {
        StrList list = {};
        for (const char *t : texts) str_list_push(arena, &list, str_from_cstring(t));
        return list;
    }
};

//- pending text

TEST_F(IconsTest, PlainTextIsJoinedIntoOneNodeAndThePendingListEmptied)
{
    HtmlElement *p = html_element_from_tag(arena, HtmlTag_P);
    StrList pending = pieces({"one ", "two", " three"});
    render_flush_text(arena, p, RenderFieldGroup_None, &pending);
    EXPECT_EQ(pending.node_count, 0u);
    EXPECT_EQ(html_content_node(p)->child_count, 1u);
    EXPECT_EQ(test_serialize(arena, p), "<p>one two three</p>");
    StrList empty = pieces({"", ""});
    render_flush_text(arena, p, RenderFieldGroup_None, &empty);
    render_flush_text(arena, p, RenderFieldGroup_Date, &empty);
    EXPECT_EQ(html_content_node(p)->child_count, 1u);
}

TEST_F(IconsTest, DateFieldsBecomeTimeElements)
{
    HtmlElement *div = html_element_from_tag(arena, HtmlTag_Div);
    StrList pending = pieces({"2025-03-", "12"});
    render_flush_text(arena, div, RenderFieldGroup_Date, &pending);
    EXPECT_EQ(test_serialize(arena, div), "<div><time datetime=\"2025-3-12\">12 Mar 2025, 12:00:00 am</time></div>");
}

TEST_F(IconsTest, CategoryFieldsBecomeOneTagPerPiece)
{
    HtmlElement *div = html_element_from_tag(arena, HtmlTag_Div);
    StrList pending = pieces({"\"red;;blue\""});
    render_flush_text(arena, div, RenderFieldGroup_Category, &pending);
    EXPECT_EQ(test_serialize(arena, div), "<div><span class=\"cat-it\">red</span><span class=\"cat-it\">blue</span></div>");
    HtmlElement *other = html_element_from_tag(arena, HtmlTag_Div);
    StrList spaced = pieces({"travel; food ;", " ; "});
    render_flush_text(arena, other, RenderFieldGroup_Category, &spaced);
    EXPECT_EQ(test_serialize(arena, other),
              "<div><span class=\"cat-it\">travel</span><span class=\"cat-it\">food</span></div>");
}

//- JPEG sizes

static JpegInfo info_of(Arena *arena, const std::string &bytes)
{
    return jpeg_info_from_bytes(arena, str(bytes.data(), bytes.size()));
}

TEST_F(IconsTest, JpegSizesAndRatioInWholeNumbers)
{
    JpegInfo a = info_of(arena, jpeg_bytes(1024, 768, 72, 72));
    EXPECT_EQ(a.width, 1024);
    EXPECT_EQ(a.height, 768);
    EXPECT_EQ(a.density_x, 72);
    EXPECT_EQ(a.density_y, 72);
    EXPECT_EQ(s(a.ratio), "1:1");   // 14 / 10
    EXPECT_EQ(s(info_of(arena, jpeg_bytes(2000, 500, 10, 10)).ratio), "4:1");
    // The scaled width keeps its low 8 bits: 300 becomes 44, and 44 / 10 is 4.
    EXPECT_EQ(s(info_of(arena, jpeg_bytes(300, 10, 1, 1)).ratio), "4:1");
    EXPECT_EQ(info_of(arena, jpeg_bytes(640, 480, 1, 1, true, true, 0xC2)).width, 640);   // progressive
}

TEST_F(IconsTest, JpegWithoutWhatTheRatioNeedsHasAnEmptyRatio)
{
    JpegInfo no_frame = info_of(arena, jpeg_bytes(1024, 768, 72, 72, true, false));
    EXPECT_EQ(no_frame.width, 0);
    EXPECT_EQ(no_frame.height, 0);
    EXPECT_EQ(s(no_frame.ratio), "");
    JpegInfo no_density = info_of(arena, jpeg_bytes(1024, 768, 0, 0, true, true));
    EXPECT_EQ(no_density.width, 1024);
    EXPECT_EQ(s(no_density.ratio), "");
    JpegInfo no_app0 = info_of(arena, jpeg_bytes(1024, 768, 0, 0, false, true));
    EXPECT_EQ(no_app0.height, 768);
    EXPECT_EQ(s(no_app0.ratio), "");
    // 256 * 72 scales to 256, whose low 8 bits are 0.
    JpegInfo flat = info_of(arena, jpeg_bytes(100, 256 * 72, 72, 72));
    EXPECT_EQ(s(flat.ratio), "");
    EXPECT_EQ(s(info_of(arena, "").ratio), "");
}

TEST_F(IconsTest, JpegSegmentsCutByTheEndAreIgnoredAndLaterOnesWin)
{
    std::string whole = jpeg_bytes(800, 600, 72, 72);
    std::string two = whole + jpeg_bytes(1600, 1200, 144, 144).substr(2);
    JpegInfo later = info_of(arena, two);
    EXPECT_EQ(later.width, 1600);
    EXPECT_EQ(later.density_x, 144);
    // Every cut of a file: no read past its end (ASan watches), and a
    // segment missing its last byte leaves its values unread.
    for (u64 cut = 0; cut <= whole.size(); cut += 1) {
        std::vector<char> exact(whole.begin(), whole.begin() + cut);   // no slack after the bytes
        JpegInfo part = jpeg_info_from_bytes(arena, str(exact.data(), cut));
        EXPECT_EQ(part.density_x, cut < 2 + 16 ? 0 : 72) << cut;
        EXPECT_EQ(part.width, cut < 2 + 18 + 9 ? 0 : 800) << cut;
    }
}

TEST_F(IconsTest, JpegInfoReadsTheFile)
{
    char folder[] = "/tmp/wyn-jpeg-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string path = std::string(folder) + "/photo.jpg";
    std::string bytes = jpeg_bytes(1024, 768, 72, 72);
    Str p = str_copy(arena, str(path.data(), path.size()));
    ASSERT_TRUE(file_write_all(p, str(bytes.data(), bytes.size()), FileWrite_Replace));
    JpegInfo info = jpeg_info(arena, p);
    EXPECT_EQ(info.width, 1024);
    EXPECT_EQ(s(info.ratio), "1:1");
    JpegInfo missing = jpeg_info(arena, str_lit("/tmp/wyn-no-such-folder/none.jpg"));
    EXPECT_EQ(missing.width, 0);
    EXPECT_EQ(s(missing.ratio), "");
    unlink(path.c_str());
    rmdir(folder);
}
