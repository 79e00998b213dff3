"""Verifies a published release, and builds it again from its source.

    python3 packaging/rebuild.py PUBLISHED_DIR [--trust KEY] [--roots FILE] [--work DIR]

KEY is the maintainer's minisign public key (RW..., or its .pub file), as
you pinned it from outside the folder; FILE the roots that the Windows files'
signatures must chain to, else the system's. For each checksum file in
PUBLISHED_DIR (NAME.SHA256SUMS, one a platform), in this order, the first
line of a refusal saying which failed:

1. its signature, NAME.SHA256SUMS.minisig, verifies with KEY;
2. every file it lists is as it says;
3. this checkout, clean and at the record's commit (the release's tag),
   built in DIR (a new temporary folder unless given) with the record's
   settings and the published signatures, each verifying against FILE,
   gives the same checksum file.

It then says who vouches. Exits 0 only when all of it holds.
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

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "packaging"))
from release import unsigned_environment  # noqa: E402
from sbom import versions  # noqa: E402


def fail(message):
    sys.exit("rebuild.py: " + message)


def run(command, **options):
    print("+", " ".join(command), flush=True)
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          **options)
    if done.returncode != 0:
        fail("%s gave status %d:\n%s" % (" ".join(command[:3]), done.returncode, done.stdout[-6000:]))
    return done.stdout


def listed(sums):
    with open(sums) as lines:
        return {name.strip(): value for value, _, name in (line.partition("  ") for line in lines)}


def vouched_by_key(sums, trust):
    """The checksum file's signature, with the key pinned."""
    name = os.path.basename(sums)
    if not trust:
        if os.path.exists(sums + ".minisig"):
            fail("%s is signed: give --trust with the maintainer's minisign public key, as you "
                 "pinned it from outside this folder" % name)
        return "%s: not signed, only as good as whoever serves it" % name
    if not os.path.exists(sums + ".minisig"):
        fail("%s is not signed, and you pinned a key: it has no %s.minisig" % (name, name))
    done = subprocess.run(["minisign", "-V", "-p" if os.path.isfile(trust) else "-P", trust, "-m",
                           sums, "-x", sums + ".minisig"], capture_output=True, text=True)
    if done.returncode:  # another key's id, or bytes changed after signing
        fail("%s does not verify with the key you pinned: minisign says %s"
             % (name, " ".join((done.stderr + done.stdout).split())))
    key = trust if not os.path.isfile(trust) else open(trust).read().split()[-1]
    return "%s: signed with the minisign key %s, the one you pinned" % (name, key)


def git(*args):
    return run(["git", "-C", ROOT] + list(args)).strip()


