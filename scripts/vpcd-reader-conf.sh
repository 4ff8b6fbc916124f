#!/usr/bin/env bash
# Keeps the vpcd driver out of the machine's own pcscd.
#   vpcd-reader-conf.sh divert   move the package's reader file out of pcscd's reader folder
#   vpcd-reader-conf.sh restore  put it back (the state before scripts/install-deps.sh)
#   vpcd-reader-conf.sh check    fail when a reader configuration of the system pcscd names
#                                the vpcd driver
# divert and restore restart a running system pcscd so that it takes the change.
set -euo pipefail

conf=/etc/reader.conf.d/vpcd
# Outside /etc/reader.conf.d: pcscd reads every file in that folder, whatever its name.
aside=/var/lib/velkora/reader.conf.d-vpcd

restart_system_pcscd() {
    if command -v systemctl >/dev/null && [[ -d /run/systemd/system ]]; then
        systemctl try-restart pcscd.service >/dev/null 2>&1 || true
    fi
}

diverted() {
    dpkg-divert --list "$conf" | grep -q .
}

case ${1:-} in
divert)
    if ! diverted; then
        mkdir -p "$(dirname "$aside")"
        dpkg-divert --quiet --local --rename --divert "$aside" --add "$conf"
        echo "vpcd-reader-conf: $conf moved to $aside (undo: scripts/uninstall-deps.sh)"
        restart_system_pcscd
    fi
    ;;
restore)
    if diverted; then
        dpkg-divert --quiet --local --rename --remove "$conf"
        rmdir --ignore-fail-on-non-empty "$(dirname "$aside")" 2>/dev/null || true
        echo "vpcd-reader-conf: $conf is back"
        restart_system_pcscd
    fi
    ;;
check)
    found=()
    for f in /etc/reader.conf /etc/reader.conf.d/*; do
        [[ -f $f ]] || continue
        if grep -Eq '^[[:space:]]*LIBPATH[[:space:]].*ifdvpcd' "$f"; then
            found+=("$f")
        fi
    done
    if ((${#found[@]})); then
        echo "vpcd-reader-conf: the system pcscd gets vpcd readers, open to the network," \
            "from: ${found[*]}" >&2
        exit 1
    fi
    ;;
*)
    echo "usage: vpcd-reader-conf.sh divert|restore|check" >&2
    exit 2
    ;;
esac
