"""How far the printed total drifts from the exact sum of the prices, and how
far it can.

    python3 bench/precision.py [--days D] [--write bench/README.md]

First what the arithmetic guarantees: each sale's rounding of the
single-precision total moves it by at most half a step between neighbouring
single-precision values of its size, the prices themselves are stored a
little off, and the double-precision steps add next to nothing; while the sum
of those bounds stays under half a cent, the printed cents are the exact
ones. Every sale but one of 0 units costs at least the cheapest price, so a
ceiling on what a day books (sales taken back counted as if added) bounds its
sales too: guaranteed_total below is the largest whole hundred of dollars
under which every day is right to the cent. The guides quote it and
tests/guides.py holds them to it.

Then what it does: builds the user preset and types generated days of sales
at the program, as a file piped in. For each count of sales, ordinary days
(a random product, 1 to 10 units, a sale: D of them up to 1,000 sales, ten
beyond) and one day on which every sale is one unit of product 1, the same
small step over and over. Compares the total printed with the exact sum in
cents and prints a Markdown table: the count of sales, the median ordinary
day's exact total, how many of those days came out a cent or more off, the
largest drift among them, and the one-unit day's exact total and drift;
then what the table shows, in words, and the prices it was measured with.
With --write, that block replaces the one between the markers in bench/README.md,
closed by a line that names the prices and a digest of the block:
tests/guides.py (block_faults) fails a block whose prices are no longer
the program's, or that was edited by hand.
"""
import argparse
import hashlib
import math
import os
import random
import statistics
import struct
import subprocess
import sys
import textwrap
from fractions import Fraction

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROGRAM = os.path.join(ROOT, "build", "user", "sales_tally")
sys.path.insert(0, os.path.join(ROOT, "tests"))
from program_facts import prices  # the program's prices, read as the tests read them

COUNTS = [100, 200, 300, 500, 1_000, 10_000, 100_000, 1_000_000]
MANY_DAYS_UP_TO = 1_000
PRICE_CENTS = {number: round(float(price) * 100) for number, price in prices().items()}


def single(value):
    """The single-precision value nearest to value, exactly."""
    return Fraction(struct.unpack("f", struct.pack("f", value))[0])


def guaranteed_sales(ceiling):
    """How many sales always print the exact cents while all a day books
    comes to less than ceiling dollars."""
    # Every running total then lies below the next power of two, 2**k, where
    # neighbouring single-precision values are 2**(k - 24) apart.
    k = math.ceil(math.log2(ceiling))
    rounding = Fraction(2) ** (k - 25)  # half a step, per sale
    double_steps = 2 * Fraction(2) ** (k - 53)  # the line value and the sum, per sale
    stored = max(abs(single(cents / 100) - Fraction(cents, 100)) / Fraction(cents, 100)
                 for cents in PRICE_CENTS.values())
    room = Fraction(1, 200) - ceiling * stored  # half a cent, less what the prices are off
    return math.ceil(room / (rounding + double_steps)) - 1


def guaranteed_total():
    """The largest whole hundred of dollars under which every day prints the
    exact cents, whatever its sales."""
    cheapest = min(PRICE_CENTS.values())
    total = 0
    while guaranteed_sales(total + 100) >= (total + 100) * 100 // cheapest:
        total += 100
    return total


def drift_of(sales):
    """Runs the program on the sales; returns (exact total, printed - exact),
    both in cents."""
    typed = "".join("%d %d\n" % sale for sale in sales) + "-1\n"
    output = subprocess.run([PROGRAM], input=typed.encode(), stdout=subprocess.PIPE,
                            check=True).stdout
    amount = output.rstrip().rsplit(b"$", 1)[1]
    printed = round(float(amount) * 100)
    exact = sum(PRICE_CENTS[product] * quantity for product, quantity in sales)
    return exact, printed - exact


BEGIN = "<!-- bench/precision.py --write bench/README.md measures this block -->"
END = "<!-- end of what bench/precision.py measures -->"


def seal(text, prices_given):
    """The line that closes a block: the prices it was measured with, and a
    digest of the block and those prices."""
    given = " ".join(prices_given)
    digest = hashlib.sha256((text + given).encode()).hexdigest()
    return "<!-- measured with the prices %s; sha256 %s -->" % (given, digest)


