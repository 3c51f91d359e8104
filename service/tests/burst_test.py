"""Bursts into the installed service: a whole burst read into the backlog and forwarded once each,
in order; the backlog's bound under a delivery that refuses everything; a stop and a pause with a
backlog."""
import os
import re
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ovswine  # noqa: E402
import svctest as t  # noqa: E402

LOCAL = "NMS-LOCAL"
# Faster than forwarding and far beyond what the socket holds, yet within what the reader takes
# on any machine: back-to-back figures belong to the burst benchmark.
BURST_RATE = 20000


class BurstTest(t.InstalledServiceTest):
    LOCAL_ID = LOCAL

    def setUp(self):
        self.port = ovswine.free_udp_port()
        t.set_port(self.port)
        t.set_delivery()
        t.clear_error_log()
        self.suite.clear()

    def tearDown(self):
        t.set_delivery()
        if t.state() != t.STOPPED:
            t.stop()

    def numbers(self, word):
        """The numbers of the forwarded records whose text is '<word> <n>', in delivery order."""
        out = []
        for r in self.suite.records(LOCAL):
            text = r[92:].split(b"\0")[0].decode()
            if text.startswith(word + " "):
                out.append(int(text.split()[1]))
        return out

    def burst(self, word, count, size=0, rate=BURST_RATE):
        pad = "x" * size
        t.send_burst(self.port, [f"<13>{word} {i} {pad}".encode() for i in range(count)], rate)

    def test_a_burst_is_forwarded_whole_once_each_in_arrival_order(self):
        count = 30000
        self.assertTrue(t.start())
        self.burst("burst", count)
        self.assertTrue(t.wait_all_read(self.port))
        self.assertEqual(t.socket_drops(self.port), 0, "the reader must keep up with the burst")
        self.suite.wait_records(LOCAL, count, timeout=180)
        self.assertEqual(self.numbers("burst"), list(range(count)))
        self.assertEqual(t.error_log(), "")

    def test_the_backlog_bound_holds_under_a_refusing_delivery_and_recovers(self):
        # 1,000-byte datagrams fill the backlog's 64 MiB long before its count bound.
        first, more, size = 70000, 30000, 1000
        count = first + more
        t.set_delivery(refuse_all=1)
        self.assertTrue(t.start())
        pid = t.service_pid()
        self.burst("bound", first, size)
        self.assertTrue(t.wait_all_read(self.port))
        rss_full = t.threads_and_memory(pid)[1]
        self.burst("more", more, size)
        self.assertTrue(t.wait_all_read(self.port))
        threads, rss = t.threads_and_memory(pid)
        self.assertLess(rss - rss_full, 8 * 1024, "memory stays flat once the backlog is full")
        self.assertLess(rss, 256 * 1024)
        self.assertLess(threads, 128 + 40)
        # The drops are told once the dropping has stopped.
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline and "backlog full" not in t.error_log():
            time.sleep(0.2)
        lines = t.error_log().splitlines()
        self.assertEqual(len(lines), 1, lines)
        m = re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\tSyslog backlog full : (\d+) datagrams dropped !", lines[0])
        self.assertTrue(m, lines[0])
        dropped = int(m.group(1))
        self.assertGreater(dropped, 0)

        t.set_delivery()
        kept = count - dropped - t.socket_drops(self.port)
        self.suite.wait_records(LOCAL, kept, timeout=240)
        forwarded = self.numbers("bound") + [first + n for n in self.numbers("more")]
        self.assertEqual(len(forwarded), kept, "every datagram kept is forwarded")
        self.assertEqual(len(set(forwarded)), kept, "none twice")
        ovswine.send_udp(self.port, "<13>after 0")
        self.assertEqual(len(self.suite.wait_records(LOCAL, kept + 1)), kept + 1, "the service recovers")

    def test_a_stop_right_after_a_burst_forwards_all_it_read(self):
        count = 5000
        self.assertTrue(t.start())
        self.burst("stop", count)
        self.assertTrue(t.wait_all_read(self.port))
        self.assertEqual(t.socket_drops(self.port), 0)
        result = t.stop_wait()
        self.assertEqual(result[1].state, t.STOPPED)
        self.assertEqual(self.numbers("stop"), list(range(count)), "all read is forwarded before STOPPED")
        self.assertEqual(t.error_log(), "")

    def test_pause_holds_the_reader_while_the_backlog_is_forwarded(self):
        count = 2000
        t.set_delivery(delay_ms=20)  # a slow delivery leaves a backlog at the pause
        self.assertTrue(t.start())
        self.burst("before", count)
        self.assertTrue(t.wait_all_read(self.port))
        self.assertEqual(t.control("pause"), t.PAUSED)
        at_pause = len(self.numbers("before"))
        self.assertLess(at_pause, count, "a backlog must be left at the pause")
        self.burst("during", 100, rate=None)
        self.suite.wait_records(LOCAL, count, timeout=120)
        self.assertEqual(self.numbers("before"), list(range(count)), "the backlog is forwarded while paused")
        self.assertEqual(self.numbers("during"), [], "nothing is read while paused")
        self.assertGreater(t.unread_bytes(self.port), 0)
        self.assertEqual(t.control("continue"), t.RUNNING)
        self.suite.wait_records(LOCAL, count + 100, timeout=60)
        self.assertEqual(self.numbers("during"), list(range(100)))


if __name__ == "__main__":
    unittest.main(verbosity=2)
