#!/usr/bin/env python3
"""Flood benchmark of the receive loop under Wine.

run_bench.py [BUILD_TREE] [--seconds N] [--quick] [--modes library,bare] [--rates R,R,...]

Starts receive_bench.exe under Wine (the receiver library's loop, then a bare blocking recvfrom loop
for comparison), sends it paced, numbered datagrams from Linux and prints, per receiver: the highest
rate with no loss over the run time (rates double from --start-rate up to the first with loss), the
loss at 2x and 5x that rate, the peak of datagram threads alive in the callback, of the process's
threads and of its private bytes. --smoke: a few seconds at 100/s, exit 1 on any loss.
"""
import argparse
import os
import platform
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
PAYLOAD_SIZE = 120            # bytes per datagram, a typical device line
DRAIN_QUIET_S = 2.0           # the tail has drained when nothing arrived for this long
DRAIN_LIMIT_S = 300.0          # a slow receiver empties a full socket buffer (~20,000) in minutes
PY_SENDER_SHARE = 4           # Python sends a rate only up to a quarter of its own ceiling
KEPT_UP_DRAIN_S = 1.0         # a receiver that keeps up has read all but the last moment's
MIN_RATE = 50                 # the search gives up below this
PACE_SLACK = 0.97             # below this share of the asked rate the sender, not the receiver, set it
RMEM_PATH = "/proc/sys/net/core/rmem_max"
RMEM_TARGET = 64 * 1024 * 1024  # what both receivers ask for in SO_RCVBUF by default


def set_environment(tree):
    """Points ovswine at a build tree (bin/, wineprefix/, its architecture)."""
    tree = os.path.abspath(tree)
    arch = "x86_64"
    cache = os.path.join(tree, "CMakeCache.txt")
    if os.path.exists(cache):
        m = re.search(r"^OVS_ARCH:\w+=(\S+)", open(cache).read(), re.M)
        arch = m.group(1) if m else arch
    os.environ["OVS_BIN"] = os.path.join(tree, "bin")
    os.environ["OVS_WINEPREFIX"] = os.path.join(tree, "wineprefix")
    os.environ["OVS_WINEARCH"] = "win32" if arch == "i686" else "win64"
    os.environ.setdefault("OVS_TOOLS", os.path.join(SOURCE, "tools"))


def default_tree():
    arch = subprocess.run([os.path.join(SOURCE, "tools", "winearch")], capture_output=True,
                          text=True).stdout.strip() or "x86_64"
    return os.path.join(os.environ.get("OVS_BUILD", os.path.join(SOURCE, "build")), arch)


def payload(run, seq):
    text = f"<13>Dec  8 05:00:00 benchhost bench: run={run} seq={seq} ".encode()
    return text.ljust(PAYLOAD_SIZE, b".")


class Receiver:
    """receive_bench.exe under Wine with its control channel."""

    def __init__(self, ovswine, mode, port, *extra):
        self.mode, self.port = mode, port
        self.proc = ovswine.Background(ovswine.bin_path("receive_bench.exe"), mode, str(port), *extra)
        if not self.proc.wait_for("control port", timeout=30):
            out = self.proc.output()
            self.proc.stop()
            raise RuntimeError(f"receive_bench {mode} did not start: {out.strip()}")
        self.control = int(re.search(r"control port (\d+)", self.proc.output()).group(1))
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.connect(("127.0.0.1", self.control))

    def ask(self, request, attempts=5):
        for _ in range(attempts):
            self.sock.settimeout(3)
            self.sock.send(request.encode())
            try:
                return self.sock.recv(1024).decode()
            except socket.timeout:
                if self.proc.proc.poll() is not None:
                    break
        raise RuntimeError(f"receive_bench gave no answer to {request}: {self.proc.output().strip()}")

    def stats(self):
        return {k: int(v) for k, v in re.findall(r"(\w+)=(-?\d+)", self.ask("STATS"))}

    def reset(self, run, expected):
        answer = self.ask(f"RESET {run} {expected}")
        if answer != "OK":
            raise RuntimeError(f"receive_bench refused the reset: {answer}")

    def wait_ready(self, timeout=20):
        """Until a datagram sent to the port is seen (accept has bound it)."""
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            deadline = time.monotonic() + timeout
            while time.monotonic() < deadline:
                s.sendto(b"<13>Dec  8 05:00:00 benchhost bench: warm-up", ("127.0.0.1", self.port))
                if self.stats()["unparsed"] > 0:
                    return
                time.sleep(0.2)
        raise RuntimeError(f"receive_bench {self.mode} never received on port {self.port}")

    def close(self):
        try:
            self.ask("QUIT", attempts=1)
            self.proc.proc.wait(5)
        except (RuntimeError, subprocess.TimeoutExpired):
            pass
        self.proc.stop()
        self.sock.close()


