"""Messages from real syslog clients through the installed service into the suite's outbox, every
byte of each record checked; deliveries that refuse; the suite's components missing; a flood."""
import logging
import logging.handlers
import re
import socket
import time
import unittest

import ovswine
import svctest as t

LOCAL = "NMS-LOCAL"
UUID = re.compile(rb"[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}")


def slot(text, size):
    raw = text.encode("latin-1")[:size]
    return raw + b"\0" * (size - len(raw))


def expected(host, text, event_id, local=LOCAL):
    """The record as the layout rules give it, assembled by hand."""
    return (slot("70", 5) + slot("1", 5) + slot(local, 16) + slot(host, 16) + slot("12", 5) +
            slot("1", 5) + slot(event_id.decode(), 40) + slot(text[:127], 128))


class ForwardTest(t.PortPerTest):
    LOCAL_ID = LOCAL

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        t.register_components()

    def start(self):
        """Starts with the delivery as configured; RUNNING means the port is bound."""
        self.suite.clear()
        self.assertTrue(t.start())

    def finish(self):
        """Stops the service: once STOPPED shows, everything it read has been through delivery."""
        result = t.stop_wait()
        self.assertIsNotNone(result)
        self.assertEqual(result[1].state, t.STOPPED)

    def check_record(self, record, host, text, local=LOCAL):
        event_id = record[52:88]
        self.assertRegex(event_id, UUID)
        self.assertEqual(record, expected(host, text, event_id, local))
        return event_id

    def test_real_clients_give_exact_records(self):
        self.start()
        h15, h16 = "h" * 14 + "1", "switch-core-0016"
        t127, t128 = "a" * 126 + "b", "c" * 127 + "d"
        stamp = time.strftime("%b %e %H:%M:%S")
        cases = [  # how it is sent, host and text the record must carry
            ("logger rfc3164", lambda: t.logger(self.port, "--rfc3164", "-t", "tag", "link down"),
             socket.gethostname(), "tag: link down"),
            ("host of 15", lambda: ovswine.send_udp(self.port, f"<13>{stamp} {h15} up"), h15, "up"),
            ("host of 16", lambda: ovswine.send_udp(self.port, f"<13>{stamp} {h16} up"), h16, "up"),
            ("text of 127", lambda: ovswine.send_udp(self.port, "<13>" + t127), "127.0.0.1", t127),
            ("text of 128", lambda: ovswine.send_udp(self.port, "<13>" + t128), "127.0.0.1", t128[:127]),
        ]
        for name, send, host, text in cases:
            with self.subTest(name):
                self.suite.clear()
                send()
                got = self.suite.wait_records(LOCAL, 1)
                self.assertEqual(len(got), 1)
                self.check_record(got[0], host[:16], text)

    def test_python_handler(self):
        self.start()
        log = logging.getLogger("ovs-e2e")
        handler = logging.handlers.SysLogHandler(address=("127.0.0.1", self.port))
        log.addHandler(handler)
        try:
            log.warning("from python")
        finally:
            log.removeHandler(handler)
            handler.close()
        got = self.suite.wait_records(LOCAL, 1)
        self.assertEqual(len(got), 1)
        self.check_record(got[0], "127.0.0.1", "from python")

    def test_two_listed_servers_give_three_records_in_order(self):
        t.set_servers(["NMS-A", "NMS-B"])
        self.start()
        ovswine.send_udp(self.port, "<13>three ways")
        self.suite.wait_calls(3)
        self.finish()
        self.assertEqual([d for d, ok in self.suite.calls()], [LOCAL, "NMS-A", "NMS-B"])
        ids = []
        for dest in (LOCAL, "NMS-A", "NMS-B"):
            got = self.suite.records(dest)
            self.assertEqual(len(got), 1, dest)
            ids.append(self.check_record(got[0], "127.0.0.1", "three ways"))
        self.assertEqual(len(set(ids)), 3, "each record has its own UUID")

    def test_delivery_refusing_twice_then_accepting(self):
        t.set_delivery(refuse_first=2)  # counted per process
        self.start()
        ovswine.send_udp(self.port, "<13>third time")
        self.suite.wait_calls(3)
        self.finish()
        self.assertEqual(self.suite.calls(), [(LOCAL, False), (LOCAL, False), (LOCAL, True)])
        self.check_record(self.suite.records(LOCAL)[0], "127.0.0.1", "third time")

    def test_delivery_refusing_always(self):
        t.set_servers(["NMS-A"])
        t.set_delivery(refuse_all=1)
        self.start()
        ovswine.send_udp(self.port, "<13>never")
        # The spool's own attempts at the local record count among the calls: wait for the listed
        # server's ten.
        self.assertTrue(t.wait_until(lambda: [d for d, _ in self.suite.calls()].count("NMS-A") >= 10, 40))
        self.assertEqual(t.state(), t.RUNNING)
        self.finish()
        # Ten attempts for the local server's record, then ten for the listed server's; the
        # spool's own attempts at the local record may come between the listed ones.
        calls = self.suite.calls()
        self.assertEqual(calls[:10], [(LOCAL, False)] * 10)
        self.assertEqual([c for c in calls[10:] if c[0] == "NMS-A"][:10], [("NMS-A", False)] * 10)
        self.assertNotIn(True, [accepted for _, accepted in calls])
        self.assertIn("Syslog spool NMS-A : delivery refused", t.error_log())

    def test_components_not_registered(self):
        t.register_components(False)
        try:
            self.start()
            ovswine.send_udp(self.port, "<13>no components")
            self.suite.wait_calls(1)
            self.assertEqual(t.state(), t.RUNNING)
            self.finish()
            self.assertEqual(self.suite.calls(), [("", True)], "one record, to an empty destination")
            got = self.suite.records("_empty_")
            self.assertEqual(len(got), 1)
            self.check_record(got[0], "127.0.0.1", "no components", local="")
        finally:
            t.register_components(True)

    def test_flood_refused_stays_up_bounded_and_recovers(self):
        t.set_delivery(refuse_all=1)
        self.start()
        pid = t.service_pid()
        self.assertIsNotNone(pid)
        peak_threads = peak_rss = 0
        with t.flooding(self.port, pause_every=20):
            for _ in range(20):
                time.sleep(1)
                threads, rss = t.threads_and_memory(pid)
                peak_threads, peak_rss = max(peak_threads, threads), max(peak_rss, rss)
        self.assertEqual(t.state(), t.RUNNING)
        self.assertLess(peak_threads, 128 + 40, "datagram threads must stay bounded")
        self.assertLess(peak_rss, 400 * 1024, "memory must stay bounded")
        t.set_delivery()
        self.suite.clear()

        def sent_and_forwarded():
            ovswine.send_udp(self.port, "<13>after the flood")
            return bool(self.suite.records(LOCAL))

        self.assertTrue(t.wait_until(sent_and_forwarded, 60, every=0.5), "the service must recover")


if __name__ == "__main__":
    unittest.main(verbosity=2)
