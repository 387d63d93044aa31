// http/url_check.cpp: the URL check service, written once for both engines
// (http/url_check_engine.h).
#include "http/url_check_engine.h"

#include "os/platform.h"
#include "os/work_queue.h"

const Str url_check_default_probe = str_lit("https://example.com/");
const Str url_check_no_network_warning =
    str_lit("wanted to check uris but no network connection found, uris checks skipped.");

//- records

struct UrlHost;

struct UrlCheckEntry {
    UrlCheckEntry *next;          // in its bucket
    Str address;                  // copied, NUL-terminated; never changes
    u64 hash;
    // Under the stripe lock:
    u32 status;
    u32 failure;
    u64 elapsed_ms;               // u64_max while pending: the one sign of "pending"
    u64 finished_us;
    u64 request_count;            // atomic
    // The driver thread's own:
    UrlCheckEntry *next_waiting;
    UrlHost *host;
    u64 started_us;
    u64 budget_ms;                // what is left of the overall limit for a retry; 0: the whole limit
    b32 retried;
};

struct UrlBucket {
    UrlCheckEntry *first;
    UrlCheckEntry *last;
};

struct UrlHost {
    UrlHost *next_active;
    u32 in_flight;
    b32 active;                   // on the active list
    u64 resume_us;                // a Retry-After holds the whole host until then
    UrlCheckEntry *first_waiting;
    UrlCheckEntry *last_waiting;
};

struct UrlCheckService {
    Arena *arena;
    UrlCheckConfig config;        // defaults filled in
    HttpSession *session;
    WorkQueue *queue;
    StripedTable table;
    UrlBucket buckets[url_check_bucket_count];
    UrlEngine *engine;
    ThreadRecord *driver;
    u64 stop;                     // atomic
    u64 outstanding;              // atomic
    // The driver thread's own:
    Arena *driver_arena;
    StrMap hosts;                 // "host:port" -> UrlHost *
    UrlHost *first_active;
    UrlTransfer *free_transfers;
    UrlTransfer *all_transfers;
    u32 in_flight;
};

//- the result table

static UrlCheckEntry *entry_find(UrlCheckService *s, u64 hash, Str address)
{
    for (UrlCheckEntry *e = s->buckets[hash % url_check_bucket_count].first; e; e = e->next)
        if (e->hash == hash && str_eq(e->address, address)) return e;
    return nullptr;
}

static TableStripe *stripe_of(UrlCheckService *s, u64 hash)
{
    return striped_stripe_of(&s->table, hash % url_check_bucket_count);
}

static bool entry_expired(UrlCheckService *s, UrlCheckEntry *e, u64 now)
{
    if (e->elapsed_ms == u64_max || e->failure == UrlCheckFailure_TooLong) return false;
    u64 age_ms = e->status ? s->config.success_max_age_ms : s->config.failure_max_age_ms;
    return now - e->finished_us >= age_ms * 1000;
}

u32 url_check_submit(UrlCheckService *s, Str address)
{
    u64 hash = str_hash(address);
    TableStripe *stripe = stripe_of(s, hash);
    u64 now = now_us();
    srw_lock_shared(stripe->slim);
    UrlCheckEntry *seen = entry_find(s, hash, address);
    bool known = seen && !entry_expired(s, seen, now);
    srw_unlock_shared(stripe->slim);
    if (known) return UrlSubmit_Known;

    // Two submitters may both get here: the second look under the exclusive
    // lock lets only one of them create or renew the entry and queue it.
    if (s->config.between_looks) s->config.between_looks(s->config.user, address);
    bool too_long = address.size > url_check_address_limit(s);
    bool queue_it = false;
    srw_lock_exclusive(stripe->slim);
    UrlCheckEntry *e = entry_find(s, hash, address);
    if (!e) {
        e = push_struct<UrlCheckEntry>(stripe->arena);
        if (e) {
            e->address = str_copy(stripe->arena, address);
            e->hash = hash;
            e->elapsed_ms = u64_max;
            UrlBucket *bucket = &s->buckets[hash % url_check_bucket_count];
            list_append(bucket, e);
            queue_it = true;
        }
    } else if (entry_expired(s, e, now)) {
        e->elapsed_ms = u64_max;
        queue_it = true;
    }
    if (queue_it && too_long) {
        e->status = 0;
        e->failure = UrlCheckFailure_TooLong;
        e->elapsed_ms = 0;
        e->finished_us = now;
    }
    srw_unlock_exclusive(stripe->slim);
    if (!queue_it) return e ? UrlSubmit_Known : UrlSubmit_Refused;
    if (too_long) return UrlSubmit_Refused;

    atomic_add_u64(&s->outstanding, 1);
    queue_push(s->queue, address, u64_max);   // waits while the driver catches up
    url_engine_wake(s->engine);
    return UrlSubmit_Queued;
}

