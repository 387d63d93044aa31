#!/usr/bin/env bash
# Builds GNU libmicrohttpd, the preview server's library, as a static
# library for 64-bit Windows (mingw-w64), from Debian's own source package,
# with Debian's patches applied. Debian ships the library for Linux only.
#
#   tools/microhttpd_windows.sh OUT    OUT/lib/libmicrohttpd.a, OUT/include/microhttpd.h
#
# Nothing is done when OUT already holds both. Needs the deb-src lines that
# `tools/deps.sh windows` adds, dpkg-dev (dpkg-source) and the cross compiler.
set -euo pipefail
out=${1:?usage: microhttpd_windows.sh OUT}
mkdir -p "$out"
out=$(cd "$out" && pwd)
[ -f "$out/lib/libmicrohttpd.a" ] && [ -f "$out/include/microhttpd.h" ] && exit 0

work="$out/work"
rm -rf "$work"
mkdir -p "$work"
cd "$work"
# apt's download user must be able to write here when this runs as root.
chmod 0777 "$work"
if ! apt-get source -qq libmicrohttpd >source.log 2>&1; then
  cat source.log
  echo "microhttpd_windows.sh: 'apt-get source libmicrohttpd' failed: are deb-src lines enabled?" \
       "(tools/deps.sh windows adds them when run as root)" >&2
  exit 1
fi
src=$(find "$work" -maxdepth 1 -type d -name 'libmicrohttpd-*' | head -n 1)
[ -n "$src" ] || { echo "microhttpd_windows.sh: no unpacked source in $work" >&2; exit 1; }

# Only what serving files needs: no TLS (the server binds the loopback
# address by default), no authentication, form parsing or upgrades.
# Threads are the system's own (auto picks them for Windows; naming w32
# outright trips a check in this version's configure).
mkdir -p build
cd build
"$src/configure" --host=x86_64-w64-mingw32 CC=x86_64-w64-mingw32-gcc-posix \
  --enable-static --disable-shared --with-threads=auto --disable-https --disable-doc --disable-examples \
  --disable-curl --disable-nls --disable-postprocessor --disable-bauth --disable-dauth --disable-httpupgrade \
  >configure.log 2>&1 || { tail -40 configure.log; exit 1; }
grep -q "Threading lib: *w32" configure.log || { echo "microhttpd_windows.sh: not built on Windows threads" >&2; exit 1; }
make -s -j "$(nproc)" -C src/microhttpd >make.log 2>&1 || { tail -40 make.log; exit 1; }

mkdir -p "$out/lib" "$out/include"
cp src/microhttpd/.libs/libmicrohttpd.a "$out/lib/"
cp "$src/src/include/microhttpd.h" "$out/include/"
cd "$out"
rm -rf "$work"
echo "libmicrohttpd for Windows: $out/lib/libmicrohttpd.a ($(basename "$src"))"
