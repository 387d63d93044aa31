// The feed's and the site map's text from plain records: which entries,
// in which order, with which dates, and text that survives XML. Whether
// the files parse as Atom and as a site map, and how they follow a site
// through the real binary, is tests/tools/feed_sitemap_test.py's part.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../test_support.h"
#include "markup/parser.h"
#include "site/feed.h"

namespace {

struct FeedTest : ::testing::Test {
    Arena *arena = arena_alloc(MiB(64), KiB(64));
    ~FeedTest() override { arena_release(arena); }

    DateTime day(u16 year, u8 month, u8 d)
    {
        DateTime date = {};
        date.year = year;
        date.month = month;
        date.day = d;
        return date;
    }
    DocumentFeedFields fields(const char *source)
    {
        ParsedDocument doc = markup_parse(arena, str_copy(arena, str_from_cstring(source)), nullptr);
        return feed_fields_of(arena, &doc);
    }
    // The entries' ids of a feed, in the order written.
    std::vector<std::string> ids(Str feed)
    {
        std::vector<std::string> out;
        std::string text = s(feed);
        for (size_t at = text.find("<entry>"); at != std::string::npos; at = text.find("<entry>", at + 1)) {
            size_t id = text.find("<id>", at) + 4;
            out.push_back(text.substr(id, text.find("</id>", id) - id));
        }
        return out;
    }
};

} // namespace

