#!/usr/bin/python3
"""The blanks a reader sees are the blanks the author typed.

For every block of every desktop and smartphone page (paragraphs, headings,
list items, quote lines, table cells, footnotes, header values, the title
and the entries of the table of contents), the text a browser shows (tags
removed, entities decoded, an icon or picture counted as one mark) must
have exactly the blanks of the block's source with its markup removed: a
blank in the source shows once, two stay two, and none appears where the
source has none. A line's indentation, the blank after a list marker or a
header key's colon, and the line breaks of a continued list item (one
blank) are structure, not text.

A block is found in the source by the offset the renderer writes into its
class ("_123"): its source runs from there to the end of its line and over
the lines that continue it (lines that start no block of their own). The
sites: the demo, the fixture sites, and documents from bench/gen_site.py,
which use every construct of the markup."""

import html
import html.parser
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
WYN = os.path.abspath(os.environ.get("WYN_BINARY", os.path.join(ROOT, "build", "release", "wyn")))

# Rule classes of the blocks checked, by kind.
PARAGRAPHS = {"Ba", "Ca", "Da", "Ea", "xa", "ya", "za", "Aa"}
HEADINGS = {"pa", "qa", "ra", "sa", "ta", "ua", "va", "wa"}
LIST_ITEMS = {"wb", "vb"}
QUOTE_LINES = {"Ua"}
CELLS = {"Cb", "Db", "Eb", "Fb"}
FOOTNOTES = {"bb"}
HEADER_VALUES = {"la"}
TOC_ENTRIES = {"lb", "mb", "nb", "ob"}
BLOCKS = PARAGRAPHS | HEADINGS | LIST_ITEMS | QUOTE_LINES | CELLS | FOOTNOTES | HEADER_VALUES
# Blocks that may sit inside another one's element (a list lifted into a
# heading's, a context, a table, a code block): their text is their own.
NESTED = BLOCKS | {"sb", "qb", "ub", "pb", "rb", "tb", "yb", "zb", "Ab", "Ta", "aa", "ba", "ka", "fb", "Ya", "ab", "kb"}
OFFSET = re.compile(r"^_(\d+)$")
VOID = {"img", "input", "br", "hr", "meta", "link"}


class Node:
    def __init__(self, tag, attrs, parent):
        self.tag, self.attrs, self.parent, self.children = tag, dict(attrs), parent, []

    def classes(self):
        return (self.attrs.get("class") or "").split()

    def offset(self):
        for c in self.classes():
            m = OFFSET.match(c)
            if m:
                return int(m.group(1))
        return None


class Tree(html.parser.HTMLParser):
    def __init__(self, text):
        super().__init__(convert_charrefs=True)
        self.root = Node("#root", [], None)
        self.at = self.root
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        node = Node(tag, attrs, self.at)
        self.at.children.append(node)
        if tag not in VOID:
            self.at = node

    def handle_endtag(self, tag):
        at = self.at
        while at is not self.root and at.tag != tag:
            at = at.parent
        if at is not self.root:
            self.at = at.parent

    def handle_data(self, data):
        self.at.children.append(data)


def walk(node):
    yield node
    for c in node.children:
        if isinstance(c, Node):
            yield from walk(c)


def visible(node, inside):
    """The text a reader sees in `node`; an icon, a picture or a check box is
    one mark "@". Elements whose offset lies outside `inside` (a block of
    another line, lifted into this one) are left out, and so are a list
    item's marker and a table of contents' toggle."""
    out = []
    for c in node.children:
        if isinstance(c, str):
            out.append(c)
            continue
        o = c.offset()
        if o is not None and not inside(o) and set(c.classes()) & NESTED:
            continue
        cls = c.classes()
        if c.tag == "input" and (c.attrs.get("id") or "").startswith("toggle-checkbox"):
            continue   # the page's toggle of a context or contents: not the author's
        if "icon" in cls or c.tag in ("img", "input"):
            out.append("@")
            continue
        if node.tag == "li" and c.tag == "span" and not cls and c is node.children[0]:
            continue   # the list marker
        out.append(visible(c, inside))
    return "".join(out)


