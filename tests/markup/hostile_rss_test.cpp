// The whole program on documents written to cost memory: `wyn once` builds
// a site whose one source is megabytes of the same few hostile bytes, pages
// included, and its peak resident size must stay under 64 times the
// source's size. The peak is the kernel's (ru_maxrss of the reaped child),
// so nothing in wyn is trusted to count its own memory.
#include <gtest/gtest.h>
#include <unistd.h>   // POSIX only: the Windows build leaves this test out (cmake/windows.cmake)

#include <filesystem>
#include <string>

#include "../base/sanitized.h"
#include "../test_support.h"
#include "../wyn_process.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t source_size = 8u << 20;

std::string repeat_to(const std::string &piece, size_t size)
{
    std::string out;
    out.reserve(size + piece.size());
    while (out.size() < size) out += piece;
    out.resize(size);
    return out;
}

TEST(HostileSite, PeakMemoryStaysUnderSixtyFourTimesTheSource)
{
    if (WYN_SANITIZED) GTEST_SKIP() << "sanitizers multiply every allocation; a plain build measures this";
    std::string random_bytes;
    u64 seed = 0x9E3779B97F4A7C15ull;
    while (random_bytes.size() < source_size) {
        seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
        random_bytes += (char)(seed >> 56);
    }
    struct Case {
        const char *name;
        std::string body;
    };
    const Case cases[] = {
        {"x!", repeat_to("x!", source_size)},
        {"[", repeat_to("[", source_size)},
        {"@", repeat_to("@", source_size)},
        {"=", repeat_to("=", source_size)},
        {"|", repeat_to("|", source_size)},
        {"a ", repeat_to("a ", source_size)},
        // Every line a heading with its entry in the table of contents.
        {"lines of 30 !", repeat_to(std::string(30, '!') + "\n", source_size)},
        {"NUL", std::string(source_size, '\0')},
        {"hello world", repeat_to("hello world ", source_size)},
        {"random", random_bytes},
    };
    // Once without a page, once with the header naming one, so the pages
    // are rendered and written too.
    const std::string page_head = "``\noutput_path: \"/html/a.html\"\n``\n";
    for (bool pages : {false, true}) {
        for (const Case &c : cases) {
            TempFolder site("wyn-hostile");
            std::string head = (pages ? page_head : std::string()) + "Title\n  ";
            write_file(site.at("local/wyn_files/a.wyn"), head + c.body);
            size_t size = head.size() + c.body.size();
            WynProcess wyn(site.path, {"once"}, "/dev/null");
            ASSERT_TRUE(wyn.wait_end(120)) << c.name << ": wyn once did not finish within 120 s";
            EXPECT_TRUE(WIFEXITED(wyn.status)) << c.name << ": wyn did not exit normally";
            if (pages) {
                EXPECT_TRUE(fs::exists(site.at("local/html/a.html"))) << c.name << ": no page written";
            }
            double ratio = (double)wyn.peak_kib * 1024.0 / (double)size;
            EXPECT_LE(ratio, 64.0) << c.name << (pages ? " with pages" : "") << ": peak " << wyn.peak_kib
                                    << " KiB for " << size << " source bytes";
        }
    }
}

} // namespace
