#!/usr/bin/python3
"""Copies a font, changing its container to the one the output's extension
names (.ttf/.otf plain, .woff, .woff2). The outlines are left as they are.

    font_convert.py IN OUT
"""

import os
import shutil
import sys

from fontTools.ttLib import TTFont


def flavor_of(path):
    lower = path.lower()
    if lower.endswith(".woff2"):
        return "woff2"
    if lower.endswith(".woff"):
        return "woff"
    return None


def convert(source, target):
    if os.path.exists(target) and os.path.getmtime(target) >= os.path.getmtime(source):
        return
    # The source's own time stamp is kept, so that two builds (Linux and
    # Windows, or today and tomorrow) make the same bytes.
    font = TTFont(source, recalcTimestamp=False)
    if font.flavor == flavor_of(target):
        shutil.copyfile(source, target)
        return
    font.flavor = flavor_of(target)
    font.save(target)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: font_convert.py IN OUT")
    convert(sys.argv[1], sys.argv[2])
