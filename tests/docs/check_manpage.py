#!/usr/bin/env python3
"""A manual page renders without a warning and documents exactly the options its program's --help lists.

The page's options are the long options that head its OPTIONS and FAULTS entries (the line after .TP).
"""
import argparse
import re
import subprocess
import sys

LONG_OPTION = re.compile(r"--[a-z][a-z0-9-]*")


def page_options(text):
    options, section, heading = set(), None, False
    for line in text.splitlines():
        if line.startswith(".SH "):
            section = line[4:].strip()
        elif line.startswith(".TP"):
            heading = True
            continue
        elif heading and section in ("OPTIONS", "FAULTS"):
            options |= set(LONG_OPTION.findall(line.replace("\\-", "-").split(" ")[1]))
        heading = False
    return options


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--groff", required=True)
    parser.add_argument("--page", required=True)
    parser.add_argument("--program", required=True)
    args = parser.parse_args()
    problems = []
    rendered = subprocess.run([args.groff, "-man", "-ww", "-z", args.page], capture_output=True, text=True)
    if rendered.returncode != 0 or rendered.stderr:
        problems.append("groff -man -ww -z %s:\n%s" % (args.page, rendered.stderr))
    usage = subprocess.run([args.program, "--help"], capture_output=True, text=True, timeout=30).stdout
    # The usage's option lines begin with the option; its examples may be other programs'.
    listed = {line.split()[0] for line in usage.splitlines() if LONG_OPTION.match(line.lstrip())}
    documented = page_options(open(args.page).read())
    for option in sorted(listed - documented):
        problems.append("%s lists %s; the page does not" % (args.program, option))
    for option in sorted(documented - listed):
        problems.append("the page documents %s; %s --help does not list it" % (option, args.program))
    print("\n".join(problems) or "%s: %d options, rendered without a warning" % (args.page, len(documented)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
