"""OVSyslog.msi installed, upgraded and removed by msiexec under Wine, in a fresh prefix of these
tests' own where the suite's stand-ins are in place as the suite's installer leaves them.

msi_test.py PREFIX MSI NEXT_MSI NEXT_BIN"""
import glob
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import unittest

PREFIX, MSI, NEXT_MSI, NEXT_BIN = sys.argv[1:5]
del sys.argv[1:5]
os.environ["OVS_WINEPREFIX"] = PREFIX
import ovswine  # noqa: E402
import svctest as t  # noqa: E402

LOCAL = "NMS-LOCAL"
PROGRAM_DIR = os.path.join(PREFIX, "drive_c", "Program Files", "Telmora", "Orvane")
OURS = ("OVSyslogSvc.exe", "OVSyslog.dll", "Sentrydesk.dll")
SUITE_FILES = ("OrvaneComm.dll", "OrvaneComponents.dll")
CLSID = "{B99B96D3-666A-4B0C-AAA3-A6EE16C66C8F}"
LIBID = "{F654C5AA-D2FB-4749-9D3C-130557FCB85A}"
ADDIN_KEYS = ("HKCR\\OVCoreLib.CServiceMgr.1", "HKCR\\OVCoreLib.CServiceMgr",
              "HKCR\\CLSID\\" + CLSID, "HKCR\\TypeLib\\" + LIBID)
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"


