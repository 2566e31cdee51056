#!/usr/bin/python3
"""Reads a Dorvane started under a German locale through AT-SPI and checks
that the user meets German throughout: the main window with its sizes, its
three menus and their submenus, a question with Qt's own Ja and Nein, the
progress dialog of a run cancelled while the program is waiting, and --help. Every expected
text is what the German catalog makes of the English one, and must differ
from it, so a text that escaped translation fails.

    xvfb_german.py CATALOG DORVANE PROGRAM_NAME DOCUMENT...

DORVANE is the executable for --help; the running one was started with the
documents and a program entry named PROGRAM_NAME that waits a long while.
"""

import gettext
import os
import re
import subprocess
import sys

import pyatspi

from atspi_common import dorvane, fail, key, listen, states, the, wait_for, walk

catalog_path, executable, program_name, *documents = sys.argv[1:]
with open(catalog_path, "rb") as f:
    catalog = gettext.GNUTranslations(f)

# The one word of these texts that German shares with English.
SAME_IN_GERMAN = {"Name"}


def shown_as(text):
    """A text as Qt's accessible names show it: without accelerator marks."""
    return re.sub(r"&(.)", r"\1", text)


def german(english, count=None):
    """The German of an English text, as the catalog has it, filled in with a
    count when it has plural forms."""
    text = catalog.gettext(english) if count is None else catalog.ngettext(english, english, count)
    text, english = shown_as(text), shown_as(english)
    if text == english and english not in SAME_IN_GERMAN:
        fail("the catalog leaves %r in English" % english)
    return text if count is None else text.replace("%1", str(count))


# --help follows the locale too, and stays English without one.
USAGE = "Usage: dorvane [OPTION]... [--] [DOCUMENT]..."


def usage_line(lang):
    env = {k: v for k, v in os.environ.items() if k not in ("LANGUAGE", "LC_ALL", "LC_MESSAGES")}
    env["LANG"] = lang
    out = subprocess.run([executable, "--help"], env=env, capture_output=True, text=True, check=True, timeout=30)
    return out.stdout.splitlines()[0]


if usage_line("de_DE.UTF-8") != german(USAGE) or usage_line("C") != USAGE:
    fail("--help begins %r in German and %r in C" % (usage_line("de_DE.UTF-8"), usage_line("C")))

# Popup menus are no children of the application: they are found by the
# event that says they are shown, as a screen reader finds them.
menus = []


def on_showing(event):
    try:
        if event.detail1 and event.source.getRoleName() == "popup menu":
            menus.append(event.source)
    except Exception:  # the source may be gone already
        pass


LISTENED = ("object:state-changed:showing",)
listen(LISTENED, on_showing)
app = dorvane()
listen(LISTENED, on_showing)


def windows(role):
    return [w for w in app if w is not None and w.getRoleName() == role and pyatspi.STATE_SHOWING in states(w)]


def names(root, role):
    return [a.name for a in walk(root, []) if a.getRoleName() == role]


def press(button):
    action = button.queryAction()
    action.doAction([action.getName(i) for i in range(action.nActions)].index("Press"))


frame = wait_for("the main window", lambda: windows("frame"))[0]
if frame.name != "Dorvane":
    fail("the main window is named %r" % frame.name)
rows = len(documents)
table = the(frame, "table", german("Documents"))
grid = table.queryTable()
wait_for("the documents", lambda: grid.nRows == rows)

# The main window: its controls, column headers, result cells and status line.
COLUMNS = ["Name", "Directory", "Size", "Type", "Last write time", "Result"]
headers = [grid.getColumnHeader(c).name for c in range(len(COLUMNS))]
if headers != [german(c) for c in COLUMNS] or headers == COLUMNS:
    fail("the column headers are %r" % headers)
the(frame, "combo box", german("Program"))
the(frame, "label", german("&Program:"))
the(frame, "label", german("&Documents:"))
BUTTONS = ["New", "Add regular files", "Delete", "Delete all in success", "Reset result", "Move up", "Move down",
           "Open"]
if names(frame, "push button") != [german(b) for b in BUTTONS]:
    fail("the buttons are %r" % names(frame, "push button"))


def results():
    return [grid.getAccessibleAt(r, COLUMNS.index("Result")).name for r in range(rows)]


if results() != [german("None")] * rows:
    fail("the results read %r" % results())
