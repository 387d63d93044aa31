// shell/page_writer.cpp: one output file, written whole or not at all.
#include "shell/page_writer.h"

u32 page_write(Arena *arena, Str path, Str bytes, DiagnosticList *warnings, const PageWriteObserver *observer)
{
    if (bytes.size == 0) return FileReplace_Unchanged;
    FileReplaceResult result = file_replace(arena, path, bytes);
    if (result.status == FileReplace_Failed && warnings) {
        Str text = str_pushf(arena, "could not write %S: %S", path, result.reason);
        diag_push_at(arena, warnings, nullptr, 0, DiagLevel_Warning, text);
    }
    if (result.status == FileReplace_Written && observer && observer->written) observer->written(observer->user, path);
    return result.status;
}

Str html_text_of(Arena *arena, HtmlElement *root, const HtmlWriteOptions *options)
{
    return html_serialize_text(arena, root, options);
}
