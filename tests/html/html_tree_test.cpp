#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../test_support.h"
#include "html/html_tree.h"

// Every link of the subtree agrees with its neighbours and every count with
// the children it counts; the none node is still untouched.
static std::string check_links(HtmlElement *root)
{
    if (html_none.next != &html_none || html_none.parent != &html_none || html_none.first_child != &html_none ||
        html_none.last_child != &html_none || html_none.prev != &html_none || html_none.child_count != 0 ||
        html_none.attributes->count != 0 || html_none.attributes->first)
        return "the none node was written";
    for (HtmlElement *n = root; !html_is_none(n); n = html_walk_next(n, root)) {
        u64 count = 0;
        HtmlElement *prev = &html_none;
        for (HtmlElement *c = n->first_child; !html_is_none(c); c = c->next) {
            if (c->parent != n) return "a child names another parent";
            if (c->prev != prev) return "a previous link is wrong";
            prev = c;
            count += 1;
        }
        if (n->last_child != prev) return "the last child is wrong";
        if (n->child_count != count) return "the child count is wrong";
        u64 attributes = 0;
        HtmlAttributeNode *last = nullptr;
        for (HtmlAttributeNode *a = n->attributes->first; a; a = a->next) {
            attributes += 1;
            last = a;
        }
        if (n->attributes->count != attributes || n->attributes->last != last) return "the attribute list is wrong";
    }
    return "";
}

static std::string serialize(Arena *arena, HtmlElement *root, const HtmlWriteOptions *options = nullptr)
{
    StrList out = {};
    html_serialize(arena, root, &out, options);
    return s(str_list_join_plain(arena, &out));
}

static std::vector<std::string> names(const HtmlElementList &list)
{
    std::vector<std::string> out;
    for (HtmlElementNode *n = list.first; n; n = n->next) {
        HtmlAttribute *id = html_get_attribute(n->element, HtmlAttr_Id);
        out.push_back(s(n->element->tag->name) + (id->values.first ? "#" + s(id->values.first->string) : ""));
    }
    return out;
}

struct HtmlTreeTest : ::testing::Test {
    Arena *arena = arena_alloc(MiB(64), KiB(64));
    ~HtmlTreeTest() override { arena_release(arena); }

    HtmlElement *el(u32 tag, const char *id = nullptr)
    {
        HtmlElement *e = html_element_from_tag(arena, tag);
        if (id) html_set_attribute(arena, e, HtmlAttr_Id, str_copy(arena, str_from_cstring(id)));
        return e;
    }
    // The ids of the elements below `parent`'s content node, in order.
    std::string kids(HtmlElement *parent)
    {
        std::string out;
        HtmlElement *content = html_content_node(parent);
        for (HtmlElement *c = content->first_child; !html_is_none(c); c = c->next) {
            HtmlAttribute *id = html_get_attribute(c, HtmlAttr_Id);
            out += id->values.first ? s(id->values.first->string) : "?";
        }
        return out;
    }
};

//- creation

TEST_F(HtmlTreeTest, ElementsAreBornWithAnEmptyContentNodeAndUnknownsAreHandled)
{
    HtmlElement *p = el(HtmlTag_P);
    EXPECT_EQ(p->type, (u32)HtmlNode_Element);
    EXPECT_EQ(s(p->name), "p");
    ASSERT_EQ(p->child_count, 1u);
    EXPECT_EQ(p->first_child->type, (u32)HtmlNode_Text);
    EXPECT_EQ(p->first_child->text.size, 0u);
    EXPECT_EQ(html_content_node(p), p->first_child);
    EXPECT_EQ(serialize(arena, p), "<p></p>");
    HtmlElement *word = html_append_text(arena, p, str_lit("word"));
    EXPECT_EQ(word->parent, p->first_child);
    EXPECT_EQ(serialize(arena, p), "<p>word</p>");
    EXPECT_EQ(check_links(p), "");

    EXPECT_EQ(html_element_from_tag(arena, 0), &html_none);
    EXPECT_EQ(html_element_from_tag(arena, 83), &html_none);
    HtmlElement *div = html_node_create(arena, HtmlNode_Element, 0x200000, str_lit("DIV"), str_lit("DIV"), 17);
    EXPECT_EQ(div->tag->id, (u32)HtmlTag_Div);
    EXPECT_EQ(div->offset, 17u);
    EXPECT_EQ(div->parser_flags, 0x200000u);
    EXPECT_EQ(div->child_count, 0u);   // only html_element_from_tag adds the content node
    HtmlElement *odd = html_node_create(arena, HtmlNode_Element, 0, str_lit("picture"), str_lit("picture"), 0);
    EXPECT_EQ(odd->tag, &html_tag_empty);
    EXPECT_EQ(odd->next, &html_none);
    EXPECT_NE(odd->attributes, nullptr);
    HtmlElement *text = html_node_create(arena, HtmlNode_Text, 0, str_lit("p"), str_lit("p"), 0);
    EXPECT_EQ(text->tag, &html_tag_empty);

    // Setting a tag turns a link into an image.
    HtmlElement *a = el(HtmlTag_A);
    html_set_attribute(arena, a, HtmlAttr_Src, str_lit("x.jpg"));
    html_set_tag(a, HtmlTag_Img);
    EXPECT_EQ(s(a->name), "img");
    EXPECT_EQ(s(a->text), "img");
    EXPECT_EQ(serialize(arena, a), "<img src=\"x.jpg\">");
    html_set_tag(a, 999);   // not in the table: unchanged
    EXPECT_EQ(a->tag->id, (u32)HtmlTag_Img);
    html_set_tag(&html_none, HtmlTag_Div);
    EXPECT_EQ(html_none.tag, &html_tag_empty);
}

