#!/usr/bin/env bash
# make_icon.sh SVG OUT.ico OUT-logo.png
# Renders the product mark into the eight icon sizes (32-bit colour) and the
# 256-pixel logo. The output depends only on the SVG and the tool versions.
# Sizes from 48 pixels up are stored as PNG images, which Windows reads in
# icons of any size: uncompressed they made up most of the launcher's bytes.
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
/usr/bin/convert "${pngs[@]}" -define png:exclude-chunks=date,time +set date:create +set date:modify "$work/bitmaps.ico"
python3 - "$work/bitmaps.ico" "$work" "$ico" <<'PY'
import struct, sys
source, work, out = sys.argv[1:4]
data = open(source, "rb").read()
count = struct.unpack_from("<HHH", data, 0)[2]
images = []
for i in range(count):
    width, height, colours, _, planes, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
    pixels = width or 256
    body = data[offset:offset + size]
    if pixels >= 48:
        body = open("%s/%d.png" % (work, pixels), "rb").read()
    images.append((width, height, colours, 1, 32, body))
header = struct.pack("<HHH", 0, 1, len(images))
offset = 6 + 16 * len(images)
entries, bodies = b"", b""
for width, height, colours, planes, bits, body in images:
    entries += struct.pack("<BBBBHHII", width, height, colours, 0, planes, bits, len(body), offset)
    bodies += body
    offset += len(body)
open(out, "wb").write(header + entries + bodies)
PY
cp "$work/256.png" "$logo"
