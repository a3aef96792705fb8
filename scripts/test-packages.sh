#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The packages on a new machine: builds lunor-remote and lunor-signal
# (scripts/package.sh), makes a fresh Debian 12 root with debootstrap and, in
# it, installs them with only Debian's archive to take dependencies from,
# then runs `lunor-signal --version`, a signaling server, a headless host
# and a headless client session through the installed programs, checks the
# units with `systemd-analyze verify` (and the server's with `security`),
# runs the separate session as its unit would and a client of it, then
# turns unattended access on for a user of the root and boots it with
# systemd (systemd-nspawn): with nobody logged in, the user's lingering
# manager starts the separate session and a client reaches it. Last, it
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
command -v systemd-nspawn >/dev/null || apt-get install -y -qq --no-install-recommends systemd-container

step() { printf '\n== %s\n' "$*"; }
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }
# Whatever still runs inside the root (the server, the host, Xvfb).
stop_root_processes() {
  for proc in /proc/[0-9]*; do
    [ "$(readlink "$proc/root" 2>/dev/null)" = "$root" ] && kill "${proc#/proc/}" 2>/dev/null
  done
  sleep 1
}
booted=""  # systemd-nspawn, while the root runs as a machine of its own
cleanup() {
  if [ -n "$booted" ] && kill -TERM "$booted" 2>/dev/null; then wait "$booted" || true; fi
  mountpoint -q "$work/machine" && umount -l "$work/machine"
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
# Installed before the listing that the purge is checked against, with what
# lunor-remote recommends for the separate session (a private bus, a
# terminal) and what a system booted with systemd has (libpam-systemd:
# without it no user's systemd manager starts).
in_root apt-get install -y -qq --no-install-recommends xvfb xauth systemd man-db \
  dbus-daemon xterm libpam-systemd >/dev/null

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

step "Unattended from boot: --enable-unattended-session, then a boot with nobody logged in"
listing > "$work/before-boot.txt"
in_root useradd --create-home --shell /bin/bash camille
uid=$(in_root id -u camille)
home="$root/home/camille"
as_camille() {
  chroot --userspec="$uid:$uid" "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/home/camille \
    USER=camille LOGNAME=camille LANG=C.UTF-8 "$@"
}
# Her settings name the test's server (the environment of a unit started at
# boot gets none of ours).
as_camille sh -c "mkdir -p ~/.config/LunorRemote &&
                  printf '[signaling]\nurl=ws://127.0.0.1:$port/signal\n' > ~/.config/LunorRemote/LunorRemote.conf"
as_camille sh -c 'lunor-remote --set-unattended-password < /tmp/password'
enabled=0
as_camille lunor-remote --enable-unattended-session >"$work/enable.log" 2>&1 || enabled=$?
echo "lunor-remote --enable-unattended-session (exit $enabled):"
sed 's/^/  /' "$work/enable.log"
[ -f "$home/.local/share/LunorRemote/secrets.json" ] ||
  { echo "FAILED: --enable-unattended-session kept no secrets outside the keyring"; exit 1; }
# No systemd runs in the chroot: loginctl cannot reach logind, and
# `systemctl --user enable --now` links the unit (offline) but cannot start
# it, so the program says it could not enable it. What the two would have
# left behind, where they did not: the lingering mark and the unit's link.
wants="$home/.config/systemd/user/default.target.wants"
if [ ! -L "$wants/lunor-remote-session.service" ]; then
  echo "(linking the unit by hand: systemctl did not)"
  as_camille sh -c 'mkdir -p ~/.config/systemd/user/default.target.wants &&
                    ln -s /usr/lib/systemd/user/lunor-remote-session.service ~/.config/systemd/user/default.target.wants/'
fi
mkdir -p "$root/var/lib/systemd/linger"
touch "$root/var/lib/systemd/linger/camille"

in_root sh -c "lunor-signal --port $port --owners-db :memory: >/tmp/signal.log 2>&1 &"
sleep 1
# The machine gets the root without the chroot's mounts (systemd-nspawn
# makes its own /proc, /sys and /dev), the host's network (the server
# listens on its loopback) and keeps its journal in the root, where it can
# be read from here.
mkdir -p "$work/machine"
mount --bind "$root" "$work/machine"
systemd-nspawn --quiet --directory="$work/machine" --machine=lunor-packages --boot --register=no --keep-unit \
  --link-journal=no --console=read-only </dev/null >"$work/boot.log" 2>&1 &
booted=$!
session_log() {
  journalctl --directory="$root/var/log/journal" --output=cat _UID="$uid" SYSLOG_IDENTIFIER=lunor-remote \
    >"$work/boot-session.log" 2>/dev/null || true
}
boot_id=""
for _ in $(seq 1 180); do
  kill -0 "$booted" 2>/dev/null || break
  session_log
  boot_id=$(sed -n 's/.*ID de session : \([0-9]\{9\}\).*/\1/p' "$work/boot-session.log" | head -n 1)
  [ -n "$boot_id" ] && grep -q "unattended=true" "$work/boot-session.log" && break
  sleep 1
done
if [ -z "$boot_id" ] || ! grep -q "Session à part prête" "$work/boot-session.log"; then
  tail -n 40 "$work/boot.log"
  journalctl --directory="$root/var/log/journal" --no-pager _UID="$uid" | tail -n 60
  echo "FAILED: the separate session did not come up at boot"
  exit 1
fi
echo "after the boot, camille's separate session is $boot_id"
if ! in_root sh -c "HOME=/tmp/client LUNOR_SIGNALING_URL=ws://127.0.0.1:$port/signal XDG_RUNTIME_DIR=/tmp \
                    lunor-remote --headless-client $boot_id --password-file /tmp/password --seconds 3 \
                    --save-frame /tmp/boot-frame.png >/tmp/client3.log 2>&1"; then
  session_log
  cat "$root/tmp/client3.log" "$work/boot-session.log"
  echo "FAILED: a client of the separate session started at boot"
  exit 1
fi
grep -E "First picture|session à part" "$root/tmp/client3.log"
grep -q "session à part" "$root/tmp/client3.log" ||
  { cat "$root/tmp/client3.log"; echo "FAILED: the client was not told it reached the separate session"; exit 1; }
[ -s "$root/tmp/boot-frame.png" ] || { echo "FAILED: the client saved no picture"; exit 1; }
# SIGTERM to systemd-nspawn shuts the machine down as a power-off would.
kill -TERM "$booted"
stopped=0
wait "$booted" || stopped=$?
booted=""
[ "$stopped" -eq 0 ] || { tail -n 40 "$work/boot.log"; echo "FAILED: the machine did not shut down cleanly"; exit 1; }
umount "$work/machine"
echo "the machine shut down"
stop_root_processes
listing > "$work/after-boot.txt"

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
# Less what the boot's step made as root: camille, her lingering mark and
# what systemd keeps. lunor-remote ran as camille there, who can write
# nowhere that is listed.
comm -13 "$work/before-boot.txt" "$work/after-boot.txt" > "$work/boot-made.txt"
left=$(comm -13 "$work/before.txt" "$work/after.txt" | comm -23 - "$work/boot-made.txt")
echo "left behind:"
echo "${left:-  (nothing)}" | sed 's/^/  /'
unexpected=$(echo "$left" | grep -v -e '^$' -e '^\./var/lib/lunor-signal' || true)
if [ -n "$unexpected" ]; then
  echo "FAILED: the packages left files behind"
  exit 1
fi
echo
echo "PASSED: the packages install on a fresh Debian 12 root, a session runs through them, the separate session starts at boot with nobody logged in and takes a client, the units verify, and nothing but the state directory is left."
