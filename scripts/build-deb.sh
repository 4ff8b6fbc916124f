#!/usr/bin/env bash
# Builds the Debian package velkora-certmgr_<version>_<arch>.deb from a build
# tree (default build/ci) with cpack, and checks it with check-deb.sh.
#
#   scripts/build-deb.sh [BUILD_DIR]
#   sudo apt install ./build/ci/package/velkora-certmgr_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/ci}
cmake --build "$build" -j2
out=$build/package
mkdir -p "$out"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >/dev/null
rm -rf "$out/_CPack_Packages"
deb=$(ls -t "$out"/velkora-certmgr_*.deb | head -n 1)
scripts/check-deb.sh "$deb"
echo "$deb"
