#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The packages on a new machine: builds lunor-remote and lunor-signal
# (scripts/package.sh), makes a fresh Debian 12 root with debootstrap and, in
# it, installs them with only Debian's archive to take dependencies from,
# then runs `lunor-signal --version`, a signaling server, a headless host
# and a headless client session through the installed programs, checks the
# units with `systemd-analyze verify` (and the server's with `security`),
# runs the separate session as its unit would and a client of it,
# removes the packages and shows that nothing of theirs is left but the
# server's state directory. Not part of the unit suite: it downloads a few
# hundred MB and takes minutes. Run as root.
#
#   scripts/test-packages.sh [WORKDIR]      # WORKDIR default: a new temporary one
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "test-packages.sh: run as root (debootstrap, chroot)" >&2; exit 1; }
MIRROR="${LUNOR_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
work="${1:-$(mktemp -d /var/tmp/lunor-packages.XXXXXX)}"
root="$work/root"
mkdir -p "$work"
command -v debootstrap >/dev/null || apt-get install -y -qq --no-install-recommends debootstrap

step() { printf '\n== %s\n' "$*"; }
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }
# Whatever still runs inside the root (the server, the host, Xvfb).
stop_root_processes() {
  for proc in /proc/[0-9]*; do
    [ "$(readlink "$proc/root" 2>/dev/null)" = "$root" ] && kill "${proc#/proc/}" 2>/dev/null
  done
  sleep 1
}
cleanup() {
  stop_root_processes
  for p in dev/pts dev proc sys; do mountpoint -q "$root/$p" && umount -l "$root/$p"; done
  return 0
}
trap cleanup EXIT

step "Packages"
./scripts/package.sh "$work/debs"

step "A fresh Debian 12 root"
# The downloaded base is kept between runs; the root itself is always new.
cache="${XDG_CACHE_HOME:-$HOME/.cache}/lunor/bookworm-minbase.tgz"
if [ ! -f "$cache" ]; then
  mkdir -p "$(dirname "$cache")"
  debootstrap --variant=minbase --make-tarball="$cache" bookworm "$work/tarball-root" "$MIRROR"
  rm -rf "$work/tarball-root"
fi
rm -rf "$root"
debootstrap --variant=minbase --unpack-tarball="$cache" bookworm "$root" "$MIRROR"
cp /etc/resolv.conf "$root/etc/resolv.conf"
cat > "$root/etc/apt/sources.list" <<SOURCES
deb $MIRROR bookworm main
deb $MIRROR bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
SOURCES
mount -t proc proc "$root/proc"
mount -t sysfs sys "$root/sys"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
export DEBIAN_FRONTEND=noninteractive
in_root apt-get update -qq

step "What the test itself uses (not the packages): an X server, systemd-analyze, man"
in_root apt-get install -y -qq --no-install-recommends xvfb xauth systemd man-db >/dev/null

