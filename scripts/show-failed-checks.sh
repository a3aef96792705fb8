#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Prints what the failing checks of the last CTest run in the current
# directory said. The suite's summary comes last; this follows it, so a log
# cut to its end still shows why.
log=Testing/Temporary/LastTest.log
[ -f "$log" ] || exit 0
echo "--- failed checks ---"
# A failure's line and what follows it, up to its location.
awk '/^(FAIL!|XPASS|QFATAL)/ { show = 1 } show { print } /^   Loc: / { show = 0 }' "$log" | tail -40
