#!/usr/bin/env bash
# Runs a command under a private session bus and a virtual X display with an
# XEmbed tray host, so that bus and UI tests never touch the user's desktop.
# usage: with-services.sh COMMAND [ARGS...]
set -euo pipefail
if [[ -z ${VELK_SERVICES_UP:-} ]]; then
    export VELK_SERVICES_UP=1
    exec dbus-run-session -- "$0" "$@"
fi
display_num=$((90 + RANDOM % 400))
Xvfb ":$display_num" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
cleanup() { kill "$xvfb_pid" 2>/dev/null || true; }
trap cleanup EXIT
export DISPLAY=":$display_num"
for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
done
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"
"$@"