def block_faults(guide_text, prices_now):
    """What is wrong with a guide's measured block: missing, measured with
    other prices than prices_now, or edited since it was measured."""
    start, end = guide_text.find(BEGIN), guide_text.find(END)
    if start < 0 or end < start:
        return ["no block that bench/precision.py measured"]
    lines = guide_text[start + len(BEGIN):end].strip("\n").split("\n")
    text, sealed = "\n".join(lines[:-1]) + "\n", lines[-1]
    measured_with = sealed.split("the prices ")[-1].split(";")[0].split()
    again = "measure it again: python3 bench/precision.py --write bench/README.md"
    if measured_with != prices_now:
        return ["the precision block was measured with the prices %s, the program's are %s: %s"
                % (measured_with, prices_now, again)]
    if sealed != seal(text, prices_now):
        return ["the precision block was changed by hand since it was measured: " + again]
    return []


def dollars(cents, sign=""):
    return "%s$%s" % ("-" if cents < 0 else sign if cents else "", format(abs(cents) / 100, ",.2f"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--days", type=int, default=1_000)
    parser.add_argument("--write", metavar="bench/README.md", help="replace the measured block")
    args = parser.parse_args()

    print("Always right to the cent: a day of less than $%s in all.\n"
          % format(guaranteed_total(), ","))

    subprocess.run(["cmake", "--workflow", "--preset", "user"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    rows = [["sales", "ordinary day", "days a cent or more off", "worst drift", "one-unit day",
             "its drift"]]
    rates = {}
    for count in COUNTS:
        rng = random.Random(count)
        days = args.days if count <= MANY_DAYS_UP_TO else 10
        measured = [drift_of([(rng.randint(1, 5), rng.randint(1, 10)) for _ in range(count)])
                    for _ in range(days)]
        off = sum(1 for _, drift in measured if drift != 0)
        rates[count] = "once in %s" % format(round(days / off), ",") if off else "never"
        largest = max(abs(drift) for _, drift in measured)
        one_unit_total, one_unit_drift = drift_of([(1, 1)] * count)
        rows.append([format(count, ","), dollars(statistics.median(t for t, _ in measured)),
                     "%s of %s" % (format(off, ","), format(days, ",")), dollars(largest),
                     dollars(one_unit_total), dollars(one_unit_drift, "+")])
    # Padded, so that the table reads as well in plain text as in Markdown.
    widths = [max(len(row[column]) for row in rows) for column in range(len(rows[0]))]
    rows.insert(1, ["-" * (width - 1) + ":" for width in widths])
    table = ["| " + " | ".join(cell.rjust(width) for cell, width in zip(row, widths)) + " |"
             for row in rows]
    long_total, long_drift = drift_of([(1, 1)] * 200_000)
    listed = [dollars(cents) for _, cents in sorted(PRICE_CENTS.items())]
    paragraphs = [
        "Past that, the cents are often still right but no longer certain. The table gives, for "
        "days of each length, the median total of ordinary days (a random product, 1 to 10 "
        "units, a sale: %s days up to %s sales, ten beyond), how many of them came out a cent "
        "or more off and the worst drift among them; then a day of the same sale over and "
        "over, one unit of product 1, and its drift."
        % (format(args.days, ","), format(MANY_DAYS_UP_TO, ",")),
        "\n".join(table),
        "So an ordinary day of 200 sales was a cent off %s, of 300 sales %s, and from 500 "
        "sales, or a total past about $10,000, almost always: by a few cents up to some "
        "thousand sales, by dollars at ten thousand, and by hundreds to tens of thousands of "
        "dollars once the total runs into millions. 200,000 sales of one unit of product 1, "
        "%s in all, print $%.2f. For a long day, close the tally now and then (`-1`), start a "
        "new one and add up the totals."
        % (rates[200], rates[300], dollars(long_total), (long_total + long_drift) / 100),
        "Measured with the prices %s and %s." % (", ".join(listed[:-1]), listed[-1])]
    text = "\n\n".join(p if p.startswith("|") else textwrap.fill(p, 76)
                        for p in paragraphs) + "\n"
    print(text)
    if args.write:
        with open(args.write) as guide:
            old = guide.read()
        start, end = old.index(BEGIN), old.index(END)
        sealed = seal(text, [price for _, price in sorted(prices().items())])
        with open(args.write, "w") as guide:
            guide.write(old[:start] + BEGIN + "\n" + text + sealed + "\n" + old[end:])
        print("written into " + args.write)


if __name__ == "__main__":
    main()
