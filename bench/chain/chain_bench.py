#!/usr/bin/env python3
"""Whole-chain benchmark: paced syslog senders at rising rates into the installed service, counting
the records that reach the stand-in's outbox, beside the same stream into rsyslog (imudp to a file,
run as a plain process with its own configuration) on another loopback port.

    bench/chain/run.sh [--rates 250,500,1000,1500] [--seconds 30] [--together]
    bench/chain/run.sh --slow-sender 50 [--rates 1000] [--seconds 30]

--tcp configures a TCP port as well (nothing is sent to it), to show what TCP costs UDP.

By default each rate's stream goes to the service and then, once more, to rsyslog, so that each
receiver has the machine to itself; --together sends every message to both at once.
--slow-sender MS sends to the service only, from two loopback addresses at once: a fast sender at
the rate and a slow one at a tenth of it, whose every delivery the stand-in holds MS ms; it
prints each sender's figures and the rate its records reached the outbox at.

Per rate: sent, lost, latency from send to record (median, 99th percentile; the send time travels
in the text) and, for the service, the datagrams its socket dropped (the buffer was full: lost
before the service could read them), its peak threads and private bytes. Prints figures; never
fails.
"""
import argparse
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "python"))
import ovswine  # noqa: E402
import svctest as t  # noqa: E402

LOCAL = "BENCH-LOCAL"
POLL = 0.005
DRAIN = 5.0


class FileTail(threading.Thread):
    """Reads what a growing file gains, every POLL seconds, into `buffer`; `take` handles it."""

    def __init__(self, path):
        super().__init__(daemon=True)
        self.path = path
        self.offset = 0
        self.buffer = b""
        self.running = True

    def run(self):
        while self.running:
            self.poll()
            time.sleep(POLL)

    def poll(self):
        try:
            with open(self.path, "rb") as f:
                f.seek(self.offset)
                data = f.read()
        except OSError:
            return
        if data:
            self.offset += len(data)
            self.buffer += data
            self.take()

    def take(self):
        raise NotImplementedError


class Follower(FileTail):
    """Stamps each message as it shows up in a growing file; `parse` yields (rate, seq, sent_ns)."""

    def __init__(self, path, parse):
        super().__init__(path)
        self.parse = parse
        self.seen = {}  # (rate, seq) -> latency in ms

    def take(self):
        now = time.time_ns()
        for item in self.parse(self):
            if item is not None:
                rate, seq, sent = item
                self.seen.setdefault((rate, seq), (now - sent) / 1e6)


def parse_text(text):
    parts = text.split()
    if len(parts) >= 4 and parts[0] == "bench":
        try:
            return int(parts[1]), int(parts[2]), int(parts[3])
        except ValueError:
            return None
    return None


def records(follower):
    while len(follower.buffer) >= t.RECORD_SIZE:
        rec, follower.buffer = follower.buffer[:t.RECORD_SIZE], follower.buffer[t.RECORD_SIZE:]
        yield parse_text(t.host_and_text(rec)[1])


def lines(follower):
    *done, follower.buffer = follower.buffer.split(b"\n")
    for line in done:
        text = line.decode("latin-1")
        yield parse_text(text[text.find(">") + 1:])


RSYSLOG_CONF = """global(workDirectory="{work}")
module(load="imudp")
input(type="imudp" address="127.0.0.1" port="{port}")
template(name="raw" type="string" string="%rawmsg%\\n")
action(type="omfile" file="{out}" template="raw" asyncWriting="off" flushOnTXEnd="on")
"""


