"""release.signed: with a timestamp server of its own on 127.0.0.1
(timestamp_server.py), the release signed with a throwaway certificate from
a key file, and from a PKCS#11 token (SoftHSM2) past a server that is down
and one that hangs: the exe is signed once a release and is the same in the
zip and the .msi; the signatures and their timestamps verify, and carry the
program's name and page; SHA256SUMS is signed and timestamped too, and
verifies against the AUTHORITY.pem beside it; the secret is on no command line; the record says
it is signed; the published signatures rebuild the same packages. A signing
that cannot finish (no timestamp server, one that never answers, one that
fails after the exe, into a folder that held a whole release), one whose
timestamp does not verify (a token for other data, an authority nobody
trusts), and a signed release without a contact, without a
license, or by another signer than README.txt names, each stop the release,
and no SHA256SUMS vouches for it, nor does an earlier run's package
remain. The build's own signing settings play no part: each release here
signs as it says."""
import glob
import json
import os
import re
import shutil
import subprocess
import time

from common import expect, main, run, same_bytes, unpack_zip
from timestamp_server import TimestampServer


def check(release):
    scratch = release.scratch
    cert, key = os.path.join(scratch, "cert.pem"), os.path.join(scratch, "key.pem")
    secret = "throwaway-1234"
    # Valid from long ago: the packages' epoch is the last commit's time.
    run(["faketime", "2000-01-01", "openssl", "req", "-x509", "-newkey", "rsa:2048", "-days",
         "36500", "-subj", "/CN=sales_tally test", "-addext", "extendedKeyUsage=codeSigning",
         "-keyout", key, "-out", cert, "-passout", "pass:" + secret])
    # Every osslsigncode command line is logged on its way to the real one.
    wrappers = os.path.join(scratch, "bin")
    os.makedirs(wrappers)
    log = os.path.join(scratch, "command-lines.log")
    with open(os.path.join(wrappers, "osslsigncode"), "w") as wrapper:
        wrapper.write('#!/bin/sh\necho "$@" >>"%s"\nexec %s "$@"\n'
                      % (log, shutil.which("osslsigncode")))
    os.chmod(os.path.join(wrappers, "osslsigncode"), 0o755)
    path = wrappers + os.pathsep + os.environ["PATH"]
    # A signed release names a real contact, its license and, as README.txt
    # does, its signer; the build's own may have none, or a
    # maintainer's.
    contact = {"CPACK_SALES_TALLY_MAINTAINER": "Shop IT <security@shop.test>",
               "CPACK_SALES_TALLY_URL": "https://shop.test/sales_tally",
               "CPACK_SALES_TALLY_LICENSE": "LicenseRef-Shop-Test",
               "CPACK_SALES_TALLY_SIGNER": "CN=sales_tally test"}
    config = release.config("contact", contact)
    with TimestampServer(os.path.join(scratch, "tsa")) as tsa:
        # What every signature made or attached here must verify against.
        authorities = os.path.join(scratch, "authorities.pem")
        with open(authorities, "w") as both:
            for pem in [cert, tsa.certificate]:
                with open(pem) as one:
                    both.write(one.read())
        key_file = dict(SALES_TALLY_SIGN_KEY=key, PATH=path,
                        SALES_TALLY_SIGNATURES_CAFILE=authorities)
        signed = sign(release, config, "key-file", cert, tsa, secret,
                      dict(key_file, SALES_TALLY_SIGN_TIMESTAMP_URLS=tsa.url("good")))
        # The same key on a PKCS#11 token, as a certificate authority issues
        # it; the first timestamp server is down, the second hangs, the
        # third answers.
        sign(release, config, "token", cert, tsa, "5678",
             dict(token(scratch, key, secret, "5678"), PATH=path, SALES_TALLY_SIGN_TIMEOUT="5",
                  SALES_TALLY_SIGNATURES_CAFILE=authorities,
                  SALES_TALLY_SIGN_TIMESTAMP_URLS=" ".join(
                      [tsa.dead_url(), tsa.url("silent"), tsa.url("good")])))
        with open(log) as lines:
            logged = lines.read()
        # Each release signs its exe once, for the zip and the .msi alike,
        # and the .msi: in the second, each file past two servers.
        signings = [line for line in logged.splitlines() if line.startswith("sign ")]
        expect(len(signings) == 2 + 2 * 3, "osslsigncode was asked to sign %d times in two "
               "releases, not 8" % len(signings))
        for hidden in [secret, "5678"]:
            expect(hidden not in logged, "the secret is on osslsigncode's command line")

        # Anyone can rebuild the signed release: with its signatures, the
        # same bytes.
        rebuilt = release.cpack("rebuilt", dict(SALES_TALLY_SIGNATURES_FROM=signed, PATH=path,
                                                 SALES_TALLY_SIGNATURES_CAFILE=authorities),
                                config=config)
        for name in ["SHA256SUMS"] + sorted(os.listdir(signed)):
            if re.search(r"\.(zip|msi)$|^SHA256SUMS|^AUTHORITY", name):
                expect(same_bytes(os.path.join(signed, name), os.path.join(rebuilt, name)),
                       "%s differs when rebuilt with the published signatures" % name)

        # A signing that cannot finish, or whose signature does not verify,
        # stops the release, and SHA256SUMS vouches for none of it; nor for
        # one into a folder that held a whole release before.
        no_contact = release.config("no-contact", dict(contact, CPACK_SALES_TALLY_MAINTAINER=""))
        unlicensed = release.config("unlicensed", dict(contact, CPACK_SALES_TALLY_LICENSE=""))
        other_signer = release.config("other-signer", dict(contact,
                                                           CPACK_SALES_TALLY_SIGNER="CN=Someone"))
        good = dict(SALES_TALLY_SIGN_TIMESTAMP_URLS=tsa.url("good"))
        for name, cpack_config, settings, said in [
                ("no-contact", no_contact, good, "who to report security problems to"),
                ("no-license", unlicensed, good, "carries its owner's license"),
                ("another-signer", other_signer, good, "as the signer"),
                ("no-timestamp", config, {}, "needs a timestamp"),
                ("silent-server", config, dict(SALES_TALLY_SIGN_TIMESTAMP_URLS=tsa.url("silent"),
                                       SALES_TALLY_SIGN_TIMEOUT="5"), "could not sign"),
                ("other-data", config, dict(SALES_TALLY_SIGN_TIMESTAMP_URLS=tsa.url("other")),
                 "does not verify"),
                ("rogue-authority", config, dict(SALES_TALLY_SIGN_TIMESTAMP_URLS=tsa.url("rogue")),
                 "does not verify"),
                ("key-file", config, dict(SALES_TALLY_SIGN_TIMESTAMP_URLS=tsa.url("once")),
                 "could not sign")]:
            out = os.path.join(scratch, name)
            started = time.time()
            env = release.cpack_env(dict(key_file, SALES_TALLY_SIGN_CERT=cert,
                                         SALES_TALLY_SIGN_PASSWORD=secret, **settings))
            try:
                done = subprocess.run(["cpack", "--config", cpack_config, "-B", out], env=env,
                                      stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
            except subprocess.TimeoutExpired:
                done = None
            expect(done, "%s: cpack did not finish within 120 s" % name)
            said_there = done.stdout.decode(errors="replace")
            expect(done.returncode != 0 and said in said_there,
                   "%s: cpack gave status %d without %r:\n%s"
                   % (name, done.returncode, said, said_there[-2000:]))
            expect(not os.path.exists(os.path.join(out, "SHA256SUMS")),
                   "%s: SHA256SUMS vouches for a release that failed" % name)
            earlier = [n for n in os.listdir(out) if os.path.isfile(os.path.join(out, n))
                       and os.path.getmtime(os.path.join(out, n)) < started]
            expect(not earlier, "%s: a failed run left an earlier run's %s beside its own"
                   % (name, ", ".join(sorted(earlier))))


def token(scratch, key, secret, pin):
    """The key imported into a new SoftHSM2 token; the settings that sign
    with it."""
    tokens = os.path.join(scratch, "tokens")
    os.makedirs(tokens)
    conf = os.path.join(scratch, "softhsm2.conf")
    with open(conf, "w") as settings:
        settings.write("directories.tokendir = %s\nobjectstore.backend = file\n" % tokens)
    hsm = dict(os.environ, SOFTHSM2_CONF=conf)
    run(["softhsm2-util", "--init-token", "--free", "--label", "sales_tally", "--pin", pin,
         "--so-pin", "87654321"], env=hsm)
    plain_key = os.path.join(scratch, "key.pk8")
    run(["openssl", "pkcs8", "-topk8", "-nocrypt", "-in", key, "-passin", "pass:" + secret,
         "-out", plain_key])
    run(["softhsm2-util", "--import", plain_key, "--token", "sales_tally", "--label", "signing",
         "--id", "01", "--pin", pin], env=hsm)
    os.remove(plain_key)
    module = next((m for m in ["/usr/lib/softhsm/libsofthsm2.so",
                               "/usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so"]
                   if os.path.exists(m)), None)
    expect(module, "no SoftHSM2 module found")
    return dict(SALES_TALLY_SIGN_KEY="pkcs11:token=sales_tally;object=signing;type=private",
                SALES_TALLY_SIGN_PKCS11_MODULE=module, SOFTHSM2_CONF=conf)


def sign(release, config, name, cert, tsa, secret, settings):
    """Signs a release; checks that the exe in the zip and in the .msi is the
    same, and that both it and the .msi verify, timestamp and all."""
    scratch = release.scratch
    out = release.cpack(name, dict(settings, SALES_TALLY_SIGN_CERT=cert,
                                   SALES_TALLY_SIGN_PASSWORD=secret), config=config)
    zipped = unpack_zip(glob.glob(os.path.join(out, "*.zip"))[0],
                        os.path.join(scratch, name + "-zip"))
    msi = glob.glob(os.path.join(out, "*.msi"))[0]
    installed = os.path.join(scratch, name + "-msi")
    run(["msiextract", "-C", installed, msi])
    exes = [os.path.join(zipped, "sales_tally.exe")] + glob.glob(
        os.path.join(installed, "**", "sales_tally.exe"), recursive=True)
    expect(len(exes) == 2 and same_bytes(*exes), "%s: the zip's and the .msi's exe differ" % name)
    for signed in [exes[0], msi]:
        report = run(["osslsigncode", "verify", "-CAfile", cert, "-TSA-CAfile", tsa.certificate,
                      "-in", signed]).decode()
        for line in ["Timestamp Server Signature verification: ok", "Signature verification: ok",
                     "Message digest algorithm: SHA256", "Text description: Sales tally",
                     "URL description: https://shop.test/sales_tally"]:
            expect(line in [said.strip() for said in report.splitlines()],
                   "%s: %s does not verify (%r):\n%s"
                   % (name, signed, line, report))
    # SHA256SUMS is signed by the same signer and timestamped; the commands
    # packaging/README.md gives verify it, against the authority published
    # beside it.
    sums, authority = os.path.join(out, "SHA256SUMS"), os.path.join(out, "AUTHORITY.pem")
    expect(same_bytes(authority, cert), "%s: AUTHORITY.pem is not the signer's authority" % name)
    run(["openssl", "cms", "-verify", "-binary", "-inform", "DER", "-in", sums + ".p7s",
         "-content", sums, "-CAfile", authority, "-purpose", "any", "-out", os.devnull])
    run(["openssl", "ts", "-verify", "-data", sums + ".p7s", "-in", sums + ".p7s.tsr", "-CAfile",
         tsa.certificate])
    with open(glob.glob(os.path.join(out, "*.release.json"))[0]) as record:
        recorded = json.load(record)
    expect(recorded["signed"] == "yes" and "osslsigncode" in recorded["tools"],
           "%s: the release's record does not say it is signed, and with what" % name)
    return out


if __name__ == "__main__":
    main(check)
