#!/usr/bin/env python3
"""docs/size.md's example reports are what morvane-size prints for the examples.

Each `<!-- size: NAME -->` marker is followed by a fenced block holding the
report of examples/NAME.java, linked against the class library; each
`<!-- size-list: NAME -->` marker by the first lines of main in its listing.
--update writes them into the page instead of checking them. Every
catalogue line the page quotes is checked against the catalogue.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

BLOCK = re.compile(r"(<!-- size(-list)?: (\w+) -->\n```text\n)(.*?)(```)", re.S)
MAIN = re.compile(r"^; \(\d+\) Method main /\* \(\)V \*/$", re.M)
LISTED_LINES = 12
QUOTED = re.compile(r"\[Error (\w+)-(\d{4})\] ([^`\n]*)")
ROW = re.compile(r'\{ec(\w+), (\d+), "((?:[^"\\]|\\.)*)"')


def catalogue_problems(text, catalogue):
    rows = {(cat, int(num)): message for cat, num, message in ROW.findall(open(catalogue).read())}
    problems = []
    # A quote may run over a line end.
    for cat, num, quoted in QUOTED.findall(re.sub(r"[ \t]*\n[ \t]*", " ", text)):
        message = rows.get((cat, int(num)))
        if message is None:
            problems.append("the page quotes %s-%s, which the catalogue does not hold" % (cat, num))
            continue
        # An argument may be shown as its conversion or as a value; a quote may stop at "...".
        pattern = re.escape(message).replace("%s", ".*").replace("%d", "(%d|\\d+)")
        cut = " ..." in quoted
        quoted = quoted.split(" ...")[0]
        literal = message.split("%")[0]
        if cut:
            matches = quoted.startswith(literal) or literal.startswith(quoted)
        else:
            matches = re.fullmatch(pattern, quoted) is not None
        if not matches:
            problems.append("the page quotes %s-%s as %r; the catalogue says %r" % (cat, num, quoted, message))
    return problems


def report(build, source, name, listing):
    # The sources lie apart from the classes: on the class path after them.
    path = ";".join([build + "/share/morvane/lib", build + "/examples/classes", source])
    with tempfile.TemporaryDirectory() as work:
        listed = os.path.join(work, name + ".lst")
        options = ["--list", listed] if listing else []
        run = subprocess.run([build + "/bin/morvane-size", "--path", path] + options + [name],
                             capture_output=True, text=True, timeout=60)
        if run.returncode != 0:
            raise SystemExit("morvane-size %s: exit code %d\n%s" % (name, run.returncode, run.stdout + run.stderr))
        if not listing:
            return run.stdout
        text = open(listed).read()
    start = MAIN.search(text)
    if not start:
        raise SystemExit("the listing of %s has no main ()V" % name)
    return "".join(text[start.start():].splitlines(True)[:LISTED_LINES])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--doc", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--examples", required=True, help="the examples' sources")
    parser.add_argument("--catalogue", required=True)
    parser.add_argument("--update", action="store_true")
    args = parser.parse_args()
    text = open(args.doc).read()
    problems = catalogue_problems(text, args.catalogue)
    blocks = list(BLOCK.finditer(text))
    if not blocks:
        problems.append("%s holds no example report" % args.doc)

    def replace(match):
        name = match.group(3)
        printed = report(args.build, args.examples, name, match.group(2) is not None)
        if printed != match.group(4):
            problems.append("the %s of %s differs from what morvane-size prints:\n%s"
                            % ("listing" if match.group(2) else "report", name, printed))
        return match.group(1) + printed + match.group(5)

    updated = BLOCK.sub(replace, text)
    if args.update:
        open(args.doc, "w").write(updated)
        print("%s: %d reports written" % (args.doc, len(blocks)))
        return 0
    print("\n".join(problems) or "%s: %d reports as printed" % (args.doc, len(blocks)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
