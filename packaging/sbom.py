"""Writes a package's bill of materials, CycloneDX 1.6 JSON: the program,
with its license, who supplies and made it (the maintainer, with the page)
and the tools that made it; and each library the link map says was linked
into it (linked.py), with the Debian package it came from, that package's
version and a purl, all asked of this machine's dpkg, and its SPDX license.
The same bytes for the same build: no random serial number, the time the
packages' epoch.

    python3 sbom.py OUT.cdx.json LINK_MAP PROGRAM RECORD

Run by cpack after each generator (Sbom.cmake), for each package it made;
PROGRAM is the program as packed, RECORD the release's record (record.py),
which gives the version, the epoch, the release settings and the tools.
"""
import datetime
import hashlib
import json
import os
import sys
import urllib.parse

from dpkg import packages_of, tool_packages, versions
from linked import library_of, linked_files

NO_CONTACT = "This build comes without a contact"
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
    return [{"type": "application", "name": package, "version": version,
             "purl": "pkg:deb/debian/%s@%s?distro=%s" % (package, urllib.parse.quote(version, safe=""),
                                                        distro())}
            for package, version in packages]


def distro():
    with open("/etc/os-release") as release:
        fields = dict(line.rstrip("\n").split("=", 1) for line in release if "=" in line)
    return "%s-%s" % (fields.get("ID", "debian"), fields.get("VERSION_ID", "").strip('"'))


def main():
    out, link_map, program, record_file = sys.argv[1:5]
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
    for name, entry in sorted(libraries.items()):
        packages = sorted(entry["packages"])
        known = versions(packages)
        # A package named with its architecture (libc6-dev:amd64) gives it
        # as the purl's qualifier.
        purls = ["pkg:deb/debian/%s@%s?arch=%s&distro=%s"
                 % (package.split(":")[0], urllib.parse.quote(package_version, safe=""), arch,
                    distro())
                 for package, (package_version, arch) in ((p, known[p]) for p in packages)]
        components.append({
            "type": "library",
            "bom-ref": name,
            "name": name,
            "version": known[packages[0]][0],
            "purl": purls[0],
            "licenses": [{"expression": entry["library"].license}],
            "properties": [{"name": "sales_tally:debian-package", "value": p} for p in packages]
            + [{"name": "sales_tally:purl", "value": p} for p in purls[1:]]
            + [{"name": "sales_tally:linked", "value": f} for f in sorted(entry["files"])],
        })
    with open(program, "rb") as packed:
        digest = hashlib.sha256(packed.read()).hexdigest()
    when = datetime.datetime.fromtimestamp(int(record["epoch"]), datetime.timezone.utc)
    maker = organisation(settings["SALES_TALLY_MAINTAINER"], settings["SALES_TALLY_URL"])
    license = ({"expression": settings["SALES_TALLY_LICENSE"]} if settings["SALES_TALLY_LICENSE"]
               else NO_LICENSE)
    bom = {
        "bomFormat": "CycloneDX",
        "specVersion": "1.6",
        "version": 1,
        "metadata": {
            "timestamp": when.strftime("%Y-%m-%dT%H:%M:%SZ"),
            "lifecycles": [{"phase": "build"}],
            "supplier": maker,
            "manufacturer": maker,
            "tools": {"components": tools(record["tools"])},
            "component": {
                "type": "application",
                "bom-ref": "sales_tally",
                "name": "sales_tally",
                "version": version,
                "purl": "pkg:generic/sales_tally@%s" % urllib.parse.quote(version, safe=""),
                "supplier": maker,
                "manufacturer": maker,
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
