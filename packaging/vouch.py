"""Who vouches for a release as a whole: SHA256SUMS signed by the release's
signer, and what a published release's signatures say of who that is.

    python3 vouch.py SHA256SUMS RECORD

Run by Checksums.cmake once SHA256SUMS is written, when the release is
signed (sign.py's settings). Beside SHA256SUMS it writes SHA256SUMS.p7s, a
detached CMS signature (DER) with the certificate and key that sign the
packages; SHA256SUMS.p7s.tsr, an RFC 3161 timestamp of that signature from
the first timestamp server that answers, so that it verifies after the
certificate expires; and AUTHORITY.pem, the certificates the signer's
chains to in SALES_TALLY_SIGNATURES_CAFILE, whose fingerprint IT can pin.
With SALES_TALLY_SIGNATURES_FROM, the published three are taken instead,
and must verify for the SHA256SUMS made here. rebuild.py asks vouchers()
who signed each file of a published release.
"""
import datetime
import os
import re
import shutil
import subprocess
import sys
import tempfile
import urllib.request

from sign import (Refused, osslsigncode, refuse_unready, refusing, secret_file, servers, setting,
                  timeout, untimestamped)
from sign import subject as sign_subject

SIGNED = ["SHA256SUMS.p7s", "SHA256SUMS.p7s.tsr", "AUTHORITY.pem"]
SYSTEM = "/etc/ssl/certs/ca-certificates.crt"


def openssl(*arguments, check=True, given=None):
    done = subprocess.run(["openssl"] + list(arguments), input=given, capture_output=True,
                          text=True, timeout=timeout())
    if check and done.returncode:
        raise Refused("openssl %s: %s" % (arguments[0], (done.stderr or done.stdout).strip()))
    return done


def certificates(bundle):
    """The certificates of a PEM bundle: (PEM, subject, issuer, SHA-256 fingerprint)."""
    with open(bundle) as text:
        blocks = re.findall(r"-----BEGIN CERTIFICATE-----.*?-----END CERTIFICATE-----\n?",
                            text.read(), re.S)
    found = []
    for block in blocks:
        said = openssl("x509", "-noout", "-subject", "-issuer", "-fingerprint", "-sha256",
                       "-nameopt", "compat", given=block).stdout
        fields = dict(line.split("=", 1) for line in said.splitlines())
        found.append((block, fields["subject"], fields["issuer"],
                      fields.get("sha256 Fingerprint", fields.get("SHA256 Fingerprint"))))
    return found


def chain(issuer, bundle):
    """The certificates from the one named issuer up to the root, from the
    bundle: [(PEM, subject, fingerprint)]."""
    known = {subject: (pem, parent, print_) for pem, subject, parent, print_ in certificates(bundle)}
    found = []
    while issuer in known and all(issuer != s for _, s, _ in found):
        pem, parent, print_ = known[issuer]
        found.append((pem, issuer, print_))
        issuer = parent
    return found


def trusted(trust):
    """What the certificates verify against: the file given, else the system's."""
    return trust or SYSTEM


def gmt(text):
    """A time as OpenSSL and osslsigncode write it, "Dec  9 16:05:32 2026 GMT"."""
    return datetime.datetime.strptime(text.strip(), "%b %d %H:%M:%S %Y GMT").replace(
        tzinfo=datetime.timezone.utc)


def stamped(tsr):
    """When a timestamp says, and which authority says it."""
    said = openssl("ts", "-reply", "-in", tsr, "-text").stdout
    return (gmt(re.search(r"Time stamp: (.*)", said).group(1)),
            re.search(r"TSA: (?:DirName:)?(.*)", said).group(1).strip())


def verify_sums(folder, trust, signer=None):
    """SHA256SUMS, its signature and the signature's timestamp in folder,
    verified against trust (a file, or the system's); returns who signed it
    and when. Each refusal's first line says why."""
    sums, p7s, tsr = (os.path.join(folder, name) for name in ["SHA256SUMS"] + SIGNED[:2])
    if not os.path.exists(p7s):
        raise Refused("SHA256SUMS is not signed: %s has no SHA256SUMS.p7s" % folder)
    with tempfile.TemporaryDirectory() as scratch:
        signer_pem = os.path.join(scratch, "signer.pem")
        content = openssl("cms", "-verify", "-binary", "-inform", "DER", "-in", p7s, "-content",
                          sums, "-noverify", "-signer", signer_pem, "-out", os.devnull, check=False)
        if content.returncode:
            raise Refused("SHA256SUMS is not what its signature says: it was changed after it was "
                          "signed (%s)" % content.stderr.strip().splitlines()[-1])
        _, subject, issuer, _ = certificates(signer_pem)[0]
        named = sign_subject(signer_pem)
        if signer is not None and named != signer:
            raise Refused("SHA256SUMS is signed by %s, not by the release's signer %s"
                          % (named, signer))
        when, stamped_by = None, None
        attime = []
        if os.path.exists(tsr):
            stamp = openssl("ts", "-verify", "-data", p7s, "-in", tsr, "-CAfile", trusted(trust),
                            check=False)
            if stamp.returncode:
                raise Refused("the timestamp of SHA256SUMS.p7s does not verify against %s: %s"
                              % (trusted(trust), stamp.stdout.strip() or stamp.stderr.strip()))
            when, stamped_by = stamped(tsr)
            attime = ["-attime", str(int(when.timestamp()))]
        chained = openssl("cms", "-verify", "-binary", "-inform", "DER", "-in", p7s, "-content",
                          sums, "-CAfile", trusted(trust), "-purpose", "any", "-out", os.devnull,
                          *attime, check=False)
        if chained.returncode:
            raise Refused("SHA256SUMS is signed by %s, issued by %s, which %s does not trust: "
                          "give the authority you trust with SALES_TALLY_SIGNATURES_CAFILE (or "
                          "rebuild.py --trust FILE); the release publishes its own as AUTHORITY.pem"
                          % (subject, issuer, trusted(trust)))
    return {"file": "SHA256SUMS", "signer": subject, "issuer": issuer, "time": when,
            "timestamped by": stamped_by}


