// http/win32/winhttp_url_check.cpp: the URL check engine on WinHTTP.
//
// WinHTTP has no multi interface: worker threads each make one synchronous
// request at a time. The driver keeps the per-host and overall limits by
// handing out only what they allow, so the workers need no count of their own.
#include "http/url_check_engine.h"

#include "os/platform.h"
#include "os/work_queue.h"

constexpr u32 url_engine_worker_limit = 16;

struct UrlEngine {
    HttpSession *session;
    CriticalSection *lock;    // guards the lists below, `woken` and `stop`
    CondVar *work_ready;      // workers wait here for work
    CondVar *work_done;       // the driver waits here for answers and wakes
    UrlTransfer *first_work;
    UrlTransfer *last_work;
    UrlTransfer *first_done;
    b32 woken;
    b32 stop;
    u32 worker_count;
    ThreadRecord *workers[url_engine_worker_limit];
};

static void url_engine_worker(u64 argument)
{
    UrlEngine *engine = (UrlEngine *)argument;
    static u64 worker_counter;
    thread_set_name("[HTTP] Request #%I64u", atomic_add_u64(&worker_counter, 1) + 1);
    for (;;) {
        cs_enter(engine->lock);
        while (!engine->first_work && !engine->stop) wait_cs(engine->work_ready, engine->lock, u64_max);
        UrlTransfer *t = engine->stop ? nullptr : engine->first_work;
        if (t) {
            engine->first_work = t->next_work;
            if (!engine->first_work) engine->last_work = nullptr;
        }
        cs_leave(engine->lock);
        if (!t) return;   // stopping
        ArenaTemp scratch = scratch_begin(nullptr, 0);
        HttpRequest request = {};   // GET, default agent and accept, TLS, redirects followed
        request.limit_ms = t->limit_ms;
        HttpResponse response = http_request(engine->session, scratch.arena, t->address, str_empty(), &request);
        url_transfer_answer(t, &response);
        scratch_end(scratch);
        cs_enter(engine->lock);
        t->next_work = engine->first_done;
        engine->first_done = t;
        cv_broadcast(engine->work_done);
        cs_leave(engine->lock);
    }
}

UrlEngine *url_engine_start(Arena *arena, HttpSession *session, const UrlCheckConfig *config)
{
    UrlEngine *engine = push_struct<UrlEngine>(arena);
    engine->session = session;
    engine->lock = cs_alloc();
    engine->work_ready = cv_alloc();
    engine->work_done = cv_alloc();
    engine->worker_count = min_of<u32>(config->max_in_flight, url_engine_worker_limit);
    for (u32 i = 0; i < engine->worker_count; i += 1) engine->workers[i] = thread_start((u64)engine, url_engine_worker);
    return engine;
}

void url_engine_wake(UrlEngine *engine)
{
    cs_enter(engine->lock);
    engine->woken = 1;
    cv_broadcast(engine->work_done);
    cs_leave(engine->lock);
}

u32 url_engine_begin(UrlEngine *engine, UrlTransfer *t)
{
    t->next_work = nullptr;
    cs_enter(engine->lock);
    if (engine->last_work) engine->last_work->next_work = t;
    else engine->first_work = t;
    engine->last_work = t;
    cv_broadcast(engine->work_ready);
    cs_leave(engine->lock);
    return 0;
}

void url_engine_wait(UrlEngine *engine, UrlCheckService *service, u64 wait_ms, Arena *scratch)
{
    (void)scratch;
    cs_enter(engine->lock);
    if (!engine->first_done && !engine->woken) wait_cs(engine->work_done, engine->lock, now_us() + wait_ms * 1000);
    UrlTransfer *done = engine->first_done;
    engine->first_done = nullptr;
    engine->woken = 0;
    cs_leave(engine->lock);
    while (done) {
        UrlTransfer *next = done->next_work;
        url_transfer_done(service, done);
        done = next;
    }
}

void url_engine_stop(UrlEngine *engine, UrlTransfer *all)
{
    (void)all;   // nothing of the engine's hangs on them
    cs_enter(engine->lock);
    engine->stop = 1;
    cv_broadcast(engine->work_ready);
    cs_leave(engine->lock);
    for (u32 i = 0; i < engine->worker_count; i += 1) thread_join(engine->workers[i]);
}
