// http/server.cpp: the preview server on libmicrohttpd.
#include "http/server.h"

#include "os/platform.h"

#include <microhttpd.h>

//- records

// Recent rewrites, by sequence number. A stream that fell further behind
// than the ring holds is told "*": reload whatever you show.
constexpr u64 event_ring_size = 256;
constexpr u64 event_path_capacity = 480;
constexpr u32 stream_slot_count = 256;

struct EventStream {
    HttpServer *server;
    MHD_Connection *connection;
    u64 cursor;      // next sequence number to send
    b32 in_use;
    b32 greeted;
    b32 suspended;   // waiting for the next rewrite
};

struct HttpServer {
    Arena *arena;
    HttpServerConfig config;   // strings copied onto the server's arena
    MHD_Daemon *daemon;
    u16 port;
    CriticalSection *lock;     // guards everything below
    b32 stopping;
    u64 sequence;              // rewrites announced so far
    u64 event_size[event_ring_size];
    char event_path[event_ring_size][event_path_capacity];
    EventStream streams[stream_slot_count];
};

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

//- event streams

static EventStream *stream_claim(HttpServer *server, MHD_Connection *connection)
{
    EventStream *found = nullptr;
    cs_enter(server->lock);
    for (u32 i = 0; i < stream_slot_count && !found; i += 1) {
        EventStream *s = &server->streams[i];
        if (s->in_use) continue;
        *s = EventStream{};
        s->server = server;
        s->connection = connection;
        s->cursor = server->sequence;
        s->in_use = 1;
        found = s;
    }
    cs_leave(server->lock);
    return found;
}

static void stream_release(void *cls)
{
    EventStream *s = (EventStream *)cls;
    HttpServer *server = s->server;
    cs_enter(server->lock);
    s->in_use = 0;
    s->connection = nullptr;
    cs_leave(server->lock);
}

static u64 append(char *buffer, u64 used, u64 capacity, Str text)
{
    if (used + text.size > capacity) return used;
    memcpy(buffer + used, text.str, text.size);
    return used + text.size;
}

// Writes what the stream has not seen yet; with nothing to say, the
// connection leaves the polling loop until the next rewrite resumes it.
static ssize_t stream_read(void *cls, uint64_t, char *buffer, size_t capacity)
{
    EventStream *s = (EventStream *)cls;
    HttpServer *server = s->server;
    ssize_t result = 0;
    cs_enter(server->lock);
    if (server->stopping) {
        result = MHD_CONTENT_READER_END_OF_STREAM;
    } else if (!s->greeted) {
        s->greeted = 1;
        // A comment opens the stream at once; the retry keeps reconnects
        // quick when wyn is restarted.
        result = (ssize_t)append(buffer, 0, capacity, str_lit("retry: 500\n: wyn live reload\n\n"));
    } else if (s->cursor < server->sequence) {
        u64 used = 0;
        if (server->sequence - s->cursor > event_ring_size) {
            used = append(buffer, used, capacity, str_lit("data: *\n\n"));
            s->cursor = server->sequence;
        }
        while (s->cursor < server->sequence) {
            u64 slot = s->cursor % event_ring_size;
            Str path = Str{server->event_path[slot], server->event_size[slot]};
            u64 need = path.size + 8;
            if (used + need > capacity) break;
            used = append(buffer, used, capacity, str_lit("data: "));
            used = append(buffer, used, capacity, path);
            used = append(buffer, used, capacity, str_lit("\n\n"));
            s->cursor += 1;
        }
        result = (ssize_t)used;
    } else {
        s->suspended = 1;
        MHD_suspend_connection(s->connection);
    }
    cs_leave(server->lock);
    return result;
}

void http_server_notify(HttpServer *server, Str web_path)
{
    if (!server) return;
    cs_enter(server->lock);
    u64 slot = server->sequence % event_ring_size;
    u64 size = web_path.size < event_path_capacity ? web_path.size : event_path_capacity;
    for (u64 i = 0; i < size; i += 1) {
        u8 c = (u8)web_path.str[i];
        // A line break would end the event early.
        server->event_path[slot][i] = (char)(c == '\n' || c == '\r' ? '?' : c);
    }
    server->event_size[slot] = size;
    server->sequence += 1;
    for (u32 i = 0; i < stream_slot_count; i += 1) {
        EventStream *s = &server->streams[i];
        if (s->in_use && s->suspended) {
            s->suspended = 0;
            MHD_resume_connection(s->connection);
        }
    }
    cs_leave(server->lock);
}

//- requests

static MHD_Result respond_text(MHD_Connection *connection, unsigned status, Str text)
{
    MHD_Response *response = MHD_create_response_from_buffer(text.size, (void *)text.str, MHD_RESPMEM_PERSISTENT);
    if (!response) return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain; charset=utf-8");
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED) MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    MHD_Result result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
}

