"""release.checksums: SHA256SUMS lists every package, and sha256sum -c
accepts it."""
import os

from common import expect, main, run


def check(release):
    with open(os.path.join(release.build, "SHA256SUMS")) as sums:
        listed = sorted(line.split("  ", 1)[1].strip() for line in sums)
    expect(listed == release.packages(),
           "SHA256SUMS lists %s, the packages are %s" % (listed, release.packages()))
    run(["sha256sum", "--check", "--strict", "SHA256SUMS"], cwd=release.build)


if __name__ == "__main__":
    main(check)
