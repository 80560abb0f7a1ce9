#!/bin/sh
# usage: delaylib.sh <mingw-prefix> <dll> <out.a>: a delay-load import library with every function of
# the toolchain's import library for <dll> (winhttp -> winhttp.dll), so calls bind at their first use.
set -eu
prefix=$1; dll=$2; out=$3
sysroot=/usr/$prefix/lib
def=$out.def
{
  echo "LIBRARY $dll.dll"
  echo "EXPORTS"
  # x86 names carry a leading underscore and @<argument bytes>; dlltool -k imports them undecorated.
  "$prefix-nm" "$sysroot/lib$dll.a" | sed -n 's/^[0-9a-f]* T _\{0,1\}\([A-Za-z][A-Za-z0-9_@]*\)$/\1/p' | sort -u
} >"$def"
kill_at=""
case "$prefix" in i686-*) kill_at="-k" ;; esac
"$prefix-dlltool" $kill_at --input-def "$def" --dllname "$dll.dll" --output-delaylib "$out"
