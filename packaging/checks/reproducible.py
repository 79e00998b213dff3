"""release.reproducible: packaging/rebuild.py, as anyone verifies a published
release, on the build's own packages: its commit built again in another
folder, time zone and umask (027), with the settings and signatures the record names,
gives the same SHA256SUMS; first, the record carries every release setting
(settings.json) as the build has it. It ends by saying who vouches; a signed release's
SHA256SUMS signer, authority fingerprint and timestamp must be among it. It
must refuse, each with its reason first, a copy with one byte of the zip
changed, and one whose record names another commit (made to agree with its
SHA256SUMS as whoever altered it would); signed, one whose SHA256SUMS was
made to agree with a changed zip after signing, and the release itself
when the signer's authority is not among those trusted. Skipped (77) on a tree with
uncommitted changes, which a clone lacks; failed on a build configured
before the last commit."""
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys

from common import ROOT, SKIPPED, expect, main, run

REBUILD = os.path.join(ROOT, "packaging", "rebuild.py")


def check(release):
    carries_every_setting(release)

    def git(*args):
        return run(["git", "-C", ROOT] + list(args)).decode()

    if subprocess.run(["git", "-C", ROOT, "rev-parse"], capture_output=True).returncode != 0:
        print("not a git checkout: nothing to compare with; skipped")
        sys.exit(SKIPPED)
    changes = git("status", "--porcelain")
    if changes:
        print("the work tree has uncommitted changes, which a clone of HEAD lacks; "
              "skipped:\n" + changes)
        sys.exit(SKIPPED)
    expect(release.cache("CMAKE_HOME_DIRECTORY") == ROOT, "the build is not of this source tree")
    expect(release.cpack_setting("CPACK_SALES_TALLY_EPOCH") == git("log", "-1", "--format=%ct").strip(),
           "the build was configured before the last commit: configure it again")
    env = dict(os.environ, TZ="Asia/Tokyo")
    cafile = release.cache("SALES_TALLY_SIGNATURES_CAFILE", missing="")
    if cafile:
        env["SALES_TALLY_SIGNATURES_CAFILE"] = cafile
    # One work folder for all three: the second and third rebuild in it again.
    work = os.path.join(release.scratch, "work")

    def rebuild(published, trust=cafile):
        done = subprocess.run([sys.executable, REBUILD, published, "--work", work],
                              env=dict(env, SALES_TALLY_SIGNATURES_CAFILE=trust),
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, umask=0o027)
        return done.returncode, done.stdout.decode(errors="replace")

    status, said = rebuild(release.build)
    expect(status == 0, "the release does not come out the same when rebuilt:\n" + said[-4000:])
    signed = release.cache("SALES_TALLY_SIGN_CERT", missing="") != ""
    vouched = said[said.find("who vouches"):]
    expect(not signed or re.search(r"SHA256SUMS: signed by .*SHA-256 [0-9A-F:]{95}\).*"
                                   r"timestamped by", vouched),
           "rebuild.py does not say who vouches for SHA256SUMS:\n" + vouched)
    print(vouched)

    with open(release.the_one(".release.json")) as text:
        built = json.load(text)["commit"]
    parent = git("rev-list", "--max-count=1", "--skip=1", built).strip()
    # Each refused with its reason first.
    cases = [("a-byte-of-the-zip", flip_a_zip_byte, "not what its SHA256SUMS says"),
             ("another-commit", lambda files: name_commit(files, parent),
              "changed after it was signed" if signed else "do not give the published packages")]
    if signed:
        cases += [("sums-changed-after-signing", lambda files: agree(files, flip_a_zip_byte(files)),
                   "changed after it was signed"),
                  ("authority-not-trusted", lambda files: None, "does not trust")]
    for name, alter, reason in cases:
        if name == "another-commit" and not parent:
            print("HEAD has no parent: no other commit to name")
            continue
        copy = published_copy(release, name)
        alter(copy)
        # Trusted: the timestamp authority only, not the signer's.
        status, said = rebuild(copy, trust=timestamp_authority(release) if name.startswith(
            "authority") else cafile)
        refusal = said[said.rfind("rebuild.py: "):].split("\n")[0]
        expect(status != 0 and reason in refusal, "rebuild.py gives %s status %d and %r first, "
               "not %r:\n%s" % (name, status, refusal, reason, said[-2000:]))
        print("%s: refused, %s" % (name, refusal))


