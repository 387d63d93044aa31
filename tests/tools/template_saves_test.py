#!/usr/bin/python3
"""The author saves the menu template while wyn is still building the pages
of the save before (the first of them during the first build): a worker
may load the new menu before the watch hears of the save, and the pages it
built before that must still be built again. Through the real wyn on a
generated site of 100 documents: every save reaches a page, and in the end
every desktop page shows the last menu."""

import os
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
WYN = os.path.abspath(os.environ.get("WYN_BINARY", os.path.join(ROOT, "build", "release", "wyn")))
ENV = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")


def wait_for(predicate, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(0.005)
    return predicate()


def read(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return ""


class TemplateSaves(unittest.TestCase):
    def test_menu_saved_during_builds_reaches_every_page(self):
        with tempfile.TemporaryDirectory(prefix="wyn-template-saves-") as site:
            subprocess.run([sys.executable, os.path.join(ROOT, "bench", "gen_site.py"), "--out", site,
                            "--count", "100", "--seed", "1"], check=True, stdout=subprocess.DEVNULL)
            local = os.path.join(site, "local")
            menu = os.path.join(local, "shared", "html", "default_menu_desktop.html")
            watched = os.path.join(local, "html", "watched.html")
            with open(os.path.join(local, "wyn_files", "watched.wyn"), "w") as f:
                f.write('``\ntitle: Watched\noutput_path: "/html/watched.html"\n``\nWatched\n  words\n')

            def save(version):
                os.makedirs(os.path.dirname(menu), exist_ok=True)
                with open(menu + ".tmp~", "w") as f:
                    f.write(f'<nav id="menu"><ul><li><a href="/">Menu{version}x</a></li></ul></nav>\n')
                os.rename(menu + ".tmp~", menu)

            save(0)
            log_path = os.path.join(site, "wyn.log")
            with open(log_path, "wb") as log:
                wyn = subprocess.Popen([WYN], cwd=site, stdout=log, stderr=subprocess.STDOUT, env=ENV)
                try:
                    saves = 6
                    for version in range(saves + 1):
                        if version:
                            save(version)
                        marker = f"Menu{version}x"
                        self.assertTrue(wait_for(lambda: marker in read(watched), 60),
                                        f"save {version} never reached watched.html")
                    last = f"Menu{saves}x"
                    pages = []

                    def stale():
                        pages.clear()
                        for name in sorted(os.listdir(os.path.join(local, "html"))):
                            if name.endswith(".html") and not name.startswith(("raw_", "smartphone")) \
                                    and "_smartphone" not in name and '<nav id="menu">' in read(
                                        os.path.join(local, "html", name)):
                                if last not in read(os.path.join(local, "html", name)):
                                    pages.append(name)
                        return not pages

                    self.assertTrue(wait_for(stale, 60), f"{len(pages)} pages kept an older menu: {pages[:5]}")
                finally:
                    wyn.kill()
                    wyn.wait()


if __name__ == "__main__":
    unittest.main()
