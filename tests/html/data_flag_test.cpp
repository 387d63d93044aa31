// test-label: concurrency
//
// The "data-flag" switch lasts for the rest of the process, so it has a test
// program of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "html/html_tree.h"

static std::string s(Str x) { return std::string(x.str, x.size); }

static std::string serialize(Arena *arena, HtmlElement *root)
{
    StrList out = {};
    html_serialize(arena, root, &out);
    return s(str_list_join_plain(arena, &out));
}

TEST(DataFlagSwitch, RenamesTheUnknownAttributeRowForEveryTreeOnceAndForAll)
{
    Arena *arena = arena_alloc(MiB(1), KiB(4));
    HtmlElement *before = html_element_from_tag(arena, HtmlTag_Div);
    html_attribute_append(arena, before, html_attr_from_name(str_lit("onclick")));
    html_set_attribute(arena, before, HtmlAttr_Data, str_lit("go()"));
    EXPECT_EQ(serialize(arena, before), "<div data-* =\"go()\"></div>");

    html_attr_use_data_flag();
    html_attr_use_data_flag();   // a second call changes nothing
    EXPECT_TRUE(html_attr_data_flag_in_use());
    // Attributes recorded before the switch follow their row.
    EXPECT_EQ(serialize(arena, before), "<div data-flag=\"go()\"></div>");
    EXPECT_EQ(html_attr_from_name(str_lit("data-flag"))->id, (u32)HtmlAttr_Data);
    EXPECT_EQ(html_attr_from_name(str_lit("data-* "))->id, (u32)HtmlAttr_Data);
    // The constant row itself is untouched.
    EXPECT_EQ(s(html_attr_table[HtmlAttr_Data].name), "data-* ");
    EXPECT_EQ(s(html_attr_name(html_attr_from_id(HtmlAttr_Class))), "class");
    arena_release(arena);
}

TEST(DataFlagSwitch, ReadersOnOtherThreadsSeeOneNameOrTheOther)
{
    // Readers serialize while this thread turns the switch on (each test
    // runs in a process of its own); under ThreadSanitizer this shows the
    // switch is no data race.
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t += 1)
        threads.emplace_back([&bad] {
            Arena *arena = arena_alloc(MiB(1), KiB(4));
            for (int i = 0; i < 2000; i += 1) {
                ArenaTemp temp = temp_begin(arena);
                HtmlElement *e = html_element_from_tag(arena, HtmlTag_Span);
                html_set_attribute(arena, e, HtmlAttr_Data, str_lit("v"));
                std::string out = serialize(arena, e);
                if (out != "<span data-* =\"v\"></span>" && out != "<span data-flag=\"v\"></span>") bad += 1;
                temp_end(temp);
            }
            arena_release(arena);
        });
    html_attr_use_data_flag();
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_TRUE(html_attr_data_flag_in_use());
}
