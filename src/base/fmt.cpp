// base/fmt.cpp: wyn's printf.
//
// The grammar is C's, plus %S for a Str, binary conversions, digit grouping
// and metric suffixes. Floating-point output is exact: the value's decimal
// expansion is computed without rounding error and rounded once, to nearest
// with ties to even, so every conversion prints what the C library prints.
// Nothing here allocates; the formatter is reentrant and thread-safe.
#include "base/str.h"

#include <cmath>
#include <cstring>

namespace {

//- output

struct Out {
    char *buffer;
    u64 capacity;   // bytes that may be written, excluding the NUL's place
    u64 count;      // bytes the whole text needs so far
};

inline void out_bytes(Out *out, const char *bytes, u64 n)
{
    if (out->count < out->capacity) {
        u64 room = out->capacity - out->count;
        memcpy(out->buffer + out->count, bytes, n < room ? n : room);
    }
    out->count += n;
}

inline void out_byte(Out *out, char c)
{
    if (out->count < out->capacity) out->buffer[out->count] = c;
    out->count += 1;
}

inline void out_fill(Out *out, char c, u64 n)
{
    if (out->count < out->capacity) {
        u64 room = out->capacity - out->count;
        memset(out->buffer + out->count, c, n < room ? n : room);
    }
    out->count += n;
}

//- one conversion: flags, width, precision, letter

enum : u32 {
    Flag_Left = 1 << 0,
    Flag_Plus = 1 << 1,
    Flag_Space = 1 << 2,
    Flag_Alt = 1 << 3,
    Flag_Zero = 1 << 4,
    Flag_Group = 1 << 5,
    Flag_NoSuffixSpace = 1 << 6,
};

struct Spec {
    u32 flags;
    u32 metric;      // number of '$': 0 none, 1 base 1000, 2 base 1024 "Ki", 3 base 1024 JEDEC
    s64 width;
    s64 precision;   // -1 when not given
    char conversion;
};

// The text between the sign and the padding decides where zeros go, so
// every numeric conversion hands its parts to one routine.
struct Parts {
    const char *sign;   // "", "-", "+" or " "
    const char *prefix; // "", "0x", "0b" ...
    u64 zeros;          // zeros between prefix and body (precision)
    const char *body;
    u64 body_size;
    const char *suffix;
    u64 suffix_size;
};

void emit_parts(Out *out, const Spec *spec, const Parts *p, bool zero_pad_allowed)
{
    u64 sign_size = strlen(p->sign);
    u64 prefix_size = strlen(p->prefix);
    u64 size = sign_size + prefix_size + p->zeros + p->body_size + p->suffix_size;
    u64 width = spec->width > 0 ? (u64)spec->width : 0;
    u64 pad = width > size ? width - size : 0;
    if (spec->flags & Flag_Left) {
        out_bytes(out, p->sign, sign_size);
        out_bytes(out, p->prefix, prefix_size);
        out_fill(out, '0', p->zeros);
        out_bytes(out, p->body, p->body_size);
        out_bytes(out, p->suffix, p->suffix_size);
        out_fill(out, ' ', pad);
        return;
    }
    if ((spec->flags & Flag_Zero) && zero_pad_allowed) {
        out_bytes(out, p->sign, sign_size);
        out_bytes(out, p->prefix, prefix_size);
        out_fill(out, '0', pad + p->zeros);
    } else {
        out_fill(out, ' ', pad);
        out_bytes(out, p->sign, sign_size);
        out_bytes(out, p->prefix, prefix_size);
        out_fill(out, '0', p->zeros);
    }
    out_bytes(out, p->body, p->body_size);
    out_bytes(out, p->suffix, p->suffix_size);
}

//- integers

const char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

} // namespace

char *u64_to_decimal(char *end, u64 value)
{
    char *p = end;
    while (value >= 100) {
        u64 pair = (value % 100) * 2;
        value /= 100;
        p -= 2;
        p[0] = digit_pairs[pair];
        p[1] = digit_pairs[pair + 1];
    }
    if (value >= 10) {
        p -= 2;
        p[0] = digit_pairs[value * 2];
        p[1] = digit_pairs[value * 2 + 1];
    } else {
        *--p = (char)('0' + value);
    }
    return p;
}

