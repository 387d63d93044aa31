// http/server_paths.cpp: what the preview server decides without a socket:
// which file a request path names, its content type, and the reload script.
// Written once for every platform; the serving itself is in
// microhttpd/microhttpd_server.cpp.
#include "http/server.h"

#include "os/platform.h"

//- request paths

static int hex_value(u8 c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool http_path_decode(Arena *arena, Str raw, Str *out)
{
    char *bytes = (char *)arena_push(arena, raw.size + 1, 1);
    if (!bytes) return false;
    u64 n = 0;
    for (u64 i = 0; i < raw.size; i += 1) {
        u8 c = (u8)raw.str[i];
        if (c == '%') {
            int hi = i + 2 < raw.size ? hex_value((u8)raw.str[i + 1]) : -1;
            int lo = i + 2 < raw.size ? hex_value((u8)raw.str[i + 2]) : -1;
            if (hi < 0 || lo < 0) return false;
            c = (u8)(hi * 16 + lo);
            i += 2;
        }
        bytes[n++] = (char)c;
    }
    bytes[n] = 0;
    *out = Str{bytes, n};
    return true;
}

// A decoded path may only walk down: every segment a plain name. Leading
// dots also keep out ".." in all its spellings and the server's own
// ".wyn" space; a colon keeps out drive letters, a backslash the other
// separator, NUL the end of a C string the system would see early.
static bool path_is_plain(Str path)
{
    if (path.size == 0 || path.str[0] != '/') return false;
    u64 start = 1;
    for (u64 i = 1; i <= path.size; i += 1) {
        if (i < path.size) {
            u8 c = (u8)path.str[i];
            if (c == 0 || c == '\\' || c == ':' || c < 0x20) return false;
            if (c != '/') continue;
        }
        u64 length = i - start;
        bool last = i == path.size;
        if (length == 0 && !last) return false;            // "//": an absolute path in disguise
        if (length && path.str[start] == '.') return false;
        start = i + 1;
    }
    return true;
}

// The file under one root, or empty: a folder gives its index.html, and
// where the file really is, links followed, must still be inside the root.
static Str file_under_root(Arena *arena, const HttpServerRoot *root, Str path)
{
    if (!str_match(root->prefix, path, StrMatch_Prefix) || root->folder.size == 0) return str_empty();
    ArenaTemp scratch = scratch_begin(arena);
    Str rest = str_skip(path, root->prefix.size);
    Str candidate = str_pushf(scratch.arena, "%S%S", root->folder, rest);
    FileProperties props = file_properties(candidate);
    if (props.exists && props.is_folder) {
        candidate = str_pushf(scratch.arena, "%S%sindex.html", candidate,
                              candidate.str[candidate.size - 1] == '/' ? "" : "/");
        props = file_properties(candidate);
    }
    Str result = str_empty();
    Str real_root = path_real(scratch.arena, root->folder);
    Str real_file = props.exists && !props.is_folder ? path_real(scratch.arena, candidate) : str_empty();
    if (real_root.size && real_file.size > real_root.size + 1 && real_file.str[real_root.size] == '/' &&
        str_match(real_root, real_file, StrMatch_Prefix))
        result = str_copy(arena, real_file);
    scratch_end(scratch);
    return result;
}

Str http_request_file(Arena *arena, const HttpServerConfig *config, Str raw_path)
{
    // A NUL is refused in the query too: a request that holds one is not
    // what it seems, whatever part of it would be read.
    if (str_find_byte(raw_path, 0, 0) < raw_path.size || str_find(raw_path, str_lit("%00"), 0, 0) < raw_path.size)
        return str_empty();
    u64 query = str_find_byte(raw_path, '?', 0);
    raw_path = str_prefix(raw_path, query);
    ArenaTemp scratch = scratch_begin(arena);
    Str result = str_empty();
    Str path = {};
    if (http_path_decode(scratch.arena, raw_path, &path) && path_is_plain(path)) {
        for (u32 i = 0; i < config->root_count && result.size == 0; i += 1)
            result = file_under_root(arena, &config->roots[i], path);
    }
    scratch_end(scratch);
    return result;
}

//- content types

struct ContentTypeInfo {
    Str extension;
    Str type;
};

static const ContentTypeInfo content_type_table[] = {
    {str_lit("html"), str_lit("text/html; charset=utf-8")},
    {str_lit("htm"), str_lit("text/html; charset=utf-8")},
    {str_lit("css"), str_lit("text/css; charset=utf-8")},
    {str_lit("js"), str_lit("text/javascript; charset=utf-8")},
    {str_lit("mjs"), str_lit("text/javascript; charset=utf-8")},
    {str_lit("json"), str_lit("application/json")},
    {str_lit("map"), str_lit("application/json")},
    {str_lit("txt"), str_lit("text/plain; charset=utf-8")},
    {str_lit("wyn"), str_lit("text/plain; charset=utf-8")},
    {str_lit("csv"), str_lit("text/csv; charset=utf-8")},
    {str_lit("xml"), str_lit("application/xml")},
    {str_lit("woff2"), str_lit("font/woff2")},
    {str_lit("woff"), str_lit("font/woff")},
    {str_lit("ttf"), str_lit("font/ttf")},
    {str_lit("otf"), str_lit("font/otf")},
    {str_lit("eot"), str_lit("application/vnd.ms-fontobject")},
    {str_lit("svg"), str_lit("image/svg+xml")},
    {str_lit("png"), str_lit("image/png")},
    {str_lit("jpg"), str_lit("image/jpeg")},
    {str_lit("jpeg"), str_lit("image/jpeg")},
    {str_lit("gif"), str_lit("image/gif")},
    {str_lit("webp"), str_lit("image/webp")},
    {str_lit("avif"), str_lit("image/avif")},
    {str_lit("ico"), str_lit("image/x-icon")},
    {str_lit("pdf"), str_lit("application/pdf")},
    {str_lit("wasm"), str_lit("application/wasm")},
    {str_lit("mp4"), str_lit("video/mp4")},
    {str_lit("webm"), str_lit("video/webm")},
    {str_lit("zip"), str_lit("application/zip")},
};

Str http_content_type(Str path)
{
    Str extension = path_extension(path_file_name(path));
    for (const ContentTypeInfo &row : content_type_table)
        if (str_match(row.extension, extension, StrMatch_CaseInsensitive)) return row.type;
    return str_lit("application/octet-stream");
}

//- the reload script

// Reloads when the page or a sheet or script it loads was rewritten; "*"
// means events were missed. A closed stream reconnects by itself (the
// browser's own retry), so a restarted wyn is picked up.
static const Str reload_script = str_lit(
    "<script>(function(){var s=new EventSource(\"/.wyn/events\");"
    "s.onmessage=function(e){var p=e.data,h=location.pathname;if(h.endsWith(\"/\"))h+=\"index.html\";"
    "var r=function(){s.close();location.reload();};"
    "if(p===\"*\"||p===h||p===decodeURI(h))return r();"
    "var l=document.querySelectorAll(\"link[href],script[src]\");"
    "for(var i=0;i<l.length;i++){var u=new URL(l[i].href||l[i].src,location.href);"
    "if(u.origin===location.origin&&(u.pathname===p||decodeURI(u.pathname)===p))return r();}};})();</script>");

Str http_inject_reload(Arena *arena, Str html)
{
    u64 at = str_find(html, str_lit("</body>"), 0, StrMatch_CaseInsensitive | StrMatch_FindLast);
    if (at >= html.size) at = html.size;
    return str_pushf(arena, "%S%S%S", str_prefix(html, at), reload_script, str_skip(html, at));
}

