// shell/stylesheet.cpp: layout numbers, generated CSS and the head templates.
#include "shell/stylesheet.h"

#include "render/highlight.h"
#include "render/icons.h"
#include "render/render_rules.h"
#include "shell/page_writer.h"

//- page variants

void page_variant_fill(PageVariant *v, u32 kind)
{
    *v = PageVariant{};
    v->kind = kind;
    bool phone = kind == PageVariant_Smartphone;
    v->screen_qhd = {2560, 1440, 128, 130};
    v->screen_full_hd = {1920, 1080, 64, 110};
    if (phone) {
        v->screen_hd = {1280, 720, 0, 0};
        v->screen_phone = {2532, 1170, 64, 460};
    } else {
        v->screen_uhd = {3840, 2160, 140, 180};
    }
    v->left_column_width = phone ? 20 : 15;
    v->top_bar_height = phone ? 6 : 5;
    v->top_left_height = phone ? 6 : 5;
    v->top_right_width = phone ? 25 : 20;
    v->top_right_height = phone ? 6 : 5;
    v->top_middle_height = phone ? 6 : 5;
    v->left_width = phone ? 7 : 15;
    v->right_width = phone ? 7 : 20;
    v->content_right_padding = 2;
    // Whatever the screen, the regions tile the viewport: these follow.
    v->top_middle_width = 100 - v->left_column_width - v->top_right_width;
    v->left_height = 100 - v->top_left_height;
    v->right_height = 100 - v->top_right_height;
    v->content_left_margin = v->left_width;
    v->content_width = 100 - v->right_width - v->left_width;
    v->content_min_height = 100 - v->top_bar_height;
    v->content_top_margin = v->top_bar_height + 2;
}

//- per-tag defaults

struct TagDefault {
    u32 tag;
    Str declarations;
};

// Tags without declarations keep a row so a later row for the same tag
// never takes effect by accident: the first row of a tag wins.
static const TagDefault tag_default_table[] = {
    {HtmlTag_P, str_lit("white-space:pre-wrap;display:block;font-size:1em;margin-top:0.4rem;")},
    {HtmlTag_Body, str_lit("overflow-x:hidden;max-width:100%;width:100%;")},
    {HtmlTag_Pre, str_lit("display:inline-block;border-radius:2px;width:fit-content;padding:1em 1.2em;white-space:pre !important;")},
    {HtmlTag_A, str_lit("display:inline;width:fit-content;cursor:pointer;")},
    {HtmlTag_H1, str_lit("display:block;font-size:1.7rem;font-weight:600;margin-top:1rem;margin-left:1rem;")},
    {HtmlTag_H2, str_lit("display:block;font-size:1.4rem;font-weight:500;margin-top:1rem;margin-left:1rem;")},
    {HtmlTag_H3, str_lit("display:block;font-size:1.1rem;font-weight:400;margin-top:1rem;margin-left:1rem;")},
    {HtmlTag_H4, str_lit("display:block;font-size:1.1rem;font-weight:350;margin-top:1rem;margin-left:1rem;")},
    {HtmlTag_H5, str_lit("display:block;font-size:1rem;font-weight:350;margin-top:1rem;margin-left:1rem;")},
    {HtmlTag_Style, str_lit("display:none;")},
    {HtmlTag_Div, str_lit("overflow-wrap:break-word;display:flex;flex-direction:column;")},
    {HtmlTag_Table, str_lit("width:100%;max-width:100%;box-shadow: 0 2px 4px rgba(0, 0, 0, 0.1);border-collapse:collapse;text-align:left;display:table;margin-top:0.5rem;margin-bottom:0.5rem;")},
    {HtmlTag_Thead, str_lit("display:table-header-group;background-color:#dbdada;")},
    {HtmlTag_Tr, str_lit("display:table-row;font-family:sans-serif;")},
    {HtmlTag_Th, str_lit("display:table-cell;padding:0.5em 1.1em;text-align:center;")},
    {HtmlTag_Td, str_lit("display:table-cell;padding:0.5em 1.1em;")},
    {HtmlTag_Tbody, str_lit("display:table-row-group;")},
    {HtmlTag_Hr, str_lit("border-bottom: #cfc4c4 1px solid;margin-top:0.8em;")},
    {HtmlTag_Title, str_lit("display:none;")},
    {HtmlTag_Button, str_lit("margin:0 0.2em;padding:0.1em 0.3em;background-color:#dbdada;border:1px solid grey;display:inline-block;cursor:pointer;text-align:center;font-family:Arial, sans-serif;font-size:1em;width:fit-content;")},
    {HtmlTag_Input, str_lit("cursor:pointer;min-width:1em;min-height:1em;")},
    {HtmlTag_Li, str_lit("display:list-item;text-align:-webkit-match-parent;unicode-bidi:isolate;margin-top:0.1rem;line-height:1.3rem;")},
    {HtmlTag_Ol, str_lit("display:block;list-style-type:none;")},
    {HtmlTag_Ul, str_lit("display:block;list-style-type:none;")},
    {HtmlTag_Img, str_lit("display:inline-block;")},
    {HtmlTag_Svg, str_lit("display:inline-block;overflow:visible;;width:fit-content;height:fit-content;fill:none;stroke:none;")},
    {HtmlTag_Rect, str_lit("fill:black;stroke:none;width:auto;height:auto;width:revert-layer;height:revert-layer;")},
    {HtmlTag_Circle, str_lit("fill:black;stroke:none;width:auto;height:auto;width:revert-layer;height:revert-layer;")},
    // wyn's own quotes are divs; a raw one looks like them.
    {HtmlTag_Blockquote, str_lit("display:block;border-left:0.2rem solid #d8cfc2;padding:0.1rem 0 0.1rem 0.8rem;"
                                 "margin-top:0.4rem;color:#4a4541;")},
    {HtmlTag_Html, str_lit("")},   // the html element carries its base style inline
    // wyn makes none of these; raw HTML in a document does, and the reset
    // of every element (`*{all:unset;}`) would show them as plain text.
    {HtmlTag_I, str_lit("font-style:italic;")},
    {HtmlTag_U, str_lit("text-decoration:underline;")},
    {HtmlTag_Em, str_lit("")},
    {HtmlTag_Strong, str_lit("")},
    {HtmlTag_Span, str_lit("")},
    {HtmlTag_Code, str_lit("")},
};

