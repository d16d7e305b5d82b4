"""webview against real hosts: its stream, its command line, and its page in a headless Chromium driven over the
DevTools protocol. CTest passes the programs' paths (and where the screenshot goes) in the environment."""
import base64
import http.client
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools")
WEBVIEW = os.path.join(TOOLS, "webview", "webview.py")
sys.path.insert(0, TOOLS)
import read_storage  # noqa: E402


def wait_until(condition, seconds=15):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        result = condition()
        if result:
            return result
        time.sleep(0.05)
    raise AssertionError("still not so after %s s" % seconds)


def attachable(name):
    try:
        return read_storage.Storage(name).close() or True
    except read_storage.StorageError:
        return False


def flat(row):
    return [x for value in row.values() for x in (value if isinstance(value, list) else [value])]


class Chain(unittest.TestCase):  # hosts, the simulator and webview as child processes of one test
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="webview-test-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.storage = "zt-webview-%d" % os.getpid()

    def spawn(self, *argv):
        log = open(os.path.join(self.dir, "log-%d" % time.monotonic_ns()), "w+")
        child = subprocess.Popen(argv, stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        self.addCleanup(log.close)
        self.addCleanup(lambda: (child.poll() is None and child.send_signal(signal.SIGTERM), child.wait(10)))
        child.log = log
        return child

    def start_host(self, module="FAKE_MODULE", lines="  trackers 3\n  controllers 2\n  writes 5\n  rate 0\n"):
        config = os.path.join(self.dir, "host.conf")
        with open(config, "w") as out:
            out.write("storage %s\ndevice d %s\n%s" % (self.storage, os.environ[module], lines))
        host = self.spawn(os.environ["TRACKHOST"], config)
        wait_until(lambda: attachable(self.storage))
        return host

    def start_webview(self):
        webview = self.spawn(sys.executable, WEBVIEW, "--storage", self.storage, "--port", "0")
        return wait_until(lambda: (webview.log.seek(0), webview.log.readline())[1]).split("http://")[1].split("/")[0]

    def next_message(self, response, condition):
        for _ in range(2000):
            line = response.readline()
            if line.startswith(b"data: ") and condition(json.loads(line[6:])):
                return json.loads(line[6:])
        raise AssertionError("no such message in the stream")


class WebviewServer(Chain):
    def test_the_stream_has_trackviews_values_and_follows_the_host_through_a_restart(self):
        host = self.start_host()
        connection = http.client.HTTPConnection(self.start_webview(), timeout=10)
        self.addCleanup(connection.close)
        connection.request("GET", "/stream")
        stream = connection.getresponse()
        self.assertEqual("text/event-stream", stream.getheader("Content-Type"))
        live = self.next_message(stream, lambda m: m["state"] == "live" and m["trackers"][0]["hz"] is not None)
        expected = json.loads(subprocess.run([os.environ["TRACKVIEW"], "--storage", self.storage, "--once", "--json"],
                                             capture_output=True, text=True, timeout=10).stdout)
        self.assertEqual((host.pid, 1, 3, 2), (live["pid"], live["attaches"], len(live["trackers"]),
                                               len(live["controllers"])))
        for kind in ("trackers", "controllers"):
            for streamed, shown in zip(live[kind], expected[kind]):
                self.assertEqual(0, streamed.pop("hz"))  # the still host writes no more
                self.assertEqual(list(shown), list(streamed))  # same names, same order
                # trackview writes the shortest text of a 32-bit float, the stream that of a double.
                for want, got in zip(flat(shown), flat(streamed)):
                    self.assertAlmostEqual(want, got, delta=1e-6 * abs(want))

        host.send_signal(signal.SIGTERM)
        waiting = self.next_message(stream, lambda m: m["state"] == "waiting")
        self.assertEqual(('the host of storage "%s" has ended' % self.storage, host.pid),
                         (waiting["reason"], waiting["last_pid"]))
        self.next_message(stream, lambda m: m["reason"] == 'no host holds storage "%s"' % self.storage)
        host.wait(10)
        again = self.start_host()
        live = self.next_message(stream, lambda m: m["state"] == "live")
        self.assertEqual((again.pid, 2, 3), (live["pid"], live["attaches"], len(live["trackers"])))

    def test_a_bad_command_line_is_refused_with_status_2(self):
        taken = socket.socket()
        taken.bind(("127.0.0.1", 0))
        taken.listen()
        self.addCleanup(taken.close)
        cases = [
            (["--port", "65536"], 'invalid value "65536" for --port (0 to 65535)'),
            (["--port", "http"], 'invalid value "http" for --port (0 to 65535)'),
            (["--rate", "0"], 'invalid value "0" for --rate (1 to 60)'),
            (["--storage", "a/b"], "invalid storage name \"a/b\" (use 1 to 200 letters, digits, '.', '_' or '-')"),
            (["--port", str(taken.getsockname()[1])],
             "cannot serve on 127.0.0.1 port %d: Address already in use" % taken.getsockname()[1]),
        ]
        for arguments, message in cases:
            with self.subTest(arguments):
                result = subprocess.run([sys.executable, WEBVIEW] + arguments, capture_output=True, text=True,
                                        timeout=20)
                self.assertEqual(2, result.returncode, result.stderr)
                self.assertEqual("webview: " + message, result.stderr.splitlines()[0])


class Browser:
    """A headless Chromium showing one page for one test, driven over --remote-debugging-pipe: NUL-terminated JSON
    messages on its descriptors 3 (in) and 4 (out). Its background traffic is off: it reaches nothing but the page."""

    def __init__(self, test, program, url):
        (to_child, self.out), (self.inp, from_child) = os.pipe(), os.pipe()
        self.process = subprocess.Popen(
            [program, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--remote-debugging-pipe", "--user-data-dir=" + os.path.join(test.dir, "profile"), url],
            preexec_fn=lambda: (os.dup2(to_child, 3), os.dup2(from_child, 4)), pass_fds=(3, 4),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_child), os.close(from_child)
        test.addCleanup(lambda: (self.process.kill(), self.process.wait(10), os.close(self.out), os.close(self.inp)))
        self.pending, self.session = b"", {}
        page = next(t["targetId"] for t in self.call("Target.getTargets")["targetInfos"] if t["type"] == "page")
        self.session = dict(sessionId=self.call("Target.attachToTarget", targetId=page, flatten=True)["sessionId"])

    def call(self, method, **params):
        os.write(self.out, json.dumps(dict(id=1, method=method, params=params, **self.session)).encode() + b"\0")
        while True:  # one call at a time, so one id serves all; events in between are dropped
            chunk = os.read(self.inp, 1 << 20)
            assert chunk, "chromium ended"
            *messages, self.pending = (self.pending + chunk).split(b"\0")
            for reply in map(json.loads, messages):
                if reply.get("id") == 1:
                    return reply["result"]

    def evaluate(self, expression):
        return self.call("Runtime.evaluate", expression=expression, returnByValue=True)["result"].get("value")


# The tracker table's rows as texts, and the canvas pixels that are clearly red (the trackers' x axes; the grid and
# the background are grey).
ROWS = "Array.from(document.querySelectorAll('#tracker-rows tr'), (row) => row.innerText)"
RED_PIXELS = """(() => { const c = document.getElementById('top');
  const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
  return d.filter((v, i) => i % 4 == 0 && v > 180 && d[i + 1] < 90 && d[i + 2] < 90).length; })()"""


class WebviewInBrowser(Chain):
    def test_the_page_shows_32_moving_trackers(self):
        if not shutil.which("chromium") and os.geteuid() == 0:  # Debian's, installed here where we may
            subprocess.run("apt-get update -qq; apt-get install -y -qq chromium", shell=True, capture_output=True,
                           env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
        program = shutil.which("chromium")
        if not program:
            self.skipTest("Chromium is not installed and could not be installed (apt-get install chromium, as root)")
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        self.spawn(os.environ["OSTRELSIM"], "--to", "127.0.0.1:%d" % port, "--bodies", "31", "--wands", "1")
        self.start_host("MODULE", "  port %d\n  standardbodies 31\n  gripwands 1\n  CAVECoordinates yes\n" % port)
        browser = Browser(self, program, "http://%s/" % self.start_webview())
        browser.call("Emulation.setDeviceMetricsOverride", width=1280, height=860, deviceScaleFactor=1, mobile=False)
        first = wait_until(lambda: len(browser.evaluate(ROWS)) == 32 and browser.evaluate(ROWS))
        time.sleep(3)
        rows = browser.evaluate(ROWS)
        self.assertEqual(32, sum(a != b for a, b in zip(first, rows)), rows)
        self.assertGreater(browser.evaluate(RED_PIXELS), 32 * 10)
        with open(os.environ.get("WEBVIEW_SCREENSHOT", os.path.join(self.dir, "webview.png")), "wb") as out:
            out.write(base64.b64decode(browser.call("Page.captureScreenshot", format="png")["data"]))
        browser.evaluate("document.getElementById('pause').click()")
        time.sleep(0.2)  # the table follows within a tenth of a second
        paused = browser.evaluate(ROWS)
        time.sleep(0.5)
        self.assertEqual(paused, browser.evaluate(ROWS))


if __name__ == "__main__":
    unittest.main(verbosity=2)
