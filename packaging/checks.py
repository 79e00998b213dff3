"""The release checks: what a release workflow's packages must be, one check
a call, each a CTest test labelled release (Checks.cmake).

    python3 packaging/checks.py CHECK BUILD_DIR [WINE]

deb           the .deb passes lintian; unpacked, its program is hardened and
              tallies a session, and the .tar.gz holds the same program
zip           the zip's files; the exe's mitigations, manifest, version
              resource and icon; README.txt and NOTICES.txt as Windows
              reads them; the exe tallies a session under Wine
msi_lifecycle the .msi dated at the epoch, also when wixl starts late; under
              Wine's msiexec: installed, the day-file example of
              README.txt run from Documents, upgraded, a downgrade refused,
              removed without a trace; then installed into a folder of the
              installer's choosing, which an upgrade keeps
signed        with a timestamp server of its own on 127.0.0.1, signed with a
              throwaway key from a file and from a PKCS#11 token (SoftHSM2):
              the exe is signed once, the signatures and timestamps verify,
              the secret is on no command line, and the published signatures
              rebuild the same packages; a signing that cannot finish stops
              the release, with no SHA256SUMS
reproducible  a clone of HEAD, built in another folder and time zone, gives
              the same packages, a signed build given its signatures;
              skipped (77) on a tree with changes
checksums     SHA256SUMS lists every package, and sha256sum -c accepts it

Each works in BUILD_DIR/release-checks/CHECK, Wine in a prefix of its own
there; nothing outside the build tree changes.
"""
import glob
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

from timestamp_server import TimestampServer

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CASE_IN = os.path.join(ROOT, "tests", "cases", "quantity_asked_again.in")
CASE_OUT = os.path.join(ROOT, "tests", "cases", "quantity_asked_again.out")
SKIPPED = 77


def fail(message):
    sys.exit("%s: %s" % (CHECK, message))


def run(command, **options):
    """Runs a command that must succeed; returns its standard output."""
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **options)
    if done.returncode != 0:
        fail("%s gave status %d:\n%s" % (" ".join(command), done.returncode,
                                        done.stdout.decode(errors="replace")))
    return done.stdout


def cpack_setting(name):
    with open(os.path.join(BUILD, "CPackConfig.cmake")) as config:
        found = re.search(r'set\(%s "([^"]*)"\)' % name, config.read())
    if not found:
        fail("%s is not in the build's CPackConfig.cmake" % name)
    return found.group(1)


def packages():
    """This version's packages in the build folder, by name: an older
    version's may lie beside them."""
    version = re.escape(cpack_setting("CPACK_PACKAGE_VERSION"))
    return sorted(name for name in os.listdir(BUILD)
                  if re.search(r"[-_]%s[-_].*\.(deb|tar\.gz|zip|msi)$" % version, name))


def the_one(extension):
    found = [os.path.join(BUILD, name) for name in packages() if name.endswith(extension)]
    if len(found) != 1:
        fail("not exactly one %s of this version in %s: %s" % (extension, BUILD, found))
    return found[0]


def expect_session(output, crlf=False):
    with open(CASE_OUT, "rb") as case:
        expected = case.read()
    if crlf:
        expected = expected.replace(b"\n", b"\r\n")
    if output != expected:
        fail("the session came out as\n%r\nexpected\n%r" % (output, expected))


def session(command, env=None):
    """What the program writes for the case typed at it. Into a file: a Wine
    server that the program starts would hold a pipe open after it ends."""
    with open(CASE_IN, "rb") as typed, tempfile.TemporaryFile() as output:
        done = subprocess.run(command, stdin=typed, stdout=output, stderr=subprocess.DEVNULL,
                              env=env, check=False)
        output.seek(0)
        if done.returncode != 0:
            fail("%s gave status %d" % (" ".join(command), done.returncode))
        return output.read()