//- structure

TEST_F(HtmlTreeTest, DetachAtTheEdgesInTheMiddleAndByAMove)
{
    HtmlElement *ul = el(HtmlTag_Ul);
    HtmlElement *a = el(HtmlTag_Li, "a"), *b = el(HtmlTag_Li, "b"), *c = el(HtmlTag_Li, "c");
    html_append_content(ul, b);
    html_append_content(ul, c);
    html_prepend_child(html_content_node(ul), a);
    EXPECT_EQ(kids(ul), "abc");
    html_detach(a);
    EXPECT_EQ(kids(ul), "bc");
    EXPECT_EQ(check_links(ul), "");
    html_detach(c);
    EXPECT_EQ(kids(ul), "b");
    EXPECT_EQ(check_links(ul), "");
    html_detach(b);
    EXPECT_EQ(kids(ul), "");
    EXPECT_EQ(html_content_node(ul)->child_count, 0u);
    EXPECT_EQ(check_links(ul), "");
    for (HtmlElement *n : {a, b, c}) {
        EXPECT_EQ(n->parent, &html_none);
        EXPECT_EQ(n->next, &html_none);
        EXPECT_EQ(n->prev, &html_none);
    }
    html_detach(b);   // already detached: nothing happens
    html_detach(&html_none);
    html_detach(nullptr);
    EXPECT_EQ(check_links(ul), "");

    // Moving an attached node leaves its old parent consistent.
    HtmlElement *one = el(HtmlTag_Div, "1"), *two = el(HtmlTag_Div, "2");
    HtmlElement *x = el(HtmlTag_Span, "x"), *y = el(HtmlTag_Span, "y");
    html_append_content(one, x);
    html_append_content(one, y);
    html_append_child(html_content_node(two), x);
    EXPECT_EQ(kids(one), "y");
    EXPECT_EQ(kids(two), "x");
    html_prepend_child(html_content_node(two), y);
    EXPECT_EQ(kids(one), "");
    EXPECT_EQ(kids(two), "yx");
    EXPECT_EQ(check_links(one), "");
    EXPECT_EQ(check_links(two), "");
}

