"""Throughput benchmark: a day's sales piped in from a file.

    python3 bench/run.py [--sales N] [--runs R] [--before REV]

Builds the bench preset (the program and the straightforward version it is
measured against), generates N sales (default 1,000,000: every product of the price list,
quantities 0 to 50, one pair a line, about one entry in eleven an invalid
product number on a line of its own, -1 at the end) and the same file saved
as UTF-16 with a byte-order mark, and runs each program R times in turn,
standard input from the file and standard output to /dev/null: the program
on the 8-bit file and on the UTF-16 one, the straightforward version, and
with --before the program as commit REV built it; and the program once more
with its output written to a file, as a day's dialogue is kept. Reports each one's median
wall time, sales per second, output MB/s and peak memory, and the ratios of
the medians; checks that all write the same bytes. Peak memory is read by
GNU time (Debian's package time): a child of this Python process would
count Python's own memory in its peak.
"""
import argparse
import hashlib
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def build(source):
    """Builds the bench preset of a source tree; returns its build folder."""
    for step in (["cmake", "--preset", "bench"], ["cmake", "--build", "--preset", "bench"]):
        subprocess.run(step, cwd=source, check=True, stdout=subprocess.DEVNULL)
    return os.path.join(source, "build", "bench")


sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "tests"))
from program_facts import prices  # noqa: E402 (the price list, read as the tests read it)

PRODUCTS = len(prices())


def generate(path, utf16_path, sales):
    rng = random.Random(20261208)
    lines = []
    for _ in range(sales):
        if rng.randrange(10) == 0:
            lines.append("%d\n" % rng.choice((0, PRODUCTS + 1, PRODUCTS + 2, PRODUCTS + 3,
                                               PRODUCTS + 4, 99, -2)))
        lines.append("%d %d\n" % (rng.randint(1, PRODUCTS), rng.randint(0, 50)))
    text = "".join(lines) + "-1\n"
    with open(path, "w") as f:
        f.write(text)
    with open(utf16_path, "wb") as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le"))


def run_once(program, input_path, report_path, output_path=os.devnull):
    """Runs the program once; returns (wall seconds, peak resident KiB)."""
    with open(input_path, "rb") as stdin, open(output_path, "wb") as output:
        start = time.perf_counter()
        subprocess.run(["/usr/bin/time", "-o", report_path, "-f", "%x %M", program],
                       stdin=stdin, stdout=output, check=True)
        wall = time.perf_counter() - start
    with open(report_path) as report:
        status, peak = report.read().split()
    if status != "0":
        sys.exit("%s exited with %s" % (program, status))
    return wall, int(peak)


def digest_of(program, input_path):
    """The digest and length of the program's whole output, read through
    without holding it."""
    digest = hashlib.sha256()
    size = 0
    with open(input_path, "rb") as stdin:
        proc = subprocess.Popen([program], stdin=stdin, stdout=subprocess.PIPE)
        for chunk in iter(lambda: proc.stdout.read(1 << 20), b""):
            digest.update(chunk)
            size += len(chunk)
        proc.wait()
    return digest.hexdigest(), size


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sales", type=int, default=1_000_000)
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--before", metavar="REV", help="also measure the program at commit REV")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as tmp:
        here = build(ROOT)
        input_path = os.path.join(tmp, "sales.txt")
        utf16_path = os.path.join(tmp, "sales-utf16.txt")
        # name: (program, its input, where its output goes)
        to_file = os.path.join(tmp, "day.txt")
        runs = {"sales_tally": (os.path.join(here, "sales_tally"), input_path, os.devnull),
                "sales_tally UTF-16": (os.path.join(here, "sales_tally"), utf16_path, os.devnull),
                "sales_tally to a file": (os.path.join(here, "sales_tally"), input_path, to_file),
                "straightforward": (os.path.join(here, "straightforward_tally"), input_path,
                                    os.devnull)}
        if args.before:
            before = os.path.join(tmp, "before")
            subprocess.run(["git", "-C", ROOT, "worktree", "add", "-q", "--detach", before,
                            args.before], check=True)
            try:
                program = shutil.copy(os.path.join(build(before), "sales_tally"),
                                      os.path.join(tmp, "sales_tally_before"))
            finally:
                subprocess.run(["git", "-C", ROOT, "worktree", "remove", "--force", before],
                               check=True)
            runs["sales_tally " + args.before] = (program, input_path, os.devnull)
        generate(input_path, utf16_path, args.sales)
        input_mb = os.path.getsize(input_path) / 1e6
        utf16_mb = os.path.getsize(utf16_path) / 1e6
        digests = {name: digest_of(program, sales) for name, (program, sales, _) in runs.items()}
        output_bytes = digests["sales_tally"][1]

        times = {name: [] for name in runs}
        peaks = {name: [] for name in runs}
        for _ in range(args.runs):
            for name, (program, sales, output) in runs.items():
                wall, peak = run_once(program, sales, os.path.join(tmp, "time.txt"), output)
                times[name].append(wall)
                peaks[name].append(peak)

    print("%s: %d sales, %.1f MB in (UTF-16: %.1f MB), %.1f MB out, %d runs of each"
          % (time.strftime("%Y-%m-%d"), args.sales, input_mb, utf16_mb,
             output_bytes / 1e6, args.runs))
    medians = {name: statistics.median(times[name]) for name in runs}
    for name in runs:
        print("%-22s median %7.4f s  %10.0f sales/s  %7.1f MB/s out  peak %5.1f MiB"
              % (name, medians[name], args.sales / medians[name],
                 output_bytes / medians[name] / 1e6, max(peaks[name]) / 1024))
    print("speed-up over the straightforward version: %.1f times (ratio of the medians)"
          % (medians["straightforward"] / medians["sales_tally"]))
    print("UTF-16 against 8-bit: %.2f times the time" % (medians["sales_tally UTF-16"]
                                                          / medians["sales_tally"]))
    print("to a file against /dev/null: %.2f times the time" % (medians["sales_tally to a file"]
                                                                 / medians["sales_tally"]))
    if args.before:
        print("before (%s) against now: %.2f times the time"
              % (args.before, medians["sales_tally " + args.before] / medians["sales_tally"]))
    same = len(set(digests.values())) == 1
    print("outputs identical: %s" % ("yes" if same else "NO"))
    return 0 if same else 1


sys.exit(main())
