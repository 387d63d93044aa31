#!/usr/bin/python3
"""Mistakes a new user makes, through the real wyn in temporary sites: each
is said, on the right stream, with the right exit status, and where nothing
may change on disk nothing does (the whole local/ tree is hashed before and
after). Also the forms editors and CI read: the JSON Lines of
diagnostics=json parsed field by field, colour on demand, and once as a
gate (errors, pages that cannot be written, strict)."""

import hashlib
import json
import os
import pty
import re
import select
import shutil
import socket
import subprocess
import tempfile
import time
import unittest

from watching import Watch

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
WYN = os.path.abspath(os.environ.get("WYN_BINARY", os.path.join(ROOT, "build", "release", "wyn")))
ENV = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")
ENV.pop("NO_COLOR", None)
# wyn.exe under wine (tests/win32/tools_wine_test.py): Windows has no named
# pipes among its files, so those cases are Linux's.
FIFOS = "WYN_UNDER_WINE" not in os.environ


def tree_hash(folder):
    """Every path below `folder` with its bytes (or "folder"), hashed."""
    digest = hashlib.sha256()
    for parent, folders, names in sorted(os.walk(folder)):
        folders.sort()
        for name in sorted(folders):
            digest.update(os.path.relpath(os.path.join(parent, name), folder).encode() + b"/\n")
        for name in sorted(names):
            path = os.path.join(parent, name)
            digest.update(os.path.relpath(path, folder).encode() + b"\n")
            if os.path.isfile(path) and not os.path.islink(path):
                with open(path, "rb") as f:
                    digest.update(f.read())
    return digest.hexdigest()


def document(title, output, body):
    return f'``\ntitle: {title}\noutput_path: "/html/{output}"\n``\nSection\n  {body}\n'


class Run:
    def __init__(self, cwd, args, seconds=60):
        p = subprocess.run([WYN, *args], cwd=cwd, capture_output=True, timeout=seconds, env=ENV)
        self.status, self.out, self.err = p.returncode, p.stdout.decode(errors="replace"), p.stderr.decode(errors="replace")


def watch_until(cwd, args, pattern, seconds=30):
    """Starts wyn, reads both streams until `pattern` shows in standard error
    (or the time runs out), then stops it; what it printed."""
    proc = subprocess.Popen([WYN, *args], cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=ENV)
    out, err = b"", b""
    deadline = time.time() + seconds
    try:
        while time.time() < deadline and not re.search(pattern, err):
            ready, _, _ = select.select([proc.stdout, proc.stderr], [], [], 0.2)
            for stream in ready:
                chunk = os.read(stream.fileno(), 65536)
                if stream is proc.stdout:
                    out += chunk
                else:
                    err += chunk
        return proc.poll(), out.decode(errors="replace"), err.decode(errors="replace")
    finally:
        proc.kill()
        proc.wait()


