#!/usr/bin/env bash
# bench/unpack_bench.sh: unpack throughput and peak memory of payload-check.exe
# (the setup's own unpack code) under Wine, against `xz -dc | tar -x` into the
# same kind of folder (inside the prefix's drive_c) in the same run.
# Payloads of mixed files (many small text files, MB-sized binaries),
# compressed with xz -6, are generated once into the build folder
# ($QV_BUILD_DIR or build/) at 100 MB and 200 MB unpacked.
# Prints per size: seconds and MB/s of both, the ratio ours / reference
# (target >= 0.8) and the peak resident memory of the Wine process.
# With QV_BENCH_TMPFS=1 (needs mount rights) the same runs are repeated in a
# tmpfs mounted inside drive_c, which leaves out the disk and shows the
# unpack code's own cost against tar's.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${QV_BUILD_DIR:-$here/build}
check=$build/bin/payload-check.exe
[ -x "$check" ] || { echo "build first: $check is missing" >&2; exit 1; }
work=$build/bench-unpack
mkdir -p "$work"
wine_dir=$build/wine
prefix=$wine_dir/prefix
"$here/tests/wine/prefix.sh" start "$wine_dir"
tmpfs_mounted=0
cleanup() {
  if [ "$tmpfs_mounted" = 1 ]; then umount "$prefix/drive_c/bench-tmpfs" || true; fi
  "$here/tests/wine/prefix.sh" stop "$wine_dir"
}
trap cleanup EXIT
drive=$prefix/drive_c
win_drive='C:'


make_payload() {  # make_payload MB -> $work/payload-MB.tar.xz
  local mb=$1 tree=$work/tree-$1
  [ -f "$work/payload-$mb.tar.xz" ] && return
  rm -rf "$tree"
  python3 - "$tree" "$mb" <<'PY'
import glob, os, random, sys
tree, mb = sys.argv[1], int(sys.argv[2])
rng = random.Random(mb)
total = mb * 1000 * 1000
words = [w.strip() for w in open("/usr/share/dict/words")] if os.path.exists("/usr/share/dict/words") else \
    ["alpha", "beta", "gamma", "delta", "render", "script", "module", "value", "player", "vector"]
# A third as small text files (0.5-16 KB), about 25 to a folder, two levels
# deep, in the order a real tree has them.
text_goal, written, n = total // 3, 0, 0
while written < text_goal:
    folder = os.path.join(tree, "resources", "m%02d" % (n // 500), "p%03d" % (n // 25 % 20))
    os.makedirs(folder, exist_ok=True)
    size = rng.randint(512, 16384)
    lines, length = [], 0
    while length < size:
        line = " ".join(rng.choice(words) for _ in range(rng.randint(4, 12))) + ";\n"
        lines.append(line)
        length += len(line)
    data = "".join(lines).encode()
    with open(os.path.join(folder, "file%05d.js" % n), "wb") as f:
        f.write(data)
    written += len(data)
    n += 1
# The rest as binaries of 1-8 MB made of system libraries (compressible
# like real program code).
libs = sorted(p for p in glob.glob("/usr/lib/x86_64-linux-gnu/*.so*") if os.path.isfile(p))
os.makedirs(os.path.join(tree, "bin"), exist_ok=True)
k = 0
while written < total:
    size = min(rng.randint(1, 8) * 1000 * 1000, total - written)
    chunks, length = [], 0
    while length < size:
        with open(rng.choice(libs), "rb") as f:
            piece = f.read(size - length)
        chunks.append(piece)
        length += len(piece)
    with open(os.path.join(tree, "bin", "lib%03d.dll" % k), "wb") as f:
        f.write(b"".join(chunks))
    written += length
    k += 1
print("generated %d text files, %d binaries, %d bytes" % (n, k, written))
PY
  tar --format=gnu -C "$tree" -cf - resources bin | xz -6 -T0 -c >"$work/payload-$mb.tar.xz.part"
  mv "$work/payload-$mb.tar.xz.part" "$work/payload-$mb.tar.xz"
  rm -rf "$tree"
}

now() { date +%s.%N; }

# Best of three runs each; the first run also warms the page cache.
bench_size() {
  local mb=$1 payload=$work/payload-$1.tar.xz
  local unpacked
  unpacked=$(xz -dc "$payload" | tar -tvf - | awk '{s += $3} END {print s}')
  local ref_best=999999 ours_best=999999 peak_kb=0
  for round in 1 2 3; do
    rm -rf "$drive/bench-ref" && mkdir -p "$drive/bench-ref"
    # Dirty pages of the previous run must not be flushed into this one.
    sync
    local t0 t1
    t0=$(now)
    xz -dc "$payload" | tar -x -C "$drive/bench-ref"
    t1=$(now)
    ref_best=$(echo "$t1 $t0 $ref_best" | awk '{d = $1 - $2; print (d < $3) ? d : $3}')
    rm -rf "$drive/bench-ref"

    rm -rf "$drive/bench-ours"
    sync
    t0=$(now)
    /usr/bin/time -v -o "$work/time-$mb.txt" "$build/wine-run.sh" "$check" "Z:$payload" "$win_drive\\bench-ours" \
      >"$work/out-$mb.txt" 2>&1
    t1=$(now)
    ours_best=$(echo "$t1 $t0 $ours_best" | awk '{d = $1 - $2; print (d < $3) ? d : $3}')
    local kb
    kb=$(awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}' "$work/time-$mb.txt")
    [ "$kb" -gt "$peak_kb" ] && peak_kb=$kb
    grep -q '^Unpacked ' "$work/out-$mb.txt" || { cat "$work/out-$mb.txt"; exit 1; }
    rm -rf "$drive/bench-ours"
  done
  echo "$mb $unpacked $(stat -c %s "$payload") $ref_best $ours_best $peak_kb $(cat "$work/out-$mb.txt")" |
    awk '{mbu = $2 / 1e6; printf "payload %d MB (%.1f MB unpacked, %.1f MB xz): reference %.2f s (%.1f MB/s), payload-check %.2f s (%.1f MB/s), ratio %.2f, peak RSS %.1f MiB\n",
          $1, mbu, $3 / 1e6, $4, mbu / $4, $5, mbu / $5, $4 / $5, $6 / 1024}'
}

for mb in 100 200; do
  make_payload "$mb" >&2
done
# Wine's own footprint for comparison: a trivial program's peak.
/usr/bin/time -v -o "$work/time-idle.txt" "$build/wine-run.sh" "$check" >/dev/null 2>&1 || true
idle=$(awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}' "$work/time-idle.txt")
echo "payload-check with a bad command line (Wine's baseline): peak RSS $(echo "$idle" | awk '{printf "%.1f", $1 / 1024}') MiB"
echo "In drive_c on disk:"
for mb in 100 200; do
  bench_size "$mb"
done
if [ "${QV_BENCH_TMPFS:-0}" = 1 ]; then
  mkdir -p "$prefix/drive_c/bench-tmpfs"
  if mount -t tmpfs -o size=1200m tmpfs "$prefix/drive_c/bench-tmpfs"; then
    tmpfs_mounted=1
    drive=$prefix/drive_c/bench-tmpfs
    win_drive='C:\bench-tmpfs'
    echo "In a tmpfs inside drive_c:"
    for mb in 100 200; do
      bench_size "$mb"
    done
  fi
fi
