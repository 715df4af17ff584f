#!/usr/bin/env bash
# with_nginx.sh ROOT -- COMMAND ARGS...
# Runs COMMAND while nginx serves ROOT over HTTPS on a free port of
# localhost, with the test server certificate (build/test-certs, made by
# with_server.sh), and exports:
#   QV_TEST_NGINX_URL         https://localhost:PORT
#   QV_TEST_NGINX_ACCESS_LOG  nginx's access log (status and bytes per request)
# Returns COMMAND's exit status and stops nginx, whatever happens.
set -uo pipefail
die() { echo "with_nginx.sh: $*" >&2; exit 1; }
[ $# -ge 3 ] && [ "$2" = "--" ] || die "usage: with_nginx.sh ROOT -- COMMAND ARGS..."
root=$(cd "$1" && pwd) || die "no folder $1"
shift 2
nginx=$(command -v nginx || echo /usr/sbin/nginx)
[ -x "$nginx" ] || die "nginx is not installed (scripts/setup-deps installs it)"
certs=${QV_TEST_CERT_DIR:-$(dirname "${QV_WINE_RUN:?set QV_WINE_RUN}")/test-certs}
[ -f "$certs/server.crt" ] || die "no test certificate in $certs"

work=$(mktemp -d "${TMPDIR:-/tmp}/qv-nginx.XXXXXX")
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 64; }
http {
  access_log $work/access.log;
  client_body_temp_path $work/body;
  proxy_temp_path $work/proxy;
  fastcgi_temp_path $work/fastcgi;
  uwsgi_temp_path $work/uwsgi;
  scgi_temp_path $work/scgi;
  types { application/json json; }
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$port ssl;
    server_name localhost;
    ssl_certificate $certs/server.crt;
    ssl_certificate_key $certs/server.key;
    root $root;
  }
}
CONF
# Workers of an nginx started as root run as nobody: they must be able to
# read the served files.
chmod -R a+rX "$root" 2>/dev/null
"$nginx" -p "$work" -c "$work/nginx.conf" </dev/null >"$work/nginx.out" 2>&1 &
pid=$!
stop() {
  kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  return 0
}
trap stop EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
for tries in $(seq 100); do
  python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null && break
  kill -0 "$pid" 2>/dev/null || die "nginx did not start: $(cat "$work/nginx.out" "$work/error.log" 2>/dev/null)"
  sleep 0.1
done
export QV_TEST_NGINX_URL="https://localhost:$port"
export QV_TEST_NGINX_ACCESS_LOG="$work/access.log"
"$@"
status=$?
stop
trap - EXIT
[ "$status" -eq 0 ] && rm -rf "$work" || echo "with_nginx.sh: command failed ($status); nginx files kept in $work" >&2
exit "$status"
