// render/render_rules.h: the render rule table, which decides for every node
// of a document the HTML tag of its element, its CSS class and (through the
// style sheets generated from the same rows) its style.
//
// The table is constant data in row order; the first row that fits a node
// wins, so a row with a flags mask stands before the catch-all row of its
// kind (a broken link meets its 0x10000 row before the plain one). Lookups
// never allocate and any thread may call them at any time. "No rule" is the
// all-zero row render_rule_none, never null, so lookups chain.
#pragma once
#include "markup/document.h"

struct RenderRule {
    u32 node_class;     // NodeClass this row applies to
    u32 kind;           // MarkupKind of the node; MarkupKind_None: any
    u64 flags_mask;     // applies when the node's flags share a bit with it; 0: any flags
    Str class_name;     // CSS class of the element ("aa" to "Jb"; the root gets "b_w")
    Str style;          // declarations of that class, written by the style sheets
    u32 tag;            // HtmlTagId of the element; 0: no element of its own
    u8 level;           // the node's `number` must equal it; 255: any
    u32 icon;           // IconId appended to the element; 0: none
    u32 parent_kind;    // MarkupKind the parent must have; MarkupKind_None: any parent
    Str open_marker;    // the markup delimiters, for readers of the table;
    Str close_marker;   // the renderer does not read them
    u64 block;          // 1 for block-level kinds; descriptive
};

constexpr u8 render_level_any = 255;
constexpr u64 render_rule_count = 88;
extern const RenderRule render_rule_table[render_rule_count];
extern const RenderRule render_rule_none;

inline bool render_rule_is_none(const RenderRule *rule) { return !rule || rule->node_class == 0; }

// The first row whose class, level, kind, parent kind and flags mask all fit
// `node`; render_rule_none when none does.
const RenderRule *render_rule_find(const MarkupNode *node);
// The same for a made-up node without parent: how other code learns the
// class name of a kind ("heading" of level 2 gives "ua").
const RenderRule *render_rule_lookup(u32 node_class, u32 kind, u8 number, u64 flags);

// A CSS length read out of a list of declarations.
struct CssLength {
    f64 number;   // 0 when the property or its number is missing
    Str unit;     // the letters after the number ("rem"); empty when none
};

// Finds the first `property` in `style`, then the value after the next ":"
// up to ";": its leading run of digits and "." (at most 63 bytes) is the
// number, the ASCII letters right after that run are the unit. The unit is
// a slice of `style`.
CssLength css_read_length(Str style, Str property);
