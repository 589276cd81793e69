#!/usr/bin/env bash
# Builds the Debian package, installs it on this machine, checks what it installed and that
# the installed service answers, then removes it again. Needs root. Run it on its own (not
# beside the test suite: while installed, /usr/bin holds the real crash uploader).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
[ "$(id -u)" -eq 0 ] || { echo "package-test: needs root (dpkg)" >&2; exit 1; }

make --no-print-directory package
deb=$(ls -1 build-pkg/vx-vault-accessor_0.6.0~3_amd64.deb)
work=$(mktemp -d /tmp/vx-pkg.XXXXXX)
cfg_before=$(stat -c '%Y %s' /etc/vx-agent.cfg 2>/dev/null || echo absent)
cleanup() {
  dpkg --purge vx-vault-accessor >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "package-test: FAIL: $*" >&2; exit 1; }
pass() { echo "package-test: ok: $*"; }

echo "package-test: installing $deb"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb" >/dev/null
dpkg-deb -f "$deb" Version | grep -qx '0.6.0~3' && pass "version 0.6.0~3"
dpkg-deb -f "$deb" Depends | grep -q liblog4cxx15 && pass "runtime dependencies declared: $(dpkg-deb -f "$deb" Depends)"
for f in /usr/bin/vx-vault-accessor /usr/bin/vx-minidump-uploader \
         /usr/lib/systemd/system/vx-vault-accessor.service /usr/share/man/man8/vx-vault-accessor.8.gz; do
  dpkg -L vx-vault-accessor | grep -qx "$f" || fail "$f not in the package"
  [ -e "$f" ] || fail "$f not installed"
done
pass "binaries, unit and man page installed"
[ "$(stat -c '%Y %s' /etc/vx-agent.cfg 2>/dev/null || echo absent)" = "$cfg_before" ] \
  || fail "/etc/vx-agent.cfg was touched"
pass "/etc/vx-agent.cfg untouched"
man -w vx-vault-accessor >/dev/null && pass "man 8 vx-vault-accessor found"
systemd-analyze verify /usr/lib/systemd/system/vx-vault-accessor.service && pass "systemd-analyze verify"
[ "$(systemctl is-enabled vx-vault-accessor.service 2>/dev/null)" = enabled ] && pass "unit enabled" \
  || fail "unit not enabled"

# The installed service, started as the unit starts it, must answer. systemd is not PID 1
# here, so the ExecStart line runs by hand in a private network namespace.
exec_start=$(sed -n 's/^ExecStart=//p' /usr/lib/systemd/system/vx-vault-accessor.service)
cat > "$work/inside.sh" <<INSIDE
set -euo pipefail
ip link set lo up
cd "$work"
python3 "$here/tools/dev-vault/dev_vault.py" --http-port 0 --account pkg --host 'app=pkg-key' \
  --variable 'answer=42' > vault.json &
vault=\$!
for _ in \$(seq 100); do [ -s vault.json ] && break; sleep 0.1; done
port=\$(python3 -c 'import json; print(json.load(open("vault.json"))["http_port"])')
mkdir -p /var/log/vx-vault-accessor
${exec_start} -C "" &
service=\$!
trap 'kill \$vault \$service 2>/dev/null || true' EXIT
for _ in \$(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/730) 2>/dev/null && break; sleep 0.1; done
curl -sS -X POST --data "{\"vaultType\":\"conjur\",\"vaultUrl\":\"http://127.0.0.1:\$port\",\"vaultAuthentication\":{\"account\":\"pkg\",\"hostId\":\"app\",\"apiKey\":\"pkg-key\"},\"vaultCredentials\":[\"answer\"]}" \
  http://127.0.0.1:730/getCredentials
INSIDE
# /var/log is a tmpfs inside the namespace, so the run leaves no log behind.
answer=$(unshare -n -m sh -c "mount -t tmpfs tmpfs /var/log && bash '$work/inside.sh'")
[ "$answer" = '{"data":{"answer":"42"}}' ] || fail "installed service answered: $answer"
pass "installed service answers: $answer"

dpkg --purge vx-vault-accessor >/dev/null
[ ! -e /usr/bin/vx-vault-accessor ] && [ ! -e /usr/lib/systemd/system/vx-vault-accessor.service ] \
  || fail "files left after purge"
pass "purged cleanly"
