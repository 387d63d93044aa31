// What every kind of test needs around the code it tests: strings between
// wyn's Str and the standard library's, whole files read and written the
// ways editors write them, a wait with a deadline, and a temporary folder
// that goes with everything in it. Portable: the Windows build's tests
// include it too.
#pragma once
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/str.h"

inline std::string s(Str x) { return std::string(x.str, x.size); }
inline Str as_str(const std::string &x) { return Str{x.data(), x.size()}; }

inline std::string read_file(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Truncated and written in place, as some editors and tools save; the
// folders above are made first.
inline void write_file(const std::filesystem::path &path, const std::string &text)
{
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A finished file renamed over the old one, as most editors save: a reader
// sees the old bytes or the new, never half.
// Windows refuses the rename while wyn has the old file open to read it,
// and an editor there tries again.
inline void write_replacing(const std::filesystem::path &path, const std::string &text)
{
    std::filesystem::path temporary = path.string() + ".tmp~";
    write_file(temporary, text);
    std::error_code refused;
    for (int attempt = 0; attempt < 100; attempt += 1) {
        std::filesystem::rename(temporary, path, refused);
        if (!refused) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::filesystem::rename(temporary, path);
}

inline std::string replace_all(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// A positive number from the environment, so a long CI run can repeat a
// test bigger or with another seed; `fallback` otherwise.
inline int env_int(const char *name, int fallback)
{
    const char *value = std::getenv(name);
    return value && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

// True once `pred` holds, false when `seconds` pass first: a lost wake-up
// fails its test with a message instead of hanging it.
template <typename Pred>
inline bool wait_for(Pred pred, int seconds = 30)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return pred();
}

// Every regular file below `folder` by its path relative to it, with its
// bytes; with `folders`, every folder too, as "/". Nothing here throws:
// a file that vanishes while it is listed is left out.
inline std::map<std::string, std::string> tree_bytes(const std::filesystem::path &folder, bool folders = false)
{
    namespace fs = std::filesystem;
    std::map<std::string, std::string> tree;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code e;
        std::string relative = fs::relative(it->path(), folder, e).generic_string();
        if (it->is_regular_file(e)) tree[relative] = read_file(it->path());
        else if (folders && it->is_directory(e)) tree[relative] = "/";
    }
    return tree;
}

// Removes a folder and everything in it, each entry once, and says nothing
// of what stays. Windows keeps a folder that a handle holds open (a folder
// watch of a service that never stops) until the process ends; the C++
// library's remove_all asks again and again for such an entry under wine.
// A folder a test made unreadable is opened up first.
inline void remove_tree(const std::filesystem::path &path)
{
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::is_directory(fs::symlink_status(path, error))) {
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, error);
        std::vector<fs::path> children;
        for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error))
            children.push_back(it->path());
        for (const fs::path &child : children) remove_tree(child);
    }
    fs::remove(path, error);
}

// A fresh folder under /tmp (the same host folder under wine), removed with
// everything in it.
struct TempFolder {
    std::string path;
    explicit TempFolder(const std::string &stem = "wyn-test")
    {
        std::string pattern = "/tmp/" + stem + "-XXXXXX";
        path = mkdtemp(pattern.data());
    }
    ~TempFolder() { remove_tree(path); }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    std::string at(const std::string &rest) const { return path + "/" + rest; }
    Str at(Arena *arena, const char *rest) const { return str_pushf(arena, "%s/%s", path.c_str(), rest); }
};
