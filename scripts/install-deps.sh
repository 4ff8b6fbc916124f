#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need.
# Idempotent: a package already present is not fetched again.
set -euo pipefail

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
  libatspi2.0-dev at-spi2-core libx11-dev libxtst-dev
  ca-certificates procps psmisc
)

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

# The system pcscd is started on demand by systemd on a desktop; here we run
# private instances, so a socket-activated system one must not get in the way.
exit 0
