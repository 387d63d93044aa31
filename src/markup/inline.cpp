// markup/inline.cpp: the inline half of the parser and the document header.
//
// Once a line has a node (heading, paragraph, item, quote paragraph,
// footnote, description, header value or table cell), its tokens become
// text runs and inline elements inside it, up to the line break. Fenced
// blocks and raw text are the only inline constructs that run over line
// breaks. Every construct here looks at most a few tokens ahead or consumes
// what it scans, so the inline half is linear too.
#include "base/date.h"
#include "markup/paths.h"
#include "markup/parser_state.h"

MarkupNode *parser_container(Parser *p)
{
    if (p->top == p->table.record) return node_is_nil(p->table.cell) ? p->table.root : p->table.cell;
    return p->top->node;
}

static bool token_text_is(const Parser *p, const MarkupToken *t, Str s)
{
    return t && str_eq(parser_token_text(p, t), s);
}

static void text_token(Parser *p, MarkupNode *container)
{
    parser_text_node(p, container, &p->tokens[p->i], 0);
    p->i += 1;
}

// Skips blank tokens from `*index`; returns the token reached (null at the end).
static const MarkupToken *skip_blanks(const Parser *p, u64 *index)
{
    while (*index < p->count && (p->tokens[*index].flags & TokenFlag_Space)) *index += 1;
    return parser_token(p, *index);
}

//- emphasis

static bool is_word(const MarkupToken *t) { return token_kind(t, TokenFlag_Word); }
static bool is_word_or_code(const MarkupToken *t) { return token_kind(t, TokenFlag_Word | TokenFlag_Backtick); }

static void link_string(Parser *p, MarkupNode *container, MarkupNode *text, const MarkupToken *s, bool embedded);
static void bare_file_name_check(Parser *p, const MarkupToken *s, bool embedded);
static void blank_in_link_check(Parser *p, const MarkupToken *s, Str target, Str path);
static void not_a_picture_check(Parser *p, const MarkupToken *s, Str path);

static void mark_token(Parser *p, MarkupNode *container, const MarkupToken *t)
{
    bool single = token_text_is(p, t, str_lit("_"));
    bool pair = token_text_is(p, t, str_lit("__"));
    if (!single && !pair) return text_token(p, container);
    const MarkupToken *before = p->i > 0 ? &p->tokens[p->i - 1] : nullptr;
    const MarkupToken *after = parser_token(p, p->i + 1);

    if (single && after && token_is_closed_string(after) && !token_is_escaped(after)) {
        // "_" glued to a quoted string: the string is shown in place (an
        // image when it names a file or an address).
        MarkupNode *n = parser_text_node(p, container, t, NodeFlag_ClosedString);
        n->name = n->text = parser_token_text(p, after);
        p->i += 2;
        if (after->flags & (TokenFlag_PathLike | TokenFlag_UrlLike)) link_string(p, container, n, after, true);
        else bare_file_name_check(p, after, true);
        return;
    }

    u64 flags = 0;
    if (single) {
        if (!is_word(before) && is_word_or_code(after)) flags = NodeFlag_StrongOpen | NodeFlag_StrongInside;
        else if (is_word_or_code(before)) flags = is_word_or_code(after) ? 0 : (u64)NodeFlag_StrongClose;
    } else {
        if (!is_word(before) && is_word(after)) flags = NodeFlag_EmphasisOpen | NodeFlag_EmphasisInside;
        else if (is_word_or_code(before)) flags = is_word(after) ? 0 : (u64)NodeFlag_EmphasisClose;
    }
    parser_text_node(p, container, t, flags);
    p->i += 1;
}

//- links

// Split as the HTTP engine splits an address: the scheme up to "://", the
// host up to the first "/" (a ":" in it starts the port). A web address
// needs a scheme and a host with a dot.
static bool is_web_address(Str text)
{
    u64 scheme = str_find(text, str_lit("://"), 0, 0);
    if (scheme == 0 || scheme >= text.size) return false;
    Str rest = str_skip(text, scheme + 3);
    Str host = str_prefix(rest, str_find_byte(rest, '/', 0));
    host = str_prefix(host, str_find_byte(host, ':', 0));
    return host.size > 0 && str_find_byte(host, '.', 0) < host.size;
}

static bool has_blank(Str text)
{
    for (u64 k = 0; k < text.size; k += 1)
        if (text.str[k] == ' ' || text.str[k] == '\t') return true;
    return false;
}

static bool is_jpeg_extension(Str ext)
{
    static const Str jpeg[] = {str_lit("jpeg"), str_lit("jpg"), str_lit("jpe"),
                               str_lit("jfif"), str_lit("jif"), str_lit("jfi")};
    for (Str e : jpeg)
        if (str_eq(e, ext)) return true;
    return false;
}

static bool is_output_path_value(const MarkupNode *container)
{
    return container->node_class == NodeClass_HeaderField && container->field &&
           container->field->id == HeaderField_OutputPath;
}

// A picture's description holds captions in quotes and sizes such as
// 640x480, parted by commas. Anything else is left out of the page, and the
// author meant something by it: the first such run of a part (from its
// first word that is neither to its last) is told, once a description.
struct DescriptionPart {
    const MarkupToken *first, *last;
    bool told;
};

static bool is_picture_size(Str s)
{
    u64 x = 0;
    while (x < s.size && char_is_digit((u8)s.str[x])) x += 1;
    if (x == 0 || x + 1 >= s.size || (s.str[x] != 'x' && s.str[x] != 'X')) return false;
    for (u64 i = x + 1; i < s.size; i += 1)
        if (!char_is_digit((u8)s.str[i])) return false;
    return true;
}

