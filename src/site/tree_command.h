// site/tree_command.h: the tree= option: one document's parse, printed.
//
// For authors who want to see how wyn read a file, and for tests. Runs on
// the main thread and never starts the watch.
#pragma once
#include "site/options.h"

// Reads `path`, parses it with the run's settings (the local folder of the
// current directory, print_todos) and prints the dump to standard output.
// Returns the process exit code: 0, or 1 when the file cannot be read.
int markup_tree_command(Str path, const SiteConfig *config);
