# Sourced: a virtual screen for Wine when there is no display.
# start_xvfb [WIDTHxHEIGHT]: keeps a working DISPLAY (when a size is given,
# only one of that size), else starts Xvfb at that size (default 1920x1080).
start_xvfb() {
  local size=${1:-1920x1080}
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    [ -z "${1:-}" ] && return 0
    xdpyinfo | grep -q "dimensions: *$size pixels" && return 0
  fi
  # Xvfb picks a free display itself and names it on the descriptor once
  # it accepts clients.
  local named waited
  named=$(mktemp)
  Xvfb -displayfd 9 -screen 0 "${size}x24" -nolisten tcp 9>"$named" >/dev/null 2>&1 &
  XVFB_PID=$!
  for waited in $(seq 1 100); do
    if [ -s "$named" ] && xdpyinfo -display ":$(head -n1 "$named")" >/dev/null 2>&1; then
      export DISPLAY=":$(head -n1 "$named")"
      rm -f "$named"
      return 0
    fi
    kill -0 "$XVFB_PID" 2>/dev/null || break
    sleep 0.05
  done
  kill "$XVFB_PID" 2>/dev/null || true
  XVFB_PID=
  rm -f "$named"
  echo "could not start Xvfb" >&2
  return 1
}

# Wine servers of the project's prefixes go with the screen: their desktops
# live on it, and a later run on another screen needs fresh ones.
stop_xvfb() {
  local prefix
  # Written so that a caller with errexit (as in an EXIT trap) goes on to
  # end the screen whatever the servers say.
  for prefix in "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"/build/wine/*/; do
    if [ -f "$prefix/system.reg" ]; then
      WINEPREFIX=$prefix timeout 20 /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    fi
  done
  if [ -n "${XVFB_PID:-}" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
  return 0
}
