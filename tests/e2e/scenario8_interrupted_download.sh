#!/usr/bin/env bash
# Scenario 8, the launcher killed in the middle of a slow patcher download
# (as from the task manager), then started again: the first run leaves the
# record, the list and the old patcher as they were, with part of the new
# patcher in its temporary file; the second run completes the update and
# leaves nothing half-done.
# Usage: scenario8_interrupted_download.sh WINDOWS_BUILD_DIR
. "$(dirname "$0")/lib.sh"
e2e_bound 150 "$@"
e2e_begin interrupted_download "$1"
# bytes per piece : ms between pieces, about 66 s for the patcher: the kill,
# a Wine program of its own, must land before the download ends even when the
# machine is loaded, and the launcher is ended long before that.
readonly TRICKLE=1024:100
readonly KILL_TIMEOUT_MS=10000
install=$(e2e_path "$E2E_INSTALL")
partial=$install/VelkarisPatcher32.vke.temp

# Ends the launcher once part of the patcher has arrived (bounded).
kill_during_patcher_download() {
  local deadline=$((SECONDS + E2E_RUN_SECONDS))
  while [ ! -s "$partial" ] && [ $SECONDS -lt $deadline ]; do sleep 0.05; done
  e2e_driver terminate VelkarisLauncher.exe "$KILL_TIMEOUT_MS" >"$E2E_RUN/terminate.jsonl" ||
    e2e_fail "the launcher could not be ended: $(cat "$E2E_RUN/terminate.jsonl")"
}

e2e_installed_machine
mkdir -p "$E2E_OUT/routes"
cat >"$E2E_OUT/routes/slow-patcher.routes" <<END
/UploadData/VelkarisPatcher32.vke 200 body=../release/UploadData/VelkarisPatcher32.vke trickle=$TRICKLE
END
e2e_serve_script "$E2E_OUT/routes/slow-patcher.routes"
E2E_BEFORE_WATCH=kill_during_patcher_download
e2e_run killed "$E2E_INSTALL\\VelkarisLauncher.exe"
E2E_BEFORE_WATCH=
e2e_expect_exit 1  # the exit code TerminateProcess was given
e2e_expect_no_dialog
e2e_expect_update_requests
e2e_expect_still_behind "$install"
[ -s "$partial" ] && [ "$(stat -c %s "$partial")" -lt "$(stat -c %s "$E2E_RELEASE/VelkarisPatcher32.vke")" ] ||
  e2e_fail "no partial patcher download was left to recover from"
e2e_expect_no_patcher "$install"

e2e_serve_release
e2e_run again "$E2E_INSTALL\\VelkarisLauncher.exe"
e2e_expect_exit 0
e2e_expect_no_dialog
e2e_expect_update_requests locales/zh_TW.txt
for file in VelkarisPatcher32.vke patcher_files_version locales/zh_TW.txt; do
  e2e_expect_same_file "$E2E_RELEASE/$file" "$install/$file"
done
e2e_expect_behind_updated "$install"
e2e_end
