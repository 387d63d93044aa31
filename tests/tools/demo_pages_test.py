#!/usr/bin/python3
"""The demo site built by the real wyn into a temporary copy loads cleanly in
headless Chromium: every font, style sheet and image of every page loads and
no console error is raised."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import chromium_cdp  # noqa: E402
import page_check  # noqa: E402

SKIP = 77


def find_wyn():
    for folder in ("build/asan", "build/release", "build/tsan", "build/bench"):
        path = os.path.join(ROOT, folder, "wyn")
        if os.access(path, os.X_OK):
            return path
    return None


class DemoPages(unittest.TestCase):
    def test_every_demo_page_loads_cleanly(self):
        wyn = os.environ.get("WYN_BINARY") or find_wyn()
        fonts = os.path.join(ROOT, "examples", "demo", "local", "shared", "fonts")
        if not wyn or not os.path.isdir(fonts) or not os.listdir(fonts):
            self.skipTest("needs a built wyn and `make fonts`")
        with tempfile.TemporaryDirectory(prefix="wyn-demo-") as temp:
            site = os.path.join(temp, "demo")
            shutil.copytree(os.path.join(ROOT, "examples", "demo"), site)
            html = os.path.join(site, "local", "html")
            env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")
            # `once` builds until the site is quiet and exits.
            run = subprocess.run([wyn, "once"], cwd=site, stdout=subprocess.PIPE, env=env, timeout=300)
            output = run.stdout.decode("utf-8", "replace")
            self.assertIn("wyn once:", output, output)
            results = page_check.check_folder(html)
            self.assertTrue(results, "no page was written")
            problems = {path: p for path, p in results.items() if p}
            self.assertEqual(problems, {})


if __name__ == "__main__":
    if chromium_cdp.find_chromium() is None:
        print("demo_pages_test: chromium is not installed", file=sys.stderr)
        sys.exit(SKIP)
    unittest.main()
