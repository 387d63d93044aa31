// The render rule table and its lookups: first match in row order (the
// rows' effects are the render golden cases'), and CSS lengths read out of
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

TEST(RenderRuleFind, AbsentNodesAndUnknownKindsHaveTheNoneRow)
{
    Nodes n;
    EXPECT_TRUE(render_rule_is_none(render_rule_find(&markup_nil)));
    EXPECT_TRUE(render_rule_is_none(render_rule_find(nullptr)));
    EXPECT_TRUE(render_rule_is_none(render_rule_find(n.element(str_lit("no_such_kind")))));
    EXPECT_EQ(render_rule_none.class_name.size, 0u);   // lookups chain on the none row
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
