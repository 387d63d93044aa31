#!/usr/bin/python3
"""`wyn init` through the real binary, copied alone into a temporary folder
as a user would copy it: the site it writes builds with `wyn once` without
a warning, its pages hold what the first document promises, and they load
in headless Chromium with no failed resource and no console error. A folder
that holds a local/ already gets only the files its pages load and lacks."""

import datetime
import hashlib
import os
import re
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
from output_trees_test import files_under  # noqa: E402

SKIP = 77
ENV = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")


def find_wyn():
    for folder in ("build/asan", "build/dev", "build/release", "build/tsan", "build/bench"):
        path = os.path.join(ROOT, folder, "wyn")
        if os.access(path, os.X_OK):
            return path
    return None


def tree_hash(folder):
    """One hash of every name, kind, mode and byte below folder."""
    digest = hashlib.sha256()
    for where, folders, files in os.walk(folder):
        folders.sort()
        for name in sorted(folders + files):
            path = os.path.join(where, name)
            digest.update(os.path.relpath(path, folder).encode() + b"\0")
            digest.update(str(os.lstat(path).st_mode).encode() + b"\0")
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    digest.update(f.read())
    return digest.hexdigest()


class InitSite(unittest.TestCase):
    def setUp(self):
        built = os.environ.get("WYN_BINARY") or find_wyn()
        if not built:
            self.skipTest("needs a built wyn")
        self.temp = tempfile.mkdtemp(prefix="wyn-init-")
        # The binary alone, far from the source tree and its build folder.
        self.wyn = os.path.join(self.temp, "bin", "wyn")
        os.makedirs(os.path.dirname(self.wyn))
        shutil.copy2(built, self.wyn)

    def tearDown(self):
        shutil.rmtree(self.temp, ignore_errors=True)

    def run_wyn(self, args, cwd):
        return subprocess.run([self.wyn] + args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              env=ENV, timeout=300)

    def test_a_new_site_builds_cleanly_and_its_pages_load(self):
        made = self.run_wyn(["init", "garden"], self.temp)
        said = made.stdout.decode() + made.stderr.decode()
        self.assertEqual(made.returncode, 0, said)
        site = os.path.join(self.temp, "garden")
        local = os.path.join(site, "local")
        self.assertIn(f"a new site in {local}/", said)
        # Only local/: no temporary folder is left beside it.
        self.assertEqual(os.listdir(site), ["local"])

        # Every font goes with its licence.
        fonts = os.listdir(os.path.join(local, "shared", "fonts"))
        licences = [f for f in fonts if f.startswith("LICENSE-")]
        faces = [f for f in fonts if not f.startswith("LICENSE-")]
        self.assertGreaterEqual(len(faces), 7, fonts)
        for face in faces:
            family = re.match(r"(NotoSerif|IBMPlexMono|SourceSans3|SourceCodePro|FiraCode|IconFont)", face)
            self.assertIsNotNone(family, face)
            self.assertTrue(any(l.startswith("LICENSE-" + family.group(1)) for l in licences), face)

        # The first documents are dated the day the site was made.
        with open(os.path.join(local, "wyn_files", "welcome.wyn"), encoding="utf-8") as f:
            welcome = f.read()
        today = datetime.date.today().isoformat()
        self.assertIn("creation_date: " + today, welcome)
        self.assertNotIn("@TODAY@", welcome)

        built = self.run_wyn(["once"], site)
        summary = built.stdout.decode()
        self.assertEqual(built.returncode, 0, summary + built.stderr.decode())
        self.assertRegex(summary, r"wyn once: 3 documents built, \d+ pages written, 0 warnings, 0 errors")
        self.assertEqual(built.stderr.decode().count("warning"), 0, built.stderr.decode())

        html = os.path.join(local, "html")
        for page in ("index.html", "welcome.html", "welcome_smartphone.html", "raw_welcome.html", "about.html"):
            self.assertTrue(os.path.isfile(os.path.join(html, page)), page)
        with open(os.path.join(html, "welcome.html"), encoding="utf-8") as f:
            page = f.read()
        # What the first document shows: headings, a paragraph, a list, a
        # link to the second document, a footnote, a table, a code block.
        # The code block is highlighted: its text is the same once the
        # highlighter's spans are taken out.
        text = re.sub(r'<span class="h-[a-z]">([^<]*)</span>', r"\1", page)
        for shown in ("<h2", "<ul", "<li", "<table", "<td", "about.html", "A quoted path links another document",
                      "wyn once          # build the site and stop\nwyn serve"):
            self.assertIn(shown, text, shown)
        references = re.findall(r'href="#([^"]+)"[^>]*><sup', page)
        self.assertTrue(references, "no footnote reference")
        for anchor in references:
            self.assertIn(f'id="{anchor}"', page, "a footnote reference leads nowhere")

        if chromium_cdp.find_chromium() is None:
            self.skipTest("chromium is not installed: the pages were not opened")
        if os.environ.get("WYN_UNDER_WINE"):
            # tests/win32/same_pages_test.py finds these pages the same as Linux's.
            self.skipTest("wyn.exe's pages name files as file:///Z:/..., which Chromium on Linux cannot open")
        results = page_check.check_folder(html)
        self.assertGreaterEqual(len(results), 12, results)
        problems = {path: p for path, p in results.items() if p}
        self.assertEqual(problems, {})

    def test_the_current_folder_is_the_default(self):
        made = self.run_wyn(["init"], self.temp)
        self.assertEqual(made.returncode, 0, made.stderr.decode())
        self.assertTrue(os.path.isfile(os.path.join(self.temp, "local", "wyn_files", "welcome.wyn")))
        self.assertTrue(os.path.isfile(os.path.join(self.temp, "local", "shared", "images", "favicon-32x32.png")))

    def test_a_folder_named_with_a_blank_or_like_an_option_is_the_one_written(self):
        # Each argument is one word: "my site" is one folder, not "my" and
        # an unknown option; a word that names an option needing a value
        # is no such option either. The site goes there and builds.
        for folder in ("my site", "probe", "tree"):
            made = self.run_wyn(["init", folder], self.temp)
            self.assertEqual(made.returncode, 0, made.stderr.decode())
            self.assertEqual(made.stderr, b"", folder)
            site = os.path.join(self.temp, folder)
            self.assertTrue(os.path.isfile(os.path.join(site, "local", "wyn_files", "welcome.wyn")), folder)
            built = self.run_wyn(["once", "strict"], site)
            self.assertEqual(built.returncode, 0, built.stderr.decode())
        self.assertEqual(sorted(os.listdir(self.temp)), ["bin", "my site", "probe", "tree"])
        # A target with a blank in its path, as one argument.
        built = self.run_wyn(["once", "target=" + os.path.join(self.temp, "my site", "local", "wyn_files")], self.temp)
        self.assertEqual(built.returncode, 0, built.stderr.decode())
        self.assertIn("target: " + os.path.join(self.temp, "my site", "local", "wyn_files") + "/", built.stderr.decode())

    def test_a_site_begun_by_hand_gets_what_its_pages_load_and_nothing_else(self):
        site = os.path.join(self.temp, "mine")
        os.makedirs(os.path.join(site, "local", "wyn_files"))
        with open(os.path.join(site, "local", "wyn_files", "notes.wyn"), "w") as f:
            f.write('``\ntitle: mine\noutput_path: "/html/notes.html"\n``\nMine\n  A line.\n')
        with open(os.path.join(site, "todo.txt"), "w") as f:
            f.write("water the fern\n")
        # Without the sheets the pages load no font: said at the start.
        built = self.run_wyn(["once", "strict"], site)
        self.assertEqual(built.returncode, 0, built.stderr.decode())
        self.assertIn(f"{site}/local/shared/css/fonts.css and icons.css are missing", built.stderr.decode())
        self.assertIn(f"`wyn init {site}` adds the files pages load", built.stderr.decode())

        # An author's own font sheet is kept; a menu or rules of the starter's
        # would change the site's look and links, and no document is added.
        own = os.path.join(site, "local", "shared", "css", "fonts.css")
        os.makedirs(os.path.dirname(own))
        with open(own, "w") as f:
            f.write("/* mine */\n")
        built = self.run_wyn(["once"], site)
        self.assertIn(f"{site}/local/shared/css/icons.css is missing, so the pages load no icon font",
                      built.stderr.decode())
        before = files_under(site)

        added = self.run_wyn(["init"], site)
        self.assertEqual(added.returncode, 0, added.stderr.decode())
        self.assertEqual(added.stderr, b"")
        shown = added.stdout.decode()
        self.assertIn(f"{site}/local/ is a site already; added 19 files its pages load and it lacked", shown)
        self.assertIn("  shared/css/icons.css\n  shared/fonts/ (17 files)\n  shared/images/favicon-32x32.png\n", shown)
        after = files_under(site)
        for path, data in before.items():
            self.assertEqual(after.get(path), data, path)
        new = sorted(p for p in after if p not in before)
        self.assertEqual(len(new), 19, new)
        for path in new:
            self.assertTrue(path.startswith(("local/shared/fonts/", "local/shared/images/")) or
                            path == "local/shared/css/icons.css", path)
        # The files are the starter's own, byte for byte.
        fresh = self.run_wyn(["init", "fresh"], self.temp)
        self.assertEqual(fresh.returncode, 0, fresh.stderr.decode())
        for path in new:
            with open(os.path.join(self.temp, "fresh", path), "rb") as f:
                self.assertEqual(after[path], f.read(), path)

        # Again, in every form: nothing is missing, nothing is written.
        settled = tree_hash(site)
        for args, cwd in ((["init"], site), (["init", "mine"], self.temp), (["init=" + site], self.temp)):
            again = self.run_wyn(args, cwd)
            self.assertEqual(again.returncode, 0, args)
            self.assertIn("lacks none of the files its pages load; nothing was written", again.stdout.decode(), args)
            self.assertEqual(tree_hash(site), settled, args)
        built = self.run_wyn(["once", "strict"], site)
        self.assertEqual(built.returncode, 0, built.stderr.decode())
        self.assertNotIn("missing", built.stderr.decode())

        # A file named local is no site: refused, and nothing changes.
        other = os.path.join(self.temp, "other")
        os.makedirs(other)
        with open(os.path.join(other, "local"), "w") as f:
            f.write("a file\n")
        before_all = tree_hash(self.temp)
        refused = self.run_wyn(["init", "other"], self.temp)
        self.assertEqual(refused.returncode, 1)
        self.assertIn(f"{other}/local is a file, not a site's folder: nothing was written", refused.stderr.decode())
        self.assertEqual(tree_hash(self.temp), before_all)

    def test_help_names_the_command(self):
        shown = self.run_wyn(["help"], self.temp).stdout.decode()
        self.assertIn("wyn init [FOLDER]", shown)
        self.assertIn("\n  init [FOLDER]", shown)


if __name__ == "__main__":
    unittest.main()
