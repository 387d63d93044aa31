// Any bytes as the preview server's request target: a file is answered only
// when it really lies inside a published folder and is the one the decoded
// path names there, and every target with a forbidden form (a NUL raw or
// escaped anywhere, a backslash, a colon, a dotted or empty segment, a broken
// escape) is refused. The served tree, with links in and out of it, is made
// once per process in a temporary folder.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "http/server.h"
#include "os/platform.h"

static void require(bool ok)
{
    if (!ok) abort();
}

static std::string base;

static void write(const std::string &path, const char *text)
{
    file_write_all(Str{path.data(), path.size()}, str_from_cstring(text), FileWrite_Replace);
}

static void remove_tree() { (void)!system(("rm -rf '" + base + "'").c_str()); }

static const HttpServerConfig *served_tree(Arena *arena)
{
    static HttpServerConfig config = {};
    if (config.root_count) return &config;
    char pattern[] = "/tmp/wyn-path-fuzz-XXXXXX";
    base = mkdtemp(pattern);
    atexit(remove_tree);
    for (const char *folder : {"/html", "/html/docs", "/html/empty", "/html/shared", "/shared", "/hxml"})
        mkdir((base + folder).c_str(), 0755);
    write(base + "/secret.txt", "secret");
    write(base + "/hxml/secret.txt", "secret");   // beside html/, a name as long
    write(base + "/html/index.html", "home");
    write(base + "/html/a.html", "a");
    write(base + "/html/sp ace.html", "space");
    write(base + "/html/docs/index.html", "docs");
    write(base + "/html/docs/b.css", "b");
    write(base + "/html/shared/c.css", "published");
    write(base + "/shared/c.css", "source");
    write(base + "/shared/d.js", "d");
    (void)!symlink((base + "/html/a.html").c_str(), (base + "/html/in.html").c_str());
    (void)!symlink((base + "/secret.txt").c_str(), (base + "/html/out.html").c_str());
    (void)!symlink((base + "/hxml/secret.txt").c_str(), (base + "/html/sibling.html").c_str());
    (void)!symlink(base.c_str(), (base + "/html/up").c_str());
    config.roots[config.root_count++] = {str_lit("/"), str_pushf(arena, "%s/html/", base.c_str())};
    config.roots[config.root_count++] = {str_lit("/shared/"), str_pushf(arena, "%s/shared/", base.c_str())};
    return &config;
}

static int hex(u8 c)
{
    if (c >= '0' && c <= '9') return c - '0';
    c |= 0x20;
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The oracle's own reading of a target: whether a rule forbids it, and
// the path it names, decoded, query cut off.
static bool forbidden(Str raw, std::string *decoded)
{
    if (str_find_byte(raw, 0, 0) < raw.size || str_find(raw, str_lit("%00"), 0, 0) < raw.size) return true;
    u64 end = str_find_byte(raw, '?', 0);
    for (u64 i = 0; i < end; i += 1) {
        u8 c = (u8)raw.str[i];
        if (c == '%') {
            if (i + 2 >= end || hex((u8)raw.str[i + 1]) < 0 || hex((u8)raw.str[i + 2]) < 0) return true;
            c = (u8)(hex((u8)raw.str[i + 1]) * 16 + hex((u8)raw.str[i + 2]));
            i += 2;
        }
        decoded->push_back((char)c);
    }
    if (decoded->empty() || (*decoded)[0] != '/') return true;
    size_t start = 1;
    for (size_t i = 1; i <= decoded->size(); i += 1) {
        if (i < decoded->size()) {
            u8 c = (u8)(*decoded)[i];
            if (c < 0x20 || c == '\\' || c == ':') return true;
            if (c != '/') continue;
        }
        if (i == start && i < decoded->size()) return true;        // an empty segment
        if (i > start && (*decoded)[start] == '.') return true;    // ".", "..", ".name"
        start = i + 1;
    }
    return false;
}

// What the first root that takes the decoded path and holds its file inside
// itself would serve, links followed; empty when none does.
static Str expected_file(Arena *arena, const HttpServerConfig *config, const std::string &decoded)
{
    for (u32 i = 0; i < config->root_count; i += 1) {
        std::string prefix(config->roots[i].prefix.str, config->roots[i].prefix.size);
        if (decoded.compare(0, prefix.size(), prefix) != 0) continue;
        Str root = path_real(arena, config->roots[i].folder);
        Str c = str_pushf(arena, "%S%s", config->roots[i].folder, decoded.c_str() + prefix.size());
        if (file_properties(c).is_folder) c = str_pushf(arena, "%S/index.html", c);
        FileProperties props = file_properties(c);
        Str real = props.exists && !props.is_folder ? path_real(arena, c) : str_empty();
        if (real.size > root.size + 1 && str_match(root, real, StrMatch_Prefix) && real.str[root.size] == '/')
            return real;
    }
    return str_empty();
}

extern "C" int LLVMFuzzerTestOneInput(const u8 *data, size_t size)
{
    static Arena *config_arena = arena_alloc(MiB(1), KiB(64));
    static Arena *arena = arena_alloc(MiB(64), KiB(64));
    const HttpServerConfig *config = served_tree(config_arena);
    arena_clear(arena);
    Str raw = Str{(const char *)data, size};
    Str answer = http_request_file(arena, config, raw);
    std::string decoded;
    if (forbidden(raw, &decoded)) {
        require(answer.size == 0);
        return 0;
    }
    // The file named, or nothing; never another, never one outside.
    require(str_eq(answer, expected_file(arena, config, decoded)));
    if (answer.size) {
        require(str_eq(path_real(arena, answer), answer));   // links followed, no dots
        require(str_find(answer, str_lit("/."), 0, 0) >= answer.size);
        require(str_find(answer, str_lit("/hxml/"), 0, 0) >= answer.size);
        require(str_find(answer, str_lit("secret"), 0, 0) >= answer.size);
    }
    return 0;
}
