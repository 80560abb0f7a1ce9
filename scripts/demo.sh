#!/bin/sh
# Builds both executables into dist/ with their checksums and takes a first look at them under Wine.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
"$here/scripts/bootstrap.sh"
jobs=$(nproc 2>/dev/null || echo 2)
mkdir -p dist/x64 dist/x86
for preset in win64 win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" --target mosswarden
done
cp build/win64/src/app/mosswarden.exe dist/x64/mosswarden.exe
cp build/win32/src/app/mosswarden.exe dist/x86/mosswarden.exe
(cd dist && sha256sum x64/mosswarden.exe x86/mosswarden.exe > SHA256SUMS)
cat dist/SHA256SUMS
export WINEPREFIX="$here/build/wineprefix"
for arch in x64 x86; do
  echo "== dist/$arch/mosswarden.exe version"
  "$here/scripts/wine-run" "dist/$arch/mosswarden.exe" version
  echo "== dist/$arch/mosswarden.exe help"
  "$here/scripts/wine-run" "dist/$arch/mosswarden.exe" help
done
wineserver -k >/dev/null 2>&1 || true
