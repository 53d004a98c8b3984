#!/usr/bin/python3
"""The manual page documents exactly the options that the program's --help prints, each with the
same spellings and value name:

    /usr/bin/python3 man_page.py PATH_OF_OSTREL PATH_OF_MAN_PAGE
"""

import re
import subprocess
import sys

# Each section of the manual page that lists options, and the command whose --help it follows.
SECTIONS = [("OPTIONS", [])]


def entry(text):
    """An option entry as (spellings, value names): "-s, --source <SOURCE>" gives
    (("--source", "-s"), ("SOURCE",))."""
    return (tuple(sorted(re.findall(r"(?<![\w-])--?[a-z][\w-]*", text))),
            tuple(re.findall(r"\b[A-Z][A-Z_]+\b", text)))


def help_entries(binary, command):
    result = subprocess.run([binary, *command, "--help"], capture_output=True, text=True, check=True)
    # "  -s, --source <SOURCE>  Video source: ...": the option column ends at two spaces.
    return {entry(match) for match in re.findall(r"^  (-\S.*?)(?:  |$)", result.stdout, re.M)}


def man_entries(page, section):
    found = re.search(r"^\.SH %s\n(.*?)(?=^\.SH |\Z)" % section, page, re.M | re.S)
    if found is None:
        sys.exit("the manual page has no section %s" % section)
    # The line after .TP is the entry's tag, e.g. .BR \-s ", " \-\-source " \fISOURCE\fR"
    tags = re.findall(r"^\.TP\n(.*)$", found.group(1), re.M)
    return {entry(re.sub(r'^\.\w+|\\f[BIRP]|[\\"]', "", tag)) for tag in tags}


def main(binary, page_path):
    with open(page_path) as page:
        page = page.read()
    failed = False
    for section, command in SECTIONS:
        printed, documented = help_entries(binary, command), man_entries(page, section)
        for what, entries in (("not in the manual page", printed - documented),
                              ("not printed by --help", documented - printed)):
            for spellings, values in sorted(entries):
                print("%s: %s %s" % (what, ", ".join(spellings), " ".join(values)))
                failed = True
        print("%s: %d options checked" % (section, len(printed | documented)))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: man_page.py PATH_OF_OSTREL PATH_OF_MAN_PAGE")
    main(*sys.argv[1:])