def rebuild(published, sums, record, roots, work, vouching):
    """The record's commit built again, which must give the same files."""
    packages = {}  # the tools' packages, as the bills name them
    for name in listed(sums):
        if name.endswith(".cdx.json"):
            with open(os.path.join(published, name)) as text:
                packages.update((tool["name"], tool["version"]) for tool in
                                json.load(text)["metadata"]["tools"]["components"])
    here = versions(packages)
    other = ["%s %s here, %s in the release" % (p, here.get(p, ("not installed",))[0], v)
             for p, v in sorted(packages.items()) if here.get(p, ("not installed",))[0] != v]
    for tool in other:
        print("warning: the bytes may differ: " + tool, flush=True)

    def differs(why):
        fail("the record's commit and settings do not give the published packages: %s%s"
             % (why, "; " + "; ".join(other) if other else ""))
    build, out = os.path.join(work, "build-" + record["preset"]), os.path.join(work, "packages")
    env = dict(unsigned_environment(), SOURCE_DATE_EPOCH=record["epoch"])
    settings = dict(record["settings"])
    for name, text in record["file_texts"].items():
        settings[name] = os.path.join(work, name) if text else ""
        if text:
            with open(settings[name], "w") as written:
                written.write(text)
    run(["cmake", "--preset", record["preset"], "-B", build, "-DBUILD_TESTING=OFF"]
        + ["-D%s=%s" % item for item in sorted(settings.items())], cwd=ROOT, env=env)
    run(["cmake", "--build", build, "--config", "Release"], env=env)
    if record["signed"] == "yes":
        env.update(SALES_TALLY_SIGNATURES_FROM=published, SALES_TALLY_SIGNATURES_CAFILE=roots or "")
    done = subprocess.run([sys.executable, os.path.join(ROOT, "packaging", "release.py"), build,
                           "--out", out], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, env=env)
    refusal = done.stdout.rsplit("release.py: ", 1)[-1]
    if done.returncode and "could not give" in refusal:
        differs("a published signature does not fit the file they give\n" + refusal)
    if done.returncode:  # its reason first, then all it said
        fail("%s\nrelease.py, rebuilding in %s, said:\n%s" % (refusal, out, done.stdout[-6000:]))
    # Each published Authenticode signature verified against the roots.
    vouching += re.findall(r"^release\.py: (.*: signed by .*)$", done.stdout, re.M)
    was, now = listed(sums), listed(os.path.join(out, os.path.basename(sums)))
    differ = sorted(n for n in set(was) | set(now) if was.get(n) != now.get(n))
    for name in differ:  # where they differ, shown by diffoscope
        if name in was and name in now and shutil.which("diffoscope"):
            subprocess.run(["diffoscope", "--text", "-", "--max-text-report-size", "40000",
                            os.path.join(published, name), os.path.join(out, name)])
    if differ:
        differs("%s differ (rebuilt in %s)" % (", ".join(differ), out))
    print("the same: all %d files of %s, rebuilt in %s" % (len(was), os.path.basename(sums), out))
    print("who vouches:\n  " + "\n  ".join(vouching))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("published")
    parser.add_argument("--trust", help="the maintainer's minisign public key, pinned")
    parser.add_argument("--roots", help="the roots of the Windows signatures, a PEM file")
    parser.add_argument("--work", help="where to build; a new temporary folder if not given")
    options = parser.parse_args()
    published = os.path.abspath(options.published)
    every = sorted(glob.glob(os.path.join(published, "*.SHA256SUMS")))
    if not every:
        fail("%s has no checksum file (NAME.SHA256SUMS)" % published)
    # This checkout as it is before anything is built, in a folder of it too.
    head = git("rev-parse", "HEAD") + (" with changes" if git("status", "--porcelain") else "")
    work = os.path.abspath(options.work or tempfile.mkdtemp(prefix="sales_tally-rebuild-"))
    os.makedirs(work, exist_ok=True)
    for sums in every:
        vouching = [vouched_by_key(sums, options.trust)]
        checked = subprocess.run(["sha256sum", "--check", "--strict", "--quiet", sums],
                                 cwd=published, capture_output=True, text=True)
        if checked.returncode:
            fail("not what %s says: %s" % (os.path.basename(sums), checked.stdout.strip()))
        records = [n for n in listed(sums) if n.endswith(".release.json")]
        if len(records) != 1:
            fail("%s lists not one record (NAME.release.json), but %s" % (sums, records))
        with open(os.path.join(published, records[0])) as text:
            record = json.load(text)
        if record["signed"] == "yes" and not os.path.exists(sums + ".minisig"):
            fail("%s is of a signed release, and its signature, %s.minisig, is gone: it "
                 "vouches for nothing" % (os.path.basename(sums), os.path.basename(sums)))
        if not record.get("commit"):
            fail("the record names no commit: the release was not built from a git checkout")
        if head != record["commit"]:
            fail("the record names the commit %s, and this checkout is %s: check out the "
                 "release's tag, any changes put away, and run its rebuild.py"
                 % (record["commit"], head))
        print("rebuilding %s %s in %s" % (records[0], record["commit"], work), flush=True)
        rebuild(published, sums, record, options.roots, work, vouching)


main()