void tag_defaults_css(Arena *arena, StrList *css)
{
    // Tags the table does not hold, for raw HTML as below; and raw HTML's
    // strong, em, sup and code, which carry no class: wyn's own carry their
    // look.
    str_list_push(arena, css, str_lit("b,strong:not([class]){font-weight:bold;}em:not([class]){font-style:italic;}"
                                      "s{text-decoration:line-through;}"
                                      "sup:not([class]){vertical-align:super;font-size:smaller;}"
                                      "sub{vertical-align:sub;font-size:smaller;}small{font-size:smaller;}"
                                      "mark{background-color:#fff3a8;}"
                                      "code:not([class]),samp{font-family:'IBM Plex Mono';font-size:0.9em;}"
                                      "kbd{font-family:'IBM Plex Mono';font-size:0.85em;padding:0 0.3em;"
                                      "border:1px solid #c9c1b8;border-radius:3px;background-color:#f4efe6;}"
                                      "del{text-decoration:line-through;}ins{text-decoration:underline;}"
                                      "cite,var,dfn{font-style:italic;}abbr[title]{text-decoration:underline dotted;}"
                                      "dl,dt{display:block;}dd{display:block;margin-left:1.5rem;}"));
    for (u32 i = 0; i < HtmlTag_Count; i += 1) {
        const HtmlTagInfo *tag = &html_tag_table[i];
        for (const TagDefault &row : tag_default_table) {
            if (row.tag != tag->id) continue;
            if (row.declarations.size) {
                str_list_pushf(arena, css, "%S{", tag->name);
                str_list_push(arena, css, row.declarations);
                str_list_push(arena, css, str_lit("}"));
            }
            break;
        }
    }
}

//- fixed rule groups

