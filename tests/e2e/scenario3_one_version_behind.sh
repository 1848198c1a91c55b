#!/usr/bin/env bash
# Scenario 3, one version behind: the record, the list, the patcher and the
# one listed file whose number rose are fetched in that order, the patcher
# and the list are put in place, the record takes the server's first and the
# local second number, and no temporary file is left.
# Usage: scenario3_one_version_behind.sh WINDOWS_BUILD_DIR
. "$(dirname "$0")/lib.sh"
e2e_bound 120 "$@"
e2e_begin one_version_behind "$1"

e2e_machine
e2e_serve_release
install=$(e2e_path "$E2E_INSTALL")
e2e_install_game_behind "$E2E_INSTALL"
e2e_reg_set "$E2E_REGIONAL_KEY" "$E2E_INSTALL"

e2e_run behind "$E2E_INSTALL\\VelkarisLauncher.exe"

e2e_expect_exit 0
e2e_expect_no_dialog
e2e_expect_update_requests locales/zh_TW.txt
for file in VelkarisPatcher32.vke patcher_files_version readme.txt locales/zh_TW.txt; do
  e2e_expect_same_file "$E2E_RELEASE/$file" "$install/$file"
done
e2e_expect_behind_updated "$install"
e2e_end
