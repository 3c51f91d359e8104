"""RFC 5424 datagrams from real senders through the installed service into the suite's outbox:
the host and text of each record come from the sender's own header, every byte checked."""
import datetime
import logging
import logging.handlers
import os
import re
import socket
import time
import unittest

import ovswine
import svctest as t

LOCAL = "NMS-LOCAL"
UUID = re.compile(rb"[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}")
EVENT_ID, TEXT = slice(52, 88), slice(92, 220)


def slot(text, size):
    raw = text.encode("latin-1")[:size]
    return raw + b"\0" * (size - len(raw))


def expected(host, text, event_id):
    """The 220-byte record as the layout gives it: the host slot holds 16 bytes, the text 127."""
    return (slot("70", 5) + slot("1", 5) + slot(LOCAL, 16) + slot(host, 16) + slot("12", 5) +
            slot("1", 5) + slot(event_id.decode(), 40) + slot(text[:127], 128))


class Rfc5424Formatter(logging.Formatter):
    """Writes the RFC 5424 header after the handler's priority, the text marked as UTF-8."""

    def __init__(self, hostname, app, structured_data="-"):
        super().__init__()
        self.hostname, self.app, self.sd = hostname, app, structured_data

    def format(self, record):
        stamp = datetime.datetime.fromtimestamp(record.created, datetime.timezone.utc)
        return (f"1 {stamp.isoformat(timespec='microseconds')} {self.hostname} {self.app} "
                f"{record.process} - {self.sd} \ufeff{record.getMessage()}")


class Rfc5424Test(t.PortPerTest):
    LOCAL_ID = LOCAL

    def setUp(self):
        super().setUp()
        self.assertTrue(t.start())  # RUNNING means the port is bound

    def wait_case_records(self, timeout=15):
        return self.suite.wait_records(LOCAL, 1, timeout)

    def python_handler(self, hostname, app, message, structured_data="-"):
        log = logging.getLogger("ovs-e2e-rfc5424")
        log.propagate = False
        handler = logging.handlers.SysLogHandler(address=("127.0.0.1", self.port))
        handler.setFormatter(Rfc5424Formatter(hostname, app, structured_data))
        log.addHandler(handler)
        try:
            log.warning(message)
        finally:
            log.removeHandler(handler)
            handler.close()

    def test_senders_give_their_own_host_and_text(self):
        me = socket.gethostname()
        pid = os.getpid()
        cases = [  # how it is sent, host and text the record must carry
            ("logger -t app",
             lambda: t.logger(self.port, "--rfc5424", "-t", "app", "link up Gi0/1"),
             me, "app: link up Gi0/1"),
            ("logger with structured data",
             lambda: t.logger(self.port, "--rfc5424", "--id=4711", "-t", "sshd", "--msgid", "AUTH",
                              "--sd-id", "zoo@32473", "--sd-param", r'say="a \"quote\", a \\ and a \]"',
                              "--sd-id", "origin@32473", "--sd-param", 'ip="192.0.2.7"',
                              "Accepted key for admin"),
             me, "sshd[4711]: Accepted key for admin"),
            ("logger without host or time",
             lambda: t.logger(self.port, "--rfc5424=notime,nohost,notq", "-t", "cron", "job done"),
             "127.0.0.1", "cron: job done"),
            ("python handler",
             lambda: self.python_handler("edge-router-07", "pyapp", "BGP peer 192.0.2.1 up"),
             "edge-router-07", f"pyapp[{pid}]: BGP peer 192.0.2.1 up"),
            ("python handler, relayed host of 23",
             lambda: self.python_handler("dist-sw-0042.site9.lan", "snmpd", "cold start",
                                         r'[meta sequenceId="1"][x@1 k="\]"]'),
             "dist-sw-0042.site9.lan"[:16], f"snmpd[{pid}]: cold start"),
            ("python handler, long text",
             lambda: self.python_handler("h", "app", "w" * 300),
             "h", f"app[{pid}]: " + "w" * 300),
            # Not RFC 5424 (version "01"): the text as sent, from the sender's address.
            ("near miss",
             lambda: ovswine.send_udp(self.port, "<13>01 - host app - - - text"),
             "127.0.0.1", "01 - host app - - - text"),
        ]
        for name, send, host, text in cases:
            with self.subTest(name):
                self.suite.clear()
                send()
                got = self.wait_case_records()
                self.assertEqual(len(got), 1)
                record = got[0]
                self.assertRegex(record[EVENT_ID], UUID)
                self.assertEqual(record, expected(host, text, record[EVENT_ID]),
                                 f"host {record[26:42]!r}, text {record[TEXT].rstrip(bytes(1))!r}")


if __name__ == "__main__":
    unittest.main(verbosity=2)
