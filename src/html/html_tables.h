// html/html_tables.h: the HTML vocabulary wyn knows, 82 tags and 86
// attributes, and the lookups over it.
//
// Both tables are compile-time constants: no start-up code fills them and
// any thread may read them at any time without a lock. Elements point at
// their tag row and attributes at their attribute row, so names inside a tree
// are never free text; code names rows by the HtmlTag_* and HtmlAttr_* ids.
//
// Lookups are linear scans in table order, first match wins. A lookup that
// finds nothing returns an all-zero row (html_tag_empty, html_attr_empty), or
// for attribute names the "data-* " row, never null.
#pragma once
#include "base/str.h"

//- ids

enum HtmlTagId : u32 {
    HtmlTag_None = 0,
    HtmlTag_Details = 1,
    HtmlTag_Address = 2,
    HtmlTag_Summary = 3,
    HtmlTag_Meta = 4,
    HtmlTag_Base = 5,
    HtmlTag_Link = 6,
    HtmlTag_Style = 7,
    HtmlTag_Script = 8,
    HtmlTag_Noscript = 9,
    HtmlTag_Header = 10,
    HtmlTag_Nav = 11,
    HtmlTag_Main = 12,
    HtmlTag_Pre = 13,
    HtmlTag_Code = 14,
    HtmlTag_Q = 15,
    HtmlTag_Section = 16,
    HtmlTag_Article = 17,
    HtmlTag_Aside = 18,
    HtmlTag_Footer = 19,
    HtmlTag_H1 = 20,
    HtmlTag_H2 = 21,
    HtmlTag_H3 = 22,
    HtmlTag_H4 = 23,
    HtmlTag_H5 = 24,
    HtmlTag_H6 = 25,
    HtmlTag_P = 26,
    HtmlTag_Strong = 27,
    HtmlTag_I = 28,
    HtmlTag_Em = 29,
    HtmlTag_U = 30,
    HtmlTag_Hr = 31,
    HtmlTag_Br = 32,
    HtmlTag_Blockquote = 33,
    HtmlTag_Ol = 34,
    HtmlTag_Ul = 35,
    HtmlTag_Li = 36,
    HtmlTag_Dl = 37,
    HtmlTag_Dt = 38,
    HtmlTag_Dd = 39,
    HtmlTag_Div = 40,
    HtmlTag_Span = 41,
    HtmlTag_A = 42,
    HtmlTag_Img = 43,
    HtmlTag_Figure = 44,
    HtmlTag_Figcaption = 45,
    HtmlTag_Table = 46,
    HtmlTag_Thead = 47,
    HtmlTag_Tbody = 48,
    HtmlTag_Tfoot = 49,
    HtmlTag_Tr = 50,
    HtmlTag_Th = 51,
    HtmlTag_Td = 52,
    HtmlTag_Form = 53,
    HtmlTag_Input = 54,
    HtmlTag_Button = 55,
    HtmlTag_Select = 56,
    HtmlTag_Option = 57,
    HtmlTag_Textarea = 58,
    HtmlTag_Fieldset = 59,
    HtmlTag_Legend = 60,
    HtmlTag_Label = 61,
    HtmlTag_Iframe = 62,
    HtmlTag_Canvas = 63,
    HtmlTag_Audio = 64,
    HtmlTag_Video = 65,
    HtmlTag_Path = 66,
    HtmlTag_G = 67,
    HtmlTag_Svg = 68,
    HtmlTag_Rect = 69,
    HtmlTag_Circle = 70,
    HtmlTag_Time = 71,
    HtmlTag_Source = 72,
    HtmlTag_Sup = 73,
    HtmlTag_Track = 74,
    HtmlTag_Template = 75,
    HtmlTag_Embed = 76,
    HtmlTag_Object = 77,
    HtmlTag_Title = 78,
    HtmlTag_DocType = 79,   // "!DOCTYPE"
    HtmlTag_Html = 80,
    HtmlTag_Head = 81,
    HtmlTag_Body = 82,
    HtmlTag_Count = 82,
};

