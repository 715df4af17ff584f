#!/usr/bin/env bash
# bench/install_bench.sh [MB ...]: a real silent install under Wine from the
# local release server (plain HTTP on 127.0.0.1), against the same work done
# in the same run by bare loops under Wine, with native Linux tools alongside.
#   MB ...  unpacked payload sizes, default "100 25"; the first is the main
#           one, the others show whether the peak memory stays flat.
# Per size, best of 3 rounds each:
#   setup     QuorvelAI-Setup.exe --silent --no-shortcuts --no-launch, wall
#             time, each round into a fresh folder with a fresh TEMP (so no
#             earlier download is reused)
#   bare      download-bench.exe bare (WinHTTP read loop to a file),
#             download-bench.exe cng (CNG SHA-256 over the download) and
#             unpack-bare.exe (LZMA SDK decode and tar walk writing the
#             files); their sum is the yardstick (target setup/sum <= 1.3)
#   native    curl, sha256sum, xz -dc | tar -x
#   memory    peak VmHWM of the setup process (target <= 80 MiB, flat)
# Figures, not a test: it never fails on a target.
# The payload (the signed demo app as QuorvelAI.exe and files of mixed
# sizes) is generated and published with tools/release_tool.py once per size
# into $QV_BUILD_DIR/bench-install/releases/p<MB> (default build/) and kept;
# the compression takes a minute or two per 100 MB. Delete that folder, or
# change the generator's version below, to publish again.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${QV_BUILD_DIR:-$here/build}
work=$build/bench-install
releases=$work/releases
generator_version=2
version=1.0.0
drive=$build/wine/prefix/drive_c
scratch=$drive/bench-install

