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
    wine_setup_step wineboot --init
  fi
  if [ ! -f "$WINEPREFIX/.launcher-settings" ]; then
    wine_settings
    touch "$WINEPREFIX/.launcher-settings"
  fi
  if [ -n "${DISPLAY:-}" ]; then
    "$WINESERVER" -p 120 >/dev/null 2>&1 || true
  fi
}

# One Wine program run while setting a prefix up, on the display or on a
# throw-away virtual screen (see above).
wine_setup_step() {
  if [ -n "${DISPLAY:-}" ]; then
    timeout 180 "$WINE" "$@" >/dev/null 2>&1 || true
  else
    timeout 180 xvfb-run -a "$WINE" "$@" >/dev/null 2>&1 || true
    timeout 60 "$WINESERVER" -w >/dev/null 2>&1 || true
  fi
}

# Settings of the test prefixes, made once per prefix:
# - the dialog fonts link to a CJK font (fonts-wqy-microhei), else the
#   Chinese texts of message boxes show as boxes in screenshots;
# - windows are not handed to a window manager: none runs on the virtual
#   screen, and Wine would wait 2 s for one on every dialog that closes.
wine_settings() {
  local font_links='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
  local font
  for font in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif"; do
    wine_setup_step reg add "$font_links" /v "$font" /t REG_MULTI_SZ \
      /d "wqy-microhei.ttc,WenQuanYi Micro Hei" /f
  done
  wine_setup_step reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
}
