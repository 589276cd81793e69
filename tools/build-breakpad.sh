#!/usr/bin/env bash
# Fetches Breakpad from the npm package minidump@0.26.0 (it ships the full source and the
# prebuilt minidump_dump/minidump_stackwalk tools), checks its pinned sha512 and builds the
# Linux client library once into the given directory.
set -euo pipefail

dest=${1:?usage: build-breakpad.sh DEST_DIR}
pkg=minidump@0.26.0
integrity='sha512-1CJ6kQDd1UawXgmht3pHKzLPuZPb8xrZlgrN+H6/3zKWsUKapTSF2FE7g2Nji/NnVi+GOsVwM8sm2md6BjJUgg=='

lib="$dest/breakpad/lib/libbreakpad_client.a"
# The stamp holds this script's hash, so a changed recipe rebuilds an existing tree.
recipe=$(sha256sum "$0" | cut -d' ' -f1)
[ -f "$lib" ] && [ "$(cat "$dest/breakpad/.stamp" 2>/dev/null)" = "$recipe" ] && exit 0

mkdir -p "$dest" && cd "$dest"
tarball=minidump-0.26.0.tgz
if [ ! -f "$tarball" ]; then
  # Never `npm install`: the package's install script needs git submodules and fails.
  npm pack "$pkg" --silent >/dev/null
fi
actual="sha512-$(openssl dgst -sha512 -binary "$tarball" | base64 -w0)"
if [ "$actual" != "$integrity" ]; then
  echo "build-breakpad: integrity mismatch for $tarball: $actual" >&2
  rm -f "$tarball"
  exit 1
fi

rm -rf package breakpad
tar xzf "$tarball"
src=package/deps/breakpad
mkdir -p "$src/src/third_party/lss"
cp package/deps/third_party/lss/linux_syscall_support.h "$src/src/third_party/lss/"

mkdir -p breakpad/obj breakpad/lib breakpad/bin
sources=$(sed -n '/^src_client_linux_libbreakpad_client_a_SOURCES = /,/^if /p' "$src/Makefile.am" \
  | grep -oE 'src/[^ ]+\.cc')
# Built without configure, so HAVE_GETCONTEXT is unset and the handler calls Breakpad's own
# getcontext: the library needs its assembly source as well (--noexecstack: the source
# lacks the GNU-stack note, which would otherwise make every linked program's stack executable).
sources="$sources src/common/linux/breakpad_getcontext.S"
jobs=$(nproc)
echo "build-breakpad: compiling the Linux client library"
printf '%s\n' $sources | xargs -P "$jobs" -I{} sh -c \
  'o="breakpad/obj/$(echo {} | tr / _).o"; g++ -std=c++17 -O2 -g -fPIC -w -Wno-error -Wa,--noexecstack -I'"$src"'/src -c '"$src"'/{} -o "$o"'
ar rcs "$lib" breakpad/obj/*.o

# Headers keep Breakpad's own layout (client/linux/handler/exception_handler.h, ...).
mkdir -p breakpad/include
(cd "$src/src" && find client common google_breakpad third_party/lss -name '*.h' -print0 \
  | xargs -0 -I{} cp --parents {} "$dest/breakpad/include/")
cp package/bin/linux-x64/minidump_dump package/bin/linux-x64/minidump_stackwalk breakpad/bin/
chmod +x breakpad/bin/*
rm -rf breakpad/obj
echo "$recipe" > breakpad/.stamp
echo "build-breakpad: $lib"
