// The whole program as a user starts it, on the generated site of
// bench/gen_site.py (10,000 documents, seed 1):
//   cold      wyn started in the site with no html folder, until every page
//             is on disk and nothing more happens
//   once      `wyn once` with no html folder, from start to exit
//   rebuild   wyn started again on the cold build's output: every
//             document is built again, and no file may change
//   floor     a small program that writes the same files (same bytes, same
//             folders) with plain open/write/close, the I/O floor of the
//             cold build; "floor+rename" writes each file as a temporary
//             file renamed over its path, as wyn's atomic writes do
// Each run is a fresh child process. wyn never exits on its own, so a run
// ends when it is quiet: no printed output, no manifest change and no more
// than idle CPU for `quiet_ms`; its figures are taken at the last moment it
// was busy, then the process is killed.
//
// Keeping the figures honest: an old output folder is renamed aside and
// deleted before the timed part, then the file system is synced, so no run
// pays for another's deletions or dirty pages; runs of the four kinds
// alternate within each round, so drift of the shared machine touches them
// all alike.
//
//   site_run_bench [rounds]     (WYN_BENCH_RUN_SITE names another site)
//   site_run_bench once [rounds]
//             only `wyn once` beside the floor of its own round, with the
//             load average and a hash of the output tree: a minute a round,
//             for measuring one change at a time; WYN_BENCH_BEFORE names
//             another wyn binary that runs too in every round, the two
//             taking turns at going first. Old output is only renamed
//             aside until the rounds are over (see clear_output);
//             WYN_BENCH_DROP_CACHES=1 starts every timed run, the floor's
//             too, with the page cache dropped (see settle_memory);
//             WYN_BENCH_HOLD_MEMORY=1 keeps the memory the guest freed from
//             going back to the virtual machine's host (see hold_memory);
//             WYN_BENCH_SYNC=1 also times each run and each floor to the
//             end of a sync() after it: until every page is on the disk
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <malloc.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const int quiet_ms = 3000;
const int deadline_s = 600;

