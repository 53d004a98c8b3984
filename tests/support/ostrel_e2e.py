"""Driving the real ostrel program from outside: a raw video FIFO whose picture the caller
draws in real time, the program started on the session bus, a D-Bus client with the automation
names, and bounded waits on a GLib main loop (so bus signals are dispatched while waiting).

Also an MQTT broker (mosquitto) on a free port of 127.0.0.1 and a subscriber to it.

Used by the end-to-end tests under tests/ and by the benchmarks under bench/. Needs Debian's
python3-dbus and python3-gi (/usr/bin/python3), and mosquitto and mosquitto-clients for the
MQTT parts.
"""

import contextlib
import getpass
import os
import signal
import socket
import sqlite3
import subprocess
import sys
import threading
import time

import dbus
import dbus.mainloop.glib
from gi.repository import GLib

dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)

BUS_NAME = "org.ostrel.Ostrel"
ROOT_PATH = "/org/ostrel/Ostrel"
ROOT = "org.ostrel.Ostrel"
CONUNIT = "org.ostrel.ConUnit"
AREA = "org.ostrel.DetectionArea"
SOURCE = "org.ostrel.Source"
PROPERTIES = "org.freedesktop.DBus.Properties"
FAILED = "org.ostrel.Ostrel.Error.Failed"
NO_AREA = "org.ostrel.Ostrel.Error.NoArea"

WIDTH = 64
HEIGHT = 48

BLACK = (0, 0, 0)
WHITE = (255, 255, 255)
RED = (255, 0, 0)


def _bgrx(colour):
    red, green, blue = colour
    return bytes((blue, green, red, 0))


def picture(background=BLACK, patches=()):
    """One BGRx frame of WIDTH x HEIGHT: `background` and every patch colour are (red, green,
    blue); a patch is ((x0, y0, x1, y1), colour) in pixels, x1 and y1 exclusive."""
    frame = bytearray(_bgrx(background) * (WIDTH * HEIGHT))
    for (x0, y0, x1, y1), colour in patches:
        run = _bgrx(colour) * (x1 - x0)
        for y in range(y0, y1):
            start = (y * WIDTH + x0) * 4
            frame[start:start + len(run)] = run
    return bytes(frame)


