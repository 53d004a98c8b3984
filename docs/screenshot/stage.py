#!/usr/bin/python3
"""Sets the scenes of docs/screenshot.png and docs/history.png and takes them: the real ostrel on
this session bus with the screenshot plugin loaded, a moving picture from GStreamer's test
sources, areas laid over it by a D-Bus client as any client does. For the History window the
program watches for a few minutes first, so that its charts and event list have something to
show. Run by scripts/make-screenshot:

    /usr/bin/python3 stage.py PATH_OF_OSTREL DOCS_FOLDER
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


HISTORY_SECONDS = 180
# The History window shown at 900 x 820 pixels (15 twips a pixel).
HISTORY_SETTINGS = ("[Settings]\nHistoryVisible=True\nHistoryLeft=0\nHistoryTop=0\n"
                    "HistoryWidth=13500\nHistoryHeight=12300\n")


def take(program, output, window=""):
    """Asks the plugin for a picture of `window` (an object name; the main window when empty)."""
    with open(output + ".take", "w") as request:
        request.write(window)
    if not wait_until(lambda: os.path.exists(output), 10):
        sys.exit("no screenshot:\n" + program.output())


def run(binary, output, scene, env=None):
    """Runs ostrel with the plugin writing `output`; scene(program, client, unit) sets the scene
    and takes the picture."""
    with tempfile.TemporaryDirectory(prefix="ostrel-screenshot-") as work:
        env = dict(env or os.environ, QT_QPA_GENERIC_PLUGINS="ostrel-screenshot:" + output,
                   XDG_DATA_HOME=os.path.join(work, "data"))
        program = Program(binary, ["--source", SOURCE], os.path.join(work, "ostrel.log"), env)
        client = Client()
        try:
            if not program.wait_serving(client.bus):
                sys.exit("ostrel did not start:\n" + program.output())
            unit = client.create()
            scene(program, client, unit)
            client.unit(unit, "Release")
            program.wait_exit()
        finally:
            program.stop()
            client.close()


def main_window(program, client, unit, output):
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
    take(program, output)


def history_window(program, client, unit, output):
    # The ball passes through both areas now and then (motion, and less of the dark background:
    # the door's colour is that background); the red light's threshold moves now and then.
    door = client.add(unit, "Door", [0.03, 0.05, 0.45, 0.5])
    light = client.add(unit, "Red light", [0.68, 0.58, 0.24, 0.3])
    client.set(door, "MotionThreshold", dbus.Int32(3))
    client.set(door, "DetColor", dbus.Int32(0x3A2A1C))
    client.set(door, "ColorThreshold", dbus.Int32(97))
    client.set(door, "ColorEvent", dbus.Boolean(False))  # its line only: the dips are many
    client.set(light, "DetColor", dbus.Int32(RED))
    client.set(light, "MotionThreshold", dbus.Int32(5))
    for second in range(HISTORY_SECONDS):
        if second % 30 == 0:
            client.set(light, "ColorThreshold", dbus.Int32(60 if second % 60 else 40))
        wait_until(lambda: False, 1)
    take(program, output, "frmHistory")


def main(binary, docs):
    docs = os.path.abspath(docs)
    run(binary, os.path.join(docs, "screenshot.png"),
        lambda *scene: main_window(*scene, os.path.join(docs, "screenshot.png")))
    with tempfile.TemporaryDirectory(prefix="ostrel-settings-") as config:
        os.makedirs(os.path.join(config, "Ostrel"))
        with open(os.path.join(config, "Ostrel", "Ostrel.conf"), "w") as settings:
            settings.write(HISTORY_SETTINGS)
        run(binary, os.path.join(docs, "history.png"),
            lambda *scene: history_window(*scene, os.path.join(docs, "history.png")),
            dict(os.environ, XDG_CONFIG_HOME=config))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: stage.py PATH_OF_OSTREL DOCS_FOLDER")
    main(*sys.argv[1:])