double now_s()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// utime + stime of a process, in seconds.
double process_cpu_s(pid_t pid)
{
    std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    size_t paren = stat.rfind(')');
    if (paren == std::string::npos) return 0;
    // Fields after the command: state is field 3; utime and stime are 14 and 15.
    const char *p = stat.c_str() + paren + 2;
    unsigned long long utime = 0, stime = 0;
    int field = 3;
    while (*p && field < 14) {
        if (*p == ' ') field += 1;
        p += 1;
    }
    if (sscanf(p, "%llu %llu", &utime, &stime) != 2) return 0;
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

unsigned long long proc_field(const std::string &text, const char *name)
{
    size_t at = text.find(name);
    if (at == std::string::npos) return 0;
    return strtoull(text.c_str() + at + strlen(name), nullptr, 10);
}

struct Stamp {
    long long mtime_ns;
    unsigned long long inode;
    long long size;
    bool operator==(const Stamp &o) const { return mtime_ns == o.mtime_ns && inode == o.inode && size == o.size; }
};

// Every regular file below `folder`, with what tells a rewrite apart.
std::map<std::string, Stamp> snapshot(const std::string &folder)
{
    std::map<std::string, Stamp> files;
    if (!fs::exists(folder)) return files;
    for (const auto &entry : fs::recursive_directory_iterator(folder)) {
        struct stat st;
        if (lstat(entry.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        files[entry.path().string()] = {st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec,
                                        (unsigned long long)st.st_ino, (long long)st.st_size};
    }
    return files;
}

// WYN_BENCH_SYNC=1: a run's figures also say when its pages were on disk.
bool g_sync_timed = false;

struct RunFigures {
    bool quiet = false;
    double wall_s = 0;
    double cpu_s = 0;
    double system_s = 0;     // of cpu_s, in the kernel (once only)
    double peak_rss_mib = 0;
    double synced_s = 0;     // start to the end of a sync() after the exit (WYN_BENCH_SYNC)
    unsigned long long write_calls = 0;   // write-type system calls, the console's included
    unsigned long long bytes_written = 0; // bytes handed to write(), the console's excluded
    unsigned long long printed_bytes = 0;
};

// Starts wyn in `site` and follows it until it has been quiet for quiet_ms.
RunFigures run_wyn(const std::string &site)
{
    RunFigures figures;
    std::string manifest = site + "/local/html/.wyn_manifest";
    int fds[2];
    if (pipe(fds) != 0) return figures;
    double start = now_s();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        if (chdir(site.c_str()) != 0) _exit(127);
        execl(WYN_BINARY, WYN_BINARY, (char *)nullptr);
        _exit(127);
    }
    close(fds[1]);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);

    double last_activity = start;
    double cpu_at_activity = 0;
    double last_cpu = 0, last_cpu_time = start;
    struct stat last_manifest = {};
    unsigned long long rss_kib = 0;
    std::string status;
    for (;;) {
        struct pollfd p = {fds[0], POLLIN, 0};
        poll(&p, 1, 20);
        double t = now_s();
        char buffer[1 << 16];
        ssize_t n;
        while ((n = read(fds[0], buffer, sizeof(buffer))) > 0) {
            figures.printed_bytes += (unsigned long long)n;
            last_activity = t;
        }
        struct stat st = {};
        if (stat(manifest.c_str(), &st) == 0 &&
            (st.st_size != last_manifest.st_size || st.st_mtim.tv_nsec != last_manifest.st_mtim.tv_nsec ||
             st.st_mtim.tv_sec != last_manifest.st_mtim.tv_sec)) {
            last_manifest = st;
            last_activity = t;
        }
        // Busy: more than a quarter of a core over the last tenth of a
        // second (the idle watch costs about 1 %).
        if (t - last_cpu_time >= 0.1) {
            double cpu = process_cpu_s(pid);
            if (cpu - last_cpu > 0.25 * (t - last_cpu_time)) last_activity = t;
            last_cpu = cpu;
            last_cpu_time = t;
        }
        if (last_activity == t) {
            cpu_at_activity = process_cpu_s(pid);
            status = read_file("/proc/" + std::to_string(pid) + "/status");
            rss_kib = std::max(rss_kib, proc_field(status, "VmHWM:"));
        }
        if (waitpid(pid, nullptr, WNOHANG) != 0) break;   // ended: a failure
        if (t - last_activity >= quiet_ms / 1000.0) {
            figures.quiet = true;
            break;
        }
        if (t - start > deadline_s) break;
    }
    status = read_file("/proc/" + std::to_string(pid) + "/status");
    rss_kib = std::max(rss_kib, proc_field(status, "VmHWM:"));
    std::string io = read_file("/proc/" + std::to_string(pid) + "/io");
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(fds[0]);
    figures.wall_s = last_activity - start;
    figures.cpu_s = cpu_at_activity;
    figures.peak_rss_mib = double(rss_kib) / 1024.0;
    figures.write_calls = proc_field(io, "syscw:");
    unsigned long long wchar = proc_field(io, "wchar:");
    figures.bytes_written = wchar > figures.printed_bytes ? wchar - figures.printed_bytes : 0;
    return figures;
}

// `wyn once` in `site`: start to exit, its output drained as it comes.
// "quiet" here means it exited with status 0 or 1 (1: the corpus has
// error-level diagnostics) and printed its summary.
RunFigures run_once(const std::string &site, unsigned long long *documents_built, const char *binary = WYN_BINARY)
{
    RunFigures figures;
    int fds[2];
    if (pipe(fds) != 0) return figures;
    // Spawned without a copy of this process: a forked child's peak
    // resident size (ru_maxrss) would count this process's pages, which
    // after a round of loaded output are many.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    posix_spawn_file_actions_addchdir_np(&actions, site.c_str());
    char *arguments[] = {(char *)binary, (char *)"once", nullptr};
    double start = now_s();
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, binary, &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        return figures;
    }
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    // wyn prints a line or a few per document (4 MB on the 10,000): woken
    // by each write, this process took CPU from the run it measures. With
    // room for a megabyte in the pipe it wakes every 10 ms at most, and wyn
    // never waits for it; the child's exit ends the wall time at once.
    fcntl(fds[0], F_SETPIPE_SZ, 1 << 20);
    int exited_fd = (int)syscall(SYS_pidfd_open, pid, 0);
    std::string tail;
    char buffer[1 << 16];
    // The peak resident size comes from the child's own VmHWM, read while
    // it runs: wait4's ru_maxrss starts from this process's high-water
    // mark (the spawn shares its memory until the exec), which after a
    // round of loaded output is far above wyn's.
    unsigned long long hwm_kib = 0;
    std::string status_path = "/proc/" + std::to_string(pid) + "/status";
    double end = 0;
    auto drain = [&]() {
        for (;;) {
            ssize_t n = read(fds[0], buffer, sizeof(buffer));
            if (n <= 0) return n == 0 || (errno != EAGAIN && errno != EINTR);
            figures.printed_bytes += (unsigned long long)n;
            tail.append(buffer, (size_t)n);
            if (tail.size() > 4096) tail.erase(0, tail.size() - 4096);
        }
    };
    for (;;) {
        struct pollfd p[2] = {{fds[0], POLLIN, 0}, {exited_fd, POLLIN, 0}};
        poll(p, exited_fd >= 0 ? 2 : 1, 50);
        if (exited_fd >= 0 && (p[1].revents & POLLIN)) {
            end = now_s();
            drain();
            break;
        }
        hwm_kib = std::max(hwm_kib, proc_field(read_file(status_path), "VmHWM:"));
        if (drain()) break;   // the pipe closed
        if (exited_fd >= 0) {
            struct pollfd wait_exit = {exited_fd, POLLIN, 0};
            poll(&wait_exit, 1, 10);
        }
    }
    if (exited_fd >= 0) close(exited_fd);
    int status = 0;
    struct rusage usage = {};
    wait4(pid, &status, 0, &usage);
    figures.wall_s = (end > 0 ? end : now_s()) - start;
    close(fds[0]);
    if (g_sync_timed) {
        sync();
        figures.synced_s = now_s() - start;
    }
    figures.cpu_s = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    figures.system_s = usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    figures.peak_rss_mib = double(hwm_kib) / 1024.0;
    size_t at = tail.rfind("wyn once: ");
    figures.quiet = WIFEXITED(status) && WEXITSTATUS(status) <= 1 && at != std::string::npos;
    *documents_built = at != std::string::npos ? strtoull(tail.c_str() + at + 10, nullptr, 10) : 0;
    return figures;
}