def python_send(port, rate, seconds, run):
    """Paced by the clock: at each moment sends what is due, then naps. rate 0: flat out."""
    dest = ("127.0.0.1", port)
    total = int(rate * seconds + 0.5) if rate else None
    sent = errors = 0
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        send = s.sendto
        start = time.monotonic()
        while total is None or sent < total:
            now = time.monotonic()
            if total is None:
                if now - start >= seconds:
                    break
                due = sent + 64
            else:
                due = min(total, int((now - start) * rate) + 1)
                if due <= sent:
                    time.sleep(0.0002)
                    continue
            for seq in range(sent, due):
                try:
                    send(payload(run, seq), dest)
                except OSError:
                    errors += 1
            sent = due
        return sent, errors, time.monotonic() - start


def build_c_sender(workdir):
    cc = shutil.which("gcc") or shutil.which("cc")
    if cc is None:
        return None
    exe = os.path.join(workdir, "flood")
    subprocess.run([cc, "-O2", "-o", exe, os.path.join(HERE, "flood.c")], check=True)
    return exe


def c_send(exe, port, rate, seconds, run):
    out = subprocess.run([exe, "127.0.0.1", str(port), str(rate), str(seconds), str(run),
                          str(PAYLOAD_SIZE)], capture_output=True, text=True, check=True).stdout
    f = dict(re.findall(r"(\w+)=([\d.]+)", out))
    return int(f["sent"]), int(f["errors"]), float(f["elapsed"])


class Senders:
    """Python where it has room to spare, the native sender above that."""

    def __init__(self, workdir, allow_c=True):
        self.c_exe = build_c_sender(workdir) if allow_c else None
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sink:
            sink.bind(("127.0.0.1", 0))  # never read: the kernel drops what does not fit
            port = sink.getsockname()[1]
            sent, _, took = python_send(port, 0, 1.0, 1)
            self.py_ceiling = sent / took
            self.c_ceiling = None
            if self.c_exe:
                sent, _, took = c_send(self.c_exe, port, 0, 1.0, 1)
                self.c_ceiling = sent / took

    def send(self, port, rate, seconds, run):
        if rate <= self.py_ceiling / PY_SENDER_SHARE or self.c_exe is None:
            return ("python",) + python_send(port, rate, seconds, run)
        return ("C",) + c_send(self.c_exe, port, rate, seconds, run)


def arrivals(st):
    return st["received"] + st["stale"] + st["unparsed"]


def drain(rx):
    """Polls until nothing more arrives; returns the last stats, when the last datagram came and
    whether the limit cut the wait short."""
    last = rx.stats()
    changed = time.monotonic()
    deadline = changed + DRAIN_LIMIT_S
    while time.monotonic() < deadline:
        time.sleep(0.25)
        now = rx.stats()
        if arrivals(now) != arrivals(last) or now["live"] > 0:
            changed = time.monotonic()
        last = now
        if time.monotonic() - changed >= DRAIN_QUIET_S:
            return last, changed, False
    return last, changed, True


def load():
    return os.getloadavg()[0]


def measure(rx, senders, rate, seconds, run):
    expected = int(rate * seconds + 0.5)
    drain(rx)  # a tail cut short last time must not fill the socket under this run
    rx.reset(run, expected)
    sender, sent, errors, took = senders.send(rx.port, rate, seconds, run)
    ended = time.monotonic()
    st, last_arrival, cut = drain(rx)
    row = dict(mode=rx.mode, rate=rate, sender=sender, sent=sent, errors=errors,
               sent_rate=sent / took, received=st["received"], lost=st["missing"],
               dups=st["duplicates"], stale=st["stale"], loss=st["missing"] / max(expected, 1),
               drain=max(0.0, last_arrival - ended), cut=cut, load=load(),
               read_rate=st["received"] / max(took, last_arrival - (ended - took)),
               peak_live=st["peak_live"],
               peak_threads=st["peak_threads"], peak_private=st["peak_private"],
               idle_private=st["idle_private"], paced=sent / took >= rate * PACE_SLACK)
    print_row(row)
    return row


