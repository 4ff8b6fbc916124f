#!/usr/bin/env bash
# The demo: installs what is missing, builds, and runs velkora-certmgr against a virtual
# T-COS 3.0 signature card in a reader of a private pcscd, so that the card's certificates
# show up in the user's certificate store.
#   bash scripts/run.sh [--delivered] [--] [velkora-certmgr arguments...]
#   bash scripts/run.sh --help
# (the build is build/default; VELK_DEMO_BUILD_DIR=DIR uses another existing build)
#
# - --delivered: the card is one as the trust center delivers it (NULL-PINs, only its card
#   authentication certificate), with its own image beside the other demo card's, the trust
#   center's P7M of the holder's certificates and its tele-password (kept in a file only the
#   user reads); the script prints both and how to personalize the card.
# - The card types and the provider are registered in a demo machine hive under the user's
#   data folder ($XDG_DATA_HOME/velkora, else ~/.local/share/velkora), never in the system's
#   /etc/velkora/machine.hive: the build tree's module paths would stay there after the demo,
#   for every user's program to load from wherever the tree was.
# - The card's image lives in the same folder; it is made (keys and certificates of a demo
#   trust center) on the first run and kept for the next ones.
# - The program registers the card's certificates in the user's "MY" store (the user hive
#   under $XDG_CONFIG_HOME/velkora) and removes them again when it ends.
# - With a desktop ($DISPLAY or $WAYLAND_DISPLAY) the program lives in its tray. Without one
#   it runs on the offscreen platform; look at the store with the command printed below.
# - Ctrl+C stops everything: the program first (its orderly exit removes the registrations),
#   then the card, pcscd and the session bus this script started.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

usage() {
    cat <<'USAGE'
usage: bash scripts/run.sh [--delivered] [--] [velkora-certmgr arguments...]
Installs what is missing, builds, and runs velkora-certmgr with a virtual T-COS 3.0 card in
a reader of a private pcscd. Ctrl+C stops the program, the card and pcscd.
  --delivered  a card as the trust center delivers it (NULL-PINs, only the card
               authentication certificate): demo-delivered-card.img in the demo data folder,
               its P7M (demo-delivered-card.p7m) and tele-password, printed with a hint how
               to personalize the card
  -h, --help   this text (velkora-certmgr's own: bash scripts/run.sh -- --help)
Everything after these options (or after --) goes to velkora-certmgr.
VELK_DEMO_BUILD_DIR=DIR uses another existing build instead of build/default.
USAGE
}
delivered=0
while (($#)); do
    case $1 in
    --delivered) delivered=1 ;;
    -h | --help)
        usage
        exit 0
        ;;
    --)
        shift
        break
        ;;
    *) break ;;
    esac
    shift
done

if [[ $EUID -eq 0 ]] || ! command -v sudo >/dev/null; then
    bash scripts/install-deps.sh
else
    sudo bash scripts/install-deps.sh
fi
# Only what the demo runs is built. VELK_DEMO_BUILD_DIR names an existing build to use instead
# of the default preset's.
targets=(velkora-certmgr velkora-store velkora-vcard velkora-md-install velkcsp velkoramd
    velkora-pkcs11 velkora-trustcenter)
if [[ -n ${VELK_DEMO_BUILD_DIR:-} ]]; then
    build=$VELK_DEMO_BUILD_DIR
    cmake -S "$root" -B "$build" >/dev/null
    cmake --build "$build" --target "${targets[@]}"
else
    build=$root/build/default
    cmake --preset default >/dev/null
    cmake --build --preset default --target "${targets[@]}"
fi

program=$build/app/shell/velkora-certmgr
store=$build/tools/store/velkora-store
vcard=$build/vcard/velkora-vcard
trustcenter=$build/vcard/velkora-trustcenter
mdinstall=$build/minidriver/velkora-md-install
modules=$build/minidriver/modules

data=${XDG_DATA_HOME:-$HOME/.local/share}/velkora
mkdir -p "$data"