TEST_F(FeedTest, DatesAreDaysTextSurvivesXmlAndAddressesAreEncoded)
{
    DateTime d = {};
    EXPECT_TRUE(date_read_day(str_lit("2026-03-02"), &d));
    EXPECT_EQ(s(date_rfc3339(arena, d)), "2026-03-02T00:00:00Z");
    EXPECT_EQ(s(date_w3c(arena, d)), "2026-03-02");
    EXPECT_TRUE(date_read_day(str_lit(" 2026.3.2 "), &d));
    EXPECT_EQ(s(date_w3c(arena, d)), "2026-03-02");
    EXPECT_TRUE(date_read_day(str_lit("2024-02-29"), &d));   // a leap year
    EXPECT_TRUE(date_read_day(str_lit("2000-02-29"), &d));
    for (const char *no_day : {"2026-02-29", "1900-02-29", "2026-13-01", "2026-04-31", "2026-00-10", "2026-01-00",
                               "2026", "", "tomorrow", "10000-01-01"})
        EXPECT_FALSE(date_read_day(str_from_cstring(no_day), &d)) << no_day;

    DateTime created = {}, updated = {};
    EXPECT_TRUE(feed_dates_read(str_lit("2026-01-05"), str_lit("2026-02-01"), &created, &updated));
    EXPECT_EQ(s(date_w3c(arena, updated)), "2026-02-01");
    // A change before the creation, or no date at all, is no change.
    EXPECT_TRUE(feed_dates_read(str_lit("2026-01-05"), str_lit("2025-12-31"), &created, &updated));
    EXPECT_EQ(s(date_w3c(arena, updated)), "2026-01-05");
    EXPECT_TRUE(feed_dates_read(str_lit("2026-01-05"), str_lit("soon"), &created, &updated));
    EXPECT_EQ(s(date_w3c(arena, updated)), "2026-01-05");
    // Undated documents still have a last change for the site map.
    EXPECT_FALSE(feed_dates_read(str_lit(""), str_lit("2026-02-01"), &created, &updated));
    EXPECT_EQ(s(date_w3c(arena, updated)), "2026-02-01");
    EXPECT_FALSE(feed_dates_read(str_lit("2026-02-30"), str_lit(""), &created, &updated));
    EXPECT_EQ(updated.year, 0);

    EXPECT_EQ(s(xml_escape(arena, str_lit("Tea & <biscuits> \"or\" 'cake'"))),
              "Tea &amp; &lt;biscuits&gt; &quot;or&quot; &apos;cake&apos;");
    // Characters XML 1.0 cannot hold go; tab and line breaks stay.
    EXPECT_EQ(s(xml_escape(arena, str_lit("a\x01" "b\x7f" "c\td\n"))), "abc\td\n");
    // UTF-8 stays; bytes that are not UTF-8, surrogates and U+FFFF become U+FFFD.
    EXPECT_EQ(s(xml_escape(arena, str_lit("caf\xC3\xA9 \xE2\x82\xAC"))), "caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(s(xml_escape(arena, str_lit("a\xFF" "b\xC3"))), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    // A surrogate and an overlong form are refused by strict readers: byte by
    // byte, as a browser shows them.
    EXPECT_EQ(s(xml_escape(arena, str_lit("\xED\xA0\x80|\xEF\xBF\xBF|\xC0\xAF"))),
              "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD");

    Str site = str_lit("https://example.org/~ada/");
    EXPECT_EQ(s(site_page_url(arena, site, str_lit("/notes/a.html"))), "https://example.org/~ada/notes/a.html");
    EXPECT_EQ(s(site_page_url(arena, site, str_lit("/caf\xC3\xA9 notes.html"))),
              "https://example.org/~ada/caf%C3%A9%20notes.html");
    EXPECT_EQ(s(site_page_url(arena, site, str_lit("/a&b?c#d%.html"))), "https://example.org/~ada/a%26b%3Fc%23d%25.html");
    EXPECT_EQ(s(site_page_url(arena, site, str_lit("index.html"))), "https://example.org/~ada/index.html");
}

TEST_F(FeedTest, HeaderValuesReadAsTheyShow)
{
    DocumentFeedFields f = fields("``\n"
                                  "title: First\n"
                                  "author: Ada   _Byron_\n"
                                  "creation_date: 2026-3-2\n"
                                  "summary: On \"/b.wyn\"(the other page), __in short__ and \"https://example.org/x\"\n"
                                  "excerpt: not used while there is a summary\n"
                                  "creation_date: 1999-01-01\n"
                                  "``\n"
                                  "Heading\n"
                                  "  A paragraph ``last_modification_date: 2030-01-01``\n");
    EXPECT_EQ(s(f.author), "Ada Byron");
    // The first line of a key counts.
    EXPECT_EQ(s(f.creation_date), "2026-3-2");
    EXPECT_EQ(s(f.summary), "On the other page, in short and https://example.org/x");
    // A key in a paragraph's context speaks of the paragraph.
    EXPECT_EQ(s(f.last_modification_date), "");

    f = fields("``\ntitle: x\nexcerpt: The excerpt stands in\n``\n");
    EXPECT_EQ(s(f.summary), "The excerpt stands in");
    f = fields("No header at all\n");
    EXPECT_EQ(s(f.author), "");
    EXPECT_EQ(s(f.summary), "");
    // A record no parser filled (its links are null, not nil) has no header.
    ParsedDocument zero = {};
    f = feed_fields_of(arena, &zero);
    EXPECT_EQ(f.creation_date.size, 0u);
}

TEST_F(FeedTest, TheNewestTwentyNewestFirstAndAnEmptyFeed)
{
    std::vector<std::string> urls;
    std::vector<FeedEntry> entries;
    for (int i = 0; i < 25; i += 1) urls.push_back("https://example.org/n" + std::to_string(i) + ".html");
    for (int i = 0; i < 25; i += 1) {
        FeedEntry e = {};
        e.url = as_str(urls[i]);
        e.title = str_lit("t");
        e.author = str_lit("Ada");
        // Day 1 + i % 13: dates repeat, and equal dates go by address.
        e.created = day(2026, 1, (u8)(1 + i % 13));
        e.updated = e.created;
        entries.push_back(e);
    }
    entries[3].updated = day(2027, 5, 1);
    Str feed = feed_atom(arena, str_lit("https://example.org/"), entries.data(), entries.size(), day(2030, 1, 1));
    std::vector<std::string> expected;
    for (int d = 13; d >= 1 && expected.size() < 20; d -= 1) {
        std::vector<std::string> same;
        for (int i = 0; i < 25; i += 1)
            if (1 + i % 13 == d) same.push_back(urls[i]);
        std::sort(same.begin(), same.end());
        for (const std::string &u : same)
            if (expected.size() < 20) expected.push_back(u);
    }
    EXPECT_EQ(ids(feed), expected);
    // The feed is as new as its newest change, not as the day it was made.
    EXPECT_NE(s(feed).find("  <updated>2027-05-01T00:00:00Z</updated>\n  <generator>"), std::string::npos) << s(feed);
    // Every entry has an author: the feed names none of its own.
    EXPECT_EQ(s(feed).find("<author><name>example.org"), std::string::npos);
    // The order given does not matter.
    std::reverse(entries.begin(), entries.end());
    EXPECT_EQ(s(feed_atom(arena, str_lit("https://example.org/"), entries.data(), entries.size(), day(2030, 1, 1))),
              s(feed));

    Str empty = feed_atom(arena, str_lit("https://example.org/~ada/"), nullptr, 0, day(2030, 1, 2));
    EXPECT_EQ(s(empty), "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                        "<feed xmlns=\"http://www.w3.org/2005/Atom\">\n"
                        "  <title>example.org/~ada</title>\n"
                        "  <id>https://example.org/~ada/</id>\n"
                        "  <link rel=\"alternate\" type=\"text/html\" href=\"https://example.org/~ada/\"/>\n"
                        "  <link rel=\"self\" type=\"application/atom+xml\" href=\"https://example.org/~ada/feed.xml\"/>\n"
                        "  <updated>2030-01-02T00:00:00Z</updated>\n"
                        "  <generator>wyn</generator>\n"
                        "</feed>\n");
    FeedEntry entry = {};
    entry.url = str_lit("https://example.org/~ada/a.html");
    entry.created = entry.updated = day(2026, 1, 1);
    Str anonymous = feed_atom(arena, str_lit("https://example.org/~ada/"), &entry, 1, day(2030, 1, 2));
    // No author anywhere would leave the entry without one: the feed names the site.
    EXPECT_NE(s(anonymous).find("  <author><name>example.org/~ada</name></author>\n"), std::string::npos) << s(anonymous);
    // No title: the address stands in, as a reader needs one.
    EXPECT_NE(s(anonymous).find("    <title>https://example.org/~ada/a.html</title>\n"), std::string::npos) << s(anonymous);
    EXPECT_EQ(s(anonymous).find("<summary>"), std::string::npos);
}

TEST_F(FeedTest, TheSiteMapListsEachAddressOnceInOrder)
{
    SitemapEntry entries[] = {
        {str_lit("https://example.org/b.html"), day(2026, 2, 1)},
        {str_lit("https://example.org/a&b.html"), {}},
        {str_lit("https://example.org/b.html"), day(2020, 1, 1)},   // named by a second document
        {str_lit("https://example.org/a.html"), day(2026, 1, 9)},
    };
    EXPECT_EQ(s(sitemap_xml(arena, entries, 4)),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\n"
              "  <url><loc>https://example.org/a&amp;b.html</loc></url>\n"
              "  <url><loc>https://example.org/a.html</loc><lastmod>2026-01-09</lastmod></url>\n"
              "  <url><loc>https://example.org/b.html</loc><lastmod>2026-02-01</lastmod></url>\n"
              "</urlset>\n");

    // The protocol's limit holds whatever the site holds.
    std::vector<std::string> urls;
    for (u64 i = 0; i < sitemap_entry_limit + 10; i += 1) urls.push_back("https://example.org/" + std::to_string(i));
    std::vector<SitemapEntry> many;
    for (const std::string &u : urls) many.push_back(SitemapEntry{as_str(u), {}});
    std::string text = s(sitemap_xml(arena, many.data(), many.size()));
    u64 count = 0;
    for (size_t at = text.find("<url>"); at != std::string::npos; at = text.find("<url>", at + 1)) count += 1;
    EXPECT_EQ(count, sitemap_entry_limit);
}
