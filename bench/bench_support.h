// Helpers shared by the benchmark programs: the generated corpus, child
// processes for measurements that need a clean address space, and Str views.
#pragma once
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>
#include <sys/wait.h>
#include <unistd.h>

#include "base/str.h"

inline Str as_str(const std::string &x) { return Str{x.data(), x.size()}; }

// The site written by bench/gen_site.py (10,000 documents, seed 1), made on
// first use; WYN_BENCH_SITE names another generated site.
inline std::string bench_corpus_site()
{
    const char *env = std::getenv("WYN_BENCH_SITE");
    std::string site = env ? env : "/tmp/wyn-bench-site-1-10000";
    if (!std::filesystem::exists(site + "/local/wyn_files")) {
        std::string command = std::string("python3 '") + WYN_SOURCE_DIR + "/bench/gen_site.py' --out '" + site +
                              "' --count 10000 --seed 1";
        if (std::system(command.c_str()) != 0) return site;
    }
    return site;
}

// Every source document of the corpus, in path order.
inline std::vector<std::string> bench_corpus_documents(const std::string &site)
{
    std::vector<std::string> paths, documents;
    std::string folder = site + "/local/wyn_files";
    if (!std::filesystem::exists(folder)) return documents;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().extension() == ".wyn") paths.push_back(entry.path().string());
    std::sort(paths.begin(), paths.end());
    for (const std::string &path : paths) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        documents.push_back(text.str());
    }
    return documents;
}

// Runs `work` in a child process and returns the numbers it reported, so a
// measurement of peak memory or of threads that never end starts clean.
inline std::vector<double> run_in_child(const std::function<std::vector<double>()> &work)
{
    int fds[2];
    if (pipe(fds) != 0) return {};
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::vector<double> figures = work();
        ssize_t ignored = write(fds[1], figures.data(), figures.size() * sizeof(double));
        (void)ignored;
        _exit(0);
    }
    close(fds[1]);
    std::vector<double> figures;
    double value;
    while (read(fds[0], &value, sizeof(value)) == (ssize_t)sizeof(value)) figures.push_back(value);
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return figures;
}
