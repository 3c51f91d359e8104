"""The outbox reader: decoding of the 220-byte records and following a folder as it grows."""
import os
import select
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
EVTDUMP = os.path.join(HERE, "..", "..", "evtdump.py")
sys.path.insert(0, os.path.dirname(EVTDUMP))
import evtdump  # noqa: E402

UUID = "0f8fad5b-d9cb-469f-a165-70867728950e"


def slot(text, size):
    raw = text.encode("latin-1")[:size]
    return raw + b"\0" * (size - len(raw))


def build(local="NMS-LOCAL", host="10.1.2.3", event=UUID, text="link down",
          codes=("70", "1", "12", "1")):
    """A record laid out by hand, independently of the decoder's table."""
    rec = (slot(codes[0], 5) + slot(codes[1], 5) + slot(local, 16) + slot(host, 16) +
           slot(codes[2], 5) + slot(codes[3], 5) + slot(event, 40) + slot(text[:127], 128))
    assert len(rec) == 220
    return rec


class DecodeTest(unittest.TestCase):
    def test_fields(self):
        cases = [
            # local, host, text: what the slots must give back
            ("NMS-LOCAL", "10.1.2.3", "link down", "link down"),
            ("A" * 16, "B" * 16, "x" * 127, "x" * 127),  # full slots carry no NUL
            ("", "", "", ""),
            ("L", "h" * 15, "y" * 500, "y" * 127),
        ]
        for local, host, text, want in cases:
            with self.subTest(local=local, host=host):
                f = evtdump.decode(build(local, host, UUID, text))
                self.assertEqual((f["local_server"], f["host"], f["event_id"], f["text"]),
                                 (local, host, UUID, want))
                self.assertEqual((f["code1"], f["code2"], f["code3"], f["code4"]),
                                 ("70", "1", "12", "1"))

    def test_wrong_size_is_refused(self):
        for size in (0, 219, 221, 440):
            with self.assertRaises(ValueError):
                evtdump.decode(b"\0" * size)

    def test_problems(self):
        self.assertEqual(evtdump.problems(build()), [])
        bad_code = evtdump.problems(build(codes=("71", "1", "12", "1")))
        self.assertEqual(len(bad_code), 1)
        self.assertIn("code1", bad_code[0])
        no_nul = bytearray(build())
        no_nul[219] = ord("z")
        self.assertIn("message slot does not end in NUL", evtdump.problems(bytes(no_nul)))
        self.assertTrue(evtdump.problems(build(event="not-a-uuid")))
        junk = bytearray(build())
        junk[3] = ord("q")  # after "70" and its NUL
        self.assertTrue(evtdump.problems(bytes(junk)))

    def test_line_is_one_line_in_field_order(self):
        line = evtdump.format_line("DEST", build(text="a\tb\nc\\d\x01"))
        self.assertEqual(line.split("\t"),
                         ["DEST", "10.1.2.3", "a\\tb\\nc\\\\d\\x01", UUID, "NMS-LOCAL"])


class CommandTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.outbox = self.dir.name

    def tearDown(self):
        self.dir.cleanup()

    def append(self, name, data):
        with open(os.path.join(self.outbox, name), "ab") as f:
            f.write(data)

    def test_dump_prints_whole_records_and_warns_of_a_torn_tail(self):
        self.append("SRV-B.evt", build(text="second"))
        self.append("SRV-A.evt", build(text="first") + build(text="again") + b"70\0")
        self.append("calls.log", b"SRV-A\t1\r\n")
        p = subprocess.run([sys.executable, EVTDUMP, self.outbox], capture_output=True,
                           text=True, timeout=30)
        self.assertEqual(p.returncode, 0, p.stderr)
        texts = [(line.split("\t")[0], line.split("\t")[2]) for line in p.stdout.splitlines()]
        self.assertEqual(texts, [("SRV-A", "first"), ("SRV-A", "again"), ("SRV-B", "second")])
        self.assertIn("SRV-A.evt: 3 bytes", p.stderr)

    def test_fields_shows_every_slot(self):
        self.append("SRV.evt", build(host="h" * 16))
        p = subprocess.run([sys.executable, EVTDUMP, "--fields", self.outbox],
                           capture_output=True, text=True, timeout=30)
        rows = [line.split() for line in p.stdout.splitlines()[1:]]
        self.assertEqual([r[0] for r in rows], [name for name, _, _ in evtdump.SLOTS])
        self.assertEqual(rows[3], ["host", "26", "16", "h" * 16])
        self.assertEqual(rows[4], ["code3", "42", "5", "12"])

    def test_missing_folder_is_an_error(self):
        p = subprocess.run([sys.executable, EVTDUMP, os.path.join(self.outbox, "none")],
                           capture_output=True, text=True, timeout=30)
        self.assertEqual(p.returncode, 2)
        self.assertIn("no such folder", p.stderr)

    def test_follow_prints_each_record_once_it_is_whole(self):
        self.append("OLD.evt", build(text="already there"))
        p = subprocess.Popen([sys.executable, EVTDUMP, "--follow", self.outbox],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            self.assertEqual(self.read_line(p).split("\t")[2], "already there")
            record = build(text="arrived later")
            self.append("NEW.evt", record[:100])
            self.assertIsNone(self.read_line(p, timeout=1.0), "printed half a record")
            self.append("NEW.evt", record[100:])
            line = self.read_line(p)
            self.assertEqual(line.split("\t")[:3], ["NEW", "10.1.2.3", "arrived later"])
        finally:
            p.kill()
            p.wait(10)
            p.stdout.close()

    @staticmethod
    def read_line(p, timeout=10.0):
        ready, _, _ = select.select([p.stdout], [], [], timeout)
        return p.stdout.readline().rstrip("\n") if ready else None


if __name__ == "__main__":
    unittest.main()
