// http/curl/curl_url_check.cpp: the URL check engine on libcurl. Every
// request lives on one multi handle that only the driver thread touches, so
// many wait on the network at once without a thread each.
#include "http/url_check_engine.h"

#include <curl/curl.h>

#include "http/curl/curl_transfer.h"

struct UrlEngine {
    Arena *arena;             // the driver's
    HttpSession *session;
    CURLM *multi;
    CURLSH *share;            // TLS sessions and look-ups, kept across the requests to one host
};

struct CurlUrlTransfer {
    HttpTransfer http;
    b32 running;              // on the multi handle
};

UrlEngine *url_engine_start(Arena *arena, HttpSession *session, const UrlCheckConfig *config)
{
    UrlEngine *engine = push_struct<UrlEngine>(arena);
    engine->arena = arena;
    engine->session = session;
    engine->multi = curl_multi_init();
    // Only the driver thread uses the share, so it needs no lock callbacks.
    // A resumed session skips the certificate work that dominates the cost
    // of a short request, on both ends.
    engine->share = curl_share_init();
    curl_share_setopt(engine->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(engine->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    // libcurl keeps its own count too, so a connection it keeps open for
    // reuse never takes a host past the limit.
    curl_multi_setopt(engine->multi, CURLMOPT_MAX_HOST_CONNECTIONS, (long)config->per_host);
    curl_multi_setopt(engine->multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, (long)config->max_in_flight);
    return engine;
}

void url_engine_wake(UrlEngine *engine) { curl_multi_wakeup(engine->multi); }

u32 url_engine_begin(UrlEngine *engine, UrlTransfer *t)
{
    CurlUrlTransfer *c = (CurlUrlTransfer *)t->engine;
    if (!c) {
        c = push_struct<CurlUrlTransfer>(engine->arena);
        t->engine = c;
    }
    HttpRequest request = {};   // GET, default agent and accept, TLS, redirects followed
    request.limit_ms = t->limit_ms;
    http_transfer_begin(&c->http, engine->session, t->address, str_empty(), &request, nullptr);
    if (c->http.setup_failure) return c->http.setup_failure;
    curl_easy_setopt((CURL *)c->http.easy, CURLOPT_PRIVATE, (void *)t);
    curl_easy_setopt((CURL *)c->http.easy, CURLOPT_SHARE, engine->share);
    curl_multi_add_handle(engine->multi, (CURL *)c->http.easy);
    c->running = 1;
    return 0;
}

void url_engine_wait(UrlEngine *engine, UrlCheckService *service, u64 wait_ms, Arena *scratch)
{
    // A wake ends the poll; libcurl shortens it for its own timers.
    curl_multi_poll(engine->multi, nullptr, 0, (int)wait_ms, nullptr);
    int running = 0;
    curl_multi_perform(engine->multi, &running);
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(engine->multi, &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        UrlTransfer *t = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, (char **)&t);
        if (!t) continue;
        CurlUrlTransfer *c = (CurlUrlTransfer *)t->engine;
        curl_multi_remove_handle(engine->multi, (CURL *)c->http.easy);
        c->running = 0;
        HttpResponse response = http_transfer_end(&c->http, scratch, message->data.result);
        url_transfer_answer(t, &response);
        url_transfer_done(service, t);
    }
}

void url_engine_stop(UrlEngine *engine, UrlTransfer *all)
{
    for (UrlTransfer *t = all; t; t = t->next_all) {
        CurlUrlTransfer *c = (CurlUrlTransfer *)t->engine;
        if (!c) continue;
        if (c->running) curl_multi_remove_handle(engine->multi, (CURL *)c->http.easy);
        http_transfer_release(&c->http);
    }
    curl_multi_cleanup(engine->multi);
    curl_share_cleanup(engine->share);
}