void table_css(Arena *arena, StrList *css)
{
    static const Str rules[] = {
        str_lit("tbody tr:nth-child(even){background-color:#f5f5f594;}"),
        str_lit("td:not(:first-child),th:not(:first-child){border-left:#c3bfbf 1px solid;}"),
        str_lit("tr:not(:last-child){border-bottom:#c3bfbf 1px solid;}"),
        str_lit("thead{border:#6d6d6d 1px solid;}"),
        str_lit("tbody{border-left:#6d6d6d 1px solid;border-right:#6d6d6d 1px solid;border-bottom:#6d6d6d 1px solid;}"),
        str_lit("::selection {background-color:#c3baa4;color:black;}"),
    };
    for (Str rule : rules) str_list_push(arena, css, rule);
}

void render_rules_css(Arena *arena, StrList *css)
{
    for (u64 i = 0; i < render_rule_count; i += 1) {
        const RenderRule *rule = &render_rule_table[i];
        if (rule->style.size == 0) continue;
        str_list_pushf(arena, css, ".%S{", rule->class_name);
        str_list_push(arena, css, rule->style);
        str_list_push(arena, css, str_lit("}"));
    }
}

void highlight_css(Arena *arena, StrList *css)
{
    for (u32 id = 1; id < HighlightClass_Count; id += 1) {
        const HighlightClassInfo *info = &highlight_class_table[id];
        str_list_pushf(arena, css, ".%S{%S}", info->css_class, info->declarations);
    }
}

// The character of each icon in the site's icon font, by icon id. Nil draws
// nothing.
static const Str icon_glyph_table[Icon_Count] = {
    str_lit(""),  str_lit("\""), str_lit("#"), str_lit("$"), str_lit("%"), str_lit("&"), str_lit("E"), str_lit("F"),
    str_lit("'"), str_lit("("),  str_lit(")"), str_lit("0"), str_lit("1"), str_lit("2"), str_lit("3"), str_lit("4"),
    str_lit("5"), str_lit("6"),  str_lit("7"), str_lit("8"), str_lit("9"), str_lit("@"), str_lit("A"), str_lit("B"),
    str_lit("C"), str_lit("D"),  str_lit("G"), str_lit("H"), str_lit("I"), str_lit("P"), str_lit("Q"), str_lit("R"),
    str_lit("S"), str_lit("!"),  str_lit("T"), str_lit("U"), str_lit("V"),
};

void icon_css(Arena *arena, StrList *css)
{
    str_list_push(arena, css, str_lit(".icon{font-family:'IconFont';width:1em;height:1em;display:inline-block;margin:0 0.2em;}"));
    for (u32 id = 0; id < Icon_Count; id += 1) {
        Str glyph = icon_glyph_table[id];
        // The rule quotes the character in single quotes: a quote glyph
        // needs its backslash or it would end the string.
        if (str_eq(glyph, str_lit("'"))) str_list_pushf(arena, css, ".icon-%S::before{content:'\\%S';}", icon_name(id), glyph);
        else str_list_pushf(arena, css, ".icon-%S::before{content:'%S';}", icon_name(id), glyph);
    }
}

static Str class_of(u32 kind)
{
    return render_rule_lookup(NodeClass_Element, kind, 0, 0)->class_name;
}

Str site_css_path(Arena *arena, const ShellSettings *settings)
{
    return str_pushf(arena, "%Sshared/css/wyn/css_wyn.css", settings->local_folder);
}

void site_css(Arena *arena, StrList *css, const ShellSettings *settings, ContentKey *out_key)
{
    Str own = shell_read_file(arena, site_css_path(arena, settings), out_key);
    if (own.size) str_list_push(arena, css, own);
    static const Str rules[] = {
        str_lit(".btn{padding:0.1em 0.6em;background-color:#e5ddcd;margin:0;border-radius:0.2rem}"),
        str_lit("[id*=\"toc_i_\"]>a{color:unset;color:#494747;}"),
        str_lit(".icon{margin-top:0;display:inline-flex;align-items:center;}"),
        str_lit(".cat-it{border:#d7cfcf 1px solid;background-color:#fbf8f4;border-radius:2px;padding:0 0.2em;margin-right:0.2em;font-family:'Fira Code';font-size:0.8em;}"),
        str_lit(".ta_c{display:flex;flex-direction:row;}"),
    };
    for (Str rule : rules) str_list_push(arena, css, rule);
    str_list_pushf(arena, css, "li.it_un::marker{font-family:'IconFont';content:'%S   ';font-size:0.4rem;}",
                   icon_glyph_table[Icon_Square]);
    str_list_pushf(arena, css,
                   "#%S{display:flex;flex-direction:column;width:30vw;max-width:30vw;padding:1em 1em;border:1px solid #e1e1e1;border-radius:2px;}",
                   class_of(MarkupKind_ContextDocument));
}

