// Any bytes as a style sheet copied for pages: the rewritten text differs
// from the input only inside url(...), that is, between a "url(" and the
// first ")" or line end after it, where the address stands. The rest of a
// sheet (rules, comments, other functions) reaches the browser as written.
// Both modes: file addresses, and web paths with deploy.
#include <cstdlib>
#include <cstring>
#include <string>

#include "shell/assets.h"

// The text with every address span emptied: what must not change.
static std::string outside_urls(const std::string &text)
{
    std::string out;
    size_t at = 0;
    for (;;) {
        size_t open = text.find("url(", at);
        if (open == std::string::npos) break;
        size_t start = open + 4;
        size_t end = text.find_first_of(")\n", start);
        if (end == std::string::npos) end = text.size();
        out.append(text, at, start - at);
        out += '|';   // one mark per span, so two spans cannot merge
        at = end;
    }
    out.append(text, at, std::string::npos);
    return out;
}

extern "C" int LLVMFuzzerTestOneInput(const u8 *data, size_t size)
{
    static Arena *arena = arena_alloc(MiB(64), KiB(64));
    arena_clear(arena);
    std::string input((const char *)data, size);
    for (b32 deploy = 0; deploy < 2; deploy += 1) {
        ShellSettings settings = {};
        settings.local_folder = str_lit("/srv/site/local/");
        settings.deploy = deploy;
        Str out = css_rewrite_urls(arena, &settings, str(input.data(), input.size()), str_lit("/srv/site/local/shared/css"));
        std::string output(out.str, out.size);
        if (outside_urls(input) != outside_urls(output)) abort();
    }
    return 0;
}
