#!/usr/bin/env python3
"""Builds the release zip and the SHA256SUMS file beside it.

The zip is the same, byte for byte, for the same inputs: entries in the order
given, every entry dated SOURCE_DATE_EPOCH, fixed permissions, fixed
compression. SOURCE_DATE_EPOCH comes from the environment when set, else from
the time of the source tree's last commit, else a fixed date.

Usage: make_package.py OUTPUT.zip [--version V] [--source-dir DIR] ENTRY...
  --version V  replaces @VERSION@ in the text entries with V
  ENTRY is KIND:NAME=PATH, stored in the zip as NAME, read from PATH:
    binary  the file as it is
    text    UTF-8 text with CRLF line ends (Notepad before Windows 10 shows a
            file with bare line feeds as one long line)
    guide   the same with a UTF-8 byte-order mark, so that Notepad on a
            Japanese Windows does not take it for Shift-JIS
"""

import argparse
import hashlib
import os
import subprocess
import sys
import time
import zipfile

# Used when neither the environment nor git gives a date: 2026-01-01 00:00:00 UTC.
FALLBACK_EPOCH = 1767225600
DOS_EPOCH = 315532800  # 1980-01-01, the earliest date a zip entry can hold
BOM = b"\xef\xbb\xbf"
MODES = {"binary": 0o755, "text": 0o644, "guide": 0o644}


def source_date_epoch(source_dir):
    value = os.environ.get("SOURCE_DATE_EPOCH")
    if value:
        return int(value)
    if source_dir:
        try:
            out = subprocess.run(["git", "-C", source_dir, "log", "-1", "--format=%ct"],
                                 capture_output=True, text=True, check=True).stdout.strip()
            if out:
                return int(out)
        except (OSError, subprocess.CalledProcessError, ValueError):
            pass
    return FALLBACK_EPOCH


def windows_text(data, with_bom, version):
    """UTF-8 text with CRLF line ends, whatever line ends the checkout has."""
    if data.startswith(BOM):
        data = data[len(BOM):]
    text = data.decode("utf-8").replace("\r\n", "\n")
    if version:
        text = text.replace("@VERSION@", version)
    if not text.endswith("\n"):
        text += "\n"
    out = text.replace("\n", "\r\n").encode("utf-8")
    return BOM + out if with_bom else out


def parse_entry(spec):
    kind, sep, rest = spec.partition(":")
    name, sep2, path = rest.partition("=")
    if not sep or not sep2 or kind not in MODES or not name or not path:
        raise argparse.ArgumentTypeError(f"expected KIND:NAME=PATH, got {spec!r}")
    return kind, name, path


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output")
    parser.add_argument("--version")
    parser.add_argument("--source-dir")
    parser.add_argument("entries", nargs="+", type=parse_entry, metavar="ENTRY")
    args = parser.parse_args(argv)

    epoch = max(source_date_epoch(args.source_dir), DOS_EPOCH)
    date_time = time.gmtime(epoch)[:6]

    tmp = args.output + ".tmp"
    with zipfile.ZipFile(tmp, "w") as zf:
        for kind, name, path in args.entries:
            with open(path, "rb") as f:
                data = f.read()
            if kind != "binary":
                data = windows_text(data, kind == "guide", args.version)
            info = zipfile.ZipInfo(name, date_time)
            info.create_system = 3  # Unix, so that the permission bits below are read
            info.external_attr = (0o100000 | MODES[kind]) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            zf.writestr(info, data, compresslevel=9)
    os.replace(tmp, args.output)

    with open(args.output, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    sums = os.path.join(os.path.dirname(os.path.abspath(args.output)), "SHA256SUMS")
    with open(sums, "w", encoding="ascii", newline="\n") as f:
        f.write(f"{digest}  {os.path.basename(args.output)}\n")
    print(f"{digest}  {os.path.basename(args.output)}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
