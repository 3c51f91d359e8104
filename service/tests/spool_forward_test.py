"""The installed service keeping what a destination refuses on disk: every message carries its
sender's sequence number, and each test checks every one of them at the destination."""
import glob
import os
import shutil
import socket
import threading
import time
import unittest

import ovswine
import svctest
from svctest import RECORD_SIZE, STOPPED

LISTED = "NMS-B"
SPOOL_DIR = svctest.SPOOL_DIR
FRAME = 12 + RECORD_SIZE
SENDERS = ("127.0.0.2", "127.0.0.3")
START_HINT_S = 10  # the wait hint the service reports with START_PENDING
LARGE_SPOOL = 1 << 30
SEGMENT = 4 << 20


def send_numbered(port, count, rate, sources=SENDERS):
    """count datagrams "<13>seq NNNNN" from each source in turn, at `rate` a second over all."""
    socks = []
    try:
        for source in sources:
            s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            s.bind((source, 0))
            socks.append(s)
        start = time.monotonic()
        for i in range(count):
            for n, s in enumerate(socks):
                s.sendto(b"<13>seq %05d" % i, ("127.0.0.1", port))
                sent = i * len(socks) + n + 1
                if rate and sent % 20 == 0:
                    ahead = start + sent / rate - time.monotonic()
                    if ahead > 0:
                        time.sleep(ahead)
    finally:
        for s in socks:
            s.close()


def numbers(records):
    """{sender: [sequence numbers in the order they arrived]}."""
    got = {}
    for r in records:
        host, text = svctest.host_and_text(r)
        if text.startswith("seq "):
            got.setdefault(host, []).append(int(text[4:]))
    return got


def statistics():
    """What OVSyslogSvc.exe -s prints, as {name: number}."""
    r = svctest.svc("-s")
    out = {}
    for line in r.output.splitlines():
        name, _, value = line.rpartition(" : ")
        if name and value.isdigit():
            out[name] = int(value)
    return out


def spool_bytes():
    return sum(os.path.getsize(f) for f in glob.glob(os.path.join(SPOOL_DIR, "*.spl")))