def blanks(text):
    """The pattern of blanks: every run of other characters becomes "x"."""
    return re.sub(r"[^ ]+", "x", text)


# Markup inside a line, outermost first. Each returns what a reader sees.
# `picture_exists(path)` tells whether an embedded picture can be shown (a
# mark) or shows its caption instead.
def strip_markup(text, picture_exists=lambda path: True):
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if text.startswith("\\", i) and i + 1 < len(text):
            out.append(text[i + 1])
            i += 2
        elif text.startswith("`", i):
            end = text.find("`", i + 1)
            if end < 0:
                return None
            out.append(text[i + 1:end])
            i = end + 1
        elif text.startswith('_"', i) or c == '"':
            start = i + (1 if c == "_" else 0)
            end = text.find('"', start + 1)
            if end < 0:
                out.append(text[i:])
                break
            inner = text[start + 1:end]
            link = ("/" in inner and "." in inner) or "://" in inner
            if not link or " " in inner:
                out.append(text[i:end + 1])
                i = end + 1
                continue
            i = end + 1
            if c == "_":
                desc = ""
                if text.startswith("(", i):
                    close = text.find(")", i)
                    desc, i = text[i + 1:close], close + 1
                caption = re.search(r'"([^"]*)"', desc)
                out.append("@" if picture_exists(inner) else (caption.group(1) if caption else ""))
            elif text.startswith("(", i):
                close = text.find(")", i)
                out.append(strip_markup(text[i + 1:close], picture_exists) or "")
                i = close + 1
            else:
                out.append("L")
        elif c == "[":
            m = re.match(r"\[\s*([xX])?\s*\]", text[i:])
            if m:
                out.append("@")
                i += m.end()
                continue
            m = re.match(r"\[\s*([*#])\s*(\d+)[^\]\w]*\]", text[i:])
            if not m:
                out.append(c)
                i += 1
                continue
            i += m.end()
            if m.group(1) == "#" and text.startswith("_", i):
                # An anchor shows nothing, nor the blank that set it apart
                # from the word before it.
                i += 1
                while out and out[-1] == " ":
                    out.pop()
            elif m.group(1) == "#" and text.startswith("(", i):
                close = text.find(")", i)
                out.append(strip_markup(text[i + 1:close]) or "")
                i = close + 1
            else:
                out.append(m.group(2))
        else:
            out.append(c)
            i += 1
    return "".join(out)


class Source:
    def __init__(self, path):
        with open(path, "rb") as f:
            data = f.read()
        if data.startswith(b"\xef\xbb\xbf"):
            data = data[3:]
        self.text = data.decode("utf-8", "replace")
        self.bytes = data
        # Byte offsets (the renderer's) to character offsets.
        self.char_at = {}
        b = 0
        for i, ch in enumerate(self.text):
            self.char_at[b] = i
            b += len(ch.encode("utf-8"))
        self.char_at[b] = len(self.text)

    def line_span(self, byte_offset):
        i = self.char_at.get(byte_offset)
        if i is None:
            return None
        start = self.text.rfind("\n", 0, i) + 1
        end = self.text.find("\n", i)
        return start, (len(self.text) if end < 0 else end), i


def indentation(line):
    return len(line) - len(line.lstrip(" "))


