// The render rule table and its lookups: first match in row order, the
// parent and flag conditions, made-up nodes, and CSS lengths read out of
// the rules' styles.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "html/html_tables.h"
#include "render/icons.h"
#include "render/render_rules.h"

namespace {

struct Nodes {
    Arena *arena = arena_alloc(MiB(8), KiB(64));
    ~Nodes() { arena_release(arena); }
    MarkupNode *element(Str name, u8 number = 0, u64 flags = 0)
    {
        MarkupNode *n = node_new(arena, NodeClass_Element, flags, name, name, 0);
        n->number = number;
        return n;
    }
    MarkupNode *text(u64 flags, MarkupNode *parent = nullptr)
    {
        MarkupNode *n = node_new(arena, NodeClass_Text, flags, str_lit("w"), str_lit("w"), 0);
        if (parent) node_append_child(parent, n);
        return n;
    }
};

std::string cls(const RenderRule *rule) { return std::string(rule->class_name.str, rule->class_name.size); }

TEST(RenderRuleTable, ClassNamesAreUniqueSoEveryRowHasItsOwnStyleRule)
{
    std::set<std::string> names;
    for (const RenderRule &rule : render_rule_table) {
        EXPECT_TRUE(names.insert(cls(&rule)).second) << "class " << cls(&rule) << " given twice";
        EXPECT_NE(rule.node_class, 0u);
    }
    EXPECT_EQ(names.size(), render_rule_count);
}

TEST(RenderRuleTable, EveryTagAndIconIdExists)
{
    for (const RenderRule &rule : render_rule_table) {
        if (rule.tag) {
            EXPECT_EQ(html_tag_from_id(rule.tag)->id, rule.tag) << cls(&rule);
        }
        EXPECT_LT(rule.icon, (u32)Icon_Count) << cls(&rule);
    }
}

// The lookup goes through a compile-time index; it must answer exactly as
// trying the rows in order does, for every kind the table names and a few
// it does not, at every level, with every flag and parent the rows test.
TEST(RenderRuleFind, IndexAnswersAsTheRowsInOrder)
{
    Nodes n;
    std::set<std::string> kinds = {"", "no_such_kind", "toc_itemx", "heading "};
    std::set<std::string> parents = {"", "nothing"};
    for (const RenderRule &rule : render_rule_table) {
        Str kind = markup_kind_name(rule.kind), parent = markup_kind_name(rule.parent_kind);
        kinds.insert(std::string(kind.str, kind.size));
        parents.insert(std::string(parent.str, parent.size));
    }
    const u64 flag_sets[] = {0, 0x4, 0x8, 0x20, 0x1000, 0x2000, 0x3000, 0x4000, 0x8000, 0xC000, 0x10000, 0x18000, 0x20000, 0x40000};
    const u32 classes[] = {1, 2, 3, 4, 5, 6};
    u64 checked = 0;
    for (u32 node_class : classes)
        for (const std::string &kind : kinds)
            for (const std::string &parent_kind : parents)
                for (u8 level : {0, 1, 2, 3, 4, 5, 6, 7, 8, 255})
                    for (u64 flags : flag_sets) {
                        MarkupNode *parent = parent_kind.empty() ? &markup_nil : n.element(str(parent_kind.data(), parent_kind.size()));
                        MarkupNode *node = node_new(n.arena, node_class, flags, str(kind.data(), kind.size()), str(kind.data(), kind.size()), 0);
                        node->number = level;
                        node_append_child(parent, node);
                        const RenderRule *expected = &render_rule_none;
                        for (const RenderRule &rule : render_rule_table) {
                            bool fits = rule.node_class == node_class &&
                                        (rule.level == render_level_any || rule.level == level) &&
                                        (rule.kind == 0 || str_eq(markup_kind_name(rule.kind), node->name)) &&
                                        (rule.parent_kind == 0 ||
                                         (!node_is_nil(parent) && str_eq(markup_kind_name(rule.parent_kind), parent->name))) &&
                                        (rule.flags_mask == 0 || (rule.flags_mask & flags));
                            if (fits) {
                                expected = &rule;
                                break;
                            }
                        }
                        ASSERT_EQ(render_rule_find(node), expected) << "class " << node_class << " kind " << kind << " parent "
                                                                    << parent_kind << " level " << (int)level << " flags " << flags;
                        if (node_is_nil(parent)) {
                            ASSERT_EQ(render_rule_lookup(node_class, node->kind, level, flags), expected);
                        }
                        checked += 1;
                    }
    EXPECT_GT(checked, 10000u);
}

TEST(RenderRuleFind, LevelSelectsTheHeadingAndParagraphRows)
{
    Nodes n;
    EXPECT_EQ(cls(render_rule_find(n.element(kind_heading, 0))), "ta");
    EXPECT_EQ(cls(render_rule_find(n.element(kind_heading, 2))), "ua");
    EXPECT_EQ(cls(render_rule_find(n.element(kind_heading, 6))), "wa");
    EXPECT_EQ(render_rule_find(n.element(kind_heading, 2))->tag, (u32)HtmlTag_H3);
    EXPECT_EQ(cls(render_rule_find(n.element(kind_paragraph, 7))), "Ea");
    // Levels the table does not list have no rule at all.
    EXPECT_TRUE(render_rule_is_none(render_rule_find(n.element(kind_heading, 8))));
    EXPECT_TRUE(render_rule_is_none(render_rule_find(n.element(kind_paragraph, 2))));
}

TEST(RenderRuleFind, ParentKindComesBeforeTheGeneralRow)
{
    Nodes n;
    MarkupNode *context = n.element(kind_context);
    MarkupNode *heading = n.element(kind_heading, 2);
    node_append_child(context, heading);
    EXPECT_EQ(cls(render_rule_find(heading)), "qa");
    MarkupNode *paragraph = n.element(kind_paragraph, 3);
    node_append_child(context, paragraph);
    EXPECT_EQ(cls(render_rule_find(paragraph)), "ya");
    EXPECT_EQ(render_rule_find(paragraph)->tag, (u32)HtmlTag_Span);

    MarkupNode *file = n.element(kind_link_file);
    MarkupNode *reference = n.element(kind_reference);
    node_append_child(file, reference);
    EXPECT_EQ(cls(render_rule_find(reference)), "Wa");
    EXPECT_EQ(render_rule_find(reference)->tag, 0u);   // no element of its own
    EXPECT_EQ(cls(render_rule_find(n.element(kind_reference))), "Xa");
}

TEST(RenderRuleFind, FlagRowsComeBeforeTheirCatchAll)
{
    Nodes n;
    EXPECT_EQ(cls(render_rule_find(n.element(kind_link_http, 0, NodeFlag_Unresolved | NodeFlag_ClosedString))), "Pa");
    EXPECT_EQ(cls(render_rule_find(n.element(kind_link_http, 0, NodeFlag_Embedded))), "Qa");
    EXPECT_EQ(cls(render_rule_find(n.element(kind_link_http, 0, NodeFlag_ClosedString))), "Ra");
    EXPECT_EQ(cls(render_rule_find(n.element(kind_list_numeric, 0, NodeFlag_Inline))), "pb");
    EXPECT_EQ(cls(render_rule_find(n.element(kind_list_numeric))), "qb");
    EXPECT_EQ(cls(render_rule_find(n.element(kind_table_cell, 1, NodeFlag_Ticked))), "Cb");
    EXPECT_EQ(cls(render_rule_find(n.element(kind_checkbox, 0, NodeFlag_Ticked))), "na");
    EXPECT_EQ(render_rule_find(n.element(kind_checkbox, 0, NodeFlag_Ticked))->icon, (u32)Icon_Check);
}

// The table lists the catch-all rows of "block" and "unformated_text" before
// their flag rows, and the number row of text runs after the catch-all text
// row; in first-match order those flag rows are never reached. Pinned so a
// change of the table order is a decision, not an accident.
TEST(RenderRuleFind, RowsListedAfterTheirCatchAllAreNeverReached)
{
    Nodes n;
    EXPECT_EQ(cls(render_rule_find(n.element(kind_block, 0, NodeFlag_Inline))), "fb");
    EXPECT_EQ(cls(render_rule_find(n.element(kind_unformated_text, 0, NodeFlag_StrongInside))), "hb");
    EXPECT_EQ(cls(render_rule_find(n.text(NodeFlag_Number))), "La");
}

TEST(RenderRuleFind, TextRowsByFlagsThenByParent)
{
    Nodes n;
    EXPECT_EQ(cls(render_rule_find(n.text(NodeFlag_SingleQuoted))), "Fa");
    EXPECT_EQ(cls(render_rule_find(n.text(NodeFlag_StrongInside | NodeFlag_EmphasisInside))), "Ga");
    EXPECT_EQ(cls(render_rule_find(n.text(NodeFlag_EmphasisInside))), "Ha");
    EXPECT_EQ(cls(render_rule_find(n.text(0, n.element(kind_link_file)))), "Ja");
    EXPECT_EQ(cls(render_rule_find(n.text(0, n.element(kind_link_http)))), "Ka");
    EXPECT_EQ(cls(render_rule_find(n.text(0))), "La");
}

TEST(RenderRuleFind, OtherClassesAndAbsentNodes)
{
    Nodes n;
    MarkupNode *field = node_new(n.arena, NodeClass_HeaderField, 0, str_lit("author"), str_lit("author"), 0);
    field->number = 9;   // any level
    EXPECT_EQ(cls(render_rule_find(field)), "la");
    MarkupNode *document = node_new(n.arena, NodeClass_Document, 0, str_lit("x"), str_lit("x"), 0);
    EXPECT_EQ(cls(render_rule_find(document)), "b_w");
    EXPECT_EQ(cls(render_rule_find(node_new_message(n.arena, 4, 0, str_lit("m")))), "erm");
    EXPECT_TRUE(render_rule_is_none(render_rule_find(&markup_nil)));
    EXPECT_TRUE(render_rule_is_none(render_rule_find(nullptr)));
    EXPECT_TRUE(render_rule_is_none(render_rule_find(n.element(str_lit("no_such_kind")))));
    EXPECT_EQ(render_rule_none.class_name.size, 0u);   // lookups chain on the none row
}

TEST(RenderRuleLookup, MadeUpNodesHaveNoParent)
{
    EXPECT_EQ(cls(render_rule_lookup(NodeClass_Element, MarkupKind_Heading, 2, 0)), "ua");   // not qa
    EXPECT_EQ(cls(render_rule_lookup(NodeClass_Element, MarkupKind_Footnote, 1, 0)), "bb");
    EXPECT_EQ(cls(render_rule_lookup(NodeClass_Element, MarkupKind_InternalLink, 0, 0)), "eb");
    EXPECT_EQ(cls(render_rule_lookup(NodeClass_Element, MarkupKind_Reference, 0, 0)), "Xa");   // not Wa
    EXPECT_EQ(cls(render_rule_lookup(NodeClass_Text, MarkupKind_None, 0, NodeFlag_EmphasisInside)), "Ha");
    EXPECT_EQ(cls(render_rule_lookup(NodeClass_Element, MarkupKind_TableCellCol, 0, NodeFlag_Ticked)), "Eb");
}

struct LengthCase {
    const char *style;
    double number;
    const char *unit;
};

TEST(CssReadLength, ReadsTheNumberAndUnitOfTheFirstMatch)
{
    const LengthCase cases[] = {
        {"max-width:35rem;margin-left:1.3rem;font-size:1rem;", 1.3, "rem"},
        {"margin-left:2rem;", 2.0, "rem"},
        {"margin-left:12px", 12.0, "px"},
        {"margin-left:.5em;", 0.5, "em"},
        {"margin-left:7;", 7.0, ""},
        {"margin-left:50%;", 50.0, ""},
        {"margin-left:1.2.3rem;", 1.2, "rem"},   // a second dot ends the number, not the run
        {"xmargin-left:3rem;margin-left:1rem;", 3.0, "rem"},   // the first occurrence, as written
        {"margin-left: 1rem;", 0.0, ""},   // the number must follow the colon
        {"margin-left:", 0.0, ""},
        {"margin-left;", 0.0, ""},
        {"font-size:1rem;", 0.0, ""},
        {"", 0.0, ""},
    };
    for (const LengthCase &c : cases) {
        CssLength length = css_read_length(str_from_cstring(c.style), str_lit("margin-left"));
        EXPECT_DOUBLE_EQ(length.number, c.number) << c.style;
        EXPECT_EQ(std::string(length.unit.str, length.unit.size), c.unit) << c.style;
    }
}

TEST(CssReadLength, LongNumbersStopAtSixtyThreeBytes)
{
    std::string style = "margin-left:" + std::string(70, '9') + "rem";
    CssLength length = css_read_length(str(style.data(), style.size()), str_lit("margin-left"));
    EXPECT_NEAR(length.number / 1e62, 9.99999999999999999, 1e-9);   // 63 nines
    EXPECT_EQ(std::string(length.unit.str, length.unit.size), "rem");
    std::string fraction = "margin-left:0." + std::string(80, '5') + "px";
    length = css_read_length(str(fraction.data(), fraction.size()), str_lit("margin-left"));
    EXPECT_NEAR(length.number, 0.5555555555555556, 1e-12);
    EXPECT_EQ(std::string(length.unit.str, length.unit.size), "px");
}

} // namespace
