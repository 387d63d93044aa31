#!/usr/bin/python3
"""The feed and the site map, through the real binary on a temporary site.

With site_url, `wyn once` writes local/html/feed.xml and
local/html/sitemap.xml. The feed is parsed with Python's XML parser and held
to the Atom rules a feed reader relies on: one id, title and updated in the
feed and in every entry, absolute links, RFC 3339 dates, the 20 newest
published documents newest first. The site map is validated against the
sitemaps.org schema (written out below from the protocol) and must list
exactly the published desktop pages. Both keep their bytes (and time) when
nothing changed, and are removed when site_url is dropped, unless the
author changed one since."""

import datetime
import os
import re
import shutil
import subprocess
import tempfile
import unittest
import urllib.parse
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
ENV = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")
ATOM = "{http://www.w3.org/2005/Atom}"
SITEMAP = "{http://www.sitemaps.org/schemas/sitemap/0.9}"
SITE_URL = "https://example.org/~ada/"

# The schema of the sitemaps.org protocol, version 0.9.
SITEMAP_XSD = b"""<?xml version="1.0" encoding="UTF-8"?>
<xsd:schema xmlns:xsd="http://www.w3.org/2001/XMLSchema"
            targetNamespace="http://www.sitemaps.org/schemas/sitemap/0.9"
            xmlns="http://www.sitemaps.org/schemas/sitemap/0.9"
            elementFormDefault="qualified">
  <xsd:element name="urlset">
    <xsd:complexType>
      <xsd:sequence>
        <xsd:any namespace="##other" processContents="strict" minOccurs="0" maxOccurs="unbounded"/>
        <xsd:element ref="url" maxOccurs="unbounded"/>
      </xsd:sequence>
    </xsd:complexType>
  </xsd:element>
  <xsd:element name="url">
    <xsd:complexType>
      <xsd:sequence>
        <xsd:element name="loc" type="tLoc"/>
        <xsd:element name="lastmod" type="tLastmod" minOccurs="0"/>
        <xsd:element name="changefreq" type="tChangeFreq" minOccurs="0"/>
        <xsd:element name="priority" type="tPriority" minOccurs="0"/>
        <xsd:any namespace="##other" processContents="strict" minOccurs="0" maxOccurs="unbounded"/>
      </xsd:sequence>
    </xsd:complexType>
  </xsd:element>
  <xsd:simpleType name="tLoc">
    <xsd:restriction base="xsd:anyURI">
      <xsd:minLength value="12"/>
      <xsd:maxLength value="2048"/>
    </xsd:restriction>
  </xsd:simpleType>
  <xsd:simpleType name="tLastmod">
    <xsd:union>
      <xsd:simpleType><xsd:restriction base="xsd:date"/></xsd:simpleType>
      <xsd:simpleType><xsd:restriction base="xsd:dateTime"/></xsd:simpleType>
    </xsd:union>
  </xsd:simpleType>
  <xsd:simpleType name="tChangeFreq">
    <xsd:restriction base="xsd:string">
      <xsd:enumeration value="always"/><xsd:enumeration value="hourly"/><xsd:enumeration value="daily"/>
      <xsd:enumeration value="weekly"/><xsd:enumeration value="monthly"/><xsd:enumeration value="yearly"/>
      <xsd:enumeration value="never"/>
    </xsd:restriction>
  </xsd:simpleType>
  <xsd:simpleType name="tPriority">
    <xsd:restriction base="xsd:decimal">
      <xsd:minInclusive value="0.0"/>
      <xsd:maxInclusive value="1.0"/>
    </xsd:restriction>
  </xsd:simpleType>
</xsd:schema>
"""

RFC3339 = re.compile(r"^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(\.\d+)?(Z|[+-]\d{2}:\d{2})$")
W3C_DATE = re.compile(r"^\d{4}(-\d{2}(-\d{2}(T\d{2}:\d{2}(:\d{2}(\.\d+)?)?(Z|[+-]\d{2}:\d{2}))?)?)?$")


