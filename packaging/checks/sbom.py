"""release.sbom: every package has its bill of materials beside it,
PACKAGE.cdx.json, valid CycloneDX 1.6 by the strict validator of npm's
@cyclonedx/cyclonedx-library (which .ci/run installs), naming this version,
and listing as linked exactly the files the link map says were linked, each
library with its Debian package, version, purl and licence."""
import json
import os
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
        listed = []
        for component in bom["components"]:
            properties = [(p["name"], p["value"]) for p in component.get("properties", [])]
            expect(component.get("version") and component.get("purl", "").startswith("pkg:deb/")
                   and component.get("licenses") and ("sales_tally:debian-package" in dict(properties)),
                   "%s: %s lacks a version, purl, licence or package" % (sbom, component["name"]))
            listed += [value for name, value in properties if name == "sales_tally:linked"]
        expect(sorted(listed) == linked, "%s lists as linked what the link map does not say, or "
               "leaves out what it says:\nonly listed: %s\nonly linked: %s"
               % (sbom, sorted(set(listed) - set(linked)), sorted(set(linked) - set(listed))))


if __name__ == "__main__":
    main(check)
