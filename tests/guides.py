"""Holds a guide to what the program really does: every price it states is
the one in src/price_list.h, and every session it shows is what the program
writes when the same numbers are typed.

    python3 guides.py GUIDE [--crlf] PROGRAM [EMULATOR ARGS...]

GUIDE is Markdown, plain text or a manual page's source. A folder in
Program Files is the .msi's install folder. A price is a line
that holds a product number and its price and nothing else (a table row),
or a list of all five prices. The guarantee of exact cents, "less than $T
in all", must be there and must be what bench/precision.py works out for
the program's prices; bench/README.md's block that precision.py measured
must have been measured with them, and not changed since. A session runs
from the long prompt to the line with the total; what the operator typed is
what follows a prompt on its line, and every line that is none of the
program's texts. Taken out of the session with its Enter, what the operator
typed leaves exactly what the program wrote. The part headed with what
loses the day names each key and habit that does at the guide's console.
Every recipe that reads sales.txt is run as written, and must tell a good
day from a shifted one (check_recipes).
"""
import difflib
import os
import re
import subprocess
import sys
import tempfile

from program_facts import (CLOSE_WINDOW, INVALID_PRODUCT, INVALID_QUANTITY, LONG, REPORT_HEADING,
                           REPORT_TAIL, SHORT, command_line, install_folder, prices, range_faults,
                           stale_texts)

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "bench"))
from precision import block_faults, guaranteed_total

REPORT = REPORT_HEADING.strip("\n")
PROMPTS = [SHORT.strip("\n"), INVALID_QUANTITY.strip("\n"), REPORT]
OWN_LINES = [LONG, INVALID_PRODUCT.strip("\n"), ""]
PRICE_ROW = re.compile(r"^[\s|]*([1-9][0-9]*)[\s|]+\$([0-9]+\.[0-9][0-9])[\s|]*$")
MONEY = r"\$[0-9]+\.[0-9][0-9]"
PRICE_LIST_TEXT = re.compile(MONEY + "(?:, " + MONEY + ")+,? and " + MONEY)
GUARANTEE = re.compile(r"less than \$([0-9,]+) in all")


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
    """The guarantee of exact cents, "less than $T in all", is the one the
    arithmetic gives at the program's prices."""
    text = " ".join(" ".join(line.split()) for _, line in lines)
    claims = GUARANTEE.findall(text)
    due = guaranteed_total()
    faults = [] if claims else ["%s: no guarantee of exact cents (less than $T in all)" % name]
    return faults + ["%s: exact cents for a day of less than $%s in all, but the arithmetic "
                     "guarantees $%s (bench/precision.py)" % (name, ceiling, format(due, ","))
                     for ceiling in claims if int(ceiling.replace(",", "")) != due]


# What the part on what loses the day names, for each guide's reader:
# README.txt's is at Windows' console, the others' at a Linux terminal.
MUST_NAME = {"README.txt": ["Up arrow", "F3", "Ctrl-Z", "Ctrl-C", "-1 typed as a quantity"]}
LINUX_KEYS = ["Ctrl-C", "Ctrl-\\", "Ctrl-Z", "Ctrl-D", "Ctrl-S"]
HEADING = re.compile(r"^(#+ |\.SH |[A-Z][A-Z' ]+$)")
# Said of a day's file on evidence that cannot show it.
UNPROVABLE = re.compile(r"read as (it was )?meant|the file is (fine|right|good)", re.I)


def check_keys(name, raw):
    """The part whose heading says what loses the day names every key and
    habit that does, or that books money nobody meant."""
    named = MUST_NAME.get(os.path.basename(name), LINUX_KEYS)
    part, inside = [], False
    for line in raw:
        if HEADING.match(line):
            inside = "LOSE" in line.upper()
        elif inside:
            part.append(line.replace(r"\e", "\\").replace(r"\-", "-"))
    text = " ".join(" ".join(part).split())
    if not part:
        return ["%s: no part headed with what loses the day" % name]
    return ["%s: the part on what loses the day does not name %s" % (name, what)
            for what in named if what not in text]


