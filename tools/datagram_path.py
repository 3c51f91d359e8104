#!/usr/bin/env python3
"""datagram_path.py COMMIT [--workdir DIR] [--warm N] [--analyse-only]: counts the calls of our own functions
that one UDP datagram goes through, from the moment recvfrom returns it to the moment the suite
stand-in's delivery function (OrvaneDeliver) is entered for the first record, the local server's.
Run it twice (two commits) to compare them: every figure comes from the same steps.

- Build: COMMIT's files (git archive of this repository) go to DIR/src and its x86_64 Windows
  tree to DIR/build/x86_64 (default DIR: build-path/<commit> beside tools/, ignored by git; never
  build/), configured as tools/build.sh does plus, for this measurement only,
  -finstrument-functions on every C and C++ file (functions defined in the compiler's and
  mingw's headers, the standard library's, left out at compile time) and
  tools/datagram_path_hook.cpp linked into every binary. Only the binaries the run needs are
  built. gcc instruments before inlining, so an inlined function still reports its entry.
- Trace: the hook appends each function entry (thread, module, RVA) to one trace per process, in
  one order for all threads (a shared counter), and marks where each recvfrom call starts and
  where it returns, with its result.
- Run: as the script tests run the service (tools/python/svctest.py of COMMIT's tree: the suite's
  stand-ins set up, OVSyslogSvc.exe -i, started through the service manager, no listed servers),
  idle 3 s, then ONE datagram "<13>datagram path" from 127.0.0.1; once its record is in the
  outbox the service is stopped and removed and the prefix's wineserver ended. With --warm N,
  N datagrams from the same sender go first, each waited for, then 1 s of rest: the count is
  then that of a datagram after the first (lanes, statics and components already made).
- Count: the entries after the last recvfrom return with a datagram (the measured one) and before the first entry
  of OrvaneDeliver after it, on every thread, except the reading thread's after it calls recvfrom
  again; only those run in OVSyslogSvc.exe or OVSyslog.dll, of functions defined in a file of the
  tree outside suite/ and tools/ (llvm-symbolizer's start file of the function). The stand-in's
  DLLs, the hook and the standard library are not ours and are only summed apart. The window is
  the process's, not the datagram's: the report names each thread and what it ran, so that a
  thread that is not on the datagram's way shows (marked OTHER).

Prints calls, distinct functions, distinct files, the files with their calls, the threads and
every call in order; writes the same to DIR/report.txt. Needs what tools/build.sh needs (mingw-w64,
cmake, ninja, 64-bit Wine) and llvm-symbolizer.
"""
import argparse
import collections
import io
import json
import os
import shutil
import socket
import struct
import subprocess
import sys
import tarfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
HOOK = os.path.join(HERE, "datagram_path_hook.cpp")
TRIPLE = "x86_64-w64-mingw32"
TARGETS = ["OVSyslogSvc", "OVSyslog", "OrvaneComm", "OrvaneComponents", "svcctl"]
BINARIES = ["OVSyslogSvc.exe", "OVSyslog.dll", "OrvaneComm.dll", "OrvaneComponents.dll", "svcctl.exe"]
NOT_OURS = ("suite/", "tools/")  # the stand-in suite and this hook
# Our binaries on the way; the stand-in's DLLs also hold our ovwin helpers, but what they run there
# is the stand-in's work.
OUR_MODULES = ("ovsyslogsvc.exe", "ovsyslog.dll")
MAGIC, ENTER, RECV, RECV_CALL = 0x3154564F, 1, 2, 3
PAYLOAD = b"<13>datagram path"
# Where the compiler's, the standard library's and mingw's headers live (matched as substrings).
SYSTEM_HEADERS = f"/usr/lib/gcc/{TRIPLE}/,/usr/share/mingw-w64/,/usr/{TRIPLE}/"


def run(cmd, **kw):
    subprocess.run(cmd, check=True, **kw)


def extract(commit, src):
    """COMMIT's files in src; kept when already there, so that a rerun builds only what changed."""
    marker = os.path.join(src, ".datagram-path-commit")
    if os.path.exists(marker) and open(marker).read() == commit:
        return
    shutil.rmtree(src, ignore_errors=True)
    os.makedirs(src)
    tar = subprocess.run(["git", "-C", REPO, "archive", "--format=tar", commit],
                         check=True, capture_output=True).stdout
    with tarfile.open(fileobj=io.BytesIO(tar)) as t:
        t.extractall(src)
    with open(marker, "w") as f:
        f.write(commit)


