"""Driving the installed service "OVSyslog" from outside, as an operator would, for the script tests."""
import contextlib
import glob
import os
import re
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import sys
import unittest

import ovswine

# The outbox tool's own reading of the record layout, so that the tests read records one way.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "suite"))
import evtdump  # noqa: E402

SERVICE = "OVSyslog"
HKLM = "HKLM\\Software\\Telmora\\Orvane"
SYSLOG_KEY = HKLM + "\\OVSyslog"
COMM_KEY = HKLM + "\\StandIn\\Comm"
LOCAL_KEY = HKLM + "\\StandIn\\LocalSystem"
LIST_KEY = HKLM + "\\StandIn\\ServerList"
SERVICE_KEY = "HKLM\\System\\CurrentControlSet\\Services\\OVSyslog"
RECORD_SIZE = 220
RECV_BUFFER = "RecvBufferSize"
DEFAULT_RECV_BUFFER = 64 * 1024 * 1024  # what the service asks for without RecvBufferSize

STOPPED, START_PENDING, STOP_PENDING, RUNNING, CONTINUE_PENDING, PAUSE_PENDING, PAUSED = range(1, 8)

PROGRAM = ovswine.bin_path("OVSyslogSvc.exe")
# The error log's name as the README gives it; the tests check the service writes there.
ERROR_LOG_NAME = "OVSyslog.log"
ERROR_LOG = ovswine.bin_path(ERROR_LOG_NAME)
# What a refused destination's records wait in; a start delivers what an earlier test left there.
SPOOL_DIR = ovswine.bin_path("spool")


def _read(path):
    with open(path, "rb") as f:
        return f.read()


def svc(*args, timeout=120):
    return ovswine.run(PROGRAM, *args, timeout=timeout)


def svcctl(action, timeout=120):
    """svcctl's words; it always prints something."""
    return ovswine.run(ovswine.bin_path("svcctl.exe"), SERVICE, action, timeout=timeout,
                       always_prints=True).output.split()


def control(action):
    """Sends a control through the service manager (or starts the service, for "start"); the state
    it reports then, or None on error."""
    out = svcctl(action)
    if out and out[0] == "state":
        return int(out[1])
    return None


def state():
    return control("query")


class Status:
    """What QueryServiceStatus gives: state, Win32 and service-specific exit codes, checkpoint, hint."""

    def __init__(self, words):
        fields = dict(zip(words[0::2], (int(w) for w in words[1::2])))
        self.state, self.exit, self.specific = fields["state"], fields["exit"], fields["specific"]
        self.checkpoint, self.hint = fields["checkpoint"], fields["hint"]

    def __repr__(self):
        return f"Status(state={self.state}, exit={self.exit}, specific={self.specific})"


def status():
    out = svcctl("status")
    return Status(out) if out and out[0] == "state" else None


def stop_wait():
    """Sends a stop and polls until STOPPED inside one program: (milliseconds, Status), or None."""
    out = svcctl("stop-wait")
    if len(out) < 4 or out[0] != "after":
        return None
    return int(out[1]), Status(out[3:])


wait_until = ovswine.wait_until


# The longest a stop may take: the worker asked to end (3 s) and then ended (1 s), what it read
# forwarded for up to 20 s, and time for the polls.
STOP_LIMIT_S = 35


def wait_state(want, timeout=15):
    return wait_until(lambda: state() == want, timeout)


def reg_delete_value(key, name):
    ovswine.reg("delete", key, "/v", name, "/f")


def set_port(port):
    ovswine.reg_set(SYSLOG_KEY, "AuthPort", port)


def set_recv_buffer(value, kind="REG_DWORD"):
    """Stores RecvBufferSize; None removes it, so that the service asks for its default."""
    if value is None:
        reg_delete_value(SYSLOG_KEY, RECV_BUFFER)
    else:
        ovswine.reg_set(SYSLOG_KEY, RECV_BUFFER, value, kind)


def set_tcp_port(port):
    """Stores TcpPort; None removes it, so that the service takes no TCP."""
    if port is None:
        reg_delete_value(SYSLOG_KEY, "TcpPort")
    else:
        ovswine.reg_set(SYSLOG_KEY, "TcpPort", str(port))


def set_servers(servers):
    if servers:
        ovswine.reg_set(LIST_KEY, "Servers", "\\0".join(servers), "REG_MULTI_SZ")
    else:
        reg_delete_value(LIST_KEY, "Servers")


