// os/win32/win32_net.cpp: listening sockets for the preview server, on
// Windows Sockets.
//
// The HTTP library is handed a socket that is already bound, as on Linux,
// so which address is listened on stays an operating-system matter.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "os/win32/win32_path.h"

#include <cstring>

//- start-up

static BOOL CALLBACK sockets_start_once(INIT_ONCE *, void *, void **)
{
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

// Windows Sockets must be started before the first socket; the library
// counts start-ups, so the HTTP library's own one does no harm.
static bool sockets_start(void)
{
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    return InitOnceExecuteOnce(&once, sockets_start_once, nullptr, nullptr) != 0;
}

// The system's words for a Windows Sockets error, or its number when it
// has none (wine knows few of them).
static Str socket_error_text(Arena *arena, int code)
{
    wchar_t *text = nullptr;
    DWORD size = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, (DWORD)code, 0, (wchar_t *)&text, 0, nullptr);
    while (size && (text[size - 1] == L'\n' || text[size - 1] == L'\r' || text[size - 1] == L'.' ||
                    text[size - 1] == L' '))
        size -= 1;
    Str result = size ? str_from_str16(arena, Str16{(const u16 *)text, size})
                      : str_pushf(arena, "Windows Sockets error %u", (u32)code);
    if (text) LocalFree(text);
    return result;
}

//- listening

s64 net_listen(Arena *arena, Str address, u16 port, u16 *out_port, Str *error, u32 *out_failure)
{
    if (out_failure) *out_failure = NetListen_Other;
    if (!sockets_start()) {
        if (error) *error = str_lit("Windows Sockets did not start");
        return -1;
    }
    ArenaTemp scratch = scratch_begin(arena);
    const char *text = str_copy(scratch.arena, address).str;
    SOCKADDR_STORAGE storage;
    memset(&storage, 0, sizeof storage);
    int length = 0;
    SOCKADDR_IN *v4 = (SOCKADDR_IN *)&storage;
    SOCKADDR_IN6 *v6 = (SOCKADDR_IN6 *)&storage;
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
    // Not inherited by programs wyn starts, as close-on-exec on Linux.
    SOCKET s = WSASocketW(storage.ss_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                          WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        if (error) *error = socket_error_text(arena, WSAGetLastError());
        return -1;
    }
    // No SO_REUSEADDR: on Windows it would let a second server take a port
    // that one already listens on. Exclusive use keeps any other program
    // from binding over ours; a restart still gets its port back.
    BOOL on = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, (const char *)&on, sizeof on);
    if (bind(s, (SOCKADDR *)&storage, length) != 0 || listen(s, 128) != 0) {
        int code = WSAGetLastError();
        if (out_failure && code == WSAEADDRINUSE) *out_failure = NetListen_AddressInUse;
        if (out_failure && code == WSAEADDRNOTAVAIL) *out_failure = NetListen_AddressNotAvailable;
        // Windows says "access denied" for a port another program holds
        // exclusively.
        if (out_failure && code == WSAEACCES) *out_failure = NetListen_AddressInUse;
        if (error) *error = socket_error_text(arena, code);
        closesocket(s);
        return -1;
    }
    SOCKADDR_STORAGE bound;
    int bound_length = sizeof bound;
    if (out_port && getsockname(s, (SOCKADDR *)&bound, &bound_length) == 0)
        *out_port = ntohs(bound.ss_family == AF_INET6 ? ((SOCKADDR_IN6 *)&bound)->sin6_port
                                                      : ((SOCKADDR_IN *)&bound)->sin_port);
    if (out_failure) *out_failure = NetListen_Ok;
    return (s64)s;
}

void net_close(s64 socket)
{
    if (socket >= 0 && (SOCKET)socket != INVALID_SOCKET) closesocket((SOCKET)socket);
}

// Only libcurl's stall limit asks, and libcurl is not used on Windows:
// WinHTTP keeps its own time-outs.
u64 net_bytes_received(s64 socket)
{
    (void)socket;
    return 0;
}
