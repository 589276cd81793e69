#!/bin/sh
# Executor versus blocking transfers: 1,000 small GETs against a throwaway nginx on loopback.
#   bench/multi.sh [build-dir] [transfers] [in-flight]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
transfers=${2:-1000}
inflight=${3:-64}

cmake --build "$build" --target bench_multi >/dev/null
dir=$(mktemp -d /tmp/vx-bench-multi.XXXXXX)
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$dir"
}
trap cleanup EXIT INT TERM

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$dir/html" "$dir/logs" "$dir/tmp"
# Workers of an nginx started by root read as an unprivileged user.
chmod 755 "$dir" "$dir/html"
printf '{"status":"ok"}\n' >"$dir/html/small.json"
cat >"$dir/nginx.conf" <<CONF
worker_processes 1;
error_log $dir/logs/error.log warn;
pid $dir/nginx.pid;
events { worker_connections 4096; }
http {
  access_log off;
  client_body_temp_path $dir/tmp;
  proxy_temp_path $dir/tmp;
  fastcgi_temp_path $dir/tmp;
  uwsgi_temp_path $dir/tmp;
  scgi_temp_path $dir/tmp;
  keepalive_requests 100000;
  server {
    listen 127.0.0.1:$port;
    root $dir/html;
  }
}
CONF
/usr/sbin/nginx -p "$dir" -c "$dir/nginx.conf" -g 'daemon off;' &
pid=$!
# Wait until it answers (bounded).
i=0
until curl -fs "http://127.0.0.1:$port/small.json" >/dev/null 2>&1; do
  i=$((i + 1)); [ "$i" -le 50 ] || { echo "nginx did not start" >&2; tail -n 5 "$dir/logs/error.log" >&2; exit 1; }
  sleep 0.1
done
"$build/bench/bench_multi" "http://127.0.0.1:$port/small.json" "$transfers" "$inflight"
