// markup/parser_state.h: the parser's state machine, shared by its three
// source files (parser.cpp the line half, inline.cpp the inline half,
// tables.cpp tables). Not for use outside the parser.
//
// The parser keeps a stack of state records on the work arena; popped
// records go to a free list and are reused. Each record knows the node it
// fills and caches its surroundings (the innermost quote, context and
// line-level record below it, and the nearest top heading), so that no
// rule has to search up the tree or the stack: deep nesting costs nothing
// per line.
#pragma once
#include "markup/parser.h"

enum ParseState : u32 {
    ParseState_Root = 1,            // the bottom record: the document
    ParseState_Inline = 2,          // inline content of the node follows
    ParseState_List = 4,            // a list whose next item may follow
    ParseState_NextLine = 11,       // the container from which the next line is read
    ParseState_Quote = 14,          // a quote whose lines follow
    ParseState_Context = 15,        // a context opened by a "``" line
    ParseState_InlineContext = 16,  // a context opened inside a line
};

enum ParseRecordFlags : u32 {
    ParseRecord_LineOwner = 1,   // the node the current line made: its line break finishes the line
};

struct ParseRecord {
    ParseRecord *below;
    u32 state;
    u32 flags;
    MarkupNode *node;
    u64 depth;             // records below this one
    ParseRecord *quote;    // innermost quote record at or below (null: none)
    ParseRecord *context;  // innermost context or inline context record at or below
    ParseRecord *line;     // innermost inline record of a line-level node (not a description)
    MarkupNode *heading0;  // nearest level-0 heading at or above the node (null: none)
    u64 open_brackets;     // "[" that started no construct, waiting for their "]"
    u64 open_parens;       // "(" inside a description, waiting for their ")"
};

// What the parser keeps while a table is open.
struct TableState {
    MarkupNode *root;          // the "table_root"; null when no table is open
    ParseRecord *record;       // its inline record
    u32 separator;             // TokenFlag_Bar or TokenFlag_Semicolon
    bool line_start;           // the current table line has not reached its first cell
    bool header_done;          // the header (anchor) line has ended
    bool body;                 // body rows have begun
    bool rule_pending;         // a rule line came before the header: the anchor moves
    u64 group;                 // index of the current column group
    u64 column;                // column index within the group
    MarkupNode *group_node;    // the current "table"
    MarkupNode *header_cell;   // the header cell of the current column (may be nil)
    MarkupNode *row;           // body: the row of the current group on this line (nil: none yet)
    MarkupNode *cell;          // the cell that receives inline content
    bool told_extra_cells;     // a row with more cells than the header was warned about
};

struct Parser {
    Arena *arena;              // nodes, list cells, output paths
    Arena *work;               // records, messages
    Str text;
    const MarkupToken *tokens;
    u64 count;
    u64 i;                     // the token being handled
    ParsedDocument *out;
    MarkupNode *root;
    ParseRecord *top;
    ParseRecord *free_records;
    bool at_line_start;
    u64 line_begin;            // offset of the first byte of the current physical line
    const ParseOptions *options;
    u64 dropped_messages;        // messages past parser_message_limit: counted, not kept
    u32 dropped_max_level;
    bool line_after_short_row;   // a short line just ended a table: it is text, not a new table

    MarkupNode *last_paragraph;  // the latest "paragraph" made
    MarkupNode *last_heading;    // the latest "heading" made
    MarkupNode *toc_list;        // the table of contents' list, once made
    MarkupNode *footnote_list;   // the footnotes' list, once made
    const MarkupToken *header_open;  // the "``" that opened the document's header (null: none)
    bool told_tab;                   // a line indented with a tab was warned about, or the text holds no tab
    bool told_markdown;              // a habit from Markdown was noted
    u64 strong_scanned_to;           // "**" looked for a closing pair up to this token, in vain
    u64 links_quiet_before;          // strings that begin before this offset stay text
    NodeList internal_refs;      // work arena: references to resolve at the end
    NodeList footnote_refs;
    NodeList footnote_defs;

    TableState table;

    MarkupNode *node_pool;       // nodes are taken from the arena 32 at a time
    u64 node_pool_left;
};

//- tokens

// The value of the digits a run starts with, or `most` + 1 once it passes
// `most`: a number too large for where it goes is told apart from one that
// fits, without overflowing on a long run.
inline u32 digits_value_up_to(Str digits, u32 most)
{
    u32 value = 0;
    for (u64 k = 0; k < digits.size && char_is_digit((u8)digits.str[k]); k += 1) {
        value = value * 10 + (u32)(digits.str[k] - '0');
        if (value > most) return most + 1;
    }
    return value;
}

inline const MarkupToken *parser_token(const Parser *p, u64 index)
{
    return index < p->count ? &p->tokens[index] : nullptr;
}
inline Str parser_token_text(const Parser *p, const MarkupToken *t) { return token_text(p->text, t); }
inline bool token_kind(const MarkupToken *t, u32 kind) { return t && (t->flags & kind) != 0; }
inline bool token_unescaped(const MarkupToken *t, u32 kind) { return t && (t->flags & kind) && !(t->flags & TokenFlag_Escaped); }
bool token_is_symbol(const Parser *p, const MarkupToken *t, char c);
// Moves to token `index`, keeping line_begin right for every line break passed.
void parser_advance_to(Parser *p, u64 index);

