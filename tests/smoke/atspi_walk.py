#!/usr/bin/python3
"""Walks a running Dorvane's accessibility tree through AT-SPI, as a screen
reader does: names and roles of the window and its controls, the document
list's rows and cells, its selection, and the focus and selection events of
keyboard gestures. The documents are the three Dorvane was started with.

    atspi_walk.py FILE FILE DIRECTORY
"""

import os
import re
import subprocess
import sys

import pyatspi

from atspi_common import dorvane, events, fail, key, listen, states, the, wait_for, walk

DOCUMENTS = sys.argv[1:]
COLUMNS = ["Name", "Directory", "Size", "Type", "Last write time", "Result"]
BUTTONS = {"New", "Add regular files", "Delete", "Delete all in success",
           "Reset result", "Move up", "Move down", "Open"}


def heard(*wanted):
    """Every wanted event came, the table's whatever its detail."""
    return set(wanted) <= {e[:3] if e[1] == "table" else e for e in events}


# Value changes as Orca listens for them: Qt 6.4's bridge sends a table's
# selection-changed only to a client that listens for those too.
LISTENED = ("focus:", "object:state-changed:selected", "object:selection-changed", "object:value-changed")
listen(LISTENED)
app = dorvane()
listen(LISTENED)
frames = [child for child in app if child is not None]
if [(f.getRoleName(), f.name) for f in frames] != [("frame", "Dorvane")]:
    fail("the application's windows are %r" % [(f.getRoleName(), f.name) for f in frames])
frame = frames[0]


def controls():
    return [(a.getRoleName(), a.name, a) for a in walk(frame, [])]


# The rows come from the command line once the window is up.
table = the(frame, "table", "Documents")
grid = table.queryTable()
wait_for("three rows", lambda: grid.nRows == 3)

combo = the(frame, "combo box", "Program")
if combo.childCount != 1 or "Default - depends on file association" not in [item.name for item in combo[0]]:
    fail("the program box does not list the default entry")
buttons = {n for r, n, _ in controls() if r == "push button"}
if buttons != BUTTONS:
    fail("the buttons are %r" % sorted(buttons))

# The document list: a table of six columns whose cells are its children,
# header cells first.
if grid.nColumns != 6 or table.childCount != 4 * 6:
    fail("%d columns, %d children" % (grid.nColumns, table.childCount))
if pyatspi.STATE_MULTISELECTABLE not in states(table):
    fail("the list does not say it selects several rows")
headers = [grid.getColumnHeader(c).name for c in range(6)]
if headers != COLUMNS or [table.getChildAtIndex(c).name for c in range(6)] != COLUMNS:
    fail("the column headers are %r" % headers)
rows = [[grid.getAccessibleAt(r, c).name for c in range(6)] for r in range(3)]
directory = os.path.dirname(DOCUMENTS[0])
expected = [
    [os.path.basename(DOCUMENTS[0]), directory, "4", None, None, "None"],
    [os.path.basename(DOCUMENTS[1]), directory, "10", None, None, "None"],
    [os.path.basename(DOCUMENTS[2]), os.path.dirname(DOCUMENTS[2]), "", None, None, "None"],
]
for row, want in zip(rows, expected):
    if [t for t, w in zip(row, want) if w is not None] != [w for w in want if w is not None] \
            or not row[3] or not re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d", row[4]):
        fail("a row reads %r" % row)
if rows[0][3] == rows[2][3]:
    fail("a file and a directory have one type: %r" % rows[0][3])
cell = grid.getAccessibleAt(1, 2)
if cell.getRoleName() != "table cell" or grid.getIndexAt(1, 2) != (1 + 1) * 6 + 2:
    fail("the cell at row 1, column 2 is a %s at %d" % (cell.getRoleName(), grid.getIndexAt(1, 2)))

# The added documents are selected and the last of them has the focus.
if sorted(grid.getSelectedRows()) != [0, 1, 2] or grid.nSelectedRows != 3:
    fail("selected rows %r" % list(grid.getSelectedRows()))
if pyatspi.STATE_SELECTED not in states(grid.getAccessibleAt(1, 0)):
    fail("a selected row's cell does not say so")

window = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "^Dorvane$"],
                        capture_output=True, text=True, check=True, timeout=30).stdout.split()[0]
subprocess.run(["xdotool", "windowfocus", "--sync", window], check=True)
key("alt+d")  # the accelerator of "Documents:" focuses the list
wait_for("the focus on the last row",
         lambda: pyatspi.STATE_FOCUSED in states(grid.getAccessibleAt(2, 0)))

# Home: one gesture selects the first row only and moves the focus there.
events.clear()
key("Home")
name = os.path.basename(DOCUMENTS[0])
wait_for("a focus event on the first row", lambda: ("focus:", "table cell", name, 0) in events)
if list(grid.getSelectedRows()) != [0]:
    fail("Home left rows %r selected" % list(grid.getSelectedRows()))
if not any(e[0] == "object:state-changed:selected" and e[3] == 0 for e in events):
    fail("no cell heard that it was unselected: %r" % events)
wait_for("the table's selection-changed and the first row's selected state",
         lambda: heard(("object:selection-changed", "table", "Documents"),
                       ("object:state-changed:selected", "table cell", name, 1)))
cell = grid.getAccessibleAt(0, 0)
if {pyatspi.STATE_FOCUSED, pyatspi.STATE_SELECTED} - states(cell):
    fail("the first row's cell is not focused and selected")

# A screen reader's own selection is a gesture of the user: the window hears
# of it and updates its status line.
if not grid.addRowSelection(2):
    fail("the list refused to select a row")
wait_for("the status line", lambda: [n for r, n, _ in controls() if r == "label" and n == "2 items are selected"])
if list(grid.getSelectedRows()) != [0, 2] or not grid.isRowSelected(2) or grid.isRowSelected(1):
    fail("rows %r are selected" % list(grid.getSelectedRows()))
grid.removeRowSelection(0)
wait_for("the status line", lambda: [n for r, n, _ in controls() if r == "label" and n == "1 items are selected"])

# Select All: one event for the table, and the cells the screen reader has
# read hear of their own change.
first, second = os.path.basename(DOCUMENTS[0]), os.path.basename(DOCUMENTS[1])
events.clear()
key("ctrl+a")
wait_for("Select All heard", lambda: heard(("object:selection-changed", "table", "Documents"),
                                           ("object:state-changed:selected", "table cell", first, 1),
                                           ("object:state-changed:selected", "table cell", second, 1)))
if sorted(grid.getSelectedRows()) != [0, 1, 2]:
    fail("Select All left rows %r selected" % list(grid.getSelectedRows()))

# Landing on a row that was already selected among others (Down here; a
# click takes the same path, but a pointer grab by the accessibility
# registry swallows an XTEST click now and then): the others are
# unselected, and the row says it is the selected one.
events.clear()
key("Down")
wait_for("the move heard", lambda: heard(("object:state-changed:selected", "table cell", second, 1),
                                         ("object:state-changed:selected", "table cell", first, 0),
                                         ("focus:", "table cell", second, 0)))
if list(grid.getSelectedRows()) != [1]:
    fail("Down left rows %r selected" % list(grid.getSelectedRows()))

print("PASS")
