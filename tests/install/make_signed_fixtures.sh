#!/usr/bin/env bash
# make_signed_fixtures.sh OUTDIR PROGRAM CERTDIR
# The programs of the signature tests, each as OUTDIR/<case>/QuorvelAI.exe:
#   quorvel   PROGRAM signed as "Quorvel, LLC"
#   other     PROGRAM signed as "Other Publisher, Inc."
#   case, longer, shorter  PROGRAM signed as "quorvel, llc", "Quorvel, LLC
#             Imposter" and "Quorvel"
#   unsigned  PROGRAM as it is
#   tampered  the quorvel copy with one byte of its code changed afterwards
# the release documents of the document signature tests in OUTDIR/documents:
#   index.json, manifest.json  a version index naming 1.0.0 and its manifest
#   <document>.sig             signed by "Quorvel, LLC" (signed attributes)
#   index.json.<case>.sig      index.json signed otherwise:
#     noattr     by "Quorvel, LLC" without signed attributes
#     sha1       by "Quorvel, LLC" with a SHA-1 digest
#     other, case  by "Other Publisher, Inc." and "quorvel, llc"
#     stranger   by a "Quorvel, LLC" of a CA nobody trusts
#     noeku      by a "Quorvel, LLC" certificate without code signing
#     expired    by an expired "Quorvel, LLC" certificate
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

documents=$out/documents
mkdir -p "$documents"
printf '{"platforms":{"windows":{"version":"1.0.0"}}}' >"$documents/index.json"
printf '{"schema":1,"version":"1.0.0","payload":"QuorvelAI-1.0.0-win-x64.tar.xz","payloadSha256":"%s","payloadSize":1234,"unpackedSize":5678,"longestPath":90}' \
  "$(printf 'a%.0s' $(seq 64))" >"$documents/manifest.json"
sign_document() {  # sign_document DOCUMENT SIGNATURE SIGNER [OPENSSL OPTIONS...]
  openssl cms -sign -binary -md sha256 -in "$1" -signer "$certs/$3-sign.crt" -inkey "$certs/$3-sign.key" \
    -outform DER -out "$2" "${@:4}"
}
sign_document "$documents/index.json" "$documents/index.json.sig" quorvel
sign_document "$documents/manifest.json" "$documents/manifest.json.sig" quorvel
sign_document "$documents/index.json" "$documents/index.json.noattr.sig" quorvel -noattr
sign_document "$documents/index.json" "$documents/index.json.sha1.sig" quorvel -md sha1
for signer in other case stranger noeku expired; do
  sign_document "$documents/index.json" "$documents/index.json.$signer.sig" "$signer"
done
touch "$out/.stamp"
