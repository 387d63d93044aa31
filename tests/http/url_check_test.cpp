// test-label: concurrency
//
// The URL check service against the local HTTPS server. Every wait is
// bounded and names what it waited for; the server's own counts show how
// often and how many at once it was asked.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "../test_support.h"
#include "http/url_check.h"
#include "test_server.h"

struct UrlCheckTest : ::testing::Test {
    LocalServer *server = nullptr;
    Arena *arena = arena_alloc(MiB(8), KiB(4));
    HttpSession *stats_session = nullptr;
    UrlCheckService *service = nullptr;
    UrlCheckConfig config = {};
    std::atomic<int> results{0};
    std::atomic<int> arrived{0};   // submitters held between their two looks

    void start_server(int hosts = 1)
    {
        server = new LocalServer(hosts);
        ASSERT_EQ(server->failure, "");
        stats_session = http_session_open(arena, nullptr);
        config.ca_file = as_str(server->ca_file);
        config.on_result = [](void *user, Str) { ((UrlCheckTest *)user)->results += 1; };
        config.user = this;
    }
    UrlCheckStart start_service()
    {
        UrlCheckStart start = {};
        service = url_check_start(&config, &start);
        return start;
    }
    void TearDown() override
    {
        url_check_stop(service);
        delete server;
        arena_release(arena);
    }

    UrlCheckResult wait_result(const std::string &address, int seconds = 20)
    {
        bool done = wait_for([&] { return !url_check_lookup(service, as_str(address)).pending; }, seconds);
        EXPECT_TRUE(done) << address << " still pending after " << seconds << " s";
        return url_check_lookup(service, as_str(address));
    }
    long requests_of(const std::string &path) { return json_number(server->stats(stats_session), path); }
};

//- the start-up probe

TEST_F(UrlCheckTest, TheProbeTellsWhetherTheNetworkIsUsable)
{
    start_server();
    std::string answers = server->https("/echo"), silent = "https://127.0.0.1:" + std::to_string(closed_port()) + "/";
    struct Case { b32 probe; std::string address; b32 usable; u32 status, failure; const char *warning; } cases[] = {
        {1, answers, 1, 200, 0, ""},
        {1, silent, 0, 0, HttpFailure_Connection,
         "wanted to check uris but no network connection found, uris checks skipped."},
        {0, silent, 1, 0, 0, ""},   // without URL checks, no probe is sent
    };
    for (const Case &c : cases) {
        config.probe = c.probe;
        config.probe_address = as_str(c.address);
        UrlCheckStart start = start_service();
        EXPECT_EQ(start.probed, c.probe);
        EXPECT_EQ(start.network_usable, c.usable) << c.address;
        EXPECT_EQ(start.probe_status, c.status);
        EXPECT_EQ(start.probe_failure, c.failure);
        EXPECT_EQ(s(start.warning), c.warning);
        url_check_stop(service);
        service = nullptr;
    }
    EXPECT_EQ(requests_of("/echo"), 1);
}

//- results

TEST_F(UrlCheckTest, EachOutcomeIsStoredWithItsStatusAndKind)
{
    start_server();
    start_service();
    struct Case { std::string address; u32 status; u32 failure; } cases[] = {
        {server->https("/ok"), 200, 0},
        {server->https("/missing"), 404, 0},                  // reachable: a status is an answer
        {server->https("/redirect?to=/ok"), 200, 0},
        {server->https("/loop"), 0, HttpFailure_Connection},
        {server->http("/ok"), 0, HttpFailure_SecureChannel},  // checks always want TLS
        {"https://127.0.0.1:" + std::to_string(closed_port()) + "/", 0, HttpFailure_Connection},
        {server->https("/slow?ms=700"), 200, 0},
    };
    for (Case &c : cases) EXPECT_EQ(url_check_submit(service, as_str(c.address)), (u32)UrlSubmit_Queued);
    // Pending means no result yet and nothing else: a failure without a
    // status is a finished result (wait_result waits for the end).
    UrlCheckResult during = url_check_lookup(service, as_str(cases[std::size(cases) - 1].address));
    EXPECT_TRUE(during.found && during.pending);
    for (Case &c : cases) {
        UrlCheckResult r = wait_result(c.address);
        EXPECT_TRUE(r.found);
        EXPECT_EQ(r.status, c.status) << c.address;
        EXPECT_EQ(r.failure, c.failure) << c.address;
        EXPECT_EQ(r.request_count, 1u) << c.address;
    }
    EXPECT_EQ(results.load(), (int)std::size(cases));
    EXPECT_EQ(url_check_outstanding(service), 0u);
    EXPECT_FALSE(url_check_lookup(service, str_lit("https://never.submitted/")).found);
}

