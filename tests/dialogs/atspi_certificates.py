#!/usr/bin/python3
"""Uses the certificates dialog of a running velkora-certmgr through AT-SPI, as a screen
reader's user does: finds the dialog by its title, reports every shown control that has no
name or cannot take the keyboard focus, reads the list's rows cell by cell, selects a row
and presses Show.

usage: atspi_certificates.py TITLE SHOW_BUTTON_NAME [ROW]
Prints "row<TAB>cell<TAB>cell..." per list row, "unnamed<TAB>role" and
"unfocusable<TAB>role<TAB>name" per faulty control, and "pressed" once Show was pressed.
Exit status 0 when the dialog was found and the button pressed."""

import sys
import time

import pyatspi

FOCUSABLE_ROLES = {
    pyatspi.ROLE_PUSH_BUTTON,
    pyatspi.ROLE_TABLE,
    pyatspi.ROLE_TREE_TABLE,
    pyatspi.ROLE_TREE,
    pyatspi.ROLE_LIST,
    pyatspi.ROLE_CHECK_BOX,
    pyatspi.ROLE_COMBO_BOX,
    pyatspi.ROLE_TEXT,
    pyatspi.ROLE_PASSWORD_TEXT,
}
TABLE_ROLES = {pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_TREE}
# Roles that only hold others and are read out through them.
CONTAINER_ROLES = {pyatspi.ROLE_FILLER, pyatspi.ROLE_SCROLL_BAR, pyatspi.ROLE_SCROLL_PANE,
                   pyatspi.ROLE_TABLE_COLUMN_HEADER, pyatspi.ROLE_TABLE_CELL,
                   pyatspi.ROLE_TABLE_ROW_HEADER, pyatspi.ROLE_COLUMN_HEADER,
                   pyatspi.ROLE_ROW_HEADER, pyatspi.ROLE_TABLE_ROW, pyatspi.ROLE_LIST_ITEM}


def find_dialog(title, limit_seconds=90):
    end = time.monotonic() + limit_seconds
    while time.monotonic() < end:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is None:
                continue
            for window in app:
                if window is not None and window.name == title:
                    return window
        time.sleep(0.5)
    return None


def shown(accessible):
    return accessible.getState().contains(pyatspi.STATE_SHOWING)


def walk(accessible, depth=0):
    for child in accessible:
        if child is None:
            continue
        yield child
        if child.getRole() not in TABLE_ROLES and depth < 6:
            yield from walk(child, depth + 1)


def main():
    title, show_name = sys.argv[1], sys.argv[2]
    row = int(sys.argv[3]) if len(sys.argv) > 3 else 0
    dialog = find_dialog(title)
    if dialog is None:
        print("no dialog", title)
        return 1
    table = None
    show = None
    for control in walk(dialog):
        role = control.getRole()
        if not shown(control) or role in CONTAINER_ROLES:
            continue
        if not control.name:
            print("unnamed\t%s" % control.getRoleName())
        if role in FOCUSABLE_ROLES and not control.getState().contains(pyatspi.STATE_FOCUSABLE):
            print("unfocusable\t%s\t%s" % (control.getRoleName(), control.name))
        if role in TABLE_ROLES:
            table = control
        if role == pyatspi.ROLE_PUSH_BUTTON and control.name == show_name:
            show = control
    if table is None or show is None:
        print("no list or no button")
        return 1
    cells = table.queryTable()
    for r in range(cells.nRows):
        print("row\t" + "\t".join(cells.getAccessibleAt(r, c).name
                                  for c in range(cells.nColumns)))
    if not cells.addRowSelection(row):
        print("row not selected")
        return 1
    # The button follows the selection once the dialog has handled it.
    end = time.monotonic() + 30
    while not show.getState().contains(pyatspi.STATE_ENABLED) and time.monotonic() < end:
        time.sleep(0.2)
    if not show.queryAction().doAction(0):
        print("not pressed")
        return 1
    print("pressed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
