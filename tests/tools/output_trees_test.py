#!/usr/bin/python3
"""Every file wyn writes for the fixture sites and the demo, hashed and held
against tests/sites/output_trees.txt: a change that was meant to move code
and not pages shows up here as the list of files whose bytes moved.

Each site is copied into a temporary folder and built there with `wyn once`
(some also with `deploy` and `js`). What is hashed is every file under
local/ that the build made or changed, with the temporary folder written
"@ROOT@" and today's date (the generated index's creation date) "@TODAY@",
so the same sources give the same list on any machine and any day. The
page manifest is left out: it lists pages in the order they were written.

When pages are meant to change, run with WYN_UPDATE_OUTPUT_TREES=1 to
rewrite the list, and read the diff of the list before committing it."""

import datetime
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
WYN = os.path.abspath(os.environ.get("WYN_BINARY", os.path.join(ROOT, "build", "release", "wyn")))
GOLDEN = os.path.join(ROOT, "tests", "sites", "output_trees.txt")

# (name in the list, source folder, options)
BUILDS = (
    ("links", "tests/sites/links", []),
    ("links_web", "tests/sites/links_web", []),
    ("pages", "tests/sites/pages", []),
    ("pages+deploy", "tests/sites/pages", ["deploy"]),
    ("serve", "tests/sites/serve", []),
    ("demo", "examples/demo", []),
    ("demo+deploy+js", "examples/demo", ["deploy", "js"]),
)


def files_under(folder):
    found = {}
    for parent, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(parent, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, folder)] = f.read()
    return found


def today_forms():
    d = datetime.datetime.now(datetime.timezone.utc).date()
    return [f"{d.year}-{d.month}-{d.day}".encode()]


def build_hashes(name, source, options):
    work = tempfile.mkdtemp(prefix="wyn-trees-")
    try:
        site = os.path.join(work, "site")
        shutil.copytree(os.path.join(ROOT, source), site, symlinks=True)
        # The demo's html folder may hold an earlier build of the checkout.
        shutil.rmtree(os.path.join(site, "local", "html"), ignore_errors=True)
        # So may the index document it generates: a fresh checkout has none.
        generated = os.path.join(site, "local", "wyn_files", "index.wyn")
        if source == "examples/demo" and os.path.exists(generated):
            os.remove(generated)
        before = files_under(os.path.join(site, "local"))
        run = subprocess.run([WYN, "once", *options], cwd=site, capture_output=True, timeout=300)
        if run.returncode not in (0, 1):
            raise AssertionError(f"{name}: wyn once ended with {run.returncode}: {run.stdout[-2000:]!r}")
        after = files_under(os.path.join(site, "local"))
        hashes = {}
        for relative, data in after.items():
            if relative.endswith(".wyn_manifest") or before.get(relative) == data:
                continue
            data = data.replace(site.encode(), b"@ROOT@")
            for form in today_forms():
                data = data.replace(form, b"@TODAY@")
            hashes[f"{name} {relative}"] = hashlib.sha256(data).hexdigest()[:20]
        return hashes
    finally:
        shutil.rmtree(work, ignore_errors=True)


def read_golden():
    wanted = {}
    with open(GOLDEN, encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            key, digest = line.rstrip("\n").rsplit(" ", 1)
            wanted[key] = digest
    return wanted


class OutputTreesTest(unittest.TestCase):
    def test_every_written_file_matches_the_list(self):
        if not os.path.isfile(os.path.join(ROOT, "examples/demo/local/shared/fonts/NotoSerif-Regular.ttf")):
            print("the demo's fonts are missing: run make fonts", file=sys.stderr)
            sys.exit(77)
        got = {}
        for name, source, options in BUILDS:
            got.update(build_hashes(name, source, options))
        if os.environ.get("WYN_UPDATE_OUTPUT_TREES"):
            with open(GOLDEN, "w", encoding="utf-8") as f:
                f.write("# written by tests/tools/output_trees_test.py: build, file, hash of its bytes\n")
                for key in sorted(got):
                    f.write(f"{key} {got[key]}\n")
            return
        wanted = read_golden()
        moved = sorted(k for k in got.keys() & wanted.keys() if got[k] != wanted[k])
        new = sorted(got.keys() - wanted.keys())
        gone = sorted(wanted.keys() - got.keys())
        self.assertEqual((moved, new, gone), ([], [], []),
                         "pages changed (moved, new, gone); if that was meant, rewrite the list with "
                         "WYN_UPDATE_OUTPUT_TREES=1 and check its diff")


if __name__ == "__main__":
    unittest.main()
