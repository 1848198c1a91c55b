# Sourced by the scripts that run Windows programs under Wine: one private
# prefix and home per checkout, quiet, proxies off (libcurl honours them and
# Wine passes the environment on), and the menu builder off so saving a
# shell link never touches the host desktop.
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${LAUNCHER_WINEPREFIX:-$repo_root/build/wine/prefix}
export HOME=${LAUNCHER_WINEHOME:-$WINEPREFIX-home}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
unset http_proxy https_proxy all_proxy no_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY NO_PROXY
WINE=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver
mkdir -p "$HOME"

# Creates the prefix once (about 15 s) and keeps a wineserver alive so the
# following starts take well under a second. Without a display the prefix
# is made on a throw-away virtual screen and no server is kept: a server
# whose desktop was made without a display cannot create windows later.
wine_prepare() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    if [ -n "${DISPLAY:-}" ]; then
      timeout 180 "$WINE" wineboot --init >/dev/null 2>&1 || true
    else
      timeout 180 xvfb-run -a "$WINE" wineboot --init >/dev/null 2>&1 || true
      timeout 60 "$WINESERVER" -w >/dev/null 2>&1 || true
    fi
  fi
  if [ -n "${DISPLAY:-}" ]; then
    "$WINESERVER" -p 120 >/dev/null 2>&1 || true
  fi
}
