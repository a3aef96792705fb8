#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when a source file includes a layer above its own. The layers, from
# the bottom: protocol (the wire); rtc (our WebRTC interface); system and
# store (platform services); session (what host and client share);
# features (files and the clipboard over a session's channels); host and
# client (each side, beside each other); ui; app. The server speaks the
# protocol and uses the system's helpers; benchmarks and tests may use all.
#
#   scripts/check-layers.sh        # prints each upward include; exit 1 if any
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
  [protocol]="protocol"
  [rtc]="rtc protocol"
  [system]="system protocol"
  [store]="store system protocol"
  [session]="session rtc store system protocol"
  [features]="features session rtc store system protocol"
  [host]="host features session rtc store system protocol"
  [client]="client features session rtc store system protocol"
  [ui]="ui client features session rtc store system protocol"
  [app]="app ui client host features session rtc store system protocol"
  [server]="server system protocol"
)
ours=" protocol rtc system store session features host client ui app server "

check() {  # layer, folder
  local layer=$1 folder=$2 found=0
  while IFS= read -r hit; do
    local file=${hit%%:*} rest=${hit#*:}
    local line=${rest%%:*}
    local target=${hit##*#include \"}
    target=${target%%/*}
    [[ $ours == *" $target "* ]] || continue  # a library's own folders
    [[ " ${allowed[$layer]} " == *" $target "* ]] && continue
    echo "$file:$line: $layer includes $target"
    found=1
  done < <(grep -rnE '^#include "[a-z_0-9]+/' "$folder" --include='*.h' --include='*.cpp' || true)
  return $found
}

status=0
for layer in protocol rtc system store session features host client ui app; do
  check "$layer" "src/$layer" || status=1
done
check server server || status=1
if [ $status -ne 0 ]; then
  echo "check-layers: includes run upward (see above)" >&2
fi
exit $status
