// markup/tokenizer.cpp: the single pass that makes MarkupTokens.
#include "markup/tokenizer.h"

#include <bit>

//- byte classes

enum ByteClass : u8 {
    Byte_Control,      // no markup meaning: a one-byte symbol
    Byte_Blank,        // tab, vertical tab, form feed, space
    Byte_LineFeed,
    Byte_Return,
    Byte_Backslash,
    Byte_Slash,
    Byte_Equals,
    Byte_Angle,        // < >
    Byte_Bar,
    Byte_OpenBracket,
    Byte_CloseBracket,
    Byte_Minus,
    Byte_Semicolon,
    Byte_At,
    Byte_Underscore,
    Byte_Backtick,
    Byte_Tilde,
    Byte_CloseBrace,
    Byte_Letter,       // A-Z, a-z and every byte from 0x80 up
    Byte_Digit,
    Byte_Dot,
    Byte_Quote,        // " '
    Byte_Punctuation,  // the remaining one-byte symbols
};

struct ByteTables {
    u8 klass[256];
    u8 word[256];      // 1 when the byte continues a word
};

static constexpr ByteTables make_byte_tables()
{
    ByteTables t = {};
    for (int c = 0; c < 256; c += 1) {
        u8 k = Byte_Control;
        if (c >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) k = Byte_Letter;
        else if (c >= '0' && c <= '9') k = Byte_Digit;
        t.klass[c] = k;
        t.word[c] = k == Byte_Letter || k == Byte_Digit;
    }
    t.klass[(u8)'\t'] = Byte_Blank;
    t.klass[(u8)'\v'] = Byte_Blank;
    t.klass[(u8)'\f'] = Byte_Blank;
    t.klass[(u8)' '] = Byte_Blank;
    t.klass[(u8)'\n'] = Byte_LineFeed;
    t.klass[(u8)'\r'] = Byte_Return;
    t.klass[(u8)'\\'] = Byte_Backslash;
    t.klass[(u8)'/'] = Byte_Slash;
    t.klass[(u8)'='] = Byte_Equals;
    t.klass[(u8)'<'] = Byte_Angle;
    t.klass[(u8)'>'] = Byte_Angle;
    t.klass[(u8)'|'] = Byte_Bar;
    t.klass[(u8)'['] = Byte_OpenBracket;
    t.klass[(u8)']'] = Byte_CloseBracket;
    t.klass[(u8)'-'] = Byte_Minus;
    t.klass[(u8)';'] = Byte_Semicolon;
    t.klass[(u8)'@'] = Byte_At;
    t.klass[(u8)'_'] = Byte_Underscore;
    t.klass[(u8)'`'] = Byte_Backtick;
    t.klass[(u8)'~'] = Byte_Tilde;
    t.klass[(u8)'}'] = Byte_CloseBrace;
    t.klass[(u8)'.'] = Byte_Dot;
    t.klass[(u8)'"'] = Byte_Quote;
    t.klass[(u8)'\''] = Byte_Quote;
    const char punctuation[] = "!#$%&()*+,:?^{";
    for (const char *p = punctuation; *p; p += 1) t.klass[(u8)*p] = Byte_Punctuation;
    return t;
}

static constexpr ByteTables byte_tables = make_byte_tables();

// A carriage return is a line end of its own (old Mac files) or the first
// half of one, never a blank: a blank run must not swallow a line break.
static inline bool is_blank_byte(u8 c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }
static inline bool is_ascii_letter(u8 c) { return (u8)((c | 0x20) - 'a') < 26; }
static inline bool is_digit(u8 c) { return (u8)(c - '0') < 10; }

// Only markup that an escape can switch off takes the escaped bit; a word,
// a symbol or a lone quote after a backslash is text anyway.
static constexpr u32 escapable_flags = TokenFlag_Number | TokenFlag_StringClosed | TokenFlag_Mark | TokenFlag_Comment |
                                       TokenFlag_Bar | TokenFlag_OpenBracket | TokenFlag_CloseBracket |
                                       TokenFlag_Backtick | TokenFlag_DoubleBacktick | TokenFlag_TripleBacktick |
                                       TokenFlag_Rule | TokenFlag_RawOpen | TokenFlag_RawClose | TokenFlag_Semicolon;

