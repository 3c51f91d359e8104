"""The program's console switches and their messages, against Wine's service manager."""
import re
import unittest

import ovswine
import svctest as t

USAGE = "OVSyslog:\n\t-i \t install service.\n\t-u \t uninstall service.\n\t-s \t show forwarding statistics.\n"


class ConsoleTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.suite = t.Suite()
        t.remove_service()

    @classmethod
    def tearDownClass(cls):
        t.remove_service()
        cls.suite.remove()

    def tearDown(self):
        t.remove_service()

    def test_usage_for_anything_but_a_switch(self):
        for args in ([], ["-x"], ["/install"], ["i"], ["-"], ["--i"], ["/X", "-i"]):
            with self.subTest(args=args):
                r = t.svc(*args)
                self.assertEqual((r.returncode, r.output), (0, USAGE))
                self.assertIsNone(t.state(), "nothing may be installed")

    def test_install_switches(self):
        for switch in ("-i", "/I", "-I", "/i"):
            with self.subTest(switch=switch):
                r = t.svc(switch, "ignored")
                self.assertEqual((r.returncode, r.output), (0, "install service successed.\n"))
                self.assertEqual(t.state(), t.STOPPED, "installed, not started")
                again = t.svc(switch)
                self.assertEqual((again.returncode, again.output), (0, "the specified service already exists.\n"))
                t.remove_service()

    def test_install_quotes_the_program_path(self):
        t.svc("-i")
        kind, path = ovswine.reg_value(t.SERVICE_KEY, "ImagePath")
        want = '"' + ovswine.win_path(t.PROGRAM) + '"'
        self.assertEqual(path.lower(), want.lower())
        self.assertEqual(ovswine.reg_value(t.SERVICE_KEY, "Start"), ("REG_DWORD", "0x2"))  # automatic
        self.assertEqual(ovswine.reg_value(t.SERVICE_KEY, "Type"), ("REG_DWORD", "0x10"))  # own process

    def test_uninstall_of_a_stopped_service(self):
        t.svc("-i")
        r = t.svc("-u")
        self.assertEqual((r.returncode, r.output), (0, "OVSyslog uninstall successed.\n"))
        self.assertIsNone(t.state())

    def test_uninstall_of_a_running_service(self):
        t.set_port(ovswine.free_udp_port())
        t.svc("-i")
        self.assertTrue(t.start())
        r = t.svc("/U")
        self.assertEqual(r.returncode, 0)
        lines = r.output.split("\n")
        self.assertRegex(lines[0], r"^stop OVSyslog\.\.?$")
        self.assertEqual(lines[1:], ["OVSyslog stopped.", "OVSyslog uninstall successed.", ""])
        self.assertIsNone(t.state())
        self.assertIsNone(t.service_pid(), "the program must have ended")

    def test_uninstall_when_not_installed(self):
        r = t.svc("-u")
        self.assertEqual((r.returncode, r.output), (0, "can't open service: OVSyslog\n"))

    def test_console_mode_gives_up_on_a_taken_port(self):
        holder = t.port_holder()
        try:
            t.set_port(holder.getsockname()[1])
            t.clear_error_log()
            r = t.svc("-d", timeout=60)
            self.assertEqual((r.returncode, r.output), (0, ""))
            self.assertIn(f"\tSyslog Port : {holder.getsockname()[1]} has been used !\r\n", t.error_log())
            self.assertEqual(ovswine.reg_value(t.SYSLOG_KEY, "Status"), ("REG_SZ", "102"))
        finally:
            holder.close()

    def test_console_mode_asks_for_the_stored_receive_buffer_or_logs_why_not(self):
        default = t.DEFAULT_RECV_BUFFER
        cases = [
            # stored value and its type (None: no value), size asked, refused text in the line
            (None, None, default, None),
            (65536, "REG_DWORD", 65536, None),
            (1000, "REG_DWORD", default, "1000"),
            ("64m", "REG_SZ", default, "64m"),
            (65536, "REG_QWORD", 65536, None),
            ((1 << 32) + 65536, "REG_QWORD", default, "4295032832"),
            ("1073741825", "REG_SZ", default, "1073741825"),
        ]
        line = re.compile(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\tSyslog properties : RecvBufferSize (\S+) is not "
                          rf"from 65536 to 1073741824, {default} used !\r\n")
        try:
            for stored, kind, asked, refused in cases:
                with self.subTest(stored=stored):
                    port = ovswine.free_udp_port()
                    t.set_port(port)
                    t.set_recv_buffer(stored, kind)
                    t.clear_error_log()
                    prog = ovswine.Background(t.PROGRAM, "-d")
                    try:
                        self.assertTrue(t.wait_until(lambda: t.receive_buffer(port), 20), prog.output())
                        # What the socket got, seen from Linux: the host caps the request.
                        self.assertEqual(t.receive_buffer(port), 2 * min(asked, t.rmem_max()))
                    finally:
                        prog.stop()
                    self.assertOneRefusal(t.error_log(), line, refused)
        finally:
            t.set_recv_buffer(None)

    def assertOneRefusal(self, log, line, refused):
        """No error-log line when nothing was refused, else just the line, naming the text."""
        if refused is None:
            self.assertEqual(log, "")
        else:
            m = line.fullmatch(log)
            self.assertTrue(m, log)
            self.assertEqual(m.group(1), refused)

    def test_console_mode_takes_the_stored_spool_size_or_logs_its_bounds(self):
        cases = [
            # stored value and its type (None: no value), refused text in the line (None: no line)
            (None, None, None),
            (8 << 30, "REG_QWORD", None),
            ("2097152", "REG_SZ", None),
            (1000, "REG_DWORD", "1000"),
            ("99999999999999", "REG_SZ", "99999999999999"),
            ((1 << 40) + 1, "REG_QWORD", "1099511627777"),
        ]
        line = re.compile(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\tSyslog properties : SpoolMaxSize (\S+) is not "
                          r"from 1048576 to 1099511627776, 1073741824 used !\r\n")
        try:
            for stored, kind, refused in cases:
                with self.subTest(stored=stored, kind=kind):
                    port = ovswine.free_udp_port()
                    t.set_port(port)
                    t.clear_spool()
                    if stored is not None:
                        ovswine.reg_set(t.SYSLOG_KEY, "SpoolMaxSize", stored, kind)
                    t.clear_error_log()
                    prog = ovswine.Background(t.PROGRAM, "-d")
                    try:
                        # The size is read before the socket is bound.
                        self.assertTrue(t.wait_until(lambda: t.receive_buffer(port), 20), prog.output())
                    finally:
                        prog.stop()
                    self.assertOneRefusal(t.error_log(), line, refused)
        finally:
            t.clear_spool()

    def test_console_mode_forwards(self):
        port = ovswine.free_udp_port()
        t.set_port(port)
        self.suite.clear()
        prog = ovswine.Background(t.PROGRAM, "-d")
        try:
            # Sent again until one arrives: nothing tells from outside when -d has bound its port.
            def sent_and_forwarded():
                ovswine.send_udp(port, "<13>console text")
                return self.suite.wait_records("NMS-LOCAL", 1, timeout=1)

            self.assertTrue(t.wait_until(sent_and_forwarded, 20, every=0), "a message in -d mode must be forwarded")
            got = self.suite.records("NMS-LOCAL")
            self.assertEqual(got[0][92:92 + 13], b"console text\0")
        finally:
            prog.stop()


if __name__ == "__main__":
    unittest.main(verbosity=2)
