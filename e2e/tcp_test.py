"""Syslog over TCP and from IPv6 senders into the installed service, with clients nobody here
wrote (logger, Python's SysLogHandler, rsyslog), each message checked by its number at the
stand-in's outbox; the TcpPort setting, a taken TCP port, the connection limit, and a stop with
50 connections sending."""
import logging
import logging.handlers
import os
import re
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import unittest

import ovswine
import svctest as t

LOCAL = "NMS-LOCAL"
ERROR_SERVICE_SPECIFIC_ERROR = 1066
TCP_PORT = "TcpPort"


def has_ipv6_loopback():
    try:
        with socket.socket(socket.AF_INET6, socket.SOCK_DGRAM) as s:
            s.bind(("::1", 0))
        return True
    except OSError:
        return False


def logger_lines(lines, *args, check=True):
    """One logger run that sends each line of its input as a message."""
    subprocess.run(["logger", "-t", "dev", *args], input="\n".join(lines) + "\n", text=True, check=check,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)


# rsyslog is fed over TCP: a burst of datagrams overflows its UDP socket while Wine is busy.
RSYSLOG_CONF = """global(workDirectory="{work}")
module(load="imtcp")
input(type="imtcp" address="127.0.0.1" port="{input}")
action(type="omfwd" target="127.0.0.1" port="{tcp}" protocol="tcp" TCP_Framing="octet-counted"
       template="RSYSLOG_SyslogProtocol23Format")
"""


