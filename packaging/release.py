"""Makes this platform's release in one run, each step in order in release()
below: the packages, the Windows files signed, each package's bill of
materials, the record and the checksum file with its signature.

    python3 packaging/release.py BUILD [--config Release] [--out DIR] [--set NAME=VALUE]...

The target `packages` runs it (Release.cmake) on BUILD/release-inputs.json,
what configuring worked out; --set changes one of those or a release setting
(the release checks); --out puts the release elsewhere than BUILD. Signing
takes its settings from the environment only (packaging/README.md).
"""
import argparse
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from sbom import sha256, write_bill  # noqa: E402

# The tools that make each kind of package beyond the build's own, and what
# signs it.
PACKAGE_TOOLS = {".msi": ["wixl", "msibuild", "faketime"], ".deb": ["dpkg-deb", "dpkg-shlibdeps"]}
SIGNING_TOOLS = {".zip": ["osslsigncode"], ".msi": ["osslsigncode"]}


class Refused(Exception):
    pass


def setting(name):
    return os.environ.get(name, "")


def unsigned_environment():
    """This environment without the signing settings, and at its commit's time."""
    return {name: value for name, value in os.environ.items() if not name.startswith(
        ("SALES_TALLY_SIGN", "SALES_TALLY_MINISIGN")) and name != "SOURCE_DATE_EPOCH"}


def declared():
    with open(os.path.join(HERE, "settings.json")) as text:
        return json.load(text)


def inputs_of(build):
    """What configuring gave the release (Release.cmake), its lists split."""
    with open(os.path.join(build, "release-inputs.json")) as text:
        inputs = json.load(text)
    for key in ["build_tools", "own", "generators"]:
        inputs[key] = inputs[key].split(";")
    return inputs


def fill(text, inputs):
    """A text of settings.json with its @NAME@ filled in, as configuring fills README.txt's."""
    known = dict(inputs["settings"], SALES_TALLY_CONTACT_ADDRESS=inputs["address"],
                 PROJECT_VERSION=inputs["version"])
    return re.sub(r"@(\w+)@", lambda name: known[name.group(1)], text)


def shown(inputs, where):
    """The properties the settings given show in the .msi ("msi") or the bills ("bill")."""
    return {name: fill(text, inputs) for entry in declared() if inputs["settings"][entry["name"]]
            for name, text in entry.get(where, {}).items()}


def subject(certificate):
    """The first certificate's subject, as Windows shows it."""
    return subprocess.run(["openssl", "x509", "-in", certificate, "-noout", "-subject", "-nameopt",
                           "RFC2253,sep_comma_plus_space"], capture_output=True, text=True,
                          check=True).stdout.strip().replace("subject=", "", 1)


def run(command, what, **options):
    """A step's command, which must succeed; returns what it said."""
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          **options)
    if done.returncode:
        raise Refused("%s: %s gave status %d:\n%s" % (what, " ".join(command[:2]), done.returncode,
                                                       done.stdout[-4000:]))
    return done.stdout


def signed(inputs):
    """Whether the release is signed. Refused: one half given, one without what
    settings.json says a signed release needs, and one whose README.txt names
    a signer other than the certificate's, or one when there is none."""
    windows = inputs["preset"] == "release-windows"
    if setting("SALES_TALLY_SIGNATURES_FROM"):  # a rebuild, which signs nothing itself
        return True
    certificate = setting("SALES_TALLY_SIGN_CERT")
    signer = subject(certificate) if certificate and windows else ""
    if windows and signer != inputs["settings"]["SALES_TALLY_SIGNER"]:
        raise Refused("README.txt names \"%s\" as the signer, and the certificate is \"%s\": "
                      "configure again with -DSALES_TALLY_SIGNER=\"%s\""
                      % (inputs["settings"]["SALES_TALLY_SIGNER"], signer or "none", signer))
    needed = ["SALES_TALLY_MINISIGN_KEY", "SALES_TALLY_MINISIGN_PUBLIC_KEY"] + (
        ["SALES_TALLY_SIGN_CERT", "SALES_TALLY_SIGN_KEY"] if windows else [])
    if not any(setting(name) for name in needed + ["SALES_TALLY_SIGN_CERT"]):
        return False
    missing = [name for name in needed if not setting(name)]
    if missing:
        raise Refused("A signed release signs its checksum file%s: give %s too"
                      % (" and its Windows files" if windows else "", " and ".join(missing)))
    for entry in declared():
        if "signed_needs" in entry and inputs["settings"][entry["name"]] == entry["default"]:
            raise Refused(entry["signed_needs"])
    if windows and not servers():
        raise Refused("A signed release needs a timestamp, or its signature dies with the "
                      "certificate: give SALES_TALLY_SIGN_TIMESTAMP_URLS")
    return True


