"""Holds a guide to what the program really does: every price it states is
the one in src/price_list.h, and every session it shows is what the program
writes when the same numbers are typed.

    python3 guides.py GUIDE [--crlf] PROGRAM [EMULATOR ARGS...]

GUIDE is Markdown, plain text or a manual page's source. A folder in
Program Files is the .msi's install folder. A price is a line
that holds a product number and its price and nothing else (a table row),
or a list of all five prices. The guarantee of exact cents, "N sales under
$T", must be there and must be what bench/precision.py works out for the
program's prices; README.md's block that precision.py measured must have
been measured with them, and not changed since. A session runs from the long prompt to the
line with the total; what the operator typed is what follows a prompt on its
line, and every line that is none of the program's texts. Taken out of the
session with its Enter, what the operator typed leaves exactly what the
program wrote. No claim of exact cents may be one that no day reaches (N
sales that cost more than $T at the cheapest price). The part headed with
what loses the day names each key that does at the guide's terminal. Every
shell block that reads sales.txt runs, in the order given: on a good day's
file it shows or keeps the total and gives status 0, and on a file that
cannot be read it gives 1, whether as the block's status or where the
block echoes $?.
"""
import difflib
import os
import re
import subprocess
import sys
import tempfile

from program_facts import (CLOSE_WINDOW, INVALID_PRODUCT, INVALID_QUANTITY, LONG, REPORT_HEADING,
                           REPORT_TAIL, SHORT, command_line, install_folder, prices, range_faults)

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "bench"))
from precision import block_faults, guaranteed_sales

REPORT = REPORT_HEADING.strip("\n")
PROMPTS = [SHORT.strip("\n"), INVALID_QUANTITY.strip("\n"), REPORT]
OWN_LINES = [LONG, INVALID_PRODUCT.strip("\n"), ""]
PRICE_ROW = re.compile(r"^[\s|]*([1-9][0-9]*)[\s|]+\$([0-9]+\.[0-9][0-9])[\s|]*$")
MONEY = r"\$[0-9]+\.[0-9][0-9]"
PRICE_LIST_TEXT = re.compile(MONEY + "(?:, " + MONEY + ")+,? and " + MONEY)
GUARANTEE = re.compile(r"([0-9,]+) sales under \$([0-9,]+)")


def plain_lines(path):
    """The guide's lines as a reader sees them; a manual page's escapes
    undone and its requests left out."""
    with open(path, encoding="utf-8") as guide:
        lines = guide.read().replace("\r\n", "\n").split("\n")
    if not path.endswith((".1", ".1.in")):
        return list(enumerate(lines, start=1))
    plain = []
    for number, line in enumerate(lines, start=1):
        if not line.startswith((".", "'")):
            plain.append((number, line.replace(r"\-", "-").replace(r"\e", "\\")))
    return plain


def check_prices(name, lines, expected):
    faults, rows = [], {}
    for number, line in lines:
        row = PRICE_ROW.match(line)
        if row:
            rows[int(row.group(1))] = (number, row.group(2))
        for listed in PRICE_LIST_TEXT.findall(line):
            numbers = sorted(expected)
            if listed != (", ".join("$" + expected[p] for p in numbers[:-1]) + " and $"
                          + expected[numbers[-1]]):
                faults.append("%s:%d: %r, but the prices are %s" % (name, number, listed,
                                                                  sorted(expected.items())))
    if sorted(rows) != sorted(expected):
        faults.append("%s: the price table lists products %s" % (name, sorted(rows)))
    for product, (number, price) in sorted(rows.items()):
        if expected.get(product) != price:
            faults.append("%s:%d: product %d at $%s, but src/price_list.h has $%s"
                          % (name, number, product, price, expected.get(product)))
    return faults


def check_guarantee(name, lines):
    text = " ".join(" ".join(line.split()) for _, line in lines)
    claims = GUARANTEE.findall(text)
    faults = [] if claims else ["%s: no guarantee of exact cents (N sales under $T)" % name]
    cheapest = min(float(price) for price in prices().values())
    for sales, ceiling in claims:
        count, dollars = int(sales.replace(",", "")), int(ceiling.replace(",", ""))
        due = guaranteed_sales(dollars)
        if count != due:
            faults.append("%s: %s sales under $%s, but the arithmetic guarantees %d"
                          % (name, sales, ceiling, due))
        elif count * cheapest >= dollars:
            faults.append("%s: %s sales under $%s, which no day reaches: the cheapest sale is "
                          "$%.2f" % (name, sales, ceiling, cheapest))
    return faults


