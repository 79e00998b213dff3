"""What the tests and checks know of the program, read or written in this one
place: its own texts (written out here on purpose, so that a test of them
can fail), its prices (read from src/price_list.h, as Guides.cmake reads them
for the guides it writes, which guides.py holds to these) and the range of
product numbers they give, the .msi's
install folder (from packaging/sales_tally.wxs), and the command line the
Python scripts share:

    python3 SCRIPT.py [--crlf] PROGRAM [EMULATOR ARGS...]

--crlf: the program is a Windows build, whose every newline is CR LF.
"""
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PRICE_LIST = os.path.join(ROOT, "src", "price_list.h")
WXS = os.path.join(ROOT, "packaging", "sales_tally.wxs")

LONG = "Please enter the product number, then the quantity of the product sold."
SHORT = "\nEnter a -1 if done submitting: "
INVALID_PRODUCT = "\nInvalid product number. Please enter a number from 1 to 5."
INVALID_QUANTITY = "\nInvalid quantity. Please enter a whole number: "
REPORT_HEADING = "\n\nFinal retail value of all products sold: $"
REPORT_TAIL = "\n\n"
CLOSE_WINDOW = "Press any key to close this window."


def prices():
    """The prices as the program holds them, product number to dollars with
    two decimals ("2.98"), read from src/price_list.h."""
    with open(PRICE_LIST) as source:
        table = re.search(r"productPrices = \{([^}]*)\}", source.read()).group(1)
    return {number: "%.2f" % float(price.strip().rstrip("Ff"))
            for number, price in enumerate(table.split(","), start=1)}


def range_faults(text):
    """Each "1 to N" in text that names the product numbers (not "1 to 10
    units") with another N than the price list's count."""
    count = len(prices())
    return ["says 1 to %s, and the price list has %d products" % (last, count)
            for last in re.findall(r"\b1 to (\d+)\b(?! units)", text) if int(last) != count]


def install_folder():
    """The .msi's default install folder, as packaging/sales_tally.wxs names
    it."""
    with open(WXS) as wxs:
        name = re.search(r'<Directory Id="INSTALLDIR" Name="([^"]+)"', wxs.read()).group(1)
    return "C:\\Program Files\\" + name


def report(amount):
    return REPORT_HEADING + amount + REPORT_TAIL


def stale_texts(command, encode):
    """Each text above that the program no longer writes, said as a fault of
    this file, where the fix goes, not of the check that read it."""
    typed = "7\n1\nx\n3\n-1\n"
    written = subprocess.run(command, input=encode(typed), stdout=subprocess.PIPE,
                             check=False).stdout
    return ["tests/program_facts.py: the program does not write %s %r (typed %r): change it "
            "there to the program's" % (name, text, typed)
            for name, text in [("LONG", LONG), ("SHORT", SHORT),
                               ("INVALID_PRODUCT", INVALID_PRODUCT),
                               ("INVALID_QUANTITY", INVALID_QUANTITY),
                               ("REPORT_HEADING", REPORT_HEADING), ("REPORT_TAIL", REPORT_TAIL)]
            if encode(text) not in written]


def command_line():
    """Returns the command that starts the program, and an encoder that turns
    a text into the bytes the program writes for it."""
    args = sys.argv[1:]
    newline = "\n"
    if args and args[0] == "--crlf":
        newline = "\r\n"
        args = args[1:]
    program, emulator = args[0], args[1:]

    def encode(text):
        return text.replace("\n", newline).encode()

    return emulator + [program], encode
