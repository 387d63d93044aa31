#!/usr/bin/python3
"""Makes the site's icon font 'IconFont' out of Font Awesome.

The generated style sheets draw every icon as one plain ASCII character in
the family 'IconFont' (".icon-Info::before{content:'A';}"). Font Awesome
keeps its icons in the private-use area, so this script builds a small font
whose ASCII characters carry the Font Awesome outlines that fit each icon's
meaning, and nothing else.

    make_icon_font.py --source fontawesome-webfont.ttf \
                      --css font-awesome.css --out IconFont.woff2

The css file gives the code point of each Font Awesome icon name. The output
format follows the extension of --out (.woff2, .woff or .ttf).
"""

import argparse
import re
import sys

from fontTools.pens.ttGlyphPen import TTGlyphPen
from fontTools.pens.transformPen import TransformPen
from fontTools.subset import Options, Subsetter
from fontTools.ttLib import TTFont

FAMILY = "IconFont"

# The icon's name in wyn, its character in 'IconFont', and the Font Awesome
# icon that draws it. Icon 0 (Nil) has no character and is not here.
ICONS = (
    ("Menu", '"', "bars"),
    ("Unlink", "#", "chain-broken"),
    ("Eye", "$", "eye"),
    ("DownDir", "%", "caret-down"),
    ("UpDir", "&", "caret-up"),
    ("LeftDir", "E", "caret-left"),
    ("RightDir", "F", "caret-right"),
    ("At", "'", "at"),
    ("Clone", "(", "clone"),
    ("Clipboard", ")", "clipboard"),
    ("ListNested", "0", "indent"),
    ("Thlist", "1", "th-list"),
    ("Pencil", "2", "pencil"),
    ("EllipsisVert", "3", "ellipsis-v"),
    ("Ellipsis", "4", "ellipsis-h"),
    ("CircleEmpty", "5", "circle-o"),
    ("DotCircle", "6", "dot-circle-o"),
    ("Link", "7", "link"),
    ("Attach", "8", "paperclip"),
    ("Brush", "9", "paint-brush"),
    ("List", "@", "list"),
    ("Info", "A", "info-circle"),
    ("Attention", "B", "exclamation-triangle"),
    ("CancelCircle", "C", "times-circle"),
    # Font Awesome has no colon; it is drawn from two of its small circles.
    ("Colon", "D", "=colon"),
    ("HelpCircled", "G", "question-circle"),
    ("Calendar", "H", "calendar"),
    ("CC", "I", "creative-commons"),
    ("User", "P", "user"),
    ("Quote", "Q", "quote-left"),
    ("Tag", "R", "tag"),
    ("Comment", "S", "comment"),
    ("Square", "!", "square"),
    ("CheckEmpty", "T", "square-o"),
    ("Check", "U", "check-square-o"),
    ("Bookmark", "V", "bookmark"),
)


def read_code_points(css_text):
    """Font Awesome icon name -> code point, from its style sheet."""
    points = {}
    rule = re.compile(r"((?:\.fa-[\w-]+:before,?\s*)+)\{\s*content:\s*\"\\([0-9a-fA-F]+)\"")
    for match in rule.finditer(css_text):
        for name in re.findall(r"\.fa-([\w-]+):before", match.group(1)):
            points[name] = int(match.group(2), 16)
    return points


