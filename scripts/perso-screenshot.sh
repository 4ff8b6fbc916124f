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

work=$(mktemp -d "${TMPDIR:-/tmp}/velk-shot.XXXXXX")
pids=()
pcscd_up=0
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    ((pcscd_up)) && bash "$root/scripts/pcscd-stop.sh" || true
    rm -rf "$work"
}
trap cleanup EXIT

export VELKORA_MACHINE_HIVE=$work/machine.hive VELKORA_USER_HIVE=$work/user.hive
export XDG_RUNTIME_DIR=$work/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
"$build/minidriver/velkora-md-install" "$build/minidriver/modules"
"$build/tools/reg/velkora-reg" add 'HKCU\Software\Velkora\Minidriver' /v Language \
    /t REG_DWORD /d 0 /f >/dev/null

# Only clients that show the display's cookie may connect to it.
export XAUTHORITY=$work/Xauthority
(umask 077 && : >"$XAUTHORITY")
display_num=$((90 + RANDOM % 400))
xauth -q -f "$XAUTHORITY" add ":$display_num" . "$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')"
Xvfb ":$display_num" -auth "$XAUTHORITY" -screen 0 1024x600x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$display_num"
for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
done

bus_file=$work/bus
dbus-daemon --session --nofork --print-address=1 >"$bus_file" 2>/dev/null &
pids+=($!)
for _ in $(seq 50); do
    [[ -s $bus_file ]] && break
    sleep 0.1
done
DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$bus_file")
export DBUS_SESSION_BUS_ADDRESS
eval "$(bash scripts/pcscd-start.sh --readers 2 --dir "$work/pcscd")"
pcscd_up=1
read -r card_port _ <<<"$VELK_VPCD_PORTS"
"$build/vcard/velkora-vcard" --profile tcos30-blank --image "$work/card.img" \
    --port "$card_port" &
pids+=($!)
sleep 2

export QT_QPA_PLATFORM=xcb QT_ACCESSIBILITY=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
export VELKORA_MSGBOX_LOG=$work/ui.log VELKORA_DEBUG_COMMANDS=1
"$build/app/shell/velkora-certmgr" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 300); do
    grep -q "^icon	128" "$work/ui.log" 2>/dev/null &&
        grep -q "^event	monitor	1" "$work/ui.log" 2>/dev/null && break
    sleep 0.1
done
dbus-send --session --type=signal /org/velkora/CertMgr org.velkora.CertMgr.DebugCommand \
    uint32:32783

# The delivered card shows its own certificate only: select it as a user's arrow key selects
# it (the list has the focus), and press Personalize.
certificates=
for _ in $(seq 100); do
    certificates=$(xdotool search --name '^Smartcard Certificates$' 2>/dev/null | head -n1 || true)
    [[ -n $certificates ]] && break
    sleep 0.1
done
[[ -n $certificates ]] || { echo "perso-screenshot: no certificates dialog" >&2; exit 1; }
sleep 1
xdotool key --window "$certificates" Down
sleep 0.5
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
dialog=$(xdotool search --name "^Personalize TCOS 3.0\$" | head -n1)
mkdir -p "$(dirname "$output")"
import -window "$dialog" "$output"
echo "wrote $output"
