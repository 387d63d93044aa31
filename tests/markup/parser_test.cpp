// The parser as a whole: the record it fills (the trees themselves are the
// golden cases', tests/markup/cases), what it reads from its options (web
// addresses to hand over, to-do notes), the table model, and hostile input
// of every shape (which must parse completely, to a consistent tree,
// without deep recursion).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "markup/parser.h"
#include "markup/tables.h"
#include "markup/tree_dump.h"
#include "site/diagnostics.h"
#include "markup_check.h"
#include "../test_support.h"

namespace {

struct Parsed {
    Str text;
    ParsedDocument doc;
};

struct ParserTest : ::testing::Test {
    Arena *arena = arena_alloc(GiB(4), MiB(1));
    ~ParserTest() override { arena_release(arena); }

    Parsed parse(const std::string &source, const ParseOptions *options = nullptr)
    {
        Parsed p = {};
        p.text = str_copy(arena, Str{source.data(), source.size()});
        p.doc = markup_parse(arena, p.text, options);
        return p;
    }
    // Parses a text that must draw one message, at `offset`, saying `text`.
    Parsed parse_told_once(const std::string &source, u64 offset, const char *text);
    // Every message of a sound parse, a line each: its offset and text, and
    // with `levels` "note " or "other " first.
    std::string messages_of(const std::string &source, bool levels = false);
};

void expect_sound(const Parsed &p)
{
    ASSERT_FALSE(node_is_nil(p.doc.root));
    EXPECT_STREQ(markup_tree_check(p.doc.root, p.text.size).fault, "");
    EXPECT_STREQ(markup_tree_check(p.doc.footnotes, p.text.size).fault, "");
    EXPECT_EQ(p.doc.message_count, p.doc.messages.count);
    EXPECT_EQ(p.doc.max_level, p.doc.messages.max_level);
    for (const Diagnostic *d = p.doc.messages.first; d; d = d->next) {
        const MarkupNode *anchor = (const MarkupNode *)d->node;
        EXPECT_EQ(anchor->node_class, (u32)NodeClass_Message);
        EXPECT_EQ(anchor->offset, d->offset);
        EXPECT_TRUE(node_is_nil(anchor->parent));
    }
}

// Documents made at random (a fixed seed) under a first heading: two to
// seven pieces, each at one of several indentations.
struct RandomDocuments {
    const std::vector<std::vector<std::string>> &pieces;
    u64 state;

    u64 next(u64 n)
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return (state >> 33) % n;
    }

    std::string next_document()
    {
        const char *indents[] = {"", "  ", "  ", "    ", "      "};
        std::string text = "Head\n";
        for (u64 k = 0, count = 2 + next(6); k < count; k += 1) {
            const char *indent = indents[next(5)];
            for (const std::string &line : pieces[next(pieces.size())]) text += (line.empty() ? "" : indent + line) + "\n";
        }
        return text;
    }
};

std::string repeat(const std::string &piece, u64 count)
{
    std::string out;
    out.reserve(piece.size() * count);
    for (u64 i = 0; i < count; i += 1) out += piece;
    return out;
}

//- the parsed-document record and the options

std::string ParserTest::messages_of(const std::string &source, bool levels)
{
    Parsed p = parse(source);
    expect_sound(p);
    std::string all;
    for (Diagnostic *d = p.doc.messages.first; d; d = d->next)
        all += (levels ? (d->level == DiagLevel_Note ? "note " : "other ") : "") + std::to_string(d->offset) + " " +
               s(d->text) + "\n";
    return all;
}

TEST_F(ParserTest, TheRecordHoldsTheSourceAndStaysUsableAfterErrors)
{
    Parsed p = parse("Heading\n  a ] b }~ c\n");
    expect_sound(p);
    EXPECT_EQ(p.doc.root->name.str, p.text.str);
    EXPECT_EQ(p.doc.root->text.size, p.text.size);
    // Line nodes keep an empty text; their words are their children.
    MarkupNode *h = p.doc.root->first_child;
    ASSERT_TRUE(node_is_element(h, MarkupKind_Heading));
    EXPECT_EQ(h->text.size, 0u);
    EXPECT_TRUE(node_is_element(h->last_child, MarkupKind_Paragraph));
    EXPECT_EQ(h->last_child->text.size, 0u);
    EXPECT_EQ(p.doc.message_count, 2u);
    EXPECT_EQ(p.doc.max_level, (u32)DiagLevel_Error);
    EXPECT_EQ(p.doc.parse_ok, 1u);   // an error is reported, the page is still made
    EXPECT_EQ(p.doc.extra_list.count, 0u);

    // To-do lines become notes only when asked.
    const std::string source = "``\ntodo: finish the intro\nTODO:\n``\nHeading\n";
    EXPECT_EQ(parse(source).doc.message_count, 0u);   // no options: off
    ParseOptions options = {str_empty(), 1, nullptr, nullptr};
    Parsed loud = parse(source, &options);
    ASSERT_EQ(loud.doc.message_count, 2u);
    EXPECT_EQ(loud.doc.max_level, 1u);
    EXPECT_EQ(loud.doc.parse_ok, 1u);
    Str out = diag_format_document(arena, &loud.doc.messages, str_lit("a.wyn"), loud.text);
    EXPECT_EQ(s(out), "note: \n  todo: finish the intro\n  a.wyn:2:1\nnote: \n  todo: \n  a.wyn:3:1\n");
}

TEST_F(ParserTest, ANumberDefinedTwiceIsToldAndReferencesTakeTheFirst)
{
    auto warnings = [&](const Parsed &p) {
        std::string out;
        for (const Diagnostic *d = p.doc.messages.first; d; d = d->next)
            out += std::to_string(d->offset) + " " + s(d->text) + "\n";
        return out;
    };
    const std::string source = "H\n  a[*1] b[*2] [#1](up) [#2](on)\n"
                               "  [#1]_ [#2]_ [#1]_\n"
                               "  [*1] first\n  [*2] two\n  [*1] again\n  [*1] and again\n";
    Parsed p = parse(source);
    expect_sound(p);
    const u64 anchor_again = source.find("[#1]_", source.find("[#2]_"));
    const u64 note_again = source.find("[*1] again"), note_third = source.find("[*1] and again");
    EXPECT_EQ(warnings(p), std::to_string(anchor_again) + " anchor 1 is defined more than once; links lead to the first\n" +
                               std::to_string(note_again) + " footnote 1 is defined more than once; references lead to the first\n" +
                               std::to_string(note_third) + " footnote 1 is defined more than once; references lead to the first\n");
    // Each reference still finds the first definition of its number.
    u64 resolved = 0;
    for (MarkupNode *n = p.doc.root; !node_is_nil(n); n = node_preorder_next(n, p.doc.root)) {
        if (!node_is_element(n, MarkupKind_FootnoteRef) && !node_is_element(n, MarkupKind_InternalLinkRef)) continue;
        EXPECT_FALSE(n->flags & NodeFlag_Unresolved);
        const bool note = node_is_element(n, MarkupKind_FootnoteRef);
        // A note's definition starts its line; an anchor's is the one with "_".
        const std::string number = std::to_string(n->number);
        const u64 first = note ? source.find("\n  [*" + number + "]") + 3 : source.find("[#" + number + "]_");
        EXPECT_EQ(n->first_child->offset, first) << number;
        resolved += 1;
    }
    EXPECT_EQ(resolved, 4u);
    // Distinct numbers, and numbers past a byte that match nothing, are no
    // repetition.
    const std::string distinct = "H\n  x[*1] y[*2] [#1]_ [#2]_\n  [*1] a\n  [*2] b\n  [*300] c\n  [*300] d\n";
    EXPECT_EQ(warnings(parse(distinct)),
              std::to_string(distinct.find("300] c")) + " footnote number 300 is over 255, the largest there is; it is not matched\n" +
                  std::to_string(distinct.find("300] d")) + " footnote number 300 is over 255, the largest there is; it is not matched\n");
}

