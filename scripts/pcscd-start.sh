#!/usr/bin/env bash
# Starts a private pcscd whose readers are vsmartcard-vpcd slots, and prints
# the environment that points PC/SC clients at it:
#
#   eval "$(scripts/pcscd-start.sh --readers 2)"
#   ... PC/SC clients now talk to the private pcscd ...
#   scripts/pcscd-stop.sh
#
# Options:
#   --readers N   number of vpcd readers (0 to 16, default 1; 0: a pcscd without readers)
#   --dir DIR     working directory (socket, reader config, log); default: a new temp dir.
#                 An existing DIR must be the caller's own with mode 0700; a missing one
#                 is made so.
#   --owner PID   stop pcscd by itself once process PID has ended (for test fixtures)
#   --debug       run pcscd with -d (its log is DIR/pcscd.log)
#
# Printed variables:
#   PCSCLITE_CSOCK_NAME  the private socket (libpcsclite reads it once per process)
#   VELK_PCSCD_PID       pid of the private pcscd (velkora-vcard joins its network by it)
#   VELK_PCSCD_DIR       its working directory
#   VELK_VPCD_PORTS      TCP port of each reader, in reader order (a card connects there,
#                        from inside pcscd's network namespace)
#   VELK_READER_NAMES    PC/SC names of the readers, separated by '|'
#
# Isolation: pcscd 1.9.9 ignores PCSCLITE_CSOCK_NAME for its own socket, so it is
# socket-activated (LISTEN_FDS) on a socket in DIR. It would still write and, at
# exit, delete /run/pcscd/pcscd.pid; it therefore runs
# in a private mount namespace in which DIR/run is mounted over /run/pcscd, so a
# system pcscd and other private ones never see each other.
#
# Network: the vpcd driver listens on every address and has no option to choose
# one, so pcscd runs in a network namespace of its own that has nothing but a
# loopback interface. Its readers are reachable from nowhere else: a card joins
# that namespace first (velkora-vcard does so by VELK_PCSCD_PID). Without such a
# namespace pcscd is not started. The socket and DIR are the caller's only.
# Nothing is ever killed by name.
set -euo pipefail
umask 077

readers=1
dir=
owner=
debug=()
while (($#)); do
    case $1 in
    --readers) readers=$2; shift 2 ;;
    --dir) dir=$2; shift 2 ;;
    --owner) owner=$2; shift 2 ;;
    --debug) debug=(-d); shift ;;
    -h | --help) sed -n '2,36p' "$0"; exit 0 ;;
    *) echo "pcscd-start: unknown option $1" >&2; exit 2 ;;
    esac
done
if ! [[ $readers =~ ^[0-9]+$ ]] || ((readers < 0 || readers > 16)); then
    echo "pcscd-start: --readers must be 0 to 16" >&2
    exit 2
fi

pcscd_bin=${VELK_PCSCD_BIN:-$(command -v pcscd || echo /usr/sbin/pcscd)}
driver=${VELK_VPCD_DRIVER:-/usr/lib/pcsc/drivers/serial/libifdvpcd.so}
[[ -x $pcscd_bin ]] || { echo "pcscd-start: no pcscd at $pcscd_bin" >&2; exit 1; }
[[ -e $driver ]] || { echo "pcscd-start: no vpcd driver at $driver" >&2; exit 1; }

if [[ -z $dir ]]; then
    dir=$(mktemp -d "${TMPDIR:-/tmp}/velk-pcscd.XXXXXX")
else
    # A folder someone else made (or can write to) could redirect the log, the socket or the
    # files removed below; only the caller's own private folder is used.
    [[ -e $dir || -L $dir ]] || mkdir -m 0700 "$dir"
    if [[ -L $dir || ! -d $dir || ! -O $dir ]] || [[ $(stat -c %a "$dir") != 700 ]]; then
        echo "pcscd-start: $dir is not a folder of this user with mode 0700" >&2
        exit 1
    fi
    dir=$(cd "$dir" && pwd -P)
