#!/usr/bin/python3
"""A small client of headless Chromium's remote debugging protocol: it opens
pages, tells which of their resources failed, what the console reported as
errors, and takes screenshots.

Chromium is held to this machine: every name resolves to nothing and every
connection that is not to the loopback goes to a proxy that does not exist,
so a page that names a web address can never reach out.
"""

import base64
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time

import websocket

DESKTOP = (1280, 900, False)
SMARTPHONE = (390, 844, True)

START_SECONDS = 30
LOAD_SECONDS = 30
SETTLE_SECONDS = 0.4

# After the load event: every font the page declares is loaded (a face that
# no text uses is still a fault of the site), then the images are asked
# whether they arrived. A style sheet that failed shows only as a failed
# request: Chromium gives it an empty sheet all the same.
_AFTER_LOAD = """(async () => {
  const problems = [];
  const faces = [...document.fonts];
  await Promise.all(faces.map(f => f.load().catch(() => {})));
  for (const f of faces) {
    if (f.status === 'error') problems.push("font '" + f.family.replace(/["']/g, '') + "' failed to load");
  }
  for (const img of document.images) {
    if (!img.complete) { try { await img.decode(); } catch (e) {} }
    if (img.naturalWidth === 0) problems.push('image ' + (img.currentSrc || img.src) + ' did not load');
  }
  return problems;
})()"""


def find_chromium():
    """The Chromium binary, or None when it is not installed."""
    for name in ("chromium", "chromium-browser"):
        path = shutil.which(name)
        if path:
            return path
    return None


class ChromiumError(Exception):
    pass