TEST_F(ParserTest, AHeaderLeftOpenOverTextIsTold)
{
    const char *told = "the document header is never closed with a line of two backticks, so the rest of the document "
                       "is read as part of it and hidden";
    Parsed open = parse("// notes\n``\ntitle: T\nSection\n  text\n");
    expect_sound(open);
    ASSERT_EQ(open.doc.message_count, 1u);
    EXPECT_EQ(s(open.doc.messages.first->text), told);
    EXPECT_EQ(open.doc.messages.first->offset, 9u);   // the "``" line
    EXPECT_EQ(open.doc.messages.first->level, (u32)DiagLevel_Warning);
    // Closed, holding header lines only, or a later context left open: the
    // text shows on the page.
    for (const char *quiet : {"``\ntitle: T\n``\nSection\n  text\n", "``\ntitle: T\noutput_path: \"/html/t.html\"\n",
                              "``\ntitle: T\n``\nSection\n  text\n  ``\n  inside\n"})
        EXPECT_EQ(parse(quiet).doc.message_count, 0u) << quiet;
}

TEST_F(ParserTest, HeaderValuesThatWouldNotDoWhatTheySayAreTold)
{
    auto told = [&](const std::string &header) {
        Parsed p = parse("``\n" + header + "\n``\nH\n");
        expect_sound(p);
        std::string out;
        for (const Diagnostic *d = p.doc.messages.first; d; d = d->next)
            out += std::string(d->level == DiagLevel_Note ? "note " : "warning ") + std::to_string(d->offset) + " " +
                   s(d->text) + "\n";
        return out;
    };
    // A status one slip from hiding, or a word that asks to hide, publishes
    // the document all the same: warned, with what would hide it.
    EXPECT_EQ(told("status: drafty"), "warning 3 status drafty does not keep this document off the site (only draft "
                                      "and personal do); did you mean draft?\n");
    EXPECT_EQ(told("status: Persnal"), "warning 3 status Persnal does not keep this document off the site (only draft "
                                       "and personal do); did you mean personal?\n");
    EXPECT_NE(told("status: private").find("did you mean personal?"), std::string::npos);
    // The status is the value's first word, also where more words follow
    // it in the one token a line of words makes.
    EXPECT_EQ(told("status: drafty for now"), "warning 3 status drafty does not keep this document off the site "
                                              "(only draft and personal do); did you mean draft?\n");
    EXPECT_EQ(s(parse("``\nstatus: draft for now\ntoc: no thanks\n``\nH\n").doc.status), "draft");
    EXPECT_EQ(s(parse("``\ntoc: no thanks\n``\nH\n").doc.toc_value), "no");
    for (const char *quiet : {"status: draft", "status: PERSONAL", "status: published", "status: final", "status: done",
                              "status:", "status: wip"})
        EXPECT_EQ(told(quiet), "") << quiet;

    // Dates that name no day are noted; the page still shows them as written.
    EXPECT_EQ(told("creation_date: 2026-02-30"),
              "note 3 creation_date 2026-02-30 is no day of the calendar (write year-month-day, such as 2026-3-2), so "
              "the feed leaves the document out\n");
    EXPECT_NE(told("last_modification_date: last week").find("take the creation date instead"), std::string::npos);
    for (const char *quiet : {"creation_date: 2024-2-29", "creation_date: 2026.12.10", "last_modification_date:",
                              "creation_date: 2026/1/31"})
        EXPECT_EQ(told(quiet), "") << quiet;

    // Only ".html" paths are pages: each other one is told where it stands.
    const std::string paths = "output_path: \"/html/a.htm\" \"/html/b.html\" /html/c /html/d.HTML";
    EXPECT_EQ(told(paths),
              "warning " + std::to_string(paths.find("\"/html/a") + 3) +
                  " output path /html/a.htm does not end in .html, so no page is written for it\n"
                  "warning " + std::to_string(paths.find("/html/c") + 3) +
                  " output path /html/c does not end in .html, so no page is written for it\n"
                  "warning " + std::to_string(paths.find("/html/d") + 3) +
                  " output path /html/d.HTML does not end in .html, so no page is written for it\n");
}

Parsed ParserTest::parse_told_once(const std::string &source, u64 offset, const char *text)
{
    Parsed p = parse(source);
    expect_sound(p);
    EXPECT_EQ(p.doc.message_count, 1u) << source;
    if (p.doc.messages.first) {
        EXPECT_EQ(p.doc.messages.first->offset, offset) << source;
        EXPECT_EQ(s(p.doc.messages.first->text), text) << source;
    }
    return p;
}

TEST_F(ParserTest, ATabInALinesIndentationIsToldOnce)
{
    const std::string tabbed = "Head\n  text\tand a tab inside\n\tparagraph\n\t\tmore\n \tmixed\n";
    Parsed p = parse_told_once(
        tabbed, tabbed.find("\tparagraph") + 1,
        "this line is indented with a tab, which counts as one blank (two blanks make a level); indent with blanks");
    // What the warning is about: the tab made a heading of the line.
    EXPECT_TRUE(node_is_element(p.doc.root->last_child, MarkupKind_Heading));
    // Tabs inside a line or a code block's text are the author's.
    for (const char *quiet : {"Head\n  a\tb\n", "Head\n  ```\n  \tcode\n  ```\n", "Head\n\n\t\n  x\n"})
        EXPECT_EQ(parse(quiet).doc.message_count, 0u) << quiet;
}

TEST_F(ParserTest, BytesThatAreNotUtf8AreToldOnceAtTheFirst)
{
    // Saved as Latin-1: three accented letters, one warning at the first.
    const std::string latin = "Caf\xE9\n  Une cr\xE8me \xE0 lire.\n";
    parse_told_once(latin, 3,
                    "byte 0xE9 is not UTF-8, so the page shows \"\xEF\xBF\xBD\" in its place and in place of any like "
                    "it; save the file as UTF-8");
    // The same letters in UTF-8, a byte order mark, and bytes in code are no mistake.
    for (const char *quiet : {"Caf\xC3\xA9\n  Une cr\xC3\xA8me \xC3\xA0 lire.\n", "\xEF\xBB\xBFHead\n  text\n",
                              "Head\n  `\xE2\x82\xAC` and \xF0\x9F\x98\x80\n"})
        EXPECT_EQ(parse(quiet).doc.message_count, 0u) << quiet;
}