def build(src, work):
    hook_dir = os.path.join(work, "hook")
    os.makedirs(hook_dir, exist_ok=True)
    obj, lib = os.path.join(hook_dir, "hook.o"), os.path.join(hook_dir, "libovtrace.a")
    before = open(obj, "rb").read() if os.path.exists(obj) else None
    run([f"{TRIPLE}-g++-posix", "-std=c++17", "-O2", "-Wall", "-c", HOOK, "-o", obj])
    changed = before != open(obj, "rb").read()
    if changed or not os.path.exists(lib):
        if os.path.exists(lib):
            os.unlink(lib)
        run([f"{TRIPLE}-ar", "rcs", lib, obj])
    # Read by project(): the flags reach our targets but not cmake's own probe builds.
    include = os.path.join(work, "trace.cmake")
    with open(include, "w") as f:
        f.write("add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-finstrument-functions>\n"
                f"  $<$<COMPILE_LANGUAGE:C,CXX>:-finstrument-functions-exclude-file-list={SYSTEM_HEADERS}>)\n"
                f'string(APPEND CMAKE_C_STANDARD_LIBRARIES " {lib}")\n'
                f'string(APPEND CMAKE_CXX_STANDARD_LIBRARIES " {lib}")\n')
    tree = os.path.join(work, "build", "x86_64")
    # The toolchain only on the first configure: cmake keeps it, and warns when given it again.
    first = not os.path.exists(os.path.join(tree, "CMakeCache.txt"))
    run(["cmake", "-S", src, "-B", tree, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
         *(["-DCMAKE_TOOLCHAIN_FILE=cmake/mingw.cmake"] if first else []),
         "-DOVS_ARCH=x86_64", "-DOVS_WINE_TESTS=ON", f"-DCMAKE_PROJECT_INCLUDE={include}"],
        stdout=subprocess.DEVNULL, cwd=src)
    if changed:
        # The build does not know the hook as an input of its links: make them happen again.
        for name in BINARIES:
            path = os.path.join(tree, "bin", name)
            if os.path.exists(path):
                os.unlink(path)
    run(["cmake", "--build", tree, "--target", *TARGETS])
    return tree


