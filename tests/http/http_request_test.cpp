// The request engine against a real local server on 127.0.0.1, over plain
// HTTP and over HTTPS with a certificate made for the test run.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "../test_support.h"
#include "http/curl/curl_transfer.h"
#include "test_server.h"

//- heads

TEST(HttpHead, ReadsStatusVersionAndLinesOrNoStatusWithoutThem)
{
    HttpHead h = http_parse_head(str_lit("  HTTP/1.1 404 Not Found\r\nServer: x\r\nRetry-After: 7\r\n\r\n"));
    EXPECT_EQ(h.status, 404u);
    EXPECT_EQ(s(h.version), "1.1");
    EXPECT_EQ(s(h.lines), "Server: x\r\nRetry-After: 7\r\n\r\n");
    EXPECT_EQ(s(http_head_field(h.lines, str_lit("retry-after"))), "7");
    EXPECT_EQ(http_head_field(h.lines, str_lit("Location")).size, 0u);
    EXPECT_EQ(http_retry_after_ms(h.lines), 7000u);

    for (Str head : {str_empty(), str_lit("garbage\r\nA: b\r\n"), str_lit("HTTP/1.1 40*4 x"), str_lit("HTTP/1.1 2000 x"),
                     str_lit("HTTP/1.1 099 x")})
        EXPECT_EQ(http_parse_head(head).status, 0u) << s(head);
    EXPECT_EQ(s(http_parse_head(str_lit("HTTP/2 200")).version), "2");
    EXPECT_EQ(http_parse_head(str_lit("HTTP/2 200")).status, 200u);

    // Retry-After takes seconds or a date.
    EXPECT_EQ(http_retry_after_ms(str_lit("Retry-After: 0\r\n")), 0u);
    EXPECT_EQ(http_retry_after_ms(str_lit("Other: 1\r\n")), u64_max);
    EXPECT_EQ(http_retry_after_ms(str_lit("Retry-After: soon\r\n")), u64_max);
    EXPECT_EQ(http_retry_after_ms(str_lit("Retry-After: Wed, 32 Oct 2015 07:28:00 GMT\r\n")), u64_max);
    // A date in the past asks for no wait at all.
    EXPECT_EQ(http_retry_after_ms(str_lit("Retry-After: Wed, 21 Oct 2015 07:28:00 GMT\r\n")), 0u);
    // The three spellings of one moment, 2,997,993,600 s after 1970.
    for (std::string date : {"Thu, 01 Jan 2065 00:00:00 GMT", "Thursday, 01-Jan-65 00:00:00 GMT",
                             "Thu Jan  1 00:00:00 2065"}) {
        u64 expected = (2997993600ull - (u64)time(nullptr)) * 1000;
        u64 ms = http_retry_after_ms(as_str("Retry-After: " + date + "\r\n"));
        EXPECT_LE(ms > expected ? ms - expected : expected - ms, 2000u) << date;
    }
}

TEST(HttpFailures, KindsNoLocalRequestShows)
{
    // The others come from the requests below: refused, TLS, time-outs.
    EXPECT_EQ(http_failure_from_curl(6), (u32)HttpFailure_NotResolved);
    EXPECT_EQ(http_failure_from_curl(52), (u32)HttpFailure_InvalidResponse);   // an empty reply
}

//- requests against the local server

struct HttpRequestTest : ::testing::Test {
    static LocalServer *server;
    Arena *arena = arena_alloc(MiB(8), KiB(4));
    HttpSession *session = nullptr;

    static void SetUpTestSuite() { server = new LocalServer(); }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    void SetUp() override
    {
        ASSERT_EQ(server->failure, "");
        HttpSessionOptions options = {};
        options.ca_file = as_str(server->ca_file);
        options.limits.stall_ms = 1000;
        options.limits.total_ms = 4000;
        session = http_session_open(arena, &options);
        ASSERT_TRUE(session && session->opened);
        EXPECT_TRUE(session->resolve_limited);   // the threaded resolver: else look-ups ignore every limit
    }
    ~HttpRequestTest() override { arena_release(arena); }

    HttpResponse get(const std::string &address, bool plain = false, bool read_body = false)
    {
        HttpRequest request = {};
        request.plain = plain;
        request.read_body = read_body;
        return http_request(session, arena, as_str(address), str_empty(), &request);
    }
};
LocalServer *HttpRequestTest::server = nullptr;