UrlCheckResult url_check_lookup(UrlCheckService *s, Str address)
{
    UrlCheckResult result = {};
    u64 hash = str_hash(address);
    TableStripe *stripe = stripe_of(s, hash);
    srw_lock_shared(stripe->slim);
    UrlCheckEntry *e = entry_find(s, hash, address);
    if (e) {
        result.found = 1;
        result.pending = e->elapsed_ms == u64_max;
        result.status = e->status;
        result.failure = e->failure;
        result.elapsed_ms = result.pending ? 0 : e->elapsed_ms;
        result.request_count = atomic_load_u64(&e->request_count);
    }
    srw_unlock_shared(stripe->slim);
    return result;
}

u64 url_check_outstanding(UrlCheckService *s) { return atomic_load_u64(&s->outstanding); }
u64 url_check_address_limit(UrlCheckService *s) { return queue_payload_limit(s->queue); }

Str url_check_refusal_text(Arena *arena, UrlCheckService *s, Str address)
{
    return str_pushf(arena, "uri of %llu bytes is too long to check (at most %llu), it is skipped.",
                     (unsigned long long)address.size, (unsigned long long)url_check_address_limit(s));
}

static void entry_store(UrlCheckService *s, UrlCheckEntry *e, u32 status, u32 failure)
{
    u64 now = now_us();
    TableStripe *stripe = stripe_of(s, e->hash);
    srw_lock_exclusive(stripe->slim);
    e->status = status;
    e->failure = failure;
    e->finished_us = now;
    e->elapsed_ms = min_of<u64>((now - e->started_us) / 1000, u64_max - 1);
    srw_unlock_exclusive(stripe->slim);
    atomic_add_u64(&s->outstanding, (u64)-1);
    if (s->config.on_result) s->config.on_result(s->config.user, e->address);
}

//- hosts (driver thread)

// Politeness is per server: host and port, as the engine reads the address.
static UrlHost *host_of(UrlCheckService *s, Str address, Arena *scratch)
{
    Str key = http_address_host_key(scratch, address);
    StrMapNode *node = str_map_lookup(&s->hosts, key);
    if (node) return (UrlHost *)node->value;
    UrlHost *h = push_struct<UrlHost>(s->driver_arena);
    str_map_insert(s->driver_arena, &s->hosts, key, (u64)h);
    return h;
}

static void host_activate(UrlCheckService *s, UrlHost *h)
{
    if (h->active) return;
    h->active = 1;
    h->next_active = s->first_active;
    s->first_active = h;
}

static void host_wait_back(UrlCheckService *s, UrlHost *h, UrlCheckEntry *e)
{
    e->next_waiting = nullptr;
    if (h->last_waiting) h->last_waiting->next_waiting = e;
    else h->first_waiting = e;
    h->last_waiting = e;
    host_activate(s, h);
}

static void host_wait_front(UrlCheckService *s, UrlHost *h, UrlCheckEntry *e)
{
    e->next_waiting = h->first_waiting;
    h->first_waiting = e;
    if (!h->last_waiting) h->last_waiting = e;
    host_activate(s, h);
}

static UrlCheckEntry *host_take(UrlHost *h)
{
    UrlCheckEntry *e = h->first_waiting;
    h->first_waiting = e->next_waiting;
    if (!h->first_waiting) h->last_waiting = nullptr;
    e->next_waiting = nullptr;
    return e;
}

//- the driver thread

static void take_submissions(UrlCheckService *s, Arena *scratch)
{
    Str address;
    while (queue_pop_until(s->queue, scratch, 0, &address)) {
        u64 hash = str_hash(address);
        TableStripe *stripe = stripe_of(s, hash);
        srw_lock_shared(stripe->slim);
        UrlCheckEntry *e = entry_find(s, hash, address);
        bool pending = e && e->elapsed_ms == u64_max;
        srw_unlock_shared(stripe->slim);
        if (!pending) continue;
        e->host = host_of(s, e->address, scratch);
        e->retried = 0;
        e->budget_ms = 0;
        e->started_us = now_us();
        host_wait_back(s, e->host, e);
    }
}

