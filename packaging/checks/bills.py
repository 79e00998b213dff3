"""release.bills, as packaging/README.md's table of checks gives it: the
checksum file, and each bill checked against its own package, the link map
and dpkg, by npm's strict @cyclonedx/cyclonedx-library validator."""
import json
import os
import re
import shutil
import subprocess

from common import expect, main, run
from linked import linked_files
from release import shown as settings_show
from sbom import sha256

VALIDATE = """
const cdx = require('@cyclonedx/cyclonedx-library');
const text = require('fs').readFileSync(process.argv[1], 'utf8');
new cdx.Validation.JsonStrictValidator('1.6').validate(text).then(
  (errors) => { if (errors) { console.log(JSON.stringify(errors, null, 1)); process.exit(1); } },
  (failure) => { console.log(String(failure)); process.exit(2); });
"""


def check(release):
    inputs = release.inputs
    linked = sorted({path for path, _ in linked_files(inputs["link_map"])})
    modules = run(["npm", "root", "--global"]).decode().strip()
    env = dict(os.environ, NODE_PATH=modules)
    found = subprocess.run(["node", "-e", "require('@cyclonedx/cyclonedx-library')"], env=env,
                           capture_output=True)
    expect(found.returncode == 0, "node finds no @cyclonedx/cyclonedx-library in %s: npm install "
           "--global @cyclonedx/cyclonedx-library ajv ajv-formats ajv-formats-draft2019" % modules)
    names = release.packages()
    packages = [name for name in names if not name.endswith(".json")]
    expect(packages, "no packages of version %s" % inputs["version"])
    with open(release.sums()) as sums:
        vouched = sorted(line.split("  ", 1)[1].strip() for line in sums)
    expect(vouched == names, "%s lists %s, the packages are %s" % (release.sums(), vouched, names))
    run(["sha256sum", "--check", "--strict", os.path.basename(release.sums())], cwd=release.build)
    serials = []
    for package in packages:
        expect(package + ".cdx.json" in names, "%s has no bill of materials beside it" % package)
        sbom = os.path.join(release.build, package + ".cdx.json")
        said = subprocess.run(["node", "-e", VALIDATE, sbom], env=env, capture_output=True, text=True)
        expect(said.returncode == 0, "%s is no valid CycloneDX 1.6:\n%s%s"
               % (sbom, said.stdout[-3000:], said.stderr[-1000:]))
        with open(sbom) as text:
            bom = json.load(text)
        expect_maker_and_tools(release, package, sbom, bom)
        serials.append(expect_minimum_elements(release, package, sbom, bom))
        subject = bom["metadata"]["component"]
        shown = {p["name"]: p["value"] for p in subject.get("properties", [])}
        for name, value in settings_show(inputs, "bill").items():
            expect(shown.get(name) == value, "%s does not carry %s %r" % (sbom, name, value))
        listed, held = [], set()
        for component in bom["components"][1:]:
            expect(re.fullmatch(r"pkg:deb/debian/[^/@:]+@[^?]+\?arch=[a-z0-9]+&distro=\S+",
                                component.get("purl", "")) and component.get("licenses"),
                   "%s: %s has no license, or a purl that is not a Debian package's with its "
                   "architecture: %s" % (sbom, component["name"], component.get("purl")))
            for part in component.get("components", []):
                properties = {p["name"]: p["value"] for p in part["properties"]}
                expect(part["hashes"] == [{"alg": "SHA-256", "content": sha256(os.path.realpath(
                    part["name"]))}], "%s: %s has not its file's SHA-256" % (sbom, part["name"]))
                listed.append(part["name"])
                held.add(properties["sales_tally:debian-package"].split(":")[0])
        expect(sorted(listed) == linked, "%s lists as linked what the link map does not say, or "
               "leaves out what it says:\nonly listed: %s\nonly linked: %s"
               % (sbom, sorted(set(listed) - set(linked)), sorted(set(linked) - set(listed))))
        if package.endswith(".deb"):
            depends = re.findall(r"([a-z0-9][-+.a-z0-9]*)(?: \([^)]*\))?(?:, |$)",
                                 run(["dpkg-deb", "-f", os.path.join(release.build, package),
                                      "Depends"]).decode().strip())
            expect(shown.get("sales_tally:depends") and set(depends) <= held,
                   "%s does not name what the .deb depends on (%s) among its libraries' packages "
                   "%s" % (sbom, depends, sorted(held)))
    expect(len(set(serials)) == len(serials), "two bills of materials share a serial number: %s"
           % serials)


