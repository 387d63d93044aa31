// html/template_parser.cpp: template tokens, parse frames and the tree
// builder.
#include "html/template_parser.h"

//- character classes

enum HtmlCharClass : u8 {
    HtmlChar_IdentStart = 1,    // ASCII letters, bytes 0xC0 to 0xFF
    HtmlChar_IdentInside = 2,   // the above, digits and ! ( ) - ? [ ]
    HtmlChar_NumberInside = 4,  // ".", digits, ASCII letters
    HtmlChar_PunctStart = 8,    // ! # $ % & ( ) * + , - . / : ; ? [ \ ] ^ _ ` { | } ~ @
    HtmlChar_PunctInside = 16,  // $ % & * + - . / ? ^ { | } ~
    HtmlChar_Blank = 32,        // TAB, VT, CR, SPACE (not line feed, not form feed)
};

static constexpr bool byte_in(u8 c, const char *set)
{
    for (const char *p = set; *p; p += 1)
        if ((u8)*p == c) return true;
    return false;
}

struct HtmlCharTable {
    u8 classes[256];
};

static constexpr HtmlCharTable html_char_table_make()
{
    HtmlCharTable t = {};
    for (u32 c = 0; c < 256; c += 1) {
        u8 k = 0;
        bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        bool digit = c >= '0' && c <= '9';
        if (letter || c >= 0xC0) k |= HtmlChar_IdentStart | HtmlChar_IdentInside;
        if (digit || byte_in((u8)c, "!()-?[]")) k |= HtmlChar_IdentInside;
        if (letter || digit || c == '.') k |= HtmlChar_NumberInside;
        if (byte_in((u8)c, "!#$%&()*+,-./:;?[\\]^_`{|}~@")) k |= HtmlChar_PunctStart;
        if (byte_in((u8)c, "$%&*+-./?^{|}~")) k |= HtmlChar_PunctInside;
        if (c == 9 || c == 11 || c == 13 || c == 32) k |= HtmlChar_Blank;
        t.classes[c] = k;
    }
    return t;
}

static constexpr HtmlCharTable html_char_table = html_char_table_make();

static inline bool char_has(u8 c, u8 cls) { return (html_char_table.classes[c] & cls) != 0; }

static const Str html_entity_table[] = {
    str_lit("&lt;"), str_lit("&gt;"), str_lit("&amp;"), str_lit("&quot;"),
    str_lit("&apos;"), str_lit("&#47;"), str_lit("&#45;"),
};

//- tokenizer

static constexpr u64 html_token_chunk_count = 4096;

struct HtmlTokenChunk {
    HtmlTokenChunk *next;
    u64 count;
    HtmlToken tokens[html_token_chunk_count];
};

// Length of the token that starts at `i` and its flags.
static u64 scan_token(const u8 *s, u64 size, u64 i, u32 *flags)
{
    u8 c = s[i];
    bool more = i + 1 < size;
    if (char_has(c, HtmlChar_Blank)) {
        u64 j = i + 1;
        while (j < size && char_has(s[j], HtmlChar_Blank)) j += 1;
        *flags = HtmlToken_Space;
        return j - i;
    }
    if (c == '\n') {
        *flags = HtmlToken_Newline;
        return 1;
    }
    if (more && ((c == '<' && s[i + 1] == '/') || (c == '/' && s[i + 1] == '>'))) {
        *flags = HtmlToken_Symbol;
        return 2;
    }
    if (c == '<' || c == '=' || c == '>') {
        *flags = HtmlToken_Symbol;
        return 1;
    }
    if (char_has(c, HtmlChar_IdentStart)) {
        u64 j = i + 1;
        while (j < size && char_has(s[j], HtmlChar_IdentInside)) j += 1;
        *flags = HtmlToken_Identifier;
        return j - i;
    }
    if ((c >= '0' && c <= '9') || ((c == '.' || c == '-') && more && s[i + 1] >= '0' && s[i + 1] <= '9')) {
        u64 j = i + 1;
        while (j < size && char_has(s[j], HtmlChar_NumberInside)) j += 1;
        *flags = HtmlToken_Number;
        return j - i;
    }
    if (c == '&') {
        for (Str entity : html_entity_table)
            if (size - i >= entity.size && memcmp(s + i, entity.str, entity.size) == 0) {
                *flags = HtmlToken_Entity | HtmlToken_Punctuation;
                return entity.size;
            }
    }
    if (c == '"' || c == '\'') {
        u32 quoted = c == '"' ? HtmlToken_DoubleQuoted : HtmlToken_SingleQuoted;
        for (u64 j = i + 1; j < size; j += 1) {
            if (s[j] == c) {
                *flags = HtmlToken_String | quoted;
                return j + 1 - i;
            }
            if (s[j] == '<') {
                // Markup inside a value is far likelier a missing quote than
                // a wanted "<": stop so the tag that follows is still read.
                *flags = HtmlToken_String | quoted | (c == '"' ? HtmlToken_Broken : HtmlToken_SingleBroken);
                return 1;
            }
        }
        *flags = HtmlToken_String | quoted | HtmlToken_Broken;
        return size - i;
    }
    if (char_has(c, HtmlChar_PunctStart)) {
        u64 j = i + 1;
        while (j < size && char_has(s[j], HtmlChar_PunctInside)) j += 1;
        *flags = HtmlToken_Punctuation;
        return j - i;
    }
    *flags = HtmlToken_Other;
    return 1;
}

