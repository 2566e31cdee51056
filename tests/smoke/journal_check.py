#!/usr/bin/env python3
"""Checks of the document journal for the crash tests, against what the
recorder helper saw opened (its records: NUL-terminated pid, working
directory, argc, argv..., descriptors).

  journal_check.py killed APPDIR OPENED ALLOWED   after a SIGKILL: the journal's
      successes are what was opened, but for at most the document in
      progress, which is noted in ALLOWED as one that may open twice
  journal_check.py exact APPDIR OPENED             the successes are exactly
      what was opened, each once (a clean end)
  journal_check.py complete DOCSDIR OPENED ALLOWED every document was opened,
      and none twice unless ALLOWED says so
  journal_check.py count APPDIR                    prints the number of journals
  journal_check.py opened OPENED                   prints the number of openings
  journal_check.py locked FILE                     exit 0 when FILE's lock is held
"""
import collections
import fcntl
import glob
import os
import sys


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def unescape(field):
    if field == "-":
        return b""
    out = bytearray()
    raw = field.encode("latin-1")
    i = 0
    while i < len(raw):
        if raw[i] == ord("%"):
            out.append(int(raw[i + 1:i + 3], 16))
            i += 3
        else:
            out.append(raw[i])
            i += 1
    return bytes(out)


def replay(path):
    """The list a journal holds: [path, result] pairs, and whether it was cut."""
    with open(path, "rb") as f:
        text = f.read().decode("latin-1")
    lines = text.split("\n")
    cut = lines[-1] != ""
    lines = lines[:-1]
    if not lines or lines[0] != "Dorvane journal 1":
        fail("%s: no header" % path)
    docs = []
    for line in lines[1:]:
        fields = line.split(" ")
        tag, values = fields[0], fields[1:]
        if tag == "A":
            for i in range(0, len(values), 3):
                docs.append([unescape(values[i + 1]), int(values[i])])
        elif tag == "D":
            gone = {int(v) for v in values}
            docs = [d for i, d in enumerate(docs) if i not in gone]
        elif tag == "M":
            moved = [(int(values[i]), int(values[i + 1])) for i in range(0, len(values), 2)]
            old = list(docs)
            for a, b in moved:
                docs[b] = old[a]
        elif tag == "R":
            for i in range(0, len(values), 3):
                docs[int(values[i])][1] = int(values[i + 1])
        else:
            fail("%s: unknown line %r" % (path, line[:80]))
    return docs, cut


def opened(path):
    """The documents the recorder was started with, in order."""
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        fields = f.read().split(b"\0")
    docs = []
    i = 0
    while i + 3 <= len(fields) - 1:
        argc = int(fields[i + 2])
        argv = fields[i + 3:i + 3 + argc]
        docs.append(argv[1])
        i += 3 + argc + 1
    return docs


def journals(appdir):
    return sorted(glob.glob(os.path.join(appdir, "Journal-*.journal")))


def one_journal(appdir):
    found = journals(appdir)
    if len(found) != 1:
        fail("expected one journal in %s, found %s" % (appdir, found))
    return found[0]


def successes(docs):
    return {d[0] for d in docs if d[1] == 1}


def main():
    mode = sys.argv[1]
    if mode == "opened":
        print(len(opened(sys.argv[2])))
    elif mode == "count":
        print(len(journals(sys.argv[2])))
    elif mode == "locked":
        with open(sys.argv[2], "rb") as f:
            try:
                fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
            except BlockingIOError:
                sys.exit(0)
        sys.exit(1)
    elif mode == "killed":
        docs, _ = replay(one_journal(sys.argv[2]))
        seen = opened(sys.argv[3])
        done = successes(docs)
        extra = done - set(seen)
        if extra:
            fail("success without an opening: %r" % sorted(extra)[:3])
        missing = set(seen) - done
        if len(missing) > 1 or (missing and seen[-1] not in missing):
            fail("opened but not on record: %r (last opened %r)" % (sorted(missing)[:3], seen[-1:]))
        with open(sys.argv[4], "ab") as f:
            for path in missing:
                f.write(path + b"\n")
        print("journal: %d documents, %d successes, %d openings, in progress: %d" %
              (len(docs), len(done), len(seen), len(missing)))
    elif mode == "exact":
        docs, cut = replay(one_journal(sys.argv[2]))
        seen = opened(sys.argv[3])
        if cut:
            fail("a clean end left a cut-off line")
        if successes(docs) != set(seen) or len(seen) != len(set(seen)):
            fail("successes %d, opened %d (distinct %d)" % (len(successes(docs)), len(seen), len(set(seen))))
        print("journal: %d documents, %d successes" % (len(docs), len(seen)))
    elif mode == "complete":
        docs = {os.path.join(sys.argv[2], n).encode() for n in os.listdir(sys.argv[2])}
        seen = opened(sys.argv[3])
        allowed = collections.Counter()
        if os.path.exists(sys.argv[4]):
            with open(sys.argv[4], "rb") as f:
                allowed.update(line for line in f.read().split(b"\n") if line)
        if set(seen) != docs:
            fail("never opened: %r" % sorted(docs - set(seen))[:3])
        for path, count in collections.Counter(seen).items():
            if count - 1 > allowed[path]:
                fail("%r opened %d times, allowed %d" % (path, count, 1 + allowed[path]))
        print("all %d documents opened, %d openings, %d of them again after a kill" %
              (len(docs), len(seen), len(seen) - len(docs)))
    else:
        fail("unknown mode " + mode)


if __name__ == "__main__":
    main()
