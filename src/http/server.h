// http/server.h: the preview server: the published folders over HTTP, with
// live reload.
//
// Built on GNU libmicrohttpd (http/microhttpd/) on Linux and Windows alike
// (the Windows build compiles Debian's source package of it). One internal
// polling thread hands connections to a small pool of threads that never
// block on a client: a slow or stalled client costs a socket, not a thread, and nothing
// here takes a lock the site build holds, so clients can never hold up a
// build.
//
// Safe by default: GET and HEAD only (anything else gets 405); a request
// path is percent-decoded by this code, not the library, and refused with
// 404 before any file is touched when it holds "..", a segment starting
// with ".", a backslash, a colon or an empty segment, or a NUL anywhere
// (raw or as %00, the query included); a file whose real path (links
// followed) leaves its published folder is refused too. A folder serves its
// index.html; there are no listings.
//
// Live reload: every HTML response gets a small script (in the response,
// never in the file) that listens on the event stream at
// http_server_events_path and reloads the page when the page itself or a
// style sheet or script it uses is rewritten. http_server_notify is called
// by whoever writes files, from any thread; it never waits for a client.
//
// Memory: the server lives on its own arena, released by http_server_stop;
// each request reads its file onto the pool thread's scratch.
#pragma once
#include "base/str.h"

// A published folder: a request whose path starts with `prefix` ("/" or
// "/shared/") may be served from `folder` (absolute, ending in "/") with
// the prefix cut off. Roots are tried in order; the first that holds the
// file serves it.
struct HttpServerRoot {
    Str prefix;
    Str folder;
};

constexpr u32 http_server_max_roots = 8;

struct HttpServerConfig {
    Str bind_address;   // an IP literal; empty: 127.0.0.1
    u16 port;           // 0: any free port
    u32 root_count;
    HttpServerRoot roots[http_server_max_roots];
    b32 live_reload;    // inject the reload script and answer the event stream
    u32 thread_count;   // 0: 2
};

struct HttpServer;

constexpr Str http_server_events_path = str_lit("/.wyn/events");

// Why a server did not start, for the caller's own message and exit status.
enum HttpServerFailure : u32 {
    HttpServerFailure_None = 0,
    HttpServerFailure_AddressInUse = 1,          // another program listens on the port
    HttpServerFailure_AddressNotAvailable = 2,   // the bind address is not one of this machine's
    HttpServerFailure_Other = 3,
};

// Null when the address cannot be bound or the library refuses to start;
// `error` (on `arena`) then says why, and `out_failure` (HttpServerFailure)
// what kind of why.
HttpServer *http_server_start(Arena *arena, const HttpServerConfig *config, Str *error,
                              u32 *out_failure = nullptr);
u16 http_server_port(HttpServer *server);
// A file at web path `web_path` ("/a.html", "/shared/css/site.css") was
// rewritten: every open event stream is told. Any thread; never blocks on
// a client.
void http_server_notify(HttpServer *server, Str web_path);
// Ends every event stream, stops the threads and releases the server
// (tests; the watch process never stops it).
void http_server_stop(HttpServer *server);

//- the pieces, for tests

// The request path percent-decoded; false for a malformed escape.
bool http_path_decode(Arena *arena, Str raw, Str *out);
// The file a raw request path names (its query is read only for a NUL), or
// empty when it is refused or missing. Every refusal happens before
// anything is read.
Str http_request_file(Arena *arena, const HttpServerConfig *config, Str raw_path);
// The Content-Type of a file by its extension (any case).
Str http_content_type(Str path);
// The page with the reload script before its last "</body>" (any case), or
// at its end when it has none.
Str http_inject_reload(Arena *arena, Str html);
