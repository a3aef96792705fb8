#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what the tests need (when something is missing), builds Lunor
# Remote and runs its whole test suite with CTest. Each test starts the
# servers it needs itself, on loopback.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh --tests
./scripts/build.sh
BUILD_DIR="${LUNOR_BUILD_DIR:-build}"
ROOT="$PWD"
cd "$BUILD_DIR"
status=0
ctest --output-on-failure --parallel 2 "$@" || status=$?
[ "$status" -eq 0 ] || "$ROOT/scripts/show-failed-checks.sh"
exit "$status"
