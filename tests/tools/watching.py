"""A wyn that watches, for the end-to-end tests: started in a site folder,
its two streams read together on a thread of their own, and the count of
"up to date" lines waited for. The order of the two streams is not kept by
every reader of both (wine's), so tests hold counts, not order."""

import subprocess
import threading
import time


class Watch:
    def __init__(self, wyn, cwd, args, env):
        self.process = subprocess.Popen([wyn, *args], cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                        env=env)
        self.lines = []
        self.reader = threading.Thread(target=lambda: self.lines.extend(iter(self.process.stdout.readline, b"")),
                                       daemon=True)
        self.reader.start()

    def text(self):
        return b"".join(self.lines).decode(errors="replace")

    def wait(self, test, quiet, until=lambda text: True, seconds=60):
        """Waits for `quiet` "up to date" lines and for `until` of the text,
        or the time; fails `test` when wyn ends or the lines never come."""
        deadline = time.time() + seconds
        while time.time() < deadline and (self.text().count("up to date after") < quiet or not until(self.text())):
            test.assertIsNone(self.process.poll(), "wyn ended:\n" + self.text())
            time.sleep(0.05)
        test.assertGreaterEqual(self.text().count("up to date after"), quiet, self.text())

    def close(self):
        self.process.kill()
        self.process.wait()
        self.reader.join(5)
        self.process.stdout.close()
