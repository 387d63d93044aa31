// A site built in the test's own process, by real workers over real files:
// the content cache and the file service started, then the build, printing
// nothing and looking at file links. One per process (the services are the
// process's); the workers never end.
#pragma once
#include <string>

#include "../test_support.h"
#include "os/content_cache.h"
#include "os/file_service.h"
#include "site/site_run.h"

inline SiteBuild *start_site_in_process(const std::string &local, PageWriteObserver on_write, u64 workers)
{
    content_cache_create();
    FileServiceConfig fs_config = {};
    fs_start_with(&fs_config);
    SiteStartOptions options = {};
    options.on_write = on_write;
    options.build.worker_count = workers;
    options.build.print.silent = 1;
    SiteConfig site = {};
    site.layout.local_folder = as_str(local);
    site.file_path_checks = 1;
    return site_start(&site, &options);
}