void anchor_css(Arena *arena, StrList *css)
{
    str_list_push(arena, css, str_lit("a{text-decoration:none;font-weight:500;border:1px solid transparent;border-top:none;border-left:none;border-right:none;}"));
    str_list_push(arena, css, str_lit("a:hover{border-color:#6d6760;}"));
}

//- layout and menu

void layout_css(Arena *arena, StrList *css, const PageVariant *v)
{
    bool phone = page_variant_is_smartphone(v);
    // Float arguments go through varargs as doubles.
    f64 S30 = v->left_column_width, S31 = v->top_bar_height, S32 = v->top_left_height, S33 = v->top_right_width;
    f64 S34 = v->top_right_height, S35 = v->top_middle_width, S36 = v->top_middle_height, S37 = v->left_width;
    f64 S38 = v->left_height, S39 = v->right_width, S40 = v->right_height, S41 = v->content_left_margin;
    f64 S42 = v->content_width, S43 = v->content_min_height, S44 = v->content_right_padding, S45 = v->content_top_margin;
    Str top_left = str_lit("top_left"), top_right = str_lit("top_right"), top_middle = str_lit("top_middle");
    if (!phone) {
        str_list_pushf(arena, css, "#%S{padding:%.1fvh %.1fvw;height:%.1fvh;max-height:%.1fvh;min-height:%.1fvh;min-width:%.1fvw;width:%.1fvw;box-sizing:border-box;position:fixed;top:0;display:flex;flex-direction:row;align-self:stretch;z-index:1;background-color:white;}",
                       top_left, 1.0, 0.0, S32, S32, S32, S30, S30);
        // Reaching the right edge, so the top bar's white runs the width of
        // the screen whatever the icons in it take.
        str_list_pushf(arena, css, "#%S{padding:%.1fvh %.1fvw;background-color:white;height:%.1fvh;max-height:%.1fvh;min-height:%.1fvh;left:%.1fvw;right:0;box-sizing:border-box;position:fixed;top:0;display:flex;flex-direction:row;align-self:stretch;z-index:1;padding:0.1rem;}",
                       top_right, 1.0, 0.0, S34, S34, S34, S35 + S30);
        str_list_pushf(arena, css, "#%S{padding:%.1fvh %.1fvw;height:%.1fvh;max-height:%.1fvh;min-height:%.1fvh;min-width:%.1fvw;width:%.1fvw;max-width:%.1fvw;left:%.1fvw;box-sizing:border-box;position:fixed;top:0;border-bottom:0.1rem solid #bfbcbc;background-color:white;}",
                       top_middle, 1.0, 0.0, S36, S36, S36, S35, S35, S35, S30);
    } else {
        // The max-width of top_left has no unit: browsers drop the
        // declaration, and the smartphone layout was tuned that way.
        str_list_pushf(arena, css, "#%S{padding:%.1fvh %.1fvw;height:%.1fvh;max-height:%.1fvh;min-height:%.1fvh;min-width:%.1fvw;width:%.1fvw;max-width:%.1f;box-sizing:border-box;position:fixed;top:0;display:flex;flex-direction:row;align-self:stretch;z-index:1;border-bottom:0.1rem solid #bfbcbc;background-color:white;}",
                       top_left, 1.0, 0.0, S32, S32, S32, S30, S30, S30);
        str_list_pushf(arena, css, "#%S{padding:%.1fvh %.1fvw;height:%.1fvh;max-height:%.1fvh;min-height:%.1fvh;max-width:%.1fvw;min-width:%.1fvw;width:%.1fvw;left:%.1fvw;box-sizing:border-box;position:fixed;top:0;display:flex;flex-direction:row;align-self:stretch;z-index:1;border-bottom:0.1rem solid #bfbcbc;background-color:white;}",
                       top_right, 1.0, 0.0, S34, S34, S34, S33, S33, S33, S35 + S30);
        str_list_pushf(arena, css, "#%S{padding:%.1fvh %.1fvw;height:%.1fvh;max-height:%.1fvh;min-height:%.1fvh;min-width:%.1fvw;width:%.1fvw;max-width:%.1fvw;left:%.1fvw;box-sizing:border-box;position:fixed;top:0;display:flex;flex-direction:column;justify-content:space-around;text-align:center;border-bottom:0.1rem solid #bfbcbc;background-color:white;}",
                       top_middle, 1.0, 0.0, S36, S36, S36, S35, S35, S35, S30);
    }
    str_list_pushf(arena, css, "#%S{max-width:%.1fvw;min-width:%.1fvw;width:%.1fvw;max-height:%.1fvh;height:%.1fvh;min-height:%.1fvh;top:%.1fvh;position:fixed;box-sizing:border-box;display:flex;flex-direction:column;border-right:1px #e1dfdf solid;}",
                   str_lit("left"), S37, S37, S37, S38, S38, S38, S31);
    const char *right = phone
        ? "#%S{max-width:%.1fvw;min-width:%.1fvw;width:%.1fvw;max-height:%.1fvh;height:%.1fvh;min-height:%.1fvh;top:%.1fvh;margin-left:%1.fvw;top:%.1fvh;position:fixed;box-sizing:border-box;display:flex;flex-direction:column;z-index:-1;}"
        : "#%S{max-width:%.1fvw;min-width:%.1fvw;width:%.1fvw;max-height:%.1fvh;height:%.1fvh;min-height:%.1fvh;top:%.1fvh;margin-left:%1.fvw;position:fixed;top:%.1fvh;box-sizing:border-box;display:flex;flex-direction:column;z-index:-1;}";
    str_list_pushf(arena, css, right, str_lit("right"), S39, S39, S39, S40, S40, S40, S31, S42 + S37, S31);
    if (!phone)
        str_list_pushf(arena, css, "#%S{padding-right:%.1fvw;margin:%.1fvh 0 0 %.1fvw;max-width:%.1fvw;min-width:%.1fvw;width:%.1fvw;box-sizing:border-box;min-height:%.1fvh}",
                       str_lit("b_w"), S44, S45, S41, S42, S42, S42, S43);
    else
        str_list_pushf(arena, css, "#%S{padding-right:%.1fvw;margin:%.1fvh 0 0 %.1fvw;max-width:%.1fvw;min-width:%.1fvw;width:%.1fvw;box-sizing:border-box;}",
                       str_lit("b_w"), S44, S45, S41, S42, S42, S42);
    str_list_pushf(arena, css, "%S{display:flex;margin-left:%.1fvw;min-width:%.1fvw;width:%.1fvw;max-width:%.1fvw;box-sizing:border-box;}",
                   str_lit("footer"), S41, S42, S42, S42);
    if (!phone)
        for (Str region : {top_left, top_right, top_middle})
            str_list_pushf(arena, css, "#%S>*{height:100%%;min-height:100%%;}", region);
}

