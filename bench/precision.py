"""How far the printed total drifts from the exact sum of the prices.

    python3 bench/precision.py [--days D]

Builds the user preset and types generated days of sales at the program, as
a file piped in. For each count of sales: D days of ordinary sales (a random
product, 1 to 10 units, a sale), and one day on which every sale is one unit
of product 1, the same small step over and over. Compares the total printed
with the exact sum in cents and prints a Markdown table: the count of sales,
the median ordinary day's exact total, how many of those days came out to
the exact cent, the largest drift among them, and the one-unit day's exact
total and drift; then the prices it was measured with, a line the README
quotes and its test holds to src/price_list.h.
"""
import argparse
import os
import random
import re
import statistics
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROGRAM = os.path.join(ROOT, "build", "user", "sales_tally")
sys.path.insert(0, os.path.join(ROOT, "tests"))
from console_texts import prices  # the program's prices, read as the tests read them
COUNTS = [100, 200, 300, 500, 1_000, 10_000, 100_000, 1_000_000]
TOTAL = re.compile(rb"\$(-?)([0-9]+)\.([0-9][0-9])\s*$")
PRICE_CENTS = {number: round(float(price) * 100) for number, price in prices().items()}


def drift_of(sales):
    """Runs the program on the sales; returns (exact total, printed - exact),
    both in cents."""
    typed = "".join("%d %d\n" % sale for sale in sales) + "-1\n"
    output = subprocess.run([PROGRAM], input=typed.encode(), stdout=subprocess.PIPE,
                            check=True).stdout
    sign, dollars, cents = TOTAL.search(output).groups()
    printed = (-1 if sign else 1) * (int(dollars) * 100 + int(cents))
    exact = sum(PRICE_CENTS[product] * quantity for product, quantity in sales)
    return exact, printed - exact


def dollars(cents, sign=""):
    return "%s$%s" % ("-" if cents < 0 else sign if cents else "", format(abs(cents) / 100, ",.2f"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--days", type=int, default=10)
    args = parser.parse_args()
    subprocess.run(["cmake", "--workflow", "--preset", "user"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)

    rows = [["sales", "ordinary day", "days exact", "worst drift", "one-unit day", "its drift"]]
    for count in COUNTS:
        rng = random.Random(count)
        days = [drift_of([(rng.randint(1, 5), rng.randint(1, 10)) for _ in range(count)])
                for _ in range(args.days)]
        exact_days = sum(1 for _, drift in days if drift == 0)
        largest = max(abs(drift) for _, drift in days)
        one_unit_total, one_unit_drift = drift_of([(1, 1)] * count)
        rows.append([format(count, ","), dollars(statistics.median(total for total, _ in days)),
                     "%d of %d" % (exact_days, args.days), dollars(largest),
                     dollars(one_unit_total), dollars(one_unit_drift, "+")])
    # Padded, so that the table reads as well in plain text as in Markdown.
    widths = [max(len(row[column]) for row in rows) for column in range(len(rows[0]))]
    rows.insert(1, ["-" * (width - 1) + ":" for width in widths])
    for row in rows:
        print("| " + " | ".join(cell.rjust(width) for cell, width in zip(row, widths)) + " |")
    listed = [dollars(cents) for _, cents in sorted(PRICE_CENTS.items())]
    print("\nMeasured with the prices %s and %s." % (", ".join(listed[:-1]), listed[-1]))


main()
