#!/usr/bin/env python3
"""Prints the trackers (and controllers) of a running trackhost.

An example of a reader in another language: it uses nothing but the Python
standard library and the byte layout in docs/storage.md. It cannot take the
host's locks, so it copies a whole list and keeps the copy only when the
list's sequence word was even before the copy and unchanged after it (the
sequence rule); otherwise it copies again.

    python3 tools/read_storage.py [--storage NAME] [--controllers] [--json]
"""
import argparse
import errno
import json
import mmap
import os
import re
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
MAX_ATTEMPTS = 100000
# Storage names as the host takes them.
VALID_NAME = re.compile(r"[A-Za-z0-9._-]{1,200}\Z")


def word(view, offset):
    return struct.unpack_from("=I", view, offset)[0]


def host_alive(pid):
    try:
        os.kill(pid, 0)
    except OSError as error:
        return error.errno == errno.EPERM  # alive, but another user's
    return pid > 0


def fail(status, message):
    print("read_storage: " + message, file=sys.stderr)
    sys.exit(status)


def attach(name):
    """Maps the storage read-only; exits with status 1 when no host holds it."""
    if not VALID_NAME.match(name) or name in (".", ".."):
        fail(2, "invalid storage name \"%s\" (use 1 to 200 letters, digits, '.', '_' or '-')" % name)
    try:
        fd = os.open("/dev/shm/" + name, os.O_RDONLY)
    except FileNotFoundError:
        fail(1, 'no host holds storage "%s"' % name)
    except PermissionError:
        fail(1, 'no permission to read storage "%s"' % name)
    try:
        if os.fstat(fd).st_size == 0:
            fail(1, 'no host holds storage "%s"' % name)  # a host is still setting it up
        view = mmap.mmap(fd, 0, prot=mmap.PROT_READ)
    finally:
        os.close(fd)
    header = None
    if len(view) >= HEADER.size:
        fields = HEADER.unpack_from(view, 0)
        header = dict(zip(HEADER_FIELDS, fields[1:]), magic=fields[0])
    if (header is None or header["magic"] != MAGIC or header["version"] != LAYOUT_VERSION
            or len(view) < header["total_size"]):
        fail(1, '"%s" is not a trackhost storage of layout version %d' % (name, LAYOUT_VERSION))
    if not host_alive(header["host_pid"]):
        fail(1, 'no host holds storage "%s"' % name)
    return view, header


def copy_list(view, header, kind):
    """A consistent copy of one list's records, by the sequence rule."""
    first = header["tracker_offset" if kind == "trackers" else "controller_offset"]
    size = RECORD_SIZE[kind]
    for _ in range(MAX_ATTEMPTS):
        before = word(view, SEQUENCE_OFFSET[kind])
        if before % 2:
            continue  # a writer holds the list right now
        count = min(word(view, COUNT_OFFSET[kind]), 32)
        data = view[first:first + count * size]
        if word(view, SEQUENCE_OFFSET[kind]) == before:
            return [data[i * size:(i + 1) * size] for i in range(count)]
    fail(1, "the %s kept changing; try again" % kind)


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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--storage", default="trackhost", help="the host's storage name")
    parser.add_argument("--controllers", action="store_true", help="print the controllers too")
    parser.add_argument("--json", action="store_true", help="print JSON like trackview --json")
    args = parser.parse_args()

    view, header = attach(args.storage)
    trackers = [decode_tracker(r) for r in copy_list(view, header, "trackers")]
    controllers = [decode_controller(r) for r in copy_list(view, header, "controllers")]
    if args.json:
        print(json.dumps({"trackers": trackers, "controllers": controllers}, separators=(",", ":")))
        return
    print("storage %s, host process %d: trackers %d, controllers %d"
          % (args.storage, header["host_pid"], len(trackers), len(controllers)))
    for t in trackers:
        print("tracker %2d  x %10.5f  y %10.5f  z %10.5f  azim %10.5f  elev %10.5f  roll %10.5f  time %d.%06d"
              % (t["id"], t["x"], t["y"], t["z"], t["azim"], t["elev"], t["roll"], t["sec"], t["usec"]))
    if args.controllers:
        for c in controllers:
            pressed = [str(b + 1) for b, state in enumerate(c["buttons"]) if state]
            print("controller %2d  buttons %s  valuators %s"
                  % (c["id"], " ".join(pressed) or "none", " ".join("%.3f" % v for v in c["valuators"])))


if __name__ == "__main__":
    main()
