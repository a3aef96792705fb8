#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when the README or a page of docs/ names an option that none of our
# programs has (an option renamed, or gone), when a page grows past what a
# person reads through (300 lines; the README 150), or when a link to a
# page points nowhere.
#
#   scripts/check-docs.sh PROGRAM...   # each program's --help is asked
set -euo pipefail
cd "$(dirname "$0")/.."

# Options of other tools the pages quote (coturn, Redis, CMake, CTest,
# systemctl, Mutter, chown, our install script).
foreign=" --appendonly --bind --build --full --install --listening-port --lt-cred-mech --no-x11 --now
  --output-on-failure --pkey --prefix --realm --reference --static-auth-secret --test-dir --tests
  --tls-listening-port --use-auth-secret --user --wayland "

helps=""
for program in "$@"; do helps+="$("$program" --help 2>&1 || true)"$'\n'; done

status=0
for option in $(grep -oh -- '--[a-z][a-z0-9-]*' README.md docs/*.md | sort -u); do
  [[ " $(echo $foreign) " == *" $option "* ]] && continue
  grep -qF -- "$option" <<<"$helps" && continue
  echo "no program has $option:" $(grep -l -- "$option" README.md docs/*.md)
  status=1
done
for page in README.md docs/*.md; do
  lines=$(wc -l <"$page")
  limit=300
  [ "$page" = README.md ] && limit=150
  if [ "$lines" -gt "$limit" ]; then echo "$page has $lines lines (at most $limit)"; status=1; fi
  for link in $(grep -o '](\(docs/\)\?[a-z-]*\.md' "$page" | sed 's/^](//'); do
    target="$(dirname "$page")/$link"
    [ "$page" = README.md ] && target="$link"
    [ -f "$target" ] || { echo "$page links to $link, which is not there"; status=1; }
  done
done
exit $status
