// The formatter against the C library: every conversion the C library
// shares with wyn must print the same bytes.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "base/str.h"

template <typename... Args>
static std::string ours(const char *format, Args... args)
{
    char buffer[4096];
    u64 n = fmt_snprintf(buffer, sizeof(buffer), format, args...);
    EXPECT_LT(n, sizeof(buffer));
    return std::string(buffer, n);
}

template <typename... Args>
static std::string libc(const char *format, Args... args)
{
    char buffer[4096];
    int n = snprintf(buffer, sizeof(buffer), format, args...);
    return std::string(buffer, (size_t)n);
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
#pragma GCC diagnostic ignored "-Wformat"

TEST(Format, SystemFormatsLengthModifiersStarsStringsAndPointers)
{
    Str path = str_lit("/site/local/wyn_files/a.wyn");
    char expected[256];
    snprintf(expected, sizeof(expected), "%s:%lld:%lld", path.str, 12LL, 7LL);
    EXPECT_EQ(ours("%S:%I64d:%I64d", path, (s64)12, (s64)7), expected);
    EXPECT_EQ(ours("%S_%lu", str_lit("ua"), 7ul), "ua_7");
    EXPECT_EQ(ours("%I64u", (u64)18446744073709551615ull), "18446744073709551615");
    EXPECT_EQ(ours("%I64d", (s64)LLONG_MIN), libc("%lld", LLONG_MIN));
    EXPECT_EQ(ours("%.*s", 3, "abcdef"), "abc");
    EXPECT_EQ(ours("%02d:%02d:%02d", 1, 5, 9), "01:05:09");
    EXPECT_EQ(ours("%%"), "%");
    EXPECT_EQ(ours("margin-left:%.1frem;", 1.3 + 0.5), "margin-left:1.8rem;");

    EXPECT_EQ(ours("%hhd", 300), libc("%hhd", 300));
    EXPECT_EQ(ours("%hd", 70000), libc("%hd", 70000));
    EXPECT_EQ(ours("%hhu", 511), libc("%hhu", 511));
    EXPECT_EQ(ours("%ld", LONG_MIN), libc("%ld", LONG_MIN));
    EXPECT_EQ(ours("%llx", 0xdeadbeefcafeULL), libc("%llx", 0xdeadbeefcafeULL));
    EXPECT_EQ(ours("%zu", (size_t)123456789), "123456789");
    EXPECT_EQ(ours("%jd", (intmax_t)-5), "-5");
    EXPECT_EQ(ours("%td", (ptrdiff_t)-9), "-9");
    EXPECT_EQ(ours("%I32d", (s32)-3), "-3");
    EXPECT_EQ(ours("%I64x", (u64)0xABCDEF0123ull), "abcdef0123");

    EXPECT_EQ(ours("[%*d]", 6, 42), libc("[%*d]", 6, 42));
    EXPECT_EQ(ours("[%*d]", -6, 42), libc("[%*d]", -6, 42));
    EXPECT_EQ(ours("[%.*f]", 3, 3.14159), libc("[%.*f]", 3, 3.14159));
    EXPECT_EQ(ours("[%.*d]", -1, 0), libc("[%.*d]", -1, 0));
    EXPECT_EQ(ours("[%*.*s]", 8, 2, "hello"), libc("[%*.*s]", 8, 2, "hello"));

    EXPECT_EQ(ours("[%5s|%-5s|%.2s]", "ab", "ab", "abc"), libc("[%5s|%-5s|%.2s]", "ab", "ab", "abc"));
    EXPECT_EQ(ours("[%c%3c%-3c]", 'a', 'b', 'c'), libc("[%c%3c%-3c]", 'a', 'b', 'c'));
    EXPECT_EQ(ours("%s", (const char *)nullptr), "null");
    EXPECT_EQ(ours("%p", (void *)0x1234), "0000000000001234");
    // An empty Str prints nothing; a width pads it.
    EXPECT_EQ(ours("[%S]", str_empty()), "[]");
    EXPECT_EQ(ours("[%5S]", str_empty()), "[     ]");
    EXPECT_EQ(ours("[%-4S|%.2S]", str_lit("ab"), str_lit("abcdef")), "[ab  |ab]");
    // A Str is bounded by its size, not by a NUL.
    Str slice = str_prefix(str_lit("abcdef"), 3);
    EXPECT_EQ(ours("%S", slice), "abc");
}

TEST(Format, IntegerFlagsWidthsAndPrecisions)
{
    const char *flag_sets[] = {"", "-", "+", " ", "#", "0", "-+", "+0", " 0", "#0", "-#", "-0"};
    const char *conversions[] = {"d", "i", "u", "x", "X", "o"};
    const long long values[] = {0, 1, -1, 7, 42, -42, 255, 4096, INT_MAX, INT_MIN, 1234567};
    const char *widths[] = {"", "1", "5", "12"};
    const char *precisions[] = {"", ".0", ".1", ".4", ".10"};
    for (const char *flags : flag_sets)
        for (const char *conv : conversions)
            for (const char *width : widths)
                for (const char *precision : precisions) {
                    std::string f = std::string("[%") + flags + width + precision + conv + "]";
                    for (long long v : values) {
                        if (conv[0] == 'd' || conv[0] == 'i')
                            EXPECT_EQ(ours(f.c_str(), (int)v), libc(f.c_str(), (int)v)) << f << " " << v;
                        else
                            EXPECT_EQ(ours(f.c_str(), (unsigned)v), libc(f.c_str(), (unsigned)v)) << f << " " << v;
                    }
                }
}

TEST(Format, FixedNotationAndHexFloatsMatchTheCLibrary)
{
    const double values[] = {0.0, -0.0, 0.5, 1.5, 2.5, -2.5, 0.125, 0.1, 0.2, 0.3, 1.0 / 3, 2.0 / 3, 0.05, 0.25, 0.35,
                             1.25, 92.0, 12345.65, -0.05, 0.95, 1e21,
                             9.995, 99.5, 999999.5, 1e-5, 1e-10, 123456789.987654321, 1e15, 1e17, 4.35,
                             5e-324, 2.2250738585072014e-308, 1e22, 1e23, 1.7976931348623157e308, 0.045, 1e-300};
    const char *formats[] = {"%f", "%.0f", "%.1f", "%.2f", "%.3f", "%.6f", "%.10f", "%.17f", "%.20f", "%.25f",
                             "%.40f", "%#.0f", "%+.2f", "% .3f", "%12.3f", "%-12.3f|", "%012.3f", "%+012.1f"};
    for (const char *f : formats)
        for (double v : values) EXPECT_EQ(ours(f, v), libc(f, v)) << f << " " << v;

    const double hex_values[] = {0.0, 1.0, -1.0, 0.5, 3.0, 0.1, 1.5, 255.75, 5e-324, 2.2250738585072014e-308,
                             1.7976931348623157e308, 1.0 / 3};
    const char *hex_formats[] = {"%a", "%A", "%.0a", "%.1a", "%.3a", "%.13a", "%.16a", "%#a", "%20a", "%-20a|", "%020a"};
    for (const char *f : hex_formats)
        for (double v : hex_values) EXPECT_EQ(ours(f, v), libc(f, v)) << f << " " << v;
}

TEST(Format, ScientificGeneralAndRandomDoublesMatchTheCLibrary)
{
    const double values[] = {0.0, -0.0, 1.0, 0.5, 9.5, 9.95, 99.95, 1e-4, 1e-5, 123456.0, 1234567.0, 0.0001234,
                             1e100, -1e-100, 5e-324, 1.7976931348623157e308, 1.0 / 3, 100.0, 999999.5, 0.00009995};
    const char *formats[] = {"%e", "%E", "%.0e", "%.1e", "%.3e", "%.17e", "%#.0e", "%12.2e", "%-14.4E|",
                             "%g", "%G", "%.0g", "%.1g", "%.3g", "%.10g", "%.17g", "%#g", "%#.3g", "%012g", "%+g"};
    for (const char *f : formats)
        for (double v : values) {
            // glibc drops the zeros that "#" must keep when %g's rounding
            // carries into a new exponent; wyn prints what C asks for.
            if (strcmp(f, "%#g") == 0 && v == 999999.5) {
                EXPECT_EQ(ours(f, v), "1.00000e+06");
                continue;
            }
            EXPECT_EQ(ours(f, v), libc(f, v)) << f << " " << v;
        }

    // Random doubles round like the C library.
    std::mt19937_64 rng(20261206);
    for (int i = 0; i < 20000; i += 1) {
        u64 bits = rng();
        double v;
        memcpy(&v, &bits, 8);
        if (!std::isfinite(v)) continue;
        ASSERT_EQ(ours("%.17g", v), libc("%.17g", v)) << bits;
        ASSERT_EQ(ours("%.5e", v), libc("%.5e", v)) << bits;
        ASSERT_EQ(ours("%a", v), libc("%a", v)) << bits;
        double small = std::ldexp((double)(bits >> 11), -(int)(bits % 80));
        ASSERT_EQ(ours("%.1f", small), libc("%.1f", small)) << bits;
        ASSERT_EQ(ours("%.3f", small), libc("%.3f", small)) << bits;
        ASSERT_EQ(ours("%f", v), libc("%f", v)) << bits;
    }
}

TEST(Format, WynOwnConversions)
{
    // Binary, digit groups and metric suffixes; exactly at the base a value
    // takes the next letter, one below it does not.
    struct Case {
        const char *format;
        int value;
        const char *want;
    } cases[] = {
        {"%b", 5, "101"}, {"%#b", 5, "0b101"}, {"%#B", 5, "0B101"}, {"%08b", 5, "00000101"},
        {"%'d", 1234567, "1,234,567"}, {"%'d", -1234, "-1,234"}, {"%'u", 999, "999"},
        {"%$d", 2536000, "2.5 M"}, {"%$.2d", 2536000, "2.54 M"}, {"%_$d", 2536000, "2.5M"}, {"%$$d", 2048, "2.0 Ki"},
        {"%$$$d", 2048, "2.0 K"}, {"%$d", 999, "999"}, {"%$d", 1000, "1.0 K"}, {"%$d", -1000, "-1.0 K"},
        {"%$$d", 1024, "1.0 Ki"}, {"%$$d", 1023, "1023"}, {"%$$$d", 1024, "1.0 K"}, {"%$d", 1000000, "1.0 M"},
        {"%$$.0d", 1048576, "1 Mi"},
    };
    for (const Case &c : cases) EXPECT_EQ(ours(c.format, c.value), c.want) << c.format << " " << c.value;
    // Infinity and not-a-number print in wyn's spelling.
    EXPECT_EQ(ours("%f", INFINITY), "Inf");
    EXPECT_EQ(ours("%.1f", -INFINITY), "-Inf");
    EXPECT_EQ(ours("%5f", NAN), "  NaN");
    EXPECT_EQ(ours("%'.2f", 1234567.891), "1,234,567.89");
    EXPECT_EQ(ours("%$.1f", 1500.0), "1.5 K");
    int written = -1;
    EXPECT_EQ(ours("abc%nde", &written), "abcde");
    EXPECT_EQ(written, 3);
    EXPECT_EQ(ours("%y|%"), "%y|%");

    // A truncated result still reports the full length.
    char buffer[8];
    memset(buffer, 'x', sizeof(buffer));
    u64 n = fmt_snprintf(buffer, 5, "%S-%d", str_lit("abcdef"), 12);
    EXPECT_EQ(n, 9u);
    EXPECT_STREQ(buffer, "abcd");
    EXPECT_EQ(buffer[5], 'x');   // nothing past the capacity
    EXPECT_EQ(fmt_snprintf(nullptr, 0, "%.3f", 2.0), 5u);
    EXPECT_EQ(fmt_snprintf(buffer, 1, "abc"), 3u);
    EXPECT_EQ(buffer[0], 0);
}

#pragma GCC diagnostic pop