def servers():
    return [url for url in re.split(r"[ ;]+", setting("SALES_TALLY_SIGN_TIMESTAMP_URLS")) if url]


def osslsigncode(arguments, password=None):
    """Runs osslsigncode, each call within the timeout, the password on its
    standard input; returns what it said, and a failure's reason or None."""
    limit = int(setting("SALES_TALLY_SIGN_TIMEOUT") or 120)
    try:
        done = subprocess.run(["osslsigncode"] + arguments, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True, timeout=limit, input=password)
        said, status = done.stdout, done.returncode
    except subprocess.TimeoutExpired as expired:
        said, status = (expired.stdout or b"").decode(errors="replace"), "no answer"
    if status == 0:
        return said, None
    return said, "(%s; a call may take %d s, SALES_TALLY_SIGN_TIMEOUT):\n%s" % (
        status, limit, said[-3000:].strip())


def roots():
    """osslsigncode's options for the roots every signature must chain to:
    SALES_TALLY_SIGNATURES_CAFILE's, else the system's."""
    given = setting("SALES_TALLY_SIGNATURES_CAFILE")
    return ["-CAfile", given, "-TSA-CAfile", given] if given else []


def verify(path):
    """The signature and its timestamp, against the roots: the chain below
    the root must be in the signature. osslsigncode says "Succeeded" even
    for a timestamp that fails, so its lines are read. Says who signed."""
    trusted = roots()
    said, failure = osslsigncode(["verify", "-in", path] + trusted)
    name = os.path.basename(path)
    if len(set(re.findall(r"(?:Current|Calculated) message digest\s*:\s*(\S+)", said))) > 1:
        raise Refused("%s was changed after it was signed: its signature is of other bytes" % name)
    for line in ["Signature verification: ok", "Timestamp Server Signature verification: ok"]:
        if line not in said.splitlines():
            raise Refused("%s is not signed by a root %s trusts (no \"%s\") %s" % (
                name, trusted[1] if trusted else "the system", line,
                failure or "; all it said:\n" + said[-3000:]))
    signer = re.search(r"Signer's certificate:.*?Subject: (.*?)\n\s*Issuer : (.*?)\n", said, re.S)
    tsa = re.search(r"Timestamp verified using:.*?Signer #0:\s*Subject: (.*?)\n", said, re.S)
    root = re.search(r"chain verified using:\s*-*\s*Signer #\d+:\s*Subject: (.*?)\n", said)
    print("release.py: %s: signed by %s, issued by %s, chaining to %s; timestamped by %s at %s" % (
        name, signer.group(1), signer.group(2), root.group(1), tsa.group(1),
        re.search(r"Timestamp time: (.*)", said).group(1)), flush=True)


def authenticode(path, published, inputs):
    """Signs a Windows file in place, or gives it the signature of the same
    file published; either way verified."""
    out = path + ".signed"
    if setting("SALES_TALLY_SIGNATURES_FROM"):
        signature = path + ".sig"
        _, failure = osslsigncode(["extract-signature", "-in", published, "-out", signature])
        if not failure:
            _, failure = osslsigncode(["attach-signature", "-sigin", signature, "-in", path,
                                       "-out", out] + roots())
        if failure:
            raise Refused("osslsigncode could not give %s the signature of %s %s"
                          % (os.path.basename(path), published, failure))
        os.remove(signature)
    else:
        # The certificate file holds the signer's certificate and then its
        # intermediates: -certs embeds them all, so the root alone verifies.
        key = setting("SALES_TALLY_SIGN_KEY")
        options = ["sign", "-h", "sha256", "-certs", setting("SALES_TALLY_SIGN_CERT"), "-key", key,
                   "-n", inputs["product_name"], "-i", inputs["settings"]["SALES_TALLY_URL"]]
        if key.startswith("pkcs11:"):
            options += ["-pkcs11module", setting("SALES_TALLY_SIGN_PKCS11_MODULE")]
        password = os.environ.get("SALES_TALLY_SIGN_PASSWORD")
        if password is not None:  # never on a command line
            options += ["-readpass", "/dev/stdin"]
        # Each timestamp server in turn, with a timeout of its own.
        failures = []
        for server in servers():
            if os.path.exists(out):
                os.remove(out)
            _, failure = osslsigncode(options + ["-ts", server, "-in", path, "-out", out], password)
            if not failure:
                break
            failures.append("with %s %s" % (server, failure))
        else:
            raise Refused("osslsigncode could not sign %s:\n%s"
                          % (os.path.basename(path), "\n".join(failures)))
    shutil.copymode(path, out)  # osslsigncode's follows the umask
    os.replace(out, path)
    verify(path)


