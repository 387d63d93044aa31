// Lookups in the tag and attribute tables. The rows themselves are read
// through what they decide: the validator's parent messages, the
// serializer's void and boolean forms, the template tree builder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../test_support.h"
#include "html/html_tables.h"

TEST(HtmlTableLookup, TagsByIdAndNameParentsAndAttributesWithTheDataRowForTheRest)
{
    for (u32 id = 1; id <= HtmlTag_Count; id += 1) EXPECT_EQ(html_tag_from_id(id)->id, id);
    EXPECT_EQ(html_tag_from_id(0), &html_tag_empty);
    EXPECT_EQ(html_tag_from_id(83), &html_tag_empty);
    EXPECT_EQ(s(html_tag_from_id(HtmlTag_DocType)->name), "!DOCTYPE");

    EXPECT_EQ(html_tag_from_name(str_lit("Title"))->id, (u32)HtmlTag_Title);
    EXPECT_EQ(html_tag_from_name(str_lit("DIV"))->id, (u32)HtmlTag_Div);
    EXPECT_EQ(html_tag_from_name(str_lit("!doctype"))->id, (u32)HtmlTag_DocType);
    EXPECT_EQ(html_tag_from_name(str_lit("divx")), &html_tag_empty);
    EXPECT_EQ(html_tag_from_name(str_lit("di")), &html_tag_empty);
    EXPECT_EQ(html_tag_from_name(str_empty()), &html_tag_empty);
    // No folding beyond A to Z: the Kelvin sign is not a K.
    EXPECT_EQ(html_tag_from_name(str_lit("\xE2\x84\xAA")), &html_tag_empty);
    EXPECT_EQ(html_tag_from_name_exact(str_lit("title"))->id, (u32)HtmlTag_Title);
    EXPECT_EQ(html_tag_from_name_exact(str_lit("Title")), &html_tag_empty);
    EXPECT_EQ(html_tag_from_name_exact(str_lit("picture")), &html_tag_empty);

    // Parent pieces keep inner empties and drop the final semicolon.
    Arena *arena = arena_alloc(MiB(1), KiB(4));
    auto pieces = [&](u32 tag_id) {
        std::vector<std::string> out;
        StrList list = html_tag_parents(arena, tag_id);
        for (StrNode *n = list.first; n; n = n->next) out.push_back(s(n->string));
        return out;
    };
    std::vector<std::string> footer = pieces(HtmlTag_Footer);
    ASSERT_EQ(footer.size(), 5u);
    EXPECT_EQ(footer.back(), "nav");
    EXPECT_EQ(pieces(HtmlTag_Li), (std::vector<std::string>{"ul", "ol"}));
    EXPECT_EQ(pieces(HtmlTag_Input), (std::vector<std::string>{"form", "p"}));
    EXPECT_EQ(pieces(HtmlTag_DocType), (std::vector<std::string>{"root"}));
    EXPECT_TRUE(pieces(0).empty());
    arena_release(arena);

    // Attributes: exact names, and the data row for the rest.
    for (u32 id = 0; id < HtmlAttr_Count; id += 1) {
        const HtmlAttrInfo *row = html_attr_from_id(id);
        EXPECT_EQ(row->id, id);
        EXPECT_EQ(html_attr_from_name(row->name), row) << s(row->name);
    }
    EXPECT_EQ(html_attr_from_id(86), &html_attr_empty);
    // Case-sensitive: the table holds "viewbox".
    EXPECT_EQ(html_attr_from_name(str_lit("viewBox"))->id, (u32)HtmlAttr_Data);
    EXPECT_EQ(html_attr_from_name(str_lit("onclick"))->id, (u32)HtmlAttr_Data);
    // The row's name ends in a blank, so the name without it is unknown too.
    EXPECT_EQ(html_attr_from_name(str_lit("data-*"))->id, (u32)HtmlAttr_Data);
    EXPECT_EQ(html_attr_from_name(str_lit("data-flag"))->id, (u32)HtmlAttr_Data);
    EXPECT_EQ(html_attr_from_name(str_empty())->id, (u32)HtmlAttr_Data);
}

