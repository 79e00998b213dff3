"""release.deb: the .deb passes lintian; unpacked, its program is hardened
and tallies a session, and its manual page, changelog and copyright are
there, the copyright in Debian's format with the license; the .tar.gz holds
the same program."""
import glob
import os

from common import expect, expect_session, main, run, same_bytes, session


def check(release):
    deb = release.the_one(".deb")
    run(["lintian", "--fail-on", "error,warning", deb])
    root = os.path.join(release.scratch, "root")
    run(["dpkg-deb", "-x", deb, root])
    program = os.path.join(root, "usr", "bin", "sales_tally")
    # Fortify and control-flow protection cannot pass: see cmake/Hardening.cmake.
    run(["hardening-check", "--nofortify", "--nocfprotection", program])
    expect_session(session([program]))
    for document in ["usr/share/man/man1/sales_tally.1.gz", "usr/share/doc/sales-tally/copyright",
                     "usr/share/doc/sales-tally/changelog.gz"]:
        expect(os.path.isfile(os.path.join(root, document)), "the .deb has no " + document)
    # The license, in Debian's format: its name, and its text indented.
    license, text = release.license()
    with open(os.path.join(root, "usr/share/doc/sales-tally/copyright")) as copyright_file:
        copyright_text = copyright_file.read()
    indented = "".join(" " + line + "\n" if line else " .\n" for line in text.splitlines())
    expect(copyright_text.startswith("Format: https://www.debian.org/doc/packaging-manuals/")
           and copyright_text.endswith("\nLicense: %s\n%s" % (license, indented)),
           "the .deb's copyright does not give the license %s in Debian's format" % license)
    holder = release.cache("SALES_TALLY_COPYRIGHT")
    expect("\nCopyright: %s\n" % holder in copyright_text,
           "the .deb's copyright does not name the holder %r" % holder)
    tree = os.path.join(release.scratch, "tgz")
    os.makedirs(tree)
    run(["tar", "xzf", release.the_one(".tar.gz"), "-C", tree])
    from_tgz = glob.glob(os.path.join(tree, "*", "bin", "sales_tally"))
    expect(len(from_tgz) == 1 and same_bytes(from_tgz[0], program),
           "the .tar.gz does not hold the .deb's program: %s" % from_tgz)


if __name__ == "__main__":
    main(check)
