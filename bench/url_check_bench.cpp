// URL checks at scale: 1,000 distinct addresses on 50 hosts (127.0.0.1 to
// 127.0.0.50, HTTPS) against the local test server, which answers each
// request after 100 ms. Reports the time until every result is stored, the
// most connections the server saw at once per host and overall, and how
// often each address was requested; the reference is the floor set by the
// in-flight limit, 1,000 x 0.1 s / max_in_flight.
//
// A plain program: each run starts a service of its own and stops it.
#include <sys/resource.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../tests/http/test_server.h"
#include "http/url_check.h"

static Str as_view(const std::string &x) { return Str{x.data(), x.size()}; }

static bool run(LocalServer &server, HttpSession *stats_session, u32 max_in_flight, const char *label)
{
    const int address_count = 1000, host_count = 50, delay_ms = 100;
    server.reset(stats_session);
    std::vector<std::string> addresses;
    std::string tag = std::to_string(max_in_flight);
    for (int i = 0; i < address_count; i += 1)
        addresses.push_back(server.https_on(1 + i % host_count, "/slow?ms=" + std::to_string(delay_ms) + "&run=" +
                                                                    tag + "&i=" + std::to_string(i)));
    UrlCheckConfig config = {};
    config.ca_file = as_view(server.ca_file);
    config.max_in_flight = max_in_flight;
    UrlCheckService *service = url_check_start(&config, nullptr);

    rusage usage_before = {};
    getrusage(RUSAGE_SELF, &usage_before);
    u64 begin = now_us();
    for (auto &a : addresses) url_check_submit(service, as_view(a));
    u64 deadline = begin + 60000000;
    while (url_check_outstanding(service) && now_us() < deadline) sleep_ms(1);
    double seconds = (double)(now_us() - begin) / 1e6;
    bool finished = url_check_outstanding(service) == 0;
    rusage usage_after = {};
    getrusage(RUSAGE_SELF, &usage_after);
    auto cpu_of = [](const rusage &u) {
        return (double)(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (double)(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    double cpu = cpu_of(usage_after) - cpu_of(usage_before);

    int ok = 0;
    u64 most_requests = 0;
    for (auto &a : addresses) {
        UrlCheckResult r = url_check_lookup(service, as_view(a));
        ok += r.status == 200;
        most_requests = max_of(most_requests, r.request_count);
    }
    url_check_stop(service);

    std::string stats = server.stats(stats_session);
    long per_host = 0, once = 0;
    for (int h = 1; h <= host_count; h += 1)
        per_host = max_of(per_host, json_number(stats, "127.0.0." + std::to_string(h)));
    for (int i = 0; i < address_count; i += 1)
        once += json_number(stats, "/slow?ms=" + std::to_string(delay_ms) + "&run=" + tag + "&i=" + std::to_string(i)) == 1;
    double floor = address_count * (delay_ms / 1000.0) / max_in_flight;
    std::printf("%-22s %6.2f s  floor %5.2f s (x%.2f)  answered %d/%d  most per host %ld  most overall %ld  "
                "requested once %ld/%d  most requests per address %llu  client CPU %.2f s\n",
                label, seconds, floor, seconds / floor, ok, address_count, per_host, json_number(stats, "all"), once,
                address_count, (unsigned long long)most_requests, cpu);
    return finished && ok == address_count && per_host <= 4 && once == address_count;
}

int main()
{
    LocalServer server(50);
    if (!server.failure.empty()) {
        std::printf("url_check_bench: %s\n", server.failure.c_str());
        return 1;
    }
    Arena *arena = arena_alloc(MiB(8), KiB(64));
    HttpSession *stats_session = http_session_open(arena, nullptr);
    std::printf("url_check_bench: 1,000 addresses on 50 hosts, 100 ms per answer, HTTPS on 127.0.0.x\n");
    bool good = run(server, stats_session, 32, "default (32 in flight)");
    good = run(server, stats_session, 64, "64 in flight") && good;
    arena_release(arena);
    return good ? 0 : 1;
}
