#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Configures and builds Lunor Remote into ./build (or $LUNOR_BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${LUNOR_BUILD_DIR:-build}"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE="${LUNOR_BUILD_TYPE:-RelWithDebInfo}"
cmake --build "$BUILD_DIR" --parallel "$(nproc)"
