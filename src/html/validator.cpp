// html/validator.cpp: template loading and the structure checks.
#include "html/validator.h"

//- structure checks

// A `head` whose content the walk is inside of, or has entered but not yet
// the content of. Titles found below a head's content mark the nearest such
// head; leaving a content passes the mark to the head around it. That finds
// every head without a title in one walk, where a search below each head
// would cost the square of the depth on a template of nested heads.
struct HeadScope {
    HeadScope *below;
    HtmlElement *head;
    HtmlElement *content;
    Diagnostic *before;   // the message after which this head's message belongs
    bool inside;          // the walk is below `content`
    bool has_title;
};

static HtmlElement *first_text_child(HtmlElement *element)
{
    for (HtmlElement *c = element->first_child; !html_is_none(c); c = c->next)
        if (c->type == HtmlNode_Text) return c;
    return &html_none;
}

static void report(Arena *arena, DiagnosticList *list, Str marker_text, u64 offset, Str text)
{
    HtmlElement *marker = html_node_create(arena, HtmlNode_Marker, 0, marker_text, marker_text, offset);
    diag_push_at(arena, list, marker, offset, DiagLevel_Error, text);
}

static bool parent_allowed(HtmlElement *element, HtmlElement *parent_element)
{
    bool at_top = element->parent->type == HtmlNode_Document;
    if (at_top && html_tag_allows_root(element->tag->id)) return true;
    return html_tag_allows_parent(element->tag->id, parent_element->tag->id);
}

static void check_element(Arena *arena, DiagnosticList *list, HtmlElement *e, u32 options)
{
    HtmlElement *content = first_text_child(e);
    HtmlElement *parent_element = e->parent;
    while (!html_is_none(parent_element) && parent_element->type != HtmlNode_Element)
        parent_element = parent_element->parent;

    if (!html_is_none(e->prev) && e->prev->type != HtmlNode_Element && e->prev->type != HtmlNode_Text)
        report(arena, list, e->name, e->offset + 1, str_lit("parsing failed, tag was encountered inside attribute node"));
    if ((options & HtmlParse_ReportUnknownTags) && e->tag->name.size == 0)
        report(arena, list, e->name, e->offset + 1, str_pushf(arena, "%S unknown tag element", e->name));
    if (html_is_none(content))
        report(arena, list, e->name, e->offset,
               str_pushf(arena, "Structure (internal): %S does not have correct internal nodes which will cause critical errors",
                         e->name));
    if ((options & HtmlParse_ReportParents) && !parent_allowed(e, parent_element))
        report(arena, list, e->name, e->offset,
               str_pushf(arena, "Structure: %S does not have an allowed parent, it should be one of theses: %S", e->name,
                         e->tag->parents));
    // An element that lost its content node has no content either.
    if (!(e->tag->content & (HtmlContent_MayBeEmpty | HtmlContent_Void)) && html_is_none(content->first_child))
        report(arena, list, e->name, e->offset + 1, str_pushf(arena, "%S must not have empty content", e->name));
}

// Records "document missing title" for a head just left, placed where the
// walk stood when it entered the head: before the head's other messages and
// those of everything inside it.
static void report_missing_title(Arena *arena, DiagnosticList *list, HeadScope *scope)
{
    Diagnostic *old_last = list->last;
    report(arena, list, str_empty(), 0, str_lit("document missing title"));
    Diagnostic *d = list->last;
    if (d == old_last || old_last == scope->before) return;
    old_last->next = nullptr;
    list->last = old_last;
    if (scope->before) {
        d->next = scope->before->next;
        scope->before->next = d;
    } else {
        d->next = list->first;
        list->first = d;
    }
}

static void mark_title(HeadScope *scope)
{
    for (HeadScope *s = scope; s; s = s->below)
        if (s->inside) {
            s->has_title = true;
            return;
        }
}

void html_validate(Arena *arena, HtmlParseResult *result, Str path, Str source)
{
    (void)path;
    (void)source;
    if (!result || html_is_none(result->root)) return;
    ArenaTemp scratch = scratch_begin(&arena, 1);
    DiagnosticList *list = &result->diagnostics;
    u32 options = result->flags;
    HeadScope *heads = nullptr;
    HeadScope *free_heads = nullptr;
    HtmlElement *root = result->root;
    HtmlElement *node = root;
    for (;;) {
        // Enter the node.
        if (heads && node == heads->content && node->parent == heads->head) heads->inside = true;
        if (node->type == HtmlNode_UnknownAttribute) {
            if (options & HtmlParse_ReportUnknownAttributes)
                report(arena, list, node->text, node->offset + 1, str_pushf(arena, "%S unknown attribute", node->text));
        } else if (node->type == HtmlNode_Element) {
            if (node->tag->id == HtmlTag_Title) mark_title(heads);
            if (node->tag->id == HtmlTag_Head) {
                HeadScope *scope = free_heads;
                if (scope) free_heads = scope->below;
                else scope = push_array_no_zero<HeadScope>(scratch.arena, 1);
                if (scope) {
                    *scope = HeadScope{heads, node, first_text_child(node), list->last, false, false};
                    heads = scope;
                }
            }
            check_element(arena, list, node, options);
        }
        if (!html_is_none(node->first_child)) {
            node = node->first_child;
            continue;
        }
        // Leave every node the climb passes.
        bool done = false;
        for (;;) {
            if (heads && node == heads->content && heads->inside) {
                heads->inside = false;
                if (heads->has_title) mark_title(heads->below);
            }
            if (heads && node == heads->head) {
                HeadScope *scope = heads;
                heads = scope->below;
                if (!scope->has_title) report_missing_title(arena, list, scope);
                scope->below = free_heads;
                free_heads = scope;
            }
            if (node == root || html_is_none(node->parent)) {
                done = true;
                break;
            }
            if (!html_is_none(node->next)) {
                node = node->next;
                break;
            }
            node = node->parent;
        }
        if (done) break;
    }
    scratch_end(scratch);
}

//- loading

HtmlParseResult html_parse_template(Arena *arena, Str source, Str path, u32 options)
{
    HtmlParseResult result = {};
    result.root = &html_none;
    result.title = &html_none;
    result.flags = options;
    if (source.size == 0) return result;
    // The tokens are needed only while the tree is built.
    ArenaTemp scratch = scratch_begin(&arena, 1);
    HtmlTokenArray tokens = html_tokenize(scratch.arena, source);
    result = html_build_tree(arena, path, source, tokens, options);
    scratch_end(scratch);
    if (options & HtmlParse_Validate) html_validate(arena, &result, path, source);
    return result;
}
