"""A package's bill of materials, CycloneDX 1.6 JSON, written by release.py
beside each package as PACKAGE.cdx.json; packaging/README.md says what it
holds. Its serial number is made of the package's bytes, its time is the epoch."""
import datetime
import hashlib
import json
import os
import platform
import re
import shutil
import subprocess
import urllib.parse
import uuid

from linked import library_of, linked_files

DEBIAN = {"name": "Debian", "url": ["https://www.debian.org"]}
NO_LICENSE = {"license": {"name": "No license granted: see LICENSE.txt, or the .deb's copyright"}}


def sha256(path):
    with open(path, "rb") as data:
        return hashlib.sha256(data.read()).hexdigest()


def distro():
    fields = platform.freedesktop_os_release()
    return "%s-%s" % (fields.get("ID", "debian"), fields.get("VERSION_ID", ""))


def debian_purl(package, version, arch=None):
    return "pkg:deb/debian/%s@%s?%sdistro=%s" % (package.split(":")[0], urllib.parse.quote(
        version, safe=""), "arch=%s&" % arch if arch else "", distro())


def packages_of(paths, required=True):
    """The Debian package that holds each file, as a path names it and as it
    really is (a link, or /lib for /usr/lib); unless required, None for a
    file of no package. One dpkg-query for all: it answers slowly."""
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
            raise SystemExit("sbom.py: no Debian package holds %s" % path)
        owners[path] = held[0] if held else None
    return owners


def versions(packages):
    """{package: (version, architecture)} of those installed, each named as
    dpkg-query -S names it (libc6-dev:amd64, where architectures share it)."""
    fields = subprocess.run(["dpkg-query", "-W", "-f",
                             "${binary:Package}\t${Version}\t${Architecture}\n"]
                            + sorted(set(packages)), capture_output=True, text=True)
    return {name: (version, arch) for name, version, arch in
            (line.split("\t") for line in fields.stdout.splitlines())}


def tools(made_with):
    """The tools that made this package, by their Debian packages, each once;
    a tool of no package, installed by hand, is not known."""
    held = packages_of([shutil.which(tool) or tool for tool in made_with], required=False)
    known = versions(package for package in held.values() if package)
    return [{"type": "application", "name": package, "version": version, "supplier": DEBIAN,
             "purl": debian_purl(package, version)} for package, (version, _) in sorted(known.items())]


def libraries(link_map):
    """The libraries the link used, each with its files and their packages."""
    files = sorted({path for path, _ in linked_files(link_map)})
    # A shared library is needed at run time from the package of the file
    # its link names, not of the link.
    run_time = {path: os.path.realpath(path) for path in files
                if re.search(r"\.so\.\d", os.path.basename(os.path.realpath(path)))}
    held = packages_of([run_time.get(path, path) for path in files])
    owners = {path: held[run_time.get(path, path)] for path in files}
    found = {}
    for path in files:
        library = library_of(path)
        if library is None:
            raise SystemExit("sbom.py: %s is linked, and linked.py does not know it: give it a "
                             "library, its license and its notice (NOTICES.txt)" % path)
        entry = found.setdefault(library.name, {"library": library, "files": {}})
        entry["files"][path] = owners[path]
    known = versions(p for entry in found.values() for p in entry["files"].values())
    components = []
    for name, entry in sorted(found.items()):
        # The package needed at run time first.
        packages = sorted(set(entry["files"].values()), key=lambda p: (
            p not in [entry["files"][f] for f in entry["files"] if f in run_time], p))
        components.append({
            "type": "library", "bom-ref": name, "name": name, "scope": "required", "supplier": DEBIAN,
            "version": known[packages[0]][0],
            "purl": debian_purl(packages[0], *known[packages[0]]),
            "licenses": [{"expression": entry["library"].license}],
            "properties": [{"name": "sales_tally:debian-package", "value": p} for p in packages],
            "components": [{
                "type": "file", "bom-ref": path, "name": path,
                "hashes": [{"alg": "SHA-256", "content": sha256(os.path.realpath(path))}],
                "properties": [
                    {"name": "sales_tally:linked", "value": "at run time" if path in run_time
                     else "in" if path.endswith((".a", ".o")) else "at link time"},
                    {"name": "sales_tally:debian-package", "value": owner},
                    {"name": "sales_tally:purl", "value": debian_purl(owner, *known[owner])}]}
                for path, owner in sorted(entry["files"].items())],
        })
    return components


