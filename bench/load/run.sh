#!/usr/bin/env bash
# Load run: wrk (2 threads, 16 connections, 30 s) posting getCredentials to the real service on
# 127.0.0.1:730, backed by the dev vault over HTTP, all inside a private network namespace.
# Checks: no socket errors, only 200 answers, RSS growth between seconds 10 and 30 under 10 %,
# and afterwards no log file holding the API key, a token or a secret value. Needs root.
#   bench/load/run.sh [build-dir]        (LOAD_SECONDS, LOAD_THREADS, LOAD_CONNECTIONS override)
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${LOAD_SECONDS:-30}
threads=${LOAD_THREADS:-2}
connections=${LOAD_CONNECTIONS:-16}
api_key=load-k3y-2b9e71c4
secret_a='load-pw-Zq8#d41'
secret_b='load-token-77f0e9aa'

if [ "${1:-}" = "--inside" ]; then
  build=$2 work=$3
  ip link set lo up
  cd "$work"
  python3 "$here/tools/dev-vault/dev_vault.py" --http-port 0 --account load \
    --host "app/load=$api_key" --variable "db/password=$secret_a" --variable "api/token=$secret_b" \
    --record "$work/vault.jsonl" >vault.json 2>vault.err &
  vault=$!
  service=""
  trap 'kill $vault ${service:-} 2>/dev/null || true' EXIT
  for _ in $(seq 100); do [ -s vault.json ] && break; sleep 0.1; done
  port=$(python3 -c 'import json; print(json.load(open("vault.json"))["http_port"])')

  "$build/vx-vault-accessor" -C "" -L "$work/logs" --log-level DEBUG --crash-reports false >service.out 2>&1 &
  service=$!
  for _ in $(seq 100); do
    (exec 3<>/dev/tcp/127.0.0.1/730) 2>/dev/null && break
    sleep 0.1
  done

  export VX_LOAD_BODY="{\"vaultType\":\"conjur\",\"vaultUrl\":\"http://127.0.0.1:$port\",\"vaultAuthentication\":{\"account\":\"load\",\"hostId\":\"app/load\",\"apiKey\":\"$api_key\"},\"vaultCredentials\":[\"db/password\",\"api/token\"]}"
  rss() { awk '/^VmRSS/ {print $2}' "/proc/$service/status"; }
  ( sleep 10; rss >rss10; sleep $((seconds - 10 - 1)); rss >rss30 ) &
  sampler=$!
  wrk -t"$threads" -c"$connections" -d"${seconds}s" --timeout 30s --latency -s "$here/bench/load/post.lua" \
    http://127.0.0.1:730/getCredentials >wrk.out 2>&1
  wait $sampler
  kill $service; wait $service 2>/dev/null || true
  service=""

  # Every token the vault handed out went back to it in an Authorization header.
  python3 - "$work/vault.jsonl" >tokens <<'PY'
import json, sys
seen = set()
for line in open(sys.argv[1]):
    for name, value in json.loads(line).get("headers", []):
        if name.lower() == "authorization" and 'token="' in value:
            seen.add(value.split('token="', 1)[1].rstrip('"'))
print("\n".join(sorted(seen)))
PY
  printf '%s\n%s\n%s\n' "$api_key" "$secret_a" "$secret_b" >>tokens
  sed -i "/^$/d" tokens  # an empty pattern would match every line
  leaks=$(grep -rlF -f tokens logs || true)

  requests=$(awk '/requests in/ {print $1}' wrk.out)
  rate=$(awk '/^Requests\/sec/ {print $2}' wrk.out)
  p50=$(awk '$1 == "50%" {print $2}' wrk.out)
  p99=$(awk '$1 == "99%" {print $2}' wrk.out)
  socket_errors=$(awk -F'[ ,]+' '/Socket errors/ {print $4 + $6 + $8 + $10}' wrk.out)
  not200=$(awk '/^not200/ {print $2}' wrk.out)
  rss10=$(cat rss10) rss30=$(cat rss30)
  growth=$(awk -v a="$rss10" -v b="$rss30" 'BEGIN {printf "%.1f", (b - a) * 100 / a}')
  log_bytes=$(cat logs/* | wc -c)
  token_count=$(($(wc -l <tokens) - 3))

  verdict() { if [ "$1" = 1 ]; then echo ok; else echo FAIL; fi; }
  ok_socket=$([ "${socket_errors:-0}" -eq 0 ] && echo 1 || echo 0)
  ok_status=$([ -n "$not200" ] && [ "$not200" -eq 0 ] && [ "${requests:-0}" -gt 0 ] && echo 1 || echo 0)
  ok_rss=$(awk -v g="$growth" 'BEGIN {print (g < 10) ? 1 : 0}')
  ok_logs=$([ -z "$leaks" ] && [ "$log_bytes" -gt 0 ] && [ "$token_count" -gt 0 ] && echo 1 || echo 0)

  printf '%-34s %-28s %s\n' "check" "figure" "result"
  printf '%-34s %-28s %s\n' "requests (${seconds} s, -t$threads -c$connections)" "$requests ($rate/s)" "-"
  printf '%-34s %-28s %s\n' "latency p50 / p99" "$p50 / $p99" "-"
  printf '%-34s %-28s %s\n' "socket errors" "${socket_errors:-0}" "$(verdict "$ok_socket")"
  printf '%-34s %-28s %s\n' "answers other than 200" "${not200:-?}" "$(verdict "$ok_status")"
  printf '%-34s %-28s %s\n' "RSS at 10 s / 30 s (kB)" "$rss10 / $rss30 (${growth} %)" "$(verdict "$ok_rss")"
  printf '%-34s %-28s %s\n' "logs: key, $token_count tokens, 2 secrets" "$log_bytes bytes scanned" \
    "$(verdict "$ok_logs")${leaks:+ (found in: $leaks)}"
  [ "$ok_socket$ok_status$ok_rss$ok_logs" = 1111 ]
  exit
fi

build=${1:-build}
[[ "$build" = /* ]] || build="$here/$build"
if [ "$(id -u)" -ne 0 ]; then
  echo "the load run needs root: it binds port 730 inside a private network namespace" >&2
  exit 1
fi
command -v wrk >/dev/null || { echo "wrk is not installed (tools/setup.sh)" >&2; exit 1; }
work=$(mktemp -d /tmp/vx-load.XXXXXX)
echo "== load run in $work"
unshare -n "$0" --inside "$build" "$work"
