// tools/highlight_train.cpp: the tree-sitter runtime's share of highlighting
// (a parse, the grammar's highlight queries run match by match, the nodes'
// byte ranges read), run over sample code. A Release
// build links it with a runtime compiled to count its branches, runs it,
// and compiles wyn's runtime again with those counts (cmake/tree_sitter.cmake).
//
// Usage: highlight_train LANGUAGE FILE [LANGUAGE FILE ...]
// Each sample is run until it has made up train_bytes, so that a short
// sample weighs about as much as a long one and no language's paths
// through the runtime crowd out another's. LANGUAGE is a grammar's own name ("cpp", "python"). Any failure (an
// unknown language, an unreadable file, a query the runtime refuses, a
// parse that gives nothing) stops it with status 1, so the build says so
// rather than optimising for a run that did not happen.
#include <tree_sitter/api.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "render/highlight.h"

static constexpr size_t train_bytes = 32 * 1024;

static bool read_file(const char *path, std::string *out)
{
    std::FILE *f = std::fopen(path, "rb");
    if (!f) return false;
    char buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out->append(buffer, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

static const HighlightGrammar *grammar_named(const char *name)
{
    for (u32 i = 0; i < highlight_grammar_count; i += 1)
        if (std::strcmp(highlight_grammar_table[i].name, name) == 0) return &highlight_grammar_table[i];
    return nullptr;
}

// Returns the number of non-empty captures the queries found, or -1.
static long train(const HighlightGrammar *grammar, const std::string &code)
{
    const TSLanguage *language = grammar->language();
    u32 error_offset = 0;
    TSQueryError error = TSQueryErrorNone;
    TSQuery *query = ts_query_new(language, grammar->query, (u32)std::strlen(grammar->query), &error_offset, &error);
    if (!query) return -1;
    TSParser *parser = ts_parser_new();
    TSTree *tree = ts_parser_set_language(parser, language)
                       ? ts_parser_parse_string(parser, nullptr, code.data(), (u32)code.size())
                       : nullptr;
    long captures = -1;
    if (tree) {
        captures = 0;
        TSQueryCursor *cursor = ts_query_cursor_new();
        ts_query_cursor_exec(cursor, query, ts_tree_root_node(tree));
        TSQueryMatch match;
        while (ts_query_cursor_next_match(cursor, &match))
            for (u16 i = 0; i < match.capture_count; i += 1)
                captures += ts_node_end_byte(match.captures[i].node) > ts_node_start_byte(match.captures[i].node);
        ts_query_cursor_delete(cursor);
        ts_tree_delete(tree);
    }
    ts_parser_delete(parser);
    ts_query_delete(query);
    return captures;
}

int main(int argc, char **argv)
{
    if (argc < 3 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: highlight_train LANGUAGE FILE [LANGUAGE FILE ...]\n");
        return 1;
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        const HighlightGrammar *grammar = grammar_named(argv[i]);
        std::string code;
        if (!grammar) {
            std::fprintf(stderr, "highlight_train: no grammar named %s\n", argv[i]);
            return 1;
        }
        if (!read_file(argv[i + 1], &code) || code.empty()) {
            std::fprintf(stderr, "highlight_train: cannot read %s\n", argv[i + 1]);
            return 1;
        }
        for (size_t done = 0; done < train_bytes; done += code.size()) {
            if (train(grammar, code) <= 0) {
                std::fprintf(stderr, "highlight_train: nothing highlighted in %s as %s\n", argv[i + 1], argv[i]);
                return 1;
            }
        }
    }
    return 0;
}
