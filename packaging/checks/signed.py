"""release.signed, as packaging/README.md's table of checks gives it: a
throwaway authority (root, intermediate, signer) and a timestamp server of
its own on 127.0.0.1 (timestamp_server.py). A key on a token, and the
published signatures rebuilding the same files: CI's signed release
(.ci/signed-release, release.reproducible)."""
import glob
import os
import re
import shutil
import subprocess

from common import ROOT, expect, main, run, same_bytes, unpack_zip, wrapped
from timestamp_server import timestamp_server

SUBJECT = "/O=Corner Shop/CN=Corner Shop IT"


def authority(folder, password):
    """A root, an intermediate it issued and a code-signing certificate that
    issued, its key under the password, each valid from long ago (the
    throwaway signing's time is the epoch): returns the root, the certificate
    followed by the intermediate (what signing is given), and the key."""
    def issue(name, subject, issuer, extensions, secret=("-nodes",)):
        """NAME.pem and NAME.key in folder, issued by issuer's (None: itself)."""
        stem = os.path.join(folder, name)
        run(["faketime", "2000-01-01", "openssl", "req", "-x509", "-newkey", "rsa:2048", "-days",
             "36500", "-subj", subject, "-keyout", stem + ".key", "-out", stem + ".pem"]
            + list(secret) + (["-CA", issuer + ".pem", "-CAkey", issuer + ".key"] if issuer else [])
            + [option for extension in extensions for option in ["-addext", extension]])
        return stem

    ca = ["basicConstraints=critical,CA:TRUE", "keyUsage=critical,keyCertSign"]
    root = issue("root", "/CN=Corner Shop root", None, ca)
    middle = issue("intermediate", "/CN=Corner Shop code signing", root, ca)
    signer = issue("signer", SUBJECT, middle, ["basicConstraints=CA:FALSE",
                   "keyUsage=critical,digitalSignature", "extendedKeyUsage=codeSigning"],
                   secret=["-passout", "pass:" + password])
    return (root + ".pem", bundle(os.path.join(folder, "chain.pem"), signer + ".pem",
                                  middle + ".pem"), signer + ".key")


def bundle(out, *certificates):
    """The certificates one after the other in one file, out."""
    with open(out, "w") as written:
        for pem in certificates:
            with open(pem) as one:
                written.write(one.read())
    return out


def minisign_keys(folder, name, password):
    """A minisign key pair, the secret one under the password."""
    public, secret = os.path.join(folder, name + ".pub"), os.path.join(folder, name + ".key")
    run(["minisign", "-G", "-f", "-p", public, "-s", secret], input=((password + "\n") * 2).encode())
    return public, secret


def guide_command(version, key):
    """packaging/README.md's command that checks a release, for this one."""
    with open(os.path.join(ROOT, "packaging", "README.md")) as guide:
        command = re.search(r"^(minisign -Vm .*)$", guide.read(), re.M).group(1)
    return command.replace("VERSION", version).replace("KEY", key)


