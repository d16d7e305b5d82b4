"""read_storage.py against crafted blocks and special files in /dev/shm: every fault is one line on standard error
and status 1, never a traceback or a hang."""
import json
import os
import subprocess
import sys
import unittest

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools")
sys.path.insert(0, TOOLS)
import read_storage  # noqa: E402

LAYOUT = dict(version=1, header_size=64, tracker_capacity=32, controller_capacity=32, tracker_count=2,
              controller_count=0, tracker_offset=448, controller_offset=2240, tracker_sequence=0,
              controller_sequence=0, host_pid=os.getpid(), counters_offset=64, mutex_offset=320, total_size=8128)


def block(magic=b"TRACKHST", size=8128, **changes):
    fields = dict(LAYOUT, **changes)
    data = bytearray(read_storage.HEADER.pack(magic, *(fields[f] for f in read_storage.HEADER_FIELDS)))
    return bytes(data + bytes(max(0, size - len(data))))[:size]


class ReadStorage(unittest.TestCase):
    name = "zt-pyreader-%d" % os.getpid()
    path = "/dev/shm/" + name

    def tearDown(self):
        subprocess.run(["rm", "-rf", self.path])

    def run_reader(self, *options, data=None, name=None):
        if data is not None:
            with open(self.path, "wb") as out:
                out.write(data)
        return subprocess.run([sys.executable, os.path.join(TOOLS, "read_storage.py"), "--storage", name or self.name]
                              + list(options), capture_output=True, text=True, timeout=20)

    def expect_refused(self, reason, data=None):
        result = self.run_reader("--json", data=data)
        self.assertEqual((1, "", 'read_storage: "%s" is not a trackhost storage of layout version 1 (%s)\n'
                          % (self.name, reason)), (result.returncode, result.stdout, result.stderr))

    def test_a_header_that_does_not_fit_the_block_is_refused(self):
        cases = [
            (block(size=20), "20 bytes, shorter than a header"),
            (block(magic=b"TRACKHS\0"), "no TRACKHST at its start"),
            (block(version=2), "it says layout version 2"),
            (block(total_size=1 << 20), "it says 1048576 bytes, the block has 8128"),
            (block(header_size=32), "a header of 32 bytes"),
            (block(controller_capacity=33), "room for 33 controllers"),
            (block(counters_offset=66), "update counters at offset 66 do not fit its 8128 bytes"),
            (block(mutex_offset=8100), "locks at offset 8100 do not fit its 8128 bytes"),
            (block(tracker_offset=0xFFFFFFFC), "tracker records at offset 4294967292 do not fit its 8128 bytes"),
            (block(total_size=4000), "controller records at offset 2240 do not fit its 4000 bytes"),
        ]
        for data, reason in cases:
            with self.subTest(reason):
                self.expect_refused(reason, data)

    def test_no_host_a_block_being_sized_and_a_bad_name_are_named(self):
        no_host = (1, 'read_storage: no host holds storage "%s"\n' % self.name)
        bad = (2, "read_storage: invalid storage name \"../x\" (use 1 to 200 letters, digits, '.', '_' or '-')\n")
        for name, data, expected in [(None, None, no_host), (None, b"", no_host), ("../x", None, bad)]:
            result = self.run_reader(data=data, name=name)
            self.assertEqual(expected, (result.returncode, result.stderr))

    def test_special_files_are_refused_at_once(self):  # a FIFO would block an ordinary open
        for make, reason in [(os.mkfifo, "not a regular file"), (os.mkdir, "not a regular file"),
                             (lambda path: os.symlink("/etc/passwd", path),
                              "cannot open it: Too many levels of symbolic links")]:
            with self.subTest(reason):
                make(self.path)
                self.expect_refused(reason)
                self.tearDown()

    def test_counts_beyond_the_capacity_read_only_the_capacity(self):
        result = self.run_reader("--json", data=block(tracker_count=0xFFFFFFFF, tracker_capacity=3))
        self.assertEqual(0, result.returncode, result.stderr)
        self.assertEqual(3, len(json.loads(result.stdout)["trackers"]))

    def test_a_block_not_owned_by_its_hosts_user_is_named(self):  # its header names a live process of another user
        root = os.getuid() == 0
        pid = os.getpid() if root else 1
        self.run_reader(data=block(host_pid=pid))
        if root:
            os.chown(self.path, 65534, -1)
        result = self.run_reader()
        self.assertEqual((0, 'read_storage: warning: storage "%s" belongs to user %s, but its host process %d runs as '
                          "user root; someone else may have made it\n"
                          % (self.name, read_storage.user_name(65534 if root else os.getuid()), pid)),
                         (result.returncode, result.stderr))


if __name__ == "__main__":
    unittest.main(verbosity=2)
