"""The running service under Wine's service manager: its states, pause and continue, stop, and the
ways its worker gives up, each checked the way an operator would see them."""
import statistics
import time
import unittest

import ovswine
import svctest as t

LOCAL = "NMS-LOCAL"
ERROR_SERVICE_SPECIFIC_ERROR = 1066
ERROR_BAD_CONFIGURATION = 1610
DRAIN_LIMIT_S = 20


class ControlTest(t.PortPerTest):
    LOCAL_ID = LOCAL

    def status_code(self):
        """The Status value as a number; None when it is missing or not decimal text."""
        out = ovswine.reg("query", t.SYSLOG_KEY, "/v", "Status").output.split()
        try:
            return int(out[out.index("REG_SZ") + 1])
        except (ValueError, IndexError):
            return None

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
        self.assertEqual(self.status_code(), 0)
        status = t.status()
        self.assertEqual((status.exit, status.specific), (0, 0), "a clean stop carries no reason")

    def wait_gone(self, timeout=15):
        return t.wait_until(lambda: t.service_pid() is None, timeout)

    def port_holders(self):
        import subprocess
        try:
            out = subprocess.run(["ss", "-uanp"], capture_output=True, text=True).stdout
        except OSError:
            return "unknown (no ss)"
        return [l.split()[-1] for l in out.splitlines() if f":{self.port} " in l] or "none seen"

    def send_and_wait(self, text):
        """RUNNING means listening: one datagram sent right after it must be forwarded."""
        before = len(self.suite.records(LOCAL))
        ovswine.send_udp(self.port, "<13>" + text)
        return len(self.suite.wait_records(LOCAL, before + 1)) == before + 1

    def texts(self):
        return [text for _, text in self.suite.messages(LOCAL)]

    def test_datagrams_of_a_pause_arrive_after_the_continue(self):
        self.assertTrue(t.start())
        self.assertTrue(self.send_and_wait("warm-up"))
        for cycle in range(3):
            with self.subTest(cycle=cycle):
                self.assertEqual(t.control("pause"), t.PAUSED)
                before = len(self.suite.records(LOCAL))
                sent = [f"held {cycle} {i}" for i in range(5)]
                for text in sent:
                    ovswine.send_udp(self.port, "<13>" + text)
                # Nothing can prove that nothing happens: watch for longer than the loop's own wait.
                time.sleep(2.5)
                self.assertGreater(t.unread_bytes(self.port), 0, "the datagrams wait in the socket")
                self.assertEqual(len(self.suite.records(LOCAL)), before, "nothing before the continue")
                self.assertEqual(t.control("continue"), t.RUNNING)
                self.suite.wait_records(LOCAL, before + len(sent), timeout=15)
                self.assertEqual(sorted(self.texts()[before:]), sorted(sent))

    def test_fifty_restarts_as_soon_as_stopped(self):
        """RUNNING only once the port is bound, STOPPED only once it is free again: a start made as
        soon as STOPPED shows always succeeds, and an idle stop takes well under a second."""
        took = []
        for cycle in range(50):
            with self.subTest(cycle=cycle):
                self.assertTrue(t.start(), f"start: {t.status()} {t.error_log()}")
                self.assertTrue(t.port_taken(self.port), "the port is bound once RUNNING shows")
                self.assertTrue(self.send_and_wait(f"round {cycle}"), "forwarded")
                ms, status = t.stop_wait()
                self.assertEqual(status.state, t.STOPPED)
                self.assertEqual((status.exit, status.specific), (0, 0))
                self.assertFalse(t.port_taken(self.port), f"the port is free once STOPPED shows: {self.port_holders()}")
                took.append(ms)
        # A stop that waited out a read or an ask would take seconds every time; a loaded machine
        # makes a few of them slow, so the typical one is what is held to the second.
        self.assertLess(statistics.median(took), 1000, f"an idle stop: {sorted(took)} ms")
        self.assertEqual(self.texts(), [f"round {i}" for i in range(50)])
        self.assertEqual(t.error_log(), "")

    def test_stop_forwards_every_datagram_read(self):
        # A slow delivery keeps them in flight at the stop. One sender's deliveries go one at a
        # time, in order: 300 of 20 ms fit the drain limit.
        t.set_delivery(delay_ms=20)
        self.assertTrue(t.start())
        sent = [f"in flight {i}" for i in range(300)]
        for text in sent:
            ovswine.send_udp(self.port, "<13>" + text)
        self.assertTrue(t.wait_all_read(self.port), "the service reads them all out of its socket")
        self.assertLess(len(self.suite.records(LOCAL)), len(sent), "some must still be in flight at the stop")
        ms, status = t.stop_wait()
        self.assertEqual((status.state, status.exit), (t.STOPPED, 0))
        self.assertEqual(sorted(self.texts()), sorted(sent), "each forwarded once, all before STOPPED")
        self.assertEqual(t.error_log(), "")

    def test_stop_gives_up_at_the_drain_limit_when_delivery_is_slow(self):
        # A refused record goes to the spool; one that is delivered slowly keeps the stop waiting.
        t.set_delivery(delay_ms=100)
        self.assertTrue(t.start())
        for i in range(1000):
            ovswine.send_udp(self.port, f"<13>slow {i}")
        self.assertTrue(t.wait_all_read(self.port))
        ms, status = t.stop_wait()
        self.assertEqual((status.state, status.exit, status.specific), (t.STOPPED, 0, 0))
        self.assertGreaterEqual(ms, DRAIN_LIMIT_S * 1000)
        self.assertLess(ms, (DRAIN_LIMIT_S + 15) * 1000, "the stop ends at the drain limit")
        self.assertRegex(t.error_log(), r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\t"
                                        r"Syslog service stopped : [1-9]\d* messages not forwarded !\r\n$")
        t.set_delivery()
        self.suite.clear()
        self.assertTrue(t.start(), "a start after a long stop")
        self.assertTrue(self.send_and_wait("after the refusals"))

    def test_taken_port_stops_the_service_every_time(self):
        holder = t.port_holder()
        port = holder.getsockname()[1]
        try:
            t.set_port(port)
            for run in range(20):
                with self.subTest(run=run):
                    t.clear_error_log()
                    t.control("start")
                    self.assertTrue(t.wait_state(t.STOPPED, 20))
                    self.assertTrue(self.wait_gone())
                    self.assertEqual(self.status_code(), 102)
                    status = t.status()
                    self.assertEqual((status.exit, status.specific), (ERROR_SERVICE_SPECIFIC_ERROR, 102))
                    self.assertRegex(t.error_log(),
                                     rf"^\d{{4}}-\d\d-\d\d \d\d:\d\d:\d\d\tSyslog Port : {port} has been used !\r\n$")
        finally:
            holder.close()
        # Once the port is free a new start runs, and its stop carries no reason.
        self.assertTrue(t.start())
        self.assertEqual(self.status_code(), 0)
        self.assertEqual(t.stop_wait()[1].exit, 0)

    def test_invalid_port_setting_stops_the_service_every_time(self):
        for value in ("abc", "70000"):
            t.set_port(value)
            for run in range(20):
                with self.subTest(value=value, run=run):
                    t.clear_error_log()
                    t.control("start")
                    self.assertTrue(t.wait_state(t.STOPPED, 20))
                    self.assertTrue(self.wait_gone())
                    status = t.status()
                    self.assertEqual((status.exit, status.specific), (ERROR_BAD_CONFIGURATION, 0))
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
                    # What the flood left read and not yet forwarded is forwarded first, up to the
                    # drain limit: how much depends on the machine.
                    self.assertTrue(t.wait_state(t.STOPPED, t.STOP_LIMIT_S))
                    self.assertFalse(t.port_taken(self.port), f"the port must be free at STOPPED: {self.port_holders()}")
                    self.assertTrue(t.start())
        self.assertTrue(self.suite.records(LOCAL), "the flood must have been forwarded in part")


if __name__ == "__main__":
    unittest.main(verbosity=2)