TEST_F(UrlCheckTest, RetryAfterIsHonouredOnceWithinTheOverallLimit)
{
    start_server();
    start_service();
    std::string soon = server->https("/busy?after=1");
    std::string late = server->https("/busy?after=60");   // beyond the 15 s limit: not waited for
    u64 begin = now_us();
    url_check_submit(service, as_str(soon));
    url_check_submit(service, as_str(late));
    UrlCheckResult l = wait_result(late);
    EXPECT_EQ(l.status, 429u);
    EXPECT_EQ(l.request_count, 1u);
    UrlCheckResult r = wait_result(soon);
    EXPECT_EQ(r.status, 200u);
    EXPECT_EQ(r.request_count, 2u);
    EXPECT_GE(now_us() - begin, 1000000u);   // the wait was kept
    EXPECT_GE(r.elapsed_ms, 1000u);
    EXPECT_EQ(requests_of("/busy?after=1"), 2);
    EXPECT_EQ(requests_of("/busy?after=60"), 1);
}

//- limits

TEST_F(UrlCheckTest, TheLimitsPerHostAndOverallHoldExactly)
{
    // Requests are held by the server until released, so what runs at once
    // is counted twice: by the server, and as the requests wyn has started
    // (libcurl's own caps can hide an extra one from the server).
    start_server(3);
    config.per_host = 2;
    config.max_in_flight = 3;
    config.limits.stall_ms = 30000;
    config.limits.total_ms = 30000;
    start_service();
    std::vector<std::string> addresses[3];
    auto submit = [&](int host) {
        for (int i = 0; i < 4; i += 1) {
            addresses[host - 1].push_back(server->https_on(host, "/hold?i=" + std::to_string(i)));
            url_check_submit(service, as_str(addresses[host - 1].back()));
        }
    };
    auto started = [&](int host) {
        int count = 0;
        for (auto &a : addresses[host - 1]) count += url_check_lookup(service, as_str(a)).request_count > 0;
        return count;
    };
    auto held = [&](const char *key) { return json_number(server->stats(stats_session), key); };
    // One host alone fills its own limit, and no more.
    submit(1);
    EXPECT_TRUE(wait_for([&] { return held("127.0.0.1") == 2; }, 10)) << server->stats(stats_session);
    EXPECT_EQ(started(1), 2);
    // The others then fill what is left of the overall limit.
    submit(2);
    submit(3);
    EXPECT_TRUE(wait_for([&] { return held("all") == 3; }, 10)) << server->stats(stats_session);
    EXPECT_EQ(started(1) + started(2) + started(3), 3);
    server->ask(stats_session, "/__release");
    for (auto &list : addresses)
        for (auto &a : list) EXPECT_EQ(wait_result(a).status, 200u) << a;
    // Nor were the limits passed once the requests came and went.
    std::string stats = server->stats(stats_session);
    EXPECT_EQ(json_number(stats, "127.0.0.1"), 2) << stats;
    EXPECT_LE(std::max(json_number(stats, "127.0.0.2"), json_number(stats, "127.0.0.3")), 2) << stats;
    EXPECT_EQ(json_number(stats, "all"), 3) << stats;
}

TEST_F(UrlCheckTest, AnAddressTooLongForTheQueueIsRefusedNotWaitedFor)
{
    config.queue_capacity = 1024;
    start_service();
    std::string longest(url_check_address_limit(service), 'a');
    std::string too_long = "https://127.0.0.1/" + std::string(2000, 'x');
    EXPECT_EQ(url_check_submit(service, as_str(too_long)), (u32)UrlSubmit_Refused);
    UrlCheckResult r = url_check_lookup(service, as_str(too_long));
    EXPECT_TRUE(r.found);
    EXPECT_FALSE(r.pending);   // a document linking it must not wait for ever
    EXPECT_EQ(r.failure, UrlCheckFailure_TooLong);
    EXPECT_EQ(r.request_count, 0u);
    Str text = url_check_refusal_text(arena, service, as_str(too_long));
    EXPECT_EQ(s(text), "uri of 2018 bytes is too long to check (at most 1016), it is skipped.");
    EXPECT_EQ(url_check_submit(service, as_str(too_long)), (u32)UrlSubmit_Known);
    EXPECT_EQ(url_check_outstanding(service), 0u);
}

