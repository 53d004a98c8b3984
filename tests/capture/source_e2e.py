#!/usr/bin/python3
"""The video source end to end: the real ostrel program on this session bus, on sources the test
controls (an HTTP camera of its own, a FIFO nobody writes), watched through org.ostrel.Source.

CTest runs it under dbus-run-session with the offscreen platform:

    /usr/bin/python3 source_e2e.py PATH_OF_OSTREL
"""

import os
import signal
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from ostrel_e2e import (HEIGHT, PROPERTIES, ROOT, ROOT_PATH, SOURCE, WIDTH,  # noqa: E402
                        Client, MjpegServer, Program, jpeg_picture, wait_until)

OSTREL = None  # the binary under test, from the command line


class SourceTest(unittest.TestCase):

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

    def states(self):
        return [state for _, state, _ in self.client.source_changes]


class HttpCamera(SourceTest):

    def test_slow_camera_starts_at_once_and_comes_back_after_it_went_away(self):
        # 10 frames a second of 2 KB each: a URI decoder's download buffer would take minutes
        # to fill before the first frame.
        camera = MjpegServer(jpeg_picture("ball", size=2048), fps=10)
        self.addCleanup(camera.stop)
        camera.start()
        self.start(camera.url)
        c = self.client
        self.assertTrue(wait_until(lambda: "playing" in self.states(), 5), self.states())
        first = c.source_changes[0][0]
        self.assertLess(first - camera.accepted[0], 2.0, "first frame after connecting")

        properties = c.call(ROOT_PATH, PROPERTIES, "GetAll", "s", SOURCE)
        self.assertEqual((str(properties["State"]), int(properties["Width"]),
                          int(properties["Height"]), str(properties["Description"])),
                         ("playing", WIDTH, HEIGHT, camera.url))
        self.assertTrue(wait_until(lambda: 7 < float(c.source("FramesPerSecond")) < 13, 8),
                        float(c.source("FramesPerSecond")))
        described = str(c.call(ROOT_PATH, "org.freedesktop.DBus.Introspectable", "Introspect"))
        for interface in (ROOT, SOURCE):
            self.assertIn('<interface name="%s">' % interface, described)

        camera.stop()
        self.assertTrue(wait_until(lambda: self.states()[-1:] == ["lost"], 10), self.states())
        self.assertEqual(str(c.source("State")), "lost")
        self.assertTrue(c.source_changes[-1][2], "the loss says why")
        camera.start()
        self.assertTrue(wait_until(lambda: self.states()[-1:] == ["playing"], 15), self.states())
        self.assertEqual(self.states(), ["playing", "lost", "playing"])


class BlockedSource(SourceTest):

    def test_fifo_nobody_writes_holds_neither_calls_nor_the_end(self):
        fifo = os.path.join(self.dir.name, "camera.fifo")
        os.mkfifo(fifo)
        self.start(fifo)
        c = self.client
        for _ in range(3):
            began = time.monotonic()
            self.assertEqual(str(c.source("State")), "connecting")
            c.call(ROOT_PATH, ROOT, "CreateConUnit")
            self.assertLess(time.monotonic() - began, 1.0, "calls answer while it connects")
            time.sleep(0.2)
        sent = time.monotonic()
        self.program.process.send_signal(signal.SIGTERM)
        self.assertEqual(self.program.wait_exit(5), 0)
        self.assertLess(time.monotonic() - sent, 1.0, "SIGTERM ends it at once")


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: source_e2e.py PATH_OF_OSTREL [TEST_CLASS ...]")
    OSTREL = os.path.abspath(sys.argv[1])
    cases = [case for case in (HttpCamera, BlockedSource)
             if len(sys.argv) == 2 or case.__name__ in sys.argv[2:]]
    loader = unittest.TestLoader()
    suite = unittest.TestSuite(loader.loadTestsFromTestCase(case) for case in cases)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)
