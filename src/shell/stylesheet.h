// shell/stylesheet.h: the layout numbers of the two page variants, the CSS
// wyn generates, and the head templates that carry it.
//
// Pages link no style sheet of wyn's making: every rule below goes into one
// `style` element in the head template of each variant, and every page of
// the variant gets it through its head (shell/page_shell.h). The CSS is the
// per-tag defaults, table rules, the renderer's class rules, the colours of
// highlighted code, icon rules, the site's own css_wyn.css, anchor rules,
// the fixed-position layout and the menu of the variant, quote and heading
// levels and toggles.
//
// Everything here runs on the thread that sets the shell up, before pages
// are written, and again when the watch sees an input change. The text
// lives on the arena passed in.
#pragma once
#include "html/html_tree.h"
#include "render/page_variant.h"
#include "shell/settings.h"

// Fills a record with the layout numbers of its kind (desktop or
// smartphone) and computes the derived ones.
void page_variant_fill(PageVariant *variant, u32 kind);

//- rule groups, each appended to `css` as separate pieces

void tag_defaults_css(Arena *arena, StrList *css);
void table_css(Arena *arena, StrList *css);
void render_rules_css(Arena *arena, StrList *css);
// The colours of highlighted code (render/highlight.h), one rule per class.
void highlight_css(Arena *arena, StrList *css);
void icon_css(Arena *arena, StrList *css);
// Reads the site's "shared/css/wyn/css_wyn.css" first (nothing when it is
// missing); `out_key` gets the content key it was read at.
void site_css(Arena *arena, StrList *css, const ShellSettings *settings, ContentKey *out_key);
void anchor_css(Arena *arena, StrList *css);
void layout_css(Arena *arena, StrList *css, const PageVariant *variant);
void menu_css(Arena *arena, StrList *css, const PageVariant *variant);
void levels_css(Arena *arena, StrList *css);
// The toggles take their top offset from the desktop numbers for both
// variants: the fixed toggle sits under the desktop top bar.
void toggle_css(Arena *arena, StrList *css, const PageVariant *desktop);

// The local path of the site's own style sheet.
Str site_css_path(Arena *arena, const ShellSettings *settings);

//- head templates

// The whole CSS of a variant, joined.
Str stylesheet_text(Arena *arena, const ShellSettings *settings, const PageVariant *variant,
                    const PageVariant *desktop, ContentKey *out_site_css_key);
// The head of a variant as a tree under a new document node.
HtmlElement *head_template_tree(Arena *arena, const ShellSettings *settings, const PageVariant *variant,
                                const PageVariant *desktop, ContentKey *out_site_css_key);
// Builds the head and writes it to `path` (the variant's head template) as
// shell_write_options says; a failed write becomes a warning in `messages`. Returns the
// FileReplaceStatus of the write.
u32 head_template_build(Arena *arena, const ShellSettings *settings, const PageVariant *variant,
                        const PageVariant *desktop, Str path, ShellMessages *messages,
                        ContentKey *out_site_css_key);
