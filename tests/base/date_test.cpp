#include <gtest/gtest.h>

#include <string>

#include "base/date.h"

static std::string s(Str x) { return std::string(x.str, x.size); }

TEST(Date, ParsesPrintsAndFollowsTheEpoch)
{
    for (const char *text : {"2024-02-29", "2024/2/29", "2024.02.29", "2024:2:29 "}) {
        DateTime d = date_parse(str_from_cstring(text));
        EXPECT_EQ(d.year, 2024) << text;
        EXPECT_EQ(d.month, 2) << text;
        EXPECT_EQ(d.day, 29) << text;
        EXPECT_EQ(d.hour, 0);
    }
    DateTime two = date_parse(str_lit("2024-05"));
    EXPECT_EQ(two.month, 5);
    EXPECT_EQ(two.day, 0);   // missing pieces stay 0
    DateTime extra = date_parse(str_lit("2024-05-06-07"));
    EXPECT_EQ(extra.day, 6);
    DateTime empty_piece = date_parse(str_lit("2024--06"));
    EXPECT_EQ(empty_piece.month, 0);
    EXPECT_EQ(empty_piece.day, 6);

    Arena *arena = arena_alloc(KiB(64), KiB(4));
    DateTime d = {};
    d.year = 2025;
    d.month = 1;
    d.day = 1;
    EXPECT_EQ(s(date_to_ymd(arena, d)), "2025-1-1");
    d.month = 12;
    d.minute = 5;
    d.second = 9;
    EXPECT_EQ(s(date_to_long(arena, d)), "1 Dec 2025, 12:05:09 am");
    d.hour = 13;
    EXPECT_EQ(s(date_to_long(arena, d)), "1 Dec 2025, 01:05:09 pm");
    d.hour = 12;
    EXPECT_EQ(s(date_to_long(arena, d)), "1 Dec 2025, 12:05:09 pm");
    d.month = 13;
    EXPECT_EQ(s(date_to_long(arena, d)), "1 Err 2025, 12:05:09 pm");
    arena_release(arena);

    // The civil date of a moment since the epoch.
    struct Case {
        u64 ms;
        int year, month, day, hour, minute, second, millisecond, day_of_week;
    } cases[] = {
        {0, 1970, 1, 1, 0, 0, 0, 0, 4},                           // a Thursday
        {1709210096789ull, 2024, 2, 29, 12, 34, 56, 789, 4},      // a leap day
        {951782400000ull, 2000, 2, 29, 0, 0, 0, 0, 2},            // a leap day of a leap century
    };
    for (const Case &c : cases) {
        DateTime d = date_from_unix_ms(c.ms);
        int got[] = {d.year, d.month, d.day, d.hour, d.minute, d.second, d.millisecond, d.day_of_week};
        int want[] = {c.year, c.month, c.day, c.hour, c.minute, c.second, c.millisecond, c.day_of_week};
        for (int i = 0; i < 8; i += 1) EXPECT_EQ(got[i], want[i]) << c.ms << " field " << i;
    }
}

