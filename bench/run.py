"""Throughput benchmark: a day's sales piped in from a file.

    python3 bench/run.py [--sales N] [--runs R]

Builds the bench preset (the program and the straightforward version it is
measured against), generates N sales (default 1,000,000: products 1 to 5,
quantities 0 to 50, one pair a line, about one entry in eleven an invalid
product number on a line of its own, -1 at the end) and runs both programs
R times in pairs, standard input from the file and standard output to
/dev/null. Reports each one's median wall time, sales per second, output
MB/s and peak memory, and the ratio of the medians; checks that both write
the same bytes. Peak memory is read by GNU time (Debian's package time): a
child of this Python process would count Python's own memory in its peak.
"""
import argparse
import hashlib
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "bench")
PROGRAMS = {
    "sales_tally": os.path.join(BUILD, "sales_tally"),
    "straightforward": os.path.join(BUILD, "straightforward_tally"),
}


def generate(path, sales):
    rng = random.Random(20261208)
    with open(path, "w") as f:
        for _ in range(sales):
            if rng.randrange(10) == 0:
                f.write("%d\n" % rng.choice((0, 6, 7, 8, 9, 99, -2)))
            f.write("%d %d\n" % (rng.randint(1, 5), rng.randint(0, 50)))
        f.write("-1\n")


def run_once(program, input_path, report_path):
    """Runs the program once; returns (wall seconds, peak resident KiB)."""
    with open(input_path, "rb") as stdin, open(os.devnull, "wb") as devnull:
        start = time.perf_counter()
        subprocess.run(["/usr/bin/time", "-o", report_path, "-f", "%x %M", program],
                       stdin=stdin, stdout=devnull, check=True)
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
    args = parser.parse_args()

    for step in (["cmake", "--preset", "bench"], ["cmake", "--build", "--preset", "bench"]):
        subprocess.run(step, cwd=ROOT, check=True, stdout=subprocess.DEVNULL)

    with tempfile.TemporaryDirectory() as tmp:
        input_path = os.path.join(tmp, "sales.txt")
        report_path = os.path.join(tmp, "time.txt")
        generate(input_path, args.sales)
        input_mb = os.path.getsize(input_path) / 1e6
        digests = {name: digest_of(path, input_path) for name, path in PROGRAMS.items()}
        output_bytes = digests["sales_tally"][1]

        times = {name: [] for name in PROGRAMS}
        peaks = {name: [] for name in PROGRAMS}
        for _ in range(args.runs):
            for name, path in PROGRAMS.items():
                wall, peak = run_once(path, input_path, report_path)
                times[name].append(wall)
                peaks[name].append(peak)

    print("%s: %d sales, %.1f MB in, %.1f MB out, %d paired runs"
          % (time.strftime("%Y-%m-%d"), args.sales, input_mb, output_bytes / 1e6, args.runs))
    for name in PROGRAMS:
        wall = statistics.median(times[name])
        print("%-16s median %7.4f s  %10.0f sales/s  %7.1f MB/s out  peak %5.1f MiB"
              % (name, wall, args.sales / wall, output_bytes / wall / 1e6,
                 max(peaks[name]) / 1024))
    ratio = statistics.median(times["straightforward"]) / statistics.median(times["sales_tally"])
    print("speed-up: %.1f times (ratio of the medians)" % ratio)
    same = digests["sales_tally"] == digests["straightforward"]
    print("outputs identical: %s" % ("yes" if same else "NO"))
    return 0 if same else 1


sys.exit(main())