struct OutputFile {
    std::string path;   // relative to the html folder
    std::string bytes;
};

std::vector<OutputFile> load_output(const std::string &html)
{
    std::vector<OutputFile> files;
    for (const auto &[path, stamp] : snapshot(html)) files.push_back({path.substr(html.size() + 1), read_file(path)});
    return files;
}

// The floor, in a child process of its own: the same files written with
// plain calls. With `rename`, each goes through a temporary file first.
RunFigures run_floor(const std::string &html, const std::vector<OutputFile> &files, bool rename_over)
{
    RunFigures figures;
    int fds[2];
    if (pipe(fds) != 0) return figures;
    double start = now_s();
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::set<std::string> folders;
        bool ok = true;
        for (const OutputFile &f : files) {
            std::string path = html + "/" + f.path;
            std::string folder = path.substr(0, path.rfind('/'));
            if (folders.insert(folder).second) {
                for (size_t at = html.size(); at != std::string::npos; at = folder.find('/', at + 1))
                    mkdir(folder.substr(0, at).c_str(), 0755);
                mkdir(folder.c_str(), 0755);
            }
            std::string target = rename_over ? folder + "/.tmp_floor" : path;
            int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0) {
                ok = false;
                continue;
            }
            size_t done = 0;
            while (done < f.bytes.size()) {
                ssize_t n = write(fd, f.bytes.data() + done, f.bytes.size() - done);
                if (n <= 0) break;
                done += (size_t)n;
            }
            ok = ok && done == f.bytes.size();
            close(fd);
            if (rename_over && rename(target.c_str(), path.c_str()) != 0) ok = false;
        }
        struct rusage usage;
        getrusage(RUSAGE_SELF, &usage);
        double cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        double values[3] = {ok ? 1.0 : 0.0, cpu, 0.0};
        ssize_t ignored = write(fds[1], values, sizeof(values));
        (void)ignored;
        _exit(0);
    }
    close(fds[1]);
    double values[3] = {};
    ssize_t got = read(fds[0], values, sizeof(values));
    waitpid(pid, nullptr, 0);
    figures.wall_s = now_s() - start;
    close(fds[0]);
    if (g_sync_timed) {
        sync();
        figures.synced_s = now_s() - start;
    }
    figures.quiet = got == (ssize_t)sizeof(values) && values[0] == 1.0;
    figures.cpu_s = values[1];
    figures.write_calls = files.size();
    for (const OutputFile &f : files) figures.bytes_written += f.bytes.size();
    return figures;
}