# Sizes group their digits as German does: 48.213.
sizes = [grid.getAccessibleAt(r, COLUMNS.index("Size")).name for r in range(rows)]
if sizes != [f"{os.path.getsize(d):,}".replace(",", ".") if os.path.isfile(d) else "" for d in documents]:
    fail("the sizes read %r" % sizes)
wait_for("the status line", lambda: german("%1 items are selected", rows) in names(frame, "label"))

window = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "^Dorvane$"],
                        capture_output=True, text=True, check=True, timeout=30).stdout.split()[0]
subprocess.run(["xdotool", "windowfocus", "--sync", window], check=True, timeout=30)

# The menus, opened from the keyboard, whole: an item is its English text, or
# the text and its submenu's items. Alt+D focuses the list, Alt+P the program
# box, and Tab goes on from the list to Open, whose menu is the window's.
DOCUMENT_MENU = ["&New", ("A&dd", ["&Regular Files...", "&Directory..."]), "Cu&t", "&Copy", "&Paste", "D&elete",
                 "Select &All", "Re&verse Selection",
                 ("&Order", [("&Sort By", ["&Path", "&Directory", "&Name", "&Size", "&Type", "&Last Write Time",
                                           "&Result"]),
                             "&Reverse", "Move &Up", "Move &Down"]),
                 "Delete All in &Success", "&Reset Result"]
PROGRAM_MENU = ["&Add...", "&Duplicate...", "D&elete...", "&Start", "&Explore", "&Properties"]
WINDOW_MENU = [("&Help", ["Dorvane &Help...", "&About Dorvane"])]


def in_german(items):
    return [german(i) if isinstance(i, str) else (german(i[0]), in_german(i[1])) for i in items]


def read_menu(menu):
    return [(item.name, read_menu(item[0])) if item.childCount else item.name
            for item in menu if item is not None and item.getRoleName() == "menu item"]


for where, gestures, english in (("document list", ["alt+d"], DOCUMENT_MENU),
                                 ("program box", ["alt+p"], PROGRAM_MENU),
                                 ("window", ["alt+d", "Tab"], WINDOW_MENU)):
    menus.clear()
    for gesture in gestures + ["shift+F10"]:
        key(gesture)
    menu = wait_for("the menu of the " + where, lambda: menus)[0]
    if read_menu(menu) != in_german(english):
        fail("a menu reads %r" % read_menu(menu))
    key("Escape")
    wait_for("the menu to close", lambda: pyatspi.STATE_SHOWING not in states(menu))

# A question: its text in German, and Qt's own buttons in German too.
key("alt+d")
key("Delete")
box = wait_for("the question", lambda: windows("alert"))[0]
if names(box, "label") != [german("Do you want to remove the documents from the list?")] \
        or names(box, "push button") != ["Ja", "Nein"]:
    fail("the question reads %r with the buttons %r" % (names(box, "label"), names(box, "push button")))
press(the(box, "push button", "Nein"))
wait_for("the question to close", lambda: not windows("alert"))
if grid.nRows != rows:
    fail("Nein removed documents")

# The progress dialog while the program waits; Cancel ends the run there.
press(the(frame, "push button", german("Open")))
dialog = wait_for("the progress dialog", lambda: [d for d in windows("dialog") if d.name == german("Open")])[0]
wait_for("the wait for the program",
         lambda: german("Waiting for the termination of the process...") in names(dialog, "label"))
labels = names(dialog, "label")
if not {german("Program:"), program_name, german("Document:"), os.path.basename(documents[0])} <= set(labels):
    fail("the progress dialog reads %r" % labels)
if names(dialog, "push button") != [german("&Pause"), german("&Resume"), german("Cancel")]:
    fail("the progress dialog's buttons are %r" % names(dialog, "push button"))
press(the(dialog, "push button", german("Cancel")))
wait_for("the progress dialog to close", lambda: not windows("dialog"))
wait_for("the main window to be active again", lambda: pyatspi.STATE_ACTIVE in states(frame))
if results() != [german("Success")] + [german("None")] * (rows - 1):
    fail("after Cancel the results read %r" % results())

# One document selected: the status line's singular.
key("alt+d")
key("Home")
wait_for("the status line", lambda: german("%1 items are selected", 1) in names(frame, "label"))
