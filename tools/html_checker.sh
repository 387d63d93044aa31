#!/usr/bin/env bash
# Runs the Nu HTML checker (npm's vnu-jar, on Debian's Java) with the
# arguments given, installing the pinned version into build/vnu-npm first
# when it is not there yet. Used by tests/tools/html_check_test.py.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir="$root/build/vnu-npm"
command -v java >/dev/null || { echo "html_checker: java is missing; run make deps first" >&2; exit 77; }
command -v npm >/dev/null || { echo "html_checker: npm is missing; run make deps first" >&2; exit 77; }
mkdir -p "$dir"
if ! cmp -s "$root/tools/vnu/package-lock.json" "$dir/package-lock.json" || [ ! -d "$dir/node_modules" ]; then
  cp "$root/tools/vnu/package.json" "$root/tools/vnu/package-lock.json" "$dir/"
  # The checker's report on stderr is read as JSON: what npm says it added
  # must not land in front of it.
  (cd "$dir" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error) >/dev/null
fi
exec java -jar "$dir/node_modules/vnu-jar/build/dist/vnu.jar" "$@"
