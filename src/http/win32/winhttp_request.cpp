// http/win32/winhttp_request.cpp: the request engine on WinHTTP (Windows).
//
// Every request opens its own WinHTTP session, connection and request
// handles and closes them before returning, so any thread may call it and
// nothing is shared but the read-only HttpSession. The rules are those of
// the libcurl engine: only http and https, never a proxy, TLS for every
// address unless the request is plain, redirects followed (at most
// max_redirects) unless plain, the same time limits and failure kinds, and
// reading stops at the final head unless the body is wanted.
#include "http/http_request.h"

#include <cstring>

#include "os/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

//- failure kinds

// Some WinHTTP builds (wine's) pass the socket's own time-out through.
constexpr DWORD wsa_timed_out = 10060;   // WSAETIMEDOUT

static u32 http_failure_from_winhttp(DWORD error)
{
    switch (error) {
    case wsa_timed_out: return HttpFailure_Timeout;
    case ERROR_SUCCESS: return HttpFailure_None;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
    case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED: return HttpFailure_SecureChannel;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: return HttpFailure_NotResolved;
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
    case ERROR_WINHTTP_HEADER_NOT_FOUND: return HttpFailure_InvalidResponse;
    case ERROR_WINHTTP_TIMEOUT: return HttpFailure_Timeout;
    default: return HttpFailure_Connection;
    }
}

//- certificates of the ca_file
//
// WinHTTP trusts the system's store only. With a ca_file, the system's
// verdict "unknown authority" is set aside for the handshake, and the
// server's certificate must then be one of the file's or be signed by one of
// them; every other check (names, dates) stays the system's.

struct CaStore {
    HCERTSTORE store;   // null: no ca_file, or none of it could be read
};

static HCERTSTORE ca_store_load(Str path)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    Str text = file_read_all(scratch.arena, path);
    HCERTSTORE store = text.size ? CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr) : nullptr;
    u64 at = 0;
    u64 count = 0;
    while (store) {
        u64 begin = str_find(text, str_lit("-----BEGIN CERTIFICATE-----"), at, 0);
        u64 end = str_find(text, str_lit("-----END CERTIFICATE-----"), begin, 0);
        if (begin >= text.size || end >= text.size) break;
        end += str_lit("-----END CERTIFICATE-----").size;
        Str pem = str_substr(text, begin, end);
        DWORD size = 0;
        if (CryptStringToBinaryA(pem.str, (DWORD)pem.size, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
            BYTE *der = (BYTE *)arena_push(scratch.arena, size, 1);
            if (der && CryptStringToBinaryA(pem.str, (DWORD)pem.size, CRYPT_STRING_BASE64HEADER, der, &size, nullptr,
                                            nullptr) &&
                CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der, size, CERT_STORE_ADD_ALWAYS, nullptr))
                count += 1;
        }
        at = end;
    }
    scratch_end(scratch);
    if (store && count == 0) {
        CertCloseStore(store, 0);
        store = nullptr;
    }
    return store;
}

// Whether the file vouches for the certificate the server showed.
static bool ca_store_vouches(HCERTSTORE store, HINTERNET request)
{
    PCCERT_CONTEXT server = nullptr;
    DWORD size = sizeof(server);
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &server, &size) || !server) return false;
    bool vouched = false;
    PCCERT_CONTEXT ca = nullptr;
    while (!vouched && (ca = CertEnumCertificatesInStore(store, ca)) != nullptr) {
        vouched = CertCompareCertificate(X509_ASN_ENCODING, server->pCertInfo, ca->pCertInfo) ||
                  (CertCompareCertificateName(X509_ASN_ENCODING, &server->pCertInfo->Issuer, &ca->pCertInfo->Subject) &&
                   CryptVerifyCertificateSignatureEx(0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT,
                                                     (void *)server, CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT, (void *)ca, 0,
                                                     nullptr));
    }
    if (ca) CertFreeCertificateContext(ca);
    CertFreeCertificateContext(server);
    return vouched;
}

//- session

