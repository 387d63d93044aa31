#!/usr/bin/env python3
"""Writes a synthetic wyn site for benchmarks: N documents of about 4 KB
each, in nested folders under <out>/local/wyn_files/, using every construct
of the markup language (document header, headings and paragraphs at
several levels, emphasis, inline code, raw text, fenced blocks, tick boxes,
footnotes, numbered links with descriptions, web and file links, images,
quotes, separators, the three kinds of lists, contexts, inline contexts,
"|" and ";" tables, comments and escapes).

The output is a pure function of --seed and --count, so benchmarks on two
machines read the same bytes. Other benchmarks reuse it: the site has the
local/ layout that wyn expects (run wyn in <out>).

    python3 bench/gen_site.py --out /tmp/site --count 10000 --seed 1
"""

import argparse
import os
import random

WORDS = (
    "the of and to in is it that for on with as was by at from this be or an are "
    "which but not have had one all were we when there can your each about how "
    "up out them then she many some so these would other into has more her two "
    "like him see time could no make than first been its who now people my made "
    "over did down only way find use may water long little very after words called "
    "just where most know get through back much before go good new write our used "
    "me man too any day same right look think also around another came come work "
    "three word must because does part even place well such here take why things "
    "help put years different away again off went old number great tell men say "
    "small every found still between name should home big give air line set own "
    "under read last never us left end along while might next sound below saw "
    "something thought both few those always looked show large often together "
    "asked house world going want school important until form food keep children "
    "feet land side without boy once animals life enough took sometimes four head "
    "above kind began almost live page got earth need far hand high year mother "
    "light parts country father let night following picture being study second eyes "
    "café Übersicht naïve façade smörgåsbord piñata jalapeño déjà straße 東京 данные"
).split()

FOLDERS = ["notes", "notes/travel", "notes/travel/europe", "projects", "projects/wyn",
           "projects/wyn/design", "reading", "reading/books", "journal/2024", "journal/2025"]