static void description_part_end(Parser *p, DescriptionPart *part)
{
    const MarkupToken *first = part->first, *last = part->last;
    part->first = part->last = nullptr;
    if (!first || part->told) return;
    Str text = str_substr(p->text, first->begin, last->end);
    bool words = false;
    for (u64 i = 0; i < text.size; i += 1) {
        u8 c = (u8)text.str[i];
        if (char_is_alpha(c) && c != 'x' && c != 'X') words = true;
    }
    part->told = true;
    // "640px" and "50%" are sizes meant in CSS's units; "a cat" a caption.
    bool css_size = char_is_digit((u8)text.str[0]);
    parser_message(p, first, DiagLevel_Warning,
                   words && !css_size
                       ? str_pushf(p->work,
                                   "\"%S\" in a picture's description is no caption and no size, and the page leaves "
                                   "it out: a caption is written in quotes, as in (\"%S\")",
                                   text, text)
                       : str_pushf(p->work,
                                   "\"%S\" in a picture's description is no size, and the page leaves it out: a "
                                   "size is the width and height in pixels, as in 640x480",
                                   text));
}

// `text` is the run just made from the quoted string `s` (p->i is past it).
static void link_string(Parser *p, MarkupNode *container, MarkupNode *text, const MarkupToken *s, bool embedded)
{
    Str target = str_unquote(parser_token_text(p, s));
    if (is_output_path_value(container)) return;   // the header line took its values already
    // "file.wyn[#3]" names numbered anchor 3 of another document: the
    // first "[", the first "#" and the first "]" come in that order.
    Str path = target;
    bool anchored = false;
    u64 open = str_find_byte(target, '[', 0);
    u64 hash = str_find_byte(target, '#', 0);
    u64 close = str_find_byte(target, ']', 0);
    if (open < hash && hash < close && close < target.size) {
        path = str_prefix(target, open);
        anchored = true;
    }
    u32 kind = MarkupKind_None;
    NodeList *list = nullptr;
    if (!anchored && !has_blank(target) && is_web_address(target)) {
        kind = MarkupKind_LinkHttp;
        list = &p->out->web_links;
    } else if (is_file_link_text(path)) {
        kind = MarkupKind_LinkFile;
        list = &p->out->file_links;
    }
    if (!list) return blank_in_link_check(p, s, target, path);

    text->name = text->text = target;
    MarkupNode *link = parser_element(p, kind, text->flags & ~(u64)NodeFlag_DoubleQuoted, text->offset);
    node_detach(text);
    node_append_child(container, link);
    node_append_child(link, text);
    node_list_push(p->arena, list, link);
    if (embedded) {
        if (kind == MarkupKind_LinkFile) not_a_picture_check(p, s, path);
        link->flags |= NodeFlag_Embedded;
        if (str_find_byte(target, '.', 0) < target.size && is_jpeg_extension(extension(target)))
            link->flags |= NodeFlag_Jpeg;
    }

    const MarkupToken *open_paren = parser_token(p, p->i);
    if (!token_is_symbol(p, open_paren, '(')) return;
    const MarkupToken *first = parser_token(p, p->i + 1);
    MarkupNode *desc = parser_element(p, MarkupKind_Desc, 0, first ? first->begin : open_paren->end);
    node_append_child(link, desc);
    if (!embedded) {
        parser_push(p, ParseState_Inline, desc);
        p->i += 1;
        return;
    }
    // An image's description is a comma-separated list: a caption in
    // quotes and size parts such as 640x480.
    u64 k = p->i + 1;
    bool escaped = false;
    DescriptionPart part = {};
    for (; k < p->count; k += 1) {
        const MarkupToken *t = &p->tokens[k];
        if (t->flags & TokenFlag_Newline) break;
        bool plain = escaped;
        escaped = false;
        if ((t->flags & TokenFlag_Escape) && !plain) {
            escaped = true;   // "\," keeps its comma
            continue;
        }
        if (!plain && token_is_symbol(p, t, ')')) {
            k += 1;
            break;
        }
        if (t->flags & TokenFlag_Space) continue;
        if (!plain && token_is_symbol(p, t, ',')) {
            description_part_end(p, &part);
            continue;
        }
        Str s2 = parser_token_text(p, t);
        if (!token_is_closed_string(t) && !is_picture_size(s2)) {
            if (!part.first) part.first = t;
            part.last = t;
        }
        // A node per word, as the page's caption and size checks read them.
        u64 flags = node_flags_from_token(t->flags);
        for (u64 begin = t->begin;;) {
            u64 end = token_word_end(p, t, begin);
            Str word = str_substr(p->text, begin, end);
            node_append_child(desc, parser_node(p, NodeClass_Text, flags, word, word, begin));
            if (end >= t->end) break;
            begin = end + 1;
        }
    }
    description_part_end(p, &part);
    p->i = k;
}

// The text from `from` to the ")" that closes it on the same line, within
// `cap` bytes; false when there is none.
static bool paren_text(Str text, u64 from, u64 cap, Str *out)
{
    u64 end = from;
    while (end < text.size && end - from < cap && text.str[end] != ')' && text.str[end] != '\n') end += 1;
    if (end >= text.size || text.str[end] != ')') return false;
    *out = str_substr(text, from, end);
    return true;
}

// Lines of the text below the line `from` stands on, to the text's end.
static u64 lines_below(Str from)
{
    Str rest = str_skip(from, min_of<u64>(str_find_byte(from, '\n', 0) + 1, from.size));
    u64 lines = 0;
    for (u64 i = 0; i < rest.size; i += 1) lines += rest.str[i] == '\n';
    return lines + (rest.size && rest.str[rest.size - 1] != '\n');
}

// The files a site links or shows, and whether _"file" shows one in place
// (a picture, or a CSV file as a table).
struct SiteFileExtension {
    Str ext;
    bool shown_in_place;
};

static const SiteFileExtension site_file_extensions[] = {
    {str_lit("wyn"), false},  {str_lit("html"), false}, {str_lit("htm"), false},  {str_lit("png"), true},
    {str_lit("jpg"), true},   {str_lit("jpeg"), true},  {str_lit("gif"), true},   {str_lit("svg"), true},
    {str_lit("webp"), true},  {str_lit("avif"), true},  {str_lit("pdf"), false},  {str_lit("csv"), true},
    {str_lit("txt"), false},  {str_lit("zip"), false},  {str_lit("gz"), false},   {str_lit("mp3"), false},
    {str_lit("mp4"), false},  {str_lit("webm"), false}, {str_lit("ogg"), false},  {str_lit("epub"), false},
};

