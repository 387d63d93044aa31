// site/command_line.h: the option grammar.
//
// Runs on the main thread before the build's threads start; what it builds
// is read once into the site configuration (site/options.h). Which options
// exist is the option table's business, not the grammar's.
//
// Grammar: every argument is cut into tokens at double quotes (blanks
// inside one are kept: a path may hold them). A token "name", "-name" or
// "--name" is a flag; "name=value" or "name:value" gives a value; "name="
// or a value ending in "," leaves the option pending, so the next token is
// a comma-separated list of values ("target: /x/" and "a:x, y" both work).
// Unknown options are accepted and ignored; of two options with one name
// the first counts.
#pragma once
#include "base/str.h"

//- options

struct CommandLineOption {
    CommandLineOption *next;   // next option of the bucket, in command-line order
    CommandLineOption *next_given;   // the next option of the whole command line
    Str name;                  // without leading dashes, up to the first ':' or '='
    bool dashed;               // typed as -name or --name
    StrList values;
    Str value;                 // the values joined with ",", NUL-terminated; empty without values
};

struct CommandLineBucket {
    CommandLineOption *first;
    CommandLineOption *last;
};

constexpr u64 cmd_line_bucket_count = 64;

struct CommandLine {
    CommandLineBucket buckets[cmd_line_bucket_count];
    CommandLineOption *first_given;   // every option in the order given, through next_given
    CommandLineOption *last_given;
};

CommandLine *cmd_line_parse(Arena *arena, StrList args);
CommandLineOption *cmd_line_option(const CommandLine *cmd, Str name);   // first one given, or null
Str cmd_line_value(const CommandLine *cmd, Str name);                   // empty when absent
// Present with no value, "true" (any case) or "1".
bool cmd_line_has_flag(const CommandLine *cmd, Str name);
