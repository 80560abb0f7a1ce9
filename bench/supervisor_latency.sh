#!/bin/sh
# Runs supervisor_latency.exe under Wine and cross-checks its idle CPU with /proc of the Wine process.
# usage: bench/supervisor_latency.sh BUILD_DIR [IDLE_SECONDS]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
idle=${2:-60}
work=$(mktemp -d /tmp/mw-suplat.XXXXXX)
out="$work/out.txt"
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}" WINEDEBUG=-all
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

"$root/scripts/wine-run" "$build/bench/supervisor_latency.exe" "$(winpath "$work/run")" \
    "$(winpath "$build/tests/support/fakecfd.exe")" "$idle" >"$out" 2>&1 &
runner=$!

# The Wine process running supervisor_latency.exe: its argv[0] is its Windows path (start.exe's and wine's are not).
find_pid() {
    for d in /proc/[0-9]*; do
        if tr '\0' ' ' <"$d/cmdline" 2>/dev/null | grep -q '^[A-Za-z]:.*supervisor_latency\.exe'; then
            echo "${d#/proc/}"
            return
        fi
    done
}

# utime+stime of a process, in clock ticks.
cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{print $12 + $13}'; }

wait_line() {
    while ! grep -q "$1" "$out" 2>/dev/null; do
        kill -0 "$runner" 2>/dev/null || return 1
        sleep 0.1
    done
}

if [ "$idle" -gt 0 ] && wait_line 'idle: begin'; then
    pid=$(find_pid)
    t0=$(date +%s.%N); c0=$(cpu_ticks "$pid")
    wait_line 'idle: end' || true
    t1=$(date +%s.%N); c1=$(cpu_ticks "$pid")
    hz=$(getconf CLK_TCK)
    wait "$runner" || true
    cat "$out"
    awk -v c0="$c0" -v c1="$c1" -v t0="$t0" -v t1="$t1" -v hz="$hz" -v pid="$pid" 'BEGIN {
        ms = (c1 - c0) * 1000 / hz; wall = t1 - t0;
        printf "idle CPU (/proc/" pid "/stat of the Wine process): %.0f ms over %.1f s = %.3f %% of one core\n", ms, wall, ms / wall / 10 }'
else
    wait "$runner" || true
    cat "$out"
fi
rm -rf "$work"
