#!/usr/bin/env python3
"""Local HTTP and HTTPS server for wyn's HTTP tests and benchmark.

Binds only loopback addresses. Prints one line once it listens:
    ports <http port> <https port> [<https port of 127.0.0.2> ...]
and answers until stdin closes (the test that started it ended).

Paths (the query string is ignored unless named):
    /ok                 200 with a short body
    /echo               200 with the request's head and body as its body
    /missing            404
    /redirect?to=PATH   302 to PATH
    /loop               302 to /loop
    /trickle-head?ms=N[&end=K]
                        the head a byte every N milliseconds (1000): with
                        end, a whole head with K bytes of padding; without,
                        header bytes for ever
    /trickle-body       full head, then one body byte a second, for ever
    /hang               reads the request, never answers
    /busy?after=N       429 with Retry-After: N on its first request, 200 afterwards
    /slow?ms=N          200 after N milliseconds
    /hold               200, but only once /__release was asked
    /__stats            JSON: requests per path (with query), the most
                        connections each local address served at once
                        ("most") and all addresses together ("all")
    /__release          lets every held request go, and those after it
    /__reset            forgets the statistics, holds again
Every answer closes its connection. Statistics leave out /__ paths.
"""
import argparse
import asyncio
import itertools
import json
import os
import ssl
import subprocess
import sys
import urllib.parse

requests = {}        # path with query -> count
open_now = {}        # local address -> connections being served
open_most = {}       # local address -> highest count seen
busy_seen = set()
released = None      # asyncio.Event, made inside the loop
total = {"now": 0, "most": 0}   # connections being served on all addresses


def make_certificate(folder, hosts):
    cert = os.path.join(folder, "cert.pem")
    key = os.path.join(folder, "key.pem")
    names = ",".join(["DNS:localhost"] + ["IP:127.0.0.%d" % k for k in range(1, hosts + 1)])
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=wyn test",
                    "-addext", "subjectAltName=" + names],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


def answer(status, reason, body=b"", extra=""):
    head = "HTTP/1.1 %d %s\r\nContent-Length: %d\r\nConnection: close\r\n%s\r\n" % (status, reason, len(body), extra)
    return head.encode() + body


async def serve(reader, writer):
    local = writer.get_extra_info("sockname")[0]
    counted = False
    try:
        # Like a real server, refuse at once what is not HTTP (a TLS hello
        # sent to the plain port), rather than wait for a blank line.
        first = await reader.readexactly(1)
        if not first.isalpha():
            writer.write(answer(400, "Bad Request"))
            await writer.drain()
            return
        head = first + await reader.readuntil(b"\r\n\r\n")
        target = head.split(b"\r\n", 1)[0].split(b" ")[1].decode()
        parts = urllib.parse.urlsplit(target)
        query = urllib.parse.parse_qs(parts.query)
        path = parts.path
        if not path.startswith("/__"):
            counted = True
            requests[target] = requests.get(target, 0) + 1
            open_now[local] = open_now.get(local, 0) + 1
            open_most[local] = max(open_most.get(local, 0), open_now[local])
            total["now"] += 1
            total["most"] = max(total["most"], total["now"])
        if path == "/ok":
            reply = answer(200, "OK", b"fine\n")
        elif path == "/echo":
            length = 0
            for line in head.split(b"\r\n"):
                if line.lower().startswith(b"content-length:"):
                    length = int(line.split(b":", 1)[1])
            body = await reader.readexactly(length) if length else b""
            reply = answer(200, "OK", head + body)
        elif path == "/missing":
            reply = answer(404, "Not Found", b"none\n")
        elif path == "/redirect":
            reply = answer(302, "Found", extra="Location: %s\r\n" % query.get("to", ["/ok"])[0])
        elif path == "/loop":
            reply = answer(302, "Found", extra="Location: /loop\r\n")
        elif path == "/trickle-head":
            pace = int(query.get("ms", ["1000"])[0]) / 1000
            end = query.get("end")
            head = b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\nX-Slow: "
            if end:
                head += b"x" * int(end[0]) + b"\r\n\r\n"
            for k in itertools.count():
                writer.write(head[k:k + 1] or b"x")
                await writer.drain()
                if end and k + 1 == len(head):
                    break
                await asyncio.sleep(pace)
            return
        elif path == "/trickle-body":
            writer.write(b"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nConnection: close\r\n\r\n")
            while True:
                await writer.drain()
                await asyncio.sleep(1)
                writer.write(b"x")
        elif path == "/hang":
            await asyncio.sleep(3600)
            return
        elif path == "/busy":
            if target in busy_seen:
                reply = answer(200, "OK", b"fine\n")
            else:
                busy_seen.add(target)
                reply = answer(429, "Too Many Requests", extra="Retry-After: %s\r\n" % query.get("after", ["1"])[0])
        elif path == "/hold":
            await released.wait()
            reply = answer(200, "OK", b"fine\n")
        elif path == "/slow":
            await asyncio.sleep(int(query.get("ms", ["100"])[0]) / 1000)
            reply = answer(200, "OK", b"fine\n")
        elif path == "/__stats":
            body = json.dumps({"requests": requests, "most": open_most, "all": total["most"]}).encode()
            reply = answer(200, "OK", body, "Content-Type: application/json\r\n")
        elif path == "/__release":
            released.set()
            reply = answer(200, "OK")
        elif path == "/__reset":
            requests.clear()
            open_most.clear()
            total["most"] = total["now"]
            busy_seen.clear()
            released.clear()
            reply = answer(200, "OK")
        else:
            reply = answer(404, "Not Found")
        # The connection counts as served once its answer is decided.
        if counted:
            open_now[local] -= 1
            total["now"] -= 1
            counted = False
        writer.write(reply)
        await writer.drain()
    except asyncio.CancelledError:
        pass   # the server is shutting down
    except (ConnectionError, asyncio.IncompleteReadError, ssl.SSLError, asyncio.LimitOverrunError, IndexError):
        pass
    finally:
        if counted:
            open_now[local] -= 1
            total["now"] -= 1
        writer.close()


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cert-dir", required=True)
    parser.add_argument("--hosts", type=int, default=1, help="HTTPS on 127.0.0.1 up to 127.0.0.N")
    args = parser.parse_args()
    global released
    released = asyncio.Event()
    cert, key = make_certificate(args.cert_dir, args.hosts)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    plain = await asyncio.start_server(serve, "127.0.0.1", 0, backlog=512)
    secure = []
    for k in range(1, args.hosts + 1):
        secure.append(await asyncio.start_server(serve, "127.0.0.%d" % k, 0, ssl=context, backlog=512))
    ports = [plain.sockets[0].getsockname()[1]] + [s.sockets[0].getsockname()[1] for s in secure]
    print("ports " + " ".join(str(p) for p in ports), flush=True)
    # The test closes our stdin when it ends; nothing outlives it.
    loop = asyncio.get_running_loop()
    await loop.run_in_executor(None, sys.stdin.read)


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        pass
