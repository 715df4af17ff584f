#!/usr/bin/env bash
# make_releases.sh BIN_DIR OUT: publishes the releases the install tests use,
# each release server variant in a folder of its own under OUT (base URL =
# server + "/" + variant):
#   good/       1.0.0, 1.1.0, 1.2.0 of the demo app, signed by "Quorvel, LLC"
#   unsigned/   2.0.0, not signed
#   other/      2.0.0, signed by another publisher
#   tampered/   2.0.0, signed, then one byte of the program changed
#   noprogram/  2.0.0 whose payload holds no QuorvelAI.exe
#   damaged/    2.0.0 whose payload no longer matches the manifest's hash
#   broken/     2.0.0 whose payload is damaged but hashes as the manifest says
#   huge/       2.0.0 whose manifest claims a petabyte unpacked
#   delta/      1.0.0, and 1.1.0 with a delta from 1.0.0 (a patched, a
#               changed, an added, an emptied and a removed file)
#   deltabroken/  the same, the patch of resources/data.bin damaged
#   deltawrong/   the same, the list's hash of resources/notes.txt wrong
#   deltahostile/ the same, a path of the list leading out of the folder
#               (in each the manifest names the damaged delta's true hash)
#   attack/     1.0.0 and 1.1.0, genuine; the attacks below start from it:
#   swapped-kept, swapped-none, swapped-empty, swapped-other,
#   swapped-stranger, swapped-noeku, swapped-expired, swapped-foreign/
#               attack/ with 1.1.0's payload swapped for one holding an
#               extra DLL and its manifest re-hashed, the manifest's
#               signature kept, removed, empty, made by "Other Publisher,
#               Inc.", by a "Quorvel, LLC" of an untrusted CA, by one
#               without code signing, by an expired one, or 1.0.0's
#               genuine manifest signature
#   index-altered/  attack/ with versions.json changed after signing
#   replayed/   attack/ serving the genuine index of the time 1.0.0 was new
#   staged/     1.0.0 and 1.1.0, stable 1.1.0; each staged-* variant holds
#               the same releases and 1.2.0 (hard links) with an index of
#               its own, made by the release tool's staged commands:
#   staged-100, staged-50, staged-0/  1.2.0 as the rollout at that percent
#   staged-recall/  staged-100 with 1.2.0 revoked
#   staged-beta/    1.2.0 in the channel beta only
#   replayed-withdrawn/  the same without 1.1.0
# Every version index and manifest is signed by "Quorvel, LLC" (signed
# again after a variant changed it) unless an attack says otherwise.
# Every app folder holds demo.ini with exit_code=0 and delay_ms=300, so an
# app started by the launcher ends by itself. Safe to run again.
set -euo pipefail
bin=$1 out=$2
here=$(cd "$(dirname "$0")" && pwd)
repo=$here/../..
tool=$repo/tools/release_tool.py
sign=$repo/tests/support/sign_test_program.sh
certs=${QV_TEST_CERT_DIR:-$(dirname "${QV_WINE_RUN:?set QV_WINE_RUN or QV_TEST_CERT_DIR}")/test-certs}
"$repo/tests/server/make_test_certs.sh" "$certs" </dev/null >/dev/null
signer() { echo --sign-cert "$certs/$1-sign.crt" --sign-key "$certs/$1-sign.key"; }
work=$(mktemp -d "${TMPDIR:-/tmp}/qv-releases.XXXXXX")
trap 'rm -rf "$work"' EXIT

rm -rf "$out"
mkdir -p "$out"

# app_dir NAME SIGNER: a folder with the demo app as QuorvelAI.exe.
app_dir() {
  local dir=$work/$1
  mkdir -p "$dir/resources"
  if [ "$2" = none ]; then
    cp "$bin/qv-demo-app.exe" "$dir/QuorvelAI.exe"
  else
    "$sign" "$bin/qv-demo-app.exe" "$dir/QuorvelAI.exe" "$2" >/dev/null
  fi
  printf 'exit_code=0\ndelay_ms=300\n' >"$dir/demo.ini"
  head -c 300000 /dev/urandom >"$dir/resources/data.bin"
  printf 'QuorvelAI %s\n' "$1" >"$dir/resources/notes.txt"
  echo "$dir"
}

