// site/document_job.h: one document's trip, from its source to its
// published summary.
//
// A parser worker of the build (site/build.h) hands every popped path to
// document_job, which goes through the steps in this order, on the
// worker's thread:
//  1. claim the document's record (a busy document's job is dropped);
//  2. read the source (the generated index from disk, any other document
//     through the file service, held while its tree points into it);
//  3. parse it;
//  4. resolve what it embeds: an embedded CSV file becomes the table it
//     holds, in the link's place; the site's index document also shows the
//     website index, parsed here, once per build;
//  5. check its links (site/links.h), which mark links and change nothing
//     else; a document that must wait is parked here and the trip ends;
//  6. index its tables;
//  7. print its diagnostics;
//  8. build and write its pages (site/pages.h);
//  9. publish its summary and release the record.
//
// Everything a build makes (tree, pages) lives on the worker's scratch and
// is gone when the job returns; what others may read is the summary.
// Settings come from the build's records; nothing here reads a global
// setting. The image-size cache is a process-wide service of this file.
#pragma once
#include "markup/parser.h"
#include "render/renderer.h"
#include "site/build.h"

// The build's SiteDocumentJob.
void document_job(SiteBuild *build, Str path, Arena *scratch);

// The parse and render options of a build's documents.
ParseOptions document_parse_options(const SiteBuild *build);
RenderOptions document_render_options(const SiteBuild *build);

// The size of a JPEG as pages show it, through the file service and kept by
// content key, so one picture on a thousand pages is read once.
JpegInfo document_image_info(Arena *arena, Str path);
