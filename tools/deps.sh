#!/usr/bin/env bash
# Installs what wyn needs to build and test, on Debian, when run as root;
# elsewhere names exactly what is missing. Nothing is taken for granted
# about the machine.
set -euo pipefail

packages=(cmake ninja-build g++ clang python3 libgtest-dev libbenchmark-dev libcurl4-openssl-dev libxxhash-dev openssl
          libmicrohttpd-dev nlohmann-json3-dev)
# Code highlighting: the tree-sitter runtime of a build configured with
# WYN_TREE_SITTER_FROM_SOURCE=OFF (by default the runtime's source comes
# from npm with the grammars, tools/grammars.sh).
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
# `deps.sh windows`: the cross compiler, wine to run what it builds, the
# sources GoogleTest is built from for Windows, and what unpacks and builds
# Debian's source package of libmicrohttpd for it (tools/microhttpd_windows.sh)
# (make windows, make test-windows).
if [ "${1:-}" = windows ]; then
  packages+=(g++-mingw-w64-x86-64-posix wine64 wine googletest dpkg-dev make xz-utils)
fi

# `apt-get source` needs deb-src lines. Where there are none, the Debian
# lines the machine has are repeated as deb-src lines in a file of wyn's own;
# the machine's own files are left as they are.
deb_src_missing() {
  ! grep -rqsE '^(deb-src |Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/
}
enable_deb_src() {
  local list=/etc/apt/sources.list.d/wyn-deb-src.list
  local sources=/etc/apt/sources.list.d/wyn-deb-src.sources
  if ls /etc/apt/sources.list.d/*.sources >/dev/null 2>&1; then
    # deb822: every stanza of Debian's own archive, as a deb-src stanza.
    awk 'BEGIN { RS = ""; ORS = "\n\n" } /URIs:[^\n]*debian/ && /Types:[^\n]*deb/ {
           sub(/Types:[^\n]*/, "Types: deb-src"); print }' /etc/apt/sources.list.d/*.sources >"$sources"
  fi
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb \(.*debian.*\)/deb-src \1/p' /etc/apt/sources.list >"$list"
  fi
  [ -s "$sources" ] || rm -f "$sources"
  [ -s "$list" ] || rm -f "$list"
}
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# npm may come with another Node.js build than Debian's; any npm will do.
command -v npm >/dev/null || missing+=(npm)
need_src=0
if [ "${1:-}" = windows ] && deb_src_missing; then need_src=1; fi
[ ${#missing[@]} -eq 0 ] && [ $need_src -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
  [ $need_src -eq 1 ] && { echo "enabling Debian source packages (deb-src)"; enable_deb_src; }
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
else
  [ ${#missing[@]} -gt 0 ] && echo "wyn needs these packages: ${missing[*]}" &&
    echo "install them with: sudo apt-get install ${missing[*]}"
  [ $need_src -eq 1 ] && echo "wyn needs deb-src lines in /etc/apt/sources.list(.d) for 'apt-get source'," \
    "then 'sudo apt-get update'"
  exit 1
fi