HttpSession *http_session_open(Arena *arena, const HttpSessionOptions *options)
{
    HttpSession *session = push_struct<HttpSession>(arena);
    if (!session) return nullptr;
    session->arena = arena;
    session->limits = http_limits_filled(options ? options->limits : HttpLimits{});
    if (options && options->ca_file.size) session->ca_file = str_cstring(arena, options->ca_file);
    session->opened = 1;
    // The certificates are read once; the store is only read afterwards, by
    // every thread. It is kept on the session's arena behind the path.
    if (session->ca_file) {
        CaStore *ca = push_struct<CaStore>(arena);
        if (ca) ca->store = ca_store_load(options->ca_file);
        session->ca_store = ca;
    }
    // WinHTTP resolves names within its own resolve limit.
    session->resolve_limited = 1;
    return session;
}

//- addresses

struct AddressParts {
    b32 ok;
    b32 https;
    INTERNET_PORT port;
    b32 port_written;
    Str scheme;
    Str host;          // lower case
    const wchar_t *wide_host;
    const wchar_t *wide_path;   // path and query, "/" at least
};

// A missing scheme reads as https, as libcurl's default protocol does.
static AddressParts address_parts(Arena *arena, Str address)
{
    AddressParts parts = {};
    Str text = str_trim(address);
    // No scheme reads as https; "host:8080/x" has a port, not a scheme, but
    // "mailto:x" names a scheme this engine does not speak.
    u64 colon = str_find_byte(text, ':', 0);
    bool port_follows = colon < text.size && colon + 1 < text.size && char_is_digit((u8)text.str[colon + 1]);
    bool has_scheme = str_find(text, str_lit("://"), 0, 0) < text.size ||
                      (colon < str_find_byte(text, '/', 0) && !port_follows);
    if (!has_scheme) text = str_pushf(arena, "https://%S", text);
    Str16 wide = str16_from_str(arena, text);
    if (!wide.str) return parts;
    URL_COMPONENTS url = {};
    url.dwStructSize = sizeof(url);
    url.dwSchemeLength = (DWORD)-1;
    url.dwHostNameLength = (DWORD)-1;
    url.dwUrlPathLength = (DWORD)-1;
    url.dwExtraInfoLength = (DWORD)-1;
    if (!WinHttpCrackUrl((LPCWSTR)wide.str, (DWORD)wide.size, 0, &url)) return parts;
    if (url.nScheme != INTERNET_SCHEME_HTTP && url.nScheme != INTERNET_SCHEME_HTTPS) return parts;
    if (url.dwHostNameLength == 0) return parts;
    parts.https = url.nScheme == INTERNET_SCHEME_HTTPS;
    parts.scheme = parts.https ? str_lit("https") : str_lit("http");
    parts.port = url.nPort;
    // WinHTTP fills in the scheme's port; only the text tells whether one was written.
    Str after_host = str_skip(text, (u64)(url.lpszHostName - (LPCWSTR)wide.str) + url.dwHostNameLength);
    parts.port_written = after_host.size > 0 && after_host.str[0] == ':';
    wchar_t *host = push_array<wchar_t>(arena, url.dwHostNameLength + 1);
    u64 path_size = url.dwUrlPathLength + url.dwExtraInfoLength;
    wchar_t *path = push_array<wchar_t>(arena, path_size + 2);
    if (!host || !path) return parts;
    memcpy(host, url.lpszHostName, url.dwHostNameLength * sizeof(wchar_t));
    if (url.dwUrlPathLength == 0) path[0] = L'/';
    u64 at = url.dwUrlPathLength == 0 ? 1 : 0;
    memcpy(path + at, url.lpszUrlPath, url.dwUrlPathLength * sizeof(wchar_t));
    memcpy(path + at + url.dwUrlPathLength, url.lpszExtraInfo, url.dwExtraInfoLength * sizeof(wchar_t));
    parts.wide_host = host;
    parts.wide_path = path;
    parts.host = str_from_str16(arena, Str16{(const u16 *)host, url.dwHostNameLength});
    for (u64 i = 0; i < parts.host.size; i += 1) ((char *)parts.host.str)[i] = (char)char_to_lower((u8)parts.host.str[i]);
    parts.ok = 1;
    return parts;
}

