#!/usr/bin/env python3
"""webview: a running trackhost's trackers and controllers, live in a browser.

    python3 tools/webview/webview.py [--storage NAME] [--port PORT] [--bind ADDRESS] [--rate HZ]

Serves one page (page.html beside this file) and streams the storage's
records to it as Server-Sent Events, at most --rate times a second. It reads
the storage with tools/read_storage.py, by the sequence rule, so it needs no
write access and can never hold up the host. When the host ends it waits and
attaches again to the next host on the same storage name. Standard library
only; the page fetches nothing from anywhere else.
"""
import argparse
import collections
import json
import os
import re
import signal
import socket
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import read_storage  # noqa: E402

PAGE_PATH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "page.html")
# Even an idle storage is sent this often, so that the page's ages and rates
# move on and a lost host shows at once.
HEARTBEAT_SECONDS = 0.25
ATTACH_RETRY_SECONDS = 0.2
MAX_STREAMS = 16
# A viewer that takes no data for this long is dropped; others never wait for it.
SEND_TIMEOUT_SECONDS = 10
# The page may run script and styles of its own and talk to this server only.
CONTENT_POLICY = ("default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                  "connect-src 'self'; img-src data:; base-uri 'none'; form-action 'none'")


class RateMeter:
    """Writes per second of each record, from the host's update counters over
    about the last second (differences taken modulo 2^32, as they wrap)."""

    WINDOW_SECONDS = 1.0

    def __init__(self):
        self.readings = collections.deque()

    def add(self, now, counters):
        self.readings.append((now, counters))
        while len(self.readings) > 2 and now - self.readings[1][0] >= self.WINDOW_SECONDS:
            self.readings.popleft()

    def rates(self, kind):
        """One rate per record of the list (0 trackers, 1 controllers), or None
        until two readings are a tenth of a second apart."""
        (then, old), (now, new) = self.readings[0], self.readings[-1]
        if now - then < 0.1:
            return None
        return [round(((b - a) % 2 ** 32) / (now - then), 1) for a, b in zip(old[kind], new[kind])]


class Sampler(threading.Thread):
    """Reads the storage at the stream's rate and publishes each new state as
    one encoded message; every viewer takes the newest one."""

    def __init__(self, name, rate):
        super().__init__(daemon=True)
        self.storage_name, self.period = name, 1.0 / rate
        self.storage = None
        self.attaches = 0
        self.last_host = None  # (process id, time it was seen ending)
        self.reason = 'no host holds storage "%s"' % name
        self.changed = threading.Condition()
        self.number, self.message = 0, None
        self.published = 0.0
        self.viewers = 0
        self.rates = RateMeter()

    def watch(self, change):
        """A viewer comes (+1) or goes (-1); without viewers nothing is read."""
        with self.changed:
            self.viewers += change
            self.changed.notify_all()
            return self.number

    def newest_after(self, number, timeout):
        """The newest message once it is newer than `number`, or (number, None)."""
        with self.changed:
            self.changed.wait_for(lambda: self.number > number, timeout)
            return (self.number, self.message) if self.number > number else (number, None)

    def publish(self, state):
        state.update(storage=self.storage_name, now=time.time(), attaches=self.attaches)
        message = json.dumps(state, separators=(",", ":")).encode()
        with self.changed:
            self.number, self.message = self.number + 1, message
            self.changed.notify_all()

    def attach(self):
        try:
            self.storage = read_storage.Storage(self.storage_name)
        except (read_storage.StorageError, OSError) as error:
            self.reason = str(error)
            return False
        self.attaches += 1
        self.rates = RateMeter()
        self.seen = None
        return True

    def detach(self, reason):
        if self.storage.header["host_pid"]:
            self.last_host = (self.storage.header["host_pid"], time.time())
        self.storage.close()
        self.storage, self.reason = None, reason

    def waiting(self):
        state = dict(state="waiting", reason=self.reason)
        if self.last_host:
            state.update(last_pid=self.last_host[0], ended=self.last_host[1])
        return state

    def live(self, now):
        """The storage's state, or None when nothing changed since the last one."""
        storage = self.storage
        if not storage.host_alive():
            self.detach('the host of storage "%s" has ended' % self.storage_name)
            return self.waiting()
        counters = storage.counters()
        self.rates.add(now, counters)
        seen = (storage.sequences(), counters)
        if seen == self.seen and now - self.published < HEARTBEAT_SECONDS:
            return None
        self.seen = seen
        trackers, controllers = storage.trackers(), storage.controllers()
        for kind, records in enumerate((trackers, controllers)):
            rates = self.rates.rates(kind)
            for index, record in enumerate(records):  # record k has counter k
                record["hz"] = rates[index] if rates else None
        return dict(state="live", pid=storage.header["host_pid"], warning=storage.warning,
                    trackers=trackers, controllers=controllers)

    def run(self):
        next_tick = time.monotonic()
        while True:
            with self.changed:
                if self.viewers == 0:
                    self.changed.wait_for(lambda: self.viewers > 0, 1.0)
                    self.rates = RateMeter()  # rates span only watched time
                    continue
            now = time.monotonic()
            try:
                if self.storage is None and not self.attach():
                    state = self.waiting() if now - self.published >= HEARTBEAT_SECONDS else None
                else:
                    state = self.live(now)
            except (read_storage.StorageError, OSError) as error:
                self.detach(str(error))
                state = self.waiting()
            if state is not None:
                self.publish(state)
                self.published = now
            # Paced from the start, so delays do not add up.
            next_tick = max(next_tick + (self.period if self.storage else ATTACH_RETRY_SECONDS), now)
            time.sleep(max(0.0, next_tick - time.monotonic()))


class ViewerHandler(BaseHTTPRequestHandler):
    server_version = "webview"
    page = b""
    sampler = None
    streams = threading.BoundedSemaphore(MAX_STREAMS)

    def log_message(self, *args):
        pass  # one line per request would drown the terminal

    def send_headers(self, status, content_type, length=None):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Cache-Control", "no-store")
        self.send_header("Content-Security-Policy", CONTENT_POLICY)
        self.send_header("X-Content-Type-Options", "nosniff")
        if length is not None:
            self.send_header("Content-Length", str(length))
        self.end_headers()

    def reply(self, status, content_type, body):
        self.send_headers(status, content_type, len(body))
        self.wfile.write(body)

    def do_GET(self):
        path = self.path.split("?", 1)[0]
        if path == "/":
            self.reply(200, "text/html; charset=utf-8", self.page)
        elif path == "/stream":
            self.stream()
        else:
            self.reply(404, "text/plain; charset=utf-8", b"not found\n")

    def stream(self):
        if not self.streams.acquire(blocking=False):
            self.reply(503, "text/plain; charset=utf-8", b"too many viewers\n")
            return
        number = self.sampler.watch(+1)  # from the next message on: an older one may be stale
        try:
            self.connection.settimeout(SEND_TIMEOUT_SECONDS)
            self.send_headers(200, "text/event-stream")
            self.wfile.write(b"retry: 1000\n\n")  # the page reconnects after a second
            while True:
                number, message = self.sampler.newest_after(number, 1.0)
                # A comment line when idle: finds viewers that have gone.
                self.wfile.write(b"data: " + message + b"\n\n" if message else b":\n\n")
        except (OSError, ValueError):
            pass  # the viewer went away
        finally:
            self.sampler.watch(-1)
            self.streams.release()


class ViewerServer(ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        error = sys.exc_info()[1]
        if not isinstance(error, OSError):
            print("webview: request from %s failed: %r" % (client_address[0], error), file=sys.stderr)


class ViewerServer6(ViewerServer):
    address_family = socket.AF_INET6


class Parser(argparse.ArgumentParser):
    def error(self, message):
        self.exit(2, "webview: %s\n%s" % (message, self.format_usage()))


def parse_options(argv):
    parser = Parser(prog="webview", description=__doc__.splitlines()[0])
    parser.add_argument("--storage", default="trackhost", help="the host's storage (default: trackhost)")
    parser.add_argument("--port", default="8080", help="the port to serve the page on, 0 for any free one "
                                                      "(default: 8080)")
    parser.add_argument("--bind", default="127.0.0.1",
                        help="the address to serve on (default: 127.0.0.1, this machine only)")
    parser.add_argument("--rate", default="60", help="updates per second at most, 1 to 60 (default: 60)")
    options = parser.parse_args(argv)
    for name, low, high in (("port", 0, 65535), ("rate", 1, 60)):
        text = getattr(options, name)
        if not re.fullmatch("[0-9]{1,5}", text) or not low <= int(text) <= high:
            parser.error('invalid value "%s" for --%s (%d to %d)' % (text, name, low, high))
        setattr(options, name, int(text))
    try:
        read_storage.check_name(options.storage)
    except read_storage.StorageError as error:
        parser.error(str(error))
    return options


def stop(signal_number, frame):
    raise KeyboardInterrupt


def main(argv):
    options = parse_options(argv)
    try:
        with open(PAGE_PATH, "rb") as page:
            ViewerHandler.page = page.read()
    except OSError as error:
        print("webview: cannot read the page %s: %s" % (PAGE_PATH, error.strerror), file=sys.stderr)
        return 1
    server_class = ViewerServer6 if ":" in options.bind else ViewerServer
    try:
        server = server_class((options.bind, options.port), ViewerHandler)
    except (OSError, OverflowError) as error:
        print("webview: cannot serve on %s port %d: %s"
              % (options.bind, options.port, getattr(error, "strerror", None) or error), file=sys.stderr)
        return 2
    sampler = ViewerHandler.sampler = Sampler(options.storage, options.rate)
    sampler.start()
    host, port = server.server_address[:2]
    shown = "[%s]" % host if ":" in host else host
    print('webview: storage "%s" on http://%s:%d/ (Ctrl-C ends it)' % (options.storage, shown, port), flush=True)
    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, stop)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
