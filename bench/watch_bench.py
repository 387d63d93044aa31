#!/usr/bin/env python3
"""Watch-mode figures for wyn on a generated site (bench/gen_site.py):

  save to page   in a running wyn, rewrite one document with a visible
                 change and time until its desktop page on disk holds it;
                 median and maximum of 20 saves
  start to quiet `wyn once` on the same site, wall time
  idle           CPU of a quiet watch over a window, in % of one core
  --rss-saves N  instead: one large document saved N times, each save
                 waited for on its page; RSS after the first and the last
                 (with --rss-template: the menu template saved N times)

Reference in the same run: the time to read every source file once (the
I/O floor of a build) and the CPU of `sleep` over the same idle window.

    python3 bench/watch_bench.py --wyn build/bench/wyn --count 1000
    python3 bench/watch_bench.py --wyn build/windows/wyn.exe --wine wine --count 1000

With --wine, wyn.exe runs under that launcher; its CPU is the Windows
process's own, without wineserver's.
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    return (int(fields[11]) + int(fields[12])) / ticks


def cpu_precise(pid):
    """CPU seconds of every thread from the scheduler's nanosecond counts:
    /proc/<pid>/stat counts in ticks of 10 ms, too coarse for one save."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
        except OSError:
            pass
    return total / 1e9


def read_all(folder):
    start = time.monotonic()
    for base, _, files in os.walk(folder):
        for name in files:
            with open(os.path.join(base, name), "rb") as f:
                f.read()
    return time.monotonic() - start


def output_of(source):
    m = re.search(rb'output_path:\s*"([^"]+)"', source)
    return m.group(1).decode() if m else None


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def wait_for_page(page, marker, limit=60):
    t0 = time.monotonic()
    while time.monotonic() - t0 < limit:
        try:
            if marker in open(page, "rb").read():
                return True
        except OSError:
            pass
        time.sleep(0.005)
    return False