Str http_address_host_key(Arena *arena, Str address)
{
    ArenaTemp scratch = scratch_begin(arena);
    AddressParts parts = address_parts(scratch.arena, address);
    Str key = parts.ok ? str_pushf(arena, "%S:%u", parts.host, (unsigned)parts.port) : address;
    scratch_end(scratch);
    return key;
}

bool http_address_origin(Arena *arena, Str address, Str *out_origin, Str *out_host)
{
    AddressParts parts = address_parts(arena, address);
    if (!parts.ok) return false;
    *out_host = parts.port_written ? str_pushf(arena, "%S:%u", parts.host, (unsigned)parts.port) : parts.host;
    *out_origin = str_pushf(arena, "%S://%S", parts.scheme, *out_host);
    return true;
}

//- requests

// Windows waits WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT for the whole
// response head, beside the receive time-out for each wait for more bytes:
// a head that comes slowly but steadily must get the rest of the overall
// limit, not the stall limit. Wine's WinHTTP waits that long for each
// receive of the head instead, so there it is the stall limit, and a head
// that keeps trickling is ended by the overall limit only once it is whole.
static bool running_under_wine(void)
{
    static const bool wine = [] {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll && GetProcAddress(ntdll, "wine_get_version");
    }();
    return wine;
}

// Header lines for WinHttpAddRequestHeaders: "Name: value\r\n" each.
static Str request_headers(Arena *arena, const HttpRequest *request)
{
    StrList lines = {};
    if (request->content_type.size)
        str_list_push(arena, &lines, str_pushf(arena, "Content-Type: %S\r\n", request->content_type));
    str_list_push(arena, &lines,
                  str_pushf(arena, "Accept: %S\r\n", request->accept.size ? request->accept : str_lit("*/*")));
    StrList extra = str_split(arena, http_parse_head(request->extra_headers).lines, str_lit("\r\n"), 0);
    for (StrNode *n = extra.first; n; n = n->next)
        if (str_trim(n->string).size) str_list_push(arena, &lines, str_pushf(arena, "%S\r\n", n->string));
    return str_list_join_plain(arena, &lines);
}

// The status line and header lines as received, each with "\r\n", cut at
// http_head_capacity like the libcurl engine's.
static Str response_head(Arena *arena, HINTERNET request)
{
    DWORD size = 0;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size,
                        WINHTTP_NO_HEADER_INDEX);
    if (size == 0) return str_empty();
    ArenaTemp scratch = scratch_begin(arena);
    wchar_t *buffer = (wchar_t *)arena_push(scratch.arena, size + sizeof(wchar_t), 2);
    Str head = str_empty();
    if (buffer && WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, buffer,
                                      &size, WINHTTP_NO_HEADER_INDEX)) {
        Str text = str_from_str16(scratch.arena, Str16{(const u16 *)buffer, size / sizeof(wchar_t)});
        head = str_copy(arena, str_prefix(text, http_head_capacity));
    }
    scratch_end(scratch);
    return head;
}

