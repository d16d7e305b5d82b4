#!/usr/bin/env python3
"""Prints the trackers (and controllers) of a running trackhost.

An example of a reader in another language: it uses nothing but the Python
standard library and the byte layout in docs/storage.md. It cannot take the
host's locks, so it copies a whole list and keeps the copy only when the
list's sequence word was even before the copy and unchanged after it (the
sequence rule); otherwise it copies again.

    python3 tools/read_storage.py [--storage NAME] [--controllers] [--json]

Other tools import it (tools/webview): Storage opens and checks a block,
copies its lists and reads its update counters; failures raise StorageError.
"""
import argparse
import errno
import json
import os
import pwd
import re
import stat
import struct
import sys

MAGIC = b"TRACKHST"
LAYOUT_VERSION = 1
# The header: 8 magic bytes, then fourteen 32-bit words in host byte order.
HEADER = struct.Struct("=8s14I")
HEADER_FIELDS = ("version", "header_size", "tracker_capacity", "controller_capacity",
                 "tracker_count", "controller_count", "tracker_offset", "controller_offset",
                 "tracker_sequence", "controller_sequence", "host_pid",
                 "counters_offset", "mutex_offset", "total_size")
SEQUENCE_OFFSET = {"trackers": 40, "controllers": 44}
COUNT_OFFSET = {"trackers": 24, "controllers": 28}
RECORD_SIZE = {"trackers": 56, "controllers": 184}
# The counter area holds 32 tracker counters, then 32 controller counters.
MAX_CAPACITY = 32
COUNTERS_SIZE = 4 * 2 * MAX_CAPACITY
LOCKS_SIZE = 128
MAX_ATTEMPTS = 100000
# Storage names as the host takes them.
VALID_NAME = re.compile(r"[A-Za-z0-9._-]{1,200}\Z")
NAME_RULE = "use 1 to 200 letters, digits, '.', '_' or '-'"


class StorageError(Exception):
    """A storage that cannot be read, with the exit status the reader gives."""

    def __init__(self, message, status=1):
        super().__init__(message)
        self.status = status


def not_a_storage(name, reason):
    return StorageError('"%s" is not a trackhost storage of layout version %d (%s)'
                        % (name, LAYOUT_VERSION, reason))


def check_name(name):
    if not VALID_NAME.match(name) or name in (".", ".."):
        raise StorageError('invalid storage name "%s" (%s)' % (name, NAME_RULE), 2)


def layout_fault(header, size):
    """Why the header's layout does not fit a block of `size` bytes, or None."""
    total = header["total_size"]
    if header["version"] != LAYOUT_VERSION:
        return "it says layout version %d" % header["version"]
    if total > size:
        return "it says %d bytes, the block has %d" % (total, size)
    if header["header_size"] != HEADER.size:
        return "a header of %d bytes" % header["header_size"]
    for kind in ("tracker", "controller"):
        if header[kind + "_capacity"] > MAX_CAPACITY:
            return "room for %d %ss" % (header[kind + "_capacity"], kind)
    regions = (("update counters", header["counters_offset"], COUNTERS_SIZE),
               ("locks", header["mutex_offset"], LOCKS_SIZE),
               ("tracker records", header["tracker_offset"],
                header["tracker_capacity"] * RECORD_SIZE["trackers"]),
               ("controller records", header["controller_offset"],
                header["controller_capacity"] * RECORD_SIZE["controllers"]))
    for what, offset, length in regions:
        if offset % 4 or offset < HEADER.size or offset + length > total:
            return "%s at offset %d do not fit its %d bytes" % (what, offset, total)
    return None


def host_alive(pid):
    if pid <= 0 or pid > 0x7FFFFFFF:
        return False
    try:
        os.kill(pid, 0)
    except OSError as error:
        return error.errno == errno.EPERM  # alive, but another user's
    return True


def user_name(uid):
    try:
        return pwd.getpwuid(uid).pw_name
    except KeyError:
        return str(uid)


