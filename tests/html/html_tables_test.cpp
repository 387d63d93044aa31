#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "html/html_tables.h"

static std::string s(Str x) { return std::string(x.str, x.size); }

static std::vector<std::string> pieces(Arena *arena, u32 tag_id)
{
    std::vector<std::string> out;
    StrList list = html_tag_parents(arena, tag_id);
    for (StrNode *n = list.first; n; n = n->next) out.push_back(s(n->string));
    return out;
}

struct HtmlTablesTest : ::testing::Test {
    Arena *arena = arena_alloc(MiB(1), KiB(4));
    ~HtmlTablesTest() override { arena_release(arena); }
};

TEST(HtmlTagLookup, ByIdReachesEveryRowAndNothingElse)
{
    for (u32 id = 1; id <= HtmlTag_Count; id += 1) EXPECT_EQ(html_tag_from_id(id)->id, id);
    EXPECT_EQ(html_tag_from_id(0), &html_tag_empty);
    EXPECT_EQ(html_tag_from_id(83), &html_tag_empty);
    EXPECT_EQ(s(html_tag_from_id(HtmlTag_Div)->name), "div");
    EXPECT_EQ(s(html_tag_from_id(HtmlTag_DocType)->name), "!DOCTYPE");
    EXPECT_EQ(s(html_tag_from_id(HtmlTag_Body)->name), "body");
}

TEST(HtmlTagLookup, ByNameFoldsAsciiCaseOnly)
{
    EXPECT_EQ(html_tag_from_name(str_lit("Title"))->id, (u32)HtmlTag_Title);
    EXPECT_EQ(html_tag_from_name(str_lit("DIV"))->id, (u32)HtmlTag_Div);
    EXPECT_EQ(html_tag_from_name(str_lit("!doctype"))->id, (u32)HtmlTag_DocType);
    EXPECT_EQ(html_tag_from_name(str_lit("divx")), &html_tag_empty);
    EXPECT_EQ(html_tag_from_name(str_lit("di")), &html_tag_empty);
    EXPECT_EQ(html_tag_from_name(str_empty()), &html_tag_empty);
    // No folding beyond A to Z: the Kelvin sign is not a K.
    EXPECT_EQ(html_tag_from_name(str_lit("\xE2\x84\xAA")), &html_tag_empty);
}

TEST(HtmlTagLookup, ExactNameIsByteForByte)
{
    EXPECT_EQ(html_tag_from_name_exact(str_lit("title"))->id, (u32)HtmlTag_Title);
    EXPECT_EQ(html_tag_from_name_exact(str_lit("Title")), &html_tag_empty);
    EXPECT_EQ(html_tag_from_name_exact(str_lit("!DOCTYPE"))->id, (u32)HtmlTag_DocType);
    EXPECT_EQ(html_tag_from_name_exact(str_lit("picture")), &html_tag_empty);
}

TEST(HtmlTagRows, QuirkyRowsAreKeptAsStored)
{
    EXPECT_EQ(s(html_tag_from_id(HtmlTag_Footer)->parents), "body;section;article;aside;nav");
    EXPECT_EQ(s(html_tag_from_id(HtmlTag_A)->parents),
              "body;section;article;aside;footer;header;nav;p;div;span;li;h1;h2;h3;h4;h5;h6;sup;td;th");
    EXPECT_EQ(s(html_tag_from_id(HtmlTag_Input)->parents), "form;p");
    EXPECT_EQ(s(html_tag_from_id(HtmlTag_Source)->parents), "audio;video;picture;");
    const HtmlTagInfo *t = html_tag_from_id(HtmlTag_Template);
    EXPECT_EQ(t->display, (u32)HtmlDisplay_Empty);
    EXPECT_EQ(t->content, 2u);
    EXPECT_EQ(s(html_tag_from_id(HtmlTag_DocType)->required), "html;");
    EXPECT_EQ(s(html_tag_from_id(HtmlTag_Html)->required), "lang;");
    EXPECT_EQ(s(html_tag_from_id(HtmlTag_Div)->required), "");
}

TEST(HtmlTagRows, VoidAndRawTextRows)
{
    std::vector<std::string> voids, raws;
    for (const HtmlTagInfo &row : html_tag_table) {
        if (row.content & HtmlContent_Void) {
            EXPECT_EQ(row.content, 8u) << s(row.name);
            voids.push_back(s(row.name));
        }
        if (row.content & HtmlContent_RawText) raws.push_back(s(row.name));
    }
    EXPECT_EQ(voids, (std::vector<std::string>{"meta", "base", "link", "hr", "br", "img", "input", "path", "source",
                                               "track", "embed", "!DOCTYPE"}));
    EXPECT_EQ(raws, (std::vector<std::string>{"style", "script", "pre", "code"}));
}