// Set by `once` rounds: output folders are only renamed aside, and deleted
// when the rounds are over.
bool g_keep_aside = false;
int g_aside_count = 0;

// ext4 without a journal (this machine's disk) checks, for every inode it
// hands out, each free inode it passes on the way: one freed less than 60 s
// ago (360 s while its table block is dirty) is skipped, so every new file
// walks past all the files deleted in the last minute. A benchmark started
// right after another deleted 70,000 pages spent most of its system time in
// that walk (`recently_deleted`, `find_get_block_common` and
// `find_inode_bit`: half of a cold `once`'s samples). Deletions leave a
// stamp, and a run waits until the disk has forgotten them.
const char *const deletion_stamp = "/tmp/wyn-bench-deleted-at";
const int deletion_memory_s = 400;

void note_deletion()
{
    sync();
    std::ofstream(deletion_stamp, std::ios::trunc) << (long long)time(nullptr) << "\n";
}

void wait_for_forgotten_deletions()
{
    long long at = 0;
    std::ifstream(deletion_stamp) >> at;
    long long left = at + deletion_memory_s - (long long)time(nullptr);
    if (left <= 0) return;
    printf("waiting %lld s: files were deleted %lld s ago\n", left, deletion_memory_s - left);
    fflush(stdout);
    sleep((unsigned)left);
}

// Renames the html folder aside and deletes it, then syncs: none of it is
// timed. A run right after the deletion of 35,000 files would pay for a
// walk past them that a first build never meets (see above): with
// g_keep_aside the deletion waits until every run is over.
void clear_output(const std::string &site)
{
    std::string html = site + "/local/html";
    if (fs::exists(html)) {
        std::string aside = site + "/html-aside-" + std::to_string(getpid()) + "-" + std::to_string(g_aside_count++);
        fs::rename(html, aside);
        if (!g_keep_aside) {
            fs::remove_all(aside);
            note_deletion();
        }
    }
    sync();
}

void remove_asides(const std::string &site)
{
    for (int i = 0; i < g_aside_count; i += 1)
        fs::remove_all(site + "/html-aside-" + std::to_string(getpid()) + "-" + std::to_string(i));
    if (g_aside_count) note_deletion();
}

// WYN_BENCH_DROP_CACHES=1 (needs root): every timed run starts with the
// page cache dropped and the site's sources read back in. On this virtual
// machine a page-cache page the guest has not used before costs far more to
// fill than one it freed: written 35,000 files at a time into one folder,
// plain open/write/close took 1.9 s of CPU at first, then 3.6 and 4.6 s as
// the cache grew into untouched memory, and 1.7 s again after each drop.
// Without this, whichever run writes later in a round pays for the earlier
// runs' cached pages.
bool g_drop_caches = false;

