#!/usr/bin/env bash
# Takes docs/tray-menu.png: the program in a real tray (Xvfb with trayer as XEmbed tray
# host at the bottom edge) with the virtual card registered, its menu opened by a right click (xdotool).
#   bash scripts/tray-screenshot.sh [BUILD_DIR] [OUTPUT.png]
# BUILD_DIR defaults to build/default and must hold the demo's programs (scripts/run.sh
# builds them). Everything runs in a temporary folder with private hives, pcscd and bus.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(cd "${1:-build/default}" && pwd)
output=${2:-$root/docs/tray-menu.png}
language=${VELK_SHOT_LANGUAGE:-0}

work=$(mktemp -d "${TMPDIR:-/tmp}/velk-shot.XXXXXX")
pids=()
pcscd_up=0
cleanup() {
    local pid
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

# Display and tray host.
display_num=$((90 + RANDOM % 400))
export XAUTHORITY=$work/Xauthority # only clients with the cookie reach the display
(umask 077 && : >"$XAUTHORITY")
xauth -q -f "$XAUTHORITY" add ":$display_num" . "$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')"
Xvfb ":$display_num" -auth "$XAUTHORITY" -screen 0 640x360x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$display_num"
for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
done
convert -size 640x360 gradient:'#5e81ac'-'#2e3440' "$work/desktop.png"
display -window root "$work/desktop.png" >/dev/null 2>&1 || true
trayer --edge bottom --align right --widthtype request --height 28 --iconspacing 4 \
    --transparent false --tint 0xe5e9f0 --SetDockType true >/dev/null 2>&1 &
pids+=($!)

# Session bus, pcscd with the card, the program.
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
export QT_QPA_PLATFORM=xcb VELKORA_MSGBOX_LOG=$work/ui.log
"$build/app/shell/velkora-certmgr" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 300); do
    grep -q "^icon	128" "$work/ui.log" 2>/dev/null && break
    sleep 0.1
done

# The tray host's window holds the icon at its left end; a right click there opens the menu.
tray=
for _ in $(seq 100); do
    tray=$(xdotool search --classname panel 2>/dev/null | head -n1 || true)
    [[ -n $tray ]] && break
    sleep 0.1
done
[[ -n $tray ]] || { echo "tray-screenshot: no tray host window" >&2; exit 1; }
sleep 1
eval "$(xdotool getwindowgeometry --shell "$tray")"
# The menu opens upwards from the click, leaving the icon in sight.
xdotool mousemove $((X + 14)) $((Y + 5)) click 3
sleep 1
# Hover the default entry, as a user about to choose it would.
xdotool mousemove_relative -- -60 -100
sleep 0.5
mkdir -p "$(dirname "$output")"
import -window root "$work/screen.png"
# The bottom right corner: the tray and the menu above it.
convert "$work/screen.png" -crop 300x200+340+160 +repage "$output"
echo "wrote $output"
