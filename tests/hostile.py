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
import signal
import subprocess
import sys
import tempfile
import threading
import time

from console_texts import (INVALID_PRODUCT, INVALID_QUANTITY, LONG, REPORT_HEADING, REPORT_TAIL,
                           SHORT, command_line, report)

MIB = 1 << 20
MEMORY_BOUND_KIB = 256 * 1024  # far below the gigabyte a stored token would take


def run(command, feed, status=0, stdin=subprocess.PIPE, **options):
    """Runs the program, feed(stdin) writing its input; returns its output and
    peak memory in KiB once it has exited with the status given and nothing on
    standard error. Output goes to files, not pipes: a Wine server that the
    program starts would hold a pipe open after the program has ended."""
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
        sys.exit("exit status %d, standard error %r" % (proc.returncode, errors[:200]))
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

    output, peak = run(command, feed)
    expect(output,
           encode(LONG + SHORT + "\n" + LONG + SHORT + INVALID_PRODUCT + SHORT + report("19.96")))
    print("peak memory %d KiB" % peak)
    if peak > MEMORY_BOUND_KIB:
        sys.exit("peak memory %d KiB" % peak)


def closed_input(command, encode):
    output, _ = run(command, None, status=1, preexec_fn=lambda: os.close(0))
    expect(output, encode(LONG + SHORT + report("0.00")))


def directory_input(command, encode):
    directory = os.open(os.path.dirname(os.path.abspath(__file__)), os.O_RDONLY)
    output, _ = run(command, None, status=1, stdin=directory)
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
    output, _ = run(command, None, stdin=read_end)
    later.join()
    os.close(read_end)
    expect(output, encode(LONG + SHORT + "\n" + LONG + SHORT + "\n" + LONG + SHORT
                          + report("17.92")))


def terminal_gone(command, encode):
    """The program reads a terminal of which it is not the controlling
    process, so nothing sends it a signal when the terminal goes: its next
    read fails (EIO)."""
    terminal, program_side = os.openpty()
    first_sale = encode(LONG + SHORT + "\n" + LONG + SHORT)
    with tempfile.TemporaryFile() as out:
        proc = subprocess.Popen(command, stdin=program_side, stdout=out, stderr=subprocess.PIPE,
                                start_new_session=True)
        os.close(program_side)
        os.write(terminal, b"1 3\n")
        deadline = time.monotonic() + 20
        while os.pread(out.fileno(), len(first_sale), 0) != first_sale:
            if time.monotonic() > deadline:
                sys.exit("the first sale was never booked")
            time.sleep(0.05)
        os.close(terminal)
        status = proc.wait(20)
        errors = proc.stderr.read()
        out.seek(0)
        output = out.read()
    if status != 1 or errors:
        sys.exit("exit status %d, standard error %r" % (status, errors[:200]))
    expect(output, first_sale + encode(report("8.94")))


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
        output, _ = run(command, lambda stdin, data=data: stdin.write(data))
        if not own_texts.fullmatch(output):
            sys.exit("not the program's own texts for input %r:\n%r" % (data, output))


def report_unwritten(command, encode):
    dialogue = encode(LONG + SHORT)

    def limit_file_size():
        # A write past the limit then fails with EFBIG, as on a full disk,
        # instead of the signal ending the program.
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (len(dialogue), resource.RLIM_INFINITY))

    output, _ = run(command, lambda stdin: stdin.write(b"-1\n"), status=1,
                    preexec_fn=limit_file_size)
    expect(output, dialogue)


def main():
    checks = {"long_token": long_token, "closed_input": closed_input,
              "directory_input": directory_input, "nonblocking_input": nonblocking_input,
              "terminal_gone": terminal_gone, "random_bytes": random_bytes,
              "report_unwritten": report_unwritten}
    name = sys.argv.pop(1)
    command, encode = command_line()
    checks[name](command, encode)
    print("%s: 1 passed, 0 failed" % name)


main()
