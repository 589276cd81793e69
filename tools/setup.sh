#!/usr/bin/env bash
# Installs everything a fresh machine needs to build, test and demo the service.
# Idempotent: installs only what is missing and reuses an already built Breakpad.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$here/build}

packages=(
  build-essential cmake pkg-config git python3 openssl curl procps iproute2 util-linux
  libboost-program-options-dev libboost-dev libjsoncpp-dev libcurl4-openssl-dev
  libssl-dev liblog4cxx-dev libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-dev wrk hyperfine nginx-light gnuplot-nox valgrind
)
# npm comes with the machine's Node.js; Debian's npm package conflicts with it.
command -v npm >/dev/null || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  sudo_cmd=""; [ "$(id -u)" -ne 0 ] && sudo_cmd=sudo
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

"$here/tools/build-breakpad.sh" "$build_dir/third_party"
