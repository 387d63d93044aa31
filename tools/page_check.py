#!/usr/bin/python3
"""Opens every page under a folder in headless Chromium and reports each
resource that did not load (font, style sheet, image, script) and every
console or script error.

    page_check.py FOLDER

Pages named *_smartphone.html open at 390x844 as a phone, the others at
1440x900. Exit status: 0 when every page is clean, 1 when a page has a
problem or the folder holds no page, 77 when Chromium is not installed.
"""

import pathlib
import sys

import chromium_cdp


def check_folder(folder):
    """{page path: [problem, ...]} for every page under folder."""
    results = {}
    pages = chromium_cdp.html_files(folder)
    if not pages:
        return results
    with chromium_cdp.Browser() as browser:
        for path in pages:
            page = browser.open_page(pathlib.Path(path).resolve().as_uri(), chromium_cdp.viewport_for(path))
            results[path] = page.problems
            page.close()
    return results


def main(argv):
    if len(argv) != 1:
        print("usage: page_check.py FOLDER", file=sys.stderr)
        return 2
    if chromium_cdp.find_chromium() is None:
        print("page_check: chromium is not installed; nothing checked", file=sys.stderr)
        return 77
    results = check_folder(argv[0])
    if not results:
        print(f"page_check: no .html page under {argv[0]}", file=sys.stderr)
        return 1
    failed = 0
    for path, problems in results.items():
        if problems:
            failed += 1
            print(f"{path}:")
            for problem in problems:
                print(f"  {problem}")
    print(f"page_check: {len(results) - failed} of {len(results)} pages clean")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