TEST_F(HtmlTreeTest, InsertAtEveryPosition)
{
    HtmlElement *div = el(HtmlTag_Div);
    HtmlElement *a = el(HtmlTag_P, "a"), *b = el(HtmlTag_P, "b");
    html_append_content(div, a);
    html_append_content(div, b);

    EXPECT_EQ(html_insert(a, el(HtmlTag_P, "0"), HtmlInsert_Before), 1u);   // new first child
    EXPECT_EQ(kids(div), "0ab");
    EXPECT_EQ(html_insert(b, el(HtmlTag_P, "1"), HtmlInsert_After), 1u);    // new last child
    EXPECT_EQ(kids(div), "0ab1");
    EXPECT_EQ(html_insert(a, el(HtmlTag_P, "2"), HtmlInsert_After), 1u);
    EXPECT_EQ(kids(div), "0a2b1");
    EXPECT_EQ(html_insert(b, el(HtmlTag_P, "3"), HtmlInsert_Before), 1u);
    EXPECT_EQ(kids(div), "0a23b1");
    HtmlElement *inner = el(HtmlTag_Span, "i");
    html_append_content(a, inner);
    EXPECT_EQ(html_insert(a, el(HtmlTag_Span, "f"), HtmlInsert_FirstContent), 1u);
    EXPECT_EQ(html_insert(a, el(HtmlTag_Span, "l"), HtmlInsert_LastContent), 1u);
    EXPECT_EQ(kids(a), "fil");
    // Moving a node that is already in the tree takes it from its old place.
    EXPECT_EQ(html_insert(b, inner, HtmlInsert_After), 1u);
    EXPECT_EQ(kids(a), "fl");
    EXPECT_EQ(kids(div), "0a23bi1");
    EXPECT_EQ(check_links(div), "");

    HtmlElement *loose = el(HtmlTag_P, "z");
    EXPECT_EQ(html_insert(a, loose, 4), 0u);
    EXPECT_EQ(loose->parent, &html_none);
    EXPECT_EQ(html_insert(a, b, 4), 0u);   // an attached node stays where it is
    EXPECT_EQ(kids(div), "0a23bi1");
    EXPECT_EQ(html_insert(div, loose, HtmlInsert_Before), 0u);   // div has no parent
    EXPECT_EQ(html_insert(a, a, HtmlInsert_After), 0u);
    EXPECT_EQ(html_insert(&html_none, loose, HtmlInsert_LastContent), 0u);
    EXPECT_EQ(html_insert(a, &html_none, HtmlInsert_LastContent), 0u);
    EXPECT_EQ(check_links(div), "");
}

TEST_F(HtmlTreeTest, ContentGoesBelowTheContentNodeOnlyAndNoNodeTakesNothing)
{
    HtmlElement *doc = html_node_create(arena, HtmlNode_Document, 0, str_empty(), str_empty(), 0);
    HtmlElement *body = el(HtmlTag_Body);
    html_append_child(doc, body);
    HtmlElement *p = el(HtmlTag_P);
    // A document has no element to hold content: nothing moves.
    EXPECT_EQ(html_append_content(doc, p), &html_none);
    EXPECT_EQ(p->parent, &html_none);
    EXPECT_EQ(html_append_text(arena, doc, str_lit("x")), &html_none);
    EXPECT_EQ(html_append_content(body, p), body->first_child);
    // Content given to a text node goes below that text node.
    HtmlElement *content = html_content_node(p);
    HtmlElement *t = html_append_text(arena, content, str_lit("t"));
    EXPECT_EQ(t->parent, content);
    // A text node with children writes its text first.
    html_append_text(arena, t, str_lit("!"));
    EXPECT_EQ(serialize(arena, doc), "<body><p>t!</p></body>");
    // An element whose first child is not text still finds its text child.
    HtmlElement *odd = html_node_create(arena, HtmlNode_Element, 0, str_lit("div"), str_lit("div"), 0);
    html_append_child(odd, el(HtmlTag_Br));
    html_append_child(odd, html_node_create(arena, HtmlNode_Text, 0, str_empty(), str_empty(), 0));
    EXPECT_EQ(html_content_node(odd), odd->last_child);
    EXPECT_EQ(check_links(doc), "");

    HtmlElement *lone = el(HtmlTag_P);
    html_append_child(&html_none, lone);
    html_append_child(lone, &html_none);
    html_append_child(nullptr, lone);
    html_prepend_child(&html_none, lone);
    html_append_child(lone, lone);
    EXPECT_EQ(html_append_content(&html_none, lone), &html_none);
    EXPECT_EQ(html_append_text(arena, &html_none, str_lit("x")), &html_none);
    html_set_attribute(arena, &html_none, HtmlAttr_Class, str_lit("x"));
    html_remove_attribute(&html_none, HtmlAttr_Class);
    EXPECT_EQ(html_content_node(nullptr), &html_none);
    EXPECT_EQ(html_nearest_element(&html_none), &html_none);
    EXPECT_EQ(html_find_by_tag(&html_none, HtmlTag_P, 0), &html_none);
    EXPECT_TRUE(html_attribute_is_none(html_get_attribute(&html_none, HtmlAttr_Class)));
    EXPECT_EQ(serialize(arena, &html_none), "");
    EXPECT_EQ(check_links(lone), "");
    EXPECT_EQ(lone->parent, &html_none);
}