# The keys that lose a day at each guide's terminal: README.txt's is
# Windows' console, the others' a Linux terminal too.
LOSING_KEYS = {"README.txt": ["Ctrl-C"]}
HEADING = re.compile(r"^(#+ |\.SH |[A-Z][A-Z' ]+$)")


def check_keys(name, raw):
    """The part whose heading says what loses the day names every key that
    does."""
    keys = LOSING_KEYS.get(os.path.basename(name), ["Ctrl-C", "Ctrl-Z", "Ctrl-D"])
    part, inside = [], False
    for line in raw:
        if HEADING.match(line):
            inside = "LOSE" in line.upper()
        elif inside:
            part.append(line)
    text = " ".join(part)
    if not part:
        return ["%s: no part headed with what loses the day" % name]
    return ["%s: the part on what loses the day does not name %s" % (name, key)
            for key in keys if key not in text]


def shell_blocks(raw):
    """The shell blocks that read sales.txt: Markdown's sh blocks, a manual
    page's examples."""
    blocks, block = [], None
    for line in raw:
        if line in ("```sh", ".EX"):
            block = []
        elif line in ("```", ".EE") and block is not None:
            if any("sales.txt" in command for command in block):
                blocks.append(block)
            block = None
        elif block is not None:
            block.append(line.replace(r"\-", "-").replace(r"\(aq", "'").replace(r"\e", "\\"))
    return blocks


