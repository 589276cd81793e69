#!/usr/bin/env bash
# Runs a command in a private mount namespace where the system CA bundle path shows the
# system bundle plus a throwaway test CA, so production code that sets no TLS option of
# its own trusts the dev vault. The real trust store is never changed.
#   run-with-test-ca.sh DIR command [args...]   (exit 77 = cannot do it here: skip)
set -euo pipefail
dir=${1:?usage: run-with-test-ca.sh DIR command...}
shift
here=$(cd "$(dirname "$0")" && pwd)
"$here/make-test-ca.sh" "$dir" >/dev/null
target=/etc/ssl/certs/ca-certificates.crt
if ! unshare -m --propagation private true 2>/dev/null; then
  echo "run-with-test-ca: no private mount namespace here (needs root or user namespaces)" >&2
  exit 77
fi
export VX_TEST_CA_DIR="$dir"
exec unshare -m --propagation private sh -c 'mount --bind "$0" "$1" && shift && exec "$@"' \
  "$dir/bundle.pem" "$target" "$@"