void settle_memory(const std::string &site)
{
    if (!g_drop_caches) return;
    sync();
    std::ofstream drop("/proc/sys/vm/drop_caches");
    drop << "3\n";
    drop.flush();
    if (!drop) {
        printf("WYN_BENCH_DROP_CACHES: the page cache could not be dropped (not root?); runs go on without\n");
        g_drop_caches = false;
        return;
    }
    // The sources come back from the disk now, not during the timed run:
    // what is measured is the build and its writes.
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(site + "/local", error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (it->path().filename() == "html" && it->is_directory()) {
            it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file()) (void)read_file(it->path().string());
    }
}

// WYN_BENCH_HOLD_MEMORY=1 (needs root): this virtual machine hands memory
// the guest freed back to its host, a few hundred MB a second; filling a
// page the host took back costs some 10 us, several times a page the guest
// still holds. A run that needs less than the last one freed (10,000
// documents) fills held pages; one that needs more (100,000: 8 GB of page
// cache) fills pages given back, while the floor, run seconds after wyn's
// pages were dropped, fills pages still held. With this, the hand-back is
// stopped for the rounds (the order of the blocks it reports raised above
// the largest block; restored on exit) and the free memory is touched once,
// so every run fills memory the guest holds, as on a machine of its own.
const char *reporting_order_path = "/sys/module/page_reporting/parameters/page_reporting_order";
std::string g_reporting_order;

void restore_reporting()
{
    if (g_reporting_order.empty()) return;
    std::ofstream(reporting_order_path) << g_reporting_order;
    g_reporting_order.clear();
}

void hold_memory()
{
    // Without the old order it could not be put back: leave it alone then.
    std::string order = read_file(reporting_order_path);
    std::ofstream stop;
    if (!order.empty()) {
        stop.open(reporting_order_path);
        stop << "11\n";
        stop.flush();
    }
    if (order.empty() || !stop) {
        printf("WYN_BENCH_HOLD_MEMORY: free page reporting could not be stopped; runs go on without\n");
        return;
    }
    g_reporting_order = order;
    atexit(restore_reporting);
    for (int s : {SIGINT, SIGTERM}) signal(s, [](int) { restore_reporting(); _exit(1); });
    long long available_kib = (long long)proc_field(read_file("/proc/meminfo"), "MemAvailable:");
    size_t bytes = (size_t)std::max(0ll, available_kib - 2 * 1024 * 1024) * 1024;
    auto start = std::chrono::steady_clock::now();
    void *p = bytes ? mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) : MAP_FAILED;
    if (p != MAP_FAILED) {
        for (size_t i = 0; i < bytes; i += 4096) ((volatile char *)p)[i] = 1;
        munmap(p, bytes);
    }
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("free page reporting stopped (order %s -> 11); %.1f GiB touched in %.1f s\n",
           order.substr(0, order.find('\n')).c_str(), bytes / 1073741824.0, s);
}

void print_row(const char *name, const RunFigures &f, double floor_wall, double floor_synced = 0)
{
    printf("%-14s %s wall %7.2f s  cpu %7.2f s  ", name, f.quiet ? "    " : "FAIL", f.wall_s, f.cpu_s);
    // The floor's child shares the loaded files with this process: its
    // resident size says nothing about the floor.
    if (f.peak_rss_mib > 0) printf("rss %7.1f MiB  ", f.peak_rss_mib);
    else printf("rss        -      ");
    printf("writes %8llu  bytes %11llu  printed %9llu", f.write_calls, f.bytes_written, f.printed_bytes);
    if (floor_wall > 0) printf("  %.2fx floor", f.wall_s / floor_wall);
    if (f.synced_s > 0) printf("  to disk %.2f s", f.synced_s);
    if (f.synced_s > 0 && floor_synced > 0) printf(" (%.2fx floor's)", f.synced_s / floor_synced);
    printf("\n");
    fflush(stdout);
}

