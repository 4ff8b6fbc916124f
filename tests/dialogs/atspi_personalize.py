#!/usr/bin/python3
"""Personalizes a delivered card in a running velkora-certmgr through AT-SPI, as a screen
reader's user does: selects the card's row in the certificates dialog, presses Personalize,
and in the personalization dialog presses one button after the other, typing each PIN prompt's
entry and pressing OK. After each button it waits until the program has recorded one more
message box in its box log (VELKORA_MSGBOX_LOG).

usage: atspi_personalize.py BOX_LOG STEP...
STEP is "DESCRIPTION=ENTRY,ENTRY,...": the button whose accessible description (its frame's
title) is DESCRIPTION, and the entries of the prompts it opens.
Prints "step<TAB>DESCRIPTION" per step done; exit status 0 when all were done."""

import sys
import time

import pyatspi

from atspi_certificates import find_dialog, walk

CERTIFICATES = "Smartcard-Zertifikate"
PERSONALIZE = "Personalisieren"
PERSO_DIALOG = "TCOS 3.0 Personalisieren"
PROMPT = "Personalisierung"


def wait_for(condition, limit_seconds=60):
    end = time.monotonic() + limit_seconds
    while time.monotonic() < end:
        found = condition()
        if found:
            return found
        time.sleep(0.2)
    return None


def control(window, role, name=None, description=None):
    for child in walk(window):
        if child.getRole() != role:
            continue
        if name is not None and child.name != name:
            continue
        if description is not None and child.description != description:
            continue
        return child
    return None


def showing(accessible):
    try:
        return accessible.getState().contains(pyatspi.STATE_SHOWING)
    except Exception:  # gone with its window
        return False


def boxes(log):
    try:
        with open(log, encoding="utf-8") as lines:
            return sum(1 for line in lines if line.startswith("msgbox\t"))
    except OSError:
        return 0


def answer_prompt(entry):
    prompt = find_dialog(PROMPT, 60)
    if prompt is None:
        return False
    edit = wait_for(lambda: control(prompt, pyatspi.ROLE_PASSWORD_TEXT))
    ok = control(prompt, pyatspi.ROLE_PUSH_BUTTON, name="OK")
    if edit is None or ok is None:
        return False
    edit.queryEditableText().setTextContents(entry)
    ok.queryAction().doAction(0)
    return wait_for(lambda: not showing(edit)) is not None


def main():
    log = sys.argv[1]
    certificates = find_dialog(CERTIFICATES)
    if certificates is None:
        print("no certificates dialog")
        return 1
    table = wait_for(lambda: control(certificates, pyatspi.ROLE_TABLE) or
                     control(certificates, pyatspi.ROLE_TREE_TABLE) or
                     control(certificates, pyatspi.ROLE_TREE))
    personalize = control(certificates, pyatspi.ROLE_PUSH_BUTTON, name=PERSONALIZE)
    if table is None or personalize is None or not table.queryTable().addRowSelection(0):
        print("no row or no Personalize")
        return 1
    if not wait_for(lambda: personalize.getState().contains(pyatspi.STATE_ENABLED)):
        print("Personalize stays disabled")
        return 1
    personalize.queryAction().doAction(0)
    dialog = find_dialog(PERSO_DIALOG)
    if dialog is None:
        print("no personalization dialog")
        return 1
    for step in sys.argv[2:]:
        description, entries = step.split("=", 1)
        button = control(dialog, pyatspi.ROLE_PUSH_BUTTON, description=description)
        if button is None:
            print("no button for", description)
            return 1
        before = boxes(log)
        button.queryAction().doAction(0)
        for entry in entries.split(","):
            if not answer_prompt(entry):
                print("prompt not answered in", description)
                return 1
        if wait_for(lambda: boxes(log) > before, 120) is None:
            print("no message after", description)
            return 1
        print("step\t" + description)
        sys.stdout.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main())