def carries_every_setting(release):
    """The record carries every declared release setting as the build has it:
    one it left out would come back as its default in a rebuild."""
    with open(os.path.join(ROOT, "packaging", "settings.json")) as text:
        declared = json.load(text)
    with open(release.the_one(".release.json")) as text:
        record = json.load(text)
    for entry in declared:
        name, value = entry["name"], release.cache(entry["name"])
        if entry.get("type") == "FILEPATH":
            carried = record.get("file_texts", {}).get(name)
            with open(value or os.devnull, "rb") as text:
                value = text.read().decode()
        else:
            carried = record["settings"].get(name)
        expect(carried == value, "the record does not carry the release setting %s as the build "
               "has it (%r), but %r: a rebuild would not give the same packages"
               % (name, value, carried))


def published_copy(release, name):
    """What SHA256SUMS lists of the build, copied as it would be published,
    with SHA256SUMS and its signature."""
    copy = os.path.join(release.scratch, name)
    os.makedirs(copy)
    with open(os.path.join(release.build, "SHA256SUMS")) as sums:
        for line in sums:
            shutil.copy2(os.path.join(release.build, line.split("  ", 1)[1].strip()), copy)
    for beside in ["SHA256SUMS", "SHA256SUMS.p7s", "SHA256SUMS.p7s.tsr", "AUTHORITY.pem"]:
        if os.path.exists(os.path.join(release.build, beside)):
            shutil.copy2(os.path.join(release.build, beside), copy)
    return copy


def listed(copy, suffix):
    found = [n for n in os.listdir(copy) if n.endswith(suffix)]
    expect(len(found) == 1, "not one %s in %s" % (suffix, copy))
    return os.path.join(copy, found[0])


def agree(copy, path):
    """SHA256SUMS made to vouch for the altered file."""
    sums = os.path.join(copy, "SHA256SUMS")
    name = os.path.basename(path)
    with open(path, "rb") as data:
        value = hashlib.sha256(data.read()).hexdigest()
    with open(sums) as lines:
        text = "".join(value + "  " + name + "\n" if line.endswith("  %s\n" % name) else line
                       for line in lines)
    with open(sums, "w") as out:
        out.write(text)


def timestamp_authority(release):
    """A bundle of the build's trusted authorities without the signer's."""
    bundle = os.path.join(release.scratch, "timestamps-only.pem")
    with open(release.cache("SALES_TALLY_SIGNATURES_CAFILE")) as text:
        blocks = re.findall(r"-----BEGIN CERTIFICATE-----.*?-----END CERTIFICATE-----\n",
                            text.read(), re.S)
    with open(os.path.join(release.build, "AUTHORITY.pem")) as text:
        signers = text.read()
    with open(bundle, "w") as out:
        out.writelines(block for block in blocks if block not in signers)
    return bundle


def flip_a_zip_byte(copy):
    # Only the zip: its SHA256SUMS no longer agrees.
    zipped = listed(copy, ".zip") if any(n.endswith(".zip") for n in os.listdir(copy)) \
        else listed(copy, ".tar.gz")
    with open(zipped, "r+b") as data:
        data.seek(os.path.getsize(zipped) // 2)
        byte = data.read(1)
        data.seek(-1, 1)
        data.write(bytes([byte[0] ^ 1]))
    return zipped


def name_commit(copy, commit):
    record = listed(copy, ".release.json")
    with open(record) as text:
        fields = json.load(text)
    fields["commit"] = commit
    with open(record, "w") as out:
        json.dump(fields, out, indent=2, sort_keys=True)
        out.write("\n")
    agree(copy, record)


if __name__ == "__main__":
    main(check)
