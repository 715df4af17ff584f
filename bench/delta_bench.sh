#!/usr/bin/env bash
# bench/delta_bench.sh [rounds]: a delta upgrade against a full upgrade of
# the same release pair, both real silent runs of QuorvelAI-Setup.exe under
# Wine from the local release server (plain HTTP on 127.0.0.1), in the same
# run. The pair is shaped like a desktop app:
#   lib/core.dll        150 MB of program code, unchanged
#   resources/app.pak   30 MB, about 1 % of its bytes changed in 300
#                       scattered places
#   resources/m*/...    2,000 small files (1-64 KiB), 5 % of them changed
# It prints:
#   the bytes a delta upgrade downloads as a share of the full payload
#   (target <= 5 %); the wall time of the delta upgrade against the full
#   upgrade, best of [rounds] (default 2) each (target <= 1.0x); the
#   setup's peak private memory (peak RssAnon; VmHWM also counts the pages
#   of mapped files) in both; the time publish of 1.1.0 takes with
#   --delta-from and without.
# Figures, not a test: it never fails on a target. The releases are made
# once into $QV_BUILD_DIR/bench-delta (default build/) and kept; delete that
# folder, or change generator_version below, to make them again (a few
# minutes: xz compresses about 200 MB twice).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${QV_BUILD_DIR:-$here/build}
work=$build/bench-delta
releases=$work/releases
generator_version=3
drive=$build/wine/prefix/drive_c
scratch=$drive/bench-delta

