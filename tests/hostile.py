"""Runs the program in a hostile environment, one check a call:

    python3 hostile.py CHECK [--crlf] PROGRAM [EMULATOR ARGS...]

long_token    a gigabyte-long token, streamed and never held here, is read
              through in bounded memory, and the total afterwards is right
closed_input  standard input closed: a read that fails, so the closing
              report of what was booked follows, with exit status 1
directory_input  standard input a directory: the same
nonblocking_input  standard input a pipe left non-blocking, with a pause in
              the middle of the day: the program waits, and the total is
              the whole day's
terminal_gone a terminal as standard input that goes away mid-day (its
              reads fail): the report of what was booked, and status 1
terminal_gone_mid_token  the same right after a token without its end: the
              token is not booked
terminal_hung_up  the same with SIGHUP ignored, the terminal hung up while
              the program is stopped: its next read returns nothing
nonblocking_output  standard output a pipe left non-blocking and read late:
              nothing is lost
terminal_nonblocking  standard input and output a terminal left
              non-blocking, paused with Ctrl-S: nothing is lost
random_bytes  random bytes, NUL and CR LF among them, give nothing but the
              program's own texts, closed by one closing report
report_unwritten  standard output, a file, has room for the dialogue's text
              but not for the report: the exit status must be 1
Every other check wants exit status 0; every check, nothing on standard
error.
"""
import os
import random
import re
import resource
import select
import signal
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty

from program_facts import (INVALID_PRODUCT, INVALID_QUANTITY, LONG, REPORT_HEADING, REPORT_TAIL,
                           SHORT, command_line, report, stale_texts)

MIB = 1 << 20
MEMORY_BOUND_KIB = 256 * 1024  # far below the gigabyte a stored token would take