fi
mkdir -p "$dir/conf" "$dir/run"
rm -f "$dir/conf/"* "$dir/run/"* "$dir/pcscd.comm"
socket=$dir/pcscd.comm
# A unix socket path is limited to 107 bytes.
if ((${#socket} > 100)); then
    echo "pcscd-start: socket path too long: $socket" >&2
    exit 1
fi

# The vpcd driver offers two slots per configured reader, on port P and P+1.
entries=$(((readers + 1) / 2))

# The namespaces that keep pcscd's pid file and its readers private (see above).
# As root mount and network namespaces will do; anyone else needs a user namespace too.
# Without /run/pcscd to mount over, a tmpfs over /run takes its place there.
namespace=()
if [[ $EUID -eq 0 ]]; then
    mkdir -p /run/pcscd 2>/dev/null || true
    candidate=(unshare -m -n --propagation private)
else
    candidate=(unshare -r -m -n --propagation private)
fi
if "${candidate[@]}" ip link set lo up 2>/dev/null; then
    namespace=("${candidate[@]}")
else
    echo "pcscd-start: cannot give pcscd a network namespace of its own (unshare -n, ip);" \
        "its vpcd readers would listen on every address, so it is not started" >&2
    exit 1
fi

ports_held_by() { # pid port...
    perl -e '
        my ($pid, @ports) = @ARGV;
        my %mine;
        opendir(my $d, "/proc/$pid/fd") or exit 2;
        for my $fd (readdir $d) {
            my $l = readlink("/proc/$pid/fd/$fd");
            $mine{$1} = 1 if defined $l && $l =~ /^socket:\[(\d+)\]$/;
        }
        my %listening;
        for my $table ("/proc/$pid/net/tcp", "/proc/$pid/net/tcp6") {
            open(my $h, "<", $table) or next;
            <$h>;
            while (<$h>) {
                my @c = split;
                my (undef, $port) = split /:/, $c[1];
                $listening{hex $port} = 1 if $c[3] eq "0A" && $mine{$c[9]};
            }
        }
        exit((grep { !$listening{$_} } @ports) ? 1 : 0);' "$@"
}

alive() { # pid: running and not a zombie
    local state
    state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 1
    [[ -n $state && $state != Z && $state != X ]]
}

launch() { # runs pcscd in the background, sets $pid
    local activator='
        use strict;
        use IO::Socket::UNIX;
        use POSIX ();
        use Fcntl;
        my $path = shift @ARGV;
        POSIX::setsid();
        unlink $path;
        my $s = IO::Socket::UNIX->new(Type => SOCK_STREAM(), Local => $path, Listen => 64)
            or die "pcscd-start: cannot listen on $path: $!\n";
        chmod 0600, $path;
        POSIX::dup2(fileno($s), 3) or die "dup2: $!\n" if fileno($s) != 3;
        open(my $fd3, "+<&=", 3) or die "fd 3: $!\n";
        fcntl($fd3, F_SETFD, 0) or die "fcntl: $!\n";
        $ENV{LISTEN_FDS} = "1";
        $ENV{LISTEN_PID} = "$$";
        exec { $ARGV[0] } @ARGV or die "exec $ARGV[0]: $!\n";'
    local inner=(perl -e "$activator" "$socket" "$pcscd_bin" -f "${debug[@]}" -c "$dir/conf")
    local private_run='
        ip link set lo up || exit 1
        if [ -d /run/pcscd ]; then
            mount --bind "$1" /run/pcscd || exit 1
        else
            mount -t tmpfs -o mode=755 tmpfs /run && mkdir /run/pcscd || exit 1
        fi
        shift
        exec "$@"'
    "${namespace[@]}" sh -c "$private_run" sh "$dir/run" "${inner[@]}" \
        </dev/null >"$dir/pcscd.log" 2>&1 &
    pid=$!
}

stop_pid() { # pid
    kill -TERM "$1" 2>/dev/null || return 0
    for _ in $(seq 50); do
        alive "$1" || return 0
        sleep 0.1
    done
    kill -KILL "$1" 2>/dev/null || true
}

pid=
ports=()
# The namespace is pcscd's alone, so the driver's own default ports cannot clash.
for attempt in 1 2 3; do
    base=35963
    ports=()
    conf=$dir/conf/vpcd
    : >"$conf"
    for ((e = 0; e < entries; e++)); do
        port=$((base + 2 * e))
        cat >>"$conf" <<CONF
FRIENDLYNAME "Velkora Virtual Reader $((e + 1))"
DEVICENAME   /dev/null:$port
LIBPATH      $driver
CHANNELID    $port

CONF
        ports+=("$port" "$((port + 1))")
    done
    launch
    ready=0
    for _ in $(seq 100); do
        alive "$pid" || break
        if [[ -S $socket ]] && ports_held_by "$pid" "${ports[@]}"; then
            ready=1
            break
        fi
        sleep 0.1
    done
    ((ready)) && break
    stop_pid "$pid"
    pid=
done
if [[ -z $pid ]]; then
    echo "pcscd-start: pcscd did not come up (log: $dir/pcscd.log)" >&2
    exit 1
fi

names=()
for ((r = 0; r < readers; r++)); do
    names+=("Velkora Virtual Reader $((r / 2 + 1)) 00 0$((r % 2))")
done
ports=("${ports[@]:0:readers}")

if [[ -n $owner ]]; then
    # Ends pcscd when the owner is gone (a test that crashed or was killed).
    (
        trap '' HUP INT
        while kill -0 "$owner" 2>/dev/null && alive "$pid"; do sleep 1; done
        if alive "$pid" && grep -qF "$dir/conf" "/proc/$pid/cmdline" 2>/dev/null; then
            stop_pid "$pid"
            rm -rf "$dir"
        fi
    ) </dev/null >/dev/null 2>&1 &
fi

old_ifs=$IFS
IFS='|'
joined_names="${names[*]}"
IFS=$old_ifs
printf "export PCSCLITE_CSOCK_NAME='%s'\n" "$socket"
printf "export VELK_PCSCD_PID='%s'\n" "$pid"
printf "export VELK_PCSCD_DIR='%s'\n" "$dir"
printf "export VELK_VPCD_PORTS='%s'\n" "${ports[*]}"
printf "export VELK_READER_NAMES='%s'\n" "$joined_names"
