#!/usr/bin/python3
"""The cheat sheet that opens docs/markup.md is a document that builds: it
is taken from the page, put in a site made by `wyn init` beside the document
and the picture it links, and built with `once strict` (a warning fails)."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
ENV = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")


def find_wyn():
    for folder in ("build/asan", "build/dev", "build/release", "build/tsan", "build/bench"):
        path = os.path.join(ROOT, folder, "wyn")
        if os.access(path, os.X_OK):
            return path
    return None


class CheatSheet(unittest.TestCase):
    def test_the_cheat_sheet_builds_without_a_warning(self):
        wyn = os.environ.get("WYN_BINARY") or find_wyn()
        if not wyn:
            self.skipTest("needs a built wyn")
        with open(os.path.join(ROOT, "docs", "markup.md"), encoding="utf-8") as f:
            page = f.read()
        sheet = re.search(r"## Cheat sheet\n.*?\n````\n(.*?)````\n", page, re.S)
        self.assertIsNotNone(sheet, "docs/markup.md opens with no cheat sheet")
        with tempfile.TemporaryDirectory(prefix="wyn-sheet-") as site:
            made = subprocess.run([wyn, "init"], cwd=site, env=ENV, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            self.assertEqual(made.returncode, 0, made.stderr.decode())
            files = os.path.join(site, "local", "wyn_files", "notes")
            os.makedirs(files)
            with open(os.path.join(files, "lisbon.wyn"), "w", encoding="utf-8") as f:
                f.write(sheet.group(1))
            with open(os.path.join(files, "other.wyn"), "w", encoding="utf-8") as f:
                f.write('``\ntitle: Other\noutput_path: "/html/notes/other.html"\n``\nOther\n  Anchor two [#2]_ is here.\n')
            images = os.path.join(site, "local", "assets", "images")
            os.makedirs(images)
            shutil.copy(os.path.join(site, "local", "shared", "images", "favicon-32x32.png"),
                        os.path.join(images, "tiles.png"))
            run = subprocess.run([wyn, "once", "strict"], cwd=site, env=ENV, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, timeout=300)
            said = run.stdout.decode() + run.stderr.decode()
            self.assertEqual(run.returncode, 0, said)
            self.assertIn("0 warnings, 0 errors", said)
            with open(os.path.join(site, "local", "html", "notes", "lisbon.html"), encoding="utf-8") as f:
                built = f.read()
            # The code block is highlighted: its text is the same once the
            # highlighter's spans are taken out.
            built = re.sub(r'<span class="h-[a-z]">([^<]*)</span>', r"\1", built)
            for shown in ("<table", "<ul", "<ol", "a code block, kept as written", "Three days in Lisbon"):
                self.assertIn(shown, built, shown)


if __name__ == "__main__":
    unittest.main()
