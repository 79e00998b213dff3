"""What the release checks share. Each check is a file of its own beside
this one, run by CTest as release.NAME (packaging/Checks.cmake):

    python3 packaging/checks/NAME.py BUILD_DIR [WINE]

and ends with main(check), which gives check(release) a Release: the build
folder, an empty scratch folder of its own (BUILD_DIR/release-checks/NAME,
left for a look afterwards) and the Wine to use, if any. A check fails
through expect() alone; the message names the check's file.
"""
import filecmp
import os
import re
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests"))
sys.path.insert(0, os.path.join(ROOT, "packaging"))
from program_facts import install_folder  # for the checks: the .msi's folder
from wine import Wine  # for the checks: the one way to run Wine
from release import inputs_of, unsigned_environment

CASE_IN = os.path.join(ROOT, "tests", "cases", "quantity_asked_again.in")
CASE_OUT = os.path.join(ROOT, "tests", "cases", "quantity_asked_again.out")
SKIPPED = 77


class CheckFailed(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise CheckFailed(message)


def run(command, **options):
    """Runs a command that must succeed; returns its standard output."""
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **options)
    expect(done.returncode == 0, "%s gave status %d:\n%s" % (
        " ".join(command), done.returncode, done.stdout.decode(errors="replace")))
    return done.stdout


def same_bytes(first, second):
    return filecmp.cmp(first, second, shallow=False)


def wrapped(scratch, name, body):
    """A PATH on which name is a shell script, body, in scratch/bin; REAL in
    body names the real one."""
    folder = os.path.join(scratch, "bin")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "w") as script:
        script.write("#!/bin/sh\n%s\n" % body.replace("REAL", shutil.which(name)))
    os.chmod(os.path.join(folder, name), 0o755)
    return folder + os.pathsep + os.environ["PATH"]


def unpack_zip(zip_file, into):
    """Unpacks a zip into a new folder; returns the one folder it holds."""
    os.makedirs(into)
    run(["cmake", "-E", "tar", "xf", zip_file], cwd=into)
    return os.path.join(into, os.listdir(into)[0])


def expect_session(output, crlf=False):
    with open(CASE_OUT, "rb") as case:
        expected = case.read()
    if crlf:
        expected = expected.replace(b"\n", b"\r\n")
    expect(output == expected, "the session came out as\n%r\nexpected\n%r" % (output, expected))


class Release:
    """The build whose packages are checked, and what configuring gave its
    release, read once."""

    def __init__(self, build, scratch, wine):
        self.build, self.scratch, self.wine = build, scratch, wine
        self.inputs = inputs_of(build)

    def license(self):
        """The license the packages must carry, its name and its text (LF):
        the build's, or the statement that none is granted."""
        settings = self.inputs["settings"]
        path = settings["SALES_TALLY_LICENSE_FILE"] or os.path.join(ROOT, "packaging",
                                                                    "no-license.txt")
        with open(path, "rb") as text:
            body = text.read().decode().replace("\r\n", "\n").rstrip("\n") + "\n"
        return settings["SALES_TALLY_LICENSE"] or "LicenseRef-no-license-granted", body

    def packages(self):
        """This version's packages in the build folder, by name, their bills
        of materials (PACKAGE.cdx.json) and the release's record
        (NAME.release.json): an older version's may lie beside them."""
        version = re.escape(self.inputs["version"])
        return sorted(name for name in os.listdir(self.build) if re.search(
            r"[-_]%s[-_].*\.((deb|tar\.gz|zip|msi)(\.cdx\.json)?|release\.json)$" % version, name))

    def the_one(self, extension):
        found = [os.path.join(self.build, n) for n in self.packages() if n.endswith(extension)]
        expect(len(found) == 1, "not exactly one %s of this version in %s: %s"
               % (extension, self.build, found))
        return found[0]

    def sums(self):
        return os.path.join(self.build, self.inputs["name"] + ".SHA256SUMS")

    def make(self, out, settings, changes=(), must_pass=True):
        """release.py run again into out, with the signing settings given and
        no other, and the changes (NAME=VALUE) to what configuring gave;
        returns what it did, having ended within 120 s, with status 0 if it
        must pass."""
        try:
            done = subprocess.run(
                [sys.executable, os.path.join(ROOT, "packaging", "release.py"), self.build,
                 "--out", out] + ["--set=" + change for change in changes],
                env=dict(unsigned_environment(), **settings), stdout=subprocess.PIPE,
                stderr=subprocess.STDOUT, text=True, timeout=120)
        except subprocess.TimeoutExpired:
            raise CheckFailed("release.py did not finish within 120 s, into %s" % out)
        expect(done.returncode == 0 or not must_pass, "release.py gave status %d:\n%s"
               % (done.returncode, done.stdout[-4000:]))
        return done


def main(check):
    """Runs check(release) on the build the command line names, and reports
    as CTest reads it."""
    name = os.path.splitext(os.path.basename(sys.modules[check.__module__].__file__))[0]
    build = os.path.abspath(sys.argv[1])
    scratch = os.path.join(build, "release-checks", name)
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    source = os.path.relpath(sys.modules[check.__module__].__file__, ROOT)
    try:  # any other exception is the check's own fault, and its traceback says where
        check(Release(build, scratch, sys.argv[2] if len(sys.argv) > 2 else None))
    except CheckFailed as failure:
        sys.exit("%s: %s" % (source, failure))
    print("%s: 1 passed, 0 failed" % name)
