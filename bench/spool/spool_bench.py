#!/usr/bin/env python3
"""Store-and-forward benchmark: paced senders into the installed service while the stand-in
refuses every record for a while in the middle; then waits until the spool is empty again.

    bench/spool/run.sh [--rate 1000] [--senders 1] [--before 30] [--outage 60] [--after 30]
                       [--two] [--baseline] [--delay-ms MS --delay-on local|listed]

--rate is the total over all senders (127.0.0.2, .3, ...). Without --two there is one
destination, and the outage refuses it. With --two the suite lists a second server, the outage
refuses only that one, and the local one must keep pace: its latency from send to delivery is
printed for each run, and with --baseline a run without the outage comes first, so the two can be
compared within one invocation. --delay-ms holds each call to one destination that long.

Per run and destination: sent, lost, delivered twice, latency p50 and p99 (ms), and for the
refusing one the largest spool (records and MiB on disk, sampled every 0.2 s) and the seconds
from the end of the outage until its spool is empty and every record has arrived. Prints figures;
never fails.
"""
import argparse
import glob
import os
import statistics
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "chain"), os.path.join(HERE, "..", "..", "tools", "python")]
import ovswine  # noqa: E402
import svctest as t  # noqa: E402
from chain_bench import Follower, records, send  # noqa: E402

LOCAL = "BENCH-LOCAL"
LISTED = "BENCH-B"
SPOOL_DIR = t.SPOOL_DIR
FRAME = 12 + t.RECORD_SIZE
EMPTIED = "delivery resumed"


class Counting(Follower):
    """Also counts every arrival, so that a record delivered twice shows."""

    def __init__(self, path):
        super().__init__(path, records)
        self.arrivals = 0

    def take(self):
        before = len(self.buffer)
        super().take()
        self.arrivals += (before - len(self.buffer)) // t.RECORD_SIZE


def spool_bytes():
    return sum(os.path.getsize(f) for f in glob.glob(os.path.join(SPOOL_DIR, "*.spl")))


def latency(follower):
    lat = sorted(list(follower.seen.values()))
    if not lat:
        return float("nan"), float("nan")
    return statistics.median(lat), lat[min(len(lat) - 1, int(len(lat) * 0.99))]


def run(args, outage, suite):
    """One run of the installed service; returns {destination: figures}."""
    t.remove_service()
    t.install()
    t.clear_error_log()
    t.clear_spool()
    suite.clear()
    refused = LISTED if args.two else LOCAL
    t.set_servers([LISTED] if args.two else [])
    delayed = {"local": LOCAL, "listed": LISTED}[args.delay_on]
    t.set_delivery(delay_ms=args.delay_ms, delay_destination=delayed if args.delay_ms else "")
    port = ovswine.free_udp_port()
    t.set_port(port)
    if not t.start():
        print("the service did not start")
        return None
    followers = {d: Counting(os.path.join(suite.outbox, d + ".evt")) for d in ([LOCAL, LISTED] if args.two else [LOCAL])}
    for f in followers.values():
        f.start()
    largest = [0]
    sampling = [True]

    def sample():
        while sampling[0]:
            largest[0] = max(largest[0], spool_bytes())
            time.sleep(0.2)

    sampler = threading.Thread(target=sample, daemon=True)
    sampler.start()
    seconds = args.before + outage + args.after
    sent = [0] * args.senders
    senders = [threading.Thread(target=lambda k=k: sent.__setitem__(
        k, send(args.rate / args.senders, seconds, [port], source=f"127.0.0.{k + 2}", tag=k)))
        for k in range(args.senders)]
    begun = time.monotonic()
    for s in senders:
        s.start()
    if outage:
        time.sleep(args.before)
        t.set_delivery(refuse_destination=refused, delay_ms=args.delay_ms,
                       delay_destination=delayed if args.delay_ms else "")
        time.sleep(max(0.0, args.before + outage - (time.monotonic() - begun)))
        t.set_delivery(delay_ms=args.delay_ms, delay_destination=delayed if args.delay_ms else "")
    outage_end = time.monotonic()
    # From the recovery on, while the senders go on: when the service says the spool is empty.
    emptied = [None]

    def watch():
        while outage and emptied[0] is None and time.monotonic() - outage_end < args.wait:
            if EMPTIED in t.error_log():
                emptied[0] = time.monotonic() - outage_end
            time.sleep(0.2)

    watcher = threading.Thread(target=watch, daemon=True)
    watcher.start()
    for s in senders:
        s.join()
    total = sum(sent)
    while time.monotonic() - outage_end < args.wait:
        if all(len(f.seen) >= total for f in followers.values()):
            break
        time.sleep(0.2)
    watcher.join(max(0.0, args.wait - (time.monotonic() - outage_end)))
    time.sleep(2)
    sampling[0] = False
    out = {}
    for d, f in followers.items():
        f.running = False
        unique = len(f.seen)
        p50, p99 = latency(f)
        out[d] = dict(sent=total, lost=total - unique, twice=f.arrivals - unique, p50=p50, p99=p99,
                      spool=largest[0] if d == refused else None,
                      emptied=emptied[0] if d == refused and outage else None)
    t.stop()
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rate", type=int, default=1000, help="messages a second over all senders")
    ap.add_argument("--senders", type=int, default=1)
    ap.add_argument("--before", type=float, default=30)
    ap.add_argument("--outage", type=float, default=60)
    ap.add_argument("--after", type=float, default=30)
    ap.add_argument("--two", action="store_true", help="a second, listed destination; only it refuses")
    ap.add_argument("--baseline", action="store_true", help="first the same run without the outage")
    ap.add_argument("--delay-ms", type=int, default=0)
    ap.add_argument("--delay-on", choices=("local", "listed"), default="local")
    ap.add_argument("--wait", type=float, default=600, help="longest wait for the spool to empty")
    args = ap.parse_args()

    suite = t.Suite(LOCAL)
    try:
        runs = ([("no outage", 0)] if args.baseline else []) + [(f"outage {args.outage:g} s", args.outage)]
        results = [(name, run(args, outage, suite)) for name, outage in runs]
        tree = os.path.basename(os.path.dirname(os.environ["OVS_BIN"]))
        delay = f", each call to {args.delay_on} held {args.delay_ms} ms" if args.delay_ms else ""
        print(f"{args.rate}/s from {args.senders} sender(s) for {args.before + args.after:g} s plus the outage, "
              f"{'two destinations, the listed one refusing' if args.two else 'one destination'}{delay}; "
              f"x{os.cpu_count()} cores, tree {tree}")
        print(f"{'run':<14} {'destination':<12} {'sent':>7} {'lost':>6} {'twice':>6} {'p50 ms':>8} {'p99 ms':>9} "
              f"{'largest spool':>14} {'MiB':>7} {'empty after s':>14}")
        for name, result in results:
            if result is None:
                continue
            for d, r in result.items():
                spool = (f"{r['spool'] // FRAME:>14} {r['spool'] / 2**20:>7.1f}" if r["spool"] is not None
                         else f"{'':>14} {'':>7}")
                emptied = ("%.1f" % r["emptied"]) if r["emptied"] is not None else ("not yet" if name != "no outage" and r["spool"] is not None else "")
                print(f"{name:<14} {d:<12} {r['sent']:>7} {r['lost']:>6} {r['twice']:>6} {r['p50']:>8.1f} "
                      f"{r['p99']:>9.1f} {spool} {emptied:>14}", flush=True)
    finally:
        t.remove_service()
        suite.remove()


if __name__ == "__main__":
    main()
