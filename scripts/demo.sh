#!/bin/sh
# Builds both executables into dist/ and shows, under Wine, mosswarden fetching and supervising a connector.
#
# After the build it serves the connector stand-in from a release mirror on 127.0.0.1 and runs
# "mosswarden.exe run" in build/demo/app: segmented download, checksum, start, registration, a crash
# and restart, and a reload when this script edits the INI. Ctrl+C ends it on a terminal; with
# DEMO_SECONDS=N (40 when standard input is not a terminal) the script stops it after N seconds.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
"$here/scripts/bootstrap.sh"
jobs=$(nproc 2>/dev/null || echo 2)
mkdir -p dist/x64 dist/x86
for preset in win64 win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" --target mosswarden fakecfd
done
cp build/win64/src/app/mosswarden.exe dist/x64/mosswarden.exe
cp build/win32/src/app/mosswarden.exe dist/x86/mosswarden.exe
(cd dist && sha256sum x64/mosswarden.exe x86/mosswarden.exe > SHA256SUMS)
cat dist/SHA256SUMS

export WINEPREFIX="$here/build/wineprefix"
# Wine draws Chinese console text through the terminal's locale; C.UTF-8 is always there.
export LC_ALL=C.UTF-8
demo="$here/build/demo"
demo_win="Z:$(printf '%s' "$demo" | tr / '\\')"
mirror_pid=""
helper_pids=""
run_pid=""
started_server=0
tty_state=""
if [ -t 0 ]; then
  tty_state=$(stty -g 2>/dev/null || true)
  : "${DEMO_SECONDS:=}"
else
  : "${DEMO_SECONDS:=40}"
fi

say() { printf '\n== demo.sh: %s\n' "$*" >&2; }

. "$here/scripts/wineserver-lib.sh"

