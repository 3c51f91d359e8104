#!/usr/bin/env python3
"""The forwarding path's cost, call by call, then ForwardEvent from 1 to 128 threads at once, in an
already built tree's own Wine prefix with the suite's stand-ins set up (no listed servers).

    bench/forward/run.py [BUILD_TREE] [--repeats 300] [--messages 4000]

Prints figures; never fails on them. Do not run it while that tree's tests run.
"""
import argparse
import os
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("tree", nargs="?", default=None)
    ap.add_argument("--repeats", type=int, default=300)
    ap.add_argument("--messages", type=int, default=4000)
    args = ap.parse_args()
    if args.tree:
        tree = os.path.abspath(args.tree)
        os.environ["OVS_WINEPREFIX"] = os.path.join(tree, "wineprefix")
        os.environ["OVS_BIN"] = os.path.join(tree, "bin")
        os.environ["OVS_WINEARCH"] = "win32" if os.path.basename(tree) == "i686" else "win64"
        os.environ.setdefault("OVS_TOOLS", os.path.join(ROOT, "tools"))
    sys.path.insert(0, os.path.join(ROOT, "tools", "python"))
    import ovswine
    import svctest as t

    suite = t.Suite("BENCH-LOCAL")
    try:
        r = ovswine.run(ovswine.bin_path("forward_bench.exe"), str(args.repeats), str(args.messages),
                        timeout=1800)
        print(r.output, end="")
        print(f"machine: {os.cpu_count()} cores")
        if r.returncode == 0 and "128 threads" not in r.output:
            return 1  # ended early without saying why
        return r.returncode
    finally:
        suite.remove()


if __name__ == "__main__":
    sys.exit(main())
