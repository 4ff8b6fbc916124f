#!/usr/bin/env bash
# What watching the readers costs while nothing happens: the CPU time and the wakeups of
# velkora-certmgr (offscreen, its monitor waiting for PC/SC events) and the CPU time of the
# card side (pcscd and the virtual cards it polls), and the program's resident memory, with
# 0, 1 and 4 vpcd readers each holding a T-COS 3.0 card that the program registered when it
# was inserted; beside pcsc_scan watching the same readers, and the card side left alone.
# Figures are CPU seconds per minute and wakeups (context switches of all threads) per
# second, measured over WINDOW seconds. The targets: at most 1 wakeup per second and at
# most 1.5 times pcsc_scan's CPU time (give or take one clock tick); the last column says
# whether both are met. Use a long window (60 s or more) for CPU figures worth comparing.
#   bash bench/monitor/idle_cpu.sh [BUILD_DIR] [WINDOW_SECONDS] [READER_COUNTS...]
# BUILD_DIR defaults to build/default (velkora-certmgr, velkora-store, velkora-vcard,
# velkora-md-install and the provider modules built); WINDOW to 30 seconds; the counts to 0 1 4.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=$(cd "${1:-build/default}" && pwd)
window=${2:-30}
shift $(($# > 2 ? 2 : $#))
counts=("$@")
((${#counts[@]})) || counts=(0 1 4)
settle=4
hz=$(getconf CLK_TCK)

work=$(mktemp -d "${TMPDIR:-/tmp}/velk-idle.XXXXXX")
pids=()
pcscd_up=0
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        # A virtual card stuck inside a vpcd exchange does not see its signal.
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    pids=()
    if ((pcscd_up)); then
        bash "$root/scripts/pcscd-stop.sh" || true
        pcscd_up=0
    fi
}
trap 'cleanup; rm -rf "$work"' EXIT

export VELKORA_MACHINE_HIVE=$work/machine.hive VELKORA_USER_HIVE=$work/user.hive
export XDG_RUNTIME_DIR=$work/run QT_QPA_PLATFORM=offscreen
unset DBUS_SESSION_BUS_ADDRESS
mkdir -m 700 "$XDG_RUNTIME_DIR"
"$build/minidriver/velkora-md-install" "$build/minidriver/modules"

ticks() { # pid... : utime + stime of all their threads
    local total=0 pid
    for pid in "$@"; do
        total=$((total + $(awk '{print $14 + $15}' "/proc/$pid/stat")))
    done
    echo "$total"
}
wakeups() { # pid : voluntary and forced context switches of all its threads so far
    cat /proc/"$1"/task/*/status 2>/dev/null |
        awk '/^(non)?voluntary_ctxt_switches/ {n += $2} END {print n + 0}'
}
per_second() { # count
    awk -v n="$1" -v w="$window" 'BEGIN {printf "%.2f", n / w}'
}
verdict() { # program CPU, pcsc_scan CPU, program wakeups per second
    # CPU time comes in clock ticks: one tick in the window is within the measure's error.
    awk -v a="$1" -v s="$2" -v w="$3" -v tick="$(per_minute 1)" 'BEGIN {
        ratio = s > 0 ? sprintf("%.1fx", a / s) : "-"
        printf "%s %s", ratio, (w <= 1 && a <= 1.5 * s + tick + 0.0001) ? "ok" : "OVER"
    }'
}
per_minute() { # ticks
    awk -v t="$1" -v hz="$hz" -v w="$window" 'BEGIN {printf "%.3f", t / hz * 60 / w}'
}
rss_mib() { # pid
    awk '/^VmRSS/ {printf "%.1f", $2 / 1024}' "/proc/$1/status"
}
cards_present() { # count
    local n
    n=$(pcsc_scan -c 2>/dev/null | grep -c "Card inserted" || true)
    ((n == $1))
}

printf '%-8s %-55s %-38s %-10s %s\n' readers "velkora-certmgr" "pcsc_scan" "card side" \
    "program / pcsc_scan"
printf '%-8s %-55s %-38s %-10s %s\n' "" "CPU s/min  wakeups/s  card side  RSS MiB  registered" \
    "CPU s/min  wakeups/s  card side  RSS" "alone" "CPU, targets"
for readers in "${counts[@]}"; do
    eval "$(bash scripts/pcscd-start.sh --readers "$readers" --dir "$work/pcscd")"
    pcscd_up=1
    read -r -a ports <<<"$VELK_VPCD_PORTS"
    side=("$VELK_PCSCD_PID")

    # The program first, then the cards, as a user inserts them: each is registered by the
    # monitor thread.
    : >"$work/ui.log"
    VELKORA_MSGBOX_LOG=$work/ui.log "$build/app/shell/velkora-certmgr" >/dev/null 2>&1 &
    program=$!
    pids+=("$program")
    for _ in $(seq 600); do
        grep -q "^event	monitor	1" "$work/ui.log" && break
        sleep 0.1
    done
    for ((i = 0; i < readers; i++)); do
        "$build/vcard/velkora-vcard" --profile tcos30 --image "$work/card$i.img" \
            --port "${ports[i]}" >/dev/null 2>&1 &
        pids+=($!)
        side+=($!)
    done
    for _ in $(seq 600); do
        cards_present "$readers" && break
        sleep 0.1
    done
    registered=0
    for _ in $(seq 60); do
        registered=$("$build/tools/store/velkora-store" -user -store MY 2>/dev/null |
            grep -c "Key Container" || true)
        ((registered >= 4 * readers)) && break
        sleep 1
    done
    sleep "$settle"
    registered=$("$build/tools/store/velkora-store" -user -store MY 2>/dev/null |
        grep -c "Key Container" || true)
    a0=$(ticks "$program")
    w0=$(wakeups "$program")
    s0=$(ticks "${side[@]}")
    sleep "$window"
    app=$(per_minute $(($(ticks "$program") - a0)))
    app_wake=$(per_second $(($(wakeups "$program") - w0)))
    app_side=$(per_minute $(($(ticks "${side[@]}") - s0)))
    app_rss=$(rss_mib "$program")
    kill "$program"
    wait "$program" 2>/dev/null || true

    # The card side with nobody watching.
    sleep "$settle"
    s0=$(ticks "${side[@]}")
    sleep "$window"
    alone=$(per_minute $(($(ticks "${side[@]}") - s0)))

    # pcsc_scan watching the same readers.
    pcsc_scan -q >/dev/null 2>&1 &
    scan=$!
    pids+=("$scan")
    sleep "$settle"
    c0=$(ticks "$scan")
    w0=$(wakeups "$scan")
    s0=$(ticks "${side[@]}")
    sleep "$window"
    scan_cpu=$(per_minute $(($(ticks "$scan") - c0)))
    scan_wake=$(per_second $(($(wakeups "$scan") - w0)))
    scan_side=$(per_minute $(($(ticks "${side[@]}") - s0)))
    scan_rss=$(rss_mib "$scan")

    printf '%-8s %-10s %-10s %-10s %-8s %-12s %-10s %-10s %-10s %-6s %-10s %s\n' "$readers" \
        "$app" "$app_wake" "$app_side" "$app_rss" "$registered" "$scan_cpu" "$scan_wake" \
        "$scan_side" "$scan_rss" "$alone" "$(verdict "$app" "$scan_cpu" "$app_wake")"
    cleanup
done
echo "(CPU seconds per minute and wakeups per second, over ${window} s windows;" \
    "card side: pcscd and the virtual cards)"
