// Test helpers: a compact, hand-checkable text form of template trees.
//
//   element   name[attr=v1|v2,flag]{children of its content node}
//   text      "its text"
//   An element without a content node is written name! (a mismatched
//   closing tag removes it); other children after the content node follow
//   the braces in parentheses.
#pragma once
#include <string>

#include "html/validator.h"

inline std::string dump_str(Str x) { return std::string(x.str, x.size); }

inline std::string dump_node(HtmlElement *node)
{
    std::string out;
    if (node->type == HtmlNode_Text) {
        out = "\"" + dump_str(node->text) + "\"";
        if (!html_is_none(node->first_child)) {
            out += "(";
            for (HtmlElement *c = node->first_child; !html_is_none(c); c = c->next)
                out += dump_node(c) + (html_is_none(c->next) ? "" : " ");
            out += ")";
        }
        return out;
    }
    if (node->type != HtmlNode_Element) return "#" + std::to_string(node->type);
    out = dump_str(node->name);
    if (node->attributes->count) {
        out += "[";
        for (HtmlAttributeNode *a = node->attributes->first; a; a = a->next) {
            out += dump_str(a->attribute.info->name);
            for (StrNode *v = a->attribute.values.first; v; v = v->next)
                out += (v == a->attribute.values.first ? "=" : "|") + dump_str(v->string);
            if (a->next) out += ",";
        }
        out += "]";
    }
    HtmlElement *content = node->first_child;
    if (html_is_none(content) || content->type != HtmlNode_Text || content->text.size) return out + "!";
    out += "{";
    for (HtmlElement *c = content->first_child; !html_is_none(c); c = c->next)
        out += dump_node(c) + (html_is_none(c->next) ? "" : " ");
    out += "}";
    if (!html_is_none(content->next)) {
        out += "(";
        for (HtmlElement *c = content->next; !html_is_none(c); c = c->next)
            out += dump_node(c) + (html_is_none(c->next) ? "" : " ");
        out += ")";
    }
    return out;
}

// The top-level nodes of a parse, separated by blanks.
inline std::string dump_tree(const HtmlParseResult &result)
{
    std::string out;
    if (html_is_none(result.root)) return "(none)";
    for (HtmlElement *c = result.root->first_child; !html_is_none(c); c = c->next)
        out += dump_node(c) + (html_is_none(c->next) ? "" : " ");
    return out;
}

// One line per message: "line:column text".
inline std::string dump_messages(const HtmlParseResult &result, Str source)
{
    std::string out;
    for (Diagnostic *d = result.diagnostics.first; d; d = d->next) {
        LineCol at = line_col_of(source, d->offset);
        out += std::to_string(at.line) + ":" + std::to_string(at.column) + " " + dump_str(d->text) + "\n";
    }
    return out;
}
