#!/usr/bin/python3
"""The page check opens hand-made pages in headless Chromium and reports
exactly the resources that failed and the console errors."""

import io
import os
import pathlib
import sys
import tempfile
import unittest
from contextlib import redirect_stderr, redirect_stdout

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
import chromium_cdp  # noqa: E402
import demo_images  # noqa: E402
import make_icon_font  # noqa: E402
import page_check  # noqa: E402

SKIP = 77


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as out:
        out.write(text)


def page(head="", body=""):
    return f"<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\">{head}</head><body>{body}</body></html>"


class Site:
    """A hand-made site in a temporary folder: a style sheet with a working
    icon face, a picture, and pages that break one thing each."""

    def __init__(self):
        self.temp = tempfile.TemporaryDirectory(prefix="wyn-page-check-")
        self.root = self.temp.name
        fonts = os.path.join(self.root, "shared", "fonts")
        os.makedirs(fonts)
        problems = make_icon_font.make_icon_font(
            "/usr/share/fonts/truetype/font-awesome/fontawesome-webfont.ttf",
            "/usr/share/fonts-font-awesome/css/font-awesome.css", os.path.join(fonts, "IconFont.woff2"))
        assert not problems, problems
        with open(os.path.join(self.root, "shared", "tiles.png"), "wb") as out:
            out.write(demo_images.png_bytes(40, 40, demo_images.tiles))
        fonts_uri = pathlib.Path(fonts).as_uri()
        write(os.path.join(self.root, "shared", "icons.css"),
              f"@font-face{{font-family:'IconFont';src:url('{fonts_uri}/IconFont.woff2') format('woff2');}}\n"
              ".icon{font-family:'IconFont';}.icon-Info::before{content:'A';}\n")
        write(os.path.join(self.root, "shared", "gone.css"),
              f"@font-face{{font-family:'Gone';src:url('{fonts_uri}/Gone.woff2') format('woff2');}}\n")
        shared = pathlib.Path(self.root, "shared").as_uri()
        self.good_head = ('<meta name="viewport" content="width=device-width, initial-scale=1.0">'
                          f'<link rel="stylesheet" href="{shared}/icons.css">')
        self.good_body = f'<p><span class="icon-Info icon"></span> info</p><img src="{shared}/tiles.png" alt="t">'

    def add(self, folder, name, head="", body=""):
        path = os.path.join(self.root, folder, name)
        write(path, page(self.good_head + head, self.good_body + body))
        return path

    def close(self):
        self.temp.cleanup()


class PageCheckTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.site = Site()
        cls.browser = chromium_cdp.Browser().__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.browser.__exit__(None, None, None)
        cls.site.close()

    def open(self, path):
        opened = self.browser.open_page(pathlib.Path(path).as_uri(), chromium_cdp.viewport_for(path))
        self.addCleanup(opened.close)
        return opened

    def assert_one_problem_names(self, problems, *words):
        self.assertTrue(problems, "the fault went unnoticed")
        for word in words:
            self.assertTrue(any(word in p for p in problems), f"no problem names {word!r}: {problems}")

    def test_clean_page_has_no_problem_and_draws_the_icon_font(self):
        opened = self.open(self.site.add("single", "good.html"))
        self.assertEqual(opened.problems, [])
        self.assertTrue(opened.evaluate("document.fonts.check(\"16px 'IconFont'\")"))
        # The icon character is drawn by IconFont, not by a fallback face.
        self.assertEqual(opened.evaluate(
            "[...document.fonts].filter(f => f.family.includes('IconFont')).map(f => f.status)"), ["loaded"])
        self.assertEqual(opened.evaluate("innerWidth"), 1280)

    def test_missing_font_file_is_reported(self):
        head = ("<style>@font-face{font-family:'Body';src:url('../shared/fonts/Body.woff2') format('woff2');}"
                "p{font-family:'Body';}</style>")
        opened = self.open(self.site.add("single", "missing_font.html", head=head))
        self.assert_one_problem_names(opened.problems, "Body.woff2", "font 'Body' failed to load")

    def test_declared_but_unused_missing_font_is_reported(self):
        opened = self.open(self.site.add("single", "unused_font.html",
                                         head='<link rel="stylesheet" href="../shared/gone.css">'))
        self.assert_one_problem_names(opened.problems, "font 'Gone' failed to load")

    def test_preloaded_missing_font_is_reported(self):
        head = '<link rel="preload" as="font" type="font/woff2" href="../shared/fonts/Preloaded.ttf">'
        opened = self.open(self.site.add("single", "preload.html", head=head))
        self.assert_one_problem_names(opened.problems, "Preloaded.ttf")

    def test_missing_style_sheet_is_reported(self):
        opened = self.open(self.site.add("single", "missing_css.html",
                                         head='<link rel="stylesheet" href="../shared/css/fonts.css">'))
        self.assert_one_problem_names(opened.problems, "shared/css/fonts.css")
        self.assertTrue(any(p.startswith("stylesheet ") for p in opened.problems), opened.problems)

    def test_missing_image_is_reported(self):
        opened = self.open(self.site.add("single", "missing_image.html",
                                         body='<img src="../assets/images/nothing.png" alt="n">'))
        self.assert_one_problem_names(opened.problems, "nothing.png")
        self.assertTrue(any(p.startswith("image ") for p in opened.problems), opened.problems)

    def test_console_error_and_script_error_are_reported(self):
        opened = self.open(self.site.add("single", "console.html",
                                         body="<script>console.error('menu is broken');</script>"
                                              "<script>undefinedFunction();</script>"))
        self.assert_one_problem_names(opened.problems, "menu is broken", "undefinedFunction")

    def test_web_address_is_never_reached(self):
        opened = self.open(self.site.add("single", "remote.html",
                                         body='<img src="https://example.org/picture.png" alt="r">'))
        self.assert_one_problem_names(opened.problems, "example.org/picture.png")

    def test_smartphone_page_opens_as_a_phone(self):
        opened = self.open(self.site.add("single", "good_smartphone.html"))
        self.assertEqual(opened.problems, [])
        self.assertEqual(opened.evaluate("[innerWidth, innerHeight]"), [390, 844])


class PageCheckFolderTest(unittest.TestCase):
    """The command the build's pages are checked with."""

    def setUp(self):
        self.site = Site()
        self.addCleanup(self.site.close)

    def run_main(self, folder):
        out, err = io.StringIO(), io.StringIO()
        with redirect_stdout(out), redirect_stderr(err):
            code = page_check.main([folder])
        return code, out.getvalue() + err.getvalue()

    def test_folder_verdicts(self):
        folder = os.path.join(self.site.root, "html")
        good = self.site.add("html", "a.html")
        self.site.add("html", "notes/b_smartphone.html")
        code, text = self.run_main(folder)
        self.assertEqual(code, 0, text)
        self.assertIn("2 of 2 pages clean", text)

        bad = self.site.add("html", "notes/c.html", head='<link rel="stylesheet" href="../../missing.css">')
        code, text = self.run_main(folder)
        self.assertEqual(code, 1, text)
        self.assertIn("missing.css", text)
        self.assertIn(bad, text)
        self.assertNotIn(good + ":", text)

    def test_folder_without_pages_fails(self):
        code, text = self.run_main(os.path.join(self.site.root, "empty"))
        self.assertEqual(code, 1)
        self.assertIn("no .html page", text)


if __name__ == "__main__":
    if chromium_cdp.find_chromium() is None:
        print("chromium is not installed: page checks skipped")
        sys.exit(SKIP)
    unittest.main()