TEST_F(ParserTest, AQuotedFileNameWithoutASlashIsToldThatItIsNoLink)
{
    // The advice names the file its path leads to: a picture's is in the
    // folder pictures are kept in, a document's in the documents' folder.
    const std::string text = "Head\n  see \"notes.pdf\"(the notes) and _\"cat.JPG\"(\"A cat\") \"b.wyn\"(b)\n";
    ParseOptions options = {};
    options.local_folder = str_lit("/site/local/");
    Parsed p = parse(text, &options);
    expect_sound(p);
    ASSERT_EQ(p.doc.message_count, 3u);
    const Diagnostic *d = p.doc.messages.first;
    EXPECT_EQ(d->offset, text.find("\"notes"));
    EXPECT_EQ(s(d->text), "\"notes.pdf\" is text, not a link: a path needs a slash, as in \"/notes.pdf\" for the file "
                          "/site/local/notes.pdf");
    d = d->next;
    EXPECT_EQ(d->offset, text.find("\"cat"));
    EXPECT_EQ(s(d->text), "\"cat.JPG\" is text, not a link: a path needs a slash, as in \"/cat.JPG\" for the file "
                          "/site/local/assets/images/cat.JPG");
    EXPECT_EQ(s(d->next->text), "\"b.wyn\" is text, not a link: a path needs a slash, as in \"/b.wyn\" for the file "
                                "/site/local/wyn_files/b.wyn");
    // What the warning is about: neither became a link.
    EXPECT_EQ(p.doc.file_links.count, 0u);
    // Links, quotes in prose, words with a dot, a name apart from its
    // parenthesis and a quote inside code say nothing.
    for (const char *quiet : {"H\n  \"/notes.pdf\"(x) \"./a.png\"(y) _\"/cat.jpg\"\n", "H\n  he said \"go.html\" twice\n",
                              "H\n  \"Node.js\"(runtime) \"e.g.\"(sic) \".png\"(x)\n", "H\n  \"a.png\" (x)\n",
                              "H\n  `\"a.png\"(x)`\n", "H\n  \"my notes.pdf\"(x)\n"})
        EXPECT_EQ(parse(quiet).doc.message_count, 0u) << quiet;
}

TEST_F(ParserTest, APathOrAddressWithABlankIsToldThatItIsNoLink)
{
    const std::string text = "Head\n  _\"/assets/my photo.png\" and \"../old notes/a b.wyn[#2]\"(old)\n"
                             "  and \"https://example.org/a page.html\"(x)\n";
    Parsed p = parse(text);
    expect_sound(p);
    std::vector<std::pair<u64, std::string>> told;
    for (Diagnostic *d = p.doc.messages.first; d; d = d->next) told.push_back({d->offset, s(d->text)});
    EXPECT_EQ(told, (std::vector<std::pair<u64, std::string>>{
                        {text.find("\"/assets"), "\"/assets/my photo.png\" is text, not a link: a path cannot hold a "
                                                  "blank; rename the file, as in \"/assets/my-photo.png\""},
                        {text.find("\"../old"), "\"../old notes/a b.wyn\" is text, not a link: a path cannot hold a "
                                                 "blank; rename the file, as in \"../old-notes/a-b.wyn\""},
                        {text.find("\"https"), "\"https://example.org/a page.html\" is text, not a link: an address "
                                                "cannot hold a blank; write each one as %20"},
                    }));
    // What the warning is about: none of them became a link.
    EXPECT_EQ(p.doc.file_links.count + p.doc.web_links.count, 0u);
    // Quoted prose with a slash, a dot and a blank is no path, and a path
    // without a blank is a link.
    for (const char *quiet : {"H\n  \"see /usr/bin. Yes\" and \"and/or. Maybe\"\n", "H\n  \"/ a b\" \"/a b\"(x)\n",
                              "H\n  \"/a/b c.unknown\"(x) \"/assets/my-photo.png\"(x)\n"})
        EXPECT_EQ(parse(quiet).doc.message_count, 0u) << quiet;
}

TEST_F(ParserTest, AFileShownAsAPictureThatNoBrowserDrawsIsTold)
{
    const std::string text = "Head\n  _\"/docs/Report.PDF\"(\"the report\") beside _\"/a.png\"\n";
    Parsed p = parse_told_once(text, text.find("\"/docs"),
                               "_\"/docs/Report.PDF\" shows the file as a picture, and a browser draws none of a .PDF "
                               "file; link it instead, as in \"/docs/Report.PDF\"(Report.PDF)");
    // It stays what it was written as: an embedded link.
    EXPECT_EQ(p.doc.file_links.count, 2u);
    // Pictures, a CSV file (shown as a table), an address and a plain link
    // to a document say nothing.
    for (const char *quiet : {"H\n  _\"/a.JPG\" _\"/b.svg\" _\"/c.webp\" _\"/d\" _\"/t.csv\"\n",
                              "H\n  _\"https://example.org/a.pdf\" \"/docs/r.pdf\"(report)\n"})
        EXPECT_EQ(parse(quiet).doc.message_count, 0u) << quiet;
}

TEST_F(ParserTest, MarkdownsMarksAreNotedOncePerDocumentWithWynsSpelling)
{
    auto noted = [&](const std::string &text) { return messages_of(text, true); };
    EXPECT_EQ(noted("Head\n  - one\n  - two\n"),
              "note 7 \"- \" starts no list here and shows as written; a list item starts with a dot and a blank "
              "(\". \")\n");
    EXPECT_EQ(noted("## Head\n  x\n"), "note 0 \"#\" marks no heading here and shows as written; a heading is a line at "
                                      "the left margin, with its text indented by two blanks below it\n");
    EXPECT_EQ(noted("Head\n  a **strong word** and **2**\n"),
              "note 9 \"**text**\" is not strong here and shows as written; wyn writes strong text as _text_ and "
              "emphasis as __text__\n");
    // Only the first habit of a document is noted.
    EXPECT_EQ(noted("Head\n  see [the site](https://example.org/) and **this**\n  * star\n"),
              "note 11 \"[the site](https://example.org/)\" links nothing here and shows as written; wyn writes this "
              "link as \"https://example.org/\"(the site), the address in double quotes\n");
    // A picture gets the picture's form; a link whose parenthesis does not
    // close on its line, the general one.
    EXPECT_EQ(noted("Head\n  ![a cat](/assets/images/cat.png)\n"),
              "note 8 \"![a cat](/assets/images/cat.png)\" shows no picture here, only its text; wyn shows a picture "
              "as _\"/assets/images/cat.png\"(\"a cat\")\n");
    EXPECT_EQ(noted("Head\n  see [this](https://example.org/\n  and more\n"),
              "note 11 \"[text](address)\" links nothing here and shows as written; wyn writes a link as "
              "\"address\"(text), the address in double quotes\n");
    // wyn's own brackets and marks, code, escapes and a dash in a sentence
    // are no Markdown.
    for (const char *quiet :
         {"H\n  [#1](see) [x] done [ ] open [*1]\n  [*1] note [#1]_ here\n", "H\n  ```\n  - a\n  [a](b)\n  ```\n",
          "H\n  `[a](b)` and [a] (b)\n", "H\n  \\- item\n", "H\n  -5 degrees, -- and #tag\n", "H\n  ---\n",
          "H\n  . item\n  1. item\n", "H\n  2**8 and a ** b ** c\n  **open\n  close**\n",
          "H\n  `**code**` here\n", "H\n  ```py\n  f(**kwargs)\n  ```\n"})
        EXPECT_EQ(noted(quiet), "") << quiet;
    // A line of openings that nothing closes: each would search the rest
    // of the line, a hundred thousand times over, if a search in vain did
    // not end the looking for that line (this parse then ran for minutes).
    std::string openings = "H\n  ";
    for (int i = 0; i < 100000; i += 1) openings += "**a ";
    EXPECT_EQ(noted(openings + "\n  then **one**\n"), "note " + std::to_string(openings.size() + 8) +
                                                          " \"**text**\" is not strong here and shows as written; "
                                                          "wyn writes strong text as _text_ and emphasis as __text__\n");
}

