// render/page_variant.h: which of the two pages of a document is being
// built, desktop or smartphone, and the layout numbers of that page.
//
// The site build holds two records, the first for the desktop page and the
// second for the smartphone page. The shell's setup fills them once
// (page_variant_fill, shell/stylesheet.h), before any page is built;
// afterwards every thread only reads them. The renderer reads nothing but
// `kind`: the smartphone page puts the title into the top bar and sizes
// header fields differently. The style sheets read the layout numbers.
#pragma once
#include "base/types.h"

enum PageVariantKind : u32 {
    PageVariant_None = 0,
    PageVariant_Desktop = 1,
    PageVariant_Smartphone = 2,
};

// A screen the layout was drawn against. Nothing in wyn reads these yet;
// they are kept with the layout so the numbers below can be checked
// against the screens they were tuned on.
struct PageReferenceScreen {
    f32 width;    // pixels
    f32 height;   // pixels
    u64 count;
    f32 size;
};

// Widths are in vw, heights and vertical offsets in vh. The fields marked
// "derived" follow from the others (page_variant_fill computes them).
struct PageVariant {
    u32 kind;   // PageVariantKind

    PageReferenceScreen screen_qhd;       // 2560 x 1440
    PageReferenceScreen screen_full_hd;   // 1920 x 1080
    PageReferenceScreen screen_hd;        // 1280 x 720, smartphone only
    PageReferenceScreen screen_uhd;       // 3840 x 2160, desktop only
    PageReferenceScreen screen_phone;     // 2532 x 1170, smartphone only

    f32 left_column_width;       // top_left's width
    f32 top_bar_height;
    f32 top_left_height;
    f32 top_right_width;
    f32 top_right_height;
    f32 top_middle_width;        // derived: 100 - left column - top_right
    f32 top_middle_height;
    f32 left_width;
    f32 left_height;             // derived: 100 - top_left's height
    f32 right_width;
    f32 right_height;            // derived: 100 - top_right's height
    f32 content_left_margin;     // the b_w region's; equals left_width
    f32 content_width;           // derived: 100 - right - left
    f32 content_min_height;      // derived: 100 - top bar
    f32 content_right_padding;
    f32 content_top_margin;      // derived: top bar + 2
};

// A null variant renders the desktop page.
inline bool page_variant_is_smartphone(const PageVariant *variant)
{
    return variant && variant->kind == PageVariant_Smartphone;
}