static MHD_Result respond_events(HttpServer *server, MHD_Connection *connection)
{
    EventStream *stream = stream_claim(server, connection);
    if (!stream) return respond_text(connection, MHD_HTTP_SERVICE_UNAVAILABLE, str_lit("too many event streams\n"));
    MHD_Response *response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 1024, stream_read, stream,
                                                               stream_release);
    if (!response) {
        stream_release(stream);
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/event-stream");
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_Result result = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return result;
}

static MHD_Result on_request(void *cls, MHD_Connection *connection, const char *url, const char *method,
                             const char *, const char *, size_t *, void **)
{
    HttpServer *server = (HttpServer *)cls;
    Str verb = str_from_cstring(method);
    if (!str_eq(verb, str_lit("GET")) && !str_eq(verb, str_lit("HEAD")))
        return respond_text(connection, MHD_HTTP_METHOD_NOT_ALLOWED, str_lit("only GET and HEAD\n"));
    Str raw = str_from_cstring(url);
    if (server->config.live_reload && str_eq(raw, http_server_events_path)) return respond_events(server, connection);

    ArenaTemp scratch = scratch_begin(nullptr, 0);
    MHD_Result result = MHD_NO;
    Str file = http_request_file(scratch.arena, &server->config, raw);
    FileProperties props = {};
    Str bytes = file.size ? file_read_all(scratch.arena, file, &props) : str_empty();
    if (!props.exists) {
        result = respond_text(connection, MHD_HTTP_NOT_FOUND, str_lit("not found\n"));
    } else {
        Str type = http_content_type(file);
        if (server->config.live_reload && str_match(str_lit("text/html"), type, StrMatch_Prefix))
            bytes = http_inject_reload(scratch.arena, bytes);
        MHD_Response *response = MHD_create_response_from_buffer(bytes.size, (void *)bytes.str, MHD_RESPMEM_MUST_COPY);
        if (response) {
            const char *type_text = str_cstring(scratch.arena, type);
            MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type_text);
            // A preview is always the latest build: never from a cache.
            MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
            MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
            result = MHD_queue_response(connection, MHD_HTTP_OK, response);
            MHD_destroy_response(response);
        }
    }
    scratch_end(scratch);
    return result;
}

// The library would decode the path itself, and a "%00" would then cut the
// C string it hands over; decoding here sees every byte.
static size_t keep_escapes(void *, MHD_Connection *, char *text) { return strlen(text); }

//- lifetime

HttpServer *http_server_start(Arena *arena, const HttpServerConfig *config, Str *error)
{
    Arena *own = arena_alloc(MiB(1), KiB(64));
    HttpServer *server = own ? push_struct<HttpServer>(own) : nullptr;
    if (!server) {
        if (error) *error = str_lit("out of memory");
        if (own) arena_release(own);
        return nullptr;
    }
    server->arena = own;
    server->config = *config;
    for (u32 i = 0; i < config->root_count && i < http_server_max_roots; i += 1) {
        server->config.roots[i].prefix = str_copy(own, config->roots[i].prefix);
        server->config.roots[i].folder = str_copy(own, config->roots[i].folder);
    }
    Str address = config->bind_address.size ? config->bind_address : str_lit("127.0.0.1");
    server->config.bind_address = str_copy(own, address);
    server->lock = cs_alloc();

    s64 socket = net_listen(arena, address, config->port, &server->port, error);
    if (socket < 0) {
        if (error) *error = str_pushf(arena, "cannot listen on %S port %u: %S", address, (u32)config->port, *error);
        arena_release(own);
        return nullptr;
    }
    unsigned threads = config->thread_count ? config->thread_count : 2;
    server->daemon = MHD_start_daemon(
        MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO | MHD_ALLOW_SUSPEND_RESUME, 0, nullptr, nullptr, on_request,
        server, MHD_OPTION_LISTEN_SOCKET, (MHD_socket)socket, MHD_OPTION_THREAD_POOL_SIZE, threads,
        MHD_OPTION_CONNECTION_LIMIT, (unsigned)900, MHD_OPTION_CONNECTION_TIMEOUT, (unsigned)60,
        MHD_OPTION_UNESCAPE_CALLBACK, keep_escapes, nullptr, MHD_OPTION_END);
    if (!server->daemon) {
        if (error) *error = str_pushf(arena, "cannot start the HTTP server on %S port %u", address, (u32)server->port);
        net_close(socket);
        arena_release(own);
        return nullptr;
    }
    return server;
}

u16 http_server_port(HttpServer *server) { return server ? server->port : 0; }

void http_server_stop(HttpServer *server)
{
    if (!server) return;
    // A suspended connection must be resumed before the daemon stops; the
    // reader then ends the stream.
    cs_enter(server->lock);
    server->stopping = 1;
    for (u32 i = 0; i < stream_slot_count; i += 1) {
        EventStream *s = &server->streams[i];
        if (s->in_use && s->suspended) {
            s->suspended = 0;
            MHD_resume_connection(s->connection);
        }
    }
    cs_leave(server->lock);
    MHD_stop_daemon(server->daemon);
    arena_release(server->arena);
}
