// http/curl/curl_request.cpp: the request engine on libcurl (Linux).
#include "http/curl/curl_transfer.h"

#include <mutex>
#include <curl/curl.h>

#include "os/platform.h"

//- failure kinds

u32 http_failure_from_curl(int curl_code)
{
    switch (curl_code) {
    case CURLE_OK: return HttpFailure_None;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT: return HttpFailure_SecureChannel;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST: return HttpFailure_NotResolved;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_BAD_CONTENT_ENCODING: return HttpFailure_InvalidResponse;
    case CURLE_OPERATION_TIMEDOUT: return HttpFailure_Timeout;
    default: return HttpFailure_Connection;
    }
}

//- session

static std::once_flag curl_once;

HttpSession *http_session_open(Arena *arena, const HttpSessionOptions *options)
{
    HttpSession *session = push_struct<HttpSession>(arena);
    if (!session) return nullptr;
    session->arena = arena;
    session->limits = http_limits_filled(options ? options->limits : HttpLimits{});
    if (options && options->ca_file.size) session->ca_file = str_cstring(arena, options->ca_file);

    static bool curl_ready = false;
    std::call_once(curl_once, [] { curl_ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    session->opened = curl_ready;
    const curl_version_info_data *info = curl_version_info(CURLVERSION_NOW);
    // A blocking resolver ignores every limit (signals are off in a threaded
    // program), so a dead name server would hold a request for minutes.
    session->resolve_limited = info && (info->features & CURL_VERSION_ASYNCHDNS) != 0;
    return session;
}

//- callbacks

static bool head_is_redirect(u32 status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Keeps the head of the last response only, and ends the transfer once the
// final head is complete unless the body is wanted.
static size_t on_header(char *data, size_t size, size_t count, void *user)
{
    HttpTransfer *t = (HttpTransfer *)user;
    u64 n = (u64)size * count;
    t->moved_us = now_us();
    if (t->head_done) return n;   // trailers after a body read are not part of the head
    Str line = {data, n};
    if (str_match(str_lit("HTTP/"), line, StrMatch_Prefix)) t->head_size = 0;
    u64 room = http_head_capacity - t->head_size;
    u64 take = min_of(room, n);
    memcpy(t->head + t->head_size, data, take);
    t->head_size += take;
    if (str_trim(line).size == 0) {
        HttpHead head = http_parse_head(Str{t->head, t->head_size});
        if (head.status >= 100 && head.status < 200) return n;   // an interim answer; the real one follows
        // libcurl reads past a redirect's head by itself; if it cannot follow
        // (too many, a refused protocol) it says so with its own error.
        if (t->follow && head_is_redirect(head.status) && http_head_field(head.lines, str_lit("Location")).size) {
            t->connecting = 1;   // the next hop gets its own connection phase
            return n;
        }
        t->head_done = 1;
        if (!t->read_body) return 0;   // stop here: the answer is known
    }
    return n;
}

static size_t on_body(char *data, size_t size, size_t count, void *user)
{
    HttpTransfer *t = (HttpTransfer *)user;
    u64 n = (u64)size * count;
    t->moved_us = now_us();
    if (!t->read_body) return 0;
    if (t->body_arena) str_list_push(t->body_arena, &t->body, str_copy(t->body_arena, Str{data, n}));
    return n;
}

// The sockets of the transfer, so the stall check can see bytes arrive that
// libcurl has not handed on yet. A transfer that loses a happy-eyeballs race
// has closed one before the other connects; any beyond the record's room go
// unwatched, and only the whole lines of the header callback count for them.
static int on_socket_open(void *user, curl_socket_t socket, curlsocktype)
{
    HttpTransfer *t = (HttpTransfer *)user;
    for (s64 &slot : t->sockets)
        if (slot < 0) {
            slot = (s64)socket;
            break;
        }
    return CURL_SOCKOPT_OK;
}

static int on_socket_close(void *user, curl_socket_t socket)
{
    HttpTransfer *t = (HttpTransfer *)user;
    for (s64 &slot : t->sockets)
        if (slot == (s64)socket) slot = -1;
    net_close((s64)socket);
    return 0;
}

// libcurl's own low-speed check counts body bytes only, and its header
// callback sees whole lines only, so a head that comes a byte at a time
// looked like a stall. The check is ours: any byte that reaches a socket of
// the transfer, or of the request going out, is progress. Connecting (each
// hop's, up to its pre-transfer time) has its own limit instead. libcurl
// calls this at least about once a second, also while nothing moves.
static int on_progress(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent)
{
    HttpTransfer *t = (HttpTransfer *)user;
    u64 now = now_us();
    u64 received = 0;
    for (s64 socket : t->sockets)
        if (socket >= 0) received += net_bytes_received(socket);
    if ((u64)sent != t->sent || received != t->received) {
        t->sent = (u64)sent;
        t->received = received;
        t->moved_us = now;
    }
    if (t->connecting) {
        // The pre-transfer time adds up over the hops: a larger one means
        // this hop is connected and its request about to go out.
        curl_off_t pretransfer = 0;
        curl_easy_getinfo((CURL *)t->easy, CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
        if ((u64)pretransfer <= t->pretransfer_us) return 0;
        t->pretransfer_us = (u64)pretransfer;
        t->connecting = 0;
        t->moved_us = now;
    }
    t->stalled = now - t->moved_us > t->session->limits.stall_ms * 1000;
    return t->stalled ? 1 : 0;
}

//- transfers

// Without the plain flag an http:// address is still spoken to over TLS, on
// the port it names or implies; the TLS handshake with a plain server then
// fails, which is how such an address is reported.
static Str address_for_tls(Arena *arena, Str address)
{
    CURLU *url = curl_url();
    if (!url) return address;
    Str result = address;
    ArenaTemp scratch = scratch_begin(arena);
    const char *text = str_cstring(scratch.arena, address);
    if (curl_url_set(url, CURLUPART_URL, text, CURLU_DEFAULT_SCHEME) == CURLUE_OK) {
        char *scheme = nullptr;
        char *port = nullptr;
        char *full = nullptr;
        if (curl_url_get(url, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK && str_eq(str_from_cstring(scheme), str_lit("http")) &&
            curl_url_get(url, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK &&
            curl_url_set(url, CURLUPART_PORT, port, 0) == CURLUE_OK &&
            curl_url_set(url, CURLUPART_SCHEME, "https", 0) == CURLUE_OK &&
            curl_url_get(url, CURLUPART_URL, &full, 0) == CURLUE_OK)
            result = str_copy(arena, str_from_cstring(full));
        curl_free(scheme);
        curl_free(port);
        curl_free(full);
    }
    scratch_end(scratch);
    curl_url_cleanup(url);
    return result;
}

static curl_slist *header_list_append(curl_slist *list, Arena *scratch, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    Str line = str_pushfv(scratch, format, args);
    va_end(args);
    curl_slist *grown = curl_slist_append(list, line.str);
    return grown ? grown : list;
}

void http_transfer_begin(HttpTransfer *t, HttpSession *session, Str address, Str body, const HttpRequest *request,
                         Arena *body_arena)
{
    t->session = session;
    t->body_arena = body_arena;
    t->body = StrList{};
    t->address = address;
    t->start_us = now_us();
    t->setup_failure = 0;
    t->follow = !request->plain;
    t->read_body = request->read_body;
    t->head_done = 0;
    t->head_size = 0;
    t->connecting = 1;
    t->stalled = 0;
    t->sent = 0;
    t->received = 0;
    for (s64 &slot : t->sockets) slot = -1;
    t->pretransfer_us = 0;
    t->moved_us = t->start_us;
    if (t->header_list) curl_slist_free_all((curl_slist *)t->header_list);
    t->header_list = nullptr;
    if (!session || !session->opened) {
        t->setup_failure = HttpFailure_Connection;
        return;
    }
    CURL *easy = (CURL *)t->easy;
    if (easy) curl_easy_reset(easy);
    else easy = curl_easy_init();
    t->easy = easy;
    if (!easy) {
        t->setup_failure = HttpFailure_Connection;
        return;
    }

    ArenaTemp scratch = scratch_begin(nullptr, 0);
    Str target = request->plain ? address : address_for_tls(scratch.arena, address);
    curl_easy_setopt(easy, CURLOPT_URL, str_cstring(scratch.arena, target));
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_DEFAULT_PROTOCOL, "https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // No proxy, whatever the environment says: a check speaks to the host
    // itself, and a test's loopback traffic must never be routed elsewhere.
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_PRIVATE, (void *)t);
    // One request per connection keeps the per-host counts honest and lets
    // an aborted read simply drop its connection.
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, (long)CURL_HTTP_VERSION_1_1);
    if (t->follow) {
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, (long)session->limits.max_redirects);
    }

    const HttpLimits &limits = session->limits;
    u64 total_ms = request->limit_ms ? request->limit_ms : limits.total_ms;
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, (long)total_ms);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, (long)(limits.resolve_ms + limits.connect_ms));
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, on_progress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, (void *)t);
    curl_easy_setopt(easy, CURLOPT_SOCKOPTFUNCTION, on_socket_open);
    curl_easy_setopt(easy, CURLOPT_SOCKOPTDATA, (void *)t);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, on_socket_close);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, (void *)t);
    if (session->ca_file) curl_easy_setopt(easy, CURLOPT_CAINFO, session->ca_file);

    u32 method = request->method < HttpMethod_Count ? request->method : HttpMethod_Get;
    if (method == HttpMethod_Head) curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    else if (method != HttpMethod_Get) {
        if (method == HttpMethod_Post) curl_easy_setopt(easy, CURLOPT_POST, 1L);
        else curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, http_method_name(method).str);
    }
    if (body.size || method == HttpMethod_Post) {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, (curl_off_t)body.size);
        curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, body.size ? str_cstring(scratch.arena, body) : "");
    }

    Str agent = request->user_agent.size ? request->user_agent : http_default_user_agent;
    curl_easy_setopt(easy, CURLOPT_USERAGENT, str_cstring(scratch.arena, agent));
    curl_slist *headers = nullptr;
    if (request->content_type.size)
        headers = header_list_append(headers, scratch.arena, "Content-Type: %S", request->content_type);
    headers = header_list_append(headers, scratch.arena, "Accept: %S",
                                 request->accept.size ? request->accept : str_lit("*/*"));
    StrList extra = str_split(scratch.arena, http_parse_head(request->extra_headers).lines, str_lit("\r\n"), 0);
    for (StrNode *n = extra.first; n; n = n->next)
        if (str_trim(n->string).size) headers = header_list_append(headers, scratch.arena, "%S", n->string);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    t->header_list = headers;

    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, on_header);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, (void *)t);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, on_body);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, (void *)t);
    scratch_end(scratch);
}