def run(command, feed, given, status=0, stdin=subprocess.PIPE, **options):
    """Runs the program, feed(stdin) writing its input; returns its output and
    peak memory in KiB once it has exited with the status given and nothing on
    standard error. Output goes to files, not pipes: a Wine server that the
    program starts would hold a pipe open after the program has ended. A
    failure names what it was given and shows how its output ended, so a
    whole report (the program saw a failure) is told from none (it never
    ran to its end)."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        proc = subprocess.Popen(command, stdin=stdin, stdout=out, stderr=err, **options)
        if feed:
            feed(proc.stdin)
        if proc.stdin:
            proc.stdin.close()
        _, wait_status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(wait_status)
        out.seek(0)
        err.seek(0)
        output, errors = out.read(), err.read()
    if proc.returncode != status or errors:
        ended = "a whole report" if b"Final retail value" in output else "no report"
        sys.exit("given %s: exit status %d where %d was due, standard error %r; it wrote %d "
                 "bytes, %s, ending %r" % (given, proc.returncode, status, errors[:200],
                                           len(output), ended, output[-160:]))
    return output, usage.ru_maxrss


def expect(output, expected):
    if output != expected:
        sys.exit("expected %r\ngot      %r" % (expected[-300:], output[-300:]))


def long_token(command, encode):
    def feed(stdin):
        zeros, junk = b"0" * MIB, b"x" * MIB
        for _ in range(1024):  # a gigabyte of leading zeros: still product 3
            stdin.write(zeros)
        stdin.write(b"3 2\n")
        for _ in range(256):  # and a quarter gigabyte that is no number at all
            stdin.write(junk)
        stdin.write(b"\n-1\n")

    output, peak = run(command, feed, "a gigabyte-long token")
    expect(output,
           encode(LONG + SHORT + "\n" + LONG + SHORT + INVALID_PRODUCT + SHORT + report("19.96")))
    print("peak memory %d KiB" % peak)
    if peak > MEMORY_BOUND_KIB:
        sys.exit("peak memory %d KiB" % peak)


def closed_input(command, encode):
    output, _ = run(command, None, "a closed standard input", status=1,
                    preexec_fn=lambda: os.close(0))
    expect(output, encode(LONG + SHORT + report("0.00")))


def directory_input(command, encode):
    directory = os.open(os.path.dirname(os.path.abspath(__file__)), os.O_RDONLY)
    output, _ = run(command, None, "a folder as standard input", status=1, stdin=directory)
    expect(output, encode(LONG + SHORT + report("0.00")))


def nonblocking_input(command, encode):
    # The flag belongs to the pipe, which the program shares.
    read_end, write_end = os.pipe()
    os.set_blocking(read_end, False)
    os.write(write_end, b"1 3\n")

    def rest_of_the_day():
        time.sleep(1)
        os.write(write_end, b"4 2\n-1\n")
        os.close(write_end)

    later = threading.Thread(target=rest_of_the_day)
    later.start()
    output, _ = run(command, None, "a non-blocking pipe that pauses", stdin=read_end)
    later.join()
    os.close(read_end)
    expect(output, encode(LONG + SHORT + "\n" + LONG + SHORT + "\n" + LONG + SHORT
                          + report("17.92")))


def on_terminal(command, encode, typed, booked, gone, total):
    """The program at a terminal of which it is not the controlling process,
    so nothing signals it when the terminal goes, with its output to a file:
    typed is typed, and once the output shows booked, gone(proc, terminal)
    takes the terminal away. The report must show total."""
    terminal, program_side = os.openpty()
    if b"\n" not in typed:  # a token without its end, handed over at once
        tty.setraw(program_side)
    booked = encode(booked)
    with tempfile.TemporaryFile() as out:
        proc = subprocess.Popen(command, stdin=program_side, stdout=out, stderr=subprocess.PIPE,
                                start_new_session=True)
        os.close(program_side)
        os.write(terminal, typed)
        deadline = time.monotonic() + 20
        while os.pread(out.fileno(), len(booked), 0) != booked:
            if time.monotonic() > deadline:
                sys.exit("the output never showed %r" % booked)
            time.sleep(0.05)
        time.sleep(0.2)  # the program is waiting in its next read
        gone(proc, terminal)
        exit_status = proc.wait(20)
        errors = proc.stderr.read()
        out.seek(0)
        output = out.read()
    if exit_status != 1 or errors:
        sys.exit("exit status %d, standard error %r" % (exit_status, errors[:200]))
    expect(output, booked + encode(report(total)))


def terminal_gone(command, encode):
    """The terminal goes while the program waits: its read fails (EIO)."""
    on_terminal(command, encode, b"1 3\n", LONG + SHORT + "\n" + LONG + SHORT,
                lambda proc, terminal: os.close(terminal), "8.94")


def terminal_gone_mid_token(command, encode):
    """The read fails right after "3": whether 3 or 35 was meant, it is not
    booked; the sale before it is."""
    on_terminal(command, encode, b"2 1 1 3", LONG + SHORT + "\n" + LONG + SHORT,
                lambda proc, terminal: os.close(terminal), "4.50")


def terminal_hung_up(command, encode):
    """SIGHUP ignored, as under nohup, and the terminal hangs up while the
    program is busy elsewhere: blocked writing to a full pipe. Its next read
    then returns nothing, which is no Ctrl-D. (Stopped in a read, it is
    failed with EIO when continued, as terminal_gone's.)"""
    terminal, program_side = os.openpty()
    read_end, write_end = os.pipe()
    proc = subprocess.Popen(command, stdin=program_side, stdout=write_end,
                            stderr=subprocess.DEVNULL, start_new_session=True,
                            preexec_fn=lambda: signal.signal(signal.SIGHUP, signal.SIG_IGN))
    os.close(program_side)
    first_sale = encode(LONG + SHORT + "\n" + LONG + SHORT)
    os.write(terminal, b"1 3\n")
    arrived = b""
    while len(arrived) < len(first_sale):  # then it waits for the next sale
        piece = os.read(read_end, len(first_sale) - len(arrived))
        arrived += piece
        if not piece:
            break
    expect(arrived, first_sale)
    os.set_blocking(write_end, False)
    filler = 0
    for piece in [4096, 1]:  # to the last byte
        try:
            while True:
                filler += os.write(write_end, b"#" * piece)
        except BlockingIOError:
            pass
    os.set_blocking(write_end, True)  # the flag is the program's too
    os.close(write_end)
    os.write(terminal, b"4 2\n")
    deadline = time.monotonic() + 20
    with open("/proc/%d/wchan" % proc.pid) as waiting:  # booked, and writing its prompts
        while "pipe_write" not in waiting.read() and time.monotonic() < deadline:
            time.sleep(0.05)
            waiting.seek(0)
    if "pipe_write" not in open("/proc/%d/wchan" % proc.pid).read():
        sys.exit("the program never blocked writing its prompts")
    os.close(terminal)
    with os.fdopen(read_end, "rb") as pipe:
        output = pipe.read()[filler:]
    if proc.wait(20) != 1:
        sys.exit("exit status %d" % proc.returncode)
    expect(output, encode("\n" + LONG + SHORT + report("17.92")))


def nonblocking_output(command, encode):
    """Standard output a pipe left non-blocking and read only after a pause,
    when the program has filled it many times over: nothing is lost."""
    sales = 3000
    read_end, write_end = os.pipe()
    os.set_blocking(write_end, False)
    with tempfile.TemporaryFile() as day:
        day.write(b"2 1\n" * sales + b"-1\n")  # 4.50: exact in any sum
        day.seek(0)
        proc = subprocess.Popen(command, stdin=day, stdout=write_end, stderr=subprocess.DEVNULL)
    os.close(write_end)
    time.sleep(1)
    with os.fdopen(read_end, "rb") as pipe:
        output = pipe.read()
    if proc.wait(20) != 0:
        sys.exit("exit status %d" % proc.returncode)
    expect(output, encode((LONG + SHORT + "\n") * sales + LONG + SHORT + report("13500.00")))


def terminal_nonblocking(command, encode):
    """A terminal left non-blocking, as a program that crashed may leave it,
    and paused with Ctrl-S while the day is typed: after Ctrl-Q every prompt
    and the report arrive."""
    sales = 200
    terminal, program_side = os.openpty()
    modes = termios.tcgetattr(program_side)
    modes[0] |= termios.IXON
    modes[1] &= ~termios.OPOST  # newlines as the program writes them
    modes[3] &= ~termios.ECHO
    termios.tcsetattr(program_side, termios.TCSANOW, modes)
    os.set_blocking(program_side, False)
    proc = subprocess.Popen(command, stdin=program_side, stdout=program_side,
                            stderr=subprocess.PIPE, start_new_session=True)
    os.close(program_side)
    os.write(terminal, b"\x13" + b"1 1\n" * sales + b"-1\n")
    time.sleep(1)
    os.write(terminal, b"\x11")
    expected = encode((LONG + SHORT + "\n") * sales + LONG + SHORT + report("596.00"))
    output, deadline = b"", time.monotonic() + 20
    while not output.endswith(encode(REPORT_TAIL)) and time.monotonic() < deadline:
        ready, _, _ = select.select([terminal], [], [], 0.5)
        if ready:
            output += os.read(terminal, 65536)
    status = proc.wait(20)
    os.close(terminal)
    if status != 0:
        sys.exit("exit status %d, standard error %r" % (status, proc.stderr.read()[:200]))
    expect(output, expected)


def random_bytes(command, encode):
    texts = [LONG, SHORT, INVALID_PRODUCT, INVALID_QUANTITY, "\n"]
    own_texts = re.compile(
        b"(?:" + b"|".join(re.escape(encode(t)) for t in texts) + b")*"
        + re.escape(encode(REPORT_HEADING)) + rb"-?[0-9]+\.[0-9][0-9]"
        + re.escape(encode(REPORT_TAIL)))
    likely = b"0123456789+-     \t\r\n\r\n\v\f\0x\xff"
    rng = random.Random(5)
    for _ in range(40):
        data = bytes(rng.choice(likely) if rng.random() < 0.8 else rng.randrange(256)
                     for _ in range(rng.randrange(1, 4096)))
        output, _ = run(command, lambda stdin, data=data: stdin.write(data),
                        "%d random bytes %r" % (len(data), data[:120]))
        if not own_texts.fullmatch(output):
            sys.exit("not the program's own texts for input %r:\n%r" % (data, output))


def report_unwritten(command, encode):
    dialogue = encode(LONG + SHORT)

    def limit_file_size():
        # A write past the limit then fails with EFBIG, as on a full disk,
        # instead of the signal ending the program.
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (len(dialogue), resource.RLIM_INFINITY))

    output, _ = run(command, lambda stdin: stdin.write(b"-1\n"), "-1 with nowhere to write",
                    status=1, preexec_fn=limit_file_size)
    expect(output, dialogue)


def main():
    name = sys.argv.pop(1)
    command, encode = command_line()
    stale = stale_texts(command, encode)
    if stale:
        sys.exit("\n".join(stale))
    globals()[name](command, encode)
    print("%s: 1 passed, 0 failed" % name)


main()