namespace {

char *u64_to_radix(char *end, u64 value, u32 shift, bool upper)
{
    const char *digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    u64 mask = ((u64)1 << shift) - 1;
    char *p = end;
    do {
        *--p = digits[value & mask];
        value >>= shift;
    } while (value);
    return p;
}

// Inserts a comma every three digits, counted from the right.
u64 group_digits(char *out, const char *digits, u64 n)
{
    u64 w = 0;
    for (u64 i = 0; i < n; i += 1) {
        if (i > 0 && (n - i) % 3 == 0) out[w++] = ',';
        out[w++] = digits[i];
    }
    return w;
}

struct MetricScale {
    f64 value;
    char suffix[4];
    u32 suffix_size;
};

MetricScale metric_scale(f64 value, const Spec *spec)
{
    MetricScale result = {value, {0}, 0};
    f64 base = spec->metric == 1 ? 1000.0 : 1024.0;
    static const char letters[] = "KMGT";
    u32 index = 0;
    while (index < 4 && (result.value >= base || result.value <= -base)) {
        result.value /= base;
        index += 1;
    }
    if (index == 0) return result;
    u32 n = 0;
    if (!(spec->flags & Flag_NoSuffixSpace)) result.suffix[n++] = ' ';
    result.suffix[n++] = letters[index - 1];
    if (spec->metric == 2) result.suffix[n++] = 'i';
    result.suffix_size = n;
    return result;
}

void emit_float(Out *out, const Spec *spec, f64 value, const char *suffix, u64 suffix_size);

void emit_integer(Out *out, const Spec *spec, u64 magnitude, bool negative, bool is_signed)
{
    char conv = spec->conversion;
    if (spec->metric) {
        f64 v = negative ? -(f64)magnitude : (f64)magnitude;
        MetricScale scaled = metric_scale(v, spec);
        if (scaled.suffix_size) {
            Spec f = *spec;
            f.conversion = 'f';
            if (f.precision < 0) f.precision = 1;
            emit_float(out, &f, scaled.value, scaled.suffix, scaled.suffix_size);
            return;
        }
    }
    char buffer[96];
    char *end = buffer + 64;
    char *start = end;
    const char *prefix = "";
    switch (conv) {
    case 'x': start = u64_to_radix(end, magnitude, 4, false); if ((spec->flags & Flag_Alt) && magnitude) prefix = "0x"; break;
    case 'X': start = u64_to_radix(end, magnitude, 4, true); if ((spec->flags & Flag_Alt) && magnitude) prefix = "0X"; break;
    case 'b': start = u64_to_radix(end, magnitude, 1, false); if ((spec->flags & Flag_Alt) && magnitude) prefix = "0b"; break;
    case 'B': start = u64_to_radix(end, magnitude, 1, false); if ((spec->flags & Flag_Alt) && magnitude) prefix = "0B"; break;
    case 'o': start = u64_to_radix(end, magnitude, 3, false); break;
    default: start = u64_to_decimal(end, magnitude); break;
    }
    u64 n = (u64)(end - start);
    // A precision of zero prints no digits for the value zero.
    if (spec->precision == 0 && magnitude == 0) n = 0;
    char grouped[96];
    const char *body = start;
    if ((spec->flags & Flag_Group) && (conv == 'd' || conv == 'i' || conv == 'u') && n > 3) {
        n = group_digits(grouped, start, n);
        body = grouped;
    }
    u64 zeros = 0;
    if (spec->precision > 0 && (u64)spec->precision > n) zeros = (u64)spec->precision - n;
    if (conv == 'o' && (spec->flags & Flag_Alt) && zeros == 0 && (n == 0 || body[0] != '0')) zeros = 1;
    Parts parts = {"", prefix, zeros, body, n, "", 0};
    if (is_signed) parts.sign = negative ? "-" : (spec->flags & Flag_Plus) ? "+" : (spec->flags & Flag_Space) ? " " : "";
    emit_parts(out, spec, &parts, spec->precision < 0);
}

//- exact decimal expansion of a double

struct BigNum {
    u32 limb[96];   // little-endian base 2^32; 5^1074 * 2^53 needs 80 limbs
    u32 count;
};

void big_mul_small(BigNum *b, u32 factor)
{
    u64 carry = 0;
    for (u32 i = 0; i < b->count; i += 1) {
        u64 x = (u64)b->limb[i] * factor + carry;
        b->limb[i] = (u32)x;
        carry = x >> 32;
    }
    if (carry) b->limb[b->count++] = (u32)carry;
}

void big_shift_left(BigNum *b, u32 bits)
{
    u32 words = bits / 32;
    u32 rest = bits % 32;
    if (words) {
        for (u32 i = b->count; i > 0; i -= 1) b->limb[i - 1 + words] = b->limb[i - 1];
        for (u32 i = 0; i < words; i += 1) b->limb[i] = 0;
        b->count += words;
    }
    if (rest) {
        u32 carry = 0;
        for (u32 i = words; i < b->count; i += 1) {
            u32 x = b->limb[i];
            b->limb[i] = (x << rest) | carry;
            carry = x >> (32 - rest);
        }
        if (carry) b->limb[b->count++] = carry;
    }
}

u32 big_div_small(BigNum *b, u32 divisor)
{
    u64 rem = 0;
    for (u32 i = b->count; i > 0; i -= 1) {
        u64 x = (rem << 32) | b->limb[i - 1];
        b->limb[i - 1] = (u32)(x / divisor);
        rem = x % divisor;
    }
    while (b->count && b->limb[b->count - 1] == 0) b->count -= 1;
    return (u32)rem;
}

// value = mantissa × 2^exponent, exactly, for a finite non-negative double.
void f64_split(f64 value, u64 *mantissa, s32 *exponent)
{
    u64 bits;
    memcpy(&bits, &value, 8);
    u64 m = bits & ((1ull << 52) - 1);
    s32 e = (s32)((bits >> 52) & 0x7FF);
    if (e == 0) e = 1;
    else m |= 1ull << 52;
    *mantissa = m;
    *exponent = e - 1075;
}

// The decimal digits of a finite non-negative double: value = 0.D × 10^point,
// D without leading zeros (empty for zero).
struct Decimal {
    char digits[800];
    s64 size;
    s64 point;
};

void decimal_from_f64(Decimal *d, f64 value)
{
    u64 mantissa;
    s32 exponent;
    f64_split(value, &mantissa, &exponent);
    d->size = 0;
    d->point = 0;
    if (mantissa == 0) return;
    BigNum b = {};
    b.limb[0] = (u32)mantissa;
    b.limb[1] = (u32)(mantissa >> 32);
    b.count = b.limb[1] ? 2 : 1;
    s64 shift10 = 0;
    if (exponent >= 0) {
        big_shift_left(&b, (u32)exponent);
    } else {
        // m × 2^-s = m × 5^s / 10^s
        u32 s = (u32)-exponent;
        for (; s >= 13; s -= 13) big_mul_small(&b, 1220703125u);
        u32 tail = 1;
        for (; s > 0; s -= 1) tail *= 5;
        big_mul_small(&b, tail);
        shift10 = exponent;
    }
    char reversed[800];
    s64 n = 0;
    while (b.count) {
        u32 chunk = big_div_small(&b, 1000000000u);
        for (u32 k = 0; k < 9; k += 1) {
            reversed[n++] = (char)('0' + chunk % 10);
            chunk /= 10;
        }
    }
    while (n > 0 && reversed[n - 1] == '0') n -= 1;
    for (s64 i = 0; i < n; i += 1) d->digits[i] = reversed[n - 1 - i];
    d->size = n;
    d->point = n + shift10;
}

// Keeps the first `keep` digits of d, rounded to nearest with ties to even.
// The kept digits land in out (a carry may add a leading '1'); returns their
// count and adds to *point_shift 1 when a carry added a digit.
s64 decimal_round(const Decimal *d, s64 keep, char *out, s64 *carry_digit)
{
    *carry_digit = 0;
    if (keep < 0) return 0;
    s64 n = keep < d->size ? keep : d->size;
    memcpy(out, d->digits, (u64)n);
    if (keep >= d->size) return n;
    bool up;
    char next = d->digits[keep];
    if (next > '5') up = true;
    else if (next < '5') up = false;
    else {
        bool rest_nonzero = false;
        for (s64 i = keep + 1; i < d->size; i += 1)
            if (d->digits[i] != '0') {
                rest_nonzero = true;
                break;
            }
        bool odd = keep > 0 && ((d->digits[keep - 1] - '0') & 1);
        up = rest_nonzero || odd;
    }
    if (!up) return n;
    s64 i = n;
    while (i > 0) {
        if (out[i - 1] != '9') {
            out[i - 1] += 1;
            return n;
        }
        out[i - 1] = '0';
        i -= 1;
    }
    memmove(out + 1, out, (u64)n);
    out[0] = '1';
    *carry_digit = 1;
    return n + 1;
}

//- floating point

// Digits of a rounded value: the first `size` come from `digits`, then
// `zeros` more zeros; the decimal point stands after `point` of them.
struct Rounded {
    char digits[820];
    s64 size;
    s64 zeros;
    s64 point;
};

inline char rounded_digit(const Rounded *r, s64 i)
{
    if (i < 0) return '0';
    return i < r->size ? r->digits[i] : '0';
}

void round_fixed(Rounded *r, f64 value, s64 precision)
{
    u64 mantissa;
    s32 exponent;
    f64_split(value, &mantissa, &exponent);
    // Fast path: round(value × 10^p) fits in 128 bits and is computed
    // exactly with integer arithmetic.
    // Bounds: m < 2^53, so m << 10 times 10^19, or m times 10^22, stays
    // below 2^127.
    if (exponent <= 10 && precision <= (exponent >= 0 ? 19 : 22)) {
        unsigned __int128 pow10 = 1;
        for (s64 i = 0; i < precision; i += 1) pow10 *= 10;
        unsigned __int128 q;
        if (exponent >= 0) {
            q = (unsigned __int128)(mantissa << exponent) * pow10;
        } else {
            u32 s = (u32)-exponent;
            unsigned __int128 x = (unsigned __int128)mantissa * pow10;
            if (s >= 128) {
                q = 0;
            } else {
                q = x >> s;
                unsigned __int128 rem = x & ((((unsigned __int128)1) << s) - 1);
                unsigned __int128 half = ((unsigned __int128)1) << (s - 1);
                if (rem > half || (rem == half && (q & 1))) q += 1;
            }
        }
        char tmp[48];
        char *end = tmp + sizeof(tmp);
        char *p = end;
        if (q >> 64) {
            const u64 ten19 = 10000000000000000000ull;
            u64 low = (u64)(q % ten19);
            u64 high = (u64)(q / ten19);
            char *mid = u64_to_decimal(end, low);
            while (mid > end - 19) *--mid = '0';
            p = u64_to_decimal(mid, high);
        } else {
            p = u64_to_decimal(end, (u64)q);
        }
        r->size = end - p;
        memcpy(r->digits, p, (u64)r->size);
        r->zeros = 0;
        r->point = r->size - precision;
        return;
    }
    Decimal d;
    decimal_from_f64(&d, value);
    s64 keep = d.point + precision;
    s64 carry = 0;
    r->size = decimal_round(&d, keep, r->digits, &carry);
    r->zeros = keep + carry > r->size ? keep + carry - r->size : 0;
    if (keep < 0) r->zeros = 0;
    r->point = r->size + r->zeros - precision;
}

// Rounds to `significant` digits; returns the decimal exponent of the first.
s64 round_scientific(Rounded *r, f64 value, s64 significant)
{
    Decimal d;
    decimal_from_f64(&d, value);
    if (d.size == 0) {
        r->size = 0;
        r->zeros = significant;
        r->point = 1;
        return 0;
    }
    s64 carry = 0;
    r->size = decimal_round(&d, significant, r->digits, &carry);
    s64 exponent = d.point - 1 + carry;
    if (carry) r->size -= 1;   // "999" rounded to "1000": keep the first digits
    r->zeros = significant > r->size ? significant - r->size : 0;
    r->point = 1;
    return exponent;
}

void emit_nonfinite(Out *out, const Spec *spec, f64 value)
{
    Spec s = *spec;
    s.flags &= ~(u32)Flag_Zero;
    const char *body = std::isnan(value) ? "NaN" : "Inf";
    Parts parts = {std::signbit(value) ? "-" : (s.flags & Flag_Plus) ? "+" : (s.flags & Flag_Space) ? " " : "", "", 0, body, 3, "", 0};
    emit_parts(out, &s, &parts, false);
}

const char *float_sign(const Spec *spec, bool negative)
{
    return negative ? "-" : (spec->flags & Flag_Plus) ? "+" : (spec->flags & Flag_Space) ? " " : "";
}

// Writes a fixed-notation body (digits, grouping, point, fraction) into a
// caller buffer when it fits, else streams it; returns the body's length.
struct FixedBody {
    const Rounded *r;
    s64 precision;
    bool point;
    bool group;
};

u64 fixed_body_size(const FixedBody *b)
{
    s64 int_digits = b->r->point > 0 ? b->r->point : 1;
    u64 size = (u64)int_digits + (b->point ? 1 : 0) + (u64)b->precision;
    if (b->group && int_digits > 3) size += (u64)(int_digits - 1) / 3;
    return size;
}

void fixed_body_write(Out *out, const FixedBody *b)
{
    const Rounded *r = b->r;
    s64 int_digits = r->point > 0 ? r->point : 1;
    // Integer digits: indices [point - int_digits, point).
    s64 first = r->point - int_digits;
    for (s64 i = 0; i < int_digits; i += 1) {
        if (b->group && i > 0 && (int_digits - i) % 3 == 0) out_byte(out, ',');
        out_byte(out, rounded_digit(r, first + i));
    }
    if (b->point) out_byte(out, '.');
    s64 i = r->point;
    s64 end = r->point + b->precision;
    // Stream the fraction: leading zeros (negative indices), digits, zeros.
    while (i < end && i < 0) {
        out_byte(out, '0');
        i += 1;
    }
    if (i < end && i < r->size) {
        s64 n = min_of(end, r->size) - i;
        out_bytes(out, r->digits + i, (u64)n);
        i += n;
    }
    if (i < end) out_fill(out, '0', (u64)(end - i));
}

void emit_fixed(Out *out, const Spec *spec, const Rounded *r, s64 precision, bool negative, const char *suffix, u64 suffix_size)
{
    FixedBody body = {r, precision, precision > 0 || (spec->flags & Flag_Alt), (spec->flags & Flag_Group) != 0};
    const char *sign = float_sign(spec, negative);
    u64 size = strlen(sign) + fixed_body_size(&body) + suffix_size;
    u64 width = spec->width > 0 ? (u64)spec->width : 0;
    u64 pad = width > size ? width - size : 0;
    if (!(spec->flags & Flag_Left) && !(spec->flags & Flag_Zero)) out_fill(out, ' ', pad);
    out_bytes(out, sign, strlen(sign));
    if (!(spec->flags & Flag_Left) && (spec->flags & Flag_Zero)) out_fill(out, '0', pad);
    fixed_body_write(out, &body);
    out_bytes(out, suffix, suffix_size);
    if (spec->flags & Flag_Left) out_fill(out, ' ', pad);
}

void emit_exponent_form(Out *out, const Spec *spec, const Rounded *r, s64 precision, s64 exponent, bool negative,
                        bool upper, const char *suffix, u64 suffix_size)
{
    char exp_text[16];
    u32 e = 0;
    exp_text[e++] = upper ? 'E' : 'e';
    exp_text[e++] = exponent < 0 ? '-' : '+';
    u64 mag = (u64)(exponent < 0 ? -exponent : exponent);
    char digits[8];
    char *end = digits + sizeof(digits);
    char *start = u64_to_decimal(end, mag);
    if (end - start < 2) exp_text[e++] = '0';
    while (start < end) exp_text[e++] = *start++;
    bool point = precision > 0 || (spec->flags & Flag_Alt);
    const char *sign = float_sign(spec, negative);
    u64 size = strlen(sign) + 1 + (point ? 1 : 0) + (u64)precision + e + suffix_size;
    u64 width = spec->width > 0 ? (u64)spec->width : 0;
    u64 pad = width > size ? width - size : 0;
    if (!(spec->flags & Flag_Left) && !(spec->flags & Flag_Zero)) out_fill(out, ' ', pad);
    out_bytes(out, sign, strlen(sign));
    if (!(spec->flags & Flag_Left) && (spec->flags & Flag_Zero)) out_fill(out, '0', pad);
    out_byte(out, rounded_digit(r, 0));
    if (point) out_byte(out, '.');
    for (s64 i = 1; i <= precision; i += 1) out_byte(out, rounded_digit(r, i));
    out_bytes(out, exp_text, e);
    out_bytes(out, suffix, suffix_size);
    if (spec->flags & Flag_Left) out_fill(out, ' ', pad);
}

void emit_hex_float(Out *out, const Spec *spec, f64 value, bool negative)
{
    bool upper = spec->conversion == 'A';
    const char *digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    u64 bits;
    memcpy(&bits, &value, 8);
    u64 fraction = bits & ((1ull << 52) - 1);
    s32 biased = (s32)((bits >> 52) & 0x7FF);
    u64 lead = biased ? 1 : 0;
    s32 exponent = biased ? biased - 1023 : (fraction ? -1022 : 0);
    s64 precision = spec->precision;
    if (precision >= 0 && precision < 13) {
        u32 drop = (u32)(13 - precision) * 4;
        u64 full = (lead << 52) | fraction;
        u64 kept = full >> drop;
        u64 rest = full & ((1ull << drop) - 1);
        u64 half = 1ull << (drop - 1);
        if (rest > half || (rest == half && (kept & 1))) kept += 1;
        u64 fraction_bits = (u64)precision * 4;
        lead = kept >> fraction_bits;
        fraction = (kept & ((1ull << fraction_bits) - 1)) << drop;
    }
    char frac_text[16];
    s64 frac_size = 13;
    for (s64 i = 0; i < 13; i += 1) frac_text[i] = digits[(fraction >> (48 - 4 * i)) & 0xF];
    if (precision < 0) {
        while (frac_size > 0 && frac_text[frac_size - 1] == '0') frac_size -= 1;
        precision = frac_size;
    }
    char body[64];
    u32 n = 0;
    body[n++] = digits[lead & 0xF];
    if (precision > 0 || (spec->flags & Flag_Alt)) body[n++] = '.';
    s64 shown = min_of<s64>(precision, 13);
    for (s64 i = 0; i < shown; i += 1) body[n++] = frac_text[i];
    char tail[24];
    u32 t = 0;
    tail[t++] = upper ? 'P' : 'p';
    tail[t++] = exponent < 0 ? '-' : '+';
    char exp_digits[8];
    char *end = exp_digits + sizeof(exp_digits);
    char *start = u64_to_decimal(end, (u64)(exponent < 0 ? -exponent : exponent));
    while (start < end) tail[t++] = *start++;
    u64 extra_zeros = precision > 13 ? (u64)(precision - 13) : 0;
    // Zeros past the 13th hex digit go after the body, so build it whole.
    char whole[96];
    u32 w = 0;
    memcpy(whole, body, n);
    w = n;
    Parts parts = {float_sign(spec, negative), upper ? "0X" : "0x", 0, whole, w, tail, t};
    if (extra_zeros) {
        // Rare: stream instead of building a long buffer.
        u64 size = strlen(parts.sign) + 2 + w + extra_zeros + t;
        u64 width = spec->width > 0 ? (u64)spec->width : 0;
        u64 pad = width > size ? width - size : 0;
        if (!(spec->flags & Flag_Left) && !(spec->flags & Flag_Zero)) out_fill(out, ' ', pad);
        out_bytes(out, parts.sign, strlen(parts.sign));
        out_bytes(out, parts.prefix, 2);
        if (!(spec->flags & Flag_Left) && (spec->flags & Flag_Zero)) out_fill(out, '0', pad);
        out_bytes(out, whole, w);
        out_fill(out, '0', extra_zeros);
        out_bytes(out, tail, t);
        if (spec->flags & Flag_Left) out_fill(out, ' ', pad);
        return;
    }
    emit_parts(out, spec, &parts, true);
}

void emit_float(Out *out, const Spec *spec, f64 value, const char *suffix, u64 suffix_size)
{
    if (!std::isfinite(value)) {
        emit_nonfinite(out, spec, value);
        return;
    }
    if (spec->metric && suffix_size == 0) {
        MetricScale scaled = metric_scale(value, spec);
        if (scaled.suffix_size) {
            emit_float(out, spec, scaled.value, scaled.suffix, scaled.suffix_size);
            return;
        }
    }
    bool negative = std::signbit(value);
    f64 magnitude = negative ? -value : value;
    char conv = spec->conversion;
    s64 precision = spec->precision < 0 ? 6 : spec->precision;
    static thread_local Rounded r;   // large; keep it off small thread stacks
    switch (conv) {
    case 'f':
    case 'F':
        round_fixed(&r, magnitude, precision);
        emit_fixed(out, spec, &r, precision, negative, suffix, suffix_size);
        return;
    case 'e':
    case 'E': {
        s64 exponent = round_scientific(&r, magnitude, precision + 1);
        emit_exponent_form(out, spec, &r, precision, exponent, negative, conv == 'E', suffix, suffix_size);
        return;
    }
    case 'g':
    case 'G': {
        s64 p = precision == 0 ? 1 : precision;
        s64 exponent = round_scientific(&r, magnitude, p);
        bool alt = (spec->flags & Flag_Alt) != 0;
        if (p > exponent && exponent >= -4) {
            s64 fixed_precision = p - 1 - exponent;
            round_fixed(&r, magnitude, fixed_precision);
            if (!alt) {
                // Drop trailing zeros of the fraction.
                while (fixed_precision > 0) {
                    s64 last = r.point + fixed_precision - 1;
                    if (rounded_digit(&r, last) != '0') break;
                    fixed_precision -= 1;
                }
            }
            emit_fixed(out, spec, &r, fixed_precision, negative, suffix, suffix_size);
        } else {
            s64 e_precision = p - 1;
            if (!alt)
                while (e_precision > 0 && rounded_digit(&r, e_precision) == '0') e_precision -= 1;
            emit_exponent_form(out, spec, &r, e_precision, exponent, negative, conv == 'G', suffix, suffix_size);
        }
        return;
    }
    case 'a':
    case 'A':
        emit_hex_float(out, spec, magnitude, negative);
        return;
    }
}

//- strings

void emit_text(Out *out, const Spec *spec, const char *text, u64 size)
{
    if (spec->precision >= 0 && (u64)spec->precision < size) size = (u64)spec->precision;
    u64 width = spec->width > 0 ? (u64)spec->width : 0;
    u64 pad = width > size ? width - size : 0;
    if (!(spec->flags & Flag_Left)) out_fill(out, ' ', pad);
    out_bytes(out, text, size);
    if (spec->flags & Flag_Left) out_fill(out, ' ', pad);
}

enum Length : u32 { Len_None, Len_hh, Len_h, Len_l, Len_ll, Len_j, Len_z, Len_t, Len_32, Len_64 };

} // namespace

