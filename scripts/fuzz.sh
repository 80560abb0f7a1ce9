#!/bin/sh
# Builds the fuzz targets and runs each for a fixed time over its seed corpus; fails on any finding.
# Usage: scripts/fuzz.sh [seconds per target]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
seconds=${1:-30}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc 2>/dev/null || echo 2)"
status=0
found=0
for exe in build/fuzz/tests/fuzz/fuzz_*; do
  [ -x "$exe" ] || continue
  found=1
  name=$(basename "$exe")
  seeds="tests/fuzz/corpus/${name#fuzz_}"
  work="build/fuzz/work/${name#fuzz_}"
  mkdir -p "$work" "$seeds"
  # New inputs go to the work folder; the seed folder in the repo is only read.
  if "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 \
       -artifact_prefix="build/fuzz/$name-" "$work" "$seeds" >"build/fuzz/$name.log" 2>&1; then
    echo "fuzz $name: ok ($(grep -c . "build/fuzz/$name.log" || true) log lines, ${seconds}s)"
  else
    echo "fuzz $name: FINDING, see build/fuzz/$name.log"
    tail -40 "build/fuzz/$name.log"
    status=1
  fi
done
if [ "$found" -eq 0 ]; then
  echo "fuzz: no targets were built"
  status=1
fi
exit "$status"
