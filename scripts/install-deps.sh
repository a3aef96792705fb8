#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs every Debian 12 package Lunor Remote needs to build, run and test.
# Run as root (or through sudo). Safe to run again.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build pkg-config git
  # the checking build: clang with its sanitizer and libFuzzer runtimes, and
  # the symbolizer for readable reports
  clang libclang-rt-14-dev llvm
  # Qt 6 (Core, Gui, Quick, QuickControls2, WebSockets, DBus, Test)
  qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-declarative-dev-tools
  qt6-websockets-dev qt6-tools-dev
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
  qml6-module-qtquick-window qml6-module-qtquick-templates qml6-module-qtqml-workerscript
  qml6-module-qtquick-dialogs qml6-module-qt-labs-platform qml6-module-qt-labs-folderlistmodel
  qml6-module-qttest
  # the icon set (SVG) and the screens' QML tests
  qt6-svg-dev
  libgl-dev libxkbcommon-dev qt6-qpa-plugins
  # Qt Multimedia: the client draws the host's picture with VideoOutput
  qt6-multimedia-dev qml6-module-qtmultimedia libqt6multimediaquick6
  # OpenGL in software, for windows on the tests' virtual displays
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
  libqt6sql6-sqlite libhiredis-dev
  # test services: virtual displays, STUN/TURN (and its test client), Redis, a
  # program that sets and reads the X clipboard
  xvfb xauth tigervnc-standalone-server x11-xserver-utils coturn redis-server xclip
  # a browser for the web client's tests (and the browser benchmarks)
  chromium
  # a headless GNOME compositor with PipeWire, for the Wayland host's tests
  mutter pipewire pipewire-bin wireplumber
  # something moving on the demo's screen
  x11-apps
  # the packages: manual pages from --help, dpkg-shlibdeps, and the package
  # test's fresh Debian root
  help2man dpkg-dev debootstrap
)

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${PACKAGES[@]}"