def cache(name, missing=None):
    """A setting of the build, as its cache holds it; missing, if given, when
    it holds none."""
    with open(os.path.join(BUILD, "CMakeCache.txt")) as entries:
        for line in entries:
            if line.startswith(name + ":"):
                return line.rstrip("\n").split("=", 1)[1]
    if missing is not None:
        return missing
    fail("%s is not in the build's cache" % name)


class Wine:
    """Wine in a prefix of its own inside the scratch folder, with a home of
    its own there too: a new prefix links its Documents to the home folder."""

    def __init__(self, wine, scratch):
        self.wine = wine
        home = os.path.join(scratch, "home")
        os.makedirs(home)
        self.env = dict(os.environ, WINEPREFIX=os.path.join(scratch, "wine"), WINEDEBUG="-all",
                        HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        self.drive_c = os.path.join(self.env["WINEPREFIX"], "drive_c")
        self.status(["wineboot", "--init"])

    def status(self, args):
        """Runs a Windows program; its exit status, of which Wine keeps the
        low byte, and its output."""
        with tempfile.TemporaryFile() as output:
            done = subprocess.run([self.wine] + args, env=self.env, stdin=subprocess.DEVNULL,
                                  stdout=output, stderr=subprocess.DEVNULL, check=False)
            output.seek(0)
            return done.returncode, output.read()

    def session(self, exe):
        return session([self.wine, exe], env=self.env)

    def run(self, args):
        status, output = self.status(args)
        if status != 0:
            fail("wine %s gave status %d" % (" ".join(args), status))
        return output

    def unix_path(self, windows_path):
        return os.path.join(self.drive_c, *windows_path[3:].rstrip("\\").split("\\"))

    def registry(self, key):
        status, output = self.status(["reg", "query", key, "/s"])
        return output.decode(errors="replace").replace("\r", "") if status == 0 else ""

    def stop(self):
        """Ends the prefix's server, which writes the registry to disk."""
        server = os.path.join(os.path.dirname(self.wine), "wineserver")
        subprocess.run([server, "-k"], env=self.env, check=False)
        subprocess.run([server, "-w"], env=self.env, check=False)


def unpack_zip(zip_file, into):
    """Unpacks a zip into a new folder; returns the one folder it holds."""
    os.makedirs(into)
    run(["cmake", "-E", "tar", "xf", zip_file], cwd=into)
    return os.path.join(into, os.listdir(into)[0])


def check_deb(scratch, _):
    deb = the_one(".deb")
    run(["lintian", "--fail-on", "error,warning", deb])
    root = os.path.join(scratch, "root")
    run(["dpkg-deb", "-x", deb, root])
    program = os.path.join(root, "usr", "bin", "sales_tally")
    # Fortify and control-flow protection cannot pass: see cmake/Hardening.cmake.
    run(["hardening-check", "--nofortify", "--nocfprotection", program])
    expect_session(session([program]))
    for document in ["usr/share/man/man1/sales_tally.1.gz", "usr/share/doc/sales-tally/copyright",
                     "usr/share/doc/sales-tally/changelog.gz"]:
        if not os.path.isfile(os.path.join(root, document)):
            fail("the .deb has no " + document)
    tree = os.path.join(scratch, "tgz")
    os.makedirs(tree)
    run(["tar", "xzf", the_one(".tar.gz"), "-C", tree])
    from_tgz = glob.glob(os.path.join(tree, "*", "bin", "sales_tally"))
    if len(from_tgz) != 1 or not same_bytes(from_tgz[0], program):
        fail("the .tar.gz does not hold the .deb's program: %s" % from_tgz)


def same_bytes(first, second):
    with open(first, "rb") as a, open(second, "rb") as b:
        return a.read() == b.read()


def check_zip(scratch, wine):
    folder = unpack_zip(the_one(".zip"), os.path.join(scratch, "unpacked"))
    files = sorted(os.listdir(folder))
    if files != ["NOTICES.txt", "README.txt", "sales_tally.exe"]:
        fail("the zip's folder holds %s" % files)
    exe = os.path.join(folder, "sales_tally.exe")
    if os.path.getsize(exe) > 1 << 20:
        fail("the exe is over 1 MiB")
    headers = run(["x86_64-w64-mingw32-objdump", "-p", exe]).decode()
    for mitigation in ["DYNAMIC_BASE", "HIGH_ENTROPY_VA", "NX_COMPAT"]:
        if not re.search(r"\b%s\b" % mitigation, headers):
            fail("the exe lacks " + mitigation)
    if b'level="asInvoker"' not in run(["wrestool", "-x", "--raw", "--type=24", exe]):
        fail("the exe's manifest does not run it as the invoker")
    version = run(["wrestool", "-x", "--raw", "--type=16", exe]).decode("utf-16-le", "replace")
    for name, value in [("ProductName", "Sales tally"), ("OriginalFilename", "sales_tally.exe"),
                        ("CompanyName", cache("SALES_TALLY_MAINTAINER").split(" <")[0])]:
        if not re.search(name + "\0+" + re.escape(value) + "\0", version):
            fail("the exe's version resource has no %s %r" % (name, value))
    icon = os.path.join(scratch, "exe.ico")
    with open(icon, "wb") as extracted:
        extracted.write(run(["wrestool", "-x", "--type=14", exe]))
    widths = re.findall(r"--width=(\d+)", run(["icotool", "-l", icon]).decode())
    if widths != ["16", "32", "48", "256"]:
        fail("the exe's icon comes in widths %s" % widths)
    drawn = os.path.join(scratch, "drawn.ico")
    run([sys.executable, os.path.join(ROOT, "packaging", "draw_icon.py"), drawn])
    if not same_bytes(drawn, os.path.join(ROOT, "packaging", "sales_tally.ico")):
        fail("packaging/sales_tally.ico is not what draw_icon.py draws")
    for name in ["README.txt", "NOTICES.txt"]:
        with open(os.path.join(folder, name), "rb") as text:
            lines = text.read().split(b"\n")[:-1]
        if any(not line.endswith(b"\r") for line in lines):
            fail(name + " has a line end that is not CR LF")
        if name == "README.txt" and any(
                re.search(rb"`|^#|\]\(|\*\*|apt-get|Debian|cmake|\.md\b|\.deb", line)
                for line in lines):
            fail(name + " has Markdown, or what is not for Windows")
    with open(os.path.join(folder, "NOTICES.txt"), "rb") as notices:
        if b"winpthreads" in open(exe, "rb").read() and b"winpthreads" not in notices.read():
            fail("the exe links winpthreads, and NOTICES.txt does not give its notice")
    wine = Wine(wine, scratch)
    try:
        expect_session(wine.session(exe), crlf=True)
    finally:
        wine.stop()


def make_msi(scratch, version):
    """The build's .msi made again as another version, into a folder of its
    own: what Windows Installer sees of a newer release. The programs that
    faketime starts start late, as on a busy machine: on a clock that runs,
    their time would no longer be the epoch."""
    config = os.path.join(scratch, "version-%s.cmake" % version)
    with open(config, "w") as wrapper:
        wrapper.write('include("%s/CPackConfig.cmake")\n' % BUILD)
        wrapper.write('set(CPACK_PACKAGE_VERSION "%s")\n' % version)
        wrapper.write('set(CPACK_PACKAGE_FILE_NAME "sales_tally-%s-win64")\n' % version)
    wrappers = os.path.join(scratch, "bin")
    os.makedirs(wrappers)
    with open(os.path.join(wrappers, "faketime"), "w") as slow:
        slow.write('#!/usr/bin/env python3\nimport os, sys\nargs = sys.argv[1:]\n'
                   'at = next(i for i, a in enumerate(args) if not a.startswith("-"))\n'
                   'os.environ["FAKETIME_DONT_RESET"] = "1"\n'
                   'os.execv(%r, [%r] + args[:at + 1] + ["sh", "-c", \'sleep 1.5; exec "$@"\', '
                   '"sh"] + args[at + 1:])\n' % ((shutil.which("faketime"),) * 2))
    os.chmod(os.path.join(wrappers, "faketime"), 0o755)
    out = os.path.join(scratch, version)
    run(["cpack", "--config", config, "-G", "External", "-B", out],
        env=dict(os.environ, PATH=wrappers + os.pathsep + os.environ["PATH"]))
    return glob.glob(os.path.join(out, "*.msi"))[0]


def summary_times(msi):
    """The summary's Created and Last saved (FILETIME, properties 12 and 13),
    in seconds since 1970."""
    stream = run(["msiinfo", "extract", msi, "\x05SummaryInformation"])
    section = struct.unpack_from("<I", stream, 28 + 16)[0]
    count = struct.unpack_from("<I", stream, section + 4)[0]
    times = {}
    for entry in range(count):
        name, offset = struct.unpack_from("<II", stream, section + 8 + 8 * entry)
        if name in (12, 13) and struct.unpack_from("<I", stream, section + offset)[0] == 64:
            filetime = struct.unpack_from("<Q", stream, section + offset + 4)[0]  # VT_FILETIME
            times[name] = (filetime - 116444736000000000) / 1e7
    return times


def check_msi_lifecycle(scratch, wine):
    msi = the_one(".msi")
    version = re.search(r"sales_tally-([0-9.]+)-win64\.msi$", msi).group(1)
    parts = version.split(".")
    newer_version = ".".join(parts[:-1] + [str(int(parts[-1]) + 1)])
    newer_msi = make_msi(scratch, newer_version)
    epoch = float(cpack_setting("CPACK_SALES_TALLY_EPOCH"))
    for made in [msi, newer_msi]:
        expect(summary_times(made) == {12: epoch, 13: epoch},
               "%s was not made at the epoch %d: %s" % (made, epoch, summary_times(made)))
    with open(os.path.join(BUILD, "README.txt"), "rb") as readme:
        readme_txt = readme.read()
    wine = Wine(wine, scratch)
    try:
        lifecycle(wine, msi, version, newer_msi, newer_version, readme_txt)
        installed_elsewhere(wine, msi, newer_msi)
    finally:
        wine.stop()
    leftovers = [line for reg in glob.glob(os.path.join(wine.env["WINEPREFIX"], "*.reg"))
                 for line in open(reg, errors="replace") if re.search("sales.tally", line, re.I)]
    if leftovers:
        fail("registry entries left after removal: %s" % leftovers[:5])


def msiexec(wine, *args):
    return wine.status(["msiexec"] + list(args))[0]


def entries(wine):
    """Programs and Features' entries named Sales tally: key to (version,
    install location)."""
    found, key, values = {}, None, {}
    for line in wine.registry(r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall").split(
            "\n") + ["HKEY_END"]:
        if line.startswith("HKEY"):
            if values.get("DisplayName") == "Sales tally":
                found[key] = (values.get("DisplayVersion"), values.get("InstallLocation"))
            key, values = line, {}
            continue
        field = re.match(r"\s+(\S+)\s+REG_\w+\s+(.*)$", line)
        if field:
            values[field.group(1)] = field.group(2)
    return found


def expect(condition, message):
    if not condition:
        fail(message)


def lifecycle(wine, msi, version, newer_msi, newer_version, readme_txt):
    folder = wine.unix_path(r"C:\Program Files\sales_tally")
    expect(msiexec(wine, "/i", msi, "/qn", "/norestart") == 0, "the install failed")
    expect(sorted(os.listdir(folder)) == ["NOTICES.txt", "README.txt", "sales_tally.exe"],
           "installed: %s" % os.listdir(folder))
    expect(same_bytes(os.path.join(folder, "README.txt"), os.path.join(BUILD, "README.txt")),
           "the installed README.txt is not the build's")
    expect_session(wine.session(os.path.join(folder, "sales_tally.exe")), crlf=True)
    expect(list(entries(wine).values()) == [(version, "C:\\Program Files\\sales_tally\\")],
           "Programs and Features lists %s" % entries(wine))
    # README.txt gives IT the product code to detect and remove it by.
    codes = dict(re.findall(r"(ProductCode|UpgradeCode) +(\{[-0-9A-F]+\})", readme_txt.decode()))
    product_key = list(entries(wine))[0]
    expect(product_key.endswith("\\" + codes.get("ProductCode", "none")),
           "README.txt gives the product code %s, the installed one is %s"
           % (codes.get("ProductCode"), product_key))
    properties = run(["msiinfo", "export", msi, "Property"]).decode()
    expect("UpgradeCode\t" + codes.get("UpgradeCode", "none") in properties,
           "README.txt gives the upgrade code %s, the .msi another" % codes.get("UpgradeCode"))
    shortcuts = glob.glob(os.path.join(wine.drive_c, "**", "Sales tally.lnk"), recursive=True)
    expect(len(shortcuts) == 1, "shortcuts: %s" % shortcuts)
    with open(shortcuts[0], "rb") as link:
        target = link.read()
    # It starts the program in its folder, with the icon; Windows keeps some
    # of these in UTF-16.
    for text in ["C:\\Program Files\\sales_tally\\sales_tally.exe",
                 "C:\\Program Files\\sales_tally\\\0", "sales_tally.ico"]:
        expect(text.encode() in target or text.encode("utf-16-le") in target,
               "the shortcut does not name %r" % text)
    day_file(wine, readme_txt)

    expect(msiexec(wine, "/i", newer_msi, "/qn") == 0, "the upgrade failed")
    expect([v for v, _ in entries(wine).values()] == [newer_version],
           "after the upgrade: %s" % entries(wine))
    # Refused: 1603, a fatal error, of which the exit status keeps the low byte.
    expect(msiexec(wine, "/i", msi, "/qn") == 1603 % 256, "the downgrade was not refused")
    expect([v for v, _ in entries(wine).values()] == [newer_version],
           "after the downgrade: %s" % entries(wine))
    newer_code = re.search(r"ProductCode\t(\S+)",
                           run(["msiinfo", "export", newer_msi, "Property"]).decode()).group(1)
    expect(msiexec(wine, "/x", newer_code, "/qn", "/norestart") == 0,
           "the removal by product code failed")
    expect(not os.path.exists(folder), "the program's folder is left after removal")
    expect(not glob.glob(os.path.join(wine.drive_c, "**", "Sales tally.lnk"), recursive=True),
           "the shortcut is left after removal")
    expect(not entries(wine), "Programs and Features still lists %s" % entries(wine))


def day_file(wine, readme_txt):
    """README.txt's commands for a day's sales from a file, as an operator
    types them in a command prompt, on a file in Documents."""
    text = readme_txt.decode().replace("\r\n", "\n")
    commands = re.search(r"Open a command prompt.*?\n\n((?:    .*\n)+)", text, re.S)
    expect(commands, "README.txt has no commands for a day's sales from a file")
    profile = wine.run(["cmd", "/c", "echo %USERPROFILE%"]).decode().strip()
    documents = os.path.realpath(wine.unix_path(profile + "\\Documents"))
    with open(CASE_IN, "rb") as case, open(os.path.join(documents, "sales.txt"), "wb") as sales:
        sales.write(case.read().replace(b"\n", b"\r\n"))
    batch = os.path.join(wine.drive_c, "day.bat")
    with open(batch, "w", newline="\r\n") as script:
        script.write("@echo off\n" + "".join(line.strip() + "\n"
                                             for line in commands.group(1).splitlines()))
    wine.run(["cmd", "/c", "C:\\day.bat"])
    day = os.path.join(documents, "day.txt")
    expect(os.path.isfile(day), "README.txt's commands wrote no day.txt in Documents")
    with open(day, "rb") as written:
        expect_session(written.read(), crlf=True)
    for made in [batch, day, os.path.join(documents, "sales.txt")]:
        os.remove(made)


def installed_elsewhere(wine, msi, newer_msi):
    """Installed into C:\\Apps\\Tally: an upgrade stays there, and removal
    leaves nothing."""
    chosen = "C:\\Apps\\Tally\\"
    folder = wine.unix_path(chosen)
    default = wine.unix_path(r"C:\Program Files\sales_tally")
    expect(msiexec(wine, "/i", msi, "/qn", "INSTALLDIR=" + chosen) == 0,
           "the install into %s failed" % chosen)
    expect(os.path.isfile(os.path.join(folder, "sales_tally.exe")), "not installed into " + chosen)
    expect(msiexec(wine, "/i", newer_msi, "/qn") == 0, "the upgrade failed")
    expect(os.path.isfile(os.path.join(folder, "sales_tally.exe")) and not os.path.exists(default),
           "the upgrade did not stay in %s" % chosen)
    expect([location for _, location in entries(wine).values()] == [chosen],
           "Programs and Features gives the location as %s" % entries(wine))
    expect(msiexec(wine, "/x", newer_msi, "/qn") == 0, "the removal failed")
    expect(not os.path.exists(folder), "%s is left after removal" % chosen)


def check_signed(scratch, _):
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
    with TimestampServer(os.path.join(scratch, "tsa")) as tsa:
        key_file = dict(SALES_TALLY_SIGN_KEY=key, PATH=path)
        signed = sign(scratch, "key-file", cert, tsa, secret,
                      dict(key_file, SALES_TALLY_SIGN_TIMESTAMP_URLS=tsa.url("good")))
        # The same key on a PKCS#11 token, as a certificate authority issues
        # it; the first timestamp server is down, the second answers.
        sign(scratch, "token", cert, tsa, "5678",
             dict(token(scratch, key, secret, "5678"), PATH=path,
                  SALES_TALLY_SIGN_TIMESTAMP_URLS=tsa.dead_url() + " " + tsa.url("good")))
        with open(log) as lines:
            logged = lines.read()
        # Each release signs its exe once, for the zip and the .msi alike,
        # and the .msi.
        signings = [line for line in logged.splitlines() if line.startswith("sign ")]
        expect(len(signings) == 4, "osslsigncode signed %d files in two releases, not 4"
               % len(signings))
        for hidden in [secret, "5678"]:
            expect(hidden not in logged, "the secret is on osslsigncode's command line")

        # Anyone can rebuild the signed release: with its signatures, the
        # same bytes.
        authorities = os.path.join(scratch, "authorities.pem")
        with open(authorities, "w") as both:
            for pem in [cert, tsa.certificate]:
                with open(pem) as one:
                    both.write(one.read())
        rebuilt = cpack(scratch, "rebuilt", dict(SALES_TALLY_SIGNATURES_FROM=signed,
                                                 SALES_TALLY_SIGNATURES_CAFILE=authorities))
        for name in ["SHA256SUMS"] + sorted(os.listdir(signed)):
            if re.search(r"\.(zip|msi)$|^SHA256SUMS$", name):
                expect(same_bytes(os.path.join(signed, name), os.path.join(rebuilt, name)),
                       "%s differs when rebuilt with the published signatures" % name)

        # A signing that cannot finish stops the release, and SHA256SUMS
        # vouches for none of it.
        for name, settings, said in [
                ("no-timestamp", {}, "needs a timestamp"),
                ("silent-server", dict(SALES_TALLY_SIGN_TIMESTAMP_URLS=tsa.url("silent"),
                                       SALES_TALLY_SIGN_TIMEOUT="5"), "could not sign"),
                ("server-fails-later", dict(SALES_TALLY_SIGN_TIMESTAMP_URLS=tsa.url("once")),
                 "could not sign")]:
            out = os.path.join(scratch, name)
            env = dict(os.environ, SALES_TALLY_SIGN_CERT=cert, SALES_TALLY_SIGN_PASSWORD=secret,
                       **key_file, **settings)
            try:
                done = subprocess.run(["cpack", "--config", os.path.join(BUILD, "CPackConfig.cmake"),
                                       "-B", out], env=env, stdout=subprocess.PIPE,
                                      stderr=subprocess.STDOUT, timeout=120)
            except subprocess.TimeoutExpired:
                fail("%s: cpack did not finish within 120 s" % name)
            said_there = done.stdout.decode(errors="replace")
            expect(done.returncode != 0 and said in said_there,
                   "%s: cpack gave status %d without %r:\n%s"
                   % (name, done.returncode, said, said_there[-2000:]))
            expect(not os.path.exists(os.path.join(out, "SHA256SUMS")),
                   "%s: SHA256SUMS vouches for a release that failed" % name)


def cpack(scratch, name, settings):
    """The build's Windows packages, made into a folder of their own."""
    out = os.path.join(scratch, name)
    run(["cpack", "--config", os.path.join(BUILD, "CPackConfig.cmake"), "-B", out],
        env=dict(os.environ, **settings))
    return out


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


def sign(scratch, name, cert, tsa, secret, settings):
    """Signs a release; checks that the exe in the zip and in the .msi is the
    same, and that both it and the .msi verify, timestamp and all."""
    out = cpack(scratch, name, dict(settings, SALES_TALLY_SIGN_CERT=cert,
                                    SALES_TALLY_SIGN_PASSWORD=secret))
    zipped = unpack_zip(glob.glob(os.path.join(out, "*.zip"))[0], os.path.join(scratch, name + "-zip"))
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
                     "Message digest algorithm: SHA256"]:
            expect(line in report.splitlines(), "%s: %s does not verify (%r):\n%s"
                   % (name, signed, line, report))
    expect(glob.glob(os.path.join(out, "*.signed-with.txt")),
           "%s: nothing says which osslsigncode signed the release" % name)
    return out