publish() {  # publish APP_DIR VERSION VARIANT [OPTIONS...]
  python3 -B "$tool" publish --app-dir "$1" --version "$2" --out "$out/$3" $(signer quorvel) "${@:4}" >/dev/null
}
# resign FOLDER [SIGNER]: signs the documents below FOLDER again, after a
# variant changed them, so that the setup meets the change it is meant to.
resign() {
  python3 -B "$tool" sign --root "$1" $(signer "${2:-quorvel}") >/dev/null
}

manifest() { echo "$out/$1/Installs/$2/win-x64/manifest.json"; }
payload() { echo "$out/$1/Installs/$2/win-x64/QuorvelAI-$2-win-x64.tar.xz"; }

signed=$(app_dir signed quorvel)
for version in 1.0.0 1.1.0 1.2.0; do publish "$signed" "$version" good; done

publish "$(app_dir unsigned none)" 2.0.0 unsigned
publish "$(app_dir other other)" 2.0.0 other

tampered=$(app_dir tampered quorvel)
# One byte inside the code, far from the signature at the end.
printf 'X' | dd of="$tampered/QuorvelAI.exe" bs=1 seek=2000 conv=notrunc status=none
publish "$tampered" 2.0.0 tampered

noprogram=$(app_dir noprogram none)
publish "$noprogram" 2.0.0 noprogram
# The tool insists on the program, so the payload is packed again without it.
tar --format=pax -C "$noprogram" -cf - demo.ini resources | xz -c --check=crc64 >"$(payload noprogram 2.0.0)"
python3 - "$(manifest noprogram 2.0.0)" "$(payload noprogram 2.0.0)" <<'PY'
import hashlib, json, os, sys
path, payload = sys.argv[1], sys.argv[2]
doc = json.load(open(path))
doc["payloadSha256"] = hashlib.sha256(open(payload, "rb").read()).hexdigest()
doc["payloadSize"] = os.path.getsize(payload)
json.dump(doc, open(path, "w"))
PY
resign "$out/noprogram"

publish "$signed" 2.0.0 damaged
printf 'Z' | dd of="$(payload damaged 2.0.0)" bs=1 seek=4000 conv=notrunc status=none

publish "$signed" 2.0.0 broken
printf 'Z' | dd of="$(payload broken 2.0.0)" bs=1 seek=4000 conv=notrunc status=none
python3 - "$(manifest broken 2.0.0)" "$(payload broken 2.0.0)" <<'PY'
import hashlib, json, sys
path, payload = sys.argv[1], sys.argv[2]
doc = json.load(open(path))
doc["payloadSha256"] = hashlib.sha256(open(payload, "rb").read()).hexdigest()
json.dump(doc, open(path, "w"))
PY
resign "$out/broken"

publish "$signed" 2.0.0 huge
python3 - "$(manifest huge 2.0.0)" <<'PY'
import json, sys
doc = json.load(open(sys.argv[1]))
doc["unpackedSize"] = 10**15
json.dump(doc, open(sys.argv[1], "w"))
PY
resign "$out/huge"
delta_old=$(app_dir delta-1.0.0 quorvel)
printf 'gone in 1.1.0\n' >"$delta_old/resources/old.txt"
printf 'emptied in 1.1.0\n' >"$delta_old/resources/emptied.txt"
publish "$delta_old" 1.0.0 delta
delta_new=$work/delta-1.1.0
cp -a "$delta_old" "$delta_new"
rm "$delta_new/resources/old.txt"
: >"$delta_new/resources/emptied.txt"
printf 'QuorvelAI delta 1.1.0\n' >"$delta_new/resources/notes.txt"
printf 'added in 1.1.0\n' >"$delta_new/resources/added.txt"
for at in 1000 150000 299000; do
  printf 'changed' | dd of="$delta_new/resources/data.bin" bs=1 seek=$at conv=notrunc status=none
done
publish "$delta_new" 1.1.0 delta --delta-from 1.0.0
for variant in deltabroken deltawrong deltahostile; do
  cp -a "$out/delta" "$out/$variant"
  python3 - "$out/$variant/Installs/1.1.0/win-x64" "$variant" <<'PY'
