#!/bin/sh
# What a user would do without the service: one getCredentials by hand with the curl
# command line, one process per exchange (a login, then one read per secret).
#   bench/curl-baseline.sh <base-url> <account> <host-id> <api-key> <secrets>
# Ids must be URL-safe; secret i is named s<i>. Exits non-zero on any failure.
set -eu
base=$1 account=$2 host=$3 key=$4 secrets=$5
token=$(curl -sSf -X POST --data-binary "$key" -H 'Accept-Encoding: base64' \
  -H 'Content-Type: application/x-www-form-urlencoded' "$base/authn/$account/host%2F$host/authenticate")
i=0
while [ "$i" -lt "$secrets" ]; do
  curl -sSf -H "Authorization: Token token=\"$token\"" "$base/secrets/$account/variable/s$i" >/dev/null
  i=$((i + 1))
done
