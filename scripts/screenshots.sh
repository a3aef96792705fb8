#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Screenshots of the application, light and dark, for a look at every
# screen: the home screen, the host screen, the client directory (overview
# and a folder), the settings sheet, the join-request panel, the HUD, the
# end-of-session panel, the HUD with files and the incoming-file panel, and
# the session stage during a live session (and a file on its way) with a
# headless host; then the browser client's pages. Everything runs on
# private X servers with its own XDG directories; the application's profile
# and address book are prepared.
#
#   scripts/screenshots.sh OUTDIR
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:?usage: scripts/screenshots.sh OUTDIR}"
BUILD_DIR="${LUNOR_BUILD_DIR:-build}"
BIN="$BUILD_DIR/src/app/lunor-remote"
SIGNAL="$BUILD_DIR/server/lunor-signal"
TOUR="$BUILD_DIR/src/app/lunor-screenshots"
[ -x "$BIN" ] && [ -x "$SIGNAL" ] && [ -x "$TOUR" ] || ./scripts/build.sh
mkdir -p "$out"

. scripts/lib/shared-screen.sh
free_display 70
shared=":$number"
start_x "$number" 1920x1080
start_scenery "$shared"
free_display $((number + 1))
app=":$number"
start_x "$number" 1400x900
start_signal $((18800 + number))
start_host "$shared"

mkdir -p "$work/app/runtime"
chmod 700 "$work/app/runtime"
env -u DBUS_SESSION_BUS_ADDRESS DISPLAY="$app" XDG_CONFIG_HOME="$work/app/config" XDG_DATA_HOME="$work/app/data" \
  XDG_RUNTIME_DIR="$work/app/runtime" QT_QPA_PLATFORM=xcb \
  "$TOUR" "$out" --host "$id" --password "$password" >"$work/tour.log" 2>&1 || {
  cat "$work/tour.log" >&2
  exit 1
}
grep '\.png$' "$work/tour.log"

# The browser client's pages, as its test goes through them (it brings its
# own X server, signaling server and host).
WEB_TEST="$BUILD_DIR/tests/app/web_client_test"
if [ -x "$WEB_TEST" ] && command -v chromium >/dev/null; then
  LUNOR_WEB_SCREENSHOTS="$(cd "$out" && pwd)" "$WEB_TEST" >"$work/web.log" 2>&1 || {
    cat "$work/web.log" >&2
    exit 1
  }
  ls "$out"/web-*.png
fi