HtmlTokenArray html_tokenize(Arena *arena, Str source)
{
    HtmlTokenArray result = {};
    if (source.size == 0) return result;
    ArenaTemp scratch = scratch_begin(arena);
    HtmlTokenChunk *first = nullptr, *last = nullptr;
    u64 total = 0;
    const u8 *s = (const u8 *)source.str;
    for (u64 i = 0; i < source.size;) {
        if (!last || last->count == html_token_chunk_count) {
            HtmlTokenChunk *chunk = push_array_no_zero<HtmlTokenChunk>(scratch.arena, 1);
            if (!chunk) break;
            chunk->next = nullptr;
            chunk->count = 0;
            if (last) last->next = chunk;
            else first = chunk;
            last = chunk;
        }
        u32 flags = 0;
        u64 length = scan_token(s, source.size, i, &flags);
        last->tokens[last->count++] = HtmlToken{i, i + length, flags};
        total += 1;
        i += length;
    }
    result.tokens = push_array_no_zero<HtmlToken>(arena, total);
    if (result.tokens) {
        for (HtmlTokenChunk *chunk = first; chunk; chunk = chunk->next) {
            memcpy(result.tokens + result.count, chunk->tokens, chunk->count * sizeof(HtmlToken));
            result.count += chunk->count;
        }
    }
    scratch_end(scratch);
    return result;
}

//- tree builder

struct HtmlBuilder {
    Arena *arena;
    Arena *scratch;
    Str source;               // the arena's copy
    const HtmlToken *tokens;
    u64 count;
    HtmlParseFrame *top;
    HtmlParseFrame *bottom;
    HtmlParseFrame *free_frames;
    HtmlParseResult result;
};

static u64 translate_flags(u32 token_flags)
{
    u64 flags = 0;
    if (token_flags & HtmlToken_Number) flags |= HtmlParserFlag_Number;
    if (token_flags & HtmlToken_Identifier) flags |= HtmlParserFlag_Identifier;
    if (token_flags & HtmlToken_String) flags |= HtmlParserFlag_String;
    if (token_flags & HtmlToken_Punctuation) flags |= HtmlParserFlag_Punctuation;
    if (token_flags & HtmlToken_SingleQuoted) flags |= HtmlParserFlag_SingleQuoted;
    if (token_flags & HtmlToken_DoubleQuoted) flags |= HtmlParserFlag_DoubleQuoted;
    return flags;
}

static inline Str token_text(const HtmlBuilder *b, u64 index)
{
    if (index >= b->count) return str_empty();
    return str_substr(b->source, b->tokens[index].start, b->tokens[index].end);
}

static inline bool token_is_symbol(const HtmlBuilder *b, u64 index, Str symbol)
{
    return index < b->count && (b->tokens[index].flags & HtmlToken_Symbol) && str_match(token_text(b, index), symbol, 0);
}

static void frame_push(HtmlBuilder *b, u32 state, HtmlElement *element, Str name)
{
    HtmlParseFrame *frame = b->free_frames;
    if (frame) b->free_frames = frame->below;
    else frame = push_array_no_zero<HtmlParseFrame>(b->scratch, 1);
    if (!frame) return;
    frame->below = b->top;
    frame->state = state;
    frame->element = element;
    frame->name = name;
    b->top = frame;
}

// Popping past the bottom frame leaves the bottom frame current.
static void frame_pop(HtmlBuilder *b)
{
    if (b->top == b->bottom) return;
    HtmlParseFrame *frame = b->top;
    b->top = frame->below;
    frame->below = b->free_frames;
    b->free_frames = frame;
}

static void report(HtmlBuilder *b, Str marker_text, u64 offset, Str text)
{
    HtmlElement *marker = html_node_create(b->arena, HtmlNode_Marker, 0, marker_text, marker_text, offset);
    diag_push_at(b->arena, &b->result.diagnostics, marker, offset, DiagLevel_Error, text);
}

static void report_unexpected(HtmlBuilder *b, u64 index)
{
    Str text = token_text(b, index);
    report(b, text, b->tokens[index].start, str_pushf(b->arena, "Unexpected \"%S\" token.", text));
}

