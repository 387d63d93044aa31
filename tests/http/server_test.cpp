// The preview server against real clients on 127.0.0.1 and real folders.
// test-label: concurrency
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "../test_support.h"
#include "http/server.h"
#include "http_client.h"
#include "os/platform.h"

// A site's published folders, a secret beside them, and links in and out.
// Windows lets only some users make links: where it refuses, `links` is
// false and the cases that need them are left out.
struct ServedSite {
    TempFolder folder{"wyn-serve"};
    std::string base = folder.path, local = base + "/local/";
    HttpServerConfig config = {};
    HttpServer *server = nullptr;
    int port = 0;
    bool links = true;

    explicit ServedSite(bool live_reload = true)
    {
        write_file(base + "/secret.txt", "SECRET-BYTES");
        write_file(local + "secret.txt", "SECRET-BYTES");
        write_file(local + "hxml/secret.txt", "SECRET-BYTES");   // beside html/, a name as long
        write_file(local + "html/index.html", "<html><head><title>Home</title></head><body><p>home</p></body></html>");
        write_file(local + "html/docs/index.html", "<html><body>docs</body></html>");
        write_file(local + "html/.wyn_manifest", "manifest");
        write_file(local + "html/empty/a.html", "a");   // a folder without index.html: never listed
        write_file(local + "shared/css/site.css", "p{color:red}");
        write_file(local + "shared/css/fonts.css", "source");
        write_file(local + "html/shared/css/fonts.css", "published copy");
        write_file(local + "shared/fonts/a.woff2", "wOF2....");
        write_file(local + "assets/images/p.png", "\x89PNG....");
        write_file(local + "assets/images/photo.JPG", "\xff\xd8\xff....");
        namespace fs = std::filesystem;
        std::error_code link_error;
        fs::create_symlink(base + "/secret.txt", local + "html/out.html", link_error);
        links = links && !link_error;
        fs::create_directory_symlink(base, local + "html/up", link_error);
        links = links && !link_error;
        fs::create_symlink(local + "html/index.html", local + "html/alias.html", link_error);
        links = links && !link_error;
        fs::create_symlink(local + "hxml/secret.txt", local + "html/sibling.html", link_error);
        links = links && !link_error;

        config.live_reload = live_reload;
        config.roots[config.root_count++] = {str_lit("/"), str_pushf(arena(), "%shtml/", local.c_str())};
        config.roots[config.root_count++] = {str_lit("/shared/"), str_pushf(arena(), "%sshared/", local.c_str())};
        config.roots[config.root_count++] = {str_lit("/assets/"), str_pushf(arena(), "%sassets/", local.c_str())};
        Str error = {};
        server = http_server_start(arena(), &config, &error);
        port = http_server_port(server);
    }
    ~ServedSite() { http_server_stop(server); }
    static Arena *arena()
    {
        static Arena *a = arena_alloc();
        return a;
    }
};

//- request paths

TEST(ServerPaths, DecodesEscapesAndRefusesBrokenOnes)
{
    Arena *arena = arena_alloc();
    Str out = {};
    ASSERT_TRUE(http_path_decode(arena, str_lit("/a%20b/%2e%2E/%41"), &out));
    EXPECT_EQ(s(out), "/a b/../A");
    EXPECT_FALSE(http_path_decode(arena, str_lit("/a%2"), &out));
    EXPECT_FALSE(http_path_decode(arena, str_lit("/a%zz"), &out));
    EXPECT_FALSE(http_path_decode(arena, str_lit("/%"), &out));
    ASSERT_TRUE(http_path_decode(arena, str_lit("/x%00y"), &out));
    EXPECT_EQ(out.size, 4u);   // the NUL is kept, to be refused, not cut off
    arena_release(arena);

    // Content types go by the extension of the file name, in any case.
    EXPECT_EQ(s(http_content_type(str_lit("/a/b.HTML"))), "text/html; charset=utf-8");
    EXPECT_EQ(s(http_content_type(str_lit("folder.css/x"))), "application/octet-stream");
    EXPECT_EQ(s(http_content_type(str_lit("Makefile"))), "application/octet-stream");
}

