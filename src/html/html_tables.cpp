// html/html_tables.cpp: the tag and attribute rows and their lookups.
#include "html/html_tables.h"

//- the tag table
//
// Rows are copied as the vocabulary was drawn, quirks included: `footer` and
// `a` lack a final ";", `input` lists "form;p", `source` names `picture`
// (which has no row, so a `source` never finds that parent), and `template`
// is displayed as empty but still has content and a closing tag.

constexpr HtmlTagInfo html_tag_table[HtmlTag_Count] = {
    {str_lit("details"), 1, 0, 3, 2, 2, str_lit("body;"), str_lit("")},
    {str_lit("address"), 2, 0, 5, 2, 2, str_lit("body;p;div;span;li;"), str_lit("")},
    {str_lit("summary"), 3, 1, 3, 3, 2, str_lit("details;"), str_lit("")},
    {str_lit("meta"), 4, 0, 7, 1, 8, str_lit("head;"), str_lit("")},
    {str_lit("base"), 5, 0, 7, 1, 8, str_lit("head;"), str_lit("")},
    {str_lit("link"), 6, 0, 5, 1, 8, str_lit("head;body;"), str_lit("")},
    {str_lit("style"), 7, 0, 6, 2, 1, str_lit("head;body;"), str_lit("")},
    {str_lit("script"), 8, 0, 7, 2, 1, str_lit("head;body;"), str_lit("")},
    {str_lit("noscript"), 9, 0, 7, 2, 2, str_lit("head;body;"), str_lit("")},
    {str_lit("header"), 10, 0, 2, 2, 2, str_lit("body;section;article;aside;nav;header;footer;"), str_lit("")},
    {str_lit("nav"), 11, 0, 2, 2, 2, str_lit("body;section;article;aside;header;footer;"), str_lit("")},
    {str_lit("main"), 12, 0, 2, 2, 2, str_lit("body;"), str_lit("")},
    {str_lit("pre"), 13, 0, 2, 2, 1, str_lit("body;section;article;aside;footer;header;nav;"), str_lit("")},
    {str_lit("code"), 14, 0, 2, 3, 1, str_lit("body;section;article;aside;footer;header;nav;pre;p;li;sup;span;h1;h2;h3;h4;h5;h6;td;th;"), str_lit("")},
    {str_lit("q"), 15, 0, 2, 3, 2, str_lit("body;section;article;aside;footer;header;nav;pre;p;"), str_lit("")},
    {str_lit("section"), 16, 0, 2, 2, 2, str_lit("body;article;aside;footer;header;nav;main;"), str_lit("")},
    {str_lit("article"), 17, 0, 2, 2, 2, str_lit("body;section;aside;footer;header;nav;"), str_lit("")},
    {str_lit("aside"), 18, 0, 2, 2, 2, str_lit("body;section;article;footer;header;nav;"), str_lit("")},
    {str_lit("footer"), 19, 0, 2, 2, 2, str_lit("body;section;article;aside;nav"), str_lit("")},
    {str_lit("h1"), 20, 0, 4, 2, 2, str_lit("body;section;article;aside;footer;header;nav;div;"), str_lit("")},
    {str_lit("h2"), 21, 0, 4, 2, 2, str_lit("body;section;article;aside;footer;header;nav;div;"), str_lit("")},
    {str_lit("h3"), 22, 0, 4, 2, 2, str_lit("body;section;article;aside;footer;header;nav;div;"), str_lit("")},
    {str_lit("h4"), 23, 0, 4, 2, 2, str_lit("body;section;article;aside;footer;header;nav;div;"), str_lit("")},
    {str_lit("h5"), 24, 0, 4, 2, 2, str_lit("body;section;article;aside;footer;header;nav;div;"), str_lit("")},
    {str_lit("h6"), 25, 0, 4, 2, 2, str_lit("body;section;article;aside;footer;header;nav;div;"), str_lit("")},
    {str_lit("p"), 26, 0, 4, 2, 6, str_lit("body;section;article;aside;footer;header;nav;div;span;"), str_lit("")},
    {str_lit("strong"), 27, 0, 4, 2, 6, str_lit("p;"), str_lit("")},
    {str_lit("i"), 28, 0, 4, 3, 6, str_lit("p;"), str_lit("")},
    {str_lit("em"), 29, 0, 4, 3, 6, str_lit("p;"), str_lit("")},
    {str_lit("u"), 30, 0, 4, 2, 6, str_lit("p;"), str_lit("")},
    {str_lit("hr"), 31, 0, 6, 1, 8, str_lit("body;section;article;aside;footer;header;nav;div;"), str_lit("")},
    {str_lit("br"), 32, 0, 6, 1, 8, str_lit("body;section;article;aside;footer;header;nav;p;div;"), str_lit("")},
    {str_lit("blockquote"), 33, 0, 4, 2, 2, str_lit("body;section;article;aside;footer;header;nav;"), str_lit("")},
    {str_lit("ol"), 34, 0, 4, 2, 2, str_lit("body;section;article;aside;footer;header;nav;div;li;"), str_lit("")},
    {str_lit("ul"), 35, 0, 4, 2, 2, str_lit("body;section;article;aside;footer;header;nav;div;li;"), str_lit("")},
    {str_lit("li"), 36, 0, 4, 2, 2, str_lit("ul;ol;"), str_lit("")},
    {str_lit("dl"), 37, 0, 4, 2, 2, str_lit("body;section;article;aside;footer;header;nav;"), str_lit("")},
    {str_lit("dt"), 38, 0, 4, 3, 2, str_lit("dl;"), str_lit("")},
    {str_lit("dd"), 39, 0, 4, 2, 2, str_lit("dl;"), str_lit("")},
    {str_lit("div"), 40, 0, 6, 2, 2, str_lit("body;section;article;aside;footer;header;nav;a;div;"), str_lit("")},
    {str_lit("span"), 41, 0, 6, 3, 2, str_lit("body;section;article;aside;footer;header;nav;div;p;span;h1;h2;h3;h4;h5;h6;sup;td;th;li;"), str_lit("")},
    {str_lit("a"), 42, 0, 5, 3, 0, str_lit("body;section;article;aside;footer;header;nav;p;div;span;li;h1;h2;h3;h4;h5;h6;sup;td;th"), str_lit("")},
    {str_lit("img"), 43, 0, 8, 1, 8, str_lit("body;section;article;aside;footer;header;nav;div;a;"), str_lit("")},
    {str_lit("figure"), 44, 0, 6, 2, 6, str_lit("body;section;article;aside;footer;header;nav;"), str_lit("")},
    {str_lit("figcaption"), 45, 0, 4, 2, 6, str_lit("figure;"), str_lit("")},
    {str_lit("table"), 46, 0, 6, 2, 2, str_lit("body;section;article;aside;footer;header;nav;div;"), str_lit("")},
    {str_lit("thead"), 47, 0, 6, 2, 2, str_lit("table;"), str_lit("")},
    {str_lit("tbody"), 48, 0, 6, 2, 2, str_lit("table;"), str_lit("")},
    {str_lit("tfoot"), 49, 0, 6, 2, 6, str_lit("table;"), str_lit("")},
    {str_lit("tr"), 50, 0, 6, 2, 6, str_lit("table;thead;tbody;tfoot;"), str_lit("")},
    {str_lit("th"), 51, 0, 6, 2, 6, str_lit("tr;"), str_lit("")},
    {str_lit("td"), 52, 0, 6, 2, 6, str_lit("tr;"), str_lit("")},
    {str_lit("form"), 53, 0, 9, 2, 0, str_lit("body;section;article;aside;footer;header;nav;div;"), str_lit("")},
    {str_lit("input"), 54, 0, 9, 1, 8, str_lit("form;p"), str_lit("")},
    {str_lit("button"), 55, 0, 9, 3, 0, str_lit("form;body;section;article;aside;footer;header;nav;div;"), str_lit("")},
    {str_lit("select"), 56, 0, 9, 3, 0, str_lit("form;"), str_lit("")},
    {str_lit("option"), 57, 0, 9, 3, 0, str_lit("select;"), str_lit("")},
    {str_lit("textarea"), 58, 0, 9, 3, 0, str_lit("form;"), str_lit("")},
    {str_lit("fieldset"), 59, 0, 9, 2, 2, str_lit("form;"), str_lit("")},
    {str_lit("legend"), 60, 0, 9, 3, 2, str_lit("fieldset;"), str_lit("")},
    {str_lit("label"), 61, 0, 9, 3, 2, str_lit("form;div;fieldset;"), str_lit("")},
    {str_lit("iframe"), 62, 0, 8, 2, 2, str_lit("body;section;article;aside;footer;header;nav;div;"), str_lit("")},
    {str_lit("canvas"), 63, 0, 8, 2, 2, str_lit("body;section;article;aside;footer;header;nav;div;"), str_lit("")},
    {str_lit("audio"), 64, 0, 8, 2, 2, str_lit("body;section;article;aside;footer;header;nav;div;"), str_lit("")},
    {str_lit("video"), 65, 0, 8, 2, 2, str_lit("body;section;article;aside;footer;header;nav;div;"), str_lit("")},
    {str_lit("path"), 66, 0, 6, 1, 8, str_lit("svg;"), str_lit("")},
    {str_lit("g"), 67, 0, 6, 2, 2, str_lit("svg;"), str_lit("")},
    {str_lit("svg"), 68, 0, 6, 2, 2, str_lit("body;section;article;aside;footer;header;nav;div;"), str_lit("")},
    {str_lit("rect"), 69, 0, 6, 3, 2, str_lit("svg;"), str_lit("")},
    {str_lit("circle"), 70, 0, 6, 3, 2, str_lit("body;section;article;aside;footer;header;nav;div;"), str_lit("")},
    {str_lit("time"), 71, 0, 10, 3, 2, str_lit("body;"), str_lit("")},
    {str_lit("source"), 72, 0, 8, 1, 8, str_lit("audio;video;picture;"), str_lit("")},
    {str_lit("sup"), 73, 0, 2, 3, 2, str_lit("body;section;article;aside;footer;header;nav;p;li;h1;h2;h3;h4;h5;h6;td;th;"), str_lit("")},
    {str_lit("track"), 74, 0, 8, 1, 8, str_lit("audio;video;"), str_lit("")},
    {str_lit("template"), 75, 0, 8, 1, 2, str_lit("body;section;article;aside;footer;header;nav;div;"), str_lit("")},
    {str_lit("embed"), 76, 0, 8, 1, 8, str_lit("body;section;article;aside;footer;header;nav;div;"), str_lit("")},
    {str_lit("object"), 77, 0, 8, 2, 6, str_lit("body;section;article;aside;footer;header;nav;div;"), str_lit("")},
    {str_lit("title"), 78, 1, 4, 3, 2, str_lit("head;"), str_lit("")},
    {str_lit("!DOCTYPE"), 79, 1, 7, 1, 8, str_lit("root;"), str_lit("html;")},
    {str_lit("html"), 80, 1, 2, 2, 2, str_lit("root;"), str_lit("lang;")},
    {str_lit("head"), 81, 1, 2, 2, 2, str_lit("html;"), str_lit("")},
    {str_lit("body"), 82, 1, 2, 2, 2, str_lit("html;"), str_lit("")},
};