def vouchers(path, trust):
    """Who signed a Windows file, as osslsigncode verifies it against trust:
    signer, issuer, timestamp authority and time."""
    said, failure = osslsigncode(["verify", "-in", path, "-CAfile", trusted(trust),
                                  "-TSA-CAfile", trusted(trust)], os.devnull)
    if failure or "Signature verification: ok" not in said.splitlines():
        raise Refused("%s is not signed by an authority %s trusts: give the authority you trust "
                      "with SALES_TALLY_SIGNATURES_CAFILE (or rebuild.py --trust FILE) %s"
                      % (os.path.basename(path), trusted(trust), failure or ""))
    signer = re.search(r"Signer's certificate:.*?Subject: (.*?)\n\s*Issuer : (.*?)\n", said, re.S)
    stamp = re.search(r"Timestamp time: (.*)", said)
    authority = re.search(r"Timestamp verified using:.*?Subject: (.*?)\n", said, re.S)
    return {"file": os.path.basename(path), "signer": signer.group(1), "issuer": signer.group(2),
            "time": stamp and gmt(stamp.group(1)),
            "timestamped by": authority and authority.group(1)}


def describe(voucher, trust):
    """A line of who vouches, with the authority the signer chains to and
    that certificate's fingerprint."""
    roots = chain(voucher["issuer"], trusted(trust))
    root = ("%s (SHA-256 %s)" % roots[-1][1:]) if roots else "an authority of the system's"
    stamped = ("timestamped by %s at %s" % (voucher["timestamped by"],
                                           voucher["time"].strftime("%Y-%m-%d %H:%M:%S UTC"))
               if voucher["time"] else "not timestamped")
    return "%s: signed by %s, issued by %s, chaining to %s; %s" % (
        voucher["file"], voucher["signer"], voucher["issuer"], root, stamped)


def timestamp(p7s):
    """An RFC 3161 timestamp of p7s from the first server that answers."""
    tsr, failures = p7s + ".tsr", []
    with tempfile.TemporaryDirectory() as scratch:
        query = os.path.join(scratch, "q.tsq")
        openssl("ts", "-query", "-data", p7s, "-sha256", "-cert", "-out", query)
        with open(query, "rb") as asked:
            data = asked.read()
        for server in servers():
            request = urllib.request.Request(server, data=data, headers={
                "Content-Type": "application/timestamp-query"})
            try:
                with urllib.request.urlopen(request, timeout=timeout()) as answer:
                    reply = answer.read()
            except OSError as error:
                failures.append("%s: %s" % (server, error))
                continue
            with open(tsr, "wb") as kept:
                kept.write(reply)
            return
    raise Refused("no timestamp server answered for SHA256SUMS.p7s:\n" + "\n".join(failures))


def sign_sums(sums, record):
    folder = os.path.dirname(os.path.abspath(sums))
    for name in SIGNED:
        if os.path.exists(os.path.join(folder, name)):
            os.remove(os.path.join(folder, name))
    published = setting("SALES_TALLY_SIGNATURES_FROM")
    if published:
        for name in SIGNED:
            if os.path.exists(os.path.join(published, name)):
                shutil.copyfile(os.path.join(published, name), os.path.join(folder, name))
        try:
            verify_sums(folder, setting("SALES_TALLY_SIGNATURES_CAFILE"))
        except Refused as refusal:
            # A rebuild that differs: rebuild.py names the files.
            for name in SIGNED:
                if os.path.exists(os.path.join(folder, name)):
                    os.remove(os.path.join(folder, name))
            print("vouch.py: the published signature does not fit this SHA256SUMS: %s" % refusal)
        return
    sign_here(sums, record, folder)


def sign_here(sums, record, folder):
    """SHA256SUMS signed with the packages' certificate and key, timestamped,
    and the authority's certificates beside it."""
    cert, key = setting("SALES_TALLY_SIGN_CERT"), setting("SALES_TALLY_SIGN_KEY")
    refuse_unready(record)
    options = ["-inkey", key]
    env = dict(os.environ)
    if key.startswith("pkcs11:"):
        options = ["-engine", "pkcs11", "-keyform", "engine", "-inkey", key]
        env["PKCS11_MODULE_PATH"] = setting("SALES_TALLY_SIGN_PKCS11_MODULE")
    secret = secret_file(os.path.join(folder, ".SHA256SUMS.pass"))
    if secret:
        options += ["-passin", "file:" + secret]
    try:
        done = subprocess.run(["openssl", "cms", "-sign", "-binary", "-md", "sha256", "-in",
                               sums, "-signer", cert, "-outform", "DER", "-out",
                               sums + ".p7s"] + options, env=env, capture_output=True,
                              text=True, timeout=timeout())
    finally:
        if secret:
            os.remove(secret)
    if done.returncode:
        raise Refused("openssl could not sign SHA256SUMS: %s" % done.stderr.strip())
    if not untimestamped():
        timestamp(sums + ".p7s")
    issuer = certificates(cert)[0][2]
    authority = chain(issuer, trusted(setting("SALES_TALLY_SIGNATURES_CAFILE")))
    with open(os.path.join(folder, "AUTHORITY.pem"), "w") as written:
        written.writelines(pem for pem, _, _ in authority)
    verify_sums(folder, setting("SALES_TALLY_SIGNATURES_CAFILE"))


def main():
    refusing(sign_sums, *sys.argv[1:3])


if __name__ == "__main__":
    main()