def package_code(inputs, stage):
    """Of what the package holds: two builds of one release agree on it."""
    contents = "%s %s" % (inputs["version"], inputs["publisher"])
    for path in [os.path.join(HERE, "sales_tally.wxs"), os.path.join(HERE, "sales_tally.ico")] + \
            sorted(glob.glob(os.path.join(stage, "*"))):
        contents += " " + sha256(path)
    return str(uuid.uuid5(uuid.UUID(inputs["upgrade_code"]), contents)).upper()


def make_msi(inputs, stage, msi):
    """wixl takes no SOURCE_DATE_EPOCH: it runs on a clock stopped at the
    epoch (faketime -f; with @ the clock would run from it), which fixes the
    summary's dates however late it starts. msibuild then writes the File
    table's version, which wixl leaves out, the package code and the
    settings' properties, on the same clock."""
    for value in inputs["msi"].values():
        if "'" in value:
            raise Refused("the .msi's properties cannot hold a ': %s" % value)
    at_epoch = ["faketime", "-f", time.strftime("%Y-%m-%d %H:%M:%S",
                                                time.gmtime(int(inputs["epoch"])))]
    run(at_epoch + ["wixl", "--arch", inputs["msi_arch"], "--output", msi] + [
        "--define=%s=%s" % pair for pair in [
            ("Version", inputs["version"]), ("ProductCode", inputs["product_code"]),
            ("Publisher", inputs["publisher"]), ("ProductName", inputs["product_name"])]] + [
        os.path.join(HERE, "sales_tally.wxs")], "the .msi", cwd=stage)
    queries = ["UPDATE `File` SET `Version` = '%s' WHERE `File` = 'sales_tally.exe'"
               % inputs["exe_version"]] + [
        "INSERT INTO `Property` (`Property`, `Value`) VALUES ('%s', '%s')" % item
        for item in sorted(inputs["msi"].items())]
    run(at_epoch + ["msibuild", msi] + [a for q in queries for a in ["-q", q]] + [
        "-s", "%s %s" % (inputs["product_name"], inputs["version"]), inputs["publisher"],
        "%s;1033" % inputs["msi_arch"], "{%s}" % package_code(inputs, stage)], "the .msi")


def minisign(sums, published):
    """The checksum file signed with minisign, or the published signature of
    it taken; it must verify with the public key that users pin."""
    signature = sums + ".minisig"
    pinned = setting("SALES_TALLY_MINISIGN_PUBLIC_KEY")
    if published:  # rebuild.py, which has verified it with the key it is given
        shutil.copyfile(os.path.join(published, os.path.basename(signature)), signature)
        return
    run(["minisign", "-S", "-s", setting("SALES_TALLY_MINISIGN_KEY"), "-m", sums, "-x",
         signature, "-t", os.path.basename(sums)], "the checksum file's signature",
        input=setting("SALES_TALLY_MINISIGN_PASSWORD") + "\n")
    run(["minisign", "-V", "-p" if os.path.isfile(pinned) else "-P", pinned, "-m", sums, "-x",
         signature], "the checksum file's signature does not verify with "
        "SALES_TALLY_MINISIGN_PUBLIC_KEY, the key users pin")