TEST_F(ParserTest, ARowWithMoreCellsThanTheHeaderIsToldOnceATable)
{
    const std::string text = "H\n  | a | b |\n  |---|---|\n  | 1 | 2 | 3 |\n  | 4 | 5 | 6 | 7 |\n";
    Parsed p = parse_told_once(text, text.find("2 | 3") + 2,
                               "this row has more cells than the table's header; from here on its text joins the "
                               "last cell");
    // What it is about: the extra cell's text is in the last column's cell.
    MarkupNode *root = node_find_descendant(p.doc.root, kind_table_root, 0, 0);
    ASSERT_FALSE(node_is_nil(root));
    MarkupNode *last = node_find_descendant(root, kind_table_cell, 0, NodeFind_Last);
    ASSERT_FALSE(node_is_nil(last));
    EXPECT_EQ(s(last->last_child->text), "7");
    // Rows as long as the header or shorter, column groups, a closing
    // separator and a ";" table with as many cells say nothing.
    for (const char *quiet : {"H\n  | a | b |\n  |---|---|\n  | 1 | 2 |\n  | 1 |\n",
                              "H\n  | a || b |\n  |---||---|\n  | 1 || 2 |\n", "H\n  ;x;y\n  1;2\n"})
        EXPECT_EQ(parse(quiet).doc.message_count, 0u) << quiet;
    // Each table is told of once.
    EXPECT_EQ(parse(text + "H2\n  | a |\n  |---|\n  | 1 | 2 |\n").doc.message_count, 2u);
}

TEST_F(ParserTest, ATableHoldsAtMost256GroupsOfAnyNumberOfColumns)
{
    // A group's number is one byte; the separators past the last group are
    // text of the last cell instead of a table each.
    Parsed p = parse("H\n  " + repeat("|| a ", 300) + "\n");
    expect_sound(p);
    MarkupNode *root = node_find_descendant(p.doc.root, kind_table_root, 0, 0);
    ASSERT_FALSE(node_is_nil(root));
    EXPECT_EQ(root->child_count, 256u);
    EXPECT_EQ(root->last_child->number, 255u);
    MarkupNode *cell = node_find_descendant(root->last_child, kind_table_cell_col, 0, NodeFind_Last);
    std::string shown;
    for (MarkupNode *c = cell->first_child; !node_is_nil(c); c = c->next) shown += s(c->text) + " ";
    EXPECT_EQ(shown, repeat("a || ", 300 - 256) + "a ");

    Parsed wide = parse(repeat("| h ", 10000) + "|\n|" + repeat("-|", 10000) + "\n" + repeat("| c ", 20000) + "|\n");
    expect_sound(wide);
    MarkupNode *wide_root = node_find_descendant(wide.doc.root, kind_table_root, 0, 0);
    ASSERT_FALSE(node_is_nil(wide_root));
    MarkupNode *header = wide_root->first_child->first_child;
    EXPECT_EQ(header->child_count, 10000u);
    MarkupNode *row = wide_root->first_child->last_child->first_child;
    EXPECT_EQ(row->child_count, 10000u);   // separators past the last column are ignored
    document_index_tables(arena, &wide.doc);
    EXPECT_EQ(wide.doc.extra_list.first->table->column_count, 10000u);
}

void record_address(void *user, Str address) { ((std::vector<std::string> *)user)->push_back(s(address)); }

TEST_F(ParserTest, LinkListsFollowTheSourceAndWebAddressesAreHandedOverWhenAsked)
{
    Parsed p = parse("H\n  \"a/b.wyn\" \"https://x.org/p\" \"c/d.png\" \"http://y.org\" [#1]_ [#2]_\n");
    expect_sound(p);
    ASSERT_EQ(p.doc.file_links.count, 2u);
    EXPECT_EQ(s(p.doc.file_links.first->node->first_child->name), "a/b.wyn");
    EXPECT_EQ(s(p.doc.file_links.last->node->first_child->name), "c/d.png");
    ASSERT_EQ(p.doc.web_links.count, 2u);
    EXPECT_EQ(s(p.doc.web_links.first->node->first_child->name), "https://x.org/p");
    ASSERT_EQ(p.doc.internal_links.count, 2u);
    EXPECT_EQ(p.doc.internal_links.first->node->number, 1u);
    EXPECT_EQ(p.doc.internal_links.last->node->number, 2u);

    std::vector<std::string> handed_over;
    Parsed quiet = parse("H\n  \"https://a.org/x\"\n");
    EXPECT_EQ(quiet.doc.web_links.count, 1u);   // found, and kept, but nobody was asked
    ParseOptions options = {str_empty(), 0, record_address, &handed_over};
    parse("H\n  \"https://a.org/x\" and \"https://b.org\" but not \"/c/d.wyn\"\n", &options);
    EXPECT_EQ(handed_over, (std::vector<std::string>{"https://a.org/x", "https://b.org"}));
}

//- the table model

