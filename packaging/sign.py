"""Signs a Windows file in place with Authenticode (SHA-256), when the builder
has given a code-signing certificate, or attaches the signature of the same
file in a published release; otherwise leaves it as it is. Every signature
is verified as soon as it is made or attached.

    python3 sign.py FILE PUBLISHED RECORD PRODUCT_NAME
    python3 sign.py --subject CERTIFICATE

Run by Sign.cmake for cpack's scripts: the exe before it is packed (once a
release: Staging.cmake), the .msi once it is built (Msi.cmake). PUBLISHED is
the same file in the published release, RECORD the release's record
(record.py), whose settings a signed release must have given (settings.json's
signed_needs). --subject prints the certificate's subject as Windows shows
it ("CN=Corner Shop IT, O=Corner Shop"): the signer README.txt names, which
every signing is held to.

The signing settings, SALES_TALLY_SIGN_* and SALES_TALLY_SIGNATURES_*, are
Release.cmake's cache variables, which say what each means; they come in
the environment (Sign.cmake gives the cache's where it has none). The
timestamp servers are tried in turn, each for as long as a call may take.
The key's passphrase or the token's PIN, a secret, comes from
SALES_TALLY_SIGN_PASSWORD only, and reaches osslsigncode through a file only
the builder can read, never on its command line, where any user's ps would
show it.
"""
import json
import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


class Refused(Exception):
    pass


def setting(name):
    return os.environ.get(name, "")


def timeout():
    return int(setting("SALES_TALLY_SIGN_TIMEOUT") or 120)


def untimestamped():
    return setting("SALES_TALLY_SIGN_UNTIMESTAMPED").upper() in ("ON", "1", "TRUE", "YES", "Y")


def subject(certificate):
    said = subprocess.run(["openssl", "x509", "-in", certificate, "-noout", "-subject", "-nameopt",
                           "RFC2253"], capture_output=True, text=True, check=True).stdout.strip()
    return re.sub(r"(?<!\\),(?=[A-Za-z]+=)", ", ", said.replace("subject=", "", 1))


def explained(status, said, log):
    """What osslsigncode said, as a failure's reason. OpenSSL's error stack is
    mostly the key formats tried in vain: its last line, the reason itself, is
    kept, and all it said goes to the log."""
    with open(log, "a") as kept:
        kept.write(said + "\n")
    errors = re.findall(r"[0-9A-F]+:error:[^\n]*", said)
    reason = re.sub(r"[0-9A-F]+:error:[^\n]*\n?", "", said).strip()
    if errors:
        reason += "\nOpenSSL: " + re.sub(r".*:error:[^:]*:[^:]*:[^:]*:", "", errors[-1])
    return ("(%s; a call may take %d s, SALES_TALLY_SIGN_TIMEOUT):\n%s\nAll it said, OpenSSL's "
            "errors too: %s" % (status, timeout(), reason.strip(), log))


def osslsigncode(arguments, log):
    """Runs osslsigncode; returns what it said, and a failure's reason or None."""
    try:
        done = subprocess.run([shutil.which("osslsigncode") or "osslsigncode"] + arguments,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                              timeout=timeout())
    except subprocess.TimeoutExpired as expired:
        said = (expired.stdout or b"").decode(errors="replace")
        return said, explained("no answer in %d s" % timeout(), said, log)
    return done.stdout, explained(done.returncode, done.stdout, log) if done.returncode else None


def authorities():
    cafile = setting("SALES_TALLY_SIGNATURES_CAFILE")
    return ["-CAfile", cafile, "-TSA-CAfile", cafile] if cafile else []


def verify(path, log):
    """The signature, and its timestamp unless the signing was a throwaway
    one, against the system's certificates or SALES_TALLY_SIGNATURES_CAFILE's.
    osslsigncode says "Succeeded" even for a timestamp that fails, so its
    lines are read."""
    said, failure = osslsigncode(["verify", "-in", path] + authorities(), log)
    required = ["Signature verification: ok"]
    if not untimestamped():
        required.append("Timestamp Server Signature verification: ok")
    lines = said.splitlines()
    for line in required:
        if line not in lines:
            raise Refused("The signature of %s does not verify (no \"%s\") %s"
                          % (path, line, failure or explained(0, said, log)))


def attach(path, published, log):
    signature = path + ".sig"
    _, failure = osslsigncode(["extract-signature", "-in", published, "-out", signature], log)
    if not failure:
        _, failure = osslsigncode(["attach-signature", "-sigin", signature, "-in", path,
                                   "-out", path + ".signed"] + authorities(), log)
    if failure:
        raise Refused("osslsigncode could not give %s the signature of %s %s"
                      % (path, published, failure))
    os.remove(signature)
    signed(path)


