// render/render_rules.cpp: the render rule table and its lookups.
#include "render/render_rules.h"

#include "render/icons.h"

//- the table
//
// Fields: node class, kind, flags mask, class name, style, tag, level, icon,
// parent kind, open marker, close marker, block. Order carries meaning: the
// first row that fits a node wins. Row 88's close marker "~}" is kept as
// listed; nothing reads the markers.

constexpr RenderRule render_rule_table[render_rule_count] = {
    {NodeClass_Document, MarkupKind_None, 0, str_lit("b_w"), str_lit(""), HtmlTag_Div, 0, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 1
    {NodeClass_Message, MarkupKind_None, 0, str_lit("erm"), str_lit(""), HtmlTag_None, 0, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 2
    {NodeClass_Element, MarkupKind_Context, NodeFlag_Inline, str_lit("aa"), str_lit("font-family:'IBM Plex Mono';font-size:0.9rem;display:inline;"), HtmlTag_Span, 0, Icon_Info, MarkupKind_None, str_lit("``"), str_lit("``"), 0},  // 3
    {NodeClass_Element, MarkupKind_Context, 0, str_lit("ba"), str_lit("width:fit-content;font-family:'IBM Plex Mono';font-size:0.9rem;display:inline;"), HtmlTag_Span, 0, Icon_Info, MarkupKind_None, str_lit("``"), str_lit("``"), 1},  // 4
    {NodeClass_Element, MarkupKind_ContextHeading, 0, str_lit("ca"), str_lit("font-family:'IBM Plex Mono Bold';margin-left:0.5rem;"), HtmlTag_Span, 0, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 5
    {NodeClass_Element, MarkupKind_ContextHeading, 0, str_lit("da"), str_lit("font-family:'IBM Plex Mono Bold';margin-left:0.8rem;"), HtmlTag_Span, 2, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 6
    {NodeClass_Element, MarkupKind_ContextHeading, 0, str_lit("ea"), str_lit("font-family:'IBM Plex Mono Bold';margin-left:1rem;"), HtmlTag_Span, 4, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 7
    {NodeClass_Element, MarkupKind_ContextHeading, 0, str_lit("fa"), str_lit("font-family:'IBM Plex Mono Bold';margin-left:1.2rem;"), HtmlTag_Span, 6, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 8
    {NodeClass_Element, MarkupKind_ContextParagraph, 0, str_lit("ga"), str_lit("margin-left:0.7rem;"), HtmlTag_Span, 1, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 9
    {NodeClass_Element, MarkupKind_ContextParagraph, 0, str_lit("ha"), str_lit("margin-left:1rem;"), HtmlTag_Span, 3, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 10
    {NodeClass_Element, MarkupKind_ContextParagraph, 0, str_lit("ia"), str_lit("margin-left:1.2rem;"), HtmlTag_Span, 5, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 11
    {NodeClass_Element, MarkupKind_ContextParagraph, 0, str_lit("ja"), str_lit("margin-left:1.4rem;"), HtmlTag_Span, 7, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 12
    {NodeClass_Element, MarkupKind_ContextDocument, 0, str_lit("ka"), str_lit("font-family:'Source Sans 3';border:1px solid #afa85d !important;background-color:#f8eee5;border-left:none !important;z-index:1;"), HtmlTag_Div, 0, Icon_Info, MarkupKind_None, str_lit("``"), str_lit("``"), 1},  // 13
    {NodeClass_HeaderField, MarkupKind_None, 0, str_lit("la"), str_lit("font-size:1rem;border-left:0.3em solid #d1d1d1;border-bottom: 0.3em solid #d1d1d1;"), HtmlTag_Span, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 14
    {NodeClass_Element, MarkupKind_Desc, 0, str_lit("ma"), str_lit(""), HtmlTag_None, 0, Icon_Nil, MarkupKind_None, str_lit("("), str_lit(")"), 0},  // 15
    {NodeClass_Element, MarkupKind_Checkbox, NodeFlag_Ticked, str_lit("na"), str_lit(""), HtmlTag_Span, 0, Icon_Check, MarkupKind_None, str_lit("["), str_lit("]"), 0},  // 16
    {NodeClass_Element, MarkupKind_Checkbox, 0, str_lit("oa"), str_lit(""), HtmlTag_Span, 0, Icon_CheckEmpty, MarkupKind_None, str_lit("[x"), str_lit("]"), 0},  // 17
    {NodeClass_Element, MarkupKind_Heading, 0, str_lit("pa"), str_lit("margin-left:1rem;"), HtmlTag_H2, 0, Icon_Nil, MarkupKind_Context, str_lit(""), str_lit(""), 1},  // 18
    {NodeClass_Element, MarkupKind_Heading, 0, str_lit("qa"), str_lit("margin-left:1.3rem;"), HtmlTag_H3, 2, Icon_Nil, MarkupKind_Context, str_lit(""), str_lit(""), 1},  // 19
    {NodeClass_Element, MarkupKind_Heading, 0, str_lit("ra"), str_lit("margin-left:1.7rem;"), HtmlTag_H4, 4, Icon_Nil, MarkupKind_Context, str_lit(""), str_lit(""), 1},  // 20
    {NodeClass_Element, MarkupKind_Heading, 0, str_lit("sa"), str_lit("margin-left:2rem;"), HtmlTag_H5, 6, Icon_Nil, MarkupKind_Context, str_lit(""), str_lit(""), 1},  // 21
    {NodeClass_Element, MarkupKind_Heading, 0, str_lit("ta"), str_lit("font-size:1.2rem;line-height:1.2;font-family:'Noto Serif Bold';margin-left:1rem;"), HtmlTag_H2, 0, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 22
    {NodeClass_Element, MarkupKind_Heading, 0, str_lit("ua"), str_lit("font-size:1.1rem;line-height:1.2;font-family:'Noto Serif Bold';margin-left:1.3rem;"), HtmlTag_H3, 2, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 23
    {NodeClass_Element, MarkupKind_Heading, 0, str_lit("va"), str_lit("font-size:1rem;line-height:1.2;font-family:'Noto Serif Bold';margin-left:1.7rem;"), HtmlTag_H4, 4, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 24
    {NodeClass_Element, MarkupKind_Heading, 0, str_lit("wa"), str_lit("font-size:0.9rem;line-height:1.2;font-family:'Noto Serif Bold';margin-left:2rem;"), HtmlTag_H5, 6, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 25
    {NodeClass_Element, MarkupKind_Paragraph, 0, str_lit("xa"), str_lit(""), HtmlTag_Span, 1, Icon_Nil, MarkupKind_Context, str_lit(""), str_lit(""), 1},  // 26
    {NodeClass_Element, MarkupKind_Paragraph, 0, str_lit("ya"), str_lit(""), HtmlTag_Span, 3, Icon_Nil, MarkupKind_Context, str_lit(""), str_lit(""), 1},  // 27
    {NodeClass_Element, MarkupKind_Paragraph, 0, str_lit("za"), str_lit(""), HtmlTag_Span, 5, Icon_Nil, MarkupKind_Context, str_lit(""), str_lit(""), 1},  // 28
    {NodeClass_Element, MarkupKind_Paragraph, 0, str_lit("Aa"), str_lit(""), HtmlTag_Span, 7, Icon_Nil, MarkupKind_Context, str_lit(""), str_lit(""), 1},  // 29
    {NodeClass_Element, MarkupKind_Paragraph, 0, str_lit("Ba"), str_lit("max-width:35rem;margin-left:1.3rem;font-size:1rem;"), HtmlTag_P, 1, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 30
    {NodeClass_Element, MarkupKind_Paragraph, 0, str_lit("Ca"), str_lit("max-width:35rem;margin-left:1.7rem;font-size:1rem;"), HtmlTag_P, 3, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 31
    {NodeClass_Element, MarkupKind_Paragraph, 0, str_lit("Da"), str_lit("max-width:35rem;margin-left:2rem;font-size:1rem;"), HtmlTag_P, 5, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 32
    {NodeClass_Element, MarkupKind_Paragraph, 0, str_lit("Ea"), str_lit("max-width:35rem;margin-left:2.3rem;"), HtmlTag_P, 7, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 33
    {NodeClass_Text, MarkupKind_None, NodeFlag_SingleQuoted, str_lit("Fa"), str_lit(""), HtmlTag_None, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 34
    {NodeClass_Text, MarkupKind_None, NodeFlag_StrongInside, str_lit("Ga"), str_lit("font-family:'Source Sans 3 Bold';"), HtmlTag_None, 255, Icon_Nil, MarkupKind_None, str_lit("__"), str_lit("__"), 0},  // 35
    {NodeClass_Text, MarkupKind_None, NodeFlag_EmphasisInside, str_lit("Ha"), str_lit("font-family:'Source Sans 3 Italic';"), HtmlTag_None, 255, Icon_Nil, MarkupKind_None, str_lit("_"), str_lit("_"), 0},  // 36
    {NodeClass_Text, MarkupKind_None, NodeFlag_DoubleQuoted, str_lit("Ia"), str_lit("font-family:'Source Sans 3 Italic';"), HtmlTag_None, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 37
    {NodeClass_Text, MarkupKind_None, 0, str_lit("Ja"), str_lit(""), HtmlTag_None, 255, Icon_Nil, MarkupKind_LinkFile, str_lit("\""), str_lit("\""), 0},  // 38
    {NodeClass_Text, MarkupKind_None, 0, str_lit("Ka"), str_lit(""), HtmlTag_None, 255, Icon_Nil, MarkupKind_LinkHttp, str_lit("\""), str_lit("\""), 0},  // 39
    {NodeClass_Text, MarkupKind_None, 0, str_lit("La"), str_lit(""), HtmlTag_None, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 40
    {NodeClass_Element, MarkupKind_LinkFile, NodeFlag_Unresolved, str_lit("Ma"), str_lit("border-bottom:solid 1px #d5cfc7;cursor:pointer;color:#541818 !important;"), HtmlTag_Span, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 41
    {NodeClass_Element, MarkupKind_LinkFile, NodeFlag_Embedded, str_lit("Na"), str_lit(""), HtmlTag_A, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 42
    {NodeClass_Element, MarkupKind_LinkFile, 0, str_lit("Oa"), str_lit("border-bottom:solid 1px #d5cfc7;"), HtmlTag_A, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 43
    {NodeClass_Element, MarkupKind_LinkHttp, NodeFlag_Unresolved, str_lit("Pa"), str_lit("border-bottom:solid 1px #d5cfc7;cursor:pointer;color:#541818 !important;"), HtmlTag_Span, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 44
    {NodeClass_Element, MarkupKind_LinkHttp, NodeFlag_Embedded, str_lit("Qa"), str_lit("color:#541818 !important;"), HtmlTag_A, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 45
    {NodeClass_Element, MarkupKind_LinkHttp, 0, str_lit("Ra"), str_lit("border-bottom:solid 1px #d5cfc7;"), HtmlTag_A, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 46
    {NodeClass_Text, MarkupKind_None, NodeFlag_Number, str_lit("Sa"), str_lit("font-style:initial;color:#680707;"), HtmlTag_None, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 47
    {NodeClass_Element, MarkupKind_Quote, 0, str_lit("Ta"), str_lit("border-left:0.2rem solid #d8cfc2;padding:0.1rem 0 0.1rem 0.8rem;margin-top:0.4rem;color:#4a4541;"), HtmlTag_Div, 255, Icon_Nil, MarkupKind_None, str_lit(">"), str_lit(""), 1},  // 48
    {NodeClass_Element, MarkupKind_QuoteParagraph, 0, str_lit("Ua"), str_lit(""), HtmlTag_Span, 1, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 49
    {NodeClass_Element, MarkupKind_Reference, NodeFlag_Unresolved, str_lit("Va"), str_lit(""), HtmlTag_Span, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 50
    {NodeClass_Element, MarkupKind_Reference, 0, str_lit("Wa"), str_lit(""), HtmlTag_None, 255, Icon_Nil, MarkupKind_LinkFile, str_lit(""), str_lit(""), 0},  // 51
    {NodeClass_Element, MarkupKind_Reference, 0, str_lit("Xa"), str_lit(""), HtmlTag_A, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 52
    {NodeClass_Element, MarkupKind_Footnotes, 0, str_lit("Ya"), str_lit("font-size:0.9rem;display:inline-block;padding:1rem 0;"), HtmlTag_Div, 0, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 53
    {NodeClass_Element, MarkupKind_FootnoteRef, 0, str_lit("Za"), str_lit(""), HtmlTag_Span, 255, Icon_Nil, MarkupKind_None, str_lit("[*"), str_lit("]"), 0},  // 54
    {NodeClass_Element, MarkupKind_FootnoteItem, 0, str_lit("ab"), str_lit("font-size:0.9rem;display:block;margin-top:1rem;"), HtmlTag_Li, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 55
    {NodeClass_Element, MarkupKind_Footnote, 0, str_lit("bb"), str_lit("font-size:0.9rem;display:inline-block;font-style:italic;"), HtmlTag_Sup, 255, Icon_Nil, MarkupKind_None, str_lit("[*"), str_lit("]"), 0},  // 56
    {NodeClass_Element, MarkupKind_InternalLinkRef, NodeFlag_Unresolved, str_lit("cb"), str_lit("cursor:pointer;color:#541818 !important;"), HtmlTag_Span, 255, Icon_Nil, MarkupKind_None, str_lit("[#"), str_lit("]"), 0},  // 57
    {NodeClass_Element, MarkupKind_InternalLinkRef, 0, str_lit("db"), str_lit(""), HtmlTag_Span, 255, Icon_Nil, MarkupKind_None, str_lit("[#"), str_lit("]"), 0},  // 58
    {NodeClass_Element, MarkupKind_InternalLink, 0, str_lit("eb"), str_lit(""), HtmlTag_Sup, 255, Icon_Nil, MarkupKind_None, str_lit("[#"), str_lit("]_"), 0},  // 59
    {NodeClass_Element, MarkupKind_Block, 0, str_lit("fb"), str_lit("overflow:auto;color:#000000;background-color:#e7e1dc;border:1px solid #ddd;border-radius:4px;padding:0.4rem 0.4rem;white-space:pre;font-family:'IBM Plex Mono';font-size:1rem;"), HtmlTag_Span, 255, Icon_Nil, MarkupKind_None, str_lit("```"), str_lit("```"), 1},  // 60
    {NodeClass_Element, MarkupKind_Block, NodeFlag_Inline, str_lit("gb"), str_lit("overflow:auto;vertical-align:text-bottom;line-height:1em;color:#000000;background-color:#e7e1dc;border:1px solid #ddd;border-radius:4px;padding:0 0.3em;white-space:pre;font-family:'IBM Plex Mono';font-size:1rem;display:inline-block;"), HtmlTag_Span, 255, Icon_Nil, MarkupKind_None, str_lit("```"), str_lit("```"), 0},  // 61
    {NodeClass_Element, MarkupKind_UnformatedText, 0, str_lit("hb"), str_lit("font-family:'IBM Plex Mono';display:inline-block;background-color:#e7e1dc;width:fit-content;font-size:0.8rem;padding:0 0.4rem;white-space:pre-wrap;height:100%;"), HtmlTag_Code, 255, Icon_Nil, MarkupKind_None, str_lit("`"), str_lit("`"), 0},  // 62
    {NodeClass_Element, MarkupKind_UnformatedText, NodeFlag_StrongInside, str_lit("ib"), str_lit("font-family:'IBM Plex Mono';display:inline;background-color:#e7e1dc;width:fit-content;font-size:0.8em;padding:0 0.2em;white-space:pre;display:inline-block;height:100%;"), HtmlTag_Code, 255, Icon_Nil, MarkupKind_None, str_lit("`"), str_lit("`"), 0},  // 63
    {NodeClass_Element, MarkupKind_UnformatedText, NodeFlag_EmphasisInside, str_lit("jb"), str_lit("font-family:'IBM Plex Mono';display:inline;background-color:#e7e1dc;width:fit-content;font-size:0.9em;padding:0 0.2em;white-space:pre;display:inline-block;height:100%;"), HtmlTag_Code, 255, Icon_Nil, MarkupKind_None, str_lit("`"), str_lit("`"), 0},  // 64
    {NodeClass_Element, MarkupKind_Toc, 0, str_lit("kb"), str_lit("background-color:#f6e8db;"), HtmlTag_Div, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 65
    {NodeClass_Element, MarkupKind_TocItem, 0, str_lit("lb"), str_lit("font-size:1rem;margin-left:0em;color:#363532;"), HtmlTag_A, 0, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 66
    {NodeClass_Element, MarkupKind_TocItem, 0, str_lit("mb"), str_lit("font-size:0.9rem;margin-left:0.5em;color:#4c3d3d;"), HtmlTag_A, 2, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 67
    {NodeClass_Element, MarkupKind_TocItem, 0, str_lit("nb"), str_lit("font-size:0.9rem;margin-left:0.5em;color:#4c3d3d;"), HtmlTag_A, 4, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 68
    {NodeClass_Element, MarkupKind_TocItem, 0, str_lit("ob"), str_lit("font-size:0.9rem;margin-left:0.5em;color:#4c3d3d;"), HtmlTag_A, 6, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 69
    {NodeClass_Element, MarkupKind_ListNumeric, NodeFlag_Inline, str_lit("pb"), str_lit(""), HtmlTag_Span, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 70
    {NodeClass_Element, MarkupKind_ListNumeric, 0, str_lit("qb"), str_lit("margin-left:1em;"), HtmlTag_Ol, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 71
    {NodeClass_Element, MarkupKind_ListUnordered, NodeFlag_Inline, str_lit("rb"), str_lit(""), HtmlTag_Span, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 72
    {NodeClass_Element, MarkupKind_ListUnordered, 0, str_lit("sb"), str_lit("margin-left:1em;"), HtmlTag_Ul, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 73
    {NodeClass_Element, MarkupKind_ListAlpha, NodeFlag_Inline, str_lit("tb"), str_lit(""), HtmlTag_Span, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 74
    {NodeClass_Element, MarkupKind_ListAlpha, 0, str_lit("ub"), str_lit("margin-left:1em;"), HtmlTag_Ol, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 75
    {NodeClass_Element, MarkupKind_ListItem, NodeFlag_Inline, str_lit("vb"), str_lit("max-width:35rem;margin-left:0.2em;"), HtmlTag_Span, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 76
    {NodeClass_Element, MarkupKind_ListItem, 0, str_lit("wb"), str_lit("max-width:35rem;"), HtmlTag_Li, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 77
    {NodeClass_Element, MarkupKind_Separator, 0, str_lit("xb"), str_lit("max-width:35rem;font-family:'Source Sans 3';"), HtmlTag_Hr, 255, Icon_Nil, MarkupKind_None, str_lit("---"), str_lit(""), 1},  // 78
    {NodeClass_Element, MarkupKind_TableRoot, 0, str_lit("yb"), str_lit("overflow:auto;font-family:'IBM Plex Mono';display:flex;flex-direction:row;gap:0.5rem;font-size:0.9rem;"), HtmlTag_Div, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 79
    {NodeClass_Element, MarkupKind_TableRootEntry, 0, str_lit("zb"), str_lit("font-family:'IBM Plex Mono';display:flex;flex-direction:row;"), HtmlTag_Div, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 1},  // 80
    {NodeClass_Element, MarkupKind_Table, 0, str_lit("Ab"), str_lit("overflow:auto;font-family:'IBM Plex Mono';"), HtmlTag_Table, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 81
    {NodeClass_Element, MarkupKind_TableRow, 0, str_lit("Bb"), str_lit("font-family:'IBM Plex Mono';"), HtmlTag_None, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 82
    {NodeClass_Element, MarkupKind_TableCell, NodeFlag_Ticked, str_lit("Cb"), str_lit("font-family:'IBM Plex Mono';border: black solid 1px;border-left-width:1px !important;border-left-color:black !important;border-left-style:solid !important;"), HtmlTag_Td, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 83
    {NodeClass_Element, MarkupKind_TableCell, 0, str_lit("Db"), str_lit("font-family:'IBM Plex Mono';"), HtmlTag_Td, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 84
    {NodeClass_Element, MarkupKind_TableCellCol, NodeFlag_Ticked, str_lit("Eb"), str_lit("font-family:'IBM Plex Mono';border: black solid 1px;border-left-width:1px !important;border-left-color:black !important;border-left-style:solid !important;"), HtmlTag_Th, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 85
    {NodeClass_Element, MarkupKind_TableCellCol, 0, str_lit("Fb"), str_lit("font-family:'IBM Plex Mono';"), HtmlTag_Th, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 86
    {NodeClass_Element, MarkupKind_TableHeader, 0, str_lit("Ib"), str_lit(""), HtmlTag_Thead, 255, Icon_Nil, MarkupKind_None, str_lit(""), str_lit(""), 0},  // 87
    {NodeClass_Element, MarkupKind_Raw, 0, str_lit("Jb"), str_lit(""), HtmlTag_Span, 255, Icon_Nil, MarkupKind_None, str_lit("~{"), str_lit("~}"), 0},  // 88
};
static_assert(array_count(render_rule_table) == render_rule_count, "the render rule table has 88 rows");

const RenderRule render_rule_none = {};

//- lookups
//
// Every element of every page is looked up, so the table carries a
// compile-time index. Rows of class 3 (elements) always name their kind and
// each kind's rows stand together, so the first matching row lies in the
// run of rows of the node's kind, found by the kind's number. Rows of other
// classes are few and are tried in order. The static_assert keeps the index
// honest if the table ever changes.

struct KindRun {
    u8 first;    // row index of the kind's first row
    u8 count;    // rows of the kind, all consecutive; 0: the kind has none
};

struct RuleIndex {
    KindRun kinds[MarkupKind_Count];
    u8 other_rows[render_rule_count];   // rows of classes other than 3, in table order
    u8 other_count;
    bool valid;                         // every class-3 row names a kind and kinds stand together
};

static constexpr RuleIndex build_rule_index()
{
    RuleIndex index = {};
    index.valid = true;
    for (u64 row = 0; row < render_rule_count; row += 1) {
        const RenderRule &rule = render_rule_table[row];
        if (rule.node_class != NodeClass_Element) {
            index.other_rows[index.other_count++] = (u8)row;
            continue;
        }
        if (rule.kind == MarkupKind_None || rule.kind >= MarkupKind_Count) {
            index.valid = false;
            continue;
        }
        if (row > 0 && render_rule_table[row - 1].node_class == NodeClass_Element &&
            render_rule_table[row - 1].kind == rule.kind) {
            continue;   // counted with its run below
        }
        if (index.kinds[rule.kind].count) index.valid = false;   // a kind split in two runs
        u8 count = 0;
        while (row + count < render_rule_count && render_rule_table[row + count].node_class == NodeClass_Element &&
               render_rule_table[row + count].kind == rule.kind)
            count += 1;
        index.kinds[rule.kind] = KindRun{(u8)row, count};
    }
    return index;
}

static constexpr RuleIndex rule_index = build_rule_index();
static_assert(rule_index.valid, "element rows name their kind, and a kind's rows stand together");

static u32 parent_kind_of(const MarkupNode *parent)
{
    if (node_is_nil(parent) || parent->node_class != NodeClass_Element) return MarkupKind_None;
    return parent->kind;
}

static bool rule_fits(const RenderRule *rule, u32 node_class, u32 kind, u8 number, u64 flags, const MarkupNode *parent)
{
    if (rule->node_class != node_class) return false;
    if (rule->level != render_level_any && rule->level != number) return false;
    if (rule->flags_mask && !(rule->flags_mask & flags)) return false;
    if (rule->kind && rule->kind != kind) return false;
    if (rule->parent_kind && rule->parent_kind != parent_kind_of(parent)) return false;
    return true;
}

static const RenderRule *rule_search(u32 node_class, u32 kind, u8 number, u64 flags, const MarkupNode *parent)
{
    if (node_class == NodeClass_Element) {
        if (kind == MarkupKind_None || kind >= MarkupKind_Count) return &render_rule_none;
        const KindRun &run = rule_index.kinds[kind];
        // The run's rows all have this kind and class: only level, flags and
        // parent remain to be tried.
        for (u8 i = 0; i < run.count; i += 1) {
            const RenderRule *rule = &render_rule_table[run.first + i];
            if (rule->level != render_level_any && rule->level != number) continue;
            if (rule->flags_mask && !(rule->flags_mask & flags)) continue;
            if (rule->parent_kind && rule->parent_kind != parent_kind_of(parent)) continue;
            return rule;
        }
        return &render_rule_none;
    }
    for (u8 i = 0; i < rule_index.other_count; i += 1) {
        const RenderRule *rule = &render_rule_table[rule_index.other_rows[i]];
        if (rule_fits(rule, node_class, kind, number, flags, parent)) return rule;
    }
    return &render_rule_none;
}

const RenderRule *render_rule_find(const MarkupNode *node)
{
    if (node_is_nil(node)) return &render_rule_none;
    u32 kind = node->node_class == NodeClass_Element ? node->kind : MarkupKind_None;
    return rule_search(node->node_class, kind, node->number, node->flags, node->parent);
}

const RenderRule *render_rule_lookup(u32 node_class, u32 kind, u8 number, u64 flags)
{
    return rule_search(node_class, kind, number, flags, &markup_nil);
}

//- CSS lengths

CssLength css_read_length(Str style, Str property)
{
    CssLength length = {0, str_empty()};
    u64 at = str_find(style, property, 0, 0);
    if (property.size == 0 || at >= style.size) return length;
    u64 colon = str_find_byte(style, ':', at);
    if (colon + 1 >= style.size) return length;
    u64 end = str_find_byte(style, ';', colon + 1);
    Str value = str_substr(style, colon + 1, end);

    u64 run = 0;
    while (run < value.size && (char_is_digit((u8)value.str[run]) || value.str[run] == '.')) run += 1;
    // Digits past 18 would overflow the mantissa; they only scale it.
    u64 mantissa = 0, digits = 0, scale_up = 0, scale_down = 0;
    bool fraction = false;
    for (u64 i = 0; i < min_of<u64>(run, 63); i += 1) {
        char c = value.str[i];
        if (c == '.') {
            if (fraction) break;
            fraction = true;
            continue;
        }
        if (digits < 18) {
            mantissa = mantissa * 10 + (u64)(c - '0');
            digits += mantissa ? 1 : 0;
            if (fraction) scale_down += 1;
        } else if (!fraction) {
            scale_up += 1;
        }
    }
    f64 number = (f64)mantissa;
    for (u64 i = 0; i < scale_up; i += 1) number *= 10.0;
    f64 divisor = 1.0;
    for (u64 i = 0; i < scale_down; i += 1) divisor *= 10.0;
    length.number = number / divisor;

    u64 unit_end = run;
    while (unit_end < value.size && char_is_alpha((u8)value.str[unit_end])) unit_end += 1;
    length.unit = str_substr(value, run, unit_end);
    return length;
}
