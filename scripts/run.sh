#!/usr/bin/env bash
# Installs what is missing, builds the normal configuration and starts the program.
#   bash scripts/run.sh [velkora-certmgr arguments...]
# With a desktop ($DISPLAY) the program runs there, in its tray. Without one it gets a virtual
# X server with a tray host (Xvfb + trayer), or the offscreen platform when those are missing,
# and a session bus of its own if there is none.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/install-deps.sh
cmake --preset default
cmake --build --preset default

program=$root/build/default/app/shell/velkora-certmgr
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
}
trap cleanup EXIT

# --- Card side -----------------------------------------------------------------------------
# The private pcscd with the virtual card starts here, before the program, so that the
# program's first scan already finds the card.

# --- Desktop -------------------------------------------------------------------------------
if [[ -z ${DISPLAY:-} ]]; then
    if command -v Xvfb >/dev/null && command -v trayer >/dev/null; then
        display_num=$((90 + RANDOM % 400))
        Xvfb ":$display_num" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
        pids+=($!)
        export DISPLAY=":$display_num"
        for _ in $(seq 50); do
            xdpyinfo >/dev/null 2>&1 && break
            sleep 0.1
        done
        trayer --edge top --align right --widthtype request --height 24 \
            --transparent false >/dev/null 2>&1 &
        pids+=($!)
        echo "No desktop: virtual display $DISPLAY with a tray host (Xvfb + trayer)."
    else
        export QT_QPA_PLATFORM=offscreen
        echo "No desktop: running on the offscreen platform (no tray icon is visible)."
    fi
fi

# "velkora-certmgr stop" and the minidriver reach the program over the session bus.
if [[ -z ${DBUS_SESSION_BUS_ADDRESS:-} ]]; then
    bus_address_file=$(mktemp)
    dbus-daemon --session --nofork --print-address=1 >"$bus_address_file" 2>/dev/null &
    pids+=($!)
    for _ in $(seq 50); do
        [[ -s $bus_address_file ]] && break
        sleep 0.1
    done
    DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$bus_address_file")
    export DBUS_SESSION_BUS_ADDRESS
    rm -f "$bus_address_file"
fi

echo
echo "Starting velkora-certmgr. To stop it, from another terminal:"
stop_env="DBUS_SESSION_BUS_ADDRESS='$DBUS_SESSION_BUS_ADDRESS'"
[[ -n ${XDG_RUNTIME_DIR:-} ]] && stop_env+=" XDG_RUNTIME_DIR='$XDG_RUNTIME_DIR'"
echo "    $stop_env $program stop"
echo "(or press Ctrl+C here)"
echo

status=0
"$program" "$@" || status=$?
echo "velkora-certmgr ended with exit code $status (see: $program --help)"
exit "$status"
