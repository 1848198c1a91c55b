#!/usr/bin/env bash
# Scenario 4, something already running: with a real process under a watched
# name (the patcher, either game, or a second launcher), the launcher shows
# the "warning" box for it, owned by the splash, and ends with -1 before it
# asks the server anything or starts the patcher; its support log ends with
# the outcome of that process.
# Usage: scenario4_running_processes.sh WINDOWS_BUILD_DIR
. "$(dirname "$0")/lib.sh"
e2e_bound 150 "$@"
e2e_logged_launcher "$1"
e2e_begin running_processes "$1"

# Each case: the name of the running process, the warning it leads to and
# the outcome.
cases=(
  "VelkarisPatcher32.vke|已經在更新中|patcher-running"
  "Velkaris32.exe|Velkaris遊戲程式已在執行中|game-running"
  "Velkaris64.exe|Velkaris遊戲程式已在執行中|game-running"
  "VelkarisLauncher.exe|啟動器已在執行中|launcher-running"
)
e2e_serve_release
for case in "${cases[@]}"; do
  IFS='|' read -r name warning outcome <<<"$case"
  e2e_machine
  install=$(e2e_path "$E2E_INSTALL")
  e2e_install_game "$E2E_INSTALL"
  e2e_reg_set "$E2E_REGIONAL_KEY" "$E2E_INSTALL"
  e2e_start_process_named "$name"

  e2e_run "with-$name" "$E2E_INSTALL\\VelkarisLauncher.exe" ok

  e2e_expect_exit -1
  e2e_expect_dialogs <<<"warning | $warning | owner: splash | OK | ok"
  e2e_expect_outcome "$outcome"
  e2e_expect_requests </dev/null
  e2e_expect_no_patcher "$install"
  e2e_expect_bytes "$install/patcher_version" "$E2E_RELEASE_RECORD"
done
e2e_end
