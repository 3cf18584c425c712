#!/usr/bin/env python3
"""Writes the release archive from a staging folder, the same bytes for the same files:

    make_zip.py STAGING_FOLDER OUTPUT.zip EPOCH

Every file and folder below STAGING_FOLDER goes in, in sorted order, with the time EPOCH (seconds
since 1970, UTC; the commit's time), permissions 755 for executables and folders and 644 for the
rest, and no extra fields. The archive holds nothing of the machine that made it.
"""
import os
import sys
import time
import zipfile


def main():
    if len(sys.argv) != 4:
        raise SystemExit(__doc__)
    staging, output, epoch = sys.argv[1], sys.argv[2], int(sys.argv[3])
    # The zip format keeps local times from 1980 on; the UTC time of EPOCH stands for it.
    stamp = time.gmtime(max(epoch, 315532800))[:6]

    entries = []
    for folder, subfolders, files in os.walk(staging):
        subfolders.sort()
        relative = os.path.relpath(folder, staging)
        if relative != ".":
            entries.append(relative.replace(os.sep, "/") + "/")
        entries.extend(os.path.relpath(os.path.join(folder, name), staging).replace(os.sep, "/")
                       for name in files)
    entries.sort()

    with zipfile.ZipFile(output, "w") as archive:
        for name in entries:
            path = os.path.join(staging, name)
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.create_system = 3  # Unix permissions below
            if name.endswith("/"):
                info.external_attr = (0o40755 << 16) | 0x10
                archive.writestr(info, b"")
                continue
            executable = os.access(path, os.X_OK)
            info.external_attr = (0o100755 if executable else 0o100644) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as source:
                archive.writestr(info, source.read(), compresslevel=9)


if __name__ == "__main__":
    main()
