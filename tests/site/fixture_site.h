// A fixture site under tests/sites/ copied into a temporary folder and built
// there by the real wyn, which runs until its html folder has settled.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "../test_support.h"
#include "../wyn_process.h"

namespace fixture {

namespace fs = std::filesystem;

struct FixtureSite {
    TempFolder folder{"wyn-pages"};
    fs::path root = folder.path;
    fs::path local = root / "local";
    explicit FixtureSite(const std::string &name)
    {
        fs::copy(fs::path(WYN_SOURCE_DIR) / "tests/sites" / name, root, fs::copy_options::recursive);
    }
    fs::path html(const std::string &relative) const { return local / "html" / relative; }
};

// Every file under html/ (the manifest and the shared copies left out),
// relative, with its modification time.
inline std::map<std::string, fs::file_time_type> html_files(const FixtureSite &site)
{
    std::map<std::string, fs::file_time_type> files;
    fs::path html = site.local / "html";
    if (!fs::exists(html)) return files;
    // wyn writes while this looks: a temporary file may vanish between the
    // listing and the look at its time, so nothing here may throw.
    std::error_code ec;
    for (fs::recursive_directory_iterator it(html, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code file_ec;
        if (!it->is_regular_file(file_ec)) continue;
        std::string relative = fs::relative(it->path(), html, file_ec).string();
        if (relative == ".wyn_manifest" || relative.rfind("shared/", 0) == 0) continue;
        if (relative.find(".wyn-tmp") != std::string::npos) continue;
        auto time = fs::last_write_time(it->path(), file_ec);
        if (!file_ec) files[relative] = time;
    }
    return files;
}


// Runs wyn until it has said the site is up to date and the html folder and
// the manifest have not changed for a second since (wyn never stops by
// itself), then stops it. Fails after 60 s. A second of quiet alone is not
// enough on a loaded machine, where a worker may sit that long between two
// pages.
inline std::string run_until_quiet(const FixtureSite &site)
{
    WynProcess wyn(site.root.string(), {});
    EXPECT_GT(wyn.pid, 0);
    auto manifest = site.html(".wyn_manifest");
    std::map<std::string, fs::file_time_type> last;
    std::string last_manifest;
    int stable = 0;
    for (int i = 0; i < 600 && stable < 10; i += 1) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        wyn.drain();
        auto now = html_files(site);
        std::string m = fs::exists(manifest) ? read_file(manifest) : "";
        bool settled = wyn.text.find("up to date after") != std::string::npos;
        stable = (settled && now == last && m == last_manifest && !m.empty()) ? stable + 1 : 0;
        last = now;
        last_manifest = m;
    }
    EXPECT_EQ(stable, 10) << "wyn did not settle within 60 s";
    return wyn.text;
}

} // namespace fixture
