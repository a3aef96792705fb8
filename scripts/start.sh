#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what Lunor Remote needs, builds it and starts it: the windowed
# application on your display, or, with no display, the host without a
# window. With no signaling server configured or running, a local one is
# started for the duration of the run.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
BUILD_DIR="${LUNOR_BUILD_DIR:-build}"

server_pid=""
cleanup() { [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true; }
trap cleanup EXIT

if [ -z "${LUNOR_SIGNALING_URL:-}" ] && ! (exec 3<>/dev/tcp/127.0.0.1/8787) 2>/dev/null; then
  # For this run only: owners kept in memory.
  "./$BUILD_DIR/server/lunor-signal" --listen 127.0.0.1 --port 8787 --owners-db :memory: &
  server_pid=$!
  sleep 0.5
fi

if [ -n "${DISPLAY:-}" ]; then
  "./$BUILD_DIR/src/app/lunor-remote" "$@"
else
  echo "No display: starting the host without a window." >&2
  "./$BUILD_DIR/src/app/lunor-remote" --headless-host "$@"
fi
