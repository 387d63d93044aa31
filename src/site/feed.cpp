// site/feed.cpp: the Atom feed and the site map, as text.
#include "site/feed.h"

#include "markup/header_fields.h"

#include <algorithm>
#include <cstring>

//- what a document gives the feed

// The pieces of a value in reading order. A link shows its label (its
// "desc") when it has one and its address otherwise; emphasis marks show
// nothing but keep the blank after them.
static void value_pieces(Arena *arena, MarkupNode *node, StrList *out)
{
    for (MarkupNode *c = node->first_child; !node_is_nil(c); c = c->next) {
        if (c->node_class == NodeClass_Text) {
            Str text = (c->flags & NodeFlag_EmphasisMarks) ? str_empty() : c->text;
            str_list_pushf(arena, out, "%S%*s", text, (int)min_of<u64>(c->space_after, run_blanks_max), "");
            continue;
        }
        if (c->node_class != NodeClass_Element) continue;
        MarkupNode *label = &markup_nil;
        if (node_is_element(c, MarkupKind_LinkFile) || node_is_element(c, MarkupKind_LinkHttp))
            for (MarkupNode *d = c->first_child; !node_is_nil(d); d = d->next)
                if (node_is_element(d, MarkupKind_Desc)) label = d;
        value_pieces(arena, node_is_nil(label) ? c : label, out);
        if (c->space_after) str_list_pushf(arena, out, "%*s", (int)min_of<u64>(c->space_after, run_blanks_max), "");
    }
}

Str header_value_text(Arena *arena, MarkupNode *field)
{
    if (node_is_nil(field)) return str_empty();
    ArenaTemp scratch = scratch_begin(&arena, 1);
    StrList pieces = {};
    value_pieces(scratch.arena, field, &pieces);
    Str joined = str_trim(str_list_join_plain(scratch.arena, &pieces));
    // Runs of blanks become one, as a reader's eye takes them.
    char *out = (char *)arena_push(arena, joined.size + 1, 1);
    u64 size = 0;
    for (u64 i = 0; out && i < joined.size; i += 1) {
        bool blank = char_is_space((u8)joined.str[i]);
        if (blank && size && out[size - 1] == ' ') continue;
        out[size++] = blank ? ' ' : joined.str[i];
    }
    Str result = out ? Str{out, size} : str_empty();
    scratch_end(scratch);
    return result;
}

DocumentFeedFields feed_fields_of(Arena *arena, const ParsedDocument *doc)
{
    DocumentFeedFields fields = {};
    if (node_is_nil(doc->context_document)) return fields;
    MarkupNode *first[header_field_count + 1] = {};
    // The document's own header: the first line of each key in its
    // context (a key inside a paragraph's context speaks of that paragraph).
    for (MarkupNode *n = doc->context_document->first_child; !node_is_nil(n); n = n->next) {
        if (n->node_class != NodeClass_HeaderField || !n->field || n->field->id > header_field_count) continue;
        if (!first[n->field->id]) first[n->field->id] = n;
    }
    auto text = [&](u32 id) { return first[id] ? header_value_text(arena, first[id]) : str_empty(); };
    fields.author = text(HeaderField_Author);
    fields.creation_date = text(HeaderField_CreationDate);
    fields.last_modification_date = text(HeaderField_LastModificationDate);
    fields.summary = text(HeaderField_Summary);
    if (!fields.summary.size) fields.summary = text(HeaderField_Excerpt);
    return fields;
}

//- dates

bool feed_dates_read(Str creation_date, Str modification_date, DateTime *created, DateTime *updated)
{
    *created = DateTime{};
    *updated = DateTime{};
    bool dated = date_read_day(creation_date, created);
    DateTime modified = {};
    bool changed = date_read_day(modification_date, &modified);
    if (changed && (!dated || date_day_key(modified) >= date_day_key(*created))) *updated = modified;
    else if (dated) *updated = *created;
    return dated;
}

Str date_rfc3339(Arena *arena, DateTime date)
{
    return str_pushf(arena, "%04u-%02u-%02uT%02u:%02u:%02uZ", (u32)date.year, (u32)date.month, (u32)date.day,
                     (u32)date.hour, (u32)date.minute, (u32)date.second);
}

Str date_w3c(Arena *arena, DateTime date)
{
    return str_pushf(arena, "%04u-%02u-%02u", (u32)date.year, (u32)date.month, (u32)date.day);
}