def cpu_seconds(pid):
    """CPU time (user and system) process `pid` has used so far."""
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def grid(count):
    """`count` areas side by side in two rows over the whole picture, as [left, top, width,
    height] fractions."""
    columns = (count + 1) // 2
    return [[(i % columns) / columns, (i // columns) / 2, 1 / columns, 0.5] for i in range(count)]


def wait_until(condition, timeout, step=0.005):
    """Runs the GLib main loop until condition() holds, checking every `step` seconds, for at
    most `timeout` seconds. Returns the last value of condition()."""
    if condition():
        return True
    deadline = time.monotonic() + timeout
    loop = GLib.MainLoop()

    def check():
        if condition() or time.monotonic() >= deadline:
            loop.quit()
            return False
        return True

    GLib.timeout_add(max(1, int(step * 1000)), check)
    loop.run()
    return bool(condition())


def history_rows(folder):
    """The rows of the event history in `folder` as (area, key, kind, status, snapshot), oldest
    first, read as any other program reads them; [] while there is none."""
    path = os.path.join(folder, "events.sqlite")
    if not os.path.exists(path):
        return []
    with contextlib.closing(sqlite3.connect("file:%s?mode=ro" % path, uri=True)) as db:
        try:
            return db.execute("SELECT area, area_key, kind, status, snapshot FROM events "
                              "ORDER BY time_ms, id").fetchall()
        except sqlite3.OperationalError:
            return []  # the table is not there yet


def decode_jpeg(path):
    """A JPEG file decoded by GStreamer: (width, height, pixel), pixel(x, y) giving (red, green,
    blue)."""
    import gi
    gi.require_version("Gst", "1.0")
    from gi.repository import Gst
    Gst.init(None)
    pipeline = Gst.parse_launch("filesrc name=file ! jpegdec ! videoconvert "
                                "! video/x-raw,format=RGB ! appsink name=sink")
    pipeline.get_by_name("file").set_property("location", path)
    pipeline.set_state(Gst.State.PLAYING)
    try:
        sample = pipeline.get_by_name("sink").emit("try-pull-sample", 5 * Gst.SECOND)
        if sample is None:
            raise ValueError("%s is no JPEG picture" % path)
        caps = sample.get_caps().get_structure(0)
        width, height = caps.get_value("width"), caps.get_value("height")
        data = sample.get_buffer().extract_dup(0, sample.get_buffer().get_size())
    finally:
        pipeline.set_state(Gst.State.NULL)
    stride = (width * 3 + 3) // 4 * 4

    def pixel(x, y):
        start = y * stride + x * 3
        return tuple(data[start:start + 3])
    return width, height, pixel


class FrameFifo:
    """A FIFO that the program reads raw BGRx frames from, written by a thread at `fps` frames
    per second in real time. The picture is a cycle of frames (one frame: a still picture, two:
    a flicker) that show() replaces. Every write is logged with its time and whether the frame
    differs from the one before it."""

    def __init__(self, directory, fps, first=None):
        self.path = os.path.join(directory, "video.fifo")
        os.mkfifo(self.path)
        self.fps = fps
        self.interval = 1.0 / fps
        # (monotonic time the write began, differs from the frame before, written late by a hold)
        self.writes = []
        self._cond = threading.Condition()
        self._cycle = [first if first is not None else picture()]
        self._position = 0
        self._hold = 0.0
        self._stopping = False
        self._thread = threading.Thread(target=self._run, name="frame-fifo", daemon=True)
        self._thread.start()

    def source(self):
        """The --source launch line that reads this FIFO."""
        return ("filesrc location=%s ! rawvideoparse width=%d height=%d format=bgrx framerate=%d/1"
                % (self.path, WIDTH, HEIGHT, self.fps))

    def show(self, frames, hold=0.0):
        """From the next frame on, writes `frames` over and over. `hold` seconds are added before
        that frame (shifts the frame grid). Returns the number the first of them will have in
        `writes`."""
        with self._cond:
            self._cycle = list(frames)
            self._position = 0
            self._hold += hold
            self._cond.notify_all()
            return len(self.writes) + (1 if self._writing else 0)

    def written(self, number, timeout=5.0):
        """The time the write of frame `number` began, once it is written; None when it was not
        within `timeout`."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while len(self.writes) <= number:
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    return None
                self._cond.wait(remaining)
            return self.writes[number][0]

    def close(self):
        """Stops the writer; call it once the program has ended."""
        with self._cond:
            self._stopping = True
            self._cond.notify_all()
        # A writer still waiting for the program to open the FIFO is let through, and one that
        # waits for room in the pipe gets it.
        try:
            reader = os.open(self.path, os.O_RDONLY | os.O_NONBLOCK)
        except OSError:
            reader = None
        deadline = time.monotonic() + 2.0
        while self._thread.is_alive() and time.monotonic() < deadline:
            for fd in (reader, self._keeper):
                try:
                    if fd is not None:
                        os.read(fd, 1 << 16)
                except OSError:
                    pass
            self._thread.join(0.01)
        if reader is not None:
            os.close(reader)
        if self._keeper is not None:
            os.close(self._keeper)
            self._keeper = None

    _writing = False
    _keeper = None

    def _run(self):
        try:
            fd = os.open(self.path, os.O_WRONLY)  # waits until the program opens the FIFO
        except OSError:
            return
        # The program opens the FIFO twice: GStreamer starts and stops the source once to learn
        # whether it can seek, then starts it for good. A reader of our own (that never reads)
        # keeps the FIFO open in between, so that a frame written then waits in the pipe rather
        # than failing with EPIPE, after which the program's second open finds no writer.
        self._keeper = os.open(self.path, os.O_RDONLY | os.O_NONBLOCK)
        previous = None
        due = time.monotonic()
        try:
            while True:
                held = False
                with self._cond:
                    while not self._stopping:
                        if self._hold:
                            due = max(due, time.monotonic()) + self._hold
                            self._hold = 0.0
                            held = True
                        remaining = due - time.monotonic()
                        if remaining <= 0:
                            break
                        self._cond.wait(remaining)
                    if self._stopping:
                        return
                    frame = self._cycle[self._position % len(self._cycle)]
                    self._position += 1
                    self._writing = True
                start = time.monotonic()  # the program cannot have the frame before this
                view = memoryview(frame)
                while view:
                    view = view[os.write(fd, view):]
                now = time.monotonic()
                with self._cond:
                    self.writes.append((start, frame != previous, held))
                    self._writing = False
                    self._cond.notify_all()
                previous = frame
                due += self.interval
                if due < now - self.interval:
                    due = now  # fell behind (the reader stalled): no burst to catch up
        except OSError:
            pass
        finally:
            os.close(fd)


class Program:
    """The ostrel binary started by the caller, its output kept in a log file."""

    def __init__(self, binary, args, log_path, env=None):
        self.log_path = log_path
        self._log = open(log_path, "wb")
        self.process = subprocess.Popen([binary] + list(args), stdout=self._log,
                                        stderr=subprocess.STDOUT, env=env)

    def running(self):
        return self.process.poll() is None

    def output(self):
        with open(self.log_path, "rb") as log:
            return log.read().decode("utf-8", "replace")

    def wait_serving(self, bus, timeout=15.0, name=BUS_NAME):
        """True once the program owns the bus name; False when it ended or did not in time.
        Asks NameHasOwner, which never starts a program by activation."""
        return wait_until(lambda: not self.running() or bus.name_has_owner(name), timeout,
                          step=0.02) and self.running()

    def wait_exit(self, timeout=10.0):
        """The exit status, or None while it still runs after `timeout` seconds."""
        wait_until(lambda: not self.running(), timeout, step=0.01)
        return self.process.poll()

    def end(self, timeout=10.0):
        """Sends SIGTERM; the exit status, or None while it still runs after `timeout`."""
        self.process.send_signal(signal.SIGTERM)
        return self.wait_exit(timeout)

    def stop(self):
        if self.running():
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self._log.close()


class Programs:
    """The programs one test starts, each with its log in `directory`. stop() ends those still
    running and writes every program's output on standard error."""

    def __init__(self, binary, directory):
        self.binary = binary
        self.directory = directory
        self.started = []

    def start(self, args, env):
        log = os.path.join(self.directory, "ostrel%d.log" % len(self.started))
        self.started.append(Program(self.binary, args, log, env))
        return self.started[-1]

    def stop(self):
        for program in self.started:
            program.stop()
            sys.stderr.write("--- ostrel output ---\n%s\n" % program.output().strip())


class Client:
    """A D-Bus client of the automation interface, with explicit signatures (no
    introspection), that records every detection it receives."""

    def __init__(self, bus_name=BUS_NAME):
        self.bus_name = bus_name
        # A connection of its own, which the client may close without the process ending.
        self.bus = dbus.SessionBus(private=True)
        self.bus.set_exit_on_disconnect(False)
        self.events = []  # (monotonic time, object path, member, index, status)
        self.bus.add_signal_receiver(self._on_signal, dbus_interface=CONUNIT,
                                     member_keyword="member", path_keyword="path")

    def _on_signal(self, index, status, member=None, path=None):
        self.events.append((time.monotonic(), str(path), str(member), int(index), bool(status)))

    def detections(self, path, since=0):
        """(member, index, status) of the events from the ConUnit at `path`, from event number
        `since` on."""
        return [(member, index, status) for _, p, member, index, status in self.events[since:]
                if p == path]

    def call(self, path, interface, member, signature="", *args):
        return self.bus.call_blocking(self.bus_name, path, interface, member, signature, args,
                                      timeout=15)

    def flood(self, path, interface, member, count, timeout=60.0):
        """Sends `count` calls of `member` (no arguments) at once, then waits for every answer.
        Returns the number of calls that did not succeed."""
        answers = []
        for _ in range(count):
            self.bus.call_async(self.bus_name, path, interface, member, "", (),
                                lambda *_: answers.append(True), lambda _: answers.append(False),
                                timeout=timeout)
        wait_until(lambda: len(answers) >= count, timeout, step=0.05)
        return count - answers.count(True)

    def create(self):
        return str(self.call(ROOT_PATH, ROOT, "CreateConUnit"))

    def unit(self, path, member, signature="", *args):
        return self.call(path, CONUNIT, member, signature, *args)

    def add(self, unit, key, geometry=()):
        return str(self.unit(unit, "Add", "sad", key, dbus.Array(geometry, signature="d")))

    def area(self, unit, index):
        value = dbus.Int32(index) if isinstance(index, int) else dbus.String(index)
        return str(self.unit(unit, "Area", "v", value))

    def get(self, path, name, interface=AREA):
        return self.call(path, PROPERTIES, "Get", "ss", interface, name)

    def source(self, name):
        """A property of org.ostrel.Source."""
        return self.call(ROOT_PATH, PROPERTIES, "Get", "ss", SOURCE, name)

    def watch_source(self):
        """Records every StateChanged of org.ostrel.Source in `source_changes` as (monotonic
        time, state, message)."""
        self.source_changes = []
        self.bus.add_signal_receiver(
            lambda state, message: self.source_changes.append(
                (time.monotonic(), str(state), str(message))),
            dbus_interface=SOURCE, signal_name="StateChanged")

    def set(self, path, name, value, interface=AREA):
        self.call(path, PROPERTIES, "Set", "ssv", interface, name, value)

    def owner_pid(self):
        return int(self.bus.call_blocking("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                          "org.freedesktop.DBus", "GetConnectionUnixProcessID",
                                          "s", (self.bus_name,)))

    def close(self):
        self.bus.close()


class NotifySocket:
    """A datagram socket in `directory` that takes a program's service notifications (give the
    program NOTIFY_SOCKET=path), read at once by a thread as a service manager does: a sender
    blocks once a few messages wait unread."""

    def __init__(self, directory):
        self.path = os.path.join(directory, "notify.socket")
        self._socket = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self._socket.bind(self.path)
        self.lines = []  # every "KEY=value" line received, in order
        threading.Thread(target=self._run, name="notify-socket", daemon=True).start()

    def _run(self):
        try:
            while True:
                self.lines += self._socket.recv(4096).decode("utf-8", "replace").split("\n")
        except OSError:
            pass  # closed

    def wait_for(self, prefix, count=1, timeout=15.0):
        """True once `count` lines that start with `prefix` have arrived."""
        return wait_until(lambda: sum(l.startswith(prefix) for l in self.lines) >= count,
                          timeout, step=0.01)

    def close(self):
        self._socket.shutdown(socket.SHUT_RDWR)
        self._socket.close()


def free_port():
    """A TCP port of 127.0.0.1 that nothing listens on just now."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Broker:
    """A mosquitto broker of its own on a free port of 127.0.0.1, without persistence (a
    restart forgets every retained message). With `users` ({name: password}) only they may
    connect."""

    def __init__(self, directory, users=None):
        self.process = None
        self.port = free_port()
        self.log_path = os.path.join(directory, "broker.log")
        self.config = os.path.join(directory, "broker.conf")
        self.login = ["-u", "tester", "-P", "tester"] if users else []
        # Started by root, mosquitto would become another user that cannot read our files.
        lines = ["listener %d 127.0.0.1" % self.port, "user " + getpass.getuser()]
        if users:
            self.passwords = os.path.join(directory, "broker.passwd")
            self.set_users(users)
            lines += ["allow_anonymous false", "password_file " + self.passwords]
        else:
            lines += ["allow_anonymous true"]
        with open(self.config, "w") as config:
            config.write("\n".join(lines) + "\n")
        self.start()

    def url(self, user=None):
        return "mqtt://%s127.0.0.1:%d" % (user + "@" if user else "", self.port)

    def set_users(self, users):
        """Replaces the password file; a running broker reads it again (SIGHUP)."""
        open(self.passwords, "w").close()
        for user, password in dict(users, tester="tester").items():
            subprocess.run(["mosquitto_passwd", "-b", self.passwords, user, password], check=True)
        if self.process is not None and self.process.poll() is None:
            self.process.send_signal(signal.SIGHUP)

    def start(self):
        log = open(self.log_path, "ab")
        self.process = subprocess.Popen(["mosquitto", "-c", self.config], stdout=log,
                                        stderr=subprocess.STDOUT)
        log.close()
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), 0.2).close()
                return
            except OSError:
                time.sleep(0.02)
        raise RuntimeError("mosquitto did not start:\n" + self.output())

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(5)

    def output(self):
        with open(self.log_path, "rb") as log:
            return log.read().decode("utf-8", "replace")

    def publish(self, topic, payload, retain=False):
        subprocess.run(["mosquitto_pub", "-h", "127.0.0.1", "-p", str(self.port), "-q", "1",
                        "-t", topic, "-m", payload] + self.login + (["-r"] if retain else []),
                       check=True, timeout=10)


class Subscriber:
    """mosquitto_sub on every topic of `broker`: each message as (time, retained, topic,
    payload), retained ones first as the broker kept them."""

    def __init__(self, broker, topic="#"):
        self.messages = []
        self.process = subprocess.Popen(
            ["mosquitto_sub", "-h", "127.0.0.1", "-p", str(broker.port), "-q", "1", "-t", topic,
             "-F", "%r\t%t\t%p"] + broker.login, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        threading.Thread(target=self._read, name="mqtt-subscriber", daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            retained, topic, payload = line.decode("utf-8", "replace").rstrip("\n").split("\t", 2)
            self.messages.append((time.monotonic(), retained == "1", topic, payload))

    def latest(self, topic):
        """The last payload on `topic`, or None."""
        for _, _, t, payload in reversed(self.messages):
            if t == topic:
                return payload
        return None

    def wait_for(self, topic, payload, timeout=10.0, since=0):
        """True once `payload` has arrived on `topic` as message number `since` or later."""
        return wait_until(lambda: any(t == topic and p == payload
                                      for _, _, t, p in self.messages[since:]), timeout)

    def close(self):
        self.process.terminate()
        self.process.wait(5)
