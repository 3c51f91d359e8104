#!/usr/bin/env python3
"""Store-and-forward benchmark: one paced sender into the installed service while the stand-in
refuses every record for a while in the middle; then waits until the spool is empty again.

    bench/spool/run.sh [--rate 1000] [--before 30] [--outage 60] [--after 30]

Prints sent, lost, duplicates, the largest spool (records and bytes on disk, sampled every
0.2 s), and the seconds from the end of the outage until the service says the spool is empty
again. Prints figures; never fails.
"""
import argparse
import glob
import os
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "chain"), os.path.join(HERE, "..", "..", "tools", "python")]
import ovswine  # noqa: E402
import svctest as t  # noqa: E402
from chain_bench import Follower, records, send  # noqa: E402

LOCAL = "BENCH-LOCAL"
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


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rate", type=int, default=1000)
    ap.add_argument("--before", type=float, default=30)
    ap.add_argument("--outage", type=float, default=60)
    ap.add_argument("--after", type=float, default=30)
    ap.add_argument("--wait", type=float, default=600, help="longest wait for the spool to empty")
    args = ap.parse_args()

    suite = t.Suite(LOCAL)
    t.remove_service()
    t.install()
    t.clear_error_log()
    port = ovswine.free_udp_port()
    t.set_port(port)
    try:
        if not t.start():
            print("the service did not start")
            return
        ours = Counting(os.path.join(suite.outbox, LOCAL + ".evt"))
        ours.start()
        largest = [0]
        sampling = [True]

        def sample():
            while sampling[0]:
                largest[0] = max(largest[0], spool_bytes())
                time.sleep(0.2)

        sampler = threading.Thread(target=sample, daemon=True)
        sampler.start()
        seconds = args.before + args.outage + args.after
        sent = [0]
        sender = threading.Thread(target=lambda: sent.__setitem__(0, send(args.rate, seconds, [port])))
        begun = time.monotonic()
        sender.start()
        time.sleep(args.before)
        t.set_delivery(refuse_all=1)
        time.sleep(max(0.0, args.before + args.outage - (time.monotonic() - begun)))
        t.set_delivery()
        outage_end = time.monotonic()
        sender.join()
        emptied = None
        while time.monotonic() - outage_end < args.wait:
            if EMPTIED in t.error_log() and len(ours.seen) >= sent[0]:
                emptied = time.monotonic() - outage_end
                break
            time.sleep(0.2)
        time.sleep(2)
        sampling[0] = False
        ours.running = False
        unique = len(ours.seen)
        print(f"{args.rate}/s for {seconds:g} s, the destination refusing from {args.before:g} s for "
              f"{args.outage:g} s; x{os.cpu_count()} cores, tree {os.path.basename(os.path.dirname(os.environ['OVS_BIN']))}")
        print(f"{'sent':>7} {'lost':>6} {'twice':>6} {'largest spool':>14} {'MiB':>7} {'empty after s':>14}")
        print(f"{sent[0]:>7} {sent[0] - unique:>6} {ours.arrivals - unique:>6} {largest[0] // FRAME:>14} "
              f"{largest[0] / 2**20:>7.1f} {('%.1f' % emptied) if emptied is not None else 'not yet':>14}", flush=True)
    finally:
        t.remove_service()
        suite.remove()


if __name__ == "__main__":
    main()