def check(release):
    scratch = release.scratch
    secret = "throwaway-1234"
    root, chain, key = authority(scratch, secret)
    public, minisign_key = minisign_keys(scratch, "minisign", secret)
    other_public, other_secret = minisign_keys(scratch, "other", secret)
    # Every osslsigncode command line is logged on its way to the real one.
    log = os.path.join(scratch, "command-lines.log")
    path = wrapped(scratch, "osslsigncode", 'echo "$@" >>"%s"\nexec REAL "$@"' % log)
    # A signed release names a real contact, its license and, as README.txt
    # does, its signer.
    named = ["SALES_TALLY_MAINTAINER=Shop IT <security@shop.test>",
             "SALES_TALLY_URL=https://shop.test/sales_tally",
             "SALES_TALLY_LICENSE=LicenseRef-Shop-Test", "SALES_TALLY_SIGNER=CN=Corner Shop IT, O=Corner Shop"]
    version = release.inputs["version"]
    with timestamp_server(os.path.join(scratch, "tsa")) as tsa:
        roots = bundle(os.path.join(scratch, "roots.pem"), root, tsa.certificate)
        settings = dict(SALES_TALLY_SIGN_CERT=chain, SALES_TALLY_SIGN_KEY=key, PATH=path,
                        SALES_TALLY_SIGN_PASSWORD=secret, SALES_TALLY_SIGNATURES_CAFILE=roots,
                        SALES_TALLY_MINISIGN_KEY=minisign_key, SALES_TALLY_MINISIGN_PASSWORD=secret,
                        SALES_TALLY_MINISIGN_PUBLIC_KEY=public,
                        SALES_TALLY_SIGN_TIMESTAMP_URLS=tsa.url("good"))
        # Past a server that is down and one that hangs, into a folder that
        # holds the other platform's release, which stays.
        signed = os.path.join(scratch, "key-file")
        foreign = beside_the_other_platform(signed, version)
        release.make(signed, dict(settings, SALES_TALLY_SIGN_TIMEOUT="5",
                                  SALES_TALLY_SIGN_TIMESTAMP_URLS=" ".join(
                                      [tsa.dead_url, tsa.silent_url, tsa.url("good")])), named)
        expect_left(signed, foreign, "key-file")
        expect_signed(release, signed, "key-file", root, tsa)
        # The guide's command passes the release, and fails it re-signed by
        # anyone else, whatever else the folder holds.
        pinned = open(public).read().split()[-1]
        run(["sh", "-c", guide_command(version, pinned)], cwd=signed)
        forged = os.path.join(scratch, "forged")
        shutil.copytree(signed, forged)
        sums = glob.glob(os.path.join(forged, "*.SHA256SUMS"))[0]
        run(["minisign", "-S", "-s", other_secret, "-m", sums], input=(secret + "\n").encode())
        shutil.copy(other_public, forged)
        expect(subprocess.run(["sh", "-c", guide_command(version, pinned)], cwd=forged,
                              capture_output=True).returncode != 0,
               "packaging/README.md's command passes a checksum file signed by another key")
        with open(log) as lines:
            logged = lines.read()
        signings = [line for line in logged.splitlines() if line.startswith("sign ")]
        expect(len(signings) == 2 * 3, "osslsigncode was asked to sign %d times, not 6: the exe "
               "once and the .msi once, each past two servers" % len(signings))
        expect(secret not in logged, "the secret is on osslsigncode's command line")
        for name, given, changes, said in [
                ("no-contact", {}, ["SALES_TALLY_MAINTAINER="], "who to report security problems to"),
                ("no-license", {}, ["SALES_TALLY_LICENSE="], "carries its owner's license"),
                ("another-signer", {}, ["SALES_TALLY_SIGNER=CN=Someone"], "as the signer"),
                ("no-timestamp", dict(SALES_TALLY_SIGN_TIMESTAMP_URLS=""), [], "needs a timestamp"),
                ("rogue-authority", dict(SALES_TALLY_SIGN_TIMESTAMP_URLS=tsa.url("rogue")), [],
                 "is not signed by a root"),
                ("no-server-answers", dict(SALES_TALLY_SIGN_TIMESTAMP_URLS=tsa.dead_url), [],
                 "could not sign"),
                ("no-intermediate", dict(SALES_TALLY_SIGN_CERT=chain.replace("chain", "signer")),
                 [], "is not signed by a root"),
                ("another-checksum-key", dict(SALES_TALLY_MINISIGN_PUBLIC_KEY=other_public), [],
                 "does not verify with SALES_TALLY_MINISIGN_PUBLIC_KEY")]:
            # Into a folder with a whole release, and the other platform's.
            out = os.path.join(scratch, name)
            shutil.copytree(signed, out)
            beside_the_other_platform(out, version)
            done = release.make(out, dict(settings, **given), named + changes, must_pass=False)
            refusal = done.stdout[done.stdout.rfind("release.py: "):]
            expect(done.returncode != 0 and said in refusal, "%s: release.py gave status %d "
                   "without %r:\n%s" % (name, done.returncode, said, done.stdout[-2000:]))
            expect_left(out, foreign, name, only=True)


def beside_the_other_platform(folder, version):
    """The Linux release's files in the folder; returns their names."""
    os.makedirs(folder, exist_ok=True)
    names = ["sales-tally_%s_amd64.deb" % version, "sales_tally-%s-Linux.SHA256SUMS" % version]
    for name in names:
        with open(os.path.join(folder, name), "w") as written:
            written.write("the Linux release\n")
    return names


def expect_left(folder, foreign, name, only=False):
    """The other platform's files as they were (and, only, nothing else);
    then gone, so that the folder is the release alone."""
    for other in foreign:
        with open(os.path.join(folder, other)) as text:
            expect(text.read() == "the Linux release\n", "%s: the Linux release's %s was touched"
                   % (name, other))
        os.remove(os.path.join(folder, other))
    expect(not only or not os.listdir(folder), "%s: a failed release left %s"
           % (name, sorted(os.listdir(folder))))


def expect_signed(release, out, name, root, tsa):
    """The exe in the zip and in the .msi the same, both it and the .msi
    verifying against the root alone, timestamp and all."""
    scratch = release.scratch
    zipped = unpack_zip(glob.glob(os.path.join(out, "*.zip"))[0], os.path.join(scratch, name + "-zip"))
    msi = glob.glob(os.path.join(out, "*.msi"))[0]
    installed = os.path.join(scratch, name + "-msi")
    run(["msiextract", "-C", installed, msi])
    exes = [os.path.join(zipped, "sales_tally.exe")] + glob.glob(
        os.path.join(installed, "**", "sales_tally.exe"), recursive=True)
    expect(len(exes) == 2 and same_bytes(*exes), "%s: the zip's and the .msi's exe differ" % name)
    for signed in [exes[0], msi]:
        report = run(["osslsigncode", "verify", "-CAfile", root, "-TSA-CAfile", tsa.certificate,
                      "-in", signed]).decode()
        for line in ["Timestamp Server Signature verification: ok", "Signature verification: ok",
                     "Message digest algorithm: SHA256", "Text description: Sales tally",
                     "URL description: https://shop.test/sales_tally"]:
            expect(line in [said.strip() for said in report.splitlines()],
                   "%s: %s does not verify against the root alone (%r):\n%s"
                   % (name, signed, line, report))


if __name__ == "__main__":
    main(check)