TEST_F(UrlCheckTest, ResultsExpireFailuresSoonerThanSuccesses)
{
    start_server();
    config.failure_max_age_ms = 300;
    config.success_max_age_ms = 60000;
    start_service();
    std::string good = server->https("/ok?fresh");
    std::string bad = "https://127.0.0.1:" + std::to_string(closed_port()) + "/gone";
    url_check_submit(service, as_str(good));
    url_check_submit(service, as_str(bad));
    wait_result(good);
    wait_result(bad);
    EXPECT_EQ(url_check_submit(service, as_str(bad)), (u32)UrlSubmit_Known);
    sleep_ms(400);
    EXPECT_EQ(url_check_submit(service, as_str(bad)), (u32)UrlSubmit_Queued);
    EXPECT_EQ(url_check_submit(service, as_str(good)), (u32)UrlSubmit_Known);
    UrlCheckResult again = wait_result(bad);
    EXPECT_EQ(again.request_count, 2u);
    EXPECT_EQ(url_check_lookup(service, as_str(good)).request_count, 1u);
    EXPECT_EQ(requests_of("/ok?fresh"), 1);
}

//- many threads

TEST_F(UrlCheckTest, TwoFirstSubmittersOfAnAddressMakeOneEntryAndOneRequest)
{
    start_server();
    // Each submitter waits after its first look until both have looked, so
    // both are sure to find nothing and race for the insert.
    config.between_looks = [](void *user, Str) {
        std::atomic<int> &arrived = ((UrlCheckTest *)user)->arrived;
        arrived += 1;
        wait_for([&] { return arrived.load() >= 2; }, 5);
    };
    start_service();
    std::string address = server->https("/ok?race");
    u32 outcome[2] = {};
    std::thread first([&] { outcome[0] = url_check_submit(service, as_str(address)); });
    std::thread second([&] { outcome[1] = url_check_submit(service, as_str(address)); });
    first.join();
    second.join();
    EXPECT_EQ(arrived.load(), 2);
    EXPECT_EQ(outcome[0] + outcome[1], (u32)UrlSubmit_Queued + (u32)UrlSubmit_Known);
    EXPECT_EQ(wait_result(address).request_count, 1u);
    EXPECT_TRUE(wait_for([&] { return url_check_outstanding(service) == 0; }, 10));
    sleep_ms(100);   // room for a wrong second request to show up in the counts
    EXPECT_EQ(requests_of("/ok?race"), 1);
    EXPECT_EQ(results.load(), 1);
}

TEST_F(UrlCheckTest, ManyThreadsSubmittingTheSameAddressesCauseOneRequestEach)
{
    start_server();
    start_service();
    const int address_count = 40, thread_count = 8;
    std::vector<std::string> addresses;
    for (int i = 0; i < address_count; i += 1) addresses.push_back(server->https("/ok?n=" + std::to_string(i)));
    std::atomic<int> queued{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; t += 1)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; round += 1)
                for (int i = 0; i < address_count; i += 1) {
                    const std::string &a = addresses[(i + t * 7) % address_count];
                    if (url_check_submit(service, as_str(a)) == UrlSubmit_Queued) queued += 1;
                    url_check_lookup(service, as_str(a));
                }
        });
    for (auto &t : threads) t.join();
    EXPECT_EQ(queued.load(), address_count);
    EXPECT_TRUE(wait_for([&] { return url_check_outstanding(service) == 0; }, 30)) << "requests still outstanding";
    for (auto &a : addresses) {
        UrlCheckResult r = url_check_lookup(service, as_str(a));
        EXPECT_EQ(r.status, 200u) << a;
        EXPECT_EQ(r.request_count, 1u) << a;
    }
    EXPECT_EQ(results.load(), address_count);
    std::string stats = server->stats(stats_session);
    for (int i = 0; i < address_count; i += 1) EXPECT_EQ(json_number(stats, "/ok?n=" + std::to_string(i)), 1);
}