static void transfer_start(UrlCheckService *s, UrlCheckEntry *e)
{
    UrlTransfer *t = s->free_transfers;
    if (t) s->free_transfers = t->next_free;
    else {
        t = push_struct<UrlTransfer>(s->driver_arena);
        t->next_all = s->all_transfers;
        s->all_transfers = t;
    }
    t->entry = e;
    t->address = e->address;
    t->limit_ms = e->budget_ms;
    atomic_add_u64(&e->request_count, 1);
    e->host->in_flight += 1;
    s->in_flight += 1;
    u32 failure = url_engine_begin(s->engine, t);
    if (failure) {
        e->host->in_flight -= 1;
        s->in_flight -= 1;
        t->next_free = s->free_transfers;
        s->free_transfers = t;
        entry_store(s, e, 0, failure);
    }
}

// Starts what the limits allow, one per host per round so that one busy
// host cannot take every slot. Returns when the earliest held host resumes.
static u64 transfers_start(UrlCheckService *s, u64 now)
{
    u64 next_resume = u64_max;
    bool started = true;
    while (started && s->in_flight < s->config.max_in_flight) {
        started = false;
        UrlHost **link = &s->first_active;
        while (*link) {
            UrlHost *h = *link;
            if (!h->first_waiting) {
                h->active = 0;
                *link = h->next_active;
                continue;
            }
            if (h->resume_us > now) next_resume = min_of(next_resume, h->resume_us);
            else if (h->in_flight < s->config.per_host && s->in_flight < s->config.max_in_flight) {
                transfer_start(s, host_take(h));
                started = true;
            }
            link = &h->next_active;
        }
    }
    return next_resume;
}

void url_transfer_answer(UrlTransfer *t, const HttpResponse *response)
{
    HttpHead head = http_parse_head(response->head);
    t->status = head.status;
    t->failure = response->failure;
    t->retry_after_ms = http_retry_after_ms(head.lines);
}

void url_transfer_done(UrlCheckService *s, UrlTransfer *t)
{
    UrlCheckEntry *e = t->entry;
    UrlHost *h = e->host;
    h->in_flight -= 1;
    s->in_flight -= 1;
    t->next_free = s->free_transfers;
    s->free_transfers = t;

    if ((t->status == 429 || t->status == 503) && !e->retried) {
        // Asked to come back later: once, and only if the answer can still
        // arrive within the overall limit.
        u64 wait_ms = t->retry_after_ms;
        u64 now = now_us();
        u64 spent_ms = (now - e->started_us) / 1000;
        u64 total_ms = s->session->limits.total_ms;
        if (wait_ms != u64_max && spent_ms + wait_ms < total_ms) {
            e->retried = 1;
            e->budget_ms = total_ms - spent_ms - wait_ms;
            h->resume_us = max_of(h->resume_us, now + wait_ms * 1000);
            host_wait_front(s, h, e);
            return;
        }
    }
    entry_store(s, e, t->status, t->failure);
}

static void url_check_driver(u64 argument)
{
    UrlCheckService *s = (UrlCheckService *)argument;
    thread_set_name("[HTTP] Request #%I64u", (u64)0);
    while (!atomic_load_u64(&s->stop)) {
        ArenaTemp scratch = scratch_begin(nullptr, 0);
        take_submissions(s, scratch.arena);
        u64 now = now_us();
        u64 next_resume = transfers_start(s, now);
        // A submit or a finished request ends the wait early.
        u64 wait_ms = 1000;
        if (next_resume != u64_max) wait_ms = clamp_of<u64>(1, (next_resume - now + 999) / 1000, wait_ms);
        url_engine_wait(s->engine, s, wait_ms, scratch.arena);
        scratch_end(scratch);
    }
}

//- start-up probe

