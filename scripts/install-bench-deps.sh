#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what lunor-bench-e2e draws and receives with, on top of
# scripts/install-deps.sh: xterm and its fonts (the scrolling screen). The
# browser receiver's Chromium comes with install-deps.sh --tests.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends xterm xfonts-base
