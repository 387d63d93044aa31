#!/usr/bin/env bash
# Puts a site's web fonts, its icon font and its favicon in place.
#
#   tools/fonts.sh              the demo site, examples/demo/local/:
#     shared/fonts/               the families the generated CSS names,
#                                 each with its licence beside it
#     shared/images/              favicon-32x32.png
#     assets/images/              the pictures the documents embed
#   tools/fonts.sh --into LOCAL the same shared/fonts/ and shared/images/
#                               below LOCAL, without the demo's pictures: the
#                               build makes the starter site of `wyn init`
#                               this way and builds the files into wyn
#
# Everything comes from packages (Debian's, and npm for the families Debian
# lacks) or is drawn by tools/demo_images.py; nothing here is committed.
# The head template preloads six faces under fixed .ttf names, so those stay
# TrueType; the rest is served as woff2.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
local_folder="$root/examples/demo/local"
demo=1
if [ "${1:-}" = --into ]; then
  [ -n "${2:-}" ] || { echo "usage: fonts.sh [--into LOCAL_FOLDER]" >&2; exit 2; }
  local_folder=$2
  demo=0
fi
fonts="$local_folder/shared/fonts"
npm_dir="$root/build/fonts-npm"
py=/usr/bin/python3   # Debian's, which sees python3-fonttools and python3-brotli

need=(/usr/share/fonts/truetype/noto/NotoSerif-Regular.ttf
      /usr/share/fonts/truetype/firacode/FiraCode-Regular.ttf
      /usr/share/fonts/truetype/font-awesome/fontawesome-webfont.ttf)
for f in "${need[@]}"; do
  [ -f "$f" ] || { echo "fonts: $f is missing; run make deps first" >&2; exit 1; }
done
"$py" -c 'import fontTools, brotli' 2>/dev/null ||
  { echo "fonts: python3-fonttools and python3-brotli are missing; run make deps first" >&2; exit 1; }
command -v npm >/dev/null || { echo "fonts: npm is missing; run make deps first" >&2; exit 1; }

# npm: only when the pinned set changed since the last install. Scripts stay
# off: the fonts need none, and one dependency would phone home.
# Two builds may ask at once (a debug and a sanitizer tree): one installs,
# the other waits for it.
mkdir -p "$npm_dir"
exec 9>"$npm_dir.lock"
flock 9
if ! cmp -s "$root/tools/fonts/package-lock.json" "$npm_dir/package-lock.json" ||
   [ ! -d "$npm_dir/node_modules" ]; then
  cp "$root/tools/fonts/package.json" "$root/tools/fonts/package-lock.json" "$npm_dir/"
  (cd "$npm_dir" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error)
fi
flock -u 9
nm="$npm_dir/node_modules"
plex="$nm/@ibm/plex-mono/fonts/complete/woff2"
sans="$nm/@fontsource/source-sans-3/files"
code="$nm/@fontsource/source-code-pro/files"

mkdir -p "$fonts"
convert() { "$py" "$root/tools/font_convert.py" "$1" "$2"; }

# Faces the head template preloads by these names.
convert /usr/share/fonts/truetype/noto/NotoSerif-Regular.ttf "$fonts/NotoSerif-Regular.ttf"
convert /usr/share/fonts/truetype/noto/NotoSerif-Bold.ttf    "$fonts/NotoSerif-Bold.ttf"
convert "$plex/IBMPlexMono-Regular.woff2"                    "$fonts/IBMPlexMono-Regular.ttf"
convert "$sans/source-sans-3-latin-400-normal.woff2"         "$fonts/SourceSans3-Regular.ttf"
convert "$sans/source-sans-3-latin-400-italic.woff2"         "$fonts/SourceSans3-Italic.ttf"
convert "$sans/source-sans-3-latin-500-normal.woff2"         "$fonts/SourceSans3-Medium.ttf"
# The other faces the style sheets name.
convert "$plex/IBMPlexMono-Bold.woff2"                       "$fonts/IBMPlexMono-Bold.woff2"
convert "$sans/source-sans-3-latin-700-normal.woff2"         "$fonts/SourceSans3-Bold.woff2"
convert /usr/share/fonts/truetype/firacode/FiraCode-Regular.ttf "$fonts/FiraCode-Regular.woff2"
convert "$code/source-code-pro-latin-400-normal.woff2"       "$fonts/SourceCodePro-Regular.woff2"
"$py" "$root/tools/make_icon_font.py" --out "$fonts/IconFont.woff2"

# Licences, from the packages themselves.
cp /usr/share/doc/fonts-noto-core/copyright          "$fonts/LICENSE-NotoSerif.txt"
cp /usr/share/doc/fonts-firacode/copyright           "$fonts/LICENSE-FiraCode.txt"
cp /usr/share/doc/fonts-font-awesome/copyright       "$fonts/LICENSE-IconFont-FontAwesome.txt"
cp "$nm/@ibm/plex-mono/LICENSE.txt"                  "$fonts/LICENSE-IBMPlexMono.txt"
cp "$nm/@fontsource/source-sans-3/LICENSE"           "$fonts/LICENSE-SourceSans3.txt"
cp "$nm/@fontsource/source-code-pro/LICENSE"         "$fonts/LICENSE-SourceCodePro.txt"

if [ "$demo" = 1 ]; then
  "$py" "$root/tools/demo_images.py" "$local_folder"
else
  "$py" "$root/tools/demo_images.py" "$local_folder" shared/images/favicon-32x32.png
fi
echo "fonts: $(ls "$fonts" | grep -c -v '^LICENSE') font files in ${fonts#"$root"/}"
