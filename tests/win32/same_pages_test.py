#!/usr/bin/python3
"""The same site gives the same pages, byte for byte, from wyn on Linux and
from wyn.exe under wine. Only the local folder may differ: it is written into
file addresses and absolute paths, as /tmp/x on Linux and Z:/tmp/x under wine
(file:///Z:/tmp/x against file:///tmp/x). Both folders are replaced by one
token before the comparison.

Also: the Windows build accepts the site folder in drive-letter and backslash
form on the command line and still writes the same pages.

Needs WYN_BINARY (Linux) and WYN_EXE (Windows) and wine; exits 77 without
them."""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
SKIP = 77
SITES = ("pages",)
TOKEN = "@SITE@"


def wine_command():
    for name in ("wine64", "wine"):
        path = shutil.which(name)
        if path:
            return [path]
    return None


def snapshot(folder):
    found = {}
    for base, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(base, name)
            try:
                found[path] = os.stat(path).st_mtime_ns
            except FileNotFoundError:
                pass
    return found


def build_site(command, site, env, need_pages=True, settle_s=1.5, limit_s=90):
    """Runs wyn in `site` until its pages and its output stop changing; wyn
    never exits on its own. Returns what it printed."""
    html = os.path.join(site, "local", "html")
    log = open(os.path.join(site, "wyn.log"), "wb")
    process = subprocess.Popen(command, cwd=site, stdout=log, stderr=subprocess.STDOUT, env=env)
    try:
        last, stable_since = None, None
        deadline = time.monotonic() + limit_s
        while time.monotonic() < deadline:
            time.sleep(0.2)
            if process.poll() is not None:
                break
            now = snapshot(html) if os.path.isdir(html) else {}
            now["log"] = os.path.getsize(os.path.join(site, "wyn.log"))
            ready = now["log"] > 0 and (not need_pages or os.path.exists(os.path.join(html, ".wyn_manifest")))
            if ready and now == last:
                stable_since = stable_since or time.monotonic()
                if time.monotonic() - stable_since >= settle_s:
                    break
            else:
                stable_since = None
            last = now
        else:
            raise AssertionError("%s: the pages of %s did not settle within %d s" % (command[-1], site, limit_s))
        if process.poll() is not None:
            raise AssertionError("%s ended early with status %d" % (command, process.returncode))
    finally:
        process.kill()
        process.wait(timeout=30)
        log.close()
    with open(os.path.join(site, "wyn.log"), "rb") as f:
        return f.read().decode("utf-8", "replace")


def pages(site, folder_forms):
    """Every page under local/html, the local folder replaced by TOKEN. The
    manifest is left out: it names the sources by their absolute paths and
    keys them by a hash of those."""
    html = os.path.join(site, "local", "html")
    result = {}
    for base, _, files in os.walk(html):
        for name in files:
            path = os.path.join(base, name)
            relative = os.path.relpath(path, html).replace(os.sep, "/")
            if relative == ".wyn_manifest" or ".wyn-tmp" in relative:
                continue
            with open(path, "rb") as f:
                text = f.read()
            for form in folder_forms:
                text = text.replace(form.encode(), TOKEN.encode())
            result[relative] = text
    return result


def files(folder):
    """Every file below `folder`, relative, with its bytes."""
    found = {}
    for base, _, names in os.walk(folder):
        for name in names:
            with open(os.path.join(base, name), "rb") as f:
                found[os.path.relpath(os.path.join(base, name), folder)] = f.read()
    return found


def first_difference(a, b):
    for i in range(min(len(a), len(b))):
        if a[i] != b[i]:
            return i
    return min(len(a), len(b))