enum HtmlAttrId : u32 {
    HtmlAttr_Accept = 0,
    HtmlAttr_AcceptCharset = 1,
    HtmlAttr_As = 2,
    HtmlAttr_Action = 3,
    HtmlAttr_Alt = 4,
    HtmlAttr_Async = 5,
    HtmlAttr_Autoplay = 6,
    HtmlAttr_Checked = 7,
    HtmlAttr_Cite = 8,
    HtmlAttr_Class = 9,
    HtmlAttr_Colspan = 10,
    HtmlAttr_Controls = 11,
    HtmlAttr_Coords = 12,
    HtmlAttr_Content = 13,
    HtmlAttr_Crossorigin = 14,
    HtmlAttr_Charset = 15,
    HtmlAttr_Data = 16,   // "data-* ": every unknown attribute name lands here
    HtmlAttr_Datetime = 17,
    HtmlAttr_D = 18,
    HtmlAttr_Defer = 19,
    HtmlAttr_Disabled = 20,
    HtmlAttr_For = 21,
    HtmlAttr_Is = 22,
    HtmlAttr_Fetchpriority = 23,
    HtmlAttr_Fill = 24,
    HtmlAttr_Form = 25,
    HtmlAttr_Formaction = 26,
    HtmlAttr_Headers = 27,
    HtmlAttr_Html = 28,   // the bare word after !DOCTYPE
    HtmlAttr_Height = 29,
    HtmlAttr_Hidden = 30,
    HtmlAttr_Href = 31,
    HtmlAttr_Hreflang = 32,
    HtmlAttr_HttpEquiv = 33,
    HtmlAttr_Id = 34,
    HtmlAttr_Inputmode = 35,
    HtmlAttr_Itemtype = 36,
    HtmlAttr_Ismap = 37,
    HtmlAttr_Label = 38,
    HtmlAttr_Lang = 39,
    HtmlAttr_List = 40,
    HtmlAttr_Link = 41,
    HtmlAttr_Loop = 42,
    HtmlAttr_Low = 43,
    HtmlAttr_Maxlength = 44,
    HtmlAttr_Minlength = 45,
    HtmlAttr_Media = 46,
    HtmlAttr_Min = 47,
    HtmlAttr_Multiple = 48,
    HtmlAttr_Muted = 49,
    HtmlAttr_Name = 50,
    HtmlAttr_Novalidate = 51,
    HtmlAttr_Nonce = 52,
    HtmlAttr_Optimum = 53,
    HtmlAttr_Pattern = 54,
    HtmlAttr_Placeholder = 55,
    HtmlAttr_Poster = 56,
    HtmlAttr_Property = 57,
    HtmlAttr_Readonly = 58,
    HtmlAttr_Rel = 59,
    HtmlAttr_Required = 60,
    HtmlAttr_Rows = 61,
    HtmlAttr_Rowspan = 62,
    HtmlAttr_Sandbox = 63,
    HtmlAttr_Scope = 64,
    HtmlAttr_Seamless = 65,
    HtmlAttr_Size = 66,
    HtmlAttr_Sizes = 67,
    HtmlAttr_Src = 68,
    HtmlAttr_Srcdoc = 69,
    HtmlAttr_Srclang = 70,
    HtmlAttr_Draggable = 71,
    HtmlAttr_Style = 72,
    HtmlAttr_Tabindex = 73,
    HtmlAttr_Target = 74,
    HtmlAttr_Title = 75,
    HtmlAttr_DataTitle = 76,
    HtmlAttr_Type = 77,
    HtmlAttr_Value = 78,
    HtmlAttr_Viewbox = 79,
    HtmlAttr_Width = 80,
    HtmlAttr_Wrap = 81,
    HtmlAttr_Xmlns = 82,
    HtmlAttr_ZIndex = 83,
    HtmlAttr_Todo = 84,
    HtmlAttr_DontFetch = 85,
    HtmlAttr_Count = 86,
};

//- row fields

// Bits of HtmlTagInfo::content.
enum HtmlContentFlags : u32 {
    HtmlContent_RawText = 1,      // taken token by token up to the element's own closing tag
    HtmlContent_Container = 2,    // descriptive only
    HtmlContent_MayBeEmpty = 4,   // exempt from the "must not have empty content" check
    HtmlContent_Void = 8,         // no content, no closing tag; a void row holds exactly 8
};

enum HtmlDisplay : u32 {
    HtmlDisplay_Empty = 1,
    HtmlDisplay_Block = 2,
    HtmlDisplay_Inline = 3,
};

enum HtmlAttrType : u32 {
    HtmlAttrType_Text = 1,
    HtmlAttrType_Boolean = 2,   // written as its bare name
    HtmlAttrType_Number = 3,
    HtmlAttrType_Style = 4,
    HtmlAttrType_Link = 5,
};

enum HtmlAttrFlags : u32 {
    HtmlAttrFlag_SingleValued = 0x10,   // the value stays one string
};

//- records

struct HtmlTagInfo {
    Str name;       // canonical: lower case except "!DOCTYPE"
    u32 id;         // 1 to 82, the row's position plus one
    u32 mark;       // descriptive
    u32 category;   // descriptive
    u32 display;    // HtmlDisplay, descriptive
    u32 content;    // HtmlContentFlags
    Str parents;    // allowed parents separated by ";"; "root" is the template's top level
    Str required;   // required attribute names separated by ";"
};

struct HtmlAttrInfo {
    Str name;       // matched and written byte for byte
    u32 id;         // 0 to 85, the row's position
    u32 type;       // HtmlAttrType
    u32 flags;      // HtmlAttrFlags; other bits are descriptive
    Str note;       // a default value or a description
    Str extra;      // empty in every row
};

extern const HtmlTagInfo html_tag_table[HtmlTag_Count];
extern const HtmlAttrInfo html_attr_table[HtmlAttr_Count];
extern const HtmlTagInfo html_tag_empty;    // all zero: a tag the table does not hold
extern const HtmlAttrInfo html_attr_empty;  // all zero: the row of the none attribute

//- lookups

const HtmlTagInfo *html_tag_from_id(u32 id);               // html_tag_empty for an id not in the table
const HtmlTagInfo *html_tag_from_name(Str name);           // ASCII case ignored
const HtmlTagInfo *html_tag_from_name_exact(Str name);     // byte for byte
const HtmlAttrInfo *html_attr_from_name(Str name);         // byte for byte; unknown names give the "data-* " row
const HtmlAttrInfo *html_attr_from_id(u32 id);             // html_attr_empty for an id not in the table

// Whether an element of tag `child_tag` may stand directly in one of tag
// `parent_tag` (ASCII case ignored, as the validator reads the table), and
// whether it may stand at a template's top level ("root"). Answered from
// sets built at compile time out of the rows' texts: asked for every
// element of every page, never by splitting text. Tag 0 (unknown) is never
// an allowed parent and allows none.
bool html_tag_allows_parent(u32 child_tag, u32 parent_tag);
bool html_tag_allows_root(u32 child_tag);

// The allowed parents of a tag cut at each ";": an empty piece between two
// ";" is kept, a final ";" adds nothing. Empty for an id not in the table.
StrList html_tag_parents(Arena *arena, u32 tag_id);

inline bool html_tag_is_void(const HtmlTagInfo *tag) { return tag->content == HtmlContent_Void; }