def set_delivery(refuse_first=0, refuse_all=0, delay_ms=0, delay_host="", refuse_destination="",
                 delay_destination=""):
    """The stand-in's delivery; delay_host limits the delay to the records of that host,
    delay_destination to the records for that destination, and refuse_destination refuses every
    record for that destination."""
    if refuse_destination:
        ovswine.reg_set(COMM_KEY, "RefuseDestination", refuse_destination)
    else:
        reg_delete_value(COMM_KEY, "RefuseDestination")
    ovswine.reg_set(COMM_KEY, "RefuseFirst", refuse_first, "REG_DWORD")
    ovswine.reg_set(COMM_KEY, "RefuseAll", refuse_all, "REG_DWORD")
    ovswine.reg_set(COMM_KEY, "DelayMs", delay_ms, "REG_DWORD")
    for name, value in (("DelayHost", delay_host), ("DelayDestination", delay_destination)):
        if value:
            ovswine.reg_set(COMM_KEY, name, value)
        else:
            reg_delete_value(COMM_KEY, name)


def register_components(on=True):
    dll = ovswine.bin_path("OrvaneComponents.dll")
    ovswine.run("regsvr32", "/s", *([] if on else ["/u"]), dll, check=False)


def host_and_text(record):
    """A forwarded record's host and text."""
    fields = evtdump.decode(record)
    return fields["host"], fields["text"]


class Suite:
    """The suite's stand-ins set up as its installer would, with an outbox of this run's own."""

    def __init__(self, local_id="NMS-LOCAL"):
        ovswine.prefix_up()
        self.outbox = tempfile.mkdtemp(prefix="ovs-outbox-")
        register_components()
        ovswine.reg_set(SYSLOG_KEY, "AuthPort", 514)
        set_recv_buffer(None)
        ovswine.reg_set(COMM_KEY, "OutboxDir", ovswine.win_path(self.outbox))
        ovswine.reg_set(LOCAL_KEY, "LocalServerId", local_id)
        set_servers([])
        set_delivery()
        clear_spool()

    def clear(self):
        for f in glob.glob(os.path.join(self.outbox, "*")):
            os.unlink(f)

    def records(self, destination):
        name = os.path.join(self.outbox, destination + ".evt")
        if not os.path.exists(name):
            return []
        data = _read(name)
        # A record being written may be read in part: only whole ones count.
        return [data[i:i + RECORD_SIZE] for i in range(0, len(data) - RECORD_SIZE + 1, RECORD_SIZE)]

    def messages(self, destination):
        """(host, text) of each record delivered to the destination, in delivery order."""
        return [host_and_text(r) for r in self.records(destination)]

    def calls(self):
        """(destination, accepted) for every delivery call, in order."""
        name = os.path.join(self.outbox, "calls.log")
        if not os.path.exists(name):
            return []
        lines = _read(name).decode("latin-1").split("\r\n")
        return [(l.split("\t")[0], l.split("\t")[1] == "1") for l in lines if l]

    def wait_records(self, destination, count, timeout=15):
        wait_until(lambda: len(self.records(destination)) >= count, timeout, every=0.05)
        return self.records(destination)

    def wait_calls(self, count, timeout=30):
        wait_until(lambda: len(self.calls()) >= count, timeout, every=0.05)
        return self.calls()

    def remove(self):
        shutil.rmtree(self.outbox, ignore_errors=True)


def error_log():
    if not os.path.exists(ERROR_LOG):
        return ""
    return _read(ERROR_LOG).decode("latin-1")


def clear_error_log():
    if os.path.exists(ERROR_LOG):
        os.unlink(ERROR_LOG)


def clear_spool():
    """Forgets every spooled record and the spool size setting; the service must be stopped."""
    shutil.rmtree(SPOOL_DIR, ignore_errors=True)
    reg_delete_value(SYSLOG_KEY, "SpoolMaxSize")


def install():
    r = svc("-i")
    assert "install service successed." in r.output or "already exists" in r.output, r


def remove_service():
    """Stops and deletes the service whatever its state."""
    if state() not in (None, STOPPED):
        control("stop")
        wait_state(STOPPED, 20)
    ovswine.sc("delete", SERVICE)
    wait_until(lambda: state() is None, 10)


def start(want=RUNNING, timeout=20):
    """Starts the service and waits for the state; False when it is not reached."""
    control("start")
    return wait_state(want, timeout)


def stop():
    s = control("stop")
    ok = wait_state(STOPPED, STOP_LIMIT_S)
    return s, ok


