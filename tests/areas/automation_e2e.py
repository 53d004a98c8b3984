#!/usr/bin/python3
"""Automation end to end: the real ostrel program on a private session bus (dbus-run-session,
whose activation finds the build tree's service file), driven over D-Bus, watching a FIFO whose
picture the test draws: `automation_e2e.py PATH_OF_OSTREL`."""

import os
import sys
import tempfile
import unittest
from xml.etree import ElementTree

import dbus

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from ostrel_e2e import (BUS_NAME, CONUNIT, FAILED, HEIGHT, RED, WHITE,  # noqa: E402
                        WIDTH, Client, FrameFifo, Program, picture, wait_until)

OSTREL = None  # the binary under test, from the command line
# The interface files as installed, one per interface: <name>.xml
INTERFACES = os.environ.get("OSTREL_DBUS_INTERFACES", "")

FILE_FAILED = "An error occurred while processing the specified file!"
AREA_LIMIT = 4096

MOTION = "MotionDetection"
COLOR = "ColorDetection"

# The pictures: the left half and the right half of the frame change on their own.
STILL = picture()
LEFT_WHITE = picture(patches=[((0, 0, WIDTH // 2, HEIGHT), WHITE)])
RIGHT_RED = picture(patches=[((WIDTH // 2, 0, WIDTH, HEIGHT), RED)])
# Areas inside those halves.
WEST = [0.05, 0.1, 0.35, 0.8]
EAST = [0.6, 0.1, 0.35, 0.8]

class ProgramTest(unittest.TestCase):
    """Each test starts the program on a FIFO source of `fps` frames per second, with a
    configuration directory of its own, and owns a client on the bus."""

    fps = 30

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="ostrel-e2e-")
        self.config = os.path.join(self.dir.name, "config")
        self.client = Client()
        self.assertFalse(self.client.bus.name_has_owner(BUS_NAME), "an Ostrel is on the bus already")
        self.fifo = FrameFifo(self.dir.name, self.fps, first=STILL)
        env = dict(os.environ, XDG_CONFIG_HOME=self.config)
        self.program = Program(OSTREL, ["--source", self.fifo.source()],
                               os.path.join(self.dir.name, "ostrel.log"), env)
        self.addCleanup(self.cleanUp)
        self.assertTrue(self.program.wait_serving(self.client.bus),
                        "the program did not take the bus name:\n" + self.program.output())

    def cleanUp(self):
        self.program.stop()
        self.fifo.close()
        self.client.close()
        output = self.program.output().strip()
        if output:
            sys.stderr.write("--- ostrel output (%s) ---\n%s\n" % (self.id(), output))
        self.dir.cleanup()

    def assertFails(self, call, name, message=None):
        with self.assertRaises(dbus.DBusException) as caught:
            call()
        self.assertEqual(caught.exception.get_dbus_name(), name)
        if message is not None:
            self.assertEqual(caught.exception.get_dbus_message(), message)

    def count(self, unit):
        return int(self.client.get(unit, "Count", CONUNIT))

    def geometry(self, area):
        return [round(float(self.client.get(area, name)), 9)
                for name in ("Left", "Top", "Width", "Height")]

    def areas_file(self, name, count):
        path = os.path.join(self.dir.name, name)
        with open(path, "w") as file:
            file.write("OstrelConfig\n" + "".join("Area,a%d\n" % i for i in range(count)))
        return path

    def wait_for(self, unit, since, expected, timeout=5.0):
        """Waits until the events from `unit` since event `since` are `expected`, and no more."""
        wait_until(lambda: len(self.client.detections(unit, since)) >= len(expected), timeout)
        self.assertEqual(self.client.detections(unit, since), expected)


class WholeProgram(ProgramTest):
    """What only the whole program shows: its own files, windows and interface files, and
    Release ending it in order. (The members' answers and errors are the service's own tests.)"""

    def test_files_windows_interfaces_and_release(self):
        c = self.client
        unit = c.create()
        self.assertTrue(unit.startswith("/org/ostrel/ConUnit/"), unit)
        c.add(unit, "Door")
        gate = c.add(unit, "Gate", [0.9, 0.1, 0.5])
        c.set(gate, "MotionThreshold", dbus.Int32(42))
        c.set(gate, "ShowFrame", dbus.Boolean(False))

        saved = os.path.join(self.dir.name, "areas.cfg")
        self.assertEqual(c.unit(unit, "SaveFile", "s", saved), True)
        self.assertFails(lambda: c.unit(unit, "SaveFile", "s", "/no/such/dir/areas.cfg"),
                         FAILED, FILE_FAILED)
        broken = os.path.join(self.dir.name, "broken.cfg")
        with open(broken, "w") as file:
            file.write("OstrelConfig\nArea,Door\nMotionThreshold,plenty\n")  # a wrong value
        self.assertFails(lambda: c.unit(unit, "OpenFile", "s", broken), FAILED, FILE_FAILED)
        self.assertEqual(c.unit(unit, "Clear"), True)
        self.assertEqual(c.unit(unit, "OpenFile", "s", saved), True)
        loaded = c.area(unit, "gate")
        self.assertEqual((self.count(unit), str(c.get(c.area(unit, 1), "Key"))), (2, "Door"))
        self.assertEqual(self.geometry(loaded), [0.9, 0.1, 0.5, 0.33])
        self.assertEqual((int(c.get(loaded, "MotionThreshold")), bool(c.get(loaded, "ShowFrame"))),
                         (42, False))
        self.check_interface_files()

        for name in ("MonitorVisible", "VideoVisible"):
            shown = bool(c.get(unit, name, CONUNIT))
            c.set(unit, name, dbus.Boolean(not shown), CONUNIT)
            self.assertEqual(bool(c.get(unit, name, CONUNIT)), not shown, name)

        # As many areas as the program holds, painted and measured; beyond that Add and a file
        # are refused and nothing changes.
        full = self.areas_file("full.cfg", AREA_LIMIT)
        self.assertEqual(c.unit(unit, "OpenFile", "s", full), True)
        self.assertFails(lambda: c.add(unit, "One more"), FAILED, "An error occurred while AddArea!")
        self.assertFails(lambda: c.unit(unit, "OpenFile", "s", self.areas_file("over.cfg", AREA_LIMIT + 1)),
                         FAILED, FILE_FAILED)
        frames = len(self.fifo.writes)  # the program goes on taking frames and answering
        self.assertTrue(wait_until(lambda: len(self.fifo.writes) > frames + 3, 5))
        self.assertEqual(self.count(unit), AREA_LIMIT)

        # Release ends the program in order: status 0, its settings written.
        settings = os.path.join(self.config, "Ostrel", "Ostrel.conf")
        if os.path.exists(settings):
            os.remove(settings)
        c.unit(unit, "Release")
        self.assertEqual(self.program.wait_exit(10), 0)
        self.assertFalse(c.bus.name_has_owner(BUS_NAME))
        with open(settings) as file:
            self.assertIn("OstrelLeft=", file.read())

    def check_interface_files(self):
        """The interface files describe every interface served, member for member."""
        c = self.client
        served, paths = {}, ["/"]
        while paths:
            path = paths.pop()
            node = ElementTree.fromstring(str(c.call(path, "org.freedesktop.DBus.Introspectable",
                                                     "Introspect")))
            for interface in node.findall("interface"):
                if interface.get("name").startswith("org.ostrel."):
                    served[interface.get("name")] = members(interface)
            paths += [path.rstrip("/") + "/" + child.get("name") for child in node.findall("node")]
        files = sorted(name[:-len(".xml")] for name in os.listdir(INTERFACES))
        self.assertEqual(files, sorted(served))
        for name in files:
            described = ElementTree.parse(os.path.join(INTERFACES, name + ".xml")).getroot()
            self.assertEqual([i.get("name") for i in described.findall("interface")], [name])
            self.assertEqual(members(described.find("interface")), served[name], name)


class Detections(ProgramTest):
    # A true status that lasts one frame must be shorter than the 50 ms between ticks.
    fps = 100

    def test_events(self):
        c = self.client
        expected = []  # every event this client's ConUnit has sent, in order

        # The left half flickers before the ConUnit exists. The event history holds the timer
        # from the start, so the ConUnit's events come with the running timer's next ticks.
        self.fifo.show([LEFT_WHITE, STILL])
        unit = c.create()
        west = c.add(unit, "West", WEST)
        east = c.add(unit, "East", EAST)
        c.set(west, "MotionThreshold", dbus.Int32(50))
        self.assertTrue(wait_until(lambda: c.detections(unit), 5), "no event within 5 s")
        expected.append((MOTION, 1, True))
        # A still picture: the motion is over.
        self.fifo.show([STILL])
        expected.append((MOTION, 1, False))
        self.wait_for(unit, 0, expected)
        self.assertEqual(bool(c.get(west, "MotionStatus")), False)
        # A flash of one frame, over before the next tick, is a detection too.
        self.fifo.show([LEFT_WHITE] + [STILL] * 1000)
        expected += [(MOTION, 1, True), (MOTION, 1, False)]
        self.wait_for(unit, 0, expected)
        self.fifo.show([STILL])

        # A red patch on the right half: the colour of the east area. (The colour first: on the
        # black picture the default colour, black, would be detected at once.)
        c.set(east, "DetColor", dbus.Int32(0x0000FF))
        c.set(east, "ColorThreshold", dbus.Int32(50))
        self.fifo.show([RIGHT_RED])
        expected.append((COLOR, 2, True))
        self.wait_for(unit, 0, expected)
        self.fifo.show([STILL])
        expected.append((COLOR, 2, False))
        self.wait_for(unit, 0, expected)

        # Calls that raise a box (a wrong header; About, 10,000 times) answer at once, and
        # detection goes on while the boxes stay open (nobody closes them here).
        wrong = os.path.join(self.dir.name, "wrong.cfg")
        with open(wrong, "w") as file:
            file.write("Ostrel\n")
        self.assertEqual((c.unit(unit, "OpenFile", "s", wrong), self.count(unit)), (False, 0))
        self.assertEqual(c.flood(unit, CONUNIT, "About", 10000), 0)
        c.set(c.add(unit, "West", WEST), "MotionThreshold", dbus.Int32(50))
        for frames, status in (([LEFT_WHITE, STILL], True), ([STILL], False)):
            self.fifo.show(frames)
            expected.append((MOTION, 1, status))
            self.wait_for(unit, 0, expected)

        c.unit(unit, "Release")
        self.assertEqual(self.program.wait_exit(10), 0)
        self.assertEqual(c.detections(unit), expected, "no other event")


def members(interface):
    """An interface's members as comparable values: the order of arguments counts, the order of
    members does not; an argument's direction is written out."""
    def form(member):
        default = "in" if member.tag == "method" else "out"
        return (member.tag, tuple(sorted(member.attrib.items())),
                tuple((a.get("name"), a.get("type"), a.get("direction", default))
                      for a in member.findall("arg")),
                tuple(sorted((a.get("name"), a.get("value")) for a in member.findall("annotation"))))
    return sorted(form(member) for member in interface)


class Activation(unittest.TestCase):

    def test_a_client_starts_the_program(self):
        client = Client()
        self.addCleanup(client.close)
        self.assertFalse(client.bus.name_has_owner(BUS_NAME))
        unit = client.create()
        pid = client.owner_pid()
        self.assertEqual(os.path.realpath("/proc/%d/exe" % pid), os.path.realpath(OSTREL))
        self.assertEqual(int(client.get(unit, "Count", CONUNIT)), 0)
        client.unit(unit, "Release")
        self.assertTrue(wait_until(lambda: not client.bus.name_has_owner(BUS_NAME), 10))
        self.assertTrue(wait_until(lambda: ended(pid), 10), "the program still runs")


def ended(pid):
    """The process `pid` has ended (it may wait to be reaped by its parent, the bus daemon)."""
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] == "Z"
    except OSError:
        return True


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: automation_e2e.py PATH_OF_OSTREL [TEST_CLASS ...]")
    OSTREL = os.path.abspath(sys.argv[1])
    # Classes run in the order written: each one's program has ended before the next starts.
    cases = [case for case in (WholeProgram, Detections, Activation)
             if len(sys.argv) == 2 or case.__name__ in sys.argv[2:]]
    loader = unittest.TestLoader()
    suite = unittest.TestSuite(loader.loadTestsFromTestCase(case) for case in cases)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)
