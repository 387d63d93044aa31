#!/usr/bin/env bash
# Layers point one way: base <- os <- {markup, html} <- render <- shell <- site,
# with http beside os (it may use base and os). A file under src/<layer>/ may
# include its own layer and the layers below it, nothing else.
#
# Platforms stay in their backend folders: os/posix/ and os/win32/, and
# http's engines, http/curl/ (libcurl), http/microhttpd/ (the preview server)
# and http/win32/ (WinHTTP). Only os/ includes system headers beyond the C++
# standard library; only http/curl/ includes curl, only http/microhttpd/
# libmicrohttpd, only http/win32/ the Windows HTTP headers; and no file
# outside a backend folder asks for _WIN32: CMake picks the folder instead.
# Prints every include that points up or sideways, and every such test.
set -euo pipefail
cd "$(dirname "$0")/.."

allowed() {   # the layers a layer may include
  case "$1" in
    base)   echo "base" ;;
    os)     echo "base os" ;;
    http)   echo "base os http" ;;
    markup) echo "base os markup" ;;
    html)   echo "base os html" ;;
    render) echo "base os markup html render" ;;
    shell)  echo "base os markup html render shell" ;;
    site)   echo "base os markup html render shell http site" ;;
    *)      echo "" ;;
  esac
}

# Headers of the system that only os/ (and curl, only http/) may include.
system_headers='^(unistd|fcntl|dirent|pthread|sched|signal|poll|errno|windows|winsock2|ws2tcpip|winhttp)\.h$|^sys/|^linux/|^netinet/|^arpa/'

status=0
while IFS= read -r file; do
  layer=$(echo "$file" | cut -d/ -f2)
  ok=" $(allowed "$layer") "
  while IFS=: read -r line text; do
    target=$(echo "$text" | sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]([^">]+)[">].*/\1/')
    if [[ "$text" =~ \" ]]; then
      dep=${target%%/*}
      if [[ "$target" == */* && "$ok" != *" $dep "* ]]; then
        echo "$file:$line: $layer/ may not include $target"
        status=1
      fi
    else
      if [[ "$target" == curl/* && "$file" != src/http/curl/* ]]; then
        echo "$file:$line: only http/curl/ includes $target"
        status=1
      elif [[ "$target" == microhttpd.h && "$file" != src/http/microhttpd/* ]]; then
        echo "$file:$line: only http/microhttpd/ includes $target"
        status=1
      elif [[ "$target" =~ $system_headers && "$layer" != os &&
              ! ( "$file" == src/http/win32/* && "$target" =~ ^(windows|winhttp|wincrypt)\.h$ ) ]]; then
        echo "$file:$line: only os/ includes the system header $target"
        status=1
      fi
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include' "$file" || true)
  if [[ ! "$file" =~ ^src/(os/posix|os/win32|http/curl|http/microhttpd|http/win32)/ ]]; then
    while IFS=: read -r line text; do
      echo "$file:$line: only a backend folder asks for _WIN32: $text"
      status=1
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*(if|ifdef|ifndef|elif)\b.*_WIN32' "$file" || true)
  fi
done < <(find src -name '*.h' -o -name '*.cpp' | sort)

[ $status -eq 0 ] && echo "layers: every include points down, and only backends know the platform"
exit $status
