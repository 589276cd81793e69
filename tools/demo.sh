#!/usr/bin/env bash
# Shows the main job end to end: the dev vault over HTTPS (throwaway CA), the service on
# 127.0.0.1:730 and one real getCredentials request made with curl.
# Runs in a private network and mount namespace, so nothing on this machine is disturbed:
# port 730 outside stays free and the system CA bundle is never changed. Needs root.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
[[ "$build" = /* ]] || build="$here/$build"

if [ "${1:-}" = "--inside" ]; then
  build=$2 work=$3
  ip link set lo up
  cd "$work"
  python3 "$here/tools/dev-vault/dev_vault.py" --https-port 0 --tls-dir "$work/tls" --account demo \
    --host 'app/web=demo-api-key-1234' --variable 'db/password=Tr0ub4dor&3' \
    --variable 'prod/api token=sk_live_demo' > vault.json 2>vault.err &
  vault=$!
  service=""
  trap 'kill $vault ${service:-} 2>/dev/null || true' EXIT
  for _ in $(seq 100); do [ -s vault.json ] && break; sleep 0.1; done
  port=$(python3 -c 'import json,sys; print(json.load(open("vault.json"))["https_port"])')

  "$build/vx-vault-accessor" -C "" -L "$work/logs" --log-level DEBUG --crash-reports false &
  service=$!
  for _ in $(seq 100); do
    (exec 3<>/dev/tcp/127.0.0.1/730) 2>/dev/null && break
    sleep 0.1
  done

  request=$(cat <<JSON
{"vaultType":"conjur","vaultUrl":"https://localhost:$port","vaultAuthentication":{"account":"demo","hostId":"app/web","apiKey":"demo-api-key-1234"},"vaultCredentials":["db/password","prod/api token"]}
JSON
)
  echo "== dev vault: https://localhost:$port (account demo, host app/web)"
  echo "== request: POST http://127.0.0.1:730/getCredentials"
  echo "$request" | python3 -m json.tool
  echo "== answer"
  curl -sS -i -X POST -H 'Content-Type: application/json' --data "$request" http://127.0.0.1:730/getCredentials
  echo
  echo "== a secret the vault does not have"
  curl -sS -i -X POST --data "${request/prod\/api token/no\/such\/secret}" http://127.0.0.1:730/getCredentials
  echo
  echo "== service log ($work/logs/vx-vault-accessor.log; secrets never appear in it)"
  cat "$work/logs/vx-vault-accessor.log"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "make demo needs root: it binds port 730 and uses private namespaces (sudo make demo)" >&2
  exit 1
fi
work=$(mktemp -d /tmp/vx-demo.XXXXXX)
"$here/tools/dev-vault/make-test-ca.sh" "$work/tls" >/dev/null
unshare -n "$here/tools/dev-vault/run-with-test-ca.sh" "$work/tls" "$0" --inside "$build" "$work"
