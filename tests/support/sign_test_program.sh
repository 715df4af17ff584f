#!/usr/bin/env bash
# sign_test_program.sh IN OUT [quorvel|other|case|longer|shorter]
# Writes OUT, a copy of the Windows program IN with an Authenticode
# signature (SHA-256) made by a test code-signing certificate:
#   quorvel (the default)  CN and O "Quorvel, LLC", the publisher the setup
#                          accepts
#   other                  "Other Publisher, Inc.", a valid signature by
#                          someone else
#   case, longer, shorter  "quorvel, llc", "Quorvel, LLC Imposter" and
#                          "Quorvel": valid signatures by names close to
#                          the publisher's
# All certificates are issued by the test CA that the test Wine prefix
# trusts (tests/server/make_test_certs.sh makes them when missing), so the
# signature verifies under Wine once that CA is in the prefix's Root store
# (qv-trust-cert.exe add ca.crt; with_server.sh and the install tests do it).
# The certificate folder is $QV_TEST_CERT_DIR, else the folder test-certs
# beside $QV_WINE_RUN (build/test-certs). OUT is replaced only when signing
# worked. Exit code 0 on success, 1 on failure, 2 for a wrong command line.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

usage() { echo "usage: sign_test_program.sh IN OUT [quorvel|other|case|longer|shorter]" >&2; exit 2; }
die() { echo "sign_test_program.sh: $*" >&2; exit 1; }

[ $# -eq 2 ] || [ $# -eq 3 ] || usage
in=$1 out=$2 signer=${3:-quorvel}
case $signer in quorvel|other|case|longer|shorter) ;; *) usage ;; esac
[ -f "$in" ] || die "$in is not a file"

certs=${QV_TEST_CERT_DIR:-}
if [ -z "$certs" ]; then
  [ -n "${QV_WINE_RUN:-}" ] || die "set QV_TEST_CERT_DIR or QV_WINE_RUN"
  certs=$(dirname "$QV_WINE_RUN")/test-certs
fi
"$here/../server/make_test_certs.sh" "$certs" </dev/null >/dev/null ||
  die "could not make the test certificates in $certs"

# The CA goes into the signature after the signer's certificate, so the
# chain is complete without looking anything up.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat "$certs/$signer-sign.crt" "$certs/ca.crt" >"$work/chain.pem"
osslsigncode sign -certs "$work/chain.pem" -key "$certs/$signer-sign.key" -h sha256 \
  -in "$in" -out "$work/signed" >"$work/log" 2>&1 || die "osslsigncode failed: $(cat "$work/log")"
mkdir -p "$(dirname "$out")"
cp "$work/signed" "$out.tmp.$$"
mv -f "$out.tmp.$$" "$out"
