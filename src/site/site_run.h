// site/site_run.h: starting a site: the pieces of the site layer in the
// order they depend on each other.
//
// site_start makes, in this order: the shell and its outputs (site/
// site_outputs.h), the pages and their manifest (site/pages.h), the build
// with its workers running document_job (site/build.h, site/document_job.h)
// and change detection (site/change_detect.h). The caller then registers
// and submits the site's sources and says when it is done
// (site_build_submissions_done). Main thread, once per process.
#pragma once
#include "shell/page_writer.h"
#include "site/build.h"

struct SiteStartOptions {
    SiteBuildConfig build;        // the build's tuning and print settings; `job` is filled in
    b32 quiet_lines;              // watch mode: one line each time the site is quiet again
    PageWriteObserver on_write;   // told of every file rewritten (a preview server)
};

SiteBuild *site_start(const SiteConfig *site, const SiteStartOptions *options);
