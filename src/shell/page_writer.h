// shell/page_writer.h: writes one output file (a page, a head template, a
// style-sheet copy) and turns a failure into a warning.
//
// The write is an atomic replace that is skipped when the file already
// holds the same bytes (os/file_replace.h), so a rebuild that changes
// nothing touches no file. A failed write leaves the old file as it was and
// pushes the warning "could not write <path>: <reason>" onto `warnings`
// (when given) on `arena`. Any thread may call these with its own arena.
#pragma once
#include "html/html_tree.h"
#include "base/diagnostics.h"
#include "os/file_replace.h"

// Told of every file actually rewritten (not of skipped identical bytes),
// on the writing thread, after the rename: a preview server reloads what a
// browser shows. It travels in the shell's settings; it must not block.
struct PageWriteObserver {
    void (*written)(void *user, Str path);   // null: nobody listens
    void *user;
};

// Returns the FileReplaceStatus. Empty bytes write nothing and count as
// unchanged: an empty page is never worth a file. `observer` may be null.
u32 page_write(Arena *arena, Str path, Str bytes, DiagnosticList *warnings,
               const PageWriteObserver *observer = nullptr);
// The serialized text of a tree, joined once, on `arena`.
Str html_text_of(Arena *arena, HtmlElement *root, const HtmlWriteOptions *options);