class TcpTest(t.PortPerTest):
    LOCAL_ID = LOCAL

    def setUp(self):
        super().setUp()
        self.tcp = ovswine.free_tcp_port()
        t.set_tcp_port(self.tcp)

    def tearDown(self):
        super().tearDown()
        t.set_tcp_port(None)

    def forwarded(self):
        """(host, text) of each forwarded record, in delivery order."""
        return self.suite.messages(LOCAL)

    def numbers(self, word):
        found = (re.search(rf"\b{word} (\d+)$", text) for _, text in self.forwarded())
        return [int(m.group(1)) for m in found if m]

    def wait_numbers(self, word, count, timeout=120):
        self.assertTrue(t.wait_until(lambda: len(self.numbers(word)) >= count, timeout, every=0.5),
                        f"{word}: {len(self.numbers(word))} of {count}")
        self.assertEqual(self.numbers(word), list(range(count)), f"{word}: each once, in order")

    def counters(self):
        out = ovswine.run(t.PROGRAM, "-s").output
        return {m.group(1): int(m.group(2)) for m in re.finditer(r"^(\w+) : (\d+)\r?$", out, re.M)}

    def test_real_clients_deliver_every_message_in_order(self):
        self.assertTrue(t.start())
        count = 300
        logger_lines([f"octet {i}" for i in range(count)], "-n", "127.0.0.1", "-P", str(self.tcp), "-T",
                     "--octet-count")
        logger_lines([f"line {i}" for i in range(count)], "-n", "127.0.0.1", "-P", str(self.tcp), "-T")
        handler = logging.handlers.SysLogHandler(address=("127.0.0.1", self.tcp), socktype=socket.SOCK_STREAM)
        log = logging.getLogger("tcp-e2e")
        log.propagate = False
        log.addHandler(handler)
        try:
            for i in range(count):
                log.warning("python %d", i)
        finally:
            log.removeHandler(handler)
            handler.close()
        for word in ("octet", "line", "python"):
            self.wait_numbers(word, count)
        self.assertEqual(t.error_log(), "")
        t.stop_wait()
        c = self.counters()
        self.assertGreaterEqual(c["TcpAccepted"], 3)
        self.assertEqual(c["TcpConnections"], 0)
        self.assertEqual(c["TcpFramingErrors"], 0)
        self.assertGreater(c["TcpBytes"], 0)
        self.assertGreaterEqual(c["Received"], 3 * count)

    @unittest.skipUnless(shutil.which("rsyslogd"), "rsyslog is not installed")
    def test_rsyslog_forwards_octet_counted(self):
        self.assertTrue(t.start())
        work = tempfile.mkdtemp(prefix="ovs-tcp-rsyslog-")
        source = ovswine.free_tcp_port()
        conf = os.path.join(work, "rsyslog.conf")
        with open(conf, "w") as f:
            f.write(RSYSLOG_CONF.format(work=work, input=source, tcp=self.tcp))
        proc = subprocess.Popen(["rsyslogd", "-n", "-f", conf, "-i", os.path.join(work, "pid")],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            # rsyslog is up once a first message makes it through (logger fails until it listens).
            self.assertTrue(t.wait_until(lambda: (logger_lines(["ready 0"], "-n", "127.0.0.1", "-P", str(source), "-T",
                                                               check=False),
                                                  self.numbers("ready"))[1], 60, every=1))
            count = 300
            logger_lines([f"rsys {i}" for i in range(count)], "-n", "127.0.0.1", "-P", str(source), "-T")
            self.wait_numbers("rsys", count)
        finally:
            proc.terminate()
            proc.wait(10)
            shutil.rmtree(work, ignore_errors=True)

    @unittest.skipUnless(has_ipv6_loopback(), "no IPv6 loopback here")
    def test_ipv6_senders_over_udp_and_tcp(self):
        self.assertTrue(t.start())
        logger_lines([f"v6tcp {i}" for i in range(50)], "-n", "::1", "-P", str(self.tcp), "-T", "--octet-count",
                     "--rfc5424=notq")
        self.wait_numbers("v6tcp", 50)
        # UDP may lose a datagram before the socket is read: send until one is through.
        self.assertTrue(t.wait_until(lambda: (logger_lines(["v6udp 0"], "-n", "::1", "-P", str(self.port), "-d",
                                                           "--rfc5424=notq"), self.numbers("v6udp"))[1], 30))
        # Without a host of its own a message is shown by the sender's address, over both.
        with socket.socket(socket.AF_INET6, socket.SOCK_DGRAM) as u:
            self.assertTrue(t.wait_until(lambda: (u.sendto(b"<13>bareudp 0", ("::1", self.port)),
                                                  self.numbers("bareudp"))[1], 30))
        self.assertIn(("::1", "bareudp 0"), self.forwarded())
        with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as s:
            s.connect(("::1", self.tcp))
            s.sendall(b"<13>bare 0\n")
        self.wait_numbers("bare", 1)
        self.assertIn(("::1", "bare 0"), self.forwarded())

    def test_a_tcp_port_that_is_no_port_is_refused_and_udp_runs_on(self):
        for stored in ("abc", "70000", "-1"):
            with self.subTest(stored=stored):
                t.clear_error_log()
                ovswine.reg_set(t.SYSLOG_KEY, TCP_PORT, stored)
                self.assertTrue(t.start())
                self.assertRegex(t.error_log(), rf"^\d{{4}}-\d\d-\d\d \d\d:\d\d:\d\d\tSyslog properties : "
                                 rf"TcpPort {re.escape(stored)} is not from 0 to 65535, no TCP !\r\n$")
                self.assertTrue(t.wait_until(lambda: (ovswine.send_udp(self.port, "<13>udp 0"),
                                                      self.numbers("udp"))[1], 30))
                self.suite.clear()
                t.stop_wait()

    def test_a_taken_tcp_port_stops_the_start_with_its_own_code(self):
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as holder:
            holder.bind(("0.0.0.0", self.tcp))
            holder.listen(1)
            t.control("start")
            self.assertTrue(t.wait_state(t.STOPPED, 20))
            status = t.status()
            self.assertEqual((status.exit, status.specific), (ERROR_SERVICE_SPECIFIC_ERROR, 103))
            self.assertRegex(t.error_log(),
                             rf"^\d{{4}}-\d\d-\d\d \d\d:\d\d:\d\d\tSyslog TCP Port : {self.tcp} has been used !\r\n$")
        # Both ports were let go: a start once the TCP port is free runs.
        self.assertTrue(t.start())

    def test_a_thousand_connections_at_once_meet_the_limit_with_one_line(self):
        self.assertTrue(t.start())
        sockets = []
        try:
            for _ in range(1000):
                s = socket.create_connection(("127.0.0.1", self.tcp), timeout=30)
                sockets.append(s)
            self.assertTrue(t.wait_until(lambda: "new connections refused" in t.error_log(), 30, every=0.2))
            # The kept ones still deliver.
            kept = 0
            for s in sockets:
                try:
                    s.sendall(f"<13>kept {kept}\n".encode())
                    kept += 1
                except OSError:
                    pass
                if kept == 5:
                    break
        finally:
            for s in sockets:
                s.close()
        self.assertTrue(t.wait_until(lambda: len(self.numbers("kept")) >= 1, 30, every=0.2))
        lines = t.error_log().splitlines()
        self.assertEqual(len(lines), 1, lines)
        self.assertIn("Syslog TCP : 200 connections open, new connections refused !", lines[0])
        t.stop_wait()
        c = self.counters()
        self.assertEqual(c["TcpRefused"], 800)

    def test_a_stop_with_50_connections_sending(self):
        self.assertTrue(t.start())
        stop = threading.Event()
        closed = []
        sent = {}

        def send(n):
            i = 0
            try:
                with socket.create_connection(("127.0.0.1", self.tcp), timeout=60) as s:
                    while not stop.is_set():
                        text = f"<13>s{n} {i}".encode()
                        s.sendall(str(len(text)).encode() + b" " + text)
                        i += 1
                        sent[n] = i
                    # The service closes it: a read then ends.
                    s.settimeout(60)
                    closed.append(s.recv(1) == b"")
            except OSError:
                closed.append(True)

        threads = [threading.Thread(target=send, args=(n,)) for n in range(50)]
        for th in threads:
            th.start()
        self.assertTrue(t.wait_until(lambda: len(sent) == 50 and min(sent.values()) > 20, 60))
        result = t.stop_wait()
        self.assertIsNotNone(result)
        self.assertEqual(result[1].state, t.STOPPED)
        stop.set()
        for th in threads:
            th.join(90)
        self.assertEqual(len(closed), 50)
        self.assertTrue(all(closed), "every connection is closed by the stop")
        # Nothing read was lost: each connection's records are its first messages, in order.
        for n in range(50):
            got = self.numbers(f"s{n}")
            self.assertEqual(got, list(range(len(got))), f"s{n}")
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as again:
            again.bind(("0.0.0.0", self.tcp))
        self.assertNotIn("not forwarded", t.error_log())


if __name__ == "__main__":
    unittest.main(verbosity=2)
