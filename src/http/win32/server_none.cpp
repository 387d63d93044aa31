// http/win32/server_none.cpp: no preview server on Windows yet.
//
// The server is built on libmicrohttpd, which Debian ships for Linux only;
// on Windows `serve` says so at start and the site is built and watched as
// usual. Request-path decoding and content types (server_paths.cpp) are
// shared, so a Windows server needs only the socket side.
#include "http/server.h"

HttpServer *http_server_start(Arena *arena, const HttpServerConfig *config, Str *error, u32 *out_failure)
{
    (void)arena;
    (void)config;
    if (out_failure) *out_failure = HttpServerFailure_Other;
    if (error) *error = str_lit("the preview server is not available in the Windows build yet");
    return nullptr;
}

u16 http_server_port(HttpServer *server)
{
    (void)server;
    return 0;
}

void http_server_notify(HttpServer *server, Str web_path)
{
    (void)server;
    (void)web_path;
}

void http_server_stop(HttpServer *server) { (void)server; }
