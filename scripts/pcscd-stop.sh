#!/usr/bin/env bash
# Stops a private pcscd started by pcscd-start.sh and removes its directory.
#   scripts/pcscd-stop.sh [--pid PID] [--dir DIR] [--keep]
# Defaults come from VELK_PCSCD_PID and VELK_PCSCD_DIR. The pid is signalled only
# if that process is the pcscd of DIR (its command line names DIR's reader
# config), so a recycled pid is never hit.
set -euo pipefail

pid=${VELK_PCSCD_PID:-}
dir=${VELK_PCSCD_DIR:-}
keep=0
while (($#)); do
    case $1 in
    --pid) pid=$2; shift 2 ;;
    --dir) dir=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) echo "pcscd-stop: unknown option $1" >&2; exit 2 ;;
    esac
done
if [[ -z $pid || -z $dir ]]; then
    echo "pcscd-stop: need --pid and --dir (or VELK_PCSCD_PID and VELK_PCSCD_DIR)" >&2
    exit 2
fi

alive() {
    local state
    state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 1
    [[ -n $state && $state != Z && $state != X ]]
}

if alive "$pid" && grep -qF "$dir/conf" "/proc/$pid/cmdline" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
        alive "$pid" || break
        sleep 0.1
    done
    if alive "$pid"; then
        kill -KILL "$pid" 2>/dev/null || true
    fi
fi
if ((!keep)) && [[ -d $dir && -e $dir/conf ]]; then
    rm -rf "$dir"
fi
