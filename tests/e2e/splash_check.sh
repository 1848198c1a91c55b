#!/usr/bin/env bash
# The real launcher under Wine on a 1920x1080 screen: its splash stands
# centred with the picture's soft edges, a quit message does not end the
# splash thread, and the folder dialog it opens on a fresh machine is owned
# by the splash. The dialog is cancelled, so the launcher ends with -1.
# Usage: splash_check.sh LAUNCHER_EXE DRIVER_EXE OUTPUT_DIR  (needs DISPLAY)
set -euo pipefail
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1920x1080x24" bash "$0" "$@"
fi
exe=$1 driver=$2 out=$3
here=$(cd "$(dirname "$0")" && pwd)
export LAUNCHER_WINEPREFIX=${LAUNCHER_E2E_PREFIX:-$(dirname "$here")/../build/wine/e2e-prefix}
. "$here/../../tools/wine-env.sh"
wine_prepare
mkdir -p "$out"
fail() { echo "FAIL: $*"; exit 1; }

# A fresh machine: no record of an install folder.
"$WINE" reg delete 'HKLM\Software\Velkaris_TW' /f >/dev/null 2>&1 || true
"$WINE" reg delete 'HKLM\Software\Velkaris' /f >/dev/null 2>&1 || true
downloads=$WINEPREFIX/drive_c/Downloads
mkdir -p "$downloads"
cp "$exe" "$downloads/VelkarisLauncher.exe"

(cd "$downloads" && exec timeout 60 "$WINE" 'C:\Downloads\VelkarisLauncher.exe' </dev/null >/dev/null 2>&1) &
launcher=$!
trap 'kill $launcher 2>/dev/null || true' EXIT

splash=$(timeout 30 "$WINE" "$driver" splash 20000 </dev/null 2>/dev/null | tr -d '\r') ||
  fail "no splash window: $splash"
echo "$splash"
grep -q '"x":730,"y":283,"width":461,"height":514,"visible":true' <<<"$splash" ||
  fail "splash not centred at 730,283 with size 461x514"

# The folder dialog that follows would stand over the splash: park it in a
# corner before the screenshot.
parked=$(timeout 30 "$WINE" "$driver" park 20000 </dev/null 2>/dev/null | tr -d '\r') ||
  fail "no folder dialog: $parked"
echo "$parked"
import -display "$DISPLAY" -window root "$out/splash-screen.png"
convert "$out/splash-screen.png" -crop 461x514+730+283 +repage "$out/splash-crop.ppm"
convert "$here/../../res/splash_zh.png" -background black -alpha remove -alpha off "$out/expected.ppm"
convert "$here/../../res/splash_zh.png" -alpha extract "$out/alpha.pgm"
convert "$out/alpha.pgm" -type TrueColor "$out/alpha.ppm"

quit=$(timeout 30 "$WINE" "$driver" quit-splash 5000 </dev/null 2>/dev/null | tr -d '\r') ||
  fail "splash thread stopped serving after a quit message: $quit"
echo "$quit"

dialog=$(timeout 30 "$WINE" "$driver" dialog 20000 cancel </dev/null 2>/dev/null | tr -d '\r') ||
  fail "no folder dialog: $dialog"
echo "$dialog"
grep -q '"owner_class":"VelkarisSplashLauncher","owner_layered":true' <<<"$dialog" ||
  fail "folder dialog not owned by the splash window"

set +e
wait $launcher
code=$?
set -e
trap - EXIT
[ "$code" -eq 255 ] || fail "launcher exit code $code, expected 255 (-1) after the cancelled dialog"
echo "launcher exit code: -1"

python3 "$here/compare_splash.py" "$out/splash-crop.ppm" "$out/expected.ppm" "$out/alpha.ppm" ||
  fail "splash pixels differ from the picture (see $out)"
echo "screenshot: $out/splash-screen.png"
