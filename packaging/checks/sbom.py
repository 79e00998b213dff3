"""release.sbom: every package has its bill of materials beside it,
PACKAGE.cdx.json, valid CycloneDX 1.6 by the strict validator of npm's
@cyclonedx/cyclonedx-library (which .ci/run installs) and by Python's
jsonschema against the 1.6 schema that library ships, naming this version,
the program's purl and license, the maintainer as supplier and manufacturer,
the tools that made it (the compiler among them), and listing as linked
exactly the files the link map says were linked, each library with its
Debian package, version, purl (the architecture a qualifier) and license;
and NTIA's minimum elements in every bill, each naming its own package with
a serial number of its own."""
import hashlib
import json
import os
import re
import shutil
import subprocess

from common import expect, main, run
from linked import linked_files

VALIDATE = """
const cdx = require('@cyclonedx/cyclonedx-library');
const text = require('fs').readFileSync(process.argv[1], 'utf8');
new cdx.Validation.JsonStrictValidator('1.6').validate(text).then(
  (errors) => { if (errors) { console.log(JSON.stringify(errors, null, 1)); process.exit(1); } },
  (failure) => { console.log(String(failure)); process.exit(2); });
"""


def check(release):
    version = release.cpack_setting("CPACK_PACKAGE_VERSION")
    link_map = release.cpack_setting("CPACK_SALES_TALLY_LINK_MAP")
    linked = sorted({path for path, _ in linked_files(link_map)})
    modules = run(["npm", "root", "--global"]).decode().strip()
    env = dict(os.environ, NODE_PATH=modules)
    found = subprocess.run(["node", "-e", "require('@cyclonedx/cyclonedx-library')"], env=env,
                           capture_output=True)
    expect(found.returncode == 0, "node finds no @cyclonedx/cyclonedx-library in %s: npm install "
           "--global @cyclonedx/cyclonedx-library ajv ajv-formats ajv-formats-draft2019" % modules)
    names = release.packages()
    packages = [name for name in names if not name.endswith(".json")]
    expect(packages, "no packages of version %s" % version)
    serials = []
    for package in packages:
        expect(package + ".cdx.json" in names, "%s has no bill of materials beside it" % package)
        sbom = os.path.join(release.build, package + ".cdx.json")
        said = subprocess.run(["node", "-e", VALIDATE, sbom], env=env, capture_output=True, text=True)
        expect(said.returncode == 0, "%s is no valid CycloneDX 1.6:\n%s%s"
               % (sbom, said.stdout[-3000:], said.stderr[-1000:]))
        with open(sbom) as text:
            bom = json.load(text)
        expect(bom["metadata"]["component"]["version"] == version,
               "%s names version %s" % (sbom, bom["metadata"]["component"]["version"]))
        schema_errors(modules, sbom)
        expect_maker_and_tools(release, sbom, bom)
        serials.append(expect_minimum_elements(release, package, sbom, bom))
        listed = []
        for component in bom["components"]:
            properties = [(p["name"], p["value"]) for p in component.get("properties", [])]
            expect(re.fullmatch(r"pkg:deb/debian/[^/@:]+@[^?]+\?arch=[a-z0-9]+&distro=\S+",
                                component.get("purl", "")),
                   "%s: %s's purl is not a Debian package's, with its architecture a qualifier: "
                   "%s" % (sbom, component["name"], component.get("purl")))
            expect(component.get("version") and component.get("purl", "").startswith("pkg:deb/")
                   and component.get("licenses") and ("sales_tally:debian-package" in dict(properties)),
                   "%s: %s lacks a version, purl, license or package" % (sbom, component["name"]))
            listed += [value for name, value in properties if name == "sales_tally:linked"]
        expect(sorted(listed) == linked, "%s lists as linked what the link map does not say, or "
               "leaves out what it says:\nonly listed: %s\nonly linked: %s"
               % (sbom, sorted(set(listed) - set(linked)), sorted(set(linked) - set(listed))))
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
    with open(os.path.join(release.build, package), "rb") as data:
        digest = hashlib.sha256(data.read()).hexdigest()
    described = {p["name"]: p["value"] for p in metadata.get("properties", [])}
    expect(described == {"sales_tally:package": package, "sales_tally:package-sha256": digest},
           "%s does not name the package it describes, %s %s: %s" % (sbom, package, digest,
                                                                      described))
    related = {d["ref"]: d["dependsOn"] for d in bom.get("dependencies", [])}
    for component in [metadata["component"]] + bom["components"] + metadata["tools"]["components"]:
        expect(component.get("supplier", {}).get("name") and component.get("name")
               and component.get("version") and component.get("purl"),
               "%s: %s lacks a supplier, name, version or purl" % (sbom, component.get("name")))
    program = metadata["component"]["bom-ref"]
    expect(sorted(related.get(program, [])) == sorted(c["bom-ref"] for c in bom["components"])
           and all(c["bom-ref"] in related for c in bom["components"]),
           "%s does not relate every library to the program: %s" % (sbom, related))
    return serial


