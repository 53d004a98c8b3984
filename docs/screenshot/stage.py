#!/usr/bin/python3
"""Sets the scene of docs/screenshot.png and takes it: the real ostrel on this session bus with
the screenshot plugin loaded, a moving picture from GStreamer's test sources, areas laid over it
by a D-Bus client as any client does. Run by scripts/make-screenshot:

    /usr/bin/python3 stage.py PATH_OF_OSTREL OUTPUT.png
"""

import os
import sys
import tempfile

import dbus

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests",
                                "support"))
from ostrel_e2e import Client, Program, wait_until  # noqa: E402

# A dark picture with a large white ball moving over it and a red patch that stays, 640 x 360.
SOURCE = ("videotestsrc pattern=solid-color foreground-color=0xff1c2a3a "
          "! video/x-raw,width=640,height=360 ! mix. "
          "videotestsrc pattern=ball background-color=0x00000000 "
          "! video/x-raw,format=BGRA,width=320,height=180 ! videoscale "
          "! video/x-raw,width=640,height=360 ! mix. "
          "videotestsrc pattern=solid-color foreground-color=0xffd03030 "
          "! video/x-raw,width=110,height=80 ! mix. "
          "compositor name=mix sink_2::xpos=470 sink_2::ypos=220")
RED = 0x3030D0  # the patch's colour as Ostrel writes colours: 0x00BBGGRR


def main(binary, output):
    output = os.path.abspath(output)
    with tempfile.TemporaryDirectory(prefix="ostrel-screenshot-") as work:
        env = dict(os.environ, QT_QPA_GENERIC_PLUGINS="ostrel-screenshot:" + output)
        program = Program(binary, ["--source", SOURCE], os.path.join(work, "ostrel.log"), env)
        client = Client()
        try:
            if not program.wait_serving(client.bus):
                sys.exit("ostrel did not start:\n" + program.output())
            unit = client.create()
            # Motion over the whole upper part, shown yellow; the red patch's colour, magenta.
            motion = client.add(unit, "Motion", [0.03, 0.05, 0.94, 0.5])
            colour = client.add(unit, "Red light", [0.68, 0.58, 0.24, 0.3])
            for area, measured, unmeasured in ((motion, "Motion", "Color"),
                                               (colour, "Color", "Motion")):
                client.set(area, unmeasured + "Active", dbus.Boolean(False))
                client.set(area, measured + "Threshold", dbus.Int32(0))
                client.set(area, "ShowLabel", dbus.Int32(2))
            client.set(colour, "DetColor", dbus.Int32(RED))
            client.unit(unit, "SelectArea", "v", dbus.Int32(1))
            wait_until(lambda: False, 2.5)  # the ball well inside the area
            if not wait_until(lambda: all(client.get(area, kind + "Status")
                                          for area, kind in ((motion, "Motion"), (colour, "Color"))),
                              10):
                sys.exit("the areas see nothing:\n" + program.output())
            open(output + ".take", "w").close()
            if not wait_until(lambda: os.path.exists(output), 10):
                sys.exit("no screenshot:\n" + program.output())
            client.unit(unit, "Release")
            program.wait_exit()
        finally:
            program.stop()
            client.close()


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: stage.py PATH_OF_OSTREL OUTPUT.png")
    main(*sys.argv[1:])
