#!/usr/bin/env bash
# Puts the demo site's web fonts, its icon font and its pictures in place:
#   examples/demo/local/shared/fonts/   the families the generated CSS names,
#                                       each with its licence beside it
#   examples/demo/local/shared/images/  favicon-32x32.png
#   examples/demo/local/assets/images/  the pictures the documents embed
# Everything comes from packages (Debian's, and npm for the families Debian
# lacks) or is drawn by tools/demo_images.py; nothing here is committed.
# The head template preloads six faces under fixed .ttf names, so those stay
# TrueType; the rest is served as woff2.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
fonts="$root/examples/demo/local/shared/fonts"
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
mkdir -p "$npm_dir"
if ! cmp -s "$root/tools/fonts/package-lock.json" "$npm_dir/package-lock.json" ||
   [ ! -d "$npm_dir/node_modules" ]; then
  cp "$root/tools/fonts/package.json" "$root/tools/fonts/package-lock.json" "$npm_dir/"
  (cd "$npm_dir" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error)
fi
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

"$py" "$root/tools/demo_images.py" "$root/examples/demo/local"
echo "fonts: $(ls "$fonts" | grep -c -v '^LICENSE') font files in ${fonts#"$root"/}"
