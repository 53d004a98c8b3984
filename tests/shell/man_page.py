#!/usr/bin/python3
"""The manual page documents exactly the options that the program's --help prints, each with the
same spellings and value name:

    /usr/bin/python3 man_page.py PATH_OF_OSTREL PATH_OF_MAN_PAGE
"""

import re
import subprocess
import sys

# Each section of the manual page that lists options, and the command whose --help it follows.
SECTIONS = [("OPTIONS", []), ("EVENTS OPTIONS", ["events"])]


def entry(text):
    """"-s, --source <SOURCE>" gives (("--source", "-s"), ("SOURCE",))."""
    return (tuple(sorted(re.findall(r"(?<![\w-])--?[a-z][\w-]*", text))),
            tuple(re.findall(r"\b[A-Z][A-Z_]+\b", text)))


def main(binary, page_path):
    with open(page_path) as page:
        page = page.read()
    failed = False
    for section, command in SECTIONS:
        printed = subprocess.run([binary, *command, "--help"], capture_output=True, text=True,
                                 check=True).stdout
        # "  -s, --source <SOURCE>  Video source: ...": the option column ends at two spaces.
        printed = {entry(column) for column in re.findall(r"^  (-\S.*?)(?:  |$)", printed, re.M)}
        body = re.search(r"^\.SH %s\n(.*?)(?=^\.SH |\Z)" % section, page, re.M | re.S)
        # The line after .TP is an entry's tag: .BR \-s ", " \-\-source " \fISOURCE\fR"
        tags = re.findall(r"^\.TP\n(.*)$", body.group(1) if body else "", re.M)
        documented = {entry(re.sub(r'^\.\w+|\\f[BIRP]|[\\"]', "", tag)) for tag in tags}
        for what, entries in (("not in the manual page", printed - documented),
                              ("not printed by --help", documented - printed)):
            for spellings, values in sorted(entries):
                print("%s %s: %s %s" % (section, what, ", ".join(spellings), " ".join(values)))
                failed = True
        print("%s: %d options checked" % (section, len(printed | documented)))
    sys.exit(1 if failed or not printed else 0)


if __name__ == "__main__":
    main(*sys.argv[1:])
