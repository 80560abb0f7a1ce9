# Shell helper shared by the scripts: is a wineserver already serving $WINEPREFIX?
# A wineserver of a prefix works in /tmp/.../server-<dev>-<inode> of the prefix, both in hex.
server_running() {
  [ -d "$WINEPREFIX" ] || return 1
  id=$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))
  for d in /proc/[0-9]*; do
    case $(cat "$d/comm" 2>/dev/null) in wineserver*) ;; *) continue ;; esac
    case $(readlink "$d/cwd" 2>/dev/null) in */"$id") return 0 ;; esac
  done
  return 1
}

# Starts one persistent wineserver for $WINEPREFIX (creating the prefix on first use), so that each
# Wine process is spared a server start. The first program of a fresh server launches Wine's system
# processes (services.exe, rpcss.exe, winedevice.exe, and any auto-start service left registered),
# and they keep that program's stdio for as long as the server lives. They are brought up here on
# /dev/null; otherwise a harness that reads a test's output to its end (ctest, pytest) waits for them
# for ever. Only a fresh prefix is waited for: in an old one an auto-start service may never end.
start_persistent_server() {
  if [ ! -f "$WINEPREFIX/.mw-ready" ]; then
    "$here/scripts/wine-run" cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
  fi
  wineserver -p >/dev/null 2>&1 || true
  "$here/scripts/wine-run" cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
}
