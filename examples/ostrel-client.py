#!/usr/bin/python3
"""A small Ostrel automation client.

Creates a ConUnit object (D-Bus starts Ostrel when it is not running), optionally opens a
configuration file, and prints every detection as one line until Ctrl-C, then releases the
object. Needs Debian's python3-dbus and python3-gi:

    /usr/bin/python3 examples/ostrel-client.py [areas.cfg]
"""

import os
import signal
import sys

import dbus
import dbus.mainloop.glib
from gi.repository import GLib

BUS_NAME = "org.ostrel.Ostrel"
ROOT_PATH = "/org/ostrel/Ostrel"
CONUNIT = "org.ostrel.ConUnit"
AREA = "org.ostrel.DetectionArea"


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    root = bus.get_object(BUS_NAME, ROOT_PATH)
    path = root.CreateConUnit(dbus_interface="org.ostrel.Ostrel")
    proxy = bus.get_object(BUS_NAME, path)
    unit = dbus.Interface(proxy, CONUNIT)
    print("ConUnit %s" % path, flush=True)

    try:
        if len(sys.argv) > 1:
            file_name = os.path.abspath(sys.argv[1])
            loaded = unit.OpenFile(file_name)
            print("OpenFile %s: %s" % (file_name, bool(loaded)), flush=True)
        count = proxy.Get(CONUNIT, "Count", dbus_interface=dbus.PROPERTIES_IFACE)
        for number in range(1, int(count) + 1):
            area = bus.get_object(BUS_NAME, unit.Area(dbus.Int32(number)))
            key = area.Get(AREA, "Key", dbus_interface=dbus.PROPERTIES_IFACE)
            print("Area %d: %s" % (number, key), flush=True)
    except dbus.DBusException as error:
        print("%s: %s" % (error.get_dbus_name(), error.get_dbus_message()), file=sys.stderr)
        unit.Release()
        return 1

    def on_motion(index, status):
        print("MotionDetection Index=%d MotionStatus=%s" % (index, bool(status)), flush=True)

    def on_color(index, status):
        print("ColorDetection Index=%d ColorStatus=%s" % (index, bool(status)), flush=True)

    unit.connect_to_signal("MotionDetection", on_motion)
    unit.connect_to_signal("ColorDetection", on_color)

    loop = GLib.MainLoop()
    ostrel_gone = []

    def on_owner_changed(owner):
        if not owner:  # Ostrel ended: the ConUnit went with it
            ostrel_gone.append(True)
            loop.quit()

    bus.watch_name_owner(BUS_NAME, on_owner_changed)
    for signum in (signal.SIGINT, signal.SIGTERM):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signum, loop.quit)
    print("Waiting for detections; Ctrl-C to stop.", flush=True)
    loop.run()

    if not ostrel_gone:
        unit.Release()
        print("Released", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