cpath() { local p=${1#"$drive"}; echo "C:${p//\//\\}"; }
winpath() { local p=$1; echo "Z:${p//\//\\}"; }
now() { date +%s.%N; }
since() { echo "$1 $(now)" | awk '{printf "%.3f\n", $2 - $1}'; }

make_apps() {
  python3 "$here/bench/make_bench_apps.py" "$work/app-1.0.0" "$work/app-1.1.0"
}

signer=(--sign-cert "$build/test-certs/quorvel-sign.crt" --sign-key "$build/test-certs/quorvel-sign.key")

# full/: the same 1.0.0, and 1.1.0 published without --delta-from (timed,
# the yardstick of the publish with it).
publish_full() {
  rm -rf "$releases/full"
  mkdir -p "$releases/full/Installs"
  cp -al "$releases/delta/Installs/1.0.0" "$releases/full/Installs/1.0.0"
  cp "$releases/delta/versions.json" "$releases/full/versions.json"
  local start
  start=$(now)
  python3 -B "$here/tools/release_tool.py" publish --app-dir "$work/app-1.1.0" --version 1.1.0 \
    --out "$releases/full" "${signer[@]}" >/dev/null
  since "$start" >"$releases/publish-full.s"
}

# The pair published twice: delta/ with the delta, full/ without one.
make_releases() {
  local ca; ca=$(sha256sum "$build/test-certs/ca.crt" | cut -c1-16)
  local key="generator $generator_version ca $ca"
  if [ -f "$releases/stamp" ] && [ "$(cat "$releases/stamp")" = "$key" ]; then return; fi
  rm -rf "$releases" "$work"/app-*
  mkdir -p "$work/app-1.0.0"
  "$here/tests/support/sign_test_program.sh" "$build/bin/qv-demo-app.exe" "$work/app-1.0.0/QuorvelAI.exe" >/dev/null
  printf 'exit_code=0\ndelay_ms=300\n' >"$work/app-1.0.0/demo.ini"
  echo "making the release pair..." >&2
  make_apps
  local start
  start=$(now)
  python3 -B "$here/tools/release_tool.py" publish --app-dir "$work/app-1.0.0" --version 1.0.0 \
    --out "$releases/delta" "${signer[@]}" >/dev/null
  since "$start" >"$releases/publish-1.0.0.s"
  start=$(now)
  python3 -B "$here/tools/release_tool.py" publish --app-dir "$work/app-1.1.0" --version 1.1.0 \
    --out "$releases/delta" --delta-from 1.0.0 "${signer[@]}" >/dev/null
  since "$start" >"$releases/publish-1.1.0.s"
  publish_full
  rm -rf "$work"/app-*
  echo "$key" >"$releases/stamp"
}

# Peak VmHWM and peak RssAnon (kB) of the processes whose command line
# names $2, sampled until the job $1 ends.
peak_memory_kb() {
  local job=$1 name=$2 hwm=0 anon=0 pid value
  while kill -0 "$job" 2>/dev/null; do
    for pid in $(grep -l -a "$name" /proc/[0-9]*/cmdline 2>/dev/null | cut -d/ -f3); do
      value=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
      [ -n "$value" ] && [ "$value" -gt "$hwm" ] && hwm=$value
      value=$(awk '/^RssAnon:/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
      [ -n "$value" ] && [ "$value" -gt "$anon" ] && anon=$value
    done
    sleep 0.1
  done
  echo "$hwm $anon"
}

clear_user_state() {
  "$build/wine-run.sh" reg delete 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\QuorvelAI' /f \
    </dev/null >/dev/null 2>&1 || true
}

# run_setup VARIANT VERSION DIR TEMP: one silent run; prints "seconds
# hwm_kB anon_kB status".
run_setup() {
  local command
  command="set TEMP=$(cpath "$4")&& set TMP=$(cpath "$4")&&"
  command+=" $(winpath "$build/bin/QuorvelAI-Setup.exe") --silent --base-url $QV_TEST_HTTP_URL/$1"
  command+=" --version $2 --dir $(cpath "$3") --no-shortcuts --no-launch"
  (
    start=$(now)
    status=0
    "$build/wine-run.sh" cmd /c "$command" </dev/null >"$work/setup.out" 2>&1 || status=$?
    echo "$(since "$start") $status" >"$work/setup.time"
  ) &
  local job=$!
  local memory; memory=$(peak_memory_kb "$job" QuorvelAI-Setup.exe)
  wait "$job" || true
  local seconds status
  read -r seconds status <"$work/setup.time"
  echo "$seconds $memory $status"
}

# upgrade_round VARIANT ROUND: installs 1.0.0, then times the upgrade to
# 1.1.0 with a fresh TEMP; appends "seconds hwm anon" to $work/VARIANT.txt.
upgrade_round() {
  local variant=$1 round=$2 dir=$scratch/$1 tmp=$scratch/temp-$1
  rm -rf "$dir" "$tmp"; mkdir -p "$tmp"; clear_user_state
  local base; base=$(run_setup "$variant" 1.0.0 "$dir" "$tmp")
  [ "${base##* }" = 0 ] || { echo "installing 1.0.0 ($variant) failed" >&2; tail -5 "$tmp/QuorvelAI-Setup.log" >&2; }
  rm -rf "$tmp"; mkdir -p "$tmp"; sync
  local seconds hwm anon status
  read -r seconds hwm anon status <<<"$(run_setup "$variant" 1.1.0 "$dir" "$tmp")"
  local log=$tmp/QuorvelAI-Setup.log
  if [ "$status" != 0 ]; then echo "upgrade ($variant) failed ($status)" >&2; tail -10 "$log" >&2; fi
  # "Built" is logged only for a tree that was built; a fallback warns.
  if [ "$variant" = delta ] && { ! grep -q 'INFO  Built ' "$log" || grep -q 'Delta update not used' "$log"; }; then
    echo "the delta upgrade did not use the delta:" >&2; grep -E 'WARN|Delta' "$log" >&2 || true
  fi
  if [ "$variant" = full ] && grep -q 'Delta update' "$log"; then echo "the full upgrade used a delta" >&2; fi
  cp "$log" "$work/$variant-$round.log"
  if [ "$round" = 1 ]; then
    rm -rf "$work/tree-$variant"
    cp -a "$dir/app-1.1.0" "$work/tree-$variant"
  fi
  echo "$seconds $hwm $anon" >>"$work/$variant.txt"
  rm -rf "$dir" "$tmp"; clear_user_state
}

# The largest VmHWM and the largest RssAnon of a figures file's rounds.
peaks() { awk '$2 > h {h = $2} $3 > a {a = $3} END {print h, a}' "$1"; }

inner() {
  local rounds=$1
  mkdir -p "$scratch"
  rm -f "$work/delta.txt" "$work/full.txt"
  for round in $(seq "$rounds"); do
    upgrade_round full "$round"
    upgrade_round delta "$round"
  done
  if ! diff -r -q "$work/tree-full" "$work/tree-delta" >"$work/diff.txt"; then
    echo "the delta upgrade's files differ from the full upgrade's:" >&2; head -5 "$work/diff.txt" >&2
  fi
  rm -rf "$work"/tree-* "$scratch"
  local folder=$QV_TEST_RELEASE_ROOT/delta/Installs/1.1.0/win-x64
  local payload delta
  payload=$(stat -c %s "$folder/QuorvelAI-1.1.0-win-x64.tar.xz")
  delta=$(stat -c %s "$folder/QuorvelAI-1.1.0-from-1.0.0-win-x64.delta")
  local unpacked
  unpacked=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["unpackedSize"])' "$folder/manifest.json")
  awk -v payload="$payload" -v delta="$delta" -v unpacked="$unpacked" \
      -v full="$(sort -n "$work/full.txt" | head -1)" -v fast="$(sort -n "$work/delta.txt" | head -1)" \
      -v fullpeak="$(peaks "$work/full.txt")" -v deltapeak="$(peaks "$work/delta.txt")" \
      -v pub0="$(cat "$QV_TEST_RELEASE_ROOT/publish-full.s")" -v pub1="$(cat "$QV_TEST_RELEASE_ROOT/publish-1.1.0.s")" \
      -v rounds="$rounds" '
  BEGIN {
    split(full, f, " "); split(fast, d, " "); split(fullpeak, fp, " "); split(deltapeak, dp, " ")
    printf "release pair: %.1f MB unpacked; best of %d rounds each\n", unpacked / 1e6, rounds
    printf "  download   full payload %10.1f MB\n", payload / 1e6
    printf "             delta        %10.2f MB   %.2f %% of the full payload (target <= 5 %%)\n", delta / 1e6, 100 * delta / payload
    printf "  upgrade    full         %10.2f s\n", f[1]
    printf "             delta        %10.2f s    delta / full %.2f (target <= 1.0)\n", d[1], d[1] / f[1]
    printf "  memory     full         peak RssAnon %6.1f MiB, VmHWM %6.1f MiB\n", fp[2] / 1024, fp[1] / 1024
    printf "             delta        peak RssAnon %6.1f MiB, VmHWM %6.1f MiB (mapped files count in VmHWM)\n", dp[2] / 1024, dp[1] / 1024
    printf "  publish    1.1.0 without --delta-from %6.1f s\n", pub0
    printf "             1.1.0 with --delta-from 1.0.0 %.1f s (the delta adds %.1f s)\n", pub1, pub1 - pub0
  }'
}

if [ "${1:-}" = "--inner" ]; then
  shift
  inner "$@"
  exit 0
fi
# --make-releases: only make (or keep) the release pair, without Wine.
if [ "${1:-}" = "--make-releases" ]; then
  export QV_WINE_RUN=$build/wine-run.sh QV_TEST_CERT_DIR=$build/test-certs
  "$here/tests/server/make_test_certs.sh" "$build/test-certs" </dev/null >/dev/null
  mkdir -p "$work"
  make_releases
  exit 0
fi

rounds=${1:-2}
if [ -f "$build/build.ninja" ]; then
  cmake --build "$build" --target QuorvelAI-Setup qv-demo-app qv-trust-cert >/dev/null
else
  "$here/scripts/build" >/dev/null
fi
"$here/tests/wine/prefix.sh" start "$build/wine"
trap '"$here/tests/wine/prefix.sh" stop "$build/wine"' EXIT
export QV_WINE_RUN=$build/wine-run.sh QV_BIN_DIR=$build/bin QV_BUILD_DIR=$build
"$here/tests/server/make_test_certs.sh" "$build/test-certs" </dev/null >/dev/null
mkdir -p "$work"
make_releases
"$here/tests/server/with_server.sh" "$releases" -- "$0" --inner "$rounds"
