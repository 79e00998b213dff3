"""Writes a release's record, PACKAGE.release.json beside its packages and
listed in SHA256SUMS: what a rebuild of the release needs to give the same
bytes (rebuild.py), the same bytes itself for the same release.

    python3 record.py OUT NAME=VALUE... -- TOOL...

NAME=VALUE are the source commit, the version, the epoch and where it came
from, the preset, whether the packages are signed, and every release
setting (CMake's cache variables, SALES_TALLY_...); TOOL, the path of each
program that made the packages, recorded with its Debian package's version.
Run by Checksums.cmake once the release is whole.
"""
import json
import sys

from dpkg import tools


def main():
    out, arguments = sys.argv[1], sys.argv[2:]
    split = arguments.index("--")
    record = {"settings": {}, "tools": tools(arguments[split + 1:])}
    for argument in arguments[:split]:
        name, _, value = argument.partition("=")
        if name.startswith("SALES_TALLY_"):
            record["settings"][name] = value
        else:
            record[name] = value
    with open(out, "w") as written:
        json.dump(record, written, indent=2, sort_keys=True)
        written.write("\n")


main()
