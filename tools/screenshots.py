#!/usr/bin/python3
"""Photographs every page under a folder with headless Chromium:

    screenshots.py PAGES_FOLDER OUT_FOLDER

Desktop pages are taken at 1280x900, smartphone pages (*_smartphone.html)
at 390x844. Each picture is named after the page's path below the folder,
slashes turned into "__". What failed to load is printed, not fatal: the
pictures are for looking at.
"""

import os
import pathlib
import sys

import chromium_cdp


def main(argv):
    if len(argv) != 2:
        print("usage: screenshots.py PAGES_FOLDER OUT_FOLDER", file=sys.stderr)
        return 2
    source, out = argv
    pages = chromium_cdp.html_files(source) if os.path.isdir(source) else []
    if not pages:
        print(f"screenshots: no .html page under {source} yet; start wyn on the site first")
        return 0
    if chromium_cdp.find_chromium() is None:
        print("screenshots: chromium is not installed; run make deps", file=sys.stderr)
        return 1
    os.makedirs(out, exist_ok=True)
    with chromium_cdp.Browser() as browser:
        for path in pages:
            viewport = chromium_cdp.viewport_for(path)
            page = browser.open_page(pathlib.Path(path).resolve().as_uri(), viewport)
            name = os.path.relpath(path, source).replace(os.sep, "__")[: -len(".html")] + ".png"
            page.screenshot(os.path.join(out, name))
            page.close()
            print(f"{os.path.join(out, name)}  {viewport[0]}x{viewport[1]}")
            for problem in page.problems:
                print(f"  {problem}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
