"""Talks to the program over pipes the way a driving program would: it sends
each value only after the prompt asking for it has arrived. A prompt left in
the program's buffer while it waits stalls the conversation and fails it.

    python3 conversation.py [--crlf] PROGRAM [EMULATOR ARGS...]
"""
import os
import select
import subprocess
import sys
import time

from program_facts import INVALID_PRODUCT, INVALID_QUANTITY, LONG, SHORT, command_line, report

# What the program must have written before each line is typed.
STEPS = [
    (LONG + SHORT, "1"),
    ("", "3"),  # no prompt of its own for the quantity
    ("\n" + LONG + SHORT, "7"),
    (INVALID_PRODUCT + SHORT, "2 abc"),
    (INVALID_QUANTITY, "5"),  # product 2's quantity, asked for again
    ("\n" + LONG + SHORT, "4 2"),
    ("\n" + LONG + SHORT, "-1"),
]
CLOSING = report("40.42")
WAIT_SECONDS = 20


def read_exactly(out, expected):
    """Reads until the expected text has arrived, failing on anything else."""
    got = b""
    deadline = time.monotonic() + WAIT_SECONDS
    while len(got) < len(expected):
        left = deadline - time.monotonic()
        ready, _, _ = select.select([out], [], [], max(left, 0))
        if not ready:
            sys.exit("timed out waiting for %r, got %r" % (expected, got))
        chunk = os.read(out.fileno(), 65536)
        if not chunk:
            sys.exit("output ended early: expected %r, got %r" % (expected, got))
        got += chunk
        if not expected.startswith(got[: len(expected)]):
            sys.exit("expected %r, got %r" % (expected, got))
    if got != expected:
        sys.exit("expected %r, got %r" % (expected, got))


def main():
    command, encode = command_line()
    proc = subprocess.Popen(command, stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    for prompt, line in STEPS:
        read_exactly(proc.stdout, encode(prompt))
        proc.stdin.write(encode(line + "\n"))
        proc.stdin.flush()
    read_exactly(proc.stdout, encode(CLOSING))
    proc.stdin.close()
    if proc.stdout.read() != b"":
        sys.exit("output after the closing report")
    status = proc.wait(WAIT_SECONDS)
    errors = proc.stderr.read()
    if status != 0 or errors:
        sys.exit("exit status %d, standard error %r" % (status, errors))
    print("conversation: 1 passed, 0 failed")


main()
