// What the parser reads from its options.
#include <gtest/gtest.h>

#include <string>

#include "markup/parser.h"
#include "site/diagnostics.h"

namespace {

TEST(ParseOptions, ToDoLinesBecomeNotesOnlyWhenAsked)
{
    Arena *arena = arena_alloc(MiB(8), KiB(64));
    Str text = str_lit("``\ntodo: finish the intro\nTODO:\n``\nHeading\n");
    ParsedDocument quiet = markup_parse(arena, text, nullptr);   // no options: off
    EXPECT_EQ(quiet.message_count, 0u);

    ParseOptions options = {str_empty(), 1, nullptr, nullptr};
    ParsedDocument loud = markup_parse(arena, text, &options);
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
