#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian packages of what a program loads at run time rather than links,
# which dpkg-shlibdeps cannot see: the QML modules the screens import (as
# Qt's import scanner finds them in the sources) and the Qt plugins the
# program needs. Prints them comma-separated, for a package's Depends.
#
#   packaging/runtime-packages.sh remote|signal
set -euo pipefail
cd "$(dirname "$0")/.."

plugins_dir=$(qtpaths6 --query QT_INSTALL_PLUGINS 2>/dev/null || echo /usr/lib/x86_64-linux-gnu/qt6/plugins)
qml_dir=$(qtpaths6 --query QT_INSTALL_QML 2>/dev/null || echo /usr/lib/x86_64-linux-gnu/qt6/qml)
files=()
case "${1:?usage: runtime-packages.sh remote|signal}" in
  remote)
    scanner=/usr/lib/qt6/libexec/qmlimportscanner
    while IFS= read -r module; do
      [ -f "$module/qmldir" ] && files+=("$module/qmldir")
    done < <("$scanner" -rootPath src -importPath "$qml_dir" 2>/dev/null |
             sed -n 's/^ *"path": *"\(.*\)",\{0,1\}$/\1/p' | grep "^$qml_dir/" | sort -u)
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
  *) echo "runtime-packages.sh: remote or signal" >&2; exit 2 ;;
esac
[ ${#files[@]} -gt 0 ] || { echo "runtime-packages.sh: nothing found" >&2; exit 1; }
dpkg -S "${files[@]}" | sed 's/:[a-z0-9]*:.*//; s/: .*//' | sort -u | paste -sd, | sed 's/,/, /g'