TEST_F(HttpRequestTest, AnswersRedirectsAndFailures)
{
    std::string refused = "https://127.0.0.1:" + std::to_string(closed_port()) + "/ok";
    struct Case { std::string address; bool plain; u32 failure, status; std::string final_address; } cases[] = {
        {server->https("/ok"), false, 0, 200, server->https("/ok")},
        {server->https("/missing"), false, 0, 404, server->https("/missing")},
        {server->https("/redirect?to=/ok"), false, 0, 200, server->https("/ok")},
        // The plain flag returns the redirect itself.
        {server->http("/redirect?to=/ok"), true, 0, 302, server->http("/redirect?to=/ok")},
        {server->https("/redirect?to=ftp://127.0.0.1/x"), false, HttpFailure_Connection, 0, ""},
        // Without the plain flag, an http:// address is spoken to over TLS all the same.
        {server->http("/ok"), false, HttpFailure_SecureChannel, 0, ""},
        {refused, false, HttpFailure_Connection, 0, ""},
    };
    for (const Case &c : cases) {
        HttpResponse r = get(c.address, c.plain);
        EXPECT_EQ(r.failure, c.failure) << c.address << ": engine code " << r.engine_code;
        EXPECT_EQ(http_parse_head(r.head).status, c.status) << c.address;
        EXPECT_EQ(s(r.address), c.address);
        if (!c.final_address.empty()) {
            EXPECT_EQ(s(r.final_address), c.final_address) << c.address;
        }
        EXPECT_EQ(r.body.size, 0u);   // bodies are read only on request
        EXPECT_LT(r.elapsed_ms, 2000u) << c.address;
    }
    // Another protocol is never even spoken.
    EXPECT_EQ(get(server->https("/redirect?to=ftp://127.0.0.1/x")).engine_code, 1u);
    // A session that does not trust the test's certificate fails the channel.
    HttpRequest request = {};
    std::string address = server->https("/ok");
    EXPECT_EQ(http_request(http_session_open(arena, nullptr), arena, as_str(address), str_empty(), &request).failure,
              (u32)HttpFailure_SecureChannel);
}

TEST_F(HttpRequestTest, ARedirectLoopFailsAfterTenHopsAndNoProxyIsUsed)
{
    std::string before = server->stats(session);
    HttpResponse r = get(server->https("/loop"));
    EXPECT_EQ(r.failure, (u32)HttpFailure_Connection);
    EXPECT_EQ(http_parse_head(r.head).status, 0u);
    long asked = json_number(server->stats(session), "/loop") - std::max(0L, json_number(before, "/loop"));
    EXPECT_EQ(asked, 11);   // the first request and ten redirects

    // A proxy named by the environment is not used.
    std::string nowhere = "http://127.0.0.1:" + std::to_string(closed_port());
    setenv("https_proxy", nowhere.c_str(), 1);
    setenv("http_proxy", nowhere.c_str(), 1);
    HttpResponse secure = get(server->https("/ok"));
    HttpResponse plain = get(server->http("/ok"), true);
    unsetenv("https_proxy");
    unsetenv("http_proxy");
    EXPECT_EQ(http_parse_head(secure.head).status, 200u) << secure.engine_code;
    EXPECT_EQ(http_parse_head(plain.head).status, 200u) << plain.engine_code;
}

TEST_F(HttpRequestTest, SlowServersEndAtTheRightLimitAndAPostCarriesItsBody)
{
    // The session waits 1 s for the next byte and 4 s for the whole call.
    struct Case { const char *path; u64 limit_ms; u32 failure; u64 at_least_ms, below_ms; } cases[] = {
        {"/hang", 0, HttpFailure_Timeout, 900, 3500},         // nothing comes: the stall limit
        {"/redirect?to=/hang", 0, HttpFailure_Timeout, 900, 3500},   // after a redirect too
        {"/trickle-body", 0, HttpFailure_None, 0, 900},       // the head is the answer; the body is not awaited
        // A head that comes a byte at a time is progress, not a stall, ...
        {"/trickle-head?ms=30&end=8", 0, HttpFailure_None, 1500, 3500},
        // ... until the overall limit, here the call's own, which wins over the session's.
        {"/trickle-head?ms=300", 2500, HttpFailure_Timeout, 2400, 3500},
    };
    for (const Case &c : cases) {
        HttpRequest request = {};
        request.limit_ms = c.limit_ms;
        std::string address = server->https(c.path);
        HttpResponse r = http_request(session, arena, as_str(address), str_empty(), &request);
        EXPECT_EQ(r.failure, c.failure) << c.path << ": engine code " << r.engine_code;
        EXPECT_EQ(http_parse_head(r.head).status, c.failure ? 0u : 200u) << c.path;
        EXPECT_GE(r.elapsed_ms, c.at_least_ms) << c.path;
        EXPECT_LT(r.elapsed_ms, c.below_ms) << c.path;
    }

    // A post carries its body and headers.
    HttpRequest request = {};
    request.method = HttpMethod_Post;
    request.plain = 1;
    request.extra_headers = str_lit("Host: not sent\r\nX-One: 1\r\n\r\nX-Two: 2");
    request.read_body = 1;
    std::string address = server->http("/echo");
    HttpResponse r = http_request(session, arena, as_str(address), str_lit("a=1&b=2"), &request);
    ASSERT_EQ(r.failure, 0u);
    std::string echo = s(r.body);
    EXPECT_EQ(echo.rfind("POST /echo HTTP/1.1\r\n", 0), 0u) << echo;
    EXPECT_NE(echo.find("\r\nUser-Agent: " + s(http_default_user_agent) + "\r\n"), std::string::npos) << echo;
    EXPECT_NE(echo.find("\r\nAccept: */*\r\n"), std::string::npos) << echo;
    EXPECT_NE(echo.find("\r\nX-One: 1\r\n"), std::string::npos) << echo;
    EXPECT_NE(echo.find("\r\nX-Two: 2\r\n"), std::string::npos) << echo;
    EXPECT_EQ(echo.find("not sent"), std::string::npos) << echo;   // the block's first line stays home
    EXPECT_EQ(echo.substr(echo.size() - 11), "\r\n\r\na=1&b=2") << echo;
}

