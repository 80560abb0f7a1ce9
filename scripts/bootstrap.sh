#!/bin/sh
# Installs what building and testing need, with apt, when it is missing. Idempotent.
set -e
need=""
have() { command -v "$1" >/dev/null 2>&1; }
pkg_ok() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

for p in cmake ninja-build g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 \
         binutils-mingw-w64-i686 wine wine64 googletest python3 python3-pytest nginx-light aria2 curl \
         clang libclang-rt-14-dev xxd; do
  pkg_ok "$p" || need="$need $p"
done
pkg_ok wine32:i386 || need="$need wine32:i386"

if [ -n "$need" ]; then
  if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
  echo "bootstrap: installing$need"
  $sudo dpkg --add-architecture i386
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $need >/dev/null
fi