winpath() { local p=$1; echo "Z:${p//\//\\}"; }
# The C: form of a path inside the prefix's drive_c.
cpath() { local p=${1#"$drive"}; echo "C:${p//\//\\}"; }
now() { date +%s.%N; }
since() { echo "$1 $(now)" | awk '{printf "%.3f\n", $2 - $1}'; }
best() { sort -n | head -1; }

# make_release MB: the app folder and its published release in
# $releases/p<MB>, unless the stamp says they are already there.
make_release() {
  local mb=$1 out=$releases/p$1
  local ca; ca=$(sha256sum "$build/test-certs/ca.crt" | cut -c1-16)
  local key="generator $generator_version size $mb ca $ca"
  if [ -f "$out/stamp" ] && [ "$(cat "$out/stamp")" = "$key" ]; then return; fi
  rm -rf "$out" "$work/app-$mb"
  local app=$work/app-$mb
  mkdir -p "$app"
  "$here/tests/support/sign_test_program.sh" "$build/bin/qv-demo-app.exe" "$app/QuorvelAI.exe" >/dev/null
  printf 'exit_code=0\ndelay_ms=300\n' >"$app/demo.ini"
  python3 - "$app" "$mb" <<'PY'
import glob, os, random, sys
app, mb = sys.argv[1], int(sys.argv[2])
rng = random.Random(mb)
total = mb * 1000 * 1000
KiB, MiB = 1024, 1024 * 1024
# Binary content: system libraries read one after the other and never twice,
# so the compressor finds program-code redundancy but no repeated files.
libs = sorted(p for p in glob.glob("/usr/lib/x86_64-linux-gnu/**/*.so*", recursive=True)
              if os.path.isfile(p) and not os.path.islink(p))
rng.shuffle(libs)
pending, offset = b"", 0
def library_bytes(size):
    global pending, offset
    parts, length = [], 0
    while length < size:
        if offset == len(pending):
            with open(libs.pop(), "rb") as f:
                pending, offset = f.read(), 0
        piece = pending[offset:offset + size - length]
        offset += len(piece)
        parts.append(piece)
        length += len(piece)
    return b"".join(parts)
# Text content: lines of made-up identifiers, like scripts and JSON.
syllables = ["ka", "lo", "mir", "ten", "qu", "or", "vel", "sa", "dri", "po", "na", "ex", "ul", "ti", "ber"]
vocabulary = ["".join(rng.choice(syllables) for _ in range(rng.randint(1, 4))) for _ in range(6000)]
marks = [" = ", "(", ");\n", ", ", ".", " {\n", "}\n", ": ", "\"", " + "]
def text_bytes(size):
    parts, length = [], 0
    while length < size:
        words = rng.choices(vocabulary, k=64)
        chunk = "".join(w + rng.choice(marks) for w in words)
        parts.append(chunk)
        length += len(chunk)
    return "".join(parts).encode()[:size]
def write(relative, data):
    path = os.path.join(app, relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    return len(data)
# About a third in small files of 1-64 KiB (sizes log-uniform, so most are
# small), half text and half binary, some 20 to a folder, two levels deep.
written, n = 0, 0
while written < total * 0.35:
    size = int(KiB * 64 ** rng.random())
    data = text_bytes(size) if n % 2 == 0 else library_bytes(size)
    ext = ".js" if n % 2 == 0 else ".bin"
    written += write("resources/m%02d/p%03d/f%05d%s" % (n // 400, n // 20 % 20, n, ext), data)
    n += 1
small = n
# Some of 1-4 MiB.
k = 0
while written < total * 0.75:
    size = min(rng.randint(1 * MiB, 4 * MiB), total - written)
    written += write("lib/mod%03d.dll" % k, library_bytes(size))
    k += 1
# A few larger ones.
j = 0
while written < total:
    size = min(rng.randint(8 * MiB, 16 * MiB), total - written)
    written += write("data/pack%02d.dat" % j, library_bytes(size) if j % 2 == 0 else text_bytes(size))
    j += 1
print("payload %d MB: %d small files, %d of 1-4 MiB, %d larger, %d bytes" % (mb, small, k, j, written))
PY
  echo "publishing the $mb MB release (compressing)..." >&2
  python3 -B "$here/tools/release_tool.py" publish --app-dir "$app" --version "$version" --out "$out" \
    --sign-cert "$build/test-certs/quorvel-sign.crt" --sign-key "$build/test-certs/quorvel-sign.key" >/dev/null
  echo "$key" >"$out/stamp"
  rm -rf "$app"
}

# Peak VmHWM (kB) of the processes whose command line names $2, sampled
# until the job $1 ends; the mark only grows, so sampling misses at most
# the last interval's growth.
peak_memory_kb() {
  local job=$1 name=$2 peak=0 pid hwm
  while kill -0 "$job" 2>/dev/null; do
    for pid in $(grep -l -a "$name" /proc/[0-9]*/cmdline 2>/dev/null | cut -d/ -f3); do
      hwm=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
      [ -n "$hwm" ] && [ "$hwm" -gt "$peak" ] && peak=$hwm
    done
    sleep 0.2
  done
  echo "$peak"
}

# The setup's own log cut into phases by its status lines, in seconds:
# start-up and discovery, download, hash, unpack, the rest (signature,
# switch-over, launcher, entry); then the number of hash passes it made.
log_phases() {
  awk '{
    split($2, c, ":"); t = c[1] * 3600 + c[2] * 60 + c[3]
    if (NR == 1) first = t
    if (index($0, "INFO  Downloading ") && !d) d = t
    if (index($0, "INFO  Checking the ")) { if (!h) h = t; ++passes }
    if (index($0, "INFO  Installing QuorvelAI ")) u = t
    if (index($0, "INFO  Unpacked ")) e = t
    last = t
  } END {
    if (d && h && u && e) printf "%.2f %.2f %.2f %.2f %.2f %d", d - first, h - d, u - h, e - u, last - e, passes
    else print "- - - - - 0"
  }' "$1" 2>/dev/null || echo "- - - - - 0"
}

clear_user_state() {
  "$build/wine-run.sh" reg delete 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\QuorvelAI' /f \
    </dev/null >/dev/null 2>&1 || true
  rm -f "$drive"/users/*/AppData/Roaming/quorvelai/attribution.json
}

# One silent install into a fresh folder with a fresh TEMP; appends
# "seconds peak_kB" and the log's phases to $work/setup-MB.txt. The clock runs in the job itself,
# so the memory sampler's pauses do not count. Round 1 compares the files.
setup_round() {
  local mb=$1 round=$2 dir=$scratch/setup-$1 tmp=$scratch/temp-$1
  rm -rf "$dir" "$tmp"; mkdir -p "$tmp"; clear_user_state; sync
  # Wine's cmd does not take set "NAME=value"; the value must not hold
  # spaces, and && right after it keeps a trailing space out.
  local command
  command="set TEMP=$(cpath "$tmp")&& set TMP=$(cpath "$tmp")&&"
  command+=" $(winpath "$build/bin/QuorvelAI-Setup.exe") --silent --base-url $QV_TEST_HTTP_URL/p$mb"
  command+=" --version $version --dir $(cpath "$dir") --no-shortcuts --no-launch"
  (
    start=$(now)
    status=0
    "$build/wine-run.sh" cmd /c "$command" </dev/null >"$work/setup.out" 2>&1 || status=$?
    echo "$(since "$start") $status" >"$work/setup.time"
  ) &
  local job=$!
  local peak; peak=$(peak_memory_kb "$job" QuorvelAI-Setup.exe)
  wait "$job" || true
  local seconds status
  read -r seconds status <"$work/setup.time"
  if [ "$status" != 0 ] || [ ! -f "$dir/app-$version/QuorvelAI.exe" ]; then
    echo "setup $mb MB round $round failed ($status); its log:" >&2
    tail -20 "$tmp/QuorvelAI-Setup.log" >&2 || true
  fi
  if grep -q 'Reusing' "$tmp/QuorvelAI-Setup.log" 2>/dev/null; then echo "setup reused a download" >&2; fi
  if [ -n "$(find "$tmp/QuorvelAI-Setup" -name '*.tar.xz*' 2>/dev/null)" ]; then
    echo "setup $mb MB round $round left its download in TEMP" >&2
  fi
  if [ "$round" = 1 ] && ! diff -r -q "$work/native-$mb" "$dir/app-$version" >"$work/diff-$mb.txt"; then
    echo "the setup's files differ from xz | tar's:" >&2; head -5 "$work/diff-$mb.txt" >&2
  fi
  cp "$tmp/QuorvelAI-Setup.log" "$work/setup-$mb.log" 2>/dev/null || true
  echo "$seconds $peak $(log_phases "$tmp/QuorvelAI-Setup.log")" >>"$work/setup-$mb.txt"
  rm -rf "$dir" "$tmp"; clear_user_state
}

# The bare loops under Wine, in drive_c like the setup's own files; appends
# each one's own timer in ms to $work/{bare,cng,unbare}-MB.txt.
bare_round() {
  local mb=$1 round=$2 url=$3 file=$scratch/bare-$1.tar.xz out=$scratch/bare-$1
  local bench=$build/bin/download-bench.exe
  rm -f "$file"; sync
  "$build/wine-run.sh" "$bench" bare "$url" "$(cpath "$file")" </dev/null >"$work/bare.out" 2>&1 ||
    { echo "bare download failed: $(cat "$work/bare.out")" >&2; return; }
  awk '{print $4}' "$work/bare.out" >>"$work/bare-$mb.txt"
  "$build/wine-run.sh" "$bench" cng "$(cpath "$file")" </dev/null >"$work/cng.out" 2>&1 ||
    { echo "bare hash failed: $(cat "$work/cng.out")" >&2; return; }
  awk '{print $4}' "$work/cng.out" >>"$work/cng-$mb.txt"
  [ "$(tr -d '\r' <"$work/cng.out" | awk '{print $8}')" = "$(sha256sum "$file" | cut -c1-64)" ] ||
    echo "bare hash differs from sha256sum" >&2
  rm -rf "$out"; mkdir -p "$out"; sync
  "$build/wine-run.sh" "$build/bin/unpack-bare.exe" "$(cpath "$file")" "$(cpath "$out")" \
    </dev/null >"$work/unbare.out" 2>&1 || { echo "bare unpack failed: $(cat "$work/unbare.out")" >&2; return; }
  awk '{print $6}' "$work/unbare.out" >>"$work/unbare-$mb.txt"
  if [ "$round" = 1 ] && ! diff -r -q "$work/native-$mb" "$out" >"$work/diff-$mb.txt"; then
    echo "unpack-bare's files differ from xz | tar's:" >&2; head -5 "$work/diff-$mb.txt" >&2
  fi
  rm -rf "$out" "$file"
}

native_round() {
  local mb=$1 url=$2 file=$scratch/native-$1.tar.xz out=$scratch/native-$1
  rm -f "$file"; sync
  curl -s -o "$file" -w '%{time_total}\n' "$url" >>"$work/curl-$mb.txt"
  local start; start=$(now)
  sha256sum "$file" >/dev/null
  since "$start" >>"$work/sha256sum-$mb.txt"
  rm -rf "$out"; mkdir -p "$out"; sync
  start=$(now)
  xz -dc "$file" | tar -x -C "$out"
  since "$start" >>"$work/xztar-$mb.txt"
  rm -rf "$out" "$file"
}

bench_size() {
  local mb=$1 dir=Installs/$version/win-x64
  local payload=$QV_TEST_RELEASE_ROOT/p$mb/$dir/QuorvelAI-$version-win-x64.tar.xz
  local url=$QV_TEST_HTTP_URL/p$mb/$dir/QuorvelAI-$version-win-x64.tar.xz
  rm -f "$work"/*-"$mb".txt
  # The reference tree for the file comparisons of round 1.
  rm -rf "$work/native-$mb"; mkdir -p "$work/native-$mb"
  xz -dc "$payload" | tar -x -C "$work/native-$mb"
  local files bytes
  files=$(find "$work/native-$mb" -type f | wc -l)
  bytes=$(find "$work/native-$mb" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
  for round in 1 2 3; do
    setup_round "$mb" "$round"
    bare_round "$mb" "$round" "$url"
    native_round "$mb" "$url"
  done
  rm -rf "$work/native-$mb"
  local fastest; fastest=$(sort -n -k1,1 "$work/setup-$mb.txt" | head -1)
  local peak_kb; peak_kb=$(awk '{print $2}' "$work/setup-$mb.txt" | sort -n | tail -1)
  awk -v mb="$mb" -v files="$files" -v bytes="$bytes" -v xz="$(stat -c %s "$payload")" \
      -v fastest="$fastest" -v peak="$peak_kb" -v start="$startup_s" \
      -v bare="$(best <"$work/bare-$mb.txt")" -v cng="$(best <"$work/cng-$mb.txt")" \
      -v unbare="$(best <"$work/unbare-$mb.txt")" -v curl="$(best <"$work/curl-$mb.txt")" \
      -v sum="$(best <"$work/sha256sum-$mb.txt")" -v xztar="$(best <"$work/xztar-$mb.txt")" '
  function row(group, label, value, tail) {
    if (tail != "") tail = "   " tail
    if (value == "-") printf "  %-8s%-32s%6s s%s\n", group, label, value, tail
    else printf "  %-8s%-32s%6.2f s%s\n", group, label, value, tail
  }
  BEGIN {
    split(fastest, f, " "); setup = f[1]; passes = f[8]
    bare /= 1000; cng /= 1000; unbare /= 1000
    once = bare + cng + unbare; twice = once + cng
    printf "payload %d MB: %d files, %.1f MB unpacked, %.1f MB xz; best of 3 rounds\n", mb, files, bytes / 1e6, xz / 1e6
    row("setup", "silent install, wall time", setup, "(fastest round; by its log:)")
    row("", "  Wine start (alone, via cmd)", start, "")
    row("", "  start-up and discovery", f[3], "")
    row("", "  download", f[4], "")
    row("", sprintf("  hash, %d pass%s", passes, passes == 1 ? "" : "es"), f[5], "")
    row("", "  unpack", f[6], "")
    row("", "  signature and finishing", f[7], "")
    row("bare", "WinHTTP read loop", bare, "")
    row("", "CNG SHA-256 loop", cng, "")
    row("", "LZMA SDK decode + CreateFileW", unbare, "")
    row("", "sum, hash once", once, sprintf("setup / sum %.2f (target <= 1.3); less the Wine start %.2f", setup / once, (setup - start) / once))
    row("", "sum, hash counted twice", twice, sprintf("setup / sum %.2f; less the Wine start %.2f", setup / twice, (setup - start) / twice))
    row("native", "curl", curl, "")
    row("", "sha256sum", sum, "")
    row("", "xz -dc | tar -x", xztar, sprintf("sum %.2f s", curl + sum + xztar))
    printf "  %-8s%-32s%6.1f MiB (target <= 80, flat across sizes)\n", "memory", "setup peak VmHWM", peak / 1024
  }'
}

inner() {
  mkdir -p "$scratch"
  # What one Wine start through cmd costs, as in the setup's rounds (the
  # bare loops' figures come from their own timers and leave it out).
  local runs=()
  for round in 1 2 3; do
    local start; start=$(now)
    "$build/wine-run.sh" cmd /c "set TEMP=$(cpath "$scratch")&& set TMP=$(cpath "$scratch")&& $(winpath "$build/bin/unpack-bare.exe")" \
      </dev/null >/dev/null 2>&1 || true
    runs+=("$(since "$start")")
  done
  startup_s=$(printf '%s\n' "${runs[@]}" | best)
  echo "Silent install from http://127.0.0.1 under Wine against bare loops under Wine. With a fresh"
  echo "TEMP the setup hashes the payload once (its log's \"Checking the ...\" lines count the passes;"
  echo "a second pass happens only over an earlier download it finds), so the sum is shown with the"
  echo "hash once and twice. Figures are noisy: 2 cores shared with other work."
  for mb in "$@"; do
    bench_size "$mb"
  done
  rm -rf "$scratch"
}

if [ "${1:-}" = "--inner" ]; then
  shift
  inner "$@"
  exit 0
fi

sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100 25)
if [ -f "$build/build.ninja" ]; then
  cmake --build "$build" --target QuorvelAI-Setup qv-demo-app download-bench unpack-bare qv-trust-cert >/dev/null
else
  "$here/scripts/build" >/dev/null
fi
"$here/tests/wine/prefix.sh" start "$build/wine"
trap '"$here/tests/wine/prefix.sh" stop "$build/wine"' EXIT
export QV_WINE_RUN=$build/wine-run.sh QV_BIN_DIR=$build/bin QV_BUILD_DIR=$build
"$here/tests/server/make_test_certs.sh" "$build/test-certs" </dev/null >/dev/null
mkdir -p "$work"
for mb in "${sizes[@]}"; do
  make_release "$mb"
done
"$here/tests/server/with_server.sh" "$releases" -- "$0" --inner "${sizes[@]}"
