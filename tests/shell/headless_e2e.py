#!/usr/bin/python3
"""Ostrel unattended, end to end: the command line on a terminal without a display, the headless
program as a service on this session bus (two instances side by side, the notify protocol of a
service manager, the end by a signal), and --config in both modes.

CTest runs it under dbus-run-session (a private bus). The headless runs get no DISPLAY,
WAYLAND_DISPLAY or QT_QPA_PLATFORM at all; the window runs are put on the offscreen platform:

    /usr/bin/python3 headless_e2e.py PATH_OF_OSTREL
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

import dbus

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from ostrel_e2e import (BUS_NAME, CONUNIT, WIDTH, WHITE, Client, FrameFifo,  # noqa: E402
                        NotifySocket, Program, picture, wait_until)

OSTREL = None  # the binary under test, from the command line

STILL = picture()
LEFT_WHITE = picture(patches=[((0, 0, WIDTH // 2, 48), WHITE)])
DOOR_FILE = ("OstrelConfig\r\nArea,Door\r\nLeft,0.05\r\nWidth,0.35\r\nTop,0.1\r\nHeight,0.8\r\n"
             "MotionThreshold,50\r\nEnd,----------------------------------------\r\n")
BAD_FILE = "OstrelConfig\r\nArea,Door\r\nMotionSens,plenty\r\n"
FILE_FAILED = "An error occurred while processing the specified file!"
# Enough areas that loading them takes seconds (when the area limit allows as many).
LARGE_LOAD_AREAS = 32768
TEST_PATTERN = "videotestsrc ! video/x-raw,width=64,height=48"


def without_display(**extra):
    """This environment with no display of any kind, plus `extra`."""
    env = {key: value for key, value in os.environ.items()
           if key not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env.update(extra)
    return env


class Folder(unittest.TestCase):
    """A temporary folder per test, with helpers to write files and start the program."""

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="ostrel-headless-")
        self.addCleanup(self.dir.cleanup)
        self.programs = []
        self.addCleanup(self.stop_programs)

    def write(self, name, text):
        path = os.path.join(self.dir.name, name)
        with open(path, "w", newline="") as file:
            file.write(text)
        return path

    def start(self, args, env):
        program = Program(OSTREL, args, os.path.join(self.dir.name, "ostrel%d.log"
                                                     % len(self.programs)), env)
        self.programs.append(program)
        return program

    def stop_programs(self):
        for program in self.programs:
            program.stop()
            output = program.output().strip()
            if output:
                sys.stderr.write("--- ostrel output (%s) ---\n%s\n" % (self.id(), output))

    def end(self, program):
        """SIGTERM; returns the exit status."""
        program.process.send_signal(signal.SIGTERM)
        return program.wait_exit(10)


class CommandLine(unittest.TestCase):

    def run_ostrel(self, *args):
        return subprocess.run([OSTREL] + list(args), env=without_display(), capture_output=True,
                              text=True, timeout=20)

    def test_answers_without_a_display(self):
        shown = self.run_ostrel("--help")
        self.assertEqual((shown.returncode, shown.stderr), (0, ""))
        self.assertIn("--headless", shown.stdout)
        shown = self.run_ostrel("--version")
        self.assertEqual(shown.returncode, 0)
        self.assertRegex(shown.stdout, r"^ostrel \d+\.\d+\.\d+\n$")

        refused = self.run_ostrel("--source", TEST_PATTERN)
        self.assertEqual(refused.returncode, 2)
        self.assertEqual(len(refused.stderr.splitlines()), 1, refused.stderr)
        self.assertIn("--headless", refused.stderr)

        for wrong in (["--frobnicate"], ["stray"], ["--name", ""]):
            refused = self.run_ostrel(*wrong)
            self.assertEqual(refused.returncode, 2, wrong)
            self.assertIn("Usage: ostrel", refused.stderr)


class Headless(Folder):

    def test_a_service_on_the_bus(self):
        fifo = FrameFifo(self.dir.name, 100, first=STILL)
        self.addCleanup(fifo.close)
        notify = NotifySocket(self.dir.name)
        self.addCleanup(notify.close)
        door = self.write("door.cfg", DOOR_FILE)
        # Two instances side by side, each on the bus name of its own --name.
        front = self.start(["--headless", "--name", "front door", "--config", door,
                            "--source", fifo.source()],
                           without_display(NOTIFY_SOCKET=notify.path, WATCHDOG_USEC="100000"))
        second = self.start(["--headless", "--name", "2nd", "--source", TEST_PATTERN],
                            without_display())
        c = Client("org.ostrel.Ostrel.front_door")
        self.addCleanup(c.close)
        other = Client("org.ostrel.Ostrel._2nd")
        self.addCleanup(other.close)
        self.assertTrue(front.wait_serving(c.bus, name=c.bus_name), front.output())
        self.assertTrue(second.wait_serving(c.bus, name=other.bus_name), second.output())
        self.assertFalse(c.bus.name_has_owner(BUS_NAME))

        # The service manager hears: ready once the file is loaded, the status, the watchdog.
        self.assertTrue(notify.wait_for("READY=1"), notify.lines())
        self.assertIn("STATUS=Source connected; 1 area", notify.lines())
        self.assertTrue(notify.wait_for("WATCHDOG=1", count=3), notify.lines())

        unit = c.create()
        self.assertEqual(str(c.get(c.area(unit, 1), "Key")), "Door")
        spare = other.create()
        self.assertEqual(int(other.get(spare, "Count", CONUNIT)), 0)
        other.unit(spare, "Release")

        # Detection with no display: the door's half of the picture flickers.
        fifo.show([LEFT_WHITE, STILL])
        self.assertTrue(wait_until(lambda: c.detections(unit), 10), "no event")
        self.assertEqual(c.detections(unit)[0], ("MotionDetection", 1, True))
        c.add(unit, "Gate")
        self.assertEqual(int(c.get(unit, "Count", CONUNIT)), 2)

        # The last release does not end a headless Ostrel; SIGTERM does, in order.
        c.unit(unit, "Release")
        again = c.create()
        self.assertEqual(int(c.get(again, "Count", CONUNIT)), 2)
        self.assertEqual(self.end(front), 0)
        self.assertIn("STOPPING=1", notify.lines())
        self.assertTrue(second.running())
        self.assertEqual(self.end(second), 0)

    def test_a_signal_in_the_middle_of_a_large_load(self):
        block = ("Area,A%d\r\nLeft,0.1\r\nWidth,0.1\r\nTop,0.1\r\nHeight,0.1\r\n"
                 "End,----------------------------------------\r\n")
        large = self.write("large.cfg", "OstrelConfig\r\n" + "".join(
            block % i for i in range(LARGE_LOAD_AREAS)))
        notify = NotifySocket(self.dir.name)
        self.addCleanup(notify.close)
        program = self.start(["--headless", "--config", large, "--source", TEST_PATTERN],
                             without_display(NOTIFY_SOCKET=notify.path))
        self.assertTrue(notify.wait_for("STATUS=Loading"), program.output())
        self.assertEqual(self.end(program), 0, program.output())
        lines = notify.lines()
        self.assertIn("STOPPING=1", lines)
        self.assertNotIn("READY=1", lines, "the load ran to its end")


class Installed(Folder):

    def test_the_service_unit(self):
        """cmake --install puts the systemd user unit in place, naming the installed binary."""
        prefix = os.path.join(self.dir.name, "prefix")
        subprocess.run(["cmake", "--install", os.path.dirname(OSTREL), "--prefix", prefix],
                       check=True, capture_output=True)
        unit = os.path.join(prefix, "lib", "systemd", "user", "ostrel@.service")
        with open(unit) as file:
            lines = file.read().splitlines()
        self.assertIn("ExecStart=%s --headless --name %%i --config %%E/Ostrel/%%i.cfg"
                      % os.path.join(prefix, "bin", "ostrel"), lines)
        for line in ("Type=notify", "WatchdogSec=30", "Restart=on-failure"):
            self.assertIn(line, lines)
        if shutil.which("systemd-analyze"):
            instance = self.write("ostrel@porch.service", "\n".join(lines) + "\n")
            checked = subprocess.run(["systemd-analyze", "verify", instance],
                                     capture_output=True, text=True)
            self.assertEqual(checked.returncode, 0, checked.stderr)


class Config(Folder):
    """--config with a good and a bad file, in both modes (headless with a good file: above)."""

    def test_good_and_bad_files(self):
        bad = self.write("bad.cfg", BAD_FILE)
        refused = self.start(["--headless", "--config", bad, "--source", TEST_PATTERN],
                             without_display())
        self.assertEqual(refused.wait_exit(20), 1)
        self.assertIn("ostrel bad: error: " + FILE_FAILED, refused.output())

        # With windows: a good file is loaded, a bad one leaves no areas and the program runs on.
        client = Client()
        self.addCleanup(client.close)
        for name, text, count in (("door.cfg", DOOR_FILE, 1), ("bad.cfg", BAD_FILE, 0)):
            program = self.start(["--config", self.write(name, text), "--source", TEST_PATTERN],
                                 dict(os.environ, QT_QPA_PLATFORM="offscreen"))
            self.assertTrue(program.wait_serving(client.bus), program.output())
            unit = client.create()
            self.assertEqual(int(client.get(unit, "Count", CONUNIT)), count, name)
            client.unit(unit, "Release")
            self.assertEqual(program.wait_exit(10), 0)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: headless_e2e.py PATH_OF_OSTREL [TEST_CLASS ...]")
    OSTREL = os.path.abspath(sys.argv[1])
    cases = [case for case in (CommandLine, Headless, Installed, Config)
             if len(sys.argv) == 2 or case.__name__ in sys.argv[2:]]
    loader = unittest.TestLoader()
    suite = unittest.TestSuite(loader.loadTestsFromTestCase(case) for case in cases)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)
