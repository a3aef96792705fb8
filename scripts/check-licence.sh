#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when a source file of the repository does not say its licence (an
# SPDX line among its first three) or the licence text is missing.
#
#   scripts/check-licence.sh        # prints each file without it; exit 1 if any
set -euo pipefail
cd "$(dirname "$0")/.."

[ -f LICENSE ] && grep -q "GNU GENERAL PUBLIC LICENSE" LICENSE || { echo "LICENSE: missing"; exit 1; }
missing=0
while IFS= read -r file; do
  if ! head -n 3 "$file" | grep -q "SPDX-License-Identifier: GPL-3.0-or-later"; then
    echo "$file: no SPDX-License-Identifier line"
    missing=1
  fi
done < <(git ls-files -- '*.cpp' '*.h' '*.qml' '*.js' '*.css' '*.html' '*.sh' '*CMakeLists.txt' .ci/run)
exit $missing