void menu_css(Arena *arena, StrList *css, const PageVariant *variant)
{
    Str menu = str_lit("menu");
    str_list_pushf(arena, css, "#%S {background-color:white;font-family:'Source Sans 3';display:flex;font-size:1rem;box-sizing:border-box;}", menu);
    if (!page_variant_is_smartphone(variant)) {
        str_list_pushf(arena, css, "#%S > ul {display:flex;flex-direction:row;justify-content:start;}", menu);
        str_list_pushf(arena, css, "#%S > ul > li {margin:auto 0;margin-left:2rem;}", menu);
    } else {
        str_list_pushf(arena, css, "#%S > nav > ul {width:100vw;}", menu);
        str_list_pushf(arena, css, "#%S > nav {background-color:white;margin-top:0.7rem;}", menu);
        str_list_pushf(arena, css, "#%S > nav > ul > li {border-bottom:solid 0.2rem #d7cece;width:100vw;padding:0.8rem 0.9rem;background-color:white;width:100%%;}", menu);
    }
}

//- levels and toggles

void levels_css(Arena *arena, StrList *css)
{
    Str quote = class_of(MarkupKind_Quote);
    for (int level = 10; level >= 1; level -= 1)
        str_list_pushf(arena, css, ".%S_%.0f{margin-left:%.1frem;}", quote, (f64)level, (f64)level / 3.0);
    Str toc = class_of(MarkupKind_Toc), heading = class_of(MarkupKind_Heading);
    str_list_pushf(arena, css, ".%S_%S_1{font-size:1rem;font-weight:350;}", toc, heading);
    str_list_pushf(arena, css, ".%S_%S_2{font-size:1rem;font-weight:350;}", toc, heading);
    str_list_pushf(arena, css, ".%S_%S_3{font-size:1rem;font-weight:350;}", toc, heading);
    str_list_pushf(arena, css, ".%S_%S_4{font-size:1rem;font-weight:350;}", toc, heading);
    str_list_pushf(arena, css, ".%S_%S_5{font-size:1rem;font-weight:350;}", toc, heading);
    str_list_pushf(arena, css, ".%S>*{background-color:white;padding:0.3rem 0.1rem;}", class_of(MarkupKind_ContextDocument));
}

