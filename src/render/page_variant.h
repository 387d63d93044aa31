// render/page_variant.h: which of the two pages of a document is being
// built, desktop or smartphone, and the layout numbers of that page.
//
// The site build holds two records, the first for the desktop page and the
// second for the smartphone page. The style-sheet setup fills their 46 slots
// once, before any page is built; afterwards every thread only reads them.
// The renderer reads nothing but `kind`: the smartphone page puts the title
// into the top bar and sizes header fields differently.
#pragma once
#include "base/types.h"
#include <cstring>

enum PageVariantKind : u32 {
    PageVariant_None = 0,
    PageVariant_Desktop = 1,
    PageVariant_Smartphone = 2,
};

constexpr u32 page_variant_slot_count = 46;

// Slots 0 to 29 hold reference screen sizes and counts, slots 30 to 45 the
// numbers of the layout rules. A slot is 32 bits: most hold a float; the
// pairs 2-3, 8-9, 20-21 and 26-27 each hold one unsigned 64-bit count, low
// half first. The accessors below read them without type punning.
struct PageVariant {
    u32 kind;   // PageVariantKind
    u32 slots[page_variant_slot_count];
};

inline f32 page_variant_number(const PageVariant *variant, u32 slot)
{
    f32 value = 0;
    if (slot < page_variant_slot_count) memcpy(&value, &variant->slots[slot], sizeof value);
    return value;
}

inline void page_variant_set_number(PageVariant *variant, u32 slot, f32 value)
{
    if (slot < page_variant_slot_count) memcpy(&variant->slots[slot], &value, sizeof value);
}

inline u64 page_variant_count(const PageVariant *variant, u32 first_slot)
{
    u64 value = 0;
    if (first_slot + 1 < page_variant_slot_count) memcpy(&value, &variant->slots[first_slot], sizeof value);
    return value;
}

inline void page_variant_set_count(PageVariant *variant, u32 first_slot, u64 value)
{
    if (first_slot + 1 < page_variant_slot_count) memcpy(&variant->slots[first_slot], &value, sizeof value);
}

// A null variant renders the desktop page.
inline bool page_variant_is_smartphone(const PageVariant *variant)
{
    return variant && variant->kind == PageVariant_Smartphone;
}
