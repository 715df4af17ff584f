#!/usr/bin/env bash
# Prints the launcher's own cost under Wine (time from starting the launcher
# to the application's start, against starting the application directly, in
# the same run) and the stripped sizes of both programs.
#   bench/launcher_bench.sh [rounds]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${QV_BUILD_DIR:-$here/build}
rounds=${1:-20}
"$here/scripts/build" >/dev/null
"$here/tests/wine/prefix.sh" start "$build/wine"
trap '"$here/tests/wine/prefix.sh" stop "$build/wine"' EXIT

prefix=$build/wine/prefix
root=$prefix/drive_c/qv-launcher-bench
rm -rf "$root"
mkdir -p "$root/app-1.0.0"
cp "$build/bin/QuorvelAI.exe" "$root/"
cp "$build/bin/qv-demo-app.exe" "$root/app-1.0.0/QuorvelAI.exe"
printf 'delay_ms=0\nexit_code=0\n' > "$root/app-1.0.0/demo.ini"
"$build/wine-run.sh" "$build/bin/launch-timer.exe" 'C:\qv-launcher-bench' 1.0.0 "$rounds" </dev/null
rm -rf "$root"
echo "stripped sizes:"
for exe in QuorvelAI-Setup.exe QuorvelAI.exe; do
  printf '  %-22s %8d bytes\n' "$exe" "$(stat -c %s "$build/bin/$exe")"
done
