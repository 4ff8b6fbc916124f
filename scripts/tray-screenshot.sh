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

# shellcheck source=scripts/screenshot-common.sh
source "$root/scripts/screenshot-common.sh"
shot_hives "$language"

# Display and tray host.
shot_display 640x360 auth
convert -size 640x360 gradient:'#5e81ac'-'#2e3440' "$shot_work/desktop.png"
display -window root "$shot_work/desktop.png" >/dev/null 2>&1 || true
trayer --edge bottom --align right --widthtype request --height 28 --iconspacing 4 \
    --transparent false --tint 0xe5e9f0 --SetDockType true >/dev/null 2>&1 &
shot_pids+=($!)

# Session bus, pcscd with the card, the program.
shot_bus
shot_card
shot_program
for _ in $(seq 300); do
    grep -q "^icon	128" "$shot_work/ui.log" 2>/dev/null && break
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
import -window root "$shot_work/screen.png"
# The bottom right corner: the tray and the menu above it.
convert "$shot_work/screen.png" -crop 300x200+340+160 +repage "$output"
echo "wrote $output"
