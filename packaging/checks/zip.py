"""release.zip, as packaging/README.md's table of checks gives it: the zip
as unpacked, its exe by its headers and resources. release.msi_lifecycle
installs these files, byte for byte."""
import os
import re

from common import expect, main, run, unpack_zip
from linked import required_notices
from release import declared, fill


def check(release):
    folder = unpack_zip(release.the_one(".zip"), os.path.join(release.scratch, "unpacked"))
    files = sorted(os.listdir(folder))
    expect(files == ["LICENSE.txt", "NOTICES.txt", "README.txt", "sales_tally.exe"],
           "the zip's folder holds %s" % files)
    exe = os.path.join(folder, "sales_tally.exe")
    expect(os.path.getsize(exe) <= 1 << 20, "the exe is over 1 MiB")
    headers = run(["x86_64-w64-mingw32-objdump", "-p", exe]).decode()
    for mitigation in ["DYNAMIC_BASE", "HIGH_ENTROPY_VA", "NX_COMPAT"]:
        expect(re.search(r"\b%s\b" % mitigation, headers), "the exe lacks " + mitigation)
    expect(b'level="asInvoker"' in run(["wrestool", "-x", "--raw", "--type=24", exe]),
           "the exe's manifest does not run it as the invoker")
    version = run(["wrestool", "-x", "--raw", "--type=16", exe]).decode("utf-16-le", "replace")
    inputs = release.inputs
    for name, value in [("ProductName", "Sales tally"), ("OriginalFilename", "sales_tally.exe"),
                        ("CompanyName", inputs["publisher"]),
                        ("LegalCopyright", "Copyright " + inputs["settings"]["SALES_TALLY_COPYRIGHT"])]:
        expect(re.search(name + "\0+" + re.escape(value) + "\0", version),
               "the exe's version resource has no %s %r" % (name, value))
    icon = os.path.join(release.scratch, "exe.ico")
    with open(icon, "wb") as extracted:
        extracted.write(run(["wrestool", "-x", "--type=14", exe]))
    widths = re.findall(r"--width=(\d+)", run(["icotool", "-l", icon]).decode())
    expect(widths == ["16", "32", "48", "256"], "the exe's icon comes in widths %s" % widths)
    for name in ["README.txt", "NOTICES.txt", "LICENSE.txt"]:
        with open(os.path.join(folder, name), "rb") as text:
            lines = text.read().split(b"\n")[:-1]
        expect(all(line.endswith(b"\r") for line in lines), name + " has a line end that is not CR LF")
        expect(name != "README.txt" or not any(
            re.search(rb"`|^#|\]\(|\*\*|apt-get|Debian|cmake|\.md\b|\.deb", line) for line in lines),
            name + " has Markdown, or what is not for Windows")
    # The owner's license.
    license, text = release.license()
    with open(os.path.join(folder, "LICENSE.txt"), "rb") as shipped:
        expect(shipped.read().decode() == text.replace("\n", "\r\n"),
               "LICENSE.txt is not the text of the license %s" % license)
    with open(os.path.join(folder, "README.txt"), "rb") as readme:
        readme_txt = readme.read().decode().replace("\r\n", "\n")
    # Each setting's sentence whole, as settings.json gives it, and nothing
    # left of one: no variable unfilled.
    for entry in declared():
        text = entry.get("given" if inputs["settings"][entry["name"]] else "none")
        if "section" in entry and text:
            text = fill(text, inputs)
            expect(text in readme_txt, "README.txt does not say what settings.json gives %s:\n%s"
                   % (entry["name"], text))
    expect(not re.search(r"@[A-Z_]+@", readme_txt), "README.txt has a variable unfilled")
    # What the link map says was linked decides which notices must be there.
    required, unknown = required_notices(inputs["link_map"])
    expect(not unknown, "linked, and packaging/linked.py knows no library or notice of: %s"
           % unknown)
    with open(os.path.join(folder, "NOTICES.txt"), "rb") as notices:
        text = notices.read().decode().replace("\r\n", "\n")
    missing = [(library, line) for library, line in required if line not in text]
    expect(not missing, "NOTICES.txt lacks the notices of what was linked: %s" % missing)


if __name__ == "__main__":
    main(check)