def release(inputs, config, work):
    """Every step but clearing the folder and moving the files out (main),
    in work; returns the files made, in the order they go out."""
    epoch = int(inputs["epoch"])
    is_signed = signed(inputs)
    published = setting("SALES_TALLY_SIGNATURES_FROM")
    stage = os.path.join(work, "stage")
    run(["cmake", "--install", inputs["build"], "--config", config, "--prefix", stage], "staging")
    for folder, _, files in os.walk(stage):
        for path in [folder] + [os.path.join(folder, name) for name in files]:
            os.utime(path, (epoch, epoch), follow_symlinks=False)
    name = inputs["name"]
    exe = os.path.join(stage, "sales_tally.exe")
    if is_signed and os.path.exists(exe):
        if published:  # the exe of the published zip
            run(["cmake", "-E", "tar", "xf", os.path.join(published, name + ".zip")],
                "the published zip", cwd=work)
        authenticode(exe, os.path.join(work, name, "sales_tally.exe"), inputs)
        os.utime(exe, (epoch, epoch))
    packed = os.path.join(work, "packed")
    for generator in inputs["generators"]:  # a .deb's files go under /usr
        run(["cpack", "--config", os.path.join(inputs["build"], "CPackConfig.cmake"), "-C", config,
             "-G", generator, "-B", packed, "-D", "CPACK_INSTALL_CMAKE_PROJECTS=", "-D",
             "CPACK_INSTALLED_DIRECTORIES=%s;%s" % (stage, "usr" if generator == "DEB" else ".")],
            "cpack")
    # All in work, where the checksum file names them bare.
    packages = [shutil.move(p, work) for p in sorted(glob.glob(os.path.join(packed, "*.*")))]
    if os.path.exists(exe):
        msi = os.path.join(work, name + ".msi")
        make_msi(inputs, stage, msi)
        if is_signed:
            authenticode(msi, os.path.join(published, name + ".msi"), inputs)
        packages.append(msi)

    record = {key: inputs[key] for key in ["commit", "version", "epoch", "preset"]}
    record.update(signed="yes" if is_signed else "no", settings={}, file_texts={})
    for entry in declared():
        value = inputs["settings"][entry["name"]]
        if entry.get("type") == "FILEPATH":  # where it lies does not reach the packages
            with open(value or os.devnull, "rb") as text:
                record["file_texts"][entry["name"]] = text.read().decode()
        else:
            record["settings"][entry["name"]] = value
    made = [os.path.join(work, name + ".release.json")]
    with open(made[0], "w") as written:
        json.dump(record, written, indent=2, sort_keys=True)
        written.write("\n")
    for package in packages:
        extension = os.path.splitext(package)[1]  # .gz: a .tar.gz takes the build's tools alone
        made_with = inputs["build_tools"] + PACKAGE_TOOLS.get(extension, []) + (
            SIGNING_TOOLS.get(extension, []) if is_signed else [])
        write_bill(package + ".cdx.json", package, made_with, inputs, stage)
        made += [package, package + ".cdx.json"]
    sums = os.path.join(work, name + ".SHA256SUMS")
    with open(sums, "w") as written:
        written.write(run(["sha256sum"] + sorted(os.path.basename(p) for p in made),
                          "the checksum file", cwd=work))
    made.append(sums)
    if is_signed:
        minisign(sums, published)
        made.append(sums + ".minisig")
    return made


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build")
    parser.add_argument("--config", default="Release")
    parser.add_argument("--out")
    parser.add_argument("--set", action="append", default=[])
    options = parser.parse_args()
    inputs = inputs_of(options.build)
    for given in options.set:
        key, _, value = given.partition("=")
        (inputs["settings"] if key in inputs["settings"] else inputs)[key] = value
    inputs.update(msi=shown(inputs, "msi"), bill=shown(inputs, "bill"))
    if not inputs["epoch"]:
        sys.exit("release.py: the packages take their time from the last commit or "
                 "SOURCE_DATE_EPOCH: build from a git checkout, or set it, and configure again")
    out = os.path.abspath(options.out or options.build)
    os.makedirs(out, exist_ok=True)
    for pattern in inputs["own"]:
        for earlier in glob.glob(os.path.join(out, pattern)):
            os.remove(earlier)
    os.umask(0o022)
    os.environ.update(TZ="UTC0", SOURCE_DATE_EPOCH=inputs["epoch"])  # a zip records local time
    work = tempfile.mkdtemp(prefix=".release-", dir=out)
    try:
        for path in release(inputs, options.config, work):
            os.replace(path, os.path.join(out, os.path.basename(path)))
            print("release.py: made %s" % os.path.join(out, os.path.basename(path)))
    except Refused as refusal:
        sys.exit("release.py: %s" % refusal)
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
