#!/usr/bin/env bash
# with_server.sh RELEASE_ROOT -- COMMAND ARGS...
# Runs COMMAND with a local release server for RELEASE_ROOT and returns
# COMMAND's exit status. The server listens on free ports of 127.0.0.1:
#   QV_TEST_HTTP_URL             http://127.0.0.1:P   (also the control API)
#   QV_TEST_HTTPS_URL            https://localhost:P2 (certificate of the
#                                trusted test CA)
#   QV_TEST_HTTPS_UNTRUSTED_URL  https://localhost:P3 (certificate of a CA
#                                nobody trusts)
#   QV_TEST_RELEASE_ROOT         RELEASE_ROOT
#   QV_TEST_SERVER_DIR           folder with the server's output and
#                                requests.log (kept when COMMAND fails)
# Wine hands these variables on to the Windows program it starts.
#
# Environment read: QV_WINE_RUN (build/wine-run.sh) and QV_BIN_DIR
# (build/bin) to trust the test CA in the Wine prefix once; without
# QV_WINE_RUN nothing is trusted (plain Linux clients) and QV_TEST_CERT_DIR
# must name the certificate folder. QV_TEST_CERT_DIR defaults to
# <folder of wine-run.sh>/test-certs.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tool=$here/../../tools/release_tool.py

die() { echo "with_server.sh: $*" >&2; exit 1; }

[ $# -ge 3 ] && [ "$2" = "--" ] || die "usage: with_server.sh RELEASE_ROOT -- COMMAND ARGS..."
root=$1
shift 2
[ -d "$root" ] || die "release root $root is not a folder"
root=$(cd "$root" && pwd)
python=/usr/bin/python3
[ -x "$python" ] || python=python3

run=${QV_WINE_RUN:-}
certs=${QV_TEST_CERT_DIR:-}
if [ -z "$certs" ]; then
  [ -n "$run" ] || die "set QV_WINE_RUN or QV_TEST_CERT_DIR"
  certs=$(dirname "$run")/test-certs
fi
"$here/make_test_certs.sh" "$certs" </dev/null >/dev/null || die "could not make the test certificates in $certs"
certs=$(cd "$certs" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/qv-release-server.XXXXXX") || die "no temporary folder"

# Trusting the CA once per prefix: the stamp lives inside the prefix, so a
# prefix made anew is trusted anew.
trust_test_ca() {
  local bin=${QV_BIN_DIR:-$(dirname "$run")/bin}
  local prefix=${QV_WINEPREFIX:-$(dirname "$run")/wine/prefix}
  [ -d "$prefix" ] || die "Wine prefix $prefix does not exist (is the wine fixture set up?)"
  local stamp
  stamp=$prefix/.qv-test-ca-$(sha256sum "$certs/ca.crt" | cut -c1-16)
  [ -f "$stamp" ] && return 0
  local windows_path="Z:${certs//\//\\}\\ca.crt"
  "$run" "$bin/qv-trust-cert.exe" add "$windows_path" </dev/null >"$work/trust.log" 2>&1 ||
    die "qv-trust-cert failed: $(cat "$work/trust.log")"
  touch "$stamp"
}
[ -n "$run" ] && trust_test_ca

# The server's streams go to files: a child holding the caller's pipes
# would keep ctest waiting after the test has ended.
"$python" -B "$tool" serve --root "$root" \
  --port 0 --port-file "$work/http.port" \
  --https-port 0 --https-port-file "$work/https.port" \
  --cert "$certs/server.crt" --key "$certs/server.key" \
  --untrusted-https-port 0 --untrusted-https-port-file "$work/untrusted.port" \
  --untrusted-cert "$certs/untrusted-server.crt" --untrusted-key "$certs/untrusted-server.key" \
  --request-log "$work/requests.log" --parent-pid $$ </dev/null >"$work/server.log" 2>&1 &
pid=$!

stop_server() {
  kill -TERM "$pid" 2>/dev/null || return 0
  local tries
  for tries in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}
trap stop_server EXIT
# A signal should stop the server too, not only a normal end.
trap 'exit 143' TERM
trap 'exit 130' INT

for tries in $(seq 100); do
  [ -s "$work/http.port" ] && [ -s "$work/https.port" ] && [ -s "$work/untrusted.port" ] && break
  kill -0 "$pid" 2>/dev/null || die "the release server did not start: $(cat "$work/server.log")"
  sleep 0.1
done
[ -s "$work/untrusted.port" ] || die "the release server did not report its ports within 10 s"

export QV_TEST_HTTP_URL="http://127.0.0.1:$(cat "$work/http.port")"
export QV_TEST_HTTPS_URL="https://localhost:$(cat "$work/https.port")"
export QV_TEST_HTTPS_UNTRUSTED_URL="https://localhost:$(cat "$work/untrusted.port")"
export QV_TEST_RELEASE_ROOT="$root"
export QV_TEST_SERVER_DIR="$work"

"$@"
status=$?
stop_server
trap - EXIT
if [ "$status" -eq 0 ]; then
  rm -rf "$work"
else
  echo "with_server.sh: command failed ($status); server output kept in $work" >&2
fi
exit "$status"
