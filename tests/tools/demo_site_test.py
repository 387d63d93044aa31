#!/usr/bin/python3
"""The demo site's shared assets serve every face the generated style sheets
name: the files exist after `make fonts`, and a page built the way wyn
builds a local page (style sheets copied with file addresses, the head's
preload links, the favicon) loads all of them in headless Chromium, icons
included."""

import os
import pathlib
import re
import shutil
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import chromium_cdp  # noqa: E402
from fontTools.ttLib import TTFont  # noqa: E402
import make_icon_font  # noqa: E402

LOCAL = os.path.join(ROOT, "examples", "demo", "local")
SKIP = 77

# Every family that the generated style sheets and the raw-source pages ask for.
FAMILIES = ("Noto Serif", "Noto Serif Bold", "IBM Plex Mono", "IBM Plex Mono Bold", "Source Sans 3",
            "Source Sans 3 Bold", "Source Sans 3 Italic", "Fira Code", "Source Code Pro", "IconFont")
# What the generated head template links, below the shared folder.
HEAD_ASSETS = ("fonts/SourceSans3-Regular.ttf", "fonts/SourceSans3-Italic.ttf", "fonts/SourceSans3-Medium.ttf",
               "fonts/NotoSerif-Bold.ttf", "fonts/NotoSerif-Regular.ttf", "fonts/IBMPlexMono-Regular.ttf",
               "images/favicon-32x32.png")
URL = re.compile(r"url\('([^']*)'\)")


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def sheets():
    return {name: read(os.path.join(LOCAL, "shared", "css", name)) for name in ("fonts.css", "icons.css")}


def declared_families(text):
    return set(re.findall(r"font-family:'([^']+)'", text))


class DemoAssetsTest(unittest.TestCase):
    def test_sheets_declare_every_family_with_site_paths(self):
        text = "".join(sheets().values())
        self.assertEqual(declared_families(text), set(FAMILIES))
        for address in URL.findall(text):
            self.assertTrue(address.startswith("/shared/fonts/"), address)

    def test_every_named_file_is_in_place(self):
        missing = [a for a in URL.findall("".join(sheets().values()))
                   if not os.path.isfile(os.path.join(LOCAL, a.lstrip("/")))]
        missing += ["/shared/" + a for a in HEAD_ASSETS if not os.path.isfile(os.path.join(LOCAL, "shared", a))]
        self.assertEqual(missing, [], "run make fonts")

    def test_every_font_has_its_licence_beside_it(self):
        folder = os.path.join(LOCAL, "shared", "fonts")
        names = os.listdir(folder)
        for stem in ("NotoSerif", "IBMPlexMono", "SourceSans3", "FiraCode", "SourceCodePro", "IconFont"):
            with self.subTest(font=stem):
                self.assertTrue(any(n.startswith("LICENSE-" + stem) for n in names), "run make fonts")


class DemoPageTest(unittest.TestCase):
    def test_local_page_loads_every_face_and_draws_icons(self):
        if chromium_cdp.find_chromium() is None:
            self.skipTest("chromium is not installed")
        with tempfile.TemporaryDirectory(prefix="wyn-demo-page-") as temp:
            css_dir = os.path.join(temp, "html", "shared", "css")
            os.makedirs(css_dir)
            # The copies wyn publishes in local mode: each address a file address.
            for name, text in sheets().items():
                rewritten = URL.sub(lambda m: "url('file://" + LOCAL + m.group(1) + "')", text)
                with open(os.path.join(css_dir, name), "w", encoding="utf-8") as out:
                    out.write(rewritten)
            preload = "".join(f'<link href="{LOCAL}/shared/{a}" type="font/woff2" as="font" rel="preload">'
                              for a in HEAD_ASSETS if a.startswith("fonts/"))
            links = "".join(f'<link href="{css_dir}/{n}" rel="stylesheet">' for n in ("icons.css", "fonts.css"))
            icon_rules = ".icon{font-family:'IconFont';}" + "".join(
                ".icon-%s::before{content:'%s';}" % (name, "\\'" if char == "'" else char)
                for name, char, _ in make_icon_font.ICONS)
            texts = "".join(f"<p style=\"font-family:'{f}'\">{f}: the quick brown fox</p>" for f in FAMILIES)
            icons = "".join(f'<span class="icon-{name} icon"></span>' for name, _, _ in make_icon_font.ICONS)
            favicon = f"{LOCAL}/shared/images/favicon-32x32.png"
            page = (f'<!DOCTYPE html><html lang="en"><head>{preload}'
                    f'<link href="{favicon}" type="image/x-icon" rel="icon">{links}<style>{icon_rules}</style>'
                    f'</head><body>{texts}<p>{icons}</p><img src="{favicon}" alt="favicon"></body></html>')
            path = os.path.join(temp, "html", "sample.html")
            with open(path, "w", encoding="utf-8") as out:
                out.write(page)
            with chromium_cdp.Browser() as browser:
                opened = browser.open_page(pathlib.Path(path).as_uri())
                self.assertEqual(opened.problems, [])
                for family in FAMILIES:
                    with self.subTest(family=family):
                        self.assertTrue(opened.evaluate(f"document.fonts.check(\"16px '{family}'\")"))
                # Each icon character is drawn by IconFont: measured on a
                # canvas, it is exactly as wide as that font's own glyph.
                font = TTFont(os.path.join(LOCAL, "shared", "fonts", "IconFont.woff2"))
                units, cmap = font["head"].unitsPerEm, font.getBestCmap()
                expected = {char: round(font["hmtx"][cmap[ord(char)]][0] * 100 / units, 2)
                            for _, char, _ in make_icon_font.ICONS}
                measured = opened.evaluate(
                    "(() => { const c = document.createElement('canvas').getContext('2d');"
                    " c.font = \"100px 'IconFont'\"; const out = {};"
                    f" for (const ch of {list(expected)!r}) out[ch] = Math.round(c.measureText(ch).width * 100) / 100;"
                    " return out; })()")
                self.assertEqual(measured, expected)
                loaded = opened.evaluate("[...document.fonts].filter(f => f.status !== 'loaded')"
                                         ".map(f => f.family)")
                self.assertEqual(loaded, [])
                opened.close()


if __name__ == "__main__":
    result = unittest.main(exit=False).result
    if not result.wasSuccessful():
        sys.exit(1)
    sys.exit(SKIP if chromium_cdp.find_chromium() is None else 0)
