#!/usr/bin/env bash
# Scenario 6, the patcher file itself, with the version record up to date:
#   missing         fetched (with the list, no listed file) and started, the
#                   record untouched;
#   not-a-program   a patcher file that is no program: the "errCode" box with
#                   the system's own text for the failure, exit -1.
# The launcher writes the support log. The first run is that of a player
# named 測試玩家 on CAFE-PC-07 under Traditional Chinese Windows (the
# temporary folder in the profile C:\users\測試玩家): its log names neither,
# nor any local path.
# Usage: scenario6_patcher_file.sh WINDOWS_BUILD_DIR
. "$(dirname "$0")/lib.sh"
e2e_bound 120 "$@"
e2e_logged_launcher "$1"
e2e_begin patcher_file "$1"
readonly BAD_EXE_FORMAT=193  # what CreateProcessW reports for a file that is no program
install=$(e2e_path "$E2E_INSTALL")
e2e_serve_release

# -- the patcher missing, on a player's machine
e2e_player_machine 測試玩家 CAFE-PC-07
e2e_same "the player as Windows names them" "測試玩家 CAFE-PC-07 C:\\users\\測試玩家\\Temp" \
  "$(LANG=$E2E_ZH_TW_LOCALE e2e_wine cmd /c 'echo %USERNAME% %COMPUTERNAME% %TEMP%' |
    iconv -f CP950 -t UTF-8)"
e2e_install_game "$E2E_INSTALL"
rm "$install/VelkarisPatcher32.vke"
e2e_reg_set "$E2E_REGIONAL_KEY" "$E2E_INSTALL"
E2E_ENV=(LANG=$E2E_ZH_TW_LOCALE LC_ALL=$E2E_ZH_TW_LOCALE)
e2e_run missing "$E2E_INSTALL\\VelkarisLauncher.exe"
E2E_ENV=()
e2e_expect_exit 0
e2e_expect_outcome patcher-started
e2e_expect_no_dialog
e2e_expect_update_requests
e2e_expect_same_file "$E2E_RELEASE/VelkarisPatcher32.vke" "$install/VelkarisPatcher32.vke"
e2e_expect_same_file "$E2E_RELEASE/patcher_files_version" "$install/patcher_files_version"
e2e_expect_bytes "$install/patcher_version" "$E2E_RELEASE_RECORD"
e2e_expect_absent "$install/VelkarisPatcher32.vke.temp" "$install/patcher_files_version_tmp"
e2e_expect_patcher "$E2E_INSTALL"

# -- a patcher file that is no program
e2e_machine
e2e_install_game "$E2E_INSTALL"
printf 'not a program\r\n' >"$install/VelkarisPatcher32.vke"
e2e_reg_set "$E2E_REGIONAL_KEY" "$E2E_INSTALL"
e2e_driver error-text "$BAD_EXE_FORMAT" >"$E2E_OUT/error-text.jsonl"
system_text=$(python3 "$E2E_LIB_DIR/e2e.py" error-text "$E2E_OUT/error-text.jsonl")
[ -n "$system_text" ] || e2e_fail "the system has no text for error $BAD_EXE_FORMAT"
e2e_run not-a-program "$E2E_INSTALL\\VelkarisLauncher.exe" ok
e2e_expect_exit -1
e2e_expect_dialogs <<<"Launcher | $E2E_MSG_START_FAILED\\r\\n errCode : $system_text | owner: splash | OK | ok"
e2e_expect_outcome patcher-start
e2e_expect_requests <<<"GET /UploadData/patcher_version"
e2e_expect_bytes "$install/VelkarisPatcher32.vke" 'not a program\r\n'
e2e_expect_no_patcher "$install"
e2e_end
