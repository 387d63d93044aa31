// site/command_line.cpp: the option grammar.
#include "site/command_line.h"

//- tokens

// A token ends at a double quote; blanks inside an argument are kept, since
// each argument is already one word of the user's (a path may hold a
// blank: "init 'my site'", "target=/home/me/My Sites/docs/"). Empty tokens
// carry nothing and are dropped by the grammar, so a stray quote changes
// no option.
static void cut_tokens(Arena *arena, Str arg, StrList *tokens)
{
    u64 start = 0;
    for (u64 i = 0; i <= arg.size; i += 1) {
        if (i < arg.size && arg.str[i] != '"') continue;
        str_list_push(arena, tokens, str_substr(arg, start, i));
        start = i + 1;
    }
}

//- grammar

static CommandLineOption *option_append(Arena *arena, CommandLine *cmd, Str name)
{
    CommandLineOption *option = push_struct<CommandLineOption>(arena);
    option->name = name;
    CommandLineBucket *bucket = &cmd->buckets[str_hash(name) % cmd_line_bucket_count];
    list_append(bucket, option);
    if (cmd->last_given) cmd->last_given->next_given = option;
    else cmd->first_given = option;
    cmd->last_given = option;
    return option;
}

CommandLine *cmd_line_parse(Arena *arena, StrList args)
{
    CommandLine *cmd = push_struct<CommandLine>(arena);
    StrList tokens = {};
    for (StrNode *a = args.first; a; a = a->next) cut_tokens(arena, a->string, &tokens);

    CommandLineOption *pending = nullptr;
    for (StrNode *t = tokens.first; t; t = t->next) {
        Str token = str_trim(t->string);
        if (token.size == 0) continue;
        if (pending) {
            // A list of values; leading dashes mean nothing here.
            u64 start = 0;
            for (u64 i = 0; i <= token.size; i += 1) {
                if (i < token.size && token.str[i] != ',') continue;
                if (i == token.size && start == token.size && token.str[token.size - 1] == ',') break;
                str_list_push(arena, &pending->values, str_substr(token, start, i));
                start = i + 1;
            }
            if (token.str[token.size - 1] != ',') pending = nullptr;
            continue;
        }
        Str body = token;
        if (str_match(str_lit("--"), body, StrMatch_Prefix)) body = str_skip(body, 2);
        else if (str_match(str_lit("-"), body, StrMatch_Prefix)) body = str_skip(body, 1);
        bool dashed = body.size != token.size;
        u64 colon = str_find_byte(body, ':', 0);
        u64 equals = str_find_byte(body, '=', 0);
        u64 separator = min_of(colon, equals);
        CommandLineOption *option = option_append(arena, cmd, str_prefix(body, separator));
        option->dashed = dashed;
        if (separator == body.size) continue;   // a flag, never pending
        // "target: /x" given as one argument: the blank after the
        // separator only separates.
        Str value = str_skip(body, separator + 1);
        while (value.size && char_is_space((u8)value.str[0])) value = str_skip(value, 1);
        bool more = value.size == 0 || value.str[value.size - 1] == ',';
        // The comma that asks for more values separates; it is not data.
        if (value.size && more) value = str_chop(value, 1);
        if (value.size) str_list_push(arena, &option->values, value);
        if (more) pending = option;
    }

    StrJoin comma = {str_empty(), str_lit(","), str_empty()};
    for (u64 b = 0; b < cmd_line_bucket_count; b += 1)
        for (CommandLineOption *o = cmd->buckets[b].first; o; o = o->next)
            o->value = o->values.node_count ? str_list_join(arena, &o->values, &comma) : str_empty();
    return cmd;
}

CommandLineOption *cmd_line_option(const CommandLine *cmd, Str name)
{
    const CommandLineBucket *bucket = &cmd->buckets[str_hash(name) % cmd_line_bucket_count];
    for (CommandLineOption *o = bucket->first; o; o = o->next)
        if (str_eq(o->name, name)) return o;
    return nullptr;
}

Str cmd_line_value(const CommandLine *cmd, Str name)
{
    CommandLineOption *option = cmd_line_option(cmd, name);
    return option ? option->value : str_empty();
}

bool cmd_line_has_flag(const CommandLine *cmd, Str name)
{
    CommandLineOption *option = cmd_line_option(cmd, name);
    if (!option) return false;
    return option->value.size == 0 || str_match(option->value, str_lit("true"), StrMatch_CaseInsensitive) ||
           str_eq(option->value, str_lit("1"));
}