class Browser:
    """One headless Chromium with a throw-away profile. Use as a context
    manager; every wait has its own deadline."""

    def __init__(self, binary=None):
        self.binary = binary or find_chromium()
        if not self.binary:
            raise ChromiumError("chromium is not installed")
        self.profile = None
        self.process = None
        self.socket = None
        self.next_id = 0
        self.pending = []

    def __enter__(self):
        self.profile = tempfile.mkdtemp(prefix="wyn-chromium-")
        log = open(os.path.join(self.profile, "chromium.log"), "wb")
        args = [
            self.binary, "--headless=new", "--no-sandbox", "--disable-gpu",
            "--remote-debugging-address=127.0.0.1", "--remote-debugging-port=0",
            "--user-data-dir=" + self.profile, "--no-first-run", "--no-default-browser-check",
            "--disable-extensions", "--disable-background-networking", "--disable-component-update",
            "--disable-sync", "--disable-default-apps", "--disable-domain-reliability",
            "--disable-client-side-phishing-detection", "--no-pings", "--hide-scrollbars",
            "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE localhost",
            "--proxy-server=http://127.0.0.1:9", "--font-render-hinting=none", "about:blank",
        ]
        self.process = subprocess.Popen(args, stdout=log, stderr=log, stdin=subprocess.DEVNULL,
                                        start_new_session=True)
        log.close()
        try:
            self._connect()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _connect(self):
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        deadline = time.monotonic() + START_SECONDS
        while True:
            if self.process.poll() is not None:
                raise ChromiumError(f"chromium ended at start with code {self.process.returncode}: "
                                    + self._log_tail())
            if os.path.exists(port_file):
                with open(port_file) as f:
                    lines = f.read().split()
                if len(lines) >= 2:
                    break
            if time.monotonic() > deadline:
                raise ChromiumError(f"chromium gave no debugging port within {START_SECONDS} s: "
                                    + self._log_tail())
            time.sleep(0.05)
        url = f"ws://127.0.0.1:{lines[0]}{lines[1]}"
        self.socket = websocket.create_connection(url, timeout=LOAD_SECONDS, suppress_origin=True)

    def _log_tail(self):
        try:
            with open(os.path.join(self.profile, "chromium.log"), errors="replace") as f:
                return f.read()[-2000:]
        except OSError:
            return ""

    def __exit__(self, *exc):
        if self.socket is not None:
            try:
                self.socket.close()
            except Exception:
                pass
        if self.process is not None and self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait(timeout=10)
        if self.profile:
            shutil.rmtree(self.profile, ignore_errors=True)
        return False

    # The protocol: one socket, commands answered by id, events in between.

    def _receive(self, deadline):
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            raise ChromiumError("chromium did not answer in time")
        self.socket.settimeout(remaining)
        try:
            return json.loads(self.socket.recv())
        except websocket.WebSocketTimeoutException:
            raise ChromiumError("chromium did not answer in time") from None

    def send(self, method, params=None, session=None, seconds=LOAD_SECONDS):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        self.socket.send(json.dumps(message))
        deadline = time.monotonic() + seconds
        while True:
            reply = self._receive(deadline)
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise ChromiumError(f"{method}: {reply['error'].get('message')}")
                return reply.get("result", {})
            if "method" in reply:
                self.pending.append(reply)

    def events(self, deadline):
        """Events received so far, then those that arrive until the deadline."""
        while self.pending:
            yield self.pending.pop(0)
        while time.monotonic() < deadline:
            try:
                reply = self._receive(deadline)
            except ChromiumError:
                return
            if "method" in reply:
                yield reply

    def open_page(self, url, viewport=DESKTOP):
        """Loads url in a new tab of the given (width, height, mobile) size
        and returns a Page with what went wrong while loading."""
        width, height, mobile = viewport
        target = self.send("Target.createTarget", {"url": "about:blank"})["targetId"]
        session = self.send("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        page = Page(self, target, session)
        for domain in ("Page", "Network", "Runtime", "Log"):
            self.send(domain + ".enable", session=session)
        self.send("Emulation.setDeviceMetricsOverride",
                  {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": mobile},
                  session=session)
        self.pending = [e for e in self.pending if e.get("sessionId") != session]
        result = self.send("Page.navigate", {"url": url}, session=session)
        if result.get("errorText"):
            page.problems.append(f"page {url} did not open: {result['errorText']}")
            return page
        page.collect(until_load=True)
        problems = self.send("Runtime.evaluate", {"expression": _AFTER_LOAD, "awaitPromise": True,
                                                   "returnByValue": True}, session=session)
        page.problems.extend(problems.get("result", {}).get("value") or [])
        page.collect(until_load=False)
        return page


class Page:
    def __init__(self, browser, target, session):
        self.browser = browser
        self.target = target
        self.session = session
        self.problems = []
        self.urls = {}
        self.loaded = False

    def collect(self, until_load):
        """Reads events of this tab: up to the load event, or for a short
        settling time once it is loaded."""
        seconds = LOAD_SECONDS if until_load else SETTLE_SECONDS
        deadline = time.monotonic() + seconds
        for event in self.browser.events(deadline):
            if event.get("sessionId") != self.session:
                continue
            self._note(event["method"], event.get("params", {}))
            if until_load and self.loaded:
                return
        if until_load and not self.loaded:
            self.problems.append(f"the page did not finish loading within {LOAD_SECONDS} s")

    def _note(self, method, params):
        if method == "Page.loadEventFired":
            self.loaded = True
        elif method == "Network.requestWillBeSent":
            self.urls[params["requestId"]] = params["request"]["url"]
        elif method == "Network.loadingFailed":
            url = self.urls.get(params["requestId"], "?")
            self.problems.append(f"{params.get('type', 'resource').lower()} {url} failed: "
                                 f"{params.get('errorText', '')}")
        elif method == "Network.responseReceived":
            status = params["response"].get("status", 0)
            if status >= 400:
                self.problems.append(f"{params.get('type', 'resource').lower()} "
                                     f"{params['response'].get('url')} answered {status}")
        elif method == "Log.entryAdded":
            entry = params["entry"]
            if entry.get("level") == "error":
                self.problems.append(f"console error: {entry.get('text', '')}"
                                     + (f" ({entry['url']})" if entry.get("url") else ""))
        elif method == "Runtime.consoleAPICalled":
            if params.get("type") in ("error", "assert"):
                text = " ".join(str(a.get("value", a.get("description", ""))) for a in params.get("args", []))
                self.problems.append(f"console error: {text}")
        elif method == "Runtime.exceptionThrown":
            details = params.get("exceptionDetails", {})
            text = details.get("exception", {}).get("description") or details.get("text", "")
            self.problems.append(f"script error: {text}")

    def evaluate(self, expression):
        """The value of a script expression in the page (promises awaited)."""
        result = self.browser.send("Runtime.evaluate", {"expression": expression, "awaitPromise": True,
                                                         "returnByValue": True}, session=self.session)
        if "exceptionDetails" in result:
            raise ChromiumError(f"{expression}: {result['exceptionDetails'].get('text')}")
        return result.get("result", {}).get("value")

    def screenshot(self, path):
        shot = self.browser.send("Page.captureScreenshot", {"format": "png"}, session=self.session)
        with open(path, "wb") as out:
            out.write(base64.b64decode(shot["data"]))

    def close(self):
        self.browser.send("Target.closeTarget", {"targetId": self.target})


def viewport_for(path):
    """Smartphone pages are the ones whose name ends in _smartphone.html."""
    return SMARTPHONE if os.path.basename(path).endswith("_smartphone.html") else DESKTOP


def html_files(folder):
    found = []
    for base, _, names in os.walk(folder):
        found.extend(os.path.join(base, n) for n in names if n.endswith(".html"))
    return sorted(found)
