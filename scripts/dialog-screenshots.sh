#!/usr/bin/env bash
# Takes docs/config-dialog-de.png (the configuration dialog relabelled in German right after
# German was chosen in its list) and docs/about-dialog.png (the About dialog of an installed
# system), from the real program on Xvfb: the dialogs are opened with tray commands sent on the
# session bus, the language is chosen with a key press (xdotool).
#   bash scripts/dialog-screenshots.sh [BUILD_DIR] [OUTPUT_DIR]
# BUILD_DIR defaults to build/default and must hold the program, the minidriver's modules and
# its install step. Everything runs in a temporary folder with private hives and bus.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(cd "${1:-build/default}" && pwd)
output=${2:-$root/docs}

work=$(mktemp -d "${TMPDIR:-/tmp}/velk-dialogs.XXXXXX")
pids=()
cleanup() {
    local pid
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

export VELKORA_MACHINE_HIVE=$work/machine.hive VELKORA_USER_HIVE=$work/user.hive
export XDG_RUNTIME_DIR=$work/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
"$build/minidriver/velkora-md-install" "$build/minidriver/modules"
"$build/tools/reg/velkora-reg" add 'HKCU\Software\Velkora\Minidriver' /v Language \
    /t REG_DWORD /d 0 /f >/dev/null

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

export QT_QPA_PLATFORM=xcb VELKORA_DEBUG_COMMANDS=1 VELKORA_MSGBOX_LOG=$work/ui.log
"$build/app/shell/velkora-certmgr" >/dev/null 2>&1 &
pids+=($!)
sleep 3

command() {
    dbus-send --session --type=signal /org/velkora/CertMgr org.velkora.CertMgr.DebugCommand \
        "uint32:$1"
}
window_named() {
    local id=
    for _ in $(seq 100); do
        id=$(xdotool search --name "^$1\$" 2>/dev/null | head -n1 || true)
        [[ -n $id ]] && break
        sleep 0.1
    done
    [[ -n $id ]] || { echo "dialog-screenshots: no window \"$1\"" >&2; exit 1; }
    echo "$id"
}

mkdir -p "$output"
# Configuration: the language list has the focus; Down chooses German, the dialog relabels.
command 32786
config=$(window_named Configuration)
sleep 0.5
xdotool windowfocus --sync "$config" key Down
config=$(window_named Konfiguration)
sleep 0.5
import -window "$config" "$output/config-dialog-de.png"
xdotool windowfocus --sync "$config" key Escape
sleep 0.5

command 32774
about=$(window_named About)
sleep 0.5
import -window "$about" "$output/about-dialog.png"
xdotool windowfocus --sync "$about" key Escape
echo "wrote $output/config-dialog-de.png $output/about-dialog.png"