def schema_errors(modules, sbom):
    """The bill of materials held to CycloneDX 1.6's JSON schema a second
    way: Python's jsonschema, with the schema files that npm's
    @cyclonedx/cyclonedx-library ships (res/schema)."""
    try:
        import jsonschema  # pylint: disable=import-outside-toplevel
    except ImportError:
        expect(False, "this Python has no jsonschema: install Debian's python3-jsonschema, or "
               "pip's jsonschema")
    folder = os.path.join(modules, "@cyclonedx", "cyclonedx-library", "res", "schema")
    store = {}
    for name in os.listdir(folder):
        if name.endswith(".schema.json"):
            with open(os.path.join(folder, name)) as text:
                store["http://cyclonedx.org/schema/" + name] = json.load(text)
    schema = store["http://cyclonedx.org/schema/bom-1.6.SNAPSHOT.schema.json"]
    resolver = jsonschema.RefResolver("http://cyclonedx.org/schema/bom-1.6.SNAPSHOT.schema.json",
                                      schema, store=store)
    validator = jsonschema.Draft7Validator(schema, resolver=resolver,
                                           format_checker=jsonschema.FormatChecker())
    with open(sbom) as text:
        errors = sorted(validator.iter_errors(json.load(text)), key=str)
    expect(not errors, "%s does not hold to the CycloneDX 1.6 schema: %s"
           % (sbom, "; ".join("%s at %s" % (e.message, list(e.path)) for e in errors[:5])))


def expect_maker_and_tools(release, sbom, bom):
    """Who made the program, with what, under which license."""
    program = bom["metadata"]["component"]
    # A build without a maintainer names no address, and says so.
    publisher = (release.cache("SALES_TALLY_MAINTAINER").split(" <")[0]
                 or "This build comes without a contact")
    page = release.cache("SALES_TALLY_URL")
    for role, entity in [("supplier", bom["metadata"].get("supplier")),
                         ("manufacturer", program.get("manufacturer"))]:
        expect(entity and entity["name"] == publisher and entity.get("url", [""]) == [page]
               and "example." not in json.dumps(entity),
               "%s names the %s %s, not %s at %s" % (sbom, role, entity, publisher, page))
    # The Windows program and the Linux one, told apart.
    platform = r"arch=x86_64&os=windows" if re.search(r"\.(zip|msi)\.cdx", sbom) else r"arch=\w+&os=linux"
    expect(re.fullmatch(r"pkg:generic/sales_tally@%s\?%s" % (re.escape(program["version"]), platform),
                        program.get("purl", "")),
        "%s gives the program the purl %s" % (sbom, program.get("purl")))
    expect(program.get("copyright") == release.cache("SALES_TALLY_COPYRIGHT"),
           "%s gives the program's copyright as %r" % (sbom, program.get("copyright")))
    license, _ = release.license()
    given = program["licenses"][0].get("expression")
    expect(given == license or (given is None and license.startswith("LicenseRef-no-license")),
           "%s gives the program the license %s, not %s" % (sbom, program["licenses"], license))
    tools = {tool["name"] for tool in bom["metadata"]["tools"]["components"]}
    compiler = release.cpack_setting("CPACK_SALES_TALLY_BUILD_TOOLS").split(";")[0]
    compiler = run(["dpkg-query", "-S", os.path.realpath(shutil.which(compiler) or compiler)])
    for package in [compiler.decode().split(":")[0], "cmake"]:
        expect(package in tools, "%s names no tool %s among %s" % (sbom, package, sorted(tools)))


if __name__ == "__main__":
    main(check)
