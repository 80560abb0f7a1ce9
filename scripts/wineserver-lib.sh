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
