#!/usr/bin/env bash
# make_icon.sh SVG OUT.ico OUT-logo.png
# Renders the product mark into the eight icon sizes (32-bit colour) and the
# 256-pixel logo. The output depends only on the SVG and the tool versions.
set -euo pipefail
svg=$1 ico=$2 logo=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sizes="16 24 32 48 64 96 128 256"
pngs=()
for s in $sizes; do
  rsvg-convert -w "$s" -h "$s" "$svg" -o "$work/$s.png"
  pngs+=("$work/$s.png")
done
# /usr/local/bin may hold a stand-in called convert; ImageMagick's is in /usr/bin.
/usr/bin/convert "${pngs[@]}" -define png:exclude-chunks=date,time +set date:create +set date:modify "$ico"
cp "$work/256.png" "$logo"