# --- Everything started here is stopped again, in reverse order ------------------------------
program_pid=
card_pid=
bus_pid=
pcscd_up=0
stopping=0
cleanup() {
    ((stopping)) && return
    stopping=1
    trap '' INT TERM
    if [[ -n $program_pid ]] && kill -0 "$program_pid" 2>/dev/null; then
        echo "Stopping velkora-certmgr (its registrations are removed)..."
        "$program" stop >/dev/null 2>&1 || true
        for _ in $(seq 100); do
            kill -0 "$program_pid" 2>/dev/null || break
            sleep 0.1
        done
        kill "$program_pid" 2>/dev/null || true
        wait "$program_pid" 2>/dev/null || true
    fi
    if [[ -n $card_pid ]]; then
        kill "$card_pid" 2>/dev/null || true
        wait "$card_pid" 2>/dev/null || true
    fi
    ((pcscd_up)) && bash "$root/scripts/pcscd-stop.sh" || true
    if [[ -n $bus_pid ]]; then
        kill "$bus_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- Machine hive: card types and the provider -------------------------------------------
export VELKORA_MACHINE_HIVE=${VELKORA_MACHINE_HIVE:-$data/demo-machine.hive}
echo "Registering the card types and the provider in $VELKORA_MACHINE_HIVE"
"$mdinstall" "$modules"

# --- Card side: a private pcscd with the virtual card in its first reader -----------------
eval "$(bash scripts/pcscd-start.sh --readers 2 --owner $$)"
pcscd_up=1
read -r card_port _ <<<"$VELK_VPCD_PORTS"
# The delivered card has an image of its own: personalizing it never touches the other card.
if ((delivered)); then
    profile=tcos30-blank
    image=$data/demo-delivered-card.img
    p7m=$data/demo-delivered-card.p7m
    tele_password_file=$data/demo-delivered-card.telepassword
    # A P7M left from an image that is gone belongs to no card any more.
    [[ -e $image ]] || rm -f "$p7m"
else
    profile=tcos30
    image=$data/demo-card.img
fi
if [[ ! -e $image ]]; then
    echo "Making the virtual T-COS 3.0 card $image (first run: keys and certificates)..."
fi
"$vcard" --profile "$profile" --image "$image" --port "$card_port" &
card_pid=$!
first_reader=${VELK_READER_NAMES%%|*}
# The first scan of the program is to find the card already in its reader.
for _ in $(seq 300); do
    pcsc_scan -c 2>/dev/null | awk '/Reader 0:/ {r = 1; next} /Reader/ {r = 0} r && /Card inserted/ {f = 1} END {exit !f}' && break
    kill -0 "$card_pid" 2>/dev/null || { echo "velkora-vcard ended early" >&2; exit 1; }
    sleep 0.2
done

# --- The trust center's delivery for the delivered card: made once, kept beside its image ---
if ((delivered)); then
    if [[ ! -s $tele_password_file ]]; then
        # Ten letters and digits; the file is the user's only.
        (
            umask 077
            LC_ALL=C tr -dc 'A-Za-z0-9' </dev/urandom | head -c 10 >"$tele_password_file" || true
        )
    fi
    tele_password=$(<"$tele_password_file")
    if [[ ! -e $p7m ]]; then
        echo "The trust center writes the card's certificates to $p7m"
        "$trustcenter" deliver --image "$image" --out "$p7m" --tele-password-file "$tele_password_file"
    fi
fi

# --- Desktop -------------------------------------------------------------------------------
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
    export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
    echo "No desktop: running on the $QT_QPA_PLATFORM platform (no tray icon to see)."
fi
# "velkora-certmgr stop" and the minidriver reach the program over the session bus.
if [[ -z ${DBUS_SESSION_BUS_ADDRESS:-} ]]; then
    bus_file=$(mktemp)
    dbus-daemon --session --nofork --print-address=1 >"$bus_file" 2>/dev/null &
    bus_pid=$!
    for _ in $(seq 50); do
        [[ -s $bus_file ]] && break
        sleep 0.1
    done
    DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$bus_file")
    export DBUS_SESSION_BUS_ADDRESS
    rm -f "$bus_file"
fi

# --- The program -----------------------------------------------------------------------------
"$program" "$@" &
program_pid=$!

echo
echo "velkora-certmgr runs (pid $program_pid) with the virtual card in \"$first_reader\"."
for _ in $(seq 300); do
    "$store" -user -store MY 2>/dev/null | grep -q "Key Container" && break
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.2
done
echo "The card's certificates in the user's store:"
echo "    $store -user -store MY"
echo
"$store" -user -store MY | sed 's/^/    /'
echo
if ((delivered)); then
    echo "The trust center's P7M: $p7m, tele-password: $tele_password"
    echo "To personalize: Show Certificates, select \"Card Authentication\", Personalize; change" \
        "the NULL-PINs of Card PIN1 and SigG PIN1, then \"PKS Zertifikate schreiben\" with $p7m" \
        "and the tele-password $tele_password."
    echo
fi
echo "Press Ctrl+C to stop the program, the card and pcscd."

status=0
wait "$program_pid" || status=$?
program_pid=
echo "velkora-certmgr ended with exit code $status (see: $program --help)"
exit "$status"