class Storage:
    """One attached storage block, read through its file descriptor.

    Copies are read with pread rather than through a mapping: a block that
    its owner cuts short then gives a short read, never a bus error."""

    def __init__(self, name):
        check_name(name)
        self.name = name
        try:
            # Non-blocking and without following links: a FIFO or a link
            # planted under the name cannot hang or redirect the reader.
            self.fd = os.open("/dev/shm/" + name, os.O_RDONLY | os.O_NONBLOCK | os.O_NOFOLLOW)
        except FileNotFoundError:
            raise StorageError('no host holds storage "%s"' % name) from None
        except PermissionError:
            raise StorageError('no permission to read storage "%s"' % name) from None
        except OSError as error:
            raise not_a_storage(name, "cannot open it: %s" % error.strerror) from None
        try:
            self._check()
        except BaseException:
            os.close(self.fd)
            raise

    def _check(self):
        facts = os.fstat(self.fd)
        if not stat.S_ISREG(facts.st_mode):
            raise not_a_storage(self.name, "not a regular file")
        if facts.st_size == 0:
            raise StorageError('no host holds storage "%s"' % self.name)  # a host is still sizing it
        if facts.st_size < HEADER.size:
            raise not_a_storage(self.name, "%d bytes, shorter than a header" % facts.st_size)
        self.header = self.read_header()
        if self.header["magic"] != MAGIC:
            raise not_a_storage(self.name, "no TRACKHST at its start")
        fault = layout_fault(self.header, facts.st_size)
        if fault:
            raise not_a_storage(self.name, fault)
        if not host_alive(self.header["host_pid"]):
            raise StorageError('no host holds storage "%s"' % self.name)
        self.warning = self._owner_warning(facts.st_uid)

    def _owner_warning(self, owner):
        """A block whose owner is not the user of the host process it names
        was made by someone else; its content may be anybody's."""
        pid = self.header["host_pid"]
        try:
            host_user = os.stat("/proc/%d" % pid).st_uid
        except OSError:
            return None  # no /proc here, or the process ended meanwhile
        if host_user == owner:
            return None
        return ('storage "%s" belongs to user %s, but its host process %d runs as user %s; '
                "someone else may have made it" % (self.name, user_name(owner), pid, user_name(host_user)))

    def close(self):
        if self.fd >= 0:
            os.close(self.fd)
            self.fd = -1

    def read(self, offset, length):
        data = os.pread(self.fd, length, offset)
        if len(data) != length:
            raise not_a_storage(self.name, "cut short while being read")
        return data

    def word(self, offset):
        return struct.unpack("=I", self.read(offset, 4))[0]

    def read_header(self):
        fields = HEADER.unpack(self.read(0, HEADER.size))
        return dict(zip(HEADER_FIELDS, fields[1:]), magic=fields[0])

    def host_pid(self):
        return self.word(48)

    def host_alive(self):
        return host_alive(self.host_pid())

    def sequences(self):
        return struct.unpack("=2I", self.read(40, 8))

    def counters(self):
        """The update counters: (trackers 1 to 32, controllers 1 to 32)."""
        words = struct.unpack("=64I", self.read(self.header["counters_offset"], COUNTERS_SIZE))
        return words[:MAX_CAPACITY], words[MAX_CAPACITY:]

    def copy_list(self, kind):
        """A consistent copy of one list's records, by the sequence rule."""
        singular = kind[:-1]
        first = self.header[singular + "_offset"]
        capacity = self.header[singular + "_capacity"]
        size = RECORD_SIZE[kind]
        for _ in range(MAX_ATTEMPTS):
            before = self.word(SEQUENCE_OFFSET[kind])
            if before % 2:
                continue  # a writer holds the list right now
            count = min(self.word(COUNT_OFFSET[kind]), capacity)
            data = self.read(first, count * size)
            if self.word(SEQUENCE_OFFSET[kind]) == before:
                return [data[i * size:(i + 1) * size] for i in range(count)]
        raise StorageError("the %s kept changing; try again" % kind)

    def trackers(self):
        return [decode_tracker(r) for r in self.copy_list("trackers")]

    def controllers(self):
        return [decode_controller(r) for r in self.copy_list("controllers")]


def fix(word_bytes, offset, scale):
    """A fixed-point value: signed big-endian 32-bit word divided by scale."""
    return struct.unpack_from(">i", word_bytes, offset)[0] / scale


def decode_tracker(record):
    identity, _, seconds, micros = struct.unpack_from(">IIII", record, 0)
    names = ("x", "y", "z", "azim", "elev", "roll")
    values = {name: fix(record, 20 + 4 * i, 100000.0) for i, name in enumerate(names)}
    return dict(id=identity, **values, sec=seconds, usec=micros)  # the order of trackview --json


def decode_controller(record):
    identity, _, seconds, micros, _, valuators, buttons = struct.unpack_from(">7I", record, 0)
    valuators, buttons = min(valuators, 32), min(buttons, 32)
    bits = record[164:168]
    return dict(id=identity,
                valuators=[fix(record, 32 + 4 * k, 1000.0) for k in range(1, valuators + 1)],
                buttons=[(bits[(b - 1) // 8] >> ((b - 1) % 8)) & 1 for b in range(1, buttons + 1)],
                sec=seconds, usec=micros)


def warn(message):
    print("read_storage: warning: " + message, file=sys.stderr)


def print_storage(args):
    storage = Storage(args.storage)
    try:
        if storage.warning:
            warn(storage.warning)
        trackers, controllers = storage.trackers(), storage.controllers()
    finally:
        storage.close()
    if args.json:
        print(json.dumps({"trackers": trackers, "controllers": controllers}, separators=(",", ":")))
        return
    print("storage %s, host process %d: trackers %d, controllers %d"
          % (args.storage, storage.header["host_pid"], len(trackers), len(controllers)))
    for t in trackers:
        print("tracker %2d  x %10.5f  y %10.5f  z %10.5f  azim %10.5f  elev %10.5f  roll %10.5f  time %d.%06d"
              % (t["id"], t["x"], t["y"], t["z"], t["azim"], t["elev"], t["roll"], t["sec"], t["usec"]))
    if args.controllers:
        for c in controllers:
            pressed = [str(b + 1) for b, state in enumerate(c["buttons"]) if state]
            print("controller %2d  buttons %s  valuators %s"
                  % (c["id"], " ".join(pressed) or "none", " ".join("%.3f" % v for v in c["valuators"])))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--storage", default="trackhost", help="the host's storage name")
    parser.add_argument("--controllers", action="store_true", help="print the controllers too")
    parser.add_argument("--json", action="store_true", help="print JSON like trackview --json")
    args = parser.parse_args()
    try:
        print_storage(args)
        sys.stdout.flush()
    except StorageError as error:
        print("read_storage: %s" % error, file=sys.stderr)
        sys.exit(error.status)
    except BrokenPipeError:
        # Whoever read the output has gone; nothing more to say to it.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        sys.exit(1)
    except OSError as error:
        print('read_storage: cannot read storage "%s": %s' % (args.storage, error.strerror or error), file=sys.stderr)
        sys.exit(1)
    except KeyboardInterrupt:
        sys.exit(1)


if __name__ == "__main__":
    main()
