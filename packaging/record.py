"""Writes a release's record, PACKAGE.release.json beside its packages and
listed in SHA256SUMS: what a rebuild of the release needs to give the same
bytes (rebuild.py), the same bytes itself for the same release.

    python3 record.py OUT NAME=VALUE... -- TOOL...

NAME=VALUE are the source commit, the version, the epoch and where it came
from, the preset, whether the packages are signed, and every release
setting (settings.json; a FILEPATH's by its text, in file_texts); TOOL, the path of each program that made the packages, recorded with
its Debian package's version. Written by Record.cmake before each generator,
for the bills of materials (sbom.py), and listed in SHA256SUMS once the
release is whole.
"""
import json
import os
import sys

from dpkg import tools


def file_settings():
    """The names of the release settings that are files (settings.json)."""
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "settings.json")) as text:
        return {entry["name"] for entry in json.load(text) if entry.get("type") == "FILEPATH"}


def main():
    out, arguments = sys.argv[1], sys.argv[2:]
    split = arguments.index("--")
    record = {"settings": {}, "file_texts": {}, "tools": tools(arguments[split + 1:])}
    files = file_settings()
    for argument in arguments[:split]:
        name, _, value = argument.partition("=")
        if name in files:  # where it lies does not reach the packages
            with open(value or os.devnull, "rb") as text:
                record["file_texts"][name] = text.read().decode()
        elif name.startswith("SALES_TALLY_"):
            record["settings"][name] = value
        else:
            record[name] = value
    with open(out, "w") as written:
        json.dump(record, written, indent=2, sort_keys=True)
        written.write("\n")


main()
