#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A package's copyright file: ours, and for lunor-remote, whose program holds
# the WebRTC library linked statically from Debian's libtgowt-dev, that
# library's own (its file patterns under libtgowt/); for lunor-signal, whose
# web client imports the libraries in web/vendor/, theirs (MIT).
#
#   packaging/copyright.sh remote|signal > copyright
set -euo pipefail
here="$(dirname "$0")"
# Our header paragraph (saying what follows, for lunor-remote), then ours.
awk 'BEGIN { RS = "" } NR == 1 { print; exit }' "$here/copyright"
if [ "${1:-}" = remote ]; then
  printf 'Comment: The program holds the WebRTC library of Debian'"'"'s libtgowt-dev,\n'
  printf ' linked statically: its copyright follows ours, its file patterns\n'
  printf ' relative to that library'"'"'s sources under libtgowt/.\n'
fi
printf '\n'
awk 'BEGIN { RS = ""; ORS = "\n\n" } NR > 1' "$here/copyright" | sed '$d'
if [ "${1:-}" = signal ]; then
  for licence in "$here"/../web/vendor/*/LICENSE; do
    printf '\nFiles: web/vendor/%s/*\nCopyright: %s\nLicense: MIT\n' "$(basename "$(dirname "$licence")")" \
      "$(grep -m1 '^Copyright' "$licence" | sed 's/^Copyright ([cC]) //')"
    # The text after its copyright line, as the format wants it: indented, "." for a blank line.
    sed -e '1,/^Copyright/d' -e '/./,$!d' -e 's/^$/./' -e 's/^/ /' "$licence" | awk 1
  done
fi
if [ "${1:-}" = remote ]; then
  webrtc=/usr/share/doc/libtgowt-dev/copyright
  [ -f "$webrtc" ] || { echo "copyright.sh: $webrtc is missing (libtgowt-dev)" >&2; exit 1; }
  # Every paragraph after its header, file patterns moved under libtgowt/.
  awk 'BEGIN { RS = ""; ORS = "\n\n" }
       NR == 1 { next }
       {
         n = split($0, lines, "\n"); out = ""; files = 0
         for (i = 1; i <= n; ++i) {
           line = lines[i]
           if (line ~ /^Files:/) { files = 1; sub(/^Files: */, "Files: libtgowt/", line) }
           else if (files && line ~ /^ +[^ ]/) { sub(/^ +/, "       libtgowt/", line) }
           else { files = 0 }
           out = out (i > 1 ? "\n" : "") line
         }
         print out
       }' "$webrtc" | sed '1s/^/\n/'
fi
