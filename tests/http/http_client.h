// A raw HTTP/1.1 client for the preview server's tests: it sends the request
// line exactly as written (no client-side clean-up of "..", as curl would
// do) and gives up after a bounded wait, so a broken server fails the test
// instead of hanging it. The same client runs on Windows Sockets, where a
// socket fits an int as well (the system's handles use 32 bits).
#pragma once
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#define MSG_NOSIGNAL 0
inline int poll(WSAPOLLFD *fds, ULONG count, int timeout) { return WSAPoll(fds, count, timeout); }
typedef WSAPOLLFD pollfd;
inline void http_close(int fd) { closesocket((SOCKET)fd); }
inline int http_socket()
{
    static bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started ? (int)socket(AF_INET, SOCK_STREAM, 0) : -1;
}
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
inline void http_close(int fd) { close(fd); }
inline int http_socket() { return socket(AF_INET, SOCK_STREAM, 0); }
#endif

#include <chrono>
#include <cstring>
#include <string>

struct HttpReply {
    int status = 0;          // 0: no reply within the wait
    std::string head;        // status line and headers
    std::string body;
    std::string header(const std::string &name) const
    {
        std::string lower_head = head, key = "\r\n" + name + ":";
        for (char &c : lower_head) c = (char)tolower((unsigned char)c);
        for (char &c : key) c = (char)tolower((unsigned char)c);
        size_t at = lower_head.find(key);
        if (at == std::string::npos) return "";
        size_t start = at + key.size();
        while (start < head.size() && head[start] == ' ') start += 1;
        size_t end = head.find("\r\n", start);
        return head.substr(start, end - start);
    }
};

// A small receive buffer, set before connecting, keeps the kernel from
// growing the window: a client that reads nothing then fills up quickly.
inline int http_connect(int port, int receive_buffer = 0)
{
    int fd = http_socket();
    if (fd < 0) return -1;
    if (receive_buffer > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, (const char *)&receive_buffer, (int)sizeof receive_buffer);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons((uint16_t)port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, (sockaddr *)&address, sizeof address) != 0) {
        http_close(fd);
        return -1;
    }
    return fd;
}

inline bool http_send_all(int fd, const std::string &text)
{
    size_t sent = 0;
    while (sent < text.size()) {
        long n = send(fd, text.data() + sent, (int)(text.size() - sent), MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += (size_t)n;
    }
    return true;
}

// Reads until the peer closes, `until` appears, or the wait ends.
inline std::string http_read(int fd, int wait_ms, const std::string &until = "")
{
    std::string data;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p = {};
        p.fd = fd;
        p.events = POLLIN;
        if (poll(&p, 1, (int)left.count()) <= 0) break;
        char buffer[65536];
        long n = recv(fd, buffer, (int)sizeof buffer, 0);
        if (n <= 0) break;
        data.append(buffer, (size_t)n);
        if (!until.empty() && data.find(until) != std::string::npos) break;
    }
    return data;
}

inline HttpReply http_parse(const std::string &data)
{
    HttpReply reply;
    size_t end = data.find("\r\n\r\n");
    if (data.rfind("HTTP/1.", 0) != 0 || end == std::string::npos) return reply;
    reply.status = atoi(data.c_str() + 9);
    reply.head = data.substr(0, end);
    reply.body = data.substr(end + 4);
    return reply;
}

inline HttpReply http_fetch(int port, const std::string &target, const std::string &method = "GET", int wait_ms = 5000)
{
    int fd = http_connect(port);
    if (fd < 0) return HttpReply{};
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    HttpReply reply;
    if (http_send_all(fd, request)) reply = http_parse(http_read(fd, wait_ms));
    http_close(fd);
    return reply;
}
