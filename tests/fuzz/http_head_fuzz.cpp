// Any bytes as a response head: what the reader gives back agrees with the
// bytes. The status is 0 or a three-digit code written after "HTTP/" and the
// version in the status line; the version and the header lines are slices
// of the input, the lines all that follows the status line; a field's value
// is a slice of the lines, from a line that names it; and a Retry-After
// wait comes only from a Retry-After line.
#include <cstdlib>
#include <cstring>

#include "http/http_request.h"

static void require(bool ok)
{
    if (!ok) abort();
}

static bool slice_of(Str part, Str whole)
{
    return part.size == 0 || (part.str >= whole.str && part.str + part.size <= whole.str + whole.size);
}

extern "C" int LLVMFuzzerTestOneInput(const u8 *data, size_t size)
{
    // An exact copy, so a read one byte too far lands outside the block.
    char *bytes = (char *)malloc(size ? size : 1);
    if (size) memcpy(bytes, data, size);
    Str text = Str{bytes, size};
    HttpHead head = http_parse_head(text);

    require(slice_of(head.version, text) && slice_of(head.lines, text));
    require(head.lines.size == 0 || head.lines.str + head.lines.size == text.str + text.size);
    require(head.status == 0 || (head.status >= 100 && head.status <= 999));
    if (head.status) {
        // "HTTP/", the version, one blank, then the code's three digits.
        const char *version = head.version.str;
        require(version && version - text.str >= 5 && memcmp(version - 5, "HTTP/", 5) == 0);
        const char *code = version + head.version.size;
        require(code + 4 <= text.str + text.size && code[0] == ' ');
        u32 written = (u32)(code[1] - '0') * 100 + (u32)(code[2] - '0') * 10 + (u32)(code[3] - '0');
        require(written == head.status);
        require(head.lines.size == 0 || head.lines.str >= code + 4);
    }

    // Fields: a value is a slice of its own line, which names the field.
    Str names[] = {str_lit("Retry-After"), str_lit("location"), str_lit("X")};
    for (Str name : names) {
        Str value = http_head_field(head.lines, name);
        require(slice_of(value, head.lines));
        if (value.size) {
            const char *line = value.str;
            while (line > head.lines.str && line[-1] != '\n') line -= 1;
            const char *colon = (const char *)memchr(line, ':', (size_t)(value.str - line));
            require(colon != nullptr);
            Str key = str_trim(Str{line, (u64)(colon - line)});
            require(str_match(key, name, StrMatch_CaseInsensitive));
        }
    }
    u64 wait = http_retry_after_ms(head.lines);
    require(wait == u64_max || http_head_field(head.lines, str_lit("Retry-After")).size > 0);
    free(bytes);
    return 0;
}