def measure(src, tree, warm):
    """Runs the service once and returns the trace file of OVSyslogSvc.exe's process."""
    bin_dir = os.path.join(tree, "bin")
    trace_dir = os.path.join(bin_dir, "trace")
    shutil.rmtree(trace_dir, ignore_errors=True)
    os.makedirs(trace_dir)
    os.environ.update(OVS_WINEPREFIX=os.path.join(tree, "wineprefix"), OVS_WINEARCH="win64",
                      OVS_BIN=bin_dir, OVS_SOURCE=src, OVS_TOOLS=os.path.join(src, "tools"),
                      PYTHONDONTWRITEBYTECODE="1")
    sys.path.insert(0, os.path.join(src, "tools", "python"))
    import ovswine
    import svctest as t
    suite = t.Suite("NMS-LOCAL")
    try:
        t.remove_service()
        t.install()
        port = ovswine.free_udp_port()
        t.set_port(port)
        t.set_servers([])
        t.set_delivery()
        t.clear_spool()
        suite.clear()
        if not t.start():
            raise SystemExit("datagram_path: the service did not reach RUNNING")
        time.sleep(3)  # let start-up settle, so the window holds the datagram's work only
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:  # one sender for all of them
            for i in range(warm + 1):
                if i == warm:
                    time.sleep(1)  # the warm-up datagrams' threads done with them
                s.sendto(PAYLOAD if i == warm else b"<13>warm-up %d" % i, ("127.0.0.1", port))
                got = suite.wait_records("NMS-LOCAL", i + 1, timeout=60)
                if len(got) != i + 1:
                    raise SystemExit(f"datagram_path: {len(got)} records reached the outbox, not {i + 1}")
        t.stop()
    finally:
        t.remove_service()
        suite.remove()
        subprocess.run([os.path.join(src, "tools", "wine-prefix"), "down", ovswine.PREFIX, ovswine.ARCH],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    trace = find_trace(trace_dir)
    for name in os.listdir(trace_dir):  # the other programs' traces (sparse files, but many)
        if os.path.join(trace_dir, name) != trace:
            os.unlink(os.path.join(trace_dir, name))
    return trace


def signed(value):
    return struct.unpack("<i", struct.pack("<I", value))[0]


def find_trace(trace_dir):
    """The trace of the one process that read a datagram: the service's (its -i run and the
    other tools leave traces too)."""
    traces = [os.path.join(trace_dir, n) for n in sorted(os.listdir(trace_dir))]
    readers = [p for p in traces if any(e[0] == RECV and signed(e[3]) > 0 for e in events(p))]
    if len(readers) != 1:
        raise SystemExit(f"datagram_path: {len(readers)} processes read a datagram in {trace_dir}, not 1")
    return readers[0]


def read_header(path):
    with open(path, "rb") as f:
        head = f.read(65536)
    magic, size, header_bytes, capacity, reserved, count = struct.unpack_from("<IIQQqi", head)
    if magic != MAGIC or size != 16:
        raise SystemExit(f"datagram_path: {path} is not a trace")
    modules = []
    for i in range(min(count, 32)):  # the hook's Module table: 272 bytes each from offset 40
        raw = head[40 + i * 272 + 8: 40 + i * 272 + 8 + 260]
        modules.append(raw.split(b"\0")[0].decode("latin-1"))
    return modules, (header_bytes, capacity, reserved)


def events(path):
    """(kind, tid, module, value) in the one order the process gave them."""
    _, (header_bytes, capacity, reserved) = read_header(path)
    if reserved > capacity:
        raise SystemExit(f"datagram_path: the trace filled up ({reserved} events)")
    with open(path, "rb") as f:
        f.seek(header_bytes)
        data = f.read(reserved * 16)
    return list(struct.iter_unpack("<IIII", data))


def unix_module(win_path, bin_dir):
    return os.path.join(bin_dir, win_path.replace("\\", "/").rsplit("/", 1)[-1])


def image_base(binary):
    out = subprocess.run([f"{TRIPLE}-objdump", "-p", binary], check=True, capture_output=True, text=True).stdout
    for line in out.splitlines():
        if line.startswith("ImageBase"):
            return int(line.split()[1], 16)
    raise SystemExit(f"datagram_path: no ImageBase in {binary}")


def symbol_rva(binary, name):
    out = subprocess.run([f"{TRIPLE}-nm", binary], check=True, capture_output=True, text=True).stdout
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[2] == name:
            return int(parts[0], 16) - image_base(binary)
    raise SystemExit(f"datagram_path: {name} not found in {binary}")


def resolve(binary, rvas):
    """{rva: (function, file it is defined in)}. llvm-symbolizer, not addr2line: binutils reads the
    line table at a header function's entry as the including .cpp file; the function's own
    declaration (StartFileName) is right."""
    base = image_base(binary)
    rvas = sorted(rvas)
    out = subprocess.run(["llvm-symbolizer", "--output-style=JSON", "--no-inlines", "--demangle",
                          f"--obj={binary}", *[hex(base + r) for r in rvas]],
                         check=True, capture_output=True, text=True).stdout
    found = {}
    for r, entry in zip(rvas, json.loads(out)):
        symbol = entry["Symbol"][-1]
        found[r] = (symbol["FunctionName"], symbol.get("StartFileName") or symbol["FileName"])
    return found


def analyse(trace, src, bin_dir):
    modules, _ = read_header(trace)
    ev = events(trace)
    unix = [unix_module(m, bin_dir) for m in modules]
    comm = [i for i, m in enumerate(unix) if os.path.basename(m).lower() == "orvanecomm.dll"]
    if len(comm) != 1:
        raise SystemExit("datagram_path: OrvaneComm.dll is not in the trace")
    deliver = symbol_rva(unix[comm[0]], "OrvaneDeliver")
    start = max((i for i, e in enumerate(ev) if e[0] == RECV and signed(e[3]) > 0), default=None)
    if start is None:
        raise SystemExit("datagram_path: no recvfrom returned a datagram")
    end = next((i for i in range(start, len(ev)) if ev[i][0] == ENTER and ev[i][2] == comm[0] and ev[i][3] == deliver), None)
    if end is None:
        raise SystemExit("datagram_path: OrvaneDeliver was not entered after the datagram was read")
    reader = ev[start][1]
    # The reading thread's part ends where it calls recvfrom again for the next datagram.
    again = next((i for i in range(start + 1, end) if ev[i][0] == RECV_CALL and ev[i][1] == reader), end)
    window = [(i, e) for i, e in enumerate(ev[start + 1:end], start + 1)
              if e[0] == ENTER and not (e[1] == reader and i > again)]
    names = {}
    for m in {e[2] for _, e in window}:
        names.update({(m, r): v for r, v in resolve(unix[m], {e[3] for _, e in window if e[2] == m}).items()})
    root = os.path.realpath(src) + "/"
    ours, others = [], collections.Counter()
    for _, e in window:
        function, path = names[(e[2], e[3])]
        module = os.path.basename(unix[e[2]])
        real = os.path.realpath(path)
        rel = real[len(root):] if real.startswith(root) else None
        if module.lower() not in OUR_MODULES:
            others[f"{module} (the stand-in's own run)"] += 1
        elif rel is None or rel.startswith(NOT_OURS):
            others[rel or path] += 1
        else:
            ours.append((e[1], module, function, rel))
    later = sum(1 for e in ev[again + 1:end] if e[0] == ENTER and e[1] == reader)
    earlier = sum(1 for e in ev[:start] if e[0] == RECV and signed(e[3]) > 0)
    return earlier, reader, ev[end][1], ours, others, later


def report(commit, earlier, reader, deliverer, ours, others, later):
    lines = [f"commit {commit}: the datagram read after {earlier} others since the start,"
             " from recvfrom's return to OrvaneDeliver's entry",
             f"calls {len(ours)}", f"distinct functions {len({(o[2], o[3]) for o in ours})}",
             f"distinct files {len({o[3] for o in ours})}", "files (calls):"]
    per_file = collections.Counter(o[3] for o in ours)
    lines += [f"  {f} ({n})" for f, n in sorted(per_file.items())]
    lines.append("threads (calls):")
    for tid in dict.fromkeys(o[0] for o in ours):
        mine = [o for o in ours if o[0] == tid]
        role = {reader: " read the datagram", deliverer: " entered OrvaneDeliver"}.get(tid, " OTHER: check it is on the way")
        lines.append(f"  thread {tid}{role}: {len(mine)} calls in {sorted({o[1] for o in mine})}")
    lines.append("calls in order (thread, module, function, file):")
    lines += [f"  {o[0]} {o[1]} {o[2]}  [{o[3]}]" for o in ours]
    lines.append(f"not counted in the window: {sum(others.values())} entries in "
                 + (", ".join(f"{f} ({n})" for f, n in sorted(others.items())) or "nothing"))
    lines.append(f"not counted: {later} entries of the reading thread after it called recvfrom again")
    return "\n".join(lines)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("commit")
    ap.add_argument("--workdir", help="where to extract, build and run (default build-path/<commit>)")
    ap.add_argument("--warm", type=int, default=0, metavar="N",
                    help="send N datagrams first and measure the one after them")
    ap.add_argument("--analyse-only", action="store_true", help="read the last run's trace again")
    a = ap.parse_args()
    commit = subprocess.run(["git", "-C", REPO, "rev-parse", "--verify", a.commit + "^{commit}"],
                            check=True, capture_output=True, text=True).stdout.strip()
    work = os.path.abspath(a.workdir or os.path.join(REPO, "build-path", commit[:12]))
    if os.path.realpath(work).startswith(os.path.realpath(os.path.join(REPO, "build")) + "/"):
        raise SystemExit("datagram_path: build/ is the tree's own build; use another --workdir")
    src = os.path.join(work, "src")
    tree = os.path.join(work, "build", "x86_64")
    if a.analyse_only:
        trace = find_trace(os.path.join(tree, "bin", "trace"))
    else:
        extract(commit, src)
        tree = build(src, work)
        trace = measure(src, tree, a.warm)
    text = report(commit, *analyse(trace, src, os.path.join(tree, "bin")))
    with open(os.path.join(work, "report.txt"), "w") as f:
        f.write(text + "\n")
    print(text)


if __name__ == "__main__":
    main()