// Any HTTPS endpoint that answers a POST will do; the request keeps the
// shape of a browser's form post so that picky endpoints answer it too.
static HttpResponse probe_send(UrlCheckService *s, Arena *arena, Str address)
{
    Str host = address;
    Str origin = address;
    http_address_origin(arena, address, &origin, &host);
    Str body = str_pushf(arena, "gl=FR&m=0&app=0&pc=wyn&continue=%S&x=6&bl=wyn_probe&hl=en&src=1&cm=2&set_eom=true",
                         http_form_escape(arena, address));

    HttpRequest request = {};
    request.method = HttpMethod_Post;
    request.plain = 1;
    request.accept = str_lit("text/html,application/xhtml+xml,application/xml;q=0.9,image/avif,image/webp,*/*;q=0.8");
    request.extra_headers = str_pushf(arena,
                                      "Host: %S\r\n"
                                      "Accept-Language: en-US,en;q=0.5\r\n"
                                      "Accept-Encoding: identity\r\n"
                                      "Referer: %S/\r\n"
                                      "Content-Type: application/x-www-form-urlencoded\r\n"
                                      "Origin: %S\r\n"
                                      "DNT: 1\r\n"
                                      "Sec-GPC: 1\r\n"
                                      "Connection: keep-alive\r\n"
                                      "Upgrade-Insecure-Requests: 1\r\n"
                                      "Sec-Fetch-Dest: document\r\n"
                                      "Sec-Fetch-Mode: navigate\r\n"
                                      "Sec-Fetch-Site: none\r\n"
                                      "Sec-Fetch-User: ?1\r\n"
                                      "Priority: u=0, i\r\n"
                                      "Pragma: no-cache\r\n"
                                      "Cache-Control: no-cache\r\n"
                                      "TE: trailers",
                                      host, origin, origin);
    return http_request(s->session, arena, address, body, &request);
}

//- lifetime

UrlCheckService *url_check_start(const UrlCheckConfig *config, UrlCheckStart *out_start)
{
    UrlCheckStart start = {1, 0, 0, 0, str_empty()};
    Arena *arena = arena_alloc(MiB(32), KiB(4));
    UrlCheckService *s = arena ? push_struct<UrlCheckService>(arena) : nullptr;
    if (!s) {
        if (out_start) *out_start = start;
        return nullptr;
    }
    s->arena = arena;
    UrlCheckConfig c = config ? *config : UrlCheckConfig{};
    if (!c.max_in_flight) c.max_in_flight = 32;
    if (!c.per_host) c.per_host = 4;
    if (!c.queue_capacity) c.queue_capacity = KiB(512);
    if (!c.failure_max_age_ms) c.failure_max_age_ms = 10 * 60 * 1000;
    if (!c.success_max_age_ms) c.success_max_age_ms = 24 * 60 * 60 * 1000;
    c.probe_address = str_copy(arena, c.probe_address.size ? c.probe_address : url_check_default_probe);
    c.ca_file = str_copy(arena, c.ca_file);
    s->config = c;

    HttpSessionOptions options = {c.ca_file, c.limits};
    s->session = http_session_open(arena, &options);
    s->queue = queue_alloc(arena, c.queue_capacity);
    u64 stripes = clamp_of<u64>(1, system_info()->processor_count, url_check_bucket_count);
    striped_table_init(arena, &s->table, url_check_bucket_count, stripes, StripeLock_Slim, KiB(64), KiB(4));
    s->driver_arena = arena_alloc(MiB(64), KiB(64));
    s->hosts = str_map_alloc(s->driver_arena, 1024);
    s->engine = url_engine_start(s->driver_arena, s->session, &s->config);
    s->driver = thread_start((u64)s, url_check_driver);

    if (c.probe) {
        ArenaTemp scratch = scratch_begin(nullptr, 0);
        HttpResponse response = probe_send(s, scratch.arena, c.probe_address);
        start.probed = 1;
        start.probe_status = http_parse_head(response.head).status;
        start.probe_failure = response.failure;
        start.network_usable = start.probe_status != 0;
        if (!start.network_usable) start.warning = url_check_no_network_warning;
        scratch_end(scratch);
    }
    if (out_start) *out_start = start;
    return s;
}

void url_check_stop(UrlCheckService *s)
{
    if (!s) return;
    atomic_store_u64(&s->stop, 1);
    url_engine_wake(s->engine);
    thread_join(s->driver);
    url_engine_stop(s->engine, s->all_transfers);
    for (u64 i = 0; i < s->table.stripe_count; i += 1) arena_release(s->table.stripes[i].arena);
    arena_release(s->driver_arena);
    arena_release(s->arena);
}
