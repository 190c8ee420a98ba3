#!/bin/sh
# Installs what building rowfan needs from Debian's packages, only what is
# missing, so a second run costs a few dpkg queries.
#   scripts/setup.sh          the tool and its tests
#   scripts/setup.sh tool     the tool alone
set -eu
PACKAGES="g++ make cmake flex bison iraf-dev"
# python3 and time: the pathological-input test makes its inputs with the one
# and measures with the other.
[ "${1:-}" = tool ] || PACKAGES="$PACKAGES libgtest-dev python3 time"
[ "${ROWFAN_EXTRA_PACKAGES:-}" ] && PACKAGES="$PACKAGES $ROWFAN_EXTRA_PACKAGES"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing:$missing"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
