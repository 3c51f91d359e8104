#!/usr/bin/env python3
"""The include graph of the tree by folder, from the #include lines of its C and C++ files.

    tools/include_graph.py [--dot] [--files]

Each folder is a node (syslog/core, syslog, service/core, ...); a quoted include is an edge to the
folder of the file it names, and an angle include of a Windows header an edge to the node
"windows". Prints one line per edge with the number of includes behind it (--dot: a Graphviz graph;
--files: the includes behind each edge). Exits 1 when a core folder has an edge to anything but
portable folders, since the core is standard C++ only.
"""
import argparse
import os
import re
import sys
from collections import defaultdict

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
FOLDERS = ("syslog", "service", "servicemgr", "win32", "suite", "installer", "bench", "tools/cpp", "e2e")
CORE = ("syslog/core", "service/core")
PORTABLE = CORE + ("tools/cpp",)  # the tests' wait helper is standard C++ too
WINDOWS = {"windows.h", "winsock2.h", "ws2tcpip.h", "mstcpip.h", "objbase.h", "oleauto.h", "ole2.h",
           "rpc.h", "winsvc.h", "msi.h", "msiquery.h", "commctrl.h", "shlwapi.h", "process.h", "mbstring.h",
           "tchar.h", "atlbase.h", "unknwn.h", "winreg.h", "winerror.h", "winuser.h"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
SOURCE = (".c", ".cpp", ".h")


def node_of(path):
    """The folder a file belongs to: its directory, with a tests/ or include/ folder counted with
    the folder above it, so that a library's tests and public headers are part of it."""
    rel = os.path.relpath(os.path.dirname(path), ROOT).replace(os.sep, "/")
    parts = rel.split("/")
    while parts and parts[-1] in ("tests", "include", "ovwin", "ovtest", "fuzz", "native"):
        parts.pop()
    return "/".join(parts)


def sources():
    for top in FOLDERS:
        for folder, dirs, files in os.walk(os.path.join(ROOT, top)):
            dirs[:] = [d for d in dirs if d not in ("build", "__pycache__")]
            for name in files:
                if name.endswith(SOURCE):
                    yield os.path.join(folder, name)


def graph():
    files = list(sources())
    by_name = defaultdict(list)
    for f in files:
        by_name[os.path.basename(f)].append(f)
    edges = defaultdict(list)
    for f in files:
        with open(f, encoding="utf-8", errors="replace") as handle:
            text = handle.read()
        here = node_of(f)
        for kind, name in INCLUDE.findall(text):
            base = os.path.basename(name)
            if kind == "<":
                if base.lower() in WINDOWS:
                    edges[(here, "windows")].append((f, name))
                continue
            # The same folder first, as the compiler looks; else the one file of that name.
            local = os.path.join(os.path.dirname(f), name)
            target = local if os.path.exists(local) else None
            if target is None and len(by_name[base]) >= 1:
                candidates = [c for c in by_name[base] if c.replace(os.sep, "/").endswith(name)]
                target = candidates[0] if candidates else None
            if target is None:
                continue
            there = node_of(target)
            if there != here:
                edges[(here, there)].append((f, name))
    return edges


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--dot", action="store_true")
    ap.add_argument("--files", action="store_true")
    args = ap.parse_args()
    edges = graph()
    if args.dot:
        print("digraph includes {")
        for (a, b), why in sorted(edges.items()):
            print(f'  "{a}" -> "{b}" [label="{len(why)}"];')
        print("}")
    else:
        for (a, b), why in sorted(edges.items()):
            print(f"{a} -> {b} ({len(why)})")
            if args.files:
                for f, name in why:
                    print(f"    {os.path.relpath(f, ROOT)}: {name}")
    bad = [(a, b) for (a, b) in edges if a in CORE and b not in PORTABLE]
    for a, b in bad:
        for f, name in edges[(a, b)]:
            print(f"include_graph: core file {os.path.relpath(f, ROOT)} includes {name} ({b})", file=sys.stderr)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
