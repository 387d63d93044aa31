#!/usr/bin/env python3
# Reads each named page with Python's html.parser and checks that its
# elements are balanced: every start tag but a void element's is closed by
# its own end tag, in nesting order, and nothing is left open. Prints one
# line per problem and exits 1 when there is any.
import sys
from html.parser import HTMLParser

VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link",
        "meta", "param", "source", "track", "wbr"}


class Balance(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.stack = []
        self.problems = []

    def handle_starttag(self, tag, attrs):
        if tag not in VOID:
            self.stack.append(tag)

    def handle_endtag(self, tag):
        if tag in VOID:
            return
        if not self.stack or self.stack[-1] != tag:
            self.problems.append(f"</{tag}> closes {self.stack[-1] if self.stack else 'nothing'}")
            return
        self.stack.pop()


def main(paths):
    failed = 0
    for path in paths:
        with open(path, encoding="utf-8") as f:
            text = f.read()
        checker = Balance()
        checker.feed(text)
        checker.close()
        problems = checker.problems + [f"<{t}> left open" for t in checker.stack]
        for p in problems:
            print(f"{path}: {p}")
        failed += bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
