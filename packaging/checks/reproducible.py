"""release.reproducible, as packaging/README.md's table of checks gives it.
Skipped (77) outside a clean git checkout; a signed build needs the
environment its maintainer made it in (packaging/README.md)."""
import json
import os
import shutil
import subprocess
import sys

from common import ROOT, SKIPPED, expect, main, run
from release import declared, unsigned_environment
from signed import minisign_keys

REBUILD = os.path.join(ROOT, "packaging", "rebuild.py")


def check(release):
    with open(release.the_one(".release.json")) as text:
        record = json.load(text)
    carries_every_setting(release, record)
    changes = subprocess.run(["git", "-C", ROOT, "status", "--porcelain"], capture_output=True,
                             text=True)
    if changes.returncode or changes.stdout:
        print("not a git checkout, or one with uncommitted changes, which a clone of HEAD "
              "lacks; skipped:\n" + changes.stdout + changes.stderr)
        sys.exit(SKIPPED)
    last_commit = run(["git", "-C", ROOT, "log", "-1", "--format=%ct"]).decode().strip()
    expect(release.inputs["epoch"] == last_commit,
           "the build was configured before the last commit: configure it again")
    varied(release)
    signed = record["signed"] == "yes"
    key = os.environ.get("SALES_TALLY_MINISIGN_PUBLIC_KEY", "")
    expect(key or not signed, "the release is signed: give the key it was signed with, "
           "SALES_TALLY_MINISIGN_PUBLIC_KEY, and the roots, SALES_TALLY_SIGNATURES_CAFILE, in the "
           "environment, as when it was made")
    roots = os.environ.get("SALES_TALLY_SIGNATURES_CAFILE", "")
    # One work folder for all: each rebuilds in it again.
    work = os.path.join(release.scratch, "work")

    def rebuild(published, trust=key):
        done = subprocess.run([sys.executable, REBUILD, published, "--work", work] + (
            ["--trust", trust] if trust and signed else []) + (["--roots", roots] if roots else []),
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        return done.returncode, done.stdout.decode(errors="replace")

    status, said = rebuild(release.build)
    expect(status == 0, "the release does not come out the same when rebuilt:\n" + said[-4000:])
    vouched = said[said.find("who vouches"):]
    expect(not signed or "signed with the minisign key" in vouched and (
        ".msi: signed by" in vouched) == (record["preset"] == "release-windows"),
           "rebuild.py does not say who vouches:\n" + vouched)
    print(vouched)

    cases = [("a-byte-of-a-package", flip_a_byte, "not what"),
             ("another-commit", name_commit,
              "Signature verification failed" if signed else "check out the release's tag")]
    if signed:
        cases += [("signed-by-another-key", signed_again, "but the key id in the public key is"),
                  ("no-key-given", lambda sums: None, "give --trust"),
                  ("signature-removed", lambda sums: os.remove(sums + ".minisig"),
                   "is not signed, and you pinned")]
    for name, alter, reason in cases:
        copy = published_copy(release, name)
        alter(os.path.join(copy, os.path.basename(release.sums())))
        status, said = rebuild(copy, trust=None if name == "no-key-given" else key)
        refusal = said[said.rfind("rebuild.py: "):].split("\n")[0]
        expect(status != 0 and reason in refusal, "rebuild.py gives %s status %d and %r first, "
               "not %r:\n%s" % (name, status, refusal, reason, said[-2000:]))
        print("%s: refused, %s" % (name, refusal))


def varied(release):
    """Built twice by reprotest from a clone of HEAD, unsigned and with the
    default settings, the second time in another folder, time, time zone,
    umask, locale, home, PATH, kernel and number of CPUs. Not varied: the
    user (it needs a second account), the host name (a namespace) and the
    order of files in a folder (disorderfs, a FUSE mount)."""
    source = os.path.join(release.scratch, "varied")
    run(["git", "clone", "-q", ROOT, source])
    preset, own = release.inputs["preset"], release.inputs["own"]
    done = subprocess.run([
        "reprotest", "--vary=-user_group,-domain_host,-fileordering", "--store-dir",
        os.path.join(release.scratch, "varied-out"), "cmake --preset %s -B b -DBUILD_TESTING=OFF "
        "&& cmake --build b && cmake --build b --target packages" % preset,
        " ".join("b/" + pattern for pattern in own)], cwd=source, env=unsigned_environment(),
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    expect(done.returncode == 0, "the release differs when built again in another environment "
           "(reprotest; diffoscope's report in %s):\n%s"
           % (release.scratch, done.stdout.decode(errors="replace")[-4000:]))


def carries_every_setting(release, record):
    """The record carries every declared release setting as the build has it
    (a file's, its text): one it left out would come back as its default in
    a rebuild."""
    carried = dict(record["settings"], **record["file_texts"])
    for entry in declared():
        name, value = entry["name"], release.inputs["settings"][entry["name"]]
        if entry.get("type") == "FILEPATH":
            with open(value or os.devnull, newline="") as text:
                value = text.read()
        expect(carried.get(name) == value, "the record does not carry the release setting %s as "
               "the build has it (%r), but %r: a rebuild would not give the same packages"
               % (name, value, carried.get(name)))


def published_copy(release, name):
    """The build's release files copied as they would be published, the
    checksum file and its signature among them."""
    copy = os.path.join(release.scratch, name)
    os.makedirs(copy)
    for path in [os.path.join(release.build, n) for n in release.packages()] + [
            release.sums(), release.sums() + ".minisig"]:
        if os.path.exists(path):
            shutil.copy2(path, copy)
    return copy


def agree(sums):
    """The checksum file made again, to vouch for the altered files."""
    with open(sums) as lines:
        names = [line.split("  ", 1)[1].strip() for line in lines]
    with open(sums, "wb") as out:
        out.write(run(["sha256sum"] + names, cwd=os.path.dirname(sums)))


def flip_a_byte(sums):
    """A byte in the middle of the zip, or of the .tar.gz, beside the checksum file."""
    stem = sums[:-len(".SHA256SUMS")]
    package = next(p for p in [stem + ".zip", stem + ".tar.gz"] if os.path.exists(p))
    with open(package, "r+b") as data:
        data.seek(os.path.getsize(package) // 2)
        byte = data.read(1)
        data.seek(-1, 1)
        data.write(bytes([byte[0] ^ 1]))


def signed_again(sums):
    """A changed package, its line remade, signed by someone else's key."""
    flip_a_byte(sums)
    agree(sums)
    public, secret = minisign_keys(os.path.dirname(sums), "someone", "pass")
    run(["minisign", "-S", "-s", secret, "-m", sums, "-x", sums + ".minisig"], input=b"pass\n")
    os.remove(public)
    os.remove(secret)


def name_commit(sums):
    """The record naming another commit, its line remade."""
    record = sums.replace(".SHA256SUMS", ".release.json")
    with open(record) as text:
        fields = dict(json.load(text), commit="0" * 40)
    with open(record, "w") as out:
        json.dump(fields, out, indent=2, sort_keys=True)
    agree(sums)


if __name__ == "__main__":
    main(check)