static const SiteFileExtension *site_file_extension(Str ext)
{
    for (const SiteFileExtension &e : site_file_extensions)
        if (str_match(ext, e.ext, StrMatch_CaseInsensitive)) return &e;
    return nullptr;
}

static bool is_site_file_extension(Str ext) { return site_file_extension(ext) != nullptr; }

// _"/notes.pdf" shows the file in place as a picture, and a browser draws
// no picture of a document, a page, a sound or a film: the page shows a
// broken image. Told, with the link that works.
static void not_a_picture_check(Parser *p, const MarkupToken *s, Str path)
{
    Str name = path_file_name(path);
    u64 dot = str_find_last_byte(name, '.');
    if (dot >= name.size) return;
    Str ext = str_skip(name, dot + 1);
    const SiteFileExtension *known = site_file_extension(ext);
    if (!known || known->shown_in_place) return;
    parser_message(p, s, DiagLevel_Warning,
                   str_pushf(p->work,
                             "_\"%S\" shows the file as a picture, and a browser draws none of a .%S file; link it "
                             "instead, as in \"%S\"(%S)",
                             path, ext, path, name));
}

// A quoted file name without a slash, such as "cat.png": a name and the
// extension of a file a site links or shows. Words with a dot that are no
// such file ("Node.js", "e.g.") stay quiet.
static bool is_bare_file_name(Str text)
{
    // A slash before the dot made the string a link already.
    u64 dot = str_find_last_byte(text, '.');
    if (dot == 0 || dot >= text.size) return false;
    if (memchr(text.str, '\\', dot) || memchr(text.str, ' ', dot) || memchr(text.str, '\t', dot)) return false;
    return is_site_file_extension(extension(text));
}

// "/assets/my photo.png" reads as a picture to its author, whose files
// often have blanks in their names, but a path with a blank is no link and
// the page shows the quoted text. Only what is plainly a path is told: one
// written from the site's root or from here, naming a file a site links or
// shows; quoted prose with a slash and a dot in it stays quiet. An address
// with a blank is told too: its blank is written %20.
static void blank_in_link_check(Parser *p, const MarkupToken *s, Str target, Str path)
{
    if (!has_blank(target)) return;
    bool web = str_match(str_lit("https://"), target, StrMatch_Prefix) ||
               str_match(str_lit("http://"), target, StrMatch_Prefix);
    if (web) {
        parser_message(p, s, DiagLevel_Warning,
                       str_pushf(p->work, "\"%S\" is text, not a link: an address cannot hold a blank; write each one as %%20",
                                 target));
        return;
    }
    bool rooted = str_match(str_lit("/"), path, StrMatch_Prefix) || str_match(str_lit("./"), path, StrMatch_Prefix) ||
                  str_match(str_lit("../"), path, StrMatch_Prefix);
    Str name = path_file_name(path);
    u64 dot = str_find_last_byte(name, '.');
    if (!rooted || dot == 0 || dot >= name.size || !is_site_file_extension(extension(name))) return;
    // The name a rename would give, blanks made dashes.
    Str renamed = str_copy(p->work, path);
    for (u64 k = 0; k < renamed.size; k += 1)
        if (renamed.str[k] == ' ' || renamed.str[k] == '\t') ((char *)renamed.str)[k] = '-';
    parser_message(p, s, DiagLevel_Warning,
                   str_pushf(p->work,
                             "\"%S\" is text, not a link: a path cannot hold a blank; rename the file, as in \"%S\"",
                             path, renamed));
}

// "cat.png"(a cat) and _"cat.png" read as a link and a picture to their
// author, but a path needs a slash: without one the page shows the quoted
// text. The advice names the file the path it gives leads to, since no path
// starts beside the document: it starts at the local folder, or at the
// folder its kind of file is kept in.
static void bare_file_name_check(Parser *p, const MarkupToken *s, bool embedded)
{
    if (s->flags & (TokenFlag_PathLike | TokenFlag_UrlLike)) return;
    Str name = str_unquote(parser_token_text(p, s));
    if (!is_bare_file_name(name)) return;
    Str path = str_pushf(p->work, "/%S", name);
    parser_message(p, s, DiagLevel_Warning,
                   str_pushf(p->work, "\"%S\" is text, not a link: a path needs a slash, as in \"%S\" for the file %S",
                             name, path, link_resolve_path(p->work, p->options->local_folder, path, embedded)));
}

// "mailto:me@example.org"(write to me) reads as a mail link to its author;
// wyn links files and web addresses only, and the page showed the quoted
// text. Told, with the raw HTML that makes the link.
static void mail_link_check(Parser *p, const MarkupToken *s, const MarkupToken *paren)
{
    Str target = str_unquote(parser_token_text(p, s));
    bool mail = str_match(str_lit("mailto:"), target, StrMatch_Prefix | StrMatch_CaseInsensitive);
    bool phone = str_match(str_lit("tel:"), target, StrMatch_Prefix | StrMatch_CaseInsensitive);
    if (!mail && !phone) return;
    Str label = str_empty();
    if (paren_text(p->text, paren->end, 200, &label)) label = str_trim(label);
    if (!label.size) label = str_skip(target, mail ? 7 : 4);
    parser_message(p, s, DiagLevel_Warning,
                   str_pushf(p->work,
                             "\"%S\" is text, not a link: wyn links files and web addresses; a %s link is written "
                             "as raw HTML, as in ~{<a href=\"%S\">%S</a>}~",
                             target, mail ? "mail" : "phone", target, label));
}

static void string_token(Parser *p, MarkupNode *container, const MarkupToken *t)
{
    bool link_like = (t->flags & (TokenFlag_PathLike | TokenFlag_UrlLike)) != 0 && t->begin >= p->links_quiet_before;
    if (!(t->flags & TokenFlag_StringClosed)) {
        if (link_like) {
            Str text = str_lit("There is ambiguity on this potential link, missed a quote?");
            parser_message(p, t, DiagLevel_Warning, text);
            p->i += 1;
            return;
        }
        return text_token(p, container);
    }
    MarkupNode *n = parser_text_node(p, container, t, 0);
    p->i += 1;
    // Any quoted value of an output_path line names an output path.
    if (link_like || is_output_path_value(container)) link_string(p, container, n, t, false);
    else if (token_is_symbol(p, parser_token(p, p->i), '(')) {
        bare_file_name_check(p, t, false);
        mail_link_check(p, t, parser_token(p, p->i));
    }
}

