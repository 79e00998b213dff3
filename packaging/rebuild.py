"""Verifies a published release: builds its commit again, with the settings
and signatures it was published with, and compares SHA256SUMS.

    python3 packaging/rebuild.py PUBLISHED_DIR [--work DIR] [--trust FILE]

PUBLISHED_DIR holds the packages, their bills of materials, SHA256SUMS and
the release's record (PACKAGE.release.json, record.py). Run it from any clone
that has the record's commit; the clone is left as it is: the commit is
checked out and built in DIR (a new temporary folder unless given; one given
again is built in again). A signature that the record says the packages
carry is attached from PUBLISHED_DIR and must verify: against the system's
certificates, or SALES_TALLY_SIGNATURES_CAFILE's when set in the
environment, or --trust's. A signed release's SHA256SUMS must carry the
signature of the signer its record names (vouch.py), verified before
anything is built. Exits 0 only when every file comes out the same, and
then says who vouches for the release: for SHA256SUMS and every signed
file, the signer, its issuer, the authority it chains to with that
certificate's SHA-256 fingerprint, the timestamp authority and the time.
Each refusal says why in its first line.
"""
import argparse
import glob
import hashlib
import json
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "packaging"))
from dpkg import tool_packages, versions  # noqa: E402
from sign import Refused  # noqa: E402
from vouch import describe, verify_sums, vouchers  # noqa: E402


def fail(message):
    sys.exit("rebuild.py: " + message)


def sums(folder):
    """SHA256SUMS of a folder, {name: digest}."""
    path = os.path.join(folder, "SHA256SUMS")
    if not os.path.exists(path):
        fail("%s has no SHA256SUMS" % folder)
    with open(path) as lines:
        return {name.strip(): digest for digest, _, name in
                (line.partition("  ") for line in lines)}


def digest(path):
    with open(path, "rb") as data:
        return hashlib.sha256(data.read()).hexdigest()


def run(command, **options):
    print("+", " ".join(command), flush=True)
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **options)
    if done.returncode != 0:
        fail("%s gave status %d:\n%s" % (" ".join(command), done.returncode,
                                         done.stdout.decode(errors="replace")[-6000:]))


def other_tools(record):
    """Each tool whose version here is not the record's, in words."""
    packages = tool_packages(record["tools"])
    try:
        here = versions(packages)
    except subprocess.CalledProcessError:
        here = {}
    return ["%s %s here, %s in the release" % (package, here.get(package, ("not installed",))[0],
                                               version)
            for package, version in sorted(packages.items())
            if here.get(package, ("not installed",))[0] != version]


def who_vouches(published, record, trust):
    """Who signed SHA256SUMS, and so every file it lists, and each signed
    Windows file, verified against trust: a line each."""
    with tempfile.TemporaryDirectory() as scratch:
        found = [verify_sums(published, trust, record["settings"].get("SALES_TALLY_SIGNER"))]
        for name in sorted(os.listdir(published)):
            if name.endswith(".zip"):
                subprocess.run(["cmake", "-E", "tar", "xf", os.path.join(published, name)],
                               cwd=scratch, check=True)
                for exe in glob.glob(os.path.join(scratch, "*", "*.exe")):
                    found.append(dict(vouchers(exe, trust), file="%s in %s" % (
                        os.path.basename(exe), name)))
            elif name.endswith(".msi"):
                found.append(vouchers(os.path.join(published, name), trust))
    return [describe(voucher, trust) for voucher in found]


