#!/usr/bin/python3
"""The video source end to end: the real ostrel program on a private session bus, on sources the
test controls, watched through org.ostrel.Source: `source_e2e.py PATH_OF_OSTREL`."""

import os
import signal
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from ostrel_e2e import (PROPERTIES, ROOT, ROOT_PATH, SOURCE, Client, Program,  # noqa: E402
                        wait_until)

OSTREL = None  # the binary under test, from the command line


class Source(unittest.TestCase):

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="ostrel-source-")
        self.client = Client()
        self.client.watch_source()
        self.program = None

    def start(self, source):
        self.program = Program(OSTREL, ["--source", source],
                               os.path.join(self.dir.name, "ostrel.log"))
        self.assertTrue(self.program.wait_serving(self.client.bus),
                        "the program did not take the bus name:\n" + self.program.output())

    def tearDown(self):
        if self.program is not None:
            self.program.stop()
        self.client.close()
        self.dir.cleanup()

    def test_fifo_nobody_writes_holds_neither_calls_nor_the_end(self):
        fifo = os.path.join(self.dir.name, "camera.fifo")
        os.mkfifo(fifo)
        self.start(fifo)
        c = self.client
        for _ in range(3):
            began = time.monotonic()
            properties = c.call(ROOT_PATH, PROPERTIES, "GetAll", "s", SOURCE)
            c.call(ROOT_PATH, ROOT, "CreateConUnit")
            self.assertLess(time.monotonic() - began, 1.0, "calls answer while it connects")
            self.assertEqual((str(properties["State"]), str(properties["Description"]),
                              int(properties["Width"])), ("connecting", fifo, 0))
            time.sleep(0.2)
        sent = time.monotonic()
        self.program.process.send_signal(signal.SIGTERM)
        self.assertEqual(self.program.wait_exit(5), 0)
        self.assertLess(time.monotonic() - sent, 1.0, "SIGTERM ends it at once")

    def test_a_source_that_fails_is_announced_and_comes_back(self):
        # It fails after 15 frames each time it is connected.
        self.start("videotestsrc is-live=true ! identity error-after=15")
        changes = lambda: [state for _, state, _ in self.client.source_changes]  # noqa: E731
        self.assertTrue(wait_until(lambda: changes()[:3] == ["playing", "lost", "playing"], 10),
                        changes())
        self.assertTrue(self.client.source_changes[1][2], "the loss says why")


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: source_e2e.py PATH_OF_OSTREL")
    OSTREL = os.path.abspath(sys.argv[1])
    sys.argv[1:] = []
    unittest.main(verbosity=2)