void toggle_css(Arena *arena, StrList *css, const PageVariant *desktop)
{
    str_list_push(arena, css, str_lit("*{text-rendering:optimizeLegibility;-webkit-font-smoothing:antialiased;-moz-osx-font-smoothing:grayscale;}"));
    str_list_push(arena, css, str_lit("@media screen and (max-width: 768px){#warn-ban {display: block !important;}}"));
    str_list_push(arena, css, str_lit("[class*=\"toggle-content_\"]{margin:0;display:none !important;border:1px solid #ddd;border-radius:5px;}"));
    str_list_pushf(arena, css, ".toggle-content_fixed{width:100vw;margin:0;display:none !important;border:1px solid #ddd;border-radius:5px;position:fixed;top:%.1fvh;left:0;border-top:none !important;}",
                   (f64)desktop->top_bar_height);
    str_list_push(arena, css, str_lit("input[type=\"checkbox\"]:checked+[class*=\"toggle-content_\"]{display:flex !important;flex-direction:column;}"));
    str_list_push(arena, css, str_lit("input[type=\"checkbox\"]:checked+[class*=\"toggle-content_i\"]{display:inline-block !important;}"));
}

//- head templates

Str stylesheet_text(Arena *arena, const ShellSettings *settings, const PageVariant *variant,
                    const PageVariant *desktop, ContentKey *out_site_css_key)
{
    ArenaTemp scratch = scratch_begin(arena);
    Arena *a = scratch.arena;
    StrList css = {};
    tag_defaults_css(a, &css);
    table_css(a, &css);
    render_rules_css(a, &css);
    highlight_css(a, &css);
    icon_css(a, &css);
    site_css(a, &css, settings, out_site_css_key);
    anchor_css(a, &css);
    layout_css(a, &css, variant);
    menu_css(a, &css, variant);
    str_list_push(a, &css, str_lit("*{all:unset;}"));
    levels_css(a, &css);
    toggle_css(a, &css, desktop);
    Str text = str_list_join_plain(arena, &css);
    scratch_end(scratch);
    return text;
}

static void link_append(Arena *arena, HtmlElement *head, Str rel, Str href, Str type, Str as, bool crossorigin)
{
    HtmlElement *link = html_element_from_tag(arena, HtmlTag_Link);
    // Attribute order is the order a reader of the head expects to find
    // them in: it follows the kind of asset.
    if (str_eq(as, str_lit("font"))) {
        if (crossorigin) html_set_attribute(arena, link, HtmlAttr_Crossorigin, str_lit("anonymous"));
        html_set_attribute(arena, link, HtmlAttr_Href, href);
        html_set_attribute(arena, link, HtmlAttr_Type, type);
        html_set_attribute(arena, link, HtmlAttr_As, as);
    } else if (str_eq(as, str_lit("style"))) {
        html_set_attribute(arena, link, HtmlAttr_Href, href);
        if (crossorigin) html_set_attribute(arena, link, HtmlAttr_Crossorigin, str_lit("anonymous"));
        html_set_attribute(arena, link, HtmlAttr_As, as);
    } else {
        html_set_attribute(arena, link, HtmlAttr_Href, href);
        if (type.size) html_set_attribute(arena, link, HtmlAttr_Type, type);
    }
    html_set_attribute(arena, link, HtmlAttr_Rel, rel);
    html_append_content(head, link);
}

