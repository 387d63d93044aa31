// http/microhttpd/microhttpd_server.cpp: the preview server on libmicrohttpd
// (Linux and Windows); the decisions without a socket are in
// http/server_paths.cpp.
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

// libmicrohttpd hands the request target over as C strings, cut at a NUL
// and with the query split off, so a NUL in the target would go unseen: a
// request for "/\0/../x" would get the index page. This callback sees the
// target first, whole as far as its first NUL and with its query, and
// passes on, packed into the request's context, how long that is and
// whether it spells a NUL as %00. Nothing is allocated for it.
static void *on_target(void *, const char *uri, MHD_Connection *)
{
    Str target = str_from_cstring(uri);
    bool escaped_nul = str_find(target, str_lit("%00"), 0, 0) < target.size;
    return (void *)(uintptr_t)(target.size << 1 | (escaped_nul ? 1 : 0));
}

// Whether the target held a NUL, raw or escaped. `url` and `version` point
// into the library's copy of the request line, where the target ends one
// byte before the version: a target longer than what on_target saw was cut
// there by a raw NUL.
static bool target_holds_nul(const char *url, const char *version, void *context)
{
    u64 seen = (u64)(uintptr_t)context >> 1;
    if ((uintptr_t)context & 1) return true;
    u64 whole = version > url && version - url < (s64)KiB(64) ? (u64)(version - url - 1) : seen;
    return seen < whole;
}

static MHD_Result on_request(void *cls, MHD_Connection *connection, const char *url, const char *method,
                             const char *version, const char *, size_t *, void **context)
{
    HttpServer *server = (HttpServer *)cls;
    Str verb = str_from_cstring(method);
    if (!str_eq(verb, str_lit("GET")) && !str_eq(verb, str_lit("HEAD")))
        return respond_text(connection, MHD_HTTP_METHOD_NOT_ALLOWED, str_lit("only GET and HEAD\n"));
    if (target_holds_nul(url, version, *context))
        return respond_text(connection, MHD_HTTP_NOT_FOUND, str_lit("not found\n"));
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

HttpServer *http_server_start(Arena *arena, const HttpServerConfig *config, Str *error, u32 *out_failure)
{
    if (out_failure) *out_failure = HttpServerFailure_Other;
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

    u32 listen_failure = NetListen_Other;
    s64 socket = net_listen(arena, address, config->port, &server->port, error, &listen_failure);
    if (socket < 0) {
        if (out_failure && listen_failure == NetListen_AddressInUse) *out_failure = HttpServerFailure_AddressInUse;
        if (out_failure && listen_failure == NetListen_AddressNotAvailable)
            *out_failure = HttpServerFailure_AddressNotAvailable;
        if (error) *error = str_pushf(arena, "cannot listen on %S port %u: %S", address, (u32)config->port, *error);
        arena_release(own);
        return nullptr;
    }
    unsigned threads = config->thread_count ? config->thread_count : 2;
    server->daemon = MHD_start_daemon(
        MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO | MHD_ALLOW_SUSPEND_RESUME, 0, nullptr, nullptr, on_request,
        server, MHD_OPTION_LISTEN_SOCKET, (MHD_socket)socket, MHD_OPTION_THREAD_POOL_SIZE, threads,
        MHD_OPTION_CONNECTION_LIMIT, (unsigned)900, MHD_OPTION_CONNECTION_TIMEOUT, (unsigned)60,
        MHD_OPTION_UNESCAPE_CALLBACK, keep_escapes, nullptr, MHD_OPTION_URI_LOG_CALLBACK, on_target, nullptr,
        MHD_OPTION_END);
    if (!server->daemon) {
        if (error) *error = str_pushf(arena, "cannot start the HTTP server on %S port %u", address, (u32)server->port);
        net_close(socket);
        arena_release(own);
        return nullptr;
    }
    if (out_failure) *out_failure = HttpServerFailure_None;
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
