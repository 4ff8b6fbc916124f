#!/usr/bin/env bash
# Undoes what scripts/install-deps.sh changed on the machine beyond installing packages: the
# vpcd driver's reader file goes back to /etc/reader.conf.d, so the system pcscd offers its
# network readers again. The packages stay; remove them with apt-get if they are not wanted.
set -euo pipefail
bash "$(dirname "$0")/vpcd-reader-conf.sh" restore
