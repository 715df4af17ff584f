#!/usr/bin/env bash
# bench/publish_bench.sh [rounds] [REV]: publish of the bench release's
# 1.1.0 (206 MB, the pair of delta_bench.sh; no delta, no signature) by
# today's release tool against the tool as it was at REV (default: the last
# one that compressed with Python's single-threaded lzma), in the same run,
# alternating, [rounds] (default 2) of each. It prints each run's time and
# load, the best-of ratio (target >= 1.8x on 2 cores), how many xz blocks
# the payload has, and whether today's runs all gave the same bytes.
# Figures, not a test. The apps are made once into
# $QV_BUILD_DIR/bench-publish (default build/) and kept.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${QV_BUILD_DIR:-$here/build}
rounds=${1:-2}
rev=${2:-91119d5}
work=$build/bench-publish

if [ ! -f "$work/apps-made" ]; then
  rm -rf "$work"
  mkdir -p "$work/app-1.0.0"
  if [ ! -f "$build/bin/qv-demo-app.exe" ]; then "$here/scripts/build" >/dev/null; fi
  export QV_WINE_RUN=$build/wine-run.sh QV_TEST_CERT_DIR=$build/test-certs
  "$here/tests/server/make_test_certs.sh" "$build/test-certs" </dev/null >/dev/null
  "$here/tests/support/sign_test_program.sh" "$build/bin/qv-demo-app.exe" "$work/app-1.0.0/QuorvelAI.exe" >/dev/null
  printf 'exit_code=0\ndelay_ms=300\n' >"$work/app-1.0.0/demo.ini"
  python3 "$here/bench/make_bench_apps.py" "$work/app-1.0.0" "$work/app-1.1.0"
  touch "$work/apps-made"
fi
rm -rf "$work/then" "$work/times"
mkdir -p "$work/then"
git -C "$here" archive "$rev" tools | tar -x -C "$work/then"

publish() {  # publish TOOL OUT [options...]
  local tool=$1 out=$2
  shift 2
  rm -rf "$out"
  mkdir -p "$out"
  python3 -B "$tool" publish --app-dir "$work/app-1.1.0" --version 1.1.0 --out "$out" "$@" >/dev/null
}

for round in $(seq "$rounds"); do
  for who in now then; do
    load=$(cut -d' ' -f1 /proc/loadavg)
    start=$(date +%s.%N)
    if [ "$who" = now ]; then
      publish "$here/tools/release_tool.py" "$work/out-now-$round" --unsigned
    else
      publish "$work/then/tools/release_tool.py" "$work/out-then-$round"
    fi
    seconds=$(echo "$(date +%s.%N) - $start" | bc)
    echo "$who $round $seconds $load $(cut -d' ' -f1 /proc/loadavg)" >>"$work/times"
  done
done

payload() { echo "$work/out-$1/Installs/1.1.0/win-x64/QuorvelAI-1.1.0-win-x64.tar.xz"; }
same=$(for round in $(seq "$rounds"); do sha256sum <"$(payload "now-$round")"; done | sort -u | wc -l)
blocks=$(xz --robot --list "$(payload now-1)" | awk -F'\t' '$1 == "totals" {print $3}')
tail -n $((rounds * 2)) "$work/times" | awk -v rev="$rev" -v blocks="$blocks" -v same="$same" \
  -v now_bytes="$(stat -c %s "$(payload now-1)")" -v then_bytes="$(stat -c %s "$(payload then-1)")" '
  { printf "  %-4s round %s %7.1f s   (load %s -> %s)\n", $1, $2, $3, $4, $5
    if (!($1 in best) || $3 < best[$1]) best[$1] = $3 }
  END {
    printf "publish of the bench 1.1.0, today against %s (best of each):\n", rev
    printf "  today %7.1f s, then %7.1f s: %.2fx (target >= 1.8x)\n", best["now"], best["then"], best["then"] / best["now"]
    printf "  payload %d bytes in %d xz blocks (then %d bytes); today'"'"'s runs gave %s\n", now_bytes, blocks, then_bytes, same == 1 ? "the same bytes" : "DIFFERENT bytes"
  }'
rm -rf "$work"/out-* "$work/then" "$work/times"