class Mistakes(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="wyn-mistakes-")
        self.site = os.path.join(self.root, "site")
        self.src = os.path.join(self.site, "local", "wyn_files")
        os.makedirs(self.src)
        with open(os.path.join(self.src, "a.wyn"), "w") as f:
            f.write(document("Alpha", "a.html", 'See "/wyn_files/b.wyn"(the other page).'))
        with open(os.path.join(self.src, "b.wyn"), "w") as f:
            f.write(document("Bee", "b.html", "Plain."))

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def run_c(self, body, *args):
        """Writes the document c.wyn with `body` as its text and builds once."""
        with open(os.path.join(self.src, "c.wyn"), "w") as f:
            f.write(document("C", "c.html", body))
        return Run(self.site, ["once", *args])

    def built_site(self):
        run = Run(self.site, ["once"])
        self.assertEqual(run.status, 0, run.err)
        return tree_hash(os.path.join(self.site, "local"))

    def test_a_wrong_target_writes_nothing_and_fails_once(self):
        before = self.built_site()
        if FIFOS:
            os.mkfifo(os.path.join(self.site, "pipe.wyn"))
        os.makedirs(os.path.join(self.site, "empty"))
        cases = (
            ("target=nothere/", "nothere/ does not exist"),
            ("target=pipe.wyn", "pipe.wyn is neither a folder nor a .wyn document"),
            ("target=empty/", "empty/ holds no .wyn document"),
        )
        for option, said in cases if FIFOS else cases[::2]:
            with self.subTest(option=option):
                run = Run(self.site, ["once", option], seconds=30)   # a pipe once hung for ever
                self.assertEqual(run.status, 1, run.err)
                self.assertIn("error: ", run.err)
                self.assertIn(said, run.err)
                self.assertNotIn("wyn init", run.err, "a site is here")
                self.assertEqual(run.out, "", "nothing is a result")
                self.assertEqual(tree_hash(os.path.join(self.site, "local")), before, "the site changed")

    def test_a_folder_without_a_site_gets_no_local_tree(self):
        empty = os.path.join(self.root, "elsewhere")
        os.makedirs(empty)
        run = Run(empty, ["once"])
        self.assertEqual(run.status, 1)
        self.assertIn("local/wyn_files/ does not exist", run.err)
        self.assertIn("(there is no local/ folder here: `wyn init` starts a new site)", run.err)
        self.assertEqual(os.listdir(empty), [])

    def test_the_watch_waits_for_its_target(self):
        status, out, err = watch_until(self.site, ["target=later/"], rb"does not exist", seconds=20)
        self.assertIsNone(status, "the watch ended")
        self.assertEqual(err.count("does not exist"), 1, err)
        self.assertIn("until it can be read", err)
        self.assertFalse(os.path.exists(os.path.join(self.site, "local", "html")))

    def test_options_are_checked(self):
        status, out, err = watch_until(self.site, ["--onec"], rb"did you mean", seconds=20)
        self.assertIn("unknown option 'onec'; did you mean 'once'?", err)
        run = Run(self.site, ["once", "diagnostics=lines", "color=purple", "strict=maybe"])
        self.assertIn("diagnostics=lines is not a known choice (line, json); the usual layouts are used", run.err)
        self.assertIn("color=purple is not a known choice (auto, always, never); auto is used", run.err)
        self.assertIn("strict=maybe is no flag value", run.err)

    def test_once_is_a_gate(self):
        # A broken link: one warning, status 0; with strict, status 1 and said so.
        with open(os.path.join(self.src, "c.wyn"), "w") as f:
            f.write(document("Cee", "c.html", 'A "/wyn_files/gone.wyn"(gone page).'))
        run = Run(self.site, ["once"])
        self.assertEqual(run.status, 0, run.err)
        self.assertRegex(run.out, r"^wyn once: \d+ documents built, \d+ pages written, 1 warning, 0 errors, [\d.]+ s\n$")
        run = Run(self.site, ["once", "strict"])
        self.assertEqual(run.status, 1)
        self.assertTrue(run.out.rstrip().endswith("; failed: 1 warning (strict)"), run.out)
        # Pages that cannot be written: html is a file.
        shutil.rmtree(os.path.join(self.site, "local", "html"))
        with open(os.path.join(self.site, "local", "html"), "w") as f:
            f.write("not a folder")
        run = Run(self.site, ["once"])
        self.assertEqual(run.status, 1, run.out)
        self.assertIn("could not write", run.err)
        self.assertRegex(run.out, r"; failed: \d+ pages could not be written\n$")
        # An error in a document.
        os.remove(os.path.join(self.site, "local", "html"))
        with open(os.path.join(self.src, "c.wyn"), "w") as f:
            f.write(document("Cee", "c.html", "a ] b"))
        run = Run(self.site, ["once"])
        self.assertEqual(run.status, 1)
        self.assertRegex(run.out, r"; failed: 1 error\n$")

    def test_streams_and_the_json_form(self):
        with open(os.path.join(self.src, "c.wyn"), "w") as f:
            f.write(document("Cee", "c.html", 'A "notes/reading.wyn[#9]"(lost) and [#300]_ here.'))
        run = Run(self.site, ["once", "diagnostics=json"])
        self.assertTrue(run.out.startswith("wyn once: "), run.out)   # the result, alone
        records = [json.loads(line) for line in run.err.splitlines()]
        self.assertTrue(records)
        for r in records:
            self.assertIn(r["level"], ("note", "warning", "error"))
            self.assertIsInstance(r["message"], str)
            if "path" in r:
                self.assertIsInstance(r["line"], int)
                self.assertGreaterEqual(r["column"], 1)
        by_message = {r["message"]: r for r in records}
        # A broken link is one record, with its reason.
        told = [r for r in records if r.get("target") == "notes/reading.wyn[#9]"]
        self.assertEqual(len(told), 1, records)
        missing = told[0]
        self.assertEqual(missing["message"], f"{self.src}/notes/reading.wyn is missing")
        self.assertTrue(missing["path"].endswith("/c.wyn"))
        self.assertEqual((missing["line"], missing["column"]), (6, 5))
        anchor = next(r for r in records if "over 255" in r["message"])
        self.assertNotIn("target", anchor)
        self.assertEqual(by_message[f"target: {self.src}/"]["level"], "note")
        # The line form names the target too; the layouts keep their texts.
        run = Run(self.site, ["once", "diagnostics=line"])
        self.assertIn(f"warning: {self.src}/notes/reading.wyn is missing: notes/reading.wyn[#9]\n", run.err)
        self.assertNotIn("file path not found", run.err)
        run = Run(self.site, ["once"])
        self.assertIn(f"warning: \n  {self.src}/notes/reading.wyn is missing\n  ", run.err)

    def test_colour_on_demand(self):
        with open(os.path.join(self.src, "c.wyn"), "w") as f:
            f.write(document("Cee", "c.html", "a ] b"))
        self.assertIn("\x1b[1;31merror\x1b[0m", Run(self.site, ["once", "color=always"]).err)
        self.assertNotIn("\x1b[", Run(self.site, ["once", "color=never"]).err)
        self.assertNotIn("\x1b[", Run(self.site, ["once"]).err)   # a pipe
        self.assertNotIn("\x1b[", Run(self.site, ["once", "color=always", "diagnostics=json"]).err)

    def test_the_status_line_is_erased_before_the_result(self):
        for n in range(60):
            with open(os.path.join(self.src, f"d{n}.wyn"), "w") as f:
                f.write(document(f"D{n}", f"d{n}.html", "x " * 2000))
        pid, fd = pty.fork()
        if pid == 0:
            os.chdir(self.site)
            os.execve(WYN, [WYN], ENV)
        text = b""
        deadline = time.time() + 60
        try:
            while b"up to date after" not in text and time.time() < deadline:
                ready, _, _ = select.select([fd], [], [], 0.5)
                if ready:
                    try:
                        text += os.read(fd, 65536)
                    except OSError:
                        break
        finally:
            os.kill(pid, 9)
            os.waitpid(pid, 0)
        at = text.find(b"up to date after")
        self.assertGreater(at, 0, text)
        before = text[:at]
        # Whatever the status line drew, the result starts a clean line.
        self.assertTrue(before.endswith(b"\r\x1b[K") or before.endswith(b"\n"), before[-80:])

    def test_a_port_in_use_ends_serve(self):
        holder = socket.socket()
        holder.bind(("127.0.0.1", 0))
        holder.listen(1)
        port = holder.getsockname()[1]
        try:
            run = Run(self.site, [f"serve={port}"], seconds=30)
        finally:
            holder.close()
        self.assertEqual(run.status, 1)
        self.assertIn("serve=0 takes any free port", run.err)

    def test_a_linked_file_that_cannot_be_read_says_so(self):
        folder = os.path.join(self.site, "local", "assets", "files", "a_folder.d")
        os.makedirs(folder)
        if FIFOS:
            os.mkfifo(os.path.join(self.site, "local", "assets", "files", "pipe.txt"))
        with open(os.path.join(self.src, "c.wyn"), "w") as f:
            f.write(document("Cee", "c.html", '"/assets/files/a_folder.d"(f) and "/assets/files/pipe.txt"(p).'))
        run = Run(self.site, ["once"], seconds=30)
        self.assertIn("a_folder.d is a folder, not a file", run.err)
        if FIFOS:
            self.assertIn("pipe.txt is not a regular file", run.err)

    def test_a_mistyped_header_key_is_noted(self):
        with open(os.path.join(self.src, "c.wyn"), "w") as f:
            f.write('``\ntitle: C\nauther: Me\noutput_path: "/html/c.html"\n``\nS\n  x\n')
        run = Run(self.site, ["once", "diagnostics=line"])
        self.assertIn("c.wyn:3:1: note: auther is no header key; did you mean author?", run.err)
        self.assertEqual(run.status, 0)
        # A mistyped output_path is told once: its path is no link to check,
        # and the links on the next line are.
        with open(os.path.join(self.src, "c.wyn"), "w") as f:
            f.write('``\ntitle: C\nouput_path: "/html/c.html"\n``\nS\n  "/gone.pdf"(x)\n')
        run = Run(self.site, ["once", "diagnostics=line"])
        self.assertIn("c.wyn:3:1: note: ouput_path is no header key; did you mean output_path?", run.err)
        self.assertNotIn("c.html is missing", run.err)
        self.assertIn("gone.pdf is missing", run.err)

    def test_mistakes_with_notes_anchors_and_the_header_are_told_where_they_are(self):
        with open(os.path.join(self.src, "c.wyn"), "w") as f:
            f.write('``\ntitle: C\noutput_path: "/html/c.html"\n``\nS\n'
                    '  Words[*1] and an anchor [#1]_ and [#1]_ again.\n'
                    '  [*1] the note\n'
                    '  [*1] the same number again\n'
                    '  "/wyn_files/b.wyn[#7]"(no such anchor) and "/wyn_files/c.wyn[#1]"(this one).\n'
                    '  The "slides.pdf"(slides) and _"cat.png"("a cat").\n'
                    '  A "/assets/my photo.png"(photo).\n')
        # The closing line of the header forgotten: the text would vanish
        # into the box behind the info button.
        with open(os.path.join(self.src, "d.wyn"), "w") as f:
            f.write('``\ntitle: D\noutput_path: "/html/d.html"\nSection\n  all the text\n')
        run = Run(self.site, ["once", "diagnostics=line"])
        self.assertIn("c.wyn:8:3: warning: footnote 1 is defined more than once; references lead to the first",
                      run.err)
        self.assertIn("c.wyn:6:37: warning: anchor 1 is defined more than once; links lead to the first", run.err)
        self.assertRegex(run.err, r"c\.wyn:9:3: warning: \S*/wyn_files/b\.wyn has no anchor \[#7\]")
        self.assertNotIn("c.wyn has no anchor", run.err)
        # A file name without a slash is text on the page, not a link.
        self.assertRegex(run.err, r'c\.wyn:10:7: warning: "slides\.pdf" is text, not a link: a path needs a slash, '
                                  r'as in "/slides\.pdf" for the file \S*/site/local/slides\.pdf\n')
        self.assertRegex(run.err, r'c\.wyn:10:33: warning: "cat\.png" is text, not a link: a path needs a slash, as '
                                  r'in "/cat\.png" for the file \S*/site/local/assets/images/cat\.png\n')
        # The paths it gives lead to the files it names.
        os.makedirs(os.path.join(self.site, "local", "assets", "images"))
        shutil.copy(os.path.join(ROOT, "examples", "demo", "local", "shared", "images", "favicon-32x32.png"),
                    os.path.join(self.site, "local", "assets", "images", "cat.png"))
        with open(os.path.join(self.site, "local", "slides.pdf"), "wb") as f:
            f.write(b"%PDF-1.4\n")
        with open(os.path.join(self.src, "e.wyn"), "w") as f:
            f.write(document("E", "e.html", 'See "/b.wyn"(the other page), "/slides.pdf"(s) and _"/cat.png".'))
        followed = Run(self.site, ["once", "strict"])
        self.assertNotIn("e.wyn", followed.err)
        # A file name with a blank, as many are: no link either.
        self.assertIn('c.wyn:11:5: warning: "/assets/my photo.png" is text, not a link: a path cannot hold a blank; '
                      'rename the file, as in "/assets/my-photo.png"', run.err)
        with open(os.path.join(self.site, "local", "html", "c.html")) as f:
            self.assertIn('The "slides.pdf"(slides)', f.read())
        self.assertIn("d.wyn:1:1: warning: the document header is never closed", run.err)
        # A header closed, and a header alone, are no mistakes.
        for name in ("a.wyn", "b.wyn"):
            self.assertNotIn(name + ":", run.err)
        with open(os.path.join(self.src, "d.wyn"), "w") as f:
            f.write('``\ntitle: D\noutput_path: "/html/d.html"\n')
        run = Run(self.site, ["once", "diagnostics=line"])
        self.assertNotIn("never closed", run.err)

    def test_a_document_saved_in_a_legacy_code_page_is_told_once(self):
        with open(os.path.join(self.src, "c.wyn"), "wb") as f:
            f.write(b'``\ntitle: Caf\xe9\noutput_path: "/html/c.html"\n``\nS\n  cr\xe8me \xe0 lire\n')
        run = Run(self.site, ["once", "diagnostics=line"])
        self.assertEqual(run.status, 0, run.err)
        self.assertIn('c.wyn:2:11: warning: byte 0xE9 is not UTF-8, so the page shows "\ufffd" in its place',
                      run.err)
        self.assertEqual(run.err.count("is not UTF-8"), 1, run.err)
        self.assertIn("1 warning", run.out)
        # The index lists the title as the page shows it, and is itself UTF-8.
        with open(os.path.join(self.src, "index.wyn"), "rb") as f:
            index = f.read()
        self.assertIn("Caf\ufffd".encode(), index)
        index.decode("utf-8")

    def test_a_link_to_a_document_that_writes_no_page_is_told_on_the_page_only(self):
        with open(os.path.join(self.src, "part.wyn"), "w") as f:
            f.write('Part\n  A part without a page, linking "/wyn_files/a.wyn"(a).\n')
        run = self.run_c('See "./part.wyn"(the part).', "diagnostics=line")
        self.assertEqual(run.status, 0, run.err)
        self.assertRegex(run.err, r'c\.wyn:6:7: warning: \S*/wyn_files/part\.wyn writes no page \(no \.html '
                                  r'output_path in its header\), so the link leads nowhere')
        self.assertEqual(run.err.count("writes no page"), 1, run.err)
        # The page shows where the link pointed, as for any link that fails.
        with open(os.path.join(self.site, "local", "html", "c.html")) as f:
            page = f.read()
        self.assertRegex(page, r'<span [^>]*title="[^"]*part\.wyn"[^>]*>the part</span>')
        # Given a page, the part is linked and nothing is said.
        with open(os.path.join(self.src, "part.wyn"), "w") as f:
            f.write(document("Part", "part.html", "Now a page."))
        run = Run(self.site, ["once", "strict"])
        self.assertEqual(run.status, 0, run.err)
        with open(os.path.join(self.site, "local", "html", "c.html")) as f:
            self.assertIn('part.html">the part</a>', f.read())

    def test_a_place_in_a_file_after_a_hash_is_linked_and_one_in_a_document_is_told(self):
        assets = os.path.join(self.site, "local", "assets", "files")
        os.makedirs(assets)
        with open(os.path.join(assets, "notes.pdf"), "wb") as f:
            f.write(b"%PDF-1.4\n")
        with open(os.path.join(assets, "table.html"), "w") as f:
            f.write("<p id=top>a page of the author's own</p>\n")
        with open(os.path.join(self.src, "c.wyn"), "w") as f:
            f.write(document("C", "c.html", '"/assets/files/notes.pdf#page=3"(page 3), "/assets/files/table.html#top"(b) and '
                                            '"./b.wyn#2"(an anchor).'))
        run = Run(self.site, ["once", "diagnostics=line"])
        self.assertEqual(run.status, 0, run.err)
        self.assertIn('c.wyn:6:83: warning: a document\'s numbered anchor is written in brackets: "./b.wyn[#2]"',
                      run.err)
        self.assertEqual(run.err.count("c.wyn:"), 1, run.err)
        with open(os.path.join(self.site, "local", "html", "c.html")) as f:
            page = f.read()
        self.assertRegex(page, r'href="file://[^"]*/assets/files/notes\.pdf#page=3">page 3</a>')
        self.assertRegex(page, r'href="file://[^"]*/assets/files/table\.html#top">b</a>')
        # Deployed, the web paths keep their places.
        run = Run(self.site, ["once", "deploy"])
        with open(os.path.join(self.site, "local", "html", "c.html")) as f:
            page = f.read()
        self.assertIn('href="/assets/files/notes.pdf#page=3">page 3</a>', page)
        self.assertIn('href="/assets/files/table.html#top">b</a>', page)

    def test_a_file_in_a_folder_the_link_does_not_look_in_is_named(self):
        os.makedirs(os.path.join(self.site, "local", "images"))
        shutil.copy(os.path.join(ROOT, "examples", "demo", "local", "shared", "images", "favicon-32x32.png"),
                    os.path.join(self.site, "local", "images", "cat.png"))
        with open(os.path.join(self.src, "notes.pdf"), "wb") as f:
            f.write(b"%PDF-1.4\n")
        run = self.run_c('_"/images/cat.png" and "./notes.pdf"(notes)', "diagnostics=line")
        self.assertRegex(run.err, r"c\.wyn:6:3: warning: \S*/local/assets/images/images/cat\.png is missing; pictures "
                                  r"shown in place are looked for below \S*/local/assets/images/, and "
                                  r"\S*/local/images/cat\.png lies outside it")
        self.assertRegex(run.err, r'c\.wyn:6:26: warning: \S*/local/notes\.pdf is missing; a path starts at '
                                  r'\S*/local/, so \S*/local/wyn_files/notes\.pdf, beside this document, is '
                                  r'"/wyn_files/notes\.pdf"')
        # A name in other capitals than the file's.
        run = self.run_c('"/wyn_files/Notes.PDF"(notes)', "diagnostics=line")
        if "WYN_UNDER_WINE" not in os.environ:   # Windows finds the file whatever its capitals
            self.assertRegex(run.err, r'c\.wyn:6:3: warning: \S*/local/wyn_files/Notes\.PDF is missing; '
                                      r'\S*/local/wyn_files/notes\.pdf differs from it in capitals alone: write '
                                      r'"/wyn_files/notes\.pdf"')
        # Written as told, the file is linked.
        run = self.run_c('"/wyn_files/notes.pdf"(notes)', "strict")
        self.assertEqual(run.status, 0, run.err)

    def test_a_csv_file_parted_by_commas_or_tabs_is_told(self):
        files = os.path.join(self.site, "local", "assets", "files")
        os.makedirs(files)
        tables = {"commas.csv": 'name,age\n"Smith, J",42\n', "tabs.csv": "name\tage\nSmith\t42\n",
                  "semis.csv": "name;age, in years\nSmith;42\n", "one.csv": "name\nSmith, J\n",
                  "sentences.csv": "I came, I saw, I conquered.\nLater, at home.\nNothing else\n",
                  "spread.csv": 'a,"b, c",d\r\n1,2,3\r\n\r\n4,"5,6",7\r\n',
                  "tabbed.csv": "city, country\tnote\nLisbon\thills, trams, tiles\nPorto\tthe river\n"}
        for name, text in tables.items():
            with open(os.path.join(files, name), "w") as f:
                f.write(text)
        run = self.run_c('_"/commas.csv"\n  _"/tabs.csv"\n  _"/semis.csv"\n  _"/one.csv"\n  _"/sentences.csv"\n'
                         '  _"/spread.csv"\n  _"/tabbed.csv"', "diagnostics=line")
        self.assertEqual(run.status, 0, run.err)
        self.assertRegex(run.err, r'c\.wyn:6:3: warning: \S*/commas\.csv has "," between its values and no ";", so '
                                  r'each of its lines shows as one cell: wyn parts a CSV file\'s cells with ";"; save '
                                  r'the file with ";" as its separator')
        self.assertRegex(run.err, r'c\.wyn:7:3: warning: \S*/tabs\.csv has tabs between its values')
        # As many commas outside quotes on every line, blank lines aside: a
        # spreadsheet's. A column of sentences holds commas unevenly.
        self.assertRegex(run.err, r'c\.wyn:11:3: warning: \S*/spread\.csv has "," between its values')
        self.assertNotIn("sentences.csv", run.err)
        # Tabs even on every line are told though the text has commas.
        self.assertRegex(run.err, r'c\.wyn:12:3: warning: \S*/tabbed\.csv has tabs between its values')
        self.assertEqual(run.err.count("between its values"), 4, run.err)
        # Saved as told, its cells are cells.
        with open(os.path.join(files, "commas.csv"), "w") as f:
            f.write('name;age\nSmith, J;42\n')
        run = Run(self.site, ["once", "diagnostics=line"])
        self.assertNotIn("commas.csv", run.err)
        with open(os.path.join(self.site, "local", "html", "c.html")) as f:
            self.assertRegex(f.read(), r"Smith, J</td><td[^>]*>42</td>")

    def test_header_values_that_would_not_do_what_they_say_are_told(self):
        with open(os.path.join(self.src, "c.wyn"), "w") as f:
            f.write('``\ntitle: C\nstatus: darft\ncreation_date: 2026-02-30\n'
                    'output_path: "/html/c.htm" "/html/c.html"\n``\nS\n  x\n')
        run = Run(self.site, ["once", "diagnostics=line"])
        self.assertIn("c.wyn:3:1: warning: status darft does not keep this document off the site "
                      "(only draft and personal do); did you mean draft?", run.err)
        self.assertIn("c.wyn:4:1: note: creation_date 2026-02-30 is no day of the calendar", run.err)
        self.assertIn("c.wyn:5:14: warning: output path /html/c.htm does not end in .html, so no page is written "
                      "for it", run.err)
        # What the header says is done all the same: the typo publishes.
        html = os.path.join(self.site, "local", "html")
        self.assertTrue(os.path.exists(os.path.join(html, "c.html")))
        self.assertFalse(os.path.exists(os.path.join(html, "c.htm")))
        # A gate with strict fails on them.
        self.assertEqual(Run(self.site, ["once", "strict"]).status, 1)

    def test_a_menu_link_to_a_page_no_document_writes_is_told_once_while_it_is_broken(self):
        menu = os.path.join(self.site, "local", "shared", "html", "default_menu_desktop.html")
        os.makedirs(os.path.dirname(menu))
        with open(menu, "w") as f:
            f.write('<nav id="menu"><ul><li><a href="/">Home</a></li><li><a href="/html/b.html">Bee</a></li>'
                    '<li><a href="https://example.org/">Web</a></li></ul></nav>\n')
        told = "default_menu_desktop.html:1:53: warning: the menu links /html/b.html, but "
        self.assertEqual(Run(self.site, ["once", "strict", "diagnostics=line"]).err.count("the menu links"), 0)
        # The page's output path renamed: the old page goes, the menu's link
        # to it breaks on every page.
        b = os.path.join(self.src, "b.wyn")
        with open(b, "w") as f:
            f.write(document("Bee", "bee.html", "Plain."))
        run = Run(self.site, ["once", "diagnostics=line"])
        self.assertIn(told, run.err)
        self.assertEqual(run.status, 0)
        self.assertEqual(Run(self.site, ["once", "strict"]).status, 1)

        # While watching: told once, not at every save, until it is mended;
        # broken again, told again. The warning and the quiet line go to two
        # streams, whose order a reader of both (wine's) may not keep, so
        # only the counts are held against the quiet lines.
        watch = Watch(WYN, self.site, ["diagnostics=line"], ENV)
        try:
            watch.wait(self, 1, lambda text: text.count(told) >= 1)
            with open(os.path.join(self.src, "a.wyn"), "a") as f:
                f.write("  Another paragraph.\n")
            watch.wait(self, 2)
            with open(b, "w") as f:
                f.write(document("Bee", "b.html", "Plain."))
            watch.wait(self, 3)
            with open(b, "w") as f:
                f.write(document("Bee", "bee.html", "Plain again."))
            watch.wait(self, 4, lambda text: text.count(told) >= 2)
            for quiet in (5, 6):
                with open(os.path.join(self.src, "a.wyn"), "a") as f:
                    f.write("  And another.\n")
                watch.wait(self, quiet)
            # Once for each time it broke: not at the saves in between.
            self.assertEqual(watch.text().count(told), 2, watch.text())
            # Each quiet line counts the menu's broken link while it stands:
            # the first, the second and the last two, not the mended one.
            quiet = [line for line in watch.text().splitlines() if line.startswith("up to date after")]
            self.assertEqual([line.endswith("1 warning in the menu") for line in quiet],
                             [True, True, False, True, True, True], watch.text())
        finally:
            watch.close()


if __name__ == "__main__":
    unittest.main()
