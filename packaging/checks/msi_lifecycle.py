"""release.msi_lifecycle, as packaging/README.md's table of checks gives it:
the .msi's tables read with msiinfo, then its life under Wine's msiexec,
from an install of the zip's files to its removal without a trace."""
import calendar
import glob
import os
import re
import struct
import time
import uuid

from common import (CASE_IN, Wine, expect, expect_session, install_folder, main, run, same_bytes,
                    unpack_zip, wrapped)
from release import shown as settings_show


def check(release):
    msi = release.the_one(".msi")
    version = re.search(r"sales_tally-([0-9.]+)-win64\.msi$", msi).group(1)
    parts = version.split(".")
    newer_version = ".".join(parts[:-1] + [str(int(parts[-1]) + 1)])
    newer_msi = make_msi(release, newer_version)
    epoch = int(release.inputs["epoch"])
    program = exe_version(os.path.join(release.build, "sales_tally.exe"))
    for made in [msi, newer_msi]:
        expect(summary_times(made) == {"Created": epoch, "Last saved": epoch},
               "%s was not made at the epoch %d: %s" % (made, epoch, summary_times(made)))
        files = run(["msiinfo", "export", made, "File"]).decode()
        expect(re.search(r"^sales_tally\.exe\t[^\t]*\t[^\t]*\t\d+\t%s\t" % re.escape(program), files,
                         re.M), "%s does not give the exe's version %s:\n%s" % (made, program, files))
        # Before InstallInitialize, the older version's removal is outside
        # the transaction: an upgrade that fails then leaves no version at
        # all. Wine does not roll back, so the table is what shows it.
        steps = dict(re.findall(r"^(\w+)\t[^\t]*\t(\d+)\r?$", run(
            ["msiinfo", "export", made, "InstallExecuteSequence"]).decode(), re.M))
        removal, start = (int(steps.get(a, -1)) for a in ["RemoveExistingProducts",
                                                          "InstallInitialize"])
        expect(removal > start >= 0, "%s removes the older version at %d, before "
               "InstallInitialize (%d): a failed upgrade would leave none" % (made, removal, start))
    with open(os.path.join(release.build, "README.txt"), "rb") as readme:
        readme_txt = readme.read()
    wine = Wine(release.wine, release.scratch).start()
    try:
        lifecycle(wine, release, msi, version, newer_msi, newer_version, readme_txt)
        installed_elsewhere(wine, msi, newer_msi)
    finally:
        wine.stop()
    leftovers = [line for reg in glob.glob(os.path.join(wine.prefix, "*.reg"))
                 for line in open(reg, errors="replace") if re.search("sales.tally", line, re.I)]
    expect(not leftovers, "registry entries left after removal: %s" % leftovers[:5])


def make_msi(release, version):
    """The build's release made again as another version, into a folder of its
    own: what Windows Installer sees of a newer release. The programs that
    faketime starts start late, as on a busy machine: on a clock that runs,
    their time would no longer be the epoch."""
    # release.py runs faketime -f TIME PROGRAM...
    slow = wrapped(release.scratch, "faketime", 'option=$1 at=$2; shift 2\nFAKETIME_DONT_RESET=1 '
                   'exec REAL "$option" "$at" sh -c \'sleep 1.5; exec "$@"\' sh "$@"')
    out = os.path.join(release.scratch, version)
    release.make(out, dict(PATH=slow), [
        "version=" + version, "name=sales_tally-%s-win64" % version,
        "product_code=" + str(uuid.uuid4()).upper(), "SALES_TALLY_SIGNER="])
    return glob.glob(os.path.join(out, "*.msi"))[0]


def summary_times(msi):
    """The summary's Created and Last saved, as msiinfo gives them, in
    seconds since 1970."""
    said = run(["msiinfo", "suminfo", msi], env=dict(os.environ, TZ="UTC0")).decode()
    return {name: calendar.timegm(time.strptime(when, "%a %b %d %H:%M:%S %Y"))
            for name, when in re.findall(r"^(Created|Last saved): (.*)$", said, re.M)}


def exe_version(exe):
    """The file version in an exe's VS_FIXEDFILEINFO, as major.minor.patch.build."""
    with open(exe, "rb") as program:
        data = program.read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    expect(at >= 0, "%s has no version resource" % exe)
    high, low = struct.unpack_from("<II", data, at + 8)
    return "%d.%d.%d.%d" % (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)


MSIEXEC_CODES = [0, 1603, 1605, 1618, 1633, 1638, 1641, 3010]