ROW_FORMAT = ("{:<8} {:>7} {:>6} {:>7} {:>8} {:>8} {:>7} {:>4} {:>7} {:>7} {:>7} {:>7} {:>8} "
              "{:>13} {:>5}")


def print_header():
    print(ROW_FORMAT.format("receiver", "rate/s", "sender", "sent/s", "sent", "received", "lost",
                            "dups", "loss", "drain s", "read/s", "peak cb", "peak thr",
                            "peak priv MiB", "load"))


def print_row(r):
    mib = r["peak_private"] / 2**20
    above = (r["peak_private"] - r["idle_private"]) / 2**20
    print(ROW_FORMAT.format(r["mode"], r["rate"], r["sender"], f"{r['sent_rate']:.0f}", r["sent"],
                            r["received"], r["lost"], r["dups"], f"{100 * r['loss']:.2f}%",
                            f"{r['drain']:.1f}", f"{r['read_rate']:.0f}", r["peak_live"],
                            r["peak_threads"], f"{mib:.1f} (+{above:.1f})", f"{r['load']:.1f}")
          + ("" if r["paced"] else "  sender-bound") + ("  drain cut short" if r["cut"] else ""),
          flush=True)


def search(rx, senders, args, run_ids):
    """Doubling rates up to the first with loss (halving when the first already loses), then 2x
    and 5x the best rate without loss."""
    rows, best, rate = [], None, args.start_rate
    while rate <= args.max_rate:
        row = measure(rx, senders, rate, args.seconds, next(run_ids))
        rows.append(row)
        if row["lost"] or not row["paced"]:
            break
        best = row
        rate *= 2
    # Loss at the first rate: halve down to a rate that the receiver keeps.
    rate = args.start_rate // 2
    while best is None and rate >= MIN_RATE:
        row = measure(rx, senders, rate, args.seconds, next(run_ids))
        rows.insert(0, row)
        if not row["lost"]:
            best = row
        rate //= 2
    if best is None:
        return rows, None, None, None
    by_rate = {r["rate"]: r for r in rows}
    twice = by_rate.get(2 * best["rate"]) or measure(rx, senders, 2 * best["rate"], args.seconds,
                                                     next(run_ids))
    five = measure(rx, senders, 5 * best["rate"], args.seconds, next(run_ids))
    return rows + [five], best, twice, five


class RaisedRmem:
    """Raises net.core.rmem_max for the run so that the receivers get the buffer they ask for."""

    def __init__(self, target):
        self.target, self.saved = target, None

    def __enter__(self):
        current = int(open(RMEM_PATH).read())
        if not self.target or current >= self.target:
            print(f"net.core.rmem_max = {current}, left as it is")
            return self
        r = subprocess.run(["sysctl", "-w", f"net.core.rmem_max={self.target}"],
                           capture_output=True, text=True)
        if r.returncode == 0:
            self.saved = current
            print(f"raised net.core.rmem_max from {current} to {self.target} for this run "
                  "(restored at the end)")
        else:
            print(f"could not raise net.core.rmem_max ({r.stderr.strip()}); it stays {current}")
        return self

    def __exit__(self, *exc):
        if self.saved is not None:
            subprocess.run(["sysctl", "-w", f"net.core.rmem_max={self.saved}"],
                           capture_output=True, check=False)
            print(f"restored net.core.rmem_max to {self.saved}")


def machine_facts(ovswine):
    wine = subprocess.run([ovswine.LOADER, "--version"], capture_output=True, text=True,
                          stdin=subprocess.DEVNULL).stdout.strip()
    return (f"machine: {os.cpu_count()} cores, Linux {platform.release()}, {wine}, "
            f"{ovswine.ARCH} ({ovswine.LOADER}), Python {platform.python_version()}, "
            f"load average {load():.1f} (the load column: at the end of each row)")


def kept_up(rows):
    """The highest rate read as it came: no loss and no backlog left for the drain."""
    rates = [r["rate"] for r in rows if not r["lost"] and r["drain"] <= KEPT_UP_DRAIN_S]
    return f"{max(rates)}/s" if rates else "none"


