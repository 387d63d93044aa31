#!/usr/bin/env python3
# Reads an HTML file with Python's standard html.parser and prints its
# events one per line, in the canonical form html_roundtrip_test.cpp builds
# from wyn's own tree:
#   decl TEXT | start NAME | attr NAME WORD... | end NAME | text TEXT
# Attribute values are cut into words (style values into declarations), so
# the comparison does not depend on how many blanks separate them. Text is
# merged across entity references, which are kept as written.
import sys
from html.parser import HTMLParser


def words(name, value):
    if value is None:
        return []
    if name == "style":
        return [d.strip() for d in value.split(";") if d.strip()]
    return value.split()


def escape(text):
    return text.replace("\\", "\\\\").replace("\n", "\\n")


class Events(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=False)
        self.lines = []
        self.text = ""

    def flush(self):
        if self.text:
            self.lines.append("text " + escape(self.text))
        self.text = ""

    def handle_decl(self, decl):
        self.flush()
        self.lines.append("decl " + decl)

    def handle_starttag(self, tag, attrs):
        self.flush()
        self.lines.append("start " + tag)
        for name, value in attrs:
            self.lines.append(" ".join(["attr", name.lower()] + words(name.lower(), value)))

    def handle_startendtag(self, tag, attrs):
        self.handle_starttag(tag, attrs)
        self.lines.append("end " + tag)

    def handle_endtag(self, tag):
        self.flush()
        self.lines.append("end " + tag)

    def handle_data(self, data):
        self.text += data

    def handle_entityref(self, name):
        self.text += "&" + name + ";"

    def handle_charref(self, name):
        self.text += "&#" + name + ";"

    def handle_comment(self, data):
        self.flush()
        self.lines.append("comment " + escape(data))


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        source = f.read()
    parser = Events()
    parser.feed(source)
    parser.close()
    parser.flush()
    sys.stdout.reconfigure(encoding="utf-8")
    sys.stdout.write("".join(line + "\n" for line in parser.lines))


if __name__ == "__main__":
    main()