TEST_F(ParserTest, TablesIndexIntoGridsWhereRaggedRowsLeaveNilPlaces)
{
    Parsed p = parse("| _Name_ | [x] Done || Note |\n|---|---|---|\n| a | b | c |\n| d |  |  |\n| e |\nafter\n");
    expect_sound(p);
    MarkupNode *root = node_find_descendant(p.doc.root, kind_table_root, 0, 0);
    ASSERT_FALSE(node_is_nil(root));
    ASSERT_EQ(root->child_count, 2u);
    document_index_tables(arena, &p.doc);
    ASSERT_EQ(p.doc.extra_list.count, 2u);

    NodeListCell *first = p.doc.extra_list.first;
    EXPECT_EQ(first->node, root->first_child);
    const MarkupTable *t = first->table;
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->column_count, 2u);
    EXPECT_EQ(t->row_count, 3u);
    EXPECT_EQ(s(t->headings[0].text), "Name");
    EXPECT_EQ(s(t->headings[1].text), "Done");
    EXPECT_TRUE(t->headings[1].cell->flags & NodeFlag_Ticked);
    EXPECT_EQ(s(table_cell_at(t, 0, 0)->first_child->name), "a");
    EXPECT_TRUE(table_cell_at(t, 0, 1)->flags & NodeFlag_Ticked);   // the ticked column
    EXPECT_FALSE(table_cell_at(t, 0, 0)->flags & NodeFlag_Ticked);
    EXPECT_EQ(table_cell_at(t, 1, 1)->child_count, 0u);
    EXPECT_EQ(s(t->rows[1]->name), "table_row");
    // "| e |" has as many separators as the group it ended in has columns
    // (one), so it is a short row, not the end of the table.
    EXPECT_EQ(s(table_cell_at(t, 2, 0)->first_child->name), "e");
    EXPECT_TRUE(node_is_nil(table_cell_at(t, 2, 1)));
    // The grid holds the rows now; the group node keeps no children.
    EXPECT_EQ(root->first_child->child_count, 0u);
    EXPECT_TRUE(node_is_nil(root->first_child->first_child));

    const MarkupTable *second = p.doc.extra_list.last->table;
    EXPECT_EQ(second->column_count, 1u);
    EXPECT_EQ(second->row_count, 2u);
    EXPECT_EQ(s(table_cell_at(second, 0, 0)->first_child->name), "c");
    EXPECT_EQ(table_cell_at(second, 1, 0)->child_count, 0u);
    // The line after the table is a heading again (the table of contents
    // follows the first heading).
    EXPECT_TRUE(node_is_element(root->next, MarkupKind_Heading));

    Parsed ragged = parse(";a;b;c\nx\ny;z\n");
    expect_sound(ragged);
    document_index_tables(arena, &ragged.doc);
    ASSERT_EQ(ragged.doc.extra_list.count, 1u);
    const MarkupTable *rt = ragged.doc.extra_list.first->table;
    EXPECT_EQ(rt->column_count, 3u);
    EXPECT_EQ(rt->row_count, 2u);
    EXPECT_EQ(s(table_cell_at(rt, 0, 0)->first_child->name), "x");
    EXPECT_TRUE(node_is_nil(table_cell_at(rt, 0, 1)));
    EXPECT_EQ(s(table_cell_at(rt, 1, 1)->first_child->name), "z");
    EXPECT_TRUE(node_is_nil(table_cell_at(rt, 1, 2)));
}

// The tables a parse listed as it went are the ones a walk of the tree
// finds, in the same order: at every depth, after headings, in quotes, in
// lists, and in the footnotes.
TEST_F(ParserTest, ListedTablesAreTheTablesAWalkFinds)
{
    const std::string source = "Top\n"
                               "| a | b |\n|---|---|\n| 1 | 2 |\n"
                               "  words between [*1]\n"
                               "  ;x;y\n  3;4\n\n"
                               "  Inner\n"
                               "    | c | [x] d |\n    |---|---|\n    | 5 | 6 |\n"
                               "  > a quote\n"
                               "    - an item\n"
                               "      | e | f |\n      |---|---|\n      | 7 | 8 |\n"
                               "Second\n"
                               "  ;p;q;r\n  9;10;11\n  12\n\n"
                               "  [*1] a note | g | h |\n";
    // The tables indexed from the parse's list, checked against a walk of
    // another parse of the same text; the walk's offsets come back.
    auto listed_as_walked = [&](const std::string &text) {
        Parsed listed = parse(text);
        Parsed walked = parse(text);
        expect_sound(listed);
        walked.doc.tables_walk = 1;
        document_index_tables(arena, &listed.doc);
        document_index_tables(arena, &walked.doc);
        EXPECT_EQ(listed.doc.extra_list.count, walked.doc.extra_list.count) << text;
        std::vector<u64> offsets;
        for (NodeListCell *l = listed.doc.extra_list.first, *w = walked.doc.extra_list.first; l && w; l = l->next, w = w->next) {
            EXPECT_EQ(l->node->offset, w->node->offset) << text;
            EXPECT_EQ(l->table->column_count, w->table->column_count) << text;
            EXPECT_EQ(l->table->row_count, w->table->row_count) << text;
            offsets.push_back(w->node->offset);
        }
        return offsets;
    };
    EXPECT_GE(listed_as_walked(source).size(), 4u);

    // A table after a quote, at the margin or at the quote's indentation,
    // comes after the table in the quote, not into the paragraph above it.
    for (const char *after : {"Head\n  paragraph\n  > a quote\n    | 0 | z\n  > b\n| 1 | e\n",
                              "Head\n  paragraph\n  > a quote\n    | 0 | z\n  > b\n  | 1 | e\n"}) {
        std::vector<u64> order = listed_as_walked(after);
        ASSERT_EQ(order.size(), 2u) << after;
        EXPECT_LT(order[0], order[1]) << after;
    }

    // A table moved in after the parse is found only by the walk: a
    // document that takes one says so.
    Parsed grafted = parse("Top\n  words\n");
    Parsed table = parse("| a | b |\n|---|---|\n| 1 | 2 |\n");
    MarkupNode *root = node_find_descendant(table.doc.root, kind_table_root, 0, 0);
    ASSERT_FALSE(node_is_nil(root));
    node_detach(root);
    node_append_child(grafted.doc.root->first_child, root);
    grafted.doc.tables_walk = 1;
    document_index_tables(arena, &grafted.doc);
    ASSERT_EQ(grafted.doc.extra_list.count, 1u);
    EXPECT_EQ(grafted.doc.extra_list.first->node, root->first_child);
}

// Whatever the lines, a page shows them in the order they were written:
// every element of the tree (the contents, the document's context and the
// footnotes, which have places of their own, left out) starts at or after
// the one before it in tree order. Documents are made at random from the
// pieces authors write, at several indentations.
TEST_F(ParserTest, BlocksStayInTheOrderOfTheirLines)
{
    const std::vector<std::vector<std::string>> pieces = {
        {"words here"}, {"> a quote"}, {"| a | b", "| 1 | 2"}, {";x;y", "1;2", ""},
        {"```", "code", "```"}, {"``", "remark: r", "``"}, {"- item"}, {"1. item"}, {"---"}, {""},
        {"Sub heading", "  under it"}, {"  deeper words"}, {"> q1", "  > q2", "    more"},
        {"- a", "  - b", "    | c | d"}, {"text [*1]", "", "[*1] note | x | y"}};
    RandomDocuments documents = {pieces, 7};
    for (int round = 0; round < 3000; round += 1) {
        std::string text = documents.next_document();
        Parsed p = parse(text);
        MarkupNode *root = p.doc.root;
        u64 last = 0;
        MarkupNode *n = root;
        while (!node_is_nil(n)) {
            bool elsewhere = node_is_element(n, MarkupKind_Toc) || node_is_element(n, MarkupKind_ContextDocument) ||
                             node_is_element(n, MarkupKind_Footnotes);
            if (elsewhere) {
                // On after the subtree.
                while (n != root && node_is_nil(n->next)) n = n->parent;
                n = n == root ? &markup_nil : n->next;
                continue;
            }
            bool placed = n->node_class == NodeClass_Element && !node_is_element(n, MarkupKind_Reference) &&
                          !node_is_element(n, MarkupKind_FootnoteRef) && !node_is_element(n, MarkupKind_ListItem);
            if (placed) {
                ASSERT_GE(n->offset, last) << text;
                last = n->offset;
            }
            n = node_preorder_next(n, root);
        }
    }
}

