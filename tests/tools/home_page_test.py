#!/usr/bin/python3
"""The order of the generated home page, through the real wyn in a temporary
site: the newest creation date first, then the documents without a date
that names a day by title (case aside), the path settling ties; and a saved
date moves its document while wyn watches."""

import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

from watching import Watch

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
WYN = os.path.abspath(os.environ.get("WYN_BINARY", os.path.join(ROOT, "build", "release", "wyn")))
ENV = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")


def document(title, date, output):
    header = "``\n"
    if title is not None:
        header += f"title: {title}\n"
    if date is not None:
        header += f"creation_date: {date}\n"
    return header + f'output_path: "/html/{output}.html"\n``\nSection\n  Text.\n'


# name: (title, creation date)
DOCUMENTS = {
    "old": ("An old note", "2019-5-1"),
    "new": ("The newest note", "2026-11-30"),
    "same_day_b": ("Bravo", "2024-02-29"),
    "same_day_a": ("alpha", "2024.2.29"),
    "bad_date": ("Zulu", "2026-02-30"),
    "undated_y": ("yankee", None),
    "undated_x": ("X-ray", None),
    "untitled": (None, None),
    "twin_b": ("Twin", None),
    "twin_a": ("Twin", None),
}
ORDER = ["new", "same_day_a", "same_day_b", "old", "twin_a", "twin_b", "untitled", "X-ray", "yankee", "Zulu"]


class HomePage(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="wyn-home-")
        self.src = os.path.join(self.root, "local", "wyn_files")
        os.makedirs(os.path.join(self.src, "notes"))
        for name, (title, date) in DOCUMENTS.items():
            folder = "notes" if name.startswith("same_day") else ""
            with open(os.path.join(self.src, folder, name + ".wyn"), "w") as f:
                f.write(document(title, date, name))

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def listed(self):
        """The documents the index lists, in order, by file name."""
        with open(os.path.join(self.src, "index.wyn"), encoding="utf-8") as f:
            return [m.group(1) for m in re.finditer(r'"/wyn_files/(?:notes/)?(\w+)\.wyn"', f.read())]

    def expected(self, order):
        by_title = {title: name for name, (title, _) in DOCUMENTS.items() if title}
        return [by_title.get(entry, entry) for entry in order]

    def test_newest_first_then_by_title(self):
        run = subprocess.run([WYN, "once"], cwd=self.root, capture_output=True, env=ENV, timeout=120)
        self.assertEqual(run.returncode, 0, run.stderr.decode())
        self.assertEqual(self.listed(), self.expected(ORDER))
        # The home page shows them in that order too.
        with open(os.path.join(self.root, "local", "html", "index.html"), encoding="utf-8") as f:
            page = f.read()
        at = [page.find(f"/{name}.html") for name in self.expected(ORDER)]
        self.assertEqual(at, sorted(at))
        self.assertNotIn(-1, at)

    def test_a_saved_date_moves_its_document(self):
        watch = Watch(WYN, self.root, [], ENV)
        try:
            watch.wait(self, 1)
            self.assertEqual(self.listed(), self.expected(ORDER))
            with open(os.path.join(self.src, "old.wyn"), "w") as f:
                f.write(document("An old note", "2026-12-01", "old"))
            watch.wait(self, 2)
            moved = ["old"] + [name for name in ORDER if name != "old"]
            deadline = time.time() + 30
            while self.listed() != self.expected(moved) and time.time() < deadline:
                time.sleep(0.05)
            self.assertEqual(self.listed(), self.expected(moved))
        finally:
            watch.close()


if __name__ == "__main__":
    unittest.main()
