#!/usr/bin/python3
"""A page shows a document's text in the order the author wrote it.

Documents are made at random (a fixed seed) from the pieces authors write:
paragraph lines at several depths, quotes and quotes within quotes, tables
with a rule line and ";" tables, fenced blocks, separators, numbered,
lettered and dotted lists with tables, quotes and blocks in their items.
Every word of a document is unique and numbered in source order
("w0001", "w0002", ...), so on the desktop and the smartphone page of each,
the words of the body, the table of contents left out, must come in
ascending order."""

import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
WYN = os.path.abspath(os.environ.get("WYN_BINARY", os.path.join(ROOT, "build", "release", "wyn")))
DOCUMENTS = 400
WORD = re.compile(r"w\d{4}")


def make_document(rng, title):
    count = [0]

    def w():
        count[0] += 1
        return "w%04d" % count[0]

    pieces = [
        lambda i: [i + w() + " " + w()],
        lambda i: [i + "> " + w()],
        lambda i: [i + "| " + w() + " | " + w(), i + "|---|---|", i + "| " + w() + " | " + w()],
        lambda i: [i + ";" + w() + ";" + w(), i + w() + ";" + w(), ""],
        lambda i: [i + "```", i + w(), i + "```"],
        lambda i: [i + ". " + w()],
        lambda i: [i + "1. " + w()],
        lambda i: [i + "---"],
        lambda i: [""],
        lambda i: [i + w(), i + "  " + w()],
        lambda i: [i + "  " + w()],
        lambda i: [i + "> " + w(), i + "  > " + w(), i + "    " + w()],
        lambda i: [i + ". " + w(), i + "  . " + w(), i + "    | " + w() + " | " + w(), i + "    |---|---|",
                   i + "    | " + w() + " | " + w()],
        lambda i: [i + ". " + w(), i + "  > " + w(), i + ". " + w()],
        lambda i: [i + "a. " + w(), i + "   ```", i + "   " + w(), i + "   ```", i + "b. " + w()],
    ]
    lines = ["``", "title: " + title, 'output_path: "/html/%s.html"' % title, "``", "Head"]
    for _ in range(rng.randint(2, 7)):
        indent = rng.choice(["", "  ", "  ", "    ", "      "])
        lines += rng.choice(pieces)(indent)
    return "\n".join(lines) + "\n"


class PageOrder(unittest.TestCase):
    def test_words_of_every_page_come_in_source_order(self):
        if not os.path.exists(WYN):
            self.skipTest("no wyn binary at " + WYN)
        work = tempfile.mkdtemp(prefix="wyn-order-")
        try:
            site = os.path.join(work, "site")
            shutil.copytree(os.path.join(ROOT, "examples", "demo", "local", "shared"),
                            os.path.join(site, "local", "shared"))
            docs = os.path.join(site, "local", "wyn_files")
            os.makedirs(docs)
            rng = random.Random(20261209)
            sources = {}
            for n in range(DOCUMENTS):
                title = "p%d" % n
                sources[title] = make_document(rng, title)
                with open(os.path.join(docs, title + ".wyn"), "w") as f:
                    f.write(sources[title])
            run = subprocess.run([WYN, "once"], cwd=site, capture_output=True, text=True, timeout=120)
            self.assertIn("wyn once:", run.stdout + run.stderr)
            checked = 0
            for title, source in sources.items():
                for page in (title + ".html", title + "_smartphone.html"):
                    with open(os.path.join(site, "local", "html", page), encoding="utf-8") as f:
                        text = f.read()
                    body = text[text.index("<body"):]
                    body = re.sub(r'<div[^>]*id="toc_container".*?</ul>', "", body, flags=re.S)
                    seen = []
                    for word in WORD.findall(body):
                        if word not in seen:
                            seen.append(word)
                    self.assertEqual(seen, sorted(seen), "%s, from:\n%s" % (page, source))
                    self.assertEqual(len(seen), len(set(WORD.findall(source))), "%s, from:\n%s" % (page, source))
                    checked += 1
            self.assertEqual(checked, 2 * DOCUMENTS)
        finally:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(unittest.main())