step "The packages' dependencies, from Debian's archive alone"
deps=$(for deb in "$work"/debs/*.deb; do dpkg-deb --field "$deb" Depends; done |
       tr ',' '\n' | sed 's/(.*)//; s/ //g' | grep -v '^$' | sort -u)
# shellcheck disable=SC2086
in_root apt-get install -y -qq --no-install-recommends $deps >/dev/null
listing() {
  (cd "$root" && find . -xdev \( -path ./proc -o -path ./sys -o -path ./dev -o -path ./run -o -path ./tmp \
     -o -path ./var/tmp -o -path ./root -o -path ./home -o -path ./var/cache -o -path ./var/log \
     -o -path ./var/lib/apt -o -path ./var/lib/dpkg -o -path ./opt/debs \) -prune -o -print | sort)
}
listing > "$work/before.txt"

step "Installing lunor-remote and lunor-signal"
mkdir -p "$root/opt/debs"
cp "$work"/debs/*.deb "$root/opt/debs/"
in_root sh -c 'apt-get install -y -qq --no-install-recommends /opt/debs/*.deb' >/dev/null
in_root dpkg -s lunor-remote lunor-signal | grep -E '^(Package|Status|Version)'

step "The installed programs"
in_root lunor-signal --version
in_root lunor-remote --version
in_root man -w lunor-signal lunor-remote

step "A session through the installed programs"
port=18787
in_root sh -c "lunor-signal --port $port --owners-db :memory: >/tmp/signal.log 2>&1 &"
in_root sh -c 'Xvfb :71 -screen 0 1280x720x24 -nolisten tcp >/tmp/xvfb.log 2>&1 &'
sleep 2
session_env="LUNOR_SIGNALING_URL=ws://127.0.0.1:$port/signal DISPLAY=:71 XDG_RUNTIME_DIR=/tmp"
in_root sh -c "mkdir -p /tmp/host /tmp/client && printf 'pâquerette 42\n' > /tmp/password"
in_root sh -c "HOME=/tmp/host $session_env lunor-remote --set-unattended-password < /tmp/password"
in_root sh -c "HOME=/tmp/host $session_env lunor-remote --headless-host >/tmp/host.log 2>&1 &"
id=""
for _ in $(seq 1 60); do
  id=$(sed -n 's/.*ID de session : \([0-9]\{9\}\).*/\1/p' "$root/tmp/host.log" | head -n 1)
  [ -n "$id" ] && grep -q "unattended=true" "$root/tmp/host.log" && break
  sleep 0.5
done
[ -n "$id" ] || { cat "$root/tmp/host.log" "$root/tmp/signal.log"; echo "FAILED: the host did not start"; exit 1; }
echo "host $id"
if ! in_root sh -c "HOME=/tmp/client $session_env lunor-remote --headless-client $id --password-file /tmp/password \
                    --seconds 3 >/tmp/client.log 2>&1"; then
  cat "$root/tmp/client.log" "$root/tmp/host.log"
  echo "FAILED: the client session"
  exit 1
fi
grep -E "First picture|Ended" "$root/tmp/client.log"
stop_root_processes

step "The separate session, started as its unit starts it (no display, no session bus)"
# What the package recommends for it: a private bus, an X server and a terminal.
in_root apt-get install -y -qq --no-install-recommends dbus-daemon xterm >/dev/null
in_root sh -c "lunor-signal --port $port --owners-db :memory: >/tmp/signal.log 2>&1 &"
sleep 1
in_root sh -c "HOME=/tmp/host XDG_RUNTIME_DIR=/tmp LUNOR_SIGNALING_URL=ws://127.0.0.1:$port/signal \
               lunor-remote --separate-session >/tmp/session.log 2>&1 &"
for _ in $(seq 1 60); do grep -q "unattended=true" "$root/tmp/session.log" && break; sleep 0.5; done
grep -q "Session à part prête" "$root/tmp/session.log" ||
  { cat "$root/tmp/session.log"; echo "FAILED: the separate session did not come up"; exit 1; }
if ! in_root sh -c "HOME=/tmp/client LUNOR_SIGNALING_URL=ws://127.0.0.1:$port/signal XDG_RUNTIME_DIR=/tmp \
                    lunor-remote --headless-client $id --password-file /tmp/password --seconds 3 \
                    >/tmp/client2.log 2>&1"; then
  cat "$root/tmp/client2.log" "$root/tmp/session.log"
  echo "FAILED: a client of the separate session"
  exit 1
fi
grep -E "First picture|session à part" "$root/tmp/client2.log"
stop_root_processes

step "The units"
in_root systemd-analyze verify /usr/lib/systemd/system/lunor-signal.service
in_root sh -c 'mkdir -p -m 700 /tmp/runtime && XDG_RUNTIME_DIR=/tmp/runtime \
               systemd-analyze verify --user /usr/lib/systemd/user/lunor-remote-host.service \
                 /usr/lib/systemd/user/lunor-remote-session.service'
echo "the units verify"
in_root systemd-analyze security --offline=yes /usr/lib/systemd/system/lunor-signal.service | tail -n 1

step "The server's state, as the service keeps it"
# systemd does not run in the root: the directory its StateDirectory= makes,
# and a database in it, made by hand as the service would.
in_root sh -c 'mkdir -p /var/lib/lunor-signal && lunor-signal --port 18788 \
               --owners-db /var/lib/lunor-signal/owners.sqlite >/tmp/signal2.log 2>&1 &'
sleep 2
stop_root_processes
ls -l "$root/var/lib/lunor-signal"

step "Removing the packages (purge)"
in_root apt-get purge -y -qq lunor-remote lunor-signal >/dev/null
listing > "$work/after.txt"
left=$(comm -13 "$work/before.txt" "$work/after.txt")
echo "left behind:"
echo "${left:-  (nothing)}" | sed 's/^/  /'
unexpected=$(echo "$left" | grep -v -e '^$' -e '^\./var/lib/lunor-signal' || true)
if [ -n "$unexpected" ]; then
  echo "FAILED: the packages left files behind"
  exit 1
fi
echo
echo "PASSED: the packages install on a fresh Debian 12 root, a session runs through them, the units verify, and nothing but the state directory is left."
