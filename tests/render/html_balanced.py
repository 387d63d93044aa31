#!/usr/bin/env python3
# Checks that every section of each render golden file named is balanced HTML when
# read by Python's standard html.parser: each start tag (other than void
# elements) is closed by its own end tag, in nesting order, and nothing is
# left open. Prints one line per problem and exits 1 when there is any.
#
# Golden file layout (see render_golden_test.cpp): comment lines starting
# with "#" before the first section; "== <variant> <region>" opens a
# section; each line of a section loses its leading blanks and the lines are
# joined without separator; "\n" stands for a line break and "\\" for a
# backslash.
import sys
from html.parser import HTMLParser

VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link",
        "meta", "param", "source", "track", "wbr", "path"}


def decode(lines):
    text = "".join(line.lstrip(" ") for line in lines)
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text) and text[i + 1] in "n\\":
            out.append("\n" if text[i + 1] == "n" else "\\")
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def sections(path):
    result, name, lines = [], None, []
    with open(path, encoding="utf-8") as f:
        for raw in f.read().split("\n"):
            if raw.startswith("== "):
                if name:
                    result.append((name, decode(lines)))
                name, lines = raw[3:].strip(), []
            elif name:
                lines.append(raw)
    if name:
        result.append((name, decode(lines)))
    return result


class Balance(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=False)
        self.stack, self.problems, self.elements = [], [], 0

    def handle_starttag(self, tag, attrs):
        self.elements += 1
        if tag not in VOID:
            self.stack.append(tag)

    def handle_startendtag(self, tag, attrs):
        self.elements += 1

    def handle_endtag(self, tag):
        if tag in VOID:
            self.problems.append("end tag of void element " + tag)
        elif not self.stack or self.stack[-1] != tag:
            self.problems.append("end tag %s while %s is open" % (tag, self.stack[-1] if self.stack else "nothing"))
        else:
            self.stack.pop()


def check(path):
    problems = 0
    found = sections(path)
    if not found:
        print("no section in " + path)
        return 1
    for name, html in found:
        parser = Balance()
        parser.feed(html)
        parser.close()
        if parser.stack:
            parser.problems.append("left open: " + " ".join(parser.stack))
        if parser.elements == 0:
            parser.problems.append("no element")
        for p in parser.problems:
            print("%s [%s]: %s" % (path, name, p))
            problems += 1
    return problems


def main():
    problems = sum(check(path) for path in sys.argv[1:])
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
