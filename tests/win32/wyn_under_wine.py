#!/usr/bin/python3
"""wyn.exe under wine, started where a Linux test starts wyn: the arguments,
the working folder, standard input, the exit status and the signals that end
it pass through, and the wine process dies with this one.

wyn.exe names the host's folders by wine's drive for them (Z:/tmp/site);
the Linux tests expect /tmp/site, so "Z:/" becomes "/" in what it prints.
Needs WYN_EXE, the path of wyn.exe."""

import ctypes
import os
import select
import signal
import subprocess
import sys
import threading

DRIVE = b"Z:/"


def pump(source, sink, ended):
    """Copies as it arrives, the drive taken out; a piece that ends in the
    middle of the drive's name waits for the next. It stops at the end of
    the output or, once wyn.exe has ended, when nothing more comes: a wine
    service started with wyn.exe may hold the pipe open for longer."""
    held = b""
    while True:
        ready, _, _ = select.select([source], [], [], 0.1)
        if not ready:
            if ended.is_set():
                break
            continue
        piece = os.read(source.fileno(), 65536)
        if not piece:
            break
        text = (held + piece).replace(DRIVE, b"/")
        held = b""
        for keep in (2, 1):
            if text.endswith(DRIVE[:keep]):
                text, held = text[:-keep], text[-keep:]
                break
        sink.write(text)
        sink.flush()
    sink.write(held)
    sink.flush()


def main():
    libc = ctypes.CDLL(None, use_errno=True)
    pr_set_pdeathsig = 1
    command = [os.environ.get("WYN_WINE", "wine"), os.environ["WYN_EXE"], *sys.argv[1:]]
    env = dict(os.environ, WINEDEBUG="-all")
    proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                            preexec_fn=lambda: libc.prctl(pr_set_pdeathsig, signal.SIGKILL))
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, lambda number, frame: proc.send_signal(number))
    ended = threading.Event()
    pumps = [threading.Thread(target=pump, args=(proc.stdout, sys.stdout.buffer, ended)),
             threading.Thread(target=pump, args=(proc.stderr, sys.stderr.buffer, ended))]
    for p in pumps:
        p.start()
    status = proc.wait()
    ended.set()
    for p in pumps:
        p.join()
    if status < 0:
        signal.signal(-status, signal.SIG_DFL)
        os.kill(os.getpid(), -status)
    return status


if __name__ == "__main__":
    sys.exit(main())