def check_reproducible(scratch, _):
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
    if cache("CMAKE_HOME_DIRECTORY") != ROOT:
        fail("the build is not of this source tree")
    if cpack_setting("CPACK_SALES_TALLY_EPOCH") != git("log", "-1", "--format=%ct").strip():
        fail("the build was configured before the last commit: configure it again")
    preset = os.path.basename(BUILD)
    clone = os.path.join(scratch, "sales_tally")
    run(["git", "clone", "-q", ROOT, clone])
    env = dict(os.environ, TZ="Asia/Tokyo")
    # A signed build is rebuilt as anyone can rebuild it: with its signatures.
    if os.environ.get("SALES_TALLY_SIGN_CERT") or cache("SALES_TALLY_SIGN_CERT", missing=""):
        for name in [n for n in env if n.startswith("SALES_TALLY_SIGN_")]:
            del env[name]
        env["SALES_TALLY_SIGNATURES_FROM"] = BUILD
        print("signed: the clone takes the build's signatures")
    run(["cmake", "--preset", preset, "-DBUILD_TESTING=OFF"], cwd=clone, env=env)
    run(["cmake", "--build", "--preset", preset], cwd=clone, env=env)
    run(["cpack", "--preset", preset], cwd=clone, env=env)
    second = os.path.join(clone, "build", preset)
    for name in packages() + ["SHA256SUMS"]:
        expect(same_bytes(os.path.join(BUILD, name), os.path.join(second, name)),
               "%s differs when built again (diffoscope shows where)" % name)
        print("the same:", name)


def check_checksums(_, __):
    with open(os.path.join(BUILD, "SHA256SUMS")) as sums:
        listed = sorted(line.split("  ", 1)[1].strip() for line in sums)
    expect(listed == packages(), "SHA256SUMS lists %s, the packages are %s" % (listed, packages()))
    run(["sha256sum", "--check", "--strict", "SHA256SUMS"], cwd=BUILD)


def main():
    global CHECK, BUILD
    CHECK, BUILD = sys.argv[1], os.path.abspath(sys.argv[2])
    wine = sys.argv[3] if len(sys.argv) > 3 else None
    scratch = os.path.join(BUILD, "release-checks", CHECK)
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    globals()["check_" + CHECK](scratch, wine)
    print("%s: 1 passed, 0 failed" % CHECK)


main()
