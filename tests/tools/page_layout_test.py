#!/usr/bin/python3
"""What a browser shows of blocks written inside list items: a fenced code
block, a table and a quote written under an item's line stand below that
line, not beside it on the same line, and in the order written; and the
list goes on after them, one list counting on. A document's footnotes,
however short, stand one below the other at the page's foot, and their
lines leave no gap in the text. The home
page's list heading stands off the column's edge, in line with the title.
Raw HTML keeps its bold, italics and underlines under wyn's style reset.
A quote is set off by a rule on its left.

A small site is built by the real wyn into a temporary folder and its
desktop and smartphone pages are laid out by headless Chromium."""

import json
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import chromium_cdp  # noqa: E402

WYN = os.path.abspath(os.environ.get("WYN_BINARY", os.path.join(ROOT, "build", "release", "wyn")))
SKIP = 77

DOCUMENT = """``
title: Layout
output_path: "/html/layout.html"
``
Steps
  1. codestep
     ```
     codeline
     ```
  2. tablestep
     | tablehead | b |
     |---|---|
     | tablecell | 2 |
  3. quotestep
     > quoteline
  4. mixstep
     ```
     mixcode
     ```
     > mixquote
  5. laststep
Notes
  Words with notes[*1] and more[*2] and a last[*3] one.
  [*1] firstnote.
  [*2] secondnote, "/layout.wyn"(linked).
  [*3] thirdnote.
  afternotes paragraph.
  secondafter paragraph.
Raw
  Raw ~{<b>rawbold</b> <i>rawitalic</i> <u>rawunder</u> <strong>rawstrong</strong> <em>rawem</em> x<sup>rawsup</sup> x<sub>rawsub</sub> <kbd>rawkey</kbd> <del>rawdel</del> <cite>rawcite</cite>}~ and _ownstrong_ words[*4].
  [*4] ownnote.
  ~{<blockquote>rawquote</blockquote><dl><dt>rawterm</dt><dd>rawdefinition</dd></dl>}~
"""

# How each word of the raw HTML line and wyn's own strong words look.
STYLES = """
JSON.stringify(Object.fromEntries(Array.from(document.querySelectorAll('#b_w b, #b_w i, #b_w u, #b_w strong, #b_w em, #b_w del, #b_w cite'))
  .map(e => [e.textContent.trim(), [getComputedStyle(e).fontWeight, getComputedStyle(e).fontStyle,
                                     getComputedStyle(e).textDecorationLine]])
  .concat(Array.from(document.querySelectorAll('#b_w blockquote, #b_w dd'))
  .map(e => [e.textContent.trim(), [getComputedStyle(e).borderLeftStyle, getComputedStyle(e).marginLeft,
                                     getComputedStyle(e).display]]))
  .concat(Array.from(document.querySelectorAll('#b_w kbd'))
  .map(e => [e.textContent.trim(), [getComputedStyle(e).fontFamily, getComputedStyle(e).borderTopStyle]]))
  .concat(Array.from(document.querySelectorAll('#b_w sup, #b_w sub, #bottom sup'))
  .map(e => [e.textContent.trim().split(/\s+/).pop(), [getComputedStyle(e).verticalAlign, getComputedStyle(e).fontSize]]))))
"""

# The quote that holds "quoteline": its left rule and where its text begins.
QUOTE = """
(() => {
  const line = Array.from(document.querySelectorAll('#b_w span')).find(e => e.textContent.trim() === 'quoteline');
  let quote = line.parentElement;
  const style = getComputedStyle(quote);
  return JSON.stringify({rule: style.borderLeftStyle, width: parseFloat(style.borderLeftWidth),
                         colour: style.borderLeftColor, left: quote.getBoundingClientRect().left,
                         text: line.getBoundingClientRect().left});
})()
"""

# The box of the first text that holds each word, in page coordinates.
BOXES = """
(() => {
  const boxes = {};
  const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
  for (let node = walker.nextNode(); node; node = walker.nextNode()) {
    for (const word of node.data.split(/\\s+/)) {
      if (!word || word in boxes) continue;
      const at = node.data.indexOf(word);
      const range = document.createRange();
      range.setStart(node, at);
      range.setEnd(node, at + word.length);
      const r = range.getBoundingClientRect();
      boxes[word] = [r.left, r.top, r.right, r.bottom];
    }
  }
  return JSON.stringify(boxes);
})()
"""


