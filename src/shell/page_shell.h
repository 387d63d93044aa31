// shell/page_shell.h: the frame every page gets (doctype, html, head, the
// shared script, the viewport, the layout regions, the menu and the footer),
// and the setup that prepares the templates it comes from.
//
// A Shell is made once by the site build (shell_create, then shell_setup)
// before any page is written, and lives for the rest of the run. Templates
// are parsed once per content, not once per page: the shell keeps, per
// variant, the parsed head and the prepared menu together with the content
// key they were made from, and every page gets a copy of that tree on its
// own arena. When a template's content changes on disk (the file service
// reloads it), the next page re-parses it, once, and the caller receives
// that load's messages to print. The author's menu template is read, never
// written: its prepared form (links rewritten for the mode) lives only here.
//
// The frame of an empty page is the same for every page of a kind, so it is
// made once per kind and per load of its templates (page_frame): the parts
// no page changes or searches (the head's content, the menu's, the
// footer's) are kept as their serialized HTML, and a page copies a few
// dozen nodes and those texts instead of rebuilding and re-serializing the
// head with its style sheet every time.
//
// Threads: page_shell_apply and page_frame may run on every parser worker
// at once; the template slots and the frames are guarded by one lock, held
// only to look a template or frame up or to make a changed one, never while
// a page's tree is built. Trees handed out are never changed afterwards,
// and are released only once no page that may hold them is open (see
// shell_pages_begin), so a watch that runs for days does not keep every
// template it ever loaded. shell_setup and shell_refresh run on one thread (the build's setup, later
// the watch).
#pragma once
#include "os/platform.h"
#include "shell/settings.h"
#include "render/page_variant.h"
#include "html/html_tree.h"

// Region keys of the page layout; the region's id is its name.
enum ShellRegion : u32 {
    ShellRegion_TopMiddle = 0,
    ShellRegion_TopLeft,
    ShellRegion_TopRight,
    ShellRegion_Right,
    ShellRegion_Left,
    ShellRegion_BW,
    ShellRegion_Bottom,
    ShellRegion_Menu,
    ShellRegion_Footer,
    ShellRegion_Count,
};
extern const Str shell_region_name_table[ShellRegion_Count];

struct ShellTemplate {
    Str path;               // local path
    ContentKey key;         // the content `element` was made from
    b32 loaded;
    Arena *arena;           // what the last load made (the source, the tree); retired when it loads again
    HtmlElement *element;   // the template's first element (prepared, for menus); none when it has none
    u64 load_count;         // parses so far, for tests and tools
};

// The frame of one page kind around an empty page, as page_shell_apply makes
// it, with its unsearched parts held as HTML text; remade when a template
// it came from was loaded again.
struct ShellFrame {
    Arena *arena;            // the frame and its texts; retired with the templates it came from
    HtmlElement *document;   // on `arena`; none until the first page of the kind or after a template loaded
    u64 head_loads;          // the load_count of the templates it was made from
    u64 menu_loads;
    u64 made_count;          // frames made so far, for tests and tools
};

enum ShellInput : u32 {
    ShellInput_FontsCss = 0,
    ShellInput_IconsCss,
    ShellInput_SiteCss,
    ShellInput_Count,
};

// An arena of an old template load or frame, kept until no page can hold
// its trees or texts.
struct ShellRetired {
    ShellRetired *next;
    Arena *arena;   // the record lives on it
};

struct Shell {
    Arena *arena;                 // settings and paths; never rolled back
    CriticalSection *lock;        // guards heads, menus, frames and what follows
    u64 pages_open;               // between shell_pages_begin and shell_pages_end
    ShellRetired *retired;        // released once pages_open is back at zero
    u64 retired_count;            // arenas retired so far, for tests and tools
    ShellSettings settings;       // a copy; strings on `arena`
    PageVariant variants[2];      // desktop, smartphone
    ShellTemplate heads[2];
    ShellTemplate menus[2];
    ShellFrame frames[2];
    Str input_paths[ShellInput_Count];
    Str output_paths[2];          // the rewritten copies of fonts.css and icons.css
    ContentKey input_keys[ShellInput_Count];   // what the outputs were last made from
    b32 inputs_seen[ShellInput_Count];
    ContentKey head_keys[2];      // the bytes of the head templates as last written
    u64 menu_loads_told[2];       // the menus' load counts as shell_refresh last reported them
    HtmlWriteOptions write_options;   // from the settings: how the head templates and pages are written
};

