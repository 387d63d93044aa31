// http/http_head.cpp: what both request engines share: the defaults, the
// method names and the reader of a response head.
#include "http/http_request.h"

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
    u32 status = 0;
    for (u64 i = 0; i < code.size && char_is_digit((u8)code.str[i]) && status < 100000; i += 1)
        status = status * 10 + (u32)(code.str[i] - '0');
    head.status = status;
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