// FNV-1a over every page's path and bytes, in path order: two trees with
// the same hash hold the same pages. The manifest lists pages in the order
// they were written, which differs from run to run once two workers write:
// it is left out.
struct TreeHash {
    unsigned long long h = 1469598103934665603ull;
    void mix(const std::string &text)
    {
        for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
        h = (h ^ 0xFF) * 1099511628211ull;
    }
    void add(const std::string &path, const std::string &bytes)
    {
        if (path == ".wyn_manifest") return;
        mix(path);
        mix(bytes);
    }
};

double load_average()
{
    double one = 0;
    sscanf(read_file("/proc/loadavg").c_str(), "%lf", &one);
    return one;
}

struct OnceRun {
    RunFigures figures;
    unsigned long long built = 0, bytes = 0, hash = 0;
    size_t files = 0;
};

// One `once` from an empty html folder, with what it wrote. The output is
// returned in `output` for the floor (null: only counted and hashed, a file
// at a time, so that a second run in a round does not hold a second copy of
// 100,000 documents' pages), then the folder is cleared.
OnceRun once_measured(const std::string &site, const char *binary, std::vector<OutputFile> *output)
{
    OnceRun run;
    std::string html = site + "/local/html";
    clear_output(site);
    settle_memory(site);
    run.figures = run_once(site, &run.built, binary);
    TreeHash hash;
    if (output) *output = {};
    for (const auto &[path, stamp] : snapshot(html)) {
        OutputFile f = {path.substr(html.size() + 1), read_file(path)};
        hash.add(f.path, f.bytes);
        run.bytes += f.bytes.size();
        run.files += 1;
        if (output) output->push_back(std::move(f));
    }
    run.hash = hash.h;
    clear_output(site);
    return run;
}

void print_once(const char *name, const OnceRun &run, const RunFigures &floor)
{
    printf("%s: %zu files, %llu bytes, pages hash %016llx, %llu documents built, cpu / wall %.2f, system %.2f s\n",
           name, run.files, run.bytes, run.hash, run.built, run.figures.cpu_s / run.figures.wall_s,
           run.figures.system_s);
    print_row(name, run.figures, floor.wall_s, floor.synced_s);
}

