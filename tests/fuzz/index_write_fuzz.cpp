// Any bytes as the documents of an index: the index document wyn writes
// (its tree through markup_write) parses back to the same entries, in the
// same order: each link to the same path with the same title, or the same
// title alone. The bytes give the entries, a line each, "path\ttitle"; a
// path is a source's web path, a title is trimmed and has no line break or
// tab, as a header value has none (its blanks are counted, a tab is one).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "markup/markup_write.h"
#include "markup/parser.h"
#include "site/site_outputs.h"

struct Entry {
    std::string path;
    std::string title;
};

static std::string s(Str x) { return std::string(x.str, x.size); }

// The visible text of a run list: each run's text and the blanks after it.
static std::string runs_text(MarkupNode *parent)
{
    std::string out;
    for (MarkupNode *c = parent->first_child; !node_is_nil(c); c = c->next) {
        if (c->node_class != NodeClass_Text) continue;
        out += s(c->text);
        if (!node_is_nil(c->next)) out.append(c->space_after, ' ');
    }
    return out;
}

extern "C" int LLVMFuzzerTestOneInput(const u8 *data, size_t size)
{
    static Arena *arena = arena_alloc(MiB(256), KiB(64));
    arena_clear(arena);
    std::vector<Entry> entries;
    std::string text((const char *)data, size);
    for (size_t at = 0; at < text.size() && entries.size() < 64;) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        Entry e = {line.substr(0, tab), line.substr(tab + 1)};
        // What a summary's title can be: trimmed, one line, blanks runs of
        // at most 36 (as a run records them), no NUL.
        if (e.title.find_first_of(std::string("\t\n\v\f\r\0", 6)) != std::string::npos) continue;
        // A path is a source's web path: "/...", ending in ".wyn".
        if (e.path.find_first_of(std::string("\r\t\0\"", 4)) != std::string::npos) continue;
        if (e.path.size() < 5 || e.path[0] != '/' || e.path.compare(e.path.size() - 4, 4, ".wyn") != 0) continue;
        if (e.path.find("//") != std::string::npos) continue;   // no folder has an empty name
        Str trimmed = str_trim(str(e.title.data(), e.title.size()));
        e.title = s(trimmed);
        if (e.title.empty() || e.title.find(std::string(37, ' ')) != std::string::npos) continue;
        entries.push_back(e);
    }
    std::vector<IndexEntry> listed;
    for (const Entry &e : entries) listed.push_back({str(e.path.data(), e.path.size()), str(e.title.data(), e.title.size())});
    MarkupNode *tree = index_document_tree(arena, listed.data(), listed.size(), str_lit("2026-12-7"));
    Str written = markup_write(arena, tree);
    ParsedDocument parsed = markup_parse(arena, written, nullptr);
    if (getenv("WYN_FUZZ_SHOW")) fprintf(stderr, "%.*s\n", (int)written.size, written.str);

    // The items of the list, in order.
    size_t k = 0;
    for (MarkupNode *n = parsed.root; !node_is_nil(n); n = node_preorder_next(n, parsed.root)) {
        if (!node_is_element(n, MarkupKind_ListItem) || node_is_element(n->parent->parent, MarkupKind_Toc)) continue;
        if (k >= entries.size()) abort();
        MarkupNode *link = n->first_child;
        if (node_is_element(link, MarkupKind_LinkFile)) {
            MarkupNode *desc = link->last_child;
            if (s(link->first_child->text) != "\"" + entries[k].path + "\"" && s(link->first_child->text) != entries[k].path)
                abort();
            if (!node_is_element(desc, MarkupKind_Desc) || runs_text(desc) != entries[k].title) abort();
        } else if (runs_text(n) != entries[k].title) {
            abort();
        }
        k += 1;
    }
    if (k != entries.size()) abort();
    return 0;
}
