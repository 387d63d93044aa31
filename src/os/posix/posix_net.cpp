// os/posix/posix_net.cpp: listening sockets for the preview server.
//
// The HTTP library is handed a socket that is already bound, so which
// address is listened on stays an operating-system matter, decided here.
#include "os/platform.h"

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/tcp.h>   // glibc's netinet/tcp.h lacks tcpi_bytes_received
#endif

s64 net_listen(Arena *arena, Str address, u16 port, u16 *out_port, Str *error, u32 *out_failure)
{
    if (out_failure) *out_failure = NetListen_Other;
    ArenaTemp scratch = scratch_begin(arena);
    const char *text = str_copy(scratch.arena, address).str;
    struct sockaddr_storage storage;
    memset(&storage, 0, sizeof storage);
    socklen_t length = 0;
    struct sockaddr_in *v4 = (struct sockaddr_in *)&storage;
    struct sockaddr_in6 *v6 = (struct sockaddr_in6 *)&storage;
    if (inet_pton(AF_INET, text, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        length = sizeof *v4;
    } else if (inet_pton(AF_INET6, text, &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        length = sizeof *v6;
    }
    scratch_end(scratch);
    if (length == 0) {
        if (error) *error = str_pushf(arena, "%S is not an IP address", address);
        return -1;
    }
    int fd = socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        if (error) *error = str_copy(arena, str_from_cstring(strerror(errno)));
        return -1;
    }
    // A restarted server must get its port back while the last run's
    // connections sit in TIME_WAIT.
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, (struct sockaddr *)&storage, length) != 0 || listen(fd, 128) != 0) {
        if (out_failure && errno == EADDRINUSE) *out_failure = NetListen_AddressInUse;
        if (out_failure && errno == EADDRNOTAVAIL) *out_failure = NetListen_AddressNotAvailable;
        if (error) *error = str_copy(arena, str_from_cstring(strerror(errno)));
        close(fd);
        return -1;
    }
    struct sockaddr_storage bound;
    socklen_t bound_length = sizeof bound;
    if (out_port && getsockname(fd, (struct sockaddr *)&bound, &bound_length) == 0)
        *out_port = ntohs(bound.ss_family == AF_INET6 ? ((struct sockaddr_in6 *)&bound)->sin6_port
                                                      : ((struct sockaddr_in *)&bound)->sin_port);
    if (out_failure) *out_failure = NetListen_Ok;
    return fd;
}

void net_close(s64 socket)
{
    if (socket >= 0) close((int)socket);
}

u64 net_bytes_received(s64 socket)
{
#ifdef __linux__
    struct tcp_info info;
    socklen_t size = sizeof info;
    memset(&info, 0, sizeof info);
    // Kernels before 4.1 fill a shorter record without the count.
    if (getsockopt((int)socket, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 &&
        size >= offsetof(struct tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received)
        return info.tcpi_bytes_received;
#endif
    (void)socket;
    return 0;
}