// One request and its answer, redirects not followed. `first` says whether
// this is the address as the caller gave it, which alone is forced onto TLS.
static HttpResponse request_once(HttpSession *session, Arena *arena, Str address, Str body, const HttpRequest *request,
                                 bool first, u64 start_us, u64 total_ms)
{
    HttpResponse response = {};
    response.address = str_copy(arena, address);
    response.final_address = response.address;
    response.head = str_empty();
    response.body = str_empty();
    ArenaTemp scratch = scratch_begin(arena);
    AddressParts parts = address_parts(scratch.arena, address);
    HINTERNET internet = nullptr, connection = nullptr, handle = nullptr;
    DWORD error = ERROR_WINHTTP_UNRECOGNIZED_SCHEME;
    const HttpLimits &limits = session->limits;
    // Without the plain flag an http:// address is still spoken to over TLS,
    // on the port it names or implies; the handshake with a plain server then
    // fails, which is how such an address is reported.
    bool secure = parts.https || (!request->plain && first);
    u32 method = request->method < HttpMethod_Count ? request->method : HttpMethod_Get;
    bool body_wanted = request->read_body && method != HttpMethod_Head;
    if (parts.ok) {
        Str agent = request->user_agent.size ? request->user_agent : http_default_user_agent;
        Str16 wide_agent = str16_from_str(scratch.arena, agent);
        internet = WinHttpOpen((LPCWSTR)wide_agent.str, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0);
        error = internet ? ERROR_SUCCESS : GetLastError();
    }
    if (internet) {
        // Sending and receiving each end after stall_ms without progress; the
        // overall limit bounds them too.
        int stall = (int)min_of<u64>(limits.stall_ms, total_ms);
        WinHttpSetTimeouts(internet, (int)limits.resolve_ms, (int)limits.connect_ms, stall, stall);
        DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
#ifdef WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
        protocols |= WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
#endif
        WinHttpSetOption(internet, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols));
        connection = WinHttpConnect(internet, parts.wide_host, parts.port, 0);
        if (!connection) error = GetLastError();
    }
    if (connection) {
        Str16 verb = str16_from_str(scratch.arena, http_method_name(method));
        handle = WinHttpOpenRequest(connection, (LPCWSTR)verb.str, parts.wide_path, nullptr, WINHTTP_NO_REFERER,
                                    WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0);
        if (!handle) error = GetLastError();
    }
    if (handle) {
        // The limits again on the request itself: not every WinHTTP hands
        // the session's down to its requests.
        int stall = (int)min_of<u64>(limits.stall_ms, total_ms);
        WinHttpSetTimeouts(handle, (int)limits.resolve_ms, (int)limits.connect_ms, stall, stall);
        u64 spent_ms = (now_us() - start_us) / 1000;
        DWORD response_ms = running_under_wine() ? (DWORD)stall : (DWORD)(spent_ms < total_ms ? total_ms - spent_ms : 1);
        WinHttpSetOption(handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_ms, sizeof(response_ms));
        // Redirects are followed by http_request, one request each, so every
        // hop gets the same checks (and a ca_file) as the first.
        DWORD features = WINHTTP_DISABLE_REDIRECTS;
        WinHttpSetOption(handle, WINHTTP_OPTION_DISABLE_FEATURE, &features, sizeof(features));
        // One request per connection, as with libcurl: an aborted read simply
        // drops its connection.
        DWORD no_keep_alive = WINHTTP_DISABLE_KEEP_ALIVE;
        WinHttpSetOption(handle, WINHTTP_OPTION_DISABLE_FEATURE, &no_keep_alive, sizeof(no_keep_alive));
        CaStore *ca = (CaStore *)session->ca_store;
        bool own_ca = secure && ca && ca->store;
        if (own_ca) {
            DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
            WinHttpSetOption(handle, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof(flags));
        }
        Str headers = request_headers(scratch.arena, request);
        Str16 wide_headers = str16_from_str(scratch.arena, headers);
        bool sent = WinHttpSendRequest(handle, (LPCWSTR)wide_headers.str, (DWORD)wide_headers.size,
                                       body.size ? (void *)body.str : WINHTTP_NO_REQUEST_DATA, (DWORD)body.size,
                                       (DWORD)body.size, 0);
        bool received = sent && WinHttpReceiveResponse(handle, nullptr);
        error = received ? ERROR_SUCCESS : GetLastError();
        if (received && own_ca && !ca_store_vouches(ca->store, handle)) error = ERROR_WINHTTP_SECURE_INVALID_CA;
        if (received && (now_us() - start_us) / 1000 > total_ms) error = ERROR_WINHTTP_TIMEOUT;
        if (error == ERROR_SUCCESS) {
            response.head = response_head(arena, handle);
            if (http_parse_head(response.head).status == 0) error = ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
        }
        if (error == ERROR_SUCCESS && body_wanted) {
            StrList pieces = {};
            for (;;) {
                DWORD available = 0;
                if (!WinHttpQueryDataAvailable(handle, &available)) {
                    error = GetLastError();
                    break;
                }
                if (available == 0) break;
                char *piece = (char *)arena_push(scratch.arena, available, 1);
                DWORD got = 0;
                if (!piece || !WinHttpReadData(handle, piece, available, &got)) {
                    error = piece ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
                    break;
                }
                if (got == 0) break;
                str_list_push(scratch.arena, &pieces, Str{piece, got});
                if ((now_us() - start_us) / 1000 > total_ms) {
                    error = ERROR_WINHTTP_TIMEOUT;
                    break;
                }
            }
            if (error == ERROR_SUCCESS) response.body = str_list_join_plain(arena, &pieces);
        }
    }
    response.failure = http_failure_from_winhttp(error);
    response.engine_code = (u32)error;   // the engine's own code
    if (response.failure != HttpFailure_None) {
        response.head = str_empty();
        response.body = str_empty();
    }
    if (handle) WinHttpCloseHandle(handle);
    if (connection) WinHttpCloseHandle(connection);
    if (internet) WinHttpCloseHandle(internet);
    scratch_end(scratch);
    return response;
}