def expect_minimum_elements(release, package, sbom, bom):
    """NTIA's minimum elements: for every component its supplier, name,
    version and unique identifier, and how it relates to the program; the
    bill's author and time; and which package it describes. Returns the
    bill's serial number."""
    serial = bom.get("serialNumber", "")
    expect(re.fullmatch(r"urn:uuid:[0-9a-f-]{36}", serial), "%s has no serial number" % sbom)
    metadata = bom["metadata"]
    expect(metadata.get("timestamp") and [a.get("name") for a in metadata.get("authors", [])],
           "%s names no author or time" % sbom)
    digest = sha256(os.path.join(release.build, package))
    subject = metadata["component"]
    expect(subject.get("name") == package and subject.get("hashes") == [
        {"alg": "SHA-256", "content": digest}], "%s is not of its package, %s %s: %s"
           % (sbom, package, digest, {k: subject.get(k) for k in ["name", "hashes"]}))
    related = {d["ref"]: d["dependsOn"] for d in bom.get("dependencies", [])}
    for component in [subject] + bom["components"] + metadata["tools"]["components"]:
        expect(component.get("supplier", {}).get("name") and component.get("name")
               and component.get("version") and component.get("purl"),
               "%s: %s lacks a supplier, name, version or purl" % (sbom, component.get("name")))
    program, libraries = bom["components"][0]["bom-ref"], bom["components"][1:]
    expect(related.get(subject["bom-ref"]) == [program]
           and sorted(related.get(program, [])) == sorted(c["bom-ref"] for c in libraries)
           and all(c["bom-ref"] in related for c in libraries),
           "%s does not relate the package to the program and every library to it: %s"
           % (sbom, related))
    return serial


def expect_maker_and_tools(release, package, sbom, bom):
    """Who made the program, with what, under which license."""
    program, inputs = bom["components"][0], release.inputs
    page = inputs["settings"]["SALES_TALLY_URL"]
    for role, entity in [("supplier", bom["metadata"].get("supplier")),
                         ("manufacturer", program.get("manufacturer"))]:
        expect(entity and entity["name"] == inputs["publisher"] and entity.get("url", [""]) == [page]
               and "example." not in json.dumps(entity),
               "%s names the %s %s, not %s at %s" % (sbom, role, entity, inputs["publisher"], page))
    # The Windows program and the Linux one, told apart.
    platform = r"arch=x86_64&os=windows" if re.search(r"\.(zip|msi)$", package) else r"arch=\w+&os=linux"
    expect(re.fullmatch(r"pkg:generic/sales_tally@%s\?%s" % (re.escape(inputs["version"]), platform),
                        program.get("purl", "")),
           "%s gives the program the purl %s" % (sbom, program.get("purl")))
    expect(program.get("copyright") == inputs["settings"]["SALES_TALLY_COPYRIGHT"],
           "%s gives the program's copyright as %r" % (sbom, program.get("copyright")))
    license, _ = release.license()
    given = program["licenses"][0].get("expression")
    expect(given == license or (given is None and license.startswith("LicenseRef-no-license")),
           "%s gives the program the license %s, not %s" % (sbom, program["licenses"], license))
    # The tools that made this package, and no other's.
    tools = {tool["name"] for tool in bom["metadata"]["tools"]["components"]}
    compiler = run(["dpkg-query", "-S", os.path.realpath(shutil.which(inputs["build_tools"][0]))])
    own = {".msi": {"wixl", "msitools", "faketime"}, ".deb": {"dpkg"}}
    for extension, packages in own.items():
        wanted = {compiler.decode().split(":")[0], "cmake"} | (
            packages if package.endswith(extension) else set())
        expect(wanted <= tools and (package.endswith(extension) or not packages & tools),
               "%s names the tools %s, not %s and no other package's" % (
                   sbom, sorted(tools), sorted(wanted)))


if __name__ == "__main__":
    main(check)
