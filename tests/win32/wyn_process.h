// tests/win32/wyn_process.h: WynProcess on Windows (included by
// tests/wyn_process.h), so the end-to-end tests drive wyn.exe as they drive
// wyn on Linux: started in a folder, its output read through a pipe, ended
// at will.
#pragma once
#include <csignal>
#include <mutex>
#include <string>
#include <vector>

#include <sys/types.h>
#include <windows.h>

#include "base/types.h"

struct WynOptions {
    std::string stderr_file;
    bool merge_stderr = false;
    u64 address_limit = 0;   // not available here: a process asking for one is not started
};

namespace wyn_process_detail {

inline std::wstring wide(const std::string &text)
{
    std::wstring out(text.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), out.data(), (int)out.size());
    out.resize(n > 0 ? (size_t)n : 0);
    return out;
}

// One argument as the C runtime's command-line parser splits it back.
inline void append_quoted(std::wstring &line, const std::wstring &arg)
{
    line += L'"';
    size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            slashes += 1;
            continue;
        }
        line.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        line += c;
    }
    line.append(slashes * 2, L'\\');
    line += L'"';
}

// The pipe's write end is inheritable only while one process is made, so a
// second WynProcess never holds the first one's output open.
inline std::mutex &start_lock()
{
    static std::mutex lock;
    return lock;
}

} // namespace wyn_process_detail

struct WynProcess : WynOutput<WynProcess> {
    pid_t pid = -1;
    HANDLE process = nullptr;
    HANDLE out = nullptr;
    std::string text;
    int status = -1;   // the exit code once it ended

    WynProcess(const std::string &cwd, std::vector<std::string> args, const std::string &stderr_file = "")
        : WynProcess(cwd, std::move(args), WynOptions{stderr_file, stderr_file.empty()})
    {
    }
    WynProcess(const std::string &cwd, std::vector<std::string> args, const WynOptions &options)
    {
        using namespace wyn_process_detail;
        if (options.address_limit) return;
        std::wstring line;
        append_quoted(line, wide(WYN_BINARY));
        for (const std::string &a : args) {
            line += L' ';
            append_quoted(line, wide(a));
        }
        std::lock_guard<std::mutex> hold(start_lock());
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        HANDLE write_end = nullptr;
        if (!CreatePipe(&out, &write_end, &inherit, 0)) return;
        SetHandleInformation(out, HANDLE_FLAG_INHERIT, 0);
        HANDLE error = INVALID_HANDLE_VALUE;
        if (!options.merge_stderr && !options.stderr_file.empty())
            error = CreateFileW(wide(options.stderr_file).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = write_end;
        startup.hStdError = options.merge_stderr ? write_end
                            : error != INVALID_HANDLE_VALUE ? error
                                                            : GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION made = {};
        std::wstring folder = wide(cwd);
        if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &startup, &made)) {
            CloseHandle(made.hThread);
            process = made.hProcess;
            pid = (pid_t)made.dwProcessId;
        }
        CloseHandle(write_end);
        if (error != INVALID_HANDLE_VALUE) CloseHandle(error);
    }
    WynProcess(const WynProcess &) = delete;
    WynProcess &operator=(const WynProcess &) = delete;
    ~WynProcess()
    {
        if (process) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, INFINITE);
            CloseHandle(process);
        }
        if (out) CloseHandle(out);
    }

    // Appends what arrives within `ms`: 1 when something came, 0 when
    // nothing did, -1 once the output has ended.
    int read_some(int ms)
    {
        ULONGLONG deadline = GetTickCount64() + (ULONGLONG)ms;
        for (;;) {
            DWORD waiting = 0;
            if (!PeekNamedPipe(out, nullptr, 0, nullptr, &waiting, nullptr)) return -1;
            if (waiting > 0) break;
            if (GetTickCount64() >= deadline) return 0;
            Sleep(5);
        }
        char buffer[65536];
        DWORD n = 0;
        if (!ReadFile(out, buffer, sizeof(buffer), &n, nullptr) || n == 0) return -1;
        text.append(buffer, n);
        return 1;
    }

    bool running() { return process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

    int wait_exit()
    {
        if (!process) return -1;
        WaitForSingleObject(process, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        CloseHandle(process);
        process = nullptr;
        pid = -1;
        status = (int)code;
        return status;
    }

    bool wait_end(int seconds = 60)
    {
        if (!process || WaitForSingleObject(process, (DWORD)seconds * 1000) != WAIT_OBJECT_0) return false;
        wait_exit();
        while (read_some(100) > 0) {
        }
        return true;
    }
};

// What a signal does to wyn on Linux, a test asks of wyn.exe by its id: it
// ends at once.
inline int kill(pid_t pid, int)
{
    HANDLE target = OpenProcess(PROCESS_TERMINATE, FALSE, (DWORD)pid);
    if (!target) return -1;
    BOOL ended = TerminateProcess(target, 1);
    CloseHandle(target);
    return ended ? 0 : -1;
}