// Markdown's "[text](address)" and "![caption](picture)" show as written:
// the note gives the wyn form of the very link, when it fits on its line.
static void markdown_link_note(Parser *p, const MarkupToken *open, const MarkupToken *close, const MarkupToken *paren)
{
    Str text = p->text;
    bool picture = open->begin > 0 && text.str[open->begin - 1] == '!';
    Str label = str_substr(text, open->end, close->begin);
    Str address = str_empty();
    bool closed = paren_text(text, paren->end, 400, &address);
    address = str_trim(address);
    bool concrete = closed && address.size && label.size < 400 &&
                    str_find_byte(address, ' ', 0) == address.size && str_find_byte(label, '\n', 0) == label.size &&
                    str_find_byte(address, '"', 0) == address.size && str_find_byte(label, '"', 0) == label.size;
    Str note;
    if (picture)
        note = concrete ? str_pushf(p->work, "\"![%S](%S)\" shows no picture here, only its text; wyn shows a picture "
                                             "as _\"%S\"(\"%S\")",
                                    label, address, address, label)
                        : str_lit("\"![caption](picture)\" shows no picture here, only its text; wyn shows a picture "
                                  "as _\"picture\"(\"caption\")");
    else
        note = concrete ? str_pushf(p->work, "\"[%S](%S)\" links nothing here and shows as written; wyn writes this "
                                             "link as \"%S\"(%S), the address in double quotes",
                                    label, address, address, label)
                        : str_lit("\"[text](address)\" links nothing here and shows as written; wyn writes a link "
                                  "as \"address\"(text), the address in double quotes");
    parser_markdown_note(p, open, note);
}

//- brackets: tick boxes, footnotes, numbered links

// References and definitions attach to the container, or to the element
// the container ends with ("`code`[#2]" marks the code).
static MarkupNode *bracket_anchor(MarkupNode *container)
{
    MarkupNode *last = container->last_child;
    if (node_is_nil(last) || last->node_class == NodeClass_Text) return container;
    return last;
}

static u8 number_value(Str digits)
{
    u8 value = 0;
    for (u64 k = 0; k < digits.size && char_is_digit((u8)digits.str[k]); k += 1)
        value = (u8)(value * 10 + (digits.str[k] - '0'));
    return value;
}

static bool number_past_byte(Str digits) { return digits_value_up_to(digits, 255) > 255; }

static MarkupNode *reference_node(Parser *p, MarkupNode *container, u32 kind, const MarkupToken *open, u8 number)
{
    MarkupNode *ref = parser_element(p, kind, 0, open->begin);
    ref->number = number;
    node_append_child(ref, parser_element(p, MarkupKind_Reference, 0, open->begin));
    node_append_child(bracket_anchor(container), ref);
    return ref;
}

// The marker made: the definition or the reference.
static MarkupNode *internal_link_marker(Parser *p, MarkupNode *container, const MarkupToken *open, u8 number)
{
    const MarkupToken *next = parser_token(p, p->i);
    if (token_unescaped(next, TokenFlag_Mark) && token_text_is(p, next, str_lit("_"))) {
        MarkupNode *def = parser_element(p, MarkupKind_InternalLink, 0, open->begin);
        def->number = number;
        node_append_child(bracket_anchor(container), def);
        node_list_push(p->arena, &p->out->internal_links, def);
        p->i += 1;
        return def;
    }
    MarkupNode *ref = reference_node(p, container, MarkupKind_InternalLinkRef, open, number);
    node_list_push(p->work, &p->internal_refs, ref);
    if (token_is_symbol(p, next, '(')) {
        MarkupNode *desc = parser_element(p, MarkupKind_Desc, node_flags_from_token(open->flags), next->begin);
        node_append_child(ref, desc);
        parser_push(p, ParseState_Inline, desc);
        p->i += 1;
    }
    return ref;
}

// A marker that opens its line (or item, or cell) defines the footnote;
// after anything else it refers to it.
static MarkupNode *footnote_marker(Parser *p, MarkupNode *container, const MarkupToken *open, u8 number)
{
    if (!node_is_nil(container->last_child)) {
        MarkupNode *ref = reference_node(p, container, MarkupKind_FootnoteRef, open, number);
        node_list_push(p->work, &p->footnote_refs, ref);
        return ref;
    }
    if (!p->footnote_list) {
        MarkupNode *footnotes = parser_element(p, MarkupKind_Footnotes, 0, 1);
        p->footnote_list = parser_element(p, MarkupKind_ListUnordered, 0, 2);
        node_append_child(footnotes, p->footnote_list);
        p->out->footnotes = footnotes;
    }
    MarkupNode *item = parser_element(p, MarkupKind_FootnoteItem, 0, open->begin);
    MarkupNode *footnote = parser_element(p, MarkupKind_Footnote, 0, open->begin);
    footnote->number = number;
    node_append_child(item, footnote);
    node_append_child(p->footnote_list, item);
    node_list_push(p->work, &p->footnote_defs, footnote);
    parser_push(p, ParseState_Inline, footnote);
    return footnote;
}