import hashlib, json, os, struct, sys
folder, variant = sys.argv[1], sys.argv[2]
manifest_path = os.path.join(folder, "manifest.json")
manifest = json.load(open(manifest_path))
delta_path = os.path.join(folder, manifest["deltas"][0]["name"])
delta = bytearray(open(delta_path, "rb").read())
length = struct.unpack("<Q", delta[8:16])[0]
listing = json.loads(delta[16:16 + length])
entries = {entry["path"]: entry for entry in listing["entries"]}
if variant == "deltabroken":
    patch = entries["resources/data.bin"]
    assert patch["from"] == "patch"
    delta[16 + length + patch["offset"] + patch["length"] // 2] ^= 0x55
else:
    if variant == "deltawrong":
        entries["resources/notes.txt"]["sha256"] = "0" * 64
    else:
        entries["resources/added.txt"]["path"] = "../added.txt"
    text = json.dumps(listing, separators=(",", ":")).encode()
    delta[8:16 + length] = struct.pack("<Q", len(text)) + text
open(delta_path, "wb").write(delta)
manifest["deltas"][0]["sha256"] = hashlib.sha256(delta).hexdigest()
manifest["deltas"][0]["size"] = len(delta)
json.dump(manifest, open(manifest_path, "w"))
PY
  resign "$out/$variant"
done

# The attacks on signed releases. attack/ is genuine; its index of the
# time 1.0.0 was the newest is kept for the replay.
publish "$signed" 1.0.0 attack
cp "$out/attack/versions.json" "$work/replayed.json"
cp "$out/attack/versions.json.sig" "$work/replayed.json.sig"
publish "$signed" 1.1.0 attack
evil=$work/evil
cp -a "$signed" "$evil"
printf 'MZ not a real library\n' >"$evil/version.dll"
python3 -B "$tool" publish --app-dir "$evil" --version 1.1.0 --out "$work/evil-root" --unsigned >/dev/null
attack_copy() {  # attack_copy VARIANT: a copy of attack/ with the swapped 1.1.0
  cp -a "$out/attack" "$out/$1"
  cp "$work/evil-root/Installs/1.1.0/win-x64/"{manifest.json,QuorvelAI-1.1.0-win-x64.tar.xz} \
    "$out/$1/Installs/1.1.0/win-x64/"
  echo "$out/$1/Installs/1.1.0/win-x64"
}
attack_copy swapped-kept >/dev/null
rm "$(attack_copy swapped-none)/manifest.json.sig"
: >"$(attack_copy swapped-empty)/manifest.json.sig"
for who in other stranger noeku expired; do resign "$(attack_copy "swapped-$who")" "$who"; done
cp "$out/attack/Installs/1.0.0/win-x64/manifest.json.sig" "$(attack_copy swapped-foreign)/"
cp -a "$out/attack" "$out/index-altered"
sed -i 's/"version": "1.1.0"/"version": "1.1.0", "channel": "x"/' "$out/index-altered/versions.json"
cp -a "$out/attack" "$out/replayed"
cp "$work/replayed.json" "$out/replayed/versions.json"
cp "$work/replayed.json.sig" "$out/replayed/versions.json.sig"

staged() {  # staged COMMAND VARIANT [OPTIONS...]
  python3 -B "$tool" "$1" --root "$out/$2" $(signer quorvel) "${@:3}" >/dev/null
}
for version in 1.0.0 1.1.0; do publish "$signed" "$version" staged; done
cp -al "$out/staged" "$out/staged-beta"
publish "$signed" 1.2.0 staged-beta --channel beta 2>/dev/null
cp -al "$out/staged" "$out/staged-100"
publish "$signed" 1.2.0 staged-100 --rollout 100 2>/dev/null
for percent in 50 0; do
  cp -al "$out/staged-100" "$out/staged-$percent"
  staged rollout "staged-$percent" --percent "$percent"
done
cp -al "$out/staged-100" "$out/staged-recall"
staged revoke staged-recall --version 1.2.0
cp -a "$out/replayed" "$out/replayed-withdrawn"
rm -rf "$out/replayed-withdrawn/Installs/1.1.0"
echo "Published the install test releases in $out"
