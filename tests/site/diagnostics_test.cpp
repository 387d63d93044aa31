#include <gtest/gtest.h>

#include <string>

#include "../test_support.h"
#include "site/diagnostics.h"

struct DiagnosticsTest : ::testing::Test {
    Arena *arena = arena_alloc(MiB(1), KiB(4));
    ~DiagnosticsTest() override { arena_release(arena); }
};

TEST_F(DiagnosticsTest, ListsCountKeepTheHighestLevelAndEachLayoutPlacesTheText)
{
    DiagnosticList list = {};
    EXPECT_EQ(list.max_level, 0u);
    diag_push_at(arena, &list, nullptr, 0, DiagLevel_Warning, str_lit("a"));
    diag_push_at(arena, &list, nullptr, 0, DiagLevel_Error, str_lit("b"));
    diag_push_at(arena, &list, nullptr, 0, DiagLevel_Note, str_lit("c"));
    EXPECT_EQ(list.count, 3u);
    EXPECT_EQ(list.max_level, 3u);
    EXPECT_EQ(s(list.first->text), "a");
    EXPECT_EQ(s(list.last->text), "c");

    DiagnosticList log = {};
    diag_push_at(arena, &log, nullptr, 0, DiagLevel_Note, str_lit("target: /site/local/wyn_files/"));
    EXPECT_EQ(s(diag_format_log(arena, &log)), "note: \n  target: /site/local/wyn_files/\n");

    Str source = str_lit("line one\nsecond\n");
    DiagnosticList placed = {};
    diag_push_at(arena, &placed, nullptr, 0, DiagLevel_Warning, str_lit("at the start"));
    diag_push_at(arena, &placed, nullptr, 9, DiagLevel_Error, str_lit("after a line feed"));
    diag_push_at(arena, &placed, nullptr, 12, DiagLevel_Error, str_lit("inside"));
    diag_push_at(arena, &placed, nullptr, 999, DiagLevel_Error, str_lit("past the end"));
    EXPECT_EQ(s(diag_format_document(arena, &placed, str_lit("/s/a.wyn"), source)),
              "warning: \n  at the start\n  /s/a.wyn:1:1\n"
              "error: \n  after a line feed\n  /s/a.wyn:2:1\n"
              "error: \n  inside\n  /s/a.wyn:2:4\n"
              "error: \n  past the end\n  /s/a.wyn:3:1\n");

    DiagnosticList token = {};
    diag_push_at(arena, &token, nullptr, 3, DiagLevel_Error, str_lit("Unexpected \"x\" token."));
    EXPECT_EQ(s(diag_format_template(arena, &token, str_lit("head.html"), str_lit("<a>x"))),
              "error: \ntoken: Unexpected \"x\" token.\nhead.html:1:4\n");
}

// Diagnostics go to standard error, results to standard output, and an
// empty list prints nothing.
TEST_F(DiagnosticsTest, PrintingWritesTheTextPathsEscapedAndManyMessagesInPlace)
{
    DiagnosticList empty = {}, list = {};
    diag_push_at(arena, &list, nullptr, 0, DiagLevel_Warning, str_lit("w"));
    EXPECT_EQ(diag_format_document(arena, &empty, str_lit("p"), str_lit("")).size, 0u);
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    DiagPrintSettings plain = {};
    diag_print_document(&plain, &empty, str_lit("p"), str_lit(""));
    diag_print_log(&plain, &empty);
    diag_print_template(&plain, &list, str_lit("t.html"), str_lit("abc"));
    diag_print_result(&plain, str_lit("done\n"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "done\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "warning: \ntoken: w\nt.html:1:1\n");

    DiagnosticList escaped = {};
    diag_push_at(arena, &escaped, nullptr, 2, DiagLevel_Warning, str_lit("w"));
    Str path = str_lit("/site/a\nb\x1b[31m\x7f.wyn");
    std::string out = s(diag_format_document(arena, &escaped, path, str_lit("ab")));
    EXPECT_EQ(out, "warning: \n  w\n  /site/a\\nb\\e[31m\\x7f.wyn:1:3\n");
    EXPECT_EQ(out.find('\x1b'), std::string::npos);

    std::string text;
    DiagnosticList many = {};
    for (int i = 0; i < 2000; i += 1) {
        diag_push_at(arena, &many, nullptr, text.size() + 1, DiagLevel_Note, str_lit("n"));
        text += "xy\n";
    }
    std::string located = s(diag_format_document(arena, &many, str_lit("p"), str(text.data(), text.size())));
    EXPECT_NE(located.find("  p:1:2\n"), std::string::npos);
    EXPECT_NE(located.find("  p:2000:2\n"), std::string::npos);
    EXPECT_EQ(located.find("  p:2001:"), std::string::npos);
}

