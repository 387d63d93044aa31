// site/tree_command.cpp: the tree= option.
#include "site/tree_command.h"

#include "markup/parser.h"
#include "markup/tree_dump.h"
#include "os/platform.h"

int markup_tree_command(Str path, const SiteConfig *config)
{
    Arena *arena = arena_alloc(MiB(64), MiB(1));
    if (!arena) {
        arena_report_refused("the document tree", MiB(64));
        return 1;
    }
    FileProperties properties = {};
    Str source = file_read_all(arena, path, &properties);
    if (!properties.exists) {
        console_write_error(str_pushf(arena, "wyn: cannot read %S\n", path));
        return 1;
    }
    source = markup_source_text(source);
    ParseOptions options = {};
    options.local_folder = config->layout.local_folder;
    options.print_todos = config->print_todos;
    ParsedDocument doc = markup_parse(arena, source, &options);
    console_write(markup_tree_dump(arena, &doc, path, source));
    return 0;
}