static void open_bracket(Parser *p, MarkupNode *container, const MarkupToken *open)
{
    bool in_table = p->top == p->table.record;
    u64 j = p->i + 1;
    const MarkupToken *a = skip_blanks(p, &j);
    if (token_kind(a, TokenFlag_Word) && a->end - a->begin == 1 && (p->text.str[a->begin] | 0x20) == 'x') {
        u64 k = j + 1;
        const MarkupToken *b = skip_blanks(p, &k);
        if (token_unescaped(b, TokenFlag_CloseBracket)) {
            if (in_table) table_mark_ticked(p);
            else node_append_child(container, parser_element(p, MarkupKind_Checkbox, NodeFlag_Ticked, open->begin));
            p->i = k + 1;
            return;
        }
    }
    if (token_unescaped(a, TokenFlag_CloseBracket)) {
        if (!in_table) node_append_child(container, parser_element(p, MarkupKind_Checkbox, 0, open->begin));
        p->i = j + 1;
        return;
    }
    bool footnote = token_is_symbol(p, a, '*');
    if (footnote || token_is_symbol(p, a, '#')) {
        u64 k = j + 1;
        const MarkupToken *number = skip_blanks(p, &k);
        if (token_kind(number, TokenFlag_Number)) {
            Str digits = parser_token_text(p, number);
            u8 value = number_value(digits);
            u64 m = k + 1;
            for (; m < p->count; m += 1) {
                const MarkupToken *t = &p->tokens[m];
                if (t->flags & (TokenFlag_Newline | TokenFlag_Word)) break;
                if (token_unescaped(t, TokenFlag_CloseBracket)) {
                    m += 1;
                    break;
                }
            }
            p->i = m;
            MarkupNode *marker = footnote ? footnote_marker(p, container, open, value)
                                          : internal_link_marker(p, container, open, value);
            // A number is kept in one byte: 300 would be 44, and match an
            // anchor nobody meant. Such a marker matches nothing.
            if (number_past_byte(digits)) {
                marker->flags |= NodeFlag_Unresolved;
                parser_message(p, number, DiagLevel_Warning,
                               str_pushf(p->work, "%s number %S is over 255, the largest there is; it is not matched",
                                         footnote ? "footnote" : "anchor", digits));
            }
            return;
        }
    }
    // Markdown's link, "[text](address)", shows as written.
    if (!p->told_markdown) {
        u64 k = p->i + 1;
        while (k < p->count && !(p->tokens[k].flags & (TokenFlag_Newline | TokenFlag_CloseBracket | TokenFlag_OpenBracket)))
            k += 1;
        const MarkupToken *close = parser_token(p, k);
        if (token_unescaped(close, TokenFlag_CloseBracket) && token_is_symbol(p, parser_token(p, k + 1), '('))
            markdown_link_note(p, open, close, parser_token(p, k + 1));
    }
    // A bracket that starts nothing is text, and so is the "]" closing it.
    text_token(p, container);
    p->top->open_brackets += 1;
}

//- verbatim text

// Verbatim text is shown as it stands, so a piece that goes on where the
// last one ends in the source extends it: a line of code is one run, not a
// node per word, blank and bracket. A line's indentation, cut by the
// fence's own, starts a new run.
static MarkupNode *verbatim_child(Parser *p, MarkupNode *parent, const MarkupToken *t, u64 skip)
{
    Str s = str_skip(parser_token_text(p, t), skip);
    u64 flags = node_flags_from_token(t->flags);
    MarkupNode *last = parent->last_child;
    if (text_run_in_source(last) && last->text.str + last->text.size == s.str) {
        text_run_grow(last, s.size);
        last->flags &= flags;
        return last;
    }
    MarkupNode *n = parser_node(p, NodeClass_Text, flags, s, s, t->begin + skip);
    node_append_child(parent, n);
    return n;
}

static void inline_code(Parser *p, MarkupNode *container, const MarkupToken *t)
{
    MarkupNode *last = container->last_child;
    u64 flags = node_flags_from_token(t->flags);
    if (last->flags & (NodeFlag_StrongOpen | NodeFlag_StrongInside)) flags |= NodeFlag_StrongInside;
    if (last->flags & (NodeFlag_EmphasisOpen | NodeFlag_EmphasisInside)) flags |= NodeFlag_EmphasisInside;
    if (p->top == p->table.record && (container->flags & NodeFlag_Ticked)) flags |= NodeFlag_StrongInside;
    MarkupNode *code = parser_element(p, MarkupKind_UnformatedText, flags, t->begin);
    node_append_child(container, code);
    u64 k = p->i + 1;
    for (; k < p->count; k += 1) {
        const MarkupToken *c = &p->tokens[k];
        if (c->flags & TokenFlag_Backtick) {
            k += 1;
            break;
        }
        if (c->flags & TokenFlag_Newline) break;
        verbatim_child(p, code, c, 0);
    }
    p->i = k;
}

static void raw_text(Parser *p, MarkupNode *container, const MarkupToken *t)
{
    MarkupNode *raw = parser_element(p, MarkupKind_Raw, node_flags_from_token(t->flags), t->begin);
    node_append_child(container, raw);
    u64 k = p->i + 1;
    while (k < p->count && !token_unescaped(&p->tokens[k], TokenFlag_RawClose)) k += 1;
    u64 end = k < p->count ? p->tokens[k].begin : p->text.size;
    Str s = str_substr(p->text, t->end, end);
    node_append_child(raw, parser_node(p, NodeClass_Text, 0, s, s, t->end));
    // Unclosed, the rest of the document is HTML on the page: its text
    // vanishes into tags, or breaks the page's own, without a word.
    if (k >= p->count) {
        u64 lines = lines_below(s);
        if (lines)
            parser_message(p, t, DiagLevel_Warning,
                           str_pushf(p->work,
                                     "\"~{\" opens raw HTML that is never closed with \"}~\", so the rest of the "
                                     "document (%I64u more line%s) goes into the page as HTML",
                                     lines, lines == 1 ? "" : "s"));
        else
            parser_message(p, t, DiagLevel_Warning,
                           str_lit("\"~{\" opens raw HTML that is never closed with \"}~\", so the rest of the "
                                   "document goes into the page as HTML"));
    }
    parser_advance_to(p, k < p->count ? k + 1 : k);
}

static bool fence_closes_at(const Parser *p, u64 index)
{
    const MarkupToken *t = parser_token(p, index);
    if (token_kind(t, TokenFlag_Space)) t = parser_token(p, index + 1);
    return token_unescaped(t, TokenFlag_TripleBacktick);
}

