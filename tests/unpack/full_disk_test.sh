#!/usr/bin/env bash
# full_disk_test.sh BUILD_DIR PREFIX: unpacks onto a drive that is too small.
# A tmpfs of 8 MiB is mounted and mapped as drive Q: of the test prefix; a
# payload holding a 16 MiB file must fail with QV-DISK-3 and error 112 at
# the start of that file, and leave no staging folder. A payload that fits
# must unpack there (so the failure is the disk's, not the drive mapping's).
# Exits 77 (skipped) where mounting is refused.
set -euo pipefail
build=$1 prefix=$2
work=$build/unpack-full-disk
drive=$work/drive
link=$prefix/dosdevices/q:
mkdir -p "$work" "$drive"

mounted=0
cleanup() {
  rm -f "$link"
  if [ "$mounted" = 1 ]; then umount "$drive" || true; fi
}
trap cleanup EXIT
if ! mount -t tmpfs -o size=8m tmpfs "$drive" 2>/dev/null; then
  # ctest marks the test "***Skipped" and lists it under "did not run";
  # this line says why when the output is shown (ctest -V).
  echo "SKIPPED: unpack_full_disk: mounting a tmpfs is refused here (needs mount rights);" \
    "the disk sink's error-112 handling is still covered by DiskSink.FullDiskAtEachCall" >&2
  exit 77
fi
mounted=1
ln -sfn "$drive" "$link"

# The payloads: zeros compress to almost nothing, so only the unpacked size
# is large.
src=$work/src
rm -rf "$src" && mkdir -p "$src/app"
printf 'small\n' >"$src/app/first.txt"
head -c 16777216 /dev/zero >"$src/app/big.bin"
tar --format=gnu -C "$src" -cf - app | xz -c >"$work/big.tar.xz"
tar --format=gnu -C "$src" -cf - app/first.txt | xz -c >"$work/small.tar.xz"
rm -rf "$src"

check=$build/bin/payload-check.exe
status=0
"$build/wine-run.sh" "$check" "Z:$work/small.tar.xz" 'Q:\stage-small' >"$work/small.out" 2>&1 || status=$?
if [ "$status" != 0 ] || ! grep -q 'Unpacked 1 files, 6 bytes' "$work/small.out"; then
  echo "FAIL: a payload that fits did not unpack on Q: (exit $status)"; cat "$work/small.out"; exit 1
fi

status=0
"$build/wine-run.sh" "$check" "Z:$work/big.tar.xz" 'Q:\stage' >"$work/big.out" 2>&1 || status=$?
cat "$work/big.out"
fail=0
[ "$status" = 1 ] || { echo "FAIL: exit code $status, expected 1"; fail=1; }
grep -q '^QV-DISK-3: The disk filled up while installing. Free some space and try again.' "$work/big.out" ||
  { echo "FAIL: no QV-DISK-3"; fail=1; }
grep -q 'Could not write Q:\\stage\\app\\big.bin: .*(error 112)' "$work/big.out" ||
  { echo "FAIL: error 112 not reported for the big file"; fail=1; }
[ ! -e "$drive/stage" ] || { echo "FAIL: the staging folder was left on the full drive"; fail=1; }
exit $fail
