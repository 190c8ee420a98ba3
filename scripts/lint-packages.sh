#!/bin/sh
# Debian's package checker over the packages of a build directory (made by
# scripts/check-packages.sh or `cpack -G DEB`): it fails on any error or
# warning. A package may override a warning, never an error, in its
# usr/share/lintian/overrides/NAME, each override under a comment line that
# gives its reason.
#   scripts/lint-packages.sh [BUILD]      (default: build)
set -eu
build=${1:-build}
packages=$(ls "$build"/*.deb "$build"/*.ddeb 2>/dev/null) || true
if [ -z "$packages" ]; then
  echo "no packages in $build: make them with scripts/check-packages.sh $build" >&2
  exit 1
fi
status=0

for package in $packages; do
  name=$(dpkg-deb -f "$package" Package)
  overrides=$(dpkg-deb --fsys-tarfile "$package" |
    tar -xOf - "./usr/share/lintian/overrides/$name" 2>/dev/null) || continue
  # Each override: a comment right above it, and a tag below error.
  reason=""
  while IFS= read -r line; do
    case $line in
      "#"*) reason=$line; continue ;;
      "") reason=""; continue ;;
    esac
    if [ -z "$reason" ]; then
      echo "$name: override without a reason above it: $line" >&2
      status=1
    fi
    reason=""
    # [PACKAGE[ TYPE]: ]TAG [CONTEXT]
    tag=$(echo "$line" | sed -E 's/^[^ :]+( [^ :]+)?: +//' | cut -d' ' -f1)
    if lintian-explain-tags "$tag" 2>/dev/null | grep -q 'Visibility: error'; then
      echo "$name: error-level tag overridden: $tag" >&2
      status=1
    fi
  done <<EOF
$overrides
EOF
done

# shellcheck disable=SC2086
lintian --fail-on error,warning $packages || status=1
exit $status
