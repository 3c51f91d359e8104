"""Running our Windows programs under Wine from Python tests and benchmarks.

Wine's system processes (services.exe, explorer.exe, ...) are started on demand and inherit the
caller's standard handles; a pipe given to them never closes. So every program here writes to a
temporary file that is read back when it ends, never to a pipe.
"""
import os
import re
import socket
import subprocess
import tempfile
import time

PREFIX = os.environ.get("OVS_WINEPREFIX", "")
ARCH = os.environ.get("OVS_WINEARCH", "win64")
BIN = os.environ.get("OVS_BIN", "")
TOOLS = os.environ.get("OVS_TOOLS", os.path.join(os.path.dirname(__file__), ".."))


def _loader():
    r = subprocess.run([os.path.join(TOOLS, "wine-loader"), ARCH], capture_output=True, text=True)
    if r.returncode != 0:
        raise SystemExit(r.stderr.strip())
    return r.stdout.strip()


LOADER = _loader()


def env():
    # Never Wine's default prefix: that is the user's own, and stopping its server would stop theirs.
    if not PREFIX:
        raise SystemExit("ovswine: OVS_WINEPREFIX is empty; set it to this build's prefix")
    e = dict(os.environ)
    e.update(WINEPREFIX=PREFIX, WINEARCH=ARCH, WINEDEBUG=e.get("WINEDEBUG", "-all"),
             WINELOADER=LOADER, WINEDLLOVERRIDES=e.get("WINEDLLOVERRIDES", "mscoree,mshtml="))
    return e


def prefix_up():
    subprocess.run([os.path.join(TOOLS, "wine-prefix"), "up", PREFIX, ARCH], check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)


def wait_until(done, timeout, every=0.1):
    """Polls done() until it is true (True) or the time-out has passed (False); done() is asked
    once more at the time-out, so a condition met during the last interval still counts."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if done():
            return True
        time.sleep(every)
    return bool(done())


def bin_path(name):
    """Unix path of a built binary."""
    return os.path.join(BIN, name)


def win_path(unix_path):
    """Windows path of a Unix path, through Wine's Z: drive."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


class Result:
    def __init__(self, returncode, output):
        self.returncode = returncode
        self.output = output

    def __repr__(self):
        return f"Result({self.returncode}, {self.output!r})"


# What Wine's launcher prints when it could not start a program at all (seen under load): the
# program never ran, so running it again is always safe.
NOT_STARTED = "Application could not be started"


def _run_once(args, timeout):
    with tempfile.TemporaryFile() as out:
        p = subprocess.run([LOADER, *args], env=env(), stdin=subprocess.DEVNULL, stdout=out,
                           stderr=subprocess.STDOUT, timeout=timeout)
        out.seek(0)
        text = out.read().decode("latin-1").replace("\r\n", "\n")
    return Result(p.returncode, text)


def run(*args, timeout=120, check=False, always_prints=False):
    """Runs a Windows program to its end; returns its exit code and its output (stdout+stderr).
    Tried again, a bounded number of times, when Wine could not start it; with always_prints,
    no output at all also means it never started."""
    for attempt in range(3):
        if attempt:
            time.sleep(attempt)
        r = _run_once(args, timeout)
        never_started = NOT_STARTED in r.output or (always_prints and not r.output.strip())
        if not never_started:
            break
    if check and r.returncode != 0:
        raise AssertionError(f"{args} exited {r.returncode}: {r.output}")
    return r


class Background:
    """A Windows program left running; its output goes to a file that can be read at any time."""

    def __init__(self, *args):
        self.out = tempfile.NamedTemporaryFile(delete=False)
        self.proc = subprocess.Popen([LOADER, *args], env=env(), stdin=subprocess.DEVNULL,
                                     stdout=self.out, stderr=subprocess.STDOUT)

    def output(self):
        with open(self.out.name, "rb") as f:
            return f.read().decode("latin-1").replace("\r\n", "\n")

    def wait_for(self, text, timeout=10):
        return wait_until(lambda: text in self.output(), timeout, every=0.05)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(10)
        os.unlink(self.out.name)


def reg(*args):
    # Every reg command prints its answer, a refusal too.
    return run("reg", *args, always_prints=True)


def reg_value(key, name):
    """(type, data) of one value as reg prints it, e.g. ("REG_DWORD", "0x2"); None when missing."""
    r = reg("query", key, "/v", name)
    if r.returncode != 0:
        return None
    for line in r.output.splitlines():
        m = re.match(r"^\s+(.+?)\s{4}(REG_\w+)\s{4}(.*?)\s*$", line)
        if m and m.group(1) == name:
            return m.group(2), m.group(3)
    return None


def reg_set(key, name, value, kind="REG_SZ"):
    r = reg("add", key, "/v", name, "/t", kind, "/d", str(value), "/f")
    assert r.returncode == 0, r


def reg_delete_key(key):
    reg("delete", key, "/f")


def sc(*args):
    return run("sc", *args)


def free_udp_port():
    """A UDP port that nobody on this machine holds right now."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("0.0.0.0", 0))
        return s.getsockname()[1]


def free_tcp_port():
    """A TCP port that nobody on this machine holds right now."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("0.0.0.0", 0))
        return s.getsockname()[1]


def send_udp(port, payload, host="127.0.0.1"):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.sendto(payload if isinstance(payload, bytes) else payload.encode(), (host, port))