HtmlElement *head_template_tree(Arena *arena, const ShellSettings *settings, const PageVariant *variant,
                                const PageVariant *desktop, ContentKey *out_site_css_key)
{
    HtmlElement *document = html_node_create(arena, HtmlNode_Document, 0, str_empty(), str_empty(), 0);
    HtmlElement *head = html_element_from_tag(arena, HtmlTag_Head);
    html_append_child(document, head);

    Str shared = str_pushf(arena, "%Sshared/", settings->local_folder);
    Str published = str_pushf(arena, "%Shtml/shared/", settings->local_folder);
    Str assets[] = {
        str_pushf(arena, "%Sfonts/SourceSans3-Regular.ttf", shared), str_pushf(arena, "%Sfonts/SourceSans3-Italic.ttf", shared),
        str_pushf(arena, "%Sfonts/SourceSans3-Medium.ttf", shared),  str_pushf(arena, "%Sfonts/NotoSerif-Bold.ttf", shared),
        str_pushf(arena, "%Sfonts/NotoSerif-Regular.ttf", shared),   str_pushf(arena, "%Sfonts/IBMPlexMono-Regular.ttf", shared),
        str_pushf(arena, "%Simages/favicon-32x32.png", shared),      str_pushf(arena, "%Scss/icons.css", published),
        str_pushf(arena, "%Scss/fonts.css", published),
    };
    bool deploy = settings->deploy != 0;
    for (Str path : assets) {
        Str p = deploy ? shell_web_path(settings, path) : path;
        if (str_contains(p, str_lit(".woff2")) || str_contains(p, str_lit(".ttf"))) {
            link_append(arena, head, str_lit("preload"), p, str_lit("font/woff2"), str_lit("font"), deploy);
        } else if (str_contains(p, str_lit(".css"))) {
            link_append(arena, head, str_lit("stylesheet"), p, str_empty(), str_empty(), false);
            link_append(arena, head, str_lit("preload"), p, str_empty(), str_lit("style"), deploy);
        } else if (str_contains(p, str_lit("favicon"))) {
            link_append(arena, head, str_lit("icon"), p, str_lit("image/x-icon"), str_empty(), false);
        }
    }

    HtmlElement *style = html_element_from_tag(arena, HtmlTag_Style);
    html_set_attribute(arena, style, HtmlAttr_Class, str_lit("wyn_generated"));
    html_append_text(arena, style, stylesheet_text(arena, settings, variant, desktop, out_site_css_key));
    html_append_content(head, style);

    if (settings->js) {
        // The script finds the renderer's classes by these names; the flag
        // attribute (written "data-flag" with `js`, shell_write_options)
        // marks them as wyn's own.
        for (u64 i = 0; i < render_rule_count; i += 1) {
            HtmlElement *meta = html_element_from_tag(arena, HtmlTag_Meta);
            StrList classes = {};
            str_list_push(arena, &classes, str_lit("internal"));
            str_list_push(arena, &classes, str_lit("wyn_identifier"));
            html_set_attribute_list(arena, meta, HtmlAttr_Class, &classes);
            html_set_attribute(arena, meta, HtmlAttr_Data, str_lit("a flag"));
            html_set_attribute(arena, meta, HtmlAttr_Name, render_rule_table[i].class_name);
            html_append_content(head, meta);
        }
    }
    return document;
}

u32 head_template_build(Arena *arena, const ShellSettings *settings, const PageVariant *variant,
                        const PageVariant *desktop, Str path, ShellMessages *messages,
                        ContentKey *out_site_css_key)
{
    ArenaTemp scratch = scratch_begin(arena);
    HtmlElement *document = head_template_tree(scratch.arena, settings, variant, desktop, out_site_css_key);
    HtmlWriteOptions write = shell_write_options(settings);
    Str text = html_text_of(scratch.arena, document, &write);
    u32 status = page_write(arena, path, text, messages ? &messages->log : nullptr, &settings->on_write);
    scratch_end(scratch);
    return status;
}
