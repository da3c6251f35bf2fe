#!/usr/bin/env bash
# Redraws the Windows icon (vxa4410-loader.ico, kept in the tree) from the program's SVG icon:
# the sizes Windows shows in captions, the taskbar, Explorer and the installer. Needs the Debian
# packages librsvg2-bin and icoutils; the build itself needs neither.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for size in 16 24 32 48 256; do
  rsvg-convert -w $size -h $size ../vxa4410-loader.svg -o "$work/$size.png"
done
icotool -c -o vxa4410-loader.ico "$work"/16.png "$work"/24.png "$work"/32.png "$work"/48.png \
  -r "$work"/256.png
