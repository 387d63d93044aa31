#!/usr/bin/env bash
# Installs what wyn needs to build and test, on Debian, when run as root;
# elsewhere names exactly what is missing. Nothing is taken for granted
# about the machine.
set -euo pipefail

packages=(cmake ninja-build g++ clang python3 libgtest-dev libbenchmark-dev libcurl4-openssl-dev libxxhash-dev openssl
          libmicrohttpd-dev nlohmann-json3-dev)
# Code highlighting: the tree-sitter runtime (the grammars come from npm,
# tools/grammars.sh).
packages+=(libtree-sitter-dev)
# The benchmarks' peer for page costs: md4c's Markdown to HTML converter.
packages+=(libmd4c-dev libmd4c-html0-dev)
# The demo site's fonts and pictures (tools/fonts.sh) and the page checks in
# headless Chromium.
packages+=(fonts-noto-core fonts-firacode fonts-font-awesome python3-fonttools python3-brotli
           python3-websocket chromium)
# The feed and site map checks validate the site map against its schema.
packages+=(python3-lxml)
# The Nu HTML checker (tools/html_checker.sh, from npm) runs on Java.
packages+=(default-jre-headless)
# `deps.sh windows`: the cross compiler, wine to run what it builds, and the
# sources GoogleTest is built from for Windows (make windows, make test-windows).
if [ "${1:-}" = windows ]; then
  packages+=(g++-mingw-w64-x86-64-posix wine64 wine googletest)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# npm may come with another Node.js build than Debian's; any npm will do.
command -v npm >/dev/null || missing+=(npm)
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "wyn needs these packages: ${missing[*]}"
  echo "install them with: sudo apt-get install ${missing[*]}"
  exit 1
fi
