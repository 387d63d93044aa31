#!/usr/bin/python3
"""The real wyn on fixture sites: `diagnostics=line` and the usual layouts byte
for byte, colour and the status line only on a terminal (a pty), never into a
pipe, and `serve`: pages and assets over HTTP on 127.0.0.1 with their types,
every traversal form refused, the live-reload stream, and 200 concurrent
requests while a build runs."""

import concurrent.futures
import os
import pty
import re
import select
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
WYN = os.path.abspath(os.environ.get("WYN_BINARY", os.path.join(ROOT, "build", "asan", "wyn")))
FIXTURE = os.path.join(ROOT, "tests", "sites", "serve")
ENV = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")
ENV.pop("NO_COLOR", None)


def copy_site(parent):
    site = os.path.join(parent, "site")
    shutil.copytree(FIXTURE, site)
    return site


class Wyn:
    """wyn running in `cwd`, its standard output read through a pipe or, with
    terminal=True, through a pseudo-terminal. Every wait is bounded."""

    def __init__(self, cwd, args, terminal=False, env=None):
        self.text = b""
        env = env or ENV
        if terminal:
            self.pid, self.fd = pty.fork()
            if self.pid == 0:
                try:
                    os.chdir(cwd)
                    os.execve(WYN, [WYN] + args, env)
                finally:
                    os._exit(127)
        else:
            self.proc = subprocess.Popen([WYN] + args, cwd=cwd, env=env, stdout=subprocess.PIPE,
                                         stderr=subprocess.STDOUT)
            self.pid, self.fd = self.proc.pid, self.proc.stdout.fileno()

    def read_until(self, pattern, seconds=60):
        deadline = time.time() + seconds
        while not re.search(pattern, self.text):
            left = deadline - time.time()
            if left <= 0:
                return None
            ready, _, _ = select.select([self.fd], [], [], left)
            if not ready:
                continue
            try:
                chunk = os.read(self.fd, 65536)
            except OSError:
                chunk = b""
            if not chunk:
                return re.search(pattern, self.text)
            self.text += chunk
        return re.search(pattern, self.text)

    def read_for(self, seconds):
        self.read_until(b"(?!x)x", seconds)
        return self.text

    def stop(self):
        if hasattr(self, "proc"):
            self.proc.terminate()
            self.proc.wait(timeout=20)
            self.proc.stdout.close()
            return
        try:
            os.kill(self.pid, signal.SIGTERM)
            os.waitpid(self.pid, 0)
        except (ProcessLookupError, ChildProcessError):
            pass
        os.close(self.fd)


# How long quiet_output reads after wyn's first line. wyn.exe under wine
# can take longer than that to start on a busy machine, so the first line
# is waited for on its own.
QUIET_SECONDS = 4
START_SECONDS = 60


def quiet_output(site, args, terminal=False, env=None):
    """What wyn prints for the fixture until it has been quiet a while."""
    wyn = Wyn(site, args, terminal, env)
    try:
        wyn.read_until(b"\n", START_SECONDS)
        text = wyn.read_for(QUIET_SECONDS)
    finally:
        wyn.stop()
    # The watch's "up to date" lines say when pages are ready; they are not
    # diagnostics.
    return b"".join(line for line in text.splitlines(keepends=True) if not line.startswith(b"up to date after"))


