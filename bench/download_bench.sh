#!/usr/bin/env bash
# Download and hash throughput of the release client under Wine against the
# local release server on loopback, each next to its reference measured in
# the same run, and the peak memory of release-check.exe while it downloads.
#   bench/download_bench.sh [size in MiB, default 200]
# Figures, not a test: it prints ratios and never fails on a target.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${QV_BUILD_DIR:-$here/build}
size_mb=${1:-200}
work=$build/bench-download
root=$work/root

winpath() { local p=$1; echo "Z:${p//\//\\}"; }

# Peak resident memory (VmHWM, kB) of the Windows process whose command line
# names release-check.exe, sampled until the job in $1 ends.
peak_memory_kb() {
  local job=$1 peak=0 pid hwm
  while kill -0 "$job" 2>/dev/null; do
    for pid in $(grep -l -a 'release-check.exe' /proc/[0-9]*/cmdline 2>/dev/null | cut -d/ -f3); do
      hwm=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
      [ -n "$hwm" ] && [ "$hwm" -gt "$peak" ] && peak=$hwm
    done
    sleep 0.1
  done
  wait "$job" || true
  echo "$peak"
}

# One release-check --download run with TEMP inside the bench folder; prints
# the peak memory in kB.
release_check_peak() {
  local version=$1 tmp=$work/tmp-$1
  rm -rf "$tmp"; mkdir -p "$tmp"
  local t; t=$(winpath "$tmp")
  "$build/wine-run.sh" cmd /c "set \"TEMP=$t\" && set \"TMP=$t\" && $(winpath "$build/bin/release-check.exe") --base-url $QV_TEST_HTTP_URL --version $version --download --allow-unsigned" \
    </dev/null >"$work/release-check-$version.log" 2>&1 &
  peak_memory_kb $!
  grep -q '^OK' "$work/release-check-$version.log" || echo "release-check $version failed, see $work/release-check-$version.log" >&2
  rm -rf "$tmp"
}

best() { sort -n | head -1; }

inner() {
  local big=$root/Installs/9.9.9/win-x64/big.bin
  local url=$QV_TEST_HTTP_URL/Installs/9.9.9/win-x64/big.bin
  local size; size=$(stat -c %s "$big")
  local out=$work/out; mkdir -p "$out"
  local bench=$build/bin/download-bench.exe
  : >"$work/client.txt"; : >"$work/bare.txt"; : >"$work/hash.txt"; : >"$work/cng.txt"
  : >"$work/curl.txt"; : >"$work/sha256sum.txt"
  for round in 1 2 3; do
    curl -s -o "$out/curl.bin" -w '%{time_total}\n' "$url" >>"$work/curl.txt"
    "$build/wine-run.sh" "$bench" bare "$url" "$(winpath "$out/bare.bin")" </dev/null >>"$work/bare.txt" 2>&1
    "$build/wine-run.sh" "$bench" client "$url" "$(winpath "$out/client.bin")" "$size" </dev/null >>"$work/client.txt" 2>&1
    cmp -s "$big" "$out/client.bin" || echo "client download differs from the source" >&2
    "$build/wine-run.sh" "$bench" cng "$(winpath "$big")" </dev/null >>"$work/cng.txt" 2>&1
    "$build/wine-run.sh" "$bench" hash "$(winpath "$big")" </dev/null >>"$work/hash.txt" 2>&1
    local s e; s=$(date +%s.%N); sha256sum "$big" >/dev/null; e=$(date +%s.%N)
    echo "$s $e" | awk '{printf "%.3f\n", $2 - $1}' >>"$work/sha256sum.txt"
  done
  rm -rf "$out"
  local mib; mib=$(awk -v s="$size" 'BEGIN {print s / 1048576}')
  local client_ms bare_ms hash_ms cng_ms curl_s sum_s
  client_ms=$(awk '{print $4}' "$work/client.txt" | best)
  bare_ms=$(awk '{print $4}' "$work/bare.txt" | best)
  hash_ms=$(awk '{print $4}' "$work/hash.txt" | best)
  cng_ms=$(awk '{print $4}' "$work/cng.txt" | best)
  curl_s=$(best <"$work/curl.txt")
  sum_s=$(best <"$work/sha256sum.txt")
  local small_peak big_peak
  small_peak=$(release_check_peak 9.9.8)
  big_peak=$(release_check_peak 9.9.9)
  awk -v mib="$mib" -v c="$client_ms" -v b="$bare_ms" -v h="$hash_ms" -v g="$cng_ms" \
      -v curl="$curl_s" -v sum="$sum_s" -v sp="$small_peak" -v bp="$big_peak" 'BEGIN {
    printf "file: %.0f MiB on 127.0.0.1, best of 3 rounds\n", mib
    printf "download  HttpClient::Download   %7.1f MB/s\n", mib / (c / 1000)
    printf "          bare WinHTTP loop      %7.1f MB/s\n", mib / (b / 1000)
    printf "          curl (Linux)           %7.1f MB/s\n", mib / curl
    printf "          ratio to bare WinHTTP  %7.2f (target >= 0.9)\n", b / c
    printf "hash      HashFileSha256         %7.1f MB/s\n", mib / (h / 1000)
    printf "          bare CNG loop          %7.1f MB/s\n", mib / (g / 1000)
    printf "          sha256sum (Linux)      %7.1f MB/s\n", mib / sum
    printf "          ratio to bare CNG      %7.2f (target >= 0.95)\n", g / h
    printf "memory    release-check peak RSS %7.1f MiB for the 10 MiB payload\n", sp / 1024
    printf "                                 %7.1f MiB for the %.0f MiB payload\n", bp / 1024, mib
  }'
}

if [ "${1:-}" = "--inner" ]; then
  inner
  exit 0
fi

if [ -f "$build/build.ninja" ]; then
  cmake --build "$build" --target download-bench release-check qv-trust-cert >/dev/null
else
  "$here/scripts/build" >/dev/null
fi
"$here/tests/wine/prefix.sh" start "$build/wine"
trap '"$here/tests/wine/prefix.sh" stop "$build/wine"' EXIT

rm -rf "$work"
mkdir -p "$root/Installs/9.9.9/win-x64" "$root/Installs/9.9.8/win-x64"
head -c $((size_mb * 1048576)) /dev/urandom >"$root/Installs/9.9.9/win-x64/big.bin"
head -c $((10 * 1048576)) /dev/urandom >"$root/Installs/9.9.8/win-x64/small.bin"
for pair in 9.9.9:big.bin 9.9.8:small.bin; do
  version=${pair%%:*} name=${pair#*:}
  file=$root/Installs/$version/win-x64/$name
  printf '{"schema":1,"version":"%s","payload":"%s","payloadSha256":"%s","payloadSize":%s,"unpackedSize":1,"longestPath":1}\n' \
    "$version" "$name" "$(sha256sum "$file" | cut -c1-64)" "$(stat -c %s "$file")" \
    >"$root/Installs/$version/win-x64/manifest.json"
done
export QV_WINE_RUN=$build/wine-run.sh QV_BIN_DIR=$build/bin QV_BUILD_DIR=$build
"$here/tests/server/with_server.sh" "$root" -- "$0" --inner
rm -rf "$work"
