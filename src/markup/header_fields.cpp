// markup/header_fields.cpp: the header key table.
#include "markup/header_fields.h"
#include "markup/document.h"

// Icon numbers index the renderer's icon table: 0 Nil, 1 Menu, 8 At,
// 18 Link, 27 Calendar, 29 User, 30 Quote, 31 Tag, 32 Comment.
const HeaderFieldInfo header_field_table[header_field_count] = {
    {str_lit("author"), HeaderField_Author, 0x8000, 0, 0, 29},
    {str_lit("author_link"), HeaderField_AuthorLink, 0x80, 0, 0, 8},
    {str_lit("output_path"), HeaderField_OutputPath, 0x400000, 1, 0, 0},
    {str_lit("creation_date"), HeaderField_CreationDate, 0x1000, 0, 0x2000, 27},
    {str_lit("last_modification_date"), HeaderField_LastModificationDate, 0x1000, 0, 0x2000, 27},
    {str_lit("remark"), HeaderField_Remark, 0x10000, 0, 0, 32},
    {str_lit("includes"), HeaderField_Includes, 0x100000, 1, 0, 0},
    {str_lit("related"), HeaderField_Related, 0x100000, 0, 0, 18},
    {str_lit("title"), HeaderField_Title, 0x2, 0, 0x1000, 0},
    {str_lit("time"), HeaderField_Time, 0x1000000, 0, 0x1000, 0},
    {str_lit("status"), HeaderField_Status, 0x200000, 1, 0, 0},
    {str_lit("excerpt"), HeaderField_Excerpt, 0x20000, 0, 0, 0},
    {str_lit("summary"), HeaderField_Summary, 0x40000, 0, 0, 30},
    {str_lit("toc"), HeaderField_Toc, 0x800000, 1, 0, 1},
    {str_lit("todo"), HeaderField_Todo, 0x2000000, 1, 0, 0},
    {str_lit("category"), HeaderField_Category, 0x80000, 0, 0x2000, 31},
};

const HeaderFieldInfo *header_field_lookup(Str key)
{
    // The longest key has 22 bytes; anything longer cannot match.
    if (key.size == 0 || key.size > 22) return nullptr;
    for (const HeaderFieldInfo &row : header_field_table)
        if (row.key.size == key.size && str_match(row.key, key, StrMatch_CaseInsensitive)) return &row;
    return nullptr;
}

const HeaderFieldInfo *header_field_closest(Str key)
{
    const HeaderFieldInfo *best = nullptr;
    u64 best_distance = 3;
    for (const HeaderFieldInfo &row : header_field_table) {
        u64 distance = str_edit_distance(key, row.key);
        if (distance < best_distance && distance < key.size) {
            best = &row;
            best_distance = distance;
        }
    }
    return best;
}

bool header_status_hides(Str status)
{
    return str_match(status, str_lit("draft"), StrMatch_CaseInsensitive) ||
           str_match(status, str_lit("personal"), StrMatch_CaseInsensitive);
}

Str header_status_meant(Str status)
{
    if (header_status_hides(status) || status.size == 0 || status.size > 32) return str_empty();
    char lower[32];
    for (u64 i = 0; i < status.size; i += 1) lower[i] = char_to_lower(status.str[i]);
    Str word = {lower, status.size};
    static const Str hiding[] = {str_lit("draft"), str_lit("personal")};
    for (Str meant : hiding)
        if (str_edit_distance(word, meant) <= 2 && word.size > 2) return meant;
    static const Str keep_off[] = {str_lit("private"), str_lit("hidden"), str_lit("secret")};
    for (Str asked : keep_off)
        if (str_eq(word, asked)) return str_lit("personal");
    if (str_eq(word, str_lit("unpublished"))) return str_lit("draft");
    return str_empty();
}

Str header_title_text(Arena *arena, MarkupNode *title_field)
{
    if (node_is_nil(title_field)) return str_empty();
    StrList pieces = {};
    for (MarkupNode *c = title_field->first_child; !node_is_nil(c); c = c->next) {
        if (c->node_class != NodeClass_Text) continue;
        // A closing mark shows no text but keeps the blank after it: the
        // one between the emphasised words and the next.
        Str text = (c->flags & NodeFlag_EmphasisMarks) ? str_empty() : c->text;
        str_list_pushf(arena, &pieces, "%S%*s", text, (int)min_of<u64>(c->space_after, run_blanks_max), "");
    }
    return str_trim(str_list_join_plain(arena, &pieces));
}