// `once`, then the floor of the same files, round after round.
int once_rounds(const std::string &site, int rounds)
{
    std::string html = site + "/local/html";
    const char *before_binary = getenv("WYN_BENCH_BEFORE");
    bool ok = true;
    // The rounds delete nothing until they are over.
    clear_output(site);
    wait_for_forgotten_deletions();
    for (int round = 0; round < rounds; round += 1) {
        double load = load_average();
        std::vector<OutputFile> output;
        // The two binaries take turns at going first: each deletion of the
        // output leaves the disk slower for the next writer for a while.
        OnceRun before, once;
        bool before_first = round % 2 == 0;
        if (before_binary && before_first) {
            before = once_measured(site, before_binary, nullptr);
            malloc_trim(0);
        }
        once = once_measured(site, WYN_BINARY, &output);
        if (before_binary && !before_first) before = once_measured(site, before_binary, nullptr);
        settle_memory(site);
        RunFigures floor = run_floor(html, output, false);
        clear_output(site);
        output.clear();
        output.shrink_to_fit();
        // Give the loaded pages back: a child started from this process
        // would otherwise report them in its peak resident size.
        malloc_trim(0);
        printf("-- round %d, load average %.2f at the start%s\n", round + 1, load,
               before_binary ? (before_first ? ", before first" : ", before second") : "");
        print_row("floor", floor, 0);
        if (before_binary) print_once("before", before, floor);
        print_once("once", once, floor);
        ok = ok && once.figures.quiet && floor.quiet && (!before_binary || before.figures.quiet);
    }
    remove_asides(site);
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    bool once_only = argc > 1 && strcmp(argv[1], "once") == 0;
    if (once_only) {
        argc -= 1;
        argv += 1;
    }
    int rounds = argc > 1 ? atoi(argv[1]) : 3;
    const char *env = getenv("WYN_BENCH_RUN_SITE");
    // A site of its own: this benchmark deletes and rewrites its html folder,
    // which must not disturb the other benchmarks' corpus.
    std::string site = env ? env : "/tmp/wyn-bench-run-1-10000";
    if (!fs::exists(site + "/local/wyn_files")) {
        std::string command = std::string("python3 '") + WYN_SOURCE_DIR + "/bench/gen_site.py' --out '" + site +
                              "' --count 10000 --seed 1";
        if (std::system(command.c_str()) != 0) return 1;
    }
    std::string html = site + "/local/html";
    if (once_only) {
        printf("site %s, wyn %s\n", site.c_str(), WYN_BINARY);
        // WYN_BENCH_DELETE_BETWEEN=1 deletes each output right away, as the
        // full rounds do: the disk state after many deletions.
        const char *between = getenv("WYN_BENCH_DELETE_BETWEEN");
        g_keep_aside = !(between && between[0] == '1');
        const char *drop = getenv("WYN_BENCH_DROP_CACHES");
        g_drop_caches = drop && drop[0] == '1';
        const char *hold = getenv("WYN_BENCH_HOLD_MEMORY");
        if (hold && hold[0] == '1') hold_memory();
        const char *synced = getenv("WYN_BENCH_SYNC");
        g_sync_timed = synced && synced[0] == '1';
        return once_rounds(site, rounds);
    }
    printf("site %s, wyn %s, quiet after %d ms\n", site.c_str(), WYN_BINARY, quiet_ms);
    bool ok = true;
    for (int round = 0; round < rounds; round += 1) {
        printf("-- round %d\n", round + 1);
        clear_output(site);
        // The one-shot run builds the site once: a second build (a first
        // build made stale by its own start-up loads) would show as about
        // twice the cold build and twice the documents built. It runs
        // before the cold build in odd rounds and after it in even ones:
        // each deletion of the output leaves the disk slower for the next
        // writer.
        unsigned long long once_built = 0;
        RunFigures once, cold;
        if (round % 2 == 0) {
            once = run_once(site, &once_built);
            clear_output(site);
            cold = run_wyn(site);
        } else {
            cold = run_wyn(site);
            std::string html_aside = site + "/html-cold-" + std::to_string(getpid());
            fs::rename(html, html_aside);
            sync();
            once = run_once(site, &once_built);
            clear_output(site);
            fs::rename(html_aside, html);
            sync();
        }
        std::map<std::string, Stamp> before = snapshot(html);
        unsigned long long files = before.size(), bytes = 0;
        for (const auto &[path, stamp] : before) bytes += (unsigned long long)stamp.size;
        sync();

        RunFigures rebuild = run_wyn(site);
        std::map<std::string, Stamp> after = snapshot(html);
        unsigned long long changed = 0;
        for (const auto &[path, stamp] : after) {
            auto it = before.find(path);
            if (it == before.end() || !(it->second == stamp)) {
                if (changed < 3)
                    printf("changed: %s (%s)\n", path.c_str(), it == before.end() ? "new" : "rewritten");
                changed += 1;
            }
        }
        changed += before.size() > after.size() ? before.size() - after.size() : 0;

        std::vector<OutputFile> output = load_output(html);
        clear_output(site);
        RunFigures floor = run_floor(html, output, false);
        clear_output(site);
        RunFigures floor_rename = run_floor(html, output, true);
        clear_output(site);

        printf("output: %llu files, %llu bytes; rebuild changed %llu files\n", files, bytes, changed);
        print_row("floor", floor, 0);
        print_row("floor+rename", floor_rename, 0);
        print_row("cold", cold, floor.wall_s);
        print_row("rebuild", rebuild, floor.wall_s);
        print_row("once", once, floor.wall_s);
        printf("rebuild / cold: %.2f; once / cold: %.2f (%llu documents built)\n", rebuild.wall_s / cold.wall_s,
               once.wall_s / cold.wall_s, once_built);
        ok = ok && cold.quiet && rebuild.quiet && floor.quiet && floor_rename.quiet && once.quiet && changed == 0;
    }
    return ok ? 0 : 1;
}