//- lookup

TEST_F(HtmlTreeTest, SearchesWalkInDocumentOrderInsideTheSubtree)
{
    HtmlElement *body = el(HtmlTag_Body);
    HtmlElement *first = el(HtmlTag_Div, "first");
    HtmlElement *inner = el(HtmlTag_Div, "inner");
    HtmlElement *second = el(HtmlTag_Div, "second");
    HtmlElement *after = el(HtmlTag_Span, "after");
    html_append_content(body, first);
    html_append_content(first, inner);
    html_append_content(body, second);
    html_append_content(body, after);

    EXPECT_EQ(html_find_by_tag(body, HtmlTag_Div, 0), first);
    EXPECT_EQ(html_find_by_tag(body, HtmlTag_Div, HtmlFind_Last), second);
    EXPECT_EQ(html_find_by_tag(body, HtmlTag_Body, 0), body);
    EXPECT_EQ(html_find_by_tag(body, HtmlTag_Table, 0), &html_none);
    // Never past the start node: `first` has siblings after it.
    EXPECT_EQ(html_find_by_tag(first, HtmlTag_Div, HtmlFind_Last), inner);
    EXPECT_EQ(html_find_by_tag(first, HtmlTag_Span, 0), &html_none);

    html_set_attribute(arena, after, HtmlAttr_Id, str_lit("inner"));
    EXPECT_EQ(html_find_by_id(body, str_lit("inner")), inner);   // the first of two
    EXPECT_EQ(html_find_by_id(body, str_lit("Inner")), &html_none);
    EXPECT_EQ(html_find_by_id(second, str_lit("inner")), &html_none);

    HtmlElementList divs = {};
    html_collect_by_tag(arena, body, HtmlTag_Div, &divs);
    EXPECT_EQ(names(divs), (std::vector<std::string>{"div#first", "div#inner", "div#second"}));
    HtmlElementList children = {};
    html_collect_child_elements(arena, body, 0, &children);
    EXPECT_EQ(children.count, 0u);
    html_collect_child_elements(arena, body, HtmlCollect_ChildElements, &children);
    EXPECT_EQ(names(children), (std::vector<std::string>{"div#first", "div#second", "span#inner"}));

    // The nearest element: itself, above, or the first below the top.
    HtmlElement *doc = html_node_create(arena, HtmlNode_Document, 0, str_empty(), str_empty(), 0);
    HtmlElement *div = el(HtmlTag_Div);
    html_append_child(doc, html_node_create(arena, HtmlNode_Text, 0, str_lit("\n"), str_lit("\n"), 0));
    html_append_child(doc, div);
    HtmlElement *text = html_append_text(arena, div, str_lit("x"));
    EXPECT_EQ(html_nearest_element(div), div);
    EXPECT_EQ(html_nearest_element(text), div);
    EXPECT_EQ(html_nearest_element(doc), div);   // no element above: the first below the top
    EXPECT_EQ(html_nearest_element(doc->first_child), div);
    HtmlElement *lone = html_node_create(arena, HtmlNode_Text, 0, str_lit("x"), str_lit("x"), 0);
    EXPECT_EQ(html_nearest_element(lone), &html_none);

    // Collected by attribute, with all values or any.
    HtmlElement *holder = el(HtmlTag_Body);
    const char *classes[] = {"a b", "a", "b c", "c", ""};
    for (int i = 0; i < 5; i += 1) {
        HtmlElement *d = el(HtmlTag_Div, std::to_string(i).c_str());
        StrList values = str_split(arena, str_from_cstring(classes[i]), str_lit(" "), 0);
        if (values.node_count) html_set_attribute_list(arena, d, HtmlAttr_Class, &values);
        html_append_content(holder, d);
    }
    StrList ab = str_split(arena, str_lit("a b"), str_lit(" "), 0);
    StrList bc = str_split(arena, str_lit("b c"), str_lit(" "), 0);
    HtmlElementList all_ab = {}, any_bc = {}, all_none = {};
    html_collect_by_attribute(arena, holder, HtmlAttr_Class, &ab, &all_ab, 1);
    html_collect_by_attribute(arena, holder, HtmlAttr_Class, &bc, &any_bc, 0);
    StrList nothing = {};
    html_collect_by_attribute(arena, holder, HtmlAttr_Class, &nothing, &all_none, 1);
    EXPECT_EQ(names(all_ab), (std::vector<std::string>{"div#0"}));
    EXPECT_EQ(names(any_bc), (std::vector<std::string>{"div#0", "div#2", "div#3"}));
    // Every element carrying the attribute holds all of no values.
    EXPECT_EQ(names(all_none), (std::vector<std::string>{"div#0", "div#1", "div#2", "div#3"}));
    EXPECT_TRUE(html_has_attribute_value(holder->first_child->first_child, HtmlAttr_Class, str_lit("b")));
    EXPECT_FALSE(html_has_attribute_value(holder->first_child->first_child, HtmlAttr_Class, str_lit("c")));
    EXPECT_FALSE(html_has_attribute_value(holder, HtmlAttr_Class, str_lit("a")));
}