def check_claims(name, lines):
    return ["%s:%d: %r: no check of a day's file can show that" % (name, number, line.strip())
            for number, line in lines if UNPROVABLE.search(line)]


def recipes(name, raw):
    """The blocks of commands that read sales.txt: a text guide's indented
    lines, Markdown's sh blocks, a manual page's examples."""
    blocks, block = [], None
    for line in raw + [""]:
        if name.endswith(".txt"):
            if line.startswith("    "):
                block = (block or []) + [line.strip()]
                continue
            if block is not None:
                blocks.append(block)
            block = None
        elif line in ("```sh", ".EX"):
            block = []
        elif line in ("```", ".EE") and block is not None:
            blocks.append(block)
            block = None
        elif block is not None:
            block.append(line.replace(r"\-", "-").replace(r"\(aq", "'").replace(r"\e", "\\"))
    return [block for block in blocks if any("sales.txt" in command for command in block)]


def command_prompt(block, folder, command):
    """Runs a command prompt's lines in folder as Windows' cmd would, as far
    as they go: Wine's cmd runs them only in part (its find knows no /c).
    Returns what they said and their status."""
    def path(name):
        return os.path.join(folder, name.strip('"'))

    def lines_of(name):
        with open(path(name), "rb") as text:
            return text.read().decode(errors="replace").replace("\r\n", "\n").split("\n")[:-1]

    said, status = [], 0
    for line in block:
        words = re.findall(r'"[^"]*"|\S+', line)
        if words[0] == "cd":
            continue
        if words[:2] == ["if", "exist"] and words[3] == "del":
            if os.path.exists(path(words[2])):
                os.remove(path(words[2]))
        elif "sales_tally.exe" in line:
            source, sink = re.search(r"< *(\S+) *> *(\S+)$", line).groups()
            if not os.path.exists(path(source)):
                said.append("The system cannot find the file specified.")
                continue
            given = os.open(path(source), os.O_RDONLY)  # a folder too, as cmd opens it
            with open(path(sink), "wb") as kept:
                status = subprocess.run(command, stdin=given, stdout=kept, check=False).returncode
            os.close(given)
        elif line == "echo %ERRORLEVEL%":
            said.append(str(status))
        elif words[0] in ("find", "findstr"):
            counting, wanted = words[1] == "/c", words[-2].strip('"')
            if not os.path.isfile(path(words[-1])):
                said.append("File not found - " + words[-1].upper())
                status = 1
                continue
            # An empty string matches no line: find /v "" counts them all.
            found = [l for l in lines_of(words[-1])
                     if (wanted != "" and wanted in l) != ("/v" in words)]
            said += (["---------- %s: %d" % (words[-1].upper(), len(found))] if counting
                     else found)
            status = 0 if found or counting else 1
        else:
            said.append("%r: a command this check does not know" % line)
    return "\n".join(said) + "\n", status


# The days each recipe is tried on: a good one; the same with an empty cell,
# which shifts every pair after it without a message; one that cannot be
# read (a folder); and none at all, beside the last run's day.txt.
DAYS = {"good": "1\t3\n2\t1\n4\t2\n-1\n", "shifted": "1\t3\n2\t\n4\t2\n-1\n",
        "unreadable": None, "missing": None}


