#!/usr/bin/env bash
# Layers point one way: base <- os <- {markup, html} <- render <- shell <- site,
# with http beside os (it may use base and os). A file under src/<layer>/ may
# include its own layer and the layers below it, nothing else; only os/
# includes system headers beyond the C++ standard library, and only http/
# includes curl and libmicrohttpd (and, for its WinHTTP engine, the Windows
# HTTP headers). Prints every include that points up or sideways.
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
      if [[ ( "$target" == curl/* || "$target" == microhttpd.h ) && "$layer" != http ]]; then
        echo "$file:$line: only http/ includes $target"
        status=1
      elif [[ "$target" =~ $system_headers && "$layer" != os &&
              ! ( "$layer" == http && "$target" =~ ^(windows|winhttp|wincrypt)\.h$ ) ]]; then
        echo "$file:$line: only os/ includes the system header $target"
        status=1
      fi
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include' "$file" || true)
done < <(find src -name '*.h' -o -name '*.cpp' | sort)

[ $status -eq 0 ] && echo "layers: every include points down"
exit $status
