#!/usr/bin/env bash
# Checks a built velkora-certmgr package without installing it on this
# machine: its control data, its files, and its maintainer scripts run
# against a temporary machine hive and p11-kit folder with the package's own
# programs (unpacked into a temp folder).
#
#   scripts/check-deb.sh velkora-certmgr_1.0.0_amd64.deb
set -euo pipefail
deb=$1
fail() { echo "check-deb: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

depends=$(dpkg-deb -f "$deb" Depends)
for need in pcscd p11-kit libpcsclite1 libssl3 libqt6widgets6; do
    grep -q "$need" <<<"$depends" || fail "Depends lacks $need: $depends"
done
[[ $(dpkg-deb -f "$deb" Package) == velkora-certmgr ]] || fail "package name"

dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/files"
for file in /usr/bin/velkora-certmgr /usr/bin/velkora-md-install /usr/bin/velkora-nss-register \
    /usr/bin/velkora-store /usr/bin/velkora-reg \
    /usr/share/applications/velkora-certmgr.desktop /etc/xdg/autostart/velkora-certmgr.desktop \
    /usr/share/icons/hicolor/48x48/apps/velkora-certmgr.png \
    /usr/share/p11-kit/modules/velkora-pkcs11.module; do
    grep -qx "$file" "$work/files" || fail "missing $file"
done
for module in libvelkoramd.so libvelkcsp.so libvelkora-pkcs11.so; do
    grep -q "/velkora/$module\$" "$work/files" || fail "missing $module"
done
grep -Eq '/(gtest|test_|velk_.*_tests)' "$work/files" && fail "test programs in the package"

dpkg-deb -x "$deb" "$work/root"
dpkg-deb -e "$deb" "$work/control"
moduleLine=$(grep '^module:' "$work/root/usr/share/p11-kit/modules/velkora-pkcs11.module")
modulePath=${moduleLine#module: }
[[ -f $work/root$modulePath ]] || fail "p11-kit module file names $modulePath, not in the package"

# The maintainer scripts, with the package's programs and a private hive.
export VELKORA_MACHINE_HIVE=$work/machine.hive VELKORA_USER_HIVE=$work/user.hive
export VELKORA_P11KIT_MODULES=$work/p11kit
export LD_LIBRARY_PATH=$work/root/usr/lib:$work/root/usr/lib/velkora
for script in postinst prerm; do
    sed "s|/usr/bin/|$work/root/usr/bin/|g; s| /usr/lib| $work/root/usr/lib|g" \
        "$work/control/$script" >"$work/$script"
    chmod +x "$work/$script"
done
reg=$work/root/usr/bin/velkora-reg
"$work/postinst" configure
"$reg" query 'HKLM\SOFTWARE\Microsoft\Cryptography\Calais\SmartCards' /s | grep -q "Velkora MD" ||
    fail "postinst registered no card types"
[[ -f $VELKORA_P11KIT_MODULES/velkora-pkcs11.module ]] || fail "postinst wrote no p11-kit module file"
"$work/prerm" remove
if "$reg" query 'HKLM\SOFTWARE\Microsoft\Cryptography' /s 2>/dev/null | grep -q Velkora; then
    fail "prerm left registrations behind"
fi
[[ ! -e $VELKORA_P11KIT_MODULES/velkora-pkcs11.module ]] || fail "prerm left the p11-kit module file"
echo "check-deb: $deb ok"
