#!/usr/bin/env bash
# Renders the PNG sizes of the application icon from delvora.svg (needs rsvg-convert, package
# librsvg2-bin); run after changing the SVG and commit the results.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" delvora.svg -o "delvora-$size.png"
done