// A line indented deeper than a heading's, with no shallower line between
// them, is that heading's: its element lies in the heading's subtree, and
// the page gives it the section's margin. Below a paragraph line it is
// in the paragraph's heading. Documents are made at random as above; lines
// in contexts, and the places of their own (contents, footnotes), are left
// out.
TEST_F(ParserTest, BlocksStayInTheSectionOfTheirHeading)
{
    const std::vector<std::vector<std::string>> pieces = {
        {"words here"}, {"> a quote"}, {"| a | b", "| 1 | 2"}, {";x;y", "1;2", ""},
        {"```", "code", "```"}, {"- item"}, {"1. item"}, {"---"}, {""},
        {"Sub heading", "  under it"}, {"  deeper words"}, {"> q1", "  > q2", "    more"},
        {"- a", "  - b", "    | c | d"}, {"Heading", "  > right under it", "  after the quote"},
        {"Heading", "  | t | u", "  words"}, {"Heading", "  ```", "  code", "  ```"}, {". item", "  > in the item"},
        {"a. one", "b. two"}, {"Heading", "  . item", "  words"}, {"Heading", "  ---", "  after the rule"},
        {"Heading", "  ;p;q", "  1;2", "", "  words"}};
    auto heading_above = [](const MarkupNode *n) {
        for (const MarkupNode *x = n->parent; !node_is_nil(x); x = x->parent)
            if (node_is_element(x, MarkupKind_Heading)) return x;
        return (const MarkupNode *)&markup_nil;
    };
    auto descends = [](const MarkupNode *n, const MarkupNode *ancestor) {
        for (const MarkupNode *x = n->parent; !node_is_nil(x); x = x->parent)
            if (x == ancestor) return true;
        return false;
    };
    RandomDocuments documents = {pieces, 11};
    u64 checked = 0;
    for (int round = 0; round < 3000; round += 1) {
        std::string text = documents.next_document();
        // Each line's first byte of content and its indentation.
        std::vector<u64> first;
        std::vector<u64> indent;
        for (u64 at = 0; at < text.size();) {
            u64 end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            u64 b = at;
            while (b < end && text[b] == ' ') b += 1;
            first.push_back(b < end ? b : ~0ull);
            indent.push_back(b - at);
            at = end + 1;
        }
        // The element that opens each line, found in the tree.
        Parsed p = parse(text);
        std::vector<const MarkupNode *> opens(first.size(), &markup_nil);
        MarkupNode *root = p.doc.root;
        for (MarkupNode *n = root; !node_is_nil(n);) {
            bool elsewhere = node_is_element(n, MarkupKind_Toc) || node_is_element(n, MarkupKind_ContextDocument) ||
                             node_is_element(n, MarkupKind_Footnotes) || node_is_element(n, MarkupKind_Context);
            if (elsewhere) {
                while (n != root && node_is_nil(n->next)) n = n->parent;
                n = n == root ? &markup_nil : n->next;
                continue;
            }
            if (n->node_class == NodeClass_Element && n != root) {
                for (u64 i = 0; i < first.size(); i += 1)
                    if (first[i] == n->offset && node_is_nil(opens[i])) opens[i] = n;
            }
            n = node_preorder_next(n, root);
        }
        // A line of text or a heading is placed by its level, which the
        // levels above may have capped: its indentation is taken as that.
        std::vector<u64> written = indent;
        for (u64 i = 0; i < first.size(); i += 1)
            if (node_is_element(opens[i], MarkupKind_Heading) || node_is_element(opens[i], MarkupKind_Paragraph))
                indent[i] = 2 * (u64)opens[i]->number;
        for (u64 i = 1; i < first.size(); i += 1) {
            const MarkupNode *n = opens[i];
            if (node_is_nil(n) || first[i] == ~0ull) continue;
            u64 h = i;
            while (h > 0 && (first[h - 1] == ~0ull || indent[h - 1] >= indent[i])) h -= 1;
            if (h == 0) continue;
            const MarkupNode *above = opens[h - 1];
            // A heading whose level the one above capped sits at one
            // indentation and acts at another: the lines after it have no
            // single right place.
            if (written[h - 1] != indent[h - 1]) continue;
            // A block (quote, table, fenced block) follows the line before
            // it, whatever its indentation: it is checked right under a
            // heading's line, lines of text wherever they are.
            bool line = node_is_element(n, MarkupKind_Heading) || node_is_element(n, MarkupKind_Paragraph) ||
                        node_is_element(n, MarkupKind_ListItem);
            if (node_is_element(above, MarkupKind_Heading) && (line || (h == i && written[i] > written[h - 1]))) {
                EXPECT_TRUE(descends(n, above)) << "line " << i + 1 << " of\n" << text;
                checked += 1;
            } else if (node_is_element(above, MarkupKind_Paragraph) && line && !node_is_element(n, MarkupKind_Heading)) {
                EXPECT_EQ(heading_above(n), heading_above(above)) << "line " << i + 1 << " of\n" << text;
                checked += 1;
            }
            if (HasFailure()) return;
        }
    }
    EXPECT_GT(checked, 3000u);
}

//- hostile input

// Hostile input of every shape parses completely, to a sound tree, with
// no recursion that a deep nesting could overflow.
TEST_F(ParserTest, HostileInputParsesToASoundTree)
{
    std::string bytes, soup, lists, contexts;
    u64 state = 12345;
    for (int i = 0; i < 200000; i += 1) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        bytes += (char)(state >> 56);
    }
    const char *pieces[] = {"``", "`", "```", "[", "]", "(", ")", "_", "__", "|", ";", ">", "---", "~{", "}~",
                            "\"", "'", "\\", "[*1]", "[#2]", "[#3]_", "[x]", ". ", "1. ", "\n", "  ", "    ", "a",
                            "title:", "\"/a/b.png\"", "\"http://x.y\"", "//", "=", "#", "*"};
    state = 99;
    for (int i = 0; i < 100000; i += 1) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        soup += pieces[(state >> 33) % array_count(pieces)];
    }
    // Every "``" line closes what the one before opened; lists and quotes
    // nest as deep as indentation lets them, then fall back.
    for (int i = 0; i < 100000; i += 1) {
        lists += std::string((i % 200) * 2, ' ') + ". item\n";
        contexts += std::string((i % 100) * 2, ' ') + "``\n" + std::string((i % 100) * 2, ' ') + ". x\n";
    }
    const std::string cases[] = {
        bytes, std::string("a\0b\r\rc\xff\xfe\x80\n  \0[\0]\0", 16), soup,
        repeat("``\n", 100000), repeat("> ", 100000) + "x\n", "H\n" + lists, contexts,
        "H\n  " + repeat("``a | ", 100000) + "\n",
        // Runs of marks stay linear.
        "H\n  " + repeat("[", 100000) + "\n", "H\n  " + repeat("]", 100000) + "\n", "H\n  " + repeat("_", 100001) + "\n",
        "H\n  " + repeat("`", 100001) + "\n", "H\n  " + repeat("\"", 100001) + "\n", "H\n  " + repeat("(", 100000) + "\n",
        "H\n  \"a.org/x.png\"(" + repeat("a ", 100000) + "\n", "H\n  `code ~{raw ```fence " + repeat("word ", 10000),
    };
    for (size_t i = 0; i < std::size(cases); i += 1) {
        SCOPED_TRACE("case " + std::to_string(i));
        ArenaTemp temp = temp_begin(arena);
        expect_sound(parse(cases[i]));
        temp_end(temp);
    }
}