const HtmlTagInfo html_tag_empty = {};

//- the attribute table
//
// "data-* " ends in a blank: it is the row that every unknown attribute name
// is recorded against, and no attribute written in a template can match it.

constexpr HtmlAttrInfo html_attr_table[HtmlAttr_Count] = {
    {str_lit("accept"), 0, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("accept-charset"), 1, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("as"), 2, 1, 0x12, str_lit(""), str_lit("")},
    {str_lit("action"), 3, 1, 0x00, str_lit(""), str_lit("")},
    {str_lit("alt"), 4, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("async"), 5, 2, 0x06, str_lit(""), str_lit("")},
    {str_lit("autoplay"), 6, 2, 0x06, str_lit(""), str_lit("")},
    {str_lit("checked"), 7, 2, 0x06, str_lit(""), str_lit("")},
    {str_lit("cite"), 8, 1, 0x00, str_lit(""), str_lit("")},
    {str_lit("class"), 9, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("colspan"), 10, 3, 0x08, str_lit(""), str_lit("")},
    {str_lit("controls"), 11, 2, 0x06, str_lit(""), str_lit("")},
    {str_lit("coords"), 12, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("content"), 13, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("crossorigin"), 14, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("charset"), 15, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("data-* "), 16, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("datetime"), 17, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("d"), 18, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("defer"), 19, 2, 0x06, str_lit(""), str_lit("")},
    {str_lit("disabled"), 20, 2, 0x06, str_lit(""), str_lit("")},
    {str_lit("for"), 21, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("is"), 22, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("fetchpriority"), 23, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("fill"), 24, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("form"), 25, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("formaction"), 26, 1, 0x00, str_lit(""), str_lit("")},
    {str_lit("headers"), 27, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("html"), 28, 2, 0x00, str_lit(""), str_lit("")},
    {str_lit("height"), 29, 3, 0x08, str_lit(""), str_lit("")},
    {str_lit("hidden"), 30, 2, 0x06, str_lit(""), str_lit("")},
    {str_lit("href"), 31, 5, 0x12, str_lit(""), str_lit("")},
    {str_lit("hreflang"), 32, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("http-equiv"), 33, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("id"), 34, 1, 0x12, str_lit(""), str_lit("")},
    {str_lit("inputmode"), 35, 1, 0x0E, str_lit(""), str_lit("")},
    {str_lit("itemtype"), 36, 1, 0x00, str_lit(""), str_lit("")},
    {str_lit("ismap"), 37, 2, 0x06, str_lit(""), str_lit("")},
    {str_lit("label"), 38, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("lang"), 39, 1, 0x12, str_lit("en"), str_lit("")},
    {str_lit("list"), 40, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("link"), 41, 5, 0x02, str_lit(""), str_lit("")},
    {str_lit("loop"), 42, 2, 0x06, str_lit(""), str_lit("")},
    {str_lit("low"), 43, 3, 0x08, str_lit(""), str_lit("")},
    {str_lit("maxlength"), 44, 3, 0x08, str_lit(""), str_lit("")},
    {str_lit("minlength"), 45, 3, 0x08, str_lit(""), str_lit("")},
    {str_lit("media"), 46, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("min"), 47, 3, 0x08, str_lit(""), str_lit("")},
    {str_lit("multiple"), 48, 2, 0x06, str_lit(""), str_lit("")},
    {str_lit("muted"), 49, 2, 0x06, str_lit(""), str_lit("")},
    {str_lit("name"), 50, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("novalidate"), 51, 2, 0x06, str_lit(""), str_lit("")},
    {str_lit("nonce"), 52, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("optimum"), 53, 3, 0x08, str_lit(""), str_lit("")},
    {str_lit("pattern"), 54, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("placeholder"), 55, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("poster"), 56, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("property"), 57, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("readonly"), 58, 2, 0x06, str_lit(""), str_lit("")},
    {str_lit("rel"), 59, 1, 0x12, str_lit(""), str_lit("")},
    {str_lit("required"), 60, 2, 0x06, str_lit(""), str_lit("")},
    {str_lit("rows"), 61, 3, 0x08, str_lit(""), str_lit("")},
    {str_lit("rowspan"), 62, 3, 0x08, str_lit(""), str_lit("")},
    {str_lit("sandbox"), 63, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("scope"), 64, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("seamless"), 65, 2, 0x06, str_lit(""), str_lit("")},
    {str_lit("size"), 66, 3, 0x08, str_lit(""), str_lit("")},
    {str_lit("sizes"), 67, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("src"), 68, 5, 0x00, str_lit(""), str_lit("")},
    {str_lit("srcdoc"), 69, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("srclang"), 70, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("draggable"), 71, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("style"), 72, 4, 0x02, str_lit(""), str_lit("")},
    {str_lit("tabindex"), 73, 3, 0x08, str_lit(""), str_lit("")},
    {str_lit("target"), 74, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("title"), 75, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("data-title"), 76, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("type"), 77, 1, 0x12, str_lit(""), str_lit("")},
    {str_lit("value"), 78, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("viewbox"), 79, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("width"), 80, 3, 0x08, str_lit(""), str_lit("")},
    {str_lit("wrap"), 81, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("xmlns"), 82, 1, 0x02, str_lit(""), str_lit("")},
    {str_lit("z-index"), 83, 3, 0x18, str_lit(""), str_lit("")},
    {str_lit("todo"), 84, 2, 0x04, str_lit("permit to print todos"), str_lit("")},
    {str_lit("dontFetch"), 85, 2, 0x04, str_lit("permit to disable url checking when enabled"), str_lit("")},
};