TEST(ServerPaths, TriesTheRootsInOrder)
{
    ServedSite site(false);
    Arena *arena = arena_alloc();
    std::string real = s(path_real(arena, str_pushf(arena, "%s", site.local.c_str())));
    const char *cases[][2] = {
        {"/shared/css/site.css?v=2", "/shared/css/site.css"},
        {"/", "/html/index.html"},
        {"/shared/css/fonts.css", "/html/shared/css/fonts.css"},   // the published copy wins over its source
        {"/docs", "/html/docs/index.html"},
        {"/alias.html", "/html/index.html"},                       // a link that stays inside is followed
        {"/out.html", nullptr},
        {"/missing.html", nullptr},
        {"/index.html?a=%00", nullptr},
    };
    for (auto &c : cases) {
        if (!site.links && std::string(c[0]) == "/alias.html") continue;
        EXPECT_EQ(s(http_request_file(arena, &site.config, str_from_cstring(c[0]))), c[1] ? real + c[1] : "")
            << c[0];
    }
    arena_release(arena);
}

//- serving

TEST(Server, ServesPagesAndAssetsWithTheirTypesAndRefusesEveryTraversalForm)
{
    ServedSite site;
    ASSERT_NE(site.server, nullptr);
    HttpReply page = http_fetch(site.port, "/index.html");
    ASSERT_EQ(page.status, 200) << "no reply";
    EXPECT_EQ(page.header("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(page.body.find("<title>Home</title>"), std::string::npos);
    // The script goes into the response, never into the file.
    EXPECT_NE(page.body.find("EventSource"), std::string::npos);
    EXPECT_EQ(read_file(site.local + "html/index.html").find("EventSource"), std::string::npos);

    HttpReply root = http_fetch(site.port, "/");
    EXPECT_EQ(root.status, 200);
    EXPECT_NE(root.body.find("home"), std::string::npos);
    HttpReply docs = http_fetch(site.port, "/docs/");
    EXPECT_EQ(docs.status, 200);
    EXPECT_NE(docs.body.find("docs"), std::string::npos);

    struct Case { const char *path, *type, *body; };
    const Case cases[] = {
        {"/shared/css/site.css", "text/css; charset=utf-8", "p{color:red}"},
        {"/shared/css/fonts.css", "text/css; charset=utf-8", "published copy"},
        {"/shared/fonts/a.woff2", "font/woff2", "wOF2...."},
        {"/assets/images/p.png", "image/png", "\x89PNG...."},
        {"/assets/images/photo.JPG", "image/jpeg", "\xff\xd8\xff...."},
    };
    for (const Case &c : cases) {
        HttpReply reply = http_fetch(site.port, c.path);
        EXPECT_EQ(reply.status, 200) << c.path;
        EXPECT_EQ(reply.header("Content-Type"), c.type) << c.path;
        EXPECT_EQ(reply.body, c.body) << c.path;
        EXPECT_EQ(reply.header("X-Content-Type-Options"), "nosniff") << c.path;
    }

    using namespace std::string_literals;
    const std::string forms[] = {
        // Dot segments, plain, escaped and with backslashes.
        "/../secret.txt", "/../../secret.txt", "/docs/../../secret.txt", "/%2e%2e/secret.txt",
        "/%2E%2E/%2e%2e/secret.txt", "/%2e%2e%2fsecret.txt", "/docs/..%2f..%2fsecret.txt", "/shared/../../secret.txt",
        "/shared/%2e%2e/%2e%2e/secret.txt", "/..\\secret.txt", "/%5c..%5csecret.txt", "/docs\\..\\..\\secret.txt",
        // Absolute paths, drives and NULs (the library cuts its C string at one).
        "//etc/passwd", "/%2fetc/passwd", "/%2Fetc%2Fpasswd", "/C:/Windows/win.ini", "/index.html%00.png", "/%00", "/?%00",
        "/\0"s, "/index.html\0.png"s, "/docs/\0/../../secret.txt"s, "/?a=\0"s,
        // Links out, the sibling folder of the same name length, hidden files,
        // folders without an index, broken escapes.
        "/out.html", "/sibling.html", "/up/secret.txt", "/up/local/secret.txt", "/.wyn_manifest", "/%2ewyn_manifest",
        "/.", "/docs/.", "/empty/", "/%", "/%zz",
        // What Windows would make of a name: trailing dots and blanks are
        // dropped, device names open devices, "::$DATA" names a stream.
        "/%20../secret.txt", "/docs/..%20/..%20/secret.txt", "/docs/.%2e./secret.txt", "/../secret.txt.", "/nul",
        "/con.html", "/index.html::$DATA", "/index.html%3a%3a$DATA",
        "secret.txt", "http://127.0.0.1/../secret.txt", "*",   // no path at all
    };
    for (const std::string &form : forms) {
        HttpReply reply = http_fetch(site.port, form);
        EXPECT_EQ(reply.status, 404) << form;
        EXPECT_EQ(reply.body.find("SECRET"), std::string::npos) << form;
        EXPECT_EQ(reply.body.find("root:"), std::string::npos) << form;
    }
    // The server still serves after all of that, a query too.
    EXPECT_EQ(http_fetch(site.port, "/index.html").status, 200);
    EXPECT_EQ(http_fetch(site.port, "/index.html?v=2&x=%41").status, 200);
}

TEST(Server, AnswersHeadRefusesOtherMethodsAndSaysWhyItCouldNotStart)
{
    ServedSite site(false);
    HttpReply head = http_fetch(site.port, "/shared/css/site.css", "HEAD");
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.header("Content-Length"), "12");
    EXPECT_EQ(head.body, "");
    for (const char *method : {"POST", "PUT", "DELETE", "OPTIONS", "TRACE"}) {
        HttpReply reply = http_fetch(site.port, "/index.html", method);
        EXPECT_EQ(reply.status, 405) << method;
        EXPECT_EQ(reply.header("Allow"), "GET, HEAD") << method;
        EXPECT_EQ(reply.body.find("home"), std::string::npos) << method;
    }

    // Another server cannot start where this one listens, nor anywhere else
    // that is not the machine's own.
    struct Case { Str bind; u16 port; u32 failure; } cases[] = {
        {str_lit("127.0.0.1"), (u16)site.port, HttpServerFailure_AddressInUse},
        {str_lit("192.0.2.1"), 0, HttpServerFailure_AddressNotAvailable},   // a documentation address, not ours
        {str_lit("not-an-address"), 0, HttpServerFailure_Other},
        {str_lit("127.0.0.1"), 0, HttpServerFailure_None},
    };
    Arena *arena = arena_alloc();
    for (const Case &c : cases) {
        HttpServerConfig config = {};
        config.bind_address = c.bind;
        config.port = c.port;
        Str error = {};
        u32 failure = 99;
        HttpServer *server = http_server_start(arena, &config, &error, &failure);
        EXPECT_EQ(failure, c.failure) << s(c.bind) << " " << c.port << ": " << s(error);
        EXPECT_EQ(server != nullptr, c.failure == HttpServerFailure_None) << s(c.bind);
        http_server_stop(server);
    }
    arena_release(arena);
}

//- live reload

static int open_events(int port, std::string *greeting)
{
    int fd = http_connect(port);
    if (fd < 0) return -1;
    http_send_all(fd, "GET /.wyn/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    *greeting = http_read(fd, 3000, "live reload\n\n");
    return fd;
}

// Every open stream hears of each rewrite, and stopping the server ends
// the streams still open.
TEST(ServerEvents, TellsOpenStreamsWhatWasRewrittenAndStopEndsThem)
{
    ServedSite *site = new ServedSite;
    std::string greeting;
    int a = open_events(site->port, &greeting);
    ASSERT_GE(a, 0);
    EXPECT_NE(greeting.find("text/event-stream"), std::string::npos) << greeting;
    int b = open_events(site->port, &greeting);
    ASSERT_GE(b, 0);
    auto start = std::chrono::steady_clock::now();
    http_server_notify(site->server, str_lit("/docs/index.html"));
    http_server_notify(site->server, str_lit("/a\ndata: evil.html"));   // a line break cannot split an event
    http_server_notify(site->server, str_lit("/shared/css/site.css"));
    std::string got_a = http_read(a, 1000, "site.css\n\n");
    std::string got_b = http_read(b, 1000, "site.css\n\n");
    auto took = std::chrono::steady_clock::now() - start;
    for (const char *event : {"data: /docs/index.html\n\n", "data: /a?data: evil.html\n\n", "data: /shared/css/site.css\n\n"})
        EXPECT_NE(got_a.find(event), std::string::npos) << got_a;
    EXPECT_NE(got_b.find("data: /shared/css/site.css\n\n"), std::string::npos) << got_b;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 1000);
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        delete site;
        stopped = true;
    });
    for (int i = 0; i < 100 && !stopped; i += 1) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(stopped.load()) << "stopping the server with open event streams did not finish in 5 s";
    if (!stopped) stopper.detach();   // the failure is reported; do not hang
    else stopper.join();
    http_close(a);
    http_close(b);
}

