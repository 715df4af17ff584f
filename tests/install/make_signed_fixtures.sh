#!/usr/bin/env bash
# make_signed_fixtures.sh OUTDIR PROGRAM CERTDIR
# The programs of the signature tests, each as OUTDIR/<case>/QuorvelAI.exe:
#   quorvel   PROGRAM signed as "Quorvel, LLC"
#   other     PROGRAM signed as "Other Publisher, Inc."
#   case, longer, shorter  PROGRAM signed as "quorvel, llc", "Quorvel, LLC
#             Imposter" and "Quorvel"
#   unsigned  PROGRAM as it is
#   tampered  the quorvel copy with one byte of its code changed afterwards
# plus OUTDIR/ca.crt, the CA the tests must trust, and OUTDIR/.stamp.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: make_signed_fixtures.sh OUTDIR PROGRAM CERTDIR}
program=${2:?usage: make_signed_fixtures.sh OUTDIR PROGRAM CERTDIR}
certs=${3:?usage: make_signed_fixtures.sh OUTDIR PROGRAM CERTDIR}
sign=$here/../support/sign_test_program.sh
export QV_TEST_CERT_DIR=$certs

rm -rf "$out"
mkdir -p "$out/unsigned" "$out/tampered"
for signer in quorvel other case longer shorter; do
  "$sign" "$program" "$out/$signer/QuorvelAI.exe" "$signer"
done
cp "$program" "$out/unsigned/QuorvelAI.exe"
cp "$out/quorvel/QuorvelAI.exe" "$out/tampered/QuorvelAI.exe"
# Offset 0x400 is the start of the first section, inside what the
# signature's digest covers (the headers' checksum and the signature
# itself are left out of it).
byte=$(od -An -tu1 -j1024 -N1 "$out/tampered/QuorvelAI.exe" | tr -d ' ')
printf "$(printf '\\%03o' $(( (byte + 1) % 256 )))" |
  dd of="$out/tampered/QuorvelAI.exe" bs=1 seek=1024 conv=notrunc status=none
cp "$certs/ca.crt" "$out/ca.crt"
touch "$out/.stamp"
