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

# shellcheck source=scripts/screenshot-common.sh
source "$root/scripts/screenshot-common.sh"
shot_hives 0
shot_display 1024x600
shot_bus
shot_program
sleep 3

mkdir -p "$output"
# Configuration: the language list has the focus; Down chooses German, the dialog relabels.
shot_command 32786
config=$(shot_window_named Configuration)
sleep 0.5
xdotool windowfocus --sync "$config" key Down
config=$(shot_window_named Konfiguration)
sleep 0.5
import -window "$config" "$output/config-dialog-de.png"
xdotool windowfocus --sync "$config" key Escape
sleep 0.5

shot_command 32774
about=$(shot_window_named About)
sleep 0.5
import -window "$about" "$output/about-dialog.png"
xdotool windowfocus --sync "$about" key Escape
echo "wrote $output/config-dialog-de.png $output/about-dialog.png"
