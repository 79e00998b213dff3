"""Started from Explorer, a Windows console program gets a window of its own
that closes when it ends; the program then waits for a key press after the
closing report. Started from a command prompt it shares that window and must
not wait. Nor must it wait in a window of its own whose standard output goes
to a file, as a scheduled job's may: nobody sees the prompt there, and a job
must never hang. Under Wine, a program started at a terminal gets a console
of its own, and through `cmd /c` it shares cmd's: each runs here on a
pseudo-terminal, whose screen Wine draws with escape sequences, stripped
before comparing.

    python3 own_window.py PROGRAM.exe WINE
"""
import os
import pty
import re
import select
import sys
import tempfile
import termios
import time

from program_facts import CLOSE_WINDOW, report

SCREEN_CONTROL = re.compile(rb"\x1b\[[0-9;?]*[A-Za-z]|[\r\n]")
WAIT_SECONDS = 20


def start(argv, output=None):
    """Starts argv at a new pseudo-terminal, standard output to the file
    output if one is given."""
    pid, terminal = pty.fork()
    if pid == 0:
        if output:
            os.dup2(os.open(output, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644), 1)
        os.execvp(argv[0], argv)
    return pid, terminal


class Screen:
    """What the program has drawn so far, line ends left out, and how far the
    checks have read it. Wine may draw any number of texts in one piece, so a
    text is awaited anywhere after what was read before, never at the end."""

    def __init__(self, terminal):
        self.terminal = terminal
        self.drawn = b""
        self.read_to = 0

    def wait_for(self, text):
        """Waits until text is drawn after what was read before, and reads
        past it; with None, waits until the program has gone. Returns what
        was drawn."""
        deadline = time.monotonic() + WAIT_SECONDS
        while True:
            if text is not None:
                found = self.drawn.find(text.encode(), self.read_to)
                if found >= 0:
                    self.read_to = found + len(text)
                    return self.drawn
            ready, _, _ = select.select([self.terminal], [], [],
                                        max(deadline - time.monotonic(), 0))
            if not ready:
                awaited = repr(text) if text else "the program to end"
                sys.exit("timed out waiting for %s, screen %r" % (awaited, self.drawn))
            try:
                chunk = os.read(self.terminal, 4096)
            except OSError:  # the terminal is gone with the program
                chunk = b""
            if not chunk and text is None:
                return self.drawn
            self.drawn += SCREEN_CONTROL.sub(b"", chunk)


def type_line(terminal, line):
    # Wine's console reads the terminal raw once it has set it up; typed
    # before that, Enter would arrive as a newline it does not take for Enter.
    deadline = time.monotonic() + WAIT_SECONDS
    while termios.tcgetattr(terminal)[3] & termios.ICANON and time.monotonic() < deadline:
        time.sleep(0.05)
    os.write(terminal, line.encode())


def run(argv, owns_window):
    pid, terminal = start(argv)
    screen = Screen(terminal)
    for line in ["1 3\r", "-1\r"]:
        screen.wait_for("submitting:")
        type_line(terminal, line)
    screen.wait_for(report("8.94").replace("\n", ""))
    if owns_window:
        screen.wait_for(CLOSE_WINDOW)
        time.sleep(1)
        if os.waitpid(pid, os.WNOHANG)[0] != 0:
            sys.exit("closed the window without waiting for a key")
        type_line(terminal, "x")
    elif CLOSE_WINDOW.encode() in screen.wait_for(None):
        sys.exit("asked for a key press in a shared window")
    expect_success(pid)


def run_batch(argv):
    """The window is its own, but the output goes to a file: typed ahead,
    the sales must be tallied and the program end by itself."""
    with tempfile.NamedTemporaryFile() as output:
        pid, terminal = start(argv, output.name)
        type_line(terminal, "1 3\r-1\r")
        drawn = Screen(terminal).wait_for(None)
        expect_success(pid)
        written = output.read()
    if CLOSE_WINDOW.encode() in drawn + written:
        sys.exit("asked for a key press with standard output to a file")
    if not written.endswith(report("8.94").replace("\n", "\r\n").encode()):
        sys.exit("no closing report at the end of the file: %r" % written[-200:])


def expect_success(pid):
    _, status = os.waitpid(pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("exit status %d" % os.waitstatus_to_exitcode(status))


def main():
    program, wine = sys.argv[1], sys.argv[2]
    run([wine, program], owns_window=True)
    run([wine, "cmd", "/c", "Z:" + os.path.abspath(program).replace("/", "\\")], owns_window=False)
    run_batch([wine, program])
    print("own_window: 3 passed, 0 failed")


main()
