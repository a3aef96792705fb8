#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian packages of what a program loads at run time rather than links,
# which dpkg-shlibdeps cannot see: the QML modules the screens import (as
# Qt's import scanner finds them in the sources) and the Qt plugins the
# program needs. Prints them comma-separated, for a package's Depends; fails
# rather than print a short list.
#
#   packaging/runtime-packages.sh remote|signal
set -euo pipefail
cd "$(dirname "$0")/.."

fail() { echo "runtime-packages.sh: $*" >&2; exit 1; }
command -v qtpaths6 >/dev/null || fail "qtpaths6 is missing (qt6-base-dev-tools)"
plugins_dir=$(qtpaths6 --query QT_INSTALL_PLUGINS)
qml_dir=$(qtpaths6 --query QT_INSTALL_QML)
files=()
case "${1:-}" in
  remote)
    scanner="$(qtpaths6 --query QT_INSTALL_LIBEXECS)/qmlimportscanner"
    [ -x "$scanner" ] || fail "$scanner is missing (qt6-declarative-dev-tools)"
    scanned=$("$scanner" -rootPath src -importPath "$qml_dir" 2>/dev/null) || fail "qmlimportscanner failed"
    while IFS= read -r module; do
      [ -f "$module/qmldir" ] && files+=("$module/qmldir")
    done < <(sed -n 's/^ *"path": *"\(.*\)",\{0,1\}$/\1/p' <<<"$scanned" | grep "^$qml_dir/" | sort -u || true)
    [ ${#files[@]} -gt 0 ] || fail "no QML module found in the sources' imports"
    # X11 and Wayland windows, the icons (SVG), the picture (Qt Multimedia's
    # backends) and TLS to the signaling server.
    files+=("$plugins_dir/platforms/libqxcb.so" "$plugins_dir/platforms/libqwayland-generic.so"
            "$plugins_dir/imageformats/libqsvg.so" "$plugins_dir/multimedia/libffmpegmediaplugin.so"
            "$plugins_dir/tls/libqopensslbackend.so")
    ;;
  signal)
    # The owners' database (SQLite) and TLS.
    files+=("$plugins_dir/sqldrivers/libqsqlite.so" "$plugins_dir/tls/libqopensslbackend.so")
    ;;
  *) echo "usage: runtime-packages.sh remote|signal" >&2; exit 2 ;;
esac
# "pkg:arch, other:arch: path" for each file: every owner, without its arch.
owners=$(dpkg -S "${files[@]}") || fail "a file has no package (dpkg -S)"
sed 's/: \/.*$//' <<<"$owners" | tr ',' '\n' | sed 's/^ *//; s/:.*$//' | grep -v '^$' | sort -u |
  paste -sd, | sed 's/,/, /g'
