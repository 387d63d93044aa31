#!/usr/bin/env bash
# Backs up a folder into dated archives and keeps the latest few.
set -euo pipefail

readonly keep="${KEEP:-7}"
source_dir="${1:?usage: backup.sh FOLDER [TARGET]}"
target_dir="${2:-$HOME/backups}"
stamp=$(date +%Y-%m-%d_%H%M%S)
log() { printf '%s %s\n' "$(date +%T)" "$*" >&2; }

cleanup() {
  local status=$?
  [[ -n "${tmp:-}" && -e "$tmp" ]] && rm -f -- "$tmp"
  exit "$status"
}
trap cleanup EXIT INT TERM

if [[ ! -d "$source_dir" ]]; then
  log "no such folder: $source_dir"
  exit 1
fi
mkdir -p -- "$target_dir"

tmp=$(mktemp "$target_dir/.partial.XXXXXX")
count=0
while IFS= read -r -d '' file; do
  case "$file" in
    *.tmp|*.swp|*~) continue ;;
    */.git/*) continue ;;
    *) count=$((count + 1)) ;;
  esac
done < <(find "$source_dir" -type f -print0)
log "archiving $count files from $source_dir"

tar --create --gzip --file "$tmp" --exclude='*.tmp' -C "$(dirname "$source_dir")" "$(basename "$source_dir")"
mv -- "$tmp" "$target_dir/backup-$stamp.tar.gz"
tmp=""

mapfile -t archives < <(ls -1t "$target_dir"/backup-*.tar.gz 2>/dev/null || true)
if (( ${#archives[@]} > keep )); then
  for old in "${archives[@]:keep}"; do
    log "removing $old"
    rm -f -- "$old"
  done
fi

total=0
for archive in "$target_dir"/backup-*.tar.gz; do
  size=$(stat -c %s "$archive")
  total=$(( total + size ))
done
echo "kept ${#archives[@]} archives, $(( total / 1024 )) KiB" | tee -a "$target_dir/backup.log"
[ "$total" -gt 0 ] && exit 0 || exit 3
