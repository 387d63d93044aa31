#!/usr/bin/env bash
# Puts the tree-sitter grammars wyn compiles in (and the runtime's source,
# which the Windows build compiles) into FOLDER/node_modules, default
# build/tree-sitter-npm. The set is pinned in third_party/tree-sitter/
# package-lock.json; npm runs only when that changed since the last install.
# CMake runs this when it configures a build, so every build of a fresh
# clone finds the grammars. Scripts stay off: the grammars' install scripts
# build Node.js bindings wyn does not use.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
pins="$root/third_party/tree-sitter"
npm_dir="${1:-$root/build/tree-sitter-npm}"

command -v npm >/dev/null || { echo "grammars: npm is missing; run make deps first" >&2; exit 1; }
mkdir -p "$npm_dir"
# The stamp is the lock of the last install that finished: an install cut
# short leaves none, and is redone on the next run.
stamp="$npm_dir/installed-package-lock.json"
if ! cmp -s "$pins/package-lock.json" "$stamp" || [ ! -d "$npm_dir/node_modules" ]; then
  rm -f "$stamp"
  # .npmrc: the grammars name a newer Node.js binding as an optional peer;
  # the binding here is only the runtime's C source.
  cp "$pins/package.json" "$pins/package-lock.json" "$pins/.npmrc" "$npm_dir/"
  (cd "$npm_dir" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error) ||
    { echo "grammars: npm ci failed" >&2; exit 1; }
  cp "$pins/package-lock.json" "$stamp"
fi
