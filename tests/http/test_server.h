// The local HTTP/HTTPS server of tests/http/test_server.py, started as a
// child process for one test (or benchmark) and stopped with it. It listens
// on loopback addresses only and makes its own self-signed certificate, so
// a session that trusts `ca_file` can speak TLS to it.
#pragma once
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "http/http_request.h"
#include "os/platform.h"

struct LocalServer {
    pid_t pid = -1;
    int to_child = -1;
    std::string folder;
    std::string ca_file;
    std::string failure;            // why it did not start; empty when it did
    int http_port = 0;
    std::vector<int> https_ports;   // 127.0.0.1, 127.0.0.2, ...

    explicit LocalServer(int hosts = 1)
    {
        char pattern[] = "/tmp/wyn-http-XXXXXX";
        if (!mkdtemp(pattern)) {
            failure = "no temporary folder";
            return;
        }
        folder = pattern;
        ca_file = folder + "/cert.pem";
        int in_pipe[2], out_pipe[2];
        if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0) {
            failure = "no pipes";
            return;
        }
        std::string script = std::string(WYN_SOURCE_DIR) + "/tests/http/test_server.py";
        std::string host_count = std::to_string(hosts);
        pid = fork();
        if (pid == 0) {
            dup2(in_pipe[0], 0);
            dup2(out_pipe[1], 1);
            close(in_pipe[1]);
            close(out_pipe[0]);
            execlp("python3", "python3", script.c_str(), "--cert-dir", folder.c_str(), "--hosts", host_count.c_str(),
                   (char *)nullptr);
            _exit(127);
        }
        close(in_pipe[0]);
        close(out_pipe[1]);
        to_child = in_pipe[1];
        std::string line = read_line(out_pipe[0], 20000);
        close(out_pipe[0]);
        if (line.rfind("ports ", 0) != 0) {
            failure = "the test server did not start within 20 s (python3 and openssl are needed): '" + line + "'";
            return;
        }
        std::vector<int> ports;
        for (size_t at = 6; at < line.size();) {
            size_t end = line.find(' ', at);
            if (end == std::string::npos) end = line.size();
            ports.push_back(std::atoi(line.substr(at, end - at).c_str()));
            at = end + 1;
        }
        http_port = ports[0];
        https_ports.assign(ports.begin() + 1, ports.end());
    }

    ~LocalServer()
    {
        if (to_child >= 0) close(to_child);   // the server ends when its stdin closes
        if (pid > 0) {
            int status = 0;
            u64 deadline = now_us() + 5000000;
            while (waitpid(pid, &status, WNOHANG) == 0) {
                if (now_us() > deadline) {
                    kill(pid, SIGKILL);
                    waitpid(pid, &status, 0);
                    break;
                }
                sleep_ms(10);
            }
        }
        if (!folder.empty()) std::system(("rm -rf '" + folder + "'").c_str());
    }

    static std::string read_line(int fd, int timeout_ms)
    {
        std::string line;
        u64 deadline = now_us() + (u64)timeout_ms * 1000;
        while (now_us() < deadline) {
            pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char c = 0;
            if (read(fd, &c, 1) != 1) break;
            if (c == '\n') break;
            line += c;
        }
        return line;
    }

    std::string http(const std::string &path) const { return "http://127.0.0.1:" + std::to_string(http_port) + path; }
    std::string https(const std::string &path, int host = 1) const
    {
        return "https://127.0.0.1:" + std::to_string(https_ports[host - 1]) + path;
    }
    std::string https_on(int host, const std::string &path) const
    {
        return "https://127.0.0." + std::to_string(host) + ":" + std::to_string(https_ports[host - 1]) + path;
    }

    // The body of a plain GET of `path` ("/__stats": the statistics as JSON
    // text, "/__release", "/__reset").
    std::string ask(HttpSession *session, const std::string &path) const
    {
        Arena *arena = arena_alloc(MiB(1), KiB(4));
        HttpRequest request = {};
        request.plain = 1;
        request.read_body = 1;
        std::string address = http(path);
        HttpResponse r = http_request(session, arena, Str{address.data(), address.size()}, str_empty(), &request);
        std::string text(r.body.str, r.body.size);
        arena_release(arena);
        return text;
    }
    std::string stats(HttpSession *session) const { return ask(session, "/__stats"); }
    void reset(HttpSession *session) const { ask(session, "/__reset"); }
};

// The number after "key": in a JSON text; -1 when the key is absent.
inline long json_number(const std::string &json, const std::string &key)
{
    size_t at = json.find("\"" + key + "\": ");
    if (at == std::string::npos) return -1;
    return std::atol(json.c_str() + at + key.size() + 4);
}

// A loopback port on which nobody listens: bound, then closed again.
inline int closed_port()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, (sockaddr *)&a, sizeof(a));
    socklen_t size = sizeof(a);
    getsockname(fd, (sockaddr *)&a, &size);
    close(fd);
    return ntohs(a.sin_port);
}