HttpResponse http_transfer_end(HttpTransfer *t, Arena *arena, int curl_code)
{
    HttpResponse response = {};
    response.address = str_copy(arena, t->address);
    response.final_address = response.address;
    response.head = str_empty();
    response.body = str_empty();
    u64 end_us = now_us();
    response.elapsed_ms = (end_us - t->start_us) / 1000;
    if (t->setup_failure) {
        response.failure = t->setup_failure;
        response.engine_code = CURLE_FAILED_INIT;
        return response;
    }
    // Ending the read at the head is our own doing, not a fault.
    if (curl_code == CURLE_WRITE_ERROR && t->head_done && !t->read_body) curl_code = CURLE_OK;
    if (curl_code == CURLE_ABORTED_BY_CALLBACK && t->stalled) curl_code = CURLE_OPERATION_TIMEDOUT;
    response.engine_code = (u32)curl_code;
    response.failure = http_failure_from_curl(curl_code);
    CURL *easy = (CURL *)t->easy;
    char *final_address = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &final_address) == CURLE_OK && final_address)
        response.final_address = str_copy(arena, str_from_cstring(final_address));
    if (response.failure == HttpFailure_None) {
        response.head = str_copy(arena, Str{t->head, t->head_size});
        if (t->read_body) response.body = str_list_join_plain(arena, &t->body);
    }
    return response;
}

