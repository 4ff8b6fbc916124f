# shellcheck shell=bash disable=SC2154
# Sourced by the screenshot scripts: the start-up they share, in a temporary folder with
# private hives, X display, session bus and (on request) pcscd with the virtual card.
# The sourcing script sets root (the source tree) and build (the build folder) first.

shot_work=$(mktemp -d "${TMPDIR:-/tmp}/velk-shot.XXXXXX")
shot_pids=()
shot_pcscd_up=0
shot_cleanup() {
    for ((i = ${#shot_pids[@]} - 1; i >= 0; i--)); do
        kill "${shot_pids[i]}" 2>/dev/null || true
        wait "${shot_pids[i]}" 2>/dev/null || true
    done
    if ((shot_pcscd_up)); then bash "$root/scripts/pcscd-stop.sh" || true; fi
    rm -rf "$shot_work"
}
trap shot_cleanup EXIT

# Private hives with the minidriver installed and the language chosen (0 English, 1 German,
# 2 Swedish), and a logon session of its own.
shot_hives() {
    export VELKORA_MACHINE_HIVE=$shot_work/machine.hive VELKORA_USER_HIVE=$shot_work/user.hive
    export XDG_RUNTIME_DIR=$shot_work/run
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    "$build/minidriver/velkora-md-install" "$build/minidriver/modules"
    "$build/tools/reg/velkora-reg" add 'HKCU\Software\Velkora\Minidriver' /v Language \
        /t REG_DWORD /d "$1" /f >/dev/null
}

# Xvfb of the given size (WxH); with "auth", only clients with its cookie reach it.
shot_display() {
    local display_num=$((90 + RANDOM % 400)) auth=()
    if [[ ${2:-} == auth ]]; then
        export XAUTHORITY=$shot_work/Xauthority
        (umask 077 && : >"$XAUTHORITY")
        xauth -q -f "$XAUTHORITY" add ":$display_num" . \
            "$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')"
        auth=(-auth "$XAUTHORITY")
    fi
    Xvfb ":$display_num" "${auth[@]}" -screen 0 "$1x24" -nolisten tcp >/dev/null 2>&1 &
    shot_pids+=($!)
    export DISPLAY=":$display_num"
    for _ in $(seq 50); do
        xdpyinfo >/dev/null 2>&1 && break
        sleep 0.1
    done
}

shot_bus() {
    local bus_file=$shot_work/bus
    dbus-daemon --session --nofork --print-address=1 >"$bus_file" 2>/dev/null &
    shot_pids+=($!)
    for _ in $(seq 50); do
        [[ -s $bus_file ]] && break
        sleep 0.1
    done
    DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$bus_file")
    export DBUS_SESSION_BUS_ADDRESS
}

# A private pcscd with the virtual card (profile $1, default tcos30) in its first reader.
shot_card() {
    eval "$(bash "$root/scripts/pcscd-start.sh" --readers 2 --dir "$shot_work/pcscd")"
    shot_pcscd_up=1
    local card_port
    read -r card_port _ <<<"$VELK_VPCD_PORTS"
    "$build/vcard/velkora-vcard" --profile "${1:-tcos30}" --image "$shot_work/card.img" \
        --port "$card_port" &
    shot_pids+=($!)
    sleep 2
}

# Starts the program on the X display, its messages recorded in $shot_work/ui.log.
shot_program() {
    export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
    export VELKORA_MSGBOX_LOG=$shot_work/ui.log VELKORA_DEBUG_COMMANDS=1
    "$build/app/shell/velkora-certmgr" >/dev/null 2>&1 &
    shot_pids+=($!)
}

# Waits until the card is registered and the monitor runs (its start re-reads the store).
shot_wait_registered() {
    for _ in $(seq 300); do
        grep -q "^icon	128" "$shot_work/ui.log" 2>/dev/null &&
            grep -q "^event	monitor	1" "$shot_work/ui.log" 2>/dev/null && break
        sleep 0.1
    done
}

# A tray command, given through the session bus as the tray would give it.
shot_command() {
    dbus-send --session --type=signal /org/velkora/CertMgr org.velkora.CertMgr.DebugCommand \
        "uint32:$1"
}

# The id of the window whose whole title is $1, waited for.
shot_window_named() {
    local id=
    for _ in $(seq 100); do
        id=$(xdotool search --name "^$1\$" 2>/dev/null | head -n1 || true)
        [[ -n $id ]] && break
        sleep 0.1
    done
    [[ -n $id ]] || { echo "$(basename "$0"): no window \"$1\"" >&2; exit 1; }
    echo "$id"
}