const HtmlAttrInfo html_attr_empty = {};

// Code indexes both tables by id; a row out of place would silently give
// every element of that kind the wrong name.
static constexpr bool tag_ids_follow_positions()
{
    for (u32 i = 0; i < HtmlTag_Count; i += 1)
        if (html_tag_table[i].id != i + 1) return false;
    return true;
}
static constexpr bool attr_ids_follow_positions()
{
    for (u32 i = 0; i < HtmlAttr_Count; i += 1)
        if (html_attr_table[i].id != i) return false;
    return true;
}
static_assert(tag_ids_follow_positions(), "a tag row's id is its position plus one");
static_assert(attr_ids_follow_positions(), "an attribute row's id is its position");

static constexpr bool void_rows_are_exactly_void()
{
    for (const HtmlTagInfo &row : html_tag_table)
        if ((row.content & HtmlContent_Void) && row.content != HtmlContent_Void) return false;
    return true;
}
// The serializer tests content == 8, the tree builder tests the bit.
static_assert(void_rows_are_exactly_void(), "a void row holds exactly the void bit");

//- lookups

// Ids equal positions plus one (the static_assert above), so the
// first row with an id is the row at that place: no scan is needed.
const HtmlTagInfo *html_tag_from_id(u32 id)
{
    if (id == 0 || id > array_count(html_tag_table)) return &html_tag_empty;
    return &html_tag_table[id - 1];
}

