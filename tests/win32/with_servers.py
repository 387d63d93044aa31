#!/usr/bin/python3
"""Runs a Windows test binary under wine beside the local HTTP and HTTPS test
servers (tests/http/test_server.py, loopback only). The binary finds their
ports in WYN_TEST_PORTS ("<http> <https>") and the HTTPS server's
certificate in WYN_TEST_CA.

usage: with_servers.py WINE TEST.exe [arguments]"""

import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, "..", "http", "test_server.py")


def main():
    wine, exe, rest = sys.argv[1], sys.argv[2], sys.argv[3:]
    with tempfile.TemporaryDirectory(prefix="wyn-servers-") as certs:
        server = subprocess.Popen([sys.executable, SERVER, "--cert-dir", certs], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, text=True)
        try:
            line = server.stdout.readline().split()
            if len(line) < 3 or line[0] != "ports":
                print("with_servers: the test servers did not start", file=sys.stderr)
                return 1
            env = dict(os.environ, WYN_TEST_PORTS="%s %s" % (line[1], line[2]), WINEDEBUG="-all",
                       WYN_TEST_CA=os.path.join(certs, "cert.pem"))
            return subprocess.run([wine, exe] + rest, env=env, timeout=240).returncode
        finally:
            server.stdin.close()
            server.wait(timeout=10)


if __name__ == "__main__":
    sys.exit(main())