def refuse_unready(record):
    """A signed release has each setting that settings.json says it needs, and
    names as its signer the certificate it signs with."""
    with open(os.path.join(HERE, "settings.json")) as text:
        declared = json.load(text)
    with open(record) as text:
        given = json.load(text)["settings"]
    for entry in declared:
        if "signed_needs" in entry and given.get(entry["name"], "") == entry["default"]:
            raise Refused(entry["signed_needs"])
    signer = subject(setting("SALES_TALLY_SIGN_CERT"))
    if signer != given.get("SALES_TALLY_SIGNER"):
        raise Refused("README.txt names \"%s\" as the signer, and the certificate is \"%s\": give "
                      "SALES_TALLY_SIGN_CERT when configuring"
                      % (given.get("SALES_TALLY_SIGNER"), signer))


def signing_options():
    """The options that sign, but for the timestamp server; None when nothing
    is to be signed."""
    cert, key = setting("SALES_TALLY_SIGN_CERT"), setting("SALES_TALLY_SIGN_KEY")
    if not cert and not key:
        return None
    if not cert or not key:
        raise Refused("Signing needs both SALES_TALLY_SIGN_CERT and SALES_TALLY_SIGN_KEY")
    if setting("SALES_TALLY_SIGNATURES_FROM"):
        raise Refused("SALES_TALLY_SIGNATURES_FROM attaches published signatures: give it "
                      "without a certificate and key")
    options = ["-h", "sha256", "-certs", cert, "-key", key]
    if key.startswith("pkcs11:"):
        if not setting("SALES_TALLY_SIGN_PKCS11_MODULE"):
            raise Refused("A PKCS#11 key needs SALES_TALLY_SIGN_PKCS11_MODULE")
        options += ["-pkcs11module", setting("SALES_TALLY_SIGN_PKCS11_MODULE")]
    if untimestamped():
        if "SOURCE_DATE_EPOCH" in os.environ:
            options += ["-time", os.environ["SOURCE_DATE_EPOCH"]]
    elif not servers():
        raise Refused("A signed release needs a timestamp, or its signature dies with the "
                      "certificate: give SALES_TALLY_SIGN_TIMESTAMP_URLS, or "
                      "SALES_TALLY_SIGN_UNTIMESTAMPED=ON for a throwaway signing")
    return options


def secret_file(path):
    """The passphrase or PIN in a file only the builder can read, made so
    before the secret goes in, with no newline after it; None without one."""
    if "SALES_TALLY_SIGN_PASSWORD" not in os.environ:
        return None
    with open(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), "w") as kept:
        kept.write(os.environ["SALES_TALLY_SIGN_PASSWORD"])
    return path


def servers():
    return [url for url in re.split(r"[ ;]+", setting("SALES_TALLY_SIGN_TIMESTAMP_URLS")) if url]


def sign(path, published, record, product):
    log = os.path.join(os.path.dirname(os.path.abspath(record)), "_CPack_Packages",
                       "osslsigncode.log")
    os.makedirs(os.path.dirname(log), exist_ok=True)
    if setting("SALES_TALLY_SIGNATURES_FROM"):
        attach(path, published, log)
        verify(path, log)
        return
    options = signing_options()
    if options is None:
        return
    refuse_unready(record)
    secret = secret_file(path + ".pass")
    if secret:
        options += ["-readpass", secret]
    # What Windows shows at a prompt of the program and its publisher.
    with open(record) as text:
        page = json.load(text)["settings"].get("SALES_TALLY_URL", "")
    options = ["sign"] + options + ["-n", product, "-i", page, "-in", path, "-out", path + ".signed"]
    # Each timestamp server is asked in turn, with a timeout of its own: one
    # that hangs is passed over for the next. A throwaway signing asks none.
    failures = []
    try:
        for server in [None] if untimestamped() else servers():
            if os.path.exists(path + ".signed"):
                os.remove(path + ".signed")
            _, failure = osslsigncode(options + (["-ts", server] if server else []), log)
            if not failure:
                break
            failures.append("with %s %s" % (server, failure))
        else:
            raise Refused("osslsigncode could not sign %s:\n%s" % (path, "\n".join(failures)))
    finally:
        if secret:
            os.remove(secret)
    signed(path)
    verify(path, log)


def signed(path):
    """The signed file in the place of the unsigned one, with its mode:
    osslsigncode's follows the umask, which the zip would keep."""
    shutil.copymode(path, path + ".signed")
    os.replace(path + ".signed", path)


def refusing(work, *arguments):
    """Does the work, or ends the script with the refusal's reason, named
    by the script: cpack shows it above its own error."""
    try:
        work(*arguments)
    except Refused as refusal:
        sys.exit("%s: %s" % (os.path.basename(sys.argv[0]), refusal))


def main():
    if sys.argv[1] == "--subject":
        print(subject(sys.argv[2]))
        return
    refusing(sign, *sys.argv[1:5])


if __name__ == "__main__":
    main()
