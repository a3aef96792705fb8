#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the two Debian packages, lunor-remote and lunor-signal, into OUTDIR,
# from the build tree (LUNOR_BUILD_DIR, default build/; built first if need
# be). Their dependencies are dpkg-shlibdeps' and those of what the programs
# load at run time (packaging/runtime-packages.sh).
#
#   scripts/package.sh OUTDIR
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:?usage: scripts/package.sh OUTDIR}"
BUILD_DIR="${LUNOR_BUILD_DIR:-build}"
command -v help2man >/dev/null && command -v dpkg-shlibdeps >/dev/null || {
  echo "package.sh: help2man and dpkg-dev are needed (scripts/install-deps.sh --tests installs them)" >&2
  exit 1
}
[ -f "$BUILD_DIR/CMakeCache.txt" ] || cmake -S . -B "$BUILD_DIR" -G Ninja
cmake -S . -B "$BUILD_DIR" -DLUNOR_MAN_PAGES=ON >/dev/null  # the manual pages, help2man being there
cmake --build "$BUILD_DIR" --target lunor-remote lunor-signal lunor-web lunor-man lunor-package-docs
mkdir -p "$out"
out="$(cd "$out" && pwd)"
(cd "$BUILD_DIR" && cpack -G DEB -B "$out/.cpack" >/dev/null)
mv "$out"/.cpack/*.deb "$out"/
rm -rf "$out/.cpack"
for deb in "$out"/lunor-remote_*.deb "$out"/lunor-signal_*.deb; do
  echo "$deb"
  dpkg-deb --field "$deb" Package Version Depends | sed 's/^/  /'
done
