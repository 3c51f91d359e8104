#!/usr/bin/env python3
"""TCP against UDP into the installed service: the same count of messages sent as fast as one TCP
connection allows, then spread over many connections at once, then back to back over UDP.

    bench/tcp/run.sh [--count 100000] [--connections 50] [--wait 900]

For each run prints sent, lost, out of order (per connection), the seconds from the first send
until the last record reached the stand-in's outbox, messages a second over that, and for TCP the
most messages the service held read and not yet forwarded (TcpHeldPeak). UDP loses what the socket
cannot hold while the reader catches up; TCP should lose none. Prints figures; never fails.
"""
import argparse
import os
import re
import socket
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "..", "tools", "python")]
import ovswine  # noqa: E402
import svctest as t  # noqa: E402

LOCAL = "BENCH-LOCAL"
TEXT = re.compile(r"^(\w+) (\d+) (\d+)")


def tally(suite, tag, connections):
    """(delivered, out of order) of the run's records, per connection in delivery order."""
    last = {}
    delivered = disorder = 0
    for rec in suite.records(LOCAL):
        m = TEXT.match(t.host_and_text(rec)[1])
        if not m or m.group(1) != tag:
            continue
        c, n = int(m.group(2)), int(m.group(3))
        delivered += 1
        if n <= last.get(c, -1):
            disorder += 1
        last[c] = n
    return delivered, disorder


def send_tcp(port, tag, count, connections):
    per = count // connections

    def one(c):
        with socket.create_connection(("127.0.0.1", port), timeout=600) as s:
            batch = []
            for n in range(per):
                text = f"<13>{tag} {c} {n}".encode()
                batch.append(str(len(text)).encode() + b" " + text)
                if len(batch) == 200:
                    s.sendall(b"".join(batch))
                    batch = []
            if batch:
                s.sendall(b"".join(batch))

    threads = [threading.Thread(target=one, args=(c,)) for c in range(connections)]
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    return per * connections


def send_udp(port, tag, count):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        for n in range(count):
            s.sendto(f"<13>{tag} 0 {n}".encode(), ("127.0.0.1", port))
    return count


def wine_version():
    loader = subprocess.run([os.path.join(os.environ["OVS_TOOLS"], "wine-loader"), os.environ["OVS_WINEARCH"]],
                            capture_output=True, text=True).stdout.strip()
    return subprocess.run([loader, "--version"], capture_output=True, text=True).stdout.strip()


def held_peak():
    out = ovswine.run(t.PROGRAM, "-s").output
    m = re.search(r"^TcpHeldPeak : (\d+)", out, re.M)
    return int(m.group(1)) if m else None


def run(suite, name, tag, send, count, wait):
    suite.clear()
    if not t.start():
        print(f"{name}: the service did not start", flush=True)
        return
    begun = time.monotonic()
    sent = send()
    sent_s = time.monotonic() - begun
    done = None
    previous, still = -1, time.monotonic()
    while time.monotonic() - begun < wait:
        delivered, _ = tally(suite, tag, 0)
        if delivered >= sent:
            done = time.monotonic() - begun
            break
        if delivered != previous:
            previous, still = delivered, time.monotonic()
        elif time.monotonic() - still > 30:  # nothing more for 30 s: the rest is lost
            break
        time.sleep(1)
    delivered, disorder = tally(suite, tag, 0)
    took = done if done is not None else time.monotonic() - begun
    t.stop_wait()
    peak = held_peak() if tag != "udp" else None
    print(f"{name:<22} {sent:>7} {sent - delivered:>7} {disorder:>8} {sent_s:>8.1f} {took:>8.1f} "
          f"{delivered / took:>8.0f} {'-' if peak is None else peak:>9}", flush=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--count", type=int, default=100000)
    ap.add_argument("--connections", type=int, default=50)
    ap.add_argument("--wait", type=float, default=900, help="longest wait for one run's records")
    args = ap.parse_args()

    suite = t.Suite(LOCAL)
    t.remove_service()
    t.install()
    t.clear_error_log()
    udp, tcp = ovswine.free_udp_port(), ovswine.free_tcp_port()
    t.set_port(udp)
    t.set_tcp_port(tcp)
    print(f"{args.count} messages a run; x{os.cpu_count()} cores, tree "
          f"{os.path.basename(os.path.dirname(os.environ['OVS_BIN']))}, {wine_version()}")
    print(f"{'run':<22} {'sent':>7} {'lost':>7} {'disorder':>8} {'send s':>8} {'all in s':>8} {'msg/s':>8} "
          f"{'held peak':>9}", flush=True)
    try:
        run(suite, "tcp, 1 connection", "one", lambda: send_tcp(tcp, "one", args.count, 1), args.count, args.wait)
        run(suite, f"tcp, {args.connections} connections", "many",
            lambda: send_tcp(tcp, "many", args.count, args.connections), args.count, args.wait)
        run(suite, "udp, back to back", "udp", lambda: send_udp(udp, "udp", args.count), args.count, args.wait)
    finally:
        t.set_tcp_port(None)
        t.remove_service()
        suite.remove()


if __name__ == "__main__":
    main()
