#!/usr/bin/env bash
# Installs what Lunor Remote needs, builds it and starts it.
# Until the windowed application exists, this runs the host without a window.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
exec ./"${LUNOR_BUILD_DIR:-build}"/src/app/lunor-remote --headless-host "$@"
