#!/usr/bin/python3
"""The MQTT link end to end: the real headless program publishing to a mosquitto broker that
the test starts on a free port of 127.0.0.1, watching a FIFO whose picture the test draws.
CTest runs it under dbus-run-session: `mqtt_e2e.py PATH_OF_OSTREL`."""

import json
import os
import signal
import sys
import tempfile
import unittest

import dbus

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from ostrel_e2e import (HEIGHT, RED, WHITE, WIDTH, Broker, Client, FrameFifo,  # noqa: E402
                        Program, Subscriber, picture, wait_until)

OSTREL = None  # the binary under test, from the command line

STILL = picture()
LEFT_WHITE = picture(patches=[((0, 0, WIDTH // 2, HEIGHT), WHITE)])
RIGHT_RED = picture(patches=[((WIDTH // 2, 0, WIDTH, HEIGHT), RED)])
RIGHT_GREEN = picture(patches=[((WIDTH // 2, 0, WIDTH, HEIGHT), (0, 255, 0))])
END = "End,----------------------------------------\r\n"
AREAS = ("OstrelConfig\r\n"
         "Area,Front Door\r\nLeft,0.05\r\nWidth,0.35\r\nTop,0.1\r\nHeight,0.8\r\n"
         "MotionThreshold,50\r\n" + END +
         "Area,Lamp\r\nLeft,0.6\r\nWidth,0.35\r\nTop,0.1\r\nHeight,0.8\r\n"
         "DetColor,255\r\nColorThreshold,50\r\n" + END)
ROOT = "ostrel/cam_1"
DOOR = ROOT + "/area/front_door/"
LAMP = ROOT + "/area/lamp/"


class MqttLink(unittest.TestCase):
    """Each test has a folder, a broker and a FIFO of its own."""

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="ostrel-mqtt-")
        self.addCleanup(self.dir.cleanup)
        self.fifo = FrameFifo(self.dir.name, 30, first=STILL)
        self.addCleanup(self.fifo.close)
        self.areas = os.path.join(self.dir.name, "areas.cfg")
        with open(self.areas, "w", newline="") as file:
            file.write(AREAS)
        self.program = None

    def broker(self, users=None):
        broker = Broker(self.dir.name, users)
        self.addCleanup(lambda: sys.stderr.write("--- broker ---\n%s\n" % broker.output()))
        self.addCleanup(broker.stop)
        return broker

    def subscribe(self, broker):
        subscriber = Subscriber(broker)
        self.addCleanup(subscriber.close)
        return subscriber

    def start(self, url, **env):
        environment = dict(os.environ, **env)
        for variable in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            environment.pop(variable, None)
        self.program = Program(OSTREL, ["--headless", "--name", "Cam 1", "--config", self.areas,
                                        "--source", self.fifo.source(), "--mqtt", url],
                               os.path.join(self.dir.name, "ostrel.log"), environment)
        self.addCleanup(self.stop_program)
        return self.program

    def stop_program(self):
        self.program.stop()
        sys.stderr.write("--- ostrel output ---\n%s\n" % self.program.output().strip())

    def test_areas_as_home_assistant_sensors(self):
        broker = self.broker()
        # Left over from an area that went while this Ostrel was away: cleared when it comes.
        ghosts = ["homeassistant/binary_sensor/cam_1/ghost_motion/config",
                  ROOT + "/area/ghost/motion"]
        for ghost in ghosts:
            broker.publish(ghost, "ON", retain=True)
        sub = self.subscribe(broker)
        self.start(broker.url())
        self.assertTrue(sub.wait_for(ROOT + "/status", "online"))
        self.assertTrue(wait_until(lambda: all(sub.latest(g) == "" for g in ghosts), 10))

        def configs():
            latest = {t: p for _, _, t, p in sub.messages
                      if t.startswith("homeassistant/") and t.endswith("/config")}
            return {t: p for t, p in latest.items() if p}
        self.assertTrue(wait_until(lambda: len(configs()) == 8, 10), configs())
        parsed = {topic: json.loads(payload) for topic, payload in configs().items()}
        self.assertEqual(len({c["unique_id"] for c in parsed.values()}), 8)
        for topic, config in parsed.items():
            self.assertEqual(config["availability_topic"], ROOT + "/status")
            self.assertEqual(config["device"]["identifiers"], ["ostrel_cam_1"])
            self.assertTrue(config["state_topic"].startswith((DOOR, LAMP)), config)
            self.assertEqual(config.get("device_class"),
                             "motion" if config["state_topic"].endswith("/motion") else None)
            self.assertEqual(config.get("unit_of_measurement"),
                             "%" if topic.startswith("homeassistant/sensor/") else None)

        # The colour of the right half, with no D-Bus client at all.
        self.assertTrue(sub.wait_for(LAMP + "color", "OFF"))
        self.fifo.show([RIGHT_RED])
        self.assertTrue(sub.wait_for(LAMP + "color", "ON"))
        since = len(sub.messages)
        self.fifo.show([RIGHT_GREEN])
        self.assertTrue(sub.wait_for(LAMP + "color", "OFF", since=since))
        self.assertTrue(sub.wait_for(LAMP + "color_percent", "0"))

        # Commands: the bus reads back what they set, with the bus's limits; a bad payload
        # changes nothing.
        client = Client("org.ostrel.Ostrel.Cam_1")
        self.addCleanup(client.close)
        unit = client.create()
        door = client.area(unit, "Front Door")
        threshold = DOOR + "set/MotionThreshold"
        broker.publish(threshold, "150")
        self.assertTrue(wait_until(lambda: int(client.get(door, "MotionThreshold")) == 100, 10))
        broker.publish(threshold, "fifty")
        broker.publish(DOOR + "set/ColorActive", "off")
        self.assertTrue(wait_until(lambda: not client.get(door, "ColorActive"), 10))
        self.assertIn('ignored the command MotionThreshold = "fifty"', self.program.output())
        self.assertEqual(int(client.get(door, "MotionThreshold")), 100)

        # A removed area takes its entities along.
        client.unit(unit, "Remove", "v", dbus.String("Front Door"))
        door_configs = [t for t in parsed if "/front_door_" in t]
        self.assertEqual(len(door_configs), 4)
        self.assertTrue(wait_until(lambda: all(sub.latest(t) == "" for t in door_configs), 10))
        self.assertNotEqual(sub.latest(LAMP + "color"), "")

        # A crash leaves the last will.
        self.program.process.send_signal(signal.SIGKILL)
        self.assertTrue(sub.wait_for(ROOT + "/status", "offline"))

    def test_broker_restarted_and_wrong_password(self):
        broker = self.broker(users={"cam": "right"})
        program = self.start(broker.url("cam"), OSTREL_MQTT_PASSWORD="wrong")
        refused = "the broker refused the connection: Connection Refused: not authorised;"
        self.assertTrue(wait_until(lambda: refused in program.output(), 10), program.output())
        # TLS to a broker that speaks none fails as clearly.
        tls = Program(OSTREL, ["--headless", "--name", "tls", "--source", "videotestsrc",
                               "--mqtt", "mqtts://127.0.0.1:%d" % broker.port],
                      os.path.join(self.dir.name, "tls.log"), dict(os.environ))
        self.addCleanup(tls.stop)
        self.assertTrue(wait_until(lambda: "tls: warning: MQTT: cannot connect to mqtts://"
                                   "127.0.0.1:%d: TLS failed" % broker.port in tls.output(), 10),
                        tls.output())
        broker.set_users({"cam": "wrong"})  # the retry gets in
        sub = self.subscribe(broker)
        self.assertTrue(sub.wait_for(ROOT + "/status", "online", timeout=15))
        self.assertEqual(program.output().count(refused), 1, "the same failure was repeated")

        # Away: the newest state waits, and comes with everything else once the broker is back
        # (it kept nothing: no persistence).
        sub.close()
        broker.stop()
        self.fifo.show([LEFT_WHITE, STILL])
        self.assertTrue(wait_until(lambda: "lost the connection" in program.output(), 10))
        wait_until(lambda: False, 0.5)
        broker.start()
        sub = self.subscribe(broker)
        self.assertTrue(sub.wait_for(DOOR + "motion", "ON", timeout=15))
        self.assertTrue(wait_until(lambda: len([m for m in sub.messages if m[2].endswith(
            "/config")]) >= 8, 10))
        self.assertEqual(sub.latest(ROOT + "/status"), "online")
        since = len(sub.messages)
        self.fifo.show([STILL])
        self.assertTrue(sub.wait_for(DOOR + "motion", "OFF", since=since))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: mqtt_e2e.py PATH_OF_OSTREL")
    OSTREL = os.path.abspath(sys.argv[1])
    suite = unittest.TestLoader().loadTestsFromTestCase(MqttLink)
    sys.exit(0 if unittest.TextTestRunner(verbosity=2).run(suite).wasSuccessful() else 1)