// The end of a word token that starts before `at`: its word, and every
// further word that one space sets apart and that starts with a letter
// (see tokenizer.h). Eight bytes at a time where the text allows, without
// a branch per word: a byte goes on with the token when it belongs to a
// word, or when it is a space and the byte after it starts a word.
static inline u64 word_run_end(const u8 *s, u64 at, u64 n)
{
    if constexpr (std::endian::native == std::endian::little) {
        constexpr u64 ones = 0x0101010101010101ull;
        constexpr u64 highs = 0x8080808080808080ull;
        // Lanes below 0x80 hold ASCII; adding (0x80 - bound) sets a lane's
        // high bit exactly when the lane is at least `bound`, and cannot
        // carry into the next lane. Bytes from 0x80 up carry their own.
        auto letters = [](u64 x) {
            u64 folded = (x & ~highs) | (0x20 * ones);
            return (x | ((folded + (0x80 - 'a') * ones) & ~(folded + (0x80 - 'z' - 1) * ones))) & highs;
        };
        auto digits = [](u64 x) {
            u64 low = x & ~highs;
            return (low + (0x80 - '0') * ones) & ~(low + (0x80 - '9' - 1) * ones) & highs;
        };
        auto spaces = [](u64 x) {
            u64 y = x ^ (u64(' ') * ones);   // a space lane is now zero
            return ~(((y & ~highs) + ~highs) | y | ~highs);
        };
        // The byte after each lane comes from a second load one byte on.
        while (at + 9 <= n) {
            u64 x, next;
            memcpy(&x, s + at, 8);
            memcpy(&next, s + at + 1, 8);
            u64 goes_on = letters(x) | digits(x) | (spaces(x) & letters(next));
            u64 stop = ~goes_on & highs;
            if (stop) return at + (u64)(std::countr_zero(stop) >> 3);
            at += 8;
        }
    }
    for (;;) {
        while (at < n && byte_tables.word[s[at]]) at += 1;
        if (!(at + 1 < n && s[at] == ' ' && byte_tables.klass[s[at + 1]] == Byte_Letter)) return at;
        at += 2;
    }
}

//- the pass