static bool status_is_redirect(u32 status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// A Location value read against the address that answered with it.
static Str address_resolve(Arena *arena, Str base, Str location)
{
    if (str_find(location, str_lit("://"), 0, 0) < location.size) return str_copy(arena, location);
    u64 scheme_end = str_find(base, str_lit("://"), 0, 0);
    Str scheme = str_prefix(base, scheme_end);
    if (str_match(str_lit("//"), location, StrMatch_Prefix)) return str_pushf(arena, "%S:%S", scheme, location);
    u64 authority_end = str_find_byte(base, '/', scheme_end + 3);
    Str origin = str_prefix(base, authority_end);
    if (location.size && location.str[0] == '/') return str_pushf(arena, "%S%S", origin, location);
    Str path = str_skip(base, authority_end);
    path = str_prefix(path, str_find_byte(path, '?', 0));
    u64 last_slash = 0;
    for (u64 i = 0; i < path.size; i += 1)
        if (path.str[i] == '/') last_slash = i + 1;
    return str_pushf(arena, "%S%S%S", origin, str_prefix(path, last_slash), location);
}

HttpResponse http_request(HttpSession *session, Arena *arena, Str address, Str body, const HttpRequest *request)
{
    u64 start_us = now_us();
    if (!session || !session->opened) {
        HttpResponse response = {};
        response.address = str_copy(arena, address);
        response.final_address = response.address;
        response.failure = HttpFailure_Connection;
        return response;
    }
    u64 total_ms = request->limit_ms ? request->limit_ms : session->limits.total_ms;
    HttpRequest step = *request;
    Str current = address;
    HttpResponse response = {};
    for (u32 hop = 0;; hop += 1) {
        response = request_once(session, arena, current, body, &step, hop == 0, start_us, total_ms);
        if (request->plain || response.failure != HttpFailure_None) break;
        HttpHead head = http_parse_head(response.head);
        Str location = http_head_field(head.lines, str_lit("Location"));
        if (!status_is_redirect(head.status) || location.size == 0) break;
        if (hop >= session->limits.max_redirects || (now_us() - start_us) / 1000 > total_ms) {
            // Too many hops, as libcurl says it: a failure without a kind of its own.
            response.failure = hop >= session->limits.max_redirects ? HttpFailure_Connection : HttpFailure_Timeout;
            response.head = str_empty();
            response.body = str_empty();
            break;
        }
        // A POST redirected by 301, 302 or 303 becomes a GET, as browsers do.
        if (head.status == 303 || ((head.status == 301 || head.status == 302) && step.method == HttpMethod_Post)) {
            step.method = HttpMethod_Get;
            body = str_empty();
        }
        current = address_resolve(arena, current, location);
    }
    response.address = str_copy(arena, address);
    response.elapsed_ms = (now_us() - start_us) / 1000;
    return response;
}
