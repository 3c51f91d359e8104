#!/usr/bin/env python3
"""Prints the event records that the OrvaneComm stand-in stored in an outbox folder.

    evtdump.py [--follow] [--fields] OUTBOX_DIR

One line per record, tab-separated: destination, host, text, event id, local server id.
With --fields each record is shown slot by slot instead (fixed codes included), for checking
a record's layout by eye.
Backslashes and control characters in a field are escaped (\\t, \\n, \\xNN) so that a record is
always one line. With --follow the records already stored are printed first, then every record
appended to any *.evt file (new files included) as soon as it is whole.
A record that breaks the layout (wrong fixed codes, a message slot without its final NUL) is
still printed, with a warning on standard error.
"""
import argparse
import os
import re
import sys
import time

RECORD_SIZE = 220
EXTENSION = ".evt"
POLL_SECONDS = 0.2

# name, offset, size
SLOTS = (
    ("code1", 0, 5),
    ("code2", 5, 5),
    ("local_server", 10, 16),
    ("host", 26, 16),
    ("code3", 42, 5),
    ("code4", 47, 5),
    ("event_id", 52, 40),
    ("text", 92, 128),
)
FIXED_CODES = {"code1": "70", "code2": "1", "code3": "12", "code4": "1"}
UUID_TEXT = re.compile(r"[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\Z")


def slot_text(raw):
    """A slot's text: up to its first NUL, or the whole slot when it is full."""
    # The records carry 8-bit text in the sender's code page; latin-1 keeps every byte.
    return raw.split(b"\0", 1)[0].decode("latin-1")


def decode(record):
    """The record's fields by name. Raises ValueError unless it is exactly 220 bytes."""
    if len(record) != RECORD_SIZE:
        raise ValueError(f"a record is {RECORD_SIZE} bytes, not {len(record)}")
    return {name: slot_text(record[off:off + size]) for name, off, size in SLOTS}


def problems(record):
    """What in the record breaks the layout, as short texts; empty when it is sound."""
    fields = decode(record)
    found = [f"{name} is {fields[name]!r}, not {want!r}"
             for name, want in FIXED_CODES.items() if fields[name] != want]
    for name, off, size in SLOTS:
        if name in FIXED_CODES and any(record[off + len(fields[name]):off + size]):
            found.append(f"{name} slot has bytes after its NUL")
    if record[RECORD_SIZE - 1] != 0:
        found.append("message slot does not end in NUL")
    if fields["event_id"] and not UUID_TEXT.match(fields["event_id"]):
        found.append(f"event id {fields['event_id']!r} is not a UUID")
    return found


def escape(text):
    out = []
    for ch in text:
        if ch == "\\":
            out.append("\\\\")
        elif ch == "\t":
            out.append("\\t")
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\r":
            out.append("\\r")
        elif ord(ch) < 0x20 or ord(ch) == 0x7F:
            out.append(f"\\x{ord(ch):02x}")
        else:
            out.append(ch)
    return "".join(out)


def format_line(destination, record):
    f = decode(record)
    return "\t".join(escape(v) for v in
                     (destination, f["host"], f["text"], f["event_id"], f["local_server"]))


class OutboxReader:
    """Remembers how far each *.evt file has been read; yields only whole new records."""

    def __init__(self, folder):
        self.folder = folder
        self.offsets = {}

    def evt_files(self):
        try:
            names = os.listdir(self.folder)
        except FileNotFoundError:
            return []
        return sorted(n for n in names if n.endswith(EXTENSION))

    def new_records(self):
        for name in self.evt_files():
            path = os.path.join(self.folder, name)
            offset = self.offsets.get(name, 0)
            try:
                with open(path, "rb") as f:
                    size = os.fstat(f.fileno()).st_size
                    if size < offset:  # emptied or replaced: start again
                        offset = 0
                    whole = (size - offset) // RECORD_SIZE * RECORD_SIZE
                    f.seek(offset)
                    data = f.read(whole)
            except OSError:
                continue
            # A short read means the file changed under us: keep only the whole records read.
            whole = len(data) // RECORD_SIZE * RECORD_SIZE
            self.offsets[name] = offset + whole
            destination = name[:-len(EXTENSION)]
            for i in range(0, whole, RECORD_SIZE):
                yield name, offset + i, destination, data[i:i + RECORD_SIZE]

    def partial_tails(self):
        """Files whose last bytes do not make a whole record."""
        for name in self.evt_files():
            try:
                size = os.path.getsize(os.path.join(self.folder, name))
            except OSError:
                continue
            if size % RECORD_SIZE:
                yield name, size % RECORD_SIZE


def format_fields(name, offset, record):
    f = decode(record)
    lines = [f"{name} at {offset}:"]
    lines += [f"  {slot:<12} {off:3} {size:3}  {escape(f[slot])}" for slot, off, size in SLOTS]
    return "\n".join(lines)


def print_records(reader, out, err, fields=False):
    for name, offset, destination, record in reader.new_records():
        text = format_fields(name, offset, record) if fields else format_line(destination, record)
        print(text, file=out, flush=True)
        for p in problems(record):
            print(f"evtdump: {name} at {offset}: {p}", file=err, flush=True)


def main(argv=None):
    parser = argparse.ArgumentParser(description="Print the records of an Orvane outbox folder.")
    parser.add_argument("--follow", action="store_true",
                        help="keep running and print each new record as it arrives")
    parser.add_argument("--fields", action="store_true",
                        help="show every slot of each record on a line of its own")
    parser.add_argument("outbox", metavar="OUTBOX_DIR", help="the outbox folder (Unix path)")
    args = parser.parse_args(argv)
    reader = OutboxReader(args.outbox)
    if not args.follow:
        if not os.path.isdir(args.outbox):
            print(f"evtdump: {args.outbox}: no such folder", file=sys.stderr)
            return 2
        print_records(reader, sys.stdout, sys.stderr, args.fields)
        for name, extra in reader.partial_tails():
            print(f"evtdump: {name}: {extra} bytes at the end do not make a whole record",
                  file=sys.stderr)
        return 0
    if not os.path.isdir(args.outbox):
        print(f"evtdump: waiting for {args.outbox} to appear", file=sys.stderr, flush=True)
    try:
        while True:
            print_records(reader, sys.stdout, sys.stderr, args.fields)
            time.sleep(POLL_SECONDS)
    except KeyboardInterrupt:
        return 0


if __name__ == "__main__":
    sys.exit(main())
