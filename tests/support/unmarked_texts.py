#!/usr/bin/env python3
"""unmarked_texts.py SOURCE_DIR

Fails on a string literal in app/ or zel/ that reads like a text for the user
(a capital letter, then words) but is not marked for the catalogs (Tr, TrN,
TrNoop). Literals that are not texts for the user (settings keys, journal
records, file names, D-Bus names) are listed in untranslated_texts.txt beside
this script, one per line.
"""
import glob
import os
import re
import subprocess
import sys

source = sys.argv[1]
os.chdir(source)
files = sorted(glob.glob("app/*.cpp") + glob.glob("app/*.h") + glob.glob("zel/*.cpp") + glob.glob("zel/*.h"))


def literals(*options):
    """(file:line, text) of every literal xgettext extracts with these options."""
    out = subprocess.run(["xgettext", "--language=C++", "--from-code=UTF-8", "--no-wrap", "--force-po",
                          "--omit-header", "--output=-", *options, *files],
                         check=True, capture_output=True, text=True).stdout
    found = set()
    for entry in out.split("\n\n"):
        places = [p for line in entry.splitlines() if line.startswith("#: ") for p in line[3:].split()]
        texts = [line for line in entry.splitlines() if line.startswith("msgid ") or line.startswith('"')]
        if not texts:
            continue
        text = "".join(eval(t[6:] if t.startswith("msgid ") else t) for t in texts
                       if not t.startswith("msgid_plural"))
        for place in places:
            found.add((place, text))
    return found


everything = literals("--extract-all")
marked = literals("--keyword", "--keyword=Tr", "--keyword=TrNoop", "--keyword=TrN:1,2")
marked_texts = {text for _, text in marked}
allowed = set()
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "untranslated_texts.txt"), encoding="utf-8") as f:
    allowed = {line.rstrip("\n") for line in f if line.strip() and not line.startswith("#")}

# A capital letter and a word of lower case letters after a blank: a sentence
# or a caption, not an identifier, a key or a path.
prose = re.compile(r"^[^A-Za-z]*[A-Z][a-z']*( [A-Za-z(\"'&%]|[a-z]* [a-z])")
unmarked = sorted((place, text) for place, text in everything - marked
                  if prose.search(text) and text not in allowed and text not in marked_texts)
for place, text in unmarked:
    print(f"{place}: unmarked text {text!r}")
sys.exit(1 if unmarked else 0)
