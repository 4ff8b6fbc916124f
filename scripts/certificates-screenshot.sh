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

# shellcheck source=scripts/screenshot-common.sh
source "$root/scripts/screenshot-common.sh"
shot_hives "$language"
shot_display 1024x600
shot_bus
shot_card
# The tray's default command, given through the session bus as a double click would give it.
shot_program
shot_wait_registered
shot_command 32783
dialog=$(shot_window_named "${title[$language]}")
sleep 1
# The list has the focus: the first row is selected as a user's arrow key selects it.
xdotool key --window "$dialog" Down
sleep 0.5
mkdir -p "$(dirname "$output")"
import -window "$dialog" "$output"
echo "wrote $output"