//- attributes

TEST_F(HtmlTreeTest, ListAttributesGrowSingleValuedOnesAreReplacedAndAllGo)
{
    HtmlElement *div = el(HtmlTag_Div);
    html_set_attribute(arena, div, HtmlAttr_Class, str_lit("x"));
    html_set_attribute(arena, div, HtmlAttr_Class, str_lit("y"));
    html_set_attribute(arena, div, HtmlAttr_Id, str_lit("one"));
    html_set_attribute(arena, div, HtmlAttr_Id, str_lit("two"));
    html_set_attribute(arena, div, HtmlAttr_As, str_lit("style"));
    html_set_attribute(arena, div, HtmlAttr_As, str_lit("script"));
    EXPECT_EQ(div->attributes->count, 3u);
    EXPECT_EQ(serialize(arena, div), "<div class=\"x y\" id=\"two\" as=\"script\"></div>");
    StrList values = str_split(arena, str_lit("p q"), str_lit(" "), 0);
    html_set_attribute_list(arena, div, HtmlAttr_Class, &values);
    EXPECT_EQ(values.node_count, 0u);   // the nodes moved into the attribute
    EXPECT_EQ(values.first, nullptr);
    EXPECT_EQ(html_get_attribute(div, HtmlAttr_Class)->values.node_count, 4u);
    // An id the table does not hold gives the none attribute, which takes nothing.
    html_set_attribute(arena, div, 200, str_lit("lost"));
    EXPECT_EQ(div->attributes->count, 3u);
    EXPECT_EQ(check_links(div), "");

    // Removing attributes.
    HtmlElement *bare = el(HtmlTag_Div);
    html_set_attribute(arena, bare, HtmlAttr_Id, str_lit("x"));
    html_remove_attribute(bare, HtmlAttr_Id);
    EXPECT_EQ(bare->attributes->count, 0u);
    EXPECT_EQ(bare->attributes->first, nullptr);
    EXPECT_EQ(bare->attributes->last, nullptr);
    EXPECT_EQ(serialize(arena, bare), "<div></div>");

    html_set_attribute(arena, bare, HtmlAttr_Id, str_lit("x"));
    html_set_attribute(arena, bare, HtmlAttr_Class, str_lit("c"));
    html_set_attribute(arena, bare, HtmlAttr_Title, str_lit("t"));
    html_remove_attribute(bare, HtmlAttr_Title);   // the last one: the list's end moves back
    html_set_attribute(arena, bare, HtmlAttr_Lang, str_lit("en"));
    EXPECT_EQ(serialize(arena, bare), "<div id=\"x\" class=\"c\" lang=\"en\"></div>");
    html_remove_attribute(bare, HtmlAttr_Class);   // the middle one
    EXPECT_EQ(serialize(arena, bare), "<div id=\"x\" lang=\"en\"></div>");
    // A template may repeat an attribute; removing it removes every copy.
    html_attribute_append(arena, bare, html_attr_from_id(HtmlAttr_Lang));
    html_remove_attribute(bare, HtmlAttr_Lang);
    html_remove_attribute(bare, HtmlAttr_Style);   // absent: nothing changes
    EXPECT_EQ(serialize(arena, bare), "<div id=\"x\"></div>");
    EXPECT_EQ(check_links(bare), "");
}