//- records

ParseRecord *parser_push(Parser *p, u32 state, MarkupNode *node, u32 flags = 0);
void parser_pop(Parser *p);
void parser_pop_above(Parser *p, ParseRecord *record);   // pops until `record` is the top
void parser_pop_through(Parser *p, ParseRecord *record); // pops `record` too

//- nodes and messages

constexpr u64 parser_node_batch = 32;
constexpr u64 parser_message_limit = 10000;

inline const MarkupNode parser_blank_node = {
    .next = &markup_nil, .first_child = &markup_nil, .prev = &markup_nil, .last_child = &markup_nil,
    .parent = &markup_nil, .field = nullptr, .name = {"", 0}, .text = {"", 0},
    .offset = 0, .child_count = 0, .flags = 0, .node_class = NodeClass_Nil, .space_before = 0, .kind = 0,
    .number = 0, .indent = 0, .space_after = 0, .max_heading_level = 0,
};

// A node as node_new makes it, without the kind lookup: the parser names
// elements only with the kind_* strings, which are the table's own.
inline MarkupNode *parser_node(Parser *p, u32 node_class, u64 flags, Str name, Str text, u64 offset)
{
    if (p->node_pool_left == 0) {
        p->node_pool = push_array_no_zero<MarkupNode>(p->arena, parser_node_batch);
        p->node_pool_left = parser_node_batch;
    }
    MarkupNode *n = p->node_pool++;
    p->node_pool_left -= 1;
    // One block copy of a blank node, then the five fields that differ.
    *n = parser_blank_node;
    n->node_class = node_class;
    n->flags = flags;
    n->name = name;
    n->text = text;
    n->offset = offset;
    return n;
}

inline MarkupNode *parser_element(Parser *p, u32 kind, u64 flags, u64 offset)
{
    Str name = markup_kind_table[kind].name;
    MarkupNode *n = parser_node(p, NodeClass_Element, flags, name, name, offset);
    n->kind = kind;
    return n;
}

// A line-level element: its name is its kind, its text stays empty.
inline MarkupNode *parser_line_element(Parser *p, u32 kind, u64 offset)
{
    MarkupNode *n = parser_node(p, NodeClass_Element, 0, markup_kind_table[kind].name, Str{"", 0}, offset);
    n->kind = kind;
    return n;
}

inline bool is_kind(const MarkupNode *n, u32 kind) { return node_is_element(n, kind); }
// Whether anything of the text comes after `n` among its siblings: the
// table of contents, put in after the first heading, is not text.
inline bool followed_by_text(const MarkupNode *n)
{
    const MarkupNode *next = n->next;
    while (!node_is_nil(next) && is_kind(next, MarkupKind_Toc)) next = next->next;
    return !node_is_nil(next);
}

inline bool is_list_kind(const MarkupNode *n)
{
    return is_kind(n, MarkupKind_ListUnordered) || is_kind(n, MarkupKind_ListNumeric) || is_kind(n, MarkupKind_ListAlpha);
}

// Links `child` as the last child of `parent`; both are real nodes.
inline void parser_append(MarkupNode *parent, MarkupNode *child)
{
    child->parent = parent;
    child->prev = parent->last_child;
    if (parent->last_child == &markup_nil) parent->first_child = child;
    else parent->last_child->next = child;
    parent->last_child = child;
    parent->child_count += 1;
}

// Kinds after which a blank still counts as spacing before the next text.
// A blank between a footnote marker or a tick box and the next word is
// kept, so the two are not glued together on the page (the blank is
// recorded on the element, which pages do not print). Links need no help:
// their own text carries the blank.
inline bool keeps_space_before(const MarkupNode *last)
{
    if (last == &markup_nil || last->node_class == NodeClass_Text) return true;
    return is_kind(last, MarkupKind_UnformatedText) || is_kind(last, MarkupKind_Raw) || is_kind(last, MarkupKind_InternalLinkRef) ||
           is_kind(last, MarkupKind_Block) || is_kind(last, MarkupKind_LinkHttp) ||
           is_kind(last, MarkupKind_FootnoteRef) || is_kind(last, MarkupKind_Checkbox);
}

// Tokens whose text is a plain piece of a run when they reach a text node.
constexpr u32 text_piece_tokens = TokenFlag_Word | TokenFlag_Symbol | TokenFlag_Equals | TokenFlag_Mark |
                                  TokenFlag_OpenBracket | TokenFlag_CloseBracket | TokenFlag_Comment |
                                  TokenFlag_Bar | TokenFlag_Semicolon;
constexpr u64 text_run_flags = NodeFlag_Symbol | NodeFlag_StrongInside | NodeFlag_EmphasisInside;

// Whether `run` holds its own stretch of the source (a table of contents
// entry holds a copy) and so can be extended in place by what follows it.
inline bool text_run_in_source(const MarkupNode *run)
{
    return run->node_class == NodeClass_Text && run->name.str == run->text.str && run->name.size == run->text.size;
}

