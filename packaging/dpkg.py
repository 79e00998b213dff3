"""What this machine's dpkg says of the files that made a release: which
Debian package holds each, and each package's version and architecture.
Asked once for all, as dpkg answers slowly (sbom.py, rebuild.py)."""
import os
import subprocess
import sys


def packages_of(paths, required=True):
    """The Debian package that holds each file, as a path names it and as it
    really is (a link, or /lib for /usr/lib); unless required, None for a
    file of no package."""
    candidates = {}
    for path in paths:
        names = [path, os.path.realpath(path)]
        candidates[path] = names + [n.replace("/usr/lib/", "/lib/", 1) for n in names]
    asked = sorted({name for names in candidates.values() for name in names})
    found = subprocess.run(["dpkg-query", "-S"] + asked, capture_output=True, text=True)
    holders = {}
    for line in found.stdout.splitlines():
        packages, _, name = line.partition(": ")
        holders[name] = packages.split(",")[0].strip()
    owners = {}
    for path, names in candidates.items():
        held = [holders[name] for name in names if name in holders]
        if not held and required:
            sys.exit("%s: no Debian package holds %s" % (os.path.basename(sys.argv[0]), path))
        owners[path] = held[0] if held else None
    return owners


def versions(packages):
    """{package: (version, architecture)}; a package named with its
    architecture (libc6-dev:amd64) is asked as it is named."""
    packages = sorted(set(packages))
    fields = subprocess.run(["dpkg-query", "-W", "-f", "${Version}\t${Architecture}\n"] + packages,
                            capture_output=True, text=True, check=True)
    return dict(zip(packages, (tuple(line.split("\t")) for line in fields.stdout.splitlines())))
