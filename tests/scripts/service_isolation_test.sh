#!/usr/bin/env bash
# service_isolation_test.sh pcscd|display|system-pcscd VCARD_BINARY
#   pcscd         a private pcscd's vpcd readers are reachable from its own loopback only (a
#                 card still gets in), its folder and socket are the caller's only, and a
#                 folder of another user or one open to others is refused
#   display       the test display takes no client without its cookie, nor another user
#   system-pcscd  the machine's pcscd has no reader configuration naming the vpcd driver
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
check=$1
vcard=${2:-}
other=(setpriv --reuid=65534 --regid=65534 --clear-groups)
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

work=$(mktemp -d)
chmod 0711 "$work" # the other user reaches its own folder inside
started=() # "pid folder" of every pcscd started here, each stopped at the end
cleanup() {
    for one in "${started[@]}"; do
        read -r pid dir <<<"$one"
        bash "$root/scripts/pcscd-stop.sh" --pid "$pid" --dir "$dir" || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

listening_here() { # port: a listening TCP socket on it in this network namespace
    [[ -n $(ss -ltnH "sport = :$1") ]]
}

case $check in
pcscd)
    out=$(bash "$root/scripts/pcscd-start.sh" --readers 2)
    eval "$out"
    started+=("$VELK_PCSCD_PID $VELK_PCSCD_DIR")
    for port in $VELK_VPCD_PORTS; do
        listening_here "$port" && fail "vpcd port $port is open outside pcscd's namespace"
    done
    [[ $(stat -c %a "$VELK_PCSCD_DIR") == 700 ]] || fail "pcscd folder is not 0700"
    [[ $(stat -c %a "$PCSCLITE_CSOCK_NAME") == 600 ]] || fail "pcscd socket is not 0600"
    # The card joins pcscd's network by VELK_PCSCD_PID and is seen as inserted.
    read -r port _ <<<"$VELK_VPCD_PORTS"
    "$vcard" --profile tcos20 --port "$port" --wait 20 &
    card=$!
    seen=0
    for _ in $(seq 100); do
        if pcsc_scan -c 2>/dev/null | grep -q "Card inserted"; then
            seen=1
            break
        fi
        sleep 0.2
    done
    kill "$card" 2>/dev/null || true
    wait "$card" 2>/dev/null || true
    ((seen)) || fail "a card in pcscd's namespace was not seen"

    # Folders pcscd-start must not use.
    mkdir -m 0700 "$work/foreign" "$work/open"
    chown 65534:65534 "$work/foreign"
    chmod 0755 "$work/open"
    for dir in "$work/foreign" "$work/open"; do
        bash "$root/scripts/pcscd-start.sh" --readers 0 --dir "$dir" >/dev/null 2>&1 &&
            fail "pcscd-start used $dir"
    done
    [[ -z $(ls -A "$work/open") ]] || fail "pcscd-start wrote into $work/open"

    # Another user's own pcscd (in a user namespace) is that user's alone.
    mkdir -m 0700 "$work/other"
    chown 65534:65534 "$work/other"
    # The checkout may sit below a folder the other user cannot enter: it runs a copy.
    mkdir -m 0755 "$work/bin"
    cp "$root/scripts/pcscd-start.sh" "$work/bin/"
    chmod 0755 "$work/bin/pcscd-start.sh"
    if out=$(TMPDIR=$work/other "${other[@]}" bash "$work/bin/pcscd-start.sh" --readers 1); then
        eval "$out"
        started+=("$VELK_PCSCD_PID $VELK_PCSCD_DIR")
        [[ $(stat -c '%u %a' "$PCSCLITE_CSOCK_NAME") == "65534 600" ]] ||
            fail "the other user's socket is not its own with mode 0600"
        for port in $VELK_VPCD_PORTS; do
            listening_here "$port" && fail "the other user's vpcd port $port is open"
        done
    else
        fail "pcscd-start as another user"
    fi
    ;;
display)
    [[ -n ${DISPLAY:-} ]] || { echo "no display (run under scripts/with-services.sh)" >&2; exit 1; }
    xdpyinfo >/dev/null 2>&1 || fail "the display refuses its own cookie"
    XAUTHORITY=/dev/null xdpyinfo >/dev/null 2>&1 && fail "the display takes a client without cookie"
    "${other[@]}" env XAUTHORITY=/dev/null xdpyinfo >/dev/null 2>&1 &&
        fail "the display takes another user"
    [[ $(stat -c %a "$XAUTHORITY") == 600 ]] || fail "the cookie file is readable by others"
    ;;
system-pcscd)
    bash "$root/scripts/vpcd-reader-conf.sh" check || fail "system pcscd has vpcd readers"
    ;;
*)
    echo "unknown check $check" >&2
    exit 2
    ;;
esac
((failures == 0))
