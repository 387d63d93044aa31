#!/usr/bin/python3
"""`wyn.exe serve` under wine, through the same end-to-end cases the Linux
wyn passes: tests/tools/serve_test.py's Serve (pages and assets with their
types, every traversal form refused, the event stream greeting at once, 200
requests while a build runs) and, where Chromium is installed, live reload in
a real browser (tests/tools/serve_reload_test.py: a saved source changes the
title of the open page). Each runs wyn.exe where those tests run wyn.

Needs WYN_EXE and wine; exits 77 without them."""

import os
import shutil
import stat
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "tools"))
sys.path.insert(0, os.path.join(ROOT, "tools"))
sys.path.insert(0, HERE)
import chromium_cdp  # noqa: E402
import same_pages_test  # noqa: E402
import serve_reload_test  # noqa: E402
import serve_test  # noqa: E402

SKIP = 77


def wine_launcher(folder, wine, exe):
    """A program that starts wyn.exe under wine with the arguments it gets,
    so the Linux tests can run it where they run wyn."""
    path = os.path.join(folder, "wyn-under-wine")
    with open(path, "w") as f:
        f.write("#!/bin/sh\nWINEDEBUG=-all exec %s '%s' \"$@\"\n" % (" ".join(wine), exe))
    os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)
    return path


def main():
    exe = os.environ.get("WYN_EXE")
    wine = same_pages_test.wine_command()
    if not exe or not os.path.exists(exe) or not wine:
        print("serve_wine_test: needs WYN_EXE and wine", file=sys.stderr)
        return SKIP
    folder = tempfile.mkdtemp(prefix="wyn-serve-wine-")
    try:
        serve_test.WYN = wine_launcher(folder, wine, exe)
        loader = unittest.TestLoader()
        suite = loader.loadTestsFromTestCase(serve_test.Serve)
        if chromium_cdp.find_chromium() is not None:
            suite.addTests(loader.loadTestsFromTestCase(serve_reload_test.LiveReload))
        else:
            print("serve_wine_test: no Chromium, live reload in a browser is left out", file=sys.stderr)
        result = unittest.TextTestRunner(verbosity=2).run(suite)
        if not result.wasSuccessful():
            return 1
        # A skip here would mean the page was never rebuilt: that fails.
        return 1 if result.skipped else 0
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
