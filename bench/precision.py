"""How far the printed total drifts from the exact sum of the prices.

    python3 bench/precision.py [--days D]

Builds the user preset and types generated days of sales at the program, as
a file piped in. For each count of sales: D days of ordinary sales (a random
product, 1 to 10 units, a sale), and one day on which every sale is one unit
of product 1, the same small step over and over. Compares the total printed
with the exact sum in cents and prints a Markdown table: the count, the
median day's exact total, how many days came out to the exact cent, the
largest drift seen, and the one-unit day's exact total and drift.
"""
import argparse
import os
import random
import re
import statistics
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROGRAM = os.path.join(ROOT, "build", "user", "sales_tally")
PRICE_CENTS = {1: 298, 2: 450, 3: 998, 4: 449, 5: 687}
COUNTS = [100, 200, 300, 500, 1_000, 10_000, 100_000, 1_000_000]
TOTAL = re.compile(rb"\$(-?)([0-9]+)\.([0-9][0-9])\s*$")


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

    print("| sales | ordinary day's total | days exact to the cent | largest drift "
          "| one unit of product 1 a sale | its drift |")
    print("|---:|---:|---:|---:|---:|---:|")
    for count in COUNTS:
        rng = random.Random(count)
        days = [drift_of([(rng.randint(1, 5), rng.randint(1, 10)) for _ in range(count)])
                for _ in range(args.days)]
        exact_days = sum(1 for _, drift in days if drift == 0)
        largest = max(abs(drift) for _, drift in days)
        one_unit_total, one_unit_drift = drift_of([(1, 1)] * count)
        print("| %s | %s | %d of %d | %s | %s | %s |"
              % (format(count, ","), dollars(statistics.median(total for total, _ in days)),
                 exact_days, args.days, dollars(largest), dollars(one_unit_total),
                 dollars(one_unit_drift, "+")))


main()
