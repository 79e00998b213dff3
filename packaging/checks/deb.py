"""release.deb, as packaging/README.md's table of checks gives it; the
description's range of product numbers is the price list's too."""
import glob
import os
import subprocess

from common import CASE_IN, expect, expect_session, main, run, same_bytes
from program_facts import range_faults


def check(release):
    deb = release.the_one(".deb")
    run(["lintian", "--fail-on", "error,warning", deb])
    root = os.path.join(release.scratch, "root")
    run(["dpkg-deb", "-x", deb, root])
    program = os.path.join(root, "usr", "bin", "sales_tally")
    # Control-flow protection cannot pass, and fortify only where the
    # compiler sees a buffer's size: see cmake/Hardening.cmake.
    checked = subprocess.run(["hardening-check", "--nocfprotection", program],
                             capture_output=True, text=True)
    failed = [line.strip() for line in checked.stdout.splitlines()[1:]
              if ": no" in line and not line.endswith("(ignored)")]
    expect(checked.returncode == 0 or failed == [
        "Fortify Source functions: no, only unprotected functions found!"],
        "hardening-check fails the program:\n" + checked.stdout)
    if failed:
        print("hardening-check finds only unprotected calls, which fortify cannot check: "
              "cmake/Hardening.cmake says why")
    # The range of product numbers, in words, is the price list's.
    description = run(["dpkg-deb", "-f", deb, "Description"]).decode()
    expect(not range_faults(description), "the .deb's description (packaging/Release.cmake) %s"
           % "; ".join(range_faults(description)))
    with open(CASE_IN, "rb") as typed:
        expect_session(run([program], stdin=typed))
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
    holder = release.inputs["settings"]["SALES_TALLY_COPYRIGHT"]
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