def check_shell_lines(name, raw, command):
    """Each block run by bash with the program on PATH, on a good day's
    file, without a mistake, and on one that cannot be read (a folder)."""
    day = "1 3\n4 2\n-1\n"
    total = subprocess.run(command, input=day.encode(), stdout=subprocess.PIPE,
                           check=False).stdout.decode().strip().split("\n")[-1]
    faults = []
    for block in shell_blocks(raw):
        script = "\n".join(block) + "\n"
        for good in [True, False]:
            with tempfile.TemporaryDirectory() as folder:
                os.symlink(os.path.abspath(command[0]), os.path.join(folder, "sales_tally"))
                if good:
                    with open(os.path.join(folder, "sales.txt"), "w") as sales:
                        sales.write(day)
                else:
                    os.mkdir(os.path.join(folder, "sales.txt"))
                env = dict(os.environ, PATH=folder + os.pathsep + os.environ["PATH"])
                run = subprocess.run(["bash", "-c", script], cwd=folder, env=env,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
                said = run.stdout.decode(errors="replace")
                kept = ""
                if os.path.isfile(os.path.join(folder, "day.txt")):
                    with open(os.path.join(folder, "day.txt")) as written:
                        kept = written.read()
            echoed = re.findall(r"^([0-9]+)$", said, re.M)
            status = int(echoed[0]) if "echo $?" in script and echoed else run.returncode
            if good and (status != 0 or total not in said + kept):
                faults.append("%s: %r on a good day's file gave status %d and %r, not 0 and "
                              "the total" % (name, script, status, said))
            if not good and status != 1:
                faults.append("%s: %r on a file that cannot be read gave status %d, not the "
                              "program's 1" % (name, script, status))
    return faults


def check_ranges(name, lines):
    """The range of product numbers, in words, is the price list's; and so
    it is in the program's text as the tests know it."""
    faults = ["%s:%d: %s" % (name, number, fault) for number, line in lines
              for fault in range_faults(line)]
    return faults + ["tests/program_facts.py: the invalid-product text " + fault
                     for fault in range_faults(INVALID_PRODUCT)]


def check_install_folder(name, lines):
    due = install_folder()
    return ["%s:%d: %s, but the .msi installs into %s" % (name, number, folder, due)
            for number, line in lines
            for folder in re.findall(r"C:\\Program Files\\[^\\\s\"`]+", line) if folder != due]


def check_quotations(name, lines):
    """Every quotation of a program text, however the guide wraps it, is
    that text word for word, or its start: one that begins with a text's
    first word and then says something else is a text the program no longer
    writes."""
    words = lambda text: " ".join(text.split())
    texts = [words(t) for t in [LONG, SHORT, INVALID_PRODUCT, INVALID_QUANTITY, REPORT_HEADING,
                                CLOSE_WINDOW]]
    joined = " ".join(line for _, line in lines)
    faults = []
    for quoted in (words(q) for q in re.findall(r'"([^"]+)"', joined)):
        begins_as_one = any(quoted.split()[0] == text.split()[0] for text in texts)
        if begins_as_one and not any(text.startswith(quoted) for text in texts):
            faults.append("%s: quotes %r, which the program does not write" % (name, quoted))
    # A line that opens with a text's first three words, as a heading or a
    # session's line, is that text or its start, and then what was typed.
    for number, line in lines:
        shown = words(line)
        for text in texts:
            if (shown.split()[:3] == text.split()[:3] and not text.startswith(shown)
                    and not shown.startswith(text)):
                faults.append("%s:%d: %r, which the program does not write" % (name, number, shown))
    return faults


def sessions(lines):
    """Each session: the line it starts on, the lines the operator typed, and
    what the program wrote; a session that never shows its total has None
    for the last."""
    found, session = [], None
    for number, line in lines:
        text = line.strip()
        if session is None:
            if text == LONG:
                session = (number, [], [])
            else:
                continue
        _, typed, written = session
        prompt = next((p for p in PROMPTS if text.startswith(p.rstrip())), None)
        if prompt == REPORT:
            written.append(text + REPORT_TAIL)
            found.append((session[0], typed, "".join(written)))
            session = None
        elif prompt is not None:
            # The newline after what was typed at a prompt is the operator's Enter.
            written.append(prompt)
            typed.append(text[len(prompt):].strip())
        elif text in OWN_LINES:
            written.append(text + "\n")
        else:
            typed.append(text)
    if session is not None:
        found.append((session[0], session[1], None))
    return found


def in_template(guide, faults):
    """A guide the build writes from packaging/NAME.in has its faults told at
    the template's line, where the fix goes."""
    template = os.path.join(ROOT, "packaging", os.path.basename(guide) + ".in")
    if not os.path.exists(template) or os.path.dirname(os.path.abspath(guide)) == ROOT:
        return faults
    with open(guide, encoding="utf-8") as text:
        written = text.read().replace("\r\n", "\n").split("\n")
    with open(template, encoding="utf-8") as text:
        source = text.read().split("\n")
    blocks = difflib.SequenceMatcher(None, source, written, autojunk=False).get_matching_blocks()

    def source_line(number):
        # Within a block of the template's own lines, or else the line that
        # was filled in (the price table, say) before it.
        line = 1
        for first_source, first_written, size in blocks:
            if first_written <= number - 1 < first_written + size:
                return first_source + number - first_written
            if first_written + size <= number - 1:
                line = first_source + size + 1
        return line

    name = os.path.relpath(guide, ROOT)
    told = os.path.relpath(template, ROOT)
    return [re.sub(r"^%s:(\d+):" % re.escape(name), lambda m: "%s:%d (%s:%s):" % (
        told, source_line(int(m.group(1))), name, m.group(1)), fault) for fault in faults]


def main():
    guide = sys.argv.pop(1)
    name = os.path.relpath(guide, ROOT)  # one in the build tree comes from packaging/*.in
    command, encode = command_line()
    lines = plain_lines(guide)
    faults = (check_prices(name, lines, prices()) + check_guarantee(name, lines)
              + check_ranges(name, lines) + check_install_folder(name, lines)
              + check_quotations(name, lines))
    if os.path.basename(guide) == "README.md":  # the one with the measured table
        with open(guide, encoding="utf-8") as text:
            faults += ["%s: %s" % (name, fault) for fault in block_faults(
                text.read(), [price for _, price in sorted(prices().items())])]
    with open(guide, encoding="utf-8") as text:
        raw = text.read().replace("\r\n", "\n").split("\n")
    faults += check_keys(name, raw)
    found = sessions(lines)
    if not found:
        faults.append("%s: no session shown" % name)
    if len(command) == 1:  # the shell's lines are Linux's
        faults += check_shell_lines(name, raw, command)
    for start, typed, written in found:
        if written is None:
            faults.append("%s:%d: the session shown here never reaches the total" % (name, start))
            continue
        fed = "".join(line + "\n" for line in typed if line)
        run = subprocess.run(command, input=encode(fed), stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, check=False)
        shown = encode(written)
        if run.returncode != 0 or run.stderr or run.stdout != shown:
            diff = difflib.unified_diff(shown.decode().splitlines(keepends=True),
                                        run.stdout.decode(errors="replace").splitlines(keepends=True),
                                        "the guide", "the program")
            faults.append("%s:%d: typed %r, status %d; what the guide shows, against what the "
                          "program wrote:\n%s" % (name, start, fed, run.returncode, "".join(diff)))
    if faults:
        sys.exit("\n".join(in_template(guide, faults)))
    print("%s: %d sessions, prices: 1 passed, 0 failed" % (name, len(found)))


main()
