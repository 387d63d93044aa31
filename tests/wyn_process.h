// The built wyn started in a folder, its standard output collected: the
// end-to-end tests drive the real program, not a stand-in.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

// What both platforms' WynProcess do the same with the output they
// collect in `text`, through their own read_some.
template <typename Process> struct WynOutput {
    // Takes what was printed so far without waiting, so the pipe never fills.
    void drain()
    {
        while (self().read_some(0) > 0) {
        }
    }

    // Reads until every needle has appeared, the output ends, or the
    // generous deadline passes.
    bool read_until(const std::vector<std::string> &needles, int seconds = 60)
    {
        auto all_there = [&] {
            for (const std::string &n : needles)
                if (self().text.find(n) == std::string::npos) return false;
            return true;
        };
        for (int waited = 0; waited < seconds * 10; waited += 1) {
            if (all_there()) return true;
            if (self().read_some(100) < 0) break;
        }
        return all_there();
    }
    bool read_until(const std::string &needle, int seconds = 60)
    {
        return read_until(std::vector<std::string>{needle}, seconds);
    }

    size_t count(const std::string &needle) const
    {
        const std::string &text = static_cast<const Process *>(this)->text;
        size_t n = 0;
        for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) n += 1;
        return n;
    }

private:
    Process &self() { return *static_cast<Process *>(this); }
};

#ifdef _WIN32
#include "win32/wyn_process.h"
#else
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/types.h"

struct WynOptions {
    // Where standard error goes (a sanitizer report lands there); empty
    // keeps the test's own.
    std::string stderr_file;
    bool merge_stderr = false;   // standard error joins the collected output
    u64 address_limit = 0;       // bytes of address space (`ulimit -v`); 0: no limit
};

struct WynProcess : WynOutput<WynProcess> {
    pid_t pid = -1;
    int out = -1;
    std::string text;
    int status = -1;   // waitpid's status once it ended
    long peak_kib = 0;  // its peak resident size, once wait_end saw it end

    // `stderr_file`: where the process's standard error goes (a sanitizer
    // report lands there); empty: into `text` with standard output, as a
    // terminal shows both (diagnostics go to standard error).
    WynProcess(const std::string &cwd, std::vector<std::string> args, const std::string &stderr_file = "")
        : WynProcess(cwd, std::move(args), WynOptions{stderr_file, stderr_file.empty()})
    {
    }
    WynProcess(const std::string &cwd, std::vector<std::string> args, const WynOptions &options)
    {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            if (options.merge_stderr) {
                dup2(fds[1], 2);
            } else if (!options.stderr_file.empty()) {
                int err = open(options.stderr_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (err >= 0) {
                    dup2(err, 2);
                    close(err);
                }
            }
            close(fds[0]);
            close(fds[1]);
            if (options.address_limit) {
                struct rlimit limit = {(rlim_t)options.address_limit, (rlim_t)options.address_limit};
                if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
            }
            if (chdir(cwd.c_str()) != 0) _exit(127);
            std::vector<char *> argv;
            argv.push_back((char *)WYN_BINARY);
            for (std::string &a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(WYN_BINARY, argv.data());
            _exit(127);
        }
        close(fds[1]);
        out = fds[0];
    }
    WynProcess(const WynProcess &) = delete;
    WynProcess &operator=(const WynProcess &) = delete;
    ~WynProcess()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (out >= 0) close(out);
    }

    // Appends what arrives within `ms`: 1 when something came, 0 when
    // nothing did, -1 once the output has ended.
    int read_some(int ms)
    {
        struct pollfd p = {out, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0) return 0;
        char buffer[65536];
        ssize_t n = read(out, buffer, sizeof(buffer));
        if (n <= 0) return -1;
        text.append(buffer, (size_t)n);
        return 1;
    }

    bool running() { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }

    // Waits for the end; the exit code, or -1 when a signal ended it.
    int wait_exit()
    {
        waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Waits for the end up to `seconds`, keeping `status`, the peak
    // resident size the kernel counted (so nothing in wyn is trusted to
    // count its own memory) and the rest of the output; false while it
    // still runs.
    bool wait_end(int seconds = 60)
    {
        for (int waited = 0; waited < seconds * 100; waited += 1) {
            struct rusage usage = {};
            if (wait4(pid, &status, WNOHANG, &usage) == pid) {
                pid = -1;
                peak_kib = usage.ru_maxrss;
                while (read_some(100) > 0) {
                }
                return true;
            }
            if (read_some(10) < 0) usleep(10000);   // read meanwhile: a full pipe would stall it
        }
        return false;
    }
};
#endif

// A path as wyn prints it: on Windows with its drive and forward slashes.
inline std::string printed_path(const std::filesystem::path &path)
{
#ifdef _WIN32
    return std::filesystem::absolute(path).generic_string();
#else
    return path.string();
#endif
}

// `text` without the notes that a document names no page: tests of other
// diagnostics write documents without output_path and look for silence.
inline std::string without_page_notes(const std::string &text)
{
    const std::string head = "note: \n  this document has no output_path, so no page is written for it\n";
    std::string out;
    size_t at = 0;
    for (size_t found = text.find(head); found != std::string::npos; found = text.find(head, at)) {
        out.append(text, at, found - at);
        size_t end = text.find('\n', found + head.size());
        at = end == std::string::npos ? text.size() : end + 1;
    }
    out.append(text, at, std::string::npos);
    return out;
}