def msiexec_ok(wine, what, *args, status=0):
    """Runs msiexec, which must give this status (Wine keeps its low byte),
    else the step named fails with what msiexec's log says."""
    log_file = os.path.join(wine.drive_c, "msiexec.log")
    if os.path.exists(log_file):
        os.remove(log_file)
    got = wine.status(["msiexec"] + list(args) + ["/l*v", "C:\\msiexec.log"])[0]
    if got == status:
        return
    try:
        with open(log_file, errors="replace") as log:
            lines = log.read().splitlines()
    except OSError:
        lines = []
    # Where it stopped: the last action started, and what failed.
    said = [line for line in lines if re.search(
        r"^Action ended.*Return value [^1]|[Ee]rror|[Ff]ail", line)]
    said += [line for line in lines if line.startswith("Action start")][-1:]
    # Named as msiexec gives it, README.txt's code, not as Wine's low byte.
    code = next((c for c in MSIEXEC_CODES if c % 256 == got), got)
    expect(False, "%s (msiexec %s gave %d); its log says:\n%s" % (
        what, " ".join(args), code, "\n".join(said[-12:]) or "(nothing)"))


def shortcut(wine, name):
    """The one shortcut of that name in the Start menu, its bytes."""
    found = glob.glob(os.path.join(wine.drive_c, "**", name + ".lnk"), recursive=True)
    expect(len(found) == 1, "shortcuts named %s: %s" % (name, found))
    with open(found[0], "rb") as link:
        return link.read()


