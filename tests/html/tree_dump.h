// Test helpers: a compact, hand-checkable text form of template trees.
//
//   element   name[attr=v1|v2,flag]{children of its content node}
//   text      "its text"
//   An element without a content node is written name! (a mismatched
//   closing tag removes it); other children after the content node follow
//   the braces in parentheses.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <string>

#include "html/validator.h"
#include "../golden_cases.h"
#include "../test_support.h"

inline std::string dump_node(HtmlElement *node)
{
    std::string out;
    if (node->type == HtmlNode_Text) {
        out = "\"" + s(node->text) + "\"";
        if (!html_is_none(node->first_child)) {
            out += "(";
            for (HtmlElement *c = node->first_child; !html_is_none(c); c = c->next)
                out += dump_node(c) + (html_is_none(c->next) ? "" : " ");
            out += ")";
        }
        return out;
    }
    if (node->type != HtmlNode_Element) return "#" + std::to_string(node->type);
    out = s(node->name);
    if (node->attributes->count) {
        out += "[";
        for (HtmlAttributeNode *a = node->attributes->first; a; a = a->next) {
            out += s(a->attribute.info->name);
            for (StrNode *v = a->attribute.values.first; v; v = v->next)
                out += (v == a->attribute.values.first ? "=" : "|") + s(v->string);
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
        out += std::to_string(at.line) + ":" + std::to_string(at.column) + " " + s(d->text) + "\n";
    }
    return out;
}

// What a line of a template case file names: under "tokens" each token as
// its text, "/" and its flags in hex, joined by " | "; under "parse <hex
// options>" the tree, then the messages; under "messages <hex options>"
// the messages only (lines joined by line breaks, none after the last).
inline std::string template_case(Arena *arena, const GoldenLine &c)
{
    Str source = str_copy(arena, str(c.input.data(), c.input.size()));
    std::string out;
    if (c.section == "tokens") {
        HtmlTokenArray array = html_tokenize(arena, source);
        for (u64 i = 0; i < array.count; i += 1) {
            char flags[16];
            snprintf(flags, sizeof flags, "/%x", array.tokens[i].flags);
            out += (i ? " | " : "") + c.input.substr(array.tokens[i].start, array.tokens[i].end - array.tokens[i].start) + flags;
        }
        return out;
    }
    u32 options = (u32)strtoul(c.section.substr(c.section.find(' ') + 1).c_str(), nullptr, 16);
    HtmlParseResult r = html_parse_template(arena, source, str_lit("t.html"), options | HtmlParse_Quiet);
    std::string messages = dump_messages(r, source);
    if (!messages.empty()) messages.pop_back();
    if (c.section.rfind("parse ", 0) != 0) return messages;
    return dump_tree(r) + (messages.empty() ? "" : "\n" + messages);
}