TEST_F(HtmlTablesTest, ParentPiecesKeepInnerEmptiesAndDropTheFinalSemicolon)
{
    std::vector<std::string> footer = pieces(arena, HtmlTag_Footer);
    ASSERT_EQ(footer.size(), 5u);
    EXPECT_EQ(footer.back(), "nav");
    EXPECT_EQ(pieces(arena, HtmlTag_Li), (std::vector<std::string>{"ul", "ol"}));
    EXPECT_EQ(pieces(arena, HtmlTag_Input), (std::vector<std::string>{"form", "p"}));
    EXPECT_EQ(pieces(arena, HtmlTag_DocType), (std::vector<std::string>{"root"}));
    EXPECT_TRUE(pieces(arena, 0).empty());
}

TEST(HtmlAttrLookup, ExactNamesAndTheDataRowForTheRest)
{
    for (u32 id = 0; id < HtmlAttr_Count; id += 1) {
        const HtmlAttrInfo *row = html_attr_from_id(id);
        EXPECT_EQ(row->id, id);
        EXPECT_EQ(html_attr_from_name(row->name), row) << s(row->name);
    }
    EXPECT_EQ(html_attr_from_id(86), &html_attr_empty);
    EXPECT_EQ(html_attr_from_name(str_lit("class"))->id, (u32)HtmlAttr_Class);
    EXPECT_EQ(html_attr_from_name(str_lit("dontFetch"))->id, (u32)HtmlAttr_DontFetch);
    // Case-sensitive: the table holds "viewbox".
    EXPECT_EQ(html_attr_from_name(str_lit("viewBox"))->id, (u32)HtmlAttr_Data);
    EXPECT_EQ(html_attr_from_name(str_lit("onclick"))->id, (u32)HtmlAttr_Data);
    // The row's name ends in a blank, so the name without it is unknown too.
    EXPECT_EQ(s(html_attr_from_id(HtmlAttr_Data)->name), "data-* ");
    EXPECT_EQ(html_attr_from_name(str_lit("data-*"))->id, (u32)HtmlAttr_Data);
    EXPECT_EQ(html_attr_from_name(str_empty())->id, (u32)HtmlAttr_Data);
}

TEST(HtmlAttrRows, KindsFlagsAndNotes)
{
    const u32 single[] = {HtmlAttr_As, HtmlAttr_Id, HtmlAttr_Lang, HtmlAttr_Rel, HtmlAttr_Type, HtmlAttr_ZIndex,
                          HtmlAttr_Href};
    u32 single_count = 0;
    for (const HtmlAttrInfo &row : html_attr_table)
        if (row.flags & HtmlAttrFlag_SingleValued) single_count += 1;
    EXPECT_EQ(single_count, array_count(single));
    for (u32 id : single) EXPECT_TRUE(html_attr_from_id(id)->flags & HtmlAttrFlag_SingleValued) << id;
    u32 booleans = 0;
    for (const HtmlAttrInfo &row : html_attr_table)
        if (row.type == HtmlAttrType_Boolean) booleans += 1;
    EXPECT_EQ(booleans, 18u);
    EXPECT_EQ(html_attr_from_id(HtmlAttr_Html)->type, (u32)HtmlAttrType_Boolean);
    EXPECT_EQ(html_attr_from_id(HtmlAttr_Style)->type, (u32)HtmlAttrType_Style);
    EXPECT_EQ(html_attr_from_id(HtmlAttr_Href)->type, (u32)HtmlAttrType_Link);
    EXPECT_EQ(html_attr_from_id(HtmlAttr_Inputmode)->flags, 0x0Eu);
    EXPECT_EQ(s(html_attr_from_id(HtmlAttr_Lang)->note), "en");
    EXPECT_EQ(s(html_attr_from_id(HtmlAttr_Todo)->note), "permit to print todos");
    EXPECT_EQ(s(html_attr_from_id(HtmlAttr_DontFetch)->note), "permit to disable url checking when enabled");
    EXPECT_EQ(s(html_attr_from_id(HtmlAttr_Class)->note), "");
}