def block_source(src, offset, starts, kind, picture_exists):
    """The block's source with its markup removed, or None when the block
    holds what this check does not model (raw HTML, fences, contexts)."""
    span = src.line_span(offset)
    if span is None:
        return None
    line_start, line_end, at = span
    text = src.text[at:line_end]
    # Continuation lines: deeper, and starting no block of their own.
    own_indent = indentation(src.text[line_start:line_end])
    end = line_end
    while end < len(src.text):
        next_end = src.text.find("\n", end + 1)
        next_end = len(src.text) if next_end < 0 else next_end
        line = src.text[end + 1:next_end]
        first = end + 1 + indentation(line)
        first_byte = len(src.text[:first].encode("utf-8"))
        if not line.strip() or indentation(line) <= own_indent or first_byte in starts:
            break
        text += " " + line.strip()
        end = next_end
    if re.search(r"~\{|```|``|//|\|", text) and kind not in ("cell",):
        return None
    if kind == "item":
        text = re.sub(r"^\s*([a-z]\.|\d+\.|\.)\s", "", text)
    elif kind == "quote":
        text = re.sub(r"^\s*>\s?", "", text)
    elif kind == "header":
        text = text.split(":", 1)[1] if ":" in text else text
    elif kind == "footnote":
        text = re.sub(r"^\[\*\s*(\d+)\s*\]", r"\1", text)
    elif kind == "cell":
        bar_table = src.text[line_start:line_end].lstrip(" ").startswith("|")
        text = re.split(r"(?<!\\)\|" if bar_table else r"(?<!\\);", text.lstrip("|;"))[0]
        if re.search(r"~\{|```|``|//", text):
            return None
        # A ticked column or cell shows its tick by its frame, not a mark.
        text = re.sub(r"^\s*\[\s*[xX]?\s*\]", "", text)
    stripped = strip_markup(text, picture_exists)
    return None if stripped is None else stripped.strip(" ")


def compare(src, node, offset, starts, kind, picture_exists):
    """(source, shown) of one block read against `src`, or None when the
    block is not one this check models."""
    want = block_source(src, offset, starts, kind, picture_exists)
    if want is None:
        return None
    span = src.line_span(offset)
    lo = span[0]
    hi = src.text.find("\n", span[1] + 1) if kind == "item" else span[1]
    lo_b = len(src.text[:lo].encode("utf-8"))
    hi_b = len(src.text[:hi if hi >= 0 else len(src.text)].encode("utf-8"))
    got = visible(node, lambda o: lo_b <= o <= hi_b)
    # Blanks at a block's end show nothing (they hang at the line's end),
    # as before an anchor that closes a line; a header value's icon is not
    # its text.
    got = got.strip("@").strip(" ") if kind == "header" else got.rstrip(" ")
    return want, got


def check_site(local, pages, checked):
    """Every mismatch as (page, offset, source, shown); `checked` counts the
    blocks compared, by kind."""
    wrong = []

    def picture_exists(path):
        path = path if "/assets/images" in path else "/assets/images" + ("" if path.startswith("/") else "/") + path
        return os.path.isfile(os.path.join(local, path.lstrip("/")))

    # Who wrote each page: the manifest's lines are "<hash> <source>\t<page>".
    owners = {}
    with open(os.path.join(local, "html", ".wyn_manifest"), encoding="utf-8") as f:
        for line in f.read().splitlines()[1:]:
            owner, _, page = line[17:].partition("\t")
            owners[os.path.relpath(page, os.path.join(local, "html"))] = owner
    for page in pages:
        with open(os.path.join(local, "html", page), encoding="utf-8") as f:
            tree = Tree(f.read()).root
        name = owners.get(page)
        if not name or not os.path.isfile(name):
            continue
        src = Source(name)
        sources = [src]
        website = os.path.join(local, "wyn_files", "website", "website_index.wyn")
        if name.endswith("/wyn_files/index.wyn") and os.path.isfile(website):
            sources.append(Source(website))
        starts = {n.offset() for n in walk(tree) if n.offset() is not None}
        # Cells of an embedded CSV table count offsets in that file; the
        # document's header holds no block of its own.
        header_end = len(src.text[:src.text.find("``", 3) + 2].encode("utf-8")) if src.text.startswith("``") else 0
        in_toc = set()
        for node in walk(tree):
            if "kb" in node.classes():
                in_toc.update(id(n) for n in walk(node))
        headings = {}
        for node in walk(tree):
            cls = set(node.classes())
            offset = node.offset()
            if offset is None or not (cls & BLOCKS) or id(node) in in_toc:
                continue
            if cls & CELLS and offset < header_end:
                continue
            kind = ("item" if cls & LIST_ITEMS else "quote" if cls & QUOTE_LINES else "cell" if cls & CELLS
                    else "header" if cls & HEADER_VALUES else "footnote" if cls & FOOTNOTES else "line")
            # The site's home page also shows the website index, whose
            # blocks count their offsets in that document's source.
            results = [compare(source, node, offset, starts, kind, picture_exists) for source in sources]
            results = [r for r in results if r is not None]
            if not results:
                continue
            want, got = next((r for r in results if blanks(r[0]) == blanks(r[1])), results[0])
            if cls & HEADINGS:
                headings[offset] = got
            if not got and node.tag == "p":
                continue   # the empty paragraph of a footnote's line
            checked[kind] = checked.get(kind, 0) + 1
            if blanks(got) != blanks(want):
                wrong.append((page, offset, want, got))
        for node in walk(tree):
            if set(node.classes()) & TOC_ENTRIES:
                target = re.search(r"_(\d+)$", node.attrs.get("href", ""))
                if target and int(target.group(1)) in headings:
                    checked["toc"] = checked.get("toc", 0) + 1
                    got = visible(node, lambda o: True).rstrip("@")
                    want = headings[int(target.group(1))]
                    if blanks(got) != blanks(want):
                        wrong.append((page, "toc", want, got))
            if node.tag == "h1":
                got = visible(node, lambda o: True)
                title = re.search(r"^title:(.*)$", src.text, re.M)
                checked["title"] = checked.get("title", 0) + 1
                if title and blanks(got) != blanks(strip_markup(title.group(1)).strip(" ")):
                    wrong.append((page, "title", title.group(1).strip(" "), got))
    return wrong