class SamePages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wyn = os.environ.get("WYN_BINARY")
        cls.exe = os.environ.get("WYN_EXE")
        cls.wine = wine_command()
        cls.env = dict(os.environ, WINEDEBUG="-all", ASAN_OPTIONS="detect_leaks=0")

    def build_both(self, name, temp, windows_folder_arg=None):
        linux_site = os.path.join(temp, "linux", name)
        windows_site = os.path.join(temp, "windows", name)
        source = os.path.join(ROOT, "tests", "sites", name)
        shutil.copytree(source, linux_site)
        shutil.copytree(source, windows_site)
        build_site([self.wyn], linux_site, self.env)
        command = self.wine + [self.exe]
        if windows_folder_arg:
            command.append("target=" + windows_folder_arg(windows_site))
        build_site(command, windows_site, self.env)
        # file:///Z:/tmp/x and file:///tmp/x: the slash after "file://" is
        # part of a POSIX path, so the POSIX form is replaced with it.
        linux = pages(linux_site, ["file://" + linux_site, linux_site])
        windows = pages(windows_site, ["file:///Z:" + windows_site, "Z:" + windows_site])
        return linux, windows

    def assert_same(self, linux, windows):
        self.assertTrue(linux, "wyn wrote no page")
        self.assertEqual(sorted(linux), sorted(windows), "the two builds wrote different pages")
        for page in sorted(linux):
            a, b = linux[page], windows[page]
            if a != b:
                at = first_difference(a, b)
                self.fail("%s differs at byte %d:\n  linux:   %r\n  windows: %r"
                          % (page, at, a[max(0, at - 80):at + 80], b[max(0, at - 80):at + 80]))

    def test_fixture_sites_give_the_same_pages(self):
        for name in SITES:
            with self.subTest(site=name), tempfile.TemporaryDirectory(prefix="wyn-same-") as temp:
                linux, windows = self.build_both(name, temp)
                self.assert_same(linux, windows)

    def test_a_new_site_with_its_feed_and_highlighted_code(self):
        # `init` writes the same starter site from both; built with a
        # site_url, its pages (a highlighted code block among them), feed and
        # site map are the same too.
        with tempfile.TemporaryDirectory(prefix="wyn-same-") as temp:
            linux_site, windows_site = os.path.join(temp, "linux"), os.path.join(temp, "windows")
            for command, site in (([self.wyn], linux_site), (self.wine + [self.exe], windows_site)):
                made = subprocess.run(command + ["init", site], env=self.env, capture_output=True, timeout=120)
                self.assertEqual(made.returncode, 0, made.stderr)
            self.assertEqual(files(linux_site), files(windows_site), "init wrote different files")
            option = "site_url=https://example.org/"
            build_site([self.wyn, option], linux_site, self.env)
            build_site(self.wine + [self.exe, option], windows_site, self.env)
            linux = pages(linux_site, ["file://" + linux_site, linux_site])
            windows = pages(windows_site, ["file:///Z:" + windows_site, "Z:" + windows_site])
            self.assertIn("feed.xml", linux)
            self.assertIn("sitemap.xml", linux)
            self.assertIn(b'<span class="h-', linux["welcome.html"])
            self.assert_same(linux, windows)

    def test_same_diagnostics(self):
        # A site without templates writes no page; its links still give the
        # same warnings, each naming the same place.
        with tempfile.TemporaryDirectory(prefix="wyn-same-") as temp:
            linux_site = os.path.join(temp, "linux", "links")
            windows_site = os.path.join(temp, "windows", "links")
            source = os.path.join(ROOT, "tests", "sites", "links")
            shutil.copytree(source, linux_site)
            shutil.copytree(source, windows_site)
            linux = build_site([self.wyn], linux_site, self.env, need_pages=False)
            windows = build_site(self.wine + [self.exe], windows_site, self.env, need_pages=False)
            linux = linux.replace(linux_site, TOKEN)
            windows = windows.replace("Z:" + windows_site, TOKEN).replace("\r\n", "\n")
            # The summary line says how long the build took.
            linux, windows = (re.sub(r"\b\d+\.\d+ s\b", "T s", text) for text in (linux, windows))
            # Documents are built by several workers: compare the records,
            # not their order.
            records = lambda text: sorted(r for r in text.split("\nwarning: ") if r.strip())
            self.assertIn("warning: ", linux)
            self.assertEqual(records(linux), records(windows))

    def test_drive_letter_and_backslash_target(self):
        # Z:\tmp\...\local\wyn_files\ as a Windows user would type it.
        def backslash(site):
            return "Z:" + os.path.join(site, "local", "wyn_files").replace("/", "\\") + "\\"
        with tempfile.TemporaryDirectory(prefix="wyn-same-") as temp:
            linux, windows = self.build_both("pages", temp, backslash)
            self.assert_same(linux, windows)