const HtmlTagInfo *html_tag_from_name(Str name)
{
    if (name.size == 0) return &html_tag_empty;
    u8 first = char_to_lower((u8)name.str[0]);
    for (const HtmlTagInfo &row : html_tag_table)
        if (row.name.size == name.size && char_to_lower((u8)row.name.str[0]) == first &&
            str_match(row.name, name, StrMatch_CaseInsensitive))
            return &row;
    return &html_tag_empty;
}

const HtmlTagInfo *html_tag_from_name_exact(Str name)
{
    for (const HtmlTagInfo &row : html_tag_table)
        if (str_match(row.name, name, 0)) return &row;
    return &html_tag_empty;
}

const HtmlAttrInfo *html_attr_from_name(Str name)
{
    for (const HtmlAttrInfo &row : html_attr_table) {
        // Lengths and first bytes rule out nearly every row before a compare.
        if (row.name.size == name.size && row.name.str[0] == name.str[0] &&
            memcmp(row.name.str, name.str, name.size) == 0)
            return &row;
    }
    return &html_attr_table[HtmlAttr_Data];
}

// Ids equal positions (the static_assert above).
const HtmlAttrInfo *html_attr_from_id(u32 id)
{
    if (id >= array_count(html_attr_table)) return &html_attr_empty;
    return &html_attr_table[id];
}

