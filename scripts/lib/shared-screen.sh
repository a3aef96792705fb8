# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the scripts that put a shared screen together: a private X
# server with something on it, the signaling server and a headless host with
# a one-time password. Expects BIN and SIGNAL. Gives a work directory in
# $work; every process started goes into $pids; both go when the caller
# exits or is interrupted.

work="$(mktemp -d)"
pids=()
cleanup() {
  trap - EXIT INT TERM
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

# A free display number, in $number.
free_display() {
  number=${1:-60}
  while [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ]; do number=$((number + 1)); done
}

# start_x DISPLAY_NUMBER GEOMETRY: a private Xvnc.
start_x() {
  Xvnc ":$1" -geometry "$2" -depth 24 -SecurityTypes None -localhost -rfbport -1 >"$work/x$1.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$1" ] && break; sleep 0.1; done
}

# start_scenery DISPLAY: a clock, a pair of eyes and the X logo.
start_scenery() {
  DISPLAY="$1" xclock -geometry 500x500+120+150 -update 1 >/dev/null 2>&1 &
  pids+=($!)
  DISPLAY="$1" xeyes -geometry 500x300+900+300 >/dev/null 2>&1 &
  pids+=($!)
  DISPLAY="$1" xlogo -geometry 300x300+1000+650 >/dev/null 2>&1 &
  pids+=($!)
}

# start_signal PORT: the signaling server on loopback; sets LUNOR_SIGNALING_URL.
start_signal() {
  "$SIGNAL" --listen 127.0.0.1 --port "$1" --owners-db :memory: >"$work/signal.log" 2>&1 &
  pids+=($!)
  export LUNOR_SIGNALING_URL="ws://127.0.0.1:$1/signal"
}

# start_host DISPLAY: a headless host sharing DISPLAY with a random
# password; sets $id and $password.
start_host() {
  password="$(head -c 32 /dev/urandom | base64 | tr -dc 'A-Za-z0-9' | head -c 16)"
  local host=(env XDG_CONFIG_HOME="$work/host/config" XDG_DATA_HOME="$work/host/data" DISPLAY="$1")
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
    echo "the host did not start:" >&2
    cat "$work/host.log" >&2
    return 1
  fi
}
