#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A session between two networks that drop every UDP packet (many offices,
# hotel and guest networks): host and client each in a network namespace of
# their own behind a router namespace, where the signaling server (over
# TLS) and coturn run. The only way through is TURN over TCP, which the
# server hands out beside UDP from the one TURN host it is given.
#
#   blocked_udp_test.sh LUNOR_REMOTE LUNOR_SIGNAL   # exit 77: cannot run here
set -euo pipefail
remote=$1
signal=$2

skip() { echo "SKIP: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "network namespaces need root"
for tool in ip nft turnserver openssl Xvfb setpriv; do
  command -v "$tool" >/dev/null || skip "$tool is missing (scripts/install-deps.sh --tests installs it)"
done

tag="lu$$"
router="${tag}r" host="${tag}h" client="${tag}c"
work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  for ns in "$router" "$host" "$client"; do ip netns del "$ns" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
# Namespaces of earlier runs that were killed before they could clean up.
for ns in $(ip netns list | awk '{print $1}' | grep -E '^lu[0-9]+[rhc]$' || true); do
  kill -0 "${ns//[!0-9]/}" 2>/dev/null || ip netns del "$ns" 2>/dev/null || true
done
# Everything started here goes with this script, however it ends.
spawn() { setpriv --pdeathsig KILL "$@" & pids+=($!); }

# ---- the networks: host 10.201.1.2 and client 10.201.2.2 behind the router
for ns in "$router" "$host" "$client"; do
  ip netns add "$ns" 2>/dev/null || skip "network namespaces cannot be made here"
  ip -n "$ns" link set lo up
done
for side in h c; do
  ns="$host" && net=1
  [ "$side" = c ] && ns="$client" && net=2
  ip link add "${tag}${side}0" netns "$router" type veth peer name "${tag}${side}1" netns "$ns" 2>/dev/null ||
    skip "no virtual Ethernet links here"
  ip -n "$router" addr add "10.201.$net.1/24" dev "${tag}${side}0"
  ip -n "$router" link set "${tag}${side}0" up
  ip -n "$ns" addr add "10.201.$net.2/24" dev "${tag}${side}1"
  ip -n "$ns" link set "${tag}${side}1" up
  ip -n "$ns" route add default via "10.201.$net.1"
  # No UDP leaves this network.
  ip netns exec "$ns" nft -f - <<'EOF' || skip "no packet filter (nftables) here"
table inet nudp {
  chain out { type filter hook output priority 0; meta l4proto udp drop; }
}
EOF
done
ip netns exec "$router" sysctl -qw net.ipv4.ip_forward=1

# ---- the service: signaling over TLS and coturn with a shared secret
public=10.201.1.1
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=lunor-test -addext "subjectAltName=IP:$public" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
head -c 24 /dev/urandom | base64 >"$work/turn-secret"
chmod 600 "$work/turn-secret" "$work/key.pem"
spawn ip netns exec "$router" turnserver -n --listening-port=3478 --realm=lunor --no-tls --no-dtls --no-cli \
  --use-auth-secret --static-auth-secret="$(cat "$work/turn-secret")" --log-file=stdout --simple-log \
  --pidfile "$work/turn.pid" --db "$work/turndb" >"$work/turn.log" 2>&1
spawn ip netns exec "$router" "$signal" --listen 0.0.0.0 --port 8443 --cert "$work/cert.pem" --key "$work/key.pem" \
  --owners-db :memory: --turn-url "turn:$public:3478" --turn-secret-file "$work/turn-secret" >"$work/signal.log" 2>&1

# ---- a screen to share
number=90
while [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ]; do number=$((number + 1)); done
spawn Xvfb ":$number" -screen 0 640x480x24 -nolisten tcp >"$work/x.log" 2>&1
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$number" ] && break; sleep 0.1; done

# ---- host and client, each in its network, with its own configuration
settings() {  # home
  mkdir -p "$1/config/LunorRemote" "$1/data"
  cat >"$1/config/LunorRemote/LunorRemote.conf" <<EOF
[signaling]
url=wss://$public:8443/signal
caFile=$work/cert.pem
[ice]
stunUrl=stun:$public:3478
turnUrl=turn:$public:3478
EOF
}
as() {  # namespace home: the command's start in $run
  run=(ip netns exec "$1" env -u LUNOR_SIGNALING_URL -u LUNOR_ICE_LOOPBACK -u DBUS_SESSION_BUS_ADDRESS
       XDG_CONFIG_HOME="$2/config" XDG_DATA_HOME="$2/data" XDG_RUNTIME_DIR="$2" DISPLAY=":$number")
}
settings "$work/host"
settings "$work/client"
password="pw-$$-$RANDOM"
printf '%s\n' "$password" >"$work/password"
as "$host" "$work/host"
"${run[@]}" "$remote" --set-unattended-password <"$work/password" >/dev/null 2>&1
spawn "${run[@]}" "$remote" --headless-host </dev/null >"$work/host.log" 2>&1
id=""
for _ in $(seq 200); do
  id="$(grep -o 'ID de session : [0-9]*' "$work/host.log" | grep -o '[0-9]*$' || true)"
  [ -n "$id" ] && grep -q "unattended=true" "$work/host.log" && break
  sleep 0.1
done
if [ -z "$id" ]; then
  echo "FAIL: the host never opened its room"; tail -n 20 "$work/host.log" "$work/signal.log"; exit 1
fi

status=0
as "$client" "$work/client"
setpriv --pdeathsig KILL "${run[@]}" timeout 90 "$remote" --headless-client "$id" --password-file "$work/password" \
  --seconds 3 --json "$work/figures.json" >"$work/client.log" 2>&1 || status=$?
# The summary's count comes first (its keys are sorted, "samples" after it).
frames=$(grep -o '"frames": *[0-9]*' "$work/figures.json" 2>/dev/null | head -n 1 | grep -o '[0-9]*$' || true)
if [ "$status" != 0 ] || [ "${frames:-0}" -lt 1 ]; then
  echo "FAIL: no session with UDP blocked (client exit $status, $frames frames)"
  tail -n 25 "$work/client.log"; echo "--- host"; tail -n 15 "$work/host.log"; echo "--- coturn"; tail -n 15 "$work/turn.log"
  exit 1
fi
echo "PASSED: a session through TURN over TCP with UDP dropped on both sides ($frames frames)"
