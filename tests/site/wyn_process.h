// The built wyn started in a folder, its standard output collected: the
// end-to-end tests drive the real program, not a stand-in.
#pragma once
#include <csignal>
#include <string>
#include <vector>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

struct WynProcess {
    pid_t pid = -1;
    int out = -1;
    std::string text;

    // `stderr_file`: where the process's standard error goes (a sanitizer
    // report lands there); empty: into `text` with standard output, as a
    // terminal shows both (diagnostics go to standard error).
    WynProcess(const std::string &cwd, std::vector<std::string> args, const std::string &stderr_file = "")
    {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            if (stderr_file.empty()) dup2(fds[1], 2);
            if (!stderr_file.empty()) {
                int err = open(stderr_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (err >= 0) {
                    dup2(err, 2);
                    close(err);
                }
            }
            close(fds[0]);
            close(fds[1]);
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

    // Reads until every needle has appeared, the output ends, or the
    // generous deadline passes.
    bool read_until(const std::vector<std::string> &needles, int seconds = 60)
    {
        auto all_there = [&] {
            for (const std::string &n : needles)
                if (text.find(n) == std::string::npos) return false;
            return true;
        };
        for (int waited = 0; waited < seconds * 10; waited += 1) {
            if (all_there()) return true;
            struct pollfd p = {out, POLLIN, 0};
            if (poll(&p, 1, 100) > 0) {
                char buffer[65536];
                ssize_t n = read(out, buffer, sizeof(buffer));
                if (n <= 0) break;
                text.append(buffer, (size_t)n);
            }
        }
        return all_there();
    }
    bool read_until(const std::string &needle, int seconds = 60)
    {
        return read_until(std::vector<std::string>{needle}, seconds);
    }

    bool running() { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }

    // Waits for the end; the exit code, or -1 when a signal ended it.
    int wait_exit()
    {
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    size_t count(const std::string &needle) const
    {
        size_t n = 0;
        for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) n += 1;
        return n;
    }
};
