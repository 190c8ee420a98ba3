#!/bin/sh
# The Debian packages from a build directory, tried as a user would: built
# with cpack, installed with apt-get, the installed tool run on the shipped
# example (with its own rule file and, through the rule directory a site
# links to the installed rule files, with one of those), stripped, with its
# symbols in the debug package, its man page found, another tool built
# against the installed libraries, and both packages purged again, leaving
# nothing they installed behind.
#   scripts/check-packages.sh [BUILD]      (default: build; run as root)
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(cd "${1:-build}" && pwd)
work=$build/package-check
packages="rowfan libvela-dev"
export DEBIAN_FRONTEND=noninteractive

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
# A run that stopped half way may have left them installed.
for p in $packages; do
  if installed "$p"; then apt-get purge -y -qq "$p" >/dev/null; fi
done

rm -rf "$work"
mkdir -p "$work"
(cd "$build" && rm -f ./*.deb ./*.ddeb && cpack -G DEB >/dev/null)
debs=$(ls "$build"/rowfan_*.deb "$build"/libvela-dev_*.deb)
ddeb=$(ls "$build"/rowfan-dbgsym_*.ddeb)

# Every path the packages hold, and those of them that are there already
# (/usr, /usr/bin, ...): what was not there before must be gone afterwards.
for deb in $debs; do
  dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|; s|/$||' | grep -v '^$'
done | sort -u >"$work/paths"
while read -r path; do
  if [ -e "$path" ]; then echo "$path"; fi
done <"$work/paths" >"$work/before"

apt-get install -y -qq $debs >/dev/null
for p in $packages; do installed "$p" || { echo "$p did not install" >&2; exit 1; }; done
dpkg-query -W $packages

# The tool on the PATH, on the shipped example: the same bytes as the tool
# of the build directory.
[ "$(command -v rowfan)" = /usr/bin/rowfan ]
(cd "$work" && rowfan "$root/examples/frames.lod" installed.lod "$root/examples/frames.rules")
"$build/src/rowfan/rowfan" "$root/examples/frames.lod" "$work/built.lod" \
  "$root/examples/frames.rules"
cmp "$work/installed.lod" "$work/built.lod"
# A rule file named without a directory comes from the rule directory, which
# the package leaves to the site: here, for this run, a link to the rule
# files it installs, unless the machine has a rule directory already.
ruledir=/data/vela1/tools/data
made=""
unmake() {
  for path in $made; do
    if [ -L "$path" ]; then rm -f "$path"; else rmdir "$path"; fi
  done
  made=""
}
trap unmake EXIT
if [ ! -e "$ruledir" ] && [ ! -L "$ruledir" ]; then
  for dir in /data /data/vela1 /data/vela1/tools; do
    if [ ! -d "$dir" ]; then mkdir "$dir"; made="$dir $made"; fi
  done
  ln -s /usr/share/vela/data "$ruledir"
  made="$ruledir $made"
fi
(cd "$work" && rowfan "$root/examples/frames.lod" detectors.lod detectors.rules)
grep -q '^DETECTOR = B$' "$work/detectors.lod"
unmake

# Stripped, and its symbols are in the debug package under its build ID.
file -L /usr/bin/rowfan | grep -q ', stripped'
id=$(readelf -n /usr/bin/rowfan | sed -n 's/^ *Build ID: //p')
debug=./usr/lib/debug/.build-id/$(echo "$id" | cut -c1-2)/$(echo "$id" | cut -c3-).debug
dpkg-deb -c "$ddeb" | grep " $debug\$" >/dev/null

# man finds the page and can render it.
[ "$(man -w rowfan)" = /usr/share/man/man1/rowfan.1.gz ]
MANPAGER=cat MANWIDTH=80 man rowfan 2>/dev/null | grep -q rowfan

# Another tool, built against the installed libraries.
sh tests/consumer/run.sh "$work/consumer"

apt-get purge -y -qq $packages >/dev/null
for p in $packages; do
  if installed "$p"; then echo "$p still installed" >&2; exit 1; fi
done
left=$(comm -23 "$work/paths" "$work/before" | while read -r path; do
  if [ -e "$path" ] || [ -L "$path" ]; then echo "$path"; fi
done)
if [ -n "$left" ]; then
  echo "left behind after purging the packages:" >&2
  echo "$left" >&2
  exit 1
fi
echo "packages $(ls $debs | xargs -n1 basename | tr '\n' ' ')built, installed, used and removed: ok"
