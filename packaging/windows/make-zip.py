#!/usr/bin/env python3
"""Builds the Windows archive: the executable, the read-me and SHA256SUMS.

The same inputs give the same bytes: fixed order, one time on every entry
(SOURCE_DATE_EPOCH when the build is given one, else 1980-01-01, the zip
format's first day; never the packing time or the time of whatever commit
the build tree last saw) and no extra fields that would carry the packing
time or the packer's user.

    make-zip.py EXE README OUT
"""
import hashlib
import os
import sys
import time
import zipfile

exe, readme, out = sys.argv[1:4]

# A zip cannot hold a time before 1980.
epoch = os.environ.get("SOURCE_DATE_EPOCH", "")
stamp = time.gmtime(max(int(epoch) if epoch.isdigit() else 0, 315532800))[:6]

entries = []
for name, path in (("TALVO-FW-Updater.exe", exe), ("README.txt", readme)):
    with open(path, "rb") as f:
        entries.append((name, f.read()))
sums = "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n" for name, data in entries)
entries.append(("SHA256SUMS", sums.encode()))

tmp = out + ".tmp"
with zipfile.ZipFile(tmp, "w") as archive:
    for name, data in entries:
        info = zipfile.ZipInfo(name, date_time=stamp)
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o644 << 16
        info.create_system = 3  # Unix, so the permissions above are read
        archive.writestr(info, data, compresslevel=9)
os.replace(tmp, out)
