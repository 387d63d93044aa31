// shell/assets.h: the site's font and icon style sheets, copied into the
// published shared folder with their addresses rewritten for the mode.
//
// Pages open straight from disk (file addresses) or from a web server
// (deploy: web paths), and a sheet's font addresses must work in both, so
// the copy carries the form of the current mode. What is rewritten: the
// address inside each "url(" ... ")", quoted or not, when it names a file of
// the site (a site path "/...", a drive path, a file address, or a path
// relative to the source sheet's folder). Addresses with any other scheme
// ("data:", "https:") and fragment-only ones are copied unchanged, as is a
// quoted address whose closing quote does not come before the ")" or the end
// of its line. The scan is linear in the text and never reads past it.
//
// Runs on the thread that sets up or refreshes the shell; the result lives
// on the arena passed in.
#pragma once
#include "shell/settings.h"

// The rewritten text; `source_folder` is the local folder of the sheet,
// against which relative addresses are resolved.
Str css_rewrite_urls(Arena *arena, const ShellSettings *settings, Str text, Str source_folder);

// Reads the source sheet and writes its rewritten copy to the destination.
// A missing or empty source writes nothing (FileReplace_None). A failed
// write keeps the old copy and adds a warning to `messages`. `out_key`
// gets the content key the source was read at.
u32 css_copy_rewritten(Arena *arena, const ShellSettings *settings, Str source_path, Str destination_path,
                       ShellMessages *messages, ContentKey *out_key);
