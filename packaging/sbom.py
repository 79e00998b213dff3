"""Writes a package's bill of materials, CycloneDX 1.6 JSON: the program,
with its license, who supplies and made it (the maintainer, with the page)
and the tools that made it; and each library the link map says was linked
into it (linked.py), with the Debian package it came from, that package's
version and a purl, all asked of this machine's dpkg, and its SPDX license;
Debian the supplier of each of its packages, and the upstream project the
package names its manufacturer. The bill names the package it describes,
by file name and SHA-256. The same bytes for the same build: a serial
number made of the package's bytes, the time the packages' epoch.

    python3 sbom.py OUT.cdx.json PACKAGE LINK_MAP PROGRAM RECORD

Run by cpack after each generator (Sbom.cmake), for each PACKAGE it made;
PROGRAM is the program as packed, RECORD the release's record (record.py),
which gives the version, the epoch, the release settings and the tools.
"""
import datetime
import hashlib
import json
import os
import subprocess
import sys
import urllib.parse
import uuid

from dpkg import homepages, packages_of, tool_packages, versions
from linked import library_of, linked_files

NO_CONTACT = "This build comes without a contact"
DEBIAN = {"name": "Debian", "url": ["https://www.debian.org"]}
NO_LICENSE = {"license": {"name": "No license granted: see LICENSE.txt, or the .deb's copyright"}}


def organisation(maintainer, page):
    """The maintainer, "Name <address>", as CycloneDX names a supplier; a
    build without one says so, and names no address."""
    if not maintainer:
        return {"name": NO_CONTACT}
    name, _, address = maintainer.partition(" <")
    found = {"name": name, "contact": [{"name": name, "email": address.rstrip(">")}]}
    return dict(found, url=[page]) if page else found


def tools(made_with):
    """The record's tools, "package version" each, as components: each
    package once."""
    packages = sorted(tool_packages(made_with).items())
    upstream = homepages(package for package, _ in packages)
    return [dict({"type": "application", "name": package, "version": version,
                  "purl": "pkg:deb/debian/%s@%s?distro=%s"
                  % (package, urllib.parse.quote(version, safe=""), distro())},
                 **suppliers(upstream[package]))
            for package, version in packages]


def suppliers(page):
    """Debian supplies each of its packages; the upstream project that the
    package names makes it."""
    found = {"supplier": DEBIAN}
    if page:
        found["manufacturer"] = {"name": urllib.parse.urlparse(page).netloc, "url": [page]}
    return found


def distro():
    with open("/etc/os-release") as release:
        fields = dict(line.rstrip("\n").split("=", 1) for line in release if "=" in line)
    return "%s-%s" % (fields.get("ID", "debian"), fields.get("VERSION_ID", "").strip('"'))


def sha256(path):
    with open(path, "rb") as data:
        return hashlib.sha256(data.read()).hexdigest()


def main():
    out, package, link_map, program, record_file = sys.argv[1:6]
    with open(record_file) as text:
        record = json.load(text)
    version, settings = record["version"], record["settings"]
    libraries = {}
    paths = sorted({path for path, _ in linked_files(link_map)})
    owners = packages_of(paths)
    for path in paths:
        library = library_of(path)
        if library is None:
            sys.exit("sbom.py: %s is linked, and linked.py does not know it: give it a library, "
                     "its license and its notice (NOTICES.txt)" % path)
        entry = libraries.setdefault(library.name, {"library": library, "files": set(),
                                                    "packages": set()})
        entry["files"].add(path)
        entry["packages"].add(owners[path])

    components = []
    upstream = homepages(p for entry in libraries.values() for p in entry["packages"])
    for name, entry in sorted(libraries.items()):
        packages = sorted(entry["packages"])
        known = versions(packages)
        # A package named with its architecture (libc6-dev:amd64) gives it
        # as the purl's qualifier.
        purls = ["pkg:deb/debian/%s@%s?arch=%s&distro=%s"
                 % (package.split(":")[0], urllib.parse.quote(package_version, safe=""), arch,
                    distro())
                 for package, (package_version, arch) in ((p, known[p]) for p in packages)]
        components.append(dict(suppliers(upstream[packages[0]]), **{
            "type": "library",
            "bom-ref": name,
            "name": name,
            "version": known[packages[0]][0],
            "purl": purls[0],
            "licenses": [{"expression": entry["library"].license}],
            "properties": [{"name": "sales_tally:debian-package", "value": p} for p in packages]
            + [{"name": "sales_tally:purl", "value": p} for p in purls[1:]]
            + [{"name": "sales_tally:linked", "value": f} for f in sorted(entry["files"])],
        }))
    digest, package_digest = sha256(program), sha256(package)
    # The Windows build and the Linux one are two programs; a purl sorts its
    # qualifiers.
    platform = ("arch=x86_64&os=windows" if program.endswith(".exe") else "arch=%s&os=linux" %
                subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True,
                               check=True).stdout.strip())
    when = datetime.datetime.fromtimestamp(int(record["epoch"]), datetime.timezone.utc)
    maker = organisation(settings["SALES_TALLY_MAINTAINER"], settings["SALES_TALLY_URL"])
    license = ({"expression": settings["SALES_TALLY_LICENSE"]} if settings["SALES_TALLY_LICENSE"]
               else NO_LICENSE)
    bom = {
        "bomFormat": "CycloneDX",
        "specVersion": "1.6",
        # Of this package's bytes: two builds of one release agree on it, and
        # no two packages' bills share it.
        "serialNumber": "urn:uuid:%s" % uuid.uuid5(uuid.NAMESPACE_URL, "sales_tally:%s:%s" % (
            os.path.basename(package), package_digest)),
        "version": 1,
        "metadata": {
            "timestamp": when.strftime("%Y-%m-%dT%H:%M:%SZ"),
            "lifecycles": [{"phase": "build"}],
            "authors": [{"name": maker["name"]}],
            "supplier": maker,
            "manufacturer": maker,
            # The package this bill describes.
            "properties": [{"name": "sales_tally:package", "value": os.path.basename(package)},
                           {"name": "sales_tally:package-sha256", "value": package_digest}],
            "tools": {"components": tools(record["tools"])},
            "component": {
                "type": "application",
                "bom-ref": "sales_tally",
                "name": "sales_tally",
                "version": version,
                "purl": "pkg:generic/sales_tally@%s?%s" % (urllib.parse.quote(version, safe=""),
                                                           platform),
                "supplier": maker,
                "manufacturer": maker,
                "copyright": settings["SALES_TALLY_COPYRIGHT"],
                "licenses": [license],
                "hashes": [{"alg": "SHA-256", "content": digest}],
                "properties": [{"name": "sales_tally:file", "value": os.path.basename(program)}],
            },
        },
        "components": components,
        "dependencies": [{"ref": "sales_tally", "dependsOn": [c["bom-ref"] for c in components]}]
        + [{"ref": c["bom-ref"], "dependsOn": []} for c in components],
    }
    with open(out, "w") as written:
        json.dump(bom, written, indent=2, sort_keys=True)
        written.write("\n")


main()