def wineserver_down():
    subprocess.run(["wineserver", "-k"], env=ovswine.env(), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def typelib_platform(msi):
    """The subkey a type library registers its file under: win64 for a 64-bit package's DLL."""
    out = subprocess.run(["msiinfo", "suminfo", msi], check=True, capture_output=True, text=True).stdout
    template = next(l.split(":", 1)[1].strip() for l in out.splitlines() if l.startswith("Template:"))
    return "win64" if template.split(";")[0] in ("x64", "Intel64") else "win32"


def product_code(msi):
    out = subprocess.run(["msiinfo", "export", msi, "Property"], check=True, capture_output=True,
                         text=True).stdout
    return next(l.split("\t")[1] for l in out.splitlines() if l.startswith("ProductCode\t"))


def values(key):
    """{name: data} of a key's values, or None when the key does not exist."""
    r = ovswine.reg("query", key)
    if r.returncode != 0:
        return None
    found = {}
    for line in r.output.splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[1].startswith("REG_"):
            found[parts[0]] = parts[2] if len(parts) == 3 else ""
    return found


def auth_port():
    return (values(t.SYSLOG_KEY) or {}).get("AuthPort")


def set_auth_port(port):
    if port is None:
        t.reg_delete_value(t.SYSLOG_KEY, "AuthPort")
    else:
        t.set_port(port)


def msiexec(*args):
    """Runs msiexec silently with a verbose log; (exit code, log text)."""
    log = tempfile.NamedTemporaryFile(suffix=".log", delete=False)
    log.close()
    try:
        r = ovswine.run("msiexec", *args, "/qn", "/l*v", ovswine.win_path(log.name), timeout=300)
        with open(log.name, "rb") as f:
            data = f.read()
    finally:
        os.unlink(log.name)
    text = data.decode("utf-16") if data[:2] == b"\xff\xfe" else data.decode("latin-1")
    return r.returncode, text


def install(msi, *properties):
    return msiexec("/i", ovswine.win_path(msi), *properties)


def uninstall(msi):
    return msiexec("/x", ovswine.win_path(msi))


def wait_gone(timeout=30):
    return t.wait_until(lambda: t.state() is None, timeout)


class SuiteAsInstalled(t.Suite):
    """The suite's files in its program folder, its components registered from there, its keys."""

    def __init__(self):  # pylint: disable=super-init-not-called
        wineserver_down()
        shutil.rmtree(PREFIX, ignore_errors=True)
        ovswine.prefix_up()
        os.makedirs(PROGRAM_DIR, exist_ok=True)
        for name in SUITE_FILES:
            shutil.copy(ovswine.bin_path(name), PROGRAM_DIR)
        r = ovswine.run("regsvr32", "/s", "C:\\Program Files\\Telmora\\Orvane\\OrvaneComponents.dll")
        assert r.returncode == 0, r
        self.outbox = tempfile.mkdtemp(prefix="ovs-msi-outbox-")
        ovswine.reg_set(t.COMM_KEY, "OutboxDir", ovswine.win_path(self.outbox))
        ovswine.reg_set(t.LOCAL_KEY, "LocalServerId", LOCAL)
        t.set_servers([])
        t.set_delivery()


class MsiTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.suite = SuiteAsInstalled()

    @classmethod
    def tearDownClass(cls):
        cls.suite.remove()
        wineserver_down()

    def setUp(self):
        self.suite.clear()

    def tearDown(self):
        # Whatever a failed test left installed goes, so that the next starts clean.
        for msi in (NEXT_MSI, MSI):
            if values(UNINSTALL_KEY + product_code(msi)) is not None:
                uninstall(msi)

    def assertForwards(self, port, text):
        def sent_and_forwarded():
            t.logger(port, "--rfc3164", text)
            return any(text.encode() in rec for rec in self.suite.wait_records(LOCAL, 1, timeout=1))

        self.assertTrue(t.wait_until(sent_and_forwarded, 30, every=0), f"{text!r} sent to port {port} was not forwarded")

    def assertNothingInstalled(self, what):
        self.assertTrue(wait_gone(), f"{what}: the service is still there")
        for name in OURS + (t.ERROR_LOG_NAME,):
            self.assertFalse(os.path.exists(os.path.join(PROGRAM_DIR, name)), f"{what}: {name} left")
        for key in ADDIN_KEYS:
            self.assertIsNone(values(key), f"{what}: {key} left")
        for msi in (MSI, NEXT_MSI):
            self.assertIsNone(values(UNINSTALL_KEY + product_code(msi)), f"{what}: still registered")
        for name in SUITE_FILES:
            self.assertTrue(os.path.exists(os.path.join(PROGRAM_DIR, name)), f"{what}: suite's {name} gone")

    def test_refuses_a_port_that_is_not_a_whole_number_from_1_to_65535(self):
        set_auth_port("2514")
        for given in ("0", "65536", "abc", "15 14", "-1", "1514x", "+1514", "1.5", "99999999999"):
            with self.subTest(SYSLOGPORT=given):
                rc, log = install(MSI, f"SYSLOGPORT={given}")
                self.assertNotEqual(rc, 0)
                self.assertIn(f'SYSLOGPORT="{given}" is not a UDP port: give a whole number from 1 to 65535.', log)
                self.assertNothingInstalled(given)
                self.assertEqual(auth_port(), "2514")

    def test_plain_install_runs_the_service_as_its_own_installer_would_and_keeps_the_port(self):
        port = ovswine.free_udp_port()
        set_auth_port(port)
        rc, log = install(MSI)
        self.assertEqual(rc, 0, log[-3000:])
        self.assertTrue(t.wait_state(t.RUNNING, 30))
        self.assertEqual(auth_port(), str(port))
        self.assertForwards(port, "link down after plain install")

        config = values(t.SERVICE_KEY)
        self.assertEqual({k: config.get(k) for k in ("Type", "Start", "ErrorControl", "ObjectName",
                                                      "DisplayName", "ImagePath")},
                         {"Type": "0x10", "Start": "0x2", "ErrorControl": "0x1",
                          "ObjectName": "LocalSystem", "DisplayName": "Orvane Syslog Service",
                          "ImagePath": '"C:\\Program Files\\Telmora\\Orvane\\OVSyslogSvc.exe"'})

        addin = "C:\\Program Files\\Telmora\\Orvane\\Sentrydesk.dll"
        self.assertEqual(values("HKCR\\OVCoreLib.CServiceMgr.1\\CLSID"), {"(Default)": CLSID})
        self.assertEqual(values("HKCR\\OVCoreLib.CServiceMgr\\CLSID"), {"(Default)": CLSID})
        self.assertEqual(values(f"HKCR\\CLSID\\{CLSID}\\InprocServer32"),
                         {"(Default)": addin, "ThreadingModel": "both"})
        self.assertEqual(values(f"HKCR\\CLSID\\{CLSID}\\ProgID"), {"(Default)": "OVCoreLib.CServiceMgr.1"})
        self.assertEqual(values(f"HKCR\\TypeLib\\{LIBID}\\1.0\\0\\{typelib_platform(MSI)}"),
                         {"(Default)": addin})
        # Announced before its keys existed, as regsvr32 leaves it.
        self.assertIn(f"{CLSID} 1 keys-absent", values(t.LOCAL_KEY)["AnnouncedClasses"])

    def test_syslogport_sets_the_port_the_service_listens_on(self):
        set_auth_port(ovswine.free_udp_port())
        port = ovswine.free_udp_port()
        rc, log = install(MSI, f"SYSLOGPORT={port}")
        self.assertEqual(rc, 0, log[-3000:])
        self.assertEqual(auth_port(), str(port))
        self.assertTrue(t.wait_state(t.RUNNING, 30))
        self.assertForwards(port, "link up on the given port")

    def test_tcpport_sets_the_tcp_port_the_service_listens_on(self):
        set_auth_port(ovswine.free_udp_port())
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
            probe.bind(("0.0.0.0", 0))
            tcp = probe.getsockname()[1]
        # Left behind, a TCP port could be taken by the time a later test starts the service.
        self.addCleanup(t.reg_delete_value, t.SYSLOG_KEY, "TcpPort")
        rc, log = install(MSI, f"TCPPORT={tcp}")
        self.assertEqual(rc, 0, log[-3000:])
        self.assertEqual(values(t.SYSLOG_KEY).get("TcpPort"), str(tcp))
        self.assertTrue(t.wait_state(t.RUNNING, 30))

        def sent_and_forwarded():
            with socket.create_connection(("127.0.0.1", tcp), timeout=10) as s:
                s.sendall(b"<13>over tcp after install\n")
            return any(b"over tcp after install" in rec for rec in self.suite.wait_records(LOCAL, 1, timeout=1))

        self.assertTrue(t.wait_until(sent_and_forwarded, 30, every=0))

    def test_refuses_a_tcpport_that_is_not_a_whole_number_up_to_65535(self):
        for given in ("65536", "abc", "-1"):
            with self.subTest(TCPPORT=given):
                rc, log = install(MSI, f"TCPPORT={given}")
                self.assertNotEqual(rc, 0)
                self.assertIn(f'TCPPORT="{given}" is not a TCP port', log)
                self.assertNothingInstalled(given)

    def test_a_taken_port_fails_the_install_and_leaves_nothing(self):
        held = t.port_holder()
        # 514 is written where no port is set yet; hold it too, unless another receiver already does.
        default = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            try:
                default.bind(("0.0.0.0", 514))
            except OSError:
                pass
            port = held.getsockname()[1]
            # The service takes a port stored as text or as a number: so must the check, and the
            # rollback puts either back as it was stored.
            for kind, stored, taken in (("REG_SZ", port, port), ("REG_DWORD", port, port), (None, None, 514)):
                with self.subTest(AuthPort=stored, kind=kind):
                    if kind is None:
                        set_auth_port(None)
                    else:
                        ovswine.reg_set(t.SYSLOG_KEY, "AuthPort", stored, kind)
                    before = ovswine.reg_value(t.SYSLOG_KEY, "AuthPort")
                    rc, log = install(MSI)
                    self.assertNotEqual(rc, 0)
                    self.assertIn(f"OVSyslog cannot start: UDP port {taken} is in use by another program.", log)
                    self.assertNothingInstalled(f"AuthPort {stored} {kind}")
                    self.assertEqual(ovswine.reg_value(t.SYSLOG_KEY, "AuthPort"), before, "the port was not put back")
        finally:
            default.close()
            held.close()

    def test_upgrade_keeps_the_operators_port_and_runs_the_new_build(self):
        rc, log = install(MSI, f"SYSLOGPORT={ovswine.free_udp_port()}")
        self.assertEqual(rc, 0, log[-3000:])
        self.assertTrue(t.wait_state(t.RUNNING, 30))
        old_pid = t.service_pid()
        port = ovswine.free_udp_port()
        set_auth_port(port)  # the operator's change, made after the first install

        rc, log = install(NEXT_MSI)
        self.assertEqual(rc, 0, log[-3000:])
        self.assertEqual(auth_port(), str(port))
        self.assertTrue(t.wait_state(t.RUNNING, 30))
        for name in OURS:
            with open(os.path.join(PROGRAM_DIR, name), "rb") as a, open(os.path.join(NEXT_BIN, name), "rb") as b:
                self.assertTrue(a.read() == b.read(), f"{name} is not the new build's")
        pid = t.service_pid()
        self.assertNotEqual(pid, old_pid)
        with open(f"/proc/{pid}/maps") as f:
            maps = f.read()
        exe = os.stat(os.path.join(PROGRAM_DIR, "OVSyslogSvc.exe")).st_ino
        self.assertIn(f" {exe} ", maps.replace(":", " "), "the service does not run the installed program")
        self.assertIsNone(values(UNINSTALL_KEY + product_code(MSI)), "the old product is still registered")
        self.assertForwards(port, "link flap after upgrade")

    def test_uninstall_removes_the_product_and_leaves_the_suites_settings(self):
        port = ovswine.free_udp_port()
        rc, log = install(MSI, f"SYSLOGPORT={port}")
        self.assertEqual(rc, 0, log[-3000:])
        self.assertTrue(t.wait_state(t.RUNNING, 30))
        suite_keys = {k: values(k) for k in (t.COMM_KEY, t.LOCAL_KEY)}

        rc, log = uninstall(MSI)
        self.assertEqual(rc, 0, log[-3000:])
        self.assertNothingInstalled("after uninstall")
        self.assertEqual(auth_port(), str(port))
        self.assertEqual({k: values(k) for k in suite_keys}, suite_keys)


if __name__ == "__main__":
    unittest.main(verbosity=2)