TEST_F(ParserTest, TenMegabyteLineAndMillionBlankLines)
{
    Parsed p = parse("Heading\n  " + std::string(10u << 20, 'x') + " end\n");
    expect_sound(p);
    MarkupNode *paragraph = p.doc.root->first_child->last_child;
    ASSERT_TRUE(node_is_element(paragraph, MarkupKind_Paragraph));
    // The word and the one after its blank are one run of the line.
    EXPECT_EQ(paragraph->first_child->name.size, (10u << 20) + 4);
    EXPECT_EQ(s(paragraph->first_child->name).substr((10u << 20) - 1), "x end");

    Parsed blank = parse(std::string(1000000, '\n') + "Heading\n" + std::string(1000000, '\r'));
    expect_sound(blank);
    EXPECT_EQ(blank.doc.root->child_count, 2u);   // the heading and the table of contents
}

TEST_F(ParserTest, DeepFootnotesAndDescriptionsUseNoStack)
{
    // Each marker opens an empty footnote, so each one defines the next.
    Parsed footnotes = parse("H\n" + repeat("[*1]", 100000) + "\n");
    expect_sound(footnotes);
    EXPECT_EQ(footnotes.doc.footnotes->first_child->child_count, 100000u);

    Parsed descs = parse("H\n  x" + repeat("[#1](", 100000) + "\n");
    expect_sound(descs);
    EXPECT_GE(markup_tree_check(descs.doc.root).depth, 200000u);
    EXPECT_EQ(descs.doc.message_count, 0u);   // an unclosed description is no error

    // A dump of a deep tree stops indenting.
    Parsed p = parse("H\n  x" + repeat("[#1](", 2000) + "\n");
    Str dump = markup_tree_dump(arena, &p.doc, str_lit("t.wyn"), p.text);
    std::string text = s(dump);
    EXPECT_NE(text.find("(3000) element"), std::string::npos);
    EXPECT_EQ(text.find(std::string(2 * 65, ' ')), std::string::npos);
}

} // namespace

// A hostile document must not cost many times its own size: tokens, nodes
// and the parser's own records together stay under 64 bytes per input byte,
// whatever the bytes are. Runs of symbols would otherwise make one node each.
TEST(ParserMemory, HostileBytesCostLittleAndMessagesPastTheLimitAreCounted)
{
    const u64 size = MiB(4);
    std::string nuls(size, '\0');
    std::string punctuation;
    const char marks[] = "!?%&$*+,.:/#(){}^~";
    for (u64 i = 0; punctuation.size() < size; i += 1) punctuation += marks[(i * 7 + i / 31) % (sizeof(marks) - 1)];
    std::string mixed;
    u64 seed = 0x9E3779B97F4A7C15ull;
    while (mixed.size() < size) {
        seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
        mixed += (char)(seed >> 56);
    }

    // Pieces that each made a node of their own once: a word and a symbol
    // in turn, brackets, marks, double table separators, one-letter words.
    std::string glued = repeat("x!", size / 2), brackets(size, '['), marks_at(size, '@'), equals(size, '=');
    std::string bars(size, '|'), words = repeat("a ", size / 2), bang_lines = repeat(std::string(30, '!') + "\n", size / 31);

    struct Case { const char *name; const std::string *text; };
    for (Case c : {Case{"NUL bytes", &nuls}, Case{"punctuation", &punctuation}, Case{"random bytes", &mixed},
                   Case{"x!", &glued}, Case{"[", &brackets}, Case{"@", &marks_at}, Case{"=", &equals},
                   Case{"|", &bars}, Case{"a ", &words}, Case{"lines of !", &bang_lines}}) {
        // The tree and messages: the tokens live on scratch and are gone
        // by the time the tree exists (the peak is the hostile-RSS test's).
        Arena *nodes = arena_alloc(GiB(4), MiB(1));
        Str text = Str{c.text->data(), c.text->size()};
        markup_parse(nodes, text, nullptr);
        u64 used = arena_pos(nodes);
        EXPECT_LE(used, 64 * text.size) << c.name << ": " << used / text.size << " bytes per input byte";
        arena_release(nodes);
    }

    // A flood of mistakes keeps the first messages and counts the rest: a
    // megabyte of "]" must not hold a message, an anchor and a text per byte.
    std::string closers = "Heading\n  " + std::string(MiB(1), ']') + "\n";
    Arena *nodes = arena_alloc(GiB(1), MiB(1));
    Str text = Str{closers.data(), closers.size()};
    ParsedDocument doc = markup_parse(nodes, text, nullptr);
    ASSERT_EQ(doc.message_count, 10001u);   // the first 10,000, then one note
    EXPECT_EQ(doc.max_level, (u32)DiagLevel_Error);
    std::string last(doc.messages.last->text.str, doc.messages.last->text.size);
    EXPECT_EQ(last.rfind(std::to_string(MiB(1) - 10000) + " more messages were not recorded", 0), 0u) << last;
    EXPECT_EQ(doc.messages.last->offset, text.size);
    EXPECT_LE(arena_pos(nodes), 24 * text.size);   // not a message per byte
    arena_release(nodes);
}


// A header key a slip away from a real one is noted, and its line is text:
// a path on it is a value mistyped, not a link to check. The next line's
// links are links again.
TEST_F(ParserTest, AMistypedHeaderKeyIsNotedAndItsPathIsNoLink)
{
    const std::string text = "``\nouput_path: \"/html/a.html\"\nsumary: see \"/b.wyn\"(b)\n``\nH\n  \"/c.pdf\"(c)\n";
    Parsed p = parse(text);
    expect_sound(p);
    ASSERT_EQ(p.doc.message_count, 2u);
    EXPECT_EQ(s(p.doc.messages.first->text), "ouput_path is no header key; did you mean output_path? The line is read as text");
    EXPECT_EQ(s(p.doc.messages.last->text), "sumary is no header key; did you mean summary? The line is read as text");
    EXPECT_EQ(p.doc.output_paths.node_count, 0u);
    ASSERT_EQ(p.doc.file_links.count, 1u);
    EXPECT_EQ(p.doc.file_links.first->node->offset, text.find("\"/c.pdf"));
}

