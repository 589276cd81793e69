#!/usr/bin/env bash
# Makes a throwaway CA and a loopback server certificate in DIR (kept if already there),
# plus bundle.pem = the system CA bundle + the test CA, for a private mount namespace.
# Never installs anything into the system trust store.
set -euo pipefail
dir=${1:?usage: make-test-ca.sh DIR}
mkdir -p "$dir"
cd "$dir"
if [ ! -s server.pem ]; then
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
    -subj "/CN=vx dev vault test CA" -keyout ca.key -out ca.pem 2>/dev/null
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
    -subj "/CN=localhost" -keyout server.key -out server.csr 2>/dev/null
  printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\n' > server.ext
  openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile server.ext -out server.pem 2>/dev/null
fi
system_bundle=/etc/ssl/certs/ca-certificates.crt
{ [ -r "$system_bundle" ] && cat "$system_bundle"; cat ca.pem; } > bundle.pem
echo "$dir"
