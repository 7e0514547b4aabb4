#!/usr/bin/env bash
# Renders the icon's PNG sizes from the SVG (needs rsvg-convert: librsvg2-bin).
# The PNGs are committed, so that a build needs no renderer; run this after
# changing the SVG.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "hicolor/${size}x${size}/apps"
  rsvg-convert -w "$size" -h "$size" io.github.zelvic.Zelvic.svg -o "hicolor/${size}x${size}/apps/io.github.zelvic.Zelvic.png"
done
