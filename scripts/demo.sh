#!/usr/bin/env bash
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

if [ -z "${DISPLAY:-}" ]; then
  echo "demo: the client window needs a display (\$DISPLAY is not set)." >&2
  exit 1
fi

work="$(mktemp -d)"
pids=()
cleanup() {
  trap - EXIT INT TERM
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

# A free display number and port.
number=60
while [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ]; do number=$((number + 1)); done
port=$((18700 + number))
shared=":$number"

Xvnc "$shared" -geometry 1600x900 -depth 24 -SecurityTypes None -localhost -rfbport -1 >"$work/x.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$number" ] && break; sleep 0.1; done
DISPLAY="$shared" xclock -geometry 500x500+120+150 -update 1 >/dev/null 2>&1 &
pids+=($!)
DISPLAY="$shared" xeyes -geometry 500x300+900+300 >/dev/null 2>&1 &
pids+=($!)

"$SIGNAL" --listen 127.0.0.1 --port "$port" >"$work/signal.log" 2>&1 &
pids+=($!)
export LUNOR_SIGNALING_URL="ws://127.0.0.1:$port/signal"

# The host, with a password nobody will use again.
password="$(head -c 32 /dev/urandom | base64 | tr -dc 'A-Za-z0-9' | head -c 16)"
host=(env XDG_CONFIG_HOME="$work/host/config" XDG_DATA_HOME="$work/host/data" DISPLAY="$shared")
printf '%s\n' "$password" | "${host[@]}" "$BIN" --set-unattended-password 2>/dev/null
"${host[@]}" "$BIN" --headless-host </dev/null >"$work/host.log" 2>&1 &
pids+=($!)
id=""
for _ in $(seq 100); do
  id="$(grep -o 'ID de session : [0-9]*' "$work/host.log" | grep -o '[0-9]*$' || true)"
  [ -n "$id" ] && break
  sleep 0.1
done
if [ -z "$id" ]; then
  echo "demo: the host did not start:" >&2
  cat "$work/host.log" >&2
  exit 1
fi

umask 077
printf '%s\n' "$password" >"$work/password"
echo "Sharing $shared as $id; the client window opens. Ctrl-C stops everything."
env XDG_CONFIG_HOME="$work/client/config" XDG_DATA_HOME="$work/client/data" \
  "$BIN" --connect "$id" --password-file "$work/password" &
pids+=($!)
wait "${pids[-1]}" || true