// A picture's description holds a caption in quotes and a size such as
// 640x480; a part that is neither is left out of the page, and told.
TEST_F(ParserTest, APictureDescriptionsPartThatIsNoCaptionAndNoSizeIsTold)
{
    auto told = [&](const std::string &line) { return messages_of("H\n  " + line + "\n"); };
    EXPECT_EQ(told("_\"/c.png\"(\"a cat\", 640 x 480)"),
              "23 \"640 x 480\" in a picture's description is no size, and the page leaves it out: a size is the width "
              "and height in pixels, as in 640x480\n");
    EXPECT_EQ(told("_\"/c.png\"(\"a cat\", 640px)"),
              "23 \"640px\" in a picture's description is no size, and the page leaves it out: a size is the width and "
              "height in pixels, as in 640x480\n");
    EXPECT_EQ(told("_\"/c.png\"(a cat, 640x480)"),
              "14 \"a cat\" in a picture's description is no caption and no size, and the page leaves it out: a "
              "caption is written in quotes, as in (\"a cat\")\n");
    // Once a description; each picture its own.
    EXPECT_EQ(told("_\"/c.png\"(big, 50%) _\"/d.png\"(2x)"),
              "14 \"big\" in a picture's description is no caption and no size, and the page leaves it out: a caption "
              "is written in quotes, as in (\"big\")\n"
              "34 \"2x\" in a picture's description is no size, and the page leaves it out: a size is the width and "
              "height in pixels, as in 640x480\n");
    // A caption, a size in either order or alone, with or without commas,
    // and a plain link's label say nothing.
    for (const char *quiet : {"_\"/c.png\"(\"a, b\", 640x480)", "_\"/c.png\"(64X48 \"c\")", "_\"/c.png\"(\"c\")",
                              "_\"/c.png\"(10x20)", "_\"/c.png\"()", "\"/c.png\"(a cat, 640 x 480)"})
        EXPECT_EQ(told(quiet), "") << quiet;
}

// Raw HTML or a code block left open takes the rest of the document with
// it: told at the opening, with how much it took. Closed, or open on the
// last line alone, nothing is said.
TEST_F(ParserTest, RawHtmlOrACodeBlockLeftOpenIsToldWithTheLinesItTakes)
{
    auto told = [&](const std::string &text) { return messages_of(text); };
    EXPECT_EQ(told("H\n  a ~{<b>x\n  more\nNext\n  text\n"),
              "6 \"~{\" opens raw HTML that is never closed with \"}~\", so the rest of the document (3 more lines) goes "
              "into the page as HTML\n");
    EXPECT_EQ(told("H\n  a ~{<b>x"), "6 \"~{\" opens raw HTML that is never closed with \"}~\", so the rest of the "
                                     "document goes into the page as HTML\n");
    EXPECT_EQ(told("H\n  code\n    ```py\n    x = 1\nNext\n  text"),
              "13 \"```\" opens a code block that is never closed with \"```\", so the rest of the document (3 more "
              "lines) shows as code\n");
    EXPECT_EQ(told("H\n  code\n    ```py with more words\n    x = 1\n"),
              "13 \"```\" opens a code block that is never closed with \"```\", so the rest of the document (1 more "
              "line) shows as code\n");
    EXPECT_EQ(told("H\n  a ```x\n  y\n"), "6 \"```\" opens a code block that is never closed with \"```\", so the rest "
                                          "of the document (1 more line) shows as code\n");
    for (const char *quiet : {"H\n  a ~{<b>x</b>\n  y}~ z\n", "H\n  ```\n  x\n  ```\nN\n", "H\n  a ```x``` b\n",
                              "H\n  a ```x\n", "H\n  ```py\n"})
        EXPECT_EQ(told(quiet), "") << quiet;
}

// A footnote nothing refers to shows with nothing leading to it: noted at
// its definition. An anchor nothing here refers to may be another
// document's link target, and says nothing.
TEST_F(ParserTest, AFootnoteNothingRefersToIsNoted)
{
    const std::string text = "H\n  a[*1] b[*3] and [#4]_ c\n  [*1] one\n  [*2] two\n  [*3] three\n";
    Parsed p = parse(text);
    expect_sound(p);
    ASSERT_EQ(p.doc.message_count, 1u);
    EXPECT_EQ(p.doc.messages.first->level, (u32)DiagLevel_Note);
    EXPECT_EQ(p.doc.messages.first->offset, text.find("[*2]"));
    EXPECT_EQ(s(p.doc.messages.first->text), "footnote 2 is defined but nothing refers to it ([*2] after a word), so it "
                                             "shows below the text with nothing leading to it");
    EXPECT_EQ(parse("H\n  a[*1]\n  [*1] one\n").doc.message_count, 0u);
}

// "mailto:" and "tel:" strings with a label read as links to their author;
// wyn makes none of them, and says how to write one.
TEST_F(ParserTest, AMailOrPhoneLinkIsToldHowToWriteIt)
{
    const std::string text = "H\n  \"mailto:me@example.org\"(write to me) and \"tel:+4912345\"()\n";
    Parsed p = parse(text);
    expect_sound(p);
    ASSERT_EQ(p.doc.message_count, 2u);
    EXPECT_EQ(p.doc.messages.first->offset, text.find("\"mailto"));
    EXPECT_EQ(s(p.doc.messages.first->text), "\"mailto:me@example.org\" is text, not a link: wyn links files and web "
                                             "addresses; a mail link is written as raw HTML, as in "
                                             "~{<a href=\"mailto:me@example.org\">write to me</a>}~");
    EXPECT_EQ(s(p.doc.messages.last->text), "\"tel:+4912345\" is text, not a link: wyn links files and web addresses; a "
                                             "phone link is written as raw HTML, as in ~{<a href=\"tel:+4912345\">"
                                             "+4912345</a>}~");
    // Without a label it is an address shown as text, as the author may mean.
    EXPECT_EQ(parse("H\n  write to \"mailto:me@example.org\" now\n").doc.message_count, 0u);
}

// Front matter as other generators write it is text to wyn: told once, at
// its first line, and its values are no links to check.
TEST_F(ParserTest, FrontMatterBetweenDashesIsToldAndItsValuesAreNoLinks)
{
    const char *told = "\"---\" starts no header here: wyn's header goes between two lines of two backticks (``), so "
                       "these lines are text and the document has no header (no title, no output_path)";
    Parsed p = parse_told_once("---\ntitle: T\noutput_path: \"/html/a.html\"\n---\nH\n  \"/b.pdf\"(b)\n", 0, told);
    ASSERT_EQ(p.doc.file_links.count, 1u) << "the text's link is a link";
    EXPECT_EQ(p.doc.output_paths.node_count, 0u);
    // TOML's, and one never closed: the lines of keys are quiet, the text's links are not.
    p = parse("+++\ntitle = \"T\"\n+++\nH\n  x\n");
    ASSERT_EQ(p.doc.message_count, 1u);
    EXPECT_EQ(s(p.doc.messages.first->text).substr(0, 5), "\"+++\"");
    p = parse("---\noutput_path: \"/html/a.html\"\nH\n  \"/b.pdf\"(b)\n");
    EXPECT_EQ(p.doc.message_count, 1u);
    EXPECT_EQ(p.doc.file_links.count, 1u);
    // A rule at the top, or dashes over text that names no header key.
    for (const char *quiet : {"---\nH\n  x\n", "---\nNote: this is old\n---\n", "H\n  x\n---\ntitle: y\n"})
        EXPECT_EQ(parse(quiet).doc.message_count, 0u) << quiet;
}