def entries(wine):
    """Programs and Features' entries named Sales tally: key to (version,
    install location)."""
    found = {}
    for key in re.split(r"\n(?=HKEY)", wine.registry(
            r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall")):
        values = dict(re.findall(r"^[ \t]+(\S+)[ \t]+REG_\w+[ \t]+(.*)$", key, re.M))
        if values.get("DisplayName") == "Sales tally":
            found[key.split("\n")[0]] = (values.get("DisplayVersion"), values.get("InstallLocation"))
    return found


def lifecycle(wine, release, msi, version, newer_msi, newer_version, readme_txt):
    default = install_folder()
    folder = wine.unix_path(default)
    msiexec_ok(wine, "the install failed", "/i", msi, "/qn", "/norestart")
    zipped = unpack_zip(release.the_one(".zip"), os.path.join(release.scratch, "zip"))
    installed, shipped = sorted(os.listdir(folder)), sorted(os.listdir(zipped))
    expect(installed == shipped and all(same_bytes(os.path.join(folder, n), os.path.join(zipped, n))
                                        for n in shipped),
           "installed: %s, not byte for byte the zip's %s" % (installed, shipped))
    expect(same_bytes(os.path.join(folder, "README.txt"),
                      os.path.join(release.build, "README.txt")),
           "the installed README.txt is not the build's")
    with open(CASE_IN, "rb") as typed:
        status, output = wine.status([os.path.join(folder, "sales_tally.exe")], stdin=typed)
    expect(status == 0, "the installed exe gave status %d" % status)
    expect_session(output, crlf=True)
    expect(list(entries(wine).values()) == [(version, default + "\\")],
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
    # Programs and Features' support fields: those the settings give, and no
    # other (settings.json).
    shown = dict(re.findall(r"^(ARP(?:CONTACT|HELP\w*|URL\w*))\t(.*?)\r?$", properties, re.M))
    wanted = settings_show(release.inputs, "msi")
    expect(shown == wanted, "the .msi's support fields are %s, not the settings' %s"
           % (shown, wanted))
    # The program's shortcut starts it in its folder, with the icon; the
    # guide's opens README.txt. Windows keeps some of these in UTF-16.
    for name, texts in [("Sales tally", ["sales_tally.exe", "\0", "sales_tally.ico"]),
                        ("Sales tally guide", ["README.txt"])]:
        target = shortcut(wine, name)
        for text in [t if t.endswith(".ico") else default + "\\" + t for t in texts]:
            expect(text.encode() in target or text.encode("utf-16-le") in target,
                   "the shortcut %s does not name %r" % (name, text))
    day_file(wine, readme_txt)
    # README.txt's repair puts back a file that was deleted.
    repair = re.search(r"msiexec /i \S+\.msi (REINSTALL=\S+ REINSTALLMODE=\S+)", readme_txt.decode())
    expect(repair, "README.txt gives no repair command")
    # msiexec is a windowed program: at a command prompt, %ERRORLEVEL% is its
    # exit code only when start /wait ran it.
    commands = re.findall(r"^ +(.*\bmsiexec .*)$", readme_txt.decode(), re.M)
    expect(commands and all(c.startswith("start /wait msiexec ") for c in commands),
           "README.txt gives msiexec commands without start /wait: %s" % commands)
    os.remove(os.path.join(folder, "sales_tally.exe"))
    msiexec_ok(wine, "the repair failed", "/i", msi, *repair.group(1).split(), "/qn")
    expect(os.path.isfile(os.path.join(folder, "sales_tally.exe")),
           "README.txt's repair did not put the exe back")

    msiexec_ok(wine, "the upgrade failed", "/i", newer_msi, "/qn")
    expect([v for v, _ in entries(wine).values()] == [newer_version],
           "after the upgrade: %s" % entries(wine))
    for name in ["Sales tally", "Sales tally guide"]:
        shortcut(wine, name)
    # Refused: 1603, a fatal error, of which the exit status keeps the low byte.
    msiexec_ok(wine, "the downgrade was not refused", "/i", msi, "/qn", status=1603 % 256)
    expect([v for v, _ in entries(wine).values()] == [newer_version],
           "after the downgrade: %s" % entries(wine))
    newer_code = re.search(r"ProductCode\t(\S+)",
                           run(["msiinfo", "export", newer_msi, "Property"]).decode()).group(1)
    msiexec_ok(wine, "the removal by product code failed", "/x", newer_code, "/qn", "/norestart")
    expect(not os.path.exists(folder), "the program's folder is left after removal")
    expect(not glob.glob(os.path.join(wine.drive_c, "**", "Sales tally*.lnk"), recursive=True),
           "a shortcut is left after removal")
    expect(not entries(wine), "Programs and Features still lists %s" % entries(wine))
    # Removed again: 1605, as README.txt's exit codes say.
    msiexec_ok(wine, "removing a product that is not installed did not give 1605",
               "/x", newer_code, "/qn", "/norestart", status=1605 % 256)


def day_file(wine, readme_txt):
    """README.txt's commands for a day's sales from a file, typed in a
    command prompt on a file in Documents, as far as Wine's cmd runs them:
    the status read right after the program, and no earlier day.txt left
    when sales.txt is missing (what find and findstr show: guides.py)."""
    text = readme_txt.decode().replace("\r\n", "\n")
    # The indented lines right after the paragraph that opens a command prompt.
    block = re.search(r"open a command prompt.*?\n\n((?:    [^\n]*\n)+)", text, re.S | re.I)
    expect(block, "README.txt has no commands for a day's sales from a file")
    commands = [line.strip() for line in block.group(1).splitlines()]
    status, profile = wine.status(["cmd", "/c", "echo %USERPROFILE%"])
    expect(status == 0, "cmd gave status %d" % status)
    documents = os.path.realpath(wine.unix_path(profile.decode().strip() + "\\Documents"))
    sales, day = os.path.join(documents, "sales.txt"), os.path.join(documents, "day.txt")
    batch = os.path.join(wine.drive_c, "day.bat")
    with open(batch, "w", newline="\r\n") as script:
        script.write("@echo off\n" + "".join(c + "\n" for c in commands))
    with open(CASE_IN, "rb") as case, open(sales, "wb") as written:
        written.write(case.read().replace(b"\n", b"\r\n"))
    _, said = wine.status(["cmd", "/c", "C:\\day.bat"])
    expect(os.path.isfile(day), "README.txt's commands wrote no day.txt in Documents")
    with open(day, "rb") as written:
        expect_session(written.read(), crlf=True)
    expect(said.split(b"\r\n")[:1] == [b"0"], "README.txt's commands said %r, not 0 first" % said)
    os.remove(sales)
    wine.status(["cmd", "/c", "C:\\day.bat"])
    expect(not os.path.exists(day), "README.txt's commands leave the last day.txt when "
           "sales.txt is missing")
    os.remove(batch)


def installed_elsewhere(wine, msi, newer_msi):
    """Installed into C:\\Apps\\Tally: an upgrade stays there, and removal
    leaves nothing."""
    chosen = "C:\\Apps\\Tally\\"
    folder = wine.unix_path(chosen)
    default = wine.unix_path(install_folder())
    msiexec_ok(wine, "the install into %s failed" % chosen, "/i", msi, "/qn", "INSTALLDIR=" + chosen)
    expect(os.path.isfile(os.path.join(folder, "sales_tally.exe")), "not installed into " + chosen)
    msiexec_ok(wine, "the upgrade of the install in %s failed" % chosen, "/i", newer_msi, "/qn")
    expect(os.path.isfile(os.path.join(folder, "sales_tally.exe")) and not os.path.exists(default),
           "the upgrade did not stay in %s" % chosen)
    expect([location for _, location in entries(wine).values()] == [chosen],
           "Programs and Features gives the location as %s" % entries(wine))
    msiexec_ok(wine, "the removal failed", "/x", newer_msi, "/qn")
    expect(not os.path.exists(folder), "%s is left after removal" % chosen)


if __name__ == "__main__":
    main(check)
