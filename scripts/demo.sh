#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Lunor Remote in one command: a private X server with a clock and a pair of
# eyes on it, the signaling server, a headless host sharing that screen with
# a one-time random password, and the client window on your display joined
# to it. Each instance has its own XDG directories. Ctrl-C stops everything.
#
#   ./scripts/demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${LUNOR_BUILD_DIR:-build}"
BIN="$BUILD_DIR/src/app/lunor-remote"
SIGNAL="$BUILD_DIR/server/lunor-signal"
[ -x "$BIN" ] && [ -x "$SIGNAL" ] || ./scripts/build.sh

for tool in Xvnc xclock xeyes xlogo; do
  command -v "$tool" >/dev/null || { echo "demo: $tool is missing (scripts/install-deps.sh --tests installs it)." >&2; exit 1; }
done
if [ -z "${DISPLAY:-}" ]; then
  echo "demo: the client window needs a display (\$DISPLAY is not set)." >&2
  exit 1
fi

. scripts/lib/shared-screen.sh
free_display 60
shared=":$number"
start_x "$number" 1600x900
start_scenery "$shared"
start_signal $((18700 + number))
start_host "$shared" || exit 1

umask 077
printf '%s\n' "$password" >"$work/password"
echo "Sharing $shared as $id; the client window opens. Ctrl-C stops everything."
env XDG_CONFIG_HOME="$work/client/config" XDG_DATA_HOME="$work/client/data" \
  "$BIN" --connect "$id" --password-file "$work/password" &
pids+=($!)
wait "${pids[-1]}" || true