// The text of a fenced block, up to the closing fence or the end: each
// line's indentation loses the fence's own, and the line break right
// before the closing fence is not part of the text.
void parse_fence_body(Parser *p, MarkupNode *block, u64 start, u8 fence_indent, bool at_line_start)
{
    u64 k = start;
    bool after_newline = at_line_start;
    bool closed = false;
    for (; k < p->count; k += 1) {
        const MarkupToken *t = &p->tokens[k];
        if (token_unescaped(t, TokenFlag_TripleBacktick)) {
            k += 1;
            closed = true;
            break;
        }
        if (t->flags & TokenFlag_Newline) {
            if (!fence_closes_at(p, k + 1)) verbatim_child(p, block, t, 0);
            after_newline = true;
            continue;
        }
        if ((t->flags & TokenFlag_Space) && after_newline) {
            after_newline = false;
            if (fence_closes_at(p, k + 1)) continue;
            if (t->end - t->begin > fence_indent) verbatim_child(p, block, t, fence_indent);
            continue;
        }
        after_newline = false;
        verbatim_child(p, block, t, 0);
    }
    // Unclosed, every line after the fence is code on the page, headings
    // and all, without a word of why.
    if (!closed) {
        // The opening fence starts the block; its line may hold a language
        // and more words before the code.
        u64 fence = min_of(start, p->count);
        while (fence > 0 && p->tokens[fence - 1].begin >= block->offset) fence -= 1;
        u64 lines = lines_below(str_skip(p->text, block->offset));
        if (lines && fence < p->count && token_unescaped(&p->tokens[fence], TokenFlag_TripleBacktick))
            parser_message(p, &p->tokens[fence], DiagLevel_Warning,
                           str_pushf(p->work,
                                     "\"```\" opens a code block that is never closed with \"```\", so the rest of "
                                     "the document (%I64u more line%s) shows as code",
                                     lines, lines == 1 ? "" : "s"));
    }
    parser_advance_to(p, k);
}

//- inline contexts

static ParseRecord *open_inline_context(const Parser *p)
{
    ParseRecord *c = p->top->context;
    return c && c->state == ParseState_InlineContext ? c : nullptr;
}

static void inline_context_mark(Parser *p, const MarkupToken *t)
{
    ParseRecord *open = open_inline_context(p);
    if (open) {
        parser_pop_through(p, open);
        p->i += 1;
        return;
    }
    ParseRecord *line = p->top->line;
    MarkupNode *attach = line ? line->node : p->top->node;
    if (line && line == p->table.record) attach = parser_container(p);
    MarkupNode *context = parser_element(p, MarkupKind_Context, node_flags_from_token(t->flags) | NodeFlag_Inline, t->begin);
    node_append_child(attach, context);
    parser_push(p, ParseState_InlineContext, context);
    p->i += 1;
}

// Inside an inline context "//" hides the rest of its entry: up to the
// next "``", "|" (which then ends the entry) or escaped token.
static void hide_comment(Parser *p, ParseRecord *context)
{
    u64 k = p->i + 1;
    for (; k < p->count; k += 1) {
        const MarkupToken *t = &p->tokens[k];
        if (t->flags & (TokenFlag_Newline | TokenFlag_Escaped)) break;
        if (t->flags & TokenFlag_DoubleBacktick) break;
        if (t->flags & TokenFlag_Bar) {
            k += 1;
            parser_pop_above(p, context);
            break;
        }
    }
    p->i = k;
}

void parse_inline_context_entry(Parser *p)
{
    const MarkupToken *t = &p->tokens[p->i];
    if (t->flags & TokenFlag_Space) {
        p->i += 1;
        return;
    }
    if (t->flags & TokenFlag_Newline) return parse_line_end(p);
    if (token_unescaped(t, TokenFlag_DoubleBacktick)) {
        parser_pop(p);
        p->i += 1;
        return;
    }
    if (token_unescaped(t, TokenFlag_Bar)) {
        p->i += 1;
        return;
    }
    if (token_unescaped(t, TokenFlag_Comment)) return hide_comment(p, p->top);
    MarkupNode *context = p->top->node;
    if (parse_header_line(p, context, 0, 0, true)) return;
    MarkupNode *entry = parser_line_element(p, MarkupKind_ContextHeading, t->begin);
    node_append_child(context, entry);
    parser_push(p, ParseState_Inline, entry);
}

//- separators inside a line

static void bar_token(Parser *p, const MarkupToken *t, MarkupNode *container)
{
    ParseRecord *context = open_inline_context(p);
    ParseRecord *table = p->table.record;
    bool in_table = table && (t->flags & p->table.separator);
    if (context && (!in_table || context->depth > table->depth) && (t->flags & TokenFlag_Bar)) {
        parser_pop_above(p, context);
        p->i += 1;
        return;
    }
    if (in_table) {
        parser_pop_above(p, table);
        table_separator(p);
        return;
    }
    text_token(p, container);
}

//- one token of inline content

// "**strong**", Markdown's: two stars glued to a word, and two more glued
// to a word's end later on the line. Stars in code never come here, and
// "2**8" or a lone "**" stays quiet.
[[gnu::noinline]] static void markdown_strong_check(Parser *p, u64 i)
{
    const MarkupToken *t = &p->tokens[i];
    auto star = [&](u64 k) {
        const MarkupToken *s = parser_token(p, k);
        return s && s->flags == TokenFlag_Symbol && p->text.str[s->begin] == '*';
    };
    auto glued_word = [&](u64 k, u64 at) {
        const MarkupToken *w = parser_token(p, k);
        return w && (w->flags & (TokenFlag_Word | TokenFlag_Number)) && (k > i ? w->begin == at : w->end == at);
    };
    // A closing pair a later opening could find, an earlier one found
    // first: after a search in vain the rest of its line is not searched
    // again, or a line of openings would cost its length squared.
    if (i < p->strong_scanned_to) return;
    if (!star(i + 1) || p->tokens[i + 1].begin != t->end || !glued_word(i + 2, t->end + 1)) return;
    if (i > 0 && (p->tokens[i - 1].flags & (TokenFlag_Word | TokenFlag_Number)) && p->tokens[i - 1].end == t->begin)
        return;
    u64 k = i + 3;
    for (; k + 1 < p->count && !(p->tokens[k].flags & TokenFlag_Newline); k += 1) {
        if (star(k) && star(k + 1) && p->tokens[k + 1].begin == p->tokens[k].end &&
            (p->tokens[k - 1].flags & (TokenFlag_Word | TokenFlag_Number)) && p->tokens[k - 1].end == p->tokens[k].begin)
            return parser_markdown_note(p, t, str_lit("\"**text**\" is not strong here and shows as written; wyn writes "
                                                      "strong text as _text_ and emphasis as __text__"));
    }
    p->strong_scanned_to = k;
}

