#!/usr/bin/python3
"""Every link of every page leads somewhere: built with file addresses, each
href and src names a file that exists, and an anchor an id of that file;
built for the web and served by `wyn serve`, each site path is answered
with 200. No link points at a .wyn source: links to documents lead to
their pages, wherever the link stands (a document's text, the site's home
page with its list and the website index, a link of a document to
itself)."""

import html.parser
import os
import re
import select
import shutil
import subprocess
import tempfile
import time
import unittest
import urllib.parse
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
WYN = os.path.abspath(os.environ.get("WYN_BINARY", os.path.join(ROOT, "build", "release", "wyn")))
SITES = ("tests/sites/pages", "tests/sites/links", "tests/sites/serve", "examples/demo")
# The fixture sites hold documents and no shared assets (fonts, the favicon
# of the footer): those are the demo's, and are checked there.
DEMO = "examples/demo"


def shared_asset(link):
    return "/shared/" in link
ENV = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")


class Links(html.parser.HTMLParser):
    def __init__(self, text):
        super().__init__(convert_charrefs=True)
        self.links, self.ids = [], set()
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if a.get("id"):
            self.ids.add(a["id"])
        # What a reader follows: links and pictures (the head's sheets and
        # fonts are the site's shared files, checked by page_check.py).
        if tag == "a" and a.get("href"):
            self.links.append(a["href"])
        if tag == "img" and a.get("src"):
            self.links.append(a["src"])


def pages_of(local):
    html = os.path.join(local, "html")
    for parent, _, names in os.walk(html):
        for name in names:
            if name.endswith(".html"):
                yield os.path.join(parent, name)


def copy(source, work):
    site = os.path.join(work, os.path.basename(source))
    shutil.copytree(os.path.join(ROOT, source), site)
    shutil.rmtree(os.path.join(site, "local", "html"), ignore_errors=True)
    return site


class PageLinksTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="wyn-links-")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def test_file_addresses_name_files_that_exist(self):
        for source in SITES:
            site = copy(source, self.work)
            subprocess.run([WYN, "once"], cwd=site, capture_output=True, timeout=300, env=ENV)
            local = os.path.join(site, "local")
            ids = {}
            bad = []
            checked = 0
            for page in pages_of(local):
                with open(page, encoding="utf-8") as f:
                    links = Links(f.read())
                ids[page] = links.ids
                for link in links.links:
                    if not link.startswith("file://") or (source != DEMO and shared_asset(link)):
                        continue
                    path, _, anchor = urllib.parse.unquote(link[len("file://"):]).partition("#")
                    checked += 1
                    if path.endswith(".wyn"):
                        bad.append((page, link, "a source"))
                    elif not os.path.exists(path):
                        bad.append((page, link, "missing"))
                    elif anchor and path.endswith(".html"):
                        with open(path, encoding="utf-8") as f:
                            if anchor not in Links(f.read()).ids:
                                bad.append((page, link, "no such id"))
            self.assertGreater(checked, 3, source)
            self.assertFalse(bad, source + ":\n" + "\n".join(f"{os.path.relpath(p, local)}: {l} ({why})" for p, l, why in bad))

    def test_served_site_paths_answer(self):
        for source in SITES:
            site = copy(source, self.work)
            wyn = subprocess.Popen([WYN, "serve=0"], cwd=site, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                   env=ENV)
            try:
                text = b""
                deadline = time.time() + 120
                while b"serving http" not in text and time.time() < deadline:
                    ready, _, _ = select.select([wyn.stdout], [], [], 1)
                    if ready:
                        chunk = os.read(wyn.stdout.fileno(), 65536)
                        if not chunk:
                            break
                        text += chunk
                address = re.search(rb"serving (http://[^ ]+/)", text)
                self.assertIsNotNone(address, text.decode(errors="replace"))
                base = address.group(1).decode()
                bad, checked = [], 0
                for page in pages_of(os.path.join(site, "local")):
                    with open(page, encoding="utf-8") as f:
                        links = Links(f.read())
                    for link in links.links:
                        if not link.startswith("/") or (source != DEMO and shared_asset(link)):
                            continue
                        checked += 1
                        path = link.partition("#")[0]
                        if path.endswith(".wyn"):
                            bad.append((page, link, "a source"))
                            continue
                        try:
                            with urllib.request.urlopen(base + path.lstrip("/"), timeout=10) as r:
                                status = r.status
                        except urllib.error.HTTPError as e:
                            status = e.code
                        if status != 200:
                            bad.append((page, link, status))
                self.assertGreater(checked, 3, source)
                local = os.path.join(site, "local")
                self.assertFalse(bad, source + ":\n" + "\n".join(f"{os.path.relpath(p, local)}: {l} ({why})" for p, l, why in bad))
            finally:
                wyn.terminate()
                wyn.wait(timeout=30)


if __name__ == "__main__":
    unittest.main()
