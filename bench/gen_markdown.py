#!/usr/bin/env python3
"""Writes a Markdown corpus to measure a peer converter against: N documents
of about 4 KB each (the size of bench/gen_site.py's documents, from the same
word list), with the constructs Markdown shares with wyn's language:
headings, paragraphs, emphasis, code spans, links and images, footnote-like
references, task lists, nested lists, quotes, fenced code, pipe tables with
a header, rules and inline HTML.

    python3 bench/gen_markdown.py --out /tmp/md --count 10000 --seed 1

Writes <out>/docNNNNN.md; the output is a pure function of the arguments.
"""

import argparse
import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gen_site import WORDS  # noqa: E402


class Writer:
    def __init__(self, rng, index, count):
        self.rng = rng
        self.index = index
        self.count = count
        self.lines = []

    def words(self, lo, hi):
        return " ".join(self.rng.choice(WORDS) for _ in range(self.rng.randint(lo, hi)))

    def sentence(self):
        r = self.rng
        parts = [self.words(5, 14)]
        for _ in range(r.choice((0, 0, 1, 1, 1, 2))):
            parts.append(self.words(2, 8))
            kind = r.randrange(12)
            if kind == 0:
                parts.append("_" + self.words(1, 3) + "_")
            elif kind == 1:
                parts.append("**" + self.words(1, 2) + "**")
            elif kind == 2:
                parts.append("`" + self.words(1, 3) + " | x`")
            elif kind == 3:
                parts.append("<abbr>" + self.words(1, 1) + "</abbr>")
            elif kind == 4:
                parts.append("[%s](https://www.example%d.org/%s)" % (self.words(1, 3), r.randrange(50), r.choice(WORDS)))
            elif kind == 5:
                parts.append("[%s](doc%05d.html#%d)" % (self.words(1, 3), r.randrange(self.count), r.randint(1, 3)))
            elif kind == 6:
                parts.append("![%s](/images/photo%d.jpg)" % (self.words(2, 4), r.randrange(100)))
            elif kind == 7:
                parts.append("\\[not a bracket\\] snake_case_word")
            elif kind == 8:
                parts.append("'%s' and \"%s\"" % (self.words(1, 2), self.words(1, 2)))
            elif kind == 9:
                parts.append("x < y && y > z")
            else:
                parts.append(self.words(2, 5) + ", " + self.words(1, 4))
        return " ".join(parts) + "."

    def add(self, text):
        self.lines.append(text)

    def size(self):
        return sum(len(line.encode("utf-8")) + 1 for line in self.lines)

    def section(self):
        r = self.rng
        self.add("## " + self.words(2, 5).capitalize())
        self.add("")
        self.add(self.sentence() + " " + self.sentence())
        self.add("")
        kind = r.randrange(8)
        if kind == 0:
            self.add("- " + self.sentence())
            self.add("- " + self.words(3, 6))
            self.add("  continued " + self.words(2, 4))
            self.add("  - " + self.words(2, 5))
            self.add("- [x] " + self.words(2, 5))
            self.add("")
            self.add("1. " + self.words(2, 5))
            self.add("2. " + self.words(2, 5))
        elif kind == 1:
            self.add("> " + self.sentence())
            self.add("> " + self.words(4, 9))
            self.add(">> " + self.words(3, 7))
        elif kind == 2:
            self.add("| %s | %s | %s |" % (self.words(1, 2), self.words(1, 1), self.words(1, 2)))
            self.add("|---|---|---|")
            for _ in range(r.randint(2, 4)):
                self.add("| %s | %s | %s |" % (self.words(1, 3), self.words(1, 2), self.words(1, 3)))
        elif kind == 3:
            self.add("```python")
            for k in range(r.randint(2, 4)):
                self.add("def f%d(x):" % k)
                self.add("    return x * %d  # %s" % (k, self.words(1, 3)))
            self.add("```")
        elif kind == 4:
            self.add("---")
        elif kind == 5:
            self.add("### " + self.words(2, 4).capitalize())
            self.add("")
            self.add(self.sentence())
        else:
            self.add(self.sentence())
        self.add("")

    def document(self, target_size):
        self.add("# " + self.words(2, 5).capitalize())
        self.add("")
        while self.size() < target_size - 300:
            self.section()
        self.add(self.sentence())
        return "\n".join(self.lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", required=True)
    parser.add_argument("--count", type=int, default=10000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--size", type=int, default=4096, help="approximate bytes per document")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    for i in range(args.count):
        rng = random.Random(args.seed * 1000003 + i)
        text = Writer(rng, i, args.count).document(args.size)
        with open(os.path.join(args.out, "doc%05d.md" % i), "w", encoding="utf-8", newline="\n") as f:
            f.write(text)


if __name__ == "__main__":
    main()