// Words, numbers, blanks and plain symbols are most of any line: they are
// made into runs here in one loop. Returns false, with nothing consumed,
// when the token at hand needs the rules below.
static bool plain_run(Parser *p, MarkupNode *container, ParseRecord *r)
{
    const bool in_desc = is_kind(r->node, MarkupKind_Desc);
    u64 i = p->i;
    const u64 count = p->count;
    while (i < count) {
        const MarkupToken *t = &p->tokens[i];
        u32 f = t->flags;
        if (f == TokenFlag_Space) {
            MarkupNode *last = container->last_child;
            if (last != &markup_nil) last->space_after = (u8)(t->end - t->begin);
        } else if (f == TokenFlag_Word || f == TokenFlag_Number || f == TokenFlag_Equals ||
                   (f == TokenFlag_Symbol && !(in_desc && (p->text.str[t->begin] == '(' || p->text.str[t->begin] == ')')))) {
            if (f == TokenFlag_Symbol && p->text.str[t->begin] == '*' && !p->told_markdown) markdown_strong_check(p, i);
            parser_text_node(p, container, t, 0);
        } else {
            break;
        }
        i += 1;
    }
    bool consumed = i != p->i;
    p->i = i;
    return consumed;
}

void parse_inline_token(Parser *p)
{
    ParseRecord *r = p->top;
    if (r->state == ParseState_InlineContext) return parse_inline_context_entry(p);
    if (r->state != ParseState_Inline) {
        p->at_line_start = true;
        return;
    }
    const MarkupToken *t = &p->tokens[p->i];
    u32 f = t->flags;
    if (f & TokenFlag_Newline) return parse_line_end(p);
    if (r == p->table.record && p->table.line_start) return table_line_start_token(p);
    MarkupNode *container = parser_container(p);
    if (plain_run(p, container, r)) return;

    if (f & TokenFlag_Space) {
        if (!node_is_nil(container->last_child)) container->last_child->space_after = (u8)(t->end - t->begin);
        p->i += 1;
        return;
    }
    if (f & TokenFlag_Escape) {
        // The backslash itself is dropped; a second one is kept as text.
        const MarkupToken *next = parser_token(p, p->i + 1);
        if (token_kind(next, TokenFlag_Escape)) {
            parser_text_node(p, container, next, 0);
            p->i += 2;
            return;
        }
        // In a description a parenthesis ends or nests it: escaped, it is
        // text, so a label may hold an unbalanced one.
        // A quote without partner is text too, even before something that
        // looks like a path (no warning about a missed quote).
        bool lone_quote = next && (next->flags & TokenFlag_Quoted) && !(next->flags & TokenFlag_StringClosed);
        if (lone_quote ||
            (is_kind(r->node, MarkupKind_Desc) && next && (token_is_symbol(p, next, '(') || token_is_symbol(p, next, ')')))) {
            parser_text_node(p, container, next, 0);
            p->i += 2;
            return;
        }
        p->i += 1;
        return;
    }
    if (f & TokenFlag_Escaped) return text_token(p, container);
    if (f & TokenFlag_Comment) {
        ParseRecord *context = open_inline_context(p);
        if (context) return hide_comment(p, context);
        return text_token(p, container);
    }
    if (f & TokenFlag_Mark) return mark_token(p, container, t);
    if (f & TokenFlag_Quoted) return string_token(p, container, t);
    if (f & TokenFlag_Symbol) {
        if (is_kind(r->node, MarkupKind_Desc)) {
            if (token_is_symbol(p, t, '(')) r->open_parens += 1;
            if (token_is_symbol(p, t, ')')) {
                if (r->open_parens == 0) {
                    parser_pop(p);
                    p->i += 1;
                    return;
                }
                r->open_parens -= 1;
            }
        }
        return text_token(p, container);
    }
    if (f & TokenFlag_OpenBracket) return open_bracket(p, container, t);
    if (f & TokenFlag_CloseBracket) {
        if (r->open_brackets > 0) {
            r->open_brackets -= 1;
            return text_token(p, container);
        }
        parser_unexpected(p, t);
        p->i += 1;
        return;
    }
    if (f & (TokenFlag_Rule | TokenFlag_RawClose)) {
        parser_unexpected(p, t);
        p->i += 1;
        return;
    }
    if (f & TokenFlag_RawOpen) return raw_text(p, container, t);
    if (f & TokenFlag_Backtick) return inline_code(p, container, t);
    if (f & TokenFlag_DoubleBacktick) return inline_context_mark(p, t);
    if (f & TokenFlag_TripleBacktick) {
        u64 flags = node_flags_from_token(t->flags) | NodeFlag_Inline;
        MarkupNode *block = parser_element(p, MarkupKind_Block, flags, t->begin);
        // A fence inside a line starts its text at once: it names no language.
        block->text = str_empty();
        node_append_child(container, block);
        return parse_fence_body(p, block, p->i + 1, 0, false);
    }
    if (f & (TokenFlag_Bar | TokenFlag_Semicolon)) return bar_token(p, t, container);
    text_token(p, container);
}

//- the document header

static bool can_start_key(const Parser *p, const MarkupToken *t)
{
    if (t->flags & TokenFlag_Escaped) return false;
    if (t->flags & (TokenFlag_Word | TokenFlag_Number | TokenFlag_Backtick)) return true;
    return (t->flags & TokenFlag_Mark) && (token_text_is(p, t, str_lit("_")) || token_text_is(p, t, str_lit("__")));
}

// The value text of a header line: after the ":" to the end of the line.
static Str header_value_text(const Parser *p, u64 colon, bool in_entry)
{
    u64 end = colon + 1;
    while (end < p->text.size) {
        char c = p->text.str[end];
        if (c == '\n' || c == '\r' || (in_entry && c == '|')) break;
        if (c == '`' && end + 1 < p->text.size && p->text.str[end + 1] == '`') break;
        end += 1;
    }
    return str_trim(str_substr(p->text, colon + 1, end));
}

