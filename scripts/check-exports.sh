#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when a program exports something of a library it links. A function
# or variable in a program's dynamic symbol table takes the place of the
# library's own for every library loaded later (a plugin that calls
# PipeWire, say, would call a copy that was never filled in). Allowed: main,
# the linker's markers, a library's own variables copied into the program
# (copy relocations: the library uses that very copy), and C++'s type
# information and one-per-process statics, which the runtime wants shared.
#
#   scripts/check-exports.sh PROGRAM...   # prints each export; exit 1 if any
set -euo pipefail
status=0
for program in "$@"; do
  copied=$(readelf -rW "$program" | awk '$3 == "R_X86_64_COPY" { print $5 }' | sort -u)
  while read -r _ _ _ type bind _ ndx name _; do
    [ "$ndx" = UND ] && continue
    case "$name" in
      main | _edata | _end | __bss_start | _IO_stdin_used) continue ;;
    esac
    grep -qxF "$name" <<<"$copied" && continue
    if [ "$type" = OBJECT ] && [[ "$bind" =~ ^(WEAK|UNIQUE)$ ]] && [[ "$name" =~ ^_Z(TI|TS|TV|TT|GV|Z) ]]; then
      continue
    fi
    echo "$program exports $type $name"
    status=1
  done < <(readelf --dyn-syms -W "$program" | awk 'NR > 3 && NF >= 8')
done
exit $status