//- paths

Str shell_head_template_path(Arena *arena, const ShellSettings *settings, u32 variant_kind);
Str shell_menu_template_path(Arena *arena, const ShellSettings *settings, u32 variant_kind);

//- the shell

// Copies the settings and fills the two page variants; reads no file.
Shell *shell_create(const ShellSettings *settings);
// In this order: the rewritten copies of fonts.css and icons.css, the two
// head templates, the two menus (prepared in memory). Warnings and template
// messages go to `messages` on `arena`.
void shell_setup(Shell *shell, Arena *arena, ShellMessages *messages);
// Regenerates what depends on an input whose content changed since it was
// last used: the style-sheet copies (fonts.css, icons.css), the head
// templates (css_wyn.css, or a head template changed by hand), and the
// prepared menus (a menu template). Returns how many outputs were
// regenerated. Cheap when nothing changed: one content lookup per input.
// A menu a page loaded since the last refresh counts as regenerated too:
// the pages built before that load still show the old one.
u32 shell_refresh(Shell *shell, Arena *arena, ShellMessages *messages);

// How the pages this shell frames are written; null without a shell (the
// table's own names).
const HtmlWriteOptions *shell_page_write_options(const Shell *shell);

// The variant record of a kind; the desktop record for any other value.
const PageVariant *shell_variant(const Shell *shell, u32 variant_kind);

//- menus

// The prepared menu of a template's text: its first element without its
// `style`, or the default menu (a `nav` with id "menu" and a Home link)
// when the text has no element; the links of the first `ul`'s items
// rewritten for the mode. Parse messages go to `diagnostics`.
HtmlElement *menu_template_prepare_text(Arena *arena, const ShellSettings *settings, Str text, Str path,
                                        DiagnosticList *diagnostics);
// The same, read from the template's local path; the file is not changed.
HtmlElement *menu_template_prepare(Arena *arena, const ShellSettings *settings, Str path, ShellMessages *messages);
// One menu link as the mode wants it: "/" is the index page; site paths and
// file addresses become file addresses (or web paths with deploy); any other
// scheme or a relative link is returned as it is.
Str menu_link_rewrite(Arena *arena, const ShellSettings *settings, Str href);
// The links of a menu template's text (`path` is where it was read) that
// lead to a file of the site that is not there: a warning each, at its
// `a`, appended to `out` on `arena`. Returns how many. Other schemes,
// fragments and relative links are not looked at; "/" is the index page.
u64 menu_links_check(Arena *arena, const ShellSettings *settings, Str text, Str path, DiagnosticList *out);

//- pages

// Pages copy the frame's nodes but share its texts, so a page built from
// the shell holds the arenas of the templates it came from until it is
// written. Whoever builds and writes pages brackets them with these: a
// template loaded again meanwhile retires its old arena, which is released
// once no bracket is open. Brackets nest and may be open on many threads.
void shell_pages_begin(Shell *shell);
void shell_pages_end(Shell *shell);

// Puts the frame around a page tree and returns its document node (created
// when `document` is none). Runs on the calling worker's arena. When a
// template was (re)loaded by this call, its messages go to `messages` (may
// be null).
HtmlElement *page_shell_apply(Arena *arena, Shell *shell, HtmlElement *document, const PageVariant *variant,
                              ShellMessages *messages);

// The frame page_shell_apply puts around an empty page, copied onto `arena`
// from the one kept for the variant's kind. The head's, menu's and footer's
// content may be a single HTML node, written as the shell's write options
// say; their own elements, the regions, head and body are elements as
// page_shell_apply makes them. A template's messages go to `messages` as
// with page_shell_apply.
HtmlElement *page_frame(Arena *arena, Shell *shell, const PageVariant *variant, ShellMessages *messages);

// A deep copy of a subtree on `arena`; attribute values and texts are shared.
HtmlElement *html_copy_tree(Arena *arena, HtmlElement *root);