class SpoolTest(svctest.PortPerTest):
    def setUp(self):
        super().setUp()
        svctest.set_servers([LISTED])
        ovswine.reg("delete", svctest.SYSLOG_KEY + "\\Statistics", "/f")

    def assertEverySenderWhole(self, destination, count, sources=SENDERS, timeout=180):
        """Waits until the destination has each sender's 0..count-1; checks that each sender's
        arrived in order. Returns the duplicates (a record delivered again after a crash)."""
        want = count * len(sources)
        svctest.wait_until(lambda: sum(len(set(v)) for v in numbers(self.suite.records(destination)).values())
                           >= want, timeout, every=0.5)
        got = numbers(self.suite.records(destination))
        self.assertEqual(sorted(got), sorted(sources), destination)
        duplicates = 0
        for sender, seqs in got.items():
            first = []
            seen = set()
            for s in seqs:
                if s in seen:
                    duplicates += 1
                else:
                    seen.add(s)
                    first.append(s)
            self.assertEqual(first, list(range(count)), f"{destination} from {sender}")
        return duplicates

    def start_refusing(self, destination):
        svctest.set_delivery(refuse_destination=destination)

    def spool_while_refusing(self, count, rate, sources=SENDERS, timeout=60):
        """Starts the service with the listed server refusing and waits until count messages from
        each source are in its spool."""
        self.start_refusing(LISTED)
        svctest.start()
        send_numbered(self.port, count, rate, sources)
        want = len(sources) * count * FRAME
        self.assertTrue(svctest.wait_until(lambda: spool_bytes() >= want, timeout, every=0.2),
                        f"{spool_bytes()} of {want} bytes spooled")

    def test_an_outage_of_one_destination_loses_nothing_and_stops_nothing_else(self):
        # 80 s of sending. The outage begins once the local server has had a tenth of it, and ends
        # once that server has had a quarter more meanwhile: it follows the records, not a clock.
        per_sender, rate = 5000, 125
        total = per_sender * len(SENDERS)
        local = lambda: len(self.suite.records(self.LOCAL_ID))  # noqa: E731
        svctest.start()
        sender = threading.Thread(target=send_numbered, args=(self.port, per_sender, rate))
        sender.start()
        try:
            self.assertTrue(svctest.wait_until(lambda: local() >= total // 10, 120, every=0.2))
            local_before = local()
            self.start_refusing(LISTED)
            # The other destination goes on receiving through the outage.
            self.assertTrue(svctest.wait_until(lambda: local() - local_before >= total // 4 and spool_bytes() > 0,
                                               120, every=0.2),
                            f"{local() - local_before} records reached the local server during the outage")
            svctest.set_delivery()
        finally:
            sender.join()

        self.assertEqual(self.assertEverySenderWhole(LISTED, per_sender), 0)
        self.assertEqual(self.assertEverySenderWhole(self.LOCAL_ID, per_sender), 0)
        log = svctest.error_log()
        self.assertIn(f"Syslog spool {LISTED} : delivery refused, records kept in the spool !", log)
        self.assertRegex(log, rf"Syslog spool {LISTED} : delivery resumed, [1-9]\d* records delivered from the spool !")

    def test_a_killed_service_delivers_its_spool_after_the_next_start(self):
        count = 2500
        self.spool_while_refusing(count, 2000, timeout=120)
        ovswine.run("taskkill", "/F", "/IM", "OVSyslogSvc.exe")  # TerminateProcess
        self.assertTrue(svctest.wait_until(lambda: svctest.service_pid() is None, 20))
        # Wine's service manager does not see its service's process end and keeps it RUNNING;
        # a service installed anew starts.
        if svctest.state() != STOPPED:
            svctest.remove_service()
            svctest.install()
        svctest.set_delivery()
        svctest.start()
        duplicates = self.assertEverySenderWhole(LISTED, count)
        print(f"\nkilled with {2 * count} spooled: all delivered after the start, {duplicates} twice")

    def test_a_start_with_a_large_spool_is_running_at_once_and_forwards_at_once(self):
        # What an earlier run left: a record of its own, then segments of copies of it made here.
        self.spool_while_refusing(1, 0, sources=SENDERS[:1])
        svctest.stop()
        first = glob.glob(os.path.join(SPOOL_DIR, "*.00000001.spl"))
        self.assertEqual(len(first), 1, os.listdir(SPOOL_DIR))
        name = os.path.basename(first[0])[:-len(".00000001.spl")]
        with open(first[0], "rb") as f:
            frame = f.read(FRAME)
        size = min(LARGE_SPOOL, shutil.disk_usage(SPOOL_DIR).free // 4)
        if size < 64 << 20:
            self.skipTest(f"{size >> 20} MiB to spare on the disk")
        chunk = frame * (SEGMENT // FRAME)
        for n in range(2, 2 + size // len(chunk)):
            with open(os.path.join(SPOOL_DIR, f"{name}.{n:08d}.spl"), "wb") as f:
                f.write(chunk)
        ovswine.reg_set(svctest.SYSLOG_KEY, "SpoolMaxSize", 2 * size, "REG_QWORD")
        # Still refusing: the drain reads the spool but delivers none of it during the test.
        began = time.monotonic()
        svctest.control("start")
        self.assertTrue(svctest.wait_state(svctest.RUNNING, START_HINT_S), "not RUNNING within the wait hint")
        running = time.monotonic() - began
        send_numbered(self.port, 1, 0, sources=SENDERS[1:])
        self.assertTrue(svctest.wait_until(
            lambda: SENDERS[1] in numbers(self.suite.records(self.LOCAL_ID)), 20, every=0.1),
            "a datagram sent right after RUNNING was not forwarded")
        forwarded = time.monotonic() - began
        # The drain counts what it found once it has read it all (the counters go out every 5 s).
        found = (size // len(chunk)) * (SEGMENT // FRAME)
        scanned = svctest.wait_until(lambda: statistics().get(f"Spooled {LISTED}", 0) >= found, 120, every=1)
        print(f"\n{size >> 20} MiB spooled: RUNNING after {running:.1f} s, a datagram forwarded after "
              f"{forwarded:.1f} s, the spool read after "
              f"{'%.1f s' % (time.monotonic() - began) if scanned else 'more than 120 s'}")
        _, stopped = svctest.stop()
        self.assertTrue(stopped)

    def test_a_full_spool_drops_says_so_once_and_delivers_what_it_kept(self):
        max_bytes = 1024 * 1024
        ovswine.reg_set(svctest.SYSLOG_KEY, "SpoolMaxSize", max_bytes, "REG_DWORD")
        self.start_refusing(LISTED)
        svctest.start()
        send_numbered(self.port, 3000, 2000)
        self.suite.wait_records(self.LOCAL_ID, 6000, timeout=120)
        kept = max_bytes // FRAME
        self.assertTrue(svctest.wait_until(lambda: "spool full" in svctest.error_log(), 30))
        self.assertLessEqual(spool_bytes(), max_bytes)
        svctest.set_delivery()
        svctest.wait_until(lambda: len(self.suite.records(LISTED)) >= kept, 120, every=0.5)
        svctest.stop()
        got = numbers(self.suite.records(LISTED))
        # What was kept arrives whole and in order per sender: the first records each sent.
        for sender, seqs in got.items():
            self.assertEqual(seqs, list(range(len(seqs))), sender)
        delivered = sum(len(v) for v in got.values())
        stats = statistics()
        self.assertEqual(delivered, stats["Redelivered"])
        self.assertEqual(stats["DroppedSpoolFull"], 6000 - delivered)
        self.assertGreater(delivered, kept * 9 // 10)
        self.assertEqual(svctest.error_log().count("spool full"), 1)

    def spool_then_stop(self, count):
        """count messages from one sender spooled for the listed server, then a stop."""
        self.spool_while_refusing(count, 2000, SENDERS[:1])
        s, stopped = svctest.stop()
        self.assertTrue(stopped)
        svctest.set_delivery()

    def test_a_damaged_spool_file_is_skipped_with_a_line_and_the_rest_delivered(self):
        count = 300
        for damage in ("cut", "flip"):
            with self.subTest(damage):
                self.setUp()
                self.spool_then_stop(count)
                files = sorted(glob.glob(os.path.join(SPOOL_DIR, "*.spl")))
                self.assertEqual(len(files), 1, files)
                with open(files[0], "r+b") as f:
                    if damage == "cut":  # the last record torn in its middle
                        f.truncate(count * FRAME - FRAME // 2)
                        lost = {count - 1}
                    else:  # one byte of record 100's text
                        f.seek(100 * FRAME + 12 + 100)
                        b = f.read(1)
                        f.seek(-1, os.SEEK_CUR)
                        f.write(bytes([b[0] ^ 0x40]))
                        lost = {100}
                svctest.start()
                want = [i for i in range(count) if i not in lost]
                svctest.wait_until(lambda: len(self.suite.records(LISTED)) >= len(want), 60, every=0.2)
                self.assertEqual(numbers(self.suite.records(LISTED)).get(SENDERS[0]), want)
                self.assertIn(f"Syslog spool {LISTED} : 1 damaged records skipped", svctest.error_log())
                svctest.stop()

    def test_a_stop_while_refusing_gives_up_nothing(self):
        count = 1500
        self.start_refusing(LISTED)
        svctest.start()
        send_numbered(self.port, count, None)
        # The stop keeps what was read; what is still in the socket's buffer is not the service's.
        self.assertTrue(svctest.wait_all_read(self.port))
        began = time.monotonic()
        s, stopped = svctest.stop()
        self.assertTrue(stopped)
        self.assertLess(time.monotonic() - began, svctest.STOP_LIMIT_S)
        self.assertNotIn("not forwarded", svctest.error_log())
        svctest.set_delivery()
        svctest.start()
        self.assertEqual(self.assertEverySenderWhole(LISTED, count), 0)

    def test_a_paused_service_goes_on_delivering_its_spool(self):
        count = 200
        self.spool_while_refusing(count, 2000)
        self.assertEqual(svctest.control("pause"), svctest.PAUSED)
        svctest.set_delivery()
        # The pause holds the socket only: the spool empties while the service stays paused.
        self.assertEqual(self.assertEverySenderWhole(LISTED, count, timeout=90), 0)
        self.assertEqual(svctest.state(), svctest.PAUSED)
        svctest.stop()

    def test_the_counters_after_a_known_run(self):
        count = 100
        self.spool_while_refusing(count, 500)
        svctest.stop()
        self.assertEqual(statistics(), {
            "Received": 2 * count, "Forwarded": 2 * count, "Redelivered": 0,
            "Spooled": 2 * count, "SpooledBytes": 2 * count * FRAME,
            "DroppedBacklogFull": 0, "DroppedSpoolFull": 0, "GivenUp": 0, "SpoolDamaged": 0,
            f"Spooled {LISTED}": 2 * count, f"SpooledBytes {LISTED}": 2 * count * FRAME})
        svctest.set_delivery()
        svctest.start()
        self.suite.wait_records(LISTED, 2 * count, timeout=60)
        svctest.wait_until(lambda: "delivery resumed" in svctest.error_log(), 30)
        svctest.stop()
        stats = statistics()
        self.assertEqual((stats["Received"], stats["Forwarded"], stats["Redelivered"], stats["Spooled"],
                          stats[f"Spooled {LISTED}"]), (0, 0, 2 * count, 0, 0))


if __name__ == "__main__":
    unittest.main()
