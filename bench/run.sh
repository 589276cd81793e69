#!/usr/bin/env bash
# `make bench`: the service against its floor, the curl command line and itself, in one run.
# Everything runs in a private network namespace (port 730 and the vault ports are private)
# and a private mount namespace whose CA bundle also trusts a throwaway test CA; nothing on
# the machine is changed. Needs root.
#   bench/run.sh [build-dir]
# Environment: IDLE_SECONDS (idle CPU window, default 10; the report's figure used 60),
#              QUICK=1 (fewer samples, for trying the script out).
# Results: a table on standard output, bench/results/latest.md and bench/results/latency.png.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

if [ "${1:-}" = "--inside" ]; then
  build=$2 work=$3
  ip link set lo up
  http_port=8080 https_port=8443
  mkdir -p "$work/nginx/logs" "$work/nginx/tmp"
  chmod 755 "$work" "$work/nginx"
  # A token of the size Conjur hands out, and short secret values.
  token=$(head -c 600 /dev/zero | tr '\0' 'x' | base64 -w0 | head -c 800)
  cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 1;
error_log $work/nginx/logs/error.log warn;
pid $work/nginx/nginx.pid;
events { worker_connections 4096; }
http {
  access_log off;
  client_body_temp_path $work/nginx/tmp;
  proxy_temp_path $work/nginx/tmp;
  fastcgi_temp_path $work/nginx/tmp;
  uwsgi_temp_path $work/nginx/tmp;
  scgi_temp_path $work/nginx/tmp;
  default_type text/plain;
  server {
    listen 127.0.0.1:$http_port;
    listen 127.0.0.1:$https_port ssl;
    ssl_certificate $work/tls/server.pem;
    ssl_certificate_key $work/tls/server.key;
    location /authn/ { return 200 "$token"; }
    location /secrets/ { return 200 "bench-secret-value"; }
  }
}
CONF
  /usr/sbin/nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' &
  nginx=$!
  trap 'kill $nginx 2>/dev/null || true; wait $nginx 2>/dev/null || true' EXIT
  for i in $(seq 50); do
    curl -fs "http://127.0.0.1:$http_port/secrets/x" >/dev/null 2>&1 && break
    [ "$i" -lt 50 ] || { echo "nginx did not start" >&2; cat "$work/nginx/logs/error.log" >&2; exit 1; }
    sleep 0.1
  done
  curl -fs "https://127.0.0.1:$https_port/secrets/x" >/dev/null || { echo "test CA not trusted" >&2; exit 1; }
  python3 "$here/bench/driver.py" --build "$build" --work "$work" --http-port "$http_port" \
    --https-port "$https_port" --results "$here/bench/results"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "make bench needs root: the service binds port 730 in a private network namespace" >&2
  exit 1
fi
build=${1:-build}
[[ "$build" = /* ]] || build="$here/$build"
cmake --build "$build" --target vx-vault-accessor bench_floor bench_client bench_request_path >/dev/null
mkdir -p "$here/bench/results"
work=$(mktemp -d /tmp/vx-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
"$here/tools/dev-vault/make-test-ca.sh" "$work/tls" >/dev/null
unshare -n "$here/tools/dev-vault/run-with-test-ca.sh" "$work/tls" "$0" --inside "$build" "$work"
echo "written: bench/results/latest.md, bench/results/latency.png"
