#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Lunor Remote a second time with clang, assertions on (a Debug build:
# Q_ASSERT is compiled in), AddressSanitizer and UndefinedBehaviorSanitizer,
# and runs the whole suite there, then every fuzz target for a short while
# over its seed corpus (their tests carry the label "fuzz").
#
#   scripts/test-sanitized.sh            # build and run everything
#   scripts/test-sanitized.sh -L fuzz    # arguments go to ctest
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${LUNOR_SANITIZE_BUILD_DIR:-build-sanitize}"
./scripts/install-deps.sh --tests

# The WebRTC library and Qt are not instrumented. One check cannot hold
# across that boundary and is off:
#  - vptr (UBSan): it checks an object's dynamic type through type
#    information the uninstrumented WebRTC library does not carry for the
#    objects it creates and hands to our adapter, so every call into them
#    would be reported.
SANITIZERS="-fsanitize=address,undefined -fno-sanitize=vptr"
FLAGS="$SANITIZERS -fno-sanitize-recover=undefined -fno-omit-frame-pointer"

CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug -DLUNOR_FUZZ=ON -DLUNOR_MAN_PAGES=OFF \
  -DCMAKE_C_FLAGS="$FLAGS" -DCMAKE_CXX_FLAGS="$FLAGS" \
  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -gline-tables-only" -DCMAKE_C_FLAGS_DEBUG="-O1 -gline-tables-only" \
  -DCMAKE_EXE_LINKER_FLAGS="$SANITIZERS" -DCMAKE_SHARED_LINKER_FLAGS="$SANITIZERS"
cmake --build "$BUILD_DIR" --parallel "$(nproc)"

export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp:print_suppressions=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
ROOT="$PWD"
cd "$BUILD_DIR"
status=0
ctest --output-on-failure --parallel 2 --timeout 600 "$@" || status=$?
[ "$status" -eq 0 ] || "$ROOT/scripts/show-failed-checks.sh"
exit "$status"