TEST(ServerEvents, AStreamThatFellBehindIsToldToReloadEverything)
{
    ServedSite site;
    int fd = http_connect(site.port, 65536);
    ASSERT_GE(fd, 0);
    http_send_all(fd, "GET /.wyn/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    std::string got = http_read(fd, 3000, "live reload\n\n");
    ASSERT_NE(got.find("live reload"), std::string::npos) << got;
    // Rewrites pile up while the client reads nothing: each round says far
    // more (15 MB) than the socket's buffers take (the receiving side is
    // kept small, the sending side grows to 4 MiB at most), so the server
    // must stop sending and the stream falls behind however fast the
    // machine is. The reader then drains what the buffers held before the
    // "*": with a small window that can take seconds on a loaded machine,
    // so it waits long, and stops as soon as the "*" comes. A second round
    // covers a machine that sent the first one before it was told to stop.
    bool told = false;
    for (int round = 0; round < 2 && !told; round += 1) {
        for (int i = 0; i < 1000000; i += 1) http_server_notify(site.server, str_lit("/x.html"));
        got = http_read(fd, 30000, "data: *\n\n");
        told = got.find("data: *\n\n") != std::string::npos;
    }
    EXPECT_TRUE(told) << got.size() << " bytes read, the last of them:\n" << got.substr(got.size() > 200 ? got.size() - 200 : 0);
    http_close(fd);
}

//- load

TEST(ServerLoad, ManyAndSlowClientsAllGetServedWhilePagesAreRewritten)
{
    ServedSite site;
    // Slow clients: connections that send half a request and then wait.
    std::vector<int> slow;
    for (int i = 0; i < 20; i += 1) {
        int fd = http_connect(site.port);
        if (fd >= 0) http_send_all(fd, "GET /index.html HTTP/1.1\r\nHo");
        slow.push_back(fd);
    }
    std::vector<int> streams;
    for (int i = 0; i < 5; i += 1) {
        std::string greeting;
        streams.push_back(open_events(site.port, &greeting));
    }
    std::atomic<bool> writing{true};
    std::atomic<int> rewrites{0};
    std::thread writer([&] {
        while (writing) {
            write_file(site.local + "html/index.html",
                       "<html><body>home " + std::to_string(rewrites.load()) + "</body></html>");
            http_server_notify(site.server, str_lit("/index.html"));
            rewrites += 1;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    std::atomic<int> ok{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < 200; i += 1) {
        clients.emplace_back([&, i] {
            HttpReply reply = http_fetch(site.port, i % 2 ? "/index.html" : "/shared/css/site.css", "GET", 10000);
            if (reply.status == 200 && !reply.body.empty()) ok += 1;
        });
    }
    for (std::thread &t : clients) t.join();
    writing = false;
    writer.join();
    EXPECT_EQ(ok.load(), 200);
    EXPECT_GT(rewrites.load(), 0);
    for (int fd : streams) {
        std::string got = http_read(fd, 1000, "data: /index.html\n\n");
        EXPECT_NE(got.find("data: /index.html"), std::string::npos);
        http_close(fd);
    }
    for (int fd : slow) http_close(fd);
}