def start_rsyslog(work, port):
    out = os.path.join(work, "messages")
    conf = os.path.join(work, "rsyslog.conf")
    with open(conf, "w") as f:
        f.write(RSYSLOG_CONF.format(work=work, port=port, out=out))
    proc = subprocess.Popen(["rsyslogd", "-n", "-f", conf, "-i", os.path.join(work, "pid")],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return proc, out


def send(rate, seconds, ports, source="0.0.0.0", tag=None):
    """Paced: message i leaves at start + i / rate. The same message goes to every port. The tag
    (default: the rate) names the stream in the text."""
    count = int(rate * seconds)
    tag = rate if tag is None else tag
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind((source, 0))
        start = time.monotonic()
        for i in range(count):
            due = start + i / rate
            delay = due - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            payload = f"<13>bench {tag} {i} {time.time_ns()}".encode()
            for p in ports:
                s.sendto(payload, ("127.0.0.1", p))
    return count


def figures(follower, rate, sent):
    # The follower thread goes on adding records while this one reads.
    lat = sorted(v for (r, _), v in list(follower.seen.items()) if r == rate)
    lost = sent - len(lat)
    if not lat:
        return lost, float("nan"), float("nan")
    p99 = lat[min(len(lat) - 1, int(len(lat) * 0.99))]
    return lost, statistics.median(lat), p99


class Sampler(threading.Thread):
    def __init__(self, pid):
        super().__init__(daemon=True)
        self.pid, self.threads, self.private = pid, 0, 0
        self.running = True

    def run(self):
        while self.running:
            try:
                for line in open(f"/proc/{self.pid}/status"):
                    if line.startswith("Threads:"):
                        self.threads = max(self.threads, int(line.split()[1]))
                    elif line.startswith("RssAnon:"):
                        self.private = max(self.private, int(line.split()[1]))
            except OSError:
                pass
            time.sleep(0.1)


SLOW, FAST = "127.0.0.2", "127.0.0.3"


def two_senders(follower, port, rate, seconds, delay_ms):
    """The fast and the slow sender at once; per sender: sent, lost, latency and delivered rate."""
    t.set_delivery(delay_ms=delay_ms, delay_host=SLOW)
    slow_rate = max(1, rate // 10)
    streams = [("fast", FAST, rate, 1_000_000 + rate), ("slow", SLOW, slow_rate, 2_000_000 + rate)]
    sent = {}
    begun = time.time_ns()
    senders = [threading.Thread(target=lambda n=n, a=a, r=r, g=g: sent.__setitem__(n, send(r, seconds, [port], a, g)))
               for n, a, r, g in streams]
    for s in senders:
        s.start()
    for s in senders:
        s.join()
    # The slow sender's backlog takes its own time: wait until it is all through, within reason.
    deadline = time.monotonic() + seconds * 10 + DRAIN
    while time.monotonic() < deadline and sum(figures(follower, g, sent[n])[0] for n, _, _, g in streams) > 0:
        time.sleep(0.5)
    for name, _, r, tag in streams:
        lost, p50, p99 = figures(follower, tag, sent[name])
        arrivals = [v for (g, _), v in list(follower.seen.items()) if g == tag]
        span = (max(arrivals) if arrivals else 0) / 1000 + seconds
        print(f"{r:>7} {name + ' sender':>12} {sent[name]:>7} {lost:>6} {p50:>8.1f} {p99:>8.1f} "
              f"{len(arrivals) / span if span else 0:>10.1f}", flush=True)
    t.set_delivery()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rates", default="250,500,1000,1500")
    ap.add_argument("--seconds", type=float, default=30)
    ap.add_argument("--together", action="store_true", help="send each message to both receivers at once")
    ap.add_argument("--slow-sender", type=int, metavar="MS", help="two senders, one whose deliveries take MS ms")
    ap.add_argument("--tcp", action="store_true", help="the service listens on a TCP port too (idle)")
    args = ap.parse_args()
    rates = [int(r) for r in args.rates.split(",")]

    suite = t.Suite(LOCAL)
    t.remove_service()
    t.install()
    port, peer_port = ovswine.free_udp_port(), ovswine.free_udp_port()
    t.set_port(port)
    t.set_tcp_port(ovswine.free_tcp_port() if args.tcp else None)
    work = tempfile.mkdtemp(prefix="ovs-bench-rsyslog-")
    rsyslog, peer_out = start_rsyslog(work, peer_port)
    time.sleep(1)
    try:
        if not t.start():
            print("the service did not start")
            return
        pid = t.service_pid()
        ours = Follower(os.path.join(suite.outbox, LOCAL + ".evt"), records)
        peer = Follower(peer_out, lines)
        ours.start()
        peer.start()
        if args.slow_sender is not None:
            print(f"{args.seconds:g} s per rate, a fast sender and a slow one (each delivery held "
                  f"{args.slow_sender} ms) at once; machine: {os.cpu_count()} cores")
            print(f"{'rate/s':>7} {'stream':>12} {'sent':>7} {'lost':>6} {'p50 ms':>8} {'p99 ms':>8} {'records/s':>10}")
            for rate in rates:
                two_senders(ours, port, rate, args.seconds, args.slow_sender)
            return
        how = "each message to both receivers at once" if args.together else "each receiver alone, one after the other"
        print(f"{args.seconds:g} s per rate, {how}; machine: {os.cpu_count()} cores; "
              f"TCP {'on' if args.tcp else 'off'}")
        print(f"{'rate/s':>7} {'receiver':>9} {'sent':>7} {'lost':>6} {'drops':>6} {'p50 ms':>8} {'p99 ms':>8} {'threads':>8} {'private MiB':>12}")
        runs = [[port, peer_port]] if args.together else [[port], [peer_port]]
        for rate in rates:
            sampler = Sampler(pid)
            sampler.start()
            drops_before = t.socket_drops(port)
            for ports in runs:
                sent = send(rate, args.seconds, ports)
                time.sleep(DRAIN)
                sampler.running = False  # the service's peak is that of its own stream
                drops = t.socket_drops(port) - drops_before
            for name, f, dropped, extra in (
                    ("service", ours, drops, f"{sampler.threads:>8} {sampler.private / 1024:>12.1f}"),
                    ("rsyslog", peer, "-", f"{'-':>8} {'-':>12}")):
                lost, p50, p99 = figures(f, rate, sent)
                print(f"{rate:>7} {name:>9} {sent:>7} {lost:>6} {dropped:>6} {p50:>8.1f} {p99:>8.1f} {extra}", flush=True)
        ours.running = peer.running = False
    finally:
        t.remove_service()
        t.set_tcp_port(None)
        rsyslog.terminate()
        rsyslog.wait(10)
        shutil.rmtree(work, ignore_errors=True)
        suite.remove()


if __name__ == "__main__":
    main()
