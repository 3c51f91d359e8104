#!/usr/bin/env python3
"""Burst benchmark: numbered datagrams sent back to back (and 100,000 paced at high rates) from one
Linux sender into the installed service with the suite's stand-ins, into rsyslog (imudp with the
same receive buffer, to a file) and into a bare blocking-read loop under Wine with the same buffer
(the platform's ceiling: one reader, nothing forwarded beside it).

    bench/burst/run.sh [--bursts 10000,100000,200000] [--paced 50000,100000]
                       [--paced-count 100000] [--receivers service,rsyslog,bare]
                       [--buffers 67108864,8388608] [--tcp]

One table per receive buffer: the first is the service's default (no RecvBufferSize), the others
set RecvBufferSize; --tcp configures a TCP port for the service as well (nothing is sent to it), to
show what TCP costs UDP. net.core.rmem_max is raised to the largest for the run and restored after.
Per burst and receiver: sent, lost (and how many of those the socket dropped, from /proc/net/udp),
seconds from the first datagram sent to the last one received or forwarded, what was kept per
second of those (the bare loop's read rate), the peak the kernel held in the socket's queue
(rx_queue), peak threads and private bytes; first, what one round trip to the wineserver costs,
which bounds them all. Each receiver has the machine to itself. Prints figures; never fails.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
sys.path[:0] = [os.path.join(SOURCE, "bench", "receive"), os.path.join(SOURCE, "bench", "chain"),
                os.path.join(SOURCE, "tools", "python")]
import run_bench as rb  # noqa: E402

t = None  # svctest, imported once the tree's environment is set

LOCAL = "BENCH-LOCAL"
TCP = False  # --tcp: the service also listens on an idle TCP port
QUIET_S = 5.0        # a receiver that has added nothing for this long is done
LIMIT_S = 900.0      # and one that goes on this long is cut off (200,000 forwarded on a busy machine)
SEQ = re.compile(rb"run=(\d+) seq=(\d+)")
RSYSLOG_CONF = """global(workDirectory="{work}")
module(load="imudp")
input(type="imudp" address="127.0.0.1" port="{port}" rcvbufSize="{rcvbuf}")
template(name="raw" type="string" string="%rawmsg%\\n")
action(type="omfile" file="{out}" template="raw" asyncWriting="off" flushOnTXEnd="on")
"""


def counter_class():
    """Counter, built on the chain benchmark's file follower once the tree's environment is set."""
    import chain_bench

    class Counter(chain_bench.FileTail):
        """Counts the distinct sequence numbers of each run in a growing file, with the time the
        last new one showed up."""

        def __init__(self, path, record_size=None):
            super().__init__(path)
            self.record_size = record_size
            self.seen, self.last = {}, {}

        def take(self):
            now = time.monotonic()
            if self.record_size:
                cut = len(self.buffer) - len(self.buffer) % self.record_size
            else:
                cut = self.buffer.rfind(b"\n") + 1
            chunk, self.buffer = self.buffer[:cut], self.buffer[cut:]
            for run, seq in SEQ.findall(chunk):
                run = int(run)
                self.seen.setdefault(run, set()).add(int(seq))
                self.last[run] = now

        def count(self, run):
            return len(self.seen.get(run, ()))

    return Counter, chain_bench.Sampler


class QueuePeak(threading.Thread):
    """The most bytes the kernel held in the socket's receive queue while it runs."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.port, self.peak, self.running = port, 0, True
        self.start()

    def run(self):
        while self.running:
            self.peak = max(self.peak, t.unread_bytes(self.port) or 0)
            time.sleep(0.005)

    def stop(self):
        self.running = False
        self.join()
        return self.peak / 1024 / 1024


class FileReceiver:
    """The service or rsyslog: what it keeps shows up in a file."""

    def __init__(self, name, port, path, pid, record_size=None):
        self.name, self.port, self.pid = name, port, pid
        counter, _ = counter_class()
        self.counter = counter(path, record_size)
        self.counter.start()

    def measure(self, send, run, count):
        _, sampler = counter_class()
        peaks = sampler(self.pid)
        peaks.start()
        drops_before = t.socket_drops(self.port)
        queue = QueuePeak(self.port)
        start = time.monotonic()
        send(self.port, run)
        changed, seen = time.monotonic(), -1
        while time.monotonic() - changed < QUIET_S and time.monotonic() - start < LIMIT_S:
            time.sleep(0.2)
            now = self.counter.count(run)
            # While the reader empties a full socket the service forwards nothing, for longer than
            # the quiet time: it is not done before the socket is empty.
            if now != seen or t.unread_bytes(self.port):
                seen, changed = now, time.monotonic()
            if seen >= count:
                break
        peaks.running = False
        last = self.counter.last.get(run, start)
        return dict(kept=self.counter.count(run), socket=t.socket_drops(self.port) - drops_before,
                    seconds=last - start, queue=queue.stop(), threads=peaks.threads,
                    private=peaks.private / 1024)