TEST_F(HtmlTreeTest, StyleKeepsEachDeclarationOnceAndEndsEachWithASemicolon)
{
    HtmlElement *div = el(HtmlTag_Div);
    html_set_attribute(arena, div, HtmlAttr_Style, str_lit("color:red"));
    html_set_attribute(arena, div, HtmlAttr_Style, str_lit("color:red"));
    EXPECT_EQ(serialize(arena, div), "<div style=\"color:red;\"></div>");
    html_set_attribute(arena, div, HtmlAttr_Style, str_lit("margin:0;padding:0"));
    EXPECT_EQ(serialize(arena, div), "<div style=\"color:red; margin:0; padding:0;\"></div>");
    // Whole texts are compared: another colour is another declaration.
    html_set_attribute(arena, div, HtmlAttr_Style, str_lit("color:blue;;"));
    // Blanks around a declaration do not make it a new one.
    html_set_attribute(arena, div, HtmlAttr_Style, str_lit(" margin:0 ; ;"));
    HtmlAttribute *style = html_get_attribute(div, HtmlAttr_Style);
    EXPECT_EQ(style->values.node_count, 4u);
    EXPECT_EQ(serialize(arena, div), "<div style=\"color:red; margin:0; padding:0; color:blue;\"></div>");
    // A value that already holds a ";" gets no second one.
    HtmlElement *p = el(HtmlTag_P);
    HtmlAttribute *raw = html_attribute_append(arena, p, html_attr_from_id(HtmlAttr_Style));
    str_list_push(arena, &raw->values, str_lit("a:1;"));
    str_list_push(arena, &raw->values, str_lit("b:2"));
    EXPECT_EQ(serialize(arena, p), "<p style=\"a:1; b:2;\"></p>");

    // Each value once, by its whole bytes.
    StrList list = {};
    str_list_push_unique(arena, &list, str_lit("a"));
    str_list_push_unique(arena, &list, str_lit("A"));
    str_list_push_unique(arena, &list, str_lit("a"));
    str_list_push_unique(arena, &list, str_lit("a "));
    EXPECT_EQ(list.node_count, 3u);
}

//- serialization

TEST_F(HtmlTreeTest, SerializerWritesVoidBooleanAndNestedElementsExactly)
{
    HtmlElement *doc = html_node_create(arena, HtmlNode_Document, 0, str_empty(), str_empty(), 0);
    HtmlElement *doctype = el(HtmlTag_DocType);
    html_attribute_append(arena, doctype, html_attr_from_id(HtmlAttr_Html));
    html_append_child(doc, doctype);
    HtmlElement *body = el(HtmlTag_Body);
    html_append_child(doc, body);
    html_append_content(body, el(HtmlTag_Div));
    HtmlElement *p = el(HtmlTag_P);
    html_append_content(body, p);
    html_append_text(arena, p, str_lit("a < b & \"c\""));
    html_append_content(p, el(HtmlTag_Br));
    HtmlElement *img = el(HtmlTag_Img);
    html_set_attribute(arena, img, HtmlAttr_Src, str_lit("i.png"));
    html_set_attribute(arena, img, HtmlAttr_Hidden, str_lit("ignored"));
    html_append_content(p, img);
    HtmlElement *input = el(HtmlTag_Input);
    html_attribute_append(arena, input, html_attr_from_id(HtmlAttr_Checked));
    html_set_attribute(arena, input, HtmlAttr_Value, str_empty());
    html_append_content(body, input);
    EXPECT_EQ(serialize(arena, doc),
              "<!DOCTYPE html><body><div></div><p>a < b & \"c\"<br><img src=\"i.png\" hidden></p>"
              "<input checked value=\"\"></body>");
    // A subtree is written alone, closed, without the siblings after it.
    EXPECT_EQ(serialize(arena, p->parent->first_child), "<div></div>");

    // An unknown tag is written under its own name; known tags come out in
    // the table's case.
    HtmlElement *e = html_node_create(arena, HtmlNode_Element, 0, str_lit("Picture"), str_lit("Picture"), 0);
    html_append_child(e, html_node_create(arena, HtmlNode_Text, 0, str_empty(), str_empty(), 0));
    HtmlElement *div = html_node_create(arena, HtmlNode_Element, 0, str_lit("DIV"), str_lit("DIV"), 0);
    html_append_child(e->first_child, div);
    // Known tags come out in the table's case; the other keeps its own.
    EXPECT_EQ(serialize(arena, e), "<Picture><div></div></Picture>");

    // Unknown attributes are written under the name the options give.
    HtmlElement *scripted = el(HtmlTag_Div);
    html_attribute_append(arena, scripted, html_attr_from_name(str_lit("onclick")));
    html_set_attribute(arena, scripted, HtmlAttr_Data, str_lit("go()"));
    html_set_attribute(arena, scripted, HtmlAttr_Class, str_lit("c"));
    HtmlWriteOptions flag = {str_lit("data-flag")}, plain = {};
    EXPECT_EQ(serialize(arena, scripted, &flag), "<div data-flag=\"go()\" class=\"c\"></div>");
    // Each call writes as its own options say.
    EXPECT_EQ(serialize(arena, scripted, &plain), "<div data-* =\"go()\" class=\"c\"></div>");
    EXPECT_EQ(serialize(arena, scripted), "<div data-* =\"go()\" class=\"c\"></div>");
}