class Diagnostics(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="wyn-serve-")
        self.site = copy_site(self.tmp)
        self.b = f"{self.site}/local/wyn_files/notes/b.wyn"

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def sheets_note(self):
        # The fixture has no font or icon sheet, as a site begun by hand.
        return (f"{self.site}/local/shared/css/fonts.css and icons.css are missing, so the pages load none of the "
                f"site's fonts and show their icons as plain letters; `wyn init {self.site}` adds the files pages "
                f"load that the site lacks and changes nothing else")

    def test_line_form_byte_for_byte(self):
        text = quiet_output(self.site, ["diagnostics=line"]).decode()
        self.assertEqual(text, f"wyn: note: target: {self.site}/local/wyn_files/\n"
                               f"wyn: note: {self.sheets_note()}\n"
                               f"{self.b}:6:10: warning: {self.site}/local/nothing.txt is missing: ./nothing.txt\n")

    def test_usual_layouts_byte_for_byte(self):
        text = quiet_output(self.site, []).decode()
        self.assertEqual(text, f"note: \n  target: {self.site}/local/wyn_files/\n"
                               f"note: \n  {self.sheets_note()}\n"
                               f"warning: \n  {self.site}/local/nothing.txt is missing\n  {self.b}:6:10\n")

    def test_unknown_form_is_named_and_the_usual_layouts_kept(self):
        text = quiet_output(self.site, ["diagnostics=xml"]).decode()
        self.assertIn("warning: \n  diagnostics=xml is not a known choice (line, json); the usual layouts are used\n", text)
        self.assertIn(f"warning: \n  {self.site}/local/nothing.txt is missing\n  {self.b}:6:10\n", text)

    def test_colour_on_a_terminal_only(self):
        on_terminal = quiet_output(self.site, ["diagnostics=line"], terminal=True)
        self.assertIn(f"{self.b}:6:10: \x1b[1;33mwarning\x1b[0m: {self.site}/local/nothing.txt is missing".encode(), on_terminal)
        self.assertIn(b"wyn: \x1b[1;36mnote\x1b[0m: target", on_terminal)
        usual = quiet_output(self.site, [], terminal=True)
        self.assertIn(b"\x1b[1;33mwarning\x1b[0m: \r\n  " + f"{self.site}/local/nothing.txt is missing".encode(), usual)
        no_colour = quiet_output(self.site, ["diagnostics=line"], terminal=True, env=dict(ENV, NO_COLOR=""))
        self.assertIn(f"{self.b}:6:10: warning: {self.site}/local/nothing.txt is missing".encode(), no_colour)
        self.assertNotIn(b"\x1b[1;3", no_colour)

    def test_no_escape_sequence_into_a_pipe(self):
        for args in ([], ["diagnostics=line"], ["serve=0"]):
            text = quiet_output(self.site, args)
            self.assertNotIn(b"\x1b", text, args)
            self.assertNotIn(b"\r", text, args)


def make_big_site(site, count):
    folder = os.path.join(site, "local", "wyn_files", "many")
    os.makedirs(folder, exist_ok=True)
    body = "\n".join(f"  paragraph {i} with some words to parse and render" for i in range(40))
    for i in range(count):
        with open(os.path.join(folder, f"d{i}.wyn"), "w") as f:
            f.write(f"``\ntitle: Document {i}\noutput_path: /html/many/d{i}.html\n``\nSection\n{body}\n")


class Progress(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="wyn-progress-")
        self.site = copy_site(self.tmp)
        make_big_site(self.site, 300)

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def test_status_line_on_a_terminal_erased_when_quiet(self):
        wyn = Wyn(self.site, [], terminal=True)
        try:
            seen = wyn.read_until(rb"\r\x1b\[Kwyn: \d+/302 documents, \d+ pages written", 60)
            self.assertIsNotNone(seen, wyn.text[-400:])
            # Once the site is quiet the line is erased: the output ends with
            # the erase, or with the erase and the watch's "up to date" line,
            # never with a status.
            def settled(text):
                tail = re.sub(rb"up to date after [^\r\n]*\r?\n$", b"", text)
                return tail.endswith(b"\r\x1b[K")
            deadline = time.time() + 60
            while time.time() < deadline and not settled(wyn.text):
                wyn.read_for(0.5)
            self.assertTrue(settled(wyn.text), wyn.text[-200:])
        finally:
            wyn.stop()

    def test_no_status_line_into_a_pipe(self):
        wyn = Wyn(self.site, [])
        try:
            wyn.read_for(6)
            self.assertNotIn(b"documents,", wyn.text)
            self.assertNotIn(b"\x1b", wyn.text)
        finally:
            wyn.stop()


def raw_get(port, target, method="GET", seconds=10):
    """The request line exactly as given; returns (status, headers, body)."""
    with socket.create_connection(("127.0.0.1", port), timeout=seconds) as s:
        s.sendall(f"{method} {target} HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n".encode())
        data = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    status = int(lines[0].split()[1]) if lines and lines[0].startswith("HTTP/1.") else 0
    headers = {k.lower(): v.strip() for k, _, v in (line.partition(":") for line in lines[1:])}
    return status, headers, body


