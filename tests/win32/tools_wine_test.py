#!/usr/bin/python3
"""wyn.exe under wine through the end-to-end cases the Linux wyn passes in
tests/tools: each case runs wyn.exe (through wyn_under_wine.py) where it runs
wyn. The arguments name groups of cases, below.

Needs WYN_EXE and wine; exits 77 without them."""

import os
import shutil
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
SKIP = 77

GROUPS = {
    # Pages and assets with their types, every traversal form refused, the
    # event stream, requests while a build runs; live reload in Chromium.
    "serve": ["serve_test.Serve", "serve_reload_test.LiveReload"],
    # Options checked, wrong targets, once as a gate, the line and JSON
    # forms, colour on demand, the streams.
    "diagnostics": ["serve_test.Diagnostics", "serve_test.Progress", "mistakes_test.Mistakes"],
    "feed": ["feed_sitemap_test.FeedAndSitemap"],
    # init, then once, the highlighted code block, the pages in Chromium.
    "init": ["init_site_test.InitSite"],
}

# What wine cannot show: a pseudo-terminal reaches wyn.exe through wine's
# console, which redraws the text with its own escape sequences.
LEFT_OUT = {
    "serve_test.Diagnostics.test_colour_on_a_terminal_only",
    "serve_test.Progress.test_status_line_on_a_terminal_erased_when_quiet",
    "mistakes_test.Mistakes.test_the_status_line_is_erased_before_the_result",
}


def cases(suite):
    for item in suite:
        if isinstance(item, unittest.TestSuite):
            yield from cases(item)
        else:
            yield item


def main(groups):
    exe = os.environ.get("WYN_EXE")
    if not exe or not os.path.exists(exe) or not shutil.which(os.environ.get("WYN_WINE", "wine")):
        print("tools_wine_test: needs WYN_EXE and wine", file=sys.stderr)
        return SKIP
    # Before the modules are read: they take wyn's path when they load.
    os.environ["WYN_BINARY"] = os.path.join(HERE, "wyn_under_wine.py")
    os.environ["WYN_UNDER_WINE"] = "1"
    sys.path[:0] = [os.path.join(ROOT, "tests", "tools"), os.path.join(ROOT, "tools")]
    import chromium_cdp  # noqa: E402
    import serve_test  # noqa: E402
    serve_test.QUIET_SECONDS = 15   # wine's start, on a busy machine
    names = [name for group in groups for name in GROUPS[group]]
    if chromium_cdp.find_chromium() is None and "serve_reload_test.LiveReload" in names:
        print("tools_wine_test: no Chromium, live reload in a browser is left out", file=sys.stderr)
        names.remove("serve_reload_test.LiveReload")
    suite = unittest.TestSuite(case for case in cases(unittest.TestLoader().loadTestsFromNames(names))
                               if case.id() not in LEFT_OUT)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    if not result.wasSuccessful():
        return 1
    # A skip would mean a case never ran its checks: that fails, unless it
    # is the browser that is missing.
    return 1 if any("chromium" not in reason.lower() for _, reason in result.skipped) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
