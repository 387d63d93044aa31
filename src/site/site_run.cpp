// site/site_run.cpp: starting a site.
#include "site/site_run.h"

#include "site/change_detect.h"
#include "site/document_job.h"
#include "site/pages.h"
#include "site/site_outputs.h"

SiteBuild *site_start(const SiteConfig *site, const SiteStartOptions *options)
{
    if (SiteBuild *started = site_build()) return started;
    const SiteBuildConfig *tuning = &options->build;
    // The frame of every page, and the shell's own outputs, before any page.
    SiteOutputsConfig outputs = {};
    outputs.local_folder = site->layout.local_folder;
    outputs.js = site->js;
    outputs.deploy = site->deploy;
    outputs.no_shell = tuning->no_pages;
    outputs.print = tuning->print;
    outputs.on_write = options->on_write;
    Shell *shell = site_outputs_start(&outputs);
    if (!tuning->no_pages) {
        SitePagesConfig pages = {};
        pages.local_folder = site->layout.local_folder;
        pages.shell = shell;
        pages.print = tuning->print;
        site_pages_setup(&pages);
        site_outputs_start_manifest();
    }

    SiteBuildConfig config = *tuning;
    config.job = document_job;
    SiteBuild *build = site_build_start(site, &config);
    // Change detection waits for the main thread's submissions before its
    // first pass.
    DetectorConfig detector = {};
    detector.quiet_lines = options->quiet_lines;
    detector_start(build, &detector);
    return build;
}