def checkout(commit, source):
    """The commit in a clone of this one, made once and fetched into after."""
    if os.path.isdir(os.path.join(source, ".git")):
        run(["git", "-C", source, "fetch", "-q", "--tags", ROOT, "+refs/heads/*:refs/remotes/origin/*"])
    else:
        run(["git", "clone", "-q", "--no-checkout", ROOT, source])
    if subprocess.run(["git", "-C", source, "cat-file", "-e", commit + "^{commit}"],
                      capture_output=True).returncode != 0:
        fail("this clone has no commit %s: fetch it (the release's tag), then run again" % commit)
    run(["git", "-C", source, "checkout", "-q", "--force", "--detach", commit])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("published")
    parser.add_argument("--work", help="where to build; a new temporary folder if not given")
    parser.add_argument("--trust", help="the authorities to trust, a PEM file; else "
                        "SALES_TALLY_SIGNATURES_CAFILE, else the system's")
    options = parser.parse_args()
    published = os.path.abspath(options.published)
    trust = options.trust or os.environ.get("SALES_TALLY_SIGNATURES_CAFILE", "")

    listed = sums(published)
    altered = sorted(name for name, value in listed.items()
                     if not os.path.exists(os.path.join(published, name))
                     or digest(os.path.join(published, name)) != value)
    if altered:
        fail("not what its SHA256SUMS says: " + ", ".join(altered))
    records = [name for name in listed if name.endswith(".release.json")]
    if len(records) != 1:
        fail("SHA256SUMS lists not one record (PACKAGE.release.json), but %s" % records)
    with open(os.path.join(published, records[0])) as text:
        record = json.load(text)
    if not record.get("commit"):
        fail("the record names no commit: the release was not built from a git checkout")
    # Who vouches comes first: an untrusted signer, or SHA256SUMS changed
    # after signing, is refused before anything is built.
    vouched = []
    if record["signed"] == "yes":
        try:
            vouched = who_vouches(published, record, trust)
        except Refused as refusal:
            fail(str(refusal))
    tools = other_tools(record)
    for tool in tools:
        print("warning: the bytes may differ: " + tool, flush=True)

    work = os.path.abspath(options.work or tempfile.mkdtemp(prefix="sales_tally-rebuild-"))
    source, build, packages = (os.path.join(work, name) for name in ["source", "build", "packages"])
    print("rebuilding %s %s in %s" % (records[0], record["commit"], work), flush=True)
    checkout(record["commit"], source)

    env = {name: value for name, value in os.environ.items()
           if not name.startswith("SALES_TALLY_SIGN") and name != "SOURCE_DATE_EPOCH"}
    if record["epoch_from"] == "SOURCE_DATE_EPOCH":
        env["SOURCE_DATE_EPOCH"] = record["epoch"]
    settings = dict(record["settings"])
    for name, text in record.get("file_texts", {}).items():
        settings[name] = ""
        if text:
            settings[name] = os.path.join(work, name)
            with open(settings[name], "wb") as written:
                written.write(text.encode())
    run(["cmake", "--preset", record["preset"], "-B", build, "-DBUILD_TESTING=OFF"]
        + ["-D%s=%s" % item for item in sorted(settings.items())], cwd=source, env=env)
    # Every setting the release was made with, the rebuild has.
    with open(os.path.join(build, "CMakeCache.txt")) as cache:
        cached = dict(re.findall(r"^(SALES_TALLY_\w+):\w+=(.*)$", cache.read(), re.M))
    for name, value in sorted(record["settings"].items()):
        if cached.get(name) != value:
            fail("the rebuild's %s is %r, the record's %r" % (name, cached.get(name), value))
    run(["cmake", "--build", build, "--config", "Release"], env=env)
    if record["signed"] == "yes":
        env["SALES_TALLY_SIGNATURES_FROM"] = published
        if trust:
            env["SALES_TALLY_SIGNATURES_CAFILE"] = trust
    print("+ cpack", flush=True)
    done = subprocess.run(["cpack", "--config", os.path.join(build, "CPackConfig.cmake"), "-B",
                           packages], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env)
    said = done.stdout.decode(errors="replace")
    if done.returncode and "could not give" in said:
        # The published signature fits only the bytes it signed.
        fail("the record's commit and settings do not give the published packages: a published "
             "signature does not fit the file they give%s\n%s"
             % ("; " + "; ".join(tools) if tools else "", said[-4000:]))
    if done.returncode:
        fail("cpack gave status %d:\n%s" % (done.returncode, said[-6000:]))

    rebuilt = sums(packages)
    differ = sorted(name for name in set(listed) | set(rebuilt) if listed.get(name) != rebuilt.get(name))
    for name in differ:
        print("differs: %s (published %s, rebuilt %s)"
              % (name, listed.get(name, "none"), rebuilt.get(name, "none")))
    if differ:
        fail("the record's commit and settings do not give the published packages: %d of their "
             "files differ (%s)%s; diffoscope shows where: %s"
             % (len(differ), ", ".join(differ), "; " + "; ".join(tools) if tools else "",
                packages))
    print("the same: all %d files of SHA256SUMS, rebuilt in %s" % (len(listed), packages))
    if vouched:
        print("who vouches, verified against %s:" % (trust or "the system's authorities"))
        for line in vouched:
            print("  " + line)
    else:
        print("who vouches: nobody, the release is not signed; SHA256SUMS is only as good as "
              "whoever serves it")


main()