# The left edges of the home page's list heading, its title (the desktop
# page's h1) and the text column, in page coordinates.
HOME_EDGES = """
JSON.stringify({
  heading: document.querySelector('#b_w h3').getBoundingClientRect().left,
  title: (document.querySelector('#b_w h1') || document.querySelector('#b_w h3')).getBoundingClientRect().left,
  column: document.getElementById('b_w').getBoundingClientRect().left,
})
"""


class PageLayout(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        """Builds the document once and lays out both of its pages."""
        cls.laid_out = {}
        with tempfile.TemporaryDirectory(prefix="wyn-layout-") as temp:
            source = os.path.join(temp, "local", "wyn_files", "layout.wyn")
            os.makedirs(os.path.dirname(source))
            with open(source, "w", encoding="utf-8") as out:
                out.write(DOCUMENT)
            env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")
            run = subprocess.run([WYN, "once"], cwd=temp, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                 env=env, timeout=120)
            cls.output = run.stdout.decode("utf-8", "replace")
            cls.returncode = run.returncode
            if run.returncode != 0:
                return
            with chromium_cdp.Browser() as browser:
                for name in ("layout.html", "layout_smartphone.html"):
                    path = os.path.join(temp, "local", "html", name)
                    page = browser.open_page(pathlib.Path(path).as_uri(), chromium_cdp.viewport_for(path))
                    boxes = json.loads(page.evaluate(BOXES))
                    text = page.evaluate("document.getElementById('b_w').innerText")
                    ordered_lists = page.evaluate("document.querySelectorAll('#b_w ol').length")
                    cls.styles = getattr(cls, "styles", {})
                    cls.styles[name] = json.loads(page.evaluate(STYLES))
                    cls.quotes = getattr(cls, "quotes", {})
                    cls.quotes[name] = json.loads(page.evaluate(QUOTE))
                    page.close()
                    cls.laid_out[name] = (boxes, text, ordered_lists)
                cls.home = {}
                for name in ("index.html", "index_smartphone.html"):
                    path = os.path.join(temp, "local", "html", name)
                    page = browser.open_page(pathlib.Path(path).as_uri(), chromium_cdp.viewport_for(path))
                    cls.home[name] = json.loads(page.evaluate(HOME_EDGES))
                    page.close()

    def pages(self):
        self.assertEqual(self.returncode, 0, self.output)
        self.assertEqual(sorted(self.laid_out), ["layout.html", "layout_smartphone.html"])
        return sorted(self.laid_out.items())

    def test_blocks_stand_below_their_items_line(self):
        for name, (boxes, text, ordered_lists) in self.pages():
            for item, block in (("codestep", "codeline"), ("tablestep", "tablehead"),
                                ("quotestep", "quoteline")):
                self.assertIn(item, boxes, name)
                self.assertIn(block, boxes, name)
                # Below the item's line: its top under the line's middle.
                line_middle = (boxes[item][1] + boxes[item][3]) / 2
                self.assertGreater(boxes[block][1], line_middle, f"{name}: {block} beside {item}: {boxes}")
            # Each block comes before the next item.
            for before, after in (("codeline", "tablestep"), ("tablecell", "quotestep"),
                                  ("quoteline", "mixstep"), ("mixstep", "mixcode"),
                                  ("mixcode", "mixquote"), ("mixquote", "laststep")):
                self.assertLess(boxes[before][1], boxes[after][1], f"{name}: {before} after {after}")
            # One list: the items count on after the blocks.
            self.assertIn("5.", text, f"{name}: the items count on after the blocks\n{text}")
            self.assertEqual(ordered_lists, 1, name)

    def test_the_home_pages_list_heading_stands_off_the_columns_edge(self):
        self.assertEqual(self.returncode, 0, self.output)
        self.assertEqual(sorted(self.home), ["index.html", "index_smartphone.html"])
        for name, edges in self.home.items():
            self.assertGreater(edges["heading"], edges["column"] + 8, f"{name}: {edges}")
        desktop = self.home["index.html"]
        self.assertAlmostEqual(desktop["heading"], desktop["title"], delta=2, msg=str(desktop))

    def test_raw_html_keeps_its_bold_italics_and_underlines(self):
        self.pages()
        for name, styles in sorted(self.styles.items()):
            self.assertEqual(styles.get("rawbold", [None])[0], "700", f"{name}: {styles}")
            self.assertEqual(styles.get("rawstrong", [None])[0], "700", f"{name}: {styles}")
            self.assertEqual(styles.get("rawitalic", [None, None])[1], "italic", f"{name}: {styles}")
            self.assertEqual(styles.get("rawem", [None, None])[1], "italic", f"{name}: {styles}")
            self.assertEqual(styles.get("rawunder", [None, None, None])[2], "underline", f"{name}: {styles}")
            self.assertEqual(styles.get("rawsup", [None])[0], "super", f"{name}: {styles}")
            self.assertEqual(styles.get("rawsub", [None])[0], "sub", f"{name}: {styles}")
            self.assertEqual(styles.get("rawdel", [None, None, None])[2], "line-through", f"{name}: {styles}")
            self.assertEqual(styles.get("rawcite", [None, None])[1], "italic", f"{name}: {styles}")
            # A raw quote looks like wyn's; a definition stands indented on a line of its own.
            self.assertEqual(styles.get("rawquote", [None])[0], "solid", f"{name}: {styles}")
            self.assertEqual(styles.get("rawdefinition", [None, None, None])[2], "block", f"{name}: {styles}")
            self.assertNotEqual(styles.get("rawdefinition", [None, "0px"])[1], "0px", f"{name}: {styles}")
            # A key looks like a key: a face of fixed width and a frame.
            self.assertIn("IBM Plex Mono", styles.get("rawkey", [""])[0], f"{name}: {styles}")
            self.assertEqual(styles.get("rawkey", [None, None])[1], "solid", f"{name}: {styles}")
            # wyn's own strong words carry a bold face of their own: not
            # made bolder on top of it; its footnotes stay on the line.
            self.assertEqual(styles.get("ownstrong", [None])[0], "400", f"{name}: {styles}")
            self.assertEqual(styles.get("ownnote.", [None])[0], "baseline", f"{name}: {styles}")

    def test_a_quote_has_a_rule_on_its_left(self):
        self.pages()
        for name, quote in sorted(self.quotes.items()):
            self.assertEqual(quote["rule"], "solid", f"{name}: {quote}")
            self.assertGreaterEqual(quote["width"], 2, f"{name}: {quote}")
            self.assertNotEqual(quote["colour"], "rgba(0, 0, 0, 0)", f"{name}: {quote}")
            # The words stand off the rule.
            self.assertGreater(quote["text"], quote["left"] + quote["width"] + 6, f"{name}: {quote}")

    def test_footnote_lines_leave_no_gap_in_the_text(self):
        for name, (boxes, _, _) in self.pages():
            # The paragraph after three notes' lines follows its paragraph
            # as closely as the next one follows it.
            after_notes = boxes["afternotes"][1] - boxes["one."][3]
            next_line = boxes["secondafter"][1] - boxes["afternotes"][3]
            self.assertAlmostEqual(after_notes, next_line, delta=2, msg=f"{name}: {after_notes} against {next_line}")

    def test_footnotes_stand_one_below_the_other(self):
        for name, (boxes, _, _) in self.pages():
            notes = ("firstnote.", "secondnote,", "thirdnote.")
            for note in notes:
                self.assertIn(note, boxes, name)
            for upper, lower in zip(notes, notes[1:]):
                # The next note starts below the whole line of the one before.
                self.assertGreaterEqual(boxes[lower][1], boxes[upper][3], f"{name}: {lower} beside {upper}: {boxes}")
                self.assertAlmostEqual(boxes[lower][0], boxes[upper][0], delta=2, msg=f"{name}: {boxes}")


if __name__ == "__main__":
    if chromium_cdp.find_chromium() is None:
        print("page_layout_test: chromium is not installed", file=sys.stderr)
        sys.exit(SKIP)
    unittest.main()
