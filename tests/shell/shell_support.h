// Helpers of the shell tests: a temporary site folder, settings for it, file
// bytes in and out, and the serialized text of a tree.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "shell/page_shell.h"
#include "shell/page_writer.h"
#include "markup/paths.h"

inline std::string shell_s(Str x) { return std::string(x.str, x.size); }
inline Str shell_str(const std::string &s) { return Str{s.data(), s.size()}; }

inline std::string read_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

inline void write_bytes(const std::string &path, const std::string &bytes)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// `options`: how the tree is written (null: the table's own names).
inline std::string tree_text(Arena *arena, HtmlElement *root, const HtmlWriteOptions *options = nullptr)
{
    return shell_s(html_text_of(arena, root, options));
}

// A site under a fresh temporary folder: `local` ends with "/".
struct TempSite {
    std::string root;
    std::string local;
    TempSite()
    {
        char pattern[] = "/tmp/wyn-shell-XXXXXX";
        root = mkdtemp(pattern);
        local = root + "/local/";
        std::filesystem::create_directories(local);
    }
    ~TempSite() { remove_each_once(root); }
    // A folder the file service watches stays under wine until the process
    // ends (the watch holds it open), and the C++ library's remove_all asks
    // for such a folder again and again there: each entry is asked for once
    // and what stays is left.
    static void remove_each_once(const std::filesystem::path &path)
    {
        std::error_code error;
        if (std::filesystem::is_directory(std::filesystem::symlink_status(path, error))) {
            std::vector<std::filesystem::path> children;
            for (std::filesystem::directory_iterator it(path, error), end; !error && it != end; it.increment(error))
                children.push_back(it->path());
            for (const std::filesystem::path &child : children) remove_each_once(child);
        }
        std::filesystem::remove(path, error);
    }
    std::string path(const std::string &site_relative) const { return local + site_relative; }
};

inline ShellSettings shell_settings_for(const std::string &local, bool js, bool deploy)
{
    // The folder text must outlive the settings, whatever the caller passed.
    static Arena *keep = arena_alloc(MiB(1), KiB(4));
    ShellSettings s = {};
    s.local_folder = str_copy(keep, shell_str(local));
    s.js = js;
    s.deploy = deploy;
    s.web_path = site_relative_path;
    s.owner_name = str_lit("Ada Writer");
    s.owner_email = str_lit("ada@example.org");
    return s;
}