//- allowed parents

namespace {

struct ParentSet {
    u64 bits[2];   // bit n: tag id n may be the parent
    bool root;     // may stand at the top level
};
static_assert(HtmlTag_Count < 128, "two words hold a bit per tag");

struct ParentSets {
    ParentSet sets[HtmlTag_Count + 1];
};

constexpr u8 lower(char c) { return (u8)(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c); }

constexpr bool same_name_any_case(const char *a, u64 a_size, Str b)
{
    if (a_size != b.size) return false;
    for (u64 i = 0; i < a_size; i += 1)
        if (lower(a[i]) != lower(b.str[i])) return false;
    return true;
}

constexpr ParentSets build_parent_sets()
{
    ParentSets out = {};
    for (u32 child = 1; child <= HtmlTag_Count; child += 1) {
        Str parents = html_tag_table[child - 1].parents;
        u64 start = 0;
        for (u64 i = 0; i <= parents.size; i += 1) {
            if (i < parents.size && parents.str[i] != ';') continue;
            const char *piece = parents.str + start;
            u64 size = i - start;
            start = i + 1;
            if (size == 0) continue;
            if (same_name_any_case(piece, size, Str{"root", 4})) out.sets[child].root = true;
            for (u32 parent = 1; parent <= HtmlTag_Count; parent += 1)
                if (same_name_any_case(piece, size, html_tag_table[parent - 1].name))
                    out.sets[child].bits[parent >> 6] |= 1ull << (parent & 63);
        }
    }
    return out;
}

constexpr ParentSets parent_sets = build_parent_sets();

} // namespace

bool html_tag_allows_parent(u32 child_tag, u32 parent_tag)
{
    if (child_tag == 0 || child_tag > HtmlTag_Count || parent_tag == 0 || parent_tag > HtmlTag_Count) return false;
    return (parent_sets.sets[child_tag].bits[parent_tag >> 6] >> (parent_tag & 63)) & 1;
}

bool html_tag_allows_root(u32 child_tag)
{
    return child_tag && child_tag <= HtmlTag_Count && parent_sets.sets[child_tag].root;
}

StrList html_tag_parents(Arena *arena, u32 tag_id)
{
    StrList list = {};
    Str parents = html_tag_from_id(tag_id)->parents;
    u64 piece_start = 0;
    for (u64 i = 0; i < parents.size; i += 1) {
        if (parents.str[i] != ';') continue;
        str_list_push(arena, &list, str_substr(parents, piece_start, i));
        piece_start = i + 1;
    }
    // Text after the last ";" is a piece; a final ";" leaves nothing after it.
    if (piece_start < parents.size) str_list_push(arena, &list, str_skip(parents, piece_start));
    return list;
}
