// http/url_check.h: the URL check service. Every web address named in a
// document is requested once and the outcome remembered, so link checks can
// report unreachable and insecure addresses.
//
// Submission is cheap and deduplicating: the first submit of an address
// creates its entry (pending) and queues it; later submits find the entry and
// return. One driver thread, "[HTTP] Request #0", keeps up to `max_in_flight`
// requests going at once (on a curl multi handle, or on WinHTTP worker
// threads: http/url_check_engine.h), at most `per_host` of them to one host
// (host and port), and asks a host that answers 429 or 503 with
// Retry-After again once, after the wait, when that still fits in the overall
// limit. Results expire: a failure is asked again when its address is
// submitted after `failure_max_age_ms`, a success after `success_max_age_ms`.
//
// Memory: the service lives on its own arena; entries live on their stripe's
// arena and are never removed. Lookups copy the result out under the stripe
// lock; no pointer into the table ever leaves this module.
//
// Threads: submit and lookup from any thread. `on_result` runs on the driver
// thread after a result is stored (no lock held); it must not block long.
//
// Failure: nothing stops the program. A request that fails is a result with
// status 0 and a failure kind (HttpFailure). An address longer than the queue
// can ever hold is not requested: it gets a final result with failure kind
// UrlCheckFailure_TooLong at once, and submit says so, so the caller can warn
// (url_check_refusal_text) instead of waiting for room that never comes.
#pragma once
#include "http/http_request.h"

//- configuration

struct UrlCheckConfig {
    u32 max_in_flight;            // 0: 32
    u32 per_host;                 // 0: 4
    b32 probe;                    // send the start-up probe: set when URL checks are on
    Str probe_address;            // empty: url_check_default_probe
    Str ca_file;                  // certificates trusted besides the system's (tests)
    HttpLimits limits;            // zero fields take http_default_limits
    u64 queue_capacity;           // 0: 512 KiB
    u64 failure_max_age_ms;       // 0: ten minutes
    u64 success_max_age_ms;       // 0: a day
    void (*on_result)(void *user, Str address);   // may be null
    void *user;
    // Tests only: called by a submitter that did not find the address, before
    // it looks again under the exclusive lock, so a test can hold it there.
    void (*between_looks)(void *user, Str address);
};

extern const Str url_check_default_probe;
extern const Str url_check_no_network_warning;

constexpr u64 url_check_bucket_count = 256;
constexpr u32 UrlCheckFailure_TooLong = 6;   // beside the HttpFailure kinds: never requested

//- records handed out

struct UrlCheckStart {
    b32 network_usable;           // true when no probe was sent
    b32 probed;
    u32 probe_status;
    u32 probe_failure;
    Str warning;                  // url_check_no_network_warning, or empty
};

enum UrlSubmitResult : u32 {
    UrlSubmit_Queued = 1,         // a request will be made (first sight, or an expired result)
    UrlSubmit_Known = 2,          // pending or answered already
    UrlSubmit_Refused = 3,        // too long: stored as UrlCheckFailure_TooLong
};

struct UrlCheckResult {
    b32 found;
    b32 pending;                  // found, and no result stored yet
    u32 status;                   // HTTP status, 0 when there was no answer
    u32 failure;                  // HttpFailure, or UrlCheckFailure_TooLong
    u64 elapsed_ms;
    u64 request_count;            // requests made for this address so far (a Retry-After counts twice)
};

struct UrlCheckService;   // opaque

//- service

// Starts the driver thread and, with config->probe, sends the probe and
// reports whether the network is usable. Null only when memory is refused.
UrlCheckService *url_check_start(const UrlCheckConfig *config, UrlCheckStart *out_start);
// Ends the driver thread and releases everything (tests and tools; wyn's own
// service lives as long as the process). No other call may run meanwhile.
void url_check_stop(UrlCheckService *service);

u32 url_check_submit(UrlCheckService *service, Str address);   // UrlSubmitResult
UrlCheckResult url_check_lookup(UrlCheckService *service, Str address);
// Submitted addresses whose result is not stored yet.
u64 url_check_outstanding(UrlCheckService *service);
// The longest address submit accepts.
u64 url_check_address_limit(UrlCheckService *service);
// The warning for a refused address, on `arena`.
Str url_check_refusal_text(Arena *arena, UrlCheckService *service, Str address);
