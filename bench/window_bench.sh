#!/usr/bin/env bash
# Prints what the setup window costs under Wine on a virtual display: the
# median and 90th-percentile paint time of one animated frame (300 frames
# of the download screen) and the window process's CPU share over 5 s on a
# still screen (the failure screen, which is not repainted).
#   bench/window_bench.sh
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${QV_BUILD_DIR:-$here/build}
"$here/scripts/build" >/dev/null
"$here/tests/wine/prefix.sh" start "$build/wine"
trap '"$here/tests/wine/prefix.sh" stop "$build/wine"' EXIT

bench_work=$(mktemp -d "${TMPDIR:-/tmp}/qv-window-bench.XXXXXX")
measure() {
  local driver=$build/bin/qv-window-driver.exe
  "$build/wine-run.sh" "$driver" working --bench-paint "Z:${bench_work//\//\\}\\paint.txt" </dev/null >>"$bench_work/driver.log" 2>&1 || true
  "$build/wine-run.sh" "$driver" failed --bench-idle "Z:${bench_work//\//\\}\\idle.txt" </dev/null >>"$bench_work/driver.log" 2>&1 || true
}
export -f measure
export build bench_work
QV_WINE_DIR=$build/wine "$here/tests/window/with_display.sh" -- bash -c measure
echo "setup window, 440 x 340 at 96 dpi:"
sed 's/^/  /' "$bench_work/paint.txt" "$bench_work/idle.txt"
rm -rf "$bench_work"
