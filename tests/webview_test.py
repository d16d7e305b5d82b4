"""webview against real hosts: its stream and its command line. CTest passes
the programs' paths in the environment."""
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


class WebviewServer(unittest.TestCase):
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

    def start_host(self):
        config = os.path.join(self.dir, "host.conf")
        with open(config, "w") as out:
            out.write("storage %s\ndevice d %s\n  trackers 3\n  controllers 2\n  writes 5\n  rate 0\n"
                      % (self.storage, os.environ["FAKE_MODULE"]))
        host = self.spawn(os.environ["TRACKHOST"], config)
        wait_until(lambda: attachable(self.storage))
        return host

    def next_message(self, response, condition):
        for _ in range(2000):
            line = response.readline()
            if line.startswith(b"data: ") and condition(json.loads(line[6:])):
                return json.loads(line[6:])
        raise AssertionError("no such message in the stream")

    def test_the_stream_has_trackviews_values_and_follows_the_host_through_a_restart(self):
        host = self.start_host()
        webview = self.spawn(sys.executable, WEBVIEW, "--storage", self.storage, "--port", "0")
        line = wait_until(lambda: (webview.log.seek(0), webview.log.readline())[1])
        connection = http.client.HTTPConnection(line.split("http://")[1].split("/")[0], timeout=10)
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


if __name__ == "__main__":
    unittest.main(verbosity=2)
