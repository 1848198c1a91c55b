# Sourced: a virtual screen for Wine when there is no display.
# start_xvfb [WIDTHxHEIGHT]: keeps a working DISPLAY (when a size is given,
# only one of that size), else starts Xvfb at that size (default 1920x1080).
start_xvfb() {
  local size=${1:-1920x1080}
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    [ -z "${1:-}" ] && return 0
    xdpyinfo | grep -q "dimensions: *$size pixels" && return 0
  fi
  local display
  for display in $(seq 90 130); do
    [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ] && continue
    Xvfb ":$display" -screen 0 "${size}x24" -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$display"
    local waited
    for waited in $(seq 1 50); do
      xdpyinfo >/dev/null 2>&1 && return 0
      sleep 0.1
    done
    kill "$XVFB_PID" 2>/dev/null || true
  done
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