class BareReceiver:
    def __init__(self, ovswine, port, rcvbuf):
        self.name, self.port = "bare", port
        self.rx = rb.Receiver(ovswine, "bare", port, str(rcvbuf))
        self.rx.wait_ready()

    def measure(self, send, run, count):
        rb.drain(self.rx)
        self.rx.reset(run, count)
        drops_before = t.socket_drops(self.port)
        queue = QueuePeak(self.port)
        start = time.monotonic()
        send(self.port, run)
        st, last, _ = rb.drain(self.rx)
        return dict(kept=st["received"], socket=t.socket_drops(self.port) - drops_before, seconds=last - start,
                    queue=queue.stop(), threads=st["peak_threads"], private=st["peak_private"] / 1024 / 1024)

    def close(self):
        self.rx.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("tree", nargs="?", default=None)
    ap.add_argument("--bursts", default="10000,100000,200000")
    ap.add_argument("--paced", default="50000,100000")
    ap.add_argument("--paced-count", type=int, default=100000)
    ap.add_argument("--receivers", default="service,rsyslog,bare")
    ap.add_argument("--tcp", action="store_true", help="the service listens on a TCP port too (idle)")
    ap.add_argument("--buffers", default=f"default,{8 * 1024 * 1024}",
                    help="receive buffers in bytes, one table each; default: the service's, no RecvBufferSize")
    args = ap.parse_args()
    global TCP
    TCP = args.tcp
    rb.set_environment(args.tree or rb.default_tree())
    global t
    import ovswine
    import svctest
    t = svctest

    work = tempfile.mkdtemp(prefix="ovs-bench-burst-")
    exe = rb.build_c_sender(work)
    if exe is None:
        print("no C compiler: the back-to-back sender needs one")
        return
    scenarios = [(int(n), 0) for n in args.bursts.split(",") if n]
    scenarios += [(args.paced_count, int(r)) for r in args.paced.split(",") if r]
    wanted = args.receivers.split(",")
    print(f"machine: {os.cpu_count()} cores, load {os.getloadavg()[0]:.2f}; tree {os.environ['OVS_BIN']}; "
          f"TCP {'on' if TCP else 'off'}")
    # What bounds every figure: the bare loop reads about one datagram per two round trips.
    trip = ovswine.run(ovswine.bin_path("receive_bench.exe"), "roundtrip").output.strip()
    print(trip or "receive_bench gave no round trip")
    # (bytes asked, RecvBufferSize stored: None for the default)
    buffers = [(t.DEFAULT_RECV_BUFFER, None) if b == "default" else (int(b), int(b))
               for b in args.buffers.split(",") if b]
    run_ids = iter(range(100, 10**6))
    with rb.RaisedRmem(max(b for b, _ in buffers)):
        for rcvbuf, stored in buffers:
            setting = "the service's default" if stored is None else f"RecvBufferSize {stored}"
            print(f"\nreceive buffer {rcvbuf / 1024 / 1024:g} MiB asked ({setting}; rsyslog and bare alike)")
            print(f"{'burst':>22} {'receiver':>8} {'sent':>7} {'lost':>7} {'at socket':>9} {'seconds':>8} "
                  f"{'kept/s':>7} {'queue MiB':>9} {'threads':>7} {'private MiB':>11}")
            for name in wanted:
                receiver, cleanup = open_receiver(name, ovswine, work, rcvbuf, stored)
                if receiver is None:
                    continue
                try:
                    for count, rate in scenarios:
                        run = next(run_ids)
                        if rate:
                            send = lambda port, run, r=rate, c=count: rb.c_send(exe, port, r, c / r, run)
                            label = f"{count} at {rate}/s"
                        else:
                            send = lambda port, run, c=count: rb.c_send(exe, port, 10**9, c / 10**9, run)
                            label = f"{count} back to back"
                        r = receiver.measure(send, run, count)
                        print(f"{label:>22} {name:>8} {count:>7} {count - r['kept']:>7} {r['socket']:>9} "
                              f"{r['seconds']:>8.1f} {r['kept'] / max(r['seconds'], 1e-3):>7.0f} "
                              f"{r['queue']:>9.1f} {r['threads']:>7} {r['private']:>11.1f}", flush=True)
                finally:
                    cleanup()
    shutil.rmtree(work, ignore_errors=True)


def open_receiver(name, ovswine, work, rcvbuf, stored):
    port = ovswine.free_udp_port()
    if name == "service":
        suite = t.Suite(LOCAL)
        t.remove_service()
        t.install()
        t.set_port(port)
        t.set_recv_buffer(stored)
        t.set_tcp_port(ovswine.free_tcp_port() if TCP else None)
        if not t.start():
            print("the service did not start")
            return None, lambda: None
        rx = FileReceiver("service", port, os.path.join(suite.outbox, LOCAL + ".evt"), t.service_pid(), t.RECORD_SIZE)

        def cleanup():
            rx.counter.running = False
            t.remove_service()
            t.set_recv_buffer(None)
            t.set_tcp_port(None)
            suite.remove()
        return rx, cleanup
    if name == "rsyslog":
        out, conf = os.path.join(work, "messages"), os.path.join(work, "rsyslog.conf")
        with open(conf, "w") as f:
            f.write(RSYSLOG_CONF.format(work=work, port=port, out=out, rcvbuf=rcvbuf))
        proc = subprocess.Popen(["rsyslogd", "-n", "-f", conf, "-i", os.path.join(work, "pid")],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not t.port_taken(port) and time.monotonic() < deadline:
            time.sleep(0.1)
        rx = FileReceiver("rsyslog", port, out, proc.pid)

        def cleanup():
            rx.counter.running = False
            proc.terminate()
            proc.wait(10)
        return rx, cleanup
    if name == "bare":
        rx = BareReceiver(ovswine, port, rcvbuf)
        return rx, rx.close
    print(f"unknown receiver {name}")
    return None, lambda: None


if __name__ == "__main__":
    main()