def write_bill(out, package, made_with, inputs, stage):
    version, settings = inputs["version"], inputs["settings"]
    name = os.path.basename(package)
    program = next(os.path.join(folder, f) for folder, _, files in os.walk(stage)
                   for f in files if f in ("sales_tally", "sales_tally.exe"))
    maker = {"name": inputs["publisher"]}
    if inputs["address"]:
        maker["contact"] = [{"name": inputs["publisher"], "email": inputs["address"]}]
    if settings["SALES_TALLY_URL"]:
        maker["url"] = [settings["SALES_TALLY_URL"]]
    windows = program.endswith(".exe")
    arch = "x86_64" if windows else subprocess.run(
        ["dpkg", "--print-architecture"], capture_output=True, text=True, check=True).stdout.strip()
    subject = {"type": "application", "bom-ref": "package", "name": name, "version": version,
               "supplier": maker, "hashes": [{"alg": "SHA-256", "content": sha256(package)}],
               "purl": "pkg:generic/sales_tally@%s?file_name=%s" % (version, name),
               "properties": [{"name": key, "value": value}
                              for key, value in sorted(inputs["bill"].items())]}
    if name.endswith(".deb"):
        fields = subprocess.run(["dpkg-deb", "-f", package, "Package", "Architecture", "Depends"],
                                capture_output=True, text=True, check=True).stdout
        control = dict(line.split(": ", 1) for line in fields.splitlines())
        subject["purl"] = "pkg:deb/%s@%s?arch=%s" % (control["Package"], version,
                                                     control["Architecture"])
        subject["properties"].append({"name": "sales_tally:depends", "value": control["Depends"]})
    components = libraries(inputs["link_map"])
    bom = {
        "bomFormat": "CycloneDX",
        "specVersion": "1.6",
        "serialNumber": "urn:uuid:%s" % uuid.uuid5(uuid.NAMESPACE_URL, "sales_tally:%s:%s" % (
            name, sha256(package))),
        "version": 1,
        "metadata": {
            "timestamp": datetime.datetime.fromtimestamp(int(inputs["epoch"]), datetime.timezone.utc)
            .strftime("%Y-%m-%dT%H:%M:%SZ"),
            "lifecycles": [{"phase": "build"}],
            "authors": [{"name": maker["name"]}],
            "supplier": maker,
            "tools": {"components": tools(made_with)},
            "component": subject,
        },
        "components": [{
            "type": "application", "bom-ref": "sales_tally", "name": "sales_tally",
            "version": version, "supplier": maker, "manufacturer": maker,
            "purl": "pkg:generic/sales_tally@%s?arch=%s&os=%s" % (
                urllib.parse.quote(version, safe=""), arch, "windows" if windows else "linux"),
            "copyright": settings["SALES_TALLY_COPYRIGHT"],
            "licenses": [{"expression": settings["SALES_TALLY_LICENSE"]}
                         if settings["SALES_TALLY_LICENSE"] else NO_LICENSE],
            "hashes": [{"alg": "SHA-256", "content": sha256(program)}],
            "properties": [{"name": "sales_tally:file", "value": os.path.basename(program)}],
        }] + components,
        "dependencies": [{"ref": "package", "dependsOn": ["sales_tally"]},
                         {"ref": "sales_tally", "dependsOn": [c["bom-ref"] for c in components]}]
        + [{"ref": c["bom-ref"], "dependsOn": []} for c in components],
    }
    with open(out, "w") as written:
        json.dump(bom, written, indent=2, sort_keys=True)
        written.write("\n")
