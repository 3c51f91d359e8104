#!/usr/bin/env python3
"""Whether every C and C++ file of the tree is laid out as .clang-format says.

    tools/format_check.py [--fix]

Lists the files clang-format would change and exits 1 when there are any; --fix rewrites them in
place. Only files git tracks are read, so build trees and scratch files never count.
"""
import argparse
import os
import shutil
import subprocess
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
SOURCE = ("*.c", "*.cpp", "*.h")


def tracked_sources():
    out = subprocess.run(["git", "ls-files", "-z", "--", *SOURCE], cwd=ROOT, check=True, capture_output=True)
    return [name for name in out.stdout.decode().split("\0") if name]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--fix", action="store_true", help="rewrite the files that differ")
    args = ap.parse_args()
    tool = shutil.which("clang-format")
    if tool is None:
        print("format_check: clang-format is not installed (tools/setup.sh installs it)", file=sys.stderr)
        return 2
    differ = []
    for name in tracked_sources():
        path = os.path.join(ROOT, name)
        with open(path, "rb") as f:
            before = f.read()
        after = subprocess.run([tool, "--style=file", "--assume-filename=" + path, path], cwd=ROOT,
                               check=True, capture_output=True).stdout
        if after != before:
            differ.append(name)
            if args.fix:
                with open(path, "wb") as f:
                    f.write(after)
    if differ and not args.fix:
        print("not laid out as .clang-format says (fix with tools/format_check.py --fix):")
        for name in differ:
            print("  " + name)
        return 1
    print(f"format_check: {len(differ)} file(s) {'rewritten' if args.fix else 'differ'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
