// http/curl/curl_transfer.h: one request on a libcurl easy handle, for the
// two callers of the libcurl engine: http_request, which performs it at
// once, and the URL check engine, which keeps many on one multi handle on
// its driver thread. Both set a request up here, so both obey every rule of
// http_request.h.
//
// The record is the caller's (reused from a free list, say); begin fills it
// and prepares its easy handle, which the caller performs or adds to its
// multi; once the transfer is done, end turns it into a response. The easy
// handle is kept for the next begin and closed by release. `body_arena`
// receives the body with read_body and may be null otherwise. One thread
// uses a record at a time.
#pragma once
#include "http/http_request.h"

struct HttpTransfer {
    void *easy;               // CURL *
    void *header_list;        // curl_slist *
    HttpSession *session;
    Arena *body_arena;
    StrList body;
    Str address;              // on the caller's arena, as given
    u64 start_us;
    u32 setup_failure;        // the address could not even be handed over
    b32 follow;
    b32 read_body;
    b32 head_done;            // the final head is complete
    // The stall check (on_progress):
    b32 connecting;           // this hop is not connected yet: the connect limit rules
    b32 stalled;              // ended by the check
    u64 pretransfer_us;       // libcurl's pre-transfer time when this hop connected
    u64 sent;                 // request bytes gone out
    u64 received;             // bytes the sockets have received
    s64 sockets[4];           // the transfer's open sockets; -1: none
    u64 moved_us;             // when the last byte moved either way
    u64 head_size;
    char head[http_head_capacity];
};

void http_transfer_begin(HttpTransfer *transfer, HttpSession *session, Str address, Str body,
                         const HttpRequest *request, Arena *body_arena);
HttpResponse http_transfer_end(HttpTransfer *transfer, Arena *arena, int curl_code);
void http_transfer_release(HttpTransfer *transfer);

// The failure kind of a libcurl result code.
u32 http_failure_from_curl(int curl_code);
