#!/usr/bin/env bash
# make_fixtures.sh OUT: writes the archives the unpack tests read, made by
# real tools from one small tree: GNU tar (ustar, gnu, pax), bsdtar, Python's
# tarfile and git archive, and XZ streams from xz-utils with several presets,
# check types, block sizes and the x86 filter. OUT/tree holds the tree itself
# for comparison; OUT/.stamp marks a finished run.
set -euo pipefail
out=$1
export LC_ALL=C.UTF-8 TZ=UTC
rm -rf "$out"
mkdir -p "$out"
tree=$out/tree
mkdir -p "$tree/docs" "$tree/bin" "$tree/emptydir" "$tree/unicode"
printf 'QuorvelAI test payload\n' >"$tree/readme.txt"
: >"$tree/empty.txt"
for i in $(seq 1 120); do printf 'Line %03d of the guide, with some text to compress.\n' "$i"; done \
  >"$tree/docs/guide.md"
# Deterministic binary data that does not compress.
python3 -c 'import random,sys; r=random.Random(7); sys.stdout.buffer.write(bytes(r.getrandbits(8) for _ in range(70000)))' \
  >"$tree/bin/app.bin"
deep="deep/$(printf 'a%.0s' $(seq 60))/$(printf 'b%.0s' $(seq 60))"
mkdir -p "$tree/$deep"
printf 'deep file\n' >"$tree/$deep/$(printf 'c%.0s' $(seq 30)).txt"
printf 'unicode\n' >"$tree/unicode/Gr$(printf '\xc3\xbc\xc3\x9f')e-$(printf '\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab').txt"
entries=(readme.txt empty.txt docs bin deep unicode emptydir)
touch -d '2024-01-02 03:04:05' $(find "$tree")

tars=$out/tars
mkdir -p "$tars"
for format in ustar gnu pax; do
  tar --format=$format -C "$tree" -cf "$tars/gnu-$format.tar" "${entries[@]}"
done
bsdtar --format=pax -C "$tree" -cf "$tars/bsdtar-pax.tar" "${entries[@]}"
bsdtar --format=ustar -C "$tree" -cf "$tars/bsdtar-ustar.tar" "${entries[@]}"
for format in GNU PAX; do
  python3 - "$tree" "$tars/python-${format,,}.tar" "$format" "${entries[@]}" <<'PY'
import os, sys, tarfile
tree, target, fmt, *entries = sys.argv[1:]
with tarfile.open(target, "w", format=getattr(tarfile, fmt + "_FORMAT")) as archive:
    for entry in entries:
        archive.add(os.path.join(tree, entry), arcname=entry)
PY
done
# git archive writes a pax global header with the commit id; it keeps no
# empty folders.
repo=$out/repo
git init -q "$repo"
cp -a "$tree/." "$repo/"
(
  cd "$repo"
  export GIT_CONFIG_NOSYSTEM=1 HOME=$out GIT_AUTHOR_DATE='2024-01-02T03:04:05Z' GIT_COMMITTER_DATE='2024-01-02T03:04:05Z'
  git add -A
  git -c user.name=Test -c user.email=test@localhost commit -qm fixture
  git archive --format=tar HEAD >"$tars/git-archive.tar"
)
rm -rf "$repo"

for file in "$tars"/*.tar; do
  xz -6 -c "$file" >"$out/$(basename "$file").xz"
done
base=$tars/gnu-pax.tar
xz -0 -c "$base" >"$out/xz-preset0.tar.xz"
xz -9e -c "$base" >"$out/xz-preset9e.tar.xz"
for check in none crc32 crc64 sha256; do
  xz --check=$check -c "$base" >"$out/xz-check-$check.tar.xz"
done
xz --block-size=8KiB -c "$base" >"$out/xz-blocks.tar.xz"
xz --x86 --lzma2 -c "$base" >"$out/xz-x86.tar.xz"
# Two xz streams one after the other: the second is still decoded.
xz -c "$base" >"$out/xz-two-streams.tar.xz"
printf 'more' | xz -c >>"$out/xz-two-streams.tar.xz"
touch "$out/.stamp"