TEST_F(HtmlTreeTest, SerializerSpansChunksAndEachEscapeMaskTakesItsBytesOnly)
{
    HtmlElement *body = el(HtmlTag_Body);
    std::string expected = "<body>";
    for (int i = 0; i < 6000; i += 1) {
        HtmlElement *p = el(HtmlTag_P);
        std::string word = "item " + std::to_string(i);
        html_append_text(arena, p, str_copy(arena, str(word.data(), word.size())));
        html_append_content(body, p);
        expected += "<p>" + word + "</p>";
    }
    std::string big(10000, 'x');   // long enough to be listed in place
    html_append_text(arena, body, str(big.data(), big.size()));
    expected += big + "</body>";
    StrList out = {};
    html_serialize(arena, body, &out, nullptr);
    EXPECT_GT(out.node_count, 2u);
    EXPECT_EQ(out.total_size, expected.size());
    EXPECT_EQ(s(str_list_join_plain(arena, &out)), expected);

    u64 before = arena_pos(arena);
    StrList small = {};
    html_serialize(arena, el(HtmlTag_Hr), &small, nullptr);
    EXPECT_EQ(s(str_list_join_plain(arena, &small)), "<hr>");
    EXPECT_LT(arena_pos(arena) - before, KiB(1));

    // Each escape mask escapes its bytes and nothing else.
    Str text = str_lit("a<b>&\"c");
    auto esc = [&](u32 mask) {
        Str out = html_escape(arena, text, mask);
        EXPECT_EQ(out.size, html_escaped_size(text, mask));
        return std::string(out.str, out.size);
    };
    EXPECT_EQ(esc(HtmlEscape_Lt), "a&lt;b>&\"c");
    EXPECT_EQ(esc(HtmlEscape_Source), "a&lt;b&gt;&amp;\"c");
    EXPECT_EQ(esc(HtmlEscape_Quote), "a<b>&&quot;c");
    EXPECT_EQ(esc(0), "a<b>&\"c");
    Str plain = str_lit("nothing to do");
    u64 mark = arena_pos(arena);
    EXPECT_EQ(html_escape(arena, plain, HtmlEscape_Source).str, plain.str);   // no copy
    EXPECT_EQ(arena_pos(arena), mark);                                         // and no room kept

    // Every byte escaped, the longest outcome, and a text too large to be
    // escaped in one pass: the same bytes either way, and only those kept.
    std::string quotes(1000, '"');
    mark = arena_pos(arena);
    Str all = html_escape(arena, str(quotes.data(), quotes.size()), HtmlEscape_Quote);
    EXPECT_EQ(all.size, 6000u);
    EXPECT_EQ(s(all).find_first_not_of("&quot;"), std::string::npos);
    EXPECT_LE(arena_pos(arena) - mark, 6001u + 16);
    std::string one_lt = std::string(999, 'x') + "<";
    mark = arena_pos(arena);
    EXPECT_EQ(html_escape(arena, str(one_lt.data(), one_lt.size()), HtmlEscape_Source).size, 1003u);
    EXPECT_LE(arena_pos(arena) - mark, 1004u + 16);   // the room for the worst case given back
    auto by_hand = [](const std::string &text) {
        std::string out;
        for (char c : text) out += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '&' ? "&amp;" : std::string(1, c);
        return out;
    };
    std::string large;
    while (large.size() <= KiB(64)) large += "x < y && \"z\" > w\n";
    for (const std::string &text : {large, large.substr(0, 1000)})
        EXPECT_EQ(s(html_escape(arena, str(text.data(), text.size()), HtmlEscape_Source)), by_hand(text)) << text.size();
}

