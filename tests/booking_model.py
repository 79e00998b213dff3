"""The booking arithmetic worked out apart from the program, for the expected
totals of tests/price_list_test.cpp and tests/closing_report_test.cpp after
a price changes: each line value and sum in double precision, the total
rounded to single precision after every sale, at the prices of
src/price_list.h (program_facts.py).

    python3 tests/booking_model.py "1:3"                  3 units of product 1
    python3 tests/booking_model.py "1:7 2:3 3:11" 20000   those sales, 20,000 times over
    python3 tests/booking_model.py --each-price 1048576   that many units of each product

Prints each total as the C++ tests write it (0x1.1e147cp+3F) and in dollars.
"""
import argparse
import struct

from program_facts import prices


def single(value):
    """value rounded to single precision, to nearest, ties to even."""
    return struct.unpack("f", struct.pack("f", value))[0]


def book(total, quantity, product):
    price = single(float(prices()[product]))  # the stored price, widened exactly
    return single(total + float(quantity) * price)


def as_cpp(value):
    mantissa, exponent = float(value).hex().split("p")
    return "%sp%sF" % (mantissa.rstrip("0").rstrip("."), exponent)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("sales", nargs="?", help='"PRODUCT:QUANTITY ..."')
    parser.add_argument("repeat", nargs="?", type=int, default=1)
    parser.add_argument("--each-price", type=int, metavar="QUANTITY")
    args = parser.parse_args()
    if args.each_price is not None:
        for product in sorted(prices()):
            total = book(0.0, args.each_price, product)
            print("product %d: %s  ($%.2f)" % (product, as_cpp(total), total))
        return
    sales = [tuple(int(n) for n in sale.split(":")) for sale in args.sales.split()]
    total = 0.0
    for _ in range(args.repeat):
        for product, quantity in sales:
            total = book(total, quantity, product)
    print("%s  ($%.2f)" % (as_cpp(total), total))


main()
