// http/http_head.cpp: what both request engines share: the defaults, the
// method names, the reader of a response head and of its Retry-After.
#include "http/http_request.h"

#include "os/platform.h"

const HttpLimits http_default_limits = {2000, 5000, 2000, 15000, 10};
const Str http_default_user_agent = str_lit("Mozilla/5.0 (Windows NT 10.0; rv:109.0) Gecko/20100101 Firefox/115.0");

static const Str http_method_table[] = {
    str_lit("GET"),     str_lit("HEAD"),    str_lit("POST"),  str_lit("PUT"),   str_lit("DELETE"),
    str_lit("CONNECT"), str_lit("OPTIONS"), str_lit("TRACE"), str_lit("PATCH"),
};
static_assert(array_count(http_method_table) == HttpMethod_Count, "one name per method");

Str http_method_name(u32 method) { return http_method_table[method < HttpMethod_Count ? method : HttpMethod_Get]; }

HttpLimits http_limits_filled(HttpLimits limits)
{
    const HttpLimits &d = http_default_limits;
    HttpLimits out;
    out.resolve_ms = limits.resolve_ms ? limits.resolve_ms : d.resolve_ms;
    out.connect_ms = limits.connect_ms ? limits.connect_ms : d.connect_ms;
    out.stall_ms = limits.stall_ms ? limits.stall_ms : d.stall_ms;
    out.total_ms = limits.total_ms ? limits.total_ms : d.total_ms;
    out.max_redirects = limits.max_redirects ? limits.max_redirects : d.max_redirects;
    return out;
}

//- heads

HttpHead http_parse_head(Str text)
{
    HttpHead head = {0, str_empty(), str_empty()};
    text = str_trim_left(text);
    u64 line_end = str_find(text, str_lit("\r\n"), 0, 0);
    Str status_line = str_prefix(text, line_end);
    head.lines = str_skip(text, line_end + 2);
    u64 at = str_find(status_line, str_lit("HTTP/"), 0, 0);
    if (at >= status_line.size) return head;
    Str rest = str_skip(status_line, at + 5);
    u64 blank = str_find_byte(rest, ' ', 0);
    head.version = str_prefix(rest, blank);
    Str after = str_skip(rest, blank + 1);
    Str code = str_prefix(after, str_find_byte(after, ' ', 0));
    // A status is three digits, or there is none.
    u32 status = 0;
    for (u64 i = 0; i < code.size && char_is_digit((u8)code.str[i]); i += 1)
        status = status * 10 + (u32)(code.str[i] - '0');
    bool digits = code.size == 3 && char_is_digit((u8)code.str[0]) && char_is_digit((u8)code.str[1]) &&
                  char_is_digit((u8)code.str[2]);
    head.status = digits && status >= 100 ? status : 0;
    return head;
}

Str http_head_field(Str lines, Str name)
{
    u64 at = 0;
    while (at < lines.size) {
        u64 end = str_find_byte(lines, '\n', at);
        Str line = str_substr(lines, at, end);
        u64 colon = str_find_byte(line, ':', 0);
        if (colon < line.size && str_match(str_trim(str_prefix(line, colon)), name, StrMatch_CaseInsensitive))
            return str_trim(str_skip(line, colon + 1));
        at = end + 1;
    }
    return str_empty();
}

// Seconds since 1970 of a civil date and time in UTC (proleptic Gregorian,
// counted in eras of 400 years).
static s64 seconds_from_civil(s64 year, s64 month, s64 day, s64 hour, s64 minute, s64 second)
{
    s64 y = month <= 2 ? year - 1 : year;
    s64 era = y / 400;
    s64 yoe = y - era * 400;
    s64 doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    s64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return (era * 146097 + doe - 719468) * 86400 + hour * 3600 + minute * 60 + second;
}

// An HTTP date in any of its three spellings ("Sun, 06 Nov 1994 08:49:37
// GMT", "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994") as
// seconds since 1970; false when a piece is missing or out of range.
static bool http_date_seconds(Str text, s64 *out_seconds)
{
    static const char months[] = "janfebmaraprmayjunjulaugsepoctnovdec";
    s64 day = -1, month = -1, year = -1, clock[3] = {-1, -1, -1};
    u64 at = 0;
    while (at < text.size) {
        u64 end = at;
        while (end < text.size && text.str[end] != ' ' && text.str[end] != ',' && text.str[end] != '-') end += 1;
        Str word = str_substr(text, at, end);
        at = end + 1;
        bool digits = word.size > 0;
        for (u64 k = 0; k < word.size; k += 1) digits = digits && char_is_digit((u8)word.str[k]);
        if (word.size == 8 && word.str[2] == ':' && word.str[5] == ':') {
            for (u64 k = 0; k < 3; k += 1) {
                u8 hi = (u8)word.str[k * 3], lo = (u8)word.str[k * 3 + 1];
                if (!char_is_digit(hi) || !char_is_digit(lo)) return false;
                clock[k] = (hi - '0') * 10 + (lo - '0');
            }
        } else if (word.size >= 3 && char_is_alpha((u8)word.str[0])) {
            for (s64 m = 0; m < 12; m += 1)
                if (str_match(Str{months + m * 3, 3}, str_prefix(word, 3), StrMatch_CaseInsensitive)) month = m + 1;
        } else if (digits && word.size <= 2 && day < 0) {
            day = (s64)u64_from_str(word, 10);
        } else if (digits && (word.size == 2 || word.size == 4)) {
            year = (s64)u64_from_str(word, 10);
            if (word.size == 2) year += year < 70 ? 2000 : 1900;   // the two-digit years of RFC 850
        }
    }
    if (day < 1 || day > 31 || month < 1 || year < 1970 || clock[0] < 0 || clock[0] > 23 || clock[1] > 59 ||
        clock[2] > 60)
        return false;
    *out_seconds = seconds_from_civil(year, month, day, clock[0], clock[1], clock[2]);
    return true;
}

u64 http_retry_after_ms(Str lines)
{
    Str value = http_head_field(lines, str_lit("Retry-After"));
    if (value.size == 0) return u64_max;
    bool digits = true;
    for (u64 i = 0; i < value.size; i += 1) digits = digits && char_is_digit((u8)value.str[i]);
    if (digits) return value.size > 9 ? u64_max : u64_from_str(value, 10) * 1000;
    s64 when = 0;
    if (!http_date_seconds(value, &when)) return u64_max;
    DateTime d = date_now();
    s64 now = seconds_from_civil(d.year, d.month, d.day, d.hour, d.minute, d.second);
    return when <= now ? 0 : (u64)(when - now) * 1000;
}

//- addresses

Str http_form_escape(Arena *arena, Str text)
{
    static const char hex[] = "0123456789ABCDEF";
    char *out = (char *)arena_push(arena, text.size * 3 + 1, 1);
    if (!out) return str_empty();
    u64 n = 0;
    for (u64 i = 0; i < text.size; i += 1) {
        u8 c = (u8)text.str[i];
        if (char_is_alpha(c) || char_is_digit(c) || c == '-' || c == '.' || c == '_' || c == '~') out[n++] = (char)c;
        else {
            out[n++] = '%';
            out[n++] = hex[c >> 4];
            out[n++] = hex[c & 15];
        }
    }
    out[n] = 0;
    return Str{out, n};
}
