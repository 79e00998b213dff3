"""Verifies a published release: builds its commit again, with the settings
and signatures it was published with, and compares SHA256SUMS.

    python3 packaging/rebuild.py PUBLISHED_DIR [--work DIR]

PUBLISHED_DIR holds the packages, their bills of materials, SHA256SUMS and
the release's record (PACKAGE.release.json, record.py). Run it from any clone
that has the record's commit; the clone is left as it is: the commit is
checked out and built in DIR (a new temporary folder unless given; one given
again is built in again). A signature that the record says the packages
carry is attached from PUBLISHED_DIR and must verify: against the system's
certificates, or SALES_TALLY_SIGNATURES_CAFILE's when set in the
environment. Exits 0 only when every file comes out the same, and otherwise
says which differ.
"""
import argparse
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


def warn_of_other_tools(record):
    packages = tool_packages(record["tools"])
    try:
        here = versions(packages)
    except subprocess.CalledProcessError:
        here = {}
    for package, version in sorted(packages.items()):
        mine = here.get(package, ("not installed",))[0]
        if mine != version:
            print("warning: the release was made with %s %s, this machine has %s: the bytes "
                  "may differ" % (package, version, mine), flush=True)


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
    options = parser.parse_args()
    published = os.path.abspath(options.published)

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
    warn_of_other_tools(record)

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
        if os.environ.get("SALES_TALLY_SIGNATURES_CAFILE"):
            env["SALES_TALLY_SIGNATURES_CAFILE"] = os.environ["SALES_TALLY_SIGNATURES_CAFILE"]
    run(["cpack", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", packages], env=env)

    rebuilt = sums(packages)
    differ = sorted(name for name in set(listed) | set(rebuilt) if listed.get(name) != rebuilt.get(name))
    for name in differ:
        print("differs: %s (published %s, rebuilt %s)"
              % (name, listed.get(name, "none"), rebuilt.get(name, "none")))
    if differ:
        fail("the rebuilt release differs from the published one in %d of its files; "
             "diffoscope shows where: %s" % (len(differ), packages))
    print("the same: all %d files of SHA256SUMS, rebuilt in %s" % (len(listed), packages))


main()