def rss_under_saves(command, saves, size, temp, template=False):
    """Saves one large document `saves` times in a running wyn, each save
    waited for until its page holds it; RSS after the first and the last.
    With `template`, the desktop menu template is saved instead, each save
    waited for until the large document's page shows the new menu."""
    site = os.path.join(temp, "rss-site")
    subprocess.run([sys.executable, os.path.join(HERE, "gen_site.py"), "--out", site, "--count", "100",
                    "--seed", "1"], check=True, stdout=subprocess.DEVNULL)
    source = os.path.join(site, "local", "wyn_files", "large.wyn")
    page = os.path.join(site, "local", "html", "large.html")
    paragraph = b"  A paragraph of ordinary words that the author keeps on writing, with *some* emphasis.\n\n"
    body = paragraph * (size // len(paragraph) + 1)

    def save(i):
        marker = f"Savemarker{i}x".encode()
        text = b'``\ntitle: Large\noutput_path: "/html/large.html"\n``\nLarge\n  ' + marker + b"\n\n" + body
        with open(source + ".tmp~", "wb") as f:
            f.write(text)
        os.rename(source + ".tmp~", source)
        return marker

    menu = os.path.join(site, "local", "shared", "html", "default_menu_desktop.html")

    def save_menu(i):
        marker = f"Menumarker{i}x".encode()
        os.makedirs(os.path.dirname(menu), exist_ok=True)
        with open(menu + ".tmp~", "wb") as f:
            f.write(b'<nav id="menu"><ul><li><a href="/">' + marker + b"</a></li></ul></nav>\n")
        os.rename(menu + ".tmp~", menu)
        return marker

    save(0)
    if template:
        save_menu(0)
        save = save_menu
    log = open(os.path.join(temp, "rss.log"), "wb")
    process = subprocess.Popen(command, cwd=site, stdout=log, stderr=subprocess.STDOUT)
    first = after = None
    try:
        if not wait_for_page(page, b"Menumarker0x" if template else b"Savemarker0x", 600):
            raise SystemExit("the large page never appeared")
        for i in range(1, saves + 1):
            if not wait_for_page(page, save(i)):
                raise SystemExit(f"save {i} never reached the page")
            if i == 1:
                time.sleep(1.0)
                first = rss_kib(process.pid)
        time.sleep(1.0)
        after = rss_kib(process.pid)
    finally:
        process.kill()
        process.wait()
        log.close()
    return first, after


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wyn", required=True)
    parser.add_argument("--count", type=int, default=1000)
    parser.add_argument("--saves", type=int, default=20)
    parser.add_argument("--idle", type=float, default=60.0)
    parser.add_argument("--first-save-after", type=float, default=2.0,
                        help="seconds after the watch starts that the first save comes")
    parser.add_argument("--rss-saves", type=int, default=0,
                        help="instead: save one large document this many times and compare RSS")
    parser.add_argument("--rss-size", type=int, default=1 << 20)
    parser.add_argument("--rss-template", action="store_true",
                        help="with --rss-saves: save the menu template instead of the document")
    parser.add_argument("--wine", default="", help="run --wyn (a wyn.exe) under this launcher")
    args = parser.parse_args()
    wyn = os.path.abspath(args.wyn)
    command = ([args.wine] if args.wine else []) + [wyn]
    if args.rss_saves:
        with tempfile.TemporaryDirectory(prefix="wyn-watch-bench-") as temp:
            first, after = rss_under_saves(command, args.rss_saves, args.rss_size, temp, args.rss_template)
        what = "the menu template" if args.rss_template else f"one {args.rss_size} byte document"
        print(f"RSS of a watching wyn, {what} saved {args.rss_saves} times: "
              f"after the first save {first / 1024:.1f} MiB, after the last {after / 1024:.1f} MiB "
              f"({(after / first - 1) * 100:+.1f} %)")
        return
    with tempfile.TemporaryDirectory(prefix="wyn-watch-bench-") as temp:
        site = os.path.join(temp, "site")
        subprocess.run([sys.executable, os.path.join(HERE, "gen_site.py"), "--out", site, "--count",
                        str(args.count), "--seed", "1"], check=True, stdout=subprocess.DEVNULL)
        local = os.path.join(site, "local")
        floor = read_all(os.path.join(local, "wyn_files"))

        start = time.monotonic()
        once_log = os.path.join(temp, "once.log")
        with open(once_log, "wb") as out:
            once = subprocess.Popen(command + ["once"], cwd=site, stdout=out, stderr=subprocess.STDOUT)
            # wait4 gives this child's own peak RSS and CPU.
            _, _, usage = os.wait4(once.pid, 0)
            once.returncode = 0
        once_s = time.monotonic() - start
        once_cpu = usage.ru_utime + usage.ru_stime
        once_rss_mib = usage.ru_maxrss / 1024
        summary = [l for l in open(once_log, "rb").read().decode().splitlines() if l.startswith("wyn once:")]

        # A document with an html output path, to edit.
        target = None
        for base, _, files in os.walk(os.path.join(local, "wyn_files")):
            for name in sorted(files):
                path = os.path.join(base, name)
                if name.endswith(".wyn") and name != "index.wyn":
                    out = output_of(open(path, "rb").read())
                    if out and out.endswith(".html"):
                        target = (path, out)
                        break
            if target:
                break
        source_path, out = target
        page = os.path.join(local, out.lstrip("/"))
        original = open(source_path, "rb").read()

        def save(i):
            """Saves the document with a new line; the seconds until its page holds it."""
            marker = f"Savemarker{i}x{int(time.time() * 1000)}"
            text = original.rstrip(b"\n") + b"\n  " + marker.encode() + b"\n"
            temporary = source_path + ".tmp~"
            with open(temporary, "wb") as f:
                f.write(text)
            t0 = time.monotonic()
            os.rename(temporary, source_path)
            while time.monotonic() - t0 < 60:
                try:
                    if marker.encode() in open(page, "rb").read():
                        break
                except OSError:
                    pass
                time.sleep(0.002)
            return time.monotonic() - t0

        # Output to a file: a pipe nobody drains would stop wyn's printing
        # workers once the site-wide rebuild prints its diagnostics again.
        log_path = os.path.join(temp, "watch.log")
        log = open(log_path, "wb")
        process = subprocess.Popen(command, cwd=site, stdout=log, stderr=subprocess.STDOUT)
        read_log = lambda: open(log_path, "rb").read()
        # The first save comes while the first build after the start runs.
        time.sleep(args.first_save_after)
        first_save = save(-1)
        deadline = time.monotonic() + 3600
        while b"up to date after" not in read_log() and time.monotonic() < deadline:
            time.sleep(0.05)
        times, cpus = [], []
        for i in range(args.saves):
            quiet_before = read_log().count(b"up to date after")
            c0 = cpu_precise(process.pid)
            times.append(save(i))
            # Its CPU: from the save to the quiet line after it.
            deadline = time.monotonic() + 60
            while read_log().count(b"up to date after") <= quiet_before and time.monotonic() < deadline:
                time.sleep(0.002)
            cpus.append(cpu_precise(process.pid) - c0)
            time.sleep(0.3)
        # Let the site-wide rebuild after the saves finish before the idle window.
        deadline = time.monotonic() + 600
        size, last = -1, time.monotonic()
        while time.monotonic() < deadline:
            now = os.path.getsize(log_path)
            if now != size:
                size, last = now, time.monotonic()
            if time.monotonic() - last > 5:
                break
            time.sleep(0.1)
        c0 = cpu_seconds(process.pid)
        time.sleep(args.idle)
        idle = (cpu_seconds(process.pid) - c0) / args.idle * 100
        watch_rss_mib = rss_kib(process.pid) / 1024
        process.kill()
        process.wait()
        log.close()

        print(f"documents: {args.count}")
        print(f"read every source once (I/O floor): {floor:.2f} s")
        print(f"once, start to exit: {once_s:.2f} s wall, {once_cpu:.2f} s CPU, peak RSS {once_rss_mib:.0f} MiB "
              f"({summary[0] if summary else 'no summary'})")
        print(f"first save, {args.first_save_after:.1f} s after the watch started: {first_save * 1000:.0f} ms to its page")
        print(f"save to page over {len(times)} saves: median {statistics.median(times) * 1000:.0f} ms, "
              f"max {max(times) * 1000:.0f} ms")
        print(f"CPU per save, save to quiet: median {statistics.median(cpus) * 1000:.1f} ms, "
              f"max {max(cpus) * 1000:.1f} ms")
        print(f"watching wyn's RSS when idle: {watch_rss_mib:.0f} MiB")
        print(f"idle watch CPU over {args.idle:.0f} s: {idle:.2f} % of a core")


if __name__ == "__main__":
    main()
