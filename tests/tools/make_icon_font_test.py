#!/usr/bin/python3
"""The icon font draws every icon character of the generated style sheets."""

import os
import sys
import tempfile
import unittest

from fontTools.ttLib import TTFont

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
import make_icon_font  # noqa: E402

SOURCE = "/usr/share/fonts/truetype/font-awesome/fontawesome-webfont.ttf"
CSS = "/usr/share/fonts-font-awesome/css/font-awesome.css"

# The characters that the icon rules of the style sheets name, written out
# here on their own so that a slip in the script's table shows up.
EXPECTED = {
    "Menu": '"', "Unlink": "#", "Eye": "$", "DownDir": "%", "UpDir": "&", "LeftDir": "E",
    "RightDir": "F", "At": "'", "Clone": "(", "Clipboard": ")", "ListNested": "0",
    "Thlist": "1", "Pencil": "2", "EllipsisVert": "3", "Ellipsis": "4", "CircleEmpty": "5",
    "DotCircle": "6", "Link": "7", "Attach": "8", "Brush": "9", "List": "@", "Info": "A",
    "Attention": "B", "CancelCircle": "C", "Colon": "D", "HelpCircled": "G", "Calendar": "H",
    "CC": "I", "User": "P", "Quote": "Q", "Tag": "R", "Comment": "S", "Square": "!",
    "CheckEmpty": "T", "Check": "U", "Bookmark": "V",
}


def read_css():
    with open(CSS, encoding="utf-8") as css:
        return css.read()


def outline(font, glyph_name):
    """The glyph's points, components resolved, as a comparable tuple."""
    glyf = font["glyf"]
    coords, ends, _ = glyf[glyph_name].getCoordinates(glyf)
    return tuple(coords), tuple(ends)


class IconFontTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.results = {}
        for ext in ("ttf", "woff2"):
            path = os.path.join(cls.folder.name, "IconFont." + ext)
            cls.results[ext] = (make_icon_font.make_icon_font(SOURCE, CSS, path), path)

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def test_table_names_the_characters_of_the_style_sheets(self):
        table = {name: char for name, char, _ in make_icon_font.ICONS}
        self.assertEqual(table, EXPECTED)

    def test_every_character_has_its_own_non_empty_glyph(self):
        for ext in ("ttf", "woff2"):
            problems, path = self.results[ext]
            self.assertEqual(problems, [], ext)
            font = TTFont(path)
            cmap = font.getBestCmap()
            self.assertEqual(sorted(cmap), sorted(ord(c) for c in EXPECTED.values()), ext)
            seen = {}
            for name, char in EXPECTED.items():
                with self.subTest(ext=ext, icon=name):
                    glyph_name = cmap[ord(char)]
                    glyph = font["glyf"][glyph_name]
                    glyph.recalcBounds(font["glyf"])
                    self.assertTrue(glyph.isComposite() or glyph.numberOfContours > 0)
                    self.assertGreater(glyph.xMax - glyph.xMin, 0)
                    self.assertGreater(glyph.yMax - glyph.yMin, 0)
                    self.assertGreater(font["hmtx"][glyph_name][0], 0)
                    shape = outline(font, glyph_name)
                    self.assertNotIn(shape, seen, f"{name} draws the same as {seen.get(shape)}")
                    seen[shape] = name

    def test_family_is_iconfont(self):
        font = TTFont(self.results["woff2"][1])
        self.assertEqual(font.flavor, "woff2")
        self.assertEqual(font["name"].getDebugName(1), "IconFont")
        self.assertEqual(TTFont(self.results["ttf"][1]).flavor, None)

    def test_icons_come_from_font_awesome(self):
        # The Pencil glyph is Font Awesome's pencil, point for point.
        source = TTFont(SOURCE)
        points = make_icon_font.read_code_points(read_css())
        made = TTFont(self.results["ttf"][1])
        self.assertEqual(outline(made, made.getBestCmap()[ord("2")]),
                         outline(source, source.getBestCmap()[points["pencil"]]))

    def test_unknown_icon_name_is_reported(self):
        with tempfile.TemporaryDirectory() as folder:
            css = os.path.join(folder, "fa.css")
            text = read_css().replace(".fa-bookmark:before", ".fa-gone:before")
            with open(css, "w", encoding="utf-8") as out:
                out.write(text)
            out_path = os.path.join(folder, "IconFont.woff2")
            code = make_icon_font.main(["--source", SOURCE, "--css", css, "--out", out_path])
            self.assertEqual(code, 1)
            self.assertFalse(os.path.exists(out_path))


if __name__ == "__main__":
    unittest.main()