def build(site, options=()):
    run = subprocess.run([WYN, "once", *options], cwd=site, capture_output=True, timeout=300)
    if run.returncode not in (0, 1):
        raise AssertionError(f"wyn once ended with {run.returncode}")
    local = os.path.join(site, "local")
    pages = []
    for parent, _, names in os.walk(os.path.join(local, "html")):
        for name in names:
            rel = os.path.relpath(os.path.join(parent, name), os.path.join(local, "html"))
            if rel.endswith(".html") and not os.path.basename(rel).startswith("raw_") and not rel.startswith("shared"):
                pages.append(rel)
    return local, sorted(pages)


class PageTextTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="wyn-text-")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def check(self, site, kinds=()):
        local, pages = build(site)
        self.assertTrue(pages, "no page was written")
        checked = {}
        wrong = check_site(local, pages, checked)
        for kind in kinds:
            self.assertGreater(checked.get(kind, 0), 0, f"no {kind} was compared: {checked}")
        report = "\n".join(f"{p} @{o}:\n  source {w!r}\n  shown  {g!r}" for p, o, w, g in wrong[:20])
        self.assertEqual(wrong, [], f"{len(wrong)} blocks show other blanks than their source:\n{report}")

    def test_the_demo_and_the_fixture_sites(self):
        for source in ("examples/demo", "tests/sites/pages", "tests/sites/links", "tests/sites/serve"):
            with self.subTest(site=source):
                site = os.path.join(self.work, os.path.basename(source))
                shutil.copytree(os.path.join(ROOT, source), site)
                shutil.rmtree(os.path.join(site, "local", "html"), ignore_errors=True)
                self.check(site)

    def test_generated_documents_with_every_construct(self):
        site = os.path.join(self.work, "generated")
        subprocess.run([sys.executable, os.path.join(ROOT, "bench", "gen_site.py"), "--out", site, "--count", "40",
                        "--seed", "7"], check=True)
        # Half the pictures the documents embed: the others show their
        # captions in their place.
        images = os.path.join(site, "local", "assets", "images", "images")
        os.makedirs(images)
        for n in range(0, 100, 2):
            shutil.copy(os.path.join(ROOT, "tests/sites/pages/local/assets/images/tiny.jpg"),
                        os.path.join(images, f"photo{n}.jpg"))
        self.check(site, ("line", "item", "quote", "cell", "footnote", "header", "toc", "title"))


if __name__ == "__main__":
    unittest.main()
