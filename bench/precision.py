"""How far the printed total drifts from the exact sum of the prices, and how
far it can.

    python3 bench/precision.py [--days D]

First what the arithmetic guarantees: each sale's rounding of the
single-precision total moves it by at most half a step between neighbouring
single-precision values of its size, the prices themselves are stored a
little off, and the double-precision steps add next to nothing; while the sum
of those bounds stays under half a cent, the printed cents are the exact
ones. That gives, for days that book less than $100, $1,000 or $10,000 in
all (sales taken back counted as if added), how many sales are always right
to the cent; the guides quote these figures and tests/guides.py holds them to
guaranteed_sales below.

Then what it does: builds the user preset and types generated days of sales
at the program, as a file piped in. For each count of sales, ordinary days
(a random product, 1 to 10 units, a sale: D of them up to 1,000 sales, ten
beyond) and one day on which every sale is one unit of product 1, the same
small step over and over. Compares the total printed with the exact sum in
cents and prints a Markdown table: the count of sales, the median ordinary
day's exact total, how many of those days came out a cent or more off, the
largest drift among them, and the one-unit day's exact total and drift;
then the prices it was measured with, a line the README quotes and its test
holds to src/price_list.h.
"""
import argparse
import math
import os
import random
import statistics
import struct
import subprocess
import sys
from fractions import Fraction

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROGRAM = os.path.join(ROOT, "build", "user", "sales_tally")
sys.path.insert(0, os.path.join(ROOT, "tests"))
from console_texts import prices  # the program's prices, read as the tests read them

COUNTS = [100, 200, 300, 500, 1_000, 10_000, 100_000, 1_000_000]
MANY_DAYS_UP_TO = 1_000
CEILINGS = [100, 1_000, 10_000]
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


def dollars(cents, sign=""):
    return "%s$%s" % ("-" if cents < 0 else sign if cents else "", format(abs(cents) / 100, ",.2f"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--days", type=int, default=1_000)
    args = parser.parse_args()

    print("Always right to the cent: " + ", ".join(
        "%s sales under $%s" % (format(guaranteed_sales(c), ","), format(c, ","))
        for c in CEILINGS) + ".\n")

    subprocess.run(["cmake", "--workflow", "--preset", "user"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    rows = [["sales", "ordinary day", "days a cent or more off", "worst drift", "one-unit day",
             "its drift"]]
    for count in COUNTS:
        rng = random.Random(count)
        days = args.days if count <= MANY_DAYS_UP_TO else 10
        measured = [drift_of([(rng.randint(1, 5), rng.randint(1, 10)) for _ in range(count)])
                    for _ in range(days)]
        off = sum(1 for _, drift in measured if drift != 0)
        largest = max(abs(drift) for _, drift in measured)
        one_unit_total, one_unit_drift = drift_of([(1, 1)] * count)
        rows.append([format(count, ","), dollars(statistics.median(t for t, _ in measured)),
                     "%s of %s" % (format(off, ","), format(days, ",")), dollars(largest),
                     dollars(one_unit_total), dollars(one_unit_drift, "+")])
    # Padded, so that the table reads as well in plain text as in Markdown.
    widths = [max(len(row[column]) for row in rows) for column in range(len(rows[0]))]
    rows.insert(1, ["-" * (width - 1) + ":" for width in widths])
    for row in rows:
        print("| " + " | ".join(cell.rjust(width) for cell, width in zip(row, widths)) + " |")
    listed = [dollars(cents) for _, cents in sorted(PRICE_CENTS.items())]
    print("\nMeasured with the prices %s and %s." % (", ".join(listed[:-1]), listed[-1]))


if __name__ == "__main__":
    main()