// Extends `run` over the next `size` bytes of the source. Both strings are
// set from the one value: reading `name` back whole right after storing
// its size would stall on the store.
inline void text_run_grow(MarkupNode *run, u64 size)
{
    Str grown = Str{run->name.str, run->name.size + size};
    run->name = grown;
    run->text = grown;
}

// Whether `t` extends the plain run `last`: glued to it, or after a blank
// of spaces the page would show byte for byte (no tab, no cut), so the run
// holding the blank reads the same as the two runs and the blank did.
inline bool text_piece_merges(const MarkupNode *container, const MarkupNode *last, const MarkupToken *t, u64 flags,
                              Str s)
{
    if (!((t->flags & ~text_piece_tokens) == 0 && (flags & ~text_run_flags) == 0 && text_run_in_source(last) &&
          (last->flags & ~(u64)NodeFlag_Symbol) == (flags & ~(u64)NodeFlag_Symbol) &&
          container->node_class != NodeClass_HeaderField && !is_kind(container, MarkupKind_Desc)))
        return false;
    const char *end = last->text.str + last->text.size;
    u64 gap = last->space_after;
    if (gap > run_blanks_max || end + gap != s.str) return false;
    for (u64 k = 0; k < gap; k += 1)
        if (end[k] != ' ') return false;
    return true;
}

// The end of the word that starts at `begin` in token `t`: a word token may
// hold several, one space apart (see tokenizer.h); any other token is one.
inline u64 token_word_end(const Parser *p, const MarkupToken *t, u64 begin)
{
    if (t->flags != TokenFlag_Word) return t->end;
    u64 end = begin;
    while (end < t->end && p->text.str[end] != ' ') end += 1;
    return end;
}

// Header values and descriptions are read a word at a time: there a token
// of several words becomes a node per word, the one space between two
// recorded as a blank token's would be. Returns the last node.
MarkupNode *parser_words_apart(Parser *p, MarkupNode *container, const MarkupToken *t, u64 flags);

inline bool words_read_apart(const MarkupNode *container)
{
    return container->node_class == NodeClass_HeaderField || is_kind(container, MarkupKind_Desc);
}

// A text run made from token `t`, appended to `container`: spacing from the
// blank before it, and the span flags of the run before it (a span runs
// over the following siblings until its closing mark).
inline MarkupNode *parser_text_node(Parser *p, MarkupNode *container, const MarkupToken *t, u64 extra_flags)
{
    Str s = parser_token_text(p, t);
    u64 flags = node_flags_from_token(t->flags) | extra_flags;
    MarkupNode *last = container->last_child;
    if (!(flags & NodeFlag_StrongClose) && (last->flags & (NodeFlag_StrongOpen | NodeFlag_StrongInside)))
        flags |= NodeFlag_StrongInside;
    if (!(flags & NodeFlag_EmphasisClose) && (last->flags & (NodeFlag_EmphasisOpen | NodeFlag_EmphasisInside)))
        flags |= NodeFlag_EmphasisInside;
    // A plain piece glued to the plain run before it, or one plain blank
    // after it, extends that run: one node per punctuation byte or per
    // piece of "x!x!x!" would cost a hundred times the input, one per word
    // most of a page's time, and the run shows the same on the page.
    // Numbers keep a node of their own (they have a style), and so do the
    // pieces of header values and descriptions, which are read one by one.
    if (text_piece_merges(container, last, t, flags, s)) {
        text_run_grow(last, last->space_after + s.size);
        last->space_after = 0;
        last->flags &= flags | ~(u64)NodeFlag_Symbol;   // a symbol run only while every piece is one
        return last;
    }
    if (t->flags == TokenFlag_Word && words_read_apart(container)) return parser_words_apart(p, container, t, flags);
    MarkupNode *n = parser_node(p, NodeClass_Text, flags, s, s, t->begin);
    if (t > p->tokens && (t[-1].flags & TokenFlag_Space) && keeps_space_before(last)) n->space_before = 1;
    parser_append(container, n);
    return n;
}

void parser_message(Parser *p, const MarkupToken *t, u32 level, Str text);
// Markdown's marks show as written here: the first one in a document is
// noted with wyn's spelling, and the rest go unsaid.
void parser_markdown_note(Parser *p, const MarkupToken *t, Str text);
void parser_unexpected(Parser *p, const MarkupToken *t);

//- the two halves

void parse_line_start(Parser *p);
void parse_line_end(Parser *p);           // at a line break (not consumed) or at the end of the tokens
void parse_inline_token(Parser *p);
void parse_inline_context_entry(Parser *p);
MarkupNode *parser_container(Parser *p);  // the node inline content goes into
bool parse_header_line(Parser *p, MarkupNode *parent, u8 indent, u32 record_flags, bool in_entry);

//- tables

bool table_is_separator(const Parser *p, const MarkupToken *t);
void table_open(Parser *p, MarkupNode *parent, u8 indent);
void table_line_start_token(Parser *p);
void table_separator(Parser *p);
void table_line_end(Parser *p);
void table_mark_ticked(Parser *p);
