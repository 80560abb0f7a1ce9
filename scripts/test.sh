#!/bin/sh
# Builds every preset and runs the whole test suite: unit tests under Wine (x64 and x86) and on the
# host with sanitizers, the Windows 7 import check, and the end-to-end tests under Wine.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
"$here/scripts/bootstrap.sh"

jobs=$(nproc 2>/dev/null || echo 2)
for preset in win64 win32 host; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

export WINEPREFIX="$here/build/wineprefix"
. "$here/scripts/wineserver-lib.sh"
started_server=0
if ! server_running; then
  start_persistent_server
  started_server=1
fi
# The fault-injecting HTTP server the download tests talk to; its port reaches them through Wine.
port_file="$here/build/fault-http.port"
rm -f "$port_file"
python3 "$here/tests/support/http_fault_server.py" --port-file "$port_file" --max-seconds 5400 &
fault_pid=$!
# Only a server this run started is stopped: another run may share the prefix.
trap 'kill "$fault_pid" 2>/dev/null || true; [ "$started_server" -eq 0 ] || wineserver -k >/dev/null 2>&1 || true' EXIT INT TERM
for _ in $(seq 1 50); do [ -s "$port_file" ] && break; sleep 0.1; done
read -r MW_FAULT_HTTP_PORT MW_FAULT_PROXY_PORT <"$port_file" || echo "fault HTTP server did not start" >&2
export MW_FAULT_HTTP_PORT MW_FAULT_PROXY_PORT

status=0
for preset in win64 win32 host; do
  echo "== unit tests: $preset"
  ctest --preset "$preset" -j "$jobs" || status=1
done

echo "== fuzz targets"
"$here/scripts/fuzz.sh" "${MW_FUZZ_SECONDS:-30}" || status=1

for arch in x64 x86; do
  echo "== end-to-end tests: $arch"
  MW_ARCH="$arch" LC_ALL=zh_CN.UTF-8 /usr/bin/python3 -m pytest -q -p no:cacheprovider "$here/tests/e2e" || status=1
done

if [ "$status" -eq 0 ]; then echo "ALL TESTS PASSED"; else echo "SOME TESTS FAILED"; fi
exit "$status"