// A "<" in state open or content. Returns the index of the next token.
static u64 build_start_tag(HtmlBuilder *b, u64 index)
{
    u64 next = index + 1;
    Str name = token_text(b, next);
    u64 name_index = next;
    u64 consumed = 2;
    bool doctype = false;
    bool bang = next < b->count && (b->tokens[next].flags & HtmlToken_Punctuation) && str_match(name, str_lit("!"), 0);
    if (bang && next + 1 < b->count) {
        name = str_substr(b->source, b->tokens[next].start, b->tokens[next + 1].end);
        name_index = next + 1;
        consumed = 3;
        doctype = str_match(name, str_lit("!DOCTYPE"), 0);
    }
    bool identifier = !bang && next < b->count && (b->tokens[next].flags & HtmlToken_Identifier);
    if (doctype || identifier) {
        const HtmlToken *t = &b->tokens[name_index];
        HtmlElement *element = html_node_create(b->arena, HtmlNode_Element, translate_flags(t->flags), name, name, t->start);
        html_append_child(b->top->element, element);
        frame_push(b, HtmlFrame_Open, element, str_empty());
        frame_push(b, HtmlFrame_StartTag, element, str_empty());
        return index + consumed;
    }
    if (b->result.flags & HtmlParse_LenientLessThan) {
        Str lt = str_lit("&lt;");
        html_append_child(b->top->element, html_node_create(b->arena, HtmlNode_Text, 0, lt, lt, b->tokens[index].start));
        return index + 1;
    }
    report(b, token_text(b, index), b->tokens[index].start,
           str_pushf(b->arena, "Tag label expected after '<' symbol, was: %S. If inside a text, escape it with &lt;", name));
    return index + 1;
}

// ">" or "/>" in the start-tag state.
static void build_end_of_start_tag(HtmlBuilder *b, u64 index)
{
    HtmlElement *element = b->top->element;
    frame_pop(b);
    HtmlElement *content =
        html_node_create(b->arena, HtmlNode_Text, translate_flags(b->tokens[index].flags), str_empty(), str_empty(), 0);
    html_append_child(element, content);
    if (html_is_none(b->result.title) && str_match(element->tag->name, str_lit("title"), 0)) b->result.title = element;
    if (element->tag->content & HtmlContent_Void) {
        frame_pop(b);
    } else if (element->tag->content & HtmlContent_RawText) {
        element->parser_flags |= HtmlParserFlag_RawText;
        frame_push(b, HtmlFrame_RawText, content, element->name);
    } else {
        frame_push(b, HtmlFrame_Content, content, str_empty());
    }
}

// "</" in the content state. Returns the index of the next token.
static u64 build_closing_tag(HtmlBuilder *b, u64 index)
{
    frame_pop(b);
    HtmlElement *element = b->top->element;
    Str name = token_text(b, index + 1);
    if (element->type == HtmlNode_Element) {
        if (str_match(name, element->name, 0)) {
            frame_pop(b);
        } else {
            u64 offset = index + 1 < b->count ? b->tokens[index + 1].start : b->tokens[index].end;
            report(b, name, offset,
                   str_pushf(b->arena,
                             "The tag name \"%S\" has no matching closing tag name. You may have an opening tag "
                             "without matching closing one.",
                             element->name));
            html_detach(element->last_child);
            frame_pop(b);
            frame_pop(b);
            frame_pop(b);
        }
    }
    // The token after the name is taken to be ">" and not examined.
    return min_of(index + 3, b->count);
}

// The table's row for a known name. A name the table does not know
// ("aria-label", "role", "data-theme") gets a row of its own, like the
// "data-* " row but under the name as written: written as that row, every
// such attribute came out as `data-* ="..."`, which no browser reads.
static const HtmlAttrInfo *template_attribute_row(Arena *arena, Str name)
{
    const HtmlAttrInfo *row = html_attr_from_name(name);
    if (row != html_attr_from_id(HtmlAttr_Data) || str_eq(name, row->name)) return row;
    HtmlAttrInfo *own = push_struct<HtmlAttrInfo>(arena);
    if (!own) return row;
    *own = *row;
    own->name = str_copy(arena, name);
    return own;
}