# Live processes whose command line names the demo folder (mosswarden, the connector, the mirror).
demo_processes() {
  for d in /proc/[0-9]*; do
    pid=${d#/proc/}
    [ "$pid" = "$$" ] && continue
    state=$(sed 's/.*) //' "$d/stat" 2>/dev/null | cut -c1) || continue
    [ "$state" = Z ] && continue
    cmd=$( { tr '\0' ' ' <"$d/cmdline"; } 2>/dev/null) || continue
    case $cmd in *"$demo"/*|*"$demo_win"\\*) echo "$pid" ;; esac
  done
}

stop_demo_processes() {
  pids=$(demo_processes)
  [ -n "$pids" ] && kill $pids 2>/dev/null || true
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    [ -z "$(demo_processes)" ] && return 0
    sleep 0.5
  done
  pids=$(demo_processes)
  [ -n "$pids" ] && kill -9 $pids 2>/dev/null || true
}

# A process and everything it started, children first.
kill_tree() {
  for d in /proc/[0-9]*; do
    ppid=$(sed 's/.*) //' "$d/stat" 2>/dev/null | cut -d' ' -f2) || continue
    [ "$ppid" = "$1" ] && kill_tree "${d#/proc/}"
  done
  kill "$1" 2>/dev/null || true
}

cleanup() {
  trap - EXIT INT TERM
  for p in $helper_pids $run_pid $mirror_pid; do kill_tree "$p"; done
  stop_demo_processes
  [ -n "$tty_state" ] && stty "$tty_state" 2>/dev/null || true
  if [ "$started_server" -eq 1 ]; then wineserver -k >/dev/null 2>&1 || true; fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if ! server_running; then
  start_persistent_server
  started_server=1
fi

for arch in x64 x86; do
  echo "== dist/$arch/mosswarden.exe version"
  "$here/scripts/wine-run" "dist/$arch/mosswarden.exe" version
  echo "== dist/$arch/mosswarden.exe help"
  "$here/scripts/wine-run" "dist/$arch/mosswarden.exe" help
done

# The release mirror: the connector stand-in padded past 4 MiB, the least size that is fetched in segments.
stop_demo_processes
rm -rf "$demo"
mkdir -p "$demo/mirror" "$demo/app"
cp build/win64/tests/support/fakecfd.exe "$demo/mirror/cloudflared.exe"
[ "$(stat -c %s "$demo/mirror/cloudflared.exe")" -ge 6291456 ] || truncate -s 6291456 "$demo/mirror/cloudflared.exe"
sha=$(sha256sum "$demo/mirror/cloudflared.exe" | cut -d' ' -f1)
python3 "$here/tests/support/http_fault_server.py" --port-file "$demo/mirror.port" --root "$demo/mirror" \
  --max-seconds "$((${DEMO_SECONDS:-3540} + 60))" &
mirror_pid=$!
for _ in $(seq 1 50); do [ -s "$demo/mirror.port" ] && break; sleep 0.1; done
read -r port _ <"$demo/mirror.port"

cp dist/x64/mosswarden.exe "$demo/app/mosswarden.exe"
# What the stand-in does once downloaded: registers after a moment, reports four ready connections
# on its metrics address, runs a few seconds, crashes.
printf '%s\n' \
  'print=INF Starting tunnel tunnelID=6f1c0de0-0000-4000-8000-00000000demo' \
  'sleep=1500' \
  'print=INF Registered tunnel connection connIndex=0 connection=demo location=127.0.0.1 protocol=quic' \
  'ready=4' \
  'sleep=6000' \
  'print=ERR connection lost, the demo connector gives up' \
  'exit=3' >"$demo/app/fakecfd.txt"
# Throttled per connection, so the four segments and the progress lines can be watched.
write_ini() {
  printf '%s\r\n' \
    '[cloudflared]' \
    "url=http://127.0.0.1:$port/static/cloudflared.exe?throttle=400000" \
    "sha256=$sha" \
    'arch=amd64' \
    'chunks=4' \
    'progress_interval=1' \
    '[tunnel]' \
    'token=eyJhIjoiZGVtby1hY2NvdW50IiwidCI6ImRlbW8tdHVubmVsIiwicyI6ImRlbW8tc2VjcmV0In0=' \
    "extra_args=$1" \
    '[supervisor]' \
    "restart_delay=$2" \
    'max_restart_delay=30' >"$demo/app/mosswarden.ini"
}
write_ini "" 2
# Waits until the log holds a text (at least $2 times).
wait_log() {
  for _ in $(seq 1 240); do
    [ "$(cat "$demo"/app/logs/*.log 2>/dev/null | grep -cF "$1")" -ge "${2:-1}" ] && return 0
    sleep 0.5
  done
  return 1
}

say "mirror on http://127.0.0.1:$port/, demo folder $demo/app, mosswarden.ini:"
# The token is a demo value, but it is shown masked all the same, as mosswarden itself does.
sed 's/^token=\(......\).*/token=\1... (masked)/' "$demo/app/mosswarden.ini" >&2
(
  wait_log "SHA256 " || exit 0
  say "the mirror served these requests (Range header, path):"
  python3 -c 'import sys, urllib.request; sys.stderr.write(urllib.request.urlopen(sys.argv[1]).read().decode())' \
    "http://127.0.0.1:$port/_log?tag=" || true
  # After the first crash and the restart, once the new connector has registered again.
  wait_log "退出码 3" && wait_log "隧道已注册" 2 || exit 0
  sleep 1
  write_ini "--loglevel info" 3
  say "edited mosswarden.ini: extra_args=--loglevel info, restart_delay=3"
) &
helper_pids="$!"

cd "$demo/app"
if [ -n "$DEMO_SECONDS" ]; then
  say "running \"mosswarden.exe run\" for $DEMO_SECONDS seconds"
  "$here/scripts/wine-run" "$demo/app/mosswarden.exe" run </dev/null &
  run_pid=$!
  waited=0
  while [ "$waited" -lt "$DEMO_SECONDS" ] && kill -0 "$run_pid" 2>/dev/null; do
    sleep 1
    waited=$((waited + 1))
  done
  # Without a terminal Ctrl+C cannot reach a Wine console program; killing mosswarden's Wine
  # process closes its job, which takes the connector along.
  say "stopping mosswarden after $DEMO_SECONDS seconds"
  kill_tree "$run_pid"
  wait "$run_pid" 2>/dev/null || true
  run_pid=""
else
  say "running \"mosswarden.exe run\": press Ctrl+C to stop, then any key to close"
  # The terminal's Ctrl+C also reaches this shell: let it wait for mosswarden's own orderly end.
  trap : INT
  "$here/scripts/wine-run" "$demo/app/mosswarden.exe" run || true
  trap 'exit 130' INT
fi
cd "$here"
cleanup
left=$(demo_processes)
if [ -n "$left" ]; then
  say "processes still running: $left"
  exit 1
fi
say "done; the log is in $demo/app/logs"