def try_recipe(name, block, command, day):
    """Runs a recipe in a folder of its own on a day; returns its status (the
    one it echoes, where it does), what it said and what it kept in day.txt."""
    with tempfile.TemporaryDirectory() as folder:
        sales, kept = os.path.join(folder, "sales.txt"), os.path.join(folder, "day.txt")
        if day == "unreadable":
            os.mkdir(sales)
        elif day == "missing":
            with open(kept, "wb") as stale:
                stale.write(b"yesterday's")
        else:
            with open(sales, "w") as written:
                written.write(DAYS[day])
        if name.endswith(".txt"):
            said, status = command_prompt(block, folder, command)
        else:
            os.symlink(os.path.abspath(command[-1]), os.path.join(folder, "sales_tally"))
            env = dict(os.environ, PATH=folder + os.pathsep + os.environ["PATH"])
            run = subprocess.run(["bash", "-c", "\n".join(block) + "\n"], cwd=folder, env=env,
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
            said, status = run.stdout.decode(errors="replace"), run.returncode
        echoed = re.findall(r"^([0-9]+)$", said, re.M)
        if any(echo in block for echo in ["echo $?", "echo %ERRORLEVEL%"]) and echoed:
            status = int(echoed[0])
        with open(kept, "rb") if os.path.isfile(kept) else open(os.devnull, "rb") as text:
            return status, said, text.read().decode(errors="replace")


def check_recipes(name, raw, command):
    """Each recipe, run as written: on a good day it gives status 0 and the
    total; on a shifted day it says something it does not say on the good
    one, besides the total; on a day that cannot be read, status 1; and with
    no day at all, it leaves no earlier day's total as if it were today's."""
    total = subprocess.run(command, input=DAYS["good"].encode(), stdout=subprocess.PIPE,
                           check=False).stdout.decode().strip().split("\n")[-1].strip()
    faults = []
    without_total = lambda said: [l for l in said.splitlines() if REPORT not in l]
    for block in recipes(name, raw):
        runs = {day: try_recipe(name, block, command, day) for day in DAYS}
        status, said, kept = runs["good"]
        if status != 0 or total not in said + kept:
            faults.append("%s: %r on a good day's file gave status %d and %r, not 0 and the "
                          "total" % (name, block, status, said))
        if without_total(runs["shifted"][1]) == without_total(said):
            faults.append("%s: %r says nothing of a file with an empty cell (%r), which books "
                          "wrong money" % (name, block, DAYS["shifted"]))
        if runs["unreadable"][0] != 1:
            faults.append("%s: %r on a file that cannot be read gave status %d, not the "
                          "program's 1" % (name, block, runs["unreadable"][0]))
        if runs["missing"][0] == 0 and "yesterday's" in runs["missing"][2]:
            faults.append("%s: %r with no sales.txt gives status 0 and leaves the last day.txt"
                          % (name, block))
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
    stale = stale_texts(command, encode)
    if stale:  # the guides' quotations are held to these
        sys.exit("\n".join(stale))
    lines = plain_lines(guide)
    faults = (check_prices(name, lines, prices()) + check_guarantee(name, lines)
              + check_ranges(name, lines) + check_install_folder(name, lines)
              + check_quotations(name, lines))
    if os.path.basename(guide) == "README.md":  # it points to the measured drift
        measured = os.path.join(ROOT, "bench", "README.md")
        with open(measured, encoding="utf-8") as text:
            faults += ["bench/README.md: %s" % fault for fault in block_faults(
                text.read(), [price for _, price in sorted(prices().items())])]
        faults += check_guarantee("bench/README.md", plain_lines(measured))
    with open(guide, encoding="utf-8") as text:
        raw = text.read().replace("\r\n", "\n").split("\n")
    faults += check_keys(name, raw) + check_claims(name, lines)
    found = sessions(lines)
    if not found:
        faults.append("%s: no session shown" % name)
    if len(command) == 1 or name.endswith(".txt"):  # bash's lines are run natively
        faults += check_recipes(name, raw, command)
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
            refused = INVALID_PRODUCT.strip("\n").encode()
            hint = ("" if run.stdout.count(refused) >= shown.count(refused) else
                    "the session refuses a product number the price list now sells (1 to %d): "
                    "give the example one past it; " % len(prices()))
            faults.append("%s:%d: typed %r, status %d; %swhat the guide shows, against what the "
                          "program wrote:\n%s" % (name, start, fed, run.returncode, hint,
                                                   "".join(diff)))
    if faults:
        sys.exit("\n".join(in_template(guide, faults)))
    print("%s: %d sessions, prices: 1 passed, 0 failed" % (name, len(found)))


main()