def service_pid():
    """The Unix pid of the running service program in this prefix, or None."""
    for d in glob.glob("/proc/[0-9]*"):
        try:
            cmd = _read(d + "/cmdline")
            if b"OVSyslogSvc.exe" not in cmd:
                continue
            # The service inherits the prefix path as whoever started the prefix spelled it.
            for var in _read(d + "/environ").split(b"\0"):
                if var.startswith(b"WINEPREFIX=") and \
                        os.path.realpath(var[len(b"WINEPREFIX="):]) == os.path.realpath(ovswine.PREFIX).encode():
                    return int(os.path.basename(d))
        except OSError:
            continue
    return None


def threads_and_memory(pid):
    """(threads, resident KiB) of a Unix process."""
    threads = rss = 0
    for line in _read(f"/proc/{pid}/status").decode().splitlines():
        if line.startswith("Threads:"):
            threads = int(line.split()[1])
        elif line.startswith("VmRSS:"):
            rss = int(line.split()[1])
    return threads, rss


def port_holder():
    """A UDP socket bound on a free port, held by this test process."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("0.0.0.0", 0))
    return s


def port_taken(port):
    """True when some socket holds the UDP port (bind fails)."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        try:
            s.bind(("0.0.0.0", port))
            return False
        except OSError:
            return True


def _udp_socket(port):
    """The system's line for the UDP socket bound to the port, split in fields; None without one.
    The service's socket takes IPv6 and IPv4 alike, so it is listed among the IPv6 ones."""
    for table in ("/proc/net/udp", "/proc/net/udp6"):
        with open(table) as f:
            for line in f.readlines()[1:]:
                fields = line.split()
                if int(fields[1].split(":")[1], 16) == port:
                    return fields
    return None


def unread_bytes(port):
    """Bytes waiting in the receive queue of the UDP socket bound to the port, or None without one."""
    fields = _udp_socket(port)
    return int(fields[4].split(":")[1], 16) if fields else None


def receive_buffer(port):
    """What the system granted the UDP socket bound to the port as its receive buffer (twice what
    was asked, capped at twice net.core.rmem_max), or None without one."""
    r = subprocess.run(["ss", "-uamnH", f"sport = :{port}"], capture_output=True, text=True)
    m = re.search(r"\brb(\d+)", r.stdout)
    return int(m.group(1)) if m else None


def rmem_max():
    with open("/proc/sys/net/core/rmem_max") as f:
        return int(f.read())


def socket_drops(port):
    """Datagrams the system dropped at the UDP socket bound to the port (its buffer was full)."""
    fields = _udp_socket(port)
    return int(fields[-1]) if fields else 0


def send_burst(port, payloads, rate=None, source="0.0.0.0"):
    """Sends from one socket bound to the source address, back to back or paced at `rate`
    datagrams a second."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind((source, 0))
        start = time.monotonic()
        for i, payload in enumerate(payloads):
            s.sendto(payload, ("127.0.0.1", port))
            if rate and i % 100 == 99:
                ahead = start + (i + 1) / rate - time.monotonic()
                if ahead > 0:
                    time.sleep(ahead)


def wait_all_read(port, timeout=30):
    """Waits until the service has read everything sent to the port out of its socket."""
    return wait_until(lambda: unread_bytes(port) == 0, timeout, every=0.01)


def logger(port, *args):
    subprocess.run(["logger", "-n", "127.0.0.1", "-P", str(port), *args], check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


@contextlib.contextmanager
def flooding(port, pause_every):
    """Sends syslog datagrams to the port from a thread of its own while the block runs, resting
    10 ms after every pause_every of them."""
    done = threading.Event()

    def send():
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            i = 0
            while not done.is_set():
                s.sendto(f"<13>flood {i}".encode(), ("127.0.0.1", port))
                i += 1
                if i % pause_every == 0:
                    time.sleep(0.01)

    sender = threading.Thread(target=send)
    sender.start()
    try:
        yield
    finally:
        done.set()
        sender.join()


class InstalledServiceTest(unittest.TestCase):
    """Tests of the installed service, with the suite's stand-ins set up around the whole class."""
    LOCAL_ID = "NMS-LOCAL"

    @classmethod
    def setUpClass(cls):
        cls.suite = Suite(cls.LOCAL_ID)
        remove_service()
        install()

    @classmethod
    def tearDownClass(cls):
        remove_service()
        cls.suite.remove()


class PortPerTest(InstalledServiceTest):
    """Each test on a free port of its own, with no listed servers, the delivery accepting, an
    empty error log and outbox; the service is stopped after each."""

    def setUp(self):
        self.port = ovswine.free_udp_port()
        set_port(self.port)
        set_servers([])
        set_delivery()
        clear_error_log()
        clear_spool()
        self.suite.clear()

    def tearDown(self):
        set_delivery()
        if state() != STOPPED:
            stop()
