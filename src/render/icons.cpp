// render/icons.cpp: icon elements, the flush of pending text and JPEG sizes.
#include "render/icons.h"

#include "base/date.h"
#include "os/platform.h"

//- icons

const Str icon_name_table[Icon_Count] = {
    str_lit("Nil"),          str_lit("Menu"),        str_lit("Unlink"),     str_lit("Eye"),
    str_lit("DownDir"),      str_lit("UpDir"),       str_lit("LeftDir"),    str_lit("RightDir"),
    str_lit("At"),           str_lit("Clone"),       str_lit("Clipboard"),  str_lit("ListNested"),
    str_lit("Thlist"),       str_lit("Pencil"),      str_lit("EllipsisVert"), str_lit("Ellipsis"),
    str_lit("CircleEmpty"),  str_lit("DotCircle"),   str_lit("Link"),       str_lit("Attach"),
    str_lit("Brush"),        str_lit("List"),        str_lit("Info"),       str_lit("Attention"),
    str_lit("CancelCircle"), str_lit("Colon"),       str_lit("HelpCircled"), str_lit("Calendar"),
    str_lit("CC"),           str_lit("User"),        str_lit("Quote"),      str_lit("Tag"),
    str_lit("Comment"),      str_lit("Square"),      str_lit("CheckEmpty"), str_lit("Check"),
    str_lit("Bookmark"),
};

Str icon_name(u32 icon_id) { return icon_id < Icon_Count ? icon_name_table[icon_id] : str_empty(); }

HtmlElement *icon_element(Arena *arena, u32 icon_id)
{
    Str name = icon_name(icon_id);
    if (name.size == 0 || str_match(name, str_lit("Nil"), 0)) return &html_none;
    HtmlElement *span = html_element_from_tag(arena, HtmlTag_Span);
    html_set_attribute(arena, span, HtmlAttr_Style, str_lit("vertical-align:baseline;"));
    StrList classes = {};
    str_list_push(arena, &classes, str_cat(arena, str_lit("icon-"), name));
    str_list_push(arena, &classes, str_lit("icon"));
    html_set_attribute_list(arena, span, HtmlAttr_Class, &classes);
    return span;
}

//- pending text

static bool byte_is_blank(u8 c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

static Str trim_blanks(Str s)
{
    u64 first = 0, opl = s.size;
    while (first < opl && byte_is_blank((u8)s.str[first])) first += 1;
    while (opl > first && byte_is_blank((u8)s.str[opl - 1])) opl -= 1;
    return str_substr(s, first, opl);
}

static void flush_categories(Arena *arena, HtmlElement *container, Str text)
{
    text = str_unquote(trim_blanks(text));
    Str piece;
    for (u64 cursor = 0; str_next_piece(text, ';', &cursor, &piece);) {
        // "red; blue" names the tag blue, not " blue".
        piece = trim_blanks(piece);
        if (piece.size == 0) continue;
        HtmlElement *span = html_element_from_tag(arena, HtmlTag_Span);
        html_set_attribute(arena, span, HtmlAttr_Class, str_lit("cat-it"));
        html_append_text(arena, span, piece);
        html_append_content(container, span);
    }
}

void render_flush_text(Arena *arena, HtmlElement *container, u32 field_group, StrList *pending)
{
    if (!pending || pending->total_size == 0) {
        if (pending) *pending = StrList{};
        return;
    }
    Str text = str_list_join_plain(arena, pending);
    *pending = StrList{};
    if (field_group == RenderFieldGroup_Date) {
        DateTime date = date_parse(text);
        HtmlElement *time = html_element_from_tag(arena, HtmlTag_Time);
        html_append_text(arena, time, date_to_long(arena, date));
        html_set_attribute(arena, time, HtmlAttr_Datetime, date_to_ymd(arena, date));
        html_append_content(container, time);
    } else if (field_group == RenderFieldGroup_Category) {
        flush_categories(arena, container, text);
    } else {
        html_append_text(arena, container, text);
    }
}

//- JPEG sizes
//
// Not a JPEG parser: a byte scan for the two markers that carry what an
// image element needs. Every read is checked against the end of the bytes.

static u16 read_u16_be(const u8 *p) { return (u16)((p[0] << 8) | p[1]); }

JpegInfo jpeg_info_from_bytes(Arena *arena, Str bytes)
{
    JpegInfo info = {};
    info.ratio = str_empty();
    const u8 *b = (const u8 *)bytes.str;
    u64 size = bytes.size;
    u64 i = 0;
    while (size >= 2 && i < size - 1) {
        if (b[i] == 0xFF && b[i + 1] == 0xE0 && size - i >= 16) {
            info.density_x = read_u16_be(b + i + 12);
            info.density_y = read_u16_be(b + i + 14);
            i += 17;
        } else if (b[i] == 0xFF && (b[i + 1] == 0xC0 || b[i + 1] == 0xC2) && size - i >= 9) {
            info.height = read_u16_be(b + i + 5);
            info.width = read_u16_be(b + i + 7);
            i += 10;
        } else {
            i += 1;
        }
    }
    if (info.width && info.height && info.density_x && info.density_y) {
        u64 across = (u64)(info.width / info.density_x) & 0xFF;
        u64 down = (u64)(info.height / info.density_y) & 0xFF;
        if (down) info.ratio = str_pushf(arena, "%llu:1", (unsigned long long)(across / down));
    }
    return info;
}

JpegInfo jpeg_info(Arena *arena, Str path)
{
    ArenaTemp scratch = scratch_begin(arena);
    Str bytes = file_read_all(scratch.arena, path);
    JpegInfo info = jpeg_info_from_bytes(arena, bytes);
    scratch_end(scratch);
    return info;
}