def summary(results, seconds):
    print(f"\nsummary ({seconds:g} s per rate; peaks over all runs of the receiver; kept up: "
          f"no loss and drained within {KEPT_UP_DRAIN_S:g} s)")
    fmt = "{:<8} {:>15} {:>20} {:>20} {:>9} {:>10} {:>8} {:>9} {:>14}"
    print(fmt.format("receiver", "zero-loss rate", "loss at 2x", "loss at 5x", "kept up",
                     "max read/s", "peak cb", "peak thr", "peak priv MiB"))
    for mode, (rows, best, twice, five) in results.items():
        def loss(r):
            return f"{r['rate']}/s: {100 * r['loss']:.2f}%" if r else "-"
        print(fmt.format(
            mode, f"{best['rate']}/s" if best else f"none >= {rows[0]['rate']}/s", loss(twice),
            loss(five), kept_up(rows), f"{max(r['read_rate'] for r in rows):.0f}",
            max(r["peak_live"] for r in rows), max(r["peak_threads"] for r in rows),
            f"{max(r['peak_private'] for r in rows) / 2**20:.1f}"))


def smoke(ovswine, senders, run_ids):
    """Both receivers at 100/s for 3 s: nothing may be lost, and the bookkeeping must work."""
    failures = []
    for mode in ("library", "bare"):
        rx = Receiver(ovswine, mode, ovswine.free_udp_port())
        try:
            rx.wait_ready()
            r = measure(rx, senders, 100, 3, next(run_ids))
        finally:
            rx.close()
        if r["lost"] or r["dups"] or r["received"] != r["sent"]:
            failures.append(f"{mode}: sent {r['sent']}, received {r['received']}, lost {r['lost']}")
        if mode == "library" and r["peak_live"] < 1:
            failures.append("library: no datagram thread was ever seen in the callback")
        if r["peak_private"] <= 0 or r["peak_threads"] < 1:
            failures.append(f"{mode}: the process sampler reported nothing")
    for f in failures:
        print("FAIL", f)
    return 1 if failures else 0


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[1])
    p.add_argument("tree", nargs="?", help="build tree (default: $OVS_BIN's, or build/<arch>)")
    p.add_argument("--seconds", type=float, default=30.0, help="send time per rate (default 30)")
    p.add_argument("--quick", action="store_true", help="5 s per rate")
    p.add_argument("--modes", default="library,bare")
    p.add_argument("--start-rate", type=int, default=500)
    p.add_argument("--max-rate", type=int, default=128000)
    p.add_argument("--rates", help="measure exactly these rates (comma-separated), no search")
    p.add_argument("--rmem-max", type=int, default=RMEM_TARGET,
                   help="raise net.core.rmem_max to this for the run (0: leave it)")
    p.add_argument("--smoke", action="store_true", help="3 s at 100/s; exit 1 on any loss")
    a = p.parse_args()
    if a.quick:
        a.seconds = 5.0
    a.modes = [m for m in a.modes.split(",") if m]
    if any(m not in ("library", "bare") for m in a.modes):
        p.error("--modes takes library and/or bare")
    return a


def main():
    args = parse_args()
    if args.tree or not os.environ.get("OVS_BIN"):
        set_environment(args.tree or default_tree())
    sys.path.insert(0, os.path.join(SOURCE, "tools", "python"))
    import ovswine
    if not os.path.exists(ovswine.bin_path("receive_bench.exe")):
        sys.exit(f"no receive_bench.exe in {ovswine.BIN}: build the tree first")
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped"))
    ovswine.prefix_up()
    run_ids = iter(range(1, 1 << 30))

    with tempfile.TemporaryDirectory() as work:
        senders = Senders(work, allow_c=not args.smoke)
        if args.smoke:
            return smoke(ovswine, senders, run_ids)
        print(machine_facts(ovswine))
        c = f"{senders.c_ceiling:.0f}/s" if senders.c_ceiling else "not built (no gcc)"
        print(f"sender ceilings on loopback: Python {senders.py_ceiling:.0f}/s, native C {c}; "
              f"Python sends rates up to {senders.py_ceiling / PY_SENDER_SHARE:.0f}/s")
        results = {}
        with RaisedRmem(args.rmem_max):
            print_header()
            for mode in args.modes:
                rx = Receiver(ovswine, mode, ovswine.free_udp_port())
                try:
                    rx.wait_ready()
                    if args.rates:
                        for rate in (int(x) for x in args.rates.split(",")):
                            measure(rx, senders, rate, args.seconds, next(run_ids))
                    else:
                        results[mode] = search(rx, senders, args, run_ids)
                finally:
                    rx.close()
        if results:
            summary(results, args.seconds)
    return 0


if __name__ == "__main__":
    sys.exit(main())
