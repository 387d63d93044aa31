// render/icons.h: the small builders the renderer and the page assembly
// share: icon elements, the flush of a text run's pending text (plain text,
// a date or category tags) and the pixel size of JPEG images.
//
// Elements are built on the caller's arena; any thread may call these with
// its own arena. jpeg_info reads a file and never reads past its bytes,
// whatever they hold.
#pragma once
#include "html/html_tree.h"

//- icons
//
// Ids are stored in the render rule table and in the header field rows; the
// style sheets generate one class per name ("icon-<name>") from this table.

enum IconId : u32 {
    Icon_Nil = 0,
    Icon_Menu = 1,
    Icon_Unlink = 2,
    Icon_Eye = 3,
    Icon_DownDir = 4,
    Icon_UpDir = 5,
    Icon_LeftDir = 6,
    Icon_RightDir = 7,
    Icon_At = 8,
    Icon_Clone = 9,
    Icon_Clipboard = 10,
    Icon_ListNested = 11,
    Icon_Thlist = 12,
    Icon_Pencil = 13,
    Icon_EllipsisVert = 14,
    Icon_Ellipsis = 15,
    Icon_CircleEmpty = 16,
    Icon_DotCircle = 17,
    Icon_Link = 18,
    Icon_Attach = 19,
    Icon_Brush = 20,
    Icon_List = 21,
    Icon_Info = 22,
    Icon_Attention = 23,
    Icon_CancelCircle = 24,
    Icon_Colon = 25,
    Icon_HelpCircled = 26,
    Icon_Calendar = 27,
    Icon_CC = 28,
    Icon_User = 29,
    Icon_Quote = 30,
    Icon_Tag = 31,
    Icon_Comment = 32,
    Icon_Square = 33,
    Icon_CheckEmpty = 34,
    Icon_Check = 35,
    Icon_Bookmark = 36,
    Icon_Count = 37,
};

extern const Str icon_name_table[Icon_Count];

Str icon_name(u32 icon_id);   // empty for an id past the table
// A span styled and classed for the icon; the none node for Nil and for an
// id past the table.
HtmlElement *icon_element(Arena *arena, u32 icon_id);

//- pending text

// The `group` values of header fields that flush in a form of their own.
enum RenderFieldGroup : u32 {
    RenderFieldGroup_None = 0,
    RenderFieldGroup_Date = 0x1000,
    RenderFieldGroup_Category = 0x80000,
};

// Appends the joined pieces of `pending` to `container`'s content: as a
// `time` element for a date field, as "cat-it" spans for the category field,
// as one text node otherwise. `field_group` is the header field's `group`
// (0 when the text belongs to no field). `pending` is emptied.
void render_flush_text(Arena *arena, HtmlElement *container, u32 field_group, StrList *pending);

//- JPEG sizes

struct JpegInfo {
    u16 density_x;
    u16 density_y;
    u16 width;
    u16 height;
    Str ratio;   // "<n>:1", empty when it cannot be computed
};

// Scans the file's bytes for the last APP0 density and start-of-frame size.
// A segment cut off by the end of the bytes is ignored.
JpegInfo jpeg_info(Arena *arena, Str path);
JpegInfo jpeg_info_from_bytes(Arena *arena, Str bytes);
