#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when a source file of the repository does not say its licence (an
# SPDX line among its first three) or the licence text is missing. The
# libraries in web/vendor/ keep their own: each folder there needs its LICENSE.
#
#   scripts/check-licence.sh        # prints each file without it; exit 1 if any
set -euo pipefail
cd "$(dirname "$0")/.."

[ -f LICENSE ] && grep -q "GNU GENERAL PUBLIC LICENSE" LICENSE || { echo "LICENSE: missing"; exit 1; }
# The repository's files, or, in a tree that is not a clone, the same folders.
sources() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -- '*.cpp' '*.h' '*.qml' '*.js' '*.css' '*.html' '*.sh' '*CMakeLists.txt' .ci/run ':!web/vendor'
  else
    find CMakeLists.txt .ci/run src server tests bench web scripts packaging \
      \( -path tests/fuzz/corpus -o -path web/vendor \) -prune -o \
      -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.qml' -o -name '*.js' -o -name '*.css' \
      -o -name '*.html' -o -name '*.sh' -o -name CMakeLists.txt -o -path .ci/run \) -print
  fi
}
missing=0
while IFS= read -r file; do
  if ! head -n 3 "$file" | grep -q "SPDX-License-Identifier: GPL-3.0-or-later"; then
    echo "$file: no SPDX-License-Identifier line"
    missing=1
  fi
done < <(sources)
shopt -s nullglob
for library in web/vendor/*/; do
  [ -f "$library/LICENSE" ] || { echo "${library%/}: no LICENSE"; missing=1; }
done
exit $missing
