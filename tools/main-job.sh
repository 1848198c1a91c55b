#!/usr/bin/env bash
# The main job: the real launcher under Wine against a local download
# server, as a player meets it on a fresh machine, with a report of what it
# did. Builds the Windows executable, publishes a small sample release,
# serves it with nginx on 127.0.0.1:18080, starts the launcher from a
# downloads folder and answers its dialogs as a player would (the preselected
# folder, Yes to every question), then reports dialogs, requests, files,
# shortcuts, the patcher's command line and the exit code.
set -euo pipefail
repo_root=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo_root"
bash tools/setup.sh

host=127.0.0.1:18080
out=$repo_root/build/main-job
rm -rf "$out"
mkdir -p "$out"

echo "== building VelkarisLauncher.exe for $host"
cmake --preset windows -DLAUNCHER_SERVER_HOST=$host >/dev/null
cmake --build --preset windows --target VelkarisLauncher launcher_driver stand_in_patcher >/dev/null
bin=$repo_root/build/windows

echo "== publishing the sample release"
bash tools/make-sample-release.sh "$bin/VelkarisLauncher.exe" "$bin/tests/stand_in_patcher.exe" \
  "$out/UploadData"

echo "== starting the download server (nginx) on $host"
mkdir -p "$out/nginx"
sed -e "s|@RUN_DIR@|$out/nginx|g" -e "s|@RELEASE_DIR@|$out/UploadData|g" -e "s|@LISTEN@|$host|g" \
  deploy/nginx-download-server.conf.in >"$out/nginx/nginx.conf"
chmod -R a+rX "$out"
nginx -p "$out/nginx" -c "$out/nginx/nginx.conf" &
nginx_pid=$!
. tools/xvfb.sh
cleanup() {
  kill "$nginx_pid" 2>/dev/null || true
  stop_xvfb
}
trap cleanup EXIT
for _ in $(seq 1 50); do
  curl -s -o /dev/null "http://$host/UploadData/patcher_version" && break
  sleep 0.1
done

start_xvfb
export LAUNCHER_WINEPREFIX=$repo_root/build/wine/demo-prefix
. tools/wine-env.sh
wine_prepare

echo "== a fresh machine: no install folder recorded, launcher in C:\\Downloads"
"$WINE" reg delete 'HKLM\Software\Velkaris_TW' /f >/dev/null 2>&1 || true
"$WINE" reg delete 'HKLM\Software\Velkaris' /f >/dev/null 2>&1 || true
rm -rf "$WINEPREFIX/drive_c/Corvane" "$WINEPREFIX/drive_c/Downloads"
mkdir -p "$WINEPREFIX/drive_c/Downloads"
cp "$bin/VelkarisLauncher.exe" "$WINEPREFIX/drive_c/Downloads/"
: >"$out/nginx/access.log"

(cd "$WINEPREFIX/drive_c/Downloads" &&
  exec timeout 300 "$WINE" 'C:\Downloads\VelkarisLauncher.exe' --server-demo 1 </dev/null >/dev/null 2>&1) &
launcher=$!

timeout 30 "$WINE" "$bin/launcher-driver.exe" splash 20000 </dev/null 2>/dev/null | tr -d '\r' >"$out/splash.json" || true
import -display "$DISPLAY" -window root "$out/splash-screen.png" 2>/dev/null || true

: >"$out/dialogs.jsonl"
while kill -0 "$launcher" 2>/dev/null; do
  timeout 30 "$WINE" "$bin/launcher-driver.exe" dialog 1000 auto </dev/null 2>/dev/null | tr -d '\r' |
    grep '"dialog"' >>"$out/dialogs.jsonl" || true
done
set +e
wait "$launcher"
code=$?
set -e
[ "$code" -eq 255 ] && code=-1
sleep 1  # let the stand-in patcher write its record

install=$WINEPREFIX/drive_c/Corvane/Velkaris
python3 tools/report.py --splash "$out/splash.json" --dialogs "$out/dialogs.jsonl" \
  --requests "$out/nginx/access.log" --install "$install" --prefix "$WINEPREFIX" \
  --exit-code "$code" --screenshot "$out/splash-screen.png"
