"""The running service under Wine's service manager: its states, pause and continue, stop, and the
ways its worker gives up, each checked the way an operator would see them."""
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ovswine  # noqa: E402
import svctest as t  # noqa: E402

LOCAL = "NMS-LOCAL"


class ControlTest(t.InstalledServiceTest):
    LOCAL_ID = LOCAL

    def setUp(self):
        self.port = ovswine.free_udp_port()
        t.set_port(self.port)
        self.suite.clear()

    def tearDown(self):
        if t.state() != t.STOPPED:
            t.stop()

    def status_code(self):
        return ovswine.reg("query", t.SYSLOG_KEY, "/v", "Status").output

    def test_states_reported_for_each_control(self):
        self.assertTrue(t.start())
        steps = [  # control, state reported right after it
            ("interrogate", t.RUNNING),
            ("continue", t.RUNNING),   # continue while running is ignored, RUNNING all the same
            ("pause", t.PAUSED),
            ("interrogate", t.PAUSED),
            ("pause", t.PAUSED),       # pause while paused
            ("continue", t.RUNNING),
            ("pause", t.PAUSED),
            ("stop", None),            # stop while paused
        ]
        for action, want in steps:
            with self.subTest(action=action):
                got = t.control(action)
                if want is None:
                    self.assertIn(got, (t.STOPPED, t.STOP_PENDING))
                else:
                    self.assertEqual(got, want)
        self.assertTrue(t.wait_state(t.STOPPED))
        self.assertTrue(self.wait_gone(), "the program must end after the stop")
        self.assertIn("0", self.status_code())

    def wait_gone(self, timeout=15):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if t.service_pid() is None:
                return True
            time.sleep(0.1)
        return False

    def port_holders(self):
        import subprocess
        try:
            out = subprocess.run(["ss", "-uanp"], capture_output=True, text=True).stdout
        except OSError:
            return "unknown (no ss)"
        return [l.split()[-1] for l in out.splitlines() if f":{self.port} " in l] or "none seen"

    def wait_port_free(self, timeout=15):
        import socket
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
                try:
                    s.bind(("0.0.0.0", self.port))
                    return True
                except OSError:
                    time.sleep(0.1)
        return False

    def send_until_forwarded(self, text, count=1, timeout=20):
        """Sends until `count` records are there; the socket may need a moment after RUNNING."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            ovswine.send_udp(self.port, "<13>" + text)
            got = self.suite.wait_records(LOCAL, count, timeout=1)
            if len(got) >= count:
                return got
        return self.suite.records(LOCAL)

    def texts(self):
        return [r[92:].split(b"\0")[0].decode() for r in self.suite.records(LOCAL)]

    def test_datagrams_of_a_pause_arrive_after_the_continue(self):
        self.assertTrue(t.start())
        self.assertTrue(self.send_until_forwarded("warm-up"))
        for cycle in range(3):
            with self.subTest(cycle=cycle):
                self.assertEqual(t.control("pause"), t.PAUSED)
                before = len(self.suite.records(LOCAL))
                sent = [f"held {cycle} {i}" for i in range(5)]
                for text in sent:
                    ovswine.send_udp(self.port, "<13>" + text)
                time.sleep(2.5)  # longer than the receive loop's wait: nothing may be read
                self.assertEqual(len(self.suite.records(LOCAL)), before, "nothing before the continue")
                self.assertEqual(t.control("continue"), t.RUNNING)
                self.suite.wait_records(LOCAL, before + len(sent), timeout=15)
                self.assertEqual(sorted(self.texts()[before:]), sorted(sent))

    def test_stop_succeeds_over_fifty_cycles(self):
        for cycle in range(50):
            with self.subTest(cycle=cycle):
                self.assertTrue(t.start(), "start")
                r = ovswine.sc("stop", t.SERVICE)
                self.assertEqual(r.returncode, 0, r.output)
                self.assertNotIn("FAILED", r.output)
                self.assertTrue(t.wait_state(t.STOPPED), "stopped")
                self.assertTrue(self.wait_gone(), "program ended")

    def test_taken_port_stops_the_service_every_time(self):
        holder = t.port_holder()
        port = holder.getsockname()[1]
        try:
            t.set_port(port)
            for run in range(20):
                with self.subTest(run=run):
                    t.clear_error_log()
                    ovswine.sc("start", t.SERVICE)
                    self.assertTrue(t.wait_state(t.STOPPED, 20))
                    self.assertTrue(self.wait_gone())
                    self.assertIn("102", self.status_code())
                    self.assertRegex(t.error_log(),
                                     rf"^\d{{4}}-\d\d-\d\d \d\d:\d\d:\d\d\tSyslog Port : {port} has been used !\r\n$")
        finally:
            holder.close()

    def test_invalid_port_setting_stops_the_service_every_time(self):
        for value in ("abc", "70000"):
            t.set_port(value)
            for run in range(20):
                with self.subTest(value=value, run=run):
                    t.clear_error_log()
                    ovswine.sc("start", t.SERVICE)
                    self.assertTrue(t.wait_state(t.STOPPED, 20))
                    self.assertTrue(self.wait_gone())
                    self.assertRegex(t.error_log(),
                                     r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\tSyslog properties : Port is incorrect !\r\n$")

    def test_pause_continue_stop_under_a_flood(self):
        self.assertTrue(t.start())
        with t.flooding(self.port, pause_every=50):
            for cycle in range(10):
                with self.subTest(cycle=cycle):
                    self.assertEqual(t.control("pause"), t.PAUSED)
                    self.assertEqual(t.control("continue"), t.RUNNING)
            for cycle in range(3):
                with self.subTest(stop=cycle):
                    self.assertEqual(t.control("pause"), t.PAUSED)
                    self.assertIn(t.control("stop"), (t.STOPPED, t.STOP_PENDING))
                    self.assertTrue(t.wait_state(t.STOPPED))
                    self.assertTrue(self.wait_gone())
                    # Under Wine the port can stay bound a moment after the program has ended.
                    self.assertTrue(self.wait_port_free(), f"the port must be given back: {self.port_holders()}")
                    self.assertTrue(t.start())
        self.assertTrue(self.suite.records(LOCAL), "the flood must have been forwarded in part")


if __name__ == "__main__":
    unittest.main(verbosity=2)
