#!/usr/bin/env bash
# Takes docs/perso-dialog.png: the personalization dialog of the program for a card as the
# trust center delivers it, opened from the certificates dialog's Personalize button, on a
# virtual X display. Prints the dialog's controls that AT-SPI shows without a name.
#   bash scripts/perso-screenshot.sh [BUILD_DIR] [OUTPUT.png]
# BUILD_DIR defaults to build/default and must hold the demo's programs (scripts/run.sh
# builds them). Everything runs in a temporary folder with private hives, pcscd and bus.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(cd "${1:-build/default}" && pwd)
output=${2:-$root/docs/perso-dialog.png}

# shellcheck source=scripts/screenshot-common.sh
source "$root/scripts/screenshot-common.sh"
shot_hives 0
shot_display 1024x600 auth
shot_bus
shot_card tcos30-blank
shot_program
shot_wait_registered
shot_command 32783

# The delivered card shows its own certificate only: select it and press Personalize.
shot_window_named "Smartcard Certificates" >/dev/null
/usr/bin/python3 - <<'PY'
import sys
import time

import pyatspi


def find(root, test, depth=0):
    for child in root:
        if child is None:
            continue
        if test(child):
            return child
        if depth < 6:
            found = find(child, test, depth + 1)
            if found is not None:
                return found
    return None


def window(title):
    for _ in range(200):
        for app in pyatspi.Registry.getDesktop(0):
            for w in app or []:
                if w is not None and w.name == title:
                    return w
        time.sleep(0.2)
    sys.exit("no window " + title)


certificates = window("Smartcard Certificates")
# The row is selected as a screen reader's user selects it.
for _ in range(100):
    table = find(certificates, lambda a: a.getRole() in (pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE_TABLE,
                                                         pyatspi.ROLE_TREE))
    if table is not None and table.queryTable().addRowSelection(0):
        break
    time.sleep(0.1)
# The button shows once the selection has reached the dialog.
for _ in range(100):
    button = find(certificates, lambda a: a.getRole() == pyatspi.ROLE_PUSH_BUTTON
                  and a.name == "Personalize"
                  and a.getState().contains(pyatspi.STATE_SHOWING))
    if button is not None:
        break
    time.sleep(0.1)
else:
    sys.exit("Personalize is not offered")
button.queryAction().doAction(0)
dialog = window("Personalize TCOS 3.0")
time.sleep(1)


def walk(root, depth=0):
    for child in root:
        if child is None:
            continue
        yield child
        if depth < 6:
            yield from walk(child, depth + 1)


for control in walk(dialog):
    if control.getState().contains(pyatspi.STATE_SHOWING) and not control.name:
        print("unnamed\t%s" % control.getRoleName())
PY
dialog=$(shot_window_named "Personalize TCOS 3.0")
mkdir -p "$(dirname "$output")"
import -window "$dialog" "$output"
echo "wrote $output"