def find_wyn():
    for folder in ("build/asan", "build/dev", "build/release", "build/tsan", "build/bench"):
        path = os.path.join(ROOT, folder, "wyn")
        if os.access(path, os.X_OK):
            return path
    return None


def document(title, created=None, modified=None, output=None, status=None, summary=None):
    lines = ["``", f"title: {title}", "author: Ada Byron"]
    if summary:
        lines.append(f"summary: {summary}")
    if created:
        lines.append(f"creation_date: {created}")
    if modified:
        lines.append(f"last_modification_date: {modified}")
    if status:
        lines.append(f"status: {status}")
    lines.append(f"output_path: {output}")
    lines.append("``")
    lines.append("A heading")
    lines.append("  A paragraph.")
    return "\n".join(lines) + "\n"


def rfc3339(text):
    """The instant an RFC 3339 date names, or an assertion error."""
    assert RFC3339.match(text), text
    return datetime.datetime.fromisoformat(text.replace("Z", "+00:00"))


def absolute(url):
    parts = urllib.parse.urlsplit(url)
    return parts.scheme in ("http", "https") and bool(parts.netloc)


class FeedAndSitemap(unittest.TestCase):
    def setUp(self):
        self.wyn = os.environ.get("WYN_BINARY") or find_wyn()
        if not self.wyn:
            self.skipTest("needs a built wyn")
        self.site = tempfile.mkdtemp(prefix="wyn-feed-")
        self.local = os.path.join(self.site, "local")
        self.html = os.path.join(self.local, "html")
        files = os.path.join(self.local, "wyn_files")
        os.makedirs(os.path.join(files, "notes"))
        # 22 dated notes, one a day in January, each with its own page.
        self.expected_pages = set()
        for day in range(1, 23):
            name = f"notes/day{day:02d}"
            modified = f"2026-02-{day:02d}" if day % 3 == 0 else None
            self.write(f"{name}.wyn", document(f"Day {day}", f"2026-01-{day:02d}", modified, f'"/html/{name}.html"'))
            self.expected_pages.add(f"{name}.html")
        # The newest of all, with what a feed must escape, a page address
        # that must be encoded, a second page and a link in its summary.
        self.write("tea.wyn", document("Tea & <biscuits>", "2026-03-01", "2026-02-01",
                                       '"/html/café notes.html" "/html/also/tea.html"',
                                       summary='On "/notes/day01.wyn"(the first day) & more'))
        self.expected_pages |= {"café notes.html", "also/tea.html"}
        # Never in the feed: a draft, a personal note, no creation date, a
        # date that is no day; only the ones with a page go in the site map.
        self.write("draft.wyn", document("Draft", "2026-04-01", output='"/html/draft.html"', status="draft"))
        self.write("mine.wyn", document("Mine", "2026-04-01", output='"/html/mine.html"', status="personal"))
        self.write("undated.wyn", document("Undated", output='"/html/undated.html"'))
        self.write("odd.wyn", document("Odd date", "2026-02-30", output='"/html/odd.html"'))
        self.expected_pages |= {"undated.html", "odd.html", "index.html"}

    def tearDown(self):
        shutil.rmtree(self.site, ignore_errors=True)

    def write(self, name, text):
        with open(os.path.join(self.local, "wyn_files", name), "w", encoding="utf-8") as f:
            f.write(text)

    def once(self, *options):
        run = subprocess.run([self.wyn, "once"] + list(options), cwd=self.site, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, env=ENV, timeout=300)
        output = run.stdout.decode() + run.stderr.decode()
        self.assertEqual(run.returncode, 0, output)
        return output

    def path(self, name):
        return os.path.join(self.html, name)

    def check_feed(self):
        tree = ET.parse(self.path("feed.xml"))
        feed = tree.getroot()
        self.assertEqual(feed.tag, ATOM + "feed")
        for one in ("id", "title", "updated"):
            self.assertEqual(len(feed.findall(ATOM + one)), 1, one)
        self.assertTrue(absolute(feed.find(ATOM + "id").text))
        updated = rfc3339(feed.find(ATOM + "updated").text)
        links = feed.findall(ATOM + "link")
        self.assertTrue(links)
        for link in links:
            self.assertTrue(absolute(link.get("href")), link.get("href"))
        self.assertIn(SITE_URL + "feed.xml", [l.get("href") for l in links if l.get("rel") == "self"])
        entries = feed.findall(ATOM + "entry")
        self.assertEqual(len(entries), 20)
        has_feed_author = feed.find(ATOM + "author") is not None
        ids, published = [], []
        for entry in entries:
            for one in ("id", "title", "updated"):
                self.assertEqual(len(entry.findall(ATOM + one)), 1, (one, ET.tostring(entry)))
            self.assertTrue(entry.find(ATOM + "title").text)
            entry_id = entry.find(ATOM + "id").text
            self.assertTrue(absolute(entry_id), entry_id)
            alternate = [l for l in entry.findall(ATOM + "link") if l.get("rel", "alternate") == "alternate"]
            self.assertEqual(len(alternate), 1)
            self.assertTrue(absolute(alternate[0].get("href")))
            self.assertTrue(has_feed_author or entry.find(ATOM + "author") is not None)
            when = rfc3339(entry.find(ATOM + "published").text)
            changed = rfc3339(entry.find(ATOM + "updated").text)
            self.assertLessEqual(when, changed)
            self.assertLessEqual(changed, updated)
            ids.append(entry_id)
            published.append(when)
        self.assertEqual(len(set(ids)), len(ids), "ids repeat")
        self.assertEqual(published, sorted(published, reverse=True), "not newest first")
        return feed, entries

    def check_sitemap(self):
        from lxml import etree
        schema = etree.XMLSchema(etree.fromstring(SITEMAP_XSD))
        document = etree.parse(self.path("sitemap.xml"))
        self.assertTrue(schema.validate(document), schema.error_log)
        root = ET.parse(self.path("sitemap.xml")).getroot()
        self.assertEqual(root.tag, SITEMAP + "urlset")
        pages = set()
        for url in root.findall(SITEMAP + "url"):
            loc = url.find(SITEMAP + "loc").text
            self.assertTrue(absolute(loc), loc)
            self.assertTrue(loc.startswith(SITE_URL), loc)
            self.assertNotIn(" ", loc)
            lastmod = url.find(SITEMAP + "lastmod")
            if lastmod is not None:
                self.assertRegex(lastmod.text, W3C_DATE)
            pages.add(urllib.parse.unquote(loc[len(SITE_URL):]))
        self.assertEqual(pages, self.expected_pages)
        return root

    def test_feed_and_sitemap_follow_the_published_documents(self):
        self.once("site_url=https://example.org/~ada")
        feed, entries = self.check_feed()
        self.check_sitemap()

        titles = [e.find(ATOM + "title").text for e in entries]
        # The newest first; of the 22 days the two oldest fall out.
        self.assertEqual(titles[0], "Tea & <biscuits>")
        self.assertEqual(titles[1:], [f"Day {d}" for d in range(22, 3, -1)])
        tea = entries[0]
        self.assertEqual(tea.find(ATOM + "id").text, SITE_URL + "caf%C3%A9%20notes.html")
        self.assertEqual(tea.find(ATOM + "summary").text, "On the first day & more")
        # A last change before the creation is no change.
        self.assertEqual(tea.find(ATOM + "updated").text, "2026-03-01T00:00:00Z")
        day21 = entries[2]
        self.assertEqual(day21.find(ATOM + "published").text, "2026-01-21T00:00:00Z")
        self.assertEqual(day21.find(ATOM + "updated").text, "2026-02-21T00:00:00Z")
        self.assertEqual(day21.find(ATOM + "author").find(ATOM + "name").text, "Ada Byron")
        self.assertEqual(feed.find(ATOM + "updated").text, "2026-03-01T00:00:00Z")

        # The manifest knows them.
        with open(self.path(".wyn_manifest"), encoding="utf-8") as f:
            manifest = f.read()
        self.assertIn(self.path("feed.xml"), manifest)
        self.assertIn(self.path("sitemap.xml"), manifest)

        # Nothing changed: neither file is written again.
        old = 1_000_000_000
        for name in ("feed.xml", "sitemap.xml"):
            os.utime(self.path(name), (old, old))
        self.once("site_url=https://example.org/~ada")
        for name in ("feed.xml", "sitemap.xml"):
            self.assertEqual(os.stat(self.path(name)).st_mtime, old, name)

        # A document made a draft leaves both.
        self.write("notes/day22.wyn", document("Day 22", "2026-01-22", None, '"/html/notes/day22.html"', "draft"))
        self.expected_pages.discard("notes/day22.html")
        self.once("site_url=https://example.org/~ada")
        _, entries = self.check_feed()
        self.assertNotIn("Day 22", [e.find(ATOM + "title").text for e in entries])
        self.assertEqual(entries[-1].find(ATOM + "title").text, "Day 3")
        self.check_sitemap()

        # Without site_url both go, and the manifest forgets them.
        self.once()
        self.assertFalse(os.path.exists(self.path("feed.xml")))
        self.assertFalse(os.path.exists(self.path("sitemap.xml")))
        with open(self.path(".wyn_manifest"), encoding="utf-8") as f:
            manifest = f.read()
        self.assertNotIn("feed.xml", manifest)
        self.assertNotIn("sitemap.xml", manifest)

    def test_a_save_while_watching_reaches_the_feed(self):
        # The feed follows saves while watching, and keeps its bytes and
        # time through a save that changes nothing it shows.
        watch = subprocess.Popen([self.wyn, "site_url=" + SITE_URL], cwd=self.site, stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, env=ENV)
        try:
            seen = []

            def quiet_lines(count):
                while sum("up to date after" in line for line in seen) < count:
                    line = watch.stdout.readline().decode()
                    self.assertTrue(line, "wyn ended:\n" + "".join(seen))
                    seen.append(line)

            quiet_lines(1)
            self.assertIn("Day 22", open(self.path("feed.xml"), encoding="utf-8").read())
            self.write("notes/day22.wyn", document("Day 22", "2026-01-22", None, '"/html/notes/day22.html"',
                                                   summary="Rain all day"))
            quiet_lines(2)
            feed = open(self.path("feed.xml"), encoding="utf-8").read()
            self.assertIn("Rain all day", feed)
            old = 1_000_000_000
            os.utime(self.path("feed.xml"), (old, old))
            # A change of the text only: the feed keeps its bytes and time.
            with open(os.path.join(self.local, "wyn_files", "notes", "day21.wyn"), "a", encoding="utf-8") as f:
                f.write("  Another paragraph.\n")
            quiet_lines(3)
            self.assertEqual(os.stat(self.path("feed.xml")).st_mtime, old)
            self.write("notes/day21.wyn", document("Day twenty-one", "2026-01-21", None, '"/html/notes/day21.html"'))
            quiet_lines(4)
            self.assertIn("Day twenty-one", open(self.path("feed.xml"), encoding="utf-8").read())
        finally:
            watch.kill()
            watch.wait()

    def test_without_site_url_neither_is_written(self):
        output = self.once()
        self.assertFalse(os.path.exists(self.path("feed.xml")))
        self.assertFalse(os.path.exists(self.path("sitemap.xml")))
        self.assertTrue(os.path.exists(self.path("index.html")), output)
        # An address that is no site's is refused with a warning.
        output = self.once("site_url=example.org")
        self.assertIn("no feed or site map is written", output)
        self.assertFalse(os.path.exists(self.path("feed.xml")))

    def test_a_file_changed_by_hand_is_left_when_site_url_goes(self):
        self.once("site_url=" + SITE_URL)
        with open(self.path("sitemap.xml"), "a", encoding="utf-8") as f:
            f.write("<!-- mine now -->\n")
        output = self.once()
        self.assertFalse(os.path.exists(self.path("feed.xml")))
        self.assertTrue(os.path.exists(self.path("sitemap.xml")))
        self.assertIn("sitemap.xml is no longer produced by site_url, but it was changed since wyn wrote it", output)
        # Said once: the file is the author's now.
        self.assertNotIn("sitemap.xml", self.once())


if __name__ == "__main__":
    unittest.main()
