// http/http_request.h: one HTTP(S) request, and the reader of a response
// head. Two engines stand behind it, one backend folder each: libcurl
// (http/curl/, Linux) and WinHTTP (http/win32/, Windows); CMake picks the
// folder. Each engine defines every function marked [engine]; the rest are
// written once on top of them (http_head.cpp). Both keep every rule below:
// - only http and https are spoken, also after a redirect, and never through
//   a proxy, whatever the environment names;
// - unless the request is plain, every address goes over TLS (an http://
//   address is tried over TLS on its own port and fails with a secure channel
//   failure) and redirects are followed, at most `max_redirects` of them;
// - limits: resolving and connecting together within resolve_ms + connect_ms
//   (the threaded resolver lets that limit cut a hanging look-up short), no
//   byte of the request or the response (its head too) moving for stall_ms,
//   the whole call within total_ms;
// - without the read-body flag, reading stops once the final status line and
//   headers are in, and that counts as success: a page that trickles its body
//   is still reachable.
// The address goes to the engine whole; wyn never splits it itself.
//
// Memory: the strings of a response live on the arena given to the call;
// temporaries on the calling thread's scratch. The session is one per
// process (or per test), read-only after http_session_open, and shared by
// every thread. Nothing here stops the program: a failed request gives an
// empty head (status 0) and a failure kind.
#pragma once
#include "base/str.h"

//- kinds

enum HttpMethod : u32 {
    HttpMethod_Get = 0,
    HttpMethod_Head = 1,
    HttpMethod_Post = 2,
    HttpMethod_Put = 3,
    HttpMethod_Delete = 4,
    HttpMethod_Connect = 5,
    HttpMethod_Options = 6,
    HttpMethod_Trace = 7,
    HttpMethod_Patch = 8,
    HttpMethod_Count,            // any value from here on means GET
};

enum HttpFailure : u32 {
    HttpFailure_None = 0,
    HttpFailure_SecureChannel = 1,     // TLS and certificate errors
    HttpFailure_NotResolved = 2,
    HttpFailure_InvalidResponse = 3,   // malformed or empty reply
    HttpFailure_Connection = 4,        // refused, reset, and every failure without a kind of its own
    HttpFailure_Timeout = 5,
};

//- records

struct HttpLimits {
    u64 resolve_ms;       // 2,000
    u64 connect_ms;       // 5,000
    u64 stall_ms;         // 2,000; noticed within about a second more
    u64 total_ms;         // 15,000: the whole call, redirects included
    u32 max_redirects;    // 10
};
extern const HttpLimits http_default_limits;

struct HttpSessionOptions {
    Str ca_file;          // certificates trusted besides the system's folder (a test's own CA)
    HttpLimits limits;    // a zero field takes its default
};

struct HttpSession {
    Arena *arena;
    HttpLimits limits;
    const char *ca_file;      // null: the system's certificates only
    void *ca_store;           // the engine's reading of ca_file (WinHTTP); null otherwise
    b32 opened;               // false: every request fails with HttpFailure_Connection
    b32 resolve_limited;      // libcurl resolves on a thread of its own, so the limits cover look-ups
};

struct HttpRequest {
    u32 method;               // HttpMethod
    Str user_agent;           // empty: http_default_user_agent
    Str content_type;         // may be empty
    Str accept;               // empty: "*/*"
    Str extra_headers;        // read like a response head: the first line is not sent
    b32 plain;                // no TLS unless https://, redirects not followed
    b32 read_body;
    u64 limit_ms;             // overall limit of this call; 0 takes the session's total_ms
};

struct HttpResponse {
    Str head;                 // status line and header lines of the last response, each with "\r\n"
    Str body;                 // only with read_body
    Str address;              // as requested
    u32 failure;              // HttpFailure
    u32 engine_code;          // the engine's own code (libcurl's, WinHTTP's), for messages and tests
    u64 elapsed_ms;
    Str final_address;        // after redirects
};

struct HttpHead {
    u32 status;               // 0 when none
    Str version;              // "1.1"
    Str lines;                // everything after the status line's "\r\n"
};

extern const Str http_default_user_agent;

//- session and requests

// Options may be null. Initialises the engine (libcurl, WinHTTP) once per
// process.
HttpSession *http_session_open(Arena *arena, const HttpSessionOptions *options);   // [engine]
HttpResponse http_request(HttpSession *session, Arena *arena, Str address, Str body,
                          const HttpRequest *request);                              // [engine]

// A longer head is cut, its status line kept.
constexpr u64 http_head_capacity = KiB(16);

//- addresses, read the way the engine reads them

// "host:port" in lower case, the port implied by the scheme when none is
// written (a missing scheme is https); the address itself when it cannot be
// read. On `arena`.
Str http_address_host_key(Arena *arena, Str address);   // [engine]
// The scheme and authority of the address ("https://host:8443") and its
// authority alone ("host:8443"); false when it cannot be read.
bool http_address_origin(Arena *arena, Str address, Str *out_origin, Str *out_host);   // [engine]
// The address escaped for a form field: everything but letters, digits and
// "-._~" as %XX.
Str http_form_escape(Arena *arena, Str text);

//- shared by the engines

Str http_method_name(u32 method);                // GET for any value past the table
HttpLimits http_limits_filled(HttpLimits limits);   // zero fields take their defaults

//- heads

// Slices of `text`; allocates nothing.
HttpHead http_parse_head(Str text);
// The trimmed value of the first header line called `name` (ASCII case
// ignored) in `lines`; empty when there is none.
Str http_head_field(Str lines, Str name);
// The wait a Retry-After field asks for, in milliseconds (seconds or an HTTP
// date); u64_max when the head has none or it cannot be read.
u64 http_retry_after_ms(Str lines);