class Writer:
    def __init__(self, rng, index, paths):
        self.rng = rng
        self.index = index
        self.paths = paths
        self.lines = []
        self.footnotes = 0
        self.anchors = 0

    def words(self, lo, hi):
        return " ".join(self.rng.choice(WORDS) for _ in range(self.rng.randint(lo, hi)))

    def sentence(self):
        # Prose first: most sentences hold one construct or none, as in a
        # real document; over a document every construct still shows up.
        r = self.rng
        parts = [self.words(5, 14)]
        for _ in range(r.choice((0, 0, 1, 1, 1, 2))):
            parts.append(self.words(2, 8))
            kind = r.randrange(16)
            if kind == 0:
                parts.append("_" + self.words(1, 3) + "_")
            elif kind == 1:
                parts.append("__" + self.words(1, 2) + "__")
            elif kind == 2:
                parts.append("`" + self.words(1, 3) + " | x`")
            elif kind == 3:
                parts.append("~{<abbr>" + self.words(1, 1) + "</abbr>}~")
            elif kind == 4:
                self.footnotes += 1
                parts.append(self.words(1, 2) + " [*%d]" % self.footnotes)
            elif kind == 5 and self.anchors:
                parts.append("[#%d](%s)" % (r.randint(1, self.anchors), self.words(1, 3)))
            elif kind == 6:
                parts.append('"https://www.example%d.org/%s"' % (r.randrange(50), r.choice(WORDS)))
            elif kind == 7:
                target = self.paths[r.randrange(len(self.paths))]
                parts.append('"/%s"(%s)' % (target, self.words(1, 3)))
            elif kind == 8:
                target = self.paths[r.randrange(len(self.paths))]
                parts.append('"/%s[#%d]"' % (target, r.randint(1, 3)))
            elif kind == 9:
                parts.append('_"/images/photo%d.jpg"("%s", 640x480)' % (r.randrange(100), self.words(2, 4)))
            elif kind == 10:
                parts.append("[x] " + self.words(1, 2) + " [ ] " + self.words(1, 2))
            elif kind == 11:
                parts.append("``author: %s | %s``" % (self.words(1, 2), self.words(1, 3)))
            elif kind == 12:
                parts.append("```x = %d```" % r.randrange(1000))
            elif kind == 13:
                parts.append("\\[not a bracket\\] snake_case_word")
            elif kind == 14:
                parts.append("'%s' and \"%s\"" % (self.words(1, 2), self.words(1, 2)))
            else:
                parts.append(self.words(2, 5) + ", " + self.words(1, 4))
        return " ".join(parts) + "."

    def add(self, text):
        self.lines.append(text)

    def size(self):
        return sum(len(line.encode("utf-8")) + 1 for line in self.lines)

    def header(self):
        r = self.rng
        self.add("``")
        self.add("title: " + self.words(2, 5).capitalize())
        self.add("author: " + r.choice(["Ada", "Grace", "Linus", "Margaret"]))
        self.add("creation_date: 20%02d-%02d-%02d" % (r.randint(10, 25), r.randint(1, 12), r.randint(1, 28)))
        if r.randrange(10) == 0:
            self.add("status: draft")
        self.add('output_path: "/html/doc%05d.html"' % self.index)
        self.add("category: " + ";".join(r.choice(WORDS) for _ in range(2)))
        self.add("summary: " + self.words(5, 10))
        if r.randrange(4) == 0:
            self.add("toc: none")
        if r.randrange(5) == 0:
            self.add("todo: " + self.words(2, 4))
        self.add("``")

    def section(self):
        r = self.rng
        self.add(self.words(2, 5).capitalize())
        self.anchors += 1
        self.add("  " + self.sentence() + " [#%d]_" % self.anchors)
        kind = r.randrange(9)
        if kind == 0:
            self.add("  . " + self.sentence())
            self.add("  . " + self.words(3, 6))
            self.add("    continued " + self.words(2, 4))
            self.add("    . " + self.words(2, 5))
            self.add("  . [x] " + self.words(2, 5))
            self.add("  1. " + self.words(2, 5))
            self.add("  2. " + self.words(2, 5))
            self.add("  a. " + self.words(2, 5))
        elif kind == 1:
            self.add("  > " + self.sentence())
            self.add("  > " + self.words(4, 9))
            self.add("    > " + self.words(3, 7))
        elif kind == 2:
            self.add("  ``")
            self.add("  remark: " + self.words(2, 5))
            self.add("  " + self.words(2, 4))
            self.add("    " + self.sentence())
            self.add("  ``")
        elif kind == 3:
            self.add("| %s | [x] %s || %s |" % (self.words(1, 2), self.words(1, 1), self.words(1, 2)))
            self.add("|---|---|---|")
            for _ in range(r.randint(2, 4)):
                self.add("| %s | %s | %s |" % (self.words(1, 3), self.words(1, 2), self.words(1, 3)))
        elif kind == 4:
            self.add(";%s;%s;%s" % (self.words(1, 1), self.words(1, 1), self.words(1, 1)))
            for _ in range(r.randint(2, 4)):
                self.add("%d;%s;%s | %s" % (r.randrange(100), self.words(1, 2), self.words(1, 1), self.words(1, 1)))
            self.add("")
        elif kind == 5:
            self.add("    ```python")
            for k in range(r.randint(2, 4)):
                self.add("    def f%d(x):" % k)
                self.add("        return x * %d  # %s" % (k, self.words(1, 3)))
            self.add("    ```")
        elif kind == 6:
            self.add("---")
            self.add("  // " + self.words(3, 6))
        elif kind == 7:
            self.add("    " + self.words(2, 4).capitalize())
            self.add("      " + self.sentence())
        else:
            self.add("  " + self.sentence())
        self.add("  " + self.sentence())

    def document(self, target_size):
        self.header()
        while self.size() < target_size - 300:
            self.section()
        for n in range(1, self.footnotes + 1):
            self.add("  [*%d] %s" % (n, self.words(3, 8)))
        return "\n".join(self.lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", required=True, help="folder that receives local/wyn_files/")
    parser.add_argument("--count", type=int, default=10000, help="number of documents")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--size", type=int, default=4096, help="approximate bytes per document")
    args = parser.parse_args()

    root = os.path.join(args.out, "local", "wyn_files")
    paths = ["wyn_files/%s/doc%05d.wyn" % (FOLDERS[i % len(FOLDERS)], i) for i in range(args.count)]
    for i in range(args.count):
        rng = random.Random(args.seed * 1000003 + i)
        text = Writer(rng, i, paths).document(args.size)
        path = os.path.join(root, FOLDERS[i % len(FOLDERS)], "doc%05d.wyn" % i)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8", newline="\n") as f:
            f.write(text)


if __name__ == "__main__":
    main()