//- addresses

Str site_page_url(Arena *arena, Str site_url, Str web_path)
{
    while (web_path.size && web_path.str[0] == '/') web_path = str_skip(web_path, 1);
    char *out = (char *)arena_push(arena, site_url.size + web_path.size * 3 + 1, 1);
    if (!out) return str_empty();
    memcpy(out, site_url.str, site_url.size);
    u64 size = site_url.size;
    for (u64 i = 0; i < web_path.size; i += 1) {
        u8 c = (u8)web_path.str[i];
        bool plain = char_is_alpha(c) || char_is_digit(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
        if (plain) {
            out[size++] = (char)c;
        } else {
            out[size++] = '%';
            out[size++] = "0123456789ABCDEF"[c >> 4];
            out[size++] = "0123456789ABCDEF"[c & 15];
        }
    }
    out[size] = 0;
    return Str{out, size};
}

Str xml_escape(Arena *arena, Str text)
{
    ArenaTemp scratch = scratch_begin(&arena, 1);
    StrList pieces = {};
    u64 plain_from = 0;
    const u8 *bytes = (const u8 *)text.str;
    for (u64 i = 0; i < text.size;) {
        u8 c = bytes[i];
        Str instead = {};
        u64 taken = 1;
        bool replace = true;
        if (c == '&') instead = str_lit("&amp;");
        else if (c == '<') instead = str_lit("&lt;");
        else if (c == '>') instead = str_lit("&gt;");
        else if (c == '"') instead = str_lit("&quot;");
        else if (c == '\'') instead = str_lit("&apos;");
        else if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') instead = str_empty();   // XML 1.0 has no such character
        else if (c == 0x7f) instead = str_empty();
        else if (c < 0x80) replace = false;
        else {
            // A sequence a strict reader refuses (an overlong form, a
            // surrogate, a byte out of place) makes the whole feed unreadable:
            // each of its bytes is replaced, as a browser replaces them.
            // U+FFFE and U+FFFF are no XML characters either.
            bool strict = utf8_first_invalid(str_substr(text, i, min_of<u64>(i + 4, text.size))) != 0;
            DecodedChar d = utf8_decode(bytes + i, text.size - i);
            if (!strict) {
                instead = str_lit("\xEF\xBF\xBD");
            } else {
                taken = d.size;
                if (d.codepoint == 0xFFFE || d.codepoint == 0xFFFF) instead = str_lit("\xEF\xBF\xBD");
                else replace = false;
            }
        }
        if (replace) {
            str_list_push(scratch.arena, &pieces, str_substr(text, plain_from, i));
            str_list_push(scratch.arena, &pieces, instead);
            plain_from = i + taken;
        }
        i += taken;
    }
    str_list_push(scratch.arena, &pieces, str_substr(text, plain_from, text.size));
    Str result = str_list_join_plain(arena, &pieces);
    scratch_end(scratch);
    return result;
}

//- the feed

// The site's name in the feed: its address without the scheme and the
// final slash ("example.org/~mara").
static Str site_name(Str site_url)
{
    u64 at = str_find(site_url, str_lit("://"), 0, 0);
    Str name = at < site_url.size ? str_skip(site_url, at + 3) : site_url;
    while (name.size && name.str[name.size - 1] == '/') name = str_chop(name, 1);
    return name;
}

Str feed_atom(Arena *arena, Str site_url, const FeedEntry *entries, u64 count, DateTime today)
{
    ArenaTemp scratch = scratch_begin(&arena, 1);
    const FeedEntry **order = push_array<const FeedEntry *>(scratch.arena, count + 1);
    u64 listed = 0;
    for (u64 i = 0; order && i < count; i += 1) order[listed++] = &entries[i];
    std::sort(order, order + listed, [](const FeedEntry *a, const FeedEntry *b) {
        u64 x = date_day_key(a->created), y = date_day_key(b->created);
        return x != y ? x > y : str_less(a->url, b->url);
    });
    if (listed > feed_entry_limit) listed = feed_entry_limit;

    DateTime updated = today;
    bool dated = false;
    bool anonymous = false;
    for (u64 i = 0; i < listed; i += 1) {
        if (!dated || date_day_key(order[i]->updated) > date_day_key(updated)) updated = order[i]->updated;
        dated = true;
        anonymous = anonymous || !order[i]->author.size;
    }
    if (!dated) {
        // Without entries the feed is as new as the day: a reader needs a
        // time, and only the day makes the bytes change.
        updated = DateTime{};
        updated.year = today.year;
        updated.month = today.month;
        updated.day = today.day;
    }

    Str name = xml_escape(scratch.arena, site_name(site_url));
    Str home = xml_escape(scratch.arena, site_url);
    StrList out = {};
    str_list_push(scratch.arena, &out, str_lit("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                                              "<feed xmlns=\"http://www.w3.org/2005/Atom\">\n"));
    str_list_pushf(scratch.arena, &out, "  <title>%S</title>\n  <id>%S</id>\n", name, home);
    str_list_pushf(scratch.arena, &out, "  <link rel=\"alternate\" type=\"text/html\" href=\"%S\"/>\n", home);
    str_list_pushf(scratch.arena, &out, "  <link rel=\"self\" type=\"application/atom+xml\" href=\"%Sfeed.xml\"/>\n", home);
    str_list_pushf(scratch.arena, &out, "  <updated>%S</updated>\n", date_rfc3339(scratch.arena, updated));
    // An entry without an author takes the feed's.
    if (anonymous) str_list_pushf(scratch.arena, &out, "  <author><name>%S</name></author>\n", name);
    str_list_push(scratch.arena, &out, str_lit("  <generator>wyn</generator>\n"));
    for (u64 i = 0; i < listed; i += 1) {
        const FeedEntry *e = order[i];
        Str url = xml_escape(scratch.arena, e->url);
        Str title = e->title.size ? e->title : e->url;
        str_list_push(scratch.arena, &out, str_lit("  <entry>\n"));
        str_list_pushf(scratch.arena, &out, "    <title>%S</title>\n", xml_escape(scratch.arena, title));
        str_list_pushf(scratch.arena, &out, "    <id>%S</id>\n", url);
        str_list_pushf(scratch.arena, &out, "    <link rel=\"alternate\" type=\"text/html\" href=\"%S\"/>\n", url);
        str_list_pushf(scratch.arena, &out, "    <published>%S</published>\n", date_rfc3339(scratch.arena, e->created));
        str_list_pushf(scratch.arena, &out, "    <updated>%S</updated>\n", date_rfc3339(scratch.arena, e->updated));
        if (e->author.size)
            str_list_pushf(scratch.arena, &out, "    <author><name>%S</name></author>\n",
                           xml_escape(scratch.arena, e->author));
        if (e->summary.size)
            str_list_pushf(scratch.arena, &out, "    <summary>%S</summary>\n", xml_escape(scratch.arena, e->summary));
        str_list_push(scratch.arena, &out, str_lit("  </entry>\n"));
    }
    str_list_push(scratch.arena, &out, str_lit("</feed>\n"));
    Str result = str_list_join_plain(arena, &out);
    scratch_end(scratch);
    return result;
}

//- the site map

Str sitemap_xml(Arena *arena, const SitemapEntry *entries, u64 count)
{
    ArenaTemp scratch = scratch_begin(&arena, 1);
    // By address, and within one address in the order given: the first
    // one given is the one kept.
    u64 *order = push_array<u64>(scratch.arena, count + 1);
    for (u64 i = 0; order && i < count; i += 1) order[i] = i;
    if (order)
        std::stable_sort(order, order + count, [&](u64 a, u64 b) { return str_less(entries[a].url, entries[b].url); });
    StrList out = {};
    str_list_push(scratch.arena, &out, str_lit("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                              "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\n"));
    u64 written = 0;
    for (u64 i = 0; order && i < count && written < sitemap_entry_limit; i += 1) {
        const SitemapEntry *e = &entries[order[i]];
        if (i > 0 && str_eq(entries[order[i - 1]].url, e->url)) continue;
        Str loc = xml_escape(scratch.arena, e->url);
        if (e->lastmod.year)
            str_list_pushf(scratch.arena, &out, "  <url><loc>%S</loc><lastmod>%S</lastmod></url>\n", loc,
                           date_w3c(scratch.arena, e->lastmod));
        else
            str_list_pushf(scratch.arena, &out, "  <url><loc>%S</loc></url>\n", loc);
        written += 1;
    }
    str_list_push(scratch.arena, &out, str_lit("</urlset>\n"));
    Str result = str_list_join_plain(arena, &out);
    scratch_end(scratch);
    return result;
}