def add_colon_glyph(font, circle_glyph):
    """Adds a glyph of two dots, stacked like a colon, drawn with the given
    filled circle shrunk to a quarter of its size."""
    glyf = font["glyf"]
    glyph_set = font.getGlyphSet()
    circle = glyph_set[circle_glyph]
    circle_glyf = glyf[circle_glyph]
    circle_glyf.recalcBounds(glyf)
    scale = 0.3
    width = circle.width
    dot = (circle_glyf.xMax - circle_glyf.xMin) * scale
    dx = (width - dot) / 2 - circle_glyf.xMin * scale
    pen = TTGlyphPen(glyph_set)
    base = font["hhea"].descent
    span = font["hhea"].ascent - base
    for y in (base + span * 0.12, base + span * 0.62):
        dy = y - circle_glyf.yMin * scale
        circle.draw(TransformPen(pen, (scale, 0, 0, scale, dx, dy)))
    glyph = pen.glyph()
    name = "wyn_colon"
    font.setGlyphOrder(font.getGlyphOrder() + [name])
    glyf[name] = glyph
    font["hmtx"][name] = (width, 0)
    return name


def rename_family(font):
    """Gives every name record that names the family or the face IconFont."""
    table = font["name"]
    for record in list(table.names):
        if record.nameID in (1, 16):
            table.setName(FAMILY, record.nameID, record.platformID, record.platEncID, record.langID)
        elif record.nameID in (4,):
            table.setName(FAMILY, 4, record.platformID, record.platEncID, record.langID)
        elif record.nameID in (6,):
            table.setName(FAMILY + "-Regular", 6, record.platformID, record.platEncID, record.langID)
        elif record.nameID in (2, 17):
            table.setName("Regular", record.nameID, record.platformID, record.platEncID, record.langID)
    table.names = [r for r in table.names if r.nameID in (0, 1, 2, 3, 4, 5, 6, 13, 14, 16, 17)]


def make_icon_font(source_path, css_path, out_path):
    """Builds the icon font; returns a list of problems (empty on success)."""
    with open(css_path, encoding="utf-8") as css:
        points = read_code_points(css.read())
    font = TTFont(source_path, recalcTimestamp=False)   # the same bytes from every build
    if "glyf" not in font:
        return [f"{source_path}: needs TrueType outlines (a glyf table)"]
    source_cmap = font.getBestCmap()

    wanted = {}
    problems = []
    for name, char, fa_name in ICONS:
        if fa_name == "=colon":
            circle = source_cmap.get(points.get("circle", -1))
            if circle is None:
                problems.append(f"{name}: Font Awesome has no 'circle' to draw the colon with")
                continue
            wanted[ord(char)] = add_colon_glyph(font, circle)
            continue
        point = points.get(fa_name)
        glyph = source_cmap.get(point) if point is not None else None
        if glyph is None:
            problems.append(f"{name}: Font Awesome has no icon '{fa_name}'")
            continue
        wanted[ord(char)] = glyph
    if problems:
        return problems

    # Only the ASCII characters map to icons; the private-use code points of
    # Font Awesome are dropped with everything the subset does not keep.
    for table in font["cmap"].tables:
        if table.isUnicode():
            table.cmap = dict(wanted)
    font["cmap"].tables = [t for t in font["cmap"].tables if t.isUnicode() and t.format in (4, 12)]

    options = Options()
    options.flavor = None
    options.layout_features = []
    options.name_IDs = ["*"]
    options.notdef_outline = True
    options.drop_tables += ["FFTM"]
    options.recalc_bounds = True
    subsetter = Subsetter(options=options)
    subsetter.populate(unicodes=sorted(wanted))
    subsetter.subset(font)
    rename_family(font)

    lower = out_path.lower()
    font.flavor = "woff2" if lower.endswith(".woff2") else "woff" if lower.endswith(".woff") else None
    font.save(out_path)
    return []


def main(argv):
    parser = argparse.ArgumentParser(description="Builds the 'IconFont' family from Font Awesome.")
    parser.add_argument("--source", default="/usr/share/fonts/truetype/font-awesome/fontawesome-webfont.ttf")
    parser.add_argument("--css", default="/usr/share/fonts-font-awesome/css/font-awesome.css")
    parser.add_argument("--out", required=True)
    args = parser.parse_args(argv)
    problems = make_icon_font(args.source, args.css, args.out)
    for problem in problems:
        print(f"make_icon_font: {problem}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