u64 fmt_vsnprintf(char *buffer, u64 capacity, const char *format, va_list args)
{
    Out out = {buffer, buffer && capacity ? capacity - 1 : 0, 0};
    const char *f = format;
    for (;;) {
        const char *run = f;
        while (*f && *f != '%') f += 1;
        if (f > run) out_bytes(&out, run, (u64)(f - run));
        if (!*f) break;
        const char *spec_start = f;
        f += 1;
        Spec spec = {0, 0, 0, -1, 0};
        for (bool more = true; more;) {
            switch (*f) {
            case '-': spec.flags |= Flag_Left; f += 1; break;
            case '+': spec.flags |= Flag_Plus; f += 1; break;
            case ' ': spec.flags |= Flag_Space; f += 1; break;
            case '#': spec.flags |= Flag_Alt; f += 1; break;
            case '\'': spec.flags |= Flag_Group; f += 1; break;
            case '_': spec.flags |= Flag_NoSuffixSpace; f += 1; break;
            case '$': if (spec.metric < 3) spec.metric += 1; f += 1; break;
            case '0': spec.flags |= Flag_Zero; f += 1; more = false; break;   // ends the flags
            default: more = false; break;
            }
        }
        if (*f == '*') {
            int w = va_arg(args, int);
            if (w < 0) {
                spec.flags |= Flag_Left;
                spec.width = -(s64)w;
            } else {
                spec.width = w;
            }
            f += 1;
        } else {
            while (char_is_digit((u8)*f)) spec.width = spec.width * 10 + (*f++ - '0');
        }
        if (*f == '.') {
            f += 1;
            if (*f == '*') {
                int p = va_arg(args, int);
                spec.precision = p < 0 ? -1 : p;
                f += 1;
            } else {
                spec.precision = 0;
                while (char_is_digit((u8)*f)) spec.precision = spec.precision * 10 + (*f++ - '0');
            }
        }
        Length length = Len_None;
        switch (*f) {
        case 'h': f += 1; length = Len_h; if (*f == 'h') { f += 1; length = Len_hh; } break;
        case 'l': f += 1; length = Len_l; if (*f == 'l') { f += 1; length = Len_ll; } break;
        case 'j': f += 1; length = Len_j; break;
        case 'z': f += 1; length = Len_z; break;
        case 't': f += 1; length = Len_t; break;
        case 'L': f += 1; break;
        case 'I':
            if (f[1] == '6' && f[2] == '4') { f += 3; length = Len_64; }
            else if (f[1] == '3' && f[2] == '2') { f += 3; length = Len_32; }
            else { f += 1; length = Len_64; }
            break;
        default: break;
        }
        spec.conversion = *f;
        if (*f) f += 1;
        switch (spec.conversion) {
        case 'd':
        case 'i': {
            s64 v;
            switch (length) {
            case Len_hh: v = (signed char)va_arg(args, int); break;
            case Len_h: v = (short)va_arg(args, int); break;
            case Len_l: v = va_arg(args, long); break;
            case Len_ll: v = va_arg(args, long long); break;
            case Len_j: v = va_arg(args, intmax_t); break;
            case Len_z: v = va_arg(args, ptrdiff_t); break;
            case Len_t: v = va_arg(args, ptrdiff_t); break;
            case Len_32: v = va_arg(args, s32); break;
            case Len_64: v = va_arg(args, s64); break;
            default: v = va_arg(args, int); break;
            }
            u64 magnitude = v < 0 ? (u64)0 - (u64)v : (u64)v;
            emit_integer(&out, &spec, magnitude, v < 0, true);
            break;
        }
        case 'u': case 'x': case 'X': case 'o': case 'b': case 'B': {
            u64 v;
            switch (length) {
            case Len_hh: v = (unsigned char)va_arg(args, unsigned); break;
            case Len_h: v = (unsigned short)va_arg(args, unsigned); break;
            case Len_l: v = va_arg(args, unsigned long); break;
            case Len_ll: v = va_arg(args, unsigned long long); break;
            case Len_j: v = va_arg(args, uintmax_t); break;
            case Len_z: v = va_arg(args, size_t); break;
            case Len_t: v = (u64)va_arg(args, ptrdiff_t); break;
            case Len_32: v = va_arg(args, u32); break;
            case Len_64: v = va_arg(args, u64); break;
            default: v = va_arg(args, unsigned); break;
            }
            emit_integer(&out, &spec, v, false, false);
            break;
        }
        case 'c': {
            char c = (char)va_arg(args, int);
            Spec s = spec;
            s.precision = -1;
            emit_text(&out, &s, &c, 1);
            break;
        }
        case 's': {
            const char *text = va_arg(args, const char *);
            if (!text) text = "null";
            u64 size = spec.precision >= 0 ? strnlen(text, (u64)spec.precision) : strlen(text);
            emit_text(&out, &spec, text, size);
            break;
        }
        case 'S': {
            Str s = va_arg(args, Str);
            emit_text(&out, &spec, s.size ? s.str : "", s.size);
            break;
        }
        case 'p': {
            u64 v = (u64)(uintptr_t)va_arg(args, void *);
            char digits[16];
            for (int i = 15; i >= 0; i -= 1) {
                digits[i] = "0123456789abcdef"[v & 0xF];
                v >>= 4;
            }
            Spec s = spec;
            s.precision = -1;
            emit_text(&out, &s, digits, 16);
            break;
        }
        case 'n': {
            u64 written = out.count;
            switch (length) {
            case Len_hh: *va_arg(args, signed char *) = (signed char)written; break;
            case Len_h: *va_arg(args, short *) = (short)written; break;
            case Len_l: *va_arg(args, long *) = (long)written; break;
            case Len_ll: *va_arg(args, long long *) = (long long)written; break;
            case Len_j: *va_arg(args, intmax_t *) = (intmax_t)written; break;
            case Len_z: *va_arg(args, size_t *) = (size_t)written; break;
            case Len_t: *va_arg(args, ptrdiff_t *) = (ptrdiff_t)written; break;
            case Len_32: *va_arg(args, s32 *) = (s32)written; break;
            case Len_64: *va_arg(args, s64 *) = (s64)written; break;
            default: *va_arg(args, int *) = (int)written; break;
            }
            break;
        }
        case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A': {
            f64 v = va_arg(args, f64);
            emit_float(&out, &spec, v, "", 0);
            break;
        }
        case '%':
            out_byte(&out, '%');
            break;
        case 0:
            // A lone '%' at the end prints as written.
            out_bytes(&out, spec_start, (u64)(f - spec_start));
            break;
        default:
            out_bytes(&out, spec_start, (u64)(f - spec_start));
            break;
        }
    }
    if (buffer && capacity) buffer[out.count < out.capacity ? out.count : out.capacity] = 0;
    return out.count;
}

u64 fmt_snprintf(char *buffer, u64 capacity, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    u64 n = fmt_vsnprintf(buffer, capacity, format, args);
    va_end(args);
    return n;
}
