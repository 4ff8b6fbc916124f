#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need.
# Idempotent: a package already present is not fetched again.
#
# One change beyond the packages: vsmartcard-vpcd ships /etc/reader.conf.d/vpcd, which gives
# the machine's own pcscd two virtual readers listening on every network address. That file
# is diverted out of pcscd's reader folder (dpkg-divert, so package upgrades follow it), and
# a running system pcscd is restarted without the readers. The project's private pcscd
# instances bring their own reader configuration. scripts/uninstall-deps.sh undoes this.
set -euo pipefail
cd "$(dirname "$0")"

packages=(
  build-essential cmake ninja-build ccache pkg-config
  clang clang-format libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-qpa-plugins
  libgl-dev
  libpcsclite-dev pcscd pcsc-tools vsmartcard-vpcd
  libssl-dev openssl
  libsqlite3-dev sqlite3
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  dbus dbus-x11 libdbus-1-dev xvfb xauth x11-utils trayer imagemagick xdotool
  pinentry-curses
  libp11-kit-dev p11-kit gnutls-bin python3-pykcs11 libnss3-tools dpkg-dev fakeroot
  libatspi2.0-dev at-spi2-core libx11-dev libxtst-dev
  ca-certificates procps psmisc iproute2
)

# Before the install too, so that a first install puts the file aside at once.
bash ./vpcd-reader-conf.sh divert

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

bash ./vpcd-reader-conf.sh divert
bash ./vpcd-reader-conf.sh check
