"""Gives the members of a .deb's ar archive mode 0644, as dpkg-deb does:
cpack writes them with the modes its umask gives, which would make the
package's bytes depend on who built it.

    python3 modes.py PACKAGE.deb...

Run by cpack after each generator (Modes.cmake), before the bills of
materials and SHA256SUMS are made of the package."""
import sys

HEADER, MODE_AT = 60, 40  # an ar member's header, and its mode's place in it


def main():
    for package in sys.argv[1:]:
        with open(package, "r+b") as deb:
            data = bytearray(deb.read())
            if not data.startswith(b"!<arch>\n"):
                sys.exit("modes.py: %s is no ar archive" % package)
            at = 8
            while at + HEADER <= len(data):
                data[at + MODE_AT:at + MODE_AT + 8] = b"100644  "
                size = int(data[at + 48:at + 58])
                at += HEADER + size + size % 2
            deb.seek(0)
            deb.write(data)


main()