def pages_written(html):
    """The finished pages below `html` (temporary files left out)."""
    found = []
    for base, _, files in os.walk(html):
        found += [os.path.join(base, n) for n in files if n.endswith(".html") and ".wyn-tmp" not in n]
    return found


class CtrlC(unittest.TestCase):
    def test_ctrl_c_ends_wyn_exe_without_a_torn_page(self):
        # wine turns SIGINT into the console's Ctrl-C event. It is sent as
        # soon as the first page is on disk: wyn.exe has its handler by then,
        # and with a few hundred more documents it is still writing. Every
        # page it leaves must be whole. (A fixed wait is no such moment: on a
        # busy machine wine may not have started wyn.exe by then.)
        self.interrupt_while_writing(presses=1)

    def test_ctrl_c_pressed_twice_still_ends_wyn_exe(self):
        # Each press runs the handler on a thread of its own: a second press
        # while the first is stopping the workers still ends wyn.exe, with
        # the same status and no torn page.
        self.interrupt_while_writing(presses=2)

    def interrupt_while_writing(self, presses):
        env = dict(os.environ, WINEDEBUG="-all")
        body = "".join("  a line of text that makes the page worth writing %d\n" % i for i in range(40))
        with tempfile.TemporaryDirectory(prefix="wyn-ctrl-c-") as temp:
            site = os.path.join(temp, "pages")
            shutil.copytree(os.path.join(ROOT, "tests", "sites", "pages"), site)
            many = os.path.join(site, "local", "wyn_files", "many")
            os.makedirs(many)
            for i in range(400):
                with open(os.path.join(many, "d%d.wyn" % i), "w") as f:
                    f.write('``\ntitle: Page %d\noutput_path: "/html/many/d%d.html"\n``\nSection\n%s' % (i, i, body))
            html = os.path.join(site, "local", "html")
            shutil.rmtree(html)   # a hand-made page is no sign of wyn.exe writing
            log = open(os.path.join(temp, "wyn.log"), "wb")
            process = subprocess.Popen(wine_command() + [os.environ["WYN_EXE"]], cwd=site, stdout=log,
                                       stderr=subprocess.STDOUT, env=env)
            try:
                deadline = time.monotonic() + 120
                while not pages_written(html) and process.poll() is None and time.monotonic() < deadline:
                    time.sleep(0.01)
                self.assertIsNone(process.poll(), "wyn.exe ended before Ctrl-C")
                self.assertTrue(pages_written(html), "no page within 120 s")
                for press in range(presses):
                    process.send_signal(signal.SIGINT)
                status = process.wait(timeout=20)
            finally:
                if process.poll() is None:
                    process.kill()
                    process.wait(timeout=10)
                log.close()
            # STATUS_CONTROL_C_EXIT, as far as its low byte reaches Linux.
            self.assertEqual(status, 0x3A)
            for page in pages_written(html):
                with open(page, "rb") as f:
                    text = f.read()
                self.assertTrue(text.startswith(b"<!DOCTYPE html>") and text.rstrip().endswith(b"</html>"),
                                "%s is torn" % page)


if __name__ == "__main__":
    missing = [n for n, v in (("WYN_BINARY", os.environ.get("WYN_BINARY")), ("WYN_EXE", os.environ.get("WYN_EXE")))
               if not v or not os.path.exists(v)]
    if missing or not wine_command():
        print("same_pages_test: needs %s" % (", ".join(missing) or "wine"), file=sys.stderr)
        sys.exit(SKIP)
    unittest.main()
