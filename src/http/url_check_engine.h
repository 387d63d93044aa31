// http/url_check_engine.h: the seam between the URL check service and the
// request engine that moves its requests.
//
// The service (url_check.cpp) is written once: the result table, the hosts
// and their limits, Retry-After and the driver thread's loop, which decides
// what starts when. The engines, one backend folder each, only carry
// requests out: http/curl/ keeps them all on one curl multi handle on the
// driver thread; http/win32/ hands them to worker threads that each make one
// synchronous WinHTTP request at a time. Each engine defines every function
// marked [engine]; the engines call back the ones marked [service].
//
// Threads: all of it runs on the driver thread, except url_engine_wake (any
// thread) and url_transfer_answer (an engine's own worker threads).
// Memory: transfers and the engine's part of them live on the driver arena
// handed to url_engine_start, and are reused, never freed.
#pragma once
#include "http/url_check.h"

struct UrlCheckEntry;
struct UrlEngine;   // the engine's own state

// One request handed to the engine. The service's record, reused through
// its free list; the engine hangs its own part on it at the first start.
struct UrlTransfer {
    UrlTransfer *next_free;   // the service's free list
    UrlTransfer *next_all;    // every transfer ever made, for url_engine_stop
    UrlTransfer *next_work;   // the engine's own queues
    UrlCheckEntry *entry;
    Str address;              // the entry's, NUL-terminated
    u64 limit_ms;             // the overall limit of this request; 0: the session's
    // The answer, set by url_transfer_answer:
    u32 status;
    u32 failure;
    u64 retry_after_ms;       // u64_max: the answer asks for no wait
    void *engine;             // the engine's part, kept with the record
};

// Starts the engine's threads, if it has any. `arena` is the driver's.
UrlEngine *url_engine_start(Arena *arena, HttpSession *session, const UrlCheckConfig *config);   // [engine]
// Any thread: ends the driver's current url_engine_wait early.
void url_engine_wake(UrlEngine *engine);                                                    // [engine]
// Hands the request over; 0 once it is under way, else the HttpFailure that
// kept it from starting (the transfer is not the engine's then).
u32 url_engine_begin(UrlEngine *engine, UrlTransfer *transfer);                            // [engine]
// Waits up to `wait_ms` for finished requests or a wake, then reports each
// finished request with url_transfer_done.
void url_engine_wait(UrlEngine *engine, UrlCheckService *service, u64 wait_ms, Arena *scratch);   // [engine]
// After the driver has ended: ends the engine's threads and releases what
// the transfers from `all` on hold.
void url_engine_stop(UrlEngine *engine, UrlTransfer *all);                                  // [engine]

// Reads the answer of a finished request into the transfer.
void url_transfer_answer(UrlTransfer *transfer, const HttpResponse *response);           // [service]
// The transfer is finished and answered: its entry gets its result, or the
// request waits to be asked again.
void url_transfer_done(UrlCheckService *service, UrlTransfer *transfer);                  // [service]
