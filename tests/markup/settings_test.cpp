// What the parser reads from the build settings. The settings are created
// once per process, so these tests live in their own executable.
#include <gtest/gtest.h>

#include <string>

#include "markup/parser.h"
#include "site/command_line.h"

namespace {

TEST(BuildSettings, ToDoLinesBecomeNotesOnlyWhenAsked)
{
    Arena *arena = arena_alloc(MiB(8), KiB(64));
    Str text = str_lit("``\ntodo: finish the intro\nTODO:\n``\nHeading\n");
    TokenArray tokens = tokenize(arena, text);

    ParsedDocument quiet = {};
    parse_document(arena, arena, str_lit("a.wyn"), text, tokens, &quiet);   // no settings yet: off
    EXPECT_EQ(quiet.message_count, 0u);

    build_settings_create(0, 1, 0);
    ParsedDocument loud = {};
    parse_document(arena, arena, str_lit("a.wyn"), text, tokens, &loud);
    ASSERT_EQ(loud.message_count, 2u);
    EXPECT_EQ(loud.max_level, 1u);
    EXPECT_EQ(loud.parse_ok, 1u);
    Str out = diag_format_document(arena, &loud.messages, str_lit("a.wyn"), text);
    EXPECT_EQ(std::string(out.str, out.size),
              "note: \n  todo: finish the intro\n  a.wyn:2:1\n"
              "note: \n  todo: \n  a.wyn:3:1\n");
    arena_release(arena);
}

} // namespace
