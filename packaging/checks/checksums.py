"""release.checksums: the platform's checksum file lists every package, bill
of materials and the record, and sha256sum -c accepts it."""
import os

from common import expect, main, run


def check(release):
    with open(release.sums()) as sums:
        listed = sorted(line.split("  ", 1)[1].strip() for line in sums)
    expect(listed == release.packages(),
           "%s lists %s, the packages are %s" % (release.sums(), listed, release.packages()))
    run(["sha256sum", "--check", "--strict", os.path.basename(release.sums())], cwd=release.build)


if __name__ == "__main__":
    main(check)