void http_transfer_release(HttpTransfer *t)
{
    if (t->header_list) curl_slist_free_all((curl_slist *)t->header_list);
    if (t->easy) curl_easy_cleanup((CURL *)t->easy);
    t->header_list = nullptr;
    t->easy = nullptr;
}

HttpResponse http_request(HttpSession *session, Arena *arena, Str address, Str body, const HttpRequest *request)
{
    ArenaTemp scratch = scratch_begin(arena);
    HttpTransfer *t = push_struct<HttpTransfer>(scratch.arena);
    http_transfer_begin(t, session, address, body, request, arena);
    int code = CURLE_FAILED_INIT;
    if (!t->setup_failure) code = curl_easy_perform((CURL *)t->easy);
    HttpResponse response = http_transfer_end(t, arena, code);
    http_transfer_release(t);
    scratch_end(scratch);
    return response;
}

//- addresses

Str http_address_host_key(Arena *arena, Str address)
{
    Str key = address;
    CURLU *url = curl_url();
    ArenaTemp scratch = scratch_begin(arena);
    if (url && curl_url_set(url, CURLUPART_URL, str_cstring(scratch.arena, address), CURLU_DEFAULT_SCHEME) == CURLUE_OK) {
        char *host = nullptr;
        char *port = nullptr;
        if (curl_url_get(url, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
            curl_url_get(url, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
            key = str_pushf(arena, "%s:%s", host, port);
            for (u64 i = 0; i < key.size; i += 1) ((char *)key.str)[i] = (char)char_to_lower((u8)key.str[i]);
        }
        curl_free(host);
        curl_free(port);
    }
    scratch_end(scratch);
    curl_url_cleanup(url);
    return key;
}

bool http_address_origin(Arena *arena, Str address, Str *out_origin, Str *out_host)
{
    bool ok = false;
    CURLU *url = curl_url();
    if (url && curl_url_set(url, CURLUPART_URL, str_cstring(arena, address), CURLU_DEFAULT_SCHEME) == CURLUE_OK) {
        char *scheme = nullptr;
        char *name = nullptr;
        char *port = nullptr;
        curl_url_get(url, CURLUPART_SCHEME, &scheme, 0);
        curl_url_get(url, CURLUPART_HOST, &name, 0);
        curl_url_get(url, CURLUPART_PORT, &port, 0);
        if (scheme && name) {
            *out_host = port ? str_pushf(arena, "%s:%s", name, port) : str_copy(arena, str_from_cstring(name));
            *out_origin = str_pushf(arena, "%s://%S", scheme, *out_host);
            ok = true;
        }
        curl_free(scheme);
        curl_free(name);
        curl_free(port);
    }
    curl_url_cleanup(url);
    return ok;
}