// A page is written as one text in place. Its buffer must grow across the
// arena's blocks, take long texts by copy and quoted values escaped, give
// its unused tail back, and come out the same bytes as the pieces joined.
TEST_F(HtmlTreeTest, AWholeTextIsThePiecesJoinedAcrossBlocksAndTakesNoMoreThanItsBytes)
{
    HtmlElement *body = el(HtmlTag_Body);
    for (int i = 0; i < 9000; i += 1) {
        HtmlElement *p = el(HtmlTag_P);
        std::string word = "item " + std::to_string(i);
        html_append_text(arena, p, str_copy(arena, str(word.data(), word.size())));
        if (i % 1000 == 0) html_set_attribute(arena, p, HtmlAttr_Title, str_lit("say \"when\""));
        html_append_content(body, p);
    }
    std::string big(30000, 'y');   // listed in place by the piecewise writer
    html_append_text(arena, body, str(big.data(), big.size()));
    std::string expected = serialize(arena, body);
    EXPECT_NE(expected.find("title=\"say &quot;when&quot;\""), std::string::npos);

    // Blocks of 64 KiB: a text of some 180 KB cannot grow in one of them.
    Arena *small = arena_alloc(KiB(64), KiB(64));
    ASSERT_NE(small, nullptr);
    u64 start = arena_pos(small);
    Str whole = html_serialize_text(small, body, nullptr);
    ASSERT_GT(small->current->base_pos, 0u) << "the text should have needed more than one block";
    EXPECT_EQ(s(whole), expected);
    EXPECT_EQ(whole.str[whole.size], 0);
    // What stays pushed is the text and its zero, plus at most the copies
    // left behind in earlier blocks.
    EXPECT_EQ(arena_pos(small) - small->current->base_pos - arena_header_size, whole.size + 1);
    arena_release(small);

    // In one roomy block the text is the only push, and nothing is left over.
    Arena *roomy = arena_alloc(MiB(64), KiB(64));
    start = arena_pos(roomy);
    whole = html_serialize_text(roomy, body, nullptr);
    EXPECT_EQ(s(whole), expected);
    EXPECT_EQ(arena_pos(roomy) - start, whole.size + 1);
    arena_release(roomy);

    EXPECT_EQ(s(html_serialize_text(arena, el(HtmlTag_Hr), nullptr)), "<hr>");
    EXPECT_EQ(html_serialize_text(arena, &html_none, nullptr).size, 0u);
}

// Attribute values are scanned for quotes and semicolons eight bytes at a
// time: a mark in the last, partial word or right at a word's edge must be
// found, and bytes past the value's end must not count.
TEST_F(HtmlTreeTest, AQuoteOrSemicolonAnywhereInAValueIsSeen)
{
    for (u64 size = 1; size <= 40; size += 1) {
        for (u64 at = 0; at < size; at += 1) {
            for (char mark : {'"', ';'}) {
                std::string value(size, 'x');
                value[at] = mark;
                HtmlElement *div = el(HtmlTag_Div);
                HtmlAttribute *style = html_attribute_append(arena, div, html_attr_from_id(HtmlAttr_Style));
                str_list_push(arena, &style->values, str_copy(arena, str(value.data(), value.size())));
                std::string shown = value;
                if (mark == '"') shown.replace(at, 1, "&quot;");
                std::string expected = "<div style=\"" + shown + (mark == ';' ? "" : ";") + "\"></div>";
                EXPECT_EQ(serialize(arena, div), expected) << "size " << size << ", mark at " << at;
                // Any other attribute: a quote is escaped, a semicolon is text.
                HtmlElement *span = el(HtmlTag_Span);
                HtmlAttribute *cls = html_attribute_append(arena, span, html_attr_from_id(HtmlAttr_Class));
                str_list_push(arena, &cls->values, str_copy(arena, str(value.data(), value.size())));
                EXPECT_EQ(serialize(arena, span), "<span class=\"" + shown + "\"></span>")
                    << "size " << size << ", mark at " << at;
            }
        }
        // A mark just past the value's end belongs to the next bytes, not to it.
        std::string longer(size, 'x');
        longer += "\";";
        HtmlElement *p = el(HtmlTag_P);
        HtmlAttribute *style = html_attribute_append(arena, p, html_attr_from_id(HtmlAttr_Style));
        str_list_push(arena, &style->values, str(longer.data(), size));
        EXPECT_EQ(serialize(arena, p), "<p style=\"" + std::string(size, 'x') + ";\"></p>") << "size " << size;
    }
}

