#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian 12 packages Lunor Remote needs to build and run; with
# --tests, also what its tests, checking build and packaging need, and what
# a stock GNOME desktop carries that our processes may load (GStreamer's
# plugins, VA-API drivers, the sound server, the desktop portal), so that
# the suite runs on a machine like the ones people have.
#
#   scripts/install-deps.sh            # build and run
#   scripts/install-deps.sh --tests    # and test
#
# Installs only what is missing (nothing to do: no root needed). Services
# that come with the test packages (Redis, coturn) are left stopped and
# disabled: the tests start their own.
set -euo pipefail

with_tests=0
case "${1:-}" in
  "") ;;
  --tests) with_tests=1 ;;
  *) echo "usage: $0 [--tests]" >&2; exit 2 ;;
esac

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build pkg-config git
  # Qt 6 (Core, Gui, Quick, QuickControls2, WebSockets, DBus, Test)
  qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-declarative-dev-tools
  qt6-websockets-dev qt6-tools-dev
  # the translations: lupdate and lrelease (qt6-tools-dev has their CMake package, Qt6LinguistTools)
  qt6-l10n-tools
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
  qml6-module-qtquick-window qml6-module-qtquick-templates qml6-module-qtqml-workerscript
  qml6-module-qtquick-dialogs qml6-module-qt-labs-platform qml6-module-qt-labs-folderlistmodel
  # the icon set (SVG)
  qt6-svg-dev
  libgl-dev libxkbcommon-dev qt6-qpa-plugins
  # Qt Multimedia: the client draws the host's picture with VideoOutput
  qt6-multimedia-dev qml6-module-qtmultimedia libqt6multimediaquick6
  # OpenGL in software where the machine has no other
  libgl1-mesa-dri libglx-mesa0 libegl-mesa0
  # WebRTC (Google's native API) and what its headers need
  libtgowt-dev libabsl-dev libssl-dev openssl
  # H264 encoders of our own choosing: x264 (the default) and OpenH264
  libx264-dev libopenh264-dev
  # X11 capture and injection
  libx11-dev libxtst-dev libxrandr-dev libxext-dev libxfixes-dev libxdamage-dev libxcomposite-dev
  # Wayland: frames from PipeWire; the application as a native Wayland client
  libpipewire-0.3-dev qt6-wayland
  # secrets and notifications
  libsecret-1-dev libglib2.0-dev dbus dbus-x11
  # the desktop's event sound for a join request (heard where a sound server runs)
  libcanberra-dev libcanberra-pulse sound-theme-freedesktop
  # the signaling server: room owners in SQLite, several instances over Redis
  libqt6sql6-sqlite libhiredis-dev libsodium-dev
)

TEST_PACKAGES=(
  # the checking build: clang with its sanitizer and libFuzzer runtimes, and
  # the symbolizer for readable reports
  clang libclang-rt-14-dev llvm
  # the screens' QML tests
  qml6-module-qttest
  # virtual displays, STUN/TURN (and its test client), Redis, a program that
  # sets and reads the X clipboard
  xvfb xauth tigervnc-standalone-server x11-xserver-utils coturn redis-server xclip
  # networks of their own for a test (namespaces, a firewall that drops UDP)
  iproute2 nftables
  # a browser for the web client's tests (and the browser benchmarks)
  chromium
  # a headless GNOME compositor with PipeWire, for the Wayland host's tests,
  # its keyboard layouts, and the desktop portal with GNOME's backend
  mutter pipewire pipewire-bin wireplumber xkb-data
  xdg-desktop-portal xdg-desktop-portal-gnome
  # what a GNOME desktop carries and our processes may load: GStreamer with
  # its PipeWire, VA-API and FFmpeg plugins (Qt Multimedia loads them), the
  # VA-API drivers, PipeWire's sound server, the accessibility bus
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-libav gstreamer1.0-pipewire gstreamer1.0-vaapi va-driver-all
  pipewire-pulse at-spi2-core
  # something moving on the demo's screen
  x11-apps
  # the separate session's terminals, on X and on Wayland, and GNOME's
  # desktop as a stock machine has it
  xterm foot gnome-shell gnome-session
  # the packages: manual pages from --help, dpkg-shlibdeps, and the package
  # test's fresh Debian root
  help2man dpkg-dev debootstrap
)
SERVICES=(redis-server coturn)

wanted=("${PACKAGES[@]}")
if [ "$with_tests" = 1 ]; then wanted+=("${TEST_PACKAGES[@]}"); fi

missing=()
for package in "${wanted[@]}"; do
  dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null | grep -qx installed || missing+=("$package")
done
[ "${#missing[@]}" -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# Services are not started while the packages install (Debian's policy-rc.d
# hook), unless the machine has a policy of its own.
policy=/usr/sbin/policy-rc.d
own_policy=0
if [ ! -e "$policy" ]; then
  own_policy=1
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
  $SUDO chmod 755 "$policy"
  trap '$SUDO rm -f "$policy"' EXIT
fi
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
[ "$own_policy" = 1 ] && $SUDO rm -f "$policy"

# A service this run installed is not enabled at boot either.
for service in "${SERVICES[@]}"; do
  [[ " ${missing[*]} " == *" $service "* ]] || continue
  if command -v systemctl >/dev/null; then $SUDO systemctl disable --quiet "$service" 2>/dev/null || true; fi
  if command -v update-rc.d >/dev/null; then $SUDO update-rc.d "$service" disable >/dev/null 2>&1 || true; fi
done