static void output_path_warning(Parser *p, u64 offset, Str text)
{
    MarkupNode *anchor = node_new_message(p->work, offset, 0, text);
    diag_push(p->work, &p->out->messages, anchor, DiagLevel_Warning, text);
}

// Every value of an output_path line: a quoted one runs to its matching
// quote, an unquoted one to the next blank (an apostrophe inside it is part
// of the name). A value that cannot name a page is reported where it
// stands and adds nothing.
static void output_path_values(Parser *p, Str line)
{
    u64 i = 0;
    while (i < line.size) {
        u8 c = (u8)line.str[i];
        if (char_is_space(c)) {
            i += 1;
            continue;
        }
        u64 start = i;
        u64 offset = (u64)(line.str - p->text.str) + start;
        Str value;
        if (c == '"' || c == '\'') {
            u64 close = str_find_byte(line, (char)c, start + 1);
            if (close >= line.size) {
                output_path_warning(p, offset, str_pushf(p->work, "output_path value %S has no closing quote", str_skip(line, start)));
                return;
            }
            value = str_substr(line, start + 1, close);
            i = close + 1;
        } else {
            while (i < line.size && !char_is_space((u8)line.str[i])) i += 1;
            value = str_substr(line, start, i);
        }
        if (str_trim(value).size == 0) {
            output_path_warning(p, offset, str_lit("output_path value is empty: no page is written for it"));
            continue;
        }
        // Only a ".html" path is written; "a.htm" or a folder would give no
        // page, and the author would look for it in vain.
        if (!output_path_is_page(value))
            output_path_warning(p, offset, str_pushf(p->work, "output path %S does not end in .html, so no page is "
                                                             "written for it", value));
        str_list_push(p->arena, &p->out->output_paths, to_site_path(p->arena, p->options->local_folder, value, 1));
    }
}

bool parse_header_line(Parser *p, MarkupNode *parent, u8 indent, u32 record_flags, bool in_entry)
{
    const MarkupToken *t = &p->tokens[p->i];
    if (!can_start_key(p, t)) return false;
    // The longest key has 22 bytes: past that, only blanks may still come
    // before the ":", so a long line is not scanned to its end.
    const char *s = p->text.str;
    u64 n = p->text.size;
    u64 colon = n;
    u64 last_solid = t->begin;
    for (u64 k = t->begin; k < n; k += 1) {
        char c = s[k];
        if (c == ':') {
            colon = k;
            break;
        }
        if (c == '\n' || c == '\r' || (in_entry && c == '|')) break;
        if (c == '`' && k + 1 < n && s[k + 1] == '`') break;
        if (!char_is_space((u8)c)) last_solid = k;
        if (last_solid - t->begin >= 22) break;
    }
    if (colon == n) return false;
    Str key = str_trim_right(str_substr(p->text, t->begin, colon));
    const HeaderFieldInfo *row = header_field_lookup(key);
    if (!row) {
        // "auther:" is a line of text, but most likely a typo: say so when
        // a key is that close.
        const HeaderFieldInfo *meant = str_find_byte(key, ' ', 0) == key.size ? header_field_closest(key) : nullptr;
        if (meant) {
            parser_message(p, t, DiagLevel_Note,
                           str_pushf(p->work, "%S is no header key; did you mean %S? The line is read as text", key,
                                     meant->key));
            // Its path is a value, not a link: checked as one, "ouput_path:
            // \"/html/a.html\"" would add a second warning, about a page
            // the build has not written.
            u64 end = colon;
            while (end < n && s[end] != '\n') end += 1;
            p->links_quiet_before = end;
        }
        return false;
    }

    MarkupNode *field = parser_node(p, NodeClass_HeaderField, node_flags_from_token(t->flags), row->key, row->key, t->begin);
    field->indent = indent;
    field->field = push_array_no_zero<HeaderFieldInfo>(p->arena, 1);
    *field->field = *row;
    node_append_child(parent, field);

    u64 k = p->i;
    while (k < p->count && p->tokens[k].begin < colon) k += 1;
    if (k < p->count) k += 1;   // the ":" itself
    p->i = k;
    const MarkupToken *value = parser_token(p, k);
    if (token_kind(value, TokenFlag_Space)) value = parser_token(p, k + 1);
    Str value_text = value && !(value->flags & TokenFlag_Newline) ? parser_token_text(p, value) : str_empty();
    // Its first word, where the token holds several.
    if (value && value->flags == TokenFlag_Word) value_text = str_prefix(value_text, str_find_byte(value_text, ' ', 0));

    if (node_is_nil(p->out->title) && row->id == HeaderField_Title) p->out->title = field;
    else if (row->id == HeaderField_Status) p->out->status = value_text;
    else if (row->id == HeaderField_Toc) p->out->toc_value = value_text;

    Str line_value = header_value_text(p, colon, in_entry);
    if (row->id == HeaderField_Status) {
        // A typo here publishes what the author meant to keep to himself.
        Str meant = header_status_meant(value_text);
        if (meant.size)
            parser_message(p, t, DiagLevel_Warning,
                           str_pushf(p->work, "status %S does not keep this document off the site (only draft and "
                                              "personal do); did you mean %S?", value_text, meant));
    }
    DateTime day;
    if ((row->id == HeaderField_CreationDate || row->id == HeaderField_LastModificationDate) && line_value.size &&
        !date_read_day(line_value, &day))
        parser_message(p, t, DiagLevel_Note,
                       str_pushf(p->work, "%S %S is no day of the calendar (write year-month-day, such as 2026-3-2), "
                                          "so %s", row->key, line_value,
                                 row->id == HeaderField_CreationDate
                                     ? "the feed leaves the document out"
                                     : "the feed and the site map take the creation date instead"));
    if (row->id == HeaderField_OutputPath) output_path_values(p, line_value);
    if (row->id == HeaderField_Todo && p->options->print_todos) {
        MarkupNode *anchor = node_new_message(p->work, t->begin, 0, row->key);
        diag_push(p->work, &p->out->messages, anchor, DiagLevel_Note, str_pushf(p->work, "todo: %S", line_value));
    }
    parser_push(p, ParseState_Inline, field, record_flags);
    p->at_line_start = false;
    return true;
}
