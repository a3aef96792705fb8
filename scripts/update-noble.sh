#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Replaces the copies of @noble/curves and @noble/hashes in web/vendor/ with
# VERSION of both, taken from the npm registry by `npm pack` (which checks
# each package's integrity). Only the modules web/proof.js imports and the
# ones those import are kept, as published; their imports of @noble/hashes
# are the one change, pointed at our copy, since the page has no import map
# (its policy runs no inline script). Then update the versions in
# web/vendor/README.md and run web_browser_test.
#
#   scripts/update-noble.sh 2.4.0
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 VERSION" >&2; exit 2; }
cd "$(dirname "$0")/.."
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for package in curves hashes; do
  (cd "$work" && npm pack --silent "@noble/$package@$1" >/dev/null)
  mkdir -p "$work/$package"
  tar xzf "$work/noble-$package-$1.tgz" -C "$work/$package" --strip-components=1
done
rm -rf web/vendor/noble-curves web/vendor/noble-hashes
node --input-type=module - "$work" web/vendor <<'EOF'
import fs from "node:fs";
import path from "node:path";
const [from, to] = process.argv.slice(2);
const roots = [["curves", "ed25519.js"], ["hashes", "sha2.js"], ["hashes", "hmac.js"]];
const seen = new Set();
const importRe = /^((?:import|export)\b[^;]*?\bfrom\s*)(['"])([^'"]+)\2/gm;
while (roots.length) {
  const [pkg, file] = roots.pop();
  const key = pkg + "/" + file;
  if (seen.has(key)) continue;
  seen.add(key);
  const text = fs.readFileSync(path.join(from, pkg, file), "utf8").replace(importRe, (all, head, quote, name) => {
    if (name.startsWith(".")) {
      roots.push([pkg, path.posix.join(path.posix.dirname(file), name)]);
      return all;
    }
    if (!name.startsWith("@noble/hashes/")) throw new Error(file + " imports " + name);
    const target = ["hashes", name.slice("@noble/hashes/".length)];
    roots.push(target);
    let relative = path.posix.relative(path.posix.dirname(path.posix.join("noble-" + pkg, file)),
                                       path.posix.join("noble-" + target[0], target[1]));
    if (!relative.startsWith(".")) relative = "./" + relative;
    return head + quote + relative + quote;
  });
  const out = path.join(to, "noble-" + pkg, file);
  fs.mkdirSync(path.dirname(out), {recursive: true});
  fs.writeFileSync(out, text);
}
for (const pkg of ["curves", "hashes"]) {
  fs.copyFileSync(path.join(from, pkg, "LICENSE"), path.join(to, "noble-" + pkg, "LICENSE"));
}
console.log([...seen].sort().join("\n"));
EOF
