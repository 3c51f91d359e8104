"""stage_next.py SRC DST VERSION: copies the three deliverables for the upgrade test's package,
each with a trailer naming the version, so that a test can tell which build is installed."""
import os
import shutil
import sys

src, dst, version = sys.argv[1:4]
os.makedirs(dst, exist_ok=True)
for name in ("OVSyslogSvc.exe", "OVSyslog.dll", "Sentrydesk.dll"):
    shutil.copyfile(os.path.join(src, name), os.path.join(dst, name))
    # Bytes after the last section are never mapped as code: the loader ignores them.
    with open(os.path.join(dst, name), "ab") as f:
        f.write(f"\0OVSyslog test build {version}\0".encode())