class Serve(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="wyn-serve-")
        self.site = copy_site(self.tmp)
        with open(os.path.join(self.tmp, "secret.txt"), "w") as f:
            f.write("SECRET-BYTES")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def start(self, extra=()):
        wyn = Wyn(self.site, ["serve=0", *extra])
        seen = wyn.read_until(rb"serving http://127\.0\.0\.1:(\d+)/ \(Ctrl-C stops\)\n", 60)
        if not seen:
            wyn.stop()
            self.fail(f"no address printed: {wyn.text!r}")
        return wyn, int(seen.group(1))

    def test_pages_assets_and_refusals(self):
        os.makedirs(os.path.join(self.site, "local", "shared", "css"), exist_ok=True)
        with open(os.path.join(self.site, "local", "shared", "css", "extra.css"), "w") as f:
            f.write("p{}")
        wyn, port = self.start()
        try:
            status, headers, body = raw_get(port, "/a.html")
            self.assertEqual(status, 200)
            self.assertEqual(headers["content-type"], "text/html; charset=utf-8")
            self.assertIn(b"First page", body)
            self.assertIn(b'new EventSource("/.wyn/events")', body)
            # Served pages link by site path, since serving implies deploy.
            self.assertIn(b'href="/notes/b.html"', body)
            self.assertNotIn(b"file://", body)
            status, headers, _ = raw_get(port, "/shared/css/extra.css")
            self.assertEqual((status, headers.get("content-type")), (200, "text/css; charset=utf-8"))
            status, _, _ = raw_get(port, "/a.html", "POST")
            self.assertEqual(status, 405)
            for form in ["/../secret.txt", "/../../secret.txt", "/%2e%2e/%2e%2e/secret.txt", "/..%2f..%2fsecret.txt",
                         "/..\\..\\secret.txt", "/%5c..%5c..%5csecret.txt", "//etc/passwd", "/%2fetc%2fpasswd",
                         "/a.html%00.png", "/.wyn_manifest", "/notes/../../../secret.txt"]:
                status, _, body = raw_get(port, form)
                self.assertIn(status, (400, 404), form)
                self.assertNotIn(b"SECRET", body, form)
                self.assertNotIn(b"root:", body, form)
        finally:
            wyn.stop()

    def test_event_stream_greets_at_once(self):
        wyn, port = self.start()
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
                s.sendall(b"GET /.wyn/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
                data = b""
                while b"live reload" not in data:
                    chunk = s.recv(4096)
                    if not chunk:
                        break
                    data += chunk
                self.assertIn(b"text/event-stream", data)
                self.assertIn(b"live reload", data)
        finally:
            wyn.stop()

    def test_two_hundred_requests_while_a_build_runs(self):
        make_big_site(self.site, 600)
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        wyn = Wyn(self.site, [f"serve={port}"])
        try:
            deadline = time.time() + 30
            while time.time() < deadline:
                try:
                    socket.create_connection(("127.0.0.1", port), timeout=1).close()
                    break
                except OSError:
                    time.sleep(0.01)
            written_before = len(os.listdir(os.path.join(self.site, "local", "html", "many"))) \
                if os.path.isdir(os.path.join(self.site, "local", "html", "many")) else 0
            targets = [f"/many/d{i}.html" for i in range(0, 600, 3)]
            with concurrent.futures.ThreadPoolExecutor(max_workers=200) as pool:
                results = list(pool.map(lambda t: raw_get(port, t, seconds=20)[0], targets))
            self.assertEqual(len(results), 200)
            self.assertTrue(all(s in (200, 404) for s in results), results)
            # The build was still running when the requests went out.
            self.assertLess(written_before, 600 * 4)
            self.assertTrue(wyn.read_until(rb"serving http://", 120), "the build never became quiet")
            self.assertEqual(raw_get(port, "/many/d599.html")[0], 200)
        finally:
            wyn.stop()


if __name__ == "__main__":
    unittest.main()
