"""Wine, run one way for the Windows suite and the release checks: the
prefix, its DLL overrides, and its server's start and stop.

    python3 tests/wine.py start|stop WINE

start makes the prefix if it is new (WINEPREFIX, or ~/.wine) and leaves a
server running with Wine's services, detached from every pipe of the test
run, for the tests under Wine to share (CTest's fixture wine.start); stop
ends it, and with it every Wine program of the prefix (wine.stop). The
release checks make a Wine(wine, folder) of their own, a prefix and a home
in their scratch folder.
"""
import os
import subprocess
import sys
import tempfile

# No .NET or HTML engine: the programs under test need neither, and a new
# prefix would otherwise try to install them. No menu entries on the Linux
# desktop for what an .msi installs.
DLL_OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"
SERVER_TIMEOUT = 300


class Wine:
    def __init__(self, wine, folder=None):
        """Wine as found at the path given, in the prefix of the environment
        or, given a folder, in a prefix with a home of its own there: a new
        prefix links its Documents to the home folder."""
        self.wine = wine
        self.env = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES=DLL_OVERRIDES)
        if folder:
            home = os.path.join(folder, "home")
            os.makedirs(home, exist_ok=True)
            self.env.update(WINEPREFIX=os.path.join(folder, "wine"), HOME=home,
                            XDG_CONFIG_HOME=os.path.join(home, ".config"))
        prefix = self.env.get("WINEPREFIX") or os.path.join(os.path.expanduser("~"), ".wine")
        self.drive_c = os.path.join(prefix, "drive_c")
        self.prefix = prefix
        here = os.path.dirname(wine)
        self.server = next((os.path.join(here, name) for name in ["wineserver64", "wineserver"]
                            if os.path.exists(os.path.join(here, name))), "wineserver")

    def detached(self, command):
        """Runs a command with no pipe of the caller's: the services it
        starts would hold them open."""
        subprocess.run(command, env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=SERVER_TIMEOUT, check=False)

    def start(self):
        self.detached([self.wine, "wineboot", "--init"])  # makes or updates the prefix
        self.detached([self.server, "-w"])
        self.detached([self.server, "-p"])  # persistent: it outlives each program
        self.detached([self.wine, "wineboot"])  # starts the services under that server
        return self

    def stop(self):
        """Ends the prefix's server, which writes the registry to disk."""
        self.detached([self.server, "-k"])
        self.detached([self.server, "-w"])

    def status(self, args, stdin=None):
        """Runs a Windows program; its exit status, of which Wine keeps the
        low byte, and its output. Into a file: a Wine server that the
        program starts would hold a pipe open after it ends."""
        with tempfile.TemporaryFile() as output:
            done = subprocess.run([self.wine] + args, env=self.env,
                                  stdin=stdin or subprocess.DEVNULL, stdout=output,
                                  stderr=subprocess.DEVNULL, check=False)
            output.seek(0)
            return done.returncode, output.read()

    def unix_path(self, windows_path):
        return os.path.join(self.drive_c, *windows_path[3:].rstrip("\\").split("\\"))

    def registry(self, key):
        status, output = self.status(["reg", "query", key, "/s"])
        return output.decode(errors="replace").replace("\r", "") if status == 0 else ""


if __name__ == "__main__":
    action, wine = sys.argv[1], sys.argv[2]
    {"start": Wine.start, "stop": Wine.stop}[action](Wine(wine))
