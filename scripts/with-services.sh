#!/usr/bin/env bash
# Runs a command under a private session bus and a virtual X display with an
# XEmbed tray host, so that bus and UI tests never touch the user's desktop.
# usage: with-services.sh COMMAND [ARGS...]
set -euo pipefail
if [[ -z ${VELK_SERVICES_UP:-} ]]; then
    export VELK_SERVICES_UP=1
    exec dbus-run-session -- "$0" "$@"
fi
# The display takes only clients that show its cookie, kept in a folder of ours: without
# -auth any local user could connect to it, read its windows and type into them.
services_dir=$(mktemp -d)
export XAUTHORITY=$services_dir/Xauthority
(umask 077 && : >"$XAUTHORITY")
xvfb_pid=
cleanup() {
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$services_dir"
}
trap cleanup EXIT
# Several runs pick display numbers at the same time: a number another server took first
# makes this Xvfb exit at once, and then the next number is tried.
for _ in $(seq 20); do
    display_num=$((90 + RANDOM % 400))
    [[ -e /tmp/.X$display_num-lock || -e /tmp/.X11-unix/X$display_num ]] && continue
    xauth -q -f "$XAUTHORITY" add ":$display_num" . "$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')"
    Xvfb ":$display_num" -auth "$XAUTHORITY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$display_num"
    for _ in $(seq 50); do
        xdpyinfo >/dev/null 2>&1 && break
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$xvfb_pid" 2>/dev/null && break
    xvfb_pid=
done
[[ -n $xvfb_pid ]] || { echo "with-services: no virtual display could be started" >&2; exit 1; }
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
# A runtime folder of this session's own: the session's accessibility bus keeps its socket
# there, and runs side by side (each with its own session bus) must not share or remove it.
export XDG_RUNTIME_DIR=$services_dir/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
"$@"