static void build_attribute_value(HtmlBuilder *b, u64 index)
{
    HtmlElement *element = b->top->element;
    const HtmlToken *t = &b->tokens[index];
    Str text = token_text(b, index);
    HtmlAttributeNode *node = element->attributes->last;
    if (t->flags & HtmlToken_Broken) {
        report(b, text, t->start, str_pushf(b->arena, "%S's Attribute value has string broken.", element->name));
        return;
    }
    if (!node) return;
    HtmlAttribute *a = &node->attribute;
    if (a->info->flags & HtmlAttrFlag_SingleValued) {
        str_list_push(b->arena, &a->values, str_unquote(text));
    } else if (a->info->id == HtmlAttr_Style) {
        // Declarations are cut at ";", not at blanks: "color: red" is one
        // declaration, and cut at its blank it would be written back as the
        // broken "color:; red;".
        Str value = str_unquote(text);
        Str piece;
        for (u64 cursor = 0; str_next_piece(value, ';', &cursor, &piece);) {
            piece = str_trim(piece);
            if (piece.size) str_list_push(b->arena, &a->values, piece);
        }
    } else {
        u64 piece_start = 0;
        for (u64 i = 0; i <= text.size; i += 1) {
            if (i < text.size && !char_is_space((u8)text.str[i])) continue;
            if (i > piece_start) str_list_push(b->arena, &a->values, str_unquote(str_substr(text, piece_start, i)));
            piece_start = i + 1;
        }
    }
}

HtmlParseResult html_build_tree(Arena *arena, Str path, Str source, HtmlTokenArray tokens, u32 flags)
{
    (void)path;
    HtmlBuilder b = {};
    b.arena = arena;
    b.result.flags = flags;
    b.result.title = &html_none;
    // Every Str of the tree slices this copy: the tree outlives the caller's
    // buffer, and a text run is its bytes in place, never joined anew.
    b.source = str_copy(arena, source);
    if (b.source.size != source.size) b.source = source;
    b.tokens = tokens.tokens;
    b.count = tokens.tokens ? tokens.count : 0;
    b.result.root = html_node_create(arena, HtmlNode_Document, 0, b.source, b.source, 0);
    if (html_is_none(b.result.root)) return b.result;

    ArenaTemp scratch = scratch_begin(&arena, 1);
    b.scratch = scratch.arena;
    frame_push(&b, HtmlFrame_Open, b.result.root, str_empty());
    b.bottom = b.top;

    for (u64 i = 0; i < b.count && b.top;) {
        const HtmlToken *t = &b.tokens[i];
        u32 state = b.top->state;
        if (t->end > b.source.size || t->start > t->end) break;   // tokens of another source
        if (state != HtmlFrame_RawText && state != HtmlFrame_Content && (t->flags & (HtmlToken_Space | HtmlToken_Newline))) {
            i += 1;
            continue;
        }
        if ((state == HtmlFrame_Open || state == HtmlFrame_Content) && token_is_symbol(&b, i, str_lit("<"))) {
            i = build_start_tag(&b, i);
            continue;
        }
        switch (state) {
        case HtmlFrame_StartTag:
            if (t->flags & HtmlToken_Identifier) {
                html_attribute_append(arena, b.top->element, template_attribute_row(arena, token_text(&b, i)));
                frame_push(&b, HtmlFrame_AttributeName, b.top->element, str_empty());
            } else if (token_is_symbol(&b, i, str_lit(">")) || token_is_symbol(&b, i, str_lit("/>"))) {
                build_end_of_start_tag(&b, i);
            } else {
                report_unexpected(&b, i);
            }
            i += 1;
            break;
        case HtmlFrame_AttributeName:
            if (token_is_symbol(&b, i, str_lit("="))) {
                b.top->state = HtmlFrame_AttributeValue;
                i += 1;
            } else {
                frame_pop(&b);   // the token is read again in the start tag
            }
            break;
        case HtmlFrame_AttributeValue:
            build_attribute_value(&b, i);
            frame_pop(&b);
            i += 1;
            break;
        case HtmlFrame_Content:
            if (token_is_symbol(&b, i, str_lit("</"))) {
                i = build_closing_tag(&b, i);
            } else {
                u64 last = i;
                while (last + 1 < b.count && !token_is_symbol(&b, last + 1, str_lit("<")) &&
                       !token_is_symbol(&b, last + 1, str_lit("</")))
                    last += 1;
                Str text = str_substr(b.source, t->start, b.tokens[last].end);
                const HtmlToken *l = &b.tokens[last];
                html_append_child(b.top->element,
                                  html_node_create(arena, HtmlNode_Text, translate_flags(l->flags), text, text, l->start));
                i = last + 1;
            }
            break;
        case HtmlFrame_RawText:
            if (token_is_symbol(&b, i, str_lit("</")) && str_match(token_text(&b, i + 1), b.top->name, 0)) {
                b.top->state = HtmlFrame_Content;   // the "</" is read again as a closing tag
            } else {
                Str text = token_text(&b, i);
                html_append_child(b.top->element,
                                  html_node_create(arena, HtmlNode_Text, translate_flags(t->flags), text, text, t->start));
                i += 1;
            }
            break;
        default:   // open: nothing but a tag belongs here
            report_unexpected(&b, i);
            i += 1;
            break;
        }
    }
    // Elements still open at the end stay as they are, unreported.
    scratch_end(scratch);
    return b.result;
}