TokenArray tokenize(Arena *arena, Str text)
{
    TokenArray result = {};
    // Offsets are 32-bit: sources are refused long before 4 GiB.
    if (text.size == 0 || text.size > 0xFFFFFFFFull) return result;

    // Every token holds at least one byte, so the text's size bounds the
    // count: one array of that many records is pushed and its unused tail
    // given back at the end. Pages are backed only where tokens are written,
    // and no copy of a chunked array ever doubles the peak.
    MarkupToken *tokens = push_array_no_zero<MarkupToken>(arena, text.size);
    if (!tokens) return result;
    u64 total = 0;
    u32 previous = 0;

    const u8 *s = (const u8 *)text.str;
    const u64 n = text.size;
    auto push = [&](u64 begin, u64 end, u32 flags) {
        MarkupToken *t = &tokens[total++];
        t->begin = (u32)begin;
        t->end = (u32)end;
        t->flags = flags;
    };

    u64 i = 0;
    while (i < n) {
        u8 c = s[i];
        u64 end = i + 1;
        u32 flags = 0;
        ByteClass klass = (ByteClass)byte_tables.klass[c];
        // Words and blanks are most of any text: they are handled before the
        // switch, whose indirect jump predicts poorly, and the usual single
        // blank after a word is emitted with it.
        if (klass == Byte_Letter) {
            // Words with one space between them are one token: a line of
            // them is most of any text, and the parser makes one text run
            // of them anyway (where it reads them one by one, it cuts the
            // token at its spaces).
            end = word_run_end(s, end, n);
            push(i, end, TokenFlag_Word);
            i = end;
            if (end + 1 < n && s[end] == ' ' && !is_blank_byte(s[end + 1])) {
                push(end, end + 1, TokenFlag_Space);
                i = end + 1;
                previous = TokenFlag_Space;
            } else {
                previous = TokenFlag_Word;
            }
            continue;
        }
        if (klass == Byte_Blank) {
            while (end < n && is_blank_byte(s[end])) end += 1;
            push(i, end, TokenFlag_Space);
            previous = TokenFlag_Space;
            i = end;
            continue;
        }
        switch (klass) {
        case Byte_Letter:
        case Byte_Blank:
            break;
        case Byte_LineFeed:
            flags = TokenFlag_Newline;
            break;
        case Byte_Return:
            if (end < n && s[end] == '\n') end += 1;
            flags = TokenFlag_Newline;
            break;
        case Byte_Backslash:
            flags = TokenFlag_Escape;
            break;
        case Byte_Slash:
            if (end < n && s[end] == '/') {
                end += 1;
                flags = TokenFlag_Comment;
            } else {
                flags = TokenFlag_Symbol;
            }
            break;
        case Byte_Equals: flags = TokenFlag_Equals; break;
        case Byte_Angle: flags = TokenFlag_Mark; break;
        case Byte_Bar: flags = TokenFlag_Bar; break;
        case Byte_OpenBracket: flags = TokenFlag_OpenBracket; break;
        case Byte_CloseBracket: flags = TokenFlag_CloseBracket; break;
        case Byte_Minus:
            if (i + 3 <= n && s[i + 1] == '-' && s[i + 2] == '-') {
                end = i + 3;
                flags = TokenFlag_Rule;
            } else {
                flags = TokenFlag_Mark;
            }
            break;
        case Byte_Semicolon: flags = TokenFlag_Semicolon; break;
        case Byte_At: flags = TokenFlag_Mark; break;
        case Byte_Underscore:
            if (end < n && s[end] == '_') end += 1;
            flags = TokenFlag_Mark;
            break;
        case Byte_Backtick:
            if (end < n && s[end] == '`') {
                end += 1;
                if (end < n && s[end] == '`') {
                    end += 1;
                    flags = TokenFlag_TripleBacktick;
                } else {
                    flags = TokenFlag_DoubleBacktick;
                }
            } else {
                flags = TokenFlag_Backtick;
            }
            break;
        case Byte_Tilde:
            if (end < n && s[end] == '{') {
                end += 1;
                flags = TokenFlag_RawOpen;
            } else {
                flags = TokenFlag_Symbol;
            }
            break;
        case Byte_CloseBrace:
            if (end < n && s[end] == '~') {
                end += 1;
                flags = TokenFlag_RawClose;
            } else {
                flags = TokenFlag_Symbol;
            }
            break;
        case Byte_Dot:
            if (!(end < n && is_digit(s[end]))) {
                flags = TokenFlag_Symbol;
                break;
            }
            [[fallthrough]];
        case Byte_Digit: {
            // Letters belong to the number until its first inner dot: "3rd"
            // and "640x480" stay whole, "1.x" is a number, a dot and a word.
            bool dotted = false;
            while (end < n) {
                u8 d = s[end];
                if (is_digit(d)) end += 1;
                else if (d == '.') {
                    dotted = true;
                    end += 1;
                } else if (!dotted && is_ascii_letter(d)) end += 1;
                else break;
            }
            // A final dot ends a sentence or marks a list item: give it back.
            if (s[end - 1] == '.' && end - i > 1) end -= 1;
            flags = TokenFlag_Number;
            break;
        }
        case Byte_Quote: {
            u32 quote_flag = c == '"' ? TokenFlag_DoubleQuoted : TokenFlag_SingleQuoted;
            u32 path_state = 0;
            bool has_space = false;
            bool url = false;
            u32 window = 0;   // the last four bytes, for "www." and "http"
            u64 j = i + 1;
            bool closed = false;
            for (; j < n; j += 1) {
                u8 d = s[j];
                if (d == c) {
                    closed = true;
                    break;
                }
                if (d == '\n' || d == '\r' || d == '`') break;   // a string never runs across a line end
                window = (window << 8) | d;
                if (window == 0x7777772Eu || window == 0x68747470u) url = true;
                if (d == ' ') has_space = true;
                if (path_state != 3) {
                    if (d == '/') path_state = 1;
                    else if (path_state == 1 && d == '.') path_state = 2;
                    else if (path_state == 2 && is_ascii_letter(d)) path_state = 3;
                }
            }
            flags = quote_flag;
            if (has_space) flags |= TokenFlag_HasSpace;
            if (path_state == 3) flags |= TokenFlag_PathLike;
            if (url) flags |= TokenFlag_UrlLike;
            if (closed) {
                end = j + 1;
                flags |= TokenFlag_StringClosed;
            } else {
                // The lone quote alone; what followed it is tokenized anew.
                flags |= TokenFlag_Symbol;
            }
            break;
        }
        case Byte_Punctuation:
        case Byte_Control:
            flags = TokenFlag_Symbol;
            break;
        }

        if ((previous & TokenFlag_Escape) && (flags & escapable_flags)) flags |= TokenFlag_Escaped;
        previous = flags;
        push(i, end, flags);
        i = end;
    }

    // The array is the arena's last push: its tail goes back.
    arena_pop_to(arena, arena_pos(arena) - (text.size - total) * sizeof(MarkupToken));
    result.tokens = tokens;
    result.count = total;
    return result;
}
