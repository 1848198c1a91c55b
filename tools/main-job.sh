#!/usr/bin/env bash
# The main job: the real launcher under Wine against a local download
# server, as a player meets it on a fresh machine, with a report of what it
# did. Builds the Windows executable, and the demo launcher with the demo
# release key (deploy/demo-key, a DEMO key published with the repository),
# publishes a small sample release signed with it, serves it with nginx on
# 127.0.0.1:18080, starts the demo launcher from a
# downloads folder of a fresh Wine prefix and answers its dialogs as a
# player would (the preselected folder, Yes to every question), then reports
# the splash and a screenshot of it, the dialogs with their answers, the
# requests, the files written, the registry record, the shortcuts read back,
# the patcher's command line, the exit code and the release's verification.
#
# LAUNCHER_INTERACTIVE=1 with a working DISPLAY: the launcher opens on that
# display and the person at it answers the dialogs (they are recorded all
# the same).
set -euo pipefail
repo_root=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo_root"
bash tools/setup.sh

host=127.0.0.1:18080
readonly INTERACTIVE_RUN_SECONDS=600  # time for a person to read and answer
readonly SPLASH_TIMEOUT_MS=20000

demo_key=$repo_root/deploy/demo-key/demo-release
echo "== building VelkarisLauncher.exe for $host, and the demo launcher with the demo release key"
cmake --preset windows -DLAUNCHER_SERVER_HOST=$host >/dev/null
cmake --build --preset windows --target VelkarisLauncher launcher_driver stand_in_patcher >/dev/null
bash tests/e2e/build_launcher.sh build/windows build/demo-launcher "$demo_key.pub"

interactive=
if [ "${LAUNCHER_INTERACTIVE:-}" = 1 ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  interactive=1
fi

. tests/e2e/lib.sh
if [ -n "$interactive" ]; then
  E2E_SCREEN=  # the person's display, whatever its size
  E2E_RUN_SECONDS=$INTERACTIVE_RUN_SECONDS
fi
echo "== publishing the sample release signed with the demo key, preparing a fresh Wine prefix"
E2E_LAUNCHER_EXE=$repo_root/build/demo-launcher/VelkarisLauncher.exe
E2E_SIGNING_KEY=$demo_key.key
e2e_begin main-job "$repo_root/build/windows" "$repo_root/build/main-job"
screenshot=$E2E_OUT/splash-screen.png

# A screenshot while the splash shows; with no person at the screen, the
# folder dialog is moved aside first so the splash shows whole.
take_screenshot() {
  e2e_driver splash "$SPLASH_TIMEOUT_MS" >"$E2E_OUT/splash.jsonl" || true
  [ -n "$interactive" ] || e2e_driver park "$SPLASH_TIMEOUT_MS" >/dev/null || true
  import -display "$DISPLAY" -window root "$screenshot" || echo "no screenshot taken" >&2
}

echo "== starting the download server (nginx) on $E2E_HOST"
e2e_serve_release
echo "== a fresh machine: no install folder recorded, the launcher in C:\\Downloads"
E2E_ARGS=(--server-demo 1)
E2E_BEFORE_WATCH=take_screenshot
if [ -n "$interactive" ]; then
  echo "== answer the launcher's dialogs on $DISPLAY"
  e2e_machine_with_download
  e2e_run demo "$E2E_DOWNLOADED" person
else
  e2e_run_fresh e2e_machine_with_download demo "$E2E_DOWNLOADED" ok yes yes
fi

install=$(e2e_path "$E2E_INSTALL")
[ "$E2E_EXIT" != 0 ] || e2e_wait_record "$install" || true
e2e_driver links >"$E2E_RUN/links.jsonl" || true
python3 tools/report.py --run "$E2E_RUN" --install "$install" --install-name "$E2E_INSTALL" \
  --registry "$(e2e_reg_path "$E2E_REGIONAL_KEY" || true)" --exit-code "$E2E_EXIT" \
  --screenshot "$screenshot" --release "$E2E_RELEASE" --release-key "$demo_key.pub"
[ "$E2E_EXIT" = 0 ]
