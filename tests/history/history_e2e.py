#!/usr/bin/python3
"""The event history end to end: the real ostrel on the private bus of dbus-run-session (CTest
runs it as `history_e2e.py PATH_OF_OSTREL`), watching a FIFO whose colours the test switches,
its history read by `ostrel events` and by SQLite as any other program reads it."""

import csv
import io
import json
import os
import subprocess
import sys
import tempfile
import unittest

import dbus

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from ostrel_e2e import (RED, Client, FrameFifo, Programs, decode_jpeg,  # noqa: E402
                        history_rows, picture, wait_until)

OSTREL = None  # the binary under test, from the command line

STILL = picture()
# A red patch inside the east area, clear of the area's edges where the outlines go.
RED_PATCH = picture(patches=[((42, 10, 56, 40), RED)])
WEST = [0.05, 0.1, 0.35, 0.8]
EAST = [0.6, 0.1, 0.35, 0.8]
EAST_FILE = ("OstrelConfig\r\nArea,East\r\nLeft,0.6\r\nWidth,0.35\r\nTop,0.1\r\nHeight,0.8\r\n"
             "DetColor,255\r\nColorThreshold,30\r\nEnd,----\r\n")
COLOR = "ColorDetection"


class History(unittest.TestCase):
    """Each test has a folder of its own for the FIFO, the settings and the histories."""

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="ostrel-history-")
        self.addCleanup(self.dir.cleanup)
        self.data = os.path.join(self.dir.name, "data")
        self.env = dict(os.environ, XDG_DATA_HOME=self.data, QT_QPA_PLATFORM="offscreen",
                        XDG_CONFIG_HOME=os.path.join(self.dir.name, "config"))
        self.fifo = FrameFifo(self.dir.name, 30, first=STILL)
        self.programs = Programs(OSTREL, self.dir.name)
        self.addCleanup(self.fifo.close)
        self.addCleanup(self.programs.stop)

    def start(self, args):
        return self.programs.start(["--source", self.fifo.source()] + args, self.env)

    def folder(self, name):
        return os.path.join(self.data, "Ostrel", name)

    def events(self, *args, none_yet=False):
        """`ostrel events ARGS` without a display or a session bus: its standard output. With
        `none_yet`, "[]" while there is no history to read (status 1)."""
        env = {k: v for k, v in self.env.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                            "DBUS_SESSION_BUS_ADDRESS")}
        done = subprocess.run([OSTREL, "events"] + list(args), env=env, capture_output=True,
                              text=True, timeout=20)
        if none_yet and done.returncode == 1:
            return "[]"
        self.assertEqual(done.returncode, 0, done.stderr)
        return done.stdout

    def flash_red(self, client, unit, expected):
        """Red, then still again: a rise and a fall of the east area's colour."""
        for frame, status in ((RED_PATCH, True), (STILL, False)):
            self.fifo.show([frame])
            expected.append((COLOR, 2, status))
            self.assertTrue(wait_until(lambda: client.detections(unit) == expected, 10),
                            client.detections(unit))

    def test_rows_snapshots_and_the_events_command(self):
        program = self.start([])
        client = Client()
        self.addCleanup(client.close)
        self.assertTrue(program.wait_serving(client.bus))
        unit = client.create()
        client.add(unit, "West", WEST)
        east = client.add(unit, "East", EAST)
        client.set(east, "DetColor", dbus.Int32(0x0000FF))
        client.set(east, "ColorThreshold", dbus.Int32(30))
        expected = []
        self.flash_red(client, unit, expected)
        self.flash_red(client, unit, expected)  # within 5 s: no second snapshot

        folder = self.folder("ostrel")
        self.assertTrue(wait_until(lambda: len(history_rows(folder)) == 4, 10))
        rows = history_rows(folder)
        self.assertEqual([row[:4] for row in rows], [(2, "East", "color", status)
                                                     for status in (1, 0, 1, 0)])
        self.assertEqual([row[4] is not None for row in rows], [True, False, False, False])

        # The snapshot: the frame with both outlines, the rising area's in red.
        width, height, pixel = decode_jpeg(os.path.join(folder, rows[0][4]))
        self.assertEqual((width, height), (64, 48))
        red, green, blue = pixel(49, 6)  # on the east area's top edge
        self.assertTrue(red > 180 and green < 90 and blue < 90, pixel(49, 6))
        red, green, blue = pixel(14, 6)  # on the west area's top edge: yellow
        self.assertTrue(red > 180 and green > 150 and blue < 90, pixel(14, 6))
        self.assertLess(max(pixel(31, 24)), 60, "black between the areas")

        # The command, while the program runs, in every format.
        text = self.events().splitlines()
        self.assertEqual(len(text), 4, text)
        self.assertTrue(all("East" in line and "color" in line for line in text), text)
        table = list(csv.reader(io.StringIO(self.events("--format", "csv"))))
        self.assertEqual(table[0], ["time", "area", "key", "kind", "status", "percent",
                                    "snapshot"])
        self.assertEqual([r[1:5] for r in table[1:]],
                         [["2", "East", "color", s] for s in ("true", "false") * 2])
        listed = json.loads(self.events("--format", "json", "--area", "EAST", "--since", "1h"))
        self.assertEqual([e["status"] for e in listed], [True, False, True, False])
        self.assertEqual(listed[0]["snapshot"], os.path.join(folder, rows[0][4]))
        self.assertTrue(os.path.isfile(listed[0]["snapshot"]))
        self.assertEqual(json.loads(self.events("--format", "json", "--area", "West")), [])
        later = json.loads(self.events("--format", "json", "--since", listed[2]["time"]))
        self.assertEqual(later, listed[2:])

        client.unit(unit, "Release")
        self.assertEqual(program.wait_exit(10), 0)

    def test_headless_without_a_client(self):
        config = os.path.join(self.dir.name, "porch.cfg")
        with open(config, "w", newline="") as file:
            file.write(EAST_FILE.replace("Area,East", "Area,West\r\nLeft,0.05\r\nEnd,--\r\n"
                                         "Area,East"))
        del self.env["DBUS_SESSION_BUS_ADDRESS"]  # no bus: no client can hold a ConUnit
        program = self.start(["--headless", "--config", config])
        self.fifo.show([RED_PATCH])
        rises = lambda: json.loads(self.events("--name", "porch", "--format", "json",
                                               none_yet=True))
        self.assertTrue(wait_until(lambda: rises(), 10), program.output())
        self.assertEqual([(e["area"], e["kind"], e["status"]) for e in rises()],
                         [(2, "color", True)])
        self.assertEqual(program.end(), 0)

    def test_an_unusable_database_is_reported_once_and_detection_goes_on(self):
        config = os.path.join(self.dir.name, "porch.cfg")
        with open(config, "w", newline="") as file:
            file.write(EAST_FILE)
        database = os.path.join(self.folder("porch"), "events.sqlite")
        os.makedirs(self.folder("porch"))
        for damage in ("damaged", "read-only"):
            with open(database, "wb") as file:
                file.write(b"not a database, " * 1024)
            if damage == "read-only":  # a layout version SQLite only reads (root writes any file)
                os.remove(database)
                subprocess.run(["/usr/bin/python3", "-c", "import sqlite3; "
                                "sqlite3.connect(%r).execute('CREATE TABLE t (x)')" % database],
                               check=True)
                with open(database, "r+b") as file:
                    file.seek(18)
                    file.write(b"\x03")
            program = self.start(["--headless", "--config", config])
            client = Client()
            self.addCleanup(client.close)
            self.assertTrue(program.wait_serving(client.bus))
            unit = client.create()
            for frame, status in ((RED_PATCH, True), (STILL, False), (RED_PATCH, True)):
                self.fifo.show([frame])
                self.assertTrue(wait_until(lambda: (COLOR, 1, status) in
                                           client.detections(unit)[-1:], 10), damage)
            self.assertEqual(program.end(), 0)
            reports = [line for line in program.output().splitlines() if "event history" in line]
            self.assertEqual(len(reports), 1, program.output())
            self.assertIn("porch: warning: The event history in %s is off: %s" %
                          (self.folder("porch"), "the database is damaged" if damage == "damaged"
                           else "it cannot be written"), reports[0])


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: history_e2e.py PATH_OF_OSTREL")
    OSTREL = os.path.abspath(sys.argv[1])
    suite = unittest.TestLoader().loadTestsFromTestCase(History)
    sys.exit(0 if unittest.TextTestRunner(verbosity=2).run(suite).wasSuccessful() else 1)
