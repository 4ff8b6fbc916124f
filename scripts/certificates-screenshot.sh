#!/usr/bin/env bash
# Takes docs/certificates-dialog.png: the certificates dialog of the program with the demo
# card's certificates, on a virtual X display, the first row selected.
#   bash scripts/certificates-screenshot.sh [BUILD_DIR] [OUTPUT.png]
# BUILD_DIR defaults to build/default and must hold the demo's programs (scripts/run.sh
# builds them). Everything runs in a temporary folder with private hives, pcscd and bus.
# VELK_SHOT_LANGUAGE chooses the language (0 English, 1 German, 2 Swedish).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(cd "${1:-build/default}" && pwd)
output=${2:-$root/docs/certificates-dialog.png}
language=${VELK_SHOT_LANGUAGE:-0}
title=("Smartcard Certificates" "Smartcard-Zertifikate" "Smartcard-certifikat")

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
    /t REG_DWORD /d "$language" /f >/dev/null

display_num=$((90 + RANDOM % 400))
Xvfb ":$display_num" -screen 0 1024x600x24 -nolisten tcp >/dev/null 2>&1 &
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
"$build/vcard/velkora-vcard" --profile tcos30 --image "$work/card.img" --port "$card_port" &
pids+=($!)
sleep 2

# The tray's default command, given through the session bus as a double click would give it.
export QT_QPA_PLATFORM=xcb VELKORA_MSGBOX_LOG=$work/ui.log VELKORA_DEBUG_COMMANDS=1
"$build/app/shell/velkora-certmgr" >/dev/null 2>&1 &
pids+=($!)
# The card registered and the monitor running (its start re-reads the store).
for _ in $(seq 300); do
    grep -q "^icon	128" "$work/ui.log" 2>/dev/null &&
        grep -q "^event	monitor	1" "$work/ui.log" 2>/dev/null && break
    sleep 0.1
done
dbus-send --session --type=signal /org/velkora/CertMgr org.velkora.CertMgr.DebugCommand \
    uint32:32783
dialog=
for _ in $(seq 100); do
    dialog=$(xdotool search --name "^${title[$language]}\$" 2>/dev/null | head -n1 || true)
    [[ -n $dialog ]] && break
    sleep 0.1
done
[[ -n $dialog ]] || { echo "certificates-screenshot: the dialog did not open" >&2; exit 1; }
sleep 1
# The list has the focus: the first row is selected as a user's arrow key selects it.
xdotool key --window "$dialog" Down
sleep 0.5
mkdir -p "$(dirname "$output")"
import -window "$dialog" "$output"
echo "wrote $output"
